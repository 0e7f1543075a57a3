// The two nearest-colour rules (see palette.hpp).
#include "core/palette.hpp"

#include "core/oklab.hpp"

#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>

namespace tintara::core {
namespace {

// The squared distance from x to palette entry n, as the twin computes it.
double distance(const Tables& t, const Lab& x, int n)
{
    const Lab& e = t.lab[n];
    const double dl = x.L - e.L;
    const double da = x.a - e.a;
    const double db = x.b - e.b;
    return dl * dl + da * da + db * db;
}

// ---------------------------------------------------------------------------
// nearest_256's candidates.
//
// The RGB cube is cut into 8x8x8 cells of side 32, and into 4x4x4 regions
// of side 64.  For each cell, the palette entries 16-255 that can be the
// nearest to some colour in it (its candidates) are worked out when a colour
// first falls in it, from its region's list, itself worked out when a
// colour first falls in the region.  A colour is then compared with its
// cell's candidates only (about 8 of them, 18 at most).
//
// Why a dropped entry is never the answer.  For a colour in a box of
// colours, let t be its LMS and u the cube roots of t, so that its Oklab is
// x = M u.  For entries n and q with Oklab p_n and p_q,
//
//     |x - p_n|^2 - |x - p_q|^2 = N_n - N_q - 2 u.(P_n - P_q)          (1)
//
// with P = M^T p and N = |p|^2: linear in u.  Each of l, m and s is a sum of
// increasing functions of r, g and b, and rounding keeps the order, so over
// the box each lies between its values at the box's darkest and lightest
// corners.  On that interval the cube root, being concave, lies above the
// chord and below any tangent.  Putting the chord for u_k where its
// coefficient in (1) is positive and the tangent where it is negative gives
// a lower bound of (1) that is linear in the channels' linear light, so
// least at a corner of the box.  When that least value exceeds kMargin, q
// is nearer than n to every colour of the box by more than kMargin.
// Rounding moves nothing by as much: the bound's own arithmetic, the cube
// roots and squared distances nearest_256 computes (the twin's too), and a
// C library whose pow or cbrt rounds a unit in the last place differently
// from the one the tables were made with, each change these quantities
// (none above 20 in size) by a few 1e-15 at most.  So n is never the first
// entry at the least computed distance.  Only entries beaten so are
// dropped, and a list, kept in ascending order, holds the first of all 240
// at the least distance, which is the first of it at that distance: ties go
// where a full scan sends them.  tests/core/test_palette.cpp compares
// nearest_256 with a full scan over every colour.

constexpr double kMargin = 1e-12;

// A box's colours as the bound sees them.  For each of l, m and s on the
// box's interval, a line c[0] + s[0] t below the cube root (the chord) and
// one c[1] + s[1] t above it (a tangent).
struct Box {
    double lo[3];  // linear light of each channel's least value in the box
    double hi[3];  // and of its greatest
    double c[2][3];
    double s[2][3];
    Lab middle;  // Oklab at the middle of the cube roots' ranges
};

// The box of side `side` from `at`.
Box make_box(const Tables& t, const Rgb& at, int side)
{
    Box box;
    const Rgb far{at.r + side - 1, at.g + side - 1, at.b + side - 1};
    const int from[3] = {at.r, at.g, at.b};
    const int to[3] = {far.r, far.g, far.b};
    for (int j = 0; j < 3; ++j) {
        box.lo[j] = t.linear[from[j]];
        box.hi[j] = t.linear[to[j]];
    }
    double lo[3];
    double hi[3];
    lms(t, at, lo);
    lms(t, far, hi);
    double mid[3];
    for (int k = 0; k < 3; ++k) {
        const double fa = std::cbrt(lo[k]);
        const double fb = std::cbrt(hi[k]);
        box.s[0][k] = (fb - fa) / (hi[k] - lo[k]);
        box.c[0][k] = fa - box.s[0][k] * lo[k];
        // The tangent where the cube root is f0, at t = f0^3.
        const double f0 = 0.5 * (fa + fb);
        box.s[1][k] = 1.0 / (3.0 * f0 * f0);
        box.c[1][k] = f0 - box.s[1][k] * (f0 * f0 * f0);
        mid[k] = f0;
    }
    double x[3];
    for (int i = 0; i < 3; ++i) {
        x[i] = kToLab[i][0] * mid[0] + kToLab[i][1] * mid[1] + kToLab[i][2] * mid[2];
    }
    box.middle = {x[0], x[1], x[2]};
    return box;
}

// Whether q is nearer than n to every colour of the box by more than
// kMargin: the bound of (1).
bool beats(const Box& box, const Entry& q, const Entry& n)
{
    double least = n.norm - q.norm;
    double slope[3];
    for (int k = 0; k < 3; ++k) {
        const double w = 2.0 * (q.p[k] - n.p[k]);
        const int above = w < 0.0;
        least += w * box.c[above][k];
        slope[k] = w * box.s[above][k];
    }
    for (int j = 0; j < 3; ++j) {
        const double v =
            slope[0] * kToLms[0][j] + slope[1] * kToLms[1][j] + slope[2] * kToLms[2][j];
        // The least of v times the channel's linear light, without a branch.
        const double a = v * box.lo[j];
        const double b = v * box.hi[j];
        least += a < b ? a : b;
    }
    return least > kMargin;
}

// The entries of from[0, count) that none of them beats over the box, in
// the same order, into `out`; returns how many.  The one nearest the box's
// middle beats most; with `pairs`, each of those it leaves is also tried
// against those nearer the middle than it, nearest first (the others hardly
// ever beat it).
int candidates(const Tables& t, const Box& box, const unsigned char* from, int count,
               unsigned char* out, bool pairs)
{
    double near[240];
    int anchor = 0;
    double least = near[0] = distance(t, box.middle, from[0]);
    for (int i = 1; i < count; ++i) {
        near[i] = distance(t, box.middle, from[i]);
        anchor = near[i] < least ? i : anchor;
        least = near[i] < least ? near[i] : least;
    }
    const Entry& q = t.entry[from[anchor]];
    unsigned char left[240];
    int n = 0;
    for (int i = 0; i < count; ++i) {
        // Without a branch: which entries the anchor beats depends on the box.
        // It keeps itself, as no entry beats itself.
        near[n] = near[i];
        left[n] = from[i];
        n += !beats(box, q, t.entry[from[i]]);
    }
    unsigned char order[240];  // positions in `left`, nearest the middle first
    for (int i = 0; i < n; ++i) {
        int k = i;
        for (; k > 0 && near[order[k - 1]] > near[i]; --k) {
            order[k] = order[k - 1];
        }
        order[k] = static_cast<unsigned char>(i);
    }
    bool beaten[240] = {};
    for (int a = 1; pairs && a < n; ++a) {
        const Entry& e = t.entry[left[order[a]]];
        for (int b = 0; b < a && !beaten[order[a]]; ++b) {
            beaten[order[a]] = beats(box, t.entry[left[order[b]]], e);
        }
    }
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (!beaten[i]) {
            out[kept++] = left[i];
        }
    }
    return kept;
}

// A list made once, by the first thread to need it.  Its state is 0 until
// then, 1 while that thread makes it, and 2 once made; a thread that finds
// it 1 uses a longer list meanwhile.
template <int N>
struct alignas(32) List {
    std::atomic<unsigned char> state{0};
    unsigned char count = 0;
    unsigned char entry[N] = {};
};

// Whether the caller is to make the list: the first to ask.
template <int N>
bool claim(List<N>& list)
{
    unsigned char expected = 0;
    return list.state.load(std::memory_order_relaxed) == 0 &&
           list.state.compare_exchange_strong(expected, 1, std::memory_order_relaxed);
}

// Whether the list is made, and may be read.
template <int N>
bool made(const List<N>& list)
{
    return list.state.load(std::memory_order_acquire) == 2;
}

// Entries 16-255.
constexpr struct All {
    unsigned char entry[240];
    constexpr All() : entry()
    {
        for (int n = 0; n < 240; ++n) {
            entry[n] = static_cast<unsigned char>(16 + n);
        }
    }
} kAll;

// A cell's list holds up to kCellMost entries; a longer one (none with
// xterm's palette) leaves the cell to its region's list.
constexpr int kCellMost = 30;

// The regions' lists hold the entries that the one nearest the region's
// middle does not beat (about 74: more tries would cost more than they
// save), the cells' those that no entry of their region's list beats.
constinit List<240> g_regions[64];
constinit List<kCellMost> g_cells[512];

// The list to compare c with when its cell's is not made: made now, or a
// longer one while another thread makes it.
[[gnu::noinline]] const unsigned char* list_of(const Tables& t, const Rgb& c, int& count)
{
    List<240>& region = g_regions[(c.r >> 6) << 4 | (c.g >> 6) << 2 | c.b >> 6];
    if (claim(region)) {
        const Rgb at{c.r & ~63, c.g & ~63, c.b & ~63};
        region.count = static_cast<unsigned char>(
            candidates(t, make_box(t, at, 64), kAll.entry, 240, region.entry, false));
        region.state.store(2, std::memory_order_release);
    }
    const bool whole = !made(region);
    const unsigned char* from = whole ? kAll.entry : region.entry;
    count = whole ? 240 : region.count;
    List<kCellMost>& cell = g_cells[(c.r >> 5) << 6 | (c.g >> 5) << 3 | c.b >> 5];
    if (claim(cell)) {
        const Rgb at{c.r & ~31, c.g & ~31, c.b & ~31};
        unsigned char list[240];
        const int n = candidates(t, make_box(t, at, 32), from, count, list, true);
        cell.count = n <= kCellMost ? static_cast<unsigned char>(n) : 0;
        std::memcpy(cell.entry, list, cell.count);
        cell.state.store(2, std::memory_order_release);
    }
    if (made(cell) && cell.count != 0) {
        count = cell.count;
        return cell.entry;
    }
    return from;
}

}  // namespace

