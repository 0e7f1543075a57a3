"""Colour level detection: environment variables, platform and stream."""

import contextlib
import enum
import os
import pty
import subprocess
import sys
import traceback
import types

import pytest

from fakes import FakeSys, IsattyProperty, IsattyRaises, Stream, Untouchable
from hostile import BadBool, Boom

import tintara.detect


def level(detect, name):
    return getattr(detect.ColorLevel, name)


# ---------------------------------------------------------------------------
# ColorLevel


def test_color_level_is_an_int_enum(detect):
    cl = detect.ColorLevel
    assert issubclass(cl, enum.IntEnum) and type(cl) is enum.EnumType
    assert [(m.name, m.value) for m in cl] == [
        ("NONE", 0), ("BASIC", 1), ("EXTENDED", 2), ("TRUECOLOR", 3)]
    assert list(cl) == sorted(cl)
    assert cl(2) is cl.EXTENDED and cl.EXTENDED == 2 and isinstance(cl.BASIC, int)
    assert cl.TRUECOLOR > cl.BASIC
    assert not cl.NONE and all(m for m in list(cl)[1:])
    assert (cl.__module__, cl.__qualname__, cl.__doc__) == (
        detect.__name__, "ColorLevel", "终端色彩支持级别。")


# ---------------------------------------------------------------------------
# The decision procedure


@pytest.mark.parametrize("platform", ["linux", "cygwin", "WIN32"])
@pytest.mark.parametrize("variables, expected", [
    ({}, "NONE"),
    ({"TERM": ""}, "NONE"),
    ({"TERM": "xterm"}, "BASIC"),
    ({"TERM": "linux", "COLORTERM": "1"}, "BASIC"),
    ({"TERM": "dumb"}, "NONE"),
    ({"TERM": "DUMB"}, "NONE"),
    ({"TERM": " dumb"}, "BASIC"),
    ({"TERM": "xterm-256COLOR"}, "EXTENDED"),
    ({"TERM": "screen.xterm-256color"}, "EXTENDED"),
    ({"TERM": "256color"}, "EXTENDED"),
    ({"COLORTERM": "TrueColor"}, "TRUECOLOR"),
    ({"COLORTERM": "24BIT"}, "TRUECOLOR"),
    ({"COLORTERM": "truecolor", "TERM": "dumb"}, "TRUECOLOR"),
    ({"COLORTERM": "24bit", "TERM": "xterm-256color"}, "TRUECOLOR"),
    ({"COLORTERM": " truecolor", "TERM": "xterm"}, "BASIC"),
    ({"COLORTERM": "24-bit", "TERM": "xterm-256color"}, "EXTENDED"),
    # Windows-only variables mean nothing elsewhere.
    ({"TERM_PROGRAM": "vscode", "PYCHARM_HOSTED": "1", "TERM": "xterm"}, "BASIC"),
    ({"WT_SESSION": "1", "ConEmuANSI": "ON", "TERM": "dumb"}, "NONE"),
    ({"NO_COLOR": "", "FORCE_COLOR": "", "TERM": "xterm"}, "BASIC"),
])
def test_terminal_on_other_platforms(detect, env, platform, variables, expected):
    env(platform, **variables)
    stream = Stream()
    assert detect.detect_color_level(stream) is level(detect, expected)
    assert stream.isatty_calls == 1


@pytest.mark.parametrize("variables, expected", [
    ({}, "BASIC"),
    ({"WT_SESSION": "1"}, "TRUECOLOR"),
    ({"WT_SESSION": ""}, "BASIC"),
    ({"ConEmuANSI": "ON"}, "TRUECOLOR"),
    ({"ConEmuANSI": "on"}, "BASIC"),
    ({"ANSICON": "1"}, "BASIC"),
    ({"COLORTERM": "truecolor", "TERM": "xterm-256color"}, "BASIC"),
    ({"TERM": "dumb"}, "BASIC"),
    ({"TERM_PROGRAM": "vscode"}, "TRUECOLOR"),
    ({"TERM_PROGRAM": "VSCode"}, "BASIC"),
    ({"VSCODE_PID": ""}, "BASIC"),
    ({"VSCODE_PID": "4242"}, "TRUECOLOR"),
    ({"VSCODE_IPC_HOOK": "/tmp/x.sock"}, "TRUECOLOR"),
    ({"PYCHARM_HOSTED": "1"}, "TRUECOLOR"),
    ({"PYCHARM_HOSTED": "0"}, "TRUECOLOR"),
])
def test_terminal_on_windows(detect, env, variables, expected):
    env("win32", **variables)
    assert detect.detect_color_level(Stream()) is level(detect, expected)


