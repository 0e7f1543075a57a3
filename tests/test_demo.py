"""The demo, ``python -m tintara``, run as a program and read through a terminal emulator.

Each test runs the demo twice: as installed, and with ``tintara.paint``
replaced by the pure-Python twin.
"""

import collections
import functools
import json
import os
import pty
import re
import subprocess
import sys

import pytest

pyte = pytest.importorskip("pyte", reason="the demo is read through pyte, a terminal emulator (dependency group 'test')")
from pyte import graphics  # noqa: E402
from pyte.graphics import FG_BG_256  # noqa: E402

from fakes import Stream  # noqa: E402
from hostile import PURE  # noqa: E402

from tintara.colors import rgb_to_ansi256  # noqa: E402
from tintara.detect import ColorLevel, detect_color_level  # noqa: E402

DETECTION_VARS = (
    "NO_COLOR", "FORCE_COLOR", "COLORTERM", "TERM", "TERM_PROGRAM", "VSCODE_PID",
    "VSCODE_IPC_HOOK", "PYCHARM_HOSTED", "WT_SESSION", "ConEmuANSI",
)
PALETTE = set(FG_BG_256)
# How the emulator shows the 16 colours differs between its releases (0.8.0
# names a bright colour like the dark one and adds bold, 0.8.2 names it
# "bright..."; 0.8.2 also tracks blink), so what it shows is read from the
# emulator itself: its tables, its default cell and its cell's fields.
BASE = ["black", "red", "green", "yellow", "blue", "magenta", "cyan", "white"]
NAMED = {*graphics.FG_ANSI.values(), *graphics.FG_AIXTERM.values(),
         *graphics.BG_ANSI.values(), *graphics.BG_AIXTERM.values()}
# Attributes the emulator tracks, by the style that sets them.
EMULATED = {
    style: attr
    for style, attr in {
        "bold": "bold",
        "italic": "italics",
        "underline": "underscore",
        "reverse": "reverse",
        "strikethrough": "strikethrough",
        "strike": "strikethrough",
        "blink": "blink",
    }.items()
    if attr in pyte.screens.Char._fields
}
PLAIN = pyte.Screen(1, 1).default_char._asdict()


def _attrs_after(sgr):
    screen = pyte.Screen(1, 1)
    pyte.Stream(screen).feed(sgr)
    return screen.cursor.attrs


BRIGHT_IS_BOLD = _attrs_after("\x1b[91m").bold


@pytest.fixture(scope="module")
def outside(tmp_path_factory):
    """A working directory without the source tree, so the installed package is the one run."""
    return tmp_path_factory.mktemp("demo")


@pytest.fixture(scope="module")
def tables(outside):
    """The tables as a fresh import has them: other tests may have reordered this process's."""
    code = (
        "import json, tintara.colors as c, tintara.styles as s;"
        "print(json.dumps([c.NAMED_COLORS, c.COLOR_ALIASES, s.STYLES]))"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, check=True, cwd=outside).stdout
    named, aliases, styles = json.loads(out)
    return named, aliases, {name: (f"\x1b[{on}m", f"\x1b[{off}m") for name, (on, off) in styles.items()}


Demo = collections.namedtuple("Demo", "cwd impl")

# The demo with tintara.paint replaced by the twin, before the demo imports it.
WITH_TWIN = (
    f"import runpy, sys; sys.path.insert(0, {PURE!r}); import twin.paint; "
    "sys.modules['tintara.paint'] = twin.paint; runpy.run_module('tintara', run_name='__main__', alter_sys=True)"
)


@pytest.fixture(scope="module", params=["ext", "twin"])
def demo(request, outside):
    return Demo(outside, request.param)


def demo_command(demo, *args):
    if demo.impl == "twin":
        return [sys.executable, "-c", WITH_TWIN, *args]
    return [sys.executable, "-m", "tintara", *args]


def demo_env(env):
    clean = {k: v for k, v in os.environ.items() if k not in DETECTION_VARS}
    return {**clean, **dict(env), "PYTHONSAFEPATH": "1"}


