// Escape sequences in text, over the code units of any str kind (1, 2 or
// 4 bytes each): where they start and end, how an embedded SGR is rewritten
// so that it keeps an outer style, where lines break, and which characters
// a terminal acts on.  Lengths and positions are code-unit counts.
//
// A C1 control (U+0080-U+009F) is the 8-bit form of ESC and the character
// 0x40 above it: U+009B is ESC [ (CSI), U+009D ESC ] (OSC), U+0090, U+0098,
// U+009E and U+009F ESC P, X, ^ and _ (DCS, SOS, PM, APC), and U+009C is
// the string terminator ST (ESC and a backslash).  The scanners read both
// forms alike.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tintara::core {

inline constexpr char32_t kEsc = 0x1b;

template <typename Ch>
constexpr bool in(Ch c, char32_t lo, char32_t hi)
{
    return static_cast<char32_t>(c) >= lo && static_cast<char32_t>(c) <= hi;
}

// What a character below U+0100 is to the scanners, as bits.
enum : uint8_t {
    kIntroducer = 1,  // ESC or a C1 control: an escape sequence starts here
    kBreak = 2,       // "\n"
    kActive = 4,      // a terminal acts on it: C0 but tab and line feed, DEL, C1
};

inline constexpr std::array<uint8_t, 256> kClass = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) {
        t[c] = c == '\t' || c == '\n' ? 0 : kActive;
    }
    for (int c = 0x7f; c < 0xa0; ++c) {
        t[c] = c == 0x7f ? kActive : kActive | kIntroducer;
    }
    t[kEsc] |= kIntroducer;
    t['\n'] = kBreak;
    return t;
}();

template <typename Ch>
constexpr uint8_t class_of(Ch c)
{
    if constexpr (sizeof(Ch) == 1) {
        return kClass[c];
    } else {
        return c < 256 ? kClass[c] : 0;
    }
}

// The first position at or after from whose character is of a class in
// mask, or -1.
template <typename Ch>
ptrdiff_t find(const Ch* s, ptrdiff_t from, ptrdiff_t n, uint8_t mask)
{
    for (ptrdiff_t i = from; i < n; ++i) {
        if ((class_of(s[i]) & mask) != 0) {
            return i;
        }
    }
    return -1;
}

// Whether c (the 7-bit form's second character) introduces a control
// string: OSC, DCS, SOS, PM, APC.
constexpr bool opens_string(char32_t c)
{
    return c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_';
}

// The end of the escape sequence that starts at s[i], an ESC or a C1
// control.  A sequence left unterminated at the end of the text runs to the
// end.  A CSI broken by a character it cannot hold ends before it, and so
// does any other sequence; a control string ends at BEL (OSC only) or ST,
// or before any other ESC or C1 control.  Other C1 controls stand alone.
template <typename Ch>
ptrdiff_t sequence_end(const Ch* s, ptrdiff_t n, ptrdiff_t i)
{
    ptrdiff_t j = i + 1;
    char32_t c = 0;
    if (s[i] == kEsc) {
        if (j == n) {
            return n;
        }
        c = s[j];
        if (c != '[' && !opens_string(c)) {
            while (j < n && in(s[j], 0x20, 0x2f)) {
                ++j;
            }
            return j < n && in(s[j], 0x30, 0x7e) ? j + 1 : j;
        }
        ++j;
    } else {
        c = static_cast<char32_t>(s[i]) - 0x40;
        if (c != '[' && !opens_string(c)) {
            return j;
        }
    }
    if (c == '[') {
        while (j < n && in(s[j], 0x30, 0x3f)) {
            ++j;
        }
        while (j < n && in(s[j], 0x20, 0x2f)) {
            ++j;
        }
        return j < n && in(s[j], 0x40, 0x7e) ? j + 1 : j;
    }
    for (; j < n; ++j) {
        const char32_t ch = s[j];
        if ((ch == 0x07 && c == ']') || ch == 0x9c) {
            return j + 1;
        }
        if (ch == kEsc) {
            return j + 1 < n && s[j + 1] == '\\' ? j + 2 : j;
        }
        if (in(ch, 0x80, 0x9f)) {
            return j;
        }
    }
    return n;
}

