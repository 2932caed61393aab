// CHECK(condition): a property every input must keep. A failure traps, so
// libFuzzer saves the input that broke it.
#pragma once

#include <cstdio>

#define CHECK(condition)                                                           \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
      __builtin_trap();                                                            \
    }                                                                              \
  } while (0)
