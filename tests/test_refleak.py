"""Reference and memory-block leaks: every function on every path, repeated.

Runs only under a debug interpreter (one with ``sys.gettotalrefcount``);
``tools/refleak`` builds the package for Debian's python3.14-dbg and runs this
file.  As CPython's own ``-R 3:3`` does, each group of calls is repeated in
rounds, at least three to warm caches up and three measured: a group leaks
when every measured round leaves ``sys.gettotalrefcount()`` or
``sys.getallocatedblocks()`` higher than the round before.

A case is one call with its expected outcome: a result type (or value), or
the exception it must raise.  The cases walk each success form and each
error path: binding errors, type and value errors, ``NameError`` from a
deleted module attribute, exceptions raised by hostile objects and by
rebound module attributes, and the Windows paths of ``tintara.detect``
with stand-in ``ctypes``, ``ctypes.wintypes`` and ``msvcrt`` modules.
"""

import collections.abc
import contextlib
import copy
import enum
import gc
import os
import pickle
import re
import sys
import types

import pytest

from fakes import (MISSING, Console, FakeSys, IsattyProperty, IsattyRaises, Stream, Win,
                   fake_os)
from hostile import BadBool, Boom, StrRaises

import tintara.colors as colors
import tintara.detect as detect
import tintara.styles as styles

pytestmark = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="needs a debug build of CPython"
)

try:
    import _testcapi
except ImportError:
    _testcapi = None

REPEAT = 20  # calls of each case per round
WARMUP = 3  # rounds at least
MAX_WARMUP = 15
ROUNDS = 3


# ---------------------------------------------------------------------------
# Hostile objects


def boom(*args, **kwargs):
    raise Boom


class BadLen:
    def __len__(self):
        raise Boom


class BadEq:
    __hash__ = object.__hash__

    def __eq__(self, other):
        raise Boom

    __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __eq__


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
# Running cases


@contextlib.contextmanager
def patched(target, **values):
    """Sets attributes (or items of a mapping) and restores them."""
    is_dict = isinstance(target, collections.abc.MutableMapping)
    saved = {}
    for name, value in values.items():
        saved[name] = target.get(name, MISSING) if is_dict else getattr(target, name, MISSING)
        if value is MISSING:
            if saved[name] is not MISSING:
                if is_dict:
                    del target[name]
                else:
                    delattr(target, name)
        elif is_dict:
            target[name] = value
        else:
            setattr(target, name, value)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is MISSING:
                if is_dict:
                    target.pop(name, None)
                elif hasattr(target, name):
                    delattr(target, name)
            elif is_dict:
                target[name] = value
            else:
                setattr(target, name, value)


def with_attrs(module, attrs, fn, *args, **kwargs):
    """A call of fn made while module's attributes are rebound or deleted."""

    def call():
        with patched(module, **attrs):
            return fn(*args, **kwargs)

    return call


def call_of(fn, *args, **kwargs):
    return lambda: fn(*args, **kwargs)


def outcome_ok(expect, call):
    """Makes the call; returns None when it ended as expected, else a text."""
    try:
        result = call()
    except SystemError as exc:
        return f"SystemError: {exc}"
    except BaseException as exc:  # noqa: BLE001 - KeyboardInterrupt paths too
        if isinstance(expect, type) and issubclass(expect, BaseException) and isinstance(exc, expect):
            return None
        return f"raised {type(exc).__name__}: {exc}"
    if isinstance(expect, type) and issubclass(expect, BaseException):
        return f"returned {result!r}, expected {expect.__name__}"
    if isinstance(expect, type):
        ok = type(result) is expect
    else:
        ok = result is expect or (type(result) is type(expect) and result == expect)
    return None if ok else f"returned {result!r}, expected {expect!r}"


_pool = {}


def pooled(n):
    # The same int object for the same value, so that storing a delta
    # allocates nothing (CPython's refleak runner does the same).
    return _pool.setdefault(n, n)


