"""tintara.styles: the style table, style_on and style_off."""

import builtins
import collections.abc
import enum
import subprocess
import sys
import traceback
from decimal import Decimal

import pytest

from hostile import Boom

import tintara.styles as ext

TABLE = [
    ("bold", 1, 22),
    ("dim", 2, 22),
    ("italic", 3, 23),
    ("underline", 4, 24),
    ("blink", 5, 25),
    ("blink_fast", 6, 25),
    ("reverse", 7, 27),
    ("hidden", 8, 28),
    ("strikethrough", 9, 29),
    ("strike", 9, 29),
    ("conceal", 8, 28),
    ("overline", 53, 55),
]
AVAILABLE = (
    "blink, blink_fast, bold, conceal, dim, hidden, italic, overline, reverse, strike, strikethrough, underline"
)
FUNCS = ["style_on", "style_off"]


def unknown(name, listing=AVAILABLE):
    return f"未知样式: {name!r}。可用: {listing}"


def raised(action):
    """The exception action() raises: the oracle for errors the interpreter makes itself."""
    try:
        action()
    except Exception as exc:
        return exc
    raise AssertionError("expected an exception")


def check_raises(expected, call, *args, **kwargs):
    with pytest.raises(type(expected)) as info:
        call(*args, **kwargs)
    assert type(info.value) is type(expected)
    assert info.value.args == expected.args
    return info.value


class RaisingIterable:
    def __iter__(self):
        raise Boom("iter")


def fails_after_one():
    yield 1
    raise Boom("next")


class NotFormatted:
    """A table item that must never be turned into text."""

    def __format__(self, how):
        raise AssertionError("the discarded item was formatted")

    __str__ = __repr__ = __format__


class Fmt:
    def __format__(self, how):
        return f"<fmt{how}>"


class LoudInt(int):
    def __format__(self, how):
        return "loud"


class LoudStr(str):
    def __format__(self, how):
        return "LOUD"


class Level(enum.IntEnum):
    FOUR = 4


class RaisingFormat:
    def __format__(self, how):
        raise Boom("format")


class IntFormat:
    def __format__(self, how):
        return 3


class Table(collections.abc.Mapping):
    """A read-only mapping that is not a dict."""

    def __init__(self, data):
        self.data = data

    def __getitem__(self, key):
        return self.data[key]

    def __iter__(self):
        return iter(self.data)

    def __len__(self):
        return len(self.data)


class LyingTable(Table):
    """Claims every name, holds none."""

    def __contains__(self, key):
        return True


# -- the table as built ------------------------------------------------------


def test_module_data(styles):
    assert list(styles.STYLES.items()) == [(name, (on, off)) for name, on, off in TABLE]
    assert type(styles.STYLES) is dict
    assert all(type(v) is tuple and all(type(c) is int for c in v) for v in styles.STYLES.values())
    assert styles.ESC == "\x1b[" and type(styles.ESC) is str
    assert styles.RESET_ALL == "\x1b[0m"
    assert styles.__doc__ == (
        "ANSI 文本样式定义。\n\n支持: 粗体、暗色、斜体、下划线、闪烁、反显、隐藏、删除线等。\n"
    )
    assert styles.style_on.__doc__ == "获取样式开启转义序列。"
    assert styles.style_off.__doc__ == "获取样式关闭转义序列。"


@pytest.mark.parametrize(("name", "on", "off"), TABLE)
def test_sequences(styles, name, on, off):
    assert styles.style_on(name) == f"\x1b[{on}m"
    assert styles.style_off(name) == f"\x1b[{off}m"
    assert type(styles.style_on(name)) is str


@pytest.mark.parametrize(("alias", "target"), [("strike", "strikethrough"), ("conceal", "hidden")])
def test_aliases_equal_their_targets(styles, alias, target):
    assert styles.style_on(alias) == styles.style_on(target)
    assert styles.style_off(alias) == styles.style_off(target)


# -- unknown names -----------------------------------------------------------


