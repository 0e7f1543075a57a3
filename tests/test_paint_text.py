"""tintara.paint and text: nesting, one line at a time, NONE, strip,
sanitize, template strings and link, and the extension against the twin on
random text.

Every test that takes the ``paint`` fixture runs against the extension and
the twin alike.
"""

import io
import os
from string.templatelib import Interpolation, Template

import pyte
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from checks import raises
from fakes import Recorder, Stream
from hostile import Boom, StrRaises, outcome
from painting import EVERYTHING, Sub, rgb, ways


class StrGivesSub:
    def __str__(self):
        return Sub("hi")

    def __format__(self, spec):
        raise AssertionError("format() called")


class OwnStr(str):
    def __str__(self):
        return "hi"


# -- nesting ---------------------------------------------------------------------------


def cells(text):
    """The first line of an emulated terminal fed text, and the state it ends in."""
    screen = pyte.Screen(40, 2)
    pyte.Stream(screen).feed(text)
    return screen.buffer[0], screen.cursor.attrs


@pytest.mark.parametrize("way", range(3))
def test_nesting_on_a_terminal(paint, way):
    outer = paint.Style(fg="red")
    line, end = cells(ways(paint, outer)[way]("a " + paint.Style(fg="blue").render("b", level=3) + " c"))
    assert [(line[x].data, line[x].fg) for x in range(5)] == [
        ("a", "red"), (" ", "red"), ("b", "blue"), (" ", "red"), ("c", "red")]
    # A library that ends its colour with a full reset.
    outer = paint.Style(fg="green", underline=True)
    line, end = cells(ways(paint, outer)[way]("a\x1b[1;34mb\x1b[0mc"))
    assert [(line[x].fg, line[x].underscore, line[x].bold) for x in range(3)] == [
        ("green", True, False), ("blue", True, True), ("green", True, False)]
    assert (end.fg, end.underscore) == ("default", False)


# Embedded SGRs inside "bold red" (prefix 1;31, suffix 22;39) and what they
# become; None: left byte for byte.
REWRITES = [
    ("\x1b[0m", "\x1b[0;1;31m"),
    ("\x1b[m", "\x1b[0;1;31m"),
    ("\x1b[00m", "\x1b[0;1;31m"),
    ("\x1b[;0m", "\x1b[0;1;31;0;1;31m"),
    ("\x1b[34;m", "\x1b[34;0;1;31m"),
    ("\x1b[0;35m", "\x1b[0;1;31;35m"),
    ("\x1b[39m", "\x1b[39;31m"),
    ("\x1b[1;22m", "\x1b[1;22;1m"),
    ("\x1b[022;039m", "\x1b[022;1;039;31m"),
    ("\x1b[22;39;49m", "\x1b[22;1;39;31;49m"),
    ("\x1b[38;2;1;2;3;22m", "\x1b[38;2;1;2;3;22;1m"),
    ("\x1b[58;5;22;39m", "\x1b[58;5;22;39;31m"),
    ("\x1b[48;05;22;0m", "\x1b[48;05;22;0;1;31m"),
    # An empty field after 38 is no colour argument: it is a reset.
    ("\x1b[38;;22m", "\x1b[38;0;1;31;22;1m"),
    ("\x1b[4:0;22m", "\x1b[4:0;22;1m"),
    ("\x1b[4;49m", None), ("\x1b[23;24;25;27;28;29;55m", None), ("\x1b[38;5;39m", None),
    ("\x1b[48;2;22;39;1m", None), ("\x1b[38;5m", None), ("\x1b[38;7m", None), ("\x1b[38:5:39m", None),
    ("\x1b[0:1m", None), ("\x1b[1m", None), ("\x1b[39 m", None), ("\x1b[>4;22m", None), ("\x1b[?0m", None),
    ("\x1b]8;;x\x1b\\", None), ("\x1b[0b", None), ("\x9b0m", None), ("\x9b39m", None), ("\x1b[0", None),
]


@pytest.mark.parametrize(("seq", "rewritten"), REWRITES)
def test_embedded_sgr_rewritten(paint, seq, rewritten):
    style = paint.Style(fg="red", bold=True)
    pre, post = style.codes(3)
    for styled in ways(paint, style):
        assert styled(f"a{seq}b") == pre + "a" + (rewritten or seq) + "b" + post