// Whether s[i, end) is an SGR that nesting rewrites: ESC [, parameter bytes
// that are digits, ":" and ";" only (no private marker, no intermediate
// byte), and "m".  The 8-bit form is left as it is.
template <typename Ch>
bool is_sgr(const Ch* s, ptrdiff_t i, ptrdiff_t end)
{
    if (end - i < 3 || s[i] != kEsc || s[i + 1] != '[' || s[end - 1] != 'm') {
        return false;
    }
    for (ptrdiff_t k = i + 2; k < end - 1; ++k) {
        if (!in(s[k], '0', ';')) {
            return false;
        }
    }
    return true;
}

// Whether the digits p[0, n), leading zeros aside, spell v ("38", "5"; ""
// for a field of zeros or none, a reset).
template <typename Ch>
bool spells(const Ch* p, ptrdiff_t n, std::string_view v)
{
    while (n > 0 && *p == '0') {
        ++p;
        --n;
    }
    if (n != static_cast<ptrdiff_t>(v.size())) {
        return false;
    }
    for (ptrdiff_t k = 0; k < n; ++k) {
        if (static_cast<char32_t>(p[k]) != static_cast<unsigned char>(v[static_cast<size_t>(k)])) {
            return false;
        }
    }
    return true;
}

// What an embedded SGR's codes put back, as text: "code=params," for each
// code (decimal, without leading zeros; "0" is a full reset), the first
// entry of a code winning.
class Splices {
public:
    constexpr Splices() = default;
    constexpr explicit Splices(std::string_view table) : table_(table) {}

    // The parameters spliced in after a field whose digits are p[0, n), or
    // an empty view.
    template <typename Ch>
    [[nodiscard]] std::string_view after(const Ch* p, ptrdiff_t n) const
    {
        for (size_t at = 0; at < table_.size();) {
            const size_t eq = table_.find('=', at);
            const size_t end = table_.find(',', eq);
            if (end == std::string_view::npos) {
                break;
            }
            const std::string_view code(table_.data() + at, eq - at);
            if (spells(p, n, code == "0" ? std::string_view() : code)) {
                return {table_.data() + eq + 1, end - eq - 1};
            }
            at = end + 1;
        }
        return {};
    }

private:
    std::string_view table_;
};

// The parameters p[0, n) of an embedded SGR (digits, ":" and ";"), told to
// sink with the splices: after each field that is a code of splices, ";"
// and what it puts back, a reset field itself written "0".  A field holding
// ":" has sub-parameters and is never a code; after 38, 48 and 58 the
// fields 5;n and 2;r;g;b are the colour's arguments.  With nothing to
// splice the parameters are told as they are.
template <typename Ch, typename Sink>
void rewrite_sgr(const Ch* p, ptrdiff_t n, Splices splices, Sink& sink)
{
    ptrdiff_t told = 0;
    int arguments = 0;  // fields still to pass as a colour's arguments
    for (ptrdiff_t start = 0;; ++start) {
        ptrdiff_t end = start;
        bool sub = false;
        for (; end < n && p[end] != ';'; ++end) {
            sub = sub || p[end] == ':';
        }
        const Ch* f = p + start;
        const ptrdiff_t len = end - start;
        if (arguments > 0) {
            --arguments;
        } else if (!sub && (spells(f, len, "38") || spells(f, len, "48") || spells(f, len, "58"))) {
            // The kind of colour: a next field of digits only.
            ptrdiff_t k = end + 1;
            while (k < n && p[k] != ';' && p[k] != ':') {
                ++k;
            }
            if (end < n && k > end + 1 && (k == n || p[k] == ';')) {
                const Ch* kind = p + end + 1;
                arguments = spells(kind, k - end - 1, "5")   ? 2
                            : spells(kind, k - end - 1, "2") ? 4
                                                             : 0;
            }
        } else if (const std::string_view codes = sub ? std::string_view() : splices.after(f, len);
                   !codes.empty()) {
            const bool reset = spells(f, len, "");
            sink.text(p + told, (reset ? start : end) - told);
            if (reset) {
                sink.ascii("0");
            }
            sink.ascii(";");
            sink.ascii(codes);
            told = end;
        }
        start = end;
        if (start >= n) {
            break;
        }
    }
    sink.text(p + told, n - told);
}

