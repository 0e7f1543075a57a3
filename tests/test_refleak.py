"""Reference and memory-block leaks: every function of tintara.colors,
tintara.styles and tintara.paint on every path, repeated (tintara.detect's
are in test_refleak_detect; the runner is leakhunt).

Runs only under a debug interpreter (one with ``sys.gettotalrefcount``);
``tools/refleak`` builds the package for Debian's python3.14-dbg and runs the
suite, these files among it.  The cases walk each success form and each
error path: binding errors, type and value errors, ``NameError`` from a
deleted module attribute, and exceptions raised by hostile objects and by
rebound module attributes.
"""

import copy
import enum
import pickle
import re
import types

import pytest

from fakes import MISSING
from hostile import BadBool, Boom, StrRaises
from leakhunt import NEEDS_DEBUG_BUILD, BadEq, boom, call_of, check_group, with_attrs

import tintara.colors as colors
import tintara.styles as styles

pytestmark = NEEDS_DEBUG_BUILD

try:
    import _testcapi
except ImportError:
    _testcapi = None


# ---------------------------------------------------------------------------
# Hostile objects


class BadLen:
    def __len__(self):
        raise Boom


class EqRaises:
    """Hashes like "red" but cannot be compared with it."""

    def __hash__(self):
        return hash("red")

    def __eq__(self, other):
        raise Boom


class BadFormat:
    def __format__(self, spec):
        raise Boom


class FormatsAsInt:
    def __format__(self, spec):
        return 12


class Sub(str):
    pass


class LowerRaises(str):
    def lower(self):
        raise Boom


class LowerNotStr(str):
    def lower(self):
        return 5


class StartsRaises(str):
    def startswith(self, *args):
        raise Boom


class StartsBadBool(str):
    def startswith(self, *args):
        return BadBool()


class Int(int):
    pass


class IntLeRaises(int):
    def __le__(self, other):
        raise Boom

    def __ge__(self, other):
        raise Boom


class IntIntNotInt:
    """Not an int; int() of it fails inside __int__'s result check."""

    def __int__(self):
        return "seven"


class IndexRaises:
    def __index__(self):
        raise Boom


class IntRaises:
    def __int__(self):
        raise Boom


class FloatOnly:
    def __float__(self):
        return 12.5


class Level(enum.IntEnum):
    SEVEN = 7


class Items(tuple):
    """A tuple whose iteration yields other items than it holds."""

    def __new__(cls, *items):
        self = super().__new__(cls, (0, 0, 0))
        self.items = items
        return self

    def __iter__(self):
        return iter(self.items)


class IterRaises(tuple):
    def __iter__(self):
        raise Boom


class Iterable:
    def __init__(self, *items):
        self.items = items

    def __iter__(self):
        return iter(self.items)


class Aliases:
    """A mapping that is not a dict."""

    def get(self, key, default=None):
        return {"grey": "bright_black"}.get(key, default)


class Table:
    """A non-dict table of styles or colours."""

    def __init__(self, data):
        self.data = data

    def __contains__(self, key):
        return key in self.data

    def __getitem__(self, key):
        return self.data[key]

    def __iter__(self):
        return iter(self.data)


class ContainsRaises:
    def __contains__(self, key):
        raise Boom


class Pattern:
    """Stands in for a compiled pattern; match() answers `result`."""

    def __init__(self, result):
        self.result = result

    def match(self, text):
        return self.result


class Match:
    def __init__(self, group):
        self._group = group

    def group(self, n):
        return self._group


# ---------------------------------------------------------------------------
# tintara.colors

NAN = float("nan")
INF = float("inf")
HUGE = 10**400


