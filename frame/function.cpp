// The function type: calling through vectorcall, binding arguments to
// parameters with the interpreter's messages, the attributes that
// inspect.signature() and help() read, and traceback entries.
#include "frame/frame.hpp"
#include "frame/internal.hpp"

#include <frameobject.h>

#include <cstddef>

namespace tintara {

struct FunctionRuntime {
    const FunctionDef* def = nullptr;
    Held names[kMaxParams];      // the parameters' names, interned
    Py_ssize_t npositional = 0;  // parameters that are not keyword-only
    Py_ssize_t ndefaults = 0;    // of those, the ones with a default
    bool all_any = false;        // every parameter takes any object unchanged
    Held name;
    Held qualname;
    Held code;   // __code__, made when first asked for
    Held trace;  // the code of the traceback entries, made at the first failure
};

namespace {

Str s_replace{"replace"};

// The runtime records of this shared library's functions, one per
// FunctionDef, kept for the process's lifetime (a failed import's retry
// finds them again).
constexpr int kMaxFunctions = 32;
FunctionRuntime g_runtimes[kMaxFunctions];

FunctionRuntime* runtime_of(const FunctionDef& def)
{
    for (FunctionRuntime& rt : g_runtimes) {
        if (rt.def == &def || rt.def == nullptr) {
            rt.def = &def;
            return &rt;
        }
    }
    PyErr_Format(PyExc_SystemError, "too many functions in module (%s)", def.name);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Errors of binding.  Cold and out of line: the hot path only tests.

[[gnu::cold]] void raise_positional_count(const FunctionDef& def, const char* quantity,
                                          Py_ssize_t expected, Py_ssize_t given)
{
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 def.name, quantity, expected, expected == 1 ? "" : "s", given);
}

[[gnu::cold]] void raise_keyword_error(const FunctionDef& def, const char* what, PyObject* key)
{
    PyErr_Format(PyExc_TypeError, "%s() %s '%U'", def.name, what, key);
}

// Which parameter does a keyword name?  Identity first, then equality;
// positional-only parameters are not looked at.  Returns the index, -1 for
// none, -2 with an exception.
inline Py_ssize_t find_keyword(const Function& f, Py_ssize_t nparams, PyObject* key)
{
    const FunctionRuntime& rt = *f.runtime;
    const Py_ssize_t first = f.def->positional_only;
    for (Py_ssize_t j = first; j < nparams; ++j) {
        if (rt.names[j].get() == key) {
            return j;
        }
    }
    for (Py_ssize_t j = first; j < nparams; ++j) {
        int cmp = PyUnicode_Compare(rt.names[j].get(), key);
        if (cmp == 0) {
            return j;
        }
        if (cmp == -1 && PyErr_Occurred()) {
            return -2;
        }
    }
    return -1;
}

// Positional-only parameters named by keywords: raises the interpreter's
// TypeError listing them and returns -1; 0 when there are none.
[[gnu::cold]] int raise_positional_only(const Function& f, PyObject* kwnames)
{
    const FunctionDef& def = *f.def;
    Ref names = Ref::steal(PyList_New(0));
    if (!names) {
        return -1;
    }
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        for (Py_ssize_t j = 0; j < def.positional_only; ++j) {
            const int cmp = PyUnicode_Compare(f.runtime->names[j].get(), key);
            if (cmp == -1 && PyErr_Occurred()) {
                return -1;
            }
            if (cmp == 0) {
                if (PyList_Append(names.get(), key) < 0) {
                    return -1;
                }
                break;
            }
        }
    }
    if (PyList_GET_SIZE(names.get()) == 0) {
        return 0;
    }
    Ref comma = Ref::steal(PyUnicode_FromString(", "));
    Ref joined = comma ? Ref::steal(PyUnicode_Join(comma.get(), names.get())) : Ref();
    if (joined) {
        PyErr_Format(PyExc_TypeError,
                     "%.200s() got some positional-only arguments passed as keyword arguments: "
                     "'%U'",
                     def.name, joined.get());
    }
    return -1;
}

// Binds args to def's parameters.  bound[] receives borrowed values; owned[]
// keeps the ones made here alive.  0 or -1.
int bind_arguments(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** bound, Ref* owned)
{
    const FunctionDef& def = *f.def;
    const auto nparams = static_cast<Py_ssize_t>(def.params.size());
    const Py_ssize_t npositional = f.runtime->npositional;
    const Py_ssize_t ndefaults = f.runtime->ndefaults;

    // 1. Too many positional arguments.
    if (nargs > npositional) {
        raise_positional_count(def, ndefaults ? "at most" : "exactly", npositional, nargs);
        return -1;
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        bound[j] = j < nargs ? args[j] : nullptr;
    }

    // 2. Keywords.
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", def.name);
            return -1;
        }
        Py_ssize_t j = find_keyword(f, nparams, key);
        if (j == -2) {
            return -1;
        }
        if (j == -1) {
            if (raise_positional_only(f, kwnames) == 0) {
                raise_keyword_error(def, "got an unexpected keyword argument", key);
            }
            return -1;
        }
        if (bound[j] != nullptr) {
            raise_keyword_error(def, "got multiple values for keyword argument", key);
            return -1;
        }
        bound[j] = args[nargs + k];
    }

    // 3. and 4. Missing arguments and defaults.
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (bound[j] != nullptr) {
            continue;
        }
        const Param& p = def.params[static_cast<size_t>(j)];
        if (p.has_default()) {
            bound[j] = p.default_object();
        } else if (!p.keyword_only) {
            raise_positional_count(def, ndefaults ? "at least" : "exactly", npositional - ndefaults,
                                   nargs);
            return -1;
        }
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (bound[j] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %U", def.name,
                         f.runtime->names[j].get());
            return -1;
        }
    }

    // 5. Truth values.
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (def.params[static_cast<size_t>(j)].kind != Kind::Truth) {
            continue;
        }
        PyObject* v = bound[j];
        if (v != Py_True && v != Py_False) {
            int t = v == Py_None ? 0 : PyObject_IsTrue(v);
            if (t < 0) {
                return -1;
            }
            bound[j] = t ? Py_True : Py_False;
        }
    }

    // 6. Enforced and coerced types, in parameter order.
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        const Param& p = def.params[static_cast<size_t>(j)];
        if (p.kind == Kind::ExactStr && !PyUnicode_CheckExact(bound[j])) {
            raise_incorrect_type(p.name, &PyUnicode_Type, bound[j]);
            return -1;
        }
        if (p.kind == Kind::Int && !PyLong_CheckExact(bound[j])) {
            owned[j] = coerce_int(bound[j], p.name);
            if (!owned[j]) {
                return -1;
            }
            bound[j] = owned[j].get();
        }
    }
    return 0;
}

