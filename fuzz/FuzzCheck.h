#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant aborts: libFuzzer keeps the input as a crash, and the replay test fails.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)
