"""Benchmarks: tintara against its pure-Python twin, its peers and the floor.

Run from the repository root:

    tools/py314 python bench/run.py            # full run, about a minute
    tools/py314 python bench/run.py --quick    # smoke run, a few iterations

It prints the machine and one table; every row is measured in this one
process and run (import and memory rows in fresh subprocesses of the same
interpreter).  The numbers of a --quick run mean nothing.

Columns:
  ns/call   best of several repeats of a timeit loop that calls the function
            through a local name with a pre-built argument; the floor, the
            built-in len on a short string, is measured the same way, so the
            loop overhead is part of every row alike.
  ratio     for tintara: tintara / floor; for every other row: that row /
            tintara (so twin and peer ratios read "times slower than tintara").
  target    the goal for the row, with PASS or FAIL.  Nothing is asserted: the
            table reports, it never fails the run.

Peers, where they do the same job: rich (Color.parse + get_ansi_codes,
Style.parse + render; "warm" repeats one input so rich's lru_caches hit,
"varied" cycles through more distinct inputs than the caches hold, at the
extra cost of one next() per call), termcolor's colored (force_color=True,
so it skips its own terminal check), colorama's constants (an attribute
load: the zero-work reference).  Beside the pen row of tintara.paint:
termcolor's colored, click's style (where click is installed) and rich's
Style.render of a parsed style, each of which has to be 10x slower.

The template row times paint() of a template string literal, so making the
template is part of each call, against the f-string that joins two bound
pens' results; sanitize is timed on a 200-character line with nothing to
escape, against str.isprintable on it.  A row of tintara.paint whose feature
the built extension lacks is listed as skipped, with the reason.

Cold rows: every call gets an argument never seen before in the process.
Each is a loop over a freshly built list (200,000 arguments; 2,000 with
--quick), timed once per round over a new list, best of the rounds, against
a cold floor (the same loop calling len on fresh short strs).  Hex strings,
tuples and parse_hex arguments come from disjoint ranges of a bijection of
the 24-bit colours, so no value repeats anywhere in the run; names are
random spellings ("Bright-Red", "bright red", "BRIGHT_red") built afresh.
There are only 4,096 #rgb values (10,648 spellings with upper and lower
case): the #rgb row cycles through the spellings in a shuffled order, each
call a distinct str object, so a cache keyed by text would still hit there.
Ints are random indexes, styles fresh copies of their names; the
rgb_to_ansi256 loop also unpacks each random triple, a few ns the floor's
loop does not spend.  The poisoned
row times fg_code("red") in a fresh process after 100,000 distinct hex
colours, against the same in a fresh process without them; the table row
changes one entry of a 100,000-entry NAMED_COLORS and calls fg_code with
it, against the twin doing the same (both in a fresh process).

detect_color_level and supports_color run with TERM=xterm-256color, no
NO_COLOR, FORCE_COLOR or COLORTERM, and a pty as the stream.  Their reference
row does the environment reads the decision makes (os.environ.get of
NO_COLOR, FORCE_COLOR, COLORTERM, TERM) and the stream's isatty() in Python.
"""

from __future__ import annotations

import argparse
import itertools
import os
import platform
import pty
import random
import re
import sys
import timeit

# The bench's own modules, and the twin (the interpreter may run with -P).
sys.path[:0] = [os.path.dirname(os.path.abspath(__file__))]

from fresh import imports, poisoned_and_table_change  # noqa: E402
from harness import MIX, PURE, Bench, Measure, value  # noqa: E402

sys.path.insert(0, PURE)

import tintara  # noqa: E402
import tintara.colors as tc  # noqa: E402
import tintara.detect as td  # noqa: E402
import tintara.paint as tp  # noqa: E402
import tintara.styles as ts  # noqa: E402
import twin.colors as wc  # noqa: E402
import twin.detect as wd  # noqa: E402
import twin.paint as wp  # noqa: E402
import twin.styles as ws  # noqa: E402

try:
    import colorama
    import rich
    import termcolor
    from rich.color import Color, ColorParseError, ColorSystem, parse_rgb_hex
    from rich.style import Style
