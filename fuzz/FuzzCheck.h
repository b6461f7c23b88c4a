// Invariant checks of the fuzz targets: a broken invariant prints what broke and aborts, so
// libFuzzer (or the replay program) reports the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define MVX_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
