"""tintara.colors with its tables and constants rebound, and with str
subclasses for names.

The module's functions read its tables and constants by name at every call,
so the tests rebind and delete them (through ``monkeypatch``) and hand the
functions hostile objects.  Several tests make a plain call first and the
hostile one second: a result remembered from the first call must never be
handed out for the second.
"""

import builtins
import collections.abc
import fractions
import operator

import pytest

from checks import interpreter_error, raises
from colouring import ALIASES, ESC, NAMED, Level, Odd, hex_error, index_error, unknown
from hostile import Boom

# ---------------------------------------------------------------------------
# Tables and constants read at call time


def test_table_mutation_seen(colors, monkeypatch):
    assert colors.fg_code("red") == "\x1b[31m"
    monkeypatch.setitem(colors.NAMED_COLORS, "orange", 208)
    monkeypatch.setitem(colors.COLOR_ALIASES, "amber", "orange")
    assert colors.fg_code("amber") == "\x1b[208m"
    assert colors.bg_code("amber") == "\x1b[208m"
    assert colors.fg_code("Orange") == "\x1b[208m"
    raises(ValueError, unknown("teal", ", ".join(sorted([*NAMED, "orange"]))),
           colors.fg_code, "teal")

    monkeypatch.setitem(colors.NAMED_COLORS, "red", 33)
    assert colors.fg_code("red") == "\x1b[33m"
    assert colors.bg_code("red") == "\x1b[43m"
    monkeypatch.delitem(colors.NAMED_COLORS, "green")
    raises(ValueError, unknown("green", ", ".join(sorted({*NAMED, "orange"} - {"green"}))),
           colors.fg_code, "green")

    monkeypatch.setitem(colors.COLOR_ALIASES, "grey", "white")
    assert colors.fg_code("GREY") == "\x1b[37m"
    monkeypatch.delitem(colors.COLOR_ALIASES, "purple")
    raises(ValueError, unknown("purple", ", ".join(sorted({*NAMED, "orange"} - {"green"}))),
           colors.bg_code, "purple")


def test_aliases_resolve_one_level(colors, monkeypatch):
    monkeypatch.setitem(colors.COLOR_ALIASES, "crimson", "scarlet")
    monkeypatch.setitem(colors.COLOR_ALIASES, "scarlet", "red")
    assert colors.fg_code("scarlet") == "\x1b[31m"
    raises(ValueError, unknown("Crimson"), colors.fg_code, "Crimson")
    # An alias whose key is not normalised is never reached.
    monkeypatch.setitem(colors.COLOR_ALIASES, "Dark Red", "red")
    raises(ValueError, unknown("Dark Red"), colors.fg_code, "Dark Red")


def test_tables_replaced(colors, monkeypatch):
    colors.fg_code("red")
    monkeypatch.setattr(colors, "NAMED_COLORS", {"red": 1, "blue": 4})
    monkeypatch.setattr(colors, "COLOR_ALIASES", {"azure": "blue"})
    assert colors.fg_code("red") == "\x1b[1m"
    assert colors.bg_code("AZURE") == "\x1b[14m"
    raises(ValueError, unknown("grey", "blue, red"), colors.fg_code, "grey")
    monkeypatch.setattr(colors, "NAMED_COLORS", {})
    raises(ValueError, unknown("red", ""), colors.fg_code, "red")
    # Aliases may lead to keys of any type.
    monkeypatch.setattr(colors, "NAMED_COLORS", {5: 35, (1, 2): 36})
    monkeypatch.setattr(colors, "COLOR_ALIASES", {"five": 5, "pair": (1, 2)})
    assert colors.fg_code("Five") == "\x1b[35m"
    assert colors.bg_code("PAIR") == "\x1b[46m"
    raises(*interpreter_error(operator.lt, (1, 2), 5), colors.fg_code, "six")
    monkeypatch.setattr(colors, "NAMED_COLORS", {5: 35, 6: 36})
    raises(*interpreter_error(", ".join, [5, 6]), colors.fg_code, "six")


