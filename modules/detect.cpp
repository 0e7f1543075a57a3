// tintara.detect: the colour level of a terminal, from the environment, the
// platform and the stream; and the Windows console, reached through ctypes
// at call time only.
#include "frame/frame.hpp"
#include "frame/watch.hpp"

namespace tintara::detect {
namespace {

ModuleState g_state;

// ---------------------------------------------------------------------------
// Constants

Str s_os{"os"};
Str s_sys{"sys"};
Str s_enum{"enum"};
Str s_IntEnum{"IntEnum"};
Str s_typing{"typing"};
Str s_Optional{"Optional"};
Str s_ColorLevel{"ColorLevel"};
Str s___prepare__{"__prepare__"};
Str s___module__{"__module__"};
Str s___qualname__{"__qualname__"};
Str s___doc__{"__doc__"};
Str s_module_name{"tintara.detect"};
Str s_color_level_doc{"终端色彩支持级别。"};
Str s_NONE{"NONE"};
Str s_BASIC{"BASIC"};
Str s_EXTENDED{"EXTENDED"};
Str s_TRUECOLOR{"TRUECOLOR"};
Str s_detect_color_level{"detect_color_level"};

Str s_environ{"environ"};
Str s_get{"get"};
Str s_platform{"platform"};
Str s_stdout{"stdout"};
Str s_stderr{"stderr"};
Str s_isatty{"isatty"};
Str s_lower{"lower"};
Str s_empty{""};
Str s_win32{"win32"};
Str s_NO_COLOR{"NO_COLOR"};
Str s_FORCE_COLOR{"FORCE_COLOR"};
Str s_TERM_PROGRAM{"TERM_PROGRAM"};
Str s_VSCODE_PID{"VSCODE_PID"};
Str s_VSCODE_IPC_HOOK{"VSCODE_IPC_HOOK"};
Str s_PYCHARM_HOSTED{"PYCHARM_HOSTED"};
Str s_WT_SESSION{"WT_SESSION"};
Str s_ConEmuANSI{"ConEmuANSI"};
Str s_COLORTERM{"COLORTERM"};
Str s_TERM{"TERM"};
Str s_0{"0"};
Str s_1{"1"};
Str s_2{"2"};
Str s_3{"3"};
Str s_false{"false"};
Str s_False{"False"};
Str s_true{"true"};
Str s_True{"True"};
Str s_vscode{"vscode"};
Str s_ON{"ON"};
Str s_truecolor{"truecolor"};
Str s_24bit{"24bit"};
Str s_dumb{"dumb"};
Str s_256color{"256color"};

Str s_ctypes{"ctypes"};
Str s_wintypes{"wintypes"};
Str s_msvcrt{"msvcrt"};
Str s_get_osfhandle{"get_osfhandle"};
Str s_WinDLL{"WinDLL"};
Str s_kernel32{"kernel32"};
Str s_use_last_error{"use_last_error"};
Str s_GetStdHandle{"GetStdHandle"};
Str s_GetConsoleMode{"GetConsoleMode"};
Str s_SetConsoleMode{"SetConsoleMode"};
Str s_argtypes{"argtypes"};
Str s_restype{"restype"};
Str s_DWORD{"DWORD"};
Str s_HANDLE{"HANDLE"};
Str s_BOOL{"BOOL"};
Str s_POINTER{"POINTER"};
Str s_byref{"byref"};
Str s_fileno{"fileno"};
Str s_value{"value"};

Int i_0{0};
Int i_minus_1{-1};
Int i_minus_11{-11};

// ---------------------------------------------------------------------------
// Shared pieces

// ---------------------------------------------------------------------------
// Reading os.environ.
//
// Every read is os.environ.get(key[, fallback]), with os and environ looked
// up afresh.  Calling that Python method from C costs several times what the
// decision itself does, so while os.environ is os's own mapping, untouched,
// the read is done the way its methods do it: _data[key encoded] decoded,
// or the fallback when the key is absent.  "Untouched" covers what those
// methods read: the names they look up (followed through dict events), the
// mapping's class (by version tag), its own attributes, the code, defaults
// and closure cells of the four functions involved, and no tracing or
// profiling function (which would see their calls).

Str s__Environ{"_Environ"};
Str s__data{"_data"};
Str s_encodekey{"encodekey"};
Str s_decodekey{"decodekey"};
Str s_encodevalue{"encodevalue"};
Str s_decodevalue{"decodevalue"};
Str s___getitem__{"__getitem__"};
Str s_KeyError{"KeyError"};
Str s_isinstance{"isinstance"};
Str s_str{"str"};
Str s_TypeError{"TypeError"};
Str s_utf_8{"utf-8"};

struct Environ {
    Watched names;     // this module's os
    Watched os;        // os.environ, os._Environ, and the globals os's functions read
    Watched abc;       // the globals Mapping.get reads
    Watched builtins;  // the built-ins all of them read
    Watched own;       // the mapping's own attributes
    Watched data;      // its _data: bytes keys only
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    // Held, so that an object compared by identity cannot be freed and its
    // address taken by another.
    struct Code {
        Held function;
        Held code;
        Held defaults;
        Held cell;  // contents of the first closure cell, if any
    } code[4] = {};
    uint64_t tried = 0;  // the epoch of the last setup that failed
    bool ready = false;
    struct Key {
        PyObject* name;
        Held encoded;
    } keys[16] = {};
};
Environ g_env;

bool function_of(Environ::Code& c, PyObject* fn)
{
    if (fn == nullptr || !PyFunction_Check(fn)) {
        return false;
    }
    PyObject* closure = PyFunction_GET_CLOSURE(fn);
    c.function.set(Ref::borrow(fn));
    c.code.set(Ref::borrow(PyFunction_GET_CODE(fn)));
    c.defaults.set(Ref::borrow(PyFunction_GET_DEFAULTS(fn)));
    c.cell.set(
        Ref::borrow(closure != nullptr ? PyCell_GET(PyTuple_GET_ITEM(closure, 0)) : nullptr));
    return true;
}

bool code_unchanged(const Environ::Code& c)
{
    PyObject* fn = c.function.get();
    PyObject* closure = PyFunction_GET_CLOSURE(fn);
    return PyFunction_GET_CODE(fn) == c.code.get() &&
           PyFunction_GET_DEFAULTS(fn) == c.defaults.get() &&
           (closure != nullptr ? PyCell_GET(PyTuple_GET_ITEM(closure, 0)) : nullptr) ==
               c.cell.get();
}

// Follows everything the shortcut relies on.  Runs no Python code.
bool setup_environ(const ModuleState& st, Environ& e)
{
    PyObject* const os_name[] = {s_os};
    PyObject* const os_names[] = {s_environ,    s__Environ, s_KeyError,
                                  s_isinstance, s_str,      s_TypeError};
    PyObject* const builtin_names[] = {s_KeyError, s_isinstance, s_str, s_TypeError};
    if (!e.names.follow(st.dict.get(), os_name)) {
        return false;
    }
    PyObject* os = e.names.original(0);
    if (os == nullptr || !PyModule_CheckExact(os) || !e.os.follow(PyModule_GetDict(os), os_names) ||
        !e.builtins.follow(st.builtins_dict, builtin_names)) {
        return false;
    }
    PyObject* environ = e.os.original(0);
    PyObject* type = e.os.original(1);
    if (environ == nullptr || type == nullptr ||
        reinterpret_cast<PyObject*>(Py_TYPE(environ)) != type ||
        !PyUnstable_Type_AssignVersionTag(Py_TYPE(environ))) {
        return false;
    }
    e.type = Py_TYPE(environ);
    e.version = e.type->tp_version_tag;
    PyObject* get = _PyType_Lookup(e.type, s_get);
    PyObject* getitem = _PyType_Lookup(e.type, s___getitem__);
    Ref own = Ref::steal(PyObject_GenericGetDict(environ, nullptr));
    PyErr_Clear();
    PyObject* const abc_names[] = {s_KeyError};
    PyObject* const own_names[] = {s__data, s_encodekey, s_decodekey, s_encodevalue, s_decodevalue};
    if (!own || !function_of(e.code[0], get) || !function_of(e.code[1], getitem) ||
        !e.abc.follow(PyFunction_GET_GLOBALS(get), abc_names) ||
        !e.own.follow(own.get(), own_names, true)) {
        return false;
    }
    PyObject* data = e.own.original(0);
    PyObject* encode = e.own.original(1);
    if (data == nullptr || !PyDict_CheckExact(data) ||
        !e.data.follow(data, {}, false, &PyBytes_Type) || !function_of(e.code[2], encode) ||
        !function_of(e.code[3], e.own.original(2)) || e.own.original(3) != encode ||
        e.own.original(4) != e.code[3].function.get() ||
        PyFunction_GET_GLOBALS(encode) != PyModule_GetDict(os) ||
        PyFunction_GET_GLOBALS(getitem) != PyModule_GetDict(os) ||
        PyFunction_GET_GLOBALS(e.code[3].function.get()) != PyModule_GetDict(os)) {
        return false;
    }
    // os encodes with the encoding its functions captured; only UTF-8 is done here.
    PyObject* encoding = e.code[2].cell.get();
    return encoding != nullptr && PyUnicode_CheckExact(encoding) &&
           PyUnicode_Compare(encoding, s_utf_8) == 0 && e.code[3].cell.get() == encoding;
}

// os.environ._data when the shortcut is exact now, else null.
PyObject* environ_data(const ModuleState& st)
{
    Environ& e = g_env;
    if (!e.ready) {
        if (e.tried == Watched::epoch() && e.tried != 0) {
            return nullptr;
        }
        e.ready = setup_environ(st, e);
        e.tried = Watched::epoch();
        if (!e.ready) {
            return nullptr;
        }
    }
    PyThreadState* ts = PyThreadState_Get();
    if (ts->c_tracefunc != nullptr || ts->c_profilefunc != nullptr || !e.names.holds() ||
        !e.os.holds() || !e.abc.holds() || !e.builtins.holds() || !e.own.holds() ||
        !e.data.holds() || Py_TYPE(e.names.original(0)) != &PyModule_Type) {
        return nullptr;
    }
    PyObject* environ = e.os.original(0);
    if (Py_TYPE(environ) != e.type || e.type->tp_version_tag != e.version) {
        return nullptr;
    }
    for (const Environ::Code& c : e.code) {
        if (!code_unchanged(c)) {
            return nullptr;
        }
    }
    // Its __dict__ can be replaced without the old one changing.
    Ref own = Ref::steal(PyObject_GenericGetDict(environ, nullptr));
    PyErr_Clear();
    return own.get() == e.own.dict() ? e.own.original(0) : nullptr;
}

// key encoded as os.environ encodes it (ASCII names: their own bytes).
PyObject* encoded_key(PyObject* key)
{
    for (auto& k : g_env.keys) {
        if (k.name == key) {
            return k.encoded.get();
        }
        if (k.name == nullptr) {
            Py_ssize_t n = 0;
            const char* text = PyUnicode_AsUTF8AndSize(key, &n);
            if (k.encoded.set(text != nullptr ? Ref::steal(PyBytes_FromStringAndSize(text, n))
                                              : Ref()) == nullptr) {
                PyErr_Clear();
                return nullptr;
            }
            k.name = key;
            return k.encoded.get();
        }
    }
    return nullptr;
}

// os.environ.get(key[, fallback]), reading os and environ afresh.
Ref env_get(const ModuleState& st, PyObject* key, PyObject* fallback = nullptr)
{
    PyObject* data = environ_data(st);
    PyObject* encoded = data != nullptr ? encoded_key(key) : nullptr;
    if (encoded != nullptr) {
        // Bytes keys only: the lookup runs no Python code.
        PyObject* raw = PyDict_GetItemWithError(data, encoded);
        if (raw == nullptr) {
            return Ref::borrow(fallback != nullptr ? fallback : Py_None);
        }
        if (PyBytes_CheckExact(raw)) {
            return Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(raw), PyBytes_GET_SIZE(raw),
                                                   "surrogateescape"));
        }
    }
    Ref os = global(st, s_os);
    Ref environ = os ? attr(os.get(), s_environ) : Ref();
    if (!environ) {
        return {};
    }
    return fallback != nullptr ? call_method(environ.get(), s_get, key, fallback)
                               : call_method(environ.get(), s_get, key);
}