except ImportError:  # pragma: no cover - the 3.14 root has them all
    rich = termcolor = colorama = None
try:
    import click
except ImportError:  # pragma: no cover - Debian's python3-click, in the 3.14 root
    click = None


# ---------------------------------------------------------------------------
# Cases


def many_hex(n: int) -> list[str]:
    return [f"#{(i * 2654435761) & 0xFFFFFF:06x}" for i in range(n)]


def many_names(n: int) -> list[str]:
    """Distinct spellings (case variants) of rich's colour names."""
    out = []
    for name in ["bright_magenta", "bright_yellow", "bright_white"]:
        letters = [(c.lower(), c.upper()) if c.isalpha() else (c,) for c in name]
        for spelling in itertools.product(*letters):
            out.append("".join(spelling))
            if len(out) == n:
                return out
    return out


def at_most(x, limit: float, base, what: str):
    """x and base: Measure or number."""
    return lambda: (f"<= {limit:g}x {what}", value(x) <= limit * value(base))


def call_rows(b: Bench, floor: Measure, case: str, stmt: str, arg: dict, ext, twin,
              limit: float | None = None, peers=()) -> Measure:
    """Rows for one call: tintara, the twin and each peer (label, stmt, bind)."""
    t = b.time(stmt, {"f": ext, **arg})
    b.row(case, "tintara", t, "ns/call", floor, at_most(t, limit, floor, "floor") if limit else None)
    b.row("", "twin (pure Python)", b.time(stmt, {"f": twin, **arg}), "ns/call", t)
    if rich is None:
        return t
    for label, peer_stmt, bind in peers:
        p = b.time(peer_stmt, bind)
        target = None
        if label.startswith("rich") and "warm" in label:
            target = (lambda p: lambda: ("slower than tintara", p.value > t.value))(p)
        b.row("", label, p, "ns/call", t, target)
    return t


