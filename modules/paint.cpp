// tintara.paint: styled text that fits the terminal it is written to.
//
// A Style checks and resolves everything when it is made: its colours (the
// code of a named colour read from tintara.colors' tables) and the on and
// off codes of its attributes (read from tintara.styles.STYLES).  Its
// prefix and suffix are made once per colour level, so a pen, which has
// its level decided, only joins three strings.
//
// The colour science (Oklab, the xterm palette, the two nearest-colour
// rules), the escape-sequence scanners and the shapes of style-string
// tokens are plain C++ below; the Python objects come after them.
#include "frame/frame.hpp"
#include "frame/type.hpp"
#include "frame/watch.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <initializer_list>
#include <numbers>
#include <span>
#include <string_view>

// pow() as the first glibc of each architecture exported it: glibc 2.29 gave
// pow a new symbol version (the same results, without the old error
// conventions), and binding to it would make the module need glibc 2.29,
// where everything else here runs on 2.17.
#if defined(__GLIBC__) && defined(__x86_64__)
__asm__(".symver pow,pow@GLIBC_2.2.5");
#elif defined(__GLIBC__) && defined(__aarch64__)
__asm__(".symver pow,pow@GLIBC_2.17");
#endif

namespace tintara::paint {
namespace {

ModuleState g_state;

// ---------------------------------------------------------------------------
// Constants

Str s_sys{"sys"};
Str s_tintara_colors{"tintara.colors"};
Str s_tintara_styles{"tintara.styles"};
Str s_tintara_detect{"tintara.detect"};
Str s_colors{"colors"};
Str s_styles{"styles"};
Str s_detect{"detect"};
Str s__colors{"_colors"};
Str s__styles{"_styles"};
Str s__detect{"_detect"};
Str s_ATTRIBUTES{"ATTRIBUTES"};
Str s_Style{"Style"};
Str s_NAMED_COLORS{"NAMED_COLORS"};
Str s_COLOR_ALIASES{"COLOR_ALIASES"};
Str s_STYLES{"STYLES"};
Str s_ColorLevel{"ColorLevel"};
Str s_detect_color_level{"detect_color_level"};
Str s_stdout{"stdout"};
Str s_write{"write"};
Str s_flush{"flush"};
Str s_get{"get"};
Str s_lower{"lower"};
Str s_name{"name"};
Str s___name__{"__name__"};
Str s_empty{""};
Str s_newline{"\n"};
Str s_dash{"-"};
Str s_space{" "};
Str s_underscore{"_"};

Int i_0{0};
Int i_3{3};
Int i_10{10};
Int i_39{39};
Int i_49{49};
Int i_255{255};

constexpr const char* kAttributes[] = {
    "bold",       "dim",     "italic", "underline",     "blink",
    "blink_fast", "reverse", "hidden", "strikethrough", "overline",
};
constexpr int kNumAttributes = 10;
// A value for each attribute, in that order.
using Attributes = std::span<PyObject* const, kNumAttributes>;
Str s_attribute[kNumAttributes] = {
    Str{"bold"},       Str{"dim"},     Str{"italic"}, Str{"underline"},     Str{"blink"},
    Str{"blink_fast"}, Str{"reverse"}, Str{"hidden"}, Str{"strikethrough"}, Str{"overline"},
};

// ===========================================================================
// Colour science.  Every double operation is the one the pure-Python twin
// does, in the same order: both find the same entry where two nearly tie.

struct Lab {
    double L;
    double a;
    double b;
};

struct Rgb {
    int r;
    int g;
    int b;
};

// xterm's default palette.
constexpr Rgb kBasicRgb[16] = {
    {0x00, 0x00, 0x00}, {0xcd, 0x00, 0x00}, {0x00, 0xcd, 0x00}, {0xcd, 0xcd, 0x00},
    {0x00, 0x00, 0xee}, {0xcd, 0x00, 0xcd}, {0x00, 0xcd, 0xcd}, {0xe5, 0xe5, 0xe5},
    {0x7f, 0x7f, 0x7f}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
    {0x5c, 0x5c, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
};
constexpr int kCube[6] = {0, 95, 135, 175, 215, 255};

constexpr Rgb palette_rgb(int n)
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

Lab oklab(const Rgb& c)
{
    return oklab(c.r, c.g, c.b);
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
        t.palette[n] = oklab(palette_rgb(n));
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
            auto* pool = static_cast<unsigned char*>(PyMem_RawRealloc(pool_, grown));
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

int nearest_256(const Rgb& rgb)
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
    return nearest_256_exact(oklab(rgb));
}

// The 16-colour rule: hue first.  A colour of low chroma is one of black,
// bright black, white and bright white; any other is the normal colour of
// the nearest hue or its bright twin.
constexpr double kChromaGrey = 0.04;

int nearest_16(const Lab& x)
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

// The 16-colour code of palette index n (0-15).
int basic_code(int n, bool background)
{
    if (n < 8) {
        return (background ? 40 : 30) + n;
    }
    return (background ? 100 : 90) + n - 8;
}

// ===========================================================================
// Escape sequences in text, over the code units of any str kind.

constexpr Py_UCS4 kEsc = 0x1b;

template <typename Ch>
Py_ssize_t find_esc(const Ch* s, Py_ssize_t from, Py_ssize_t n)
{
    if (n - from <= 16) {  // short: no call
        for (Py_ssize_t i = from; i < n; ++i) {
            if (s[i] == kEsc) {
                return i;
            }
        }
        return -1;
    }
    if constexpr (sizeof(Ch) == 1) {
        const void* hit =
            from < n ? std::memchr(s + from, kEsc, static_cast<size_t>(n - from)) : nullptr;
        return hit != nullptr ? static_cast<const Ch*>(hit) - s : -1;
    } else {
        for (Py_ssize_t i = from; i < n; ++i) {
            if (s[i] == kEsc) {
                return i;
            }
        }
        return -1;
    }
}

template <typename Ch>
bool in(Ch c, Py_UCS4 lo, Py_UCS4 hi)
{
    return static_cast<Py_UCS4>(c) >= lo && static_cast<Py_UCS4>(c) <= hi;
}

// The end of the escape sequence that starts at s[i] (an ESC).  A sequence
// left unterminated at the end of the text runs to the end.  A CSI broken
// by a character it cannot hold ends before it, and so does any other
// sequence; a control string (OSC, DCS, SOS, PM, APC) ends at BEL (OSC
// only) or ST, or before any other ESC.
template <typename Ch>
Py_ssize_t sequence_end(const Ch* s, Py_ssize_t n, Py_ssize_t i)
{
    Py_ssize_t j = i + 1;
    if (j == n) {
        return n;
    }
    const Py_UCS4 c = s[j];
    if (c == '[') {
        ++j;
        while (j < n && in(s[j], 0x30, 0x3f)) {
            ++j;
        }
        while (j < n && in(s[j], 0x20, 0x2f)) {
            ++j;
        }
        return j < n && in(s[j], 0x40, 0x7e) ? j + 1 : j;
    }
    if (c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_') {
        const bool bel = c == ']';
        for (++j; j < n; ++j) {
            if (s[j] == 0x07 && bel) {
                return j + 1;
            }
            if (s[j] == kEsc) {
                return j + 1 < n && s[j + 1] == '\\' ? j + 2 : j;
            }
        }
        return n;
    }
    while (j < n && in(s[j], 0x20, 0x2f)) {
        ++j;
    }
    return j < n && in(s[j], 0x30, 0x7e) ? j + 1 : j;
}

// One SGR parameter: its characters, and whether they are all digits.
template <typename Ch>
struct Part {
    const Ch* text;
    Py_ssize_t len;

    [[nodiscard]] bool digits() const
    {
        for (Py_ssize_t i = 0; i < len; ++i) {
            if (!in(text[i], '0', '9')) {
                return false;
            }
        }
        return len > 0;
    }
    // Whether the number these digits spell has the decimal text v.
    [[nodiscard]] bool is(std::string_view v) const
    {
        Py_ssize_t i = 0;
        while (i + 1 < len && text[i] == '0') {
            ++i;
        }
        if (len - i != static_cast<Py_ssize_t>(v.size())) {
            return false;
        }
        for (size_t k = 0; k < v.size(); ++k) {
            if (text[i + static_cast<Py_ssize_t>(k)] != static_cast<unsigned char>(v[k])) {
                return false;
            }
        }
        return true;
    }
};

// Whether an embedded SGR with these parameters undoes a style whose off
// codes (as decimal text) are offs: a full reset, or one of those off
// codes.  The arguments of 38, 48 and 58 (5;n and 2;r;g;b) are no codes.
template <typename Ch>
bool reopens(const Ch* p, Py_ssize_t n, std::span<const std::string_view> offs)
{
    bool reset = true;
    for (Py_ssize_t i = 0; i < n && reset; ++i) {
        reset = p[i] == '0' || p[i] == ';';
    }
    if (reset) {
        return true;
    }
    auto part_at = [&](Py_ssize_t start) {
        Py_ssize_t end = start;
        while (end < n && p[end] != ';') {
            ++end;
        }
        return Part<Ch>{p + start, end - start};
    };
    int skip = 0;
    for (Py_ssize_t start = 0; start <= n;) {
        const Part<Ch> part = part_at(start);
        const Py_ssize_t next = start + part.len + 1;
        start = next;
        if (skip > 0) {
            --skip;
            continue;
        }
        if (!part.digits()) {
            continue;
        }
        for (std::string_view off : offs) {
            if (part.is(off)) {
                return true;
            }
        }
        if ((part.is("38") || part.is("48") || part.is("58")) && next <= n) {
            const Part<Ch> kind = part_at(next);
            if (kind.digits()) {
                skip = kind.is("5") ? 2 : kind.is("2") ? 4 : 0;
            }
        }
    }
    return false;
}

// The end of the next SGR at or after `from` that undoes the style, or -1.
// An SGR is a CSI ending in "m" whose parameter bytes are digits, ":" and
// ";" only: no private marker ("<", "=", ">", "?"), no intermediate byte.
template <typename Ch>
Py_ssize_t next_reopening(const Ch* s, Py_ssize_t n, Py_ssize_t from,
                          std::span<const std::string_view> offs)
{
    for (Py_ssize_t i = find_esc(s, from, n); i >= 0;) {
        const Py_ssize_t end = sequence_end(s, n, i);
        if (end - i >= 3 && s[i + 1] == '[' && s[end - 1] == 'm') {
            bool plain = true;
            for (Py_ssize_t k = i + 2; k < end - 1 && plain; ++k) {
                plain = in(s[k], '0', ';');  // digits, ":" and ";"
            }
            if (plain && reopens(s + i + 2, end - 1 - (i + 2), offs)) {
                return end;
            }
        }
        i = find_esc(s, end, n);
    }
    return -1;
}

// Bytes, copied without a call when there are few of them (the usual
// prefix, suffix and short text).
inline void copy_bytes(void* out, const void* in, size_t n)
{
    auto* o = static_cast<unsigned char*>(out);
    const auto* i = static_cast<const unsigned char*>(in);
    if (n >= 8 && n <= 16) {
        std::memcpy(o, i, 8);  // two overlapping moves of 8
        std::memcpy(o + n - 8, i + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(o, i, 4);
        std::memcpy(o + n - 4, i + n - 4, 4);
    } else if (n < 4) {
        for (size_t k = 0; k < n; ++k) {
            o[k] = i[k];
        }
    } else {
        std::memcpy(o, i, n);
    }
}

template <typename Out, typename In>
Out* copy_chars(Out* out, const In* in, Py_ssize_t n)
{
    if constexpr (sizeof(Out) == sizeof(In)) {
        copy_bytes(out, in, static_cast<size_t>(n) * sizeof(In));
    } else {
        for (Py_ssize_t i = 0; i < n; ++i) {
            out[i] = static_cast<Out>(in[i]);
        }
    }
    return out + n;
}

// ===========================================================================
// The shapes of style-string tokens (ASCII text).

// t[from, from + n), which must lie within t (substr() would throw).
std::string_view slice(std::string_view t, size_t from, size_t n)
{
    return {t.data() + from, n};
}

// Digits only: their value, or 256 for any value above 255; -1 otherwise.
int small_number(std::string_view t)
{
    if (t.empty()) {
        return -1;
    }
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') {
            return -1;
        }
        v = v * 10 + (c - '0');
        v = v > 255 ? 256 : v;  // stays above 255 while the digits are checked
    }
    return v;
}

// "color(N)": N (256 for too large), or -1 for another shape.
int color_number(std::string_view t)
{
    constexpr std::string_view head = "color(";
    if (t.size() < head.size() + 2 || !t.starts_with(head) || !t.ends_with(')')) {
        return -1;
    }
    return small_number(slice(t, head.size(), t.size() - head.size() - 1));
}

// "rgb(R,G,B)": true with the three numbers (256 for too large).
bool rgb_numbers(std::string_view t, int out[3])
{
    constexpr std::string_view head = "rgb(";
    if (t.size() < head.size() + 1 || !t.starts_with(head) || !t.ends_with(')')) {
        return false;
    }
    std::string_view rest = slice(t, head.size(), t.size() - head.size() - 1);
    for (int i = 0; i < 3; ++i) {
        const size_t comma = i < 2 ? rest.find(',') : rest.size();
        if (comma == std::string_view::npos) {
            return false;
        }
        out[i] = small_number(slice(rest, 0, comma));
        if (out[i] < 0) {
            return false;
        }
        rest = i < 2 ? slice(rest, comma + 1, rest.size() - comma - 1) : std::string_view();
    }
    return true;
}

// "#rrggbb" or "#rgb": true with the components.
bool hex_rgb(std::string_view t, int out[3])
{
    if ((t.size() != 7 && t.size() != 4) || t[0] != '#') {
        return false;
    }
    int v[6];
    for (size_t i = 1; i < t.size(); ++i) {
        if ((v[i - 1] = kHexValue[static_cast<unsigned char>(t[i])]) < 0) {
            return false;
        }
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = t.size() == 7 ? v[2 * i] * 16 + v[2 * i + 1] : v[i] * 17;
    }
    return true;
}

// The index of an attribute name in ATTRIBUTES, or -1.
int attribute_name(std::string_view t)
{
    for (int i = 0; i < kNumAttributes; ++i) {
        if (t == kAttributes[i]) {
            return i;
        }
    }
    return -1;
}

// The attribute a style-string word names (strike and conceal included),
// or -1.
int attribute_word(std::string_view t)
{
    if (const int i = attribute_name(t); i >= 0) {
        return i;
    }
    if (t == "strike") {
        return 8;
    }
    if (t == "conceal") {
        return 7;
    }
    return -1;
}

// ===========================================================================
// Python objects: messages, ints, text and levels.

// The characters of an ASCII str, or an empty view for any other.
std::string_view ascii_view(PyObject* s)
{
    if (!PyUnicode_IS_ASCII(s)) {
        return {};
    }
    return {static_cast<const char*>(PyUnicode_DATA(s)),
            static_cast<size_t>(PyUnicode_GET_LENGTH(s))};
}

// type(obj).__name__ as an f-string field writes it.
[[gnu::cold]] Ref type_name(PyObject* obj)
{
    Ref name = attr(reinterpret_cast<PyObject*>(Py_TYPE(obj)), s___name__);
    return name ? field_text(name.get()) : Ref();
}

// exc(f"{text}{type(obj).__name__}")
[[gnu::cold]] void raise_type_named(PyObject* exc, const char* text, PyObject* obj)
{
    Ref name = type_name(obj);
    if (name) {
        PyErr_Format(exc, "%s%U", text, name.get());
    }
}

// exc(f"{text}{obj!r}{tail}")
[[gnu::cold]] void raise_repr(PyObject* exc, const char* text, PyObject* obj, const char* tail = "")
{
    PyErr_Format(exc, "%s%R%s", text, obj, tail);
}

// An int whose comparisons are int's own, so comparing it runs no code.
bool plain_int(PyObject* v)
{
    return PyLong_CheckExact(v) ||
           (PyLong_Check(v) && Py_TYPE(v)->tp_richcompare == PyLong_Type.tp_richcompare);
}

// lo <= v <= hi for an int v, as Python's chained comparison: 1, 0 or -1.
int in_range(PyObject* v, PyObject* lo, PyObject* hi, long lo_value, long hi_value)
{
    if (plain_int(v)) {
        int overflow = 0;
        const long x = PyLong_AsLongAndOverflow(v, &overflow);
        return overflow == 0 && x >= lo_value && x <= hi_value ? 1 : 0;
    }
    Ref low = Ref::steal(PyObject_RichCompare(lo, v, Py_LE));
    int t = low ? truth(low.get()) : -1;
    if (t != 1) {
        return t;
    }
    Ref high = Ref::steal(PyObject_RichCompare(v, hi, Py_LE));
    return high ? truth(high.get()) : -1;
}

// int.__int__(v): an int as an exact int, whatever a subclass overrides.
Ref exact_int(PyObject* v)
{
    if (PyLong_CheckExact(v)) {
        return Ref::borrow(v);
    }
    return Ref::steal(PyLong_Type.tp_as_number->nb_int(v));
}

// An int's value when it lies in lo..hi, else -1.  Never runs code.
long small_value(PyObject* exact, long lo, long hi)
{
    int overflow = 0;
    const long x = PyLong_AsLongAndOverflow(exact, &overflow);
    return overflow == 0 && x >= lo && x <= hi ? x : -1;
}

// str(text) as an exact str.
Ref text_of(PyObject* text)
{
    if (PyUnicode_CheckExact(text)) {
        return Ref::borrow(text);
    }
    Ref s = Ref::steal(PyObject_Str(text));
    if (s && !PyUnicode_CheckExact(s.get())) {
        s = Ref::steal(PyUnicode_FromObject(s.get()));  // a copy of a subclass's characters
    }
    return s;
}

constexpr const char* kLevelRange = "颜色级别须在 0-3 范围内，收到: ";

// The int 0-3 of an explicit level, or -1 with an exception.
int check_level(PyObject* level)
{
    // The common case first: an exact int 0-3.
    auto* number = reinterpret_cast<PyLongObject*>(level);
    if (PyLong_CheckExact(level) && PyUnstable_Long_IsCompact(number)) {
        const Py_ssize_t v = PyUnstable_Long_CompactValue(number);
        if (v >= 0 && v <= 3) {
            return static_cast<int>(v);
        }
    }
    if (PyBool_Check(level) || !PyLong_Check(level)) {
        raise_repr(PyExc_TypeError, "颜色级别须为 ColorLevel 或 0-3 的 int，收到: ", level);
        return -1;
    }
    if (plain_int(level)) {
        // int's own value and comparisons: nothing to ask the object.
        const long v = small_value(level, 0, 3);
        if (v < 0) {
            raise_repr(PyExc_ValueError, kLevelRange, level);
        }
        return static_cast<int>(v);
    }
    const int ok = in_range(level, i_0, i_3, 0, 3);
    if (ok <= 0) {
        if (ok == 0) {
            raise_repr(PyExc_ValueError, kLevelRange, level);
        }
        return -1;
    }
    Ref n = exact_int(level);
    const long v = n ? small_value(n.get(), 0, 3) : -1;
    if (v < 0 && n) {
        raise_repr(PyExc_ValueError, kLevelRange, level);  // its comparisons said otherwise
    }
    return static_cast<int>(v);
}

// ===========================================================================
// What the module reads, while it stands.
//
// Parsing a style string reads the module attributes _colors and _styles
// and through them NAMED_COLORS, COLOR_ALIASES and STYLES; detecting a
// level reads _detect.detect_color_level.  While the namespaces still bind
// what they bound when followed, the modules are plain modules and the
// tables have str keys only, none of these reads runs Python code, and
// every change to any of them moves Watched::epoch(): a style string parsed
// at an epoch parses to an equal Style with the same codes while the epoch
// stands.

enum OwnName { o_colors, o_styles, o_detect };
enum ColorsName { c_NAMED_COLORS, c_COLOR_ALIASES };
enum DetectName { d_ColorLevel, d_detect_color_level };

Watched g_own;        // this module's namespace: _colors, _styles, _detect
Watched g_colors_ns;  // NAMED_COLORS, COLOR_ALIASES
Watched g_styles_ns;  // STYLES
Watched g_detect_ns;  // ColorLevel, detect_color_level
Watched g_named;      // the three tables, by their keys
Watched g_aliases;
Watched g_styles_table;

// Style strings parsed at `epoch`, by their exact str.
struct ParseCache {
    static constexpr Py_ssize_t kMaxEntries = 4096;
    uint64_t epoch = 0;
    Held parsed;  // exact str -> Style
    // The strs last looked up, found again by identity (each held, so its
    // address stays its own).
    struct Recent {
        Held text;
        Held style;
    } recent[8];
};
ParseCache g_cache;

// Bumped whenever building a style reads a table entry through code that
// might run Python code (a str subclass as an alias target, an entry of
// STYLES that is not a plain tuple or list): such a style is not kept.
uint64_t g_ran_code = 0;

bool plain_module(PyObject* module)
{
    return module != nullptr && PyModule_CheckExact(module);
}

// The namespace of a plain module, or null.
PyObject* plain_namespace(PyObject* module)
{
    return plain_module(module) ? PyModule_GetDict(module) : nullptr;
}

// Follows what parsing and detecting read (at the end of the module body).
void follow_tables(ModuleState& st)
{
    PyObject* const own[] = {s__colors, s__styles, s__detect};
    PyObject* const colors[] = {s_NAMED_COLORS, s_COLOR_ALIASES};
    PyObject* const styles[] = {s_STYLES};
    PyObject* const detect[] = {s_ColorLevel, s_detect_color_level};
    g_cache.epoch = 0;
    if (!g_own.follow(st.dict.get(), own)) {
        return;
    }
    if (PyObject* ns = plain_namespace(g_own.original(o_colors));
        ns != nullptr && g_colors_ns.follow(ns, colors)) {
        PyObject* named = g_colors_ns.original(c_NAMED_COLORS);
        PyObject* aliases = g_colors_ns.original(c_COLOR_ALIASES);
        if (named != nullptr && PyDict_CheckExact(named)) {
            g_named.follow(named);
        }
        if (aliases != nullptr && PyDict_CheckExact(aliases)) {
            g_aliases.follow(aliases);
        }
    }
    if (PyObject* ns = plain_namespace(g_own.original(o_styles));
        ns != nullptr && g_styles_ns.follow(ns, styles)) {
        PyObject* table = g_styles_ns.original(0);
        if (table != nullptr && PyDict_CheckExact(table)) {
            g_styles_table.follow(table);
        }
    }
    if (PyObject* ns = plain_namespace(g_own.original(o_detect)); ns != nullptr) {
        g_detect_ns.follow(ns, detect);
    }
}

// Whether what parsing reads stands as followed.  (A module's class can
// change without its namespace changing.)
bool tables_stand()
{
    return g_own.holds() && g_colors_ns.holds() && g_styles_ns.holds() && g_named.holds() &&
           g_aliases.holds() && g_styles_table.holds() && plain_module(g_own.original(o_colors)) &&
           plain_module(g_own.original(o_styles));
}

// _detect.detect_color_level, as reading it now would give it.
Ref current_detector()
{
    if (g_own.holds() && g_detect_ns.holds() && plain_module(g_own.original(o_detect)) &&
        g_detect_ns.original(d_detect_color_level) != nullptr) {
        return Ref::borrow(g_detect_ns.original(d_detect_color_level));
    }
    Ref detect = global(g_state, s__detect);
    return detect ? attr(detect.get(), s_detect_color_level) : Ref();
}

// An explicit level wins; otherwise the stream's, detected now.
int resolve_level(PyObject* level, PyObject* stream)
{
    Ref detected;
    if (level == Py_None) {
        Ref fn = current_detector();
        detected = fn ? call(fn.get(), stream) : Ref();
        if (!detected) {
            return -1;
        }
        level = detected.get();
    }
    return check_level(level);
}

// ===========================================================================
// Colours: checked and resolved once, when a style is made.

enum class ColorKind : uint8_t { None, Name, Index, Rgb };

struct Color {
    ColorKind kind = ColorKind::None;
    int index = 0;             // Index
    Rgb rgb = {};              // Rgb
    PyObject* code = nullptr;  // Name: the exact int code (owned by whoever holds the Color)
};

// str.replace(str.replace(str.lower(value), "-", "_"), " ", "_")
Ref normalise(PyObject* value)
{
    std::string_view t = ascii_view(value);
    if (!t.empty() || PyUnicode_GET_LENGTH(value) == 0) {
        bool same = PyUnicode_CheckExact(value);
        for (char c : t) {
            same = same && !(c >= 'A' && c <= 'Z') && c != '-' && c != ' ';
        }
        if (same) {
            return Ref::borrow(value);
        }
        Ref out = Ref::steal(PyUnicode_New(static_cast<Py_ssize_t>(t.size()), 127));
        if (!out) {
            return out;
        }
        auto* q = static_cast<char*>(PyUnicode_DATA(out.get()));
        for (size_t i = 0; i < t.size(); ++i) {
            const char c = t[i];
            q[i] = (c >= 'A' && c <= 'Z')   ? static_cast<char>(c | 0x20)
                   : (c == '-' || c == ' ') ? '_'
                                            : c;
        }
        return out;
    }
    Ref lowered = call_method(reinterpret_cast<PyObject*>(&PyUnicode_Type), s_lower, value);
    Ref dashed =
        lowered ? Ref::steal(PyUnicode_Replace(lowered.get(), s_dash, s_underscore, -1)) : Ref();
    return dashed ? Ref::steal(PyUnicode_Replace(dashed.get(), s_space, s_underscore, -1)) : Ref();
}

// _colors.<name>, read now.
Ref colors_table(PyObject* name)
{
    Ref colors = global(g_state, s__colors);
    return colors ? attr(colors.get(), name) : Ref();
}

[[gnu::cold]] int raise_unknown_color(PyObject* value)
{
    raise_repr(PyExc_ValueError, "未知颜色名称: ", value);
    return -1;
}

// A colour name: the canonical name and the code, from the current tables.
int named(PyObject* value, Ref& name, Ref& code)
{
    Ref n = normalise(value);
    Ref aliases = n ? colors_table(s_COLOR_ALIASES) : Ref();
    if (!aliases) {
        return -1;
    }
    if (PyDict_CheckExact(aliases.get())) {
        PyObject* target = nullptr;
        const int found = PyDict_GetItemRef(aliases.get(), n.get(), &target);
        if (found < 0) {
            return -1;
        }
        if (found != 0) {
            n = Ref::steal(target);
            g_ran_code += PyUnicode_CheckExact(n.get()) ? 0 : 1;
        }
    } else if (!(n = call_method(aliases.get(), s_get, n.get(), n.get()))) {
        return -1;
    }
    if (!PyUnicode_Check(n.get())) {
        return raise_unknown_color(value);
    }
    Ref table = colors_table(s_NAMED_COLORS);
    const int known = table ? PySequence_Contains(table.get(), n.get()) : -1;
    if (known <= 0) {
        return known < 0 ? -1 : raise_unknown_color(value);
    }
    table = colors_table(s_NAMED_COLORS);
    Ref c = table ? Ref::steal(PyObject_GetItem(table.get(), n.get())) : Ref();
    if (!c) {
        return -1;
    }
    if (!PyLong_Check(c.get()) || PyBool_Check(c.get())) {
        raise_repr(PyExc_TypeError, "颜色码须为 int，收到: ", c.get());
        return -1;
    }
    name = PyUnicode_CheckExact(n.get()) ? std::move(n) : Ref::steal(PyUnicode_FromObject(n.get()));
    code = exact_int(c.get());
    return name && code ? 0 : -1;
}

// "#rrggbb" of three components.
Ref hex_text(const Rgb& c)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    char text[7] = {'#'};
    const int v[3] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) {
        text[1 + 2 * i] = kDigits[v[i] >> 4];
        text[2 + 2 * i] = kDigits[v[i] & 15];
    }
    return Ref::steal(PyUnicode_FromStringAndSize(text, 7));
}