@pytest.mark.parametrize("func", FUNCS)
@pytest.mark.parametrize(
    "name", ["BOLD", "Bold", " bold", "bold ", "\tbold", "bold\n", "", "strike-through", "粗体", "bold'"]
)
def test_names_are_not_folded(styles, func, name):
    check_raises(ValueError(unknown(name)), getattr(styles, func), name)


@pytest.mark.parametrize("func", FUNCS)
def test_caller_changes_the_table(styles, monkeypatch, func):
    call = getattr(styles, func)
    monkeypatch.setitem(styles.STYLES, "frame", (51, 54))
    monkeypatch.setitem(styles.STYLES, "bold", (21, 22))
    assert call("frame") == ("\x1b[51m" if func == "style_on" else "\x1b[54m")
    assert styles.style_on("bold") == "\x1b[21m"
    listing = AVAILABLE.replace("dim, ", "dim, frame, ")
    check_raises(ValueError(unknown("nope", listing)), call, "nope")
    # A removed entry (on a copy: restoring a deleted key would reorder the real table).
    monkeypatch.setattr(styles, "STYLES", {k: v for k, v in styles.STYLES.items() if k != "italic"})
    check_raises(ValueError(unknown("italic", listing.replace("italic, ", ""))), call, "italic")


@pytest.mark.parametrize(
    "table",
    [{"bold": (1, 22), 5: (1, 2)}, {"bold": (1, 22), b"x": (1, 2)}, {1: (1, 2), 2: (3, 4)}],
    ids=["unorderable", "bytes", "not-str"],
)
def test_unknown_name_with_keys_that_cannot_be_listed(styles, monkeypatch, table):
    # The listing sorts and joins the keys as Python would, and fails as it would.
    monkeypatch.setattr(styles, "STYLES", table)
    expected = raised(lambda: ", ".join(sorted(set(table))))
    check_raises(expected, styles.style_on, "nope")
    if "bold" in table:
        assert styles.style_off("bold") == "\x1b[22m"


# -- values a caller put into the table --------------------------------------

HOSTILE = [
    pytest.param(lambda: [7, 27], ("\x1b[7m", "\x1b[27m"), id="list"),
    pytest.param(lambda: (x for x in (4, 24)), ("\x1b[4m", "\x1b[24m"), id="generator"),
    pytest.param(lambda: "ab", ("\x1b[am", "\x1b[bm"), id="str"),
    pytest.param(lambda: {1: None, 2: None}, ("\x1b[1m", "\x1b[2m"), id="dict"),
    pytest.param(lambda: (1, 2, 3), ValueError("too many values to unpack (expected 2)"), id="3-tuple"),
    pytest.param(lambda: [1, 2, 3], ValueError("too many values to unpack (expected 2)"), id="3-list"),
    pytest.param(lambda: iter(range(3)), ValueError("too many values to unpack (expected 2)"), id="3-iterator"),
    pytest.param(lambda: (1,), ValueError("need more than 1 value to unpack"), id="1-tuple"),
    pytest.param(lambda: iter([1]), ValueError("need more than 1 value to unpack"), id="1-iterator"),
    pytest.param(lambda: (), ValueError("need more than 0 values to unpack"), id="empty-tuple"),
    pytest.param(lambda: [], ValueError("need more than 0 values to unpack"), id="empty-list"),
    pytest.param(RaisingIterable, Boom("iter"), id="iter-raises"),
    pytest.param(fails_after_one, Boom("next"), id="next-raises"),
    pytest.param(lambda: 5, raised(lambda: iter(5)), id="not-iterable"),
    pytest.param(lambda: None, raised(lambda: iter(None)), id="None"),
]


@pytest.mark.parametrize("which", [0, 1], ids=FUNCS)
@pytest.mark.parametrize(("make", "expected"), HOSTILE)
def test_hostile_table_values(styles, monkeypatch, make, expected, which):
    monkeypatch.setitem(styles.STYLES, "odd", make())
    call = getattr(styles, FUNCS[which])
    if isinstance(expected, Exception):
        check_raises(expected, call, "odd")
    else:
        assert call("odd") == expected[which]