def calls(b: Bench) -> None:
    b.section("floor")
    floor = b.time("f(a)", {"f": len, "a": "red"})
    b.row("len('red')", "built-in (the floor)", floor, "ns/call")
    b.row("empty loop body", "pass (loop overhead)", b.time("pass", {}), "ns/call")

    n_varied = 64 if b.quick else 4096
    P = Color.parse if rich else None
    FR = Color.from_rgb if rich else None
    varied_hex = itertools.cycle(many_hex(n_varied))
    varied_names = itertools.cycle(many_names(n_varied))
    varied_rgb = itertools.cycle(
        [((i * 37) & 255, (i * 101) & 255, (i * 7) & 255) for i in range(n_varied)])
    varied_rgb_text = itertools.cycle(
        [f"rgb({(i * 37) & 255},{(i * 101) & 255},{(i * 7) & 255})" for i in range(n_varied)])
    colored = termcolor.colored if rich else None
    Fore, Back, CStyle = (colorama.Fore, colorama.Back, colorama.Style) if rich else (None,) * 3

    def rich_warm(spec, fg="True"):
        return ("rich warm " + repr(spec), f"p(a).get_ansi_codes({fg})", {"p": P, "a": spec})

    b.section("colour sequences")
    call_rows(b, floor, 'fg_code("red")', "f(a)", {"a": "red"}, tc.fg_code, wc.fg_code, 3, [
        rich_warm("red"),
        ("rich varied names", "p(n(it)).get_ansi_codes(True)", {"p": P, "n": next, "it": varied_names}),
        ("termcolor colored('x','red')", "c('x', a, force_color=True)", {"c": colored, "a": "red"}),
        ("colorama Fore.RED", "F.RED", {"F": Fore}),
    ])
    call_rows(b, floor, 'fg_code("Bright-Red")', "f(a)", {"a": "Bright-Red"}, tc.fg_code, wc.fg_code, 3,
              [rich_warm("bright_red")])
    call_rows(b, floor, 'fg_code("grey")', "f(a)", {"a": "grey"}, tc.fg_code, wc.fg_code, 3, [
        rich_warm("bright_black"),
        ("termcolor colored('x','dark_grey')", "c('x', a, force_color=True)",
         {"c": colored, "a": "dark_grey"}),
    ])
    call_rows(b, floor, 'fg_code("#ff8800")', "f(a)", {"a": "#ff8800"}, tc.fg_code, wc.fg_code, 3, [
        rich_warm("#ff8800"),
        ("rich varied hex", "p(n(it)).get_ansi_codes(True)", {"p": P, "n": next, "it": varied_hex}),
    ])
    call_rows(b, floor, 'fg_code("#f80")', "f(a)", {"a": "#f80"}, tc.fg_code, wc.fg_code, 3)
    call_rows(b, floor, "fg_code(196)", "f(a)", {"a": 196}, tc.fg_code, wc.fg_code, 2.5,
              [rich_warm("color(196)")])
    call_rows(b, floor, "fg_code((255, 128, 0))", "f(a)", {"a": (255, 128, 0)}, tc.fg_code, wc.fg_code, 3.5, [
        rich_warm("rgb(255,128,0)"),
        ("rich from_rgb(255,128,0)", "fr(r, g, b).get_ansi_codes(True)",
         {"fr": FR, "r": 255, "g": 128, "b": 0}),
        ("rich varied rgb(...) text", "p(n(it)).get_ansi_codes(True)",
         {"p": P, "n": next, "it": varied_rgb_text}),
        ("rich varied from_rgb", "fr(*n(it)).get_ansi_codes(True)", {"fr": FR, "n": next, "it": varied_rgb}),
    ])
    call_rows(b, floor, 'bg_code("red")', "f(a)", {"a": "red"}, tc.bg_code, wc.bg_code, 3, [
        rich_warm("red", "False"),
        ("termcolor colored('x',on_red)", "c('x', None, a, force_color=True)", {"c": colored, "a": "on_red"}),
        ("colorama Back.RED", "B.RED", {"B": Back}),
    ])

    b.section("conversions")
    call_rows(b, floor, 'parse_hex("#ff8800")', "f(a)", {"a": "#ff8800"}, tc.parse_hex, wc.parse_hex, 3.5, [
        ("rich warm parse('#ff8800').triplet", "p(a).triplet", {"p": P, "a": "#ff8800"}),
        ("rich varied parse(hex).triplet", "p(n(it)).triplet", {"p": P, "n": next, "it": varied_hex}),
        ("rich parse_rgb_hex('ff8800')", "p(a)", {"p": parse_rgb_hex if rich else None, "a": "ff8800"}),
    ])
    eight_bit = ColorSystem.EIGHT_BIT if rich else None
    for label, (r, g, bl) in (("grey", (128, 128, 128)), ("colour", (255, 128, 0))):
        call_rows(b, floor, f"rgb_to_ansi256 {label} {(r, g, bl)}", "f(r, g, b)", {"r": r, "g": g, "b": bl},
                  tc.rgb_to_ansi256, wc.rgb_to_ansi256, 2.5, [
                      ("rich warm from_rgb().downgrade(256)", "fr(r, g, b).downgrade(s).number",
                       {"fr": FR, "r": r, "g": g, "b": bl, "s": eight_bit}),
                  ])

    b.section("styles")
    call_rows(b, floor, 'style_on("bold")', "f(a)", {"a": "bold"}, ts.style_on, ws.style_on, 2.5, [
        ("rich warm Style.parse+render('x')", "p(a).render('x')",
         {"p": Style.parse if rich else None, "a": "bold"}),
        ("termcolor colored('x',attrs=bold)", "c('x', attrs=a, force_color=True)",
         {"c": colored, "a": ["bold"]}),
        ("colorama Style.BRIGHT", "S.BRIGHT", {"S": CStyle}),
    ])
    call_rows(b, floor, 'style_off("bold")', "f(a)", {"a": "bold"}, ts.style_off, ws.style_off, 2.5, [
        ("colorama Style.NORMAL", "S.NORMAL", {"S": CStyle}),
    ])

    b.section("detection (TERM=xterm-256color, pty stream)")
    reference = b.time(
        "e.get('NO_COLOR', ''); e.get('FORCE_COLOR', ''); s.isatty(); "
        "e.get('COLORTERM', ''); e.get('TERM', '')",
        {"e": os.environ, "s": DETECT_STREAM})
    b.row("detect reference", "4 environ reads + isatty()", reference, "ns/call")
    for case, ext, twin in (("detect_color_level(tty)", td.detect_color_level, wd.detect_color_level),
                            ("supports_color(tty)", td.supports_color, wd.supports_color)):
        t = b.time("f(s)", {"f": ext, "s": DETECT_STREAM})
        if ext is td.detect_color_level:
            target = at_most(t, 1.5, reference, "reference")
        else:
            target = (lambda t: lambda: (f"({t.value / reference.value:.2f}x reference)", None))(t)
        b.row(case, "tintara", t, "ns/call", floor, target)
        b.row("", "twin (pure Python)", b.time("f(s)", {"f": twin, "s": DETECT_STREAM}), "ns/call", t)
        if ext is td.detect_color_level:
            detect = t

    b.section("error path")
    call_rows(b, floor, 'fg_code("orange") raises', "try:\n    f(a)\nexcept ValueError:\n    pass",
              {"a": "orange"}, tc.fg_code, wc.fg_code, None, [
                  ("rich parse('orange') raises", "try:\n    p(a)\nexcept E:\n    pass",
                   {"p": P, "a": "orange", "E": ColorParseError if rich else None}),
                  ("termcolor colored('x','orange')",
                   "try:\n    c('x', a, force_color=True)\nexcept KeyError:\n    pass",
                   {"c": colored, "a": "orange"}),
              ])

    styled_text(b, floor, detect)