def measure(cases):
    """Runs the cases in rounds; returns the measured (refs, blocks) deltas
    and the number of rounds run.

    At least WARMUP rounds warm up; warming goes on, up to MAX_WARMUP
    rounds, until a round changes neither count (the import system, for
    one, takes a while to settle after failing imports).  A real leak never
    gives such a round, so it still shows in the measured rounds.

    Before counting, the interpreter's own caches are emptied, as CPython's
    refleak runner does.  Its type attribute cache keeps a reference to each
    name it caches, in a slot chosen by the name's address: names made anew
    on every call (setuptools' import hook spells out "spec_for_" + the
    module name on every failing import) pile up there, a few per round, for
    as many rounds as the addresses they land on happen to hit new slots.
    """
    ref_deltas = [0] * ROUNDS
    block_deltas = [0] * ROUNDS
    refs_before = blocks_before = 0
    warm = measured = 0
    while measured < ROUNDS:
        for _label, expect, call in cases:
            for _ in range(REPEAT):
                outcome_ok(expect, call)
        sys._clear_internal_caches()
        gc.collect()
        blocks_after = sys.getallocatedblocks()
        refs_after = sys.gettotalrefcount()
        steady = refs_after == refs_before and blocks_after == blocks_before
        if warm < WARMUP or (warm < MAX_WARMUP and not steady):
            warm += 1
        else:
            ref_deltas[measured] = pooled(refs_after - refs_before)
            block_deltas[measured] = pooled(blocks_after - blocks_before)
            measured += 1
        refs_before, blocks_before = refs_after, blocks_after
    return ref_deltas, block_deltas, warm + measured


def leaks(deltas):
    return all(d >= 1 for d in deltas)


def check_group(cases):
    wrong = [f"{label}: {text}" for label, expect, call in cases
             if (text := outcome_ok(expect, call)) is not None]
    assert not wrong, "\n".join(wrong)
    ref_deltas, block_deltas, rounds = measure(cases)
    print(f"\n  {len(cases)} cases, {len(cases) * (1 + REPEAT * rounds)} calls in {rounds} rounds; "
          f"refcount deltas {ref_deltas}, block deltas {block_deltas}", end="")
    if leaks(ref_deltas) or leaks(block_deltas):
        # A real leak shows again.  The import system's caches (failing
        # imports go through them on every call) now and then move by a
        # reference or a block three rounds in a row, but not twice over.
        refs, blocks, _ = measure(cases)
        if not (leaks(refs) or leaks(blocks)):
            return
        culprits = []
        for case in cases:
            refs, blocks, _ = measure([case])
            if leaks(refs) or leaks(blocks):
                culprits.append(f"{case[0]}: refs {refs}, blocks {blocks}")
        pytest.fail(f"leak: refs {ref_deltas}, blocks {block_deltas}\n" + "\n".join(culprits))


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
# tintara.detect


def detected(stream=None, platform="linux", stdout=None, fn=None, **env):
    """A call of detect_color_level (or fn) with its own environment."""
    fn = fn or detect.detect_color_level
    attrs = {"os": fake_os(**env), "sys": FakeSys(platform, stdout=stdout)}
    return with_attrs(detect, attrs, fn, stream)


ENV_NAMES = ("NO_COLOR", "FORCE_COLOR", "TERM_PROGRAM", "VSCODE_PID", "VSCODE_IPC_HOOK",
             "PYCHARM_HOSTED", "WT_SESSION", "ConEmuANSI", "COLORTERM", "TERM")


def in_environ(fn, *args, sys_ns=None, **env):
    """A call of fn made with the real os.environ holding env (and nothing
    else that detection reads), optionally with detect.sys rebound."""

    def call():
        values = {name: env.get(name, MISSING) for name in ENV_NAMES}
        attrs = {"sys": sys_ns} if sys_ns is not None else {}
        with patched(os.environ, **values), patched(detect, **attrs):
            return fn(*args)

    return call


def linux_sys(encoding="utf-8"):
    fake = FakeSys("linux")
    fake.getfilesystemencoding = encoding if callable(encoding) else (lambda: encoding)
    return fake


