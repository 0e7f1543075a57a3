"""Shortcuts are observably the algorithm: whatever order things happen in,
a call gives what the module body's Python algorithm would give at that
moment, raises what it would raise, and runs a caller's code (a colliding
key's __eq__) as often as it would.  The pure-Python twin is the algorithm.

The orderings here are the hostile ones: another extension's dict watcher
that calls tintara while a change is announced but has not landed, an
import that fails after its body ran and the retry, exceptions raised by
lookups, and tables rebound between two uses.  Scenarios that change process-wide state for good, or need
a fresh interpreter, run in a child (hostile.child_json).
"""

import random
import textwrap

import pytest

from hostile import Collider, child_json, lookups, outcome, plant

ESC = "\x1b["

# The start of a child that compares tintara with the twin: both imported,
# the environment of a 256-colour terminal, a stream that is a terminal.
PRELUDE = """
import functools, json, os, sys
from fakes import Stream
from hostile import Collider, dict_watcher, lookups, outcome, plant
import tintara.colors, tintara.detect, tintara.paint, tintara.styles
import twin.colors, twin.detect, twin.paint, twin.styles

for name in ("NO_COLOR", "FORCE_COLOR", "COLORTERM", "TERM_PROGRAM"):
    os.environ.pop(name, None)
os.environ["TERM"] = "xterm-256color"
stream = Stream(True)
sys.platform = "linux"
outcome = functools.partial(outcome, catch=BaseException)  # KeyboardInterrupt too
"""


def compare(tmp_path, *parts):
    """Runs PRELUDE and then parts, each dedented, in a child; returns the
    JSON it prints last."""
    return child_json(PRELUDE + "".join(textwrap.dedent(p) for p in parts), tmp_path)


# ---------------------------------------------------------------------------
# Another dict watcher calls tintara inside the change's window.  CPython
# calls watchers in id order before the change lands: the later watcher sees
# the old contents, while tintara has already been told of the change.

WINDOW = {
    # case: (module, the dict to watch, change, call, expected afterwards)
    "NAMED_COLORS entry": ("colors", "m.NAMED_COLORS", "m.NAMED_COLORS['red'] = 99",
                           "m.fg_code('red')", ESC + "99m"),
    "NAMED_COLORS entry, background": ("colors", "m.NAMED_COLORS", "m.NAMED_COLORS['red'] = 91",
                                       "m.bg_code('red')", ESC + "101m"),
    "COLOR_ALIASES entry": ("colors", "m.COLOR_ALIASES", "m.COLOR_ALIASES['grey'] = 'red'",
                            "m.bg_code('Grey')", ESC + "41m"),
    "colors ESC": ("colors", "vars(m)", "m.ESC = '>>'", "m.fg_code('red')", ">>31m"),
    "colors ESC, palette index": ("colors", "vars(m)", "m.ESC = '>>'", "m.fg_code(196)",
                                  ">>38;5;196m"),
    "STYLES entry": ("styles", "m.STYLES", "m.STYLES['bold'] = (5, 25)", "m.style_on('bold')",
                     ESC + "5m"),
    "STYLES entry deleted": ("styles", "m.STYLES", "del m.STYLES['strike']",
                             "m.style_off('strike')", None),
    "styles ESC": ("styles", "vars(m)", "m.ESC = '>>'", "m.style_off('bold')", ">>22m"),
    # tintara.paint keeps parsed style strings: none is kept from inside a window.
    "paint, NAMED_COLORS entry": ("paint", "m._colors.NAMED_COLORS", "m._colors.NAMED_COLORS['red'] = 99",
                                  "m.paint('x', 'red', level=3)", ESC + "99mx" + ESC + "39m"),
    "paint, COLOR_ALIASES entry": ("paint", "m._colors.COLOR_ALIASES",
                                   "m._colors.COLOR_ALIASES['grey'] = 'red'",
                                   "m.paint('x', 'on grey', level=1)", ESC + "41mx" + ESC + "49m"),
    "paint, STYLES entry": ("paint", "m._styles.STYLES", "m._styles.STYLES['bold'] = (5, 25)",
                            "m.paint('x', 'bold', level=3)", ESC + "5mx" + ESC + "25m"),
    "paint, NAMED_COLORS rebound": ("paint", "vars(m._colors)", "m._colors.NAMED_COLORS = {'red': 35}",
                                    "m.paint('x', 'red', level=3)", ESC + "35mx" + ESC + "39m"),
}


