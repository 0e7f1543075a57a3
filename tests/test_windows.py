"""The Windows console functions, every branch exercised on Linux.

`sys.platform` is set to "win32" and stand-ins for ``ctypes``,
``ctypes.wintypes`` and ``msvcrt`` (``fakes.Win``) are put into
``sys.modules``.  They log every call (and every prototype assignment) in
order and answer as the test configures them.
"""

import gc
import importlib.abc
import io
import os
import subprocess
import sys
import traceback
import types

import pytest

from fakes import BOOL, DWORD, HANDLE, LP_DWORD, MISSING, STD, Console, Win

import tintara.detect


@pytest.fixture
def win(monkeypatch):
    return Win().install(monkeypatch)


LOAD = ("WinDLL", "kernel32", {"use_last_error": True})
PROBE_PROTOTYPES = [
    LOAD,
    ("GetStdHandle.argtypes", [DWORD]),
    ("GetStdHandle.restype", HANDLE),
    ("GetConsoleMode.argtypes", [HANDLE, LP_DWORD]),
    ("GetConsoleMode.restype", BOOL),
]
ENABLE_PROTOTYPES = [
    ("from msvcrt import",),
    LOAD,
    ("GetConsoleMode.argtypes", [HANDLE, LP_DWORD]),
    ("GetConsoleMode.restype", BOOL),
    ("SetConsoleMode.argtypes", [HANDLE, DWORD]),
    ("SetConsoleMode.restype", BOOL),
]


def enabling(handle, new_mode):
    return [("GetConsoleMode", handle, "&DWORD"), ("SetConsoleMode", handle, new_mode),
            ("GetConsoleMode", handle, "&DWORD")]


def names(excinfo, first):
    """The traceback's entries from the one named `first` on."""
    found = [f.name for f in traceback.extract_tb(excinfo.value.__traceback__)]
    return found[found.index(first):] if first in found else found


# ---------------------------------------------------------------------------
# Off Windows


class ImportRecorder(importlib.abc.MetaPathFinder):
    def __init__(self):
        self.names = []

    def find_spec(self, name, path=None, target=None):
        self.names.append(name)


@pytest.mark.parametrize("platform", ["linux", "cygwin", "win32"])
def test_real_modules(detect, monkeypatch, platform):
    """With the interpreter's own modules: nothing is imported off Windows;
    on "win32" here ctypes has no WinDLL and there is no msvcrt."""
    for name in list(sys.modules):
        if name in ("ctypes", "msvcrt") or name.startswith("ctypes."):
            monkeypatch.delitem(sys.modules, name)
    recorder = ImportRecorder()
    monkeypatch.setattr(sys, "meta_path", [recorder, *sys.meta_path])
    monkeypatch.setattr(sys, "platform", platform)

    assert detect.enable_windows_vt() is False
    assert detect._has_windows_console() is False
    if platform == "win32":
        assert recorder.names[:2] == ["msvcrt", "ctypes"]
        assert "ctypes.wintypes" in recorder.names
    else:
        assert recorder.names == []


@pytest.mark.parametrize("platform", ["linux", "WIN32", "win"])
def test_nothing_happens_off_windows(detect, win, monkeypatch, platform):
    monkeypatch.setattr(sys, "platform", platform)
    win.stdout = None
    assert detect._has_windows_console() is False
    assert win.enable(detect) is False
    assert win.log == []


# ---------------------------------------------------------------------------
# _has_windows_console


def test_probe_finds_console(detect, win, monkeypatch):
    monkeypatch.setattr(sys, "stdout", None)  # sys.stdout plays no part
    assert detect._has_windows_console() is True
    assert win.log == [*PROBE_PROTOTYPES, ("GetStdHandle", -11),
                       ("GetConsoleMode", STD, "&DWORD")]
    assert win.consoles[STD].mode == 0x3
    # A fresh library object and fresh prototypes on every call.
    win.log.clear()
    assert detect._has_windows_console() is True
    assert win.log[:5] == PROBE_PROTOTYPES and len(win.kernel32) == 2