# What tintara.paint.strip removes, as one pattern: CSI; OSC to BEL or ST;
# DCS, SOS, PM and APC to ST; any other ESC with its intermediates and final.
STRIP_RE = re.compile(
    r"\x1b(?:\[[0-?]*[ -/]*[@-~]"
    r"|\][^\x07\x1b]*(?:\x07|\x1b\\)?"
    r"|[PX^_][^\x1b]*(?:\x1b\\)?"
    r"|[ -/]*[0-~])"
)


def strip_line() -> str:
    """A 200-character line holding 10 escape sequences."""
    sequences = ["\x1b[1;31m", "\x1b[0m", "\x1b[38;5;208m", "\x1b[39m",
                 "\x1b]8;;https://example.com/a\x1b\\", "\x1b]8;;\x1b\\", "\x1b[4m", "\x1b[24m",
                 "\x1b(B", "\x1b[38;2;255;136;0m"]
    words = itertools.cycle("the quick brown fox jumps over the lazy dog ")
    room = 200 - sum(map(len, sequences))
    chunks = [room // 10 + (i < room % 10) for i in range(10)]
    line = "".join("".join(itertools.islice(words, n)) + seq for n, seq in zip(chunks, sequences))
    assert len(line) == 200
    return line


def styled_text(b: Bench, floor: Measure, detect: Measure) -> None:
    text = "hello"
    b.section("styled text (tintara.paint; detection as above)")
    pen = b.time("f(a)", {"f": tp.Style.parse("bold red").bind(level=3), "a": text})
    b.row("pen(5-char text)", "tintara", pen, "ns/call", floor, at_most(pen, 3, floor, "floor"))
    b.row("", "twin (pure Python)",
          b.time("f(a)", {"f": wp.Style.parse("bold red").bind(level=3), "a": text}), "ns/call", pen)
    peers = []
    if rich:
        peers.append(("termcolor colored(t,'red',attrs=bold)", "c(a, 'red', attrs=s, force_color=True)",
                      {"c": termcolor.colored, "a": text, "s": ["bold"]}))
        peers.append(("rich parsed Style.render(t)", "r(a)", {"r": Style.parse("bold red").render, "a": text}))
    if click:
        peers.append(("click style(t, fg='red', bold=True)", "c(a, fg='red', bold=True)",
                      {"c": click.style, "a": text}))
    for label, stmt, bind in peers:
        p = b.time(stmt, bind)
        b.row("", label, p, "ns/call", pen,
              (lambda p: lambda: (">= 10x slower than tintara", p.value >= 10 * pen.value))(p))

    case = "pen(two 5-char lines)"
    lines = "hello\nthere"
    why = lacks("lines")
    t = None
    if why:
        b.skip(case, why)
    else:
        t = b.time("f(a)", {"f": tp.Style.parse("bold red").bind(level=3), "a": lines})
        b.row(case, "tintara", t, "ns/call", floor, at_most(t, 5, floor, "floor"))
    b.row("", "twin (pure Python)",
          b.time("f(a)", {"f": wp.Style.parse("bold red").bind(level=3), "a": lines}), "ns/call", t)

    template_rows(b)
    sanitize_rows(b, floor)

    case = 'paint(t, "bold red", level=3)'
    t = b.time("f(a, s, level=3)", {"f": tp.paint, "a": text, "s": "bold red"})
    b.row(case, "tintara (string parsed before)", t, "ns/call", floor, at_most(t, 5, floor, "floor"))
    b.row("", "twin (pure Python)", b.time("f(a, s, level=3)", {"f": wp.paint, "a": text, "s": "bold red"}),
          "ns/call", t)
    if rich:
        b.row("", "rich warm Style.parse(s).render(t)", b.time("p(s).render(a)", {
            "p": Style.parse, "a": text, "s": "bold red"}), "ns/call", t)

    case = "paint(t, Style(...), stream=tty)"
    bind = {"a": text, "tty": DETECT_STREAM}
    t = b.time("f(a, s, stream=tty)", {"f": tp.paint, "s": tp.Style(fg="#ff8800", bold=True), **bind})
    b.row(case, "tintara (detects the pty)", t, "ns/call", floor,
          lambda t=t: ("<= detect_color_level + 5x floor", t.value <= detect.value + 5 * floor.value))
    b.row("", "twin (pure Python)",
          b.time("f(a, s, stream=tty)", {"f": wp.paint, "s": wp.Style(fg="#ff8800", bold=True), **bind}),
          "ns/call", t)

    rng = random.Random(11)
    palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(4096)]
    # Warm-up, so that calibrating sees the warm cost (the cold one has a
    # row of its own, in a fresh process).
    for colour in palette:
        tp.nearest_256(*colour)
        wp.nearest_256(*colour)
    colours = itertools.cycle(palette)
    t = b.time("f(*n(it))", {"f": tp.nearest_256, "n": next, "it": colours})
    b.row("nearest_256(random colour)", "tintara", t, "ns/call", floor, at_most(t, 10, floor, "floor"))
    b.row("", "twin (pure Python)", b.time("f(*n(it))", {"f": wp.nearest_256, "n": next, "it": colours}),
          "ns/call", t)
    b.row("", "next(it) alone (input overhead)", b.time("n(it)", {"n": next, "it": colours}), "ns/call", t)

    line = strip_line()
    assert tp.strip(line) == wp.strip(line) == STRIP_RE.sub("", line)
    t = b.time("f(a)", {"f": tp.strip, "a": line})
    regex = b.time("f('', a)", {"f": STRIP_RE.sub, "a": line})
    b.row("strip(200-char line, 10 sequences)", "tintara", t, "ns/call", floor,
          lambda: ("faster than regex sub", t.value < regex.value))
    b.row("", "twin (pure Python)", b.time("f(a)", {"f": wp.strip, "a": line}), "ns/call", t)
    b.row("", "compiled regex sub", regex, "ns/call", t)