@pytest.mark.parametrize("case", WINDOW)
def test_change_seen_after_a_watcher_called_inside_its_window(case, tmp_path):
    module, watched, change, call, expected = WINDOW[case]
    result = compare(tmp_path, f"""
        ext, tw = tintara.{module}, twin.{module}
        m = ext
        {call}  # tintara relies on the watched dict from here on
        inside = []

        def window(event, d, key, value):
            # The change has not landed: tintara gives what the twin, not
            # changed yet, gives.
            inside.append([outcome(lambda: ext.{call[2:]}), outcome(lambda: tw.{call[2:]})])

        with dict_watcher(window, {watched}):
            {change}
        assert inside, "the watcher was not called"
        m = tw
        {change}
        print(json.dumps({{"inside": inside, "ext": outcome(lambda: ext.{call[2:]}),
                          "twin": outcome(lambda: tw.{call[2:]})}}))
    """)
    assert all(ext == tw for ext, tw in result["inside"])
    assert result["ext"] == result["twin"]
    if expected is not None:
        assert result["twin"] == ["ok", expected]


# ---------------------------------------------------------------------------
# An import that fails once its body has run, then a successful retry: what
# was worked out for the failed namespace is not taken for the new one.


@pytest.mark.parametrize("module, call, expected", [
    ("colors", "fg_code('red')", ">>31m"),
    ("colors", "bg_code(5)", ">>48;5;5m"),
    ("styles", "style_on('bold')", ">>1m"),
])
def test_retry_after_failed_import_has_its_own_shortcuts(module, call, expected, tmp_path):
    result = child_json(f"""
        import builtins, json, sys
        NAME = "tintara.{module}"
        old_namespaces = []

        class Key:
            # Stored last, after the whole body: the import fails there.
            def __hash__(self):
                return hash("__test__")

            def __eq__(self, other):
                if other is self:
                    return True
                namespace = vars(sys.modules[NAME])
                old_namespaces.append(namespace)  # kept alive
                namespace[{call.partition("(")[0]!r}]{call[call.index("("):]}
                raise RuntimeError("refused")

        real_import = builtins.__import__

        def planting(name, *args, **kwargs):
            # The frame imports builtins first, with the namespace in place.
            if name == "builtins" and NAME in sys.modules:
                builtins.__import__ = real_import
                vars(sys.modules[NAME])[Key()] = None
            return real_import(name, *args, **kwargs)

        builtins.__import__ = planting
        try:
            import tintara.{module}
        except RuntimeError:
            pass
        builtins.__import__ = real_import
        assert old_namespaces and NAME not in sys.modules
        import tintara.{module} as m
        m.ESC = ">>"
        print(json.dumps(m.{call}))
    """, tmp_path)
    assert result == expected


# ---------------------------------------------------------------------------
# A colliding key in the module namespace: every lookup of its name runs its
# __eq__.  A shortcut's own lookups must not swallow what that raises, nor
# look the name up more often than the algorithm does.

