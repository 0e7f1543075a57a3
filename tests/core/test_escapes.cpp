// The escape-sequence scanners, over code units of 1, 2 and 4 bytes: the
// kinds of a str.
#include "core/escapes.hpp"
#include "tests/core/check.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace tintara::core;

namespace {

// The text as code units of type Ch (each character must fit).
template <typename Ch>
std::vector<Ch> units(std::u32string_view text)
{
    return std::vector<Ch>(text.begin(), text.end());
}

template <typename Ch>
ptrdiff_t end_of(std::u32string_view text, ptrdiff_t at = 0)
{
    const auto s = units<Ch>(text);
    return sequence_end(s.data(), std::ssize(s), at);
}

// "bold red" at TRUECOLOR, as styled text needs it.
constexpr Paint kBoldRed{"\x1b[1;31m", "\x1b[22;39m", Splices("0=1;31,22=1,39=31,")};

// text painted with paint, counted and then copied: both sinks must agree.
template <typename Ch>
std::u32string painted(std::u32string_view text, const Paint& paint = kBoldRed)
{
    const auto s = units<Ch>(text);
    Count count;
    paint_lines(s.data(), std::ssize(s), paint, count);
    std::vector<Ch> out(static_cast<size_t>(count.n));
    Copy<Ch> copy{out.data()};
    paint_lines(s.data(), std::ssize(s), paint, copy);
    CHECK(copy.out == out.data() + count.n);
    return {out.begin(), out.end()};
}

template <typename Ch>
bool sgr(std::u32string_view text)
{
    const auto s = units<Ch>(text);
    return is_sgr(s.data(), 0, sequence_end(s.data(), std::ssize(s), 0));
}

template <typename Ch>
void ends(const std::u32string& wide)
{
    // ESC and C1 controls found in short texts and long ones, from any offset.
    const auto s = units<Ch>(U"ab" + wide + U"\x1b[1m\x9b");
    CHECK(find(s.data(), 0, std::ssize(s), kIntroducer) == 3);
    CHECK(find(s.data(), 4, std::ssize(s), kIntroducer) == 7);
    CHECK(find(s.data(), 8, std::ssize(s), kIntroducer) == -1);
    const auto l = units<Ch>(std::u32string(40, wide[0]) + U"\n\x1b");
    CHECK(find(l.data(), 0, std::ssize(l), kIntroducer) == 41);
    CHECK(find(l.data(), 0, std::ssize(l), kIntroducer | kBreak) == 40);

    // Where sequences end.
    CHECK(end_of<Ch>(U"\x1b[31mx") == 5);
    CHECK(end_of<Ch>(U"\x1b[1 qx") == 5);     // an intermediate byte
    CHECK(end_of<Ch>(U"\x1b[31\x07x") == 4);  // broken: ends before the BEL
    CHECK(end_of<Ch>(U"\x1b[31" + wide) == 4);
    CHECK(end_of<Ch>(U"\x1b[3\nx") == 3);  // a CSI cannot hold a line break
    CHECK(end_of<Ch>(U"\x1b[31") == 4);    // unterminated: to the end
    CHECK(end_of<Ch>(U"\x1b") == 1);
    CHECK(end_of<Ch>(U"\x1b\r\n") == 1);
    CHECK(end_of<Ch>(U"\x1b]8;;u\x07x") == 7);     // OSC ends at BEL
    CHECK(end_of<Ch>(U"\x1b]8;;u\x1b\\x") == 8);   // or at ST
    CHECK(end_of<Ch>(U"\x1b]8;;u\x1b[1m") == 6);   // or before another ESC
    CHECK(end_of<Ch>(U"\x1b]8;;u\nv\x07") == 9);   // and holds a line break
    CHECK(end_of<Ch>(U"\x1bPq\x07\x1b\\x") == 6);  // DCS: BEL is not its end
    CHECK(end_of<Ch>(U"\x1b]0;" + wide + U"\x07") == 6);
    CHECK(end_of<Ch>(U"\u001b7x") == 2);  // ESC and a final byte
    CHECK(end_of<Ch>(U"\x1b(Bx") == 3);   // ESC, intermediate, final
    // The 8-bit forms, as their 7-bit forms.
    CHECK(end_of<Ch>(U"\u009b31mx") == 4);
    CHECK(end_of<Ch>(U"\x9b?25l\x9b") == 5);
    CHECK(end_of<Ch>(U"\u009d8;;u\x9cx") == 6);  // ST as U+009C
    CHECK(end_of<Ch>(U"\x1b]8;;u\x9cx") == 7);
    CHECK(end_of<Ch>(U"\x9dtitle\x1b\\x") == 8);
    CHECK(end_of<Ch>(U"\x1b]8;;u\u009b1mx") == 6);  // before any other C1 control
    CHECK(end_of<Ch>(U"\x90q\x85x") == 2);
    CHECK(end_of<Ch>(U"\u009d8;") == 3);
    CHECK(end_of<Ch>(U"\x85x") == 1);  // other C1 controls stand alone
    CHECK(end_of<Ch>(U"\x9cx") == 1);
    CHECK(end_of<Ch>(U"\x1b\u009b1m") == 1);

    // Only 7-bit SGRs of digits, ":" and ";" are rewritten.
    CHECK(sgr<Ch>(U"\x1b[m") && sgr<Ch>(U"\x1b[0;38:2::1:2:3m"));
    CHECK(!sgr<Ch>(U"\u009b0m") && !sgr<Ch>(U"\x1b[>4;22m") && !sgr<Ch>(U"\x1b[0 m"));
    CHECK(!sgr<Ch>(U"\x1b[0b") && !sgr<Ch>(U"\x1b[0") && !sgr<Ch>(U"\x1b]8;;m\x07"));
}

template <typename Ch>
void rewrites()
{
    const std::u32string pre = U"\x1b[1;31m";
    const std::u32string post = U"\x1b[22;39m";
    // An embedded SGR and what it becomes inside "bold red".
    const std::u32string_view cases[][2] = {
        {U"0", U"0;1;31"},
        {U"", U"0;1;31"},
        {U"00", U"0;1;31"},
        {U";0", U"0;1;31;0;1;31"},
        {U"34;", U"34;0;1;31"},
        {U"39", U"39;31"},
        {U"022;039", U"022;1;039;31"},
        {U"38;2;1;2;3;22", U"38;2;1;2;3;22;1"},
        {U"58;5;22;39", U"58;5;22;39;31"},
        {U"48;05;22;0", U"48;05;22;0;1;31"},
        {U"38;;22", U"38;0;1;31;22;1"},  // an empty field after 38 is a reset
        {U"4:0;22", U"4:0;22;1"},
        {U"0000000022", U"0000000022;1"},
        // Nothing to add: left as it is.
        {U"4;49", U"4;49"},
        {U"38;5;39", U"38;5;39"},
        {U"48;2;22;39;1", U"48;2;22;39;1"},
        {U"38;5", U"38;5"},
        {U"38;7", U"38;7"},
        {U"38:5:39", U"38:5:39"},
        {U"38;5:1;22", U"38;5:1;22;1"},  // a kind with sub-parameters is none
        {U"0:1", U"0:1"},
        {U"99999999999999999999", U"99999999999999999999"},
    };
    for (const auto& [params, rewritten] : cases) {
        const std::u32string seq = U"\x1b[" + std::u32string(params) + U"m";
        CHECK(painted<Ch>(U"a" + seq + U"b") ==
              pre + U"a\x1b[" + std::u32string(rewritten) + U"mb" + post);
    }
    // Sequences that are no SGR the nesting rewrites.
    for (const std::u32string_view seq : {U"\x1b[>4;22m", U"\u009b0m", U"\x1b[0b", U"\x1b[39 m"}) {
        CHECK(painted<Ch>(U"a" + std::u32string(seq) + U"b") ==
              pre + U"a" + std::u32string(seq) + U"b" + post);
    }
    // A table whose codes put back several, and an off code of its own.
    const Paint blinks{"\x1b[5;6m", "\x1b[25m", Splices("0=5;6,25=5;6,")};
    CHECK(painted<Ch>(U"\x1b[25mx", blinks) == U"\x1b[5;6m\x1b[25;5;6mx\x1b[25m");
    CHECK(painted<Ch>(U"\x1b[22mx", blinks) == U"\x1b[5;6m\x1b[22mx\x1b[25m");
}

template <typename Ch>
void lines(const std::u32string& wide)
{
    const std::u32string pre = U"\x1b[1;31m";
    const std::u32string post = U"\x1b[22;39m";
    CHECK(painted<Ch>(U"") == U"");
    CHECK(painted<Ch>(wide) == pre + wide + post);
    CHECK(painted<Ch>(U"a\nb") == pre + U"a" + post + U"\n" + pre + U"b" + post);
    CHECK(painted<Ch>(U"a\r\n\nb\n") == pre + U"a" + post + U"\r\n\n" + pre + U"b" + post + U"\n");
    CHECK(painted<Ch>(U"\n") == U"\n");
    CHECK(painted<Ch>(U"\r\n\r\n") == U"\r\n\r\n");
    CHECK(painted<Ch>(U"a\rb\r") == pre + U"a\rb\r" + post);
    CHECK(painted<Ch>(U"\r\r\n") == pre + U"\r" + post + U"\r\n");
    CHECK(painted<Ch>(U"a\x1b[0m\nb") == pre + U"a\x1b[0;1;31m" + post + U"\n" + pre + U"b" + post);
    CHECK(painted<Ch>(U"\x1b[4m\n" + wide) == pre + U"\x1b[4m" + post + U"\n" + pre + wide + post);
    // A line break inside an escape sequence belongs to it.
    CHECK(painted<Ch>(U"\x1b]8;;u\nv\x1b\\w\nx") ==
          pre + U"\x1b]8;;u\nv\x1b\\w" + post + U"\n" + pre + U"x" + post);
    CHECK(painted<Ch>(U"\u009d8;;u\x9cw\nx") ==
          pre + U"\u009d8;;u\x9cw" + post + U"\n" + pre + U"x" + post);
    CHECK(painted<Ch>(U"w\x1b]8;;u\nx") == pre + U"w\x1b]8;;u\nx" + post);
    // ... but a CSI cannot hold one, nor can an ESC on its own.
    CHECK(painted<Ch>(U"\x1b[3\nx") == pre + U"\x1b[3" + post + U"\n" + pre + U"x" + post);
    CHECK(painted<Ch>(U"\x1b\r\nx") == pre + U"\x1b" + post + U"\r\n" + pre + U"x" + post);
}

template <typename Ch>
void controls(char32_t wide)
{
    for (char32_t c = 0; c < 0xa0; ++c) {
        const bool acted_on = (c < 0x20 && c != '\t' && c != '\n') || c >= 0x7f;
        CHECK(active(static_cast<Ch>(c)) == acted_on);
    }
    CHECK(!active(static_cast<Ch>(0xa0)) && !active(static_cast<Ch>(wide)));
    if constexpr (sizeof(Ch) > 1) {
        for (const char32_t c : {0x061c, 0x200e, 0x200f, 0x202a, 0x202e, 0x2066, 0x2069}) {
            CHECK(active(static_cast<Ch>(c)));
        }
        for (const char32_t c : {0x061b, 0x200b, 0x200d, 0x2029, 0x202f, 0x2065, 0x206a}) {
            CHECK(!active(static_cast<Ch>(c)));
        }
    }
}

void escapes()
{
    auto text = [](char32_t c) {
        const Escape e = escape_of(c);
        return std::string(e.text, static_cast<size_t>(e.len));
    };
    CHECK(text('\r') == "\\r");
    CHECK(text(0x1b) == "\\x1b");
    CHECK(text(0x9f) == "\\x9f");
    CHECK(text(0x7f) == "\\x7f");
    CHECK(text(0x202e) == "\\u202e");
    CHECK(text(0x061c) == "\\u061c");
}

}  // namespace

int main()
{
    ends<uint8_t>(U"\u00e9");
    ends<uint16_t>(U"\u4e2d");
    ends<uint32_t>(U"\U0001f600");
    rewrites<uint8_t>();
    rewrites<uint16_t>();
    rewrites<uint32_t>();
    lines<uint8_t>(U"\u00e9");
    lines<uint16_t>(U"\u4e2d");
    lines<uint32_t>(U"\U0001f600");
    controls<uint8_t>(U'\u00e9');
    controls<uint16_t>(U'\u4e2d');
    controls<uint32_t>(U'\U0001f600');
    escapes();
    return tintara::test::report();
}