def detect_cases():
    L = detect.ColorLevel
    tty = Stream()
    f = detect.detect_color_level
    return [
        ("environ: NO_COLOR", L.NONE, in_environ(f, tty, NO_COLOR="1", FORCE_COLOR="3")),
        ("environ: FORCE_COLOR 2", L.EXTENDED, in_environ(f, None, FORCE_COLOR="2")),
        ("environ: TERM", L.EXTENDED, in_environ(f, tty, TERM="screen-256color")),
        ("environ: nothing", L.NONE, in_environ(f, tty)),
        ("environ: undecodable", L.BASIC, in_environ(f, tty, TERM="xterm-\udcff")),
        ("environ: sys rebound", L.TRUECOLOR,
         in_environ(f, tty, sys_ns=linux_sys(), COLORTERM="24bit")),
        ("environ: other encoding", L.TRUECOLOR,
         in_environ(f, tty, sys_ns=linux_sys("latin-1"), COLORTERM="24bit")),
        ("environ: encoding raises", L.TRUECOLOR,
         in_environ(f, tty, sys_ns=linux_sys(boom), COLORTERM="24bit")),
        ("environ: plain dict", L.BASIC,
         with_attrs(os, {"environ": {"FORCE_COLOR": "1"}}, f, tty)),
        ("NO_COLOR", L.NONE, detected(tty, NO_COLOR="1", FORCE_COLOR="3")),
        ("FORCE_COLOR 0", L.NONE, detected(tty, FORCE_COLOR="0")),
        ("FORCE_COLOR true", L.BASIC, detected(None, FORCE_COLOR="true")),
        ("FORCE_COLOR 2", L.EXTENDED, detected(None, FORCE_COLOR="2")),
        ("FORCE_COLOR 3", L.TRUECOLOR, detected(None, FORCE_COLOR="3")),
        ("FORCE_COLOR other", L.BASIC, detected(None, FORCE_COLOR="yes")),
        ("vscode on windows", L.TRUECOLOR, detected(None, "win32", TERM_PROGRAM="vscode")),
        ("pycharm on windows", L.TRUECOLOR, detected(None, "win32", PYCHARM_HOSTED="1")),
        ("windows terminal", L.TRUECOLOR, detected(tty, "win32", WT_SESSION="x")),
        ("conemu", L.TRUECOLOR, detected(tty, "win32", ConEmuANSI="ON")),
        ("windows console", L.BASIC, detected(tty, "win32", VSCODE_PID="")),
        ("not a tty", L.NONE, detected(Stream(False), TERM="xterm")),
        ("no isatty", L.NONE, detected(object(), TERM="xterm")),
        ("isatty property AttributeError", L.NONE, detected(IsattyProperty(AttributeError))),
        ("default stream", L.BASIC, detected(None, stdout=tty, TERM="xterm")),
        ("default stream None", L.NONE, detected(None, stdout=None, TERM="xterm")),
        ("truecolor", L.TRUECOLOR, detected(tty, COLORTERM="TrueColor", TERM="dumb")),
        ("dumb", L.NONE, detected(tty, TERM="DUMB")),
        ("256 colours", L.EXTENDED, detected(tty, TERM="xterm-256color")),
        ("xterm", L.BASIC, detected(tty, TERM="xterm")),
        ("no TERM", L.NONE, detected(tty)),
        ("real environment", L, call_of(f, Stream(False))),
        ("isatty raises", Boom, detected(IsattyRaises())),
        ("isatty property raises", Boom, detected(IsattyProperty(Boom))),
        ("isatty not callable", TypeError, detected(types.SimpleNamespace(isatty=5))),
        ("isatty truth raises", Boom, detected(types.SimpleNamespace(isatty=BadBool))),
        ("environ value compares badly", Boom, detected(tty, NO_COLOR=BadEq())),
        ("FORCE_COLOR compares badly", Boom, with_attrs(
            detect, {"os": types.SimpleNamespace(environ=types.SimpleNamespace(
                get=lambda k, d=None: BadEq() if k == "FORCE_COLOR" else d))}, f, tty)),
        ("environ get raises", Boom,
         with_attrs(detect, {"os": types.SimpleNamespace(environ=types.SimpleNamespace(get=boom))}, f)),
        ("environ missing", AttributeError, with_attrs(detect, {"os": object()}, f)),
        ("COLORTERM not str", AttributeError, detected(tty, COLORTERM=5)),
        ("TERM not str", AttributeError, detected(tty, TERM=5)),
        ("platform compares badly", Boom, with_attrs(
            detect, {"os": fake_os(), "sys": FakeSys(BadEq())}, f, tty)),
        ("os deleted", NameError, with_attrs(detect, {"os": MISSING}, f)),
        ("sys deleted", NameError, with_attrs(detect, {"sys": MISSING, "os": fake_os()}, f, tty)),
        ("ColorLevel deleted", NameError,
         with_attrs(detect, {"ColorLevel": MISSING, "os": fake_os()}, f, Stream(False))),
        ("ColorLevel rebound", "n", with_attrs(
            detect, {"ColorLevel": types.SimpleNamespace(NONE="n"), "os": fake_os()}, f, Stream(False))),
        ("keyword", L, call_of(f, stream=Stream(False))),
        ("two args", TypeError, call_of(f, None, None)),
        ("unexpected keyword", TypeError, call_of(f, file=None)),
        ("duplicate keyword", TypeError, call_of(f, None, stream=None)),
    ]