@pytest.mark.parametrize("handle, queried", [
    (None, True),  # a null handle under the HANDLE restype: the query fails
    (0, False),
    (-1, False),
    (42, True),  # a pipe or a file
])
def test_probe_without_console(detect, win, handle, queried):
    win.std_handle = handle
    assert detect._has_windows_console() is False
    assert win.calls("GetConsoleMode") == ([("GetConsoleMode", handle, "&DWORD")] if queried else [])


@pytest.mark.parametrize("answer, expected", [(5, True), (-1, True), (0, False), (None, False)])
def test_probe_result_is_a_bool(detect, win, monkeypatch, answer, expected):
    monkeypatch.setattr(win, "get_console_mode", lambda handle, ref: answer)
    assert detect._has_windows_console() is expected


# ---------------------------------------------------------------------------
# Set-up failures, shared by both functions


def no_windll(win, monkeypatch):
    monkeypatch.delattr(win.ctypes, "WinDLL")


def windll_fails(win, monkeypatch):
    win.raises["WinDLL"] = OSError("[WinError 126] The specified module could not be found")


def no_ctypes(win, monkeypatch):
    monkeypatch.setitem(sys.modules, "ctypes", None)


def no_wintypes(win, monkeypatch):
    monkeypatch.delattr(win.ctypes, "wintypes")
    monkeypatch.delitem(sys.modules, "ctypes.wintypes")


def empty_kernel32(win, monkeypatch):
    monkeypatch.setattr(win.ctypes, "WinDLL", lambda *args, **kwargs: types.SimpleNamespace())


def argtypes_refused(win, monkeypatch):
    win.raises["GetConsoleMode.argtypes"] = TypeError("item 2 in _argtypes_ has no from_param")


def restype_refused(win, monkeypatch):
    win.raises["GetConsoleMode.restype"] = TypeError("restype must be a type")


def no_pointer(win, monkeypatch):
    monkeypatch.setattr(win.ctypes, "POINTER", {}.__getitem__)


@pytest.mark.parametrize("breakage", [
    no_windll, windll_fails, no_ctypes, no_wintypes, empty_kernel32,
    argtypes_refused, restype_refused, no_pointer,
])
def test_setup_failures_give_false(detect, win, monkeypatch, breakage):
    breakage(win, monkeypatch)
    assert detect._has_windows_console() is False
    assert win.enable(detect) is False
    assert sys.exc_info() == (None, None, None)
    # Neither stream is tried, and nothing is called on a console.
    assert win.calls("stdout.fileno", "stderr.fileno", "GetStdHandle", "GetConsoleMode",
                     "SetConsoleMode") == []


def test_set_console_mode_prototype_refused(detect, win):
    win.raises["SetConsoleMode.restype"] = TypeError("restype")
    assert win.enable(detect) is False
    assert win.log == ENABLE_PROTOTYPES
    assert detect._has_windows_console() is True  # the probe does not need it


def test_prototype_steps_in_order(detect, win):
    """Each type is read where its statement needs it: a restype's type after
    the argtypes assignment before it, DWORD again for `mode`."""
    win.log_types = True
    assert detect._has_windows_console() is True
    assert [e[0] for e in win.log] == [
        "WinDLL",
        "wintypes.DWORD", "GetStdHandle.argtypes", "wintypes.HANDLE", "GetStdHandle.restype",
        "wintypes.HANDLE", "wintypes.DWORD", "GetConsoleMode.argtypes",
        "wintypes.BOOL", "GetConsoleMode.restype",
        "GetStdHandle", "wintypes.DWORD", "GetConsoleMode"]
    win.log.clear()
    assert win.enable(detect) is True
    assert [e[0] for e in win.log] == [
        "from msvcrt import", "WinDLL",
        "wintypes.HANDLE", "wintypes.DWORD", "GetConsoleMode.argtypes",
        "wintypes.BOOL", "GetConsoleMode.restype",
        "wintypes.HANDLE", "wintypes.DWORD", "SetConsoleMode.argtypes",
        "wintypes.BOOL", "SetConsoleMode.restype",
        "stdout.fileno", "get_osfhandle", "wintypes.DWORD",
        "GetConsoleMode", "SetConsoleMode", "GetConsoleMode"]