COLLISIONS = [
    ("colors", "fg_code('red')", "ESC"),
    ("colors", "fg_code('red')", "NAMED_COLORS"),
    ("colors", "fg_code('Grey')", "COLOR_ALIASES"),
    ("colors", "bg_code('red')", "_color_code"),
    ("colors", "fg_code(196)", "ESC"),
    ("colors", "fg_code('#ff8800')", "parse_hex"),
    ("colors", "fg_code('#ff8800')", "_HEX_RE"),
    ("colors", "bg_code('#f80')", "_SHORT_HEX_RE"),
    ("colors", "fg_code((1, 2, 3))", "_validate_rgb"),
    ("colors", "fg_code((1, 2, 3))", "ESC"),
    ("colors", "parse_hex('#f80')", "_SHORT_HEX_RE"),
    ("styles", "style_on('bold')", "STYLES"),
    ("styles", "style_off('bold')", "ESC"),
    ("detect", "detect_color_level(stream)", "os"),
    ("detect", "detect_color_level(stream)", "sys"),
    ("detect", "detect_color_level(stream)", "ColorLevel"),
    ("detect", "supports_color(stream)", "detect_color_level"),
]


@pytest.mark.parametrize("module, call, name", COLLISIONS)
def test_colliding_key_in_namespace(module, call, name, tmp_path):
    result = compare(tmp_path, f"""
        out = {{}}
        for label, m in (("ext", tintara.{module}), ("twin", twin.{module})):
            m.{call}  # the shortcuts are worked out
            collider = plant(vars(m), Collider({name!r}))

            def interrupt(other):
                collider.hook = None  # once, like a real Ctrl-C
                raise KeyboardInterrupt

            collider.hook = interrupt
            first = outcome(lambda: m.{call})
            counts = []
            for _ in range(3):
                collider.calls = 0
                m.{call}
                counts.append(lookups(vars(m), collider))
            out[label] = {{"first call": first, "lookups": counts}}
        print(json.dumps(out))
    """)
    assert result["twin"]["first call"] == ["KeyboardInterrupt", ""]
    assert result["ext"] == result["twin"]


# ---------------------------------------------------------------------------
# Tables are read at each use: a hook that runs between the membership test
# and the subscript (a key's __eq__) and rebinds the table is seen.


def rebinding(module, name, value):
    return lambda other: setattr(module, name, value)


@pytest.mark.parametrize("table, key, new, call, expected", [
    ("NAMED_COLORS", "red", {"red": 32}, ("fg_code", "red"), ESC + "32m"),
    ("NAMED_COLORS", "red", {"red": 32}, ("bg_code", "Red"), ESC + "42m"),
    ("NAMED_COLORS", "red", {}, ("fg_code", "red"), KeyError("red")),
    ("COLOR_ALIASES", "grey", {"grey": "red"}, ("fg_code", "grey"), ESC + "90m"),
    ("STYLES", "bold", {"bold": (5, 25)}, ("style_on", "bold"), ESC + "5m"),
    ("STYLES", "bold", {}, ("style_off", "bold"), KeyError("bold")),
], ids=lambda v: v if isinstance(v, str) else None)
def test_table_read_at_each_use(colors, styles, monkeypatch, table, key, new, call, expected):
    module = styles if table == "STYLES" else colors
    hooked = dict(getattr(module, table))
    monkeypatch.setattr(module, table, hooked)
    getattr(module, call[0])(call[1])  # a plain call first
    collider = plant(hooked, Collider(key, rebinding(module, table, new)))
    if isinstance(expected, Exception):
        with pytest.raises(type(expected)) as info:
            getattr(module, call[0])(call[1])
        assert info.value.args == expected.args
    else:
        assert getattr(module, call[0])(call[1]) == expected
    assert lookups(hooked, collider) == 1


class Name(str):
    pass


