"""tintara.paint: styles, style strings, levels, the palette rules, echo and
the module itself; test_paint_text has what is done to the text.

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
import random
import sys
import types

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from checks import raises
from fakes import Recorder
from hostile import outcome
from painting import EVERYTHING, Sub, rgb, ways

# xterm's default palette, written out from its description.
CUBE = (0, 95, 135, 175, 215, 255)
XTERM = [tuple(bytes.fromhex(h)) for h in (
    "000000 cd0000 00cd00 cdcd00 0000ee cd00cd 00cdcd e5e5e5 "
    "7f7f7f ff0000 00ff00 ffff00 5c5cff ff00ff 00ffff ffffff").split()]
XTERM += [(CUBE[i // 36], CUBE[i // 6 % 6], CUBE[i % 6]) for i in range(216)]
XTERM += [(8 + 10 * i,) * 3 for i in range(24)]


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

def test_extension_and_twin_agree_on_random_colours_at_16():
    ext, twin = pytest.importorskip("tintara.paint"), pytest.importorskip("twin.paint")
    rng = random.Random(16)
    # Muted colours, where the 16-colour rule chooses between a hue and a grey.
    for _ in range(3000):
        base = rng.randrange(256)
        colour = tuple(min(255, max(0, base + rng.randrange(-40, 41))) for _ in range(3))
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
