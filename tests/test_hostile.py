"""Hostile input: whatever a caller passes or rebinds, a call returns a value of
the documented type or raises an exception; it never crashes the interpreter
and never returns with an exception still set (the interpreter turns that
into SystemError, which no path of ours may produce).

Arguments are drawn from ordinary values, huge ints, NaN and infinities, and
instances of generated classes (subclasses of str, int, float, tuple, list
and dict, or plain objects) whose special methods raise, return the wrong
type, or rebind the module tables in the middle of a call.  Module
attributes are rebound to odd values or deleted before the call.  Run it
under ``python -X dev``, as tools/test does.
"""

import contextlib
import enum
import os
import re
import traceback
import types

import pytest

pytest.importorskip("hypothesis", reason="the hostile inputs are generated with hypothesis (dependency group 'test')")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from hostile import BadBool, Boom, run_child  # noqa: E402

import tintara.colors as colors  # noqa: E402
import tintara.detect as detect  # noqa: E402
import tintara.styles as styles  # noqa: E402

MODULES = (colors, detect, styles)
TABLES = (colors.NAMED_COLORS, colors.COLOR_ALIASES, styles.STYLES)
DELETE = object()
EXAMPLES = int(os.environ.get("TINTARA_HYPOTHESIS_EXAMPLES", "150"))  # fewer under valgrind
SETTINGS = settings(max_examples=EXAMPLES, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])


class State:
    """Whether a call is under way, and whether it changed a module attribute
    or table (then its result may be anything)."""

    active = False
    touched = False


@contextlib.contextmanager
def restored():
    """Puts every module attribute and table back as it was."""
    saved = [(m, dict(vars(m))) for m in MODULES]
    contents = [(t, dict(t)) for t in TABLES]
    State.touched = False
    try:
        yield
    finally:
        for module, attrs in saved:
            namespace = vars(module)
            for name in set(namespace) - set(attrs):
                del namespace[name]
            namespace.update(attrs)
        for table, items in contents:
            table.clear()
            table.update(items)


def rebind(module, name, value):
    State.touched = True
    if value is DELETE:
        vars(module).pop(name, None)
    else:
        setattr(module, name, value)


# ---------------------------------------------------------------------------
# Misbehaving special methods


def raising(*args, **kwargs):
    raise Boom("hostile")


def returning(value):
    return lambda *args, **kwargs: value


def iterating(*items):
    return lambda *args, **kwargs: iter(items)


def indexing(value):
    # Iteration through __getitem__ stops at 3: an endless sequence would
    # make set() or sorted() of a table run forever, in Python as here.
    def method(self, key):
        if isinstance(key, int) and key >= 3:
            raise IndexError(key)
        return value

    return method


def mutating(action, impl):
    def method(*args, **kwargs):
        if State.active:  # not when Hypothesis shows an example
            action()
        return impl(*args, **kwargs)

    return method


Level = enum.IntEnum("Level", {"SEVEN": 7})


MUTATIONS = [
    lambda: rebind(colors, "ESC", DELETE),
    lambda: rebind(colors, "NAMED_COLORS", {}),
    lambda: rebind(colors, "COLOR_ALIASES", None),
    lambda: rebind(colors, "_validate_rgb", DELETE),
    lambda: rebind(colors, "parse_hex", raising),
    lambda: rebind(colors, "_HEX_RE", DELETE),
    lambda: rebind(styles, "STYLES", {"bold": (1,)}),
    lambda: rebind(styles, "ESC", 27),
    lambda: rebind(detect, "ColorLevel", DELETE),
    lambda: rebind(detect, "os", None),
    lambda: (setattr(State, "touched", True), colors.NAMED_COLORS.clear()),
    lambda: (setattr(State, "touched", True), styles.STYLES.clear()),
    lambda: (setattr(State, "touched", True), colors.COLOR_ALIASES.update(red=[])),
]

