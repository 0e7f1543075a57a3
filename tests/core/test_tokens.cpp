// The shapes of style-string tokens.
#include "core/tokens.hpp"
#include "tests/core/check.hpp"

using namespace tintara::core;

int main()
{
    // Numbers: digits only, anything above 255 reads 256, however long.
    CHECK(small_number("0") == 0 && small_number("255") == 255 && small_number("007") == 7);
    CHECK(small_number("256") == 256 && small_number("99999999999999999999999") == 256);
    CHECK(small_number("") == -1 && small_number("-1") == -1 && small_number("1a") == -1);
    CHECK(small_number("+1") == -1 && small_number(" 1") == -1);

    CHECK(color_number("color(0)") == 0 && color_number("color(196)") == 196);
    CHECK(color_number("color(256)") == 256);
    CHECK(color_number("color()") == -1 && color_number("color(1") == -1);
    CHECK(color_number("colour(1)") == -1 && color_number("color(1))") == -1);

    int rgb[3];
    CHECK(rgb_numbers("rgb(1,2,3)", rgb) && rgb[0] == 1 && rgb[1] == 2 && rgb[2] == 3);
    CHECK(rgb_numbers("rgb(300,0,255)", rgb) && rgb[0] == 256 && rgb[2] == 255);
    for (const char* bad : {"rgb(1,2)", "rgb(1,2,3,4)", "rgb(1, 2, 3)", "rgb(,2,3)", "rgb(1,2,3",
                            "rgb()", "rgb(1,2,3)x", "RGB(1,2,3)"}) {
        CHECK(!rgb_numbers(bad, rgb));
    }

    CHECK(hex_rgb("#ff8800", rgb) && rgb[0] == 255 && rgb[1] == 136 && rgb[2] == 0);
    CHECK(hex_rgb("#abc", rgb) && rgb[0] == 0xaa && rgb[2] == 0xcc);
    CHECK(!hex_rgb("#abcd", rgb) && !hex_rgb("#", rgb) && !hex_rgb("", rgb) &&
          !hex_rgb("#ff880g", rgb));

    // Attribute words: the ten names and the two synonyms.
    for (int i = 0; i < kNumAttributes; ++i) {
        CHECK(attribute_name(kAttributes[i]) == i && attribute_word(kAttributes[i]) == i);
    }
    CHECK(attribute_word("strike") == 8 && attribute_word("conceal") == 7);
    CHECK(attribute_name("strike") == -1 && attribute_word("Bold") == -1 &&
          attribute_word("") == -1);
    return tintara::test::report();
}
