"""Module lifecycle: one interpreter per process, a body that runs once, and a
failed import that leaves nothing behind.

Scenarios that need a fresh process (a failing module body, a module object
created but not yet executed) run in a child interpreter.
"""

import importlib
import importlib.util
import json
import subprocess
import sys
import textwrap

import pytest

import tintara.colors
import tintara.detect
import tintara.styles

MODULES = ["tintara.colors", "tintara.detect", "tintara.styles"]
CHANGE = "Interpreter change detected - this module can only be loaded into one interpreter per process."


def works(name):
    """A call through each module's frame that needs its whole body."""
    module = importlib.import_module(name)
    if name == "tintara.colors":
        return module.fg_code("#ff8800") == "\x1b[38;2;255;136;0m"
    if name == "tintara.detect":
        return module.supports_color(None) in (True, False) and len(module.ColorLevel) == 4
    return module.style_off("bold") == "\x1b[22m"


def run_child(code, tmp_path):
    """Runs code in a new interpreter; returns what it prints as JSON."""
    prelude = textwrap.dedent("""\
        import json, sys, traceback

        def failure(exc):
            return {
                "type": type(exc).__name__,
                "message": str(exc),
                "entries": [[f.name, f.filename] for f in traceback.extract_tb(exc.__traceback__)],
            }
    """)
    proc = subprocess.run(
        [sys.executable, "-P", "-X", "dev", "-c", prelude + textwrap.dedent(code)],
        capture_output=True, text=True, cwd=tmp_path, timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout.strip().splitlines()[-1])


# ---------------------------------------------------------------------------
# Other interpreters


def importing(name):
    """Code that imports name on this interpreter's sys.path: a new interpreter
    starts with the current directory on its own, and from a checkout that is
    the source package, without its extension modules."""
    return f"import sys; sys.path[:] = {sys.path!r}\nimport {name}"


@pytest.mark.parametrize("name", MODULES)
def test_isolated_interpreter_is_refused(name):
    # The modules declare no support for a per-interpreter GIL, so an
    # isolated interpreter refuses them before they run.
    interpreters = pytest.importorskip("concurrent.interpreters")
    interp = interpreters.create()
    try:
        with pytest.raises(interpreters.ExecutionFailed) as info:
            interp.exec(importing(name))
    finally:
        interp.close()
    assert info.value.excinfo.type.__name__ == "ImportError"
    assert works(name)


def legacy_interpreter():
    """A subinterpreter sharing the main GIL, where the modules' own check runs."""
    interpreters = pytest.importorskip("concurrent.interpreters")
    _interpreters = pytest.importorskip("_interpreters")
    config = _interpreters.new_config("legacy")
    return interpreters.Interpreter(_interpreters.create(config, reqrefs=True), _ownsref=True)


@pytest.mark.parametrize("name", MODULES)
def test_second_interpreter_is_refused(name):
    interp = legacy_interpreter()
    try:
        for _ in range(2):  # the refusal is lasting
            with pytest.raises(Exception) as info:
                interp.exec(importing(name))
            excinfo = info.value.excinfo
            assert (excinfo.type.__name__, excinfo.msg) == ("ImportError", CHANGE)
    finally:
        interp.close()
    assert works(name)


def test_first_interpreter_to_load_keeps_the_module(tmp_path):
    result = run_child("""
        import _interpreters
        from concurrent import interpreters
        interp = interpreters.Interpreter(
            _interpreters.create(_interpreters.new_config("legacy"), reqrefs=True), _ownsref=True)
        interp.exec("import tintara.styles; assert tintara.styles.style_on('bold') == '\\x1b[1m'")
        try:
            import tintara.styles
        except ImportError as exc:
            out = failure(exc)
        interp.close()
        out["in_sys_modules"] = "tintara.styles" in sys.modules
        print(json.dumps(out))
    """, tmp_path)
    assert (result["type"], result["message"]) == ("ImportError", CHANGE)
    assert not result["in_sys_modules"]