def binding_cases(fn, good):
    """The binding errors every one-parameter function shares."""
    name = fn.__name__
    cases = [
        (f"{name}()", TypeError, call_of(fn)),
        (f"{name}(two args)", TypeError, call_of(fn, good, good)),
        (f"{name}(unexpected keyword)", TypeError, call_of(fn, good, nope=1)),
        (f"{name}(duplicate keyword)", TypeError, lambda: fn(good, **{fn.__code__.co_varnames[0]: good})),
    ]
    if _testcapi is not None:
        cases.append((f"{name}(non-str keyword name)", TypeError,
                      lambda: _testcapi.pyobject_vectorcall(fn, (good, good), (1,))))
        cases.append((f"{name}(**dict with non-str key)", TypeError,
                      lambda: _testcapi.pyvectorcall_call(fn, (), {1: good})))
    return cases


def parse_hex_cases():
    f = colors.parse_hex
    c = colors
    return [
        ("six digits", tuple, call_of(f, "#ff8800")),
        ("three digits", tuple, call_of(f, "#F80")),
        ("final newline", tuple, call_of(f, "#abcdef\n")),
        ("short, final newline", tuple, call_of(f, "#abc\n")),
        ("keyword", tuple, call_of(f, color="#123456")),
        ("four digits", ValueError, call_of(f, "#ffff")),
        ("empty", ValueError, call_of(f, "")),
        ("quote", ValueError, call_of(f, "#12'")),
        ("non-ascii", ValueError, call_of(f, "#ffé")),
        ("None", TypeError, call_of(f, None)),
        ("str subclass (note)", TypeError, call_of(f, Sub("#fff"))),
        ("int", TypeError, call_of(f, 1)),
        ("_HEX_RE deleted", NameError, with_attrs(c, {"_HEX_RE": MISSING}, f, "#fff")),
        ("_SHORT_HEX_RE deleted", NameError, with_attrs(c, {"_SHORT_HEX_RE": MISSING}, f, "#fff")),
        ("other pattern object", tuple,
         with_attrs(c, {"_HEX_RE": re.compile("^#([0-9a-f]{6})$", re.I)}, f, "#A0B0C0")),
        ("stand-in match", tuple, with_attrs(c, {"_HEX_RE": Pattern(Match("a1b2c3"))}, f, "x")),
        ("short stand-in match", tuple,
         with_attrs(c, {"_HEX_RE": Pattern(None), "_SHORT_HEX_RE": Pattern(Match("abc"))}, f, "x")),
        ("match raises", Boom, with_attrs(c, {"_HEX_RE": types.SimpleNamespace(match=boom)}, f, "x")),
        ("match result truth raises", Boom, with_attrs(c, {"_HEX_RE": Pattern(BadBool())}, f, "x")),
        ("group is no str", TypeError, with_attrs(c, {"_HEX_RE": Pattern(Match(12))}, f, "x")),
        ("group has no hex", ValueError, with_attrs(c, {"_HEX_RE": Pattern(Match("zzzzzz"))}, f, "x")),
        ("pattern without match", AttributeError, with_attrs(c, {"_HEX_RE": 5}, f, "x")),
    ] + binding_cases(f, "#fff")


def rgb_cases(fn, ok):
    """Cases shared by rgb_to_ansi256 and _validate_rgb (ok: result type)."""
    return [
        ("in range", ok, call_of(fn, 1, 2, 3)),
        ("keywords", ok, call_of(fn, b=3, g=2, r=1)),
        ("bool and float", ok, call_of(fn, True, 127.9, -0.5)),
        ("int subclass and IntEnum", ok, call_of(fn, Int(5), Level.SEVEN, 0)),
        ("str", TypeError, call_of(fn, "1", 0, 0)),
        ("None for g", TypeError, call_of(fn, 0, None, 0)),
        ("NaN", ValueError, call_of(fn, NAN, 0, 0)),
        ("infinity", OverflowError, call_of(fn, 0, 0, INF)),
        ("complex", TypeError, call_of(fn, 1j, 0, 0)),
        ("__index__ raises", Boom, call_of(fn, IndexRaises(), 0, 0)),
        ("__int__ raises", Boom, call_of(fn, 0, IntRaises(), 0)),
        ("__int__ returns str", TypeError, call_of(fn, 0, 0, IntIntNotInt())),
        ("only __float__", TypeError, call_of(fn, FloatOnly(), 0, 0)),
        ("missing", TypeError, call_of(fn, 1, 2)),
        ("too many", TypeError, call_of(fn, 1, 2, 3, 4)),
        ("unexpected keyword", TypeError, call_of(fn, 1, 2, 3, a=4)),
        ("duplicate keyword", TypeError, call_of(fn, 1, 2, 3, r=4)),
    ]