@pytest.mark.parametrize(
    "code, fg, bg",
    [
        (39, "39", "49"), (-5, "-5", "5"), (40, "40", "40"), (89, "89", "89"),
        (90, "90", "100"), (97, "97", "107"), (98, "98", "98"), (208, "208", "208"),
        (10**30, str(10**30), str(10**30)), (-(10**30), str(-(10**30)), str(10 - 10**30)),
        (Level.FIVE, "5", "15"), (Level.BIG, "300", "300"), (Odd(31), "31", "41"),
        (Odd(100), "100", "100"), (True, "1", "11"),
        (31.5, "31.5", "41.5"), (95.0, "95.0", "105.0"), (97.5, "97.5", "97.5"),
        (fractions.Fraction(1, 2), "1/2", "21/2"),
    ],
)
def test_named_codes_of_other_types(colors, monkeypatch, code, fg, bg):
    colors.fg_code("red"), colors.bg_code("red")
    monkeypatch.setitem(colors.NAMED_COLORS, "red", code)
    assert colors.fg_code("red") == f"{ESC}{fg}m"
    assert colors.bg_code("red") == f"{ESC}{bg}m"


def test_named_code_str_and_none(colors, monkeypatch):
    monkeypatch.setitem(colors.NAMED_COLORS, "orange", "38;5;208")
    assert colors.fg_code("orange") == "\x1b[38;5;208m"
    raises(*interpreter_error(operator.lt, "38;5;208", 40), colors.bg_code, "orange")
    monkeypatch.setitem(colors.NAMED_COLORS, "orange", None)
    assert colors.fg_code("orange") == "\x1b[Nonem"
    raises(*interpreter_error(operator.lt, None, 40), colors.bg_code, "orange")

    class Code:
        def __format__(self, spec):
            raise Boom("format " + repr(spec))

    monkeypatch.setitem(colors.NAMED_COLORS, "orange", Code())
    with pytest.raises(Boom, match="format ''"):
        colors.fg_code("orange")


def test_unknown_name_with_non_str_keys(colors, monkeypatch):
    monkeypatch.setitem(colors.NAMED_COLORS, 5, 5)
    raises(*interpreter_error(operator.lt, 5, "teal"), colors.fg_code, "teal")


class Recorder:
    """Logs the calls made on a mapping-like table."""

    def __init__(self, data, log):
        self.data = dict(data)
        self.log = log


class AliasMap(Recorder):
    def get(self, *args):
        self.log.append(("get", *args))
        return self.data.get(*args)


class NameMap(Recorder, collections.abc.Mapping):
    def __contains__(self, key):
        self.log.append(("in", key))
        return key in self.data

    def __getitem__(self, key):
        self.log.append(("[]", key))
        return self.data[key]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


def test_tables_of_other_types(colors, monkeypatch):
    colors.fg_code("purple")
    log = []
    monkeypatch.setattr(colors, "COLOR_ALIASES", AliasMap({"violet": "magenta"}, log))
    monkeypatch.setattr(colors, "NAMED_COLORS", NameMap({"magenta": 35, "red": 31}, log))
    assert colors.bg_code("Violet") == "\x1b[45m"
    assert log == [("get", "violet", "violet"), ("in", "magenta"), ("[]", "magenta")]
    log.clear()
    raises(ValueError, unknown("Purple", "magenta, red"), colors.fg_code, "Purple")
    assert log == [("get", "purple", "purple"), ("in", "purple")]


def test_dict_subclass_tables(colors, monkeypatch):
    class Aliases(dict):
        def get(self, key, default=None):
            return "red" if key == "x" else default

    class Named(dict):
        def __contains__(self, key):
            return key == "red" or super().__contains__(key)

        def __getitem__(self, key):
            return 1 if key == "red" else super().__getitem__(key)

    colors.fg_code("red")
    monkeypatch.setattr(colors, "COLOR_ALIASES", Aliases(ALIASES))
    assert colors.fg_code("X") == "\x1b[31m"
    monkeypatch.setattr(colors, "NAMED_COLORS", Named(NAMED))
    assert colors.fg_code("red") == "\x1b[1m"
    assert colors.fg_code("x") == "\x1b[1m"