@pytest.mark.parametrize(
    "item",
    ["1;3", "", 1.5, True, -7, 10**30, Decimal("2.50"), Level.FOUR, LoudInt(4), Fmt()],
    ids=repr,
)
def test_items_are_formatted_like_fstring_fields(styles, monkeypatch, item):
    monkeypatch.setitem(styles.STYLES, "odd", (item, NotFormatted()))
    assert styles.style_on("odd") == f"\x1b[{item}m"
    monkeypatch.setitem(styles.STYLES, "odd", (NotFormatted(), item))
    assert styles.style_off("odd") == f"\x1b[{item}m"


@pytest.mark.parametrize("item", [RaisingFormat(), IntFormat(), 10**5000], ids=["raises", "non-str", "huge-int"])
def test_item_formatting_errors_propagate(styles, monkeypatch, item):
    monkeypatch.setitem(styles.STYLES, "odd", (item, item))
    expected = raised(lambda: f"{item}")
    check_raises(expected, styles.style_on, "odd")
    check_raises(expected, styles.style_off, "odd")


def test_styles_replaced_by_a_mapping(styles, monkeypatch):
    monkeypatch.setattr(styles, "STYLES", Table({"glow": (51, 54), "bold": [1, 22]}))
    assert styles.style_on("glow") == "\x1b[51m"
    assert styles.style_off("bold") == "\x1b[22m"
    check_raises(ValueError(unknown("dim", "bold, glow")), styles.style_on, "dim")
    monkeypatch.setattr(styles, "STYLES", LyingTable({}))
    check_raises(KeyError("dim"), styles.style_off, "dim")


@pytest.mark.parametrize("known", [True, False])
def test_styles_is_read_again_after_the_membership_test(styles, monkeypatch, known):
    # The table that answers `in` may rebind STYLES; the entry, or the listing, comes from the new one.
    class Rebinding(Table):
        def __contains__(self, key):
            styles.STYLES = {"glow": (41, 42)}
            return known

    monkeypatch.setattr(styles, "STYLES", Rebinding({"bold": (1, 22)}))
    if known:
        assert styles.style_off("glow") == "\x1b[42m"
    else:
        check_raises(ValueError(unknown("bold", "glow")), styles.style_on, "bold")


@pytest.mark.parametrize("table", [["bold"], None, 3], ids=["list", "None", "int"])
def test_styles_replaced_by_a_non_mapping(styles, monkeypatch, table):
    monkeypatch.setattr(styles, "STYLES", table)
    expected = raised(lambda: table["bold"] if "bold" in table else None)
    check_raises(expected, styles.style_on, "bold")


@pytest.mark.parametrize("esc", ["<", "", "\x1b]", 7, 1.5, None, Fmt(), LoudStr("\x1b[")], ids=repr)
def test_esc_rebound(styles, monkeypatch, esc):
    monkeypatch.setattr(styles, "ESC", esc)
    assert styles.style_on("bold") == f"{esc}1m"
    assert styles.style_off("overline") == f"{esc}55m"
    assert styles.RESET_ALL == "\x1b[0m"


def test_esc_formatting_error_propagates(styles, monkeypatch):
    monkeypatch.setattr(styles, "ESC", RaisingFormat())
    check_raises(Boom("format"), styles.style_on, "bold")


@pytest.mark.parametrize("func", FUNCS)
@pytest.mark.parametrize("attr", ["STYLES", "ESC"])
def test_deleted_names(styles, monkeypatch, attr, func):
    call = getattr(styles, func)
    monkeypatch.delattr(styles, attr)
    check_raises(NameError(f"name '{attr}' is not defined"), call, "bold")
    if attr == "ESC":
        # ESC is read only once the name is known to be valid.
        check_raises(ValueError(unknown("nope")), call, "nope")
    # Like any module global, a missing name is then looked up among the built-ins.
    monkeypatch.setattr(builtins, attr, {"bold": (1, 22)} if attr == "STYLES" else ">", raising=False)
    assert call("bold") == ("\x1b[" if attr == "STYLES" else ">") + ("1m" if func == "style_on" else "22m")