def rgb_to_ansi256_cases():
    f = colors.rgb_to_ansi256
    return rgb_cases(f, int) + [
        ("grey", 244, call_of(f, 128, 128, 128)),
        ("cube", 214, call_of(f, 255, 128, 0)),
        ("huge ints", 196, call_of(f, HUGE, -HUGE, -HUGE)),
        ("out of range", 16, call_of(f, -100, 0, 0)),
    ]


def validate_rgb_cases():
    f = colors._validate_rgb
    return rgb_cases(f, type(None)) + [
        ("R out of range", ValueError, call_of(f, 256, 0, 0)),
        ("G negative", ValueError, call_of(f, 0, -1, 300)),
        ("B huge", ValueError, call_of(f, 0, 0, HUGE)),
        ("B too long for repr", ValueError, call_of(f, 0, 0, 10**5000)),
        ("coerced float out of range", ValueError, call_of(f, 256.0, 0, 0)),
    ]


def color_cases(f):
    """fg_code and bg_code: every classification path and every rebinding."""
    c = colors
    bg = f is colors.bg_code  # only the background code is compared
    return [
        ("name", str, call_of(f, "red")),
        ("normalised name", str, call_of(f, "Bright-Red")),
        ("alias", str, call_of(f, "bright gray")),
        ("str subclass name", str, call_of(f, Sub("red"))),
        ("keyword", str, call_of(f, color="blue")),
        ("unknown name", ValueError, call_of(f, "orange")),
        ("leading space", ValueError, call_of(f, " red")),
        ("empty", ValueError, call_of(f, "")),
        ("non-ascii name", ValueError, call_of(f, "rötlich")),
        ("lower raises", Boom, call_of(f, LowerRaises("red"))),
        ("lower returns int", AttributeError, call_of(f, LowerNotStr("red"))),
        ("startswith raises", Boom, call_of(f, StartsRaises("red"))),
        ("startswith result truth raises", Boom, call_of(f, StartsBadBool("red"))),
        ("hex", str, call_of(f, "#ff0000")),
        ("short hex", str, call_of(f, "#F00")),
        ("hex with newline", str, call_of(f, "#ff0000\n")),
        ("bad hex", ValueError, call_of(f, "#12")),
        ("hash only", ValueError, call_of(f, "#")),
        ("str subclass hex", TypeError, call_of(f, Sub("#fff"))),
        ("index", str, call_of(f, 196)),
        ("bool index", str, call_of(f, True)),
        ("IntEnum index", str, call_of(f, Level.SEVEN)),
        ("int subclass index", str, call_of(f, Int(255))),
        ("index 256", ValueError, call_of(f, 256)),
        ("index -1", ValueError, call_of(f, -1)),
        ("huge index", ValueError, call_of(f, HUGE)),
        ("comparison raises", Boom, call_of(f, IntLeRaises(3))),
        ("tuple", str, call_of(f, (255, 128, 0))),
        ("tuple of float and bool", str, call_of(f, (255.7, True, 0))),
        ("empty tuple", ValueError, call_of(f, ())),
        ("one item", ValueError, call_of(f, (1,))),
        ("two items", ValueError, call_of(f, (1, 2))),
        ("four items", ValueError, call_of(f, (1, 2, 3, 4))),
        ("component out of range", ValueError, call_of(f, (300, 0, 0))),
        ("component str", TypeError, call_of(f, ("1", 0, 0))),
        ("component NaN", ValueError, call_of(f, (0, NAN, 0))),
        ("tuple subclass, three", str, call_of(f, Items(1, 2, 3))),
        ("tuple subclass, two", ValueError, call_of(f, Items(1, 2))),
        ("tuple subclass, four", ValueError, call_of(f, Items(1, 2, 3, 4))),
        ("tuple subclass, iter raises", Boom, call_of(f, IterRaises())),
        ("list", TypeError, call_of(f, [255, 0, 0])),
        ("float", TypeError, call_of(f, 1.0)),
        ("None", TypeError, call_of(f, None)),
        ("bytes", TypeError, call_of(f, b"red")),
        # Module attributes rebound or deleted.
        ("ESC other str", str, with_attrs(c, {"ESC": "<"}, f, "red")),
        ("ESC non-ascii", str, with_attrs(c, {"ESC": "é["}, f, (1, 2, 3))),
        ("ESC int", str, with_attrs(c, {"ESC": 27}, f, 5)),
        ("ESC format raises", Boom, with_attrs(c, {"ESC": BadFormat()}, f, "red")),
        ("ESC format returns int", TypeError, with_attrs(c, {"ESC": FormatsAsInt()}, f, "red")),
        ("ESC deleted", NameError, with_attrs(c, {"ESC": MISSING}, f, "#fff")),
        ("ESC deleted, bad colour", ValueError, with_attrs(c, {"ESC": MISSING}, f, 300)),
        ("float code", str, with_attrs(c, {"NAMED_COLORS": {"red": 31.5}}, f, "red")),
        ("IntEnum code", str, with_attrs(c, {"NAMED_COLORS": {"red": Level.SEVEN}}, f, "red")),
        ("huge code", str, with_attrs(c, {"NAMED_COLORS": {"red": -HUGE}}, f, "red")),
        ("code compares badly", Boom if bg else str,
         with_attrs(c, {"NAMED_COLORS": {"red": BadEq()}}, f, "red")),
        ("code formats badly", TypeError if bg else Boom,
         with_attrs(c, {"NAMED_COLORS": {"red": BadFormat()}}, f, "red")),
        ("table not a dict", str, with_attrs(c, {"NAMED_COLORS": Table({"red": 31})}, f, "red")),
        ("table in raises", Boom, with_attrs(c, {"NAMED_COLORS": ContainsRaises()}, f, "red")),
        ("table keys unsortable", TypeError, with_attrs(c, {"NAMED_COLORS": {1: 2, "a": 3}}, f, "x")),
        ("table keys not str", TypeError, with_attrs(c, {"NAMED_COLORS": {1: 2}}, f, "x")),
        ("NAMED_COLORS deleted", NameError, with_attrs(c, {"NAMED_COLORS": MISSING}, f, "red")),
        ("aliases not a dict", str, with_attrs(c, {"COLOR_ALIASES": Aliases()}, f, "grey")),
        ("aliases get raises", Boom,
         with_attrs(c, {"COLOR_ALIASES": types.SimpleNamespace(get=boom)}, f, "red")),
        ("alias target unhashable", TypeError, with_attrs(c, {"COLOR_ALIASES": {"red": []}}, f, "red")),
        ("alias key compares badly", Boom, with_attrs(c, {"COLOR_ALIASES": {EqRaises(): 1}}, f, "red")),
        ("COLOR_ALIASES deleted", NameError, with_attrs(c, {"COLOR_ALIASES": MISSING}, f, "red")),
        ("validator raises", Boom, with_attrs(c, {"_validate_rgb": boom}, f, (1, 2, 3))),
        ("validator lets str through", TypeError,
         with_attrs(c, {"_validate_rgb": lambda *a: None}, f, ("1", 2, 3))),
        ("validator lets huge through", str,
         with_attrs(c, {"_validate_rgb": lambda *a: None}, f, (HUGE, 2, 3))),
        ("_validate_rgb deleted", NameError, with_attrs(c, {"_validate_rgb": MISSING}, f, (1, 2, 3))),
        ("parse_hex returns list", str, with_attrs(c, {"parse_hex": lambda s: [1, 2, 3]}, f, "#x")),
        ("parse_hex returns two", ValueError, with_attrs(c, {"parse_hex": lambda s: (1, 2)}, f, "#x")),
        ("parse_hex returns iterable", str,
         with_attrs(c, {"parse_hex": lambda s: Iterable(1, 2, 3)}, f, "#x")),
        ("parse_hex returns int", TypeError, with_attrs(c, {"parse_hex": lambda s: 5}, f, "#x")),
        ("parse_hex returns strs", TypeError,
         with_attrs(c, {"parse_hex": lambda s: ("a", "b", "c")}, f, "#x")),
        ("parse_hex raises", Boom, with_attrs(c, {"parse_hex": boom}, f, "#fff")),
        ("parse_hex deleted", NameError, with_attrs(c, {"parse_hex": MISSING}, f, "#fff")),
        ("_HEX_RE rebound", str,
         with_attrs(c, {"_HEX_RE": re.compile("^#([0-9a-fA-F]{6})$")}, f, "#ff0000")),
        ("_HEX_RE deleted", NameError, with_attrs(c, {"_HEX_RE": MISSING}, f, "#ff0000")),
        ("_color_code returns str", str, with_attrs(c, {"_color_code": lambda *a, **k: "x"}, f, 1)),
        ("_color_code returns None", type(None), with_attrs(c, {"_color_code": lambda *a, **k: None}, f, 1)),
        ("_color_code returns int", TypeError, with_attrs(c, {"_color_code": lambda *a, **k: 5}, f, 1)),
        ("_color_code returns str subclass", TypeError,
         with_attrs(c, {"_color_code": lambda *a, **k: Sub("x")}, f, 1)),
        ("_color_code raises", Boom, with_attrs(c, {"_color_code": boom}, f, 1)),
        ("_color_code deleted", NameError, with_attrs(c, {"_color_code": MISSING}, f, 1)),
    ] + binding_cases(f, "red")