# Entries the tables' mirrors must leave to the generic path, set in place.
@pytest.mark.parametrize("table, key, value, call", [
    ("COLOR_ALIASES", "grey", 5, ("fg_code", "Grey")),
    ("COLOR_ALIASES", "grey", Name("red"), ("fg_code", "grey")),
    ("COLOR_ALIASES", "grey", "r\u00e9d", ("bg_code", "grey")),
    ("COLOR_ALIASES", "grey", "x" * 100, ("fg_code", "grey")),
    ("NAMED_COLORS", "red", 300, ("bg_code", "red")),
    ("NAMED_COLORS", "red", True, ("fg_code", "RED")),
    ("NAMED_COLORS", "red", 31.5, ("fg_code", "red")),
    ("NAMED_COLORS", "x" * 70, 31, ("fg_code", "X" * 70)),
    ("STYLES", "bold", (1,), ("style_on", "bold")),
    ("STYLES", "bold", (1, 2, 3), ("style_off", "bold")),
    ("STYLES", "bold", (1, 999), ("style_off", "bold")),
    ("STYLES", "bold", [1, 22], ("style_on", "bold")),
], ids=repr)
def test_entries_not_plain_agree_with_twin(monkeypatch, table, key, value, call):
    import tintara.colors as ext_colors, tintara.styles as ext_styles
    import twin.colors as twin_colors, twin.styles as twin_styles
    outcomes = []
    for colors, styles in ((ext_colors, ext_styles), (twin_colors, twin_styles)):
        module = styles if table == "STYLES" else colors
        monkeypatch.setitem(getattr(module, table), key, value)
        try:
            outcomes.append(getattr(module, call[0])(call[1]))
        except Exception as exc:
            outcomes.append((type(exc), str(exc)))
    assert outcomes[0] == outcomes[1]


# ---------------------------------------------------------------------------
# Dict-watcher slots: CPython leaves six per interpreter to all extensions.

# Calls on every path, and changes between them, applied to tintara and the
# twin alike (m: the module, by its short name).
USES = """
import importlib, json, os
from fakes import Stream
from hostile import all_dict_watchers_taken, free_dict_watchers, outcome

NAMES = ("colors", "detect", "styles", "paint")
for name in ("NO_COLOR", "FORCE_COLOR", "COLORTERM", "TERM_PROGRAM"):
    os.environ.pop(name, None)
os.environ["TERM"] = "xterm-256color"
stream = Stream(True)
CALLS = [
    ("colors", lambda m: m.fg_code("red")), ("colors", lambda m: m.bg_code("Bright-Red")),
    ("colors", lambda m: m.fg_code("grey")), ("colors", lambda m: m.fg_code("orange")),
    ("colors", lambda m: m.fg_code("#ff8800")), ("colors", lambda m: m.bg_code("#F80")),
    ("colors", lambda m: m.fg_code(196)), ("colors", lambda m: m.bg_code((1, 2, 3))),
    ("colors", lambda m: m.parse_hex("#abc")), ("colors", lambda m: m.rgb_to_ansi256(255, 128, 0)),
    ("styles", lambda m: m.style_on("bold")), ("styles", lambda m: m.style_off("strike")),
    ("detect", lambda m: m.detect_color_level(stream)),
    ("detect", lambda m: m.supports_color(stream)),
    ("paint", lambda m: m.paint("x", "bold red", level=3)), ("paint", lambda m: m.paint("x", "grey on orange")),
    ("paint", lambda m: m.paint("x", "not bold #ff8800", stream=stream)),
    ("paint", lambda m: m.Style("red", bold=True).codes(1)), ("paint", lambda m: m.Style(fg=196).bind(stream).prefix),
]
CHANGES = [
    ("colors", lambda m: m.NAMED_COLORS.__setitem__("red", 99)),
    ("colors", lambda m: m.COLOR_ALIASES.__setitem__("grey", "red")),
    ("colors", lambda m: setattr(m, "ESC", ">>")),
    ("colors", lambda m: setattr(m, "NAMED_COLORS", {"orange": 33, "bright_red": 91})),
    ("styles", lambda m: m.STYLES.__setitem__("bold", (5, 25))),
    ("styles", lambda m: setattr(m, "ESC", "|")),
    ("detect", lambda m: os.environ.__setitem__("FORCE_COLOR", "3")),
]


def mismatches(ext, tw):
    found = []

    def compare():
        for module, call in CALLS:
            seen = outcome(lambda: call(ext[module])), outcome(lambda: call(tw[module]))
            if seen[0] != seen[1]:
                found.append(seen)

    compare()
    for module, change in CHANGES:
        change(ext[module])
        if module != "detect":  # os is one for both
            change(tw[module])
        compare()
    return found
"""