constexpr const char* kComponentType = "RGB 分量须为 int，收到: ";
constexpr const char* kComponentRange = "RGB 分量须在 0-255 范围内，收到: ";

// One component of a tuple colour: 1 if good, 0 with an exception raised
// about the tuple, -1 on another error.
int check_component(PyObject* item, PyObject* tuple)
{
    if (!PyLong_Check(item) || PyBool_Check(item)) {
        raise_repr(PyExc_TypeError, kComponentType, tuple);
        return 0;
    }
    const int ok = in_range(item, i_0, i_255, 0, 255);
    if (ok == 0) {
        raise_repr(PyExc_ValueError, kComponentRange, tuple);
    }
    return ok;
}

// The three components of a tuple colour, checked component by component.
int check_rgb(PyObject* value, Rgb& rgb)
{
    const bool exact = PyTuple_CheckExact(value);
    const Py_ssize_t size = exact ? PyTuple_GET_SIZE(value) : PyObject_Size(value);
    if (size < 0) {
        return -1;
    }
    if (size != 3) {
        raise_repr(PyExc_ValueError, "RGB 元组须有 3 个分量，收到: ", value);
        return -1;
    }
    int v[3] = {};
    if (exact) {
        for (int i = 0; i < 3; ++i) {
            PyObject* item = PyTuple_GET_ITEM(value, i);
            if (check_component(item, value) <= 0) {
                return -1;
            }
            Ref n = exact_int(item);
            if (!n || (v[i] = static_cast<int>(small_value(n.get(), 0, 255))) < 0) {
                if (n) {
                    raise_repr(PyExc_ValueError, kComponentRange, value);
                }
                return -1;
            }
        }
        rgb = {v[0], v[1], v[2]};
        return 0;
    }
    // A subclass: iterated as often as the checks and the copy ask.
    Ref it = Ref::steal(PyObject_GetIter(value));
    while (it) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            break;
        }
        if (check_component(item.get(), value) <= 0) {
            return -1;
        }
    }
    if (PyErr_Occurred()) {
        return -1;
    }
    it = Ref::steal(PyObject_GetIter(value));
    int count = 0;
    while (it) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            break;
        }
        if (!PyLong_Check(item.get())) {
            raise_repr(PyExc_TypeError, kComponentType, value);
            return -1;
        }
        Ref n = exact_int(item.get());
        if (!n) {
            return -1;
        }
        const long x = small_value(n.get(), 0, 255);
        if (x < 0 || count == 3) {
            raise_repr(PyExc_ValueError,
                       x < 0 ? kComponentRange : "RGB 元组须有 3 个分量，收到: ", value);
            return -1;
        }
        v[count++] = static_cast<int>(x);
    }
    if (PyErr_Occurred()) {
        return -1;
    }
    if (count != 3) {
        raise_repr(PyExc_ValueError, "RGB 元组须有 3 个分量，收到: ", value);
        return -1;
    }
    rgb = {v[0], v[1], v[2]};
    return 0;
}