PURE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "pure")


@pytest.mark.parametrize("missing", ["HANDLE", "BOOL"])
def test_missing_wintype(detect, missing):
    # In a child process: a broken interpreter state must not take the suite down.
    script = f"""if 1:
        import importlib, sys
        sys.path[:0] = [{os.path.dirname(__file__)!r}, {PURE!r}]
        import pytest, fakes
        detect = importlib.import_module({detect.__name__!r})
        win = fakes.Win().install(pytest.MonkeyPatch())
        delattr(win.wintypes, {missing!r})
        print(detect._has_windows_console(), win.enable(detect),
              win.calls("GetStdHandle", "GetConsoleMode", "stdout.fileno"))
    """
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert (run.returncode, run.stdout, run.stderr) == (0, "False False []\n", "")


# ---------------------------------------------------------------------------
# enable_windows_vt


def test_enable_on_stdout_leaves_stderr_untried(detect, win):
    assert win.enable(detect) is True
    assert win.log == [*ENABLE_PROTOTYPES, ("stdout.fileno",), ("get_osfhandle", 1),
                       *enabling(11, 0x7)]
    assert win.consoles[11].mode == 0x7 and win.consoles[12].mode == 0x3
    # GetStdHandle is neither declared nor called.
    assert not [e for e in win.log if e[0].startswith("GetStdHandle")]


def test_stdout_redirected_stderr_console(detect, win):
    win.osf[1] = 21  # a file: GetConsoleMode fails, and no fallback follows
    assert win.enable(detect) is True
    assert win.log[len(ENABLE_PROTOTYPES):] == [
        ("stdout.fileno",), ("get_osfhandle", 1), ("GetConsoleMode", 21, "&DWORD"),
        ("stderr.fileno",), ("get_osfhandle", 2), *enabling(12, 0x7)]


@pytest.mark.parametrize("old, new", [
    (0x0, 0x4), (0x3, 0x7), (0x7, 0x7), (0x4, 0x4), (0x1F0, 0x1F4), (0xFFFB, 0xFFFF),
])
def test_flag_is_or_ed_into_the_mode(detect, win, old, new):
    win.consoles[11].mode = old
    assert win.enable(detect) is True
    # Set even when already there.
    assert win.calls("SetConsoleMode") == [("SetConsoleMode", 11, new)]
    assert win.consoles[11].mode == new


def test_second_call_sets_again(detect, win):
    assert win.enable(detect) is True
    win.log.clear()
    assert win.enable(detect) is True
    assert win.log == [*ENABLE_PROTOTYPES, ("stdout.fileno",), ("get_osfhandle", 1),
                       *enabling(11, 0x7)]
    assert len(win.kernel32) == 2


def stdout_gone(win, monkeypatch):
    win.stdout = None


def fileno_unsupported(win, monkeypatch):
    win.raises["stdout.fileno"] = io.UnsupportedOperation("fileno")


def no_os_handle(win, monkeypatch):
    del win.osf[1]


def os_handle_invalid(win, monkeypatch):
    win.osf[1] = -1


def os_handle_none(win, monkeypatch):
    win.osf[1] = None


@pytest.mark.parametrize("setup, before", [
    (stdout_gone, []),
    (fileno_unsupported, [("stdout.fileno",)]),
    (no_os_handle, [("stdout.fileno",), ("get_osfhandle", 1)]),
    (os_handle_invalid, [("stdout.fileno",), ("get_osfhandle", 1)]),
    (os_handle_none, [("stdout.fileno",), ("get_osfhandle", 1)]),
])
def test_fallback_to_standard_output_device(detect, win, monkeypatch, setup, before):
    setup(win, monkeypatch)
    assert win.enable(detect) is True
    # kernel32.GetStdHandle straight from the library, without a prototype.
    assert win.log[len(ENABLE_PROTOTYPES):] == [*before, ("GetStdHandle", -11),
                                                *enabling(STD, 0x7)]