def test_import_that_failed_in_another_interpreter_releases_it(tmp_path):
    # tintara.paint imports tintara.colors, which this interpreter holds: in
    # a second interpreter its import fails, and the claim it made there
    # goes with it.
    result = run_child(f"""
        import _interpreters
        from concurrent import interpreters
        import tintara.colors
        interp = interpreters.Interpreter(
            _interpreters.create(_interpreters.new_config("legacy"), reqrefs=True), _ownsref=True)
        out = {{}}
        try:
            interp.exec({importing("tintara.paint")!r})
        except Exception as exc:
            out["there"] = [exc.excinfo.type.__name__, exc.excinfo.msg]
        interp.close()
        import tintara.paint
        out["here"] = tintara.paint.paint("x", "bold red", level=3)
        print(json.dumps(out))
    """, tmp_path)
    assert result == {"there": ["ImportError", CHANGE], "here": "\x1b[1;31mx\x1b[22;39m"}


# ---------------------------------------------------------------------------
# The module body runs once


@pytest.mark.parametrize("name", MODULES)
def test_reimport_and_reload_keep_the_module(name, monkeypatch):
    module = sys.modules[name]
    monkeypatch.setattr(module, "ESC" if name != "tintara.detect" else "Optional", "changed")
    monkeypatch.delitem(sys.modules, name)
    assert importlib.import_module(name) is module
    assert importlib.reload(module) is module
    # The body did not run again.
    assert getattr(module, "ESC" if name != "tintara.detect" else "Optional") == "changed"


@pytest.mark.parametrize("name", MODULES)
def test_exec_of_another_module_object(name, tmp_path):
    short = name.rpartition(".")[2]
    result = run_child(f"""
        import importlib.util
        spec = importlib.util.find_spec({name!r})
        first = importlib.util.module_from_spec(spec)
        second = importlib.util.module_from_spec(spec)
        out = {{"distinct": first is not second}}
        spec.loader.exec_module(first)
        spec.loader.exec_module(first)  # the same object again: nothing happens
        try:
            spec.loader.exec_module(second)
        except Exception as exc:
            out["error"] = failure(exc)
        out["registered"] = sys.modules[{name!r}] is first
        out["recreated"] = importlib.util.module_from_spec(spec) is first
        out["second_attrs"] = sorted(k for k in vars(second) if not k.startswith("__"))
        print(json.dumps(out))
    """, tmp_path)
    assert result["distinct"] and result["registered"] and result["recreated"]
    error = result["error"]
    assert error["type"] == "RuntimeError"
    assert error["message"] == (
        f"Module '{short}' has already been imported. Re-initialisation is not supported."
    )
    assert not any(entry[0].startswith("init ") for entry in error["entries"])
    assert result["second_attrs"] == []


# ---------------------------------------------------------------------------
# A failing module body


# Each breaks the body of a module; `restore` undoes it.
BREAKAGES = {
    "re.compile raises": ("tintara.colors", "RuntimeError", "re.compile broken", """
        import re
        saved = re.compile
        def compile(*args, **kwargs):
            stash.append(sys.modules.get("tintara.colors"))
            raise RuntimeError("re.compile broken")
        re.compile = compile
        def restore():
            re.compile = saved
    """),
    "re cannot be imported": ("tintara.colors", "ModuleNotFoundError", None, """
        saved = sys.modules.pop("re", None)
        sys.modules["re"] = None
        def restore():
            sys.modules["re"] = saved
    """),
    "typing lacks Tuple": ("tintara.colors", "ImportError", "cannot import name Tuple", """
        import typing
        saved = typing.Tuple
        del typing.Tuple
        def restore():
            typing.Tuple = saved
    """),
    "builtins lack round": ("tintara.colors", "NameError", "name 'round' is not defined", """
        import builtins
        saved = builtins.round
        del builtins.round
        def restore():
            builtins.round = saved
    """),
    "enum lacks IntEnum": ("tintara.detect", "ImportError", "cannot import name IntEnum", """
        import enum
        saved = enum.IntEnum
        del enum.IntEnum
        def restore():
            enum.IntEnum = saved
    """),
    "ColorLevel cannot be created": ("tintara.detect", "RuntimeError", "no enums today", """
        import enum
        saved = enum.IntEnum
        class Meta(type):
            @classmethod
            def __prepare__(mcls, name, bases, **kwargs):
                stash.append(sys.modules.get("tintara.detect"))
                raise RuntimeError("no enums today")
        enum.IntEnum = Meta("IntEnum", (), {})
        def restore():
            enum.IntEnum = saved
    """),
    "builtins cannot be imported": ("tintara.styles", "ImportError", "builtins refused", """
        import builtins
        saved = builtins.__import__
        def refuse(name, *args, **kwargs):
            if name == "builtins":
                raise ImportError("builtins refused")
            return saved(name, *args, **kwargs)
        builtins.__import__ = refuse
        def restore():
            builtins.__import__ = saved
    """),
}