SPECIAL = {
    "__bool__": [returning(2), returning(True)],
    "__len__": [returning(-1), returning("x"), returning(3)],
    "__index__": [returning("x"), returning(10**30), returning(7)],
    "__int__": [returning(1.5), returning(7), returning(True)],
    "__float__": [returning(float("nan")), returning("x"), returning(1e300)],
    "__format__": [returning(5), returning("é"), returning("31")],
    "__repr__": [returning(5), returning("é")],
    "__str__": [returning(5), returning("é")],
    "__eq__": [returning(NotImplemented), returning(BadBool()), returning(True)],
    "__lt__": [returning(NotImplemented), returning(BadBool()), returning(True)],
    "__le__": [returning(NotImplemented), returning(BadBool()), returning(False)],
    "__gt__": [returning(BadBool()), returning(True)],
    "__ge__": [returning(BadBool()), returning(True)],
    "__hash__": [returning("x"), returning(0), returning(hash("red"))],
    "__iter__": [returning(5), iterating(1, 2, 3), iterating(), iterating(1, 2, 3, 4)],
    "__contains__": [returning(BadBool()), returning(True)],
    "__getitem__": [indexing((1, 2)), indexing("x")],
    "lower": [returning(5), returning("red"), returning(None)],
    "replace": [returning(5), returning("bright_red")],
    "startswith": [returning(BadBool()), returning(1), returning(0)],
    "get": [returning([]), returning("red")],
    "match": [returning(None), returning(5)],
    "group": [returning(5), returning("ff00ff"), returning("ab")],
    "isatty": [returning(BadBool()), returning(1), 5],
    "fileno": [returning("x"), returning(-1)],
    "getfilesystemencoding": [returning("utf-8"), returning(5)],
}


@st.composite
def methods(draw):
    name = draw(st.sampled_from(sorted(SPECIAL)))
    how = draw(st.sampled_from(["raise", "mutate", "odd"]))
    if how == "raise":
        return name, raising
    value = draw(st.sampled_from(SPECIAL[name]))
    if how == "mutate":
        impl = value if callable(value) else returning(value)
        return name, mutating(draw(st.sampled_from(MUTATIONS)), impl)
    return name, value


NAMES = ["red", "Bright-Red", "grey", "bold", "strike", "#ff8800", "#F80", "#abc\n", "", "é"]
BASES = {
    object: st.just(()),
    str: st.sampled_from(NAMES).map(lambda s: (s,)),
    int: st.integers(-300, 300).map(lambda n: (n,)),
    float: st.floats().map(lambda f: (f,)),
    tuple: st.lists(st.integers(-1, 256), max_size=4).map(lambda items: (items,)),
    list: st.just(()),
    dict: st.just(({"red": 31, "bold": (1, 22)},)),
}


@st.composite
def hostile_objects(draw):
    base = draw(st.sampled_from(list(BASES)))
    namespace = dict(draw(st.lists(methods(), max_size=4, unique_by=lambda m: m[0])))
    cls = type("Hostile", (base,), namespace)
    args = draw(BASES[base])
    try:
        return cls(*args)
    except Exception:  # a constructor that uses a hostile method
        return base(*args)


plain = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.integers(min_value=-(10**400), max_value=10**400),
    st.floats(),
    st.complex_numbers(),
    st.sampled_from(NAMES),
    st.text(max_size=10),
    st.binary(max_size=4),
    st.sampled_from([float("nan"), float("inf"), -float("inf"), 10**5000]),
    st.sampled_from([detect.ColorLevel.TRUECOLOR, Level.SEVEN]),
)
values = st.deferred(lambda: st.one_of(
    plain,
    hostile_objects(),
    st.tuples(values, values, values),
    st.lists(plain, max_size=4).map(tuple),
    st.lists(values, max_size=3),
))

# Module attributes a caller might rebind, and what to.
REBINDABLE = {
    colors: ["ESC", "NAMED_COLORS", "COLOR_ALIASES", "_HEX_RE", "_SHORT_HEX_RE", "parse_hex",
             "_validate_rgb", "_color_code"],
    detect: ["ColorLevel", "detect_color_level", "os", "sys"],
    styles: ["ESC", "STYLES"],
}
odd_values = st.one_of(
    st.just(DELETE),
    values,
    st.sampled_from([
        {}, {"red": "x"}, {"bold": [1, 2, 3]}, re.compile("^#(.*)$"),
        types.SimpleNamespace(NONE=0, BASIC=1, EXTENDED=2, TRUECOLOR=3, environ={}, platform="win32"),
        types.SimpleNamespace(get=raising, match=raising), raising,
        lambda *args, **kwargs: "x", lambda *args, **kwargs: None,
    ]),
    values.map(returning),
)
rebindings = st.lists(
    st.sampled_from([(m, name) for m, names in REBINDABLE.items() for name in names]).flatmap(
        lambda target: st.tuples(st.just(target[0]), st.just(target[1]), odd_values)),
    max_size=3,
)


# ---------------------------------------------------------------------------
# The property


