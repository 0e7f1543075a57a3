// Escape sequences in text, over the code units of any str kind (1, 2 or
// 4 bytes each): where they start and end, and which embedded SGRs undo a
// style.  Lengths and positions are code-unit counts.
#pragma once

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace tintara::core {

inline constexpr char32_t kEsc = 0x1b;

template <typename Ch>
ptrdiff_t find_esc(const Ch* s, ptrdiff_t from, ptrdiff_t n)
{
    if (n - from <= 16) {  // short: no call
        for (ptrdiff_t i = from; i < n; ++i) {
            if (s[i] == kEsc) {
                return i;
            }
        }
        return -1;
    }
    if constexpr (sizeof(Ch) == 1) {
        const void* hit =
            from < n ? std::memchr(s + from, kEsc, static_cast<size_t>(n - from)) : nullptr;
        return hit != nullptr ? static_cast<const Ch*>(hit) - s : -1;
    } else {
        for (ptrdiff_t i = from; i < n; ++i) {
            if (s[i] == kEsc) {
                return i;
            }
        }
        return -1;
    }
}

template <typename Ch>
bool in(Ch c, char32_t lo, char32_t hi)
{
    return static_cast<char32_t>(c) >= lo && static_cast<char32_t>(c) <= hi;
}

// The end of the escape sequence that starts at s[i] (an ESC).  A sequence
// left unterminated at the end of the text runs to the end.  A CSI broken
// by a character it cannot hold ends before it, and so does any other
// sequence; a control string (OSC, DCS, SOS, PM, APC) ends at BEL (OSC
// only) or ST, or before any other ESC.
template <typename Ch>
ptrdiff_t sequence_end(const Ch* s, ptrdiff_t n, ptrdiff_t i)
{
    ptrdiff_t j = i + 1;
    if (j == n) {
        return n;
    }
    const char32_t c = s[j];
    if (c == '[') {
        ++j;
        while (j < n && in(s[j], 0x30, 0x3f)) {
            ++j;
        }
        while (j < n && in(s[j], 0x20, 0x2f)) {
            ++j;
        }
        return j < n && in(s[j], 0x40, 0x7e) ? j + 1 : j;
    }
    if (c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_') {
        const bool bel = c == ']';
        for (++j; j < n; ++j) {
            if (s[j] == 0x07 && bel) {
                return j + 1;
            }
            if (s[j] == kEsc) {
                return j + 1 < n && s[j + 1] == '\\' ? j + 2 : j;
            }
        }
        return n;
    }
    while (j < n && in(s[j], 0x20, 0x2f)) {
        ++j;
    }
    return j < n && in(s[j], 0x30, 0x7e) ? j + 1 : j;
}

// One SGR parameter: its characters, and whether they are all digits.
template <typename Ch>
struct Part {
    const Ch* text;
    ptrdiff_t len;

    [[nodiscard]] bool digits() const
    {
        for (ptrdiff_t i = 0; i < len; ++i) {
            if (!in(text[i], '0', '9')) {
                return false;
            }
        }
        return len > 0;
    }
    // Whether the number these digits spell has the decimal text v.
    [[nodiscard]] bool is(std::string_view v) const
    {
        ptrdiff_t i = 0;
        while (i + 1 < len && text[i] == '0') {
            ++i;
        }
        if (len - i != static_cast<ptrdiff_t>(v.size())) {
            return false;
        }
        for (size_t k = 0; k < v.size(); ++k) {
            if (text[i + static_cast<ptrdiff_t>(k)] != static_cast<unsigned char>(v[k])) {
                return false;
            }
        }
        return true;
    }
};

// Whether an embedded SGR with these parameters undoes a style whose off
// codes (as decimal text) are offs: a full reset, or one of those off
// codes.  The arguments of 38, 48 and 58 (5;n and 2;r;g;b) are no codes.
template <typename Ch>
bool reopens(const Ch* p, ptrdiff_t n, std::span<const std::string_view> offs)
{
    bool reset = true;
    for (ptrdiff_t i = 0; i < n && reset; ++i) {
        reset = p[i] == '0' || p[i] == ';';
    }
    if (reset) {
        return true;
    }
    auto part_at = [&](ptrdiff_t start) {
        ptrdiff_t end = start;
        while (end < n && p[end] != ';') {
            ++end;
        }
        return Part<Ch>{p + start, end - start};
    };
    int skip = 0;
    for (ptrdiff_t start = 0; start <= n;) {
        const Part<Ch> part = part_at(start);
        const ptrdiff_t next = start + part.len + 1;
        start = next;
        if (skip > 0) {
            --skip;
            continue;
        }
        if (!part.digits()) {
            continue;
        }
        for (std::string_view off : offs) {
            if (part.is(off)) {
                return true;
            }
        }
        if ((part.is("38") || part.is("48") || part.is("58")) && next <= n) {
            const Part<Ch> kind = part_at(next);
            if (kind.digits()) {
                skip = kind.is("5") ? 2 : kind.is("2") ? 4 : 0;
            }
        }
    }
    return false;
}

// The end of the next SGR at or after `from` that undoes the style, or -1.
// An SGR is a CSI ending in "m" whose parameter bytes are digits, ":" and
// ";" only: no private marker ("<", "=", ">", "?"), no intermediate byte.
template <typename Ch>
ptrdiff_t next_reopening(const Ch* s, ptrdiff_t n, ptrdiff_t from,
                          std::span<const std::string_view> offs)
{
    for (ptrdiff_t i = find_esc(s, from, n); i >= 0;) {
        const ptrdiff_t end = sequence_end(s, n, i);
        if (end - i >= 3 && s[i + 1] == '[' && s[end - 1] == 'm') {
            bool plain = true;
            for (ptrdiff_t k = i + 2; k < end - 1 && plain; ++k) {
                plain = in(s[k], '0', ';');  // digits, ":" and ";"
            }
            if (plain && reopens(s + i + 2, end - 1 - (i + 2), offs)) {
                return end;
            }
        }
        i = find_esc(s, end, n);
    }
    return -1;
}

// Bytes, copied without a call when there are few of them (the usual
// prefix, suffix and short text).
inline void copy_bytes(void* out, const void* in, size_t n)
{
    auto* o = static_cast<unsigned char*>(out);
    const auto* i = static_cast<const unsigned char*>(in);
    if (n >= 8 && n <= 16) {
        std::memcpy(o, i, 8);  // two overlapping moves of 8
        std::memcpy(o + n - 8, i + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(o, i, 4);
        std::memcpy(o + n - 4, i + n - 4, 4);
    } else if (n < 4) {
        for (size_t k = 0; k < n; ++k) {
            o[k] = i[k];
        }
    } else {
        std::memcpy(o, i, n);
    }
}

template <typename Out, typename In>
Out* copy_chars(Out* out, const In* in, ptrdiff_t n)
{
    if constexpr (sizeof(Out) == sizeof(In)) {
        copy_bytes(out, in, static_cast<size_t>(n) * sizeof(In));
    } else {
        for (ptrdiff_t i = 0; i < n; ++i) {
            out[i] = static_cast<Out>(in[i]);
        }
    }
    return out + n;
}


}  // namespace tintara::core