def test_correct_when_no_dict_watcher_is_left(tmp_path):
    result = child_json(USES + """
with all_dict_watchers_taken() as taken:
    ext = {n: importlib.import_module(f"tintara.{n}") for n in NAMES}
    tw = {n: importlib.import_module(f"twin.{n}") for n in NAMES}
    print(json.dumps({"taken": taken, "mismatches": mismatches(ext, tw)}))
""", tmp_path)
    assert result["taken"] > 0
    assert result["mismatches"] == []


def test_package_takes_at_most_one_dict_watcher(tmp_path):
    result = child_json(USES + """
before = free_dict_watchers()
ext = {n: importlib.import_module(f"tintara.{n}") for n in NAMES}
tw = {n: importlib.import_module(f"twin.{n}") for n in NAMES}
assert mismatches(ext, tw) == []
print(json.dumps({"before": before, "after": free_dict_watchers()}))
""", tmp_path)
    assert result["before"] > 1
    assert result["before"] - result["after"] <= 1


# ---------------------------------------------------------------------------
# Differential runs: random changes, each followed by calls, compared with
# the twin changed the same way.


def spelled(rng, name):
    """name in a random case and spelling, as a new str object."""
    letters = [c.upper() if rng.random() < 0.5 else c for c in name]
    return "".join(rng.choice("_- ") if c == "_" else c for c in letters)


class Tone(int):
    pass


def test_large_table_changes_agree_with_twin(monkeypatch):
    # One entry at a time changes in a table of 100,000 names (correctness
    # only: what a change costs is a benchmark row).
    ext = pytest.importorskip("tintara.colors")
    tw = pytest.importorskip("twin.colors")
    rng = random.Random(100_000)
    names = [f"tone_{i}" for i in range(100_000)]
    for m in (ext, tw):
        table = dict(m.NAMED_COLORS)
        table.update((name, 30 + i % 70) for i, name in enumerate(names))
        monkeypatch.setattr(m, "NAMED_COLORS", table)
        monkeypatch.setitem(m.COLOR_ALIASES, "tone", "tone_0")
        m.fg_code("tone_1")
    present = set(names)
    for step in range(400):
        roll = rng.random()
        if roll < 0.75:
            name = rng.choice(names)
            value = rng.choice([rng.randrange(0, 110), Tone(91), 12.5, "5;1"])
            change = lambda t: t.__setitem__(name, value)  # noqa: E731
            present.add(name)
        elif roll < 0.85:
            name = rng.choice(names)
            change = lambda t: t.pop(name, None)  # noqa: E731
            present.discard(name)
        elif roll < 0.95:
            name = f"new_{step}"
            change = lambda t: t.__setitem__(name, 40 + step % 60)  # noqa: E731
            present.add(name)
        else:
            name = "tone"
            target = rng.choice(names)
            change = lambda t: None  # noqa: E731
            for m in (ext, tw):
                m.COLOR_ALIASES["tone"] = target
        for m in (ext, tw):
            change(m.NAMED_COLORS)
        # Asking for a missing name lists all 100,000: now and then only.
        calls = [name, rng.choice(names)] if name in present or rng.random() < 0.2 else []
        for asked in calls:
            text = spelled(rng, asked)
            for fn in ("fg_code", "bg_code"):
                assert outcome(lambda: getattr(ext, fn)(text)) == \
                    outcome(lambda: getattr(tw, fn)(text)), (step, fn, text)