[[gnu::cold]] void raise_no_parameters(const FunctionDef& def, Py_ssize_t nargs, PyObject* kwnames)
{
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", def.name, "takes no keyword arguments");
    } else {
        PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", def.name, "takes no arguments",
                     nargs);
    }
}

// The common keyword call, bound exactly as bind_arguments() would: every
// parameter takes any object, and each keyword is one of the interned
// parameter names itself.  False, having run no code, for anything else.
bool bind_quickly(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  PyObject** bound) noexcept
{
    const FunctionRuntime& rt = *f.runtime;
    const auto nparams = static_cast<Py_ssize_t>(f.def->params.size());
    if (!rt.all_any || nargs > rt.npositional) {
        return false;
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        bound[j] = j < nargs ? args[j] : nullptr;
    }
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t j = f.def->positional_only;
        while (j < nparams && rt.names[j].get() != key) {
            ++j;
        }
        if (j == nparams || bound[j] != nullptr) {
            return false;
        }
        bound[j] = args[nargs + k];
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (bound[j] == nullptr) {
            const Param& p = f.def->params[static_cast<size_t>(j)];
            if (!p.has_default()) {
                return false;
            }
            bound[j] = p.default_object();
        }
    }
    return true;
}

// Binding into arrays of N: functions of a few parameters (most of them) do
// not pay for the room a long parameter list needs.
template <int N>
Ref bind_and_run(Function& self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    PyObject* bound[N];
    if (bind_quickly(self, args, nargs, kwnames, bound)) {
        return self.def->impl.call(self, bound);
    }
    Ref owned[N];
    if (bind_arguments(self, args, nargs, kwnames, bound, owned) < 0) {
        return {};
    }
    return self.def->impl.call(self, bound);
}

}  // namespace

