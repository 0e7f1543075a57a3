"""tintara.paint: styles, style strings, levels, the palette rules, nesting,
strip and echo.

Every test takes the ``paint`` fixture and so runs against the extension and
the twin; each reads the tables of its own family (``paint._colors``,
``paint._styles``, ``paint._detect``), and the tests change those through
``monkeypatch``.
"""

import copy
import inspect
import io
import os
import pickle
import pty
import random
import sys
import types
from string.templatelib import Interpolation, Template

import pyte
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from checks import raises
from fakes import Stream
from hostile import Boom, StrRaises, outcome

# xterm's default palette, written out from its description.
CUBE = (0, 95, 135, 175, 215, 255)
XTERM = [tuple(bytes.fromhex(h)) for h in (
    "000000 cd0000 00cd00 cdcd00 0000ee cd00cd 00cdcd e5e5e5 "
    "7f7f7f ff0000 00ff00 ffff00 5c5cff ff00ff 00ffff ffffff").split()]
XTERM += [(CUBE[i // 36], CUBE[i // 6 % 6], CUBE[i % 6]) for i in range(216)]
XTERM += [(8 + 10 * i,) * 3 for i in range(24)]

EVERYTHING = dict(fg=(1, 2, 3), bg="blue", bold=True, dim=False, italic=True, underline=True, blink=True,
                  blink_fast=False, reverse=True, hidden=True, strikethrough=True, overline=True)


def rgb(hex_colour):
    return tuple(bytes.fromhex(hex_colour[1:]))


class Sub(str):
    pass


class StrGivesSub:
    def __str__(self):
        return Sub("hi")

    def __format__(self, spec):
        raise AssertionError("format() called")


class OwnStr(str):
    def __str__(self):
        return "hi"


class Recorder:
    """A terminal-like file that records what is done to it."""

    def __init__(self):
        self.calls = []

    def isatty(self):
        return True

    def write(self, text):
        self.calls.append(("write", text))

    def flush(self):
        self.calls.append(("flush",))


@pytest.fixture
def tty(env):
    """The writing side of a pseudo-terminal, with a clean environment; .master reads it."""
    master, slave = pty.openpty()
    with os.fdopen(slave, "w") as stream:
        stream.master = master
        yield stream
    os.close(master)


def level_of(paint, name):
    return getattr(paint._detect.ColorLevel, name)


# -- the levels table and the examples ---------------------------------------------

# colour, background, the SGR parameters at BASIC, EXTENDED, TRUECOLOR.
LEVELS = [
    ("red", False, ("31", "31", "31")),
    ("Bright-Red", True, ("101", "101", "101")),
    ("grey", False, ("90", "90", "90")),
    (9, False, ("91", "38;5;9", "38;5;9")),
    (3, True, ("43", "48;5;3", "48;5;3")),
    (196, False, ("91", "38;5;196", "38;5;196")),
    (244, True, ("100", "48;5;244", "48;5;244")),
    ("#ff8800", False, ("91", "38;5;208", "38;2;255;136;0")),
    ("#F80", True, ("101", "48;5;208", "48;2;255;136;0")),
    ((0, 128, 128), False, ("36", "38;5;30", "38;2;0;128;128")),
    ((95, 135, 175), True, ("104", "48;5;67", "48;2;95;135;175")),
]


@pytest.mark.parametrize(("colour", "background", "params"), LEVELS)
def test_levels_table(paint, colour, background, params):
    code = paint._colors.bg_code if background else paint._colors.fg_code
    style = paint.Style(bg=colour) if background else paint.Style(fg=colour)
    off = "\x1b[49m" if background else "\x1b[39m"
    for level in (0, paint._detect.ColorLevel.NONE):
        assert paint.downgrade(colour, level, background=background) == ""
        assert style.codes(level) == ("", "")
    for n, expected in enumerate(params, 1):
        seq = f"\x1b[{expected}m"
        for level in (n, paint._detect.ColorLevel(n)):
            assert paint.downgrade(colour, level, background=background) == seq
            assert style.codes(level) == (seq, off)
            assert style.render("x", level=level) == f"{seq}x{off}"
    assert params[2] == code(colour)[2:-1]
    if not isinstance(colour, tuple) and not str(colour).startswith("#"):
        assert params[1] == params[2]


# colour, index (256), code (16)
EXAMPLES = [("#ff8800", 208, 91), ("#808080", 244, 90), ("#c0c0c0", 250, 37),
            ("#008080", 30, 36), ("#5f87af", 67, 94), ("#eeeeee", 255, 37)]


@pytest.mark.parametrize(("colour", "index", "code"), EXAMPLES)
def test_examples(paint, colour, index, code):
    assert paint.nearest_256(*rgb(colour)) == index
    assert paint.nearest_16(*rgb(colour)) == code - 30 - (60 - 8 if code >= 90 else 0)
    assert paint.downgrade(colour, 2) == f"\x1b[38;5;{index}m"
    assert paint.downgrade(colour, 1) == f"\x1b[{code}m"
    assert paint.downgrade(colour, 1, background=True) == f"\x1b[{code + 10}m"


# The 16-colour rule: a muted colour far from its hue's colour in lightness
# goes to black, grey or white; the others keep the hue rule's answer.
SIXTEEN = [("#002b36", 0), ("#200020", 0), ("#400000", 0), ("#1e1e2e", 0), ("#073642", 8), ("#3a3a1a", 8),
           ("#ffd7d7", 7), ("#e0e0ff", 7), ("#ff8800", 9), ("#808080", 8), ("#c0c0c0", 7), ("#eeeeee", 7),
           ("#008080", 6), ("#5f87af", 12), ("#800000", 1), ("#ffe0b0", 3)]


@pytest.mark.parametrize(("colour", "index"), SIXTEEN)
def test_sixteen_colour_rule(paint, colour, index):
    assert paint.nearest_16(*rgb(colour)) == index
    code = 30 + index if index < 8 else 82 + index
    assert paint.downgrade(colour, 1) == f"\x1b[{code}m"
    assert paint.downgrade(colour, 1, background=True) == f"\x1b[{code + 10}m"
    assert paint.Style(bg=rgb(colour)).codes(1)[0] == f"\x1b[{code + 10}m"


def twin_oklab():
    """The twin's own Oklab conversion."""
    return pytest.importorskip("twin._palette").oklab


def nearest_by_search(oklab, colour, indices):
    lab = oklab(*colour)

    def distance(n):
        e = oklab(*XTERM[n])
        dl, da, db = lab[0] - e[0], lab[1] - e[1], lab[2] - e[2]
        return dl * dl + da * da + db * db

    return min(indices, key=lambda n: (distance(n), n))


def test_hue_first_differs_from_plain_nearest(paint):
    assert nearest_by_search(twin_oklab(), rgb("#008080"), range(16)) == 8
    assert paint.nearest_16(*rgb("#008080")) == 6


@pytest.mark.parametrize("seed", range(3))
def test_nearest_256_is_the_nearest_entry(paint, seed):
    oklab = twin_oklab()
    rng = random.Random(seed)
    colours = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(300)]
    for colour in colours:
        assert paint.nearest_256(*colour) == nearest_by_search(oklab, colour, range(16, 256)), colour


def test_palette_entries_map_to_themselves(paint):
    for n in range(16, 256):
        assert paint.nearest_256(*XTERM[n]) == n
        code = paint.downgrade(n, 1)
        assert code == paint.downgrade(XTERM[n], 1) == paint.Style(fg=n).codes(1)[0]
    for n in range(16):
        assert paint.downgrade(n, 1) == f"\x1b[{30 + n if n < 8 else 82 + n}m"


def test_extension_and_twin_agree_on_random_colours():
    ext, twin = pytest.importorskip("tintara.paint"), pytest.importorskip("twin.paint")
    rng = random.Random(11)
    for _ in range(3000):
        colour = tuple(rng.randrange(256) for _ in range(3))
        assert ext.nearest_256(*colour) == twin.nearest_256(*colour), colour
        assert ext.nearest_16(*colour) == twin.nearest_16(*colour), colour


@pytest.mark.parametrize(("args", "exc", "message"), [
    ((True, 0, 0), TypeError, "r 须为 int，收到: True"),
    ((0, 1.5, 0), TypeError, "g 须为 int，收到: 1.5"),
    ((0, 0, "1"), TypeError, "b 须为 int，收到: '1'"),
    ((256, 0, 0), ValueError, "r 须在 0-255 范围内，收到: 256"),
    ((0, 0, -1), ValueError, "b 须在 0-255 范围内，收到: -1"),
])
@pytest.mark.parametrize("fn", ["nearest_256", "nearest_16"])
def test_nearest_arguments(paint, fn, args, exc, message):
    raises(exc, message, getattr(paint, fn), *args)


# -- levels ------------------------------------------------------------------------


@pytest.mark.parametrize(("level", "exc", "message"), [
    (True, TypeError, "颜色级别须为 ColorLevel 或 0-3 的 int，收到: True"),
    (1.0, TypeError, "颜色级别须为 ColorLevel 或 0-3 的 int，收到: 1.0"),
    ("1", TypeError, "颜色级别须为 ColorLevel 或 0-3 的 int，收到: '1'"),
    (4, ValueError, "颜色级别须在 0-3 范围内，收到: 4"),
    (-1, ValueError, "颜色级别须在 0-3 范围内，收到: -1"),
])
def test_bad_levels(paint, level, exc, message):
    style = paint.Style(fg="red")
    raises(exc, message, style.codes, level)
    raises(exc, message, style.render, "x", level=level)
    raises(exc, message, style.bind, level=level)
    raises(exc, message, paint.paint, "x", "red", level=level)
    raises(exc, message, paint.downgrade, "red", level)


def test_level_detected_at_each_call_and_kept_by_a_pen(paint, env, tty, monkeypatch):
    style = paint.Style(fg="#ff8800")
    env(TERM="xterm")
    pen = style.bind(tty)
    assert style.render("x", stream=tty) == "\x1b[91mx\x1b[39m"
    env(TERM="xterm-256color")
    assert style.render("x", stream=tty) == "\x1b[38;5;208mx\x1b[39m"
    monkeypatch.setattr(sys, "stdout", tty)
    assert paint.paint("x", style) == "\x1b[38;5;208mx\x1b[39m"
    env(COLORTERM="truecolor")
    assert paint.paint("x", "#ff8800") == "\x1b[38;2;255;136;0mx\x1b[39m"
    assert pen("x") == "\x1b[91mx\x1b[39m"
    assert pen.level is level_of(paint, "BASIC")
    assert (pen.prefix, pen.suffix, pen.style) == ("\x1b[91m", "\x1b[39m", style)
    assert repr(pen) == "<Pen level=BASIC style=Style(fg='#ff8800')>"


# -- Style: building, fields, codes ----------------------------------------------------


@pytest.mark.parametrize(("kwargs", "exc", "message"), [
    ({"fg": "nope"}, ValueError, "未知颜色名称: 'nope'"),
    ({"bg": "#12"}, ValueError, "无法解析十六进制颜色: '#12'，期望格式 #RGB 或 #RRGGBB"),
    ({"fg": "#ff8800\n"}, ValueError, "无法解析十六进制颜色: '#ff8800\\n'，期望格式 #RGB 或 #RRGGBB"),
    ({"fg": 256}, ValueError, "256 色索引须在 0-255 范围内，收到: 256"),
    ({"bg": -1}, ValueError, "256 色索引须在 0-255 范围内，收到: -1"),
    ({"fg": (1, 2)}, ValueError, "RGB 元组须有 3 个分量，收到: (1, 2)"),
    ({"fg": (1, 2, 256)}, ValueError, "RGB 分量须在 0-255 范围内，收到: (1, 2, 256)"),
    ({"bg": (1, 2, 3.0)}, TypeError, "RGB 分量须为 int，收到: (1, 2, 3.0)"),
    ({"fg": (1, True, 3)}, TypeError, "RGB 分量须为 int，收到: (1, True, 3)"),
    ({"fg": True}, TypeError, "不支持的颜色类型: bool"),
    ({"fg": 1.0}, TypeError, "不支持的颜色类型: float"),
    ({"bg": [1, 2, 3]}, TypeError, "不支持的颜色类型: list"),
    ({"bold": 1}, TypeError, "样式属性 bold 须为 True、False 或 None，收到: 1"),
    ({"overline": "yes"}, TypeError, "样式属性 overline 须为 True、False 或 None，收到: 'yes'"),
])
def test_construction_errors(paint, kwargs, exc, message):
    raises(exc, message, paint.Style, **kwargs)
    colour = kwargs.get("fg", kwargs.get("bg"))
    if colour is not None:
        raises(exc, message, paint.downgrade, colour, 3)


def test_fields_equality_and_immutability(paint):
    Style = paint.Style
    assert paint.ATTRIBUTES == ("bold", "dim", "italic", "underline", "blink", "blink_fast",
                                "reverse", "hidden", "strikethrough", "overline")
    s = Style(fg="Bright-Red", bg=(1, 2, 3), bold=True, dim=False)
    assert (s.fg, s.bg, s.bold, s.dim, s.italic) == ("bright_red", (1, 2, 3), True, False, None)
    assert repr(s) == "Style(fg='bright_red', bg=(1, 2, 3), bold=True, dim=False)"
    assert eval(repr(s), {"Style": Style}) == s
    assert repr(Style()) == "Style()" and str(Style()) == ""
    assert Style(fg="grey") == Style(fg="bright_black") and Style(bg="#F80") == Style(bg="#ff8800")
    assert hash(Style(fg="RED")) == hash(Style(fg="red"))
    assert Style(fg=9) != Style(fg="bright_red") and Style(bold=False) != Style()
    assert type(Style(fg=paint._detect.ColorLevel.BASIC).fg) is int
    for name in ("fg", "bold"):
        raises(AttributeError, "Style 对象不可修改", setattr, s, name, None)
        raises(AttributeError, "Style 对象不可修改", delattr, s, name)
    combined = s + Style(fg="blue", dim=None, italic=True)
    assert combined == Style(fg="blue", bg=(1, 2, 3), bold=True, dim=False, italic=True)
    with pytest.raises(TypeError):
        s + "bold"


@pytest.mark.parametrize(("style", "level", "codes"), [
    ("bold red", 1, ("\x1b[1;31m", "\x1b[22;39m")),
    ({"bold": False}, 3, ("\x1b[22m", "")),
    ({"bold": True, "dim": False}, 1, ("\x1b[22;1m", "\x1b[22m")),
    ({"bold": True, "dim": True}, 2, ("\x1b[1;2m", "\x1b[22m")),
    ({"bold": False, "dim": False, "blink": False}, 3, ("\x1b[22;25m", "")),
    ({"overline": True, "italic": False, "fg": 1, "bg": "red"}, 2, ("\x1b[23;53;38;5;1;41m", "\x1b[55;39;49m")),
    ({"blink": True, "blink_fast": True}, 1, ("\x1b[5;6m", "\x1b[25m")),
    ({}, 3, ("", "")),
    (EVERYTHING, 0, ("", "")),
    (EVERYTHING, 3, ("\x1b[22;25;1;3;4;5;7;8;9;53;38;2;1;2;3;44m", "\x1b[22;23;24;25;27;28;29;55;39;49m")),
])
def test_codes(paint, style, level, codes):
    style = paint.Style.parse(style) if isinstance(style, str) else paint.Style(**style)
    assert style.codes(level) == codes
    assert style.render("x", level=level) == (codes[0] + "x" + codes[1] if codes[0] else "x")
    assert style.render("", level=level) == ""


# -- style strings -----------------------------------------------------------------


@pytest.mark.parametrize(("text", "fields"), [
    ("", {}),
    ("bold red", {"bold": True, "fg": "red"}),
    ("  red\tbold\n", {"bold": True, "fg": "red"}),
    ("not bold on blue italic", {"bold": False, "bg": "blue", "italic": True}),
    ("strike not conceal", {"strikethrough": True, "hidden": False}),
    ("bold bold strike strikethrough", {"bold": True, "strikethrough": True}),
    ("color(208) on rgb(0,128,128)", {"fg": 208, "bg": (0, 128, 128)}),
    ("#F80 on GREY", {"fg": "#ff8800", "bg": "bright_black"}),
    ("Bright-Red", {"fg": "bright_red"}),
])
def test_parse(paint, text, fields):
    assert paint.Style.parse(text) == paint.Style(**fields)
    assert paint.Style.parse(Sub(text)) == paint.Style(**fields)


@pytest.mark.parametrize(("text", "message"), [
    ("bold xx red", "无法解析的样式标记: 'xx'"),
    ("Bold", "无法解析的样式标记: 'Bold'"),
    ("red #12345", "无法解析的样式标记: '#12345'"),
    ("color(256)", "无法解析的样式标记: 'color(256)'"),
    ("Color(1)", "无法解析的样式标记: 'Color(1)'"),
    ("on rgb(1,2)", "无法解析的样式标记: 'rgb(1,2)'"),
    ("rgb(1, 2, 3)", "无法解析的样式标记: 'rgb(1,'"),
    ("rgb(1,2,300)", "无法解析的样式标记: 'rgb(1,2,300)'"),
    ("bold not", "无法解析的样式标记: 'not'"),
    ("not red", "无法解析的样式标记: 'red'"),
    ("red on", "'on' 之后缺少背景色: 'on'"),
    ("red bold red", "前景色重复: 'red'"),
    ("red blue", "前景色重复: 'blue'"),
    ("on red on red", "背景色重复: 'red'"),
    ("bold italic not bold", "样式属性冲突: 'bold'"),
    ("strike not strikethrough", "样式属性冲突: 'strikethrough'"),
])
def test_parse_errors(paint, text, message):
    raises(ValueError, message, paint.Style.parse, text)
    raises(ValueError, message, paint.paint, "x", text, level=3)


def test_parse_and_style_argument_types(paint):
    raises(TypeError, "样式须为 str，收到: int", paint.Style.parse, 5)
    raises(TypeError, "样式须为 Style、str 或 None，收到: dict", paint.paint, "x", {"bold": True})
    raises(TypeError, "样式须为 Style、str 或 None，收到: int", paint.echo, "x", 1, file=io.StringIO())


def test_str_canonical_order(paint, monkeypatch):
    style = paint.Style(bg=200, fg=(1, 2, 3), overline=False, bold=True, hidden=True)
    assert str(style) == "bold hidden not overline rgb(1,2,3) on color(200)"
    assert str(paint.Style(fg="Grey", bg="#ABC")) == "bright_black on #aabbcc"
    # Attributes go in STYLES order, as the table stands when the style is built.
    reordered = {"overline": (53, 55), **paint._styles.STYLES}
    monkeypatch.setattr(paint._styles, "STYLES", reordered)
    style = paint.Style(bold=True, overline=True)
    assert str(style) == "overline bold"
    assert style.codes(1) == ("\x1b[53;1m", "\x1b[55;22m")


colours = st.one_of(
    st.none(), st.integers(0, 255), st.tuples(*[st.integers(0, 255)] * 3),
    st.sampled_from(["red", "Bright-Blue", "grey", "bright_purple", "WHITE"]),
    st.integers(0, 0xFFFFFF).map("#{:06X}".format), st.integers(0, 0xFFF).map("#{:03x}".format),
)
tri = st.sampled_from([None, True, False])


@settings(suppress_health_check=[HealthCheck.function_scoped_fixture], max_examples=150)
@given(fg=colours, bg=colours, attrs=st.lists(tri, min_size=10, max_size=10),
       text=st.text(st.characters(exclude_characters="\x1b" + "".join(map(chr, range(0x80, 0xA0)))), max_size=8),
       level=st.integers(0, 3))
def test_str_round_trip(paint, fg, bg, attrs, text, level):
    style = paint.Style(fg, bg, **dict(zip(paint.ATTRIBUTES, attrs)))
    assert paint.Style.parse(str(style)) == style
    assert paint.strip(style.render(text, level=level)) == text


ESCAPEY = st.lists(st.sampled_from([*"a \x1b[]();:0123459mP\\\x07>?B#", "red", "on", "not", "bold"]),
                   max_size=30).map("".join)


@settings(max_examples=300)
@given(fg=colours, bg=colours, attrs=st.lists(tri, min_size=10, max_size=10), text=ESCAPEY,
       level=st.integers(0, 3))
def test_extension_matches_twin(fg, bg, attrs, text, level):
    ext, twin = pytest.importorskip("tintara.paint"), pytest.importorskip("twin.paint")
    e, t = (m.Style(fg, bg, **dict(zip(m.ATTRIBUTES, attrs))) for m in (ext, twin))
    assert (str(e), repr(e), e.codes(level)) == (str(t), repr(t), t.codes(level))
    assert e.render(text, level=level) == t.render(text, level=level)
    assert ext.strip(text) == twin.strip(text)
    assert repr(outcome(lambda: ext.Style.parse(text))) == repr(outcome(lambda: twin.Style.parse(text)))


# -- tables changed between building styles -------------------------------------------


def test_tables_read_when_a_style_is_built(paint, monkeypatch):
    colors, styles = paint._colors, paint._styles
    old = paint.Style(fg="red", bold=True)
    for _ in range(2):  # a second call may come from a cache of parsed strings
        assert paint.paint("x", "bold", level=1) == "\x1b[1mx\x1b[22m"
        assert paint.paint("x", "red", level=1) == "\x1b[31mx\x1b[39m"
    monkeypatch.setitem(styles.STYLES, "bold", (7, 27))
    monkeypatch.setitem(colors.NAMED_COLORS, "red", 35)
    monkeypatch.setitem(colors.COLOR_ALIASES, "sky", "cyan")
    assert paint.paint("x", "bold", level=1) == "\x1b[7mx\x1b[27m"
    assert paint.Style(bold=True).codes(1) == ("\x1b[7m", "\x1b[27m")
    assert paint.paint("x", "red on sky", level=1) == "\x1b[35;46mx\x1b[39;49m"
    assert old.codes(1) == ("\x1b[1;31m", "\x1b[22;39m")
    assert (old + paint.Style(italic=True)).codes(1) == ("\x1b[1;3;31m", "\x1b[22;23;39m")
    monkeypatch.delitem(colors.NAMED_COLORS, "red")
    raises(ValueError, "无法解析的样式标记: 'red'", paint.paint, "x", "red", level=1)
    raises(ValueError, "未知颜色名称: 'red'", paint.Style, "red")
    assert old.render("x", level=1) == "\x1b[1;31mx\x1b[22;39m"
    monkeypatch.setattr(styles, "STYLES", {"dim": (2, 22)})
    raises(ValueError, "未知样式: 'bold'", paint.paint, "x", "bold", level=1)
    monkeypatch.setattr(styles, "STYLES", {"bold": (1,)})
    raises(TypeError, "样式码须为两个 int，收到: (1,)", paint.Style, bold=False)
    monkeypatch.setitem(colors.NAMED_COLORS, "blue", "34")
    raises(TypeError, "颜色码须为 int，收到: '34'", paint.Style, "blue")


class CountedName(str):
    """An alias target whose hashing is counted: code a table lookup runs."""

    calls = 0

    def __hash__(self):
        type(self).calls += 1
        return str.__hash__(self)

    __eq__ = str.__eq__


def test_lookups_that_run_code_run_at_every_parse(paint, monkeypatch):
    monkeypatch.setitem(paint._colors.COLOR_ALIASES, "rose", CountedName("red"))
    counts = []
    for _ in range(3):
        before = CountedName.calls
        assert paint.paint("x", "rose", level=1) == "\x1b[31mx\x1b[39m"
        counts.append(CountedName.calls - before)
    assert counts[0] > 0 and len(set(counts)) == 1


class Redirected(types.ModuleType):
    """A module class that answers NAMED_COLORS from elsewhere."""

    def __getattribute__(self, name):
        if name == "NAMED_COLORS":
            return {"red": 36}
        return super().__getattribute__(name)


def test_parsed_strings_follow_rebound_modules(paint, monkeypatch):
    red = "\x1b[31mx\x1b[39m"
    for _ in range(2):
        assert paint.paint("x", "red", level=1) == red
    fake = types.ModuleType("fake")
    fake.NAMED_COLORS, fake.COLOR_ALIASES = {"red": 35}, {}
    monkeypatch.setattr(paint, "_colors", fake)
    assert paint.paint("x", "red", level=1) == "\x1b[35mx\x1b[39m"
    monkeypatch.undo()
    assert paint.paint("x", "red", level=1) == red
    monkeypatch.setattr(paint._colors, "__class__", Redirected)
    assert paint.paint("x", "red", level=1) == "\x1b[36mx\x1b[39m"
    monkeypatch.undo()
    assert paint.paint("x", "red", level=1) == red


# -- nesting ---------------------------------------------------------------------------


def cells(text):
    """The first line of an emulated terminal fed text, and the state it ends in."""
    screen = pyte.Screen(40, 2)
    pyte.Stream(screen).feed(text)
    return screen.buffer[0], screen.cursor.attrs


def ways(paint, style):
    """Every way of styling text at TRUECOLOR: render, a pen, paint."""
    return [lambda t: style.render(t, level=3), style.bind(level=3), lambda t: paint.paint(t, style, level=3)]


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


# -- Style and the pen are values --------------------------------------------------------------


@pytest.mark.parametrize("fields", [
    {}, {"fg": "grey"}, {"fg": (1, 2, 3), "bg": "#F80", "bold": False}, {"bg": 200, "overline": True}, EVERYTHING,
], ids=repr)
def test_style_is_a_value(paint, fields):
    style = paint.Style(**fields)
    assert copy.copy(style) is style and copy.deepcopy(style) is style
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        back = pickle.loads(pickle.dumps(style, protocol))
        assert type(back) is paint.Style and back == style, protocol
        assert [back.codes(n) for n in range(4)] == [style.codes(n) for n in range(4)]
    theme = {"warn": style, "all": [style, paint.Style(bold=True)], "pen": style.bind(level=2)}
    copied = copy.deepcopy(theme)
    assert copied is not theme and copied["all"] is not theme["all"]
    assert copied["warn"] is style and copied["all"][1] is theme["all"][1] and copied["pen"] is theme["pen"]


@pytest.mark.parametrize("level", range(4))
def test_pen_is_a_value(paint, level):
    pen = paint.Style(fg="#ff8800", bold=True).bind(level=level)
    assert copy.copy(pen) is pen and copy.deepcopy(pen) is pen
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        back = pickle.loads(pickle.dumps(pen, protocol))
        assert type(back) is type(pen) and back is not pen
        assert (back.style, back.level, back.prefix, back.suffix) == (pen.style, pen.level, pen.prefix, pen.suffix)
        assert back.level is pen.level and back("a\nb") == pen("a\nb")


def test_pen_pickles_its_level_not_its_stream(paint, env, tty):
    env(TERM="xterm")
    data = pickle.dumps(paint.Style(fg="#ff8800").bind(tty))
    env(COLORTERM="truecolor")
    pen = pickle.loads(data)
    assert pen.level is level_of(paint, "BASIC") and pen("x") == "\x1b[91mx\x1b[39m"


# -- hostile callers: the twin follows the module ------------------------------------------------


@pytest.fixture
def digit_limit():
    """int's default limit on the digits it converts to and from text."""
    old = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(4300)
    yield
    sys.set_int_max_str_digits(old)


LONG = "9" * 5000
ZEROS = "0" * 5000


@pytest.mark.parametrize(("seq", "rewritten"), [
    (f"\x1b[{LONG}m", None), (f"\x1b[{LONG}:1m", None), (f"\x1b[38;{LONG};22m", f"\x1b[38;{LONG};22;1m"),
    (f"\x1b[38;5;{LONG};39m", f"\x1b[38;5;{LONG};39;31m"), (f"\x1b[{ZEROS}m", "\x1b[0;1;31m"),
    (f"\x1b[{ZEROS}22m", f"\x1b[{ZEROS}22;1m"), (f"\x1b[48;{ZEROS}5;{LONG};1m", None),
], ids=lambda v: v if v is None else repr(v[:12]))
def test_long_numbers_in_text(paint, digit_limit, seq, rewritten):
    style = paint.Style(fg="red", bold=True)
    pre, post = style.codes(3)
    for styled in ways(paint, style):
        assert styled(f"a{seq}b") == pre + "a" + (rewritten or seq) + "b" + post
    assert paint.strip(f"a{seq}b") == "ab"


def test_long_numbers_in_style_strings(paint, digit_limit):
    assert paint.Style.parse(f"color({ZEROS}1) on rgb({ZEROS},{ZEROS}255,0)") == paint.Style(1, (0, 255, 0))
    for token in (f"color({LONG})", f"rgb(0,{LONG},0)", f"rgb({ZEROS}256,0,0)"):
        raises(ValueError, f"无法解析的样式标记: {token!r}", paint.Style.parse, f"bold {token}")
        raises(ValueError, f"无法解析的样式标记: {token!r}", paint.paint, "x", token, level=3)


class Liar(int):
    """An int whose comparisons say it lies in any range."""

    def __lt__(self, other):
        return False

    __gt__ = __lt__

    def __le__(self, other):
        return True

    __ge__ = __le__


LEVEL_RANGE = "颜色级别须在 0-3 范围内，收到: "


@pytest.mark.parametrize(("call", "message"), [
    (lambda p: p.Style(fg=Liar(300)), "256 色索引须在 0-255 范围内，收到: 300"),
    (lambda p: p.downgrade(Liar(-1), 3), "256 色索引须在 0-255 范围内，收到: -1"),
    (lambda p: p.Style(bg=(0, Liar(256), 0)), "RGB 分量须在 0-255 范围内，收到: (0, 256, 0)"),
    (lambda p: p.nearest_256(Liar(300), 0, 0), "r 须在 0-255 范围内，收到: 300"),
    (lambda p: p.nearest_16(0, 0, Liar(-5)), "b 须在 0-255 范围内，收到: -5"),
    (lambda p: p.Style(fg="red").codes(Liar(7)), LEVEL_RANGE + "7"),
    (lambda p: p.Style(fg="red").render("x", level=Liar(7)), LEVEL_RANGE + "7"),
    (lambda p: p.Style(fg="red").bind(level=Liar(-1)), LEVEL_RANGE + "-1"),
    (lambda p: p.paint("x", "red", level=Liar(7)), LEVEL_RANGE + "7"),
    (lambda p: p.paint(t"x", level=Liar(7)), LEVEL_RANGE + "7"),
    (lambda p: p.downgrade("red", Liar(4)), LEVEL_RANGE + "4"),
    (lambda p: p.link("x", "u", level=Liar(9)), LEVEL_RANGE + "9"),
])
def test_int_subclasses_whose_comparisons_lie(paint, call, message):
    raises(ValueError, message, call, paint)


class Shifty(tuple):
    """A tuple whose len() and repr() are its contents, and whose iteration
    gives them the first time and `then` every time after."""

    def __new__(cls, contents, then):
        self = super().__new__(cls, contents)
        self.then = then
        self.seen = 0
        return self

    def __iter__(self):
        self.seen += 1
        return tuple.__iter__(self) if self.seen == 1 else iter(self.then)


COUNT = "RGB 元组须有 3 个分量，收到: (1, 2, 3)"


@pytest.mark.parametrize(("then", "exc", "message"), [
    ((1, 2, 3, 4), ValueError, COUNT),
    ((1, 2), ValueError, COUNT),
    ((1, 2, 300), ValueError, "RGB 分量须在 0-255 范围内，收到: (1, 2, 3)"),
    ((1, "2", 3), TypeError, "RGB 分量须为 int，收到: (1, 2, 3)"),
    ((1, 2, 3, "x"), TypeError, "RGB 分量须为 int，收到: (1, 2, 3)"),
    ((4, 5, 6), None, (4, 5, 6)),
    ((1, True, 3), None, (1, 1, 3)),
])
def test_tuple_subclasses_that_change(paint, then, exc, message):
    for call in (lambda c: paint.Style(fg=c).fg, lambda c: paint.Style(bg=c).bg,
                 lambda c: paint.downgrade(c, 3)[7:-1]):
        if exc is None:
            assert call(Shifty((1, 2, 3), then)) in (message, "%d;%d;%d" % message)
        else:
            raises(exc, message, call, Shifty((1, 2, 3), then))


@pytest.mark.parametrize(("then", "exc", "message"), [
    ((1, 22, 5), ValueError, "too many values to unpack (expected 2)"),
    ((1,), ValueError, "need more than 1 value to unpack"),
    ((), ValueError, "need more than 0 values to unpack"),
    ((1, "x"), TypeError, "样式码须为两个 int，收到: (1, 22)"),
    ((7, 27), None, ("\x1b[7m", "\x1b[27m")),
])
def test_styles_entry_that_changes(paint, monkeypatch, then, exc, message):
    monkeypatch.setitem(paint._styles.STYLES, "bold", Shifty((1, 22), then))
    if exc is None:
        assert paint.Style(bold=True).codes(3) == message
    else:
        raises(exc, message, paint.Style, bold=True)


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


def test_extension_and_twin_agree_on_random_colours_at_16():
    ext, twin = pytest.importorskip("tintara.paint"), pytest.importorskip("twin.paint")
    rng = random.Random(16)
    # Muted colours, where the 16-colour rule chooses between a hue and a grey.
    for _ in range(3000):
        base = rng.randrange(256)
        colour = tuple(min(255, max(0, base + rng.randrange(-40, 41))) for _ in range(3))
        assert ext.nearest_16(*colour) == twin.nearest_16(*colour), colour


# -- echo ---------------------------------------------------------------------------------


def test_echo(paint, env, tty, monkeypatch):
    env(FORCE_COLOR="1")
    out = io.StringIO()
    assert paint.echo("hi", "bold", file=out) is None
    assert out.getvalue() == "\x1b[1mhi\x1b[22m\n"
    env(FORCE_COLOR="2")
    file = Recorder()
    paint.echo("hi", paint.Style(fg="#ff8800"), file=file, end="!", flush=True)
    assert file.calls == [("write", "\x1b[38;5;208mhi\x1b[39m!"), ("flush",)]
    monkeypatch.setattr(sys, "stdout", file)
    paint.echo(5)
    assert file.calls[2:] == [("write", "5\n")]
    monkeypatch.setattr(sys, "stdout", None)
    assert paint.echo("hi", "red") is None
    monkeypatch.delenv("FORCE_COLOR")
    monkeypatch.setenv("TERM", "xterm-256color")
    paint.echo("hi", "#ff8800", file=tty)
    assert os.read(tty.master, 100) == b"\x1b[38;5;208mhi\x1b[39m\r\n"


# -- the module --------------------------------------------------------------------------


SIGNATURES = {
    "paint": "(text, style=None, /, *, level=None, stream=None) -> 'str'",
    "echo": "(text, style=None, /, *, file=None, end='\\n', flush=False) -> 'None'",
    "link": "(text, url, /, *, id=None, level=None, stream=None) -> 'str'",
    "strip": "(text: 'str') -> 'str'",
    "sanitize": "(text: 'str') -> 'str'",
    "downgrade": "(color, level, *, background=False) -> 'str'",
    "nearest_256": "(r: 'int', g: 'int', b: 'int') -> 'int'",
    "nearest_16": "(r: 'int', g: 'int', b: 'int') -> 'int'",
    "Style": "(fg=None, bg=None, *, bold=None, dim=None, italic=None, underline=None, blink=None, "
             "blink_fast=None, reverse=None, hidden=None, strikethrough=None, overline=None)",
    "Style.parse": "(text)",
    "Style.codes": "(self, level)",
    "Style.render": "(self, text, *, level=None, stream=None)",
    "Style.bind": "(self, stream=None, *, level=None)",
}


def test_module(paint):
    family = paint.__name__.rpartition(".")[0]
    assert paint.__doc__ == "带样式文本：按终端能力输出颜色与样式。\n"
    assert [k for k in vars(paint) if not k.startswith("__") or k == "__test__"] == [
        "sys", "_colors", "_styles", "_detect", "ATTRIBUTES", "Style", "paint", "echo", "link", "strip",
        "sanitize", "downgrade", "nearest_256", "nearest_16", "__test__"]
    for name in ("colors", "styles", "detect"):
        assert getattr(paint, "_" + name) is sys.modules[f"{family}.{name}"]
    for name, signature in SIGNATURES.items():
        obj = paint
        for part in name.split("."):
            obj = getattr(obj, part)
        assert str(inspect.signature(obj)) == signature, name
        assert obj.__doc__, name