@pytest.mark.parametrize(("text", "style", "result"), [
    ("a \x1b[0;34mX\x1b[0m c", "bold", "\x1b[1ma \x1b[0;1;34mX\x1b[0;1m c\x1b[22m"),
    ("a \x1b[mX", "red", "\x1b[31ma \x1b[0;31mX\x1b[39m"),
    ("\x1b[22;34mX", "bold red", "\x1b[1;31m\x1b[22;1;34mX\x1b[22;39m"),
    ("\x1b[39mX", "bold red", "\x1b[1;31m\x1b[39;31mX\x1b[22;39m"),
    ("\x1b[0;34mX", "not bold red", "\x1b[22;31m\x1b[0;22;31;34mX\x1b[39m"),
    ("\x1b[38;5;22mX", "bold", "\x1b[1m\x1b[38;5;22mX\x1b[22m"),
    ("\x1b[4:3mX", "underline", "\x1b[4m\x1b[4:3mX\x1b[24m"),
    ("\x1b[>4;22mX", "bold", "\x1b[1m\x1b[>4;22mX\x1b[22m"),
])
def test_nesting_examples(paint, text, style, result):
    for styled in ways(paint, paint.Style.parse(style)):
        assert styled(text) == result
    assert paint.paint(text, style, level=0) == text


# An off code of an attribute the outer style turns on, and what it puts back.
@pytest.mark.parametrize(("fields", "off", "again"), [
    ({"bold": True}, 22, "1"), ({"dim": True}, 22, "2"), ({"bold": True, "dim": True}, 22, "1;2"),
    ({"italic": True}, 23, "3"), ({"underline": True}, 24, "4"), ({"blink": True}, 25, "5"),
    ({"blink_fast": True}, 25, "6"), ({"blink": True, "blink_fast": True}, 25, "5;6"),
    ({"reverse": True}, 27, "7"), ({"hidden": True}, 28, "8"), ({"strikethrough": True}, 29, "9"),
    ({"overline": True}, 55, "53"), ({"fg": "#ff8800"}, 39, "38;2;255;136;0"), ({"bg": 200}, 49, "48;5;200"),
    ({"bold": False}, 22, None), ({"bold": True, "dim": False}, 22, "1"), ({"italic": True}, 22, None),
    ({"fg": "red"}, 49, None),
])
def test_off_codes_put_back(paint, fields, off, again):
    style = paint.Style(**fields)
    pre, post = style.codes(3)
    expected = f"\x1b[{off};{again}m" if again else f"\x1b[{off}m"
    assert style.render(f"a\x1b[{off}mb", level=3) == f"{pre}a{expected}b{post}"


@pytest.mark.parametrize(("level", "codes"), [(1, "91"), (2, "38;5;208"), (3, "38;2;255;136;0")])
def test_put_back_at_the_level(paint, level, codes):
    style = paint.Style(fg="#ff8800")
    for styled in (lambda t: style.render(t, level=level), style.bind(level=level)):
        assert styled("\x1b[39mX") == f"\x1b[{codes}m\x1b[39;{codes}mX\x1b[39m"


def test_put_back_codes_are_the_styles_own(paint, monkeypatch):
    monkeypatch.setitem(paint._styles.STYLES, "bold", (7, 27))
    style = paint.Style(bold=True)
    monkeypatch.setitem(paint._styles.STYLES, "bold", (1, 22))
    assert style.render("a\x1b[27mb\x1b[22mc\x1b[mz", level=3) == "\x1b[7ma\x1b[27;7mb\x1b[22mc\x1b[0;7mz\x1b[27m"


# -- one line at a time ------------------------------------------------------------------