def lacks(feature: str) -> str | None:
    """Why the built extension cannot be timed on feature, or None when it
    does what the twin does."""
    if feature == "lines":
        if tp.paint("a\nb", "bold", level=3) != wp.paint("a\nb", "bold", level=3):
            return "this build of tintara.paint does not style one line at a time"
        return None
    if feature == "template":
        word = "ann\x1b[2J"
        if tp.paint(t"{word:bold}", level=3) != wp.paint(t"{word:bold}", level=3):
            return "this build of tintara.paint does not render template strings"
        return None
    if not hasattr(tp, feature):
        return f"this build of tintara.paint has no {feature}()"
    return None


def template_rows(b: Bench) -> None:
    case = 'paint(t"{a:bold} and {b:red}")'
    bind = {"a": "alice", "b": "bob"}
    pens = {"p1": tp.Style.parse("bold").bind(level=3), "p2": tp.Style.parse("red").bind(level=3)}
    fstring = b.time('f"{p1(a)} and {p2(b)}"', {**pens, **bind})
    why = lacks("template")
    t = None
    if why:
        b.skip(case, why)
    else:
        t = b.time('f(t"{a:bold} and {b:red}", level=3)', {"f": tp.paint, **bind})
        b.row(case, "tintara (template made each call)", t, "ns/call", fstring,
              at_most(t, 3, fstring, "f-string of two pens"))
    b.row("", "twin (pure Python)", b.time('f(t"{a:bold} and {b:red}", level=3)', {"f": wp.paint, **bind}),
          "ns/call", t)
    b.row("", 'f"{p1(a)} and {p2(b)}", two pens', fstring, "ns/call")


