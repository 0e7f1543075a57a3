"""Threads: several threads call every function while another one rebinds and
mutates the module tables and constants.  Nothing crashes or deadlocks, and
every outcome (result, or exception type and message) is one that some
combination of the tables' states allows.
"""

import itertools
import os
import random
import sys
import threading
import time

import pytest

from fakes import Stream

import tintara.colors as colors
import tintara.detect as detect
import tintara.styles as styles

DURATION = 1.5  # seconds of concurrent calls
WORKERS = 4
DELETED = object()


TTY = Stream()

# Calls made by the workers: success and error paths of every function.
CALLS = [
    (colors.fg_code, ("red",)),
    (colors.bg_code, ("grey",)),
    (colors.fg_code, ("orange",)),
    (colors.bg_code, ("#ff8800",)),
    (colors.fg_code, ("#12",)),
    (colors.fg_code, (196,)),
    (colors.bg_code, ((1, 2, 3),)),
    (colors.fg_code, ((300, 0, 0),)),
    (colors._color_code, ("bright-red",), {"foreground": False}),
    (colors.parse_hex, ("#F80",)),
    (colors.rgb_to_ansi256, (255, 128, 0)),
    (colors._validate_rgb, (0, 256, 0)),
    (styles.style_on, ("bold",)),
    (styles.style_off, ("strike",)),
    (styles.style_on, ("nope",)),
    (detect.detect_color_level, (TTY,)),
    (detect.supports_color, (None,)),
    (detect._has_windows_console, ()),
    (detect.enable_windows_vt, ()),
]


def wrapper(fn):
    """A Python function standing in for a module function, calling it."""
    return lambda *args, **kwargs: fn(*args, **kwargs)


def environ_setter(value):
    def apply():
        os.environ["FORCE_COLOR"] = value
    return apply


def setter(target, key, value):
    def apply():
        if isinstance(target, dict):
            target[key] = value
        elif value is DELETED:
            vars(target).pop(key, None)
        else:
            setattr(target, key, value)
    return apply


OTHER_COLORS = {"red": 35, "bright_black": 93, "white": 97}

# Each toggle: the states one thing can be in (the first is the original).
# These change outcomes...
TOGGLES = [
    [setter(colors, "ESC", "\x1b["), setter(colors, "ESC", "<"), setter(colors, "ESC", DELETED)],
    [setter(colors.NAMED_COLORS, "red", 31), setter(colors.NAMED_COLORS, "red", 91)],
    [setter(colors, "NAMED_COLORS", colors.NAMED_COLORS), setter(colors, "NAMED_COLORS", OTHER_COLORS)],
    [setter(colors.COLOR_ALIASES, "grey", "bright_black"), setter(colors.COLOR_ALIASES, "grey", "white")],
    [setter(styles.STYLES, "bold", (1, 22)), setter(styles.STYLES, "bold", [5, 25])],
    [setter(styles, "ESC", "\x1b["), setter(styles, "ESC", 27)],
    [environ_setter("1"), environ_setter("2"), environ_setter("3")],
]
# ... and these do not: a module function replaced by a Python function
# that calls it.
TRANSPARENT = [
    [setter(colors, "_color_code", colors._color_code),
     setter(colors, "_color_code", wrapper(colors._color_code))],
    [setter(colors, "parse_hex", colors.parse_hex), setter(colors, "parse_hex", wrapper(colors.parse_hex))],
    [setter(colors, "_validate_rgb", colors._validate_rgb),
     setter(colors, "_validate_rgb", wrapper(colors._validate_rgb))],
]


def outcome(call):
    fn, args, kwargs = (*call, {})[:3]
    try:
        result = fn(*args, **kwargs)
    except Exception as exc:
        return ("error", type(exc).__name__, str(exc))
    return ("ok", type(result).__name__, repr(result))


@pytest.fixture
def tables(monkeypatch):
    """Everything the toggles touch, restored afterwards."""
    for module, name in [(colors, "ESC"), (colors, "NAMED_COLORS"), (colors, "_color_code"),
                         (colors, "parse_hex"), (colors, "_validate_rgb"), (styles, "ESC")]:
        monkeypatch.setattr(module, name, getattr(module, name))
    for table, key in [(colors.NAMED_COLORS, "red"), (colors.COLOR_ALIASES, "grey"),
                       (styles.STYLES, "bold")]:
        monkeypatch.setitem(table, key, table[key])
    monkeypatch.setenv("FORCE_COLOR", "1")
    monkeypatch.delenv("NO_COLOR", raising=False)
    monkeypatch.setattr(sys, "platform", "linux")  # the checks below assume it


def allowed_outcomes():
    """For each call, its outcomes under every combination of the toggles."""
    allowed = [set() for _ in CALLS]
    for combination in itertools.product(*TOGGLES):
        for apply in combination:
            apply()
        for i, call in enumerate(CALLS):
            allowed[i].add(outcome(call))
    for states in TOGGLES:
        states[0]()
    return allowed


def test_concurrent_calls_and_mutations(tables):
    allowed = allowed_outcomes()
    stop = threading.Event()
    unexpected = []
    counts = [0] * WORKERS

    def worker(n):
        rng = random.Random(n)
        order = list(range(len(CALLS)))
        while not stop.is_set():
            rng.shuffle(order)
            for i in order:
                seen = outcome(CALLS[i])
                if seen not in allowed[i]:
                    unexpected.append((CALLS[i], seen))
                counts[n] += 1

    def mutator():
        rng = random.Random(99)
        toggles = TOGGLES + TRANSPARENT
        while not stop.is_set():
            rng.choice(rng.choice(toggles))()

    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    threads = [threading.Thread(target=worker, args=(n,)) for n in range(WORKERS)]
    threads.append(threading.Thread(target=mutator))
    try:
        for t in threads:
            t.start()
        time.sleep(DURATION)
    finally:
        stop.set()
        for t in threads:
            t.join(timeout=30)
        sys.setswitchinterval(old_interval)
    assert not any(t.is_alive() for t in threads), "a thread is stuck"
    assert not unexpected, unexpected[:10]
    assert all(counts), counts  # every worker got to run