// ColorLevel.<member>, fetched from the module attribute now.
Ref level(const ModuleState& st, PyObject* member)
{
    Ref cls = global(st, s_ColorLevel);
    return cls ? attr(cls.get(), member) : Ref();
}

// sys.platform compared with "win32" (op: Py_EQ or Py_NE); 1, 0 or -1.
int platform_is(const ModuleState& st, int op)
{
    Ref sys = global(st, s_sys);
    Ref platform = sys ? attr(sys.get(), s_platform) : Ref();
    return platform ? PyObject_RichCompareBool(platform.get(), s_win32, op) : -1;
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
    Ref v = env_get(st, key, s_empty);
    return v ? call_method(v.get(), s_lower) : Ref();
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
    if (set_attr(fn, s_argtypes, std::move(argtypes)) < 0) {
        return -1;
    }
    return set_attr(fn, s_restype, attr(wintypes, restype));
}

// ctypes.WinDLL("kernel32", use_last_error=True)
Ref load_kernel32(PyObject* ctypes)
{
    static Held kwnames;
    PyObject* const names[] = {s_use_last_error};
    if (!kwnames && kwnames.set(tuple_of(names)) == nullptr) {
        return {};
    }
    Ref windll = attr(ctypes, s_WinDLL);
    PyObject* args[] = {s_kernel32, Py_True};
    return windll ? Ref::steal(PyObject_Vectorcall(windll.get(), args, 1, kwnames.get())) : Ref();
}

