"""The module frame: how the extension modules are imported, how their
functions bind arguments and report errors, and what their function objects
look like from Python.

Everything here is specific to the extension modules, so the tests import
``tintara.*`` directly.
"""

import builtins
import collections
import ctypes
import importlib
import inspect
import json
import subprocess
import sys
import traceback
import types
import typing

import pytest

from checks import interpreter_error, raises
from hostile import Boom, StrRaises

import tintara.colors as colors
import tintara.detect as detect
import tintara.paint as paint
import tintara.styles as styles

MODULES = {"colors": colors, "detect": detect, "styles": styles}

RGB_SPEC = "str | int | Tuple[int, int, int]"


class Text(str):
    pass


def entries(error):
    """(name, file) of the traceback entries below the test's own frame."""
    return [(f.name, f.filename) for f in traceback.extract_tb(error.__traceback__)[1:]]


def entry(qualified):
    module = qualified.split(".")[1]
    return (qualified, f"tintara/{module}.py")


# ---------------------------------------------------------------------------
# Modules


BODIES = {
    "colors": ["re", "Optional", "Tuple", "ESC", "RESET_FG", "RESET_BG", "NAMED_COLORS",
               "COLOR_ALIASES", "_HEX_RE", "_SHORT_HEX_RE", "parse_hex", "rgb_to_ansi256",
               "fg_code", "bg_code", "_color_code", "_validate_rgb"],
    "detect": ["os", "sys", "IntEnum", "Optional", "ColorLevel", "_has_windows_console",
               "detect_color_level", "supports_color", "enable_windows_vt"],
    "styles": ["ESC", "RESET_ALL", "STYLES", "style_on", "style_off"],
}

MODULE_DOCS = {
    "colors": "ANSI 颜色码定义与转换工具。\n\n支持:\n- 4/8 色基本颜色 (标准 + 高亮)\n"
              "- 256 色扩展调色板\n- 24 位真 RGB 色彩\n",
    "detect": "终端能力检测。\n\n自动检测当前终端是否支持颜色输出以及支持的色彩级别。\n",
    "styles": "ANSI 文本样式定义。\n\n支持: 粗体、暗色、斜体、下划线、闪烁、反显、隐藏、删除线等。\n",
}


