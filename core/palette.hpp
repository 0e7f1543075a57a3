// The colour science of tintara.paint, in plain C++ (no Python): xterm's
// default palette, Oklab, and the two rules that pick a palette entry for an
// RGB colour.
//
// Every double operation is the one the pure-Python twin does, in the same
// order (the build keeps floating point as written: -ffp-contract=off), so
// both pick the same entry even where two entries nearly tie.
//
// Nothing here runs at load time.  The Oklab tables are made at the first
// call that needs them, in about 50 us, and what nearest_256 compares a
// colour with is worked out for each part of the RGB cube when a colour
// first falls in it (about 1.5 us each, 512 parts).  Any function may be
// called from any thread.
#pragma once

namespace tintara::core {

// An sRGB colour, components 0-255.
struct Rgb {
    int r;
    int g;
    int b;
};

struct Lab {
    double L;
    double a;
    double b;
};

// The RGB of xterm's default palette entry n (0-255).
Rgb palette_rgb(int n);

// The Oklab of a colour (components 0-255): the twin's operations exactly.
Lab oklab(const Rgb& c);

// The Oklab of palette entry n (0-255), the same as oklab(palette_rgb(n)).
const Lab& palette_lab(int n);

// The nearest of palette entries 16-255 to the colour in Oklab, by squared
// Euclidean distance (dl*dl + da*da + db*db); ties go to the lower index.
int nearest_256(const Rgb& c);

// The 16-colour rule, hue first: a colour of low chroma is one of black,
// bright black, white and bright white; any other is the normal colour of
// the nearest hue or its bright twin, whichever is nearer.  Returns 0-15.
int nearest_16(const Rgb& c);

// The SGR code of 16-colour index n (0-15): 30-37 and 90-97, or 40-47 and
// 100-107 for a background.
int basic_code(int n, bool background);

}  // namespace tintara::core
