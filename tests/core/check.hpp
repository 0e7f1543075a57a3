// Checks for the C++ tests of core/, which work with NDEBUG: a failed check
// says where and what, and report() gives main() its exit status.
#pragma once

#include <cstdio>

namespace tintara::test {

inline int g_failures = 0;

inline void failed(const char* file, int line, const char* what)
{
    ++g_failures;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
}

inline int report()
{
    if (g_failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", g_failures);
    }
    return g_failures == 0 ? 0 : 1;
}

}  // namespace tintara::test

#define CHECK(cond) ((cond) ? (void)0 : ::tintara::test::failed(__FILE__, __LINE__, #cond))

// For integers: says both values when they differ.
#define CHECK_EQ(a, b)                                                      \
    do {                                                                    \
        const long long check_a_ = (a);                                     \
        const long long check_b_ = (b);                                     \
        if (check_a_ != check_b_) {                                         \
            ::tintara::test::failed(__FILE__, __LINE__, #a " == " #b);      \
            std::fprintf(stderr, "  (%lld != %lld)\n", check_a_, check_b_); \
        }                                                                   \
    } while (false)