PyObject* bind_and_call(PyObject* callable, PyObject* const* args, size_t nargsf,
                        PyObject* kwnames) noexcept
{
    Function& self = *reinterpret_cast<Function*>(callable);
    const FunctionDef& def = *self.def;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    Ref result;
    if (def.params.empty()) {
        if (nargs == 0 && (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0)) {
            result = def.impl.call(self, args);
        } else {
            raise_no_parameters(def, nargs, kwnames);
        }
    } else if (def.params.size() <= kFewParams) {
        result = bind_and_run<kFewParams>(self, args, nargs, kwnames);
    } else {
        result = bind_and_run<kMaxParams>(self, args, nargs, kwnames);
    }
    if (!result) {
        add_traceback(self);
    }
    assert(!result || !PyErr_Occurred());
    return result.release();
}

namespace {

// ---------------------------------------------------------------------------
// The code objects: __code__ with the real argument and local names, and the
// empty one that names the traceback entries.

Ref name_tuple(std::span<const char* const> a, std::span<const char* const> b = {})
{
    Ref t = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(a.size() + b.size())));
    if (!t) {
        return t;
    }
    Py_ssize_t i = 0;
    for (auto part : {a, b}) {
        for (const char* name : part) {
            Ref s = Ref::steal(PyUnicode_InternFromString(name));
            if (!s) {
                return {};
            }
            PyTuple_SET_ITEM(t.get(), i++, s.release());
        }
    }
    return t;
}

int set_item(PyObject* dict, const char* key, Ref value)
{
    return value ? PyDict_SetItemString(dict, key, value.get()) : -1;
}

Ref make_code(const ModuleState& st, const FunctionRuntime& rt)
{
    const FunctionDef& def = *rt.def;
    const char* params[kMaxParams];
    int nkwonly = 0;
    for (size_t j = 0; j < def.params.size(); ++j) {
        params[j] = def.params[j].name;
        nkwonly += def.params[j].keyword_only ? 1 : 0;
    }
    const int nparams = static_cast<int>(def.params.size());
    Ref empty =
        Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(st.file_name, def.name, def.line)));
    Ref replace = empty ? Ref::steal(PyObject_GetAttr(empty.get(), s_replace)) : Ref();
    Ref kwargs = Ref::steal(PyDict_New());
    if (!replace || !kwargs) {
        return {};
    }
    PyObject* kw = kwargs.get();
    const int flags = CO_OPTIMIZED | CO_NEWLOCALS | (def.freevars.empty() ? 0 : CO_NESTED);
    if (set_item(kw, "co_argcount", Ref::steal(PyLong_FromLong(nparams - nkwonly))) < 0 ||
        set_item(kw, "co_posonlyargcount", Ref::steal(PyLong_FromLong(def.positional_only))) < 0 ||
        set_item(kw, "co_kwonlyargcount", Ref::steal(PyLong_FromLong(nkwonly))) < 0 ||
        set_item(kw, "co_nlocals",
                 Ref::steal(PyLong_FromSize_t(def.params.size() + def.locals.size()))) < 0 ||
        set_item(kw, "co_varnames",
                 name_tuple(std::span<const char* const>(params, def.params.size()), def.locals)) <
            0 ||
        set_item(kw, "co_freevars", name_tuple(def.freevars)) < 0 ||
        set_item(kw, "co_cellvars", name_tuple(def.cellvars)) < 0 ||
        set_item(kw, "co_flags", Ref::steal(PyLong_FromLong(flags))) < 0 ||
        set_item(kw, "co_qualname", rt.qualname.ref()) < 0) {
        return {};
    }
    return Ref::steal(PyObject_VectorcallDict(replace.get(), nullptr, 0, kw));
}