@functools.cache
def _piped(demo, args, env):
    done = subprocess.run(demo_command(demo, *args), capture_output=True, env=demo_env(env), cwd=demo.cwd,
                          timeout=60)
    assert done.returncode == 0, done.stderr.decode()
    assert done.stderr == b""
    return done.stdout


def piped(demo, *args, **env):
    """The demo's output with standard output a pipe."""
    return _piped(demo, args, tuple(sorted(env.items())))


def in_terminal(demo, *args, **env):
    """The demo's output with standard output a pseudo-terminal."""
    master, slave = pty.openpty()
    proc = subprocess.Popen(demo_command(demo, *args), stdin=slave, stdout=slave, stderr=subprocess.PIPE,
                            env=demo_env(env), cwd=demo.cwd)
    os.close(slave)
    chunks = []
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:  # EIO: the child has gone and closed its side
            break
        if not data:
            break
        chunks.append(data)
    os.close(master)
    err = proc.stderr.read()
    proc.stderr.close()
    assert proc.wait(timeout=60) == 0, err.decode()
    return b"".join(chunks).replace(b"\r\n", b"\n")


@functools.cache
def emulate(output):
    """Feed output to an emulated terminal, one line at a time; every line must end in the plain state.

    The screen's text is kept as ``screen.text``: ``display`` is rebuilt on every access.
    """
    screen = pyte.Screen(200, 150)
    screen.set_mode(pyte.modes.LNM)
    stream = pyte.ByteStream(screen)
    for line in output.splitlines(keepends=True):
        stream.feed(line)
        assert screen.cursor.attrs == screen.default_char, f"not reset after {line!r}"
    assert screen.cursor.y < screen.lines - 1, "the output did not fit"
    screen.text = screen.display
    return screen


def row(screen, prefix):
    """Index of the one screen line that starts with prefix."""
    found = [y for y, text in enumerate(screen.text) if text.startswith(prefix)]
    assert len(found) == 1, (prefix, found)
    return found[0]


def blank(screen, y):
    return all(screen.buffer[y][x] == screen.default_char for x in range(screen.columns))


def section(screen, title):
    """The indices of the lines below a title line, up to the next unindented or blank one."""
    start = row(screen, title) + 1
    end = start
    while screen.text[end].startswith("  ") and not blank(screen, end):
        end += 1
    return range(start, end)


def emulator_colour(name, background=False):
    """The emulator's name for one of the 16 colours, by its standard SGR code."""
    i = BASE.index(name.removeprefix("bright_"))
    if name.startswith("bright_"):
        return graphics.BG_AIXTERM[100 + i] if background else graphics.FG_AIXTERM[90 + i]
    return graphics.BG_ANSI[40 + i] if background else graphics.FG_ANSI[30 + i]


def hex_colours(screen, lines, attr):
    return {getattr(screen.buffer[y][x], attr) for y in lines for x in range(screen.columns)} - {
        "default", *NAMED}


def gradient_cells(screen):
    (y,) = section(screen, "Truecolour gradient")
    cells = [screen.buffer[y][x].bg for x in range(2, screen.columns)]
    return cells[: cells.index("default")]


# -- levels, reasons, and what plain output holds ------------------------------


@pytest.mark.parametrize(
    ("args", "env", "header"),
    [
        ((), {}, "Colour level: NONE (standard output is not a terminal)"),
        ((), {"TERM": "xterm-256color", "COLORTERM": "truecolor"},
         "Colour level: NONE (standard output is not a terminal)"),
        ((), {"NO_COLOR": "1", "FORCE_COLOR": "3"}, "Colour level: NONE (NO_COLOR is set)"),
        ((), {"FORCE_COLOR": "0"}, "Colour level: NONE (FORCE_COLOR=0)"),
        ((), {"FORCE_COLOR": "yes"}, "Colour level: BASIC (FORCE_COLOR=yes)"),
        ((), {"FORCE_COLOR": "3"}, "Colour level: TRUECOLOR (FORCE_COLOR=3)"),
        (("--level", "none"), {"FORCE_COLOR": "3"},
         "Colour level: NONE (chosen with --level; detected TRUECOLOR: FORCE_COLOR=3)"),
        (("--level", "extended"), {},
         "Colour level: EXTENDED (chosen with --level; detected NONE: standard output is not a terminal)"),
        (("--level", "basic"), {"NO_COLOR": "x"},
         "Colour level: BASIC (chosen with --level; detected NONE: NO_COLOR is set)"),
    ],
)
def test_level_and_reason_when_piped(demo, args, env, header):
    out = piped(demo, *args, **env)
    assert out.decode().splitlines()[0] == header
    assert (b"\x1b" in out) == (not header.startswith("Colour level: NONE"))