def supports_color_cases():
    f = detect.supports_color
    tty = Stream()
    return [
        ("forced", True, detected(None, FORCE_COLOR="1", fn=f)),
        ("forced off", False, detected(None, FORCE_COLOR="0", fn=f)),
        ("terminal", True, detected(tty, TERM="xterm", fn=f)),
        ("not a terminal", False, detected(Stream(False), fn=f)),
        ("default stream", False, detected(None, stdout=None, fn=f)),
        ("keyword", bool, call_of(f, stream=Stream(False))),
        ("detection raises", Boom, detected(IsattyRaises(), fn=f)),
        ("rebound detection", True, with_attrs(detect, {"detect_color_level": lambda s: 5}, f)),
        ("result not comparable", TypeError,
         with_attrs(detect, {"detect_color_level": lambda s: object()}, f)),
        ("comparison raises", Boom, with_attrs(detect, {"detect_color_level": lambda s: BadEq()}, f)),
        ("detect_color_level deleted", NameError, with_attrs(detect, {"detect_color_level": MISSING}, f)),
        ("ColorLevel deleted", NameError,
         with_attrs(detect, {"ColorLevel": MISSING, "detect_color_level": lambda s: 1}, f)),
        ("two args", TypeError, call_of(f, None, None)),
        ("unexpected keyword", TypeError, call_of(f, file=None)),
    ]


# The Windows paths, on a stand-in Windows (see fakes.Win).  Handles:
# stdout's descriptor 1 is 11, stderr's 2 is 12, the standard output device 7.


def on_windows(fn, make=Win, sys_ns=None):
    """A call of fn on a Win that make() builds afresh for each call,
    optionally with detect.sys rebound."""

    def call():
        win = make()
        with pytest.MonkeyPatch.context() as m:
            win.install(m)
            if sys_ns is not None:
                m.setattr(detect, "sys", sys_ns)
            return win.run(fn)

    return call


def without_windll():
    win = Win()
    del win.ctypes.WinDLL
    return win