@pytest.mark.parametrize("marker", [
    {"TERM_PROGRAM": "vscode"}, {"VSCODE_PID": "1"},
    {"VSCODE_IPC_HOOK": "x"}, {"PYCHARM_HOSTED": "1"},
])
def test_ide_markers_count_only_on_windows(detect, env, marker):
    env("win32", **marker)
    # The marker decides before the stream is looked at.
    assert detect.detect_color_level(Untouchable()) is detect.ColorLevel.TRUECOLOR
    env("linux")
    assert detect.detect_color_level(Stream(False)) is detect.ColorLevel.NONE


@pytest.mark.parametrize("force, expected", [
    ("0", "NONE"), ("false", "NONE"), ("False", "NONE"),
    ("1", "BASIC"), ("true", "BASIC"), ("True", "BASIC"),
    ("2", "EXTENDED"), ("3", "TRUECOLOR"),
    ("FALSE", "BASIC"), ("TRUE", "BASIC"), ("yes", "BASIC"), ("4", "BASIC"),
    (" 3", "BASIC"), ("3 ", "BASIC"), ("02", "BASIC"), ("-1", "BASIC"),
])
@pytest.mark.parametrize("platform", ["linux", "win32"])
def test_force_color_decides_alone(detect, env, platform, force, expected):
    # Every other signal points the other way, and the stream is never examined.
    env(platform, FORCE_COLOR=force, TERM_PROGRAM="vscode", WT_SESSION="1",
        COLORTERM="truecolor", TERM="dumb")
    assert detect.detect_color_level(Untouchable()) is level(detect, expected)


@pytest.mark.parametrize("no_color", ["1", "0", "false", " "])
@pytest.mark.parametrize("platform", ["linux", "win32"])
def test_no_color_beats_everything(detect, env, platform, no_color):
    env(platform, NO_COLOR=no_color, FORCE_COLOR="3", TERM_PROGRAM="vscode",
        COLORTERM="truecolor")
    assert detect.detect_color_level(Untouchable()) is detect.ColorLevel.NONE
    assert detect.supports_color(Untouchable()) is False


# ---------------------------------------------------------------------------
# Streams


@pytest.mark.parametrize("platform", ["linux", "win32"])
@pytest.mark.parametrize("stream, expected", [
    (object(), "NONE"),
    (IsattyProperty(AttributeError("isatty")), "NONE"),
    (Stream(False), "NONE"),
    (Stream(0), "NONE"),
    (Stream(""), "NONE"),
    (Stream([]), "NONE"),
    (Stream(1), "BASIC"),
    (Stream("yes"), "BASIC"),
    (Stream([0]), "BASIC"),
])
def test_stream_answers(detect, env, platform, stream, expected):
    env(platform, TERM="xterm")
    assert detect.detect_color_level(stream) is level(detect, expected)


@pytest.mark.parametrize("stdout, expected", [
    (None, "NONE"), (object(), "NONE"), (Stream(False), "NONE"), (Stream(True), "BASIC"),
])
def test_default_stream_is_current_stdout(detect, env, monkeypatch, stdout, expected):
    env(TERM="xterm")
    monkeypatch.setattr(sys, "stdout", stdout)
    assert detect.detect_color_level() is level(detect, expected)
    assert detect.detect_color_level(None) is level(detect, expected)
    assert detect.detect_color_level(stream=None) is level(detect, expected)
    assert detect.supports_color() is (expected != "NONE")
    assert detect.supports_color(None) is (expected != "NONE")


@pytest.mark.parametrize("stream, exc", [
    (IsattyRaises(), Boom),
    (types.SimpleNamespace(isatty=5), TypeError),
    (types.SimpleNamespace(isatty=None), TypeError),
    (Stream(BadBool()), Boom),
    (IsattyProperty(Boom("lookup")), Boom),
])
def test_stream_errors_propagate(detect, env, stream, exc):
    env(TERM="xterm")
    with pytest.raises(exc):
        detect.detect_color_level(stream)
    with pytest.raises(exc):
        detect.supports_color(stream)


@pytest.mark.parametrize("term, expected", [
    ("xterm", "BASIC"), ("xterm-256color", "EXTENDED"), ("dumb", "NONE"),
])
def test_real_terminal(detect, env, monkeypatch, term, expected):
    env(TERM=term)
    master, slave = pty.openpty()
    try:
        with os.fdopen(slave, "w") as tty:
            assert detect.detect_color_level(tty) is level(detect, expected)
            monkeypatch.setattr(sys, "stdout", tty)
            assert detect.detect_color_level() is level(detect, expected)
        with pytest.raises(ValueError):
            detect.detect_color_level(tty)
    finally:
        os.close(master)


