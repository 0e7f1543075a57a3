// The xterm palette, Oklab, and the nearest palette entries.  Every double
// operation is the one the pure-Python twin does, in the same order: both
// find the same entry where two nearly tie.
#include "core/palette.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <numbers>
#include <span>

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

// xterm's default palette.
constexpr Rgb kBasicRgb[16] = {
    {0x00, 0x00, 0x00}, {0xcd, 0x00, 0x00}, {0x00, 0xcd, 0x00}, {0xcd, 0xcd, 0x00},
    {0x00, 0x00, 0xee}, {0xcd, 0x00, 0xcd}, {0x00, 0xcd, 0xcd}, {0xe5, 0xe5, 0xe5},
    {0x7f, 0x7f, 0x7f}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
    {0x5c, 0x5c, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
};
constexpr int kCube[6] = {0, 95, 135, 175, 215, 255};

constexpr Rgb entry_rgb(int n)
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

// The sRGB transfer function, inverted: component 0-255 to linear light.
double srgb_linear(int v)
{
    const double c = v / 255.0;
    if (c <= 0.04045) {
        return c / 12.92;
    }
    return std::pow((c + 0.055) / 1.055, 2.4);
}

struct Tables {
    bool made = false;
    double linear[256];
    Lab palette[256];
    double slot_hue[7];  // the Oklab hue of the normal colours 1-6
};
Tables g_tables;

// Ottosson's matrices, evaluated left to right exactly as written.
Lab oklab(int r, int g, int b)
{
    const double lr = g_tables.linear[r];
    const double lg = g_tables.linear[g];
    const double lb = g_tables.linear[b];
    double l = 0.4122214708 * lr + 0.5363325363 * lg + 0.0514459929 * lb;
    double m = 0.2119034982 * lr + 0.6806995451 * lg + 0.1073969566 * lb;
    double s = 0.0883024619 * lr + 0.2817188376 * lg + 0.6299787005 * lb;
    l = std::cbrt(l);
    m = std::cbrt(m);
    s = std::cbrt(s);
    return {
        0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
        1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
        0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s,
    };
}

// Made when first needed, which keeps them out of the import.
void make_tables()
{
    Tables& t = g_tables;
    if (t.made) {
        return;
    }
    for (int v = 0; v < 256; ++v) {
        t.linear[v] = srgb_linear(v);
    }
    for (int n = 0; n < 256; ++n) {
        t.palette[n] = oklab(entry_rgb(n).r, entry_rgb(n).g, entry_rgb(n).b);
    }
    for (int n = 0; n < 7; ++n) {
        t.slot_hue[n] = std::atan2(t.palette[n].b, t.palette[n].a);
    }
    t.made = true;
}

// The squared Euclidean distance from x to palette entry n.
double distance(const Lab& x, int n)
{
    const Lab& e = g_tables.palette[n];
    const double dl = x.L - e.L;
    const double da = x.a - e.a;
    const double db = x.b - e.b;
    return dl * dl + da * da + db * db;
}

// The nearest of the candidates, which are in ascending order; ties go to
// the first.
template <typename Range>
int nearest_of(const Lab& x, const Range& candidates)
{
    int best = -1;
    double best_d = 0.0;
    for (int n : candidates) {
        const double d = distance(x, n);
        if (best < 0 || d < best_d) {
            best = n;
            best_d = d;
        }
    }
    return best;
}

int nearest_of(const Lab& x, std::initializer_list<int> candidates)
{
    return nearest_of<std::initializer_list<int>>(x, candidates);
}

// Palette entries 16-255 that can be the nearest to some point of a cell of
// a grid over Oklab, worked out for each cell when a colour first falls in
// it.  An entry is kept unless even its least distance to the cell exceeds
// the greatest distance to the cell of some other entry (with a margin far
// above rounding error): whatever the colour in the cell, the entry found
// among those kept is the one found among all 240, ties included.
class Grid {
public:
    // The entries to compare for x; false when x has no cell or its cell
    // cannot be made (then compare all 240).
    bool candidates(const Lab& x, const unsigned char*& first, int& count) noexcept
    {
        const int i = bin(x.L, kLo[0], kHi[0]);
        const int j = bin(x.a, kLo[1], kHi[1]);
        const int k = bin(x.b, kLo[2], kHi[2]);
        if (i < 0 || j < 0 || k < 0) {
            return false;
        }
        uint32_t& cell = cells_[(i * kN + j) * kN + k];
        if (cell == 0 && (cell = make(i, j, k)) == 0) {
            return false;
        }
        first = pool_ + (cell >> 8);
        count = static_cast<int>(cell & 0xff);
        return true;
    }

private:
    static constexpr int kN = 32;
    // Bounds a little beyond what sRGB colours reach.
    static constexpr double kLo[3] = {-0.01, -0.25, -0.33};
    static constexpr double kHi[3] = {1.01, 0.29, 0.22};

    // Which cell along one axis.  Rounding may put a value on a cell
    // boundary in the neighbouring cell: the cells are made a little wider
    // than the grid's spacing for that.
    static int bin(double v, double lo, double hi) noexcept
    {
        if (!(v >= lo && v < hi)) {
            return -1;
        }
        const int b = static_cast<int>((v - lo) * (kN / (hi - lo)));
        return b < kN ? b : kN - 1;
    }

    // The cell's entries, kept in the pool: (offset << 8) | count, or 0.
    uint32_t make(int i, int j, int k) noexcept
    {
        double lo[3];
        double hi[3];
        const int at[3] = {i, j, k};
        for (int d = 0; d < 3; ++d) {
            const double w = (kHi[d] - kLo[d]) / kN;
            lo[d] = kLo[d] + at[d] * w - 1e-9;
            hi[d] = kLo[d] + (at[d] + 1) * w + 1e-9;
        }
        double least[256];
        double bound = 1e300;
        for (int n = 16; n < 256; ++n) {
            const Lab& e = g_tables.palette[n];
            const double v[3] = {e.L, e.a, e.b};
            double far = 0.0;
            double near = 0.0;
            for (int d = 0; d < 3; ++d) {
                const double to_lo = v[d] - lo[d];
                const double to_hi = v[d] - hi[d];
                far += std::fmax(to_lo * to_lo, to_hi * to_hi);
                const double out = v[d] < lo[d] ? -to_lo : v[d] > hi[d] ? to_hi : 0.0;
                near += out * out;
            }
            least[n] = near;
            bound = std::fmin(bound, far);
        }
        bound = bound * (1.0 + 1e-9) + 1e-12;
        unsigned char kept[240];
        int count = 0;
        for (int n = 16; n < 256; ++n) {
            if (least[n] <= bound) {
                kept[count++] = static_cast<unsigned char>(n);
            }
        }
        if (used_ + static_cast<size_t>(count) > capacity_) {
            const size_t grown = capacity_ != 0 ? capacity_ * 2 : 16384;
            auto* pool = static_cast<unsigned char*>(std::realloc(pool_, grown));
            if (pool == nullptr || grown >= (size_t{1} << 24)) {
                return 0;
            }
            pool_ = pool;
            capacity_ = grown;
        }
        std::memcpy(pool_ + used_, kept, static_cast<size_t>(count));
        const auto cell = static_cast<uint32_t>(used_ << 8 | static_cast<size_t>(count));
        used_ += static_cast<size_t>(count);
        return cell;
    }

    uint32_t cells_[kN * kN * kN] = {};
    unsigned char* pool_ = nullptr;  // never freed: the module lives as long as the process
    size_t used_ = 0;
    size_t capacity_ = 0;
};
Grid g_grid;

// The nearest of entries 16-255 to x, ties to the lower index.
int nearest_256_exact(const Lab& x)
{
    const unsigned char* first = nullptr;
    int count = 0;
    if (g_grid.candidates(x, first, count)) {
        return nearest_of(x, std::span<const unsigned char>(first, static_cast<size_t>(count)));
    }
    struct All {
        struct It {
            int n;
            int operator*() const { return n; }
            It& operator++()
            {
                ++n;
                return *this;
            }
            bool operator!=(const It& o) const { return n != o.n; }
        };
        [[nodiscard]] It begin() const { return {16}; }
        [[nodiscard]] It end() const { return {256}; }
    };
    return nearest_of(x, All{});
}

// The cube root to within a few units in the last place (3e-14 at most),
// without a call: a first guess from the exponent bits (within 4%), then
// two of Halley's steps.  Only for answers that are checked against a
// margin.
double cbrt_near(double x)
{
    if (!(x > 0.0)) {
        return std::cbrt(x);
    }
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits = bits / 3 + 0x2A9F7893782DA1CEull;
    double y;
    std::memcpy(&y, &bits, sizeof y);
    for (int i = 0; i < 2; ++i) {
        const double y3 = y * y * y;
        y = y * (y3 + 2.0 * x) / (2.0 * y3 + x);
    }
    return y;
}

// oklab() with cbrt_near: within 2e-14 of it.
Lab oklab_near(const Rgb& c)
{
    const double lr = g_tables.linear[c.r];
    const double lg = g_tables.linear[c.g];
    const double lb = g_tables.linear[c.b];
    const double l = cbrt_near(0.4122214708 * lr + 0.5363325363 * lg + 0.0514459929 * lb);
    const double m = cbrt_near(0.2119034982 * lr + 0.6806995451 * lg + 0.1073969566 * lb);
    const double s = cbrt_near(0.0883024619 * lr + 0.2817188376 * lg + 0.6299787005 * lb);
    return {
        0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
        1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
        0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s,
    };
}

// The nearest of entries 16-255 to the colour, ties to the lower index.
// Decided on oklab_near when the best entry is nearer than any other by
// more than kMargin, a hundred times what the distances can differ by from
// the exact ones (so the exact distances order the two the same way); else
// on the exact Oklab.  The grid's cells are wide enough apart (1e-9) that
// the close colour's cell also holds the exact colour.
constexpr double kMargin = 1e-12;

int nearest_256_of(const Rgb& rgb)
{
    const Lab x = oklab_near(rgb);
    const unsigned char* first = nullptr;
    int count = 0;
    if (g_grid.candidates(x, first, count)) {
        int best = first[0];
        double best_d = distance(x, best);
        double second_d = 1e300;
        for (int k = 1; k < count; ++k) {
            // Without branches: which entry is nearer depends on the colour.
            const double d = distance(x, first[k]);
            const bool nearer = d < best_d;
            second_d = nearer ? best_d : std::fmin(second_d, d);
            best_d = nearer ? d : best_d;
            best = nearer ? first[k] : best;
        }
        if (second_d - best_d > kMargin) {
            return best;
        }
    }
    return nearest_256_exact(oklab(rgb.r, rgb.g, rgb.b));
}

// The 16-colour rule: hue first.  A colour of low chroma is one of black,
// bright black, white and bright white; any other is the normal colour of
// the nearest hue or its bright twin.
constexpr double kChromaGrey = 0.04;

int nearest_16_of(const Lab& x)
{
    if (std::sqrt(x.a * x.a + x.b * x.b) < kChromaGrey) {
        return nearest_of(x, {0, 8, 7, 15});
    }
    constexpr double pi = std::numbers::pi;
    const double hue = std::atan2(x.b, x.a);
    int slot = 1;
    double best = 0.0;
    for (int n = 1; n < 7; ++n) {
        double d = std::fabs(hue - g_tables.slot_hue[n]);
        if (d > pi) {
            d = 2.0 * pi - d;
        }
        if (n == 1 || d < best) {
            slot = n;
            best = d;
        }
    }
    return nearest_of(x, {slot, slot + 8});
}

}  // namespace

int basic_code(int n, bool background)
{
    if (n < 8) {
        return (background ? 40 : 30) + n;
    }
    return (background ? 100 : 90) + n - 8;
}


Rgb palette_rgb(int n)
{
    return entry_rgb(n);
}

Lab oklab(const Rgb& c)
{
    make_tables();
    return oklab(c.r, c.g, c.b);
}

const Lab& palette_lab(int n)
{
    make_tables();
    return g_tables.palette[n];
}

int nearest_256(const Rgb& c)
{
    make_tables();
    return nearest_256_of(c);
}

int nearest_16(const Rgb& c)
{
    make_tables();
    return nearest_16_of(oklab(c.r, c.g, c.b));
}

}  // namespace tintara::core