// fn.argtypes = [wintypes.HANDLE, ctypes.POINTER(wintypes.DWORD)];
// fn.restype = wintypes.BOOL
int console_mode_prototype(PyObject* fn, PyObject* ctypes, PyObject* wintypes)
{
    Ref handle = attr(wintypes, s_HANDLE);
    Ref pointer = handle ? attr(ctypes, s_POINTER) : Ref();
    Ref dword = pointer ? attr(wintypes, s_DWORD) : Ref();
    Ref pointer_to_dword = dword ? call(pointer.get(), dword.get()) : Ref();
    if (!pointer_to_dword) {
        return -1;
    }
    return prototype(fn, list_of({handle.get(), pointer_to_dword.get()}), wintypes, s_BOOL);
}

// fn(handle, ctypes.byref(mode))
Ref query_mode(PyObject* fn, PyObject* handle, PyObject* ctypes, PyObject* mode)
{
    Ref byref = attr(ctypes, s_byref);
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
    return equals_any(handle, {i_0, i_minus_1});
}

// ---------------------------------------------------------------------------
// ColorLevel

Ref color_level_class(Module& m)
{
    Ref base = m.get(s_IntEnum);
    if (!base) {
        return {};
    }
    PyObject* meta = reinterpret_cast<PyObject*>(Py_TYPE(base.get()));
    Ref bases = Ref::steal(PyTuple_Pack(1, base.get()));
    Ref ns = bases ? call_method(meta, s___prepare__, s_ColorLevel, bases.get()) : Ref();
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
        {s___module__, s_module_name},  {s___qualname__, s_ColorLevel},
        {s___doc__, s_color_level_doc}, {s_NONE, values[0].get()},
        {s_BASIC, values[1].get()},     {s_EXTENDED, values[2].get()},
        {s_TRUECOLOR, values[3].get()},
    };
    for (const Entry& e : entries) {
        if (PyObject_SetItem(ns.get(), e.key, e.value) < 0) {
            return {};
        }
    }
    PyObject* args[] = {s_ColorLevel, bases.get(), ns.get()};
    return Ref::steal(PyObject_Vectorcall(meta, args, 3, nullptr));
}

