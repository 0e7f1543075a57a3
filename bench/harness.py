"""The bench's timing and its table: a Measure is a timed statement, a
Bench gathers them, runs them in rounds and prints the rows."""

from __future__ import annotations

import os
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PURE = os.path.join(ROOT, "pure")

# Odd: k -> k * MIX mod 2**24 is a bijection of the 24-bit colours, so the
# cold rows and the poisoned process get colours that never repeat.
MIX = 2654435761


class Measure:
    """A timed statement.  Its value, ns per execution, is the best of all
    rounds: every round times every statement once for a few milliseconds,
    so a burst of load on a shared machine spoils a round, not a row."""

    def __init__(self, stmt: str, bind: dict, quick: bool) -> None:
        setup = "\n".join(f"{name} = __bind[{name!r}]" for name in bind) or "pass"
        self.timer = timeit.Timer(stmt, setup, globals={"__bind": bind})
        self.best = float("inf")
        if quick:
            self.number = 20
            return
        number = 16
        while (took := self.timer.timeit(number)) < 0.0005:
            number *= 4
        self.number = max(1, int(number * 0.002 / took))

    def run(self) -> None:
        self.best = min(self.best, self.timer.timeit(self.number) / self.number * 1e9)

    @property
    def value(self) -> float:
        return self.best


def value(x) -> float:
    return x.value if isinstance(x, Measure) else x


class Bench:
    def __init__(self, quick: bool) -> None:
        self.quick = quick
        self.measures: list[Measure] = []
        self.rows: list[tuple] = []

    def time(self, stmt: str, bind: dict) -> Measure:
        m = Measure(stmt, bind, self.quick)
        self.measures.append(m)
        return m

    def once(self, stmt: str, bind: dict, repeat: int) -> float:
        """Seconds for one execution of stmt (a whole throughput loop), best of repeat."""
        setup = "\n".join(f"{name} = __bind[{name!r}]" for name in bind)
        timer = timeit.Timer(stmt, setup, globals={"__bind": bind})
        return min(timer.repeat(1 if self.quick else repeat, 1))

    def run(self) -> None:
        for _ in range(1 if self.quick else 25):
            for m in self.measures:
                m.run()

    def section(self, title: str) -> None:
        self.rows.append(("section", title))

    def row(self, case: str, impl: str, val, unit: str, base=None, target=None) -> None:
        """val and base: Measure or number; ratio = val / base.  target: a
        callable giving (text, ok), with ok None for information only."""
        self.rows.append(("row", case, impl, val, unit, base, target))

    def skip(self, case: str, why: str) -> None:
        self.rows.append(("skip", case, why))

    def print(self) -> None:
        head = f"{'case':<36} {'implementation':<38} {'value':>9} {'unit':<8} {'ratio':>8}  target"
        print(head)
        print("-" * (len(head) + 30))
        for r in self.rows:
            if r[0] == "section":
                print(f"== {r[1]}")
                continue
            if r[0] == "skip":
                print(f"{r[1]:<36} skipped: {r[2]}")
                continue
            _, case, impl, val, unit, base, target = r
            ratio = "" if base is None else f"{value(val) / value(base):.2f}x"
            text, ok = target() if target else ("", None)
            verdict = "" if ok is None else ("PASS" if ok else "FAIL")
            print(f"{case:<36} {impl:<38} {value(val):>9.1f} {unit:<8} {ratio:>8}  "
                  f"{text} {verdict}".rstrip())