def clean_line() -> str:
    """200 characters with nothing for sanitize to escape."""
    line = "".join(itertools.islice(itertools.cycle("the quick brown fox jumps over the lazy dog "), 200))
    assert len(line) == 200 and line.isprintable()
    return line


def sanitize_rows(b: Bench, floor: Measure) -> None:
    case = "sanitize(200 clean chars)"
    line = clean_line()
    printable = b.time("f(a)", {"f": str.isprintable, "a": line})
    why = lacks("sanitize")
    t = None
    if why:
        b.skip(case, why)
    else:
        assert tp.sanitize(line) == wp.sanitize(line) == line
        t = b.time("f(a)", {"f": tp.sanitize, "a": line})
        b.row(case, "tintara", t, "ns/call", floor, at_most(t, 1.5, printable, "str.isprintable"))
    b.row("", "twin (pure Python)", b.time("f(a)", {"f": wp.sanitize, "a": line}), "ns/call", t)
    b.row("", "str.isprintable (reference)", printable, "ns/call")


# The stream of the detection cases: a pseudo-terminal, open for the run.
DETECT_STREAM = None


def detection_environment():
    """TERM=xterm-256color, no NO_COLOR, FORCE_COLOR or COLORTERM; a pty."""
    global DETECT_STREAM
    for k in ("NO_COLOR", "FORCE_COLOR", "COLORTERM"):
        os.environ.pop(k, None)
    os.environ["TERM"] = "xterm-256color"
    master, slave = pty.openpty()
    DETECT_STREAM = open(slave, "w")
    assert td.detect_color_level(DETECT_STREAM) == td.ColorLevel.EXTENDED
    return master


def throughput(b: Bench) -> None:
    side = 100 if b.quick else 1000
    pixels = [(i & 255, (i >> 8) & 255, i >> 16) for i in range(side * side)]
    assert len(set(pixels)) == len(pixels)
    n = len(pixels)
    b.section(f"throughput: {side}x{side} image, one sequence per pixel, distinct colours")

    def per_pixel(stmt, bind, repeat):
        return b.once(stmt, {"px": pixels, **bind}, repeat) / n * 1e9

    truecolour = "for t in px:\n    f(t)"
    base = per_pixel(truecolour, {"f": tc.fg_code}, 5)
    b.row("truecolour fg_code(t)", "tintara", base, "ns/pixel", None,
          lambda: (f"({base * n / 1e6:.0f} ms per image)", None))
    b.row("", "twin (pure Python)", per_pixel(truecolour, {"f": wc.fg_code}, 2), "ns/pixel", base)
    if rich:
        b.row("", "rich from_rgb+get_ansi_codes",
              per_pixel("for t in px:\n    fr(*t).get_ansi_codes(True)", {"fr": Color.from_rgb}, 1),
              "ns/pixel", base)

    indexed = "for r, g, b in px:\n    f(q(r, g, b))"
    base2 = per_pixel(indexed, {"f": tc.fg_code, "q": tc.rgb_to_ansi256}, 5)
    b.row("256-colour fg_code(rgb_to_ansi256)", "tintara", base2, "ns/pixel", None,
          lambda: (f"({base2 * n / 1e6:.0f} ms per image)", None))
    b.row("", "twin (pure Python)", per_pixel(indexed, {"f": wc.fg_code, "q": wc.rgb_to_ansi256}, 2),
          "ns/pixel", base2)
    if rich:
        b.row("", "rich from_rgb+downgrade+codes",
              per_pixel("for r, g, b in px:\n    fr(r, g, b).downgrade(s).get_ansi_codes(True)",
                        {"fr": Color.from_rgb, "s": ColorSystem.EIGHT_BIT}, 1),
              "ns/pixel", base2)


