"""The leak hunt's runner, shared by test_refleak and test_refleak_detect.

As CPython's own ``-R 3:3`` does, each group of calls is repeated in rounds,
at least three to warm caches up and three measured: a group leaks when
every measured round leaves ``sys.gettotalrefcount()`` or
``sys.getallocatedblocks()`` higher than the round before.

A case is one call with its expected outcome: a result type (or value), or
the exception it must raise.
"""

import collections.abc
import contextlib
import gc
import sys

import pytest

from fakes import MISSING
from hostile import Boom

# The hunt needs sys.gettotalrefcount; a test module sets this as its mark.
NEEDS_DEBUG_BUILD = pytest.mark.skipif(
    not hasattr(sys, "gettotalrefcount"), reason="needs a debug build of CPython"
)

REPEAT = 20  # calls of each case per round
WARMUP = 3  # rounds at least
MAX_WARMUP = 15
ROUNDS = 3


# Hostile pieces both case files use.


def boom(*args, **kwargs):
    raise Boom


class BadEq:
    __hash__ = object.__hash__

    def __eq__(self, other):
        raise Boom

    __ne__ = __lt__ = __le__ = __gt__ = __ge__ = __eq__


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