@pytest.mark.parametrize(("text", "style", "result"), [
    ("a\nb", "on blue", "\x1b[44ma\x1b[49m\n\x1b[44mb\x1b[49m"),
    ("a\r\n\nb\n", "bold", "\x1b[1ma\x1b[22m\r\n\n\x1b[1mb\x1b[22m\n"),
    ("a\x1b[0m\nb", "red", "\x1b[31ma\x1b[0;31m\x1b[39m\n\x1b[31mb\x1b[39m"),
    ("\n", "bold", "\n"),
    ("\r\n\r\n", "bold", "\r\n\r\n"),
    ("a\rb\r", "bold", "\x1b[1ma\rb\r\x1b[22m"),
    ("\r\r\n", "bold", "\x1b[1m\r\x1b[22m\r\n"),
    ("a\x85b\u2028c\x0bd", "bold", "\x1b[1ma\x85b\u2028c\x0bd\x1b[22m"),
    # A line holding only an escape sequence is not empty.
    ("\x1b[4m\nx", "red", "\x1b[31m\x1b[4m\x1b[39m\n\x1b[31mx\x1b[39m"),
    # A line break inside an escape sequence belongs to it.
    ("\x1b]8;;u\nv\x1b\\w\nx", "bold", "\x1b[1m\x1b]8;;u\nv\x1b\\w\x1b[22m\n\x1b[1mx\x1b[22m"),
    ("\x9d8;;u\x9cw\nx", "bold", "\x1b[1m\x9d8;;u\x9cw\x1b[22m\n\x1b[1mx\x1b[22m"),
    ("w\x1b]8;;u\nx", "bold", "\x1b[1mw\x1b]8;;u\nx\x1b[22m"),
    ("\x1bPq\nx", "bold", "\x1b[1m\x1bPq\nx\x1b[22m"),
    # ... but a CSI cannot hold one, nor can an ESC on its own.
    ("\x1b[3\nx", "bold", "\x1b[1m\x1b[3\x1b[22m\n\x1b[1mx\x1b[22m"),
    ("\x1b\r\nx", "bold", "\x1b[1m\x1b\x1b[22m\r\n\x1b[1mx\x1b[22m"),
])
def test_one_line_at_a_time(paint, env, text, style, result):
    style = paint.Style.parse(style)
    for styled in ways(paint, style):
        assert styled(text) == result
    env(FORCE_COLOR="3")
    out = io.StringIO()
    paint.echo(text, style, file=out, end="")
    assert out.getvalue() == result
    assert paint.paint(text, style, level=0) == text


def test_pen_prefix_and_suffix_unchanged(paint):
    pen = paint.Style(bg="blue", bold=True).bind(level=3)
    assert (pen.prefix, pen.suffix) == ("\x1b[1;44m", "\x1b[22;49m")
    assert pen("a\nb") == "\x1b[1;44ma\x1b[22;49m\n\x1b[1;44mb\x1b[22;49m"


def test_lines_on_a_terminal(paint):
    """No style runs across a line break: a background does not reach the
    edge, and each line shows the style from its start."""
    text = paint.paint("one\nt" + paint.paint("w", "red", level=3) + "o\x1b[0m!\r\n\nthree", "bold on blue", level=3)
    screen = pyte.Screen(12, 5)
    screen.set_mode(pyte.modes.LNM)
    stream = pyte.Stream(screen)
    for line in text.splitlines(keepends=True):
        stream.feed(line)
        assert screen.cursor.attrs == screen.default_char
    shown = [[(c.data, c.bold, c.bg) for c in (screen.buffer[y][x] for x in range(6))] for y in range(4)]
    styled = [[(ch, True, "blue") for ch in word] for word in ("one", "two!", "", "three")]
    assert [row[: len(word)] for row, word in zip(shown, styled)] == styled
    assert all(cell == (" ", False, "default") for row, word in zip(shown, styled) for cell in row[len(word):])
    assert screen.buffer[1][1].fg == "red" and screen.buffer[1][2].fg == "default"


# -- NONE, and hostile text --------------------------------------------------------------


@pytest.mark.parametrize("text", ["plain", "x\x1b[0my\x1b]8;;u\x07"])
def test_none_writes_no_escape(paint, env, tty, text):
    style = paint.Style(**EVERYTHING)
    string = "bold not dim red on rgb(1,2,3)"
    out = io.StringIO()
    results = [style.render(text, level=0), style.render(text, stream=out), style.bind(level=0)(text),
               style.bind(out)(text), paint.paint(text, style, level=0), paint.paint(text, string, stream=out),
               paint.downgrade((1, 2, 3), 0) + text]
    env(NO_COLOR="1", FORCE_COLOR="3", TERM="xterm-256color")
    results += [paint.paint(text, string, stream=tty), style.bind(tty)(text)]
    paint.echo(text, style, file=tty, end="", flush=True)
    assert os.read(tty.master, 100) == text.encode()
    paint.echo(text, string, file=out)
    assert out.getvalue() == text + "\n"
    assert results == [text] * len(results)
    assert style.bind(level=0).prefix == style.bind(level=0).suffix == ""