// ---------------------------------------------------------------------------
// _has_windows_console()

Ref probe_console(const ModuleState& st)
{
    Ref ctypes = import_module(s_ctypes, st.dict.get());
    Ref wintypes = ctypes ? from_import(st, s_ctypes, s_wintypes) : Ref();
    Ref kernel32 = wintypes ? load_kernel32(ctypes.get()) : Ref();
    Ref get_std_handle = kernel32 ? attr(kernel32.get(), s_GetStdHandle) : Ref();
    if (!get_std_handle) {
        return {};
    }
    Ref dword = attr(wintypes.get(), s_DWORD);
    if (!dword ||
        prototype(get_std_handle.get(), list_of({dword.get()}), wintypes.get(), s_HANDLE) < 0) {
        return {};
    }
    Ref get_console_mode = attr(kernel32.get(), s_GetConsoleMode);
    if (!get_console_mode ||
        console_mode_prototype(get_console_mode.get(), ctypes.get(), wintypes.get()) < 0) {
        return {};
    }
    Ref handle = call(get_std_handle.get(), i_minus_11);
    int none = handle ? no_handle(handle.get()) : -1;
    if (none != 0) {
        return none < 0 ? Ref() : Ref::borrow(Py_False);
    }
    dword = attr(wintypes.get(), s_DWORD);
    Ref mode = dword ? Ref::steal(PyObject_CallNoArgs(dword.get())) : Ref();
    Ref ok =
        mode ? query_mode(get_console_mode.get(), handle.get(), ctypes.get(), mode.get()) : Ref();
    int t = ok ? truth(ok.get()) : -1;
    return t < 0 ? Ref() : Ref::borrow(t ? Py_True : Py_False);
}