# ---------------------------------------------------------------------------
# Cold arguments, a poisoned process and a table change


COLD_ARGS = 200_000


def colours(start: int, n: int) -> list[int]:
    """n distinct 24-bit colours, the images of start .. start + n - 1."""
    return [(k * MIX) & 0xFFFFFF for k in range(start, start + n)]


def spelled(rng: random.Random, name: str) -> str:
    """name in a random case, each "_" a random one of "_", "-", " ": a new str."""
    letters = [c.upper() if rng.random() < 0.5 else c for c in name]
    return "".join(rng.choice("_- ") if c == "_" else c for c in letters)


SHORT_HEX_SPELLINGS = ["".join(t) for t in itertools.product("0123456789abcdefABCDEF", repeat=3)]
COLOUR_NAMES = sorted([*tc.NAMED_COLORS, *tc.COLOR_ALIASES])
STYLE_NAMES = sorted(ts.STYLES)


class Cold:
    """Makes the argument lists of the cold rows: every list new objects,
    every hex colour and tuple a value no other list (of any row, round or
    implementation) holds."""

    def __init__(self, n: int, rounds: int) -> None:
        self.n = n
        self.span = n * rounds * 2  # a range per row, for two lists a round
        self.rng = random.Random(10)
        self.next = {}  # row -> where its next list starts

    def fresh_colours(self, row: str) -> list[int]:
        if row not in self.next:
            # Past the few thousand that rich's varied rows use.
            self.next[row] = (1 << 20) + len(self.next) * self.span
        start = self.next[row]
        self.next[row] += self.n
        return colours(start, self.n)

    def hex6(self) -> list[str]:
        return [f"#{v:06x}" if v & 1 else f"#{v:06X}" for v in self.fresh_colours("hex6")]

    def hex3(self) -> list[str]:
        out = []
        while len(out) < self.n:
            block = SHORT_HEX_SPELLINGS[:]
            self.rng.shuffle(block)
            out.extend(f"#{s}" for s in block[: self.n - len(out)])
        return out

    def tuples(self) -> list[tuple]:
        return [(v >> 16, (v >> 8) & 255, v & 255) for v in self.fresh_colours("tuples")]

    def ints(self) -> list[int]:
        return [self.rng.randrange(256) for _ in range(self.n)]

    def names(self) -> list[str]:
        return [spelled(self.rng, self.rng.choice(COLOUR_NAMES)) for _ in range(self.n)]

    def parse_hex(self) -> list[str]:
        return [f"#{v:06x}" if v & 1 else f"#{v:06X}" for v in self.fresh_colours("parse_hex")]

    def triples(self) -> list[tuple]:
        r = self.rng.randrange
        return [(r(256), r(256), r(256)) for _ in range(self.n)]

    def styles(self) -> list[str]:
        return ["".join(list(self.rng.choice(STYLE_NAMES))) for _ in range(self.n)]

    def floor(self) -> list[str]:
        return ["".join(["r", "ed"]) for _ in range(self.n)]