def console_cases():
    f = detect._has_windows_console

    def real_ctypes():  # the Linux ctypes has no WinDLL
        with patched(detect, sys=FakeSys("win32")):
            return f()

    return [
        ("other platform", False, call_of(f)),
        ("linux ctypes", False, real_ctypes),
        ("console", True, on_windows(f)),
        ("no console", False, on_windows(f, lambda: Win(consoles={}))),
        ("null handle", False, on_windows(f, lambda: Win(std_handle=None))),
        ("handle 0", False, on_windows(f, lambda: Win(std_handle=0))),
        ("handle -1", False, on_windows(f, lambda: Win(std_handle=-1))),
        ("handle compares badly", False, on_windows(f, lambda: Win(std_handle=BadEq()))),
        ("query raises", False, on_windows(f, lambda: Win(raises={"GetConsoleMode": Boom()}))),
        ("query interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"GetConsoleMode": KeyboardInterrupt()}))),
        ("query result truth raises", False,
         on_windows(f, lambda: Win(get_console_mode=lambda handle, ref: BadBool()))),
        ("no WinDLL", False, on_windows(f, without_windll)),
        ("WinDLL raises", False, on_windows(f, lambda: Win(raises={"WinDLL": Boom()}))),
        ("WinDLL interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"WinDLL": KeyboardInterrupt()}))),
        ("argtypes refused", False,
         on_windows(f, lambda: Win(raises={"GetStdHandle.argtypes": Boom()}))),
        ("platform compares badly", Boom, with_attrs(detect, {"sys": FakeSys(BadEq())}, f)),
        ("sys deleted", NameError, with_attrs(detect, {"sys": MISSING}, f)),
        ("argument", TypeError, call_of(f, 1)),
        ("keyword", TypeError, call_of(f, x=1)),
        ("argument and keyword", TypeError, call_of(f, 1, x=1)),
    ]


def vt_cases():
    f = detect.enable_windows_vt

    def consoles(**options):  # the two streams' consoles, mode 0
        return lambda: Win(consoles={11: Console(0, **options), 12: Console(0, **options)})

    class StderrRaises:
        platform = "win32"
        stdout = Stream()

        @property
        def stderr(self):
            raise Boom

    def real_modules():  # no msvcrt, and a ctypes without WinDLL
        with patched(detect, sys=FakeSys("win32", stdout=Stream(), stderr=Stream())):
            return f()

    return [
        ("other platform", False, call_of(f)),
        ("linux modules", False, real_modules),
        ("stdout console", True, on_windows(f, consoles())),
        ("stdout file, stderr console", True, on_windows(f, lambda: Win(consoles={12: Console(0)}))),
        ("no console", False, on_windows(f, lambda: Win(consoles={}))),
        ("flag already set", True, on_windows(f, lambda: Win(consoles={11: Console(4)}))),
        ("fileno raises: standard output device", True,
         on_windows(f, lambda: Win(raises={"stdout.fileno": OSError("no file descriptor")}))),
        ("stdout None: standard output device", True,
         on_windows(f, lambda: Win(stdout=None, stderr=None))),
        ("get_osfhandle raises", True, on_windows(f, lambda: Win(osf={}))),
        ("get_osfhandle -1", True, on_windows(f, lambda: Win(osf={1: -1, 2: -1}))),
        # msvcrt None in sys.modules: its import raises ImportError.
        ("no msvcrt", True, on_windows(f, lambda: Win(msvcrt=None))),
        ("no msvcrt, null device", False, on_windows(f, lambda: Win(std_handle=0, msvcrt=None))),
        ("no msvcrt, invalid device", False,
         on_windows(f, lambda: Win(std_handle=-1, msvcrt=None))),
        ("msvcrt lookup raises", Boom,
         on_windows(f, lambda: Win(raises={"from msvcrt import": Boom()}))),
        ("set refused", False, on_windows(f, consoles(set_ok=False))),
        ("flag not kept", False, on_windows(f, consoles(keeps=False))),
        # A class, not an instance: raised again and again, an instance would
        # keep every traceback.
        ("read back raises", False, on_windows(f, consoles(fail={"read back": Boom}))),
        ("read back fails, flag was set", True,
         on_windows(f, lambda: Win(consoles={11: Console(4, reads_back=False)}))),
        ("read back fails, flag was not set", False,
         on_windows(f, lambda: Win(consoles={11: Console(0, reads_back=False)}))),
        ("query raises", False, on_windows(f, lambda: Win(raises={"GetConsoleMode": Boom()}))),
        ("query interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"GetConsoleMode": KeyboardInterrupt()}))),
        ("handle compares badly", False,
         on_windows(f, lambda: Win(osf={1: BadEq(), 2: BadEq()}))),
        ("no WinDLL", False, on_windows(f, without_windll)),
        ("WinDLL raises", False, on_windows(f, lambda: Win(raises={"WinDLL": Boom()}))),
        ("WinDLL interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"WinDLL": KeyboardInterrupt()}))),
        ("argtypes refused", False,
         on_windows(f, lambda: Win(raises={"GetConsoleMode.argtypes": Boom()}))),
        ("stderr raises", Boom, on_windows(f, sys_ns=StderrRaises())),
        ("sys deleted", NameError, with_attrs(detect, {"sys": MISSING}, f)),
        ("argument", TypeError, call_of(f, 1)),
        ("keyword", TypeError, call_of(f, x=1)),
    ]


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
    "detect.detect_color_level": detect_cases,
    "detect.supports_color": supports_color_cases,
    "detect._has_windows_console": console_cases,
    "detect.enable_windows_vt": vt_cases,
    "paint": paint_cases,
}


@pytest.mark.parametrize("group", GROUPS)
def test_no_leaks(group):
    check_group(GROUPS[group]())
