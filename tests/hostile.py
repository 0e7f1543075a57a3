"""Hostile helpers shared by the test modules: exceptions and objects that
misbehave, another extension's dict watcher, and child interpreters for
scenarios that change process-wide state for good.

Child code can import this module too (``run_child`` puts ``tests/`` and
``pure/`` on its path), so a scenario reads the same in both places.
"""

import contextlib
import ctypes
import enum
import json
import os
import subprocess
import sys
import textwrap
import traceback

TESTS = os.path.dirname(os.path.abspath(__file__))
PURE = os.path.join(os.path.dirname(TESTS), "pure")


def outcome(call, catch=Exception):
    """What call() gives, to compare and to print as JSON: ["ok", result]
    (an enum member by its name) or [exception type name, message]."""
    try:
        result = call()
    except catch as exc:
        return [type(exc).__name__, str(exc)]
    return ["ok", result.name if isinstance(result, enum.Enum) else result]


class Boom(Exception):
    pass


class BadBool:
    """Truth testing raises."""

    def __bool__(self):
        raise Boom("truth")


class StrRaises:
    """str() of it raises."""

    def __str__(self):
        raise Boom("str")


class Collider:
    """A dict key with the hash of `name` that is never equal to it: placed
    ahead of name in a dict's probe chain (see `plant`), every lookup of
    name compares with it, so its __eq__ runs `hook(other)`.  `calls` counts
    those comparisons: one or more per lookup, as a probe sequence may pass
    the same slot again (see `lookups`)."""

    def __init__(self, name, hook=None):
        self.name = name
        self.hook = hook
        self.calls = 0

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        if other is self:
            return True
        self.calls += 1
        if self.hook is not None:
            self.hook(other)
        return False

    def __repr__(self):
        return f"Collider({self.name!r})"


def plant(table, collider, value=None):
    """Puts collider into table ahead of its name: the name's entry is taken
    out and stored again after it (it moves to the end of the table).  Its
    count starts afresh, and its hook, if any, runs from then on."""
    hook, collider.hook = collider.hook, None
    name = collider.name
    present = name in table
    old = table.pop(name, None)
    table[collider] = value
    if present:
        table[name] = old
    collider.calls = 0
    collider.hook = hook
    return collider


def lookups(table, collider):
    """How many lookups of collider's name in table the comparisons it
    counted stand for."""
    calls, hook = collider.calls, collider.hook
    collider.calls, collider.hook = 0, None
    table.get(collider.name)
    per_lookup = collider.calls
    collider.calls, collider.hook = calls, hook
    assert per_lookup > 0 and calls % per_lookup == 0, (calls, per_lookup)
    return calls // per_lookup


# ---------------------------------------------------------------------------
# Another extension's dict watcher

# PyDict_WatchEvent, in the order of its values.
DICT_EVENTS = ("added", "modified", "deleted", "cloned", "cleared", "deallocated")

# Key and new value are NULL for some events, which ctypes' py_object cannot
# pass: all three arrive as addresses.
_WatchCallback = ctypes.CFUNCTYPE(
    ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p)


def _api(name, restype, *argtypes):
    fn = ctypes.pythonapi[name]  # a new function object: no global prototypes
    fn.restype = restype
    fn.argtypes = argtypes
    return fn


def _object(address):
    return None if address is None else ctypes.cast(address, ctypes.py_object).value


def add_dict_watcher(callback=None):
    """Registers a dict watcher with the C API, as another extension would;
    returns (id, keep-alive), or None when no watcher is left.  callback(event,
    dict, key, new_value), if given, runs for each change of a dict the
    watcher watches; errors it raises are printed, not raised."""

    def on_change(event, d, key, value):
        if callback is not None:
            try:
                callback(DICT_EVENTS[event], _object(d), _object(key), _object(value))
            except BaseException:  # noqa: BLE001 - nowhere to raise it to
                traceback.print_exc()
        return 0

    c_callback = _WatchCallback(on_change)
    add = _api("PyDict_AddWatcher", ctypes.c_int, _WatchCallback)
    try:
        return add(c_callback), c_callback
    except RuntimeError:  # no more dict watcher IDs available
        return None


def clear_dict_watcher(watcher_id):
    _api("PyDict_ClearWatcher", ctypes.c_int, ctypes.c_int)(watcher_id)


@contextlib.contextmanager
def dict_watcher(callback, *dicts):
    """A second dict watcher, registered now and watching dicts, that calls
    callback(event, dict, key, new_value) for each change.  CPython calls the
    watchers of a dict in id order, before the change lands: a watcher
    registered after tintara's therefore runs while tintara has been told of
    the change but the dict still holds the old contents.  Errors the
    callback raises are re-raised on exit, when the watcher is gone."""
    errors = []

    def guarded(*args):
        try:
            callback(*args)
        except BaseException as exc:  # noqa: BLE001 - re-raised below
            errors.append(exc)

    added = add_dict_watcher(guarded)
    assert added is not None, "no dict watcher left"
    watcher_id, keep = added
    watch = _api("PyDict_Watch", ctypes.c_int, ctypes.c_int, ctypes.py_object)
    unwatch = _api("PyDict_Unwatch", ctypes.c_int, ctypes.c_int, ctypes.py_object)
    watched = []
    try:
        for d in dicts:
            watch(watcher_id, d)
            watched.append(d)
        yield watcher_id
    finally:
        for d in watched:
            unwatch(watcher_id, d)
        clear_dict_watcher(watcher_id)
        del keep
    if errors:
        raise errors[0]


@contextlib.contextmanager
def all_dict_watchers_taken():
    """Takes every dict watcher still free; yields how many that was."""
    taken = []
    try:
        while (added := add_dict_watcher()) is not None:
            taken.append(added)
        yield len(taken)
    finally:
        for watcher_id, _ in taken:
            clear_dict_watcher(watcher_id)


def free_dict_watchers():
    with all_dict_watchers_taken() as n:
        return n


# ---------------------------------------------------------------------------
# Child interpreters


def run_child(code, cwd, *flags):
    """Runs code (dedented) in a new interpreter started with flags, so that
    a crash fails the test instead of the run, with tests/ and pure/ on its
    path and the current directory cwd.  A sanitizer report goes to its
    stderr (and so into the failure), not to the report directory of
    tools/asan."""
    env = dict(os.environ)
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
        if name in env:
            env[name] = ":".join(o for o in env[name].split(":") if not o.startswith("log_path="))
    env["PYTHONPATH"] = os.pathsep.join([TESTS, PURE])
    return subprocess.run([sys.executable, "-P", *flags, "-c", textwrap.dedent(code)], env=env,
                          capture_output=True, text=True, cwd=cwd, timeout=120)


def child_json(code, cwd):
    """Runs code under -X dev in a new interpreter (see run_child); it must
    succeed and print JSON on its last line, which is returned."""
    proc = run_child(code, cwd, "-X", "dev")
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout.strip().splitlines()[-1])