@pytest.mark.parametrize("level", [0, 3])
def test_hostile_text(paint, level):
    style = paint.Style(fg="red")
    pre, post = style.codes(level)
    file = Recorder()
    calls = [lambda t: style.render(t, level=level), style.bind(level=level),
             lambda t: paint.paint(t, style, level=level), lambda t: paint.paint(t, None)]
    for call in calls:
        with pytest.raises(Boom):
            call(StrRaises())
        for text in (StrGivesSub(), OwnStr("x")):
            result = call(text)
            assert type(result) is str
            assert result == ("hi" if call is calls[3] else pre + "hi" + post)
    with pytest.raises(Boom):
        paint.echo(StrRaises(), style, file=file)
    assert file.calls == []


# -- strip -------------------------------------------------------------------------------


@pytest.mark.parametrize(("text", "stripped"), [
    ("plain", "plain"),
    ("\x1b[1;31mred\x1b[0m", "red"),
    ("\x1b[?25lcursor\x1b[1 q", "cursor"),
    ("a \x1b]8;;https://example.com\x1b\\link\x1b]8;;\x1b\\", "a link"),
    ("\x1b]8;id=1;https://example.com\x07link\x1b]8;;\x07", "link"),
    ("\x1bP1$r0m\x1b\\a\x1bXsos\x1b\\b\x1b^pm\x1b\\c\x1b_apc\x1b\\d", "abcd"),
    ("\x1bPdcs\x07still\x1b\\x", "x"),
    ("sgr0\x1b(B\x1b[m", "sgr0"),
    ("\x1b7saved\x1b8", "saved"),
    ("text\x1b[31", "text"),
    ("text\x1b]8;;https://example.com", "text"),
    ("text\x1bP", "text"),
    ("text\x1b", "text"),
    ("a\x1b\x1b[1mb", "ab"),
    # The 8-bit forms, as their 7-bit forms.
    ("\x9b31mred\x9b0m", "red"),
    ("\x1b]8;;u\x9clink\x1b]8;;\x1b\\", "link"),
    ("a\x85b", "ab"),
    ("\x9d8;;u\x07a\x9d8;;\x9c", "a"),
    ("\x90dcs\x9cb\x98sos\x9cc\x9epm\x9cd\x9fapc\x9ce", "bcde"),
    ("\x1bP1$r\x9cx", "x"),
    ("\x9dtitle\x1b\\x", "x"),
    ("\x1b]8;;u\x9b1mx", "x"),
    ("\x90q\x85x", "x"),
    ("\x1b\x9b1mx", "x"),
    ("a\x9cb\x80c\x8dd\x9bx", "abcd"),
    ("\x9b?25l\x9b1 qx", "x"),
    ("text\x9d8;;u", "text"),
    ("text\x9b", "text"),
    ("\xa0\x7f\u009f", "\xa0\x7f"),
])
def test_strip(paint, text, stripped):
    result = paint.strip(text)
    assert type(result) is str and result == stripped
    assert paint.strip(Sub(text)) == stripped and type(paint.strip(Sub(text))) is str


def test_strip_type(paint):
    raises(TypeError, "strip() 的参数须为 str，收到: bytes", paint.strip, b"x")


# -- sanitize ------------------------------------------------------------------------------

# What a terminal acts on: the C0 controls but tab and line feed, DEL, the C1
# controls, and the bidirectional controls.
ACTIVE = [*range(0x09), *range(0x0B, 0x20), *range(0x7F, 0xA0), 0x061C, 0x200E, 0x200F,
          *range(0x202A, 0x202F), *range(0x2066, 0x206A)]
# Characters that stay, terminal-inert or printable: joiners, emoji, CJK, ...
KEPT = ["\t", "\n", " ", "~", "\\", "'", '"', "\xa0", "\xad", "é", "\u200b", "\u200c", "\u200d", "\u2028",
        "\u2060", "\ufeff", "汉字", "👩‍💻", "🇨🇳", "\U000e0001", "\udc80"]


@pytest.mark.parametrize(("text", "safe"), [
    ("a\x1b[2Jb", "a\\x1b[2Jb"),
    ("\r\u202e", "\\r\\u202e"),
    ("user\x9b2J\x07\b", "user\\x9b2J\\x07\\x08"),
    ("evil\u2066txt\u2069.exe", "evil\\u2066txt\\u2069.exe"),
    ("line\nnext\tcol", "line\nnext\tcol"),
    ("", ""),
])
def test_sanitize(paint, text, safe):
    for given in (text, Sub(text)):
        result = paint.sanitize(given)
        assert type(result) is str and result == safe


