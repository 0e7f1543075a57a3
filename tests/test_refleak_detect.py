"""Reference and memory-block leaks in tintara.detect, on every path,
repeated: detection from the environment and from streams, and the Windows
paths with stand-in ``ctypes``, ``ctypes.wintypes`` and ``msvcrt`` modules.

Runs only under a debug interpreter, as test_refleak does; the runner is
leakhunt.
"""

import os
import types

import pytest

from fakes import MISSING, Console, FakeSys, IsattyProperty, IsattyRaises, Stream, Win, fake_os
from hostile import BadBool, Boom
from leakhunt import NEEDS_DEBUG_BUILD, BadEq, boom, call_of, check_group, patched, with_attrs

import tintara.detect as detect

pytestmark = NEEDS_DEBUG_BUILD


# ---------------------------------------------------------------------------
# tintara.detect


def detected(stream=None, platform="linux", stdout=None, fn=None, **env):
    """A call of detect_color_level (or fn) with its own environment."""
    fn = fn or detect.detect_color_level
    attrs = {"os": fake_os(**env), "sys": FakeSys(platform, stdout=stdout)}
    return with_attrs(detect, attrs, fn, stream)


ENV_NAMES = ("NO_COLOR", "FORCE_COLOR", "TERM_PROGRAM", "VSCODE_PID", "VSCODE_IPC_HOOK",
             "PYCHARM_HOSTED", "WT_SESSION", "ConEmuANSI", "COLORTERM", "TERM")


def in_environ(fn, *args, sys_ns=None, **env):
    """A call of fn made with the real os.environ holding env (and nothing
    else that detection reads), optionally with detect.sys rebound."""

    def call():
        values = {name: env.get(name, MISSING) for name in ENV_NAMES}
        attrs = {"sys": sys_ns} if sys_ns is not None else {}
        with patched(os.environ, **values), patched(detect, **attrs):
            return fn(*args)

    return call


def linux_sys(encoding="utf-8"):
    fake = FakeSys("linux")
    fake.getfilesystemencoding = encoding if callable(encoding) else (lambda: encoding)
    return fake


def detect_cases():
    L = detect.ColorLevel
    tty = Stream()
    f = detect.detect_color_level
    return [
        ("environ: NO_COLOR", L.NONE, in_environ(f, tty, NO_COLOR="1", FORCE_COLOR="3")),
        ("environ: FORCE_COLOR 2", L.EXTENDED, in_environ(f, None, FORCE_COLOR="2")),
        ("environ: TERM", L.EXTENDED, in_environ(f, tty, TERM="screen-256color")),
        ("environ: nothing", L.NONE, in_environ(f, tty)),
        ("environ: undecodable", L.BASIC, in_environ(f, tty, TERM="xterm-\udcff")),
        ("environ: sys rebound", L.TRUECOLOR,
         in_environ(f, tty, sys_ns=linux_sys(), COLORTERM="24bit")),
        ("environ: other encoding", L.TRUECOLOR,
         in_environ(f, tty, sys_ns=linux_sys("latin-1"), COLORTERM="24bit")),
        ("environ: encoding raises", L.TRUECOLOR,
         in_environ(f, tty, sys_ns=linux_sys(boom), COLORTERM="24bit")),
        ("environ: plain dict", L.BASIC,
         with_attrs(os, {"environ": {"FORCE_COLOR": "1"}}, f, tty)),
        ("NO_COLOR", L.NONE, detected(tty, NO_COLOR="1", FORCE_COLOR="3")),
        ("FORCE_COLOR 0", L.NONE, detected(tty, FORCE_COLOR="0")),
        ("FORCE_COLOR true", L.BASIC, detected(None, FORCE_COLOR="true")),
        ("FORCE_COLOR 2", L.EXTENDED, detected(None, FORCE_COLOR="2")),
        ("FORCE_COLOR 3", L.TRUECOLOR, detected(None, FORCE_COLOR="3")),
        ("FORCE_COLOR other", L.BASIC, detected(None, FORCE_COLOR="yes")),
        ("vscode on windows", L.TRUECOLOR, detected(None, "win32", TERM_PROGRAM="vscode")),
        ("pycharm on windows", L.TRUECOLOR, detected(None, "win32", PYCHARM_HOSTED="1")),
        ("windows terminal", L.TRUECOLOR, detected(tty, "win32", WT_SESSION="x")),
        ("conemu", L.TRUECOLOR, detected(tty, "win32", ConEmuANSI="ON")),
        ("windows console", L.BASIC, detected(tty, "win32", VSCODE_PID="")),
        ("not a tty", L.NONE, detected(Stream(False), TERM="xterm")),
        ("no isatty", L.NONE, detected(object(), TERM="xterm")),
        ("isatty property AttributeError", L.NONE, detected(IsattyProperty(AttributeError))),
        ("default stream", L.BASIC, detected(None, stdout=tty, TERM="xterm")),
        ("default stream None", L.NONE, detected(None, stdout=None, TERM="xterm")),
        ("truecolor", L.TRUECOLOR, detected(tty, COLORTERM="TrueColor", TERM="dumb")),
        ("dumb", L.NONE, detected(tty, TERM="DUMB")),
        ("256 colours", L.EXTENDED, detected(tty, TERM="xterm-256color")),
        ("xterm", L.BASIC, detected(tty, TERM="xterm")),
        ("no TERM", L.NONE, detected(tty)),
        ("real environment", L, call_of(f, Stream(False))),
        ("isatty raises", Boom, detected(IsattyRaises())),
        ("isatty property raises", Boom, detected(IsattyProperty(Boom))),
        ("isatty not callable", TypeError, detected(types.SimpleNamespace(isatty=5))),
        ("isatty truth raises", Boom, detected(types.SimpleNamespace(isatty=BadBool))),
        ("environ value compares badly", Boom, detected(tty, NO_COLOR=BadEq())),
        ("FORCE_COLOR compares badly", Boom, with_attrs(
            detect, {"os": types.SimpleNamespace(environ=types.SimpleNamespace(
                get=lambda k, d=None: BadEq() if k == "FORCE_COLOR" else d))}, f, tty)),
        ("environ get raises", Boom,
         with_attrs(detect, {"os": types.SimpleNamespace(environ=types.SimpleNamespace(get=boom))}, f)),
        ("environ missing", AttributeError, with_attrs(detect, {"os": object()}, f)),
        ("COLORTERM not str", AttributeError, detected(tty, COLORTERM=5)),
        ("TERM not str", AttributeError, detected(tty, TERM=5)),
        ("platform compares badly", Boom, with_attrs(
            detect, {"os": fake_os(), "sys": FakeSys(BadEq())}, f, tty)),
        ("os deleted", NameError, with_attrs(detect, {"os": MISSING}, f)),
        ("sys deleted", NameError, with_attrs(detect, {"sys": MISSING, "os": fake_os()}, f, tty)),
        ("ColorLevel deleted", NameError,
         with_attrs(detect, {"ColorLevel": MISSING, "os": fake_os()}, f, Stream(False))),
        ("ColorLevel rebound", "n", with_attrs(
            detect, {"ColorLevel": types.SimpleNamespace(NONE="n"), "os": fake_os()}, f, Stream(False))),
        ("keyword", L, call_of(f, stream=Stream(False))),
        ("two args", TypeError, call_of(f, None, None)),
        ("unexpected keyword", TypeError, call_of(f, file=None)),
        ("duplicate keyword", TypeError, call_of(f, None, stream=None)),
    ]


