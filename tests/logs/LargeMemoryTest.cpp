#include "logs/LargeMemory.h"

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

constexpr std::size_t MB = std::size_t{1} << 20;

// A block freed is handed out again only to a request it holds and not more than twice over;
// small blocks go straight back to the system.
TEST(LargeMemory, AFreedBlockServesTheNextRequestOfAboutItsSize) {
  struct Case {
    std::size_t freed, asked;
    bool reused;
  } const cases[] = {
      {16 * MB, 16 * MB, true},
      {16 * MB, 16 * MB - 1, true},     // rounds to the same whole huge pages
      {16 * MB, 8 * MB, true},          // exactly twice: still taken
      {16 * MB, 8 * MB - 1, false},     // below the huge-page blocks: the system's
      {18 * MB, 8 * MB, false},         // more than twice
      {16 * MB, 16 * MB + 1, false},    // one byte more than it holds
      {8 * MB - 1, 8 * MB - 1, false},  // below the huge-page size: not kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.freed << " freed, " << c.asked << " asked");
    ReleaseIdleMemory(0);
    char* const freed = AllocateLarge(c.freed);
    freed[0] = 1;
    FreeLarge(freed, c.freed);
    EXPECT_EQ(KeptMemory(), c.freed >= 8 * MB ? c.freed : 0);
    char* const asked = AllocateLarge(c.asked);
    asked[c.asked - 1] = 2;   // the whole request is usable
    if (c.freed >= 8 * MB) {  // else the system may well hand the same memory out again
      EXPECT_EQ(asked == freed, c.reused);
    }
    EXPECT_EQ(KeptMemory(), c.reused || c.freed < 8 * MB ? 0 : c.freed);
    FreeLarge(asked, c.asked);
  }
  ReleaseIdleMemory(0);
  EXPECT_EQ(KeptMemory(), 0u);
}

// Of the blocks that fit, the smallest is taken, whichever was freed first.
TEST(LargeMemory, TakesTheSmallestBlockThatFits) {
  for (const bool smallFirst : {true, false}) {
    ReleaseIdleMemory(0);
    char* const small = AllocateLarge(10 * MB);
    char* const big = AllocateLarge(16 * MB);
    FreeLarge(smallFirst ? small : big, smallFirst ? 10 * MB : 16 * MB);
    FreeLarge(smallFirst ? big : small, smallFirst ? 16 * MB : 10 * MB);
    char* const taken = AllocateLarge(9 * MB);
    EXPECT_EQ(taken, small) << (smallFirst ? "small freed first" : "big freed first");
    FreeLarge(taken, 9 * MB);
  }
  ReleaseIdleMemory(0);
}

// At most 256 MB is kept: the blocks freed last, the oldest handed back first.
TEST(LargeMemory, KeepsTheNewestBlocksUpToItsLimit) {
  ReleaseIdleMemory(0);
  constexpr std::size_t kBlocks = 40, kSize = 8 * MB;
  std::vector<char*> blocks;
  for (std::size_t i = 0; i < kBlocks; ++i)
    blocks.push_back(AllocateLarge(kSize));
  for (char* block : blocks)
    FreeLarge(block, kSize);
  EXPECT_EQ(KeptMemory(), 256 * MB);

  std::vector<char*> again;
  for (std::size_t i = 0; i < 32; ++i)
    again.push_back(AllocateLarge(kSize));
  EXPECT_EQ(KeptMemory(), 0u);
  std::vector<char*> newest(blocks.end() - 32, blocks.end());
  std::sort(newest.begin(), newest.end());
  std::vector<char*> taken = again;
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(taken, newest);

  // A block bigger than the limit is never kept, and keeps nothing else from being kept.
  FreeLarge(again.back(), kSize);
  again.pop_back();
  char* const huge = AllocateLarge(300 * MB);
  FreeLarge(huge, 300 * MB);
  EXPECT_EQ(KeptMemory(), kSize);
  for (char* block : again)
    FreeLarge(block, kSize);
  ReleaseIdleMemory(0);
}

TEST(LargeMemory, IdleBlocksGoBackToTheSystem) {
  ReleaseIdleMemory(0);
  char* const older = AllocateLarge(8 * MB);
  char* const newer = AllocateLarge(10 * MB);
  FreeLarge(older, 8 * MB);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  FreeLarge(newer, 10 * MB);
  ReleaseIdleMemory(0.3);
  EXPECT_EQ(KeptMemory(), 10 * MB);
  ReleaseIdleMemory(0);
  EXPECT_EQ(KeptMemory(), 0u);
}

// Resident memory in kB, as the system counts it.
std::size_t ResidentKB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::stoul(line.substr(6));
  }
  return 0;
}

// Scratch of a megabyte or more is the system's again as soon as it is returned, whichever
// thread returns it; every byte asked for is usable, and a block of huge pages starts on one.
TEST(LargeMemory, ScratchGoesBackAtOnce) {
  for (const std::size_t bytes : {MB - 1, MB, 8 * MB - 1, 8 * MB, 64 * MB + 1}) {
    SCOPED_TRACE(bytes);
    char* const block = AllocateScratch(bytes);
    std::fill(block, block + bytes, 'x');
    if (bytes >= 8 * MB) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (2 * MB), 0u);
    }
    // The thread is running before the count: its own stack and (under a sanitizer) its
    // bookkeeping are resident already.
    std::atomic<int> step{0};
    std::thread returner([&] {
      step = 1;
      while (step != 2)
        std::this_thread::yield();
      ReturnScratch(block, bytes);
    });
    while (step != 1)
      std::this_thread::yield();
    const std::size_t held = ResidentKB();
    step = 2;
    returner.join();
    if (bytes >= MB) {
      EXPECT_GE(held - ResidentKB(), bytes / 1024 - 64) << "kB still resident";
    }
  }
}

}  // namespace
}  // namespace quorvane