constexpr const char* kIndexRange = "256 色索引须在 0-255 范围内，收到: ";

// A colour as a caller gives it: its canonical field and its resolved colour.
// 0, or -1 with an exception.  On success color.code is a new reference.
int check_color(PyObject* value, Ref& field, Color& color, Ref& code)
{
    if (PyUnicode_Check(value)) {
        if (PyUnicode_GET_LENGTH(value) > 0 && PyUnicode_READ_CHAR(value, 0) == '#') {
            int rgb[3];
            if (!hex_rgb(ascii_view(value), rgb)) {
                raise_repr(PyExc_ValueError, "无法解析十六进制颜色: ", value,
                           "，期望格式 #RGB 或 #RRGGBB");
                return -1;
            }
            color = {ColorKind::Rgb, 0, {rgb[0], rgb[1], rgb[2]}, nullptr};
            field = hex_text(color.rgb);
            return field ? 0 : -1;
        }
        if (named(value, field, code) < 0) {
            return -1;
        }
        color = {ColorKind::Name, 0, {}, code.get()};
        return 0;
    }
    if (PyBool_Check(value) || !(PyLong_Check(value) || PyTuple_Check(value))) {
        raise_type_named(PyExc_TypeError, "不支持的颜色类型: ", value);
        return -1;
    }
    if (PyLong_Check(value)) {
        const int ok = in_range(value, i_0, i_255, 0, 255);
        if (ok <= 0) {
            if (ok == 0) {
                raise_repr(PyExc_ValueError, kIndexRange, value);
            }
            return -1;
        }
        field = exact_int(value);
        const long n = field ? small_value(field.get(), 0, 255) : -1;
        if (n < 0) {
            if (field) {
                raise_repr(PyExc_ValueError, kIndexRange, value);
            }
            return -1;
        }
        color = {ColorKind::Index, static_cast<int>(n), {}, nullptr};
        return 0;
    }
    Rgb rgb;
    if (check_rgb(value, rgb) < 0) {
        return -1;
    }
    field = Ref::steal(Py_BuildValue("(iii)", rgb.r, rgb.g, rgb.b));
    color = {ColorKind::Rgb, 0, rgb, nullptr};
    return field ? 0 : -1;
}

// Small non-negative numbers written into a writer.
int write_number(PyUnicodeWriter* w, long v)
{
    char digits[24];
    int n = 0;
    do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return PyUnicodeWriter_WriteUTF8(w, digits + sizeof digits - n, n);
}

// The SGR parameters of a resolved colour at level 1-3.
int write_segment(PyUnicodeWriter* w, const Color& c, int level, bool background)
{
    make_tables();
    const char* layer = background ? "48" : "38";
    switch (c.kind) {
        case ColorKind::Name: {
            int overflow = 0;
            const long v = PyLong_AsLongAndOverflow(c.code, &overflow);
            const bool shift =
                background && (overflow < 0 || (overflow == 0 && (v < 40 || (v >= 90 && v <= 97))));
            Ref code = shift ? Ref::steal(PyNumber_Add(c.code, i_10)) : Ref::borrow(c.code);
            return code ? PyUnicodeWriter_WriteStr(w, code.get()) : -1;
        }
        case ColorKind::Index:
            if (level >= 2) {
                return PyUnicodeWriter_WriteUTF8(w, layer, 2) < 0 ||
                               PyUnicodeWriter_WriteUTF8(w, ";5;", 3) < 0
                           ? -1
                           : write_number(w, c.index);
            }
            return write_number(
                w, basic_code(c.index < 16 ? c.index : nearest_16(g_tables.palette[c.index]),
                              background));
        case ColorKind::Rgb:
            if (level == 3) {
                if (PyUnicodeWriter_WriteUTF8(w, layer, 2) < 0 ||
                    PyUnicodeWriter_WriteUTF8(w, ";2;", 3) < 0 || write_number(w, c.rgb.r) < 0 ||
                    PyUnicodeWriter_WriteChar(w, ';') < 0 || write_number(w, c.rgb.g) < 0 ||
                    PyUnicodeWriter_WriteChar(w, ';') < 0) {
                    return -1;
                }
                return write_number(w, c.rgb.b);
            }
            if (level == 2) {
                return PyUnicodeWriter_WriteUTF8(w, layer, 2) < 0 ||
                               PyUnicodeWriter_WriteUTF8(w, ";5;", 3) < 0
                           ? -1
                           : write_number(w, nearest_256(c.rgb));
            }
            return write_number(w, basic_code(nearest_16(oklab(c.rgb)), background));
        case ColorKind::None:
            break;
    }
    return 0;
}