// The logic's arguments take what the parameters say.
int check_binding(const FunctionDef& def)
{
    bool same = def.impl.kinds.size() == def.params.size() && def.params.size() <= kMaxParams;
    for (size_t j = 0; same && j < def.params.size(); ++j) {
        same = def.impl.kinds[j] == def.params[j].kind;
    }
    if (!same) {
        PyErr_Format(PyExc_SystemError, "%s(): its logic takes other arguments than its parameters",
                     def.name);
        return -1;
    }
    return 0;
}

// The names of def, made the first time a function of it is.  Its code
// objects are made when first needed, which keeps them out of the import.
int prepare(FunctionRuntime& rt)
{
    const FunctionDef& def = *rt.def;
    if (rt.qualname) {
        return 0;
    }
    rt.npositional = rt.ndefaults = 0;
    rt.all_any = true;
    for (const Param& p : def.params) {
        rt.npositional += p.keyword_only ? 0 : 1;
        rt.ndefaults += !p.keyword_only && p.has_default() ? 1 : 0;
        rt.all_any = rt.all_any && p.kind == Kind::Any;
    }
    for (size_t j = 0; j < def.params.size(); ++j) {
        Held& name = rt.names[j];
        if (!name && !name.set(Ref::steal(PyUnicode_InternFromString(def.params[j].name)))) {
            return -1;
        }
    }
    if (!rt.name && rt.name.set(Ref::steal(PyUnicode_InternFromString(def.name))) == nullptr) {
        return -1;
    }
    const char* qualname = def.qualname ? def.qualname : def.name;
    return rt.qualname.set(Ref::steal(PyUnicode_InternFromString(qualname))) ? 0 : -1;
}

// The empty code object that names def's traceback entries, e.g.
// "tintara.detect.enable_windows_vt._try_enable": the module's name and the
// qualified name without its "<locals>" steps.
PyObject* trace_code(const ModuleState& st, FunctionRuntime& rt)
{
    if (rt.trace) {
        return rt.trace.get();
    }
    Ref dotted = Ref::steal(PyUnicode_FromFormat("%s.%U", st.full_name, rt.qualname.get()));
    Ref locals = Ref::steal(PyUnicode_FromString(".<locals>"));
    Ref nothing = Ref::steal(PyUnicode_FromString(""));
    if (!dotted || !locals || !nothing) {
        return nullptr;
    }
    Ref trace_name = Ref::steal(PyUnicode_Replace(dotted.get(), locals.get(), nothing.get(), -1));
    const char* utf8 = trace_name ? PyUnicode_AsUTF8(trace_name.get()) : nullptr;
    if (utf8 == nullptr) {
        return nullptr;
    }
    return rt.trace.set(
        Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(st.file_name, utf8, rt.def->line))));
}

// ---------------------------------------------------------------------------
// The type's slots.

int function_traverse(PyObject* op, visitproc visit, void* arg)
{
    auto* f = reinterpret_cast<Function*>(op);
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(f->closure);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->defaults);
    Py_VISIT(f->kwdefaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    return 0;
}

int function_clear(PyObject* op)
{
    auto* f = reinterpret_cast<Function*>(op);
    Py_CLEAR(f->closure);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->kwdefaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    return 0;
}

