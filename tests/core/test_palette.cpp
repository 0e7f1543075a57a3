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
#include <utility>
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

void test_palette(const Palette& p)
{
    int wrong_rgb = 0;
    int wrong_lab = 0;
    for (int n = 0; n < 256; ++n) {
        const Rgb got = tintara::core::palette_rgb(n);
        const Rgb want = xterm(n);
        wrong_rgb += got.r != want.r || got.g != want.g || got.b != want.b;
        wrong_lab += !same(tintara::core::palette_lab(n), p.lab[n]);
    }
    CHECK_EQ(wrong_rgb, 0);
    CHECK_EQ(wrong_lab, 0);
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
        Rgb colour;
        int index;
        int code;
    };
    const Example examples[] = {
        {{0xff, 0x88, 0x00}, 208, 91}, {{0x80, 0x80, 0x80}, 244, 90}, {{0xc0, 0xc0, 0xc0}, 250, 37},
        {{0x00, 0x80, 0x80}, 30, 36},  {{0x5f, 0x87, 0xaf}, 67, 94},  {{0xee, 0xee, 0xee}, 255, 37},
    };
    for (const Example& e : examples) {
        CHECK_EQ(tintara::core::nearest_256(e.colour), e.index);
        const int n = tintara::core::nearest_16(e.colour);
        CHECK_EQ(tintara::core::basic_code(n, false), e.code);
        CHECK_EQ(tintara::core::basic_code(n, true), e.code + 10);
    }
    // Muted colours far lighter or darker than their hue's pick are grey.
    const std::pair<Rgb, int> muted[] = {
        {{0x00, 0x2b, 0x36}, 0}, {{0x20, 0x00, 0x20}, 0}, {{0x40, 0x00, 0x00}, 0},
        {{0x1e, 0x1e, 0x2e}, 0}, {{0x07, 0x36, 0x42}, 8}, {{0x3a, 0x3a, 0x1a}, 8},
        {{0xff, 0xd7, 0xd7}, 7}, {{0xe0, 0xe0, 0xff}, 7}, {{0x80, 0x00, 0x00}, 1},
        {{0xff, 0xe0, 0xb0}, 3},
    };
    for (const auto& [colour, n] : muted) {
        CHECK_EQ(tintara::core::nearest_16(colour), n);
    }
    // Hue first: teal is nearest bright black, but its hue is cyan's.
    const Rgb teal{0x00, 0x80, 0x80};
    CHECK_EQ(full_scan(p, twin_oklab(teal), 0, 15), 8);
    CHECK_EQ(tintara::core::nearest_16(teal), 6);
    for (int n = 0; n < 16; ++n) {
        CHECK_EQ(tintara::core::nearest_16(xterm(n)), n);
    }
}

// Every colour: oklab() is the twin's to the last bit, and nearest_256 is the
// full scan's answer.  The threads start at once, in the same cells, so the
// tables and the cells' lists are also made by one of several first callers
// while the others go on without them.
void test_every_colour(const Palette& p)
{
    const int threads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    std::vector<long> wrong(threads);
    std::vector<std::thread> workers;
    for (int k = 0; k < threads; ++k) {
        workers.emplace_back([&p, &wrong, k, threads] {
            for (int r = k; r < 256; r += threads) {
                for (int g = 0; g < 256; ++g) {
                    for (int b = 0; b < 256; ++b) {
                        const Rgb c{r, g, b};
                        const Lab x = twin_oklab(c);
                        if (!same(tintara::core::oklab(c), x) ||
                            tintara::core::nearest_256(c) != full_scan(p, x, 16, 255)) {
                            if (wrong[k]++ == 0) {
                                std::fprintf(stderr, "wrong: (%d, %d, %d)\n", r, g, b);
                            }
                        }
                    }
                }
            }
        });
    }
    for (std::thread& w : workers) {
        w.join();
    }
    for (long n : wrong) {
        CHECK_EQ(n, 0);
    }
}

}  // namespace

int main()
{
    const Palette p;
    test_every_colour(p);
    test_palette(p);
    test_examples(p);
    return tintara::test::report();
}