def test_pipe_is_no_terminal(detect, env):
    env(TERM="xterm-256color", COLORTERM="truecolor")
    r, w = os.pipe()
    with os.fdopen(r) as reader, os.fdopen(w, "w") as writer:
        assert detect.detect_color_level(writer) is detect.ColorLevel.NONE
        assert detect.detect_color_level(reader) is detect.ColorLevel.NONE


# ---------------------------------------------------------------------------
# What is read, and when


class RecordingEnviron:
    """A mapping with nothing but `get`, recording each call's arguments."""

    def __init__(self, **values):
        self.values = values
        self.reads = []

    def get(self, *args):
        self.reads.append(args)
        return self.values.get(*args)


@contextlib.contextmanager
def replaced_environ(monkeypatch, environ):
    # Put back before the test ends: pytest itself reads os.environ.
    with monkeypatch.context() as m:
        m.setattr(os, "environ", environ)
        yield


IDE = [("TERM_PROGRAM",), ("VSCODE_PID",), ("VSCODE_IPC_HOOK",), ("PYCHARM_HOSTED",)]


@pytest.mark.parametrize("platform, values, stream, reads", [
    ("linux", {"NO_COLOR": "1"}, Untouchable(), [("NO_COLOR", "")]),
    ("linux", {"FORCE_COLOR": "2"}, Untouchable(), [("NO_COLOR", ""), ("FORCE_COLOR", "")]),
    ("linux", {}, Stream(False), [("NO_COLOR", ""), ("FORCE_COLOR", "")]),
    ("linux", {}, Stream(), [("NO_COLOR", ""), ("FORCE_COLOR", ""),
                             ("COLORTERM", ""), ("TERM", "")]),
    ("linux", {"COLORTERM": "truecolor"}, Stream(),
     [("NO_COLOR", ""), ("FORCE_COLOR", ""), ("COLORTERM", "")]),
    ("win32", {"TERM_PROGRAM": "vscode"}, Untouchable(),
     [("NO_COLOR", ""), ("FORCE_COLOR", ""), ("TERM_PROGRAM",)]),
    ("win32", {"VSCODE_IPC_HOOK": "x"}, Untouchable(),
     [("NO_COLOR", ""), ("FORCE_COLOR", ""), *IDE[:3]]),
    ("win32", {}, Stream(False), [("NO_COLOR", ""), ("FORCE_COLOR", ""), *IDE]),
    ("win32", {"WT_SESSION": "1"}, Stream(),
     [("NO_COLOR", ""), ("FORCE_COLOR", ""), *IDE, ("WT_SESSION",)]),
    ("win32", {}, Stream(),
     [("NO_COLOR", ""), ("FORCE_COLOR", ""), *IDE, ("WT_SESSION",), ("ConEmuANSI",)]),
])
def test_environment_reads(detect, env, monkeypatch, platform, values, stream, reads):
    env(platform)
    environ = RecordingEnviron(**values)
    with replaced_environ(monkeypatch, environ):
        detect.detect_color_level(stream)
    assert environ.reads == reads


def test_environment_is_read_afresh(detect, env, monkeypatch):
    env(TERM="xterm")
    tty = Stream()
    assert detect.detect_color_level(tty) is detect.ColorLevel.BASIC
    monkeypatch.setenv("TERM", "xterm-256color")
    assert detect.detect_color_level(tty) is detect.ColorLevel.EXTENDED
    with replaced_environ(monkeypatch, {"TERM": "xterm", "COLORTERM": "24bit"}):
        assert detect.detect_color_level(tty) is detect.ColorLevel.TRUECOLOR
        monkeypatch.setattr(sys, "platform", "win32")
        assert detect.detect_color_level(tty) is detect.ColorLevel.BASIC


def failing_get(*args):
    raise Boom(args)


@pytest.mark.parametrize("environ, exc", [
    (object(), AttributeError),
    (types.SimpleNamespace(get=failing_get), Boom),
    ({"COLORTERM": 3}, AttributeError),  # no .lower()
    ({"TERM": b"xterm"}, TypeError),  # "256color" in b"xterm"
])
def test_environment_errors_propagate(detect, env, monkeypatch, environ, exc):
    env()
    with replaced_environ(monkeypatch, environ), pytest.raises(exc):
        detect.detect_color_level(Stream())


