"""Fakes shared by the test modules: streams, and a sys and an os for
detection to look at.

None of them keeps more than counters from call to call, so the leak hunt
can call them for ever.  Children started by ``hostile.run_child`` can
import this module too.
"""

import types

from hostile import Boom

MISSING = object()  # an attribute that is not there

# ---------------------------------------------------------------------------
# Streams, and sys


class Stream:
    """A stream: isatty answers `tty` and counts its calls in `isatty_calls`;
    fileno answers `fd`, or raises OSError when fd is None.  `on_fileno`, if
    given, is called first (a Win logs the call there, and may raise)."""

    def __init__(self, tty=True, fd=1, on_fileno=None):
        self.tty = tty
        self.fd = fd
        self.on_fileno = on_fileno
        self.isatty_calls = 0

    def isatty(self):
        self.isatty_calls += 1
        return self.tty

    def fileno(self):
        if self.on_fileno is not None:
            self.on_fileno()
        if self.fd is None:
            raise OSError("no file descriptor")
        return self.fd


class IsattyRaises:
    def isatty(self):
        raise Boom("isatty")


class IsattyProperty:
    """Looking isatty up raises `exc` (a class or an instance)."""

    def __init__(self, exc):
        self.exc = exc

    @property
    def isatty(self):
        raise self.exc


class Untouchable:
    """A stream that must not be looked at."""

    def __getattribute__(self, name):
        if name.startswith("__"):
            return object.__getattribute__(self, name)
        raise AssertionError(f"stream examined: {name}")


class FakeSys:
    """sys as detection reads it, counting in `reads` the reads of platform,
    stdout and stderr.  Given several platforms, each read of platform
    answers the next one, and the last one stays."""

    def __init__(self, *platforms, stdout=None, stderr=None):
        self.platforms = platforms or ("linux",)
        self.streams = {"stdout": stdout, "stderr": stderr}
        self.reads = {"platform": 0, "stdout": 0, "stderr": 0}

    def _read(self, name):
        n = self.reads[name]
        self.reads[name] = n + 1
        return n

    @property
    def platform(self):
        return self.platforms[min(self._read("platform"), len(self.platforms) - 1)]

    @property
    def stdout(self):
        self._read("stdout")
        return self.streams["stdout"]

    @property
    def stderr(self):
        self._read("stderr")
        return self.streams["stderr"]


def fake_os(**environ):
    return types.SimpleNamespace(environ=environ)