def test_plain_output_lists_everything(demo, tables):
    named, aliases, styles = tables
    text = piped(demo, "--level", "none").decode()
    assert "\x1b" not in text
    assert "Named colours: " + ", ".join(named) in text
    assert "Aliases: " + ", ".join(f"{alias} = {target}" for alias, target in aliases.items()) in text
    assert "Styles: " + ", ".join(styles) in text


@pytest.mark.parametrize(
    ("env", "level", "reason"),
    [
        ({"TERM": "xterm"}, "basic", "TERM=xterm"),
        ({"TERM": "xterm-256color"}, "extended", "TERM=xterm-256color"),
        ({"TERM": "dumb", "COLORTERM": "24bit"}, "truecolor", "COLORTERM=24bit"),
        ({"TERM": "dumb"}, "none", "TERM=dumb"),
        ({}, "none", "TERM is not set"),
    ],
)
def test_default_level_is_the_detected_one(demo, env, level, reason):
    out = in_terminal(demo, **env)
    header, _, body = out.partition(b"\n")
    assert header.decode() == f"Colour level: {level.upper()} ({reason})"
    assert body == piped(demo, "--level", level).partition(b"\n")[2]


# The reason is worked out apart from detect_color_level; it must agree with it,
# on Windows too.
@pytest.mark.parametrize(
    ("platform", "env", "stream", "level", "reason"),
    [
        ("linux", {}, Stream(True), "NONE", "TERM is not set"),
        ("linux", {"TERM": "xterm"}, Stream(False), "NONE", "standard output is not a terminal"),
        ("linux", {"TERM": "xterm"}, object(), "NONE", "standard output is not a terminal"),
        ("linux", {"TERM_PROGRAM": "vscode"}, Stream(False), "NONE", "standard output is not a terminal"),
        ("linux", {"COLORTERM": "TrueColor", "TERM": "dumb"}, Stream(True), "TRUECOLOR", "COLORTERM=TrueColor"),
        ("linux", {"COLORTERM": "1", "TERM": "Linux"}, Stream(True), "BASIC", "TERM=Linux"),
        ("linux", {"NO_COLOR": "", "FORCE_COLOR": "2"}, object(), "EXTENDED", "FORCE_COLOR=2"),
        ("win32", {"TERM_PROGRAM": "vscode"}, Stream(False), "TRUECOLOR", "TERM_PROGRAM=vscode"),
        ("win32", {"VSCODE_PID": "", "PYCHARM_HOSTED": "1"}, object(), "TRUECOLOR", "PYCHARM_HOSTED is set"),
        ("win32", {"TERM_PROGRAM": "VSCode"}, Stream(False), "NONE", "standard output is not a terminal"),
        ("win32", {"WT_SESSION": "1"}, Stream(True), "TRUECOLOR", "WT_SESSION is set (Windows Terminal)"),
        ("win32", {"ConEmuANSI": "ON"}, Stream(True), "TRUECOLOR", "ConEmuANSI=ON"),
        ("win32", {"ConEmuANSI": "on", "COLORTERM": "truecolor"}, Stream(True), "BASIC", "Windows console"),
        ("cygwin", {"TERM": "xterm-256color"}, Stream(True), "EXTENDED", "TERM=xterm-256color"),
    ],
)
def test_reason_agrees_with_detection(monkeypatch, platform, env, stream, level, reason):
    from tintara.__main__ import detection_reason

    for name in DETECTION_VARS:
        monkeypatch.delenv(name, raising=False)
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    monkeypatch.setattr(sys, "platform", platform)
    assert detect_color_level(stream) is ColorLevel[level]
    assert detection_reason(stream) == reason


# -- what each level shows --------------------------------------------------------