def test_stderr_falls_back_to_standard_output_too(detect, win):
    win.osf[1] = 21
    win.raises["stderr.fileno"] = ValueError("I/O operation on closed file")
    win.consoles[STD] = Console(0x1)
    assert win.enable(detect) is True
    assert win.log[-5:] == [("stderr.fileno",), ("GetStdHandle", -11), *enabling(STD, 0x5)]


@pytest.mark.parametrize("missing", [None, types.ModuleType("msvcrt")])
def test_without_msvcrt(detect, win, monkeypatch, missing):
    monkeypatch.setitem(sys.modules, "msvcrt", missing)
    win.consoles[STD] = Console(set_ok=False)
    assert win.enable(detect) is False
    # No fileno() at all: both streams ask for the standard output device.
    assert win.log == [*ENABLE_PROTOTYPES[1:],
                       ("GetStdHandle", -11), ("GetConsoleMode", STD, "&DWORD"),
                       ("SetConsoleMode", STD, 0x7),
                       ("GetStdHandle", -11), ("GetConsoleMode", STD, "&DWORD"),
                       ("SetConsoleMode", STD, 0x7)]


@pytest.mark.parametrize("std_handle, queried", [(0, False), (-1, False), (99, True)])
def test_fallback_without_console(detect, win, std_handle, queried):
    win.osf = {}
    win.std_handle = std_handle
    assert win.enable(detect) is False
    assert len(win.calls("GetStdHandle")) == 2
    assert len(win.calls("GetConsoleMode")) == (2 if queried else 0)


def test_fallback_raising(detect, win):
    win.osf = {}
    win.raises["GetStdHandle"] = OSError("exception: access violation")
    assert win.enable(detect) is False
    assert win.calls("GetStdHandle", "GetConsoleMode") == [("GetStdHandle", -11)] * 2


def test_null_or_invalid_os_handle(detect, win):
    win.osf = {1: 0, 2: 0}  # a null handle ends the attempt
    assert win.enable(detect) is False
    assert win.calls("GetStdHandle", "GetConsoleMode") == []
    win.osf = {1: -1, 2: 0}  # the invalid handle falls back to the standard output device
    assert win.enable(detect) is True
    assert win.calls("GetStdHandle", "SetConsoleMode") == [
        ("GetStdHandle", -11), ("SetConsoleMode", STD, 0x7)]


@pytest.mark.parametrize("console, tail", [
    # SetConsoleMode fails: no read-back.
    (dict(set_ok=False), [("GetConsoleMode", 11, "&DWORD"), ("SetConsoleMode", 11, 0x7)]),
    # Accepted but read back without the flag.
    (dict(keeps=False), enabling(11, 0x7)),
    # Read-back fails: the mode read before stands, without the flag.
    (dict(keeps=False, reads_back=False), enabling(11, 0x7)),
    # Errors inside _try_enable end that stream's attempt only.
    (dict(fail={"GetConsoleMode": OSError("query")}), [("GetConsoleMode", 11, "&DWORD")]),
    (dict(fail={"SetConsoleMode": ValueError("set")}), enabling(11, 0x7)[:2]),
    (dict(fail={"read back": TypeError("read")}), enabling(11, 0x7)),
])
def test_first_stream_fails_second_succeeds(detect, win, console, tail):
    win.consoles[11] = Console(**console)
    assert win.enable(detect) is True
    assert win.log[len(ENABLE_PROTOTYPES):] == [
        ("stdout.fileno",), ("get_osfhandle", 1), *tail,
        ("stderr.fileno",), ("get_osfhandle", 2), *enabling(12, 0x7)]


