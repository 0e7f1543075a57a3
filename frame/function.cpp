// The function type: the attributes that inspect.signature() and help()
// read, the code objects behind them, and traceback entries.
#include "frame/function.hpp"

#include "frame/constants.hpp"
#include "frame/module.hpp"

#include <frameobject.h>

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace tintara {

namespace {

// The runtime records of this shared library's functions, one per
// FunctionDef, kept for the process's lifetime.
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

Ref text_object(std::string_view text)
{
    return Ref::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref interned(std::string_view text)
{
    PyObject* s = text_object(text).release();
    if (s != nullptr) {
        PyUnicode_InternInPlace(&s);
    }
    return Ref::steal(s);
}

// The object a default's text spells: None, True, False, an int, or a str
// in quotes with \n, \t, \\ and quote escapes.
Ref default_object(std::string_view text)
{
    if (text == "None") {
        return Ref::borrow(Py_None);
    }
    if (text == "True" || text == "False") {
        return Ref::borrow(text == "True" ? Py_True : Py_False);
    }
    if (text.size() >= 2 && (text[0] == '\'' || text[0] == '"') && text.back() == text[0]) {
        const std::string_view body(text.data() + 1, text.size() - 2);
        char buf[64];
        size_t n = 0;
        for (size_t i = 0; i < body.size() && n < sizeof buf; ++i) {
            char c = body[i];
            if (c == '\\' && i + 1 < body.size()) {
                c = body[++i];
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c;
            }
            buf[n++] = c;
        }
        return text_object({buf, n});
    }
    Ref digits = text_object(text);
    return digits ? Ref::steal(PyLong_FromUnicodeObject(digits.get(), 10)) : Ref();
}

// The names and defaults of def, made the first time a function of it is.
// Its code objects are made when first needed, which keeps them out of the
// import.
int prepare(FunctionRuntime& rt)
{
    const FunctionDef& def = *rt.def;
    const Signature& sig = def.impl.signature;
    if (rt.qualname) {
        return 0;
    }
    rt.npositional = rt.ndefaults = 0;
    rt.all_any = true;
    for (int j = 0; j < sig.size(); ++j) {
        const ParamSpec& p = sig[j];
        rt.npositional += p.keyword_only ? 0 : 1;
        rt.ndefaults += !p.keyword_only && p.has_default() ? 1 : 0;
        rt.all_any = rt.all_any && def.impl.kinds[static_cast<size_t>(j)].kind == Kind::Any;
        if ((!rt.names[j] && !rt.names[j].set(interned(p.name))) ||
            (p.has_default() && !rt.defaults[j] &&
             !rt.defaults[j].set(default_object(p.fallback)))) {
            return -1;
        }
    }
    if (!rt.name && !rt.name.set(interned(def.name))) {
        return -1;
    }
    return rt.qualname.set(interned(def.qualname ? def.qualname : def.name)) ? 0 : -1;
}

// ---------------------------------------------------------------------------
// The code objects: __code__ with the real argument and local names, and the
// empty one that names the traceback entries.

// The names of a space-separated list, after the parameter names if given.
Ref name_tuple(std::string_view list, const FunctionRuntime* params = nullptr)
{
    Ref names = Ref::steal(PyList_New(0));
    const int nparams = params != nullptr ? params->def->impl.signature.size() : 0;
    for (int j = 0; names && j < nparams; ++j) {
        if (PyList_Append(names.get(), params->names[j].get()) < 0) {
            return {};
        }
    }
    while (names && !list.empty()) {
        const size_t space = std::min(list.find(' '), list.size());
        Ref name = interned({list.data(), space});
        if (!name || PyList_Append(names.get(), name.get()) < 0) {
            return {};
        }
        list.remove_prefix(std::min(space + 1, list.size()));
    }
    return names ? Ref::steal(PyList_AsTuple(names.get())) : Ref();
}

int set_item(PyObject* dict, const char* key, Ref value)
{
    return value ? PyDict_SetItemString(dict, key, value.get()) : -1;
}

Ref make_code(const ModuleState& st, const FunctionRuntime& rt)
{
    const FunctionDef& def = *rt.def;
    const Signature& sig = def.impl.signature;
    int nkwonly = 0;
    for (int j = 0; j < sig.size(); ++j) {
        nkwonly += sig[j].keyword_only ? 1 : 0;
    }
    Ref empty =
        Ref::steal(reinterpret_cast<PyObject*>(PyCode_NewEmpty(st.file_name, def.name, def.line)));
    Ref replace = empty ? Ref::steal(PyObject_GetAttr(empty.get(), str<"replace">)) : Ref();
    Ref kwargs = Ref::steal(PyDict_New());
    Ref varnames = name_tuple(def.locals, &rt);
    if (!replace || !kwargs || !varnames) {
        return {};
    }
    PyObject* kw = kwargs.get();
    const int flags = CO_OPTIMIZED | CO_NEWLOCALS | (*def.freevars == '\0' ? 0 : CO_NESTED);
    if (set_item(kw, "co_argcount", Ref::steal(PyLong_FromLong(sig.size() - nkwonly))) < 0 ||
        set_item(kw, "co_posonlyargcount", Ref::steal(PyLong_FromLong(sig.positional_only()))) <
            0 ||
        set_item(kw, "co_kwonlyargcount", Ref::steal(PyLong_FromLong(nkwonly))) < 0 ||
        set_item(kw, "co_nlocals",
                 Ref::steal(PyLong_FromSsize_t(PyTuple_GET_SIZE(varnames.get())))) < 0 ||
        set_item(kw, "co_varnames", std::move(varnames)) < 0 ||
        set_item(kw, "co_freevars", name_tuple(def.freevars)) < 0 ||
        set_item(kw, "co_cellvars", name_tuple(def.cellvars)) < 0 ||
        set_item(kw, "co_flags", Ref::steal(PyLong_FromLong(flags))) < 0 ||
        set_item(kw, "co_qualname", rt.qualname.ref()) < 0) {
        return {};
    }
    return Ref::steal(PyObject_VectorcallDict(replace.get(), nullptr, 0, kw));
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
    return Ref::borrow(closure != nullptr ? f->qualname : f->name).release();
}

int set_str_field(PyObject* op, PyObject* value, void* closure)
{
    auto* f = reinterpret_cast<Function*>(op);
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object",
                     closure != nullptr ? "__qualname__" : "__name__");
        return -1;
    }
    PyObject*& field = closure != nullptr ? f->qualname : f->name;
    Ref old = Ref::steal(std::exchange(field, Ref::borrow(value).release()));
    return 0;
}

PyObject* get_defaults(PyObject* op, void*)
{
    PyObject* v = reinterpret_cast<Function*>(op)->defaults;
    return Ref::borrow(v != nullptr ? v : Py_None).release();
}

// A new dict each time, as the keyword-only defaults are fixed: changing
// the dict handed out changes neither calls nor what signatures show.
PyObject* get_kwdefaults(PyObject* op, void*)
{
    const FunctionRuntime& rt = *reinterpret_cast<Function*>(op)->runtime;
    const Signature& sig = rt.def->impl.signature;
    Ref kwdefaults;
    for (int j = 0; j < sig.size(); ++j) {
        if (!sig[j].keyword_only || !rt.defaults[j]) {
            continue;
        }
        if ((!kwdefaults && !(kwdefaults = Ref::steal(PyDict_New()))) ||
            PyDict_SetItem(kwdefaults.get(), rt.names[j].get(), rt.defaults[j].get()) < 0) {
            return nullptr;
        }
    }
    return kwdefaults ? kwdefaults.release() : Ref::borrow(Py_None).release();
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
    return Ref::borrow(f->annotations).release();
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
    Ref old = Ref::steal(std::exchange(f->annotations, Ref::borrow(value).release()));
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

// __annotations__ as a def statement makes it: each annotated parameter's
// text, and "return".
Ref annotations_of(const FunctionRuntime& rt)
{
    const Signature& sig = rt.def->impl.signature;
    Ref annotations = Ref::steal(PyDict_New());
    for (int j = 0; annotations && j < sig.size(); ++j) {
        if (sig[j].annotation.empty()) {
            continue;
        }
        Ref text = text_object(sig[j].annotation);
        if (!text || PyDict_SetItem(annotations.get(), rt.names[j].get(), text.get()) < 0) {
            return {};
        }
    }
    if (annotations && !sig.returns().empty() &&
        set_item(annotations.get(), "return", text_object(sig.returns())) < 0) {
        return {};
    }
    return annotations;
}

// __defaults__: the positional parameters' defaults, or None.
Ref defaults_of(const FunctionRuntime& rt)
{
    if (rt.ndefaults == 0) {
        return {};
    }
    Ref defaults = Ref::steal(PyTuple_New(rt.ndefaults));
    Py_ssize_t i = 0;
    for (int j = 0; defaults && j < rt.npositional; ++j) {
        if (rt.defaults[j]) {
            PyTuple_SET_ITEM(defaults.get(), i++, rt.defaults[j].ref().release());
        }
    }
    return defaults;
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
    if (rt == nullptr || prepare(*rt) < 0) {
        return {};
    }
    Ref annotations = annotations_of(*rt);
    Ref defaults = defaults_of(*rt);
    Ref doc = def.doc != nullptr ? Ref::steal(PyUnicode_FromString(def.doc)) : Ref::borrow(Py_None);
    Ref module = Ref::steal(PyUnicode_InternFromString(st.full_name));
    if (!annotations || (rt->ndefaults != 0 && !defaults) || !doc || !module) {
        return {};
    }
    Function* f = PyObject_GC_New(Function, function_type());
    if (f == nullptr) {
        return {};
    }
    // Without keyword-only parameters, a call by position is the common one.
    bool keyword_only = false;
    for (int j = 0; j < def.impl.signature.size(); ++j) {
        keyword_only = keyword_only || def.impl.signature[j].keyword_only;
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
    f->annotations = annotations.release();
    f->dict = nullptr;
    f->weaklist = nullptr;
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

bool is_function_of(PyObject* obj, const FunctionDef& def) noexcept
{
    return g_function_type != nullptr && Py_IS_TYPE(obj, g_function_type) &&
           reinterpret_cast<Function*>(obj)->def == &def;
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
