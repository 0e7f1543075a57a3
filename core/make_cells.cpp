// make_cells OUTPUT: works out, when the core is built, what nearest_256
// compares a colour with.  The RGB cube is cut into 16x16x16 cells of side
// 16; for each, the palette entries 16-255 that can be the nearest to some
// colour in it (its candidates) are written to OUTPUT as C++ for palette.cpp.
// A colour is then compared with its cell's candidates only, and with none
// when there is just one (about a fifth of the cells; a few have more than
// 8).
//
// Why a dropped entry is never the answer.  For a colour in a cell, let t be
// its LMS and u the cube roots of t, so that its Oklab is x = M u.  For
// entries n and q with Oklab p_n and p_q,
//
//     |x - p_n|^2 - |x - p_q|^2 = N_n - N_q - 2 u.(P_n - P_q)          (1)
//
// with P = M^T p and N = |p|^2: linear in u.  Each of l, m and s is a sum of
// increasing functions of r, g and b, and rounding keeps the order, so over
// the cell each lies between its values at the cell's darkest and lightest
// corners.  On that interval the cube root, being concave, lies above the
// chord and below any tangent.  Putting the chord for u_k where its
// coefficient in (1) is positive and the tangent where it is negative gives
// a lower bound of (1) that is linear in the channels' linear light, so
// least at a corner of the cell.  When that least value exceeds kMargin, q
// is nearer than n to every colour of the cell by more than kMargin.
// Rounding moves nothing by as much: the bound's own arithmetic, the cube
// roots and squared distances nearest_256 computes (the twin's too), and a
// C library whose pow or cbrt rounds a unit in the last place differently
// from the one this program ran with, each change these quantities (none
// above 20 in size) by a few 1e-15 at most.  So n is never the first entry
// at the least computed distance.  Only entries beaten so are dropped, and a
// cell's candidates, kept in ascending order, hold the first of all 240 at
// the least distance, which is the first of them at that distance: ties go
// where a full scan sends them.
//
// The lists are worked out for each cell, then again for each of its 64
// cells of side 4 (whose chords and tangents lie closer), and a cell keeps
// the entries any of those keeps.  tests/core/test_palette.cpp compares
// nearest_256 with a full scan over every colour.
#include "core/oklab.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tintara::core {
namespace {

constexpr double kMargin = 1e-12;

// What the bound needs of an entry: P = M^T p and N = |p|^2.
struct Entry {
    double p[3];
    double norm;
};

// A cell's colours as the bound sees them.  For each of l, m and s on the
// cell's interval, a line c[0] + s[0] t below the cube root (the chord) and
// one c[1] + s[1] t above it (a tangent).
struct Box {
    double lo[3];  // linear light of each channel's least value in the cell
    double hi[3];  // and of its greatest
    double c[2][3];
    double s[2][3];
    Lab middle;  // Oklab at the middle of the cube roots' ranges
};

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
        least += v > 0.0 ? v * box.lo[j] : v * box.hi[j];
    }
    return least > kMargin;
}

double distance(const Lab& x, const Lab& e)
{
    const double dl = x.L - e.L;
    const double da = x.a - e.a;
    const double db = x.b - e.b;
    return dl * dl + da * da + db * db;
}

struct List {
    int count = 0;
    unsigned char entry[240];
};

// The entries of `from` that no other beats over the box, in the same
// order.  The one nearest the box's middle beats most others; those it
// leaves are tried against each other.
List candidates(const Tables& t, const Entry* entries, const Box& box, const List& from)
{
    int anchor = 0;
    for (int i = 1; i < from.count; ++i) {
        if (distance(box.middle, t.lab[from.entry[i]]) <
            distance(box.middle, t.lab[from.entry[anchor]])) {
            anchor = i;
        }
    }
    const Entry& q = entries[from.entry[anchor]];
    List left;
    for (int i = 0; i < from.count; ++i) {
        if (i == anchor || !beats(box, q, entries[from.entry[i]])) {
            left.entry[left.count++] = from.entry[i];
        }
    }
    List kept;
    for (int i = 0; i < left.count; ++i) {
        bool beaten = false;
        for (int j = 0; j < left.count && !beaten; ++j) {
            beaten = j != i && beats(box, entries[left.entry[j]], entries[left.entry[i]]);
        }
        if (!beaten) {
            kept.entry[kept.count++] = left.entry[i];
        }
    }
    return kept;
}