def test_changes_agree_with_twin_while_a_watcher_calls_inside(tmp_path):
    # Random changes to the tables and namespaces, each announced to a
    # watcher registered after tintara's that calls tintara (with varied
    # arguments) before the change lands; after each, tintara agrees with
    # the twin.
    result = compare(tmp_path, """
        import random
        rng = random.Random(7)
        ext = {"colors": tintara.colors, "styles": tintara.styles}
        tw = {"colors": twin.colors, "styles": twin.styles}
        CALLS = [
            ("colors", "fg_code", ["red", "Bright-Red", "grey", "GREY", "orange", "#ff8800",
                                   "#F80", 5, 196, (1, 2, 3)]),
            ("colors", "bg_code", ["red", "bright black", "purple", "#abc", 0, (255, 0, 9)]),
            ("colors", "parse_hex", ["#abc", "#FF8800"]),
            ("styles", "style_on", ["bold", "strike", "frame"]),
            ("styles", "style_off", ["bold", "strike", "frame"]),
        ]
        CHANGES = [
            ("colors", "NAMED_COLORS", ["red", "orange", "bright_black", "magenta"],
             [31, 91, 35, 99, 7, None]),
            ("colors", "COLOR_ALIASES", ["grey", "purple", "orange"],
             ["bright_black", "red", "magenta", None]),
            ("styles", "STYLES", ["bold", "strike", "frame"], [(1, 22), (5, 25), [7, 27], None]),
            ("colors", None, ["ESC"], ["\\x1b[", ">>"]),
            ("colors", None, ["NAMED_COLORS", "COLOR_ALIASES"], ["own", "copy"]),
            ("styles", None, ["ESC"], ["\\x1b[", "|"]),
            ("styles", None, ["STYLES"], ["own", "copy"]),
        ]
        TABLES = [("colors", "NAMED_COLORS"), ("colors", "COLOR_ALIASES"), ("styles", "STYLES")]
        own = {(k, n): getattr(ext[k], n) for k, n in TABLES}
        own_twin = {(k, n): getattr(tw[k], n) for k, n in TABLES}

        def call_some(modules, n):
            for _ in range(n):
                module, fn, args = rng.choice(CALLS)
                outcome(lambda: getattr(modules[module], fn)(rng.choice(args)))

        def apply(modules, owned, module, table, key, value):
            m = modules[module]
            if table is not None:
                target = getattr(m, table)
                if value is None:
                    target.pop(key, None)
                else:
                    target[key] = value
            elif value == "own":
                setattr(m, key, owned[module, key])
            elif value == "copy":
                setattr(m, key, dict(getattr(m, key)))
            else:
                setattr(m, key, value)

        call_some(ext, 50)
        mismatches = []
        watched = [vars(ext["colors"]), vars(ext["styles"]), *own.values()]
        with dict_watcher(lambda *event: call_some(ext, 3), *watched):
            for step in range(300):
                module, table, keys, values = rng.choice(CHANGES)
                change = (module, table, rng.choice(keys), rng.choice(values))
                apply(ext, own, *change)
                apply(tw, own_twin, *change)
                for module, fn, args in CALLS:
                    for arg in args:
                        seen = [outcome(lambda: getattr(m[module], fn)(arg)) for m in (ext, tw)]
                        if seen[0] != seen[1]:
                            mismatches.append([step, change, fn, repr(arg), seen])
        print(json.dumps(mismatches[:5], default=repr))
    """)
    assert result == []


# ---------------------------------------------------------------------------
# While the guard holds, the shortcuts answer: a palette index's sequence is
# then made once and handed out again (the generic path makes a new str).

SHORTCUTS_ON = "tintara.colors.fg_code(196) is tintara.colors.fg_code(196)"


