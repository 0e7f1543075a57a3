"""What introspection tools see: inspect.signature, help(), and the stubs.

The module functions are not Python functions, yet ``inspect`` and
``pydoc`` have to read their parameters, defaults, keyword-only markers,
annotations and docstrings as if they were.  The installed ``.pyi`` stubs
must agree with what the modules declare at run time.
"""

import ast
import importlib
import inspect
import io
import pydoc
import re
import typing
from pathlib import Path

import pytest

MODULES = ("colors", "detect", "styles")

RGB_SPEC = "str | int | Tuple[int, int, int]"

# Every function of every module, with its signature as str(signature) shows it.
SIGNATURES = {
    ("colors", "parse_hex"): "(color: 'str') -> 'Tuple[int, int, int]'",
    ("colors", "rgb_to_ansi256"): "(r: 'int', g: 'int', b: 'int') -> 'int'",
    ("colors", "fg_code"): f"(color: '{RGB_SPEC}') -> 'str'",
    ("colors", "bg_code"): f"(color: '{RGB_SPEC}') -> 'str'",
    ("colors", "_color_code"): f"(color: '{RGB_SPEC}', *, foreground: 'bool') -> 'str'",
    ("colors", "_validate_rgb"): "(r: 'int', g: 'int', b: 'int') -> 'None'",
    ("detect", "_has_windows_console"): "() -> 'bool'",
    ("detect", "detect_color_level"): "(stream=None) -> 'ColorLevel'",
    ("detect", "supports_color"): "(stream=None) -> 'bool'",
    ("detect", "enable_windows_vt"): "() -> 'bool'",
    ("styles", "style_on"): "(name: 'str') -> 'str'",
    ("styles", "style_off"): "(name: 'str') -> 'str'",
}


def module(name):
    return importlib.import_module(f"tintara.{name}")


def functions(mod):
    """The module's own functions, as introspection finds them."""
    return {
        name
        for name, value in vars(mod).items()
        if inspect.isroutine(value) and getattr(value, "__module__", None) == mod.__name__
    }


def stub_tree(name):
    """The stub installed next to the extension module."""
    path = Path(module(name).__file__).with_name(f"{name}.pyi")
    assert path.is_file(), f"no stub installed at {path}"
    return ast.parse(path.read_text(encoding="utf-8"), str(path))


@pytest.mark.parametrize("name", MODULES)
def test_every_function_is_listed(name):
    assert functions(module(name)) == {f for m, f in SIGNATURES if m == name}


@pytest.mark.parametrize(("mod", "func"), SIGNATURES)
def test_signature(mod, func):
    fn = getattr(module(mod), func)
    assert str(inspect.signature(fn)) == SIGNATURES[mod, func]
    assert fn.__qualname__ == func
    assert inspect.getmodule(fn) is module(mod)


def test_signature_kinds_and_defaults():
    detect = module("detect")
    for fn in (detect.detect_color_level, detect.supports_color):
        param = inspect.signature(fn).parameters["stream"]
        assert param.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert param.default is None
        assert param.annotation is inspect.Parameter.empty
    color_code = module("colors")._color_code
    sig = inspect.signature(color_code)
    fg = sig.parameters["foreground"]
    assert (fg.kind, fg.default) == (inspect.Parameter.KEYWORD_ONLY, inspect.Parameter.empty)
    # The signature refuses what the call refuses.
    with pytest.raises(TypeError):
        sig.bind("red", True)
    with pytest.raises(TypeError, match="takes exactly 1 positional argument"):
        color_code("red", True)
    assert sig.bind("red", foreground=True).arguments == {"color": "red", "foreground": True}


def help_text(mod):
    out = io.StringIO()
    pydoc.Helper(output=out).help(mod)
    return out.getvalue()


def stripped_lines(text):
    """The lines without indentation or the "|" margin of class sections."""
    return [line.strip().lstrip("|").strip() for line in text.splitlines()]


def contains_run(lines, run):
    return any(lines[i : i + len(run)] == run for i in range(len(lines) - len(run) + 1))


@pytest.mark.parametrize("name", MODULES)
def test_help_lists_functions_with_docstrings(name):
    mod = module(name)
    text = help_text(mod)
    lines = stripped_lines(text)
    assert lines[0] == f"Help on module tintara.{name} in tintara:"
    assert f"tintara.{name} - {mod.__doc__.splitlines()[0]}" in lines
    public = sorted(f for m, f in SIGNATURES if m == name and not f.startswith("_"))
    assert public
    for func in public:
        fn = getattr(mod, func)
        head = func + SIGNATURES[name, func].replace("'", "")
        doc = stripped_lines(inspect.cleandoc(fn.__doc__))
        assert contains_run(lines, [head, *doc]), f"{head} and its docstring not in help()"


