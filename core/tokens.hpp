// The shapes of style-string tokens (ASCII text): numbers, colour tokens and
// attribute words.
#pragma once

#include <string_view>

namespace tintara::core {

// The attributes a style sets, in the order of paint's ATTRIBUTES.
inline constexpr std::string_view kAttributes[] = {
    "bold",       "dim",     "italic", "underline",     "blink",
    "blink_fast", "reverse", "hidden", "strikethrough", "overline",
};
inline constexpr int kNumAttributes = 10;

// Digits only: their value, or 256 for any value above 255; -1 otherwise.
int small_number(std::string_view t);

// "color(N)": N (256 for too large), or -1 for another shape.
int color_number(std::string_view t);

// "rgb(R,G,B)": true with the three numbers (256 for too large).
bool rgb_numbers(std::string_view t, int out[3]);

// "#rrggbb" or "#rgb": true with the components.
bool hex_rgb(std::string_view t, int out[3]);

// The index of an attribute name in kAttributes, or -1.
int attribute_name(std::string_view t);

// The attribute a style-string word names (strike and conceal included),
// or -1.
int attribute_word(std::string_view t);

}  // namespace tintara::core
