// The tables the module bodies build their dicts from, and the pieces of a
// colour argument that colors and paint both read: names folded as colour
// names are, hex digits, the background shift.
//
// While a module's tables are still the ones its body made, a name is looked
// up here instead of in the dicts: packed into two words, hashed once, and
// compared with the one entry its hash leads to.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tintara::core {

struct NamedColor {
    std::string_view name;
    int code;
};
inline constexpr NamedColor kNamedColors[] = {
    {"black", 30},        {"red", 31},
    {"green", 32},        {"yellow", 33},
    {"blue", 34},         {"magenta", 35},
    {"cyan", 36},         {"white", 37},
    {"bright_black", 90}, {"bright_red", 91},
    {"bright_green", 92}, {"bright_yellow", 93},
    {"bright_blue", 94},  {"bright_magenta", 95},
    {"bright_cyan", 96},  {"bright_white", 97},
};

struct Alias {
    std::string_view alias;
    std::string_view target;
};
inline constexpr Alias kAliases[] = {
    {"grey", "bright_black"},        {"gray", "bright_black"},
    {"purple", "magenta"},           {"bright_grey", "bright_black"},
    {"bright_gray", "bright_black"}, {"bright_purple", "bright_magenta"},
};

struct StyleCodes {
    std::string_view name;
    int on;
    int off;
};
inline constexpr StyleCodes kStyles[] = {
    {"bold", 1, 22},          {"dim", 2, 22},        {"italic", 3, 23},  {"underline", 4, 24},
    {"blink", 5, 25},         {"blink_fast", 6, 25}, {"reverse", 7, 27}, {"hidden", 8, 28},
    {"strikethrough", 9, 29}, {"strike", 9, 29},     {"conceal", 8, 28}, {"overline", 53, 55},
};

// The code of a named colour as a background: +10 below 40 and in 90..97.
constexpr bool shifts_to_background(long code)
{
    return code < 40 || (code >= 90 && code <= 97);
}

// Each byte of a colour name as it is normalised: A-Z lowered, '-' and ' '
// turned into '_'.  Bytes above 127 stay as they are.
inline constexpr auto kFold = [] {
    std::array<unsigned char, 256> fold{};
    for (int c = 0; c < 256; ++c) {
        fold[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z'   ? c | 0x20
                                             : c == '-' || c == ' ' ? '_'
                                                                    : c);
    }
    return fold;
}();

// The value of each byte as a hexadecimal digit, -1 for any other byte: a
// table look-up, whose branch random colours cannot mispredict.
inline constexpr auto kHexValue = [] {
    std::array<signed char, 256> value{};
    for (int c = 0; c < 256; ++c) {
        value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                   : -1);
    }
    return value;
}();

// "#" and then `digits` (3 or 6) hex digits, exactly the n bytes of text:
// the three components, each 0-255.
inline bool hex_components(const unsigned char* text, size_t n, size_t digits, int out[3])
{
    if (n != digits + 1 || text[0] != '#') {
        return false;
    }
    int v[6];
    int bad = 0;  // the digits tested once, not one by one
    for (size_t i = 0; i < digits; ++i) {
        v[i] = kHexValue[text[1 + i]];
        bad |= v[i];
    }
    if (bad < 0) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = digits == 6 ? v[2 * i] * 16 + v[2 * i + 1] : v[i] * 17;
    }
    return true;
}

// A table of up to 32 names, each at most 16 bytes, found by a perfect hash
// of the name packed into two words.
class NameTable {
public:
    struct Entry {
        uint64_t lo = ~uint64_t{0};  // no name packs to this
        uint64_t hi = 0;
        size_t n = 0;  // a NUL byte packs as padding does: the length tells
        int value = -1;
    };
    static constexpr size_t kLongest = 16;

    template <size_t N>
    consteval NameTable(const std::string_view (&names)[N], const int (&values)[N])
    {
        static_assert(N <= 32);
        for (multiplier_ = 0x9E3779B97F4A7C15ull;; multiplier_ += 0x2545F4914F6CDD1Dull) {
            slots_ = {};
            bool clash = false;
            for (size_t i = 0; i < N && !clash; ++i) {
                const auto [lo, hi] = pack(names[i]);
                Entry& e = slots_[slot(lo, hi)];
                clash = e.value >= 0;
                e = {lo, hi, names[i].size(), values[i]};
            }
            if (!clash) {
                break;
            }
        }
    }