@pytest.mark.parametrize("level", ["basic", "extended", "truecolor"])
def test_named_colours_and_aliases(demo, tables, level):
    named, aliases, _ = tables
    screen = emulate(piped(demo, "--level", level))
    for name in named:
        y = row(screen, f"  {name} ")
        text = screen.text[y]
        fg = screen.buffer[y][2]
        assert (fg.data, fg.fg, fg.bg) == (name[0], emulator_colour(name), "default")
        assert fg.bold == (BRIGHT_IS_BOLD and name.startswith("bright_"))
        x = text.index(name, 3)
        bg = screen.buffer[y][x]
        assert (bg.data, bg.bg) == (name[0], emulator_colour(name, background=True))
        gap = screen.buffer[y][x - 2]  # between the swatches: nothing carried over
        assert gap._asdict() | {"data": " "} == PLAIN | {"data": " "}
    for alias, target in aliases.items():
        y = row(screen, f"  {alias} ")
        assert screen.buffer[y][2].fg == emulator_colour(target)
        assert screen.text[y].split() == [alias, "=", target]


@pytest.mark.parametrize("level", ["basic", "extended", "truecolor"])
def test_styles(demo, tables, level):
    out = piped(demo, "--level", level)
    screen = emulate(out)
    for name, (on, off) in tables[2].items():
        assert f"{on}Sample{off}".encode() in out
        y = row(screen, f"  {name} ")
        text = screen.text[y]
        assert text.split()[1:] == ["Sample", repr(on), repr(off)]
        x = text.index("Sample")
        word = [screen.buffer[y][i] for i in range(x, x + len("Sample"))]
        expected = {**PLAIN}
        if name in EMULATED:
            expected[EMULATED[name]] = True
        assert all(cell._asdict() | {"data": None} == expected | {"data": None} for cell in word), name
        assert screen.buffer[y][x - 1]._asdict() | {"data": " "} == PLAIN | {"data": " "}


def test_basic_sends_only_the_sixteen_colours(demo):
    out = piped(demo, "--level", "basic")
    assert not re.search(rb"\x1b\[[34]8;", out)
    screen = emulate(out)
    lines = range(screen.lines)
    assert hex_colours(screen, lines, "fg") == hex_colours(screen, lines, "bg") == set()
    assert "256-colour palette:" not in screen.text
    assert not any(text.startswith("Truecolour") for text in screen.text)


def test_extended_palette_grid(demo):
    out = piped(demo, "--level", "extended")
    assert not re.search(rb"\x1b\[[34]8;2;", out)
    screen = emulate(out)
    seen = []
    for y in section(screen, "256-colour palette:"):
        for match in re.finditer(r"\d+", screen.text[y]):
            i, end = int(match.group()), match.end()
            seen.append(i)
            assert screen.buffer[y][end - 5].bg == screen.buffer[y][end - 4].bg == FG_BG_256[i], i
            assert screen.buffer[y][end - 1].fg == FG_BG_256[i], i
    assert seen == list(range(256))
    everything = range(screen.lines)
    assert hex_colours(screen, everything, "fg") == hex_colours(screen, everything, "bg") == PALETTE


def test_gradient_truecolour_and_brought_down(demo):
    true = gradient_cells(emulate(piped(demo, "--level", "truecolor")))
    down = gradient_cells(emulate(piped(demo, "--level", "extended")))
    assert len(true) == len(down) >= 32
    assert all(re.fullmatch(r"[0-9a-f]{6}", cell) for cell in true)
    assert len(set(true)) == len(true) and not set(true) <= PALETTE
    for cell, lower in zip(true, down):
        r, g, b = bytes.fromhex(cell)
        assert lower == FG_BG_256[rgb_to_ansi256(r, g, b)]


