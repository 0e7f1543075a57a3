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
ptrdiff_t end_of(std::u32string_view text, ptrdiff_t at)
{
    const auto s = units<Ch>(text);
    return sequence_end(s.data(), std::ssize(s), at);
}

// Where the first SGR that undoes a style with these off codes ends, or -1.
template <typename Ch>
ptrdiff_t reopening(std::u32string_view text, std::initializer_list<std::string_view> offs)
{
    const auto s = units<Ch>(text);
    const std::vector<std::string_view> o(offs);
    return next_reopening(s.data(), std::ssize(s), 0, std::span<const std::string_view>(o));
}

template <typename Ch>
void scanners(char32_t wide)
{
    // ESC found in short texts (no call) and long ones, from any offset.
    std::u32string text = U"ab";
    text += wide;
    text += U"\x1b[1m";
    const auto s = units<Ch>(text);
    CHECK(find_esc(s.data(), 0, std::ssize(s)) == 3);
    CHECK(find_esc(s.data(), 4, std::ssize(s)) == -1);
    std::u32string longer(40, wide);
    longer += U"\x1b";
    const auto l = units<Ch>(longer);
    CHECK(find_esc(l.data(), 0, std::ssize(l)) == 40);
    CHECK(find_esc(l.data(), 41, std::ssize(l)) == -1);

    // Where sequences end.
    CHECK(end_of<Ch>(U"\x1b[31mx", 0) == 5);
    CHECK(end_of<Ch>(U"\x1b[1 qx", 0) == 5);          // an intermediate byte
    CHECK(end_of<Ch>(U"\x1b[31\x07x", 0) == 4);        // broken: ends before the BEL
    CHECK(end_of<Ch>(std::u32string(U"\x1b[31") + wide, 0) == 4);
    CHECK(end_of<Ch>(U"\x1b[31", 0) == 4);             // unterminated: to the end
    CHECK(end_of<Ch>(U"\x1b", 0) == 1);
    CHECK(end_of<Ch>(U"\x1b]8;;u\x07x", 0) == 7);      // OSC ends at BEL
    CHECK(end_of<Ch>(U"\x1b]8;;u\x1b\\x", 0) == 8);    // or at ST
    CHECK(end_of<Ch>(U"\x1b]8;;u\x1b[1m", 0) == 6);    // or before another ESC
    CHECK(end_of<Ch>(U"\x1bPq\x07\x1b\\x", 0) == 6);   // DCS: BEL is not its end
    CHECK(end_of<Ch>(std::u32string(U"\x1b]0;") + wide + U"\x07", 0) == 6);
    CHECK(end_of<Ch>(U"\x1b" U"7x", 0) == 2);          // ESC and a final byte
    CHECK(end_of<Ch>(U"\x1b(Bx", 0) == 3);             // ESC, intermediate, final

    // Embedded SGRs that undo a style with off codes 22 and 39.
    CHECK(reopening<Ch>(U"a\x1b[0mb", {"22", "39"}) == 5);
    CHECK(reopening<Ch>(U"a\x1b[mb", {"22"}) == 4);
    CHECK(reopening<Ch>(U"\x1b[00m", {"22"}) == 5);
    CHECK(reopening<Ch>(U"\x1b[1;22m", {"22"}) == 7);
    CHECK(reopening<Ch>(U"\x1b[1;022m", {"22"}) == 8);
    CHECK(reopening<Ch>(U"\x1b[39m", {"22", "39"}) == 5);
    CHECK(reopening<Ch>(U"\x1b[1m\x1b[22m", {"22"}) == 9);
    // Not undoing it: other codes, the arguments of 38/48/58, sub-parameters,
    // a private marker, a sequence that is no SGR.
    CHECK(reopening<Ch>(U"\x1b[1;31m", {"22", "39"}) == -1);
    CHECK(reopening<Ch>(U"\x1b[38;5;22m", {"22"}) == -1);
    CHECK(reopening<Ch>(U"\x1b[48;2;1;22;39m", {"22", "39"}) == -1);
    CHECK(reopening<Ch>(U"\x1b[58;5;39;22m", {"22"}) == 13);
    CHECK(reopening<Ch>(U"\x1b[4:22m", {"22"}) == -1);
    CHECK(reopening<Ch>(U"\x1b[>4;22m", {"22"}) == -1);
    CHECK(reopening<Ch>(U"\x1b[22K", {"22"}) == -1);
    CHECK(reopening<Ch>(std::u32string(U"\x1b[22") + wide + U"m", {"22"}) == -1);
}

}  // namespace

int main()
{
    scanners<uint8_t>(U'\u00e9');
    scanners<uint16_t>(U'\u4e2d');
    scanners<uint32_t>(U'\U0001f600');
    return tintara::test::report();
}