def test_sanitize_each_character(paint):
    for code in ACTIVE:
        assert paint.sanitize(chr(code)) == repr(chr(code))[1:-1], hex(code)
    for text in KEPT:
        assert paint.sanitize(text) == text
    active = "".join(map(chr, ACTIVE))
    assert paint.sanitize(active) == "".join(repr(c)[1:-1] for c in active)
    assert paint.sanitize(paint.sanitize(active)) == paint.sanitize(active)


@pytest.mark.parametrize("value", [b"x", None, 5, ["x"], Boom()])
def test_sanitize_type(paint, value):
    raises(TypeError, f"sanitize() 的参数须为 str，收到: {type(value).__name__}", paint.sanitize, value)


# -- template strings ------------------------------------------------------------------------

USER = "ann\x1b[2J"
MSG = "hi"
LINES = "a\nb"
EMPTY = ""
ST = "bold"


class Shown:
    """Converted differently by format(), str(), repr() and ascii()."""

    def __format__(self, spec):
        assert spec == ""
        return "F\x1b[2J"

    def __str__(self):
        return "S\r"

    def __repr__(self):
        return "R\u202eé"


SHOWN = Shown()
INNER = t"<{USER:bold}>"
GREEN = t"x{MSG:red}y"


@pytest.mark.parametrize(("template", "result"), [
    (t"{USER:bold} said {MSG!r}", "\x1b[1mann\\x1b[2J\x1b[22m said 'hi'"),
    (t"", ""),
    (t"plain", "plain"),
    (t"{SHOWN}", "F\\x1b[2J"),
    (t"{SHOWN!s}", "S\\r"),
    (t"{SHOWN!r}", "R\\u202eé"),
    (t"{SHOWN!a}", "R\\u202e\\xe9"),
    (t"{SHOWN!r:italic}", "\x1b[3mR\\u202eé\x1b[23m"),
    (t"{7:#ff8800 on color(17)}", "\x1b[38;2;255;136;0;48;5;17m7\x1b[39;49m"),
    # The template's own strings are the program's: written as they are.
    (t"\x1b[4m{USER}\x1b[24m\r", "\x1b[4mann\\x1b[2J\x1b[24m\r"),
    (t"{USER:{ST}}", "\x1b[1mann\\x1b[2J\x1b[22m"),
    (t"{USER:{ST} {'red'}}", "\x1b[1;31mann\\x1b[2J\x1b[22;39m"),
    (t"[{EMPTY:bold}]", "[]"),
    (t"{LINES:bold}", "\x1b[1ma\x1b[22m\n\x1b[1mb\x1b[22m"),
    # A template in a template: rendered by the same rules, then styled.
    (t"[{INNER}]", "[<\x1b[1mann\\x1b[2J\x1b[22m>]"),
    (t"[{INNER:underline}]", "[\x1b[4m<\x1b[1mann\\x1b[2J\x1b[22m>\x1b[24m]"),
    (t"{GREEN:green}", "\x1b[32mx\x1b[31mhi\x1b[39;32my\x1b[39m"),
    (t"[{INNER!r}]", "[" + repr(INNER).replace("\x1b", "\\x1b") + "]"),
    (t"{t"{t"{USER!r:dim}"}"}", "\x1b[2m'ann\\x1b[2J'\x1b[22m"),
    (Template("\x1b[1m", Interpolation("\x1b", "x", None, Sub("red")), Sub("!")), "\x1b[1m\x1b[31m\\x1b\x1b[39m!"),
])
def test_templates(paint, template, result):
    got = paint.paint(template, level=3)
    assert type(got) is str and got == result
    everywhere = [paint.paint(template, None, level=3), paint.Style().render(template, level=3),
                  paint.Style().bind(level=3)(template), paint.paint(template, paint.Style(), level=3)]
    assert everywhere == [result] * 4
    assert paint.strip(paint.paint(template, level=0)) == paint.strip(result)