def test_table_errors_propagate(colors, monkeypatch):
    class Broken:
        def get(self, *args):
            raise Boom("get")

        def __contains__(self, key):
            raise Boom("in")

    monkeypatch.setattr(colors, "COLOR_ALIASES", Broken())
    with pytest.raises(Boom, match="get"):
        colors.fg_code("red")
    monkeypatch.setattr(colors, "COLOR_ALIASES", {})
    monkeypatch.setattr(colors, "NAMED_COLORS", Broken())
    with pytest.raises(Boom, match="in"):
        colors.fg_code("red")
    monkeypatch.setattr(colors, "COLOR_ALIASES", None)
    raises(*interpreter_error(getattr, None, "get"), colors.fg_code, "red")
    # Indexes, tuples and hex strings do not read the tables.
    assert colors.fg_code(1) == f"{ESC}38;5;1m"
    assert colors.fg_code((1, 2, 3)) == f"{ESC}38;2;1;2;3m"
    assert colors.fg_code("#010203") == f"{ESC}38;2;1;2;3m"


@pytest.mark.parametrize("esc", ["E", "", "⟪", "\x1b[\x1b[", "\U0001f308", "\ud800"])
def test_esc_rebound(colors, monkeypatch, esc):
    before = [colors.fg_code(spec) for spec in ("red", 5, "#010203", (1, 2, 3))]
    assert before[0] == "\x1b[31m"
    monkeypatch.setattr(colors, "ESC", esc)
    assert colors.fg_code("red") == esc + "31m"
    assert colors.bg_code("bright_red") == esc + "101m"
    assert colors.fg_code(5) == esc + "38;5;5m"
    assert colors.bg_code("#010203") == esc + "48;2;1;2;3m"
    assert colors.fg_code((1, 2, 3)) == esc + "38;2;1;2;3m"
    assert colors.RESET_FG == "\x1b[39m" and colors.RESET_BG == "\x1b[49m"


@pytest.mark.parametrize("esc", [5, 2.5, None, Level.FIVE, Odd(3)])
def test_esc_of_other_types(colors, monkeypatch, esc):
    monkeypatch.setattr(colors, "ESC", esc)
    assert colors.fg_code("red") == f"{esc}31m"
    assert colors.bg_code(7) == f"{esc}48;5;7m"
    assert colors.fg_code((1, 2, 3)) == f"{esc}38;2;1;2;3m"


def test_esc_formatted_before_code(colors, monkeypatch):
    class Loud:
        def __init__(self, tag):
            self.tag = tag

        def __format__(self, spec):
            raise Boom(self.tag)

    monkeypatch.setattr(colors, "ESC", Loud("esc"))
    monkeypatch.setitem(colors.NAMED_COLORS, "red", Loud("code"))
    with pytest.raises(Boom, match="esc"):
        colors.fg_code("red")


def test_esc_str_subclass(colors, monkeypatch):
    class Esc(str):
        def __str__(self):
            return "str"

        def __format__(self, spec):
            return "format"

    esc = Esc("\x1b[")
    monkeypatch.setattr(colors, "ESC", esc)
    assert colors.fg_code("red") == f"{esc}31m"
    assert colors.fg_code((1, 2, 3)) == f"{esc}38;2;1;2;3m"


def test_esc_missing(colors, monkeypatch):
    colors.fg_code("red"), colors.fg_code(1), colors.fg_code((1, 2, 3))
    monkeypatch.delattr(colors, "ESC")
    for spec in ("red", 1, (1, 2, 3), "#123456", "#123"):
        raises(NameError, "name 'ESC' is not defined", colors.fg_code, spec)
        raises(NameError, "name 'ESC' is not defined", colors.bg_code, spec)
    # ESC is read only once the colour has been accepted.
    raises(ValueError, index_error("256"), colors.fg_code, 256)
    raises(ValueError, unknown("nope"), colors.fg_code, "nope")
    raises(ValueError, "need more than 2 values to unpack", colors.fg_code, (1, 2))
    raises(ValueError, hex_error("#12"), colors.fg_code, "#12")
    raises(TypeError, "不支持的颜色类型: list", colors.fg_code, [])
    monkeypatch.setitem(colors.NAMED_COLORS, "odd", "1")
    raises(NameError, "name 'ESC' is not defined", colors.fg_code, "odd")
    raises(*interpreter_error(operator.lt, "1", 40), colors.bg_code, "odd")
    # The built-ins are the fallback.
    monkeypatch.setattr(builtins, "ESC", "<B>", raising=False)
    assert colors.fg_code("red") == "<B>31m"
    assert colors.fg_code((1, 2, 3)) == "<B>38;2;1;2;3m"