int write(FILE* out, const uint64_t* cells, const unsigned char* longer, int longer_size)
{
    std::fprintf(out,
                 "// Made by core/make_cells.cpp when the core is built: do not edit.\n"
                 "// The candidates of each RGB cell of side 16, at (r / 16 * 16 + g / 16) * 16\n"
                 "// + b / 16, in ascending order, one a byte from the lowest.  A cell of more\n"
                 "// than 8 has 0 in its lowest byte and, above, where its list starts in\n"
                 "// kLonger (never at 0): its count, then its entries.\n"
                 "constexpr uint64_t kCells[4096] = {\n");
    for (int i = 0; i < 4096; ++i) {
        std::fprintf(out, "%s0x%016llxull,%s", i % 4 == 0 ? "    " : " ",
                     static_cast<unsigned long long>(cells[i]), i % 4 == 3 ? "\n" : "");
    }
    std::fprintf(out, "};\n\nconstexpr unsigned char kLonger[%d] = {", longer_size);
    for (int i = 0; i < longer_size; ++i) {
        std::fprintf(out, "%s%d,", i % 16 == 0 ? "\n    " : " ", longer[i]);
    }
    std::fprintf(out, "\n};\n");
    return std::ferror(out) ? -1 : 0;
}

int run(const char* path)
{
    const Tables& t = tables();
    Entry entries[256];
    for (int n = 0; n < 256; ++n) {
        const Lab& x = t.lab[n];
        const double p[3] = {x.L, x.a, x.b};
        for (int k = 0; k < 3; ++k) {
            entries[n].p[k] = kToLab[0][k] * p[0] + kToLab[1][k] * p[1] + kToLab[2][k] * p[2];
        }
        entries[n].norm = p[0] * p[0] + p[1] * p[1] + p[2] * p[2];
    }
    List all;
    for (int n = 16; n < 256; ++n) {
        all.entry[all.count++] = static_cast<unsigned char>(n);
    }
    static uint64_t cells[4096];
    // The lists of more than 8, one after another, from 1: a word of 0 would
    // read as a single candidate.
    static unsigned char longer[1 + 4096 * 241];
    int longer_size = 1;
    for (int i = 0; i < 4096; ++i) {
        const Rgb at{(i >> 8) * 16, (i >> 4 & 15) * 16, (i & 15) * 16};
        const List coarse = candidates(t, entries, make_box(t, at, 16), all);
        bool kept[256] = {};
        for (int j = 0; j < 64; ++j) {
            const Rgb sub{at.r + (j >> 4) * 4, at.g + (j >> 2 & 3) * 4, at.b + (j & 3) * 4};
            const List fine = candidates(t, entries, make_box(t, sub, 4), coarse);
            for (int k = 0; k < fine.count; ++k) {
                kept[fine.entry[k]] = true;
            }
        }
        List list;
        for (int n = 16; n < 256; ++n) {
            if (kept[n]) {
                list.entry[list.count++] = static_cast<unsigned char>(n);
            }
        }
        uint64_t word = 0;
        if (list.count <= 8) {
            for (int k = 0; k < list.count; ++k) {
                word |= static_cast<uint64_t>(list.entry[k]) << (8 * k);
            }
        } else {
            word = static_cast<uint64_t>(longer_size) << 8;
            longer[longer_size++] = static_cast<unsigned char>(list.count);
            for (int k = 0; k < list.count; ++k) {
                longer[longer_size++] = list.entry[k];
            }
        }
        cells[i] = word;
    }
    FILE* out = std::fopen(path, "w");
    if (out == nullptr) {
        std::fprintf(stderr, "make_cells: cannot write %s\n", path);
        return 1;
    }
    const int failed = write(out, cells, longer, longer_size);
    if (std::fclose(out) != 0 || failed != 0) {
        std::fprintf(stderr, "make_cells: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace tintara::core

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cells OUTPUT\n");
        return 2;
    }
    return tintara::core::run(argv[1]);
}