void function_dealloc(PyObject* op)
{
    PyTypeObject* type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    auto* f = reinterpret_cast<Function*>(op);
    if (f->weaklist != nullptr) {
        PyObject_ClearWeakRefs(op);
    }
    function_clear(op);
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* function_repr(PyObject* op)
{
    auto* f = reinterpret_cast<Function*>(op);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, op);
}

// Like a Python function, ours binds as a method when read from a class.
PyObject* function_descr_get(PyObject* op, PyObject* obj, PyObject*)
{
    if (obj == nullptr || obj == Py_None) {
        return Ref::borrow(op).release();
    }
    return PyMethod_New(op, obj);
}

PyObject* get_str_field(PyObject* op, void* closure)
{
    auto* f = reinterpret_cast<Function*>(op);
    return Py_NewRef(closure != nullptr ? f->qualname : f->name);
}

int set_str_field(PyObject* op, PyObject* value, void* closure)
{
    auto* f = reinterpret_cast<Function*>(op);
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object",
                     closure != nullptr ? "__qualname__" : "__name__");
        return -1;
    }
    Py_XSETREF(closure != nullptr ? f->qualname : f->name, Py_NewRef(value));
    return 0;
}

PyObject* get_defaults(PyObject* op, void*)
{
    PyObject* v = reinterpret_cast<Function*>(op)->defaults;
    return Py_NewRef(v != nullptr ? v : Py_None);
}

PyObject* get_kwdefaults(PyObject* op, void*)
{
    PyObject* v = reinterpret_cast<Function*>(op)->kwdefaults;
    return Py_NewRef(v != nullptr ? v : Py_None);
}

PyObject* get_code(PyObject* op, void*)
{
    auto* f = reinterpret_cast<Function*>(op);
    FunctionRuntime& rt = *f->runtime;
    if (!rt.code && rt.code.set(make_code(*f->state, rt)) == nullptr) {
        return nullptr;
    }
    return rt.code.ref().release();
}

// The namespace the function's names are looked up in, as for Python
// functions (typing.get_type_hints() evaluates the annotation texts there).
PyObject* get_globals(PyObject* op, void*)
{
    return reinterpret_cast<Function*>(op)->state->dict.ref().release();
}

PyObject* get_annotations(PyObject* op, void*)
{
    auto* f = reinterpret_cast<Function*>(op);
    if (f->annotations == nullptr && (f->annotations = PyDict_New()) == nullptr) {
        return nullptr;
    }
    return Py_NewRef(f->annotations);
}