def test_parse_hex_rebound(colors, monkeypatch):
    calls = []

    def parse(*args, **kwargs):
        calls.append((args, kwargs))
        return result

    colors.fg_code("#ffffff")
    monkeypatch.setattr(colors, "parse_hex", parse)
    for result, text in [((1, 2, 3), "1;2;3"), ([4, 5, 6], "4;5;6"),
                         (iter([7, 8, 9]), "7;8;9"), ((9.5, True, Level.FIVE), "9;1;5"),
                         ((300, -1, 10**20), f"300;-1;{10**20}")]:
        calls.clear()
        assert colors.fg_code("#ffffff") == f"{ESC}38;2;{text}m"
        assert calls == [(("#ffffff",), {})]
    # Not called for names; the result is not validated.
    assert colors.fg_code("red") == "\x1b[31m"
    for result, message in [((1, 2), "need more than 2 values to unpack"),
                            ([1, 2, 3, 4], "too many values to unpack (expected 3)"),
                            (iter([]), "need more than 0 values to unpack")]:
        raises(ValueError, message, colors.bg_code, "#fff")
    result = 5
    with pytest.raises(TypeError):
        colors.fg_code("#fff")
    # A component that is not a number never reaches the sequence as text.
    result = ("ff", 0, 0)
    with pytest.raises((TypeError, ValueError)):
        colors.fg_code("#fff")


def test_parse_hex_missing(colors, monkeypatch):
    monkeypatch.delattr(colors, "parse_hex")
    raises(NameError, "name 'parse_hex' is not defined", colors.fg_code, "#fff")
    assert colors.fg_code("red") == "\x1b[31m"


def test_validate_rgb_rebound(colors, monkeypatch):
    calls = []

    def validate(*args, **kwargs):
        calls.append((args, kwargs))
        return "ignored"

    colors.fg_code((1, 2, 3))
    monkeypatch.setattr(colors, "_validate_rgb", validate)
    assert colors.fg_code((1, 2, 3)) == f"{ESC}38;2;1;2;3m"
    assert calls == [((1, 2, 3), {})]
    calls.clear()
    spec = (255.7, True, Level.FIVE)
    assert colors.bg_code(spec) == f"{ESC}48;2;255;1;5m"
    assert calls == [(spec, {})]
    assert all(a is b for a, b in zip(calls[0][0], spec))
    assert colors.fg_code((300, -1, 0)) == f"{ESC}38;2;300;-1;0m"
    # Hex strings are not validated.
    calls.clear()
    assert colors.fg_code("#ffffff") == f"{ESC}38;2;255;255;255m"
    assert calls == []

    error = Boom("invalid")

    def refuse(r, g, b):
        raise error

    monkeypatch.setattr(colors, "_validate_rgb", refuse)
    with pytest.raises(Boom) as info:
        colors.fg_code((1, 2, 3))
    assert info.value is error

    monkeypatch.delattr(colors, "_validate_rgb")
    raises(NameError, "name '_validate_rgb' is not defined", colors.fg_code, (1, 2, 3))
    # Unpacking comes first.
    raises(ValueError, "need more than 2 values to unpack", colors.fg_code, (1, 2))
    assert colors.fg_code(3) == f"{ESC}38;5;3m"


def test_color_code_rebound(colors, monkeypatch):
    calls = []
    sentinel = "any str"

    def code(*args, **kwargs):
        calls.append((args, kwargs))
        return result

    colors.fg_code("red"), colors.fg_code(1)
    monkeypatch.setattr(colors, "_color_code", code)
    result = sentinel
    spec = ["not", "a", "colour"]
    assert colors.fg_code(spec) is sentinel
    assert colors.bg_code(spec) is sentinel
    assert calls == [((spec,), {"foreground": True}), ((spec,), {"foreground": False})]
    assert calls[0][1]["foreground"] is True and calls[1][1]["foreground"] is False
    result = None
    assert colors.fg_code("red") is None

    class Text(str):
        pass

    long_name = type("X" * 250, (), {})
    for result, type_name in [(5, "int"), (b"x", "bytes"), (Text("x"), "Text"),
                              (long_name(), "X" * 200)]:
        raises(TypeError, "Expected str, got " + type_name, colors.fg_code, "red")
        raises(TypeError, "Expected str, got " + type_name, colors.bg_code, 1)

    monkeypatch.delattr(colors, "_color_code")
    raises(NameError, "name '_color_code' is not defined", colors.fg_code, "red")