def test_shortcuts_agree_with_twin_while_the_guard_holds(tmp_path):
    result = compare(tmp_path, f"""
        import itertools
        on_before = {SHORTCUTS_ON}
        names = [*tintara.colors.NAMED_COLORS, *tintara.colors.COLOR_ALIASES, "orange", "re d",
                 "Bright-Red", "bright red", "BRIGHT_black", "gr\\u0435y", "\\u212aey", "red\\x00"]
        colours = [*names, *(spell for name in ("bright_white", "grey") for spell in (
            "".join(t) for t in itertools.product(*[(c, c.upper()) if c.isalpha() else ("_", "-", " ")
                                                     for c in name]))),
                   "#ff8800", "#F80", "#ff8800\\n", "#f80\\n", "#ff88", "#gg8800", "#", "",
                   0, 255, 256, -1, True, 2**70, (1, 2, 3), (0, 0, 256), (1, 2), [1, 2, 3], 1.5, None]
        styles = [*tintara.styles.STYLES, "Bold", "bold ", "", "nope"]
        mismatches = []
        for fn in ("fg_code", "bg_code", "parse_hex"):
            for c in colours:
                seen = [outcome(lambda: getattr(m, fn)(c)) for m in (tintara.colors, twin.colors)]
                if seen[0] != seen[1]:
                    mismatches.append([fn, repr(c), seen])
        for fn in ("style_on", "style_off"):
            for s in styles:
                seen = [outcome(lambda: getattr(m, fn)(s)) for m in (tintara.styles, twin.styles)]
                if seen[0] != seen[1]:
                    mismatches.append([fn, repr(s), seen])
        for s in ["bold red", "not bold #ff8800 on grey", "grey on Bright-Red", "color(9) on rgb(1,2,3)",
                  "bold bold", "red red", "on", "strike conceal", "nope"]:
            for level in (0, 1, 2, 3):
                for _ in range(2):  # parsed, then handed out again
                    seen = [outcome(lambda: m.paint("x", s, level=level))
                            for m in (tintara.paint, twin.paint)]
                    if seen[0] != seen[1]:
                        mismatches.append(["paint", s, level, seen])
        print(json.dumps({{"on": [on_before, {SHORTCUTS_ON}], "mismatches": mismatches}}))
    """)
    assert result["on"] == [True, True]
    assert result["mismatches"] == []


@pytest.mark.parametrize("change, stays_on", [
    ("m.NAMED_COLORS['red'] = 32; m.NAMED_COLORS['red'] = 31", False),  # put back: still off
    ("m.COLOR_ALIASES.pop('grey')", False),
    ("m.ESC = '\\x1b' + '['", False),  # an equal str, but another one
    ("m.anything = 1", False),  # nothing a shortcut reads, but the namespace changed
    ("m.NAMED_COLORS.update({})", True),  # changes nothing, reports nothing
])
def test_any_change_turns_the_shortcuts_off_for_good(change, stays_on, tmp_path):
    result = child_json(f"""
        import json, tintara.colors, tintara.colors as m
        before = {SHORTCUTS_ON}
        {change}
        print(json.dumps([before, {SHORTCUTS_ON}]))
    """, tmp_path)
    assert result == [True, stays_on]


# ---------------------------------------------------------------------------
# Faults of the shortcuts that are gone: each compares with the twin, which
# runs os's own code.

FIRST_FOUND = {
    "an overlay of _Environ.get": """
        real_get = os._Environ.get
        def get(self, key, default=None):
            return "dumb" if key == "TERM" else real_get(self, key, default)
        os._Environ.get = get
    """,
    "a logging Mapping.get": """
        import collections.abc
        real_get = collections.abc.Mapping.get
        def get(self, key, default=None):
            LOG.append(key)
            return real_get(self, key, default)
        collections.abc.Mapping.get = get
    """,
    "a shadowed os.KeyError": """
        class Missing(Exception):
            pass
        os.KeyError = Missing
    """,
    "the key encoder's code replaced": """
        def encoder(encoding):
            def encode(value):
                return ("TERM" if value == "NO_COLOR" else value).encode(encoding, "surrogateescape")
            return encode
        os.environ.encodekey.__code__ = encoder("utf-8").__code__
    """,
}