@pytest.mark.parametrize("level", ["basic", "extended", "truecolor"])
def test_one_style_at_each_level(demo, level):
    """'underline #ffb020 on #202060' as each level up to the chosen one writes it."""
    shown = {
        "none": ("default", "default", False),
        "basic": ("brown", "blue", True),  # 33 and 44
        "extended": (FG_BG_256[214], FG_BG_256[17], True),
        "truecolor": ("ffb020", "202060", True),
    }
    shown = dict(list(shown.items())[: list(shown).index(level) + 1])
    screen = emulate(piped(demo, "--level", level))
    (y,) = section(screen, "One style at each level")
    text = screen.text[y]
    assert text.split() == [word for name in shown for word in (f"{name}:", "Sample")]
    for name, expected in shown.items():
        x = text.index(f"{name}: ") + len(name) + 2
        assert screen.buffer[y][x - 1]._asdict() | {"data": " "} == PLAIN | {"data": " "}
        for i in range(x, x + len("Sample")):
            cell = screen.buffer[y][i]
            assert (cell.fg, cell.bg, cell.underscore) == expected, name


# What the demo shows of a user name that tries to clear the screen, return
# to the start of the line and reverse what follows.
VISITOR = "mallory\\x1b[2J\\r\\u202etxt.exe"
SAID = "'hi\\x07'"
DOCS = "https://example.com/tintara"
# The colour #ffb020 as each level shows it.
AMBER = {"basic": "brown", "extended": FG_BG_256[214], "truecolor": "ffb020"}


def shown_line(demo, level, title):
    """The line below title: the emulated screen and its row, or the plain text at level none."""
    out = piped(demo, "--level", level)
    if level == "none":
        lines = out.decode().splitlines()
        return None, lines[lines.index(title) + 1]
    screen = emulate(out)
    (y,) = section(screen, title)
    return (screen, y), screen.text[y].rstrip()


@pytest.mark.parametrize("level", ["none", "basic", "extended", "truecolor"])
def test_untrusted_values_shown_not_obeyed(demo, level):
    out = piped(demo, "--level", level)
    for obeyed in (b"\x1b[2J", "\u202e".encode(), b"\x07", b"\r"):
        assert obeyed not in out
    title = 'Untrusted values in a template string (t"{visitor:bold #ffb020} said {said!r:italic}"):'
    where, text = shown_line(demo, level, title)
    assert text == f"  {VISITOR} said {SAID}"
    if where is None:
        return
    screen, y = where
    cells = screen.buffer[y]
    name = range(2, 2 + len(VISITOR))
    assert all((cells[x].bold, cells[x].fg) == (True, AMBER[level]) for x in name)
    said = text.index(SAID)
    assert all(cells[x]._asdict() | {"data": None} == PLAIN | {"data": None} for x in range(name.stop, said))
    if "italics" in pyte.screens.Char._fields:
        assert all(cells[x].italics for x in range(said, said + len(SAID)))


@pytest.mark.parametrize("level", ["none", "basic", "extended", "truecolor"])
def test_hyperlink(demo, level):
    out = piped(demo, "--level", level)
    linked = level != "none"
    assert out.count(f"\x1b]8;;{DOCS}\x1b\\".encode()) == out.count(b"\x1b]8;;\x1b\\") == int(linked)
    where, text = shown_line(demo, level, "A hyperlink (OSC 8; a terminal without them shows the text alone):")
    assert text == f"  the tintara documentation  ({DOCS})"
    if where is None:
        return
    screen, y = where
    assert [screen.buffer[y][x].bold for x in range(2, 2 + len("the tintara "))] == [False] * 4 + [True] * 7 + [False]


def test_truecolor_keeps_the_palette_grid(demo):
    screen = emulate(piped(demo, "--level", "truecolor"))
    grid = section(screen, "256-colour palette:")
    assert hex_colours(screen, grid, "bg") == PALETTE


# -- the command line ------------------------------------------------------------


def test_help(demo):
    done = subprocess.run(demo_command(demo, "--help"), capture_output=True, text=True, env=demo_env({}), cwd=demo.cwd)
    assert done.returncode == 0
    assert "--level {none,basic,extended,truecolor}" in done.stdout
    assert "\x1b" not in done.stdout


@pytest.mark.parametrize("args", [("--level", "ultra"), ("--level",), ("extra",)])
def test_bad_arguments(demo, args):
    done = subprocess.run(demo_command(demo, *args), capture_output=True, text=True, env=demo_env({}), cwd=demo.cwd)
    assert done.returncode == 2
    assert done.stdout == "" and "usage:" in done.stderr