// A canonical colour field as the style string writes it.
int write_color_text(PyUnicodeWriter* w, PyObject* field)
{
    if (PyLong_Check(field)) {
        return PyUnicodeWriter_WriteUTF8(w, "color(", 6) < 0 ||
                       PyUnicodeWriter_WriteStr(w, field) < 0
                   ? -1
                   : PyUnicodeWriter_WriteChar(w, ')');
    }
    if (PyTuple_Check(field)) {
        if (PyUnicodeWriter_WriteUTF8(w, "rgb(", 4) < 0) {
            return -1;
        }
        for (Py_ssize_t i = 0; i < 3; ++i) {
            if (PyUnicodeWriter_WriteStr(w, PyTuple_GET_ITEM(field, i)) < 0 ||
                PyUnicodeWriter_WriteChar(w, i < 2 ? ',' : ')') < 0) {
                return -1;
            }
        }
        return 0;
    }
    return PyUnicodeWriter_WriteStr(w, field);
}

// A writer's text: finished, or discarded on failure.
class Writer {
public:
    Writer() : w_(PyUnicodeWriter_Create(0)) {}
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer()
    {
        if (w_ != nullptr) {
            PyUnicodeWriter_Discard(w_);
        }
    }
    [[nodiscard]] PyUnicodeWriter* get() const { return w_; }
    Ref finish()
    {
        return w_ != nullptr ? Ref::steal(PyUnicodeWriter_Finish(std::exchange(w_, nullptr)))
                             : Ref();
    }

private:
    PyUnicodeWriter* w_;
};

// ===========================================================================
// Style

struct AttributeCode {
    Py_ssize_t rank;  // place in STYLES when the style was made
    int index;        // in ATTRIBUTES
    bool value;
    PyObject* on;  // exact ints (owned)
    PyObject* off;
};

constexpr int kMaxOffs = kNumAttributes + 2;

struct StyleObject {
    PyObject_HEAD PyObject* fields;  // (fg, bg, bold, ..., overline), canonical: equality and hash
    Py_hash_t hash;
    Color colors[2];  // fg, bg; their codes owned
    int ncodes;
    AttributeCode codes[kNumAttributes];  // the set attributes, in STYLES order
    // The off codes of everything the style sets, as decimal text: an
    // embedded SGR carrying one of them undoes the style.
    int noffs;
    PyObject* off_text[kMaxOffs];  // owned
    std::string_view offs[kMaxOffs];
    PyObject* prefix[4];  // per level, made when first asked for
    PyObject* suffix[4];
};

Held g_style_type;
Held g_style_new;  // Style.__new__, the function object

PyTypeObject* style_type_object()
{
    return reinterpret_cast<PyTypeObject*>(g_style_type.get());
}

bool is_style(PyObject* obj)
{
    return g_style_type && Py_IS_TYPE(obj, style_type_object());
}

StyleObject* as_style(PyObject* obj)
{
    return reinterpret_cast<StyleObject*>(obj);
}

// self of a Style method, which may be called through the class with
// anything.
[[gnu::cold]] void raise_not_style(const char* method, PyObject* obj)
{
    Ref name = type_name(obj);
    if (name) {
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%s' for 'Style' objects doesn't apply to a '%U' object", method,
                     name.get());
    }
}

Ref new_style_object()
{
    Ref obj = Ref::steal(style_type_object()->tp_alloc(style_type_object(), 0));
    if (obj) {
        as_style(obj.get())->hash = -1;
    }
    return obj;
}

// The off codes a style's SGRs can undo it with, worked out from its
// attribute codes and colours.
int make_offs(StyleObject* st)
{
    auto add = [st](PyObject* code) {
        Ref text = Ref::steal(PyObject_Str(code));
        Py_ssize_t len = 0;
        const char* data = text ? PyUnicode_AsUTF8AndSize(text.get(), &len) : nullptr;
        if (data == nullptr) {
            return -1;
        }
        st->offs[st->noffs] = std::string_view(data, static_cast<size_t>(len));
        st->off_text[st->noffs++] = text.release();
        return 0;
    };
    for (int i = 0; i < st->ncodes; ++i) {
        if (add(st->codes[i].off) < 0) {
            return -1;
        }
    }
    if ((st->colors[0].kind != ColorKind::None && add(i_39) < 0) ||
        (st->colors[1].kind != ColorKind::None && add(i_49) < 0)) {
        return -1;
    }
    return 0;
}

// For each attribute, its place among the attribute names of STYLES (10:
// not found), read by iterating the table as `for key in table` does.
class Ranks {
public:
    // 0 or -1.
    int read(PyObject* table)
    {
        for (Py_ssize_t& r : rank_) {
            r = -1;
        }
        if (PyDict_CheckExact(table) && read_plain(table)) {
            return 0;
        }
        return read_generic(table);
    }
    // The rank of attribute i: 0 or -1.
    int get(int i, Py_ssize_t& out) const
    {
        if (!dict_) {
            out = rank_[i] >= 0 ? rank_[i] : kNumAttributes;
            return 0;
        }
        PyObject* value = nullptr;
        const int found = PyDict_GetItemRef(dict_.get(), s_attribute[i], &value);
        Ref owned = Ref::steal(value);
        if (found < 0) {
            return -1;
        }
        out = found != 0 ? PyLong_AsSsize_t(value) : kNumAttributes;
        return 0;
    }
    static Held index;  // {name: i} of the ten attributes

private:
    // A plain dict whose keys are all exact strs: nothing it does runs code.
    bool read_plain(PyObject* table)
    {
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        Py_ssize_t count = 0;
        while (PyDict_Next(table, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) {
                return false;
            }
            const int i = attribute_name(ascii_view(key));
            if (i >= 0 && rank_[i] < 0) {
                rank_[i] = count++;
            }
        }
        return true;
    }
    int read_generic(PyObject* table)
    {
        for (Py_ssize_t& r : rank_) {
            r = -1;
        }
        dict_ = Ref::steal(PyDict_New());
        Ref it = dict_ ? Ref::steal(PyObject_GetIter(table)) : Ref();
        if (!it) {
            return -1;
        }
        while (Ref key = Ref::steal(PyIter_Next(it.get()))) {
            int t = PyDict_Contains(index.get(), key.get());
            if (t > 0) {
                t = PyDict_Contains(dict_.get(), key.get());
                if (t == 0) {
                    Ref n = Ref::steal(PyLong_FromSsize_t(PyDict_GET_SIZE(dict_.get())));
                    t = n ? PyDict_SetItem(dict_.get(), key.get(), n.get()) : -1;
                }
            }
            if (t < 0) {
                return -1;
            }
        }
        return PyErr_Occurred() ? -1 : 0;
    }

    Py_ssize_t rank_[kNumAttributes];
    Ref dict_;
};
Held Ranks::index;

constexpr const char* kPairMessage = "样式码须为两个 int，收到: ";

// An entry of STYLES: (on, off), two ints in a tuple or list.
int entry_codes(PyObject* entry, Ref& on, Ref& off)
{
    int ok = 0;
    if (PyTuple_Check(entry) || PyList_Check(entry)) {
        const bool exact = PyTuple_CheckExact(entry) || PyList_CheckExact(entry);
        g_ran_code += exact ? 0 : 1;
        const Py_ssize_t size = exact ? PySequence_Fast_GET_SIZE(entry) : PyObject_Size(entry);
        if (size < 0) {
            return -1;
        }
        if (size == 2 && exact) {
            PyObject** items = PySequence_Fast_ITEMS(entry);
            ok = PyLong_Check(items[0]) && !PyBool_Check(items[0]) && PyLong_Check(items[1]) &&
                 !PyBool_Check(items[1]);
        } else if (size == 2) {
            Ref it = Ref::steal(PyObject_GetIter(entry));
            if (!it) {
                return -1;
            }
            ok = 1;
            while (ok) {
                Ref item = Ref::steal(PyIter_Next(it.get()));
                if (!item) {
                    break;
                }
                ok = PyLong_Check(item.get()) && !PyBool_Check(item.get());
            }
            if (PyErr_Occurred()) {
                return -1;
            }
        }
    }
    if (!ok) {
        raise_repr(PyExc_TypeError, kPairMessage, entry);
        return -1;
    }
    Ref items[2];
    if (unpack(entry, items, 2) < 0) {
        return -1;
    }
    for (const Ref& item : items) {
        if (!PyLong_Check(item.get())) {
            raise_repr(PyExc_TypeError, kPairMessage, entry);
            return -1;
        }
    }
    on = exact_int(items[0].get());
    off = exact_int(items[1].get());
    return on && off ? 0 : -1;
}

void sort_codes(StyleObject* st)
{
    for (int k = 1; k < st->ncodes; ++k) {
        const AttributeCode c = st->codes[k];
        int j = k;
        for (; j > 0; --j) {
            const AttributeCode& p = st->codes[j - 1];
            if (p.rank < c.rank || (p.rank == c.rank && p.index < c.index)) {
                break;
            }
            st->codes[j] = p;
        }
        st->codes[j] = c;
    }
}

// The codes the current STYLES gives the set attributes, in STYLES order.
int attribute_codes(StyleObject* st, Attributes values)
{
    Ref styles = global(g_state, s__styles);
    Ref table = styles ? attr(styles.get(), s_STYLES) : Ref();
    Ranks ranks;
    if (!table || ranks.read(table.get()) < 0) {
        return -1;
    }
    for (int i = 0; i < kNumAttributes; ++i) {
        if (values[i] == Py_None) {
            continue;
        }
        PyObject* name = s_attribute[i];
        const int known = PySequence_Contains(table.get(), name);
        if (known <= 0) {
            if (known == 0) {
                raise_repr(PyExc_ValueError, "未知样式: ", name);
            }
            return -1;
        }
        Ref entry = Ref::steal(PyObject_GetItem(table.get(), name));
        Ref on;
        Ref off;
        Py_ssize_t rank = 0;
        if (!entry || entry_codes(entry.get(), on, off) < 0 || ranks.get(i, rank) < 0) {
            return -1;
        }
        st->codes[st->ncodes++] = {rank, i, values[i] == Py_True, on.release(), off.release()};
    }
    sort_codes(st);
    return 0;
}

constexpr const char* kAttributeType = "须为 True、False 或 None，收到: ";

// Style(fg, bg, **attributes): everything checked, in the twin's order.
Ref new_style(PyObject* fg, PyObject* bg, Attributes values)
{
    Ref obj = new_style_object();
    if (!obj) {
        return obj;
    }
    StyleObject* st = as_style(obj.get());
    Ref fields[2];
    PyObject* const given[2] = {fg, bg};
    for (int i = 0; i < 2; ++i) {
        if (given[i] == Py_None) {
            fields[i] = Ref::borrow(Py_None);
            continue;
        }
        Ref code;
        if (check_color(given[i], fields[i], st->colors[i], code) < 0) {
            return {};
        }
        st->colors[i].code = code.release();
    }
    for (int i = 0; i < kNumAttributes; ++i) {
        PyObject* v = values[i];
        if (v != Py_None && v != Py_True && v != Py_False) {
            PyErr_Format(PyExc_TypeError, "%s%s %s%R", "样式属性 ", kAttributes[i], kAttributeType,
                         v);
            return {};
        }
    }
    if (attribute_codes(st, values) < 0 || make_offs(st) < 0) {
        return {};
    }
    st->fields = PyTuple_New(2 + kNumAttributes);
    if (st->fields == nullptr) {
        return {};
    }
    PyTuple_SET_ITEM(st->fields, 0, fields[0].release());
    PyTuple_SET_ITEM(st->fields, 1, fields[1].release());
    for (int i = 0; i < kNumAttributes; ++i) {
        PyTuple_SET_ITEM(st->fields, 2 + i, Ref::borrow(values[i]).release());
    }
    return obj;
}