int set_annotations(PyObject* op, PyObject* value, void*)
{
    auto* f = reinterpret_cast<Function*>(op);
    if (value == Py_None) {
        value = nullptr;
    }
    if (value != nullptr && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(f->annotations, Py_XNewRef(value));
    return 0;
}

PyObject* function_reduce(PyObject* op, PyObject*)
{
    // Pickled by reference, as module-level functions are.
    return Ref::borrow(reinterpret_cast<Function*>(op)->qualname).release();
}

PyGetSetDef function_getset[] = {
    {"__name__", get_str_field, set_str_field, nullptr, nullptr},
    {"__qualname__", get_str_field, set_str_field, nullptr, const_cast<char*>("q")},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_kwdefaults, nullptr, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {"__globals__", get_globals, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {},
};

PyMemberDef function_members[] = {
    {"__module__", Py_T_OBJECT_EX, offsetof(Function, module), 0, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(Function, doc), 0, nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(Function, vectorcall), Py_READONLY, nullptr},
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(Function, dict), Py_READONLY, nullptr},
    {"__weaklistoffset__", Py_T_PYSSIZET, offsetof(Function, weaklist), Py_READONLY, nullptr},
    {},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(&function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&function_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(&function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(&PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(&function_descr_get)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {Py_tp_methods, function_methods},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "tintara.function",
    sizeof(Function),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    function_slots,
};

PyTypeObject* g_function_type = nullptr;

void add_traceback_code(const ModuleState& st, PyObject* code) noexcept
{
    if (!st.dict) {
        return;
    }
    PyObject* exc = PyErr_GetRaisedException();
    Ref frame = Ref::steal(reinterpret_cast<PyObject*>(PyFrame_New(
        PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code), st.dict.get(), nullptr)));
    PyErr_SetRaisedException(exc);
    if (frame) {
        PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
    }
}

}  // namespace

PyTypeObject* function_type() noexcept
{
    if (g_function_type == nullptr) {
        g_function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    }
    return g_function_type;
}

Ref make_function(ModuleState& st, const FunctionDef& def, PyObject* closure)
{
    FunctionRuntime* rt = runtime_of(def);
    if (rt == nullptr || check_binding(def) < 0 || prepare(*rt) < 0) {
        return {};
    }
    Ref annotations = Ref::steal(PyDict_New());
    if (!annotations) {
        return {};
    }
    for (size_t j = 0; j < def.params.size(); ++j) {
        const char* text = def.params[j].annotation;
        if (text != nullptr && set_item(annotations.get(), def.params[j].name,
                                        Ref::steal(PyUnicode_FromString(text))) < 0) {
            return {};
        }
    }
    if (def.returns != nullptr &&
        set_item(annotations.get(), "return", Ref::steal(PyUnicode_FromString(def.returns))) < 0) {
        return {};
    }
    Ref doc = def.doc != nullptr ? Ref::steal(PyUnicode_FromString(def.doc)) : Ref::borrow(Py_None);
    Ref module = Ref::steal(PyUnicode_InternFromString(st.full_name));
    // __defaults__ and __kwdefaults__, as a def statement makes them.
    Ref defaults;
    Ref kwdefaults;
    if (rt->ndefaults != 0 && !(defaults = Ref::steal(PyTuple_New(rt->ndefaults)))) {
        return {};
    }
    Py_ssize_t i = 0;
    for (const Param& p : def.params) {
        if (!p.has_default()) {
            continue;
        }
        if (!p.keyword_only) {
            PyTuple_SET_ITEM(defaults.get(), i++, Ref::borrow(p.default_object()).release());
        } else if ((!kwdefaults && !(kwdefaults = Ref::steal(PyDict_New()))) ||
                   PyDict_SetItemString(kwdefaults.get(), p.name, p.default_object()) < 0) {
            return {};
        }
    }
    if (!doc || !module) {
        return {};
    }

    Function* f = PyObject_GC_New(Function, function_type());
    if (f == nullptr) {
        return {};
    }
    // Without keyword-only parameters, a call by position is the common one.
    bool keyword_only = false;
    for (const Param& p : def.params) {
        keyword_only = keyword_only || p.keyword_only;
    }
    f->vectorcall = keyword_only ? bind_and_call : def.impl.positional;
    f->def = &def;
    f->runtime = rt;
    f->state = &st;
    f->closure = Ref::borrow(closure).release();
    f->name = rt->name.ref().release();
    f->qualname = rt->qualname.ref().release();
    f->module = module.release();
    f->doc = doc.release();
    f->defaults = defaults.release();
    f->kwdefaults = kwdefaults.release();
    f->annotations = annotations.release();
    f->dict = nullptr;
    f->weaklist = nullptr;
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

void add_traceback(const Function& f) noexcept
{
    // Making the code object must not disturb the exception being raised.
    PyObject* exc = PyErr_GetRaisedException();
    PyObject* code = trace_code(*f.state, *f.runtime);
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
    if (code != nullptr) {
        add_traceback_code(*f.state, code);
    }
}

void add_traceback_named(const ModuleState& st, const char* name, int line) noexcept
{
    PyObject* exc = PyErr_GetRaisedException();
    Ref code = Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(st.file_name, name, line)));
    PyErr_SetRaisedException(exc);
    if (code) {
        add_traceback_code(st, code.get());
    }
}

}  // namespace tintara
