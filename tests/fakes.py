"""Fakes shared by the test modules: streams, and a sys and an os for
detection to look at; a stand-in Windows (``ctypes``, ``ctypes.wintypes``,
``msvcrt`` and the consoles behind kernel32) that runs the console functions
on Linux.

The streams and the sys keep nothing but counters from call to call, so
the leak hunt can call them for ever; a Win logs, and it makes one afresh
for each call.  Children started by ``hostile.run_child`` can import this
module too.
"""

import sys
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


class Recorder:
    """A terminal-like file that records what is done to it."""

    def __init__(self):
        self.calls = []

    def isatty(self):
        return True

    def write(self, text):
        self.calls.append(("write", text))

    def flush(self):
        self.calls.append(("flush",))


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


# ---------------------------------------------------------------------------
# A stand-in Windows.  A Win logs every call into it (and every prototype
# assignment) in order, and answers as its attributes say.

STD = 7  # what GetStdHandle(-11) answers by default
OSF = {1: 11, 2: 12}  # get_osfhandle: file descriptor -> handle


class DWORD:
    def __init__(self, value=0):
        self.value = value


class HANDLE:
    pass


class BOOL:
    pass


class LP_DWORD:
    pass


class Byref:
    def __init__(self, obj):
        self.obj = obj


def shown(arg):
    """Arguments as the log keeps them: a byref as "&" and the type's name."""
    return f"&{type(arg.obj).__name__}" if isinstance(arg, Byref) else arg


class Console:
    def __init__(self, mode=0x3, *, set_ok=True, keeps=True, reads_back=True, fail=None):
        self.mode = mode
        self.set_ok = set_ok  # SetConsoleMode answers non-zero
        self.keeps = keeps  # and the mode set is kept
        self.reads_back = reads_back  # a second GetConsoleMode succeeds
        self.fail = fail or {}  # "GetConsoleMode" / "SetConsoleMode" / "read back" -> exception
        self.reads = 0


class ForeignFunction:
    def __init__(self, win, name, answer):
        object.__setattr__(self, "_win", win)
        object.__setattr__(self, "_name", name)
        object.__setattr__(self, "_answer", answer)

    def __setattr__(self, attr, value):
        self._win.event(f"{self._name}.{attr}", value)
        object.__setattr__(self, attr, value)

    def __call__(self, *args):
        self._win.event(self._name, *map(shown, args))
        return self._answer(*args)


class Kernel32:
    def __init__(self, win):
        self.GetStdHandle = ForeignFunction(win, "GetStdHandle", win.get_std_handle)
        self.GetConsoleMode = ForeignFunction(win, "GetConsoleMode", win.get_console_mode)
        self.SetConsoleMode = ForeignFunction(win, "SetConsoleMode", win.set_console_mode)


class Msvcrt(types.ModuleType):
    def __getattribute__(self, name):
        if name == "get_osfhandle":
            types.ModuleType.__getattribute__(self, "win").event("from msvcrt import")
        return types.ModuleType.__getattribute__(self, name)


class Wintypes(types.ModuleType):
    """Logs reads of its types when its `win.log_types` is set."""

    def __getattribute__(self, name):
        get = types.ModuleType.__getattribute__
        if name in ("DWORD", "HANDLE", "BOOL") and get(self, "win").log_types:
            get(self, "win").event(f"wintypes.{name}")
        return get(self, name)


class Win:
    """A stand-in Windows.  `settings` replace the attributes set here, by
    name: consoles, std_handle, osf, raises, stdout, msvcrt..."""

    def __init__(self, **settings):
        self.log = []
        self.raises = {}  # event name -> exception raised once it is logged
        self.std_handle = STD
        self.osf = dict(OSF)
        self.consoles = {STD: Console(), 11: Console(), 12: Console()}
        self.kernel32 = []
        self.log_types = False
        self.stdout = Stream(fd=1, on_fileno=lambda: self.event("stdout.fileno"))
        self.stderr = Stream(fd=2, on_fileno=lambda: self.event("stderr.fileno"))

        self.wintypes = Wintypes("ctypes.wintypes")
        self.wintypes.win = self
        self.wintypes.DWORD, self.wintypes.HANDLE, self.wintypes.BOOL = DWORD, HANDLE, BOOL
        self.ctypes = types.ModuleType("ctypes")
        self.ctypes.WinDLL = self.windll
        self.ctypes.POINTER = {DWORD: LP_DWORD}.__getitem__
        self.ctypes.byref = Byref
        self.ctypes.wintypes = self.wintypes
        self.msvcrt = Msvcrt("msvcrt")
        self.msvcrt.win = self
        self.msvcrt.get_osfhandle = self.get_osfhandle
        for name, value in settings.items():
            assert hasattr(self, name), name
            setattr(self, name, value)

    def event(self, name, *args):
        self.log.append((name, *args))
        if name in self.raises:
            raise self.raises[name]

    def calls(self, *names):
        return [e for e in self.log if e[0] in names]

    def run(self, fn):
        """fn() with self.stdout and self.stderr as the standard streams
        (MISSING: no such attribute).  They are put in place here, around
        the call, not by install(): pytest's output capture would replace
        them."""
        import pytest  # not at the top: children import this module too

        with pytest.MonkeyPatch.context() as m:
            for name in ("stdout", "stderr"):
                stream = getattr(self, name)
                if stream is MISSING:
                    m.delattr(sys, name)
                else:
                    m.setattr(sys, name, stream)
            return fn()

    def enable(self, detect):
        return self.run(detect.enable_windows_vt)

    def windll(self, *args, **kwargs):
        self.event("WinDLL", *args, kwargs)
        self.kernel32.append(Kernel32(self))
        return self.kernel32[-1]

    def get_osfhandle(self, fd):
        self.event("get_osfhandle", fd)
        if fd not in self.osf:
            raise OSError(9, "Bad file descriptor")
        return self.osf[fd]

    def get_std_handle(self, which):
        return self.std_handle

    def get_console_mode(self, handle, ref):
        console = self.consoles.get(handle)
        if console is None:
            return 0
        console.reads += 1
        step = "GetConsoleMode" if console.reads == 1 else "read back"
        if step in console.fail:
            raise console.fail[step]
        if console.reads > 1 and not console.reads_back:
            return 0
        ref.obj.value = console.mode
        return 1

    def set_console_mode(self, handle, mode):
        console = self.consoles[handle]
        if "SetConsoleMode" in console.fail:
            raise console.fail["SetConsoleMode"]
        if not console.set_ok:
            return 0
        if console.keeps:
            console.mode = mode
        return 1

    def install(self, monkeypatch):
        """Puts this Windows in place: sys.platform and the modules."""
        monkeypatch.setattr(sys, "platform", "win32")
        monkeypatch.setitem(sys.modules, "ctypes", self.ctypes)
        monkeypatch.setitem(sys.modules, "ctypes.wintypes", self.wintypes)
        monkeypatch.setitem(sys.modules, "msvcrt", self.msvcrt)
        return self
