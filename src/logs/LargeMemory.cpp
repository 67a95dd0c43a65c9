#include "logs/LargeMemory.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <sys/prctl.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QUORVANE_HIDE(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define QUORVANE_SHOW(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define QUORVANE_HIDE(p, n) ((void)(p), (void)(n))
#define QUORVANE_SHOW(p, n) ((void)(p), (void)(n))
#endif

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kSmallestHuge = 4 * kHugePage;
// Scratch from here on is mapped on its own.
constexpr std::size_t kMappedScratch = std::size_t{1} << 20;
// What is kept at most: the scratch of a few passes over a few million rows.
constexpr std::size_t kMostKept = std::size_t{256} << 20;

#if defined(__linux__)
// The size a big block really has: whole huge pages.
std::size_t Rounded(std::size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}
#endif

// Hands a big block back. Its pages go first, and its range stops asking for huge pages: the
// heap may give that range to small allocations next, and a huge page faulted in for a few of
// them would hold two megabytes.
void FreeBig(char* data, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__)
  madvise(data, bytes, MADV_DONTNEED);
  madvise(data, bytes, MADV_NOHUGEPAGE);
#endif
  std::free(data);
}

// Big blocks freed, newest last; a block asked for takes the smallest that fits it and is not
// more than twice its size, so a kept block never doubles what a table holds.
class KeptBlocks {
 public:
  char* Take(std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    ReleaseOlder(Clock::now() - kKeptFor);
    std::size_t best = kept_.size();
    for (std::size_t i = 0; i < kept_.size(); ++i) {
      const Block& block = kept_[i];
      if (block.bytes >= bytes && block.bytes / 2 <= bytes &&
          (best == kept_.size() || block.bytes < kept_[best].bytes))
        best = i;
    }
    if (best == kept_.size())
      return nullptr;
    const Block block = kept_[best];
    kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(best));
    keptBytes_ -= block.bytes;
    QUORVANE_SHOW(block.data, block.bytes);
    return block.data;
  }

  void Keep(char* data, std::size_t bytes) noexcept {
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    ReleaseOlder(now - kKeptFor);
    if (bytes > kMostKept) {
      FreeBig(data, bytes);
      return;
    }
    // The oldest go first to make room.
    while (keptBytes_ + bytes > kMostKept || kept_.size() == kept_.capacity())
      ReleaseFirst();
    QUORVANE_HIDE(data, bytes);
    kept_.push_back({data, bytes, now});
    keptBytes_ += bytes;
  }

  void ReleaseIdle(Clock::duration idle) noexcept {
    const std::lock_guard lock(mutex_);
    ReleaseOlder(Clock::now() - idle);
  }

  std::size_t Bytes() noexcept {
    const std::lock_guard lock(mutex_);
    return keptBytes_;
  }

  KeptBlocks() { kept_.reserve(kMostKept / kSmallestHuge); }

 private:
  static constexpr Clock::duration kKeptFor = std::chrono::seconds(kKeptBlockSeconds);

  struct Block {
    char* data;
    std::size_t bytes;
    Clock::time_point freed;
  };

  void ReleaseOlder(Clock::time_point before) noexcept {
    while (!kept_.empty() && kept_.front().freed < before)
      ReleaseFirst();
  }

  void ReleaseFirst() noexcept {
    QUORVANE_SHOW(kept_.front().data, kept_.front().bytes);
    FreeBig(kept_.front().data, kept_.front().bytes);
    keptBytes_ -= kept_.front().bytes;
    kept_.erase(kept_.begin());
  }

  std::mutex mutex_;
  std::vector<Block> kept_;  // at most kMostKept / kSmallestHuge: room is reserved up front
  std::size_t keptBytes_ = 0;
};

// Never destroyed: tables that outlive main's return still free their blocks here.
KeptBlocks& Kept() {
  static KeptBlocks* const kept = new KeptBlocks;
  return *kept;
}

}  // namespace

char* AllocateLarge(std::size_t bytes) {
  if (bytes == 0)
    bytes = 1;
#if defined(__linux__)
  if (bytes >= kSmallestHuge) {
    const std::size_t rounded = Rounded(bytes);
    if (char* kept = Kept().Take(rounded))
      return kept;
    if (void* p = std::aligned_alloc(kHugePage, rounded)) {
      madvise(p, rounded, MADV_HUGEPAGE);  // only advice: ignored where huge pages are off
      return static_cast<char*>(p);
    }
    throw std::bad_alloc();
  }
#endif
  if (void* p = std::malloc(bytes))
    return static_cast<char*>(p);
  throw std::bad_alloc();
}

void FreeLarge(char* p, [[maybe_unused]] std::size_t bytes) noexcept {
  if (p == nullptr)
    return;
#if defined(__linux__)
  if (bytes >= kSmallestHuge) {
    Kept().Keep(p, Rounded(bytes));
    return;
  }
#endif
  std::free(p);
}

void AdviseHuge([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__)
  if (bytes < kSmallestHuge)
    return;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (start + kHugePage - 1) / kHugePage * kHugePage;
  const std::uintptr_t last = (start + bytes) / kHugePage * kHugePage;
  if (first < last)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

char* AllocateScratch(std::size_t bytes) {
#if defined(__linux__)
  if (bytes >= kMappedScratch) {
    // Mapped with a huge page's room besides, cut to whole huge pages that start on one.
    const std::size_t rounded = Rounded(bytes);
    void* const mapped = mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
      throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned != start)
      munmap(mapped, aligned - start);
    if (const std::size_t tail = start + kHugePage - aligned; tail != 0)
      munmap(reinterpret_cast<void*>(aligned + rounded), tail);
    if (rounded >= kSmallestHuge)
      madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
    return reinterpret_cast<char*>(aligned);
  }
#endif
  if (void* p = std::malloc(std::max<std::size_t>(bytes, 1)))
    return static_cast<char*>(p);
  throw std::bad_alloc();
}

void ReturnScratch(char* p, [[maybe_unused]] std::size_t bytes) noexcept {
#if defined(__linux__)
  if (bytes >= kMappedScratch) {
    if (p != nullptr)
      munmap(p, Rounded(bytes));
    return;
  }
#endif
  std::free(p);
}

void ReleaseIdleMemory(double seconds) noexcept {
  Kept().ReleaseIdle(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::max(seconds, 0.0))));
#if defined(__GLIBC__)
  // Freed heap stays with the process until trimmed: what a finished count left (the tables of
  // a page closed, another thread's scratch) goes back too.
  malloc_trim(0);
#endif
}

void UseMemoryForAWindow() noexcept {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 1);
#endif
#if defined(__linux__)
  prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);  // only advice: the pages work either way
#endif
}

std::size_t KeptMemory() noexcept {
  return Kept().Bytes();
}

}  // namespace quorvane
