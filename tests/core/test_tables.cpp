// The compiled tables and name look-ups.
#include "core/tables.hpp"
#include "tests/core/check.hpp"

#include <string>
#include <string_view>

using namespace tintara::core;

namespace {

int color_code(std::string_view s)
{
    return kColorCodes.find(reinterpret_cast<const unsigned char*>(s.data()), s.size(), true);
}

// What the tables say, found the slow way: each byte through kFold, then
// compared with every name.
int reference(std::string_view s, bool fold)
{
    std::string key(s);
    for (char& c : key) {
        c = fold ? static_cast<char>(kFold[static_cast<unsigned char>(c)]) : c;
    }
    if (!fold) {
        for (size_t i = 0; i < std::size(kStyles); ++i) {
            if (kStyles[i].name == key) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    for (const NamedColor& c : kNamedColors) {
        if (c.name == key) {
            return c.code;
        }
    }
    for (const Alias& a : kAliases) {
        if (a.alias == key) {
            return reference(a.target, true);
        }
    }
    return -1;
}

int style_index(std::string_view s)
{
    return kStyleIndex.find(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

// name with '_' as c and the letters at the positions in mask upper-cased.
std::string spelled(std::string_view name, char c, unsigned mask)
{
    std::string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '_') {
            out[i] = c;
        } else if ((mask >> (i % 16)) & 1) {
            out[i] = static_cast<char>(out[i] >= 'a' && out[i] <= 'z' ? out[i] - 32 : out[i]);
        }
    }
    return out;
}

}  // namespace

int main()
{
    // Every name in every spelling the colour-name folding accepts.
    for (const NamedColor& c : kNamedColors) {
        for (char sep : {'_', '-', ' '}) {
            for (unsigned mask : {0u, 0xffffu, 0x5555u, 0x2u}) {
                CHECK(color_code(spelled(c.name, sep, mask)) == c.code);
            }
        }
    }
    // An alias gives its target's code.
    for (const Alias& a : kAliases) {
        int target = -1;
        for (const NamedColor& c : kNamedColors) {
            target = c.name == a.target ? c.code : target;
        }
        CHECK(target > 0 && color_code(a.alias) == target);
        CHECK(color_code(spelled(a.alias, '-', 0xffff)) == target);
    }
    // Not names: near misses, a NUL byte where padding would be, too long.
    for (std::string_view s : {"", "re", "redd", "bright_", "brightred", "bright__red", "orange",
                               "bright_magentaa", "magenta_"}) {
        CHECK(color_code(s) == -1);
    }
    CHECK(color_code(std::string_view("red\0", 4)) == -1);
    CHECK(color_code(std::string_view("bright_magenta\0\0", 16)) == -1);
    CHECK(color_code("bright_magenta_xy") == -1);  // 17 bytes
    // Bytes above 127 never fold into a name.
    CHECK(color_code("r\xc3\xa9"
                     "d") == -1);

    // Texts of every length up to 17 made of the names' letters, both cases,
    // the separators, NUL and bytes above 127, and the names themselves with
    // one byte changed: the look-ups agree with the slow way.
    uint64_t state = 1;
    const auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<unsigned>(state >> 33);
    };
    const std::string_view alphabet("abcdeghiklmnoprstuwyBEGRTY-_ \0\x80\xc3", 29);
    for (int round = 0; round < 200000; ++round) {
        std::string t;
        if (round % 2 == 0) {
            t.resize(next() % 18);
            for (char& c : t) {
                c = alphabet[next() % alphabet.size()];
            }
        } else {
            const auto names = round % 4 == 1 ? std::string_view(kNamedColors[next() % 16].name)
                                              : std::string_view(kStyles[next() % 12].name);
            t = names;
            t[next() % t.size()] = alphabet[next() % alphabet.size()];
        }
        CHECK_EQ(color_code(t), reference(t, true));
        CHECK_EQ(style_index(t), reference(t, false));
    }

    // Style names are exact: no folding.
    for (size_t i = 0; i < std::size(kStyles); ++i) {
        CHECK(style_index(kStyles[i].name) == static_cast<int>(i));
    }
    for (std::string_view s :
         {"Bold", "BOLD", "blink-fast", "blink fast", "", "strikethroughs", "overlin"}) {
        CHECK(style_index(s) == -1);
    }
    CHECK(style_index(std::string_view("dim\0", 4)) == -1);

    // Hex digits and components.
    int rgb[3];
    const auto hex = [&](std::string_view s, size_t digits) {
        return hex_components(reinterpret_cast<const unsigned char*>(s.data()), s.size(), digits,
                              rgb);
    };
    CHECK(hex("#ff8800", 6) && rgb[0] == 255 && rgb[1] == 136 && rgb[2] == 0);
    CHECK(hex("#F80", 3) && rgb[0] == 255 && rgb[1] == 136 && rgb[2] == 0);
    CHECK(hex("#aBc", 3) && rgb[0] == 0xaa && rgb[1] == 0xbb && rgb[2] == 0xcc);
    for (std::string_view s : {"#ff880", "#ff88000", "ff8800", "#gg8800", "#ff 800", "#ff880\n"}) {
        CHECK(!hex(s, 6));
    }
    CHECK(!hex("#f8", 3) && !hex("#f8g", 3) && !hex("", 3));

    // The background shift: +10 below 40 and in 90..97 only.
    for (long code : {0L, 30L, 37L, 39L, 90L, 97L, -5L}) {
        CHECK(shifts_to_background(code));
    }
    for (long code : {40L, 47L, 89L, 98L, 107L, 255L}) {
        CHECK(!shifts_to_background(code));
    }
    return tintara::test::report();
}