@pytest.mark.parametrize("breakage", BREAKAGES)
def test_failing_body(breakage, tmp_path):
    name, exc_type, message, breaker = BREAKAGES[breakage]
    result = run_child(f"""
        import importlib, importlib.util, tintara
        stash = []
""" + textwrap.indent(textwrap.dedent(breaker), "        ") + f"""
        out = {{}}
        try:
            importlib.import_module({name!r})
        except BaseException as exc:
            out["error"] = failure(exc)
        out["in_sys_modules"] = {name!r} in sys.modules
        out["bound_on_package"] = hasattr(tintara, {name.rpartition(".")[2]!r})
        restore()
        module = importlib.import_module({name!r})
        out["second_import"] = module is sys.modules[{name!r}] and "__test__" in vars(module)
        out["again"] = importlib.import_module({name!r}) is module
        # A module object the failed import left behind is not taken up.
        out["stale"] = [m is not None and m is not module for m in stash]
        print(json.dumps(out))
    """, tmp_path)
    error = result["error"]
    assert error["type"] == exc_type
    if message is not None:
        assert error["message"] == message
    # The entry of the module body, before the failing call's own entries.
    names = [entry[0] for entry in error["entries"]]
    init = f"init {name}"
    assert init in names
    assert error["entries"][names.index(init)][1] == name.replace(".", "/") + ".py"
    assert not result["in_sys_modules"] and not result["bound_on_package"]
    assert result["second_import"] and result["again"]
    assert all(result["stale"])


def test_second_import_after_failure_works(tmp_path):
    # Everything a call needs is rebuilt by the successful import.
    result = run_child("""
        import re
        saved = re.compile
        re.compile = None
        try:
            import tintara.colors
        except TypeError:
            pass
        re.compile = saved
        import tintara.colors as c
        out = {
            "fg": c.fg_code("#f80"), "bg": c.bg_code("grey"), "rgb": c.rgb_to_ansi256(255, 128, 0),
            "hex": c.parse_hex("#AbCdEf"), "patterns": [c._HEX_RE.pattern, c._SHORT_HEX_RE.pattern],
            "attrs": [k for k in vars(c) if not k.startswith("__") or k == "__test__"],
        }
        try:
            c.parse_hex("#12")
        except ValueError as exc:
            out["error"] = failure(exc)
        print(json.dumps(out))
    """, tmp_path)
    assert result["fg"] == "\x1b[38;2;255;136;0m"
    assert result["bg"] == "\x1b[100m"
    assert result["rgb"] == 214
    assert result["hex"] == [171, 205, 239]
    assert result["patterns"] == ["^#([0-9a-fA-F]{6})$", "^#([0-9a-fA-F]{3})$"]
    assert result["attrs"] == [
        "re", "Optional", "Tuple", "ESC", "RESET_FG", "RESET_BG", "NAMED_COLORS", "COLOR_ALIASES",
        "_HEX_RE", "_SHORT_HEX_RE", "parse_hex", "rgb_to_ansi256", "fg_code", "bg_code",
        "_color_code", "_validate_rgb", "__test__",
    ]
    assert result["error"]["entries"][-1] == ["tintara.colors.parse_hex", "tintara/colors.py"]