def test_both_streams_fail(detect, win):
    win.consoles[11] = Console(keeps=False)
    win.consoles[12] = Console(set_ok=False)
    assert win.enable(detect) is False
    assert len(win.calls("SetConsoleMode")) == 2


@pytest.mark.parametrize("reads_back", [True, False])
def test_flag_already_set(detect, win, reads_back):
    win.consoles[11] = Console(0x7, keeps=False, reads_back=reads_back)
    assert win.enable(detect) is True
    assert win.calls("SetConsoleMode") == [("SetConsoleMode", 11, 0x7)]


# ---------------------------------------------------------------------------
# Exceptions that are not absorbed


@pytest.mark.parametrize("where", [
    "WinDLL", "GetConsoleMode.argtypes", "SetConsoleMode.restype", "from msvcrt import",
    "stdout.fileno", "get_osfhandle", "GetStdHandle", "GetConsoleMode", "SetConsoleMode",
])
def test_keyboard_interrupt_propagates_from_enable(detect, win, where):
    if where == "GetStdHandle":
        win.osf = {}
    win.raises[where] = KeyboardInterrupt(where)
    with pytest.raises(KeyboardInterrupt, match=where):
        win.enable(detect)


@pytest.mark.parametrize("where", [
    "WinDLL", "GetStdHandle.argtypes", "GetConsoleMode.restype", "GetStdHandle", "GetConsoleMode",
])
def test_keyboard_interrupt_propagates_from_probe(detect, win, where):
    win.raises[where] = KeyboardInterrupt(where)
    with pytest.raises(KeyboardInterrupt, match=where):
        detect._has_windows_console()


def test_msvcrt_error_other_than_import_error(detect, win):
    win.raises["from msvcrt import"] = RuntimeError("msvcrt is broken")
    with pytest.raises(RuntimeError, match="msvcrt is broken"):
        win.enable(detect)
    assert win.log == [("from msvcrt import",)]  # before ctypes is reached


@pytest.mark.parametrize("name", ["stdout", "stderr"])
def test_missing_standard_stream(detect, win, name):
    setattr(win, name, MISSING)
    with pytest.raises(AttributeError, match=name):
        win.enable(detect)
    # Both are read before either is tried.
    assert win.log == ENABLE_PROTOTYPES


@pytest.mark.parametrize("fn", ["_has_windows_console", "enable_windows_vt"])
def test_platform_read_is_unguarded(detect, win, monkeypatch, fn):
    monkeypatch.setattr(detect, "sys", types.SimpleNamespace())
    with pytest.raises(AttributeError, match="platform"):
        getattr(detect, fn)()
    monkeypatch.delattr(detect, "sys")
    with pytest.raises(NameError, match="^name 'sys' is not defined$"):
        getattr(detect, fn)()
    assert win.log == []


# ---------------------------------------------------------------------------
# The extension's function objects, traceback entries and binding


def test_traceback_entries(win):
    win.consoles[11] = Console(fail={"GetConsoleMode": KeyboardInterrupt()})
    with pytest.raises(KeyboardInterrupt) as excinfo:
        win.enable(tintara.detect)
    assert names(excinfo, "tintara.detect.enable_windows_vt")[:3] == [
        "tintara.detect.enable_windows_vt", "tintara.detect.enable_windows_vt._try_enable",
        "__call__"]
    win.raises["GetConsoleMode"] = KeyboardInterrupt()
    with pytest.raises(KeyboardInterrupt) as excinfo:
        tintara.detect._has_windows_console()
    assert names(excinfo, "tintara.detect._has_windows_console")[:2] == [
        "tintara.detect._has_windows_console", "__call__"]


def capture_try_enable(win):
    """The _try_enable of the running call, found through its closure."""
    found = []

    def get_osfhandle(fd):
        kernel32 = win.kernel32[-1]
        for cell in gc.get_referrers(kernel32):
            if type(cell) is tuple:
                found.extend(f for f in gc.get_referrers(cell)
                             if getattr(f, "__name__", None) == "_try_enable")
        return win.get_osfhandle(fd)

    win.msvcrt.get_osfhandle = get_osfhandle
    return found