int nearest_256(const Rgb& c)
{
    const Tables& t = tables();
    const List<kCellMost>& cell = g_cells[(c.r >> 5) << 6 | (c.g >> 5) << 3 | c.b >> 5];
    int count = 0;
    const unsigned char* list = nullptr;
    if (made(cell) && cell.count != 0) [[likely]] {
        count = cell.count;
        list = cell.entry;
    } else {
        list = list_of(t, c, count);
    }
    const Lab x = oklab(t, c);
    int best = list[0];
    double best_d = distance(t, x, best);
    for (int i = 1; i < count; ++i) {
        const double d = distance(t, x, list[i]);
        if (d < best_d) {
            best = list[i];
            best_d = d;
        }
    }
    return best;
}

// The 16-colour rule.  A colour whose chroma is under kChromaGrey is grey;
// so is one under kChromaMuted whose lightness is more than kLightnessGap
// from its hue's pick (a dark background, a pastel): black, bright black,
// white or bright white serve it better than a loud colour.
constexpr double kChromaGrey = 0.04;
constexpr double kChromaMuted = 0.10;
constexpr double kLightnessGap = 0.25;

int nearest_16(const Rgb& c)
{
    const Tables& t = tables();
    const Lab x = oklab(t, c);
    // Of a and b, the nearer to x; a when they tie.
    const auto nearer = [&](int a, int b) { return distance(t, x, b) < distance(t, x, a) ? b : a; };
    const auto grey = [&] { return nearer(nearer(nearer(0, 8), 7), 15); };
    const double chroma = std::sqrt(x.a * x.a + x.b * x.b);
    if (chroma < kChromaGrey) {
        return grey();
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
    const int pick = nearer(slot, slot + 8);
    return chroma < kChromaMuted && std::fabs(x.L - t.lab[pick].L) > kLightnessGap ? grey() : pick;
}

int basic_code(int n, bool background)
{
    if (n < 8) {
        return (background ? 40 : 30) + n;
    }
    return (background ? 100 : 90) + n - 8;
}

}  // namespace tintara::core
