// Checks for the C++ tests of core/: a failed check says where and what, and
// the program's exit status counts the failures.  They work with NDEBUG.
#pragma once

#include <cstdio>

namespace tintara::test {

inline int g_failures = 0;

inline void failed(const char* file, int line, const char* what)
{
    ++g_failures;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
}

template <typename A, typename B>
void failed_equal(const char* file, int line, const char* what, const A& a, const B& b)
{
    ++g_failures;
    std::fprintf(stderr, "%s:%d: check failed: %s (%lld != %lld)\n", file, line, what,
                 static_cast<long long>(a), static_cast<long long>(b));
}

// What main() returns: 0 when every check held.
inline int report()
{
    if (g_failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", g_failures);
    }
    return g_failures == 0 ? 0 : 1;
}

}  // namespace tintara::test

#define CHECK(cond) ((cond) ? (void)0 : ::tintara::test::failed(__FILE__, __LINE__, #cond))

// For integers: shows both values when they differ.
#define CHECK_EQ(a, b)                                                                           \
    do {                                                                                         \
        const auto check_a_ = (a);                                                               \
        const auto check_b_ = (b);                                                               \
        if (!(check_a_ == check_b_)) {                                                           \
            ::tintara::test::failed_equal(__FILE__, __LINE__, #a " == " #b, check_a_, check_b_); \
        }                                                                                        \
    } while (false)