def is_str(result):
    return type(result) is str


def is_rgb(result):
    return type(result) is tuple and len(result) == 3 and all(0 <= c <= 255 for c in result)


# Function -> the documented result when nothing was rebound.
FUNCTIONS = {
    colors.parse_hex: is_rgb,
    colors.rgb_to_ansi256: lambda r: type(r) is int and 16 <= r <= 255,
    colors._validate_rgb: lambda r: r is None,
    colors.fg_code: is_str,
    colors.bg_code: is_str,
    colors._color_code: is_str,
    styles.style_on: is_str,
    styles.style_off: is_str,
    detect.detect_color_level: lambda r: type(r) is detect.ColorLevel,
    detect.supports_color: lambda r: type(r) is bool,
    detect._has_windows_console: lambda r: r is False,
    detect.enable_windows_vt: lambda r: r is False,
}


def check_call(fn, args, kwargs, rebound):
    module = fn.__module__
    with restored():
        for target, name, value in rebound:
            rebind(target, name, value)
        State.active = True
        try:
            result = fn(*args, **kwargs)
        except SystemError as exc:  # a NULL result without an exception, or the reverse
            pytest.fail(f"SystemError from {fn.__name__}: {exc}")
        except Exception as exc:
            entries = [frame.name for frame in traceback.extract_tb(exc.__traceback__)]
            assert f"{module}.{fn.__name__}" in entries, entries
        else:
            if not State.touched:
                assert FUNCTIONS[fn](result), result
        finally:
            State.active = False


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda fn: fn.__name__)
@SETTINGS
@given(data=st.data())
def test_any_arguments(fn, data):
    params = fn.__code__.co_varnames[:fn.__code__.co_argcount + fn.__code__.co_kwonlyargcount]
    args = data.draw(st.lists(values, max_size=len(params) + 1))
    names = st.sampled_from(list(params) + ["colour"])
    kwargs = data.draw(st.dictionaries(names, values, max_size=2))
    check_call(fn, args, kwargs, ())


@pytest.mark.parametrize("fn", FUNCTIONS, ids=lambda fn: fn.__name__)
@SETTINGS
@given(data=st.data())
def test_rebound_module(fn, data):
    rebound = data.draw(rebindings)
    params = fn.__code__.co_varnames[:fn.__code__.co_argcount]
    useful = {
        "color": st.sampled_from(NAMES + [196, (1, 2, 3), True]) | values,
        "name": st.sampled_from(NAMES) | values,
        "r": st.integers(-5, 300) | values, "g": st.integers(0, 255), "b": st.integers(0, 255),
        "stream": st.none() | values,
    }
    args = [data.draw(useful[p]) for p in params]
    kwargs = {"foreground": data.draw(st.booleans() | values)} if fn is colors._color_code else {}
    check_call(fn, args, kwargs, rebound)


# ---------------------------------------------------------------------------
# Change, then call: the module's shortcuts (results kept while the tables it
# watches stay unchanged) must never hand out a stale result.  The
# pure-Python twin, changed the same way, is the oracle.

SPELLINGS = ["red", "Red", "RED", "Bright-Red", "bright red", "BRIGHT_red", "Gray", "grey",
             "GREY", "purple", "Bright Purple", "orange", "bright_black", "Bright-Black", "",
             "red ", "ＲＥＤ"]
TWIN_CALLS = (
    [(fn, c) for fn in ("fg_code", "bg_code")
     for c in SPELLINGS + ["#ff8800", "#F80", "#abc\n", "#12", 0, 5, 255, 256, True, Level.SEVEN,
                           (1, 2, 3), (300, 0, 0), [1, 2, 3], 1.5]]
    + [("parse_hex", c) for c in ["#abc", "#ff8800", "#ABC", "zz"]]
    + [(fn, n) for fn in ("style_on", "style_off")
       for n in ["bold", "strike", "frame", "nope", "BOLD", "overline"]]
)
CODES = [31, 91, 35, 7, Level.SEVEN, 12.5, "x", True]


def fresh(arg):
    """An equal str that is a new object, never interned; other values as they are."""
    return (arg + "\0")[:-1] if isinstance(arg, str) and len(arg) > 1 else arg


