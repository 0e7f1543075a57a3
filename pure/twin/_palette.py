"""The xterm palette, Oklab, and the nearest palette entry to a colour.

Used by twin.paint's downgrade, nearest_256 and nearest_16.
"""

import math


def palette_rgb(n):
    """The RGB of xterm's default palette entry n (0-255)."""
    if n < 16:
        return BASIC_RGB[n]
    if n < 232:
        n -= 16
        return (CUBE[n // 36], CUBE[n // 6 % 6], CUBE[n % 6])
    v = 8 + 10 * (n - 232)
    return (v, v, v)


BASIC_RGB = tuple(
    (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16))
    for h in (
        "000000 cd0000 00cd00 cdcd00 0000ee cd00cd 00cdcd e5e5e5 "
        "7f7f7f ff0000 00ff00 ffff00 5c5cff ff00ff 00ffff ffffff"
    ).split()
)
CUBE = (0, 95, 135, 175, 215, 255)


def linear(v):
    """The sRGB transfer function, inverted: component 0-255 to linear light."""
    c = v / 255.0
    if c <= 0.04045:
        return c / 12.92
    return ((c + 0.055) / 1.055) ** 2.4


# Ottosson's matrices, evaluated left to right exactly as written (the
# extension does the same double operations in the same order, so both
# find the same nearest entry even where two entries nearly tie).
def oklab(r, g, b):
    """(L, a, b) of an sRGB colour."""
    r = linear(r)
    g = linear(g)
    b = linear(b)
    l = 0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b
    m = 0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b
    s = 0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b
    l = math.cbrt(l)
    m = math.cbrt(m)
    s = math.cbrt(s)
    return (
        0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
        1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
        0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s,
    )


PALETTE_LAB = tuple(oklab(*palette_rgb(n)) for n in range(256))
# The hue of each normal colour slot 1-6 (red .. cyan).
SLOT_HUE = tuple(math.atan2(PALETTE_LAB[n][2], PALETTE_LAB[n][1]) for n in range(7))
GREYS = (0, 8, 7, 15)
CHROMA_GREY = 0.04
# Below this chroma a colour is muted enough that a grey may serve it
# better than a hue: see index_16.
CHROMA_MUTED = 0.10
LIGHTNESS_GAP = 0.25


def distance(lab, n):
    """The squared Euclidean distance from lab to palette entry n."""
    e = PALETTE_LAB[n]
    dl = lab[0] - e[0]
    da = lab[1] - e[1]
    db = lab[2] - e[2]
    return dl * dl + da * da + db * db


def nearest_of(lab, candidates):
    """The nearest candidate; ties go to the first, so list them ascending."""
    best = candidates[0]
    best_d = distance(lab, best)
    for n in candidates[1:]:
        d = distance(lab, n)
        if d < best_d:
            best, best_d = n, d
    return best


ENTRIES_256 = tuple(range(16, 256))


def index_256(r, g, b):
    return nearest_of(oklab(r, g, b), ENTRIES_256)


def index_16(r, g, b):
    lab = oklab(r, g, b)
    chroma = math.sqrt(lab[1] * lab[1] + lab[2] * lab[2])
    if chroma < CHROMA_GREY:
        return nearest_of(lab, GREYS)
    hue = math.atan2(lab[2], lab[1])
    slot = 1
    best = None
    for n in range(1, 7):
        d = abs(hue - SLOT_HUE[n])
        if d > math.pi:
            d = 2.0 * math.pi - d
        if best is None or d < best:
            slot, best = n, d
    pick = nearest_of(lab, (slot, slot + 8))
    # A muted colour far lighter or darker than the hue's colour (a dark
    # background, a pastel) is better served by black, grey or white.
    if chroma < CHROMA_MUTED and abs(lab[0] - PALETTE_LAB[pick][0]) > LIGHTNESS_GAP:
        return nearest_of(lab, GREYS)
    return pick