@pytest.mark.parametrize("level", range(4))
def test_template_at_each_level(paint, env, level):
    template = t"{USER:#ff8800} said {MSG!r:bold}"
    colour = paint.downgrade("#ff8800", level)
    expected = (f"{colour}ann\\x1b[2J\x1b[39m said \x1b[1m'hi'\x1b[22m" if level
                else "ann\\x1b[2J said 'hi'")
    assert paint.paint(template, level=level) == expected
    assert paint.Style(italic=True).bind(level=level)(template) == (
        f"\x1b[3m{expected}\x1b[23m" if level else expected)
    assert paint.link(template, "u", level=level) == (
        f"\x1b]8;;u\x1b\\{expected}\x1b]8;;\x1b\\" if level else expected)
    env(FORCE_COLOR=str(level))
    out = io.StringIO()
    paint.echo(template, file=out)
    assert out.getvalue() == expected + "\n"
    assert paint.paint(template, stream=out) == expected


def test_template_inside_an_outer_style(paint):
    template = t"{USER:bold} and {MSG:not bold red}"
    for styled in ways(paint, paint.Style.parse("bold underline")):
        assert styled(template) == (
            "\x1b[1;4m\x1b[1mann\\x1b[2J\x1b[22;1m and \x1b[22;1;31mhi\x1b[39m\x1b[22;24m")


def test_template_level_resolved_once(paint, env):
    env(TERM="xterm-256color")
    stream = Stream(True)
    template = t"{1:red}{2:bold}{INNER}"
    assert paint.paint(template, stream=stream) == paint.paint(template, level=2)
    assert stream.isatty_calls == 1
    env(NO_COLOR="1")
    assert paint.paint(template, stream=stream) == "12<ann\\x1b[2J>"
    raises(ValueError, "颜色级别须在 0-3 范围内，收到: 7", paint.paint, template, level=7)
    raises(TypeError, "颜色级别须为 ColorLevel 或 0-3 的 int，收到: True", paint.paint, t"x", level=True)


@pytest.mark.parametrize(("template", "message"), [
    (t"{USER:bold xx}", "无法解析的样式标记: 'xx'"),
    (t"{USER:red on}", "'on' 之后缺少背景色: 'on'"),
    (t"{USER:{'red blue'}}", "前景色重复: 'blue'"),
    (t"ok {t"{USER:Bold}"}", "无法解析的样式标记: 'Bold'"),
])
@pytest.mark.parametrize("level", [0, 3])
def test_template_bad_specs(paint, env, template, message, level):
    env(FORCE_COLOR=str(level))
    raises(ValueError, message, paint.paint, template, level=level)
    raises(ValueError, message, paint.paint, template, "bold", level=level)
    raises(ValueError, message, paint.Style().bind(level=level), template)
    raises(ValueError, message, paint.link, template, "u", level=level)
    raises(ValueError, message, paint.echo, template, file=io.StringIO())


def test_template_hostile_values(paint):
    class FormatRaises:
        def __format__(self, spec):
            raise Boom("format")

    class FormatGivesSub:
        def __format__(self, spec):
            return Sub("\x1b")

    for call in (lambda t: paint.paint(t, level=3), paint.Style(bold=True).bind(level=0)):
        with pytest.raises(Boom):
            call(t"{FormatRaises()}")
        with pytest.raises(Boom):
            call(t"{StrRaises()!s}")
        result = call(t"{FormatGivesSub()}{StrGivesSub()!s}")
        assert type(result) is str and paint.strip(result) == "\\x1bhi"


def test_template_of_many_parts(paint):
    parts = []
    for i in range(40):
        parts += [f"<{i}>", Interpolation(f"v{i}\x1b", "v", None, "bold" if i % 2 else "")]
    expected = "".join(f"<{i}>" + (f"\x1b[1mv{i}\\x1b\x1b[22m" if i % 2 else f"v{i}\\x1b") for i in range(40))
    assert paint.paint(Template(*parts), level=3) == expected


def test_deeply_nested_template_raises(paint):
    template = t"x"
    for _ in range(100_000):
        template = Template(Interpolation(template, "t"))
    with pytest.raises(RecursionError):
        paint.paint(template, level=3)


# -- link --------------------------------------------------------------------------------------

URL = "https://example.com/a?b=c#d"


