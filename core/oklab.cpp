// xterm's palette and Oklab (see palette.hpp and oklab.hpp).
#include "core/oklab.hpp"

#include <cmath>
#include <thread>

// pow() as the first glibc of each architecture exported it: glibc 2.29 gave
// pow a new symbol version (the same results, without the old error
// conventions), and binding to it would make the module need glibc 2.29,
// where everything else here runs on 2.17.
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver pow,pow@GLIBC_2.2.5");
#elif defined(__GLIBC__) && defined(__aarch64__)
__asm__(".symver pow,pow@GLIBC_2.17");
#endif

namespace tintara::core {
namespace {

// xterm's default palette: 16 named colours, a 6x6x6 cube, 24 greys.
constexpr Rgb kBasicRgb[16] = {
    {0x00, 0x00, 0x00}, {0xcd, 0x00, 0x00}, {0x00, 0xcd, 0x00}, {0xcd, 0xcd, 0x00},
    {0x00, 0x00, 0xee}, {0xcd, 0x00, 0xcd}, {0x00, 0xcd, 0xcd}, {0xe5, 0xe5, 0xe5},
    {0x7f, 0x7f, 0x7f}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
    {0x5c, 0x5c, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
};
constexpr int kCube[6] = {0, 95, 135, 175, 215, 255};

// One row of a matrix times (x, y, z), added left to right as the twin
// writes it.  Adding a negative coefficient's product is subtracting its
// magnitude's, to the last bit.
double row(const double (&m)[3], double x, double y, double z)
{
    return m[0] * x + m[1] * y + m[2] * z;
}

// The sRGB transfer function, inverted: component 0-255 to linear light.
double srgb_linear(int v)
{
    const double c = v / 255.0;
    if (c <= 0.04045) {
        return c / 12.92;
    }
    return std::pow((c + 0.055) / 1.055, 2.4);
}

}  // namespace

namespace detail {

Tables g_tables;
std::atomic<int> g_tables_state{0};

void make_tables()
{
    int expected = 0;
    if (!g_tables_state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        while (g_tables_state.load(std::memory_order_acquire) != 2) {
            std::this_thread::yield();
        }
        return;
    }
    Tables& t = g_tables;
    for (int v = 0; v < 256; ++v) {
        t.linear[v] = srgb_linear(v);
    }
    for (int n = 0; n < 256; ++n) {
        const Lab x = t.lab[n] = oklab(t, palette_rgb(n));
        const double p[3] = {x.L, x.a, x.b};
        for (int k = 0; k < 3; ++k) {
            t.entry[n].p[k] = kToLab[0][k] * p[0] + kToLab[1][k] * p[1] + kToLab[2][k] * p[2];
        }
        t.entry[n].norm = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
    }
    for (int n = 0; n < 7; ++n) {
        t.slot_hue[n] = std::atan2(t.lab[n].b, t.lab[n].a);
    }
    g_tables_state.store(2, std::memory_order_release);
}

}  // namespace detail

void lms(const Tables& t, const Rgb& c, double out[3])
{
    const double lr = t.linear[c.r];
    const double lg = t.linear[c.g];
    const double lb = t.linear[c.b];
    for (int k = 0; k < 3; ++k) {
        out[k] = row(kToLms[k], lr, lg, lb);
    }
}

Lab oklab(const Tables& t, const Rgb& c)
{
    double v[3];
    lms(t, c, v);
    const double l = std::cbrt(v[0]);
    const double m = std::cbrt(v[1]);
    const double s = std::cbrt(v[2]);
    return {row(kToLab[0], l, m, s), row(kToLab[1], l, m, s), row(kToLab[2], l, m, s)};
}

Rgb palette_rgb(int n)
{
    if (n < 16) {
        return kBasicRgb[n];
    }
    if (n < 232) {
        n -= 16;
        return {kCube[n / 36], kCube[n / 6 % 6], kCube[n % 6]};
    }
    const int v = 8 + 10 * (n - 232);
    return {v, v, v};
}

Lab oklab(const Rgb& c)
{
    return oklab(tables(), c);
}

const Lab& palette_lab(int n)
{
    return tables().lab[n];
}

}  // namespace tintara::core
