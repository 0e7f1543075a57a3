// The shapes of style-string tokens.
#include "core/tokens.hpp"

#include "core/tables.hpp"

namespace tintara::core {

// t[from, from + n), which must lie within t (substr() would throw).
namespace {

std::string_view slice(std::string_view t, size_t from, size_t n)
{
    return {t.data() + from, n};
}

}  // namespace

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

bool hex_rgb(std::string_view t, int out[3])
{
    const auto* text = reinterpret_cast<const unsigned char*>(t.data());
    return hex_components(text, t.size(), 6, out) || hex_components(text, t.size(), 3, out);
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

}  // namespace tintara::core