# -- behaviour of the extension only -----------------------------------------


def test_function_objects():
    for func in (ext.style_on, ext.style_off):
        assert func.__module__ == "tintara.styles"
        assert func.__name__ in FUNCS
        assert func.__qualname__ == func.__name__
        assert func.__annotations__ == {"name": "str", "return": "str"}
        assert func.__defaults__ is None


def test_module_attribute_order():
    # In a fresh interpreter: restoring a deleted attribute reorders the dictionary.
    code = "import tintara.styles as m; print(*[k for k in vars(m) if k[:2] != '__' or k == '__test__'])"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, cwd="/")
    assert out.stdout.split() == ["ESC", "RESET_ALL", "STYLES", "style_on", "style_off", "__test__"]


class Name(str):
    pass


BINDING = [
    (("bold",), {}, None),
    ((), {"name": "bold"}, None),
    ((None,), {}, "Argument 'name' has incorrect type (expected str, got NoneType)"),
    ((b"bold",), {}, "Argument 'name' has incorrect type (expected str, got bytes)"),
    ((Name("bold"),), {}, "Argument 'name' has incorrect type (expected str, got Name)"),
    ((), {"name": Name("bold")}, "Argument 'name' has incorrect type (expected str, got Name)"),
    ((), {}, "{}() takes exactly 1 positional argument (0 given)"),
    (("bold", "dim"), {}, "{}() takes exactly 1 positional argument (2 given)"),
    ((), {"nam": "bold"}, "{}() got an unexpected keyword argument 'nam'"),
    (("bold",), {"name": "bold"}, "{}() got multiple values for keyword argument 'name'"),
]


@pytest.mark.parametrize("func", FUNCS)
@pytest.mark.parametrize(("args", "kwargs", "message"), BINDING)
def test_binding(func, args, kwargs, message):
    call = getattr(ext, func)
    if message is None:
        assert call(*args, **kwargs) == ("\x1b[1m" if func == "style_on" else "\x1b[22m")
        return
    exc = check_raises(TypeError(message.format(func)), call, *args, **kwargs)
    subclass = any(type(a) is Name for a in (*args, *kwargs.values()))
    notes = getattr(exc, "__notes__", [])
    assert len(notes) == subclass
    if subclass:
        assert "subclass" in notes[0]


FAILURES = [
    pytest.param({}, "nope", ValueError, id="unknown"),
    pytest.param({}, None, TypeError, id="binding"),
    pytest.param({"odd": (1, 2, 3)}, "odd", ValueError, id="unpack"),
    pytest.param({"odd": RaisingIterable()}, "odd", Boom, id="iteration"),
    pytest.param({"odd": 5}, "odd", TypeError, id="not-iterable"),
    pytest.param({"odd": (RaisingFormat(), RaisingFormat())}, "odd", Boom, id="format"),
]


@pytest.mark.parametrize("func", FUNCS)
@pytest.mark.parametrize(("extra", "name", "error"), FAILURES)
def test_traceback_entry(monkeypatch, func, extra, name, error):
    for key, value in extra.items():
        monkeypatch.setitem(ext.STYLES, key, value)
    with pytest.raises(error) as info:
        getattr(ext, func)(name)
    entries = [(e.name, e.filename) for e in traceback.extract_tb(info.value.__traceback__)]
    assert (f"tintara.styles.{func}", "tintara/styles.py") in entries


def test_deleted_name_traceback_entry(monkeypatch):
    monkeypatch.delattr(ext, "ESC")
    with pytest.raises(NameError) as info:
        ext.style_off("bold")
    assert traceback.extract_tb(info.value.__traceback__)[-1].name == "tintara.styles.style_off"

