#pragma once

#include <gtest/gtest.h>

// ThreadSanitizer's runtime (clang 14 and 16 on this system) fails an internal check in its fork
// handling as soon as QProcess starts a program, which ends the whole test program. In that build
// the tests that start other programs are skipped, saying why; they run in every other build.
#if defined(__SANITIZE_THREAD__)
#define WT_UNDER_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define WT_UNDER_THREAD_SANITIZER 1
#endif
#endif

#ifdef WT_UNDER_THREAD_SANITIZER
#define WT_SKIP_WHERE_PROGRAMS_CANNOT_START()                                                      \
    GTEST_SKIP() << "starts other programs, which ThreadSanitizer's runtime cannot follow"
#else
#define WT_SKIP_WHERE_PROGRAMS_CANNOT_START() static_cast<void>(0)
#endif
