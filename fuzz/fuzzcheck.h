#pragma once

#include <QString>

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

namespace fuzzing {

// Makes the offscreen platform the default, so the targets run without a display.
inline void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace fuzzing
