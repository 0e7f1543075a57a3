"""What the bench measures in fresh interpreters: fg_code after 100,000
distinct hex colours, a changed entry of a large table, the generic path
after a table change, nearest_256 the first time, and import time and
memory."""

from __future__ import annotations

import os
import re
import statistics
import subprocess
import sys

from harness import MIX, ROOT, Bench

TIMING = """
import sys, timeit
sys.path.insert(0, {pure!r})


def best(stmt, bind, rounds):
    setup = "\\n".join(f"{{name}} = __bind[{{name!r}}]" for name in bind)
    timer = timeit.Timer(stmt, setup, globals={{"__bind": bind}})
    number = 20  # --quick: a few calls
    while rounds > 1 and timer.timeit(number) < 0.002:
        number *= 4
    return min(timer.timeit(number) / number for _ in range(rounds)) * 1e9
"""

POISONED = TIMING + """
import tintara.colors as tc
for k in range({poison}):
    tc.fg_code(f"#{{(k * {mix}) & 0xFFFFFF:06x}}")
print(best("f(a)", {{"f": len, "a": "red"}}, {rounds}),
      best("f(a)", {{"f": tc.fg_code, "a": "red"}}, {rounds}))
"""

TABLE_CHANGE = TIMING + """
import itertools
import tintara.colors as tc
import twin.colors as wc

names = [f"tone_{{i}}" for i in range({size})]
for m in (tc, wc):
    table = dict(m.NAMED_COLORS)
    table.update((name, 31 + i % 7) for i, name in enumerate(names))
    m.NAMED_COLORS = table
    m.fg_code("tone_500")
    bind = {{"t": table, "f": m.fg_code, "n": next, "c": itertools.cycle([32, 33]), "k": "tone_500"}}
    print(best("t[k] = n(c)\\nf(k)", bind, {rounds}))
"""


AFTER_CHANGE = TIMING + """
import tintara.colors as tc, tintara.styles as ts
import twin.colors as wc, twin.styles as ws

# 676 names of eight characters that differ only in their last two, added
# to each family's tables: from here on every call takes the generic path.
names = [f"theme_{{a}}{{b}}" for a in "abcdefghijklmnopqrstuvwxyz" for b in "abcdefghijklmnopqrstuvwxyz"]
for colors, styles in ((tc, ts), (wc, ws)):
    colors.NAMED_COLORS.update((name, 31 + i % 7) for i, name in enumerate(names))
    styles.STYLES["frame"] = (51, 54)
assert tc.fg_code(196) is not tc.fg_code(196), "the shortcuts still answer"
for fn, arg in (("fg_code", "theme_qz"), ("fg_code", "Bright-Red"), ("fg_code", "#ff8800"),
                ("style_on", "bold")):
    for colors, styles in ((tc, ts), (wc, ws)):
        f = getattr(colors if fn == "fg_code" else styles, fn)
        print(best("f(a)", {{"f": f, "a": arg}}, {rounds}))
"""

NEAREST_COLD = """
import sys, time
sys.path.insert(0, {pure!r})
start = time.perf_counter()
import tintara.paint as tp
imported = time.perf_counter()
r, g, b = 255, 136, 0
tp.nearest_256(r, g, b)
first = time.perf_counter()
import random
rng = random.Random(3)
colours = [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(20_000)]
f = tp.nearest_256
t0 = time.perf_counter()
for r, g, b in colours:
    f(r, g, b)
t1 = time.perf_counter()
for r, g, b in colours:
    f(r, g, b)
t2 = time.perf_counter()
print((first - imported) * 1e9, (t1 - t0) / len(colours) * 1e9, (t2 - t1) / len(colours) * 1e9)
"""


def in_fresh_process(code: str) -> list[float]:
    out = subprocess.run([sys.executable, "-P", "-c", code], capture_output=True, text=True,
                         check=True, cwd=ROOT).stdout
    return [float(x) for x in out.split()]