// The prefix and suffix at level 1-3, made once.  0 or -1.
int make_codes(StyleObject* st, int level)
{
    if (st->prefix[level] != nullptr) {
        return 0;
    }
    Writer pre;
    Writer post;
    if (pre.get() == nullptr || post.get() == nullptr) {
        return -1;
    }
    // The prefix: the off codes of False attributes, the on codes of True
    // ones (each code once), the foreground, the background.
    PyObject* seen[kNumAttributes];
    int nseen = 0;
    int npre = 0;
    for (const bool value : {false, true}) {
        for (int i = 0; i < st->ncodes; ++i) {
            const AttributeCode& c = st->codes[i];
            PyObject* code = value ? c.on : c.off;
            bool dup = c.value != value;
            for (int k = 0; k < nseen && !dup; ++k) {
                dup = PyObject_RichCompareBool(seen[k], code, Py_EQ) == 1;
            }
            if (dup) {
                continue;
            }
            seen[nseen++] = code;
            if ((npre++ != 0 && PyUnicodeWriter_WriteChar(pre.get(), ';') < 0) ||
                PyUnicodeWriter_WriteStr(pre.get(), code) < 0) {
                return -1;
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (st->colors[i].kind == ColorKind::None) {
            continue;
        }
        if ((npre++ != 0 && PyUnicodeWriter_WriteChar(pre.get(), ';') < 0) ||
            write_segment(pre.get(), st->colors[i], level, i == 1) < 0) {
            return -1;
        }
    }
    // The suffix: the off codes of True attributes, 39 and 49, each once.
    PyObject* written[kMaxOffs];
    int npost = 0;
    auto add_off = [&](PyObject* code) {
        for (int k = 0; k < npost; ++k) {
            if (PyObject_RichCompareBool(written[k], code, Py_EQ) == 1) {
                return 0;
            }
        }
        written[npost] = code;
        return (npost++ != 0 && PyUnicodeWriter_WriteChar(post.get(), ';') < 0) ||
                       PyUnicodeWriter_WriteStr(post.get(), code) < 0
                   ? -1
                   : 0;
    };
    for (int i = 0; i < st->ncodes; ++i) {
        if (st->codes[i].value && add_off(st->codes[i].off) < 0) {
            return -1;
        }
    }
    if ((st->colors[0].kind != ColorKind::None && add_off(i_39) < 0) ||
        (st->colors[1].kind != ColorKind::None && add_off(i_49) < 0)) {
        return -1;
    }
    Ref prefix;
    Ref suffix;
    if (npre == 0) {
        prefix = Ref::borrow(s_empty);
    } else {
        Ref body = pre.finish();
        prefix = body ? Ref::steal(PyUnicode_FromFormat("\x1b[%Um", body.get())) : Ref();
    }
    if (npost == 0) {
        suffix = Ref::borrow(s_empty);
    } else {
        Ref body = post.finish();
        suffix = body ? Ref::steal(PyUnicode_FromFormat("\x1b[%Um", body.get())) : Ref();
    }
    if (!prefix || !suffix) {
        return -1;
    }
    st->prefix[level] = prefix.release();
    st->suffix[level] = suffix.release();
    return 0;
}

// ---------------------------------------------------------------------------
// Styled text

[[gnu::cold]] PyObject* raise_too_long()
{
    PyErr_SetString(PyExc_OverflowError, "styled text is too long for a Python string");
    return nullptr;
}

template <typename Ch>
Ref styled_kind(PyObject* s, PyObject* prefix, PyObject* suffix,
                std::span<const std::string_view> offs)
{
    const auto* p = static_cast<const Ch*>(PyUnicode_DATA(s));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const Py_ssize_t lp = PyUnicode_GET_LENGTH(prefix);
    const Py_ssize_t ls = PyUnicode_GET_LENGTH(suffix);
    // The prefix is written again after every SGR that undoes it.
    Py_ssize_t again = 0;
    const bool escapes = find_esc(p, 0, n) >= 0;
    for (Py_ssize_t at = 0; escapes && (at = next_reopening(p, n, at, offs)) >= 0;) {
        ++again;
    }
    Py_ssize_t total = 0;
    if (__builtin_mul_overflow(again + 1, lp, &total) || __builtin_add_overflow(total, n, &total) ||
        __builtin_add_overflow(total, ls, &total)) {
        return Ref::steal(raise_too_long());
    }
    Ref out = Ref::steal(PyUnicode_New(total, PyUnicode_MAX_CHAR_VALUE(s)));
    if (!out) {
        return out;
    }
    const auto* pre = static_cast<const Py_UCS1*>(PyUnicode_DATA(prefix));
    Ch* o = copy_chars(static_cast<Ch*>(PyUnicode_DATA(out.get())), pre, lp);
    Py_ssize_t start = 0;
    for (Py_ssize_t at = 0; again != 0 && (at = next_reopening(p, n, at, offs)) >= 0;) {
        o = copy_chars(o, p + start, at - start);
        o = copy_chars(o, pre, lp);
        start = at;
    }
    o = copy_chars(o, p + start, n - start);
    copy_chars(o, static_cast<const Py_UCS1*>(PyUnicode_DATA(suffix)), ls);
    return out;
}

// s (an exact str) between prefix and suffix (exact ASCII strs).
Ref styled(PyObject* s, PyObject* prefix, PyObject* suffix, std::span<const std::string_view> offs)
{
    if (PyUnicode_GET_LENGTH(s) == 0 || PyUnicode_GET_LENGTH(prefix) == 0) {
        return Ref::borrow(s);
    }
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND:
            return styled_kind<Py_UCS1>(s, prefix, suffix, offs);
        case PyUnicode_2BYTE_KIND:
            return styled_kind<Py_UCS2>(s, prefix, suffix, offs);
        default:
            return styled_kind<Py_UCS4>(s, prefix, suffix, offs);
    }
}

std::span<const std::string_view> style_offs(const StyleObject* st)
{
    return {st->offs, static_cast<size_t>(st->noffs)};
}

// style.render(text, level=level, stream=stream)
Ref render(StyleObject* st, PyObject* text, PyObject* level, PyObject* stream)
{
    const int n = resolve_level(level, stream);
    Ref s = n >= 0 ? text_of(text) : Ref();
    if (!s || n == 0) {
        return s;
    }
    if (make_codes(st, n) < 0) {
        return {};
    }
    return styled(s.get(), st->prefix[n], st->suffix[n], style_offs(st));
}

// ---------------------------------------------------------------------------
// Style strings

// The constructor arguments a style string spells.
struct Spelled {
    Ref fg;
    Ref bg;
    PyObject* attrs[kNumAttributes] = {};  // True, False or unset
};

[[gnu::cold]] int raise_token(const char* text, PyObject* token)
{
    raise_repr(PyExc_ValueError, text, token);
    return -1;
}

constexpr const char* kBadToken = "无法解析的样式标记: ";

// The colour of a style-string token.
Ref color_token(PyObject* token)
{
    const std::string_view t = ascii_view(token);
    if (const int n = color_number(t); n >= 0) {
        if (n <= 255) {
            return Ref::steal(PyLong_FromLong(n));
        }
    } else if (int rgb[3]; rgb_numbers(t, rgb)) {
        if (rgb[0] <= 255 && rgb[1] <= 255 && rgb[2] <= 255) {
            return Ref::steal(Py_BuildValue("(iii)", rgb[0], rgb[1], rgb[2]));
        }
    } else if (PyUnicode_GET_LENGTH(token) > 0 && PyUnicode_READ_CHAR(token, 0) == '#') {
        if (int c[3]; hex_rgb(t, c)) {
            return Ref::borrow(token);
        }
    } else {
        Ref name;
        Ref code;
        if (named(token, name, code) == 0) {
            return name;
        }
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
            return {};
        }
        PyErr_Clear();
    }
    raise_token(kBadToken, token);
    return {};
}

int spell(PyObject* text, Spelled& out)
{
    Ref tokens = Ref::steal(PyUnicode_Split(text, nullptr, -1));
    if (!tokens) {
        return -1;
    }
    const Py_ssize_t n = PyList_GET_SIZE(tokens.get());
    for (Py_ssize_t i = 0; i < n;) {
        // The list is ours alone: its items stay while it does.
        PyObject* token = PyList_GET_ITEM(tokens.get(), i++);
        if (PyUnicode_EqualToUTF8(token, "on")) {
            if (i == n) {
                return raise_token("'on' 之后缺少背景色: ", token);
            }
            token = PyList_GET_ITEM(tokens.get(), i++);
            Ref value = color_token(token);
            if (!value) {
                return -1;
            }
            if (out.bg) {
                return raise_token("背景色重复: ", token);
            }
            out.bg = std::move(value);
            continue;
        }
        PyObject* value = Py_True;
        if (PyUnicode_EqualToUTF8(token, "not")) {
            if (i == n) {
                return raise_token(kBadToken, token);
            }
            token = PyList_GET_ITEM(tokens.get(), i++);
            value = Py_False;
            if (attribute_word(ascii_view(token)) < 0) {
                return raise_token(kBadToken, token);
            }
        }
        if (const int a = attribute_word(ascii_view(token)); a >= 0) {
            if (out.attrs[a] != nullptr && out.attrs[a] != value) {
                return raise_token("样式属性冲突: ", token);
            }
            out.attrs[a] = value;
            continue;
        }
        Ref color = color_token(token);
        if (!color) {
            return -1;
        }
        if (out.fg) {
            return raise_token("前景色重复: ", token);
        }
        out.fg = std::move(color);
    }
    return 0;
}

// Style.parse(text) for a str.
Ref parse_style(PyObject* text)
{
    Spelled spelled;
    if (spell(text, spelled) < 0) {
        return {};
    }
    PyObject* values[kNumAttributes];
    for (int i = 0; i < kNumAttributes; ++i) {
        values[i] = spelled.attrs[i] != nullptr ? spelled.attrs[i] : Py_None;
    }
    return new_style(spelled.fg ? spelled.fg.get() : Py_None,
                     spelled.bg ? spelled.bg.get() : Py_None, values);
}

// Style.parse(text), handed out again for an exact str parsed at the
// current epoch while the tables stand.  A style is kept only if nothing
// moved while it was built, not even a change reported but not landed yet
// (a call made from another extension's dict watcher).
Ref parsed_style(PyObject* text)
{
    const uint64_t epoch = Watched::epoch();
    if (!PyUnicode_CheckExact(text) || epoch == 0) {
        return parse_style(text);
    }
    ParseCache& cache = g_cache;
    ParseCache::Recent& recent = cache.recent[(reinterpret_cast<uintptr_t>(text) >> 4) & 7];
    // An entry of the current epoch was made or found while the tables
    // stood at this epoch, and they still do: only a change, which moves
    // the epoch, could undo that.  A module's class changes without one.
    if (cache.epoch == epoch && recent.text.get() == text &&
        plain_module(g_own.original(o_colors)) && plain_module(g_own.original(o_styles))) {
        return recent.style.ref();
    }
    if (!tables_stand()) {
        return parse_style(text);
    }
    if (cache.epoch != epoch) {
        if (cache.parsed) {
            PyDict_Clear(cache.parsed.get());  // exact str keys and Styles: runs no code
        }
        for (ParseCache::Recent& r : cache.recent) {
            r.text.set({});
            r.style.set({});
        }
        cache.epoch = epoch;
    }
    PyObject* found = nullptr;
    if (cache.parsed && PyDict_GetItemRef(cache.parsed.get(), text, &found) < 0) {
        return {};
    }
    Ref style = Ref::steal(found);
    if (!style) {
        const uint64_t ran_code = g_ran_code;
        style = parse_style(text);
        if (!style || g_ran_code != ran_code || Watched::epoch() != epoch || !tables_stand() ||
            cache.epoch != epoch) {
            return style;
        }
        if (!cache.parsed && !cache.parsed.set(Ref::steal(PyDict_New()))) {
            PyErr_Clear();
            return style;
        }
        if (PyDict_GET_SIZE(cache.parsed.get()) < ParseCache::kMaxEntries &&
            PyDict_SetItem(cache.parsed.get(), text, style.get()) < 0) {
            PyErr_Clear();
            return style;
        }
    }
    recent.style.set(style.dup());
    recent.text.set(Ref::borrow(text));
    return style;
}