twin_changes = st.one_of(
    st.tuples(st.just("colors"), st.just("ESC"),
              st.sampled_from(["\x1b[", "<", "é[", ">>", 27, DELETE])),
    st.tuples(st.just("styles"), st.just("ESC"), st.sampled_from(["\x1b[", "|", 0, DELETE])),
    st.tuples(st.just("NAMED_COLORS"),
              st.sampled_from(["red", "orange", "bright_black", "bright_red", "grey"]),
              st.sampled_from(CODES + [DELETE])),
    st.tuples(st.just("COLOR_ALIASES"),
              st.sampled_from(["grey", "gray", "orange", "red", "bright_purple"]),
              st.sampled_from(["bright_black", "red", "white", "orange", "nope", 5, DELETE])),
    st.tuples(st.just("STYLES"), st.sampled_from(["bold", "strike", "frame", "overline"]),
              st.sampled_from([(1, 22), [5, 25], (Level.SEVEN, 2.5), ("x", "y"), (1, 2, 3),
                               DELETE])),
    st.tuples(st.just("colors"), st.sampled_from(["NAMED_COLORS", "COLOR_ALIASES"]),
              st.sampled_from(["own", {}, {"red": 32}, {"grey": "red"}])),
    st.tuples(st.just("styles"), st.just("STYLES"), st.sampled_from(["own", {}, {"bold": (7, 27)}])),
    st.tuples(st.just("colors"),
              st.sampled_from(["_color_code", "parse_hex", "_HEX_RE", "_SHORT_HEX_RE",
                               "_validate_rgb"]),
              st.sampled_from(["own", "wrapped", DELETE])),
)


def apply_change(modules, change):
    where, key, value = change
    if where in ("colors", "styles"):
        module = modules[where]
        if value == "own":
            value = ORIGINALS[module.__name__][key]
        elif value == "wrapped":
            original = ORIGINALS[module.__name__][key]
            value = (lambda *a, **k: original(*a, **k)) if callable(original) else original
        elif isinstance(value, dict):
            value = dict(value)
        if value is DELETE:
            vars(module).pop(key, None)
        else:
            setattr(module, key, value)
        return
    table = getattr(modules["styles" if where == "STYLES" else "colors"], where, None)
    if isinstance(table, dict):
        if value is DELETE:
            table.pop(key, None)
        else:
            table[key] = value


def outcome_of(module, fn, arg):
    if not hasattr(module, fn):  # deleted by a change
        return None
    try:
        result = getattr(module, fn)(arg)
    except Exception as exc:
        return type(exc).__name__, str(exc)
    return type(result).__name__, result


ORIGINALS = {}


@SETTINGS
@given(steps=st.lists(st.one_of(twin_changes.map(lambda c: ("change", c)),
                                st.tuples(st.sampled_from(TWIN_CALLS), st.booleans()).map(
                                    lambda c: ("call", c))),
                      max_size=40))
def test_changes_then_calls_agree_with_twin(steps):
    twin = {name: pytest.importorskip(f"twin.{name}") for name in ("colors", "styles")}
    ext = {"colors": colors, "styles": styles}
    for module in [*twin.values(), *ext.values()]:
        ORIGINALS[module.__name__] = dict(vars(module))
    twin_tables = (twin["colors"].NAMED_COLORS, twin["colors"].COLOR_ALIASES, twin["styles"].STYLES)
    twin_saved = [(m, dict(vars(m))) for m in twin.values()] + [(t, dict(t)) for t in twin_tables]
    with restored():
        try:
            for kind, step in steps:
                if kind == "change":
                    apply_change(ext, step)
                    apply_change(twin, step)
                    continue
                (fn, arg), new_object = step
                arg = fresh(arg) if new_object else arg
                module = "styles" if fn.startswith("style") else "colors"
                assert outcome_of(ext[module], fn, arg) == outcome_of(twin[module], fn, arg), step
        finally:
            for target, saved in twin_saved:
                namespace = target if isinstance(target, dict) else vars(target)
                namespace.clear()
                namespace.update(saved)


# ---------------------------------------------------------------------------
# Faults found by these checks, pinned down until they are mended.  Those
# that crash the interpreter run in a child process.


def under_asan():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


class Shown(str):
    def __str__(self):
        return "shown"


class Field:
    """Formats as a str subclass whose __str__ says something else."""

    def __init__(self, text):
        self.text = text

    def __format__(self, spec):
        return Shown(self.text)


