// The xterm palette and Oklab: the nearest palette entries to a colour.
#pragma once

namespace tintara::core {

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

// xterm's default palette, 0-255.
Rgb palette_rgb(int n);

// Oklab of an sRGB colour (Ottosson's matrices, exact cube roots).
Lab oklab(const Rgb& c);

// Oklab of palette entry n.
const Lab& palette_lab(int n);

// The nearest of palette entries 16-255, ties to the lower index.
int nearest_256(const Rgb& c);

// The 16-colour rule: hue first.
int nearest_16(const Rgb& c);

// The SGR code of 16-colour index n.
int basic_code(int n, bool background);

}  // namespace tintara::core