// paint's and echo's style argument as a Style.
Ref to_style(PyObject* style)
{
    if (is_style(style)) {
        return Ref::borrow(style);
    }
    if (PyUnicode_Check(style)) {
        return parsed_style(style);
    }
    raise_type_named(PyExc_TypeError, "样式须为 Style、str 或 None，收到: ", style);
    return {};
}

// ---------------------------------------------------------------------------
// The Style type's slots

void style_dealloc(PyObject* op)
{
    PyTypeObject* type = Py_TYPE(op);
    StyleObject* st = as_style(op);
    Py_XDECREF(st->fields);
    for (Color& c : st->colors) {
        Py_XDECREF(c.code);
    }
    for (int i = 0; i < st->ncodes; ++i) {
        Py_XDECREF(st->codes[i].on);
        Py_XDECREF(st->codes[i].off);
    }
    for (int i = 0; i < st->noffs; ++i) {
        Py_XDECREF(st->off_text[i]);
    }
    for (int level = 0; level < 4; ++level) {
        Py_XDECREF(st->prefix[level]);
        Py_XDECREF(st->suffix[level]);
    }
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* style_repr(PyObject* op)
{
    StyleObject* st = as_style(op);
    Writer w;
    if (w.get() == nullptr || PyUnicodeWriter_WriteUTF8(w.get(), "Style(", 6) < 0) {
        return nullptr;
    }
    int written = 0;
    for (Py_ssize_t i = 0; i < 2 + kNumAttributes; ++i) {
        PyObject* value = PyTuple_GET_ITEM(st->fields, i);
        if (value == Py_None) {
            continue;
        }
        const char* name = i == 0 ? "fg" : i == 1 ? "bg" : kAttributes[i - 2];
        if ((written++ != 0 && PyUnicodeWriter_WriteUTF8(w.get(), ", ", 2) < 0) ||
            PyUnicodeWriter_WriteUTF8(w.get(), name, -1) < 0 ||
            PyUnicodeWriter_WriteChar(w.get(), '=') < 0 ||
            PyUnicodeWriter_WriteRepr(w.get(), value) < 0) {
            return nullptr;
        }
    }
    if (PyUnicodeWriter_WriteChar(w.get(), ')') < 0) {
        return nullptr;
    }
    return w.finish().release();
}

PyObject* style_str(PyObject* op)
{
    StyleObject* st = as_style(op);
    Writer w;
    if (w.get() == nullptr) {
        return nullptr;
    }
    int written = 0;
    auto space = [&]() { return written++ != 0 ? PyUnicodeWriter_WriteChar(w.get(), ' ') : 0; };
    for (int i = 0; i < st->ncodes; ++i) {
        const AttributeCode& c = st->codes[i];
        if (space() < 0 || (!c.value && PyUnicodeWriter_WriteUTF8(w.get(), "not ", 4) < 0) ||
            PyUnicodeWriter_WriteUTF8(w.get(), kAttributes[c.index], -1) < 0) {
            return nullptr;
        }
    }
    PyObject* fg = PyTuple_GET_ITEM(st->fields, 0);
    PyObject* bg = PyTuple_GET_ITEM(st->fields, 1);
    if (fg != Py_None && (space() < 0 || write_color_text(w.get(), fg) < 0)) {
        return nullptr;
    }
    if (bg != Py_None && (space() < 0 || PyUnicodeWriter_WriteUTF8(w.get(), "on ", 3) < 0 ||
                          write_color_text(w.get(), bg) < 0)) {
        return nullptr;
    }
    return w.finish().release();
}

Py_hash_t style_hash(PyObject* op)
{
    StyleObject* st = as_style(op);
    if (st->hash == -1) {
        st->hash = PyObject_Hash(st->fields);
    }
    return st->hash;
}

PyObject* style_richcompare(PyObject* a, PyObject* b, int op)
{
    if (!is_style(a) || !is_style(b) || (op != Py_EQ && op != Py_NE)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    // The fields are strs, ints, tuples of ints, bools and None.
    return PyObject_RichCompare(as_style(a)->fields, as_style(b)->fields, op);
}

int style_setattro(PyObject*, PyObject*, PyObject*)
{
    PyErr_SetString(PyExc_AttributeError, "Style 对象不可修改");
    return -1;
}

// a + b: field by field, b winning where it is not None; each field keeps
// what was resolved for it.
PyObject* style_add(PyObject* a, PyObject* b)
{
    if (!is_style(a) || !is_style(b)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    const StyleObject* x = as_style(a);
    const StyleObject* y = as_style(b);
    Ref obj = new_style_object();
    if (!obj) {
        return nullptr;
    }
    StyleObject* st = as_style(obj.get());
    st->fields = PyTuple_New(2 + kNumAttributes);
    if (st->fields == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < 2 + kNumAttributes; ++i) {
        PyObject* v = PyTuple_GET_ITEM(y->fields, i);
        PyObject* chosen = v != Py_None ? v : PyTuple_GET_ITEM(x->fields, i);
        PyTuple_SET_ITEM(st->fields, i, Py_NewRef(chosen));
    }
    for (int i = 0; i < 2; ++i) {
        st->colors[i] = PyTuple_GET_ITEM(y->fields, i) != Py_None ? y->colors[i] : x->colors[i];
        Py_XINCREF(st->colors[i].code);
    }
    for (const StyleObject* side : {x, y}) {
        for (int k = 0; k < side->ncodes; ++k) {
            const AttributeCode& c = side->codes[k];
            int j = 0;
            while (j < st->ncodes && st->codes[j].index != c.index) {
                ++j;
            }
            if (j == st->ncodes) {
                st->codes[st->ncodes++] = {0, c.index, false, nullptr, nullptr};
            }
            Py_XDECREF(st->codes[j].on);
            Py_XDECREF(st->codes[j].off);
            st->codes[j] = {c.rank, c.index, c.value, Py_NewRef(c.on), Py_NewRef(c.off)};
        }
    }
    sort_codes(st);
    return make_offs(st) < 0 ? nullptr : obj.release();
}

PyObject* style_field(PyObject* op, void* closure)
{
    const auto i = reinterpret_cast<intptr_t>(closure);
    return Py_NewRef(PyTuple_GET_ITEM(as_style(op)->fields, i));
}

// Style(...) calls Style.__new__, the function object.
PyObject* style_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    return construct_vectorcall(g_style_new.get(), type, args, nargsf, kwnames);
}

PyObject* style_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    return construct(g_style_new.get(), reinterpret_cast<PyObject*>(type), args, kwargs);
}

// ---------------------------------------------------------------------------
// Style's methods

// Style(fg=None, bg=None, *, bold=None, ..., overline=None)
Ref style_new(Function&, PyObject*, PyObject* fg, PyObject* bg, PyObject* bold, PyObject* dim,
              PyObject* italic, PyObject* underline, PyObject* blink, PyObject* blink_fast,
              PyObject* reverse, PyObject* hidden, PyObject* strikethrough, PyObject* overline)
{
    PyObject* const values[kNumAttributes] = {
        bold, dim, italic, underline, blink, blink_fast, reverse, hidden, strikethrough, overline,
    };
    return new_style(fg, bg, values);
}

// Style.parse(text)
Ref style_parse(Function&, PyObject*, PyObject* text)
{
    if (!PyUnicode_Check(text)) {
        raise_type_named(PyExc_TypeError, "样式须为 str，收到: ", text);
        return {};
    }
    return parse_style(text);
}

// style.codes(level)
Ref style_codes(Function&, PyObject* self, PyObject* level)
{
    if (!is_style(self)) {
        raise_not_style("codes", self);
        return {};
    }
    const int n = check_level(level);
    if (n <= 0) {
        return n < 0 ? Ref() : Ref::steal(PyTuple_Pack(2, s_empty.get(), s_empty.get()));
    }
    StyleObject* st = as_style(self);
    return make_codes(st, n) < 0 ? Ref()
                                 : Ref::steal(PyTuple_Pack(2, st->prefix[n], st->suffix[n]));
}

// style.render(text, *, level=None, stream=None)
Ref style_render(Function&, PyObject* self, PyObject* text, PyObject* level, PyObject* stream)
{
    if (!is_style(self)) {
        raise_not_style("render", self);
        return {};
    }
    return render(as_style(self), text, level, stream);
}

Ref make_pen(StyleObject* st, PyObject* level_object, int level);

// style.bind(stream=None, *, level=None)
Ref style_bind(Function&, PyObject* self, PyObject* stream, PyObject* level)
{
    if (!is_style(self)) {
        raise_not_style("bind", self);
        return {};
    }
    const int n = resolve_level(level, stream);
    if (n < 0) {
        return {};
    }
    Ref detect = global(g_state, s__detect);
    Ref cls = detect ? attr(detect.get(), s_ColorLevel) : Ref();
    Ref number = cls ? Ref::steal(PyLong_FromLong(n)) : Ref();
    Ref member = number ? call(cls.get(), number.get()) : Ref();
    return member ? make_pen(as_style(self), member.get(), n) : Ref();
}

// ===========================================================================
// Pen: a style bound to a level.

struct PenObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    PyObject* style;
    PyObject* level;
    PyObject* prefix;
    PyObject* suffix;
};

Held g_pen_type;
Held g_pen_call;  // Pen.__call__, the function object

PyTypeObject* pen_type_object()
{
    return reinterpret_cast<PyTypeObject*>(g_pen_type.get());
}

// pen(text)
Ref pen_styled(PenObject* pen, PyObject* text)
{
    Ref s = text_of(text);
    if (!s) {
        return s;
    }
    return styled(s.get(), pen->prefix, pen->suffix, style_offs(as_style(pen->style)));
}

PyObject* pen_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    if (PyVectorcall_NARGS(nargsf) == 1 && kwnames == nullptr) {
        PyObject* result = pen_styled(reinterpret_cast<PenObject*>(self), args[0]).release();
        if (result == nullptr) {
            add_traceback(*reinterpret_cast<Function*>(g_pen_call.get()));
        }
        return result;
    }
    return construct_vectorcall(g_pen_call.get(), self, args, nargsf, kwnames);
}

Ref make_pen(StyleObject* st, PyObject* level_object, int level)
{
    if (level != 0 && make_codes(st, level) < 0) {
        return {};
    }
    auto* pen = PyObject_GC_New(PenObject, pen_type_object());
    if (pen == nullptr) {
        return {};
    }
    pen->vectorcall = pen_vectorcall;
    pen->style = Ref::borrow(reinterpret_cast<PyObject*>(st)).release();
    pen->level = Ref::borrow(level_object).release();
    pen->prefix = Ref::borrow(level != 0 ? st->prefix[level] : s_empty.get()).release();
    pen->suffix = Ref::borrow(level != 0 ? st->suffix[level] : s_empty.get()).release();
    PyObject_GC_Track(pen);
    return Ref::steal(reinterpret_cast<PyObject*>(pen));
}

