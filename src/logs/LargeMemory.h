#pragma once

#include <cstddef>

namespace quorvane {

// Memory for big tables. Fresh memory costs a page fault per page on first touch; for blocks of
// many megabytes these ask the system for huge pages, which cuts those faults five-hundredfold.
// Such a block, once freed, is kept a few seconds for the next of about its size to ask for:
// in a virtual machine the host may take back memory the system has freed, and touching tens of
// megabytes anew then costs more than the counting done in them.
char* AllocateLarge(std::size_t bytes);
// `bytes`: as asked of AllocateLarge.
void FreeLarge(char* p, std::size_t bytes) noexcept;

// How long a freed block is kept for reuse.
inline constexpr int kKeptBlockSeconds = 5;

// Hands the kept blocks freed over `seconds` ago, and the heap's free pages, back to the system.
// Each allocation and free does the former for blocks kept their time; a program that may stay
// idle calls this now and then.
void ReleaseIdleMemory(double seconds = kKeptBlockSeconds) noexcept;
// Memory for a program that reads its logs once and holds them for hours, the window. Called
// first thing, before any thread starts:
// - Every thread allocates from the one heap: a thread given a heap of its own (glibc makes up to
//   eight per core) keeps what it freed there in pages that other threads' allocations do not
//   fill, and the idle window held a tenth more for it.
// - Ordinary pages only: on the virtual machines we run on, a huge page the host has taken back
//   costs 16-32 µs per 4 KiB to fault in again, ten to twenty times an ordinary page's; a load
//   touches most of its memory once, and the ten-million-row pair loaded in 2.4 s instead
//   of 3.9-4.8 s. The command keeps huge pages: its runs one after another find them still there.
void UseMemoryForAWindow() noexcept;
// The bytes kept for reuse now.
std::size_t KeptMemory() noexcept;

// Asks for huge pages under [p, p + bytes) where whole ones fit: for a big container whose
// allocator is not ours, before it is first written.
void AdviseHuge(void* p, std::size_t bytes) noexcept;

// Scratch whose room the caller's next steps need for other things: a block of a megabyte or
// more is mapped on its own, so that ReturnScratch hands it back to the system at once (freed
// heap memory stays with the process, and in the heap of the thread that freed it).
char* AllocateScratch(std::size_t bytes);
// `bytes`: as asked of AllocateScratch.
void ReturnScratch(char* p, std::size_t bytes) noexcept;

// Big blocks for containers: a freed one is kept for the next of about its size (FreeLarge), or,
// for scratch (`Keep` false), given back at once (AllocateScratch, ReturnScratch).
template <typename T, bool Keep = true>
struct LargeAllocator {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = LargeAllocator<U, Keep>;
  };
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U, Keep>&) noexcept {}
  T* allocate(std::size_t n) {
    return reinterpret_cast<T*>(Keep ? AllocateLarge(n * sizeof(T))
                                     : AllocateScratch(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if constexpr (Keep)
      FreeLarge(reinterpret_cast<char*>(p), n * sizeof(T));
    else
      ReturnScratch(reinterpret_cast<char*>(p), n * sizeof(T));
  }
  template <typename U>
  bool operator==(const LargeAllocator<U, Keep>&) const noexcept {
    return true;
  }
};

template <typename T>
using ScratchAllocator = LargeAllocator<T, false>;

}  // namespace quorvane
