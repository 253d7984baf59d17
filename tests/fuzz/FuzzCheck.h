#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property ends the run the way a crash does, so libFuzzer keeps the input and the
// replay test fails on it.
inline void fuzzCheck(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}