// pen(text), called through Pen.__call__
Ref pen_call(Function&, PyObject* self, PyObject* text)
{
    if (!g_pen_type || !Py_IS_TYPE(self, pen_type_object())) {
        Ref name = type_name(self);
        if (name) {
            PyErr_Format(PyExc_TypeError,
                         "descriptor '__call__' for 'Pen' objects doesn't apply to a '%U' object",
                         name.get());
        }
        return {};
    }
    return pen_styled(reinterpret_cast<PenObject*>(self), text);
}

int pen_traverse(PyObject* op, visitproc visit, void* arg)
{
    auto* pen = reinterpret_cast<PenObject*>(op);
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(pen->style);
    Py_VISIT(pen->level);
    return 0;
}

int pen_clear(PyObject* op)
{
    auto* pen = reinterpret_cast<PenObject*>(op);
    Py_CLEAR(pen->level);
    return 0;
}

void pen_dealloc(PyObject* op)
{
    PyTypeObject* type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    auto* pen = reinterpret_cast<PenObject*>(op);
    Py_CLEAR(pen->style);
    Py_CLEAR(pen->level);
    Py_CLEAR(pen->prefix);
    Py_CLEAR(pen->suffix);
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* pen_repr(PyObject* op)
{
    auto* pen = reinterpret_cast<PenObject*>(op);
    if (pen->level == nullptr) {
        return PyUnicode_FromString("<Pen>");
    }
    Ref name = attr(pen->level, s_name);
    Ref text = name ? field_text(name.get()) : Ref();
    return text ? PyUnicode_FromFormat("<Pen level=%U style=%R>", text.get(), pen->style) : nullptr;
}

int pen_setattro(PyObject*, PyObject*, PyObject*)
{
    PyErr_SetString(PyExc_AttributeError, "Pen 对象不可修改");
    return -1;
}

PyObject* pen_level(PyObject* op, void*)
{
    auto* pen = reinterpret_cast<PenObject*>(op);
    if (pen->level == nullptr) {
        PyErr_SetString(PyExc_AttributeError, "level");
        return nullptr;
    }
    return Py_NewRef(pen->level);
}

// ===========================================================================
// The module's functions

// paint(text, style=None, /, *, level=None, stream=None)
Ref paint(Function&, PyObject* text, PyObject* style, PyObject* level, PyObject* stream)
{
    if (style == Py_None) {
        if (level != Py_None && check_level(level) < 0) {
            return {};
        }
        return text_of(text);
    }
    Ref st = to_style(style);
    return st ? render(as_style(st.get()), text, level, stream) : Ref();
}

// echo(text, style=None, /, *, file=None, end="\n", flush=False)
Ref echo(Function&, PyObject* text, PyObject* style, PyObject* file, PyObject* end, PyObject* flush)
{
    Ref st;
    if (style != Py_None && !(st = to_style(style))) {
        return {};
    }
    if (end == Py_None) {
        end = s_newline;
    } else if (!PyUnicode_Check(end)) {
        raise_type_named(PyExc_TypeError, "end 须为 str 或 None，收到: ", end);
        return {};
    }
    Ref out;
    if (file == Py_None) {
        Ref sys = global(g_state, s_sys);
        if (!sys || !(out = attr(sys.get(), s_stdout))) {
            return {};
        }
        if (out.get() == Py_None) {
            return Ref::borrow(Py_None);
        }
        file = out.get();
    }
    Ref s = st ? render(as_style(st.get()), text, Py_None, file) : text_of(text);
    Ref write = s ? attr(file, s_write) : Ref();
    Ref line = write ? Ref::steal(PyNumber_Add(s.get(), end)) : Ref();
    Ref written = line ? call(write.get(), line.get()) : Ref();
    const int t = written ? truth(flush) : -1;
    if (t < 0 || (t == 1 && !call_method(file, s_flush))) {
        return {};
    }
    return Ref::borrow(Py_None);
}

template <typename Ch>
Ref strip_kind(PyObject* text)
{
    const auto* p = static_cast<const Ch*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    // Pass 1: how much stays, and its largest character.
    // What the sequences held goes too: the result may need a smaller kind.
    const bool ascii = PyUnicode_IS_ASCII(text);
    Py_ssize_t kept = 0;
    Py_UCS4 max_char = ascii ? 127 : 0;
    Py_ssize_t start = 0;
    for (Py_ssize_t i = find_esc(p, 0, n);; i = find_esc(p, start, n)) {
        const Py_ssize_t stop = i >= 0 ? i : n;
        kept += stop - start;
        for (Py_ssize_t k = start; k < stop && !ascii; ++k) {
            max_char = p[k] > max_char ? p[k] : max_char;
        }
        if (i < 0) {
            break;
        }
        start = sequence_end(p, n, i);
    }
    Ref out = Ref::steal(PyUnicode_New(kept, max_char));
    if (!out) {
        return out;
    }
    // Pass 2: the kept characters, in the result's kind.
    auto copy = [&]<typename Out>(Out* o) {
        Py_ssize_t from = 0;
        for (Py_ssize_t i = find_esc(p, 0, n);; i = find_esc(p, from, n)) {
            const Py_ssize_t stop = i >= 0 ? i : n;
            o = copy_chars(o, p + from, stop - from);
            if (i < 0) {
                break;
            }
            from = sequence_end(p, n, i);
        }
    };
    void* data = PyUnicode_DATA(out.get());
    switch (PyUnicode_KIND(out.get())) {
        case PyUnicode_1BYTE_KIND:
            copy(static_cast<Py_UCS1*>(data));
            break;
        case PyUnicode_2BYTE_KIND:
            copy(static_cast<Py_UCS2*>(data));
            break;
        default:
            copy(static_cast<Py_UCS4*>(data));
            break;
    }
    return out;
}

// strip(text)
Ref strip(Function&, PyObject* text)
{
    if (!PyUnicode_Check(text)) {
        raise_type_named(PyExc_TypeError, "strip() 的参数须为 str，收到: ", text);
        return {};
    }
    const Py_ssize_t first = PyUnicode_FindChar(text, kEsc, 0, PyUnicode_GET_LENGTH(text), 1);
    if (first < 0) {
        // A subclass's characters as an exact str.
        return Ref::steal(PyUnicode_FromObject(text));
    }
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return strip_kind<Py_UCS1>(text);
        case PyUnicode_2BYTE_KIND:
            return strip_kind<Py_UCS2>(text);
        default:
            return strip_kind<Py_UCS4>(text);
    }
}

// downgrade(color, level, *, background=False)
Ref downgrade(Function&, PyObject* color, PyObject* level, PyObject* background)
{
    Ref field;
    Ref code;
    Color c;
    if (check_color(color, field, c, code) < 0) {
        return {};
    }
    const int n = check_level(level);
    const int bg = n >= 0 ? truth(background) : -1;
    if (bg < 0) {
        return {};
    }
    if (n == 0) {
        return Ref::borrow(s_empty.get());
    }
    Writer w;
    if (w.get() == nullptr || PyUnicodeWriter_WriteUTF8(w.get(), "\x1b[", 2) < 0 ||
        write_segment(w.get(), c, n, bg == 1) < 0 || PyUnicodeWriter_WriteChar(w.get(), 'm') < 0) {
        return {};
    }
    return w.finish();
}

// The three arguments of nearest_256 and nearest_16: ints 0-255.
bool rgb_arguments(PyObject* const* args, Rgb& rgb)
{
    if ((rgb.r = static_cast<int>(small_int(args[0]))) >= 0 &&
        (rgb.g = static_cast<int>(small_int(args[1]))) >= 0 &&
        (rgb.b = static_cast<int>(small_int(args[2]))) >= 0) {
        return true;
    }
    static const char* const kNames[] = {"r", "g", "b"};
    int v[3];
    for (int i = 0; i < 3; ++i) {
        PyObject* value = args[i];
        if (!PyLong_Check(value) || PyBool_Check(value)) {
            PyErr_Format(PyExc_TypeError, "%s%s%R", kNames[i], " 须为 int，收到: ", value);
            return false;
        }
        const int ok = in_range(value, i_0, i_255, 0, 255);
        Ref n = ok == 1 ? exact_int(value) : Ref();
        v[i] = n ? static_cast<int>(small_value(n.get(), 0, 255)) : -1;
        if (v[i] < 0) {
            if (ok == 0 || n) {
                PyErr_Format(PyExc_ValueError, "%s%s%R", kNames[i],
                             " 须在 0-255 范围内，收到: ", value);
            }
            return false;
        }
    }
    rgb = {v[0], v[1], v[2]};
    return true;
}

// nearest_256(r, g, b)
Ref nearest_256_of(Function&, PyObject* r, PyObject* g, PyObject* b)
{
    PyObject* const args[] = {r, g, b};
    Rgb rgb;
    make_tables();
    return rgb_arguments(args, rgb) ? Ref::steal(PyLong_FromLong(nearest_256(rgb))) : Ref();
}

// nearest_16(r, g, b)
Ref nearest_16_of(Function&, PyObject* r, PyObject* g, PyObject* b)
{
    PyObject* const args[] = {r, g, b};
    Rgb rgb;
    make_tables();
    return rgb_arguments(args, rgb) ? Ref::steal(PyLong_FromLong(nearest_16(oklab(rgb)))) : Ref();
}

// ===========================================================================
// The functions as data: each impl unpacks args[] for the function above.

PyObject* default_false()
{
    return Py_False;
}
PyObject* default_newline()
{
    return s_newline.get();
}

constexpr Param kStyleNewParams[] = {
    {.name = "cls"},
    {.name = "fg", .default_none = true},
    {.name = "bg", .default_none = true},
    {.name = "bold", .keyword_only = true, .default_none = true},
    {.name = "dim", .keyword_only = true, .default_none = true},
    {.name = "italic", .keyword_only = true, .default_none = true},
    {.name = "underline", .keyword_only = true, .default_none = true},
    {.name = "blink", .keyword_only = true, .default_none = true},
    {.name = "blink_fast", .keyword_only = true, .default_none = true},
    {.name = "reverse", .keyword_only = true, .default_none = true},
    {.name = "hidden", .keyword_only = true, .default_none = true},
    {.name = "strikethrough", .keyword_only = true, .default_none = true},
    {.name = "overline", .keyword_only = true, .default_none = true},
};
constexpr Param kParseParams[] = {{.name = "cls"}, {.name = "text"}};
constexpr Param kCodesParams[] = {{.name = "self"}, {.name = "level"}};
constexpr Param kRenderParams[] = {
    {.name = "self"},
    {.name = "text"},
    {.name = "level", .keyword_only = true, .default_none = true},
    {.name = "stream", .keyword_only = true, .default_none = true},
};
constexpr Param kBindParams[] = {
    {.name = "self"},
    {.name = "stream", .default_none = true},
    {.name = "level", .keyword_only = true, .default_none = true},
};
constexpr Param kPenCallParams[] = {{.name = "self"}, {.name = "text"}};
constexpr Param kPaintParams[] = {
    {.name = "text"},
    {.name = "style", .default_none = true},
    {.name = "level", .keyword_only = true, .default_none = true},
    {.name = "stream", .keyword_only = true, .default_none = true},
};
constexpr Param kEchoParams[] = {
    {.name = "text"},
    {.name = "style", .default_none = true},
    {.name = "file", .keyword_only = true, .default_none = true},
    {.name = "end", .keyword_only = true, .default_value = default_newline},
    {.name = "flush", .keyword_only = true, .default_value = default_false},
};
constexpr Param kStripParams[] = {{.name = "text", .annotation = "str"}};
constexpr Param kDowngradeParams[] = {
    {.name = "color"},
    {.name = "level"},
    {.name = "background", .keyword_only = true, .default_value = default_false},
};
constexpr Param kRgbParams[] = {
    {.name = "r", .annotation = "int"},
    {.name = "g", .annotation = "int"},
    {.name = "b", .annotation = "int"},
};