@pytest.mark.parametrize("text", ["<", "é["])
@pytest.mark.parametrize("call, tail", [
    (lambda: styles.style_on("bold"), "1m"),
    (lambda: colors.fg_code("red"), "31m"),
], ids=["styles", "colors"])
def test_field_text_is_the_formatted_string(monkeypatch, call, tail, text):
    # As in f"{ESC}{code}m": format(ESC, "") gives the text, used as it is.
    monkeypatch.setattr(styles, "ESC", Field(text))
    monkeypatch.setattr(colors, "ESC", Field(text))
    assert call() == f"{Field(text)}{tail}" == text + tail


def test_short_pattern_read_after_long_one(monkeypatch):
    monkeypatch.setattr(colors, "_SHORT_HEX_RE", colors._SHORT_HEX_RE)

    class Pattern:
        def match(self, text):
            del colors._SHORT_HEX_RE
            return None

    monkeypatch.setattr(colors, "_HEX_RE", Pattern())
    with pytest.raises(NameError, match="_SHORT_HEX_RE"):
        colors.parse_hex("#abc")


def test_function_left_over_from_failed_import(tmp_path):
    # Storing the body's last function compares its name with a colliding
    # key planted earlier: Python code runs after fg_code exists, keeps it
    # and fails the import.  The left-over function reads the namespace the
    # failed body left, which has all it needs: it gives the sequence, as
    # the Python body's function would.
    proc = run_child("""
        import re, sys
        left_over = []

        class Key:
            def __hash__(self):
                return hash("_validate_rgb")

            def __eq__(self, other):
                if other != "_validate_rgb":
                    return self is other
                left_over.append(vars(sys.modules["tintara.colors"])["fg_code"])
                raise RuntimeError("refused")

        compile = re.compile

        def plant(pattern, *args):
            re.compile = compile
            vars(sys.modules["tintara.colors"])[Key()] = None
            return compile(pattern, *args)

        re.compile = plant
        try:
            import tintara.colors
        except RuntimeError:
            pass
        fg_code, = left_over
        print(ascii([fg_code("red"), fg_code(5), fg_code("#f80")]))
        try:
            fg_code.__globals__
        except Exception:
            pass
    """, tmp_path)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.strip() == ascii(["\x1b[31m", "\x1b[38;5;5m", "\x1b[38;2;255;136;0m"])


def test_windows_closure_is_never_half_built(tmp_path):
    proc = run_child("""
        import gc, sys, types
        import tintara.detect

        def get_osfhandle(fd):
            return fd

        found = []

        def WinDLL(name, use_last_error=False):
            found.extend(r for r in gc.get_referrers(get_osfhandle) if type(r) is tuple)
            raise OSError("no kernel32 here")

        ctypes = types.ModuleType("ctypes")
        ctypes.WinDLL = WinDLL
        ctypes.wintypes = types.ModuleType("ctypes.wintypes")
        msvcrt = types.ModuleType("msvcrt")
        msvcrt.get_osfhandle = get_osfhandle
        sys.modules.update(ctypes=ctypes, msvcrt=msvcrt)
        sys.platform = "win32"
        assert tintara.detect.enable_windows_vt() is False
        [list(t) for t in found]
    """, tmp_path)
    assert proc.returncode == 0, proc.stderr


def test_environ_check_survives_python_code(tmp_path):
    proc = run_child("""
        import os, posix, sys
        import tintara.detect as detect

        class Sys:
            platform = sys.platform
            stdout = sys.stdout

            def getfilesystemencoding(self):
                # os.environ._data is posix.environ, also held by os.environb.
                os.environ._data = os.environb._data = {}
                del posix.environ
                return "utf-8"

        detect.sys = Sys()
        detect.detect_color_level()
    """, tmp_path)
    assert proc.returncode == 0, proc.stderr


@pytest.mark.skipif(not under_asan(), reason="only a sanitizer sees this use after free")
def test_colors_shortcut_check_survives_python_code(tmp_path):
    proc = run_child("""
        import tintara.colors as colors
        namespace = vars(colors)
        armed = False
        replacement = {"red": 31}
        spare = []

        class Key:
            def __hash__(self):
                return hash("COLOR_ALIASES")

            def __eq__(self, other):
                if armed:
                    spare.clear()  # fills the free list of dicts: the table is really freed
                    colors.NAMED_COLORS = replacement
                return False

        aliases = namespace.pop("COLOR_ALIASES")
        namespace[Key()] = None  # first in the probe chain of "COLOR_ALIASES"
        namespace["COLOR_ALIASES"] = aliases
        spare.extend({} for _ in range(200))
        armed = True
        colors.fg_code("red")
    """, tmp_path)
    assert proc.returncode == 0, proc.stderr