// A style as styled text needs it: its prefix and suffix (ASCII) and what
// embedded SGRs put back.
struct Paint {
    std::string_view prefix;
    std::string_view suffix;
    Splices splices;
};

// s painted one line at a time, told to sink as pieces of s and ASCII text.
// Each line gets the prefix and the suffix, so no style runs across a line
// break; an empty line gets neither.  Line breaks are "\n" and "\r\n"
// outside escape sequences, and the suffix goes before the "\r".  Inside a
// line each embedded SGR is rewritten (see rewrite_sgr); nothing else
// changes.
template <typename Ch, typename Sink>
void paint_lines(const Ch* s, ptrdiff_t n, const Paint& paint, Sink& sink)
{
    ptrdiff_t line = 0;  // where the current line starts
    ptrdiff_t told = 0;  // s[0, told) is told
    bool open = false;   // the current line's prefix is told
    auto opened = [&] {
        if (!open) {
            sink.ascii(paint.prefix);
            open = true;
        }
    };
    for (ptrdiff_t i = find(s, 0, n, kIntroducer | kBreak); i >= 0;) {
        ptrdiff_t next = i + 1;
        if (s[i] == '\n') {
            const ptrdiff_t cut = i > line && s[i - 1] == '\r' ? i - 1 : i;
            if (cut > line) {
                opened();
                sink.text(s + told, cut - told);
                sink.ascii(paint.suffix);
                told = cut;
            }
            sink.text(s + told, next - told);
            told = line = next;
            open = false;
        } else {
            next = sequence_end(s, n, i);
            if (is_sgr(s, i, next)) {
                opened();
                sink.text(s + told, i + 2 - told);
                rewrite_sgr(s + i + 2, next - 1 - (i + 2), paint.splices, sink);
                told = next - 1;
            }
        }
        i = next < n ? find(s, next, n, kIntroducer | kBreak) : -1;
    }
    if (n > line) {
        opened();
        sink.text(s + told, n - told);
        sink.ascii(paint.suffix);
    }
}

// Whether a terminal acts on c: the C0 controls but tab and line feed, DEL,
// the C1 controls, and the bidirectional controls U+061C, U+200E, U+200F,
// U+202A-U+202E and U+2066-U+2069.
template <typename Ch>
constexpr bool active(Ch c)
{
    if constexpr (sizeof(Ch) == 1) {
        return (kClass[c] & kActive) != 0;
    } else {
        if (c < 256) {
            return (kClass[c] & kActive) != 0;
        }
        return c == 0x061c || c == 0x200e || c == 0x200f || in(c, 0x202a, 0x202e) ||
               in(c, 0x2066, 0x2069);
    }
}

// The escape Python's repr writes for an active character, as ASCII.
struct Escape {
    char text[6];
    int len;
};

constexpr Escape escape_of(char32_t c)
{
    constexpr char kHex[] = "0123456789abcdef";
    if (c == '\r') {
        return {{'\\', 'r'}, 2};
    }
    if (c < 0x100) {
        return {{'\\', 'x', kHex[c >> 4], kHex[c & 15]}, 4};
    }
    return {{'\\', 'u', kHex[c >> 12], kHex[(c >> 8) & 15], kHex[(c >> 4) & 15], kHex[c & 15]}, 6};
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

// Sinks of the pieces paint_lines and rewrite_sgr tell: one counts them,
// the other copies them into code units of type Out.
struct Count {
    ptrdiff_t n = 0;
    bool overflow = false;
    template <typename Ch>
    void text(const Ch*, ptrdiff_t len)
    {
        overflow = __builtin_add_overflow(n, len, &n) || overflow;
    }
    void ascii(std::string_view v) { text(v.data(), static_cast<ptrdiff_t>(v.size())); }
};

template <typename Out>
struct Copy {
    Out* out;
    template <typename Ch>
    void text(const Ch* p, ptrdiff_t len)
    {
        out = copy_chars(out, p, len);
    }
    void ascii(std::string_view v)
    {
        out = copy_chars(out, reinterpret_cast<const uint8_t*>(v.data()),
                         static_cast<ptrdiff_t>(v.size()));
    }
};

}  // namespace tintara::core