def supports_color_cases():
    f = detect.supports_color
    tty = Stream()
    return [
        ("forced", True, detected(None, FORCE_COLOR="1", fn=f)),
        ("forced off", False, detected(None, FORCE_COLOR="0", fn=f)),
        ("terminal", True, detected(tty, TERM="xterm", fn=f)),
        ("not a terminal", False, detected(Stream(False), fn=f)),
        ("default stream", False, detected(None, stdout=None, fn=f)),
        ("keyword", bool, call_of(f, stream=Stream(False))),
        ("detection raises", Boom, detected(IsattyRaises(), fn=f)),
        ("rebound detection", True, with_attrs(detect, {"detect_color_level": lambda s: 5}, f)),
        ("result not comparable", TypeError,
         with_attrs(detect, {"detect_color_level": lambda s: object()}, f)),
        ("comparison raises", Boom, with_attrs(detect, {"detect_color_level": lambda s: BadEq()}, f)),
        ("detect_color_level deleted", NameError, with_attrs(detect, {"detect_color_level": MISSING}, f)),
        ("ColorLevel deleted", NameError,
         with_attrs(detect, {"ColorLevel": MISSING, "detect_color_level": lambda s: 1}, f)),
        ("two args", TypeError, call_of(f, None, None)),
        ("unexpected keyword", TypeError, call_of(f, file=None)),
    ]


# The Windows paths, on a stand-in Windows (see fakes.Win).  Handles:
# stdout's descriptor 1 is 11, stderr's 2 is 12, the standard output device 7.


def on_windows(fn, make=Win, sys_ns=None):
    """A call of fn on a Win that make() builds afresh for each call,
    optionally with detect.sys rebound."""

    def call():
        win = make()
        with pytest.MonkeyPatch.context() as m:
            win.install(m)
            if sys_ns is not None:
                m.setattr(detect, "sys", sys_ns)
            return win.run(fn)

    return call


def without_windll():
    win = Win()
    del win.ctypes.WinDLL
    return win