def color_code_cases():
    f = colors._color_code
    return [
        ("foreground True", str, call_of(f, "red", foreground=True)),
        ("foreground False", str, call_of(f, (1, 2, 3), foreground=False)),
        ("foreground None", str, call_of(f, 5, foreground=None)),
        ("foreground truthy", str, call_of(f, "#fff", foreground=[1])),
        ("foreground by __len__", str, call_of(f, "red", foreground=())),
        ("foreground __bool__ raises", Boom, call_of(f, "red", foreground=BadBool())),
        ("foreground __len__ raises", Boom, call_of(f, "red", foreground=BadLen())),
        ("keywords only", str, call_of(f, foreground=True, color="red")),
        ("unknown name", ValueError, call_of(f, "nope", foreground=False)),
        ("foreground missing", TypeError, call_of(f, "red")),
        ("foreground by position", TypeError, call_of(f, "red", True)),
        ("color missing", TypeError, call_of(f, foreground=True)),
        ("color twice", TypeError, lambda: f("red", color="red", foreground=True)),
        ("unexpected keyword", TypeError, call_of(f, "red", foreground=True, x=1)),
    ]


# ---------------------------------------------------------------------------
# tintara.styles


def style_cases(f):
    s = styles
    names = list(s.STYLES)
    return [(f"style {n}", str, call_of(f, n)) for n in names] + [
        ("keyword", str, call_of(f, name="bold")),
        ("unknown", ValueError, call_of(f, "BOLD")),
        ("empty", ValueError, call_of(f, "")),
        ("None", TypeError, call_of(f, None)),
        ("str subclass (note)", TypeError, call_of(f, Sub("bold"))),
        ("added style", str, with_attrs(s.STYLES, {"frame": (51, 54)}, f, "frame")),
        ("list entry", str, with_attrs(s.STYLES, {"bold": [1, 22]}, f, "bold")),
        ("iterable entry", str, with_attrs(s.STYLES, {"bold": Iterable(1, 22)}, f, "bold")),
        ("IntEnum and float entry", str, with_attrs(s.STYLES, {"bold": (Level.SEVEN, 2.5)}, f, "bold")),
        ("three items", ValueError, with_attrs(s.STYLES, {"bold": (1, 2, 3)}, f, "bold")),
        ("one item", ValueError, with_attrs(s.STYLES, {"bold": (1,)}, f, "bold")),
        ("no items", ValueError, with_attrs(s.STYLES, {"bold": ()}, f, "bold")),
        ("iterable, three", ValueError, with_attrs(s.STYLES, {"bold": Iterable(1, 2, 3)}, f, "bold")),
        ("not iterable", TypeError, with_attrs(s.STYLES, {"bold": 5}, f, "bold")),
        ("iteration raises", Boom, with_attrs(s.STYLES, {"bold": IterRaises()}, f, "bold")),
        ("item formats badly", Boom, with_attrs(s.STYLES, {"bold": (BadFormat(), BadFormat())}, f, "bold")),
        ("item formats as int", TypeError,
         with_attrs(s.STYLES, {"bold": (FormatsAsInt(), FormatsAsInt())}, f, "bold")),
        ("unsortable names", TypeError, with_attrs(s.STYLES, {"x": 1, "y": 2, 3: 4}, f, "nope")),
        ("table not a dict", str, with_attrs(s, {"STYLES": Table({"bold": (1, 22)})}, f, "bold")),
        ("table in raises", Boom, with_attrs(s, {"STYLES": ContainsRaises()}, f, "bold")),
        ("unknown in non-dict table", ValueError, with_attrs(s, {"STYLES": Table({"a": 1})}, f, "b")),
        ("unhashable names", TypeError, with_attrs(s, {"STYLES": Table([[1]])}, f, "b")),
        ("STYLES deleted", NameError, with_attrs(s, {"STYLES": MISSING}, f, "bold")),
        ("ESC deleted", NameError, with_attrs(s, {"ESC": MISSING}, f, "bold")),
        ("ESC int", str, with_attrs(s, {"ESC": 27}, f, "bold")),
        ("ESC non-ascii", str, with_attrs(s, {"ESC": "→"}, f, "bold")),
        ("ESC formats badly", Boom, with_attrs(s, {"ESC": BadFormat()}, f, "bold")),
    ] + binding_cases(f, "bold")