def test_members_are_fetched_from_the_module(detect, env, monkeypatch):
    fake = types.SimpleNamespace(NONE="n", BASIC="b", EXTENDED="e", TRUECOLOR="t")
    monkeypatch.setattr(detect, "ColorLevel", fake)
    env(TERM="xterm-256color")
    assert detect.detect_color_level(Stream()) == "e"
    assert detect.detect_color_level(Stream(False)) == "n"
    env(FORCE_COLOR="3")
    assert detect.detect_color_level(Untouchable()) == "t"


@pytest.mark.parametrize("platforms, variables, stream, expected, platform_reads, stdout_reads", [
    # Read once before the stream, once after.
    (["win32", "linux"], {"TERM": "xterm-256color"}, None, "EXTENDED", 2, 1),
    (["linux", "win32"], {"TERM_PROGRAM": "vscode", "TERM": "xterm"}, None, "BASIC", 2, 1),
    (["linux", "win32"], {}, Stream(), "BASIC", 2, 0),
    (["linux", "win32"], {}, Stream(False), "NONE", 1, 0),
    (["win32"], {"VSCODE_PID": "1"}, None, "TRUECOLOR", 1, 0),
    (["linux"], {"FORCE_COLOR": "1"}, None, "BASIC", 0, 0),
])
def test_sys_reads(detect, env, monkeypatch, platforms, variables, stream, expected,
                   platform_reads, stdout_reads):
    env(**variables)
    fake = FakeSys(*platforms, stdout=Stream())
    monkeypatch.setattr(detect, "sys", fake)
    assert detect.detect_color_level(stream) is level(detect, expected)
    assert (fake.reads["platform"], fake.reads["stdout"]) == (platform_reads, stdout_reads)


@pytest.mark.parametrize("name, variables", [
    ("os", {}),
    ("sys", {}),
    ("ColorLevel", {}),
    ("ColorLevel", {"NO_COLOR": "1"}),
])
def test_removed_module_names(detect, env, monkeypatch, name, variables):
    env(**variables)
    monkeypatch.delattr(detect, name)
    with pytest.raises(NameError, match=f"^name '{name}' is not defined$"):
        detect.detect_color_level(Stream())


def test_sys_is_not_needed_when_forced(detect, env, monkeypatch):
    env(FORCE_COLOR="1")
    monkeypatch.delattr(detect, "sys")
    assert detect.detect_color_level() is detect.ColorLevel.BASIC


# ---------------------------------------------------------------------------
# supports_color


@pytest.mark.parametrize("variables, stream, expected", [
    ({"FORCE_COLOR": "0"}, Stream(), False),
    ({"FORCE_COLOR": "1"}, Untouchable(), True),
    ({"FORCE_COLOR": "2"}, object(), True),
    ({"FORCE_COLOR": "3"}, Stream(False), True),
    ({"NO_COLOR": "1", "FORCE_COLOR": "3"}, Stream(), False),
    ({"TERM": "xterm"}, Stream(False), False),
    ({"TERM": "xterm"}, Stream(), True),
    ({"TERM": "dumb"}, Stream(), False),
    ({"TERM": "dumb", "COLORTERM": "truecolor"}, Stream(), True),
])
def test_supports_color(detect, env, variables, stream, expected):
    env(**variables)
    assert detect.supports_color(stream) is expected


class Recorder:
    def __init__(self, result):
        self.result = result
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.result


class Answer:
    def __gt__(self, other):
        return "more"


@pytest.mark.parametrize("result, expected", [
    (5, True), (0, False), (-1, False), (1.5, True),
    (tintara.detect.ColorLevel.NONE, False), (tintara.detect.ColorLevel.BASIC, True),
])
def test_supports_color_calls_module_attribute(detect, monkeypatch, result, expected):
    stub = Recorder(result)
    monkeypatch.setattr(detect, "detect_color_level", stub)
    stream = object()
    assert detect.supports_color() is expected
    assert detect.supports_color(stream) is expected
    assert detect.supports_color(stream=stream) is expected
    assert stub.calls == [((None,), {}), ((stream,), {}), ((stream,), {})]


def test_supports_color_returns_the_comparison(detect, monkeypatch):
    monkeypatch.setattr(detect, "detect_color_level", Recorder(Answer()))
    assert detect.supports_color() == "more"
    monkeypatch.setattr(detect, "detect_color_level", Recorder(object()))
    with pytest.raises(TypeError):
        detect.supports_color()
    monkeypatch.setattr(detect, "detect_color_level", Recorder("x"))
    with pytest.raises(TypeError):
        detect.supports_color()


