// A broken property of a fuzz target: print what broke and abort, so that libFuzzer keeps the
// input as a crash.
#ifndef PW_FUZZ_CHECK_H
#define PW_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define PW_FUZZ_CHECK(cond)                                                              \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#endif  // PW_FUZZ_CHECK_H
