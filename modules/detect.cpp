// tintara.detect: the colour level of a terminal, from the environment, the
// platform and the stream; and the Windows console, reached through ctypes
// at call time only.
#include "frame/frame.hpp"

namespace tintara::detect {
namespace {

// ---------------------------------------------------------------------------
// Docstrings

namespace text {
constexpr const char* kModule =
    "终端能力检测。\n\n自动检测当前终端是否支持颜色输出以及支持的色彩级别。\n";
constexpr const char* kColorLevel = "终端色彩支持级别。";
constexpr const char* kHasWindowsConsole =
    "检测当前进程是否关联了真正的 Windows 控制台。\n\n"
    "    通过 ``GetConsoleMode`` 验证 stdout 句柄是控制台句柄（而非管道/文件）。\n"
    "    用于区分 IDE 终端窗口（有控制台）和 IDE 运行控制台（管道，无控制台）。\n    ";
constexpr const char* kDetectColorLevel =
    "检测终端的色彩支持级别。\n\n"
    "    检测逻辑:\n"
    "    1. 环境变量 NO_COLOR / FORCE_COLOR 优先\n"
    "    2. IDE 终端检测（VS Code / PyCharm Terminal，通过控制台句柄验证）\n"
    "    3. 非 TTY → NONE\n"
    "    4. Windows Terminal / ConEmu / ANSICON → TRUECOLOR\n"
    "    5. COLORTERM=truecolor/24bit → TRUECOLOR\n"
    "    6. TERM 包含 256color → EXTENDED\n"
    "    7. 其他有效 TERM → BASIC\n    ";
constexpr const char* kSupportsColor = "快速判断终端是否支持颜色。";
constexpr const char* kEnableWindowsVt =
    "在 Windows 上启用虚拟终端处理 (VT100 转义序列)。\n\n"
    "    使用 ``msvcrt.get_osfhandle`` 获取与 Python 文件对象关联的真实\n"
    "    Windows 句柄，确保在 VS Code 集成终端等环境中也能正确工作。\n\n"
    "    返回是否成功启用 VT 处理。\n    ";
constexpr const char* kTryEnable = "尝试为单个流启用 VT 处理。";
}  // namespace text

// The module's state: the frame's, as nothing here is kept between calls.
struct State {
    ModuleState frame;
};
State g;

// ---------------------------------------------------------------------------
// Constants

Str s_color_level_doc{text::kColorLevel};

// ---------------------------------------------------------------------------
// Shared pieces

// os.environ.get(key[, fallback]), reading os and environ afresh.
Ref env_get(const ModuleState& st, PyObject* key, PyObject* fallback = nullptr)
{
    Ref os = global(st, str<"os">);
    Ref environ = os ? attr(os.get(), str<"environ">) : Ref();
    if (!environ) {
        return {};
    }
    return fallback != nullptr ? call_method(environ.get(), str<"get">, key, fallback)
                               : call_method(environ.get(), str<"get">, key);
}

// ColorLevel.<member>, fetched from the module attribute now.
Ref level(const ModuleState& st, PyObject* member)
{
    Ref cls = global(st, str<"ColorLevel">);
    return cls ? attr(cls.get(), member) : Ref();
}

// sys.platform compared with "win32" (op: Py_EQ or Py_NE); 1, 0 or -1.
int platform_is(const ModuleState& st, int op)
{
    Ref sys = global(st, str<"sys">);
    Ref platform = sys ? attr(sys.get(), str<"platform">) : Ref();
    return platform ? PyObject_RichCompareBool(platform.get(), str<"win32">, op) : -1;
}

// value == any of texts; 1, 0 or -1.
int equals_any(PyObject* value, std::initializer_list<PyObject*> texts)
{
    for (PyObject* text : texts) {
        int eq = equal(value, text);
        if (eq != 0) {
            return eq;
        }
    }
    return 0;
}

// The truth value of os.environ.get(key); 1, 0 or -1.
int env_true(const ModuleState& st, PyObject* key)
{
    Ref v = env_get(st, key);
    return v ? truth(v.get()) : -1;
}

// os.environ.get(key) == text; 1, 0 or -1.
int env_equals(const ModuleState& st, PyObject* key, PyObject* text)
{
    Ref v = env_get(st, key);
    return v ? equal(v.get(), text) : -1;
}

// os.environ.get(key, "").lower()
Ref env_lower(const ModuleState& st, PyObject* key)
{
    Ref v = env_get(st, key, str<"">);
    return v ? call_method(v.get(), str<"lower">) : Ref();
}

int set_attr(PyObject* obj, PyObject* name, Ref value)
{
    return value ? PyObject_SetAttr(obj, name, value.get()) : -1;
}

Ref list_of(std::initializer_list<PyObject*> items)
{
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) {
        return list;
    }
    Py_ssize_t i = 0;
    for (PyObject* item : items) {
        PyList_SET_ITEM(list.get(), i++, Ref::borrow(item).release());
    }
    return list;
}

// `from MODULE import NAME` inside a function.
Ref from_import(const ModuleState& st, PyObject* module, PyObject* name)
{
    Ref fromlist = Ref::steal(PyTuple_Pack(1, name));
    Ref mod = fromlist ? Ref::steal(PyImport_ImportModuleLevelObject(module, st.dict.get(), nullptr,
                                                                     fromlist.get(), 0))
                       : Ref();
    return mod ? import_from(mod.get(), name) : Ref();
}

// A call's failure inside `try: ... except Exception:`: absorbed (1) or
// passed on (0).
bool absorb_exception()
{
    if (PyErr_ExceptionMatches(PyExc_Exception)) {
        PyErr_Clear();
        return true;
    }
    return false;
}

// fn.argtypes = argtypes; fn.restype = wintypes.<restype>, in that order.
// -1 on failure.
int prototype(PyObject* fn, Ref argtypes, PyObject* wintypes, PyObject* restype)
{
    if (set_attr(fn, str<"argtypes">, std::move(argtypes)) < 0) {
        return -1;
    }
    return set_attr(fn, str<"restype">, attr(wintypes, restype));
}

// ctypes.WinDLL("kernel32", use_last_error=True)
Ref load_kernel32(PyObject* ctypes)
{
    static Held kwnames;
    PyObject* const names[] = {str<"use_last_error">};
    if (!kwnames && kwnames.set(tuple_of(names)) == nullptr) {
        return {};
    }
    Ref windll = attr(ctypes, str<"WinDLL">);
    PyObject* args[] = {str<"kernel32">, Py_True};
    return windll ? Ref::steal(PyObject_Vectorcall(windll.get(), args, 1, kwnames.get())) : Ref();
}

// fn.argtypes = [wintypes.HANDLE, ctypes.POINTER(wintypes.DWORD)];
// fn.restype = wintypes.BOOL
int console_mode_prototype(PyObject* fn, PyObject* ctypes, PyObject* wintypes)
{
    Ref handle = attr(wintypes, str<"HANDLE">);
    Ref pointer = handle ? attr(ctypes, str<"POINTER">) : Ref();
    Ref dword = pointer ? attr(wintypes, str<"DWORD">) : Ref();
    Ref pointer_to_dword = dword ? call(pointer.get(), dword.get()) : Ref();
    if (!pointer_to_dword) {
        return -1;
    }
    return prototype(fn, list_of({handle.get(), pointer_to_dword.get()}), wintypes, str<"BOOL">);
}

// fn(handle, ctypes.byref(mode))
Ref query_mode(PyObject* fn, PyObject* handle, PyObject* ctypes, PyObject* mode)
{
    Ref byref = attr(ctypes, str<"byref">);
    Ref ref = byref ? call(byref.get(), mode) : Ref();
    if (!ref) {
        return {};
    }
    PyObject* args[] = {handle, ref.get()};
    return Ref::steal(PyObject_Vectorcall(fn, args, 2, nullptr));
}

// handle == 0 or handle == -1; 1, 0 or -1.
int no_handle(PyObject* handle)
{
    return equals_any(handle, {integer<0>, integer<-1>});
}

// ---------------------------------------------------------------------------
// ColorLevel

Ref color_level_class(Module& m)
{
    Ref base = m.get(str<"IntEnum">);
    if (!base) {
        return {};
    }
    PyObject* meta = reinterpret_cast<PyObject*>(Py_TYPE(base.get()));
    Ref bases = Ref::steal(PyTuple_Pack(1, base.get()));
    Ref ns = bases ? call_method(meta, str<"__prepare__">, str<"ColorLevel">, bases.get()) : Ref();
    if (!ns) {
        return {};
    }
    struct Entry {
        PyObject* key;
        PyObject* value;
    };
    Ref values[4];
    for (long i = 0; i < 4; ++i) {
        if (!(values[i] = Ref::steal(PyLong_FromLong(i)))) {
            return {};
        }
    }
    const Entry entries[] = {
        {str<"__module__">, str<"tintara.detect">},
        {str<"__qualname__">, str<"ColorLevel">},
        {str<"__doc__">, s_color_level_doc},
        {str<"NONE">, values[0].get()},
        {str<"BASIC">, values[1].get()},
        {str<"EXTENDED">, values[2].get()},
        {str<"TRUECOLOR">, values[3].get()},
    };
    for (const Entry& e : entries) {
        if (PyObject_SetItem(ns.get(), e.key, e.value) < 0) {
            return {};
        }
    }
    PyObject* args[] = {str<"ColorLevel">, bases.get(), ns.get()};
    return Ref::steal(PyObject_Vectorcall(meta, args, 3, nullptr));
}

// ---------------------------------------------------------------------------
// _has_windows_console()

Ref probe_console(const ModuleState& st)
{
    Ref ctypes = import_module(str<"ctypes">, st.dict.get());
    Ref wintypes = ctypes ? from_import(st, str<"ctypes">, str<"wintypes">) : Ref();
    Ref kernel32 = wintypes ? load_kernel32(ctypes.get()) : Ref();
    Ref get_std_handle = kernel32 ? attr(kernel32.get(), str<"GetStdHandle">) : Ref();
    if (!get_std_handle) {
        return {};
    }
    Ref dword = attr(wintypes.get(), str<"DWORD">);
    if (!dword || prototype(get_std_handle.get(), list_of({dword.get()}), wintypes.get(),
                            str<"HANDLE">) < 0) {
        return {};
    }
    Ref get_console_mode = attr(kernel32.get(), str<"GetConsoleMode">);
    if (!get_console_mode ||
        console_mode_prototype(get_console_mode.get(), ctypes.get(), wintypes.get()) < 0) {
        return {};
    }
    Ref handle = call(get_std_handle.get(), integer<-11>);
    int none = handle ? no_handle(handle.get()) : -1;
    if (none != 0) {
        return none < 0 ? Ref() : Ref::borrow(Py_False);
    }
    dword = attr(wintypes.get(), str<"DWORD">);
    Ref mode = dword ? Ref::steal(PyObject_CallNoArgs(dword.get())) : Ref();
    Ref ok =
        mode ? query_mode(get_console_mode.get(), handle.get(), ctypes.get(), mode.get()) : Ref();
    int t = ok ? truth(ok.get()) : -1;
    return t < 0 ? Ref() : Ref::borrow(t ? Py_True : Py_False);
}

Ref has_windows_console()
{
    const ModuleState& st = g.frame;
    int other = platform_is(st, Py_NE);
    if (other != 0) {
        return other < 0 ? Ref() : Ref::borrow(Py_False);
    }
    Ref result = probe_console(st);
    if (!result && absorb_exception()) {
        return Ref::borrow(Py_False);
    }
    return result;
}

// ---------------------------------------------------------------------------
// detect_color_level(stream=None)

Ref detect_color_level(PyObject* stream)
{
    const ModuleState& st = g.frame;
    int t;

    // 1. NO_COLOR, any non-empty value.
    Ref no_color = env_get(st, str<"NO_COLOR">, str<"">);
    if (!no_color || (t = PyObject_RichCompareBool(no_color.get(), str<"">, Py_NE)) < 0) {
        return {};
    }
    if (t) {
        return level(st, str<"NONE">);
    }

    // 2. FORCE_COLOR decides alone.
    Ref force = env_get(st, str<"FORCE_COLOR">, str<"">);
    if (!force || (t = PyObject_RichCompareBool(force.get(), str<"">, Py_NE)) < 0) {
        return {};
    }
    if (t) {
        struct Row {
            std::initializer_list<PyObject*> values;
            PyObject* member;
        };
        const Row rows[] = {
            {{str<"0">, str<"false">, str<"False">}, str<"NONE">},
            {{str<"1">, str<"true">, str<"True">}, str<"BASIC">},
            {{str<"2">}, str<"EXTENDED">},
            {{str<"3">}, str<"TRUECOLOR">},
        };
        for (const Row& row : rows) {
            if ((t = equals_any(force.get(), row.values)) != 0) {
                return t < 0 ? Ref() : level(st, row.member);
            }
        }
        return level(st, str<"BASIC">);
    }

    // 3. IDE terminals, on Windows only.
    if ((t = platform_is(st, Py_EQ)) < 0) {
        return {};
    }
    if (t) {
        int is_ide = env_equals(st, str<"TERM_PROGRAM">, str<"vscode">);
        for (PyObject* key :
             {str<"VSCODE_PID">.get(), str<"VSCODE_IPC_HOOK">.get(), str<"PYCHARM_HOSTED">.get()}) {
            if (is_ide == 0) {
                is_ide = env_true(st, key);
            }
        }
        if (is_ide != 0) {
            return is_ide < 0 ? Ref() : level(st, str<"TRUECOLOR">);
        }
    }

    // 4. and 5. The stream must be a terminal.
    Ref chosen;
    if (stream == Py_None) {
        Ref sys = global(st, str<"sys">);
        if (!sys || !(chosen = attr(sys.get(), str<"stdout">))) {
            return {};
        }
        stream = chosen.get();
    }
    if ((t = PyObject_HasAttrWithError(stream, str<"isatty">)) <= 0) {
        return t < 0 ? Ref() : level(st, str<"NONE">);
    }
    Ref tty = call_method(stream, str<"isatty">);
    if (!tty || (t = truth(tty.get())) < 0) {
        return {};
    }
    if (!t) {
        return level(st, str<"NONE">);
    }

    // 6. Windows terminals.
    if ((t = platform_is(st, Py_EQ)) < 0) {
        return {};
    }
    if (t) {
        if ((t = env_true(st, str<"WT_SESSION">)) == 0) {
            t = env_equals(st, str<"ConEmuANSI">, str<"ON">);
        }
        return t < 0 ? Ref() : level(st, t ? str<"TRUECOLOR"> : str<"BASIC">);
    }

    // 7. COLORTERM announces true colour.
    Ref colorterm = env_lower(st, str<"COLORTERM">);
    if (!colorterm || (t = equals_any(colorterm.get(), {str<"truecolor">, str<"24bit">})) < 0) {
        return {};
    }
    if (t) {
        return level(st, str<"TRUECOLOR">);
    }

    // 8. TERM.
    Ref term = env_lower(st, str<"TERM">);
    if (!term || (t = equal(term.get(), str<"dumb">)) < 0) {
        return {};
    }
    if (t) {
        return level(st, str<"NONE">);
    }
    if ((t = PySequence_Contains(term.get(), str<"256color">)) < 0) {
        return {};
    }
    if (t) {
        return level(st, str<"EXTENDED">);
    }
    if ((t = truth(term.get())) < 0) {
        return {};
    }
    return level(st, t ? str<"BASIC"> : str<"NONE">);
}

// ---------------------------------------------------------------------------
// supports_color(stream=None)

Ref supports_color(PyObject* stream)
{
    const ModuleState& st = g.frame;
    Ref detect = global(st, str<"detect_color_level">);
    Ref found = detect ? call(detect.get(), stream) : Ref();
    if (!found) {
        return {};
    }
    Ref none = level(st, str<"NONE">);
    return none ? Ref::steal(PyObject_RichCompare(found.get(), none.get(), Py_GT)) : Ref();
}

// ---------------------------------------------------------------------------
// enable_windows_vt() and its nested _try_enable(stream)

constexpr long kEnableVirtualTerminalProcessing = 0x0004;

// The closure of _try_enable, in this order.
enum Cell : Py_ssize_t {
    kGetOsfhandle,
    kKernel32,
    kGetConsoleMode,
    kSetConsoleMode,
    kCtypes,
    kWintypes,
    kCells
};

// Steps 1 to 3: the handle of stream, or its fallback, the standard output
// device.  Returns the handle, or an empty Ref: with an exception to pass
// on, or without one for "return False".
Ref stream_handle(PyObject* closure, PyObject* stream)
{
    PyObject* get_osfhandle = PyTuple_GET_ITEM(closure, kGetOsfhandle);
    Ref handle = Ref::borrow(Py_None);
    if (get_osfhandle != Py_None) {
        Ref fd = call_method(stream, str<"fileno">);
        Ref h = fd ? call(get_osfhandle, fd.get()) : Ref();
        if (h) {
            handle = std::move(h);
        } else if (!absorb_exception()) {
            return {};
        }
    }
    int fallback = handle.get() == Py_None ? 1 : equal(handle.get(), integer<-1>);
    if (fallback < 0) {
        return {};
    }
    if (fallback) {
        // No prototype here: ctypes passes and returns a C int.
        Ref get_std_handle = attr(PyTuple_GET_ITEM(closure, kKernel32), str<"GetStdHandle">);
        handle = get_std_handle ? call(get_std_handle.get(), integer<-11>) : Ref();
        if (!handle && absorb_exception()) {
            return {};
        }
    }
    return handle;
}

Ref try_enable(Function& self, PyObject* stream)
{
    PyObject* closure = self.closure;
    Ref handle = stream_handle(closure, stream);
    if (!handle) {
        return PyErr_Occurred() ? Ref() : Ref::borrow(Py_False);
    }
    int none = no_handle(handle.get());
    if (none != 0) {
        return none < 0 ? Ref() : Ref::borrow(Py_False);
    }
    PyObject* ctypes = PyTuple_GET_ITEM(closure, kCtypes);
    PyObject* get_console_mode = PyTuple_GET_ITEM(closure, kGetConsoleMode);
    Ref dword = attr(PyTuple_GET_ITEM(closure, kWintypes), str<"DWORD">);
    Ref mode = dword ? Ref::steal(PyObject_CallNoArgs(dword.get())) : Ref();
    Ref ok = mode ? query_mode(get_console_mode, handle.get(), ctypes, mode.get()) : Ref();
    int t = ok ? truth(ok.get()) : -1;
    if (t <= 0) {
        return t < 0 ? Ref() : Ref::borrow(Py_False);
    }
    Ref flag = Ref::steal(PyLong_FromLong(kEnableVirtualTerminalProcessing));
    Ref value = flag ? attr(mode.get(), str<"value">) : Ref();
    Ref new_mode = value ? Ref::steal(PyNumber_Or(value.get(), flag.get())) : Ref();
    if (!new_mode) {
        return {};
    }
    PyObject* set_args[] = {handle.get(), new_mode.get()};
    ok = Ref::steal(
        PyObject_Vectorcall(PyTuple_GET_ITEM(closure, kSetConsoleMode), set_args, 2, nullptr));
    t = ok ? truth(ok.get()) : -1;
    if (t <= 0) {
        return t < 0 ? Ref() : Ref::borrow(Py_False);
    }
    // Read the mode back; if that fails, the value read before stands.
    if (!query_mode(get_console_mode, handle.get(), ctypes, mode.get())) {
        return {};
    }
    flag = Ref::steal(PyLong_FromLong(kEnableVirtualTerminalProcessing));
    value = flag ? attr(mode.get(), str<"value">) : Ref();
    Ref bits = value ? Ref::steal(PyNumber_And(value.get(), flag.get())) : Ref();
    t = bits ? truth(bits.get()) : -1;
    return t < 0 ? Ref() : Ref::borrow(t ? Py_True : Py_False);
}

extern const FunctionDef try_enable_def;

// Step 4: kernel32 and the two console-mode functions with their
// prototypes; then the closure of _try_enable, made whole in one step.
// Empty with an exception on failure.
Ref console_closure(const ModuleState& st, PyObject* get_osfhandle)
{
    Ref ctypes = import_module(str<"ctypes">, st.dict.get());
    Ref wintypes = ctypes ? from_import(st, str<"ctypes">, str<"wintypes">) : Ref();
    Ref kernel32 = wintypes ? load_kernel32(ctypes.get()) : Ref();
    Ref get_mode = kernel32 ? attr(kernel32.get(), str<"GetConsoleMode">) : Ref();
    if (!get_mode || console_mode_prototype(get_mode.get(), ctypes.get(), wintypes.get()) < 0) {
        return {};
    }
    Ref set_mode = attr(kernel32.get(), str<"SetConsoleMode">);
    Ref handle = set_mode ? attr(wintypes.get(), str<"HANDLE">) : Ref();
    Ref dword = handle ? attr(wintypes.get(), str<"DWORD">) : Ref();
    if (!dword || prototype(set_mode.get(), list_of({handle.get(), dword.get()}), wintypes.get(),
                            str<"BOOL">) < 0) {
        return {};
    }
    static_assert(kGetOsfhandle == 0 && kKernel32 == 1 && kGetConsoleMode == 2 &&
                  kSetConsoleMode == 3 && kCtypes == 4 && kWintypes == 5 && kCells == 6);
    return Ref::steal(PyTuple_Pack(kCells, get_osfhandle, kernel32.get(), get_mode.get(),
                                   set_mode.get(), ctypes.get(), wintypes.get()));
}

Ref enable_windows_vt()
{
    ModuleState& st = g.frame;
    int other = platform_is(st, Py_NE);
    if (other != 0) {
        return other < 0 ? Ref() : Ref::borrow(Py_False);
    }

    Ref get_osfhandle = from_import(st, str<"msvcrt">, str<"get_osfhandle">);
    if (!get_osfhandle) {
        if (!PyErr_ExceptionMatches(PyExc_ImportError)) {
            return {};
        }
        PyErr_Clear();
        get_osfhandle = Ref::borrow(Py_None);
    }
    Ref closure = console_closure(st, get_osfhandle.get());
    if (!closure) {
        return absorb_exception() ? Ref::borrow(Py_False) : Ref();
    }

    Ref nested = make_function(st, try_enable_def, closure.get());
    if (!nested) {
        return {};
    }
    Ref sys = global(st, str<"sys">);
    Ref out = sys ? attr(sys.get(), str<"stdout">) : Ref();
    sys = out ? global(st, str<"sys">) : Ref();
    Ref err = sys ? attr(sys.get(), str<"stderr">) : Ref();
    if (!err) {
        return {};
    }
    for (PyObject* stream : {out.get(), err.get()}) {
        Ref ok = call(nested.get(), stream);
        int t = ok ? truth(ok.get()) : -1;
        if (t > 0) {
            return Ref::borrow(Py_True);
        }
        if (t < 0 && !absorb_exception()) {
            return {};
        }
    }
    return Ref::borrow(Py_False);
}

// ---------------------------------------------------------------------------
// The functions as data

// The names _try_enable reads from the closure of enable_windows_vt.
constexpr const char* kClosureNames =
    "ENABLE_VIRTUAL_TERMINAL_PROCESSING _GetConsoleMode _SetConsoleMode ctypes get_osfhandle "
    "kernel32 wintypes";

constexpr FunctionDef has_windows_console_def{
    .name = "_has_windows_console",
    .impl = bind<has_windows_console>("() -> bool"),
    .doc = text::kHasWindowsConsole,
    .locals = "ctypes wintypes kernel32 _GetStdHandle _GetConsoleMode handle mode",
    .line = 26,
};

constexpr FunctionDef detect_color_level_def{
    .name = "detect_color_level",
    .impl = bind<detect_color_level>("(stream=None) -> ColorLevel"),
    .doc = text::kDetectColorLevel,
    .locals = "force is_ide colorterm term",
    .line = 52,
};

constexpr FunctionDef supports_color_def{
    .name = "supports_color",
    .impl = bind<supports_color>("(stream=None) -> bool"),
    .doc = text::kSupportsColor,
    .line = 113,
};

constexpr FunctionDef enable_windows_vt_def{
    .name = "enable_windows_vt",
    .impl = bind<enable_windows_vt>("() -> bool"),
    .doc = text::kEnableWindowsVt,
    .locals = "_try_enable stream",
    .cellvars = kClosureNames,
    .line = 118,
};

constexpr FunctionDef try_enable_def{
    .name = "_try_enable",
    .qualname = "enable_windows_vt.<locals>._try_enable",
    .impl = bind<try_enable>("(stream) -> bool"),
    .doc = text::kTryEnable,
    .locals = "handle fd mode new_mode",
    .freevars = kClosureNames,
    .line = 152,
};

// ---------------------------------------------------------------------------
// The module body

int body(Module& m)
{
    PyObject* const enum_names[] = {str<"IntEnum">};
    PyObject* const typing_names[] = {str<"Optional">};
    return m.import(str<"os">) < 0 || m.import(str<"sys">) < 0 ||
                   m.from_import(str<"enum">, enum_names) < 0 ||
                   m.from_import(str<"typing">, typing_names) < 0 ||
                   m.set(str<"ColorLevel">, color_level_class(m)) < 0 ||
                   m.def(has_windows_console_def) < 0 || m.def(detect_color_level_def) < 0 ||
                   m.def(supports_color_def) < 0 || m.def(enable_windows_vt_def) < 0
               ? -1
               : 0;
}

const ModuleSpec kSpec{
    .short_name = "detect",
    .full_name = "tintara.detect",
    .file_name = "tintara/detect.py",
    .doc = text::kModule,
    .body = body,
};

}  // namespace
}  // namespace tintara::detect

PyMODINIT_FUNC PyInit_detect()
{
    return tintara::module_init(tintara::detect::kSpec, tintara::detect::g.frame);
}