# ---------------------------------------------------------------------------
# tintara.paint


class StrGivesSub:
    def __str__(self):
        return Sub("text")


class WriteRaises:
    def write(self, text):
        raise Boom


class Sink:
    def write(self, text):
        pass

    def flush(self):
        pass


def paint_cases():
    p = pytest.importorskip("tintara.paint")
    S = p.Style
    red = S(fg="red", bold=True, dim=False)
    pen = red.bind(level=3)
    everything = dict(bold=True, dim=False, italic=True, underline=None, blink=False, blink_fast=True,
                      reverse=True, hidden=False, strikethrough=True, overline=True)
    nested = "a\x1b[0mb\x1b[22mc\x1b[38;5;39md\x1b]8;;u\x1b\\e"
    # Resets and off codes on several lines, a break inside an OSC, the
    # 8-bit forms, characters of every width.
    lines = "a\x1b[;0mb\nc\x1b[22;39;38;5;1md\r\n\ne\x9b1m\x1b]8;;u\nv\x1b\\汉\x1b[m😀\n"
    user, spec = "ann\x1b[2J", "bold red"
    return [
        ("Style()", S, call_of(S)),
        ("Style(everything)", S, call_of(S, (1, 2, 3), "#F80", **everything)),
        ("Style(index, alias)", S, call_of(S, Level.SEVEN, "Grey")),
        ("unknown name", ValueError, call_of(S, "nope")),
        ("bad hex", ValueError, call_of(S, "#12")),
        ("index out of range", ValueError, call_of(S, 256)),
        ("float colour", TypeError, call_of(S, 1.5)),
        ("tuple float item", TypeError, call_of(S, (1, 2, 3.0))),
        ("tuple too short", ValueError, call_of(S, bg=(1, 2))),
        ("attribute not bool", TypeError, call_of(S, bold=1)),
        ("lower overridden", S, call_of(S, LowerRaises("red"))),
        ("style missing", ValueError, with_attrs(styles, {"STYLES": {}}, S, bold=True)),
        ("style entry bad", TypeError, with_attrs(styles.STYLES, {"bold": (1,)}, S, bold=True)),
        ("colour code bad", TypeError, with_attrs(colors.NAMED_COLORS, {"red": "31"}, S, "red")),
        ("NAMED_COLORS deleted", AttributeError, with_attrs(colors, {"NAMED_COLORS": MISSING}, S, "red")),
        ("parse", S, call_of(S.parse, "bold not italic strike red on #123456")),
        ("parse color() rgb()", S, call_of(S.parse, "color(7) on rgb(1,2,3)")),
        ("parse unknown", ValueError, call_of(S.parse, "bold xx")),
        ("parse conflict", ValueError, call_of(S.parse, "bold not bold")),
        ("parse dangling on", ValueError, call_of(S.parse, "red on")),
        ("parse twice", ValueError, call_of(S.parse, "red red")),
        ("parse not str", TypeError, call_of(S.parse, 5)),
        ("str", str, call_of(str, S((1, 2, 3), 200, **everything))),
        ("repr", str, call_of(repr, S((1, 2, 3), 200, **everything))),
        ("hash", int, call_of(hash, red)),
        ("eq", True, lambda: red == S(fg="red", bold=True, dim=False)),
        ("add", S, lambda: red + S(bg=3, bold=None)),
        ("add other", TypeError, lambda: red + 1),
        ("setattr", AttributeError, call_of(setattr, red, "fg", None)),
        *[(f"codes({n})", tuple, call_of(S((1, 2, 3), 200, **everything).codes, n)) for n in range(4)],
        ("codes bad level", ValueError, call_of(red.codes, 7)),
        ("codes level type", TypeError, call_of(red.codes, 1.0)),
        ("render nested", str, call_of(red.render, nested, level=3)),
        ("render detects", str, call_of(red.render, "x", stream=Sink())),
        ("render str raises", Boom, call_of(red.render, StrRaises(), level=3)),
        ("render str subclass", str, call_of(red.render, StrGivesSub(), level=1)),
        ("bind", type(pen), call_of(red.bind, Sink())),
        ("pen", str, call_of(pen, nested)),
        ("pen str raises", Boom, call_of(pen, StrRaises())),
        ("paint string", str, call_of(p.paint, "x", "bold red on blue", level=2)),
        ("paint no style", str, call_of(p.paint, 5)),
        ("paint bad style", TypeError, call_of(p.paint, "x", 5)),
        ("paint bad string", ValueError, call_of(p.paint, "x", "bold xx", level=3)),
        ("render lines", str, call_of(red.render, lines, level=3)),
        ("pen lines", str, call_of(pen, lines)),
        ("paint lines at 2", str, call_of(p.paint, lines, "not bold #ff8800 on blue", level=2)),
        ("template", str, lambda: p.paint(t"{user:bold} said {lines!r} {t"<{user:red}>"}", level=3)),
        ("template in a style", str, lambda: red.render(t"{user:{spec}}\n{lines}", level=2)),
        ("template pen", str, lambda: pen(t"{user!a:underline} {3:on color(17)}")),
        ("template at none", str, lambda: p.paint(t"{user:bold}", level=0)),
        ("template echo", None, lambda: p.echo(t"{user:bold}", file=Sink())),
        ("template bad spec", ValueError, lambda: p.paint(t"{user:bold xx}", level=3)),
        ("template bad spec at none", ValueError, lambda: p.paint(t"x{user:red on}", level=0)),
        ("template format raises", Boom, lambda: p.paint(t"{BadFormat()}", red, level=3)),
        ("template str raises", Boom, lambda: pen(t"{StrRaises()!s:bold}")),
        ("sanitize", str, call_of(p.sanitize, "a\x1b[2J\r\u202e\x85é汉😀")),
        ("sanitize clean", str, call_of(p.sanitize, Sub("clean"))),
        ("sanitize bytes", TypeError, call_of(p.sanitize, b"x")),
        ("link", str, call_of(p.link, "docs", "https://e/", id="x", level=3)),
        ("link template", str, lambda: p.link(t"see {user}", Sub("u"), level=3)),
        ("link at none", str, call_of(p.link, 5, "u", level=0)),
        ("link detects", str, call_of(p.link, "x", "u", stream=Sink())),
        ("link bad url", ValueError, call_of(p.link, "x", "a b", level=3)),
        ("link url type", TypeError, call_of(p.link, "x", 5)),
        ("link bad id", ValueError, call_of(p.link, "x", "u", id="a;b")),
        ("link id type", TypeError, call_of(p.link, "x", "u", id=1)),
        ("link bad level", ValueError, call_of(p.link, "x", "u", level=4)),
        ("link str raises", Boom, call_of(p.link, StrRaises(), "u", level=3)),
        ("copy", S, call_of(copy.copy, red)),
        ("deepcopy", dict, call_of(copy.deepcopy, {"style": red, "pen": pen})),
        ("pickle style", S, lambda: pickle.loads(pickle.dumps(red))),
        ("pickle pen", type(pen), lambda: pickle.loads(pickle.dumps(pen))),
        ("pickle pen protocol 0", type(pen), lambda: pickle.loads(pickle.dumps(pen, 0))),
        ("echo", None, call_of(p.echo, "x", "red", file=Sink(), flush=True)),
        ("echo write raises", Boom, call_of(p.echo, "x", red, file=WriteRaises())),
        ("strip", str, call_of(p.strip, "a\x1b[1mb\x1b]8;;u\x07c\x1bPd\x1b\\e\x1b(Bf\x1b[")),
        ("strip plain", str, call_of(p.strip, Sub("plain"))),
        ("strip bytes", TypeError, call_of(p.strip, b"x")),
        *[(f"downgrade({n})", str, call_of(p.downgrade, (1, 2, 3), n, background=True)) for n in range(4)],
        ("downgrade index", str, call_of(p.downgrade, 200, 1)),
        ("downgrade unknown", ValueError, call_of(p.downgrade, "nope", 1)),
        ("downgrade background raises", Boom, call_of(p.downgrade, "red", 1, background=BadBool())),
        ("nearest_256", int, call_of(p.nearest_256, 1, 2, 3)),
        ("nearest_16", int, call_of(p.nearest_16, 1, 2, 3)),
        ("nearest float", TypeError, call_of(p.nearest_16, 1.0, 2, 3)),
        ("nearest range", ValueError, call_of(p.nearest_256, 1, 2, 300)),
    ]


# ---------------------------------------------------------------------------

GROUPS = {
    "colors.parse_hex": parse_hex_cases,
    "colors.rgb_to_ansi256": rgb_to_ansi256_cases,
    "colors._validate_rgb": validate_rgb_cases,
    "colors.fg_code": lambda: color_cases(colors.fg_code),
    "colors.bg_code": lambda: color_cases(colors.bg_code),
    "colors._color_code": color_code_cases,
    "styles.style_on": lambda: style_cases(styles.style_on),
    "styles.style_off": lambda: style_cases(styles.style_off),
    "paint": paint_cases,
}


@pytest.mark.parametrize("group", GROUPS)
def test_no_leaks(group):
    check_group(GROUPS[group]())
