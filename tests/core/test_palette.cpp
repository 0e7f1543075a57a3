// Tests of core/palette: xterm's palette, Oklab and the two nearest-colour
// rules.  Exits with status 1, having said what failed, when a check fails.
//
// nearest_256 is compared with a full scan over every one of the 16,777,216
// colours, the scan written here from the twin (pure/twin/paint.py), sharing
// no code with the core: that comparison is what shows its candidate lists
// are enough.
#include "core/palette.hpp"

#include "tests/core/check.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using tintara::core::Lab;
using tintara::core::Rgb;

// xterm's default palette, written out from its description.
Rgb xterm(int n)
{
    static const Rgb basic[16] = {
        {0x00, 0x00, 0x00}, {0xcd, 0x00, 0x00}, {0x00, 0xcd, 0x00}, {0xcd, 0xcd, 0x00},
        {0x00, 0x00, 0xee}, {0xcd, 0x00, 0xcd}, {0x00, 0xcd, 0xcd}, {0xe5, 0xe5, 0xe5},
        {0x7f, 0x7f, 0x7f}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
        {0x5c, 0x5c, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
    };
    static const int cube[6] = {0x00, 0x5f, 0x87, 0xaf, 0xd7, 0xff};
    if (n < 16) {
        return basic[n];
    }
    if (n < 232) {
        const int i = n - 16;
        return {cube[i / 36], cube[i / 6 % 6], cube[i % 6]};
    }
    const int v = 0x08 + 0x0a * (n - 232);
    return {v, v, v};
}

// Oklab as the twin computes it.
double linear(int v)
{
    const double c = v / 255.0;
    if (c <= 0.04045) {
        return c / 12.92;
    }
    return std::pow((c + 0.055) / 1.055, 2.4);
}

Lab twin_oklab(const Rgb& c)
{
    const double r = linear(c.r);
    const double g = linear(c.g);
    const double b = linear(c.b);
    double l = 0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b;
    double m = 0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b;
    double s = 0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b;
    l = std::cbrt(l);
    m = std::cbrt(m);
    s = std::cbrt(s);
    return {
        0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
        1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
        0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s,
    };
}

bool same(const Lab& x, const Lab& y)
{
    return x.L == y.L && x.a == y.a && x.b == y.b;
}

struct Palette {
    Lab lab[256];
    Palette()
    {
        for (int n = 0; n < 256; ++n) {
            lab[n] = twin_oklab(xterm(n));
        }
    }
};

// The first of entries first..last at the least distance from x.
int full_scan(const Palette& p, const Lab& x, int first, int last)
{
    int best = -1;
    double best_d = 0.0;
    for (int n = first; n <= last; ++n) {
        const double dl = x.L - p.lab[n].L;
        const double da = x.a - p.lab[n].a;
        const double db = x.b - p.lab[n].b;
        const double d = dl * dl + da * da + db * db;
        if (best < 0 || d < best_d) {
            best = n;
            best_d = d;
        }
    }
    return best;
}

Rgb hex(unsigned v)
{
    return {static_cast<int>(v >> 16), static_cast<int>(v >> 8 & 255), static_cast<int>(v & 255)};
}

void test_palette(const Palette& p)
{
    for (int n = 0; n < 256; ++n) {
        const Rgb got = tintara::core::palette_rgb(n);
        const Rgb want = xterm(n);
        CHECK(got.r == want.r && got.g == want.g && got.b == want.b);
        CHECK(same(tintara::core::palette_lab(n), p.lab[n]));
    }
    // Oklab's white and black.
    const Lab white = tintara::core::oklab({255, 255, 255});
    CHECK(std::fabs(white.L - 1.0) < 1e-7);
    CHECK(std::fabs(white.a) < 1e-7 && std::fabs(white.b) < 1e-7);
    CHECK(same(tintara::core::oklab({0, 0, 0}), Lab{0.0, 0.0, 0.0}));
}

// The examples of tests/test_paint.py: colour, nearest_256, 16-colour code.
void test_examples(const Palette& p)
{
    struct Example {
        unsigned colour;
        int index;
        int code;
    };
    const Example examples[] = {{0xff8800, 208, 91}, {0x808080, 244, 90}, {0xc0c0c0, 250, 37},
                                {0x008080, 30, 36},  {0x5f87af, 67, 94},  {0xeeeeee, 255, 37}};
    for (const Example& e : examples) {
        const Rgb c = hex(e.colour);
        CHECK_EQ(tintara::core::nearest_256(c), e.index);
        const int n = tintara::core::nearest_16(c);
        CHECK_EQ(tintara::core::basic_code(n, false), e.code);
        CHECK_EQ(tintara::core::basic_code(n, true), e.code + 10);
    }
    // Hue first: teal is nearest bright black, but its hue is cyan's.
    CHECK_EQ(full_scan(p, twin_oklab(hex(0x008080)), 0, 15), 8);
    CHECK_EQ(tintara::core::nearest_16(hex(0x008080)), 6);
    for (int n = 0; n < 16; ++n) {
        CHECK_EQ(tintara::core::nearest_16(xterm(n)), n);
    }
}

void test_basic_code()
{
    for (int n = 0; n < 8; ++n) {
        CHECK_EQ(tintara::core::basic_code(n, false), 30 + n);
        CHECK_EQ(tintara::core::basic_code(n, true), 40 + n);
        CHECK_EQ(tintara::core::basic_code(n + 8, false), 90 + n);
        CHECK_EQ(tintara::core::basic_code(n + 8, true), 100 + n);
    }
}

// Every colour: oklab() is the twin's to the last bit, and nearest_256 is the
// full scan's answer.  The threads start at once, so the tables are also
// made by one of several first callers.
void test_every_colour(const Palette& p)
{
    struct Share {
        long wrong_lab = 0;
        long wrong_index = 0;
        Rgb first{-1, -1, -1};
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::vector<Share> shares(threads);
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < threads; ++k) {
        workers.emplace_back([&p, &share = shares[k], k, threads] {
            for (int r = static_cast<int>(k); r < 256; r += static_cast<int>(threads)) {
                for (int g = 0; g < 256; ++g) {
                    for (int b = 0; b < 256; ++b) {
                        const Rgb c{r, g, b};
                        const Lab x = twin_oklab(c);
                        const bool lab_ok = same(tintara::core::oklab(c), x);
                        const bool index_ok =
                            tintara::core::nearest_256(c) == full_scan(p, x, 16, 255);
                        share.wrong_lab += !lab_ok;
                        share.wrong_index += !index_ok;
                        if ((!lab_ok || !index_ok) && share.first.r < 0) {
                            share.first = c;
                        }
                    }
                }
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    Share all;
    for (const Share& s : shares) {
        all.wrong_lab += s.wrong_lab;
        all.wrong_index += s.wrong_index;
        if (s.first.r >= 0 && (all.first.r < 0 || s.first.r < all.first.r)) {
            all.first = s.first;
        }
    }
    CHECK_EQ(all.wrong_lab, 0);
    CHECK_EQ(all.wrong_index, 0);
    if (all.first.r >= 0) {
        std::fprintf(stderr, "  the first wrong colour: (%d, %d, %d)\n", all.first.r, all.first.g,
                     all.first.b);
    }
}

}  // namespace

int main()
{
    const Palette p;
    test_every_colour(p);
    test_palette(p);
    test_examples(p);
    test_basic_code();
    return tintara::test::report();
}