def test_supports_color_names(detect, monkeypatch):
    stub = Recorder(1)
    monkeypatch.setattr(detect, "detect_color_level", stub)
    monkeypatch.delattr(detect, "ColorLevel")
    with pytest.raises(NameError, match="^name 'ColorLevel' is not defined$"):
        detect.supports_color()
    assert stub.calls == [((None,), {})]  # called before ColorLevel is looked up
    monkeypatch.delattr(detect, "detect_color_level")
    with pytest.raises(NameError, match="^name 'detect_color_level' is not defined$"):
        detect.supports_color()


# ---------------------------------------------------------------------------
# The extension's function objects, traceback entries and binding


def entries(excinfo):
    return [f.name for f in traceback.extract_tb(excinfo.value.__traceback__)]


def test_traceback_entries(env):
    env(TERM="xterm")
    detect = tintara.detect
    with pytest.raises(Boom) as excinfo:
        detect.detect_color_level(IsattyRaises())
    assert entries(excinfo)[1:] == ["tintara.detect.detect_color_level", "isatty"]
    frame = traceback.extract_tb(excinfo.value.__traceback__)[1]
    assert frame.filename == "tintara/detect.py"
    with pytest.raises(Boom) as excinfo:
        detect.supports_color(IsattyRaises())
    assert entries(excinfo)[1:] == [
        "tintara.detect.supports_color", "tintara.detect.detect_color_level", "isatty"]


def test_function_objects():
    d = tintara.detect
    assert d.detect_color_level.__code__.co_varnames == (
        "stream", "force", "is_ide", "colorterm", "term")
    assert d.supports_color.__code__.co_varnames == ("stream",)
    assert d.supports_color.__doc__ == "快速判断终端是否支持颜色。"
    assert d.detect_color_level.__doc__ == "\n".join([
        "检测终端的色彩支持级别。",
        "",
        "    检测逻辑:",
        "    1. 环境变量 NO_COLOR / FORCE_COLOR 优先",
        "    2. IDE 终端检测（VS Code / PyCharm Terminal，通过控制台句柄验证）",
        "    3. 非 TTY → NONE",
        "    4. Windows Terminal / ConEmu / ANSICON → TRUECOLOR",
        "    5. COLORTERM=truecolor/24bit → TRUECOLOR",
        "    6. TERM 包含 256color → EXTENDED",
        "    7. 其他有效 TERM → BASIC",
        "    ",
    ])


def test_import_loads_nothing_windows():
    script = """if 1:
        import sys
        before = set(sys.modules)
        import tintara.detect
        print(sorted({"ctypes", "ctypes.wintypes", "msvcrt"} & (set(sys.modules) - before)))
    """
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert run.stdout == "[]\n"


# os.environ is read without calling its Python methods while it is os's own,
# untouched mapping; every way of changing that must be seen by the next call.

def _tamper_class(monkeypatch, calls):
    original = os._Environ.get

    def get(self, key, default=None):
        calls.append(key)
        return original(self, key, default)

    monkeypatch.setattr(os._Environ, "get", get)


def _tamper_instance(monkeypatch, calls):
    original = os.environ.decodevalue

    def decode(value):
        calls.append(value)
        return original(value)

    monkeypatch.setattr(os.environ, "decodevalue", decode)


def _replace_data(monkeypatch, calls):
    data = dict(os.environ._data)
    data[b"TERM"] = b"linux"
    calls.append(b"TERM")
    monkeypatch.setattr(os.environ, "_data", data)


@pytest.mark.parametrize("tamper", [_tamper_class, _tamper_instance, _replace_data])
def test_environ_changes_are_seen(detect, env, monkeypatch, tamper):
    env(TERM="xterm-256color")
    stream = Stream(True)
    assert detect.detect_color_level(stream) == 2
    calls = []
    tamper(monkeypatch, calls)
    level = detect.detect_color_level(stream)
    assert calls, "the changed mapping was bypassed"
    assert level == (1 if tamper is _replace_data else 2)
    monkeypatch.undo()
    env(TERM="dumb")
    assert detect.detect_color_level(stream) == 0


def test_environ_values_decode_like_os(detect, env, monkeypatch):
    env()
    monkeypatch.setitem(os.environb, b"TERM", b"\xff-256COLOR")
    assert os.environ.get("TERM") == "\udcff-256COLOR"
    assert detect.detect_color_level(Stream(True)) == 2
    monkeypatch.setitem(os.environb, b"NO_COLOR", b"\xff")
    assert detect.detect_color_level(Stream(True)) == 0