@pytest.mark.parametrize("level", [1, 2, 3])
def test_link(paint, level):
    opening = f"\x1b]8;;{URL}\x1b\\"
    assert paint.link("docs", URL, level=level) == f"{opening}docs\x1b]8;;\x1b\\"
    assert paint.link("docs", URL, id="ref-1", level=level) == f"\x1b]8;id=ref-1;{URL}\x1b\\docs\x1b]8;;\x1b\\"
    assert paint.link(5, Sub(URL), id=Sub("!~"), level=level) == f"\x1b]8;id=!~;{URL}\x1b\\5\x1b]8;;\x1b\\"
    result = paint.link(Sub("docs"), Sub(URL), level=level)
    assert type(result) is str and result == f"{opening}docs\x1b]8;;\x1b\\"
    assert paint.link("", URL, level=level) == paint.link(t"", URL, level=level) == ""
    assert paint.link(t"see {USER}", URL, level=level) == f"{opening}see ann\\x1b[2J\x1b]8;;\x1b\\"


def test_link_at_none_and_by_stream(paint, env, tty):
    assert paint.link("docs", URL, id="x", level=0) == "docs"
    assert type(paint.link(Sub("docs"), URL, level=0)) is str
    assert paint.link("", URL, level=0) == ""
    env(TERM="xterm")
    assert paint.link("docs", URL, stream=tty) == f"\x1b]8;;{URL}\x1b\\docs\x1b]8;;\x1b\\"
    assert paint.link("docs", URL, stream=io.StringIO()) == "docs"
    env(NO_COLOR="1")
    assert paint.link("docs", URL, stream=tty) == "docs"


LINK_RULE = "须为非空的可打印 ASCII 字符串 (U+0021-U+007E)"
ID_RULE = LINK_RULE + "，且不含 ';' 与 ':'"


@pytest.mark.parametrize(("url", "kwargs", "exc", "message"), [
    ("", {}, ValueError, f"url {LINK_RULE}，收到: ''"),
    ("a b", {}, ValueError, f"url {LINK_RULE}，收到: 'a b'"),
    ("https://例子.com", {}, ValueError, f"url {LINK_RULE}，收到: 'https://例子.com'"),
    ("u\x1b\\x", {}, ValueError, f"url {LINK_RULE}，收到: 'u\\x1b\\\\x'"),
    ("u\x07", {}, ValueError, f"url {LINK_RULE}，收到: 'u\\x07'"),
    ("u\x7f", {}, ValueError, f"url {LINK_RULE}，收到: 'u\\x7f'"),
    (5, {}, TypeError, "url 须为 str，收到: int"),
    (b"u", {"id": "x"}, TypeError, "url 须为 str，收到: bytes"),
    (None, {}, TypeError, "url 须为 str，收到: NoneType"),
    (URL, {"id": ""}, ValueError, f"id {ID_RULE}，收到: ''"),
    (URL, {"id": "a;b"}, ValueError, f"id {ID_RULE}，收到: 'a;b'"),
    (URL, {"id": "a:b"}, ValueError, f"id {ID_RULE}，收到: 'a:b'"),
    (URL, {"id": "a b"}, ValueError, f"id {ID_RULE}，收到: 'a b'"),
    (URL, {"id": "\u200b"}, ValueError, f"id {ID_RULE}，收到: '\\u200b'"),
    (URL, {"id": 1}, TypeError, "id 须为 str 或 None，收到: int"),
    (URL, {"level": 4}, ValueError, "颜色级别须在 0-3 范围内，收到: 4"),
    (URL, {"level": "3"}, TypeError, "颜色级别须为 ColorLevel 或 0-3 的 int，收到: '3'"),
])
def test_link_errors(paint, url, kwargs, exc, message):
    for text in ("docs", StrRaises()):  # checked before the text is made
        raises(exc, message, paint.link, text, url, **{"level": 0, **kwargs})
        raises(exc, message, paint.link, text, url, **{"level": 3, **kwargs})


def test_link_inside_paint_and_strip(paint):
    docs = paint.link("docs", URL, id="d", level=3)
    style = paint.Style(fg="red", underline=True)
    pre, post = style.codes(3)
    for styled in ways(paint, style):
        assert styled(docs) == pre + docs + post
        assert styled(f"see {docs}\nnow") == f"{pre}see {docs}{post}\n{pre}now{post}"
    assert paint.strip(docs) == "docs"
    styled_link = paint.link(paint.paint("docs", style, level=3), URL, level=3)
    assert paint.strip(styled_link) == "docs"
    line, end = cells(styled_link + "!")
    assert [(line[x].data, line[x].fg) for x in range(5)] == [
        ("d", "red"), ("o", "red"), ("c", "red"), ("s", "red"), ("!", "default")]


