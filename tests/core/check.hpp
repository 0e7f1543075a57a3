// A check that counts failures and says where they were; main() returns
// the count, so a test program exits non-zero when any check failed.  Works
// with NDEBUG defined, unlike assert().
#pragma once

#include <cstdio>

namespace tintara::test {

inline int& failures()
{
    static int count = 0;
    return count;
}

inline void check(bool ok, const char* what, const char* file, int line)
{
    if (!ok) {
        std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
        ++failures();
    }
}

}  // namespace tintara::test

#define CHECK(cond) ::tintara::test::check(static_cast<bool>(cond), #cond, __FILE__, __LINE__)