def test_nested_function(win):
    found = capture_try_enable(win)
    assert win.enable(tintara.detect) is True
    assert win.enable(tintara.detect) is True
    assert len(found) == 2 and found[0] is not found[1]  # a new one per call
    nested = found[0]
    assert type(nested) is type(tintara.detect.enable_windows_vt)
    assert nested.__qualname__ == "enable_windows_vt.<locals>._try_enable"
    assert nested.__module__ == "tintara.detect"
    assert nested.__doc__ == "尝试为单个流启用 VT 处理。"
    assert nested.__annotations__ == {"return": "bool"}
    assert nested.__defaults__ is None
    assert nested.__code__.co_varnames == ("stream", "handle", "fd", "mode", "new_mode")
    assert not hasattr(tintara.detect, "_try_enable")

    # Called on its own it still reads the call's bindings, and it does not
    # absorb what it runs into.
    win.log.clear()
    win.consoles[12] = Console(0x10)
    assert nested(win.stderr) is True
    assert nested(stream=win.stderr) is True
    assert win.log[:5] == [("stderr.fileno",), ("get_osfhandle", 2), *enabling(12, 0x14)]
    win.consoles[12] = Console(fail={"SetConsoleMode": OSError("set")})
    with pytest.raises(OSError, match="set") as excinfo:
        nested(win.stderr)
    assert names(excinfo, "tintara.detect.enable_windows_vt._try_enable")[:2] == [
        "tintara.detect.enable_windows_vt._try_enable", "__call__"]
    for args, kwargs, message in [
        ((), {}, "_try_enable() takes exactly 1 positional argument (0 given)"),
        ((1, 2), {}, "_try_enable() takes exactly 1 positional argument (2 given)"),
        ((), {"file": 1}, "_try_enable() got an unexpected keyword argument 'file'"),
    ]:
        with pytest.raises(TypeError) as excinfo:
            nested(*args, **kwargs)
        assert str(excinfo.value) == message


def test_function_objects():
    d = tintara.detect
    assert d._has_windows_console.__code__.co_varnames == (
        "ctypes", "wintypes", "kernel32", "_GetStdHandle", "_GetConsoleMode", "handle", "mode")
    assert d.enable_windows_vt.__code__.co_varnames == ("_try_enable", "stream")
    assert d._has_windows_console.__doc__ == "\n".join([
        "检测当前进程是否关联了真正的 Windows 控制台。",
        "",
        "    通过 ``GetConsoleMode`` 验证 stdout 句柄是控制台句柄（而非管道/文件）。",
        "    用于区分 IDE 终端窗口（有控制台）和 IDE 运行控制台（管道，无控制台）。",
        "    ",
    ])
    assert d.enable_windows_vt.__doc__ == "\n".join([
        "在 Windows 上启用虚拟终端处理 (VT100 转义序列)。",
        "",
        "    使用 ``msvcrt.get_osfhandle`` 获取与 Python 文件对象关联的真实",
        "    Windows 句柄，确保在 VS Code 集成终端等环境中也能正确工作。",
        "",
        "    返回是否成功启用 VT 处理。",
        "    ",
    ])


@pytest.mark.parametrize("name", ["_has_windows_console", "enable_windows_vt"])
@pytest.mark.parametrize("args, kwargs, message", [
    ((1,), {}, "{}() takes no arguments (1 given)"),
    ((1, 2), {}, "{}() takes no arguments (2 given)"),
    ((), {"stream": 1}, "{}() takes no keyword arguments"),
    ((1,), {"stream": 1}, "{}() takes no keyword arguments"),
])
def test_binding_errors(win, name, args, kwargs, message):
    fn = getattr(tintara.detect, name)
    with pytest.raises(TypeError) as excinfo:
        fn(*args, **kwargs)
    assert str(excinfo.value) == message.format(name)
    assert win.log == []
    assert fn(**{}) in (True, False)