# -- the extension and the twin on random text ---------------------------------------------------

SGR_FIELDS = st.sampled_from(["", "0", "00", "1", "2", "3", "4", "7", "9", "22", "23", "24", "25", "27", "29",
                              "31", "39", "49", "55", "022", "38", "48", "58", "5", "2", "208", "4:3",
                              "38:2::1:2:3", "0" * 6 + "1", "9" * 12])
SGRS = st.lists(SGR_FIELDS, max_size=6).map(lambda fields: "\x1b[" + ";".join(fields) + "m")
PIECES = st.one_of(
    st.text(st.sampled_from("ab 汉é\t"), min_size=1, max_size=4),
    st.sampled_from(["\n", "\r\n", "\r", "\n\n"]),
    SGRS,
    st.sampled_from([
        "\x1b[>4;22m", "\x1b[?25l", "\x1b[1 q", "\x1b[39 m", "\x1b(B", "\x1b7", "\x1b\\",
        "\x1b]8;;http://e/\x07", "\x1b]8;id=1;u\x1b\\", "\x1b]8;;\x1b\\", "\x1b]0;a\nb\x07", "\x1bPq\x1b\\",
        "\x9b31m", "\x9b0m", "\x9d8;;u\x9c", "\x9c", "\x85", "\x90dcs\x9c", "\x9f", "\u202e", "\x7f",
    ]),
)
TEXTS = st.tuples(st.lists(PIECES, max_size=12),
                  st.sampled_from(["", "\x1b", "\x1b[", "\x1b[3", "\x1b[38;5", "\x1b]8;;u", "\x1b]8;;u\n", "\x1bP",
                                   "\x9b", "\x9d8;", "\x1b "])).map(lambda t: "".join(t[0]) + t[1])
STYLE_STRINGS = st.lists(st.sampled_from(["bold", "not bold", "dim", "italic", "underline", "blink", "blink_fast",
                                          "not reverse", "strike", "overline", "red", "#ff8800", "color(200)",
                                          "on blue", "on rgb(0,43,54)"]), max_size=4)


def style_of(p, words):
    """A style made of these words; a conflict keeps the first."""
    style = p.Style()
    for word in words:
        try:
            style = style + p.Style.parse(word)
        except ValueError:
            pass
    return style


@settings(suppress_health_check=[HealthCheck.function_scoped_fixture], max_examples=300)
@given(text=TEXTS, words=STYLE_STRINGS, level=st.integers(0, 3))
def test_strip_sees_only_what_text_holds(paint, text, words, level):
    """Painting adds and changes SGRs only: what strip leaves is the text's."""
    style = style_of(paint, words)
    assert paint.strip(style.render(text, level=level)) == paint.strip(text)
    assert paint.sanitize(text) == paint.strip(paint.sanitize(text))


@settings(max_examples=400)
@given(text=TEXTS, words=STYLE_STRINGS, level=st.integers(0, 3))
def test_extension_matches_twin_on_text(text, words, level):
    ext, twin = pytest.importorskip("tintara.paint"), pytest.importorskip("twin.paint")
    e, t = style_of(ext, words), style_of(twin, words)
    assert e.render(text, level=level) == t.render(text, level=level)
    assert e.bind(level=level)(text) == t.bind(level=level)(text)
    assert ext.strip(text) == twin.strip(text)
    assert ext.sanitize(text) == twin.sanitize(text)


@settings(max_examples=200)
@given(values=st.lists(TEXTS, min_size=3, max_size=3), words=STYLE_STRINGS, spec=STYLE_STRINGS,
       level=st.integers(0, 3))
def test_extension_matches_twin_on_templates(values, words, spec, level):
    ext, twin = pytest.importorskip("tintara.paint"), pytest.importorskip("twin.paint")
    a, b, c = values
    spec = " ".join(spec)
    template = t"{a} {b!r:{spec}} {t"{c:{spec}}\n{a!a}":underline}"
    for call in (lambda m: style_of(m, words).render(template, level=level),
                 lambda m: m.link(template, "u", level=level)):
        assert repr(outcome(lambda: call(ext))) == repr(outcome(lambda: call(twin)))
