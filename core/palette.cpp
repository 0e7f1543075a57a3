// The two nearest-colour rules (see palette.hpp).
#include "core/palette.hpp"

#include "core/oklab.hpp"

#include <cmath>
#include <cstdint>
#include <numbers>

namespace tintara::core {
namespace {

// kCells and kLonger: each RGB cell's candidates, made by make_cells.cpp
// (which says why they are enough) when the core is built.
#include "palette_cells.inc"

// The squared distance from x to palette entry n, as the twin computes it.
double distance(const Tables& t, const Lab& x, int n)
{
    const Lab& e = t.lab[n];
    const double dl = x.L - e.L;
    const double da = x.a - e.a;
    const double db = x.b - e.b;
    return dl * dl + da * da + db * db;
}

// The first of the entries at the least distance from x: one a byte of
// `entries`, from the lowest, up to the first 0.
int nearest_of(const Tables& t, const Lab& x, uint64_t entries)
{
    int best = static_cast<int>(entries & 255);
    double best_d = distance(t, x, best);
    for (entries >>= 8; entries != 0; entries >>= 8) {
        const int n = static_cast<int>(entries & 255);
        const double d = distance(t, x, n);
        if (d < best_d) {
            best = n;
            best_d = d;
        }
    }
    return best;
}

}  // namespace

int nearest_256(const Rgb& c)
{
    const uint64_t cell = kCells[(c.r >> 4) << 8 | (c.g >> 4) << 4 | c.b >> 4];
    if (cell < 256) {
        return static_cast<int>(cell);
    }
    const Tables& t = tables();
    const Lab x = oklab(t, c);
    if ((cell & 255) != 0) {
        return nearest_of(t, x, cell);
    }
    const unsigned char* list = kLonger + (cell >> 8);
    int best = list[1];
    double best_d = distance(t, x, best);
    for (int i = 2; i <= list[0]; ++i) {
        const double d = distance(t, x, list[i]);
        if (d < best_d) {
            best = list[i];
            best_d = d;
        }
    }
    return best;
}

// The 16-colour rule: a colour whose chroma is under kChromaGrey is grey.
constexpr double kChromaGrey = 0.04;

int nearest_16(const Rgb& c)
{
    const Tables& t = tables();
    const Lab x = oklab(t, c);
    // Of a and b, the nearer to x; a when they tie.
    const auto nearer = [&](int a, int b) { return distance(t, x, b) < distance(t, x, a) ? b : a; };
    if (std::sqrt(x.a * x.a + x.b * x.b) < kChromaGrey) {
        return nearer(nearer(nearer(0, 8), 7), 15);
    }
    constexpr double pi = std::numbers::pi;
    const double hue = std::atan2(x.b, x.a);
    int slot = 1;
    double best = 0.0;
    for (int n = 1; n < 7; ++n) {
        double d = std::fabs(hue - t.slot_hue[n]);
        if (d > pi) {
            d = 2.0 * pi - d;
        }
        if (n == 1 || d < best) {
            slot = n;
            best = d;
        }
    }
    return nearer(slot, slot + 8);
}

int basic_code(int n, bool background)
{
    if (n < 8) {
        return (background ? 40 : 30) + n;
    }
    return (background ? 100 : 90) + n - 8;
}

}  // namespace tintara::core
