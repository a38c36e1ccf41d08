#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding like a crash: libFuzzer saves the input on abort().
#define FUZZ_REQUIRE(condition)                                                           \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__,     \
                         #condition);                                                     \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)