constexpr FunctionDef style_new_def{
    .name = "__new__",
    .qualname = "Style.__new__",
    .params = kStyleNewParams,
    .returns = nullptr,
    .doc = nullptr,
    .impl = bind<style_new>,
    .line = 502,
};

constexpr FunctionDef style_parse_def{
    .name = "parse",
    .qualname = "Style.parse",
    .params = kParseParams,
    .returns = nullptr,
    .doc =
        "解析样式字符串，如 'bold red on white'。\n\n"
        "    标记以空白分隔，顺序任意: 样式属性名 (可加前缀 not)、前景色、\n"
        "    on 加背景色。颜色写作名称、#RRGGBB、#RGB、color(N) 或 rgb(R,G,B)。\n    ",
    .impl = bind<style_parse>,
    .line = 548,
};

constexpr FunctionDef style_codes_def{
    .name = "codes",
    .qualname = "Style.codes",
    .params = kCodesParams,
    .returns = nullptr,
    .doc =
        "返回给定色彩级别下的 (前缀, 后缀)。\n\n"
        "    后缀只关闭本样式开启的属性与颜色，从不使用 \\x1b[0m。\n    ",
    .impl = bind<style_codes>,
    .line = 593,
};

constexpr FunctionDef style_render_def{
    .name = "render",
    .qualname = "Style.render",
    .params = kRenderParams,
    .returns = nullptr,
    .doc =
        "按色彩级别为文本加上样式。\n\n"
        "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n"
        "    文本中的重置序列之后会重新写入本样式的前缀，嵌套的样式因此得以保持。\n    ",
    .impl = bind<style_render>,
    .line = 599,
};

constexpr FunctionDef style_bind_def{
    .name = "bind",
    .qualname = "Style.bind",
    .params = kBindParams,
    .returns = nullptr,
    .doc = "返回一支画笔：色彩级别只确定一次，之后 pen(text) 即得带样式文本。",
    .impl = bind<style_bind>,
    .line = 606,
};

constexpr FunctionDef pen_call_def{
    .name = "__call__",
    .qualname = "Pen.__call__",
    .params = kPenCallParams,
    .returns = nullptr,
    .doc = "为文本加上样式。",
    .impl = bind<pen_call>,
    .line = 656,
};

constexpr FunctionDef paint_def{
    .name = "paint",
    .params = kPaintParams,
    .positional_only = 2,
    .returns = "str",
    .doc =
        "按终端能力为文本加上样式。\n\n"
        "    style 可以是 Style、样式字符串或 None (此时原样返回 str(text)，不做检测)。\n"
        "    未指定 level 时检测 stream (默认 sys.stdout) 的色彩级别。\n    ",
    .impl = bind<paint>,
    .line = 675,
};

constexpr FunctionDef echo_def{
    .name = "echo",
    .params = kEchoParams,
    .positional_only = 2,
    .returns = "None",
    .doc =
        "将带样式文本写入 file (默认 sys.stdout)。\n\n"
        "    色彩级别按 file 检测；文本与 end 一次写入。\n    ",
    .impl = bind<echo>,
    .line = 688,
};

constexpr FunctionDef strip_def{
    .name = "strip",
    .params = kStripParams,
    .returns = "str",
    .doc =
        "去除文本中的转义序列。\n\n"
        "    包括 CSI (如颜色与样式)、OSC (如 OSC 8 超链接)、DCS、SOS、PM、APC\n"
        "    及其他 ESC 序列；结尾处未结束的序列一并去除。\n    ",
    .impl = bind<strip>,
    .line = 713,
};

constexpr FunctionDef downgrade_def{
    .name = "downgrade",
    .params = kDowngradeParams,
    .returns = "str",
    .doc =
        "返回一种颜色在给定色彩级别下的完整转义序列。\n\n"
        "    TRUECOLOR 按原样输出；EXTENDED 将十六进制与 RGB 换为最接近的 256 色；\n"
        "    BASIC 换为 16 色；NONE 返回空字符串。\n    ",
    .impl = bind<downgrade>,
    .line = 734,
};

constexpr FunctionDef nearest_256_def{
    .name = "nearest_256",
    .params = kRgbParams,
    .returns = "int",
    .doc =
        "返回 256 色调色板 (16-255) 中最接近的颜色索引。\n\n"
        "    在 Oklab 空间中按欧氏距离比较，距离相同时取较小的索引。\n    ",
    .impl = bind<nearest_256_of>,
    .line = 756,
};

constexpr FunctionDef nearest_16_def{
    .name = "nearest_16",
    .params = kRgbParams,
    .returns = "int",
    .doc =
        "返回 16 色中最接近的颜色索引 (0-15)。\n\n"
        "    先看色相：彩度低于 0.04 的颜色在黑、灰、白、亮白之间选择，\n"
        "    其他颜色取色相最近的基本色及其高亮色；再按 Oklab 距离取较近者。\n    ",
    .impl = bind<nearest_16_of>,
    .line = 764,
};

// ===========================================================================
// The types as data

PyGetSetDef style_getset[] = {
    {"fg", style_field, nullptr, nullptr, reinterpret_cast<void*>(0)},
    {"bg", style_field, nullptr, nullptr, reinterpret_cast<void*>(1)},
    {"bold", style_field, nullptr, nullptr, reinterpret_cast<void*>(2)},
    {"dim", style_field, nullptr, nullptr, reinterpret_cast<void*>(3)},
    {"italic", style_field, nullptr, nullptr, reinterpret_cast<void*>(4)},
    {"underline", style_field, nullptr, nullptr, reinterpret_cast<void*>(5)},
    {"blink", style_field, nullptr, nullptr, reinterpret_cast<void*>(6)},
    {"blink_fast", style_field, nullptr, nullptr, reinterpret_cast<void*>(7)},
    {"reverse", style_field, nullptr, nullptr, reinterpret_cast<void*>(8)},
    {"hidden", style_field, nullptr, nullptr, reinterpret_cast<void*>(9)},
    {"strikethrough", style_field, nullptr, nullptr, reinterpret_cast<void*>(10)},
    {"overline", style_field, nullptr, nullptr, reinterpret_cast<void*>(11)},
    {},
};

PyType_Slot style_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("文本样式：前景色、背景色与十个样式属性。\n\n"
                       "    颜色可以是颜色名称 (如 'red')、十六进制字符串 (如 '#ff8800')、\n"
                       "    256 色索引 (0-255) 或 RGB 元组 (r, g, b)。\n"
                       "    样式属性取 True (开启)、False (关闭) 或 None (不改变)。\n"
                       "    构造时即校验全部参数，并按当时的颜色表与样式表确定转义码。\n    ")},
    {Py_tp_new, reinterpret_cast<void*>(&style_tp_new)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(&style_vectorcall)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&style_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&style_repr)},
    {Py_tp_str, reinterpret_cast<void*>(&style_str)},
    {Py_tp_hash, reinterpret_cast<void*>(&style_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&style_richcompare)},
    {Py_tp_setattro, reinterpret_cast<void*>(&style_setattro)},
    {Py_nb_add, reinterpret_cast<void*>(&style_add)},
    {Py_tp_getset, style_getset},
    {0, nullptr},
};

PyType_Spec style_spec = {
    "tintara.paint.Style", sizeof(StyleObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    style_slots,
};

const Method style_methods[] = {
    {&style_new_def, Bound::Static, &g_style_new},
    {&style_parse_def, Bound::Class},
    {&style_codes_def},
    {&style_render_def},
    {&style_bind_def},
};

PyMemberDef pen_members[] = {
    {"style", Py_T_OBJECT_EX, offsetof(PenObject, style), Py_READONLY, nullptr},
    {"prefix", Py_T_OBJECT_EX, offsetof(PenObject, prefix), Py_READONLY, nullptr},
    {"suffix", Py_T_OBJECT_EX, offsetof(PenObject, suffix), Py_READONLY, nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(PenObject, vectorcall), Py_READONLY, nullptr},
    {},
};

PyGetSetDef pen_getset[] = {
    {"level", pen_level, nullptr, nullptr, nullptr},
    {},
};

PyType_Slot pen_slots[] = {
    {Py_tp_doc, const_cast<char*>("绑定了样式与色彩级别的画笔。")},
    {Py_tp_dealloc, reinterpret_cast<void*>(&pen_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(&pen_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&pen_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(&pen_repr)},
    {Py_tp_call, reinterpret_cast<void*>(&PyVectorcall_Call)},
    {Py_tp_setattro, reinterpret_cast<void*>(&pen_setattro)},
    {Py_tp_members, pen_members},
    {Py_tp_getset, pen_getset},
    {0, nullptr},
};

PyType_Spec pen_spec = {
    "tintara.paint.Pen",
    sizeof(PenObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    pen_slots,
};

const Method pen_methods[] = {
    {&pen_call_def, Bound::Instance, &g_pen_call},
};

// ===========================================================================
// The module body

// import NAME as ALIAS, for a submodule NAME = PACKAGE.SHORT.
int import_as(Module& m, PyObject* name, PyObject* short_name, PyObject* alias)
{
    Ref top = import_module(name, m.state.dict.get());
    return m.set(alias, top ? import_from(top.get(), short_name) : Ref());
}

Ref attribute_names()
{
    Ref names = Ref::steal(PyTuple_New(kNumAttributes));
    for (Py_ssize_t i = 0; names && i < kNumAttributes; ++i) {
        PyTuple_SET_ITEM(names.get(), i, Ref::borrow(s_attribute[i].get()).release());
    }
    return names;
}

int make_index()
{
    Ref index = Ref::steal(PyDict_New());
    for (int i = 0; index && i < kNumAttributes; ++i) {
        Ref n = Ref::steal(PyLong_FromLong(i));
        if (!n || PyDict_SetItem(index.get(), s_attribute[i], n.get()) < 0) {
            return -1;
        }
    }
    if (!index) {
        return -1;
    }
    Ranks::index.set(std::move(index));
    return 0;
}

Ref style_type(Module& m)
{
    Ref type = make_type(m, style_spec, style_methods);
    if (type) {
        g_style_type.set(type.dup());
    }
    return type;
}

int pen_type(Module& m)
{
    Ref type = make_type(m, pen_spec, pen_methods);
    if (!type) {
        return -1;
    }
    g_pen_type.set(std::move(type));
    return 0;
}

int body(Module& m)
{
    if (m.import(s_sys) < 0 || import_as(m, s_tintara_colors, s_colors, s__colors) < 0 ||
        import_as(m, s_tintara_styles, s_styles, s__styles) < 0 ||
        import_as(m, s_tintara_detect, s_detect, s__detect) < 0 ||
        m.set(s_ATTRIBUTES, attribute_names()) < 0 || make_index() < 0 || pen_type(m) < 0 ||
        m.set(s_Style, style_type(m)) < 0 || m.def(paint_def) < 0 || m.def(echo_def) < 0 ||
        m.def(strip_def) < 0 || m.def(downgrade_def) < 0 || m.def(nearest_256_def) < 0 ||
        m.def(nearest_16_def) < 0) {
        return -1;
    }
    // From here on the shortcuts may rely on what the body bound.
    follow_tables(m.state);
    return 0;
}

const ModuleSpec kSpec{
    .short_name = "paint",
    .full_name = "tintara.paint",
    .file_name = "tintara/paint.py",
    .doc = "带样式文本：按终端能力输出颜色与样式。\n",
    .body = body,
    .builtins = {},
};

}  // namespace
}  // namespace tintara::paint

PyMODINIT_FUNC PyInit_paint()
{
    return tintara::module_init(tintara::paint::kSpec, tintara::paint::g_state);
}