def poisoned_and_table_change(b: Bench) -> None:
    rounds = 1 if b.quick else 25
    pure = os.path.join(ROOT, "pure")
    poison = 2_000 if b.quick else 100_000
    b.section(f"fg_code(\"red\") in a fresh process, before and after {poison:,} distinct hex colours")
    floor, hot = in_fresh_process(POISONED.format(pure=pure, poison=0, mix=MIX, rounds=rounds))
    floor2, poisoned = in_fresh_process(POISONED.format(pure=pure, poison=poison, mix=MIX, rounds=rounds))
    b.row('fg_code("red") fresh process', "tintara", hot, "ns/call", floor)
    b.row("", f"tintara after {poison:,} hex", poisoned, "ns/call", floor2,
          lambda: ("<= 1.1x the fresh process (to floor)", poisoned / floor2 <= 1.1 * hot / floor))
    size = 10_000 if b.quick else 100_000
    b.section(f"change one entry of a {size:,}-entry NAMED_COLORS, then fg_code it")
    ext, twin = in_fresh_process(TABLE_CHANGE.format(pure=pure, size=size, rounds=rounds))
    b.row("t[k] = v; fg_code(k)", "tintara", ext, "ns/call", None,
          lambda: (f"<= 2x twin ({ext / twin:.2f}x)", ext <= 2 * twin))
    b.row("", "twin (pure Python)", twin, "ns/call", ext)

    b.section("after a table change (676 names added, a style added): the generic path, fresh process")
    figures = in_fresh_process(AFTER_CHANGE.format(pure=pure, rounds=rounds))
    for i, case in enumerate(['fg_code("theme_qz")', 'fg_code("Bright-Red")', 'fg_code("#ff8800")',
                              'style_on("bold")']):
        ext, twin = figures[2 * i], figures[2 * i + 1]
        b.row(case, "tintara", ext, "ns/call", None,
              (lambda ext, twin: lambda: (f">= 2x faster than twin ({twin / ext:.1f}x)", twin >= 2 * ext))(ext, twin))
        b.row("", "twin (pure Python)", twin, "ns/call", ext)

    b.section("nearest_256 in a fresh process: 20,000 random colours, the first time and again")
    runs = [in_fresh_process(NEAREST_COLD.format(pure=pure)) for _ in range(1 if b.quick else 5)]
    first_call = min(r[0] for r in runs)
    cold = min(r[1] for r in runs)
    warm = min(r[2] for r in runs)
    b.row("first call", "tintara", first_call / 1e6, "ms", None,
          lambda: ("<= 1 ms", first_call <= 1e6))
    b.row("20,000 colours, first pass", "tintara", cold, "ns/call", None,
          lambda: (f"<= 2x warm ({cold / warm:.2f}x)", cold <= 2 * warm))
    b.row("20,000 colours, again", "tintara (warm)", warm, "ns/call")


# ---------------------------------------------------------------------------
# Import time and memory, in fresh interpreters


IMPORTTIME_LINE = re.compile(r"import time:\s*(\d+)\s*\|\s*(\d+)\s*\|\s*(\S.*)$")

PREAMBLE = "import sys; sys.path.insert(0, {pure!r}); "
# Loads the C++ runtime library first, to tell its share of the cost apart.
PRELOAD = "import ctypes; ctypes.CDLL('libstdc++.so.6', ctypes.RTLD_GLOBAL); "


def links_cxx_runtime() -> bool:
    """Whether loading the extension modules maps the C++ runtime library."""
    code = ("import tintara.colors, tintara.detect, tintara.styles, tintara.paint\n"
            "print(any('libstdc++' in line for line in open('/proc/self/maps')))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return out.stdout.strip() == "True"


def import_times(module: str, runs: int, preload: str = "") -> tuple[float, float]:
    """Best self and cumulative import time of module, in ms."""
    selfs, cumulatives = [], []
    code = PREAMBLE.format(pure=os.path.join(ROOT, "pure")) + preload + f"import {module}"
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-X", "importtime", "-c", code], capture_output=True,
                             text=True, check=True, cwd=ROOT).stderr
        for line in out.splitlines():
            m = IMPORTTIME_LINE.match(line)
            if m and m.group(3).strip() == module:
                selfs.append(int(m.group(1)) / 1000)
                cumulatives.append(int(m.group(2)) / 1000)
    return min(selfs), min(cumulatives)


MEMORY_CODE = """
import gc, os, sys
sys.path.insert(0, {pure!r})
import enum, re, typing, tintara, twin
{preload}
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
rss(); gc.collect()
r0, b0 = rss(), sys.getallocatedblocks()
import {pkg}.colors, {pkg}.detect, {pkg}.styles, {pkg}.paint
gc.collect()
print(rss() - r0, sys.getallocatedblocks() - b0)
"""


def memory(pkg: str, runs: int, preload: str = "") -> tuple[float, float]:
    """Median RSS growth (KiB) and allocated-blocks growth of importing the four modules."""
    rss, blocks = [], []
    code = MEMORY_CODE.format(pure=os.path.join(ROOT, "pure"), pkg=pkg, preload=preload)
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", code],
                             capture_output=True, text=True, check=True, cwd=ROOT).stdout.split()
        rss.append(int(out[0]) / 1024)
        blocks.append(int(out[1]))
    return statistics.median(rss), statistics.median(blocks)


def imports(b: Bench) -> None:
    runs = 1 if b.quick else 15
    cxx = links_cxx_runtime()
    b.section("import (self time: the module's own work, without the standard modules it imports)")
    for name in ("colors", "detect", "styles", "paint"):
        own, total = import_times(f"tintara.{name}", runs)
        b.row(f"import tintara.{name}", "tintara (self)", own, "ms", None,
              (lambda own: lambda: ("< 0.3 ms", own < 0.3))(own))
        b.row("", "tintara (with std imports)", total, "ms")
        if cxx:
            warm, _ = import_times(f"tintara.{name}", runs, PRELOAD)
            b.row("", "tintara (self, libstdc++ preloaded)", warm, "ms")
        twin_own, _ = import_times(f"twin.{name}", runs)
        b.row("", "twin (self, from .pyc)", twin_own, "ms", own)
    runs = 1 if b.quick else 5
    b.section("memory added by importing the four modules (std modules already imported)")
    variants = [("tintara", "tintara", ""), ("twin", "twin (pure Python)", "")]
    if cxx:
        variants.insert(1, ("tintara", "tintara, libstdc++ preloaded", PRELOAD))
    for pkg, label, preload in variants:
        kib, blocks = memory(pkg, runs, preload.replace("; ", "\n"))
        b.row("RSS growth", label, kib, "KiB")
        b.row("allocated blocks growth", label, blocks, "blocks")
