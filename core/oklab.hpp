// Oklab and the palette's tables, for the core's own sources: oklab.cpp
// makes them and palette.cpp (the nearest-colour rules) uses them.  Callers
// outside core/ use palette.hpp.
#pragma once

#include "core/palette.hpp"

#include <atomic>

namespace tintara::core {

// Ottosson's matrices: linear sRGB to LMS, and the cube roots of LMS to Lab.
inline constexpr double kToLms[3][3] = {
    {0.4122214708, 0.5363325363, 0.0514459929},
    {0.2119034982, 0.6806995451, 0.1073969566},
    {0.0883024619, 0.2817188376, 0.6299787005},
};
inline constexpr double kToLab[3][3] = {
    {0.2104542553, 0.7936177850, -0.0040720468},
    {1.9779984951, -2.4285922050, 0.4505937099},
    {0.0259040371, 0.7827717662, -0.8086757660},
};

// What nearest_256's bound needs of a palette entry with Oklab p (see
// palette.cpp): P = M^T p, with M the matrix kToLab, and N = |p|^2.
struct Entry {
    double p[3];
    double norm;
};

struct Tables {
    double linear[256];  // the linear light of each component value
    Lab lab[256];        // the Oklab of each palette entry
    Entry entry[256];    // and what the bound needs of it
    double slot_hue[7];  // the Oklab hue of the normal colours 1-6
};

namespace detail {
extern Tables g_tables;
// 0: not made; 1: being made by one thread; 2: made.
extern std::atomic<int> g_tables_state;
void make_tables();
}  // namespace detail

// The tables, made by the first call that needs them; a thread that comes
// while another makes them waits for it.
inline const Tables& tables()
{
    if (detail::g_tables_state.load(std::memory_order_acquire) != 2) [[unlikely]] {
        detail::make_tables();
    }
    return detail::g_tables;
}

// The LMS of a colour, before the cube roots: oklab()'s first half, the same
// operations.
void lms(const Tables& t, const Rgb& c, double out[3]);

// oklab() with the tables at hand.
Lab oklab(const Tables& t, const Rgb& c);

}  // namespace tintara::core
