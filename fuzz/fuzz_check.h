// A property check inside a fuzz target. When it fails, the failed condition
// is written out before the target aborts, so that libFuzzer (or the replay)
// reports the input with the reason.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                   \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fflush(stdout);                                                                      \
      std::fprintf(stderr, "\n%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)