Ref has_windows_console(Function& self)
{
    const ModuleState& st = *self.state;
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

Ref detect_color_level(Function& self, PyObject* stream)
{
    const ModuleState& st = *self.state;
    int t;

    // 1. NO_COLOR, any non-empty value.
    Ref no_color = env_get(st, s_NO_COLOR, s_empty);
    if (!no_color || (t = PyObject_RichCompareBool(no_color.get(), s_empty, Py_NE)) < 0) {
        return {};
    }
    if (t) {
        return level(st, s_NONE);
    }

    // 2. FORCE_COLOR decides alone.
    Ref force = env_get(st, s_FORCE_COLOR, s_empty);
    if (!force || (t = PyObject_RichCompareBool(force.get(), s_empty, Py_NE)) < 0) {
        return {};
    }
    if (t) {
        struct Row {
            std::initializer_list<PyObject*> values;
            PyObject* member;
        };
        const Row rows[] = {
            {{s_0, s_false, s_False}, s_NONE},
            {{s_1, s_true, s_True}, s_BASIC},
            {{s_2}, s_EXTENDED},
            {{s_3}, s_TRUECOLOR},
        };
        for (const Row& row : rows) {
            if ((t = equals_any(force.get(), row.values)) != 0) {
                return t < 0 ? Ref() : level(st, row.member);
            }
        }
        return level(st, s_BASIC);
    }

    // 3. IDE terminals, on Windows only.
    if ((t = platform_is(st, Py_EQ)) < 0) {
        return {};
    }
    if (t) {
        int is_ide = env_equals(st, s_TERM_PROGRAM, s_vscode);
        for (PyObject* key :
             {s_VSCODE_PID.get(), s_VSCODE_IPC_HOOK.get(), s_PYCHARM_HOSTED.get()}) {
            if (is_ide == 0) {
                is_ide = env_true(st, key);
            }
        }
        if (is_ide != 0) {
            return is_ide < 0 ? Ref() : level(st, s_TRUECOLOR);
        }
    }

    // 4. and 5. The stream must be a terminal.
    Ref chosen;
    if (stream == Py_None) {
        Ref sys = global(st, s_sys);
        if (!sys || !(chosen = attr(sys.get(), s_stdout))) {
            return {};
        }
        stream = chosen.get();
    }
    if ((t = PyObject_HasAttrWithError(stream, s_isatty)) <= 0) {
        return t < 0 ? Ref() : level(st, s_NONE);
    }
    Ref tty = call_method(stream, s_isatty);
    if (!tty || (t = truth(tty.get())) < 0) {
        return {};
    }
    if (!t) {
        return level(st, s_NONE);
    }

    // 6. Windows terminals.
    if ((t = platform_is(st, Py_EQ)) < 0) {
        return {};
    }
    if (t) {
        if ((t = env_true(st, s_WT_SESSION)) == 0) {
            t = env_equals(st, s_ConEmuANSI, s_ON);
        }
        return t < 0 ? Ref() : level(st, t ? s_TRUECOLOR : s_BASIC);
    }

    // 7. COLORTERM announces true colour.
    Ref colorterm = env_lower(st, s_COLORTERM);
    if (!colorterm || (t = equals_any(colorterm.get(), {s_truecolor, s_24bit})) < 0) {
        return {};
    }
    if (t) {
        return level(st, s_TRUECOLOR);
    }

    // 8. TERM.
    Ref term = env_lower(st, s_TERM);
    if (!term || (t = equal(term.get(), s_dumb)) < 0) {
        return {};
    }
    if (t) {
        return level(st, s_NONE);
    }
    if ((t = PySequence_Contains(term.get(), s_256color)) < 0) {
        return {};
    }
    if (t) {
        return level(st, s_EXTENDED);
    }
    if ((t = truth(term.get())) < 0) {
        return {};
    }
    return level(st, t ? s_BASIC : s_NONE);
}

// ---------------------------------------------------------------------------
// supports_color(stream=None)

Ref supports_color(Function& self, PyObject* stream)
{
    const ModuleState& st = *self.state;
    Ref detect = global(st, s_detect_color_level);
    Ref found = detect ? call(detect.get(), stream) : Ref();
    if (!found) {
        return {};
    }
    Ref none = level(st, s_NONE);
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
        Ref fd = call_method(stream, s_fileno);
        Ref h = fd ? call(get_osfhandle, fd.get()) : Ref();
        if (h) {
            handle = std::move(h);
        } else if (!absorb_exception()) {
            return {};
        }
    }
    int fallback = handle.get() == Py_None ? 1 : equal(handle.get(), i_minus_1);
    if (fallback < 0) {
        return {};
    }
    if (fallback) {
        // No prototype here: ctypes passes and returns a C int.
        Ref get_std_handle = attr(PyTuple_GET_ITEM(closure, kKernel32), s_GetStdHandle);
        handle = get_std_handle ? call(get_std_handle.get(), i_minus_11) : Ref();
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
    Ref dword = attr(PyTuple_GET_ITEM(closure, kWintypes), s_DWORD);
    Ref mode = dword ? Ref::steal(PyObject_CallNoArgs(dword.get())) : Ref();
    Ref ok = mode ? query_mode(get_console_mode, handle.get(), ctypes, mode.get()) : Ref();
    int t = ok ? truth(ok.get()) : -1;
    if (t <= 0) {
        return t < 0 ? Ref() : Ref::borrow(Py_False);
    }
    Ref flag = Ref::steal(PyLong_FromLong(kEnableVirtualTerminalProcessing));
    Ref value = flag ? attr(mode.get(), s_value) : Ref();
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
    value = flag ? attr(mode.get(), s_value) : Ref();
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
    Ref ctypes = import_module(s_ctypes, st.dict.get());
    Ref wintypes = ctypes ? from_import(st, s_ctypes, s_wintypes) : Ref();
    Ref kernel32 = wintypes ? load_kernel32(ctypes.get()) : Ref();
    Ref get_mode = kernel32 ? attr(kernel32.get(), s_GetConsoleMode) : Ref();
    if (!get_mode || console_mode_prototype(get_mode.get(), ctypes.get(), wintypes.get()) < 0) {
        return {};
    }
    Ref set_mode = attr(kernel32.get(), s_SetConsoleMode);
    Ref handle = set_mode ? attr(wintypes.get(), s_HANDLE) : Ref();
    Ref dword = handle ? attr(wintypes.get(), s_DWORD) : Ref();
    if (!dword || prototype(set_mode.get(), list_of({handle.get(), dword.get()}), wintypes.get(),
                            s_BOOL) < 0) {
        return {};
    }
    static_assert(kGetOsfhandle == 0 && kKernel32 == 1 && kGetConsoleMode == 2 &&
                  kSetConsoleMode == 3 && kCtypes == 4 && kWintypes == 5 && kCells == 6);
    return Ref::steal(PyTuple_Pack(kCells, get_osfhandle, kernel32.get(), get_mode.get(),
                                   set_mode.get(), ctypes.get(), wintypes.get()));
}

Ref enable_windows_vt(Function& self)
{
    ModuleState& st = *self.state;
    int other = platform_is(st, Py_NE);
    if (other != 0) {
        return other < 0 ? Ref() : Ref::borrow(Py_False);
    }

    Ref get_osfhandle = from_import(st, s_msvcrt, s_get_osfhandle);
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
    Ref sys = global(st, s_sys);
    Ref out = sys ? attr(sys.get(), s_stdout) : Ref();
    sys = out ? global(st, s_sys) : Ref();
    Ref err = sys ? attr(sys.get(), s_stderr) : Ref();
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

constexpr Param kStreamParam[] = {{.name = "stream", .default_none = true}};
constexpr Param kTryEnableParam[] = {{.name = "stream"}};
constexpr const char* kDetectLocals[] = {"force", "is_ide", "colorterm", "term"};
constexpr const char* kConsoleLocals[] = {
    "ctypes", "wintypes", "kernel32", "_GetStdHandle", "_GetConsoleMode", "handle", "mode"};
constexpr const char* kEnableLocals[] = {"_try_enable", "stream"};
constexpr const char* kTryEnableLocals[] = {"handle", "fd", "mode", "new_mode"};
constexpr const char* kClosureNames[] = {"ENABLE_VIRTUAL_TERMINAL_PROCESSING",
                                         "_GetConsoleMode",
                                         "_SetConsoleMode",
                                         "ctypes",
                                         "get_osfhandle",
                                         "kernel32",
                                         "wintypes"};

constexpr FunctionDef has_windows_console_def{
    .name = "_has_windows_console",
    .returns = "bool",
    .doc =
        "检测当前进程是否关联了真正的 Windows 控制台。\n\n"
        "    通过 ``GetConsoleMode`` 验证 stdout 句柄是控制台句柄（而非管道/文件）。\n"
        "    用于区分 IDE 终端窗口（有控制台）和 IDE 运行控制台（管道，无控制台）。\n    ",
    .impl = bind<has_windows_console>,
    .locals = kConsoleLocals,
    .line = 26,
};

constexpr FunctionDef detect_color_level_def{
    .name = "detect_color_level",
    .params = kStreamParam,
    .returns = "ColorLevel",
    .doc =
        "检测终端的色彩支持级别。\n\n"
        "    检测逻辑:\n"
        "    1. 环境变量 NO_COLOR / FORCE_COLOR 优先\n"
        "    2. IDE 终端检测（VS Code / PyCharm Terminal，通过控制台句柄验证）\n"
        "    3. 非 TTY → NONE\n"
        "    4. Windows Terminal / ConEmu / ANSICON → TRUECOLOR\n"
        "    5. COLORTERM=truecolor/24bit → TRUECOLOR\n"
        "    6. TERM 包含 256color → EXTENDED\n"
        "    7. 其他有效 TERM → BASIC\n    ",
    .impl = bind<detect_color_level>,
    .locals = kDetectLocals,
    .line = 52,
};

constexpr FunctionDef supports_color_def{
    .name = "supports_color",
    .params = kStreamParam,
    .returns = "bool",
    .doc = "快速判断终端是否支持颜色。",
    .impl = bind<supports_color>,
    .line = 113,
};

constexpr FunctionDef enable_windows_vt_def{
    .name = "enable_windows_vt",
    .returns = "bool",
    .doc =
        "在 Windows 上启用虚拟终端处理 (VT100 转义序列)。\n\n"
        "    使用 ``msvcrt.get_osfhandle`` 获取与 Python 文件对象关联的真实\n"
        "    Windows 句柄，确保在 VS Code 集成终端等环境中也能正确工作。\n\n"
        "    返回是否成功启用 VT 处理。\n    ",
    .impl = bind<enable_windows_vt>,
    .locals = kEnableLocals,
    .cellvars = kClosureNames,
    .line = 118,
};

constexpr FunctionDef try_enable_def{
    .name = "_try_enable",
    .qualname = "enable_windows_vt.<locals>._try_enable",
    .params = kTryEnableParam,
    .returns = "bool",
    .doc = "尝试为单个流启用 VT 处理。",
    .impl = bind<try_enable>,
    .locals = kTryEnableLocals,
    .freevars = kClosureNames,
    .line = 152,
};

// ---------------------------------------------------------------------------
// The module body

int body(Module& m)
{
    PyObject* const enum_names[] = {s_IntEnum};
    PyObject* const typing_names[] = {s_Optional};
    return m.import(s_os) < 0 || m.import(s_sys) < 0 || m.from_import(s_enum, enum_names) < 0 ||
                   m.from_import(s_typing, typing_names) < 0 ||
                   m.set(s_ColorLevel, color_level_class(m)) < 0 ||
                   m.def(has_windows_console_def) < 0 || m.def(detect_color_level_def) < 0 ||
                   m.def(supports_color_def) < 0 || m.def(enable_windows_vt_def) < 0
               ? -1
               : 0;
}

const ModuleSpec kSpec{
    .short_name = "detect",
    .full_name = "tintara.detect",
    .file_name = "tintara/detect.py",
    .doc = "终端能力检测。\n\n自动检测当前终端是否支持颜色输出以及支持的色彩级别。\n",
    .body = body,
    .builtins = {},
};

}  // namespace
}  // namespace tintara::detect

PyMODINIT_FUNC PyInit_detect()
{
    return tintara::module_init(tintara::detect::kSpec, tintara::detect::g_state);
}