def test_module_attribute_order():
    # In a fresh interpreter: tests here delete and restore attributes, which
    # moves them to the end of the namespace.
    code = ("import json, sys, tintara.colors, tintara.detect, tintara.styles; "
            "print(json.dumps({n: list(vars(sys.modules['tintara.' + n]))"
            " for n in ('colors', 'detect', 'styles')}))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    names = json.loads(out.stdout)
    for short, body in BODIES.items():
        assert names[short] == ["__name__", "__doc__", "__package__", "__loader__", "__spec__",
                                "__file__", "__builtins__", *body, "__test__"]


@pytest.mark.parametrize("short", sorted(MODULES))
def test_module_attributes(short):
    module = MODULES[short]
    assert module.__name__ == f"tintara.{short}"
    assert module.__doc__ == MODULE_DOCS[short]
    assert module.__package__ == "tintara"
    assert module.__spec__.name == f"tintara.{short}"
    assert module.__loader__ is module.__spec__.loader
    assert module.__file__ == module.__spec__.origin
    assert not hasattr(module, "__path__") and not hasattr(module, "__all__")
    assert module.__builtins__ is builtins
    assert type(module.__test__) is dict and module.__test__ == {}
    assert sys.modules[f"tintara.{short}"] is module


@pytest.mark.parametrize("short", sorted(MODULES))
def test_import_again_gives_same_module(short, monkeypatch):
    name = f"tintara.{short}"
    module = importlib.import_module(name)
    body = {k: v for k, v in vars(module).items() if k in BODIES[short]}
    assert importlib.import_module(name) is module
    monkeypatch.setattr(module, "_probe", "kept", raising=False)

    monkeypatch.delitem(sys.modules, name)
    again = importlib.import_module(name)
    assert again is module
    assert sys.modules[name] is module
    # The body did not run again: the attributes are the same objects.
    assert module._probe == "kept"
    assert all(getattr(module, k) is v for k, v in body.items())

    assert importlib.reload(module) is module
    assert module._probe == "kept"
    assert all(getattr(module, k) is v for k, v in body.items())


def test_exec_of_another_module_object_fails():
    library = ctypes.PyDLL(colors.__file__)
    library.PyInit_colors.restype = ctypes.c_void_p
    definition = library.PyInit_colors()
    exec_def = ctypes.pythonapi.PyModule_ExecDef
    exec_def.argtypes = [ctypes.py_object, ctypes.c_void_p]
    exec_def.restype = ctypes.c_int
    other = types.ModuleType("tintara.colors")
    raises(RuntimeError,
           "Module 'colors' has already been imported. Re-initialisation is not supported.",
           exec_def, other, definition)
    assert "fg_code" not in vars(other)
    # The module itself is a no-op to execute again.
    names = list(vars(colors))
    assert exec_def(colors, definition) == 0
    assert list(vars(colors)) == names
    assert colors.fg_code("red") == "\x1b[31m"


# ---------------------------------------------------------------------------
# Function objects

COLORS_FUNCTIONS = {
    # name: (positional params, keyword-only params, annotations, doc)
    "parse_hex": (
        ["color"], [], {"color": "str", "return": "Tuple[int, int, int]"},
        "将十六进制颜色字符串解析为 (R, G, B) 元组。\n\n    支持 #RGB 和 #RRGGBB 格式。\n    ",
    ),
    "rgb_to_ansi256": (
        ["r", "g", "b"], [], {"r": "int", "g": "int", "b": "int", "return": "int"},
        "将 RGB 值近似映射到 256 色调色板索引。",
    ),
    "fg_code": (
        ["color"], [], {"color": RGB_SPEC, "return": "str"},
        "生成前景色 ANSI 转义序列。\n\n    参数:\n"
        "        color: 颜色名称 (如 'red')、十六进制字符串 (如 '#ff0000')、\n"
        "               256 色索引 (0-255)、或 RGB 元组 (r, g, b)。\n    ",
    ),
    "bg_code": (["color"], [], {"color": RGB_SPEC, "return": "str"}, "生成背景色 ANSI 转义序列。"),
    "_color_code": (
        ["color"], ["foreground"], {"color": RGB_SPEC, "foreground": "bool", "return": "str"},
        "统一的颜色码生成逻辑。",
    ),
    "_validate_rgb": (
        ["r", "g", "b"], [], {"r": "int", "g": "int", "b": "int", "return": "None"}, None,
    ),
}


@pytest.mark.parametrize("name", list(COLORS_FUNCTIONS))
def test_colors_function_objects(name):
    positional, keyword_only, annotations, doc = COLORS_FUNCTIONS[name]
    fn = getattr(colors, name)
    assert fn.__name__ == name and fn.__qualname__ == name
    assert fn.__module__ == "tintara.colors"
    assert fn.__doc__ == doc
    assert fn.__defaults__ is None and fn.__kwdefaults__ is None
    assert fn.__annotations__ == annotations
    assert list(fn.__annotations__) == list(annotations)
    code = fn.__code__
    assert code.co_argcount == len(positional)
    assert code.co_posonlyargcount == 0
    assert code.co_kwonlyargcount == len(keyword_only)
    assert list(code.co_varnames[: len(positional) + len(keyword_only)]) == positional + keyword_only


# (module, name): (positional params, __defaults__, all of co_varnames or None)
OTHER_FUNCTIONS = {
    ("detect", "detect_color_level"): (["stream"], (None,),
                                       ("stream", "force", "is_ide", "colorterm", "term")),
    ("detect", "supports_color"): (["stream"], (None,), None),
    ("detect", "_has_windows_console"): ([], None, None),
    ("detect", "enable_windows_vt"): ([], None, None),
    ("styles", "style_on"): (["name"], None, ("name",)),
    ("styles", "style_off"): (["name"], None, ("name",)),
}


@pytest.mark.parametrize("key", list(OTHER_FUNCTIONS))
def test_other_function_objects(key):
    short, name = key
    positional, defaults, varnames = OTHER_FUNCTIONS[key]
    fn = getattr(MODULES[short], name)
    assert fn.__name__ == name and fn.__qualname__ == name
    assert fn.__module__ == f"tintara.{short}"
    assert fn.__defaults__ == defaults and fn.__kwdefaults__ is None
    assert fn.__code__.co_argcount == len(positional)
    assert fn.__code__.co_kwonlyargcount == 0
    assert list(fn.__code__.co_varnames[: len(positional)]) == positional
    if varnames is not None:
        assert fn.__code__.co_varnames == varnames


@pytest.mark.parametrize("fn", [colors.fg_code, detect.supports_color, styles.style_on])
def test_function_type_is_closed(fn):
    function_type = type(fn)
    with pytest.raises(TypeError):
        function_type()
    with pytest.raises(TypeError):
        type("Sub", (function_type,), {})
    with pytest.raises(TypeError):
        fn.__name__ = 5
    with pytest.raises(AttributeError):
        fn.__code__ = None
    assert fn.__name__ in ("fg_code", "supports_color", "style_on")


def test_annotations_stay_text():
    for name in COLORS_FUNCTIONS:
        assert all(type(v) is str for v in getattr(colors, name).__annotations__.values())
    assert str(inspect.signature(colors._color_code)) == (
        f"(color: '{RGB_SPEC}', *, foreground: 'bool') -> 'str'")
    # The texts evaluate in the module namespace, as a Python function's do.
    assert colors.parse_hex.__globals__ is vars(colors)
    assert typing.get_type_hints(colors.parse_hex) == {
        "color": str, "return": typing.Tuple[int, int, int]}


# ---------------------------------------------------------------------------
# Argument binding


def exactly(name, n, given):
    return f"{name}() takes exactly {n} positional argument{'' if n == 1 else 's'} ({given} given)"


BINDING_ERRORS = [
    # parse_hex(color): one parameter, exactly str
    (colors.parse_hex, (), {}, exactly("parse_hex", 1, 0)),
    (colors.parse_hex, ("#fff", "#000"), {}, exactly("parse_hex", 1, 2)),
    (colors.parse_hex, (1, 2), {"x": 1}, exactly("parse_hex", 1, 2)),
    (colors.parse_hex, ("#fff",), {"color": "#000"},
     "parse_hex() got multiple values for keyword argument 'color'"),
    (colors.parse_hex, (), {"colour": "#fff"},
     "parse_hex() got an unexpected keyword argument 'colour'"),
    (colors.parse_hex, ("#fff",), {"Color": 1},
     "parse_hex() got an unexpected keyword argument 'Color'"),
    (colors.parse_hex, (), {"color": "#fff", "x": None},
     "parse_hex() got an unexpected keyword argument 'x'"),
    (colors.parse_hex, ("#fff",), {"color": 1, "x": None},
     "parse_hex() got multiple values for keyword argument 'color'"),
    (colors.parse_hex, (), {"颜色": 1}, "parse_hex() got an unexpected keyword argument '颜色'"),
    (colors.parse_hex, (None,), {},
     "Argument 'color' has incorrect type (expected str, got NoneType)"),
    (colors.parse_hex, (), {"color": 5},
     "Argument 'color' has incorrect type (expected str, got int)"),
    (colors.parse_hex, (b"#fff",), {},
     "Argument 'color' has incorrect type (expected str, got bytes)"),
    (colors.parse_hex, (collections.OrderedDict(),), {},
     "Argument 'color' has incorrect type (expected str, got OrderedDict)"),
    # rgb_to_ansi256(r, g, b), _validate_rgb(r, g, b): three coerced ints
    (colors.rgb_to_ansi256, (1, 2), {}, exactly("rgb_to_ansi256", 3, 2)),
    (colors.rgb_to_ansi256, (1, 2, 3, 4), {}, exactly("rgb_to_ansi256", 3, 4)),
    (colors.rgb_to_ansi256, ("1", 2), {}, exactly("rgb_to_ansi256", 3, 2)),
    (colors.rgb_to_ansi256, (), {"r": 1, "g": 2}, exactly("rgb_to_ansi256", 3, 0)),
    (colors.rgb_to_ansi256, (1,), {"b": 2}, exactly("rgb_to_ansi256", 3, 1)),
    (colors.rgb_to_ansi256, (1, 2, 3), {"r": 1},
     "rgb_to_ansi256() got multiple values for keyword argument 'r'"),
    (colors.rgb_to_ansi256, (1,), {"g": 2, "b": 3, "r": 4},
     "rgb_to_ansi256() got multiple values for keyword argument 'r'"),
    (colors.rgb_to_ansi256, (1, 2), {"b": 3, "a": 0},
     "rgb_to_ansi256() got an unexpected keyword argument 'a'"),
    (colors.rgb_to_ansi256, (), {"r": "1", "g": 0, "b": 0},
     "Argument 'r' has incorrect type (expected int, got str)"),
    (colors._validate_rgb, (), {}, exactly("_validate_rgb", 3, 0)),
    (colors._validate_rgb, (0, 0), {"g": 0},
     "_validate_rgb() got multiple values for keyword argument 'g'"),
    (colors._validate_rgb, (0, 0, 0), {"rgb": 0},
     "_validate_rgb() got an unexpected keyword argument 'rgb'"),
    # fg_code(color), bg_code(color): any object
    (colors.fg_code, (), {}, exactly("fg_code", 1, 0)),
    (colors.fg_code, ("red", True), {}, exactly("fg_code", 1, 2)),
    (colors.bg_code, (), {"foreground": False},
     "bg_code() got an unexpected keyword argument 'foreground'"),
    (colors.bg_code, ("red",), {"color": "red"},
     "bg_code() got multiple values for keyword argument 'color'"),
    # _color_code(color, *, foreground)
    (colors._color_code, ("red", True), {}, exactly("_color_code", 1, 2)),
    (colors._color_code, ("red", True), {"foreground": True}, exactly("_color_code", 1, 2)),
    (colors._color_code, ("red", 1, 2), {}, exactly("_color_code", 1, 3)),
    (colors._color_code, (), {}, exactly("_color_code", 1, 0)),
    (colors._color_code, (), {"foreground": True}, exactly("_color_code", 1, 0)),
    (colors._color_code, ("red",), {}, "_color_code() needs keyword-only argument foreground"),
    (colors._color_code, (), {"color": "red"},
     "_color_code() needs keyword-only argument foreground"),
    (colors._color_code, ("red",), {"foreground": 1, "color": "red"},
     "_color_code() got multiple values for keyword argument 'color'"),
    (colors._color_code, (), {"bogus": 1}, "_color_code() got an unexpected keyword argument 'bogus'"),
    (colors._color_code, ("red",), {"foreground": 1, "background": 0},
     "_color_code() got an unexpected keyword argument 'background'"),
    # detect: one parameter with a default, and no parameters
    (detect.detect_color_level, (None, None), {},
     "detect_color_level() takes at most 1 positional argument (2 given)"),
    (detect.supports_color, (1, 2, 3), {},
     "supports_color() takes at most 1 positional argument (3 given)"),
    (detect.detect_color_level, (None,), {"stream": None},
     "detect_color_level() got multiple values for keyword argument 'stream'"),
    (detect.supports_color, (), {"file": None},
     "supports_color() got an unexpected keyword argument 'file'"),
    (detect._has_windows_console, (1,), {}, "_has_windows_console() takes no arguments (1 given)"),
    (detect.enable_windows_vt, (1, 2), {}, "enable_windows_vt() takes no arguments (2 given)"),
    (detect._has_windows_console, (), {"x": 1}, "_has_windows_console() takes no keyword arguments"),
    (detect.enable_windows_vt, (1,), {"x": 1}, "enable_windows_vt() takes no keyword arguments"),
    # styles: one exact-str parameter
    (styles.style_on, (), {}, exactly("style_on", 1, 0)),
    (styles.style_off, ("bold", "dim"), {}, exactly("style_off", 1, 2)),
    (styles.style_on, (), {"style": "bold"}, "style_on() got an unexpected keyword argument 'style'"),
    (styles.style_off, (), {"name": 5}, "Argument 'name' has incorrect type (expected str, got int)"),
]


@pytest.mark.parametrize(
    "fn, args, kwargs, message", BINDING_ERRORS,
    ids=[f"{case[0].__name__}-{i}" for i, case in enumerate(BINDING_ERRORS)],
)
def test_binding_errors(fn, args, kwargs, message):
    error = raises(TypeError, message, fn, *args, **kwargs)
    assert entries(error) == [entry(f"{fn.__module__}.{fn.__name__}")]
    assert not hasattr(error, "__notes__")


def test_keywords_bind(monkeypatch):
    def fresh(text):  # an equal str that is not the interned parameter name
        return "".join(list(text))

    assert colors.parse_hex(color="#fff") == (255, 255, 255)
    assert colors.parse_hex(**{fresh("color"): "#fff"}) == (255, 255, 255)
    assert colors.parse_hex(**{Text("color"): "#000"}) == (0, 0, 0)
    assert colors.rgb_to_ansi256(b=0, g=0, r=255) == 196
    assert colors.rgb_to_ansi256(255, b=0, g=0) == 196
    assert colors._validate_rgb(0, **{fresh("b"): 0, fresh("g"): 0}) is None
    assert colors.fg_code(color="red") == "\x1b[31m"
    assert colors._color_code(foreground=False, color="red") == "\x1b[41m"
    assert colors._color_code("red", **{fresh("foreground"): 1}) == "\x1b[31m"
    assert styles.style_on(name="bold") == "\x1b[1m"
    monkeypatch.setenv("NO_COLOR", "1")
    assert detect.detect_color_level(stream=None) == detect.ColorLevel.NONE
    assert detect.supports_color(**{fresh("stream"): None}) is False
    assert detect._has_windows_console(*(), **{}) is detect._has_windows_console()


def test_keywords_must_be_strings():
    # A keyword dictionary is refused by the interpreter before the call.
    raises(*interpreter_error(lambda: sorted(**{1: "#fff"})), lambda: colors.parse_hex(**{1: "#fff"}))

    # A call through the C API with a non-str keyword name reaches the
    # function itself.
    vectorcall = ctypes.pythonapi.PyObject_Vectorcall
    vectorcall.restype = ctypes.py_object
    vectorcall.argtypes = [ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object]

    def call(fn, positional, keywords):
        values = [*positional, *keywords.values()]
        array = (ctypes.py_object * max(len(values), 1))(*values)
        names = tuple(keywords) if keywords else None
        return vectorcall(fn, ctypes.cast(array, ctypes.c_void_p), len(positional), names)

    assert call(colors.parse_hex, [], {"color": "#abc"}) == (170, 187, 204)
    assert call(colors._color_code, ["red"], {"foreground": 0}) == "\x1b[41m"
    for fn, positional, keywords in [
        (colors.parse_hex, [], {1: "#fff"}),
        (colors.parse_hex, ["#fff"], {b"color": 1}),
        (colors._color_code, [], {"color": "red", None: 1}),
        (colors.rgb_to_ansi256, [1, 2, 3], {3.0: 1}),
    ]:
        error = raises(TypeError, f"{fn.__name__}() keywords must be strings",
                       call, fn, positional, keywords)
        assert entries(error)[-1] == entry(f"tintara.colors.{fn.__name__}")

    # The same name twice.
    array = (ctypes.py_object * 2)("#fff", "#000")
    raises(TypeError, "parse_hex() got multiple values for keyword argument 'color'",
           vectorcall, colors.parse_hex, ctypes.cast(array, ctypes.c_void_p), 0, ("color", "color"))
    raises(TypeError, "_has_windows_console() takes no keyword arguments",
           call, detect._has_windows_console, [], {1: 2})


class Truth:
    def __init__(self, result):
        self.result = result
        self.calls = 0

    def __bool__(self):
        self.calls += 1
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


def test_foreground_truth_value():
    for value, expected in [(Truth(True), 31), (Truth(False), 41)]:
        assert colors._color_code("red", foreground=value) == f"\x1b[{expected}m"
        assert value.calls == 1

    error = Boom("truth")
    value = Truth(error)
    with pytest.raises(Boom) as info:
        # The truth value is taken while binding, before the colour is looked at.
        colors._color_code(object(), foreground=value)
    assert info.value is error and value.calls == 1
    assert entries(info.value)[0] == entry("tintara.colors._color_code")

    raises(*interpreter_error(bool, Truth(1)), colors._color_code, "red", foreground=Truth(1))

    class Sized:
        def __init__(self, n):
            self.n = n

        def __len__(self):
            if isinstance(self.n, BaseException):
                raise self.n
            return self.n

    assert colors._color_code("red", foreground=Sized(2)) == "\x1b[31m"
    assert colors._color_code("red", foreground=Sized(0)) == "\x1b[41m"
    raises(*interpreter_error(bool, Sized(-1)), colors._color_code, 1, foreground=Sized(-1))
    with pytest.raises(Boom, match="len"):
        colors._color_code("red", foreground=Sized(Boom("len")))


@pytest.mark.parametrize("fn, param", [(colors.parse_hex, "color"), (styles.style_on, "name"),
                                       (styles.style_off, "name")])
def test_exact_str_enforced(fn, param):
    class Name(str):
        pass

    error = raises(TypeError, f"Argument '{param}' has incorrect type (expected str, got Name)",
                   fn, Name("bold"))
    assert len(error.__notes__) == 1
    note = error.__notes__[0]
    assert type(note) is str and note.endswith(".")
    assert note.count(". ") == 0 and "\n" not in note.strip()
    # Only subclasses of str get the note.
    error = raises(TypeError, f"Argument '{param}' has incorrect type (expected str, got list)",
                   fn, [])
    assert not hasattr(error, "__notes__")
    long_name = type("N" * 250, (), {})
    raises(TypeError, f"Argument '{param}' has incorrect type (expected str, got {'N' * 200})",
           fn, long_name())


def test_int_coercion_order():
    log = []

    class Component:
        def __init__(self, tag, value):
            self.tag, self.value = tag, value

        def __index__(self):
            log.append(self.tag)
            if isinstance(self.value, BaseException):
                raise self.value
            return self.value

    for fn in (colors.rgb_to_ansi256, colors._validate_rgb):
        log.clear()
        error = Boom("g")
        with pytest.raises(Boom) as info:
            fn(Component("r", 1), Component("g", error), Component("b", 2))
        assert info.value is error and log == ["r", "g"]
        assert entries(info.value)[0] == entry(f"tintara.colors.{fn.__name__}")

        log.clear()
        raises(TypeError, "Argument 'g' has incorrect type (expected int, got str)",
               fn, Component("r", 1), "1", Component("b", 2))
        assert log == ["r"]

    # All three are coerced before any is validated.
    log.clear()
    raises(TypeError, "Argument 'b' has incorrect type (expected int, got NoneType)",
           colors._validate_rgb, Component("r", 999), Component("g", 0), None)
    assert log == ["r", "g"]
    log.clear()
    raises(ValueError, "G 分量须在 0-255 范围内，收到: 256",
           colors._validate_rgb, r=Component("r", 0), b=Component("b", 999), g=Component("g", 256))
    assert log == ["r", "g", "b"]


@pytest.mark.parametrize(
    "value, expected",
    [
        (type("FloatOnly", (), {"__float__": lambda self: 2.0})(), None),
        (type("BadIndex", (), {"__index__": lambda self: "1"})(), None),
        (1 + 0j, None),
        (type("Complex", (complex,), {})(1), None),
        (float("nan"), None),
        (type("ComplexOnly", (), {"__complex__": lambda self: 1j})(),
         "Argument 'b' has incorrect type (expected int, got ComplexOnly)"),
        (type("IndexText", (str,), {"__index__": lambda self: 7})("x"), 7),
    ],
    ids=["float-only", "bad-index", "complex", "complex-subclass", "nan", "complex-only",
         "str-with-index"],
)
def test_int_coercion(value, expected):
    if type(expected) is int:
        # Like int(value): the number protocol first.
        assert colors.rgb_to_ansi256(expected, expected, value) == 16
        assert colors.rgb_to_ansi256(expected, 255, value) == colors.rgb_to_ansi256(7, 255, 7)
        return
    if expected is not None:
        raises(TypeError, expected, colors.rgb_to_ansi256, 0, 0, value)
        return
    with pytest.raises(Exception) as reference:
        int(value)
    raises(type(reference.value), str(reference.value), colors.rgb_to_ansi256, 0, 0, value)


# ---------------------------------------------------------------------------
# Traceback entries


class Hex(str):
    pass


TRACEBACK_CASES = [
    (lambda: colors.fg_code("#12"), ["fg_code", "_color_code", "parse_hex"]),
    (lambda: colors.bg_code(Hex("#fff")), ["bg_code", "_color_code", "parse_hex"]),
    (lambda: colors._color_code("#1", foreground=1), ["_color_code", "parse_hex"]),
    (lambda: colors.fg_code((1, 2, 300)), ["fg_code", "_color_code", "_validate_rgb"]),
    (lambda: colors.bg_code((1, "2", 3)), ["bg_code", "_color_code", "_validate_rgb"]),
    (lambda: colors.fg_code((1, 2)), ["fg_code", "_color_code"]),
    (lambda: colors.fg_code("teal"), ["fg_code", "_color_code"]),
    (lambda: colors.bg_code(256), ["bg_code", "_color_code"]),
    (lambda: colors.bg_code(None), ["bg_code", "_color_code"]),
    (lambda: colors.parse_hex("#12"), ["parse_hex"]),
    (lambda: colors._validate_rgb(0, 0, -1), ["_validate_rgb"]),
    (lambda: colors.rgb_to_ansi256(0, 0, float("inf")), ["rgb_to_ansi256"]),
]


@pytest.mark.parametrize("call, names", TRACEBACK_CASES)
def test_traceback_entries(call, names):
    with pytest.raises(Exception) as info:
        call()
    got = entries(info.value)
    assert got[0][0] == "<lambda>"
    assert got[1:] == [entry(f"tintara.colors.{n}") for n in names]
    text = "".join(traceback.format_exception(info.value))
    assert f'File "tintara/colors.py", line ' in text
    assert all(f", in tintara.colors.{n}\n" in text for n in names)


def test_traceback_entries_with_rebound_names(monkeypatch):
    def failing(*args, **kwargs):
        raise Boom("python")

    here = __file__

    def names_of(call):
        with pytest.raises(Exception) as info:
            call()
        got = [(n, f if f.startswith("tintara/") else here) for n, f in entries(info.value)]
        assert got[0][0] == "<lambda>"
        return got[1:]

    fg, cc = entry("tintara.colors.fg_code"), entry("tintara.colors._color_code")
    monkeypatch.setattr(colors, "parse_hex", failing)
    assert names_of(lambda: colors.fg_code("#fff")) == [fg, cc, ("failing", here)]
    monkeypatch.delattr(colors, "ESC")
    assert names_of(lambda: colors.fg_code(1)) == [fg, cc]
    monkeypatch.setattr(colors, "_color_code", failing)
    assert names_of(lambda: colors.fg_code(1)) == [fg, ("failing", here)]
    monkeypatch.setattr(colors, "_color_code", lambda color, foreground: 5)
    assert names_of(lambda: colors.fg_code(1)) == [fg]
    monkeypatch.delattr(colors, "_color_code")
    assert names_of(lambda: colors.fg_code(1)) == [fg]

    class Lower(str):
        def lower(self):
            raise Boom("lower")

    monkeypatch.undo()
    assert names_of(lambda: colors.fg_code(Lower("RED"))) == [fg, cc, ("lower", here)]


# ---------------------------------------------------------------------------
# Positional-only parameters, defaults other than None, and types whose
# constructor and methods are functions of the frame (what tintara.paint uses)


RED_PEN = paint.Style("red").bind(level=1)

PAINT_BINDING_ERRORS = [
    (paint.paint, (), {"text": "x"}, "paint",
     "paint() got some positional-only arguments passed as keyword arguments: 'text'"),
    (paint.paint, (), {"level": 1, "text": "x", "style": None}, "paint",
     "paint() got some positional-only arguments passed as keyword arguments: 'text, style'"),
    (paint.echo, ("x",), {"style": None}, "echo",
     "echo() got some positional-only arguments passed as keyword arguments: 'style'"),
    (paint.echo, ("x",), {"nope": None}, "echo", "echo() got an unexpected keyword argument 'nope'"),
    (paint.paint, ("x", None, None), {}, "paint", "paint() takes at most 2 positional arguments (3 given)"),
    (paint.downgrade, ("red",), {"background": 1}, "downgrade",
     "downgrade() takes exactly 2 positional arguments (1 given)"),
    # the class object binds its arguments as __new__(cls, ...)
    (paint.Style, (1, 2, 3), {}, "Style.__new__", "__new__() takes at most 3 positional arguments (4 given)"),
    (paint.Style, ("red",), {"fg": "red"}, "Style.__new__",
     "__new__() got multiple values for keyword argument 'fg'"),
    (paint.Style, (), {"strike": True}, "Style.__new__", "__new__() got an unexpected keyword argument 'strike'"),
    (RED_PEN, (), {}, "Pen.__call__", "__call__() takes exactly 2 positional arguments (1 given)"),
    (RED_PEN, ("x",), {"text": "x"}, "Pen.__call__", "__call__() got multiple values for keyword argument 'text'"),
]


@pytest.mark.parametrize("fn, args, kwargs, name, message", PAINT_BINDING_ERRORS)
def test_positional_only_and_constructor_binding(fn, args, kwargs, name, message):
    error = raises(TypeError, message, fn, *args, **kwargs)
    assert entries(error) == [entry(f"tintara.paint.{name}")]


def test_defaults_as_a_def_statement_makes_them():
    assert paint.paint.__defaults__ == (None,)
    assert paint.paint.__kwdefaults__ == {"level": None, "stream": None}
    assert paint.echo.__kwdefaults__ == {"file": None, "end": "\n", "flush": False}
    assert (paint.downgrade.__defaults__, paint.downgrade.__kwdefaults__) == (None, {"background": False})
    assert colors._color_code.__kwdefaults__ is None  # keyword-only, but no default
    assert [f.__code__.co_posonlyargcount for f in (paint.paint, paint.echo, paint.strip)] == [2, 2, 0]
    # The defaults are what binding fills in.
    assert paint.downgrade("red", 1) == "\x1b[31m"
    assert paint.paint("x", level=None, stream=None) == paint.paint(*["x"], **{"stream": None}) == "x"


def test_types_with_methods_of_the_frame():
    S = paint.Style
    function = type(paint.paint)
    for name in ("codes", "render", "bind"):
        assert type(vars(S)[name]) is function and vars(S)[name].__qualname__ == f"Style.{name}"
    assert type(vars(S)["parse"]) is classmethod and type(vars(S)["__new__"]) is staticmethod
    assert S.parse.__self__ is S and S.__new__ is vars(S)["__new__"].__func__
    red = S("red")
    assert red.codes.__self__ is red and red.codes(1) == S.codes(red, 1)
    # Every way of calling the class goes through __new__.
    assert S("red", bold=True) == type.__call__(S, "red", bold=True) == S.__new__(S, "red", bold=True)
    assert S("red", bold=True) == S(*["red"], **{"bold": True}) == S(**{"fg": "red", "bold": True})
    raises(TypeError, "descriptor 'codes' for 'Style' objects doesn't apply to a 'int' object", S.codes, 5, 1)
    # The interpreter's messages, for a type of its own and for these.
    exc_type, message = interpreter_error(type, "Sub", (bool,), {})
    raises(exc_type, message.replace("'bool'", "'tintara.paint.Style'"), type, "Sub", (S,), {})
    pen_type = type(RED_PEN)
    assert pen_type.__call__(RED_PEN, "x") == RED_PEN("x") == RED_PEN(text="x")
    exc_type, message = interpreter_error(type(iter(())))
    raises(exc_type, message.replace("'tuple_iterator'", "'tintara.paint.Pen'"), pen_type)
    # Errors leaving a method, the class or a pen name them.
    for call, name in [(lambda: S("nope"), "Style.__new__"), (lambda: S.parse("bold xx"), "Style.parse"),
                       (lambda: red.codes(7), "Style.codes"), (lambda: RED_PEN(StrRaises()), "Pen.__call__")]:
        with pytest.raises(Exception) as info:
            call()
        assert [e for e in entries(info.value) if e[1].startswith("tintara/")] == [entry(f"tintara.paint.{name}")]


@pytest.mark.parametrize("fn, name, changed", [
    (paint.paint, "level", 3),
    (paint.echo, "end", "!"),
    (paint.downgrade, "background", True),
    (paint.Style.render, "level", 3),
    (paint.Style.bind, "level", 3),
])
def test_kwdefaults_handed_out_change_nothing(fn, name, changed):
    # A function's keyword-only defaults are fixed: the dict handed out is a
    # copy, so changing it changes neither calls nor signatures.
    before = inspect.signature(fn).parameters[name].default
    fn.__kwdefaults__[name] = changed
    assert fn.__kwdefaults__[name] == before != changed
    assert inspect.signature(fn).parameters[name].default == before
    assert paint.paint("x", "red", stream=detect_stream(False)) == "x"
    assert paint.downgrade("red", 1) == "\x1b[31m"


def detect_stream(tty):
    return types.SimpleNamespace(isatty=lambda: tty)


@pytest.mark.parametrize("method, args", [
    (paint.Style.codes, (1,)), (paint.Style.render, ("x",)), (paint.Style.bind, ()),
    (type(RED_PEN).__call__, ("x",)),
])
@pytest.mark.parametrize("obj", [5, "red", None, RED_PEN, paint.Style("red")])
def test_methods_check_their_object(method, args, obj):
    owner = method.__qualname__.split(".")[0]
    if type(obj).__name__ == owner:
        return
    raises(TypeError, f"descriptor '{method.__name__}' for '{owner}' objects doesn't apply to a "
                      f"'{type(obj).__name__}' object", method, obj, *args)