@pytest.mark.parametrize("patch", FIRST_FOUND)
def test_environ_patched_before_the_first_call(patch, tmp_path):
    result = compare(tmp_path, "LOG = []\n", FIRST_FOUND[patch], """
        out = {}
        for label, m in (("ext", tintara.detect), ("twin", twin.detect)):
            LOG.clear()
            out[label] = [outcome(lambda: m.detect_color_level(stream)), list(LOG)]
        print(json.dumps(out))
    """)
    assert result["ext"] == result["twin"]


@pytest.mark.parametrize("raises", [False, True])
def test_environ_reads_seen_by_sys_monitoring(raises, tmp_path):
    result = compare(tmp_path, f"""
        import collections.abc
        mon = sys.monitoring
        tool = next(t for t in range(6) if mon.get_tool(t) is None)
        mon.use_tool_id(tool, "tintara test")
        watched = {{collections.abc.Mapping.get.__code__, os._Environ.__getitem__.__code__}}
        started = []

        def on_start(code, offset):
            if code in watched:
                started.append(code.co_name)
                if {raises}:
                    raise RuntimeError("from the monitoring tool")

        mon.register_callback(tool, mon.events.PY_START, on_start)
        mon.set_events(tool, mon.events.PY_START)
        out = {{}}
        for label, m in (("ext", tintara.detect), ("twin", twin.detect)):
            started.clear()
            out[label] = [outcome(lambda: m.detect_color_level(stream)), list(started)]
        mon.set_events(tool, 0)
        print(json.dumps(out))
    """)
    assert result["twin"][1]  # the reads were seen
    assert result["ext"] == result["twin"]


def test_styles_entry_changed_in_place(tmp_path):
    # An entry that can change in place is no plain table entry: no parsed
    # style string outlives it.
    result = compare(tmp_path, """
        out = {}
        for label, m in (("ext", tintara.paint), ("twin", twin.paint)):
            m._styles.STYLES["bold"] = [1, 22]
            first = m.paint("x", "bold", level=3)
            m._styles.STYLES["bold"][0] = 5
            out[label] = [first, m.paint("x", "bold", level=3)]
        print(json.dumps(out))
    """)
    assert result["ext"] == result["twin"] == [ESC + "1mx" + ESC + "22m",
                                                       ESC + "5mx" + ESC + "22m"]


def test_table_churn_keeps_no_memory(tmp_path):
    # 400,000 distinct keys added and removed, one at a time, from a table
    # that stays at 16 entries.
    result = child_json("""
        import gc, json, tracemalloc
        import tintara.colors as m
        m.fg_code("red")
        tracemalloc.start()
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for i in range(400_000):
            key = f"theme_{i}"
            m.NAMED_COLORS[key] = 31
            del m.NAMED_COLORS[key]
        gc.collect()
        print(json.dumps(tracemalloc.get_traced_memory()[0] - before))
    """, tmp_path)
    assert result < 256 * 1024


@pytest.mark.parametrize("module, change, call, expected", [
    ("colors", "m.NAMED_COLORS['red'] = 99", "m.fg_code('red')", ESC + "99m"),
    ("colors", "m.COLOR_ALIASES['grey'] = 'red'", "m.bg_code('grey')", ESC + "41m"),
])
def test_table_changed_while_its_module_body_runs(module, change, call, expected, tmp_path):
    # re.compile runs after the tables are made: one that changes them then
    # leaves the shortcuts off, although its patterns are re's own.
    result = child_json(f"""
        import json, re, sys, types
        real = re.compile

        def compile(pattern, *args):
            m = sys.modules["tintara.{module}"]
            if hasattr(m, "NAMED_COLORS"):
                {change}
            return real(pattern, *args)

        sys.modules["re"] = types.ModuleType("re")
        sys.modules["re"].compile = compile
        import tintara.{module} as m
        sys.modules["re"] = re
        print(json.dumps({call}))
    """, tmp_path)
    assert result == expected