def test_help_shows_color_level():
    detect = module("detect")
    lines = stripped_lines(help_text(detect))
    head = ["class ColorLevel(enum.IntEnum)", "ColorLevel(*values)", "", detect.ColorLevel.__doc__]
    assert contains_run(lines, head)
    for member in detect.ColorLevel:
        assert f"{member.name} = {member!r}" in lines


# --- the stubs against the run-time declarations ---------------------------


def stub_functions(tree):
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


@pytest.mark.parametrize("name", MODULES)
def test_stub_annotations_match_runtime(name):
    """stubtest checks parameter names and kinds; this checks the types.

    Each stub annotation is the run-time annotation text, written with the
    builtin ``tuple`` where the module says ``typing.Tuple``.
    """
    mod = module(name)
    stubs = stub_functions(stub_tree(name))
    assert set(stubs) == functions(mod)
    for func, node in stubs.items():
        declared = {k: v.replace("Tuple[", "tuple[") for k, v in getattr(mod, func).__annotations__.items()}
        args = node.args
        assert not (args.vararg or args.kwarg or args.posonlyargs)
        in_stub = {a.arg: ast.unparse(a.annotation) for a in args.args + args.kwonlyargs}
        in_stub["return"] = ast.unparse(node.returns)
        for key, text in declared.items():
            assert in_stub[key] == text, f"{func}: {key}"
        # A parameter the module leaves unannotated takes any object.
        for key in in_stub.keys() - declared.keys():
            assert in_stub[key] == "object | None", f"{func}: {key}"


def test_stub_color_level_members():
    """stubtest does not compare enum member values; do it here."""
    (cls,) = [n for n in stub_tree("detect").body if isinstance(n, ast.ClassDef) and n.name == "ColorLevel"]
    assert [ast.unparse(b) for b in cls.bases] == ["IntEnum"]
    members = {
        node.targets[0].id: ast.literal_eval(node.value) for node in cls.body if isinstance(node, ast.Assign)
    }
    assert members == {m.name: m.value for m in module("detect").ColorLevel}


MODULE_DUNDERS = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__", "__builtins__"}


def conforms(value, tp):
    """Whether value, down to every item, is of the (evaluated) stub type."""
    origin, args = typing.get_origin(tp), typing.get_args(tp)
    if origin is None:
        return tp is object or type(value) is tp
    if not isinstance(value, origin):
        return False
    if origin is dict:
        return all(conforms(k, args[0]) and conforms(v, args[1]) for k, v in value.items())
    if origin is tuple:
        return len(value) == len(args) and all(map(conforms, value, args))
    if origin is re.Pattern:
        return conforms(value.pattern, args[0])
    raise AssertionError(f"no check for {tp}")


@pytest.mark.parametrize("name", MODULES)
def test_stub_names_and_types(name):
    """The stub names every module attribute, with a type its value has.

    stubtest skips imported names and cannot see inside a dict; this covers
    both, so NAMED_COLORS: dict[str, int] is checked item by item.
    """
    mod = module(name)
    tree = stub_tree(name)
    names = {}
    for node in tree.body:
        if isinstance(node, ast.AnnAssign):
            tp = eval(ast.unparse(node.annotation), {"re": re})  # noqa: S307 - our own stub
            names[node.target.id] = getattr(mod, node.target.id)
            assert conforms(names[node.target.id], tp), f"{node.target.id} is not {ast.unparse(node.annotation)}"
        elif isinstance(node, ast.Import):
            for alias in node.names:
                assert alias.asname == alias.name, "a stub import that is no re-export"
                names[alias.name] = importlib.import_module(alias.name)
        elif isinstance(node, ast.ImportFrom):
            source = importlib.import_module(node.module)
            for alias in node.names:
                assert alias.asname == alias.name, "a stub import that is no re-export"
                names[alias.name] = getattr(source, alias.name)
        elif isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names[node.name] = getattr(mod, node.name)
    runtime = {k: v for k, v in vars(mod).items() if k not in MODULE_DUNDERS}
    assert names.keys() == runtime.keys()
    for key, value in names.items():
        assert runtime[key] is value, key


@pytest.mark.parametrize("name", ["paint", "echo", "link", "strip", "sanitize", "downgrade", "nearest_256",
                                  "nearest_16", "Style.codes", "Style.render", "Style.bind", "Style.__copy__",
                                  "Style.__reduce__", "Pen.__call__", "Pen.__deepcopy__"])
def test_paint_traceback_lines_are_the_twins(name):
    """paint's traceback entries name the line of the twin's function."""
    twin = pytest.importorskip("twin.paint")
    ext = importlib.import_module("tintara.paint")
    found = []
    for mod in (ext, twin):
        owner, _, attr = name.rpartition(".")
        where = {"": mod, "Style": mod.Style, "Pen": type(mod.Style().bind(level=0))}[owner]
        found.append(getattr(where, attr).__code__.co_firstlineno)
    assert found[0] == found[1]