# case, tintara, twin, arguments (a Cold method), target (times the cold floor)
COLD_ROWS = [
    ('fg_code("#rrggbb") cold', tc.fg_code, wc.fg_code, Cold.hex6, 3.5),
    ('fg_code("#rgb") cold (spellings)', tc.fg_code, wc.fg_code, Cold.hex3, 3.5),
    ("fg_code((r, g, b)) cold", tc.fg_code, wc.fg_code, Cold.tuples, 3.5),
    ("fg_code(index) random", tc.fg_code, wc.fg_code, Cold.ints, 2.5),
    ("fg_code(name, any spelling) cold", tc.fg_code, wc.fg_code, Cold.names, 3),
    ("bg_code(name, any spelling) cold", tc.bg_code, wc.bg_code, Cold.names, 3),
    ('parse_hex("#rrggbb") cold', tc.parse_hex, wc.parse_hex, Cold.parse_hex, 3.5),
    ("rgb_to_ansi256 random", tc.rgb_to_ansi256, wc.rgb_to_ansi256, Cold.triples, 2.5),
    ("style_on(name) fresh str", ts.style_on, ws.style_on, Cold.styles, 2.5),
    ("style_off(name) fresh str", ts.style_off, ws.style_off, Cold.styles, 2.5),
]


def cold_loop(f, args: list) -> float:
    """ns per call of one loop calling f on every argument (unpacked for
    rgb_to_ansi256)."""
    three = f in (tc.rgb_to_ansi256, wc.rgb_to_ansi256)
    stmt = "for r, g, b in xs:\n    f(r, g, b)" if three else "for a in xs:\n    f(a)"
    timer = timeit.Timer(stmt, "f = __bind['f']; xs = __bind['xs']",
                         globals={"__bind": {"f": f, "xs": args}})
    return timer.timeit(1) / len(args) * 1e9


def cold(b: Bench) -> None:
    rounds = 1 if b.quick else 7
    cold = Cold(2_000 if b.quick else COLD_ARGS, rounds)
    loops = [("floor", len, Cold.floor)]  # (row, function, arguments)
    for i, (_, ext, twin, make, _) in enumerate(COLD_ROWS):
        loops += [(i, ext, make), (i, twin, make)]
    best = {}
    for _ in range(rounds):
        for row, f, make in loops:  # each loop over a list of its own
            ns = cold_loop(f, make(cold))
            best[row, f] = min(best.get((row, f), ns), ns)
    floor = best["floor", len]
    b.section(f"cold: every call a new argument ({cold.n:,} per list, best of {rounds} lists)")
    b.row("len(fresh str)", "built-in (the cold floor)", floor, "ns/call")
    for i, (case, ext, twin, _, limit) in enumerate(COLD_ROWS):
        t = best[i, ext]
        b.row(case, "tintara", t, "ns/call", floor, at_most(t, limit, floor, "cold floor"))
        b.row("", "twin (pure Python)", best[i, twin], "ns/call", t)


# ---------------------------------------------------------------------------


def machine() -> None:
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    print(f"machine: {model}, {os.cpu_count()} CPUs, {platform.machine()}, {platform.system()} "
          f"{platform.release()}; load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    print(f"python:  {sys.version.split()[0]} ({sys.implementation.name}, "
          f"{platform.python_compiler()}){' with -X dev' if sys.flags.dev_mode else ''}")
    peers = "peers: not installed" if rich is None else (
        f"rich {_version('rich')}, termcolor {_version('termcolor')}, "
        f"colorama {colorama.__version__}")
    print(f"tintara: {tintara.__version__}; {peers}")
    print()


def _version(dist: str) -> str:
    from importlib.metadata import version

    return version(dist)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a few iterations only (smoke run)")
    args = parser.parse_args(argv)
    bench = Bench(args.quick)
    machine()
    master = detection_environment()
    try:
        calls(bench)
        bench.run()
    finally:
        DETECT_STREAM.close()
        os.close(master)
    cold(bench)
    poisoned_and_table_change(bench)
    throughput(bench)
    imports(bench)
    bench.print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