def test_color_code_rebound_errors_propagate(colors, monkeypatch):
    error = Boom("inner")

    def code(color, *, foreground):
        raise error

    monkeypatch.setattr(colors, "_color_code", code)
    with pytest.raises(Boom) as info:
        colors.bg_code("red")
    assert info.value is error


# ---------------------------------------------------------------------------
# str subclasses


def test_str_subclass_names(colors):
    class Name(str):
        pass

    assert colors.fg_code(Name("Bright-Red")) == "\x1b[91m"
    assert colors.bg_code(Name("purple")) == "\x1b[45m"
    raises(ValueError, unknown(Name("teal")), colors.fg_code, Name("teal"))


def test_str_subclass_hex_goes_to_parse_hex(colors):
    class Hex(str):
        pass

    assert colors.fg_code("#ff0000") == "\x1b[38;2;255;0;0m"
    for fn in (colors.fg_code, colors.bg_code):
        error = raises(TypeError, "Argument 'color' has incorrect type (expected str, got Hex)",
                       fn, Hex("#ff0000"))
        assert len(error.__notes__) == 1


def test_str_subclass_methods_are_called(colors, monkeypatch):
    calls = []

    class Name(str):
        def lower(self):
            calls.append(("lower",))
            return Lowered(self.translate({ord("Z"): "r"}).lower())

        def startswith(self, prefix, *args):
            calls.append(("startswith", prefix, *args))
            return 0

    class Lowered(str):
        def replace(self, old, new, *args):
            calls.append(("replace", old, new, *args))
            return Lowered(str.replace(self, old, new, *args))

    # The same text as an exact str first: its result must not be reused.
    raises(ValueError, unknown("ZED"), colors.fg_code, "ZED")
    assert colors.fg_code("BLUE") == "\x1b[34m"
    assert colors.fg_code(Name("ZED")) == "\x1b[31m"
    assert calls == [("startswith", "#"), ("lower",), ("replace", "-", "_"),
                     ("replace", " ", "_")]

    class Blue(str):
        def lower(self):
            return "red"

    assert colors.fg_code(Blue("BLUE")) == "\x1b[31m"
    assert colors.bg_code(Blue("blue")) == "\x1b[41m"
    assert colors.fg_code("blue") == "\x1b[34m"


def test_str_subclass_startswith_decides(colors):
    class Hexish(str):
        def startswith(self, prefix, *args):
            return [1]

    class Plain(str):
        def startswith(self, prefix, *args):
            return ""

    assert colors.fg_code("red") == "\x1b[31m"
    raises(TypeError, "Argument 'color' has incorrect type (expected str, got Hexish)",
           colors.fg_code, Hexish("red"))
    raises(ValueError, unknown(Plain("#fff")), colors.fg_code, Plain("#fff"))


def test_str_subclass_method_errors_propagate(colors):
    error = Boom("method")

    class Angry(str):
        def startswith(self, *args):
            raise error

    class AngryLower(str):
        def lower(self):
            raise error

    class Untruthful(str):
        def startswith(self, *args):
            class No:
                def __bool__(self):
                    raise error
            return No()

    for cls in (Angry, AngryLower, Untruthful):
        with pytest.raises(Boom) as info:
            colors.fg_code(cls("red"))
        assert info.value is error


def test_names_normalised_by_methods_of_results(colors):
    class Key(str):
        def lower(self):
            return 42

    raises(*interpreter_error(getattr, 42, "replace"), colors.fg_code, Key("red"))

    class Name(str):
        pass

    name = Name("BLUE")
    name.lower = lambda: "red"  # found on the instance, as a method call would
    assert colors.fg_code(name) == "\x1b[31m"

    class Listy:
        def replace(self, old, new):
            return [] if old == " " else self

    class Unhashable(str):
        def lower(self):
            return Listy()

    with pytest.raises(TypeError) as expected:
        {}.get([], [])
    raises(TypeError, str(expected.value), colors.fg_code, Unhashable("red"))