def console_cases():
    f = detect._has_windows_console

    def real_ctypes():  # the Linux ctypes has no WinDLL
        with patched(detect, sys=FakeSys("win32")):
            return f()

    return [
        ("other platform", False, call_of(f)),
        ("linux ctypes", False, real_ctypes),
        ("console", True, on_windows(f)),
        ("no console", False, on_windows(f, lambda: Win(consoles={}))),
        ("null handle", False, on_windows(f, lambda: Win(std_handle=None))),
        ("handle 0", False, on_windows(f, lambda: Win(std_handle=0))),
        ("handle -1", False, on_windows(f, lambda: Win(std_handle=-1))),
        ("handle compares badly", False, on_windows(f, lambda: Win(std_handle=BadEq()))),
        ("query raises", False, on_windows(f, lambda: Win(raises={"GetConsoleMode": Boom()}))),
        ("query interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"GetConsoleMode": KeyboardInterrupt()}))),
        ("query result truth raises", False,
         on_windows(f, lambda: Win(get_console_mode=lambda handle, ref: BadBool()))),
        ("no WinDLL", False, on_windows(f, without_windll)),
        ("WinDLL raises", False, on_windows(f, lambda: Win(raises={"WinDLL": Boom()}))),
        ("WinDLL interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"WinDLL": KeyboardInterrupt()}))),
        ("argtypes refused", False,
         on_windows(f, lambda: Win(raises={"GetStdHandle.argtypes": Boom()}))),
        ("platform compares badly", Boom, with_attrs(detect, {"sys": FakeSys(BadEq())}, f)),
        ("sys deleted", NameError, with_attrs(detect, {"sys": MISSING}, f)),
        ("argument", TypeError, call_of(f, 1)),
        ("keyword", TypeError, call_of(f, x=1)),
        ("argument and keyword", TypeError, call_of(f, 1, x=1)),
    ]


def vt_cases():
    f = detect.enable_windows_vt

    def consoles(**options):  # the two streams' consoles, mode 0
        return lambda: Win(consoles={11: Console(0, **options), 12: Console(0, **options)})

    class StderrRaises:
        platform = "win32"
        stdout = Stream()

        @property
        def stderr(self):
            raise Boom

    def real_modules():  # no msvcrt, and a ctypes without WinDLL
        with patched(detect, sys=FakeSys("win32", stdout=Stream(), stderr=Stream())):
            return f()

    return [
        ("other platform", False, call_of(f)),
        ("linux modules", False, real_modules),
        ("stdout console", True, on_windows(f, consoles())),
        ("stdout file, stderr console", True, on_windows(f, lambda: Win(consoles={12: Console(0)}))),
        ("no console", False, on_windows(f, lambda: Win(consoles={}))),
        ("flag already set", True, on_windows(f, lambda: Win(consoles={11: Console(4)}))),
        ("fileno raises: standard output device", True,
         on_windows(f, lambda: Win(raises={"stdout.fileno": OSError("no file descriptor")}))),
        ("stdout None: standard output device", True,
         on_windows(f, lambda: Win(stdout=None, stderr=None))),
        ("get_osfhandle raises", True, on_windows(f, lambda: Win(osf={}))),
        ("get_osfhandle -1", True, on_windows(f, lambda: Win(osf={1: -1, 2: -1}))),
        # msvcrt None in sys.modules: its import raises ImportError.
        ("no msvcrt", True, on_windows(f, lambda: Win(msvcrt=None))),
        ("no msvcrt, null device", False, on_windows(f, lambda: Win(std_handle=0, msvcrt=None))),
        ("no msvcrt, invalid device", False,
         on_windows(f, lambda: Win(std_handle=-1, msvcrt=None))),
        ("msvcrt lookup raises", Boom,
         on_windows(f, lambda: Win(raises={"from msvcrt import": Boom()}))),
        ("set refused", False, on_windows(f, consoles(set_ok=False))),
        ("flag not kept", False, on_windows(f, consoles(keeps=False))),
        # A class, not an instance: raised again and again, an instance would
        # keep every traceback.
        ("read back raises", False, on_windows(f, consoles(fail={"read back": Boom}))),
        ("read back fails, flag was set", True,
         on_windows(f, lambda: Win(consoles={11: Console(4, reads_back=False)}))),
        ("read back fails, flag was not set", False,
         on_windows(f, lambda: Win(consoles={11: Console(0, reads_back=False)}))),
        ("query raises", False, on_windows(f, lambda: Win(raises={"GetConsoleMode": Boom()}))),
        ("query interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"GetConsoleMode": KeyboardInterrupt()}))),
        ("handle compares badly", False,
         on_windows(f, lambda: Win(osf={1: BadEq(), 2: BadEq()}))),
        ("no WinDLL", False, on_windows(f, without_windll)),
        ("WinDLL raises", False, on_windows(f, lambda: Win(raises={"WinDLL": Boom()}))),
        ("WinDLL interrupted", KeyboardInterrupt,
         on_windows(f, lambda: Win(raises={"WinDLL": KeyboardInterrupt()}))),
        ("argtypes refused", False,
         on_windows(f, lambda: Win(raises={"GetConsoleMode.argtypes": Boom()}))),
        ("stderr raises", Boom, on_windows(f, sys_ns=StderrRaises())),
        ("sys deleted", NameError, with_attrs(detect, {"sys": MISSING}, f)),
        ("argument", TypeError, call_of(f, 1)),
        ("keyword", TypeError, call_of(f, x=1)),
    ]


# ---------------------------------------------------------------------------

GROUPS = {
    "detect.detect_color_level": detect_cases,
    "detect.supports_color": supports_color_cases,
    "detect._has_windows_console": console_cases,
    "detect.enable_windows_vt": vt_cases,
}


@pytest.mark.parametrize("group", GROUPS)
def test_no_leaks(group):
    check_group(GROUPS[group]())