    // The value of the n bytes at text, or -1.  With fold, the bytes are
    // read as a colour name is normalised: A-Z lowered, '-' and ' ' read as
    // '_' (no byte above 127 folds into a name).
    [[nodiscard]] int find(const unsigned char* text, size_t n, bool fold = false) const noexcept
    {
        if (n > kLongest) {
            return -1;
        }
        uint64_t lo = 0;
        uint64_t hi = 0;
        gather(text, n, lo, hi);
        if (fold) {
            if (((lo | hi) & kHigh) != 0) {
                return -1;
            }
            lo = folded(lo);
            hi = n > 8 ? folded(hi) : 0;
        }
        const Entry& e = slots_[slot(lo, hi)];
        return e.lo == lo && e.hi == hi && e.n == n ? e.value : -1;
    }

private:
    static constexpr size_t kSlots = 64;
    struct Packed {
        uint64_t lo;
        uint64_t hi;
    };
    // The bytes of a name in the order a little-endian load reads them.
    static consteval Packed pack(std::string_view s)
    {
        Packed p{0, 0};
        for (size_t i = 0; i < s.size(); ++i) {
            (i < 8 ? p.lo : p.hi) |= uint64_t{static_cast<unsigned char>(s[i])} << (8 * (i % 8));
        }
        return p;
    }
    static constexpr uint64_t kOnes = 0x0101010101010101ull;
    static constexpr uint64_t kHigh = 0x8080808080808080ull;
    static_assert(std::endian::native == std::endian::little, "names are packed as read");

    // The n bytes (n <= 16) at p in two words, zero-padded, read with a few
    // overlapping loads: no loop whose length random names would mispredict.
    static void gather(const unsigned char* p, size_t n, uint64_t& lo, uint64_t& hi) noexcept
    {
        if (n >= 8) {
            std::memcpy(&lo, p, 8);
            std::memcpy(&hi, p + n - 8, 8);
            hi = n == 8 ? 0 : hi >> (8 * (16 - n));
        } else if (n >= 4) {
            uint32_t a;
            uint32_t b;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, p + n - 4, 4);
            lo = a | uint64_t{b} << (8 * (n - 4));
        } else if (n > 0) {
            lo = p[0] | uint64_t{p[n / 2]} << (8 * (n / 2)) | uint64_t{p[n - 1]} << (8 * (n - 1));
        }
    }

    // A word of ASCII bytes folded as a colour name: each byte a lane, no
    // lane carrying into the next (every byte is below 0x80).
    static uint64_t folded(uint64_t w) noexcept
    {
        const auto zero = [](uint64_t x) {  // 0x80 in each lane that is 0
            return ~(((x & ~kHigh) + ~kHigh) | x | ~kHigh);
        };
        const uint64_t upper = (w + 0x3F * kOnes) & ~(w + 0x25 * kOnes) & kHigh;  // 'A'..'Z'
        const uint64_t dash = zero(w ^ ('-' * kOnes)) >> 7;
        const uint64_t space = zero(w ^ (' ' * kOnes)) >> 7;
        return (w | upper >> 2) ^ dash * ('-' ^ '_') ^ space * (' ' ^ '_');
    }

    [[nodiscard]] constexpr size_t slot(uint64_t lo, uint64_t hi) const noexcept
    {
        return static_cast<size_t>(((lo ^ (hi * 0xFF51AFD7ED558CCDull)) * multiplier_) >> 58);
    }

    uint64_t multiplier_ = 0;
    std::array<Entry, kSlots> slots_{};
};

namespace detail {
consteval int code_of(std::string_view name)
{
    for (const NamedColor& c : kNamedColors) {
        if (c.name == name) {
            return c.code;
        }
    }
    return -1;
}
inline constexpr size_t kColorNames = std::size(kNamedColors) + std::size(kAliases);
consteval auto color_names()
{
    std::array<std::string_view, kColorNames> names{};
    size_t i = 0;
    for (const NamedColor& c : kNamedColors) {
        names[i++] = c.name;
    }
    for (const Alias& a : kAliases) {
        names[i++] = a.alias;
    }
    return names;
}
}  // namespace detail

// The code of a colour name or alias, as the tables the colors module body
// makes resolve it.
inline constexpr NameTable kColorCodes = []() consteval
{
    constexpr auto names = detail::color_names();
    std::string_view n[detail::kColorNames];
    int v[detail::kColorNames];
    for (size_t i = 0; i < detail::kColorNames; ++i) {
        n[i] = names[i];
        v[i] = i < std::size(kNamedColors)
                   ? kNamedColors[i].code
                   : detail::code_of(kAliases[i - std::size(kNamedColors)].target);
    }
    return NameTable(n, v);
}
();

// The index in kStyles of a style name.
inline constexpr NameTable kStyleIndex = []() consteval
{
    std::string_view n[std::size(kStyles)];
    int v[std::size(kStyles)];
    for (size_t i = 0; i < std::size(kStyles); ++i) {
        n[i] = kStyles[i].name;
        v[i] = static_cast<int>(i);
    }
    return NameTable(n, v);
}
();

}  // namespace tintara::core
