// Helpers that function bodies call: name lookup, calls, imports,
// unpacking, coercion and the errors they share.
#include "frame/runtime.hpp"

#include "frame/constants.hpp"
#include "frame/module.hpp"

namespace tintara {

namespace {
}  // namespace

Ref global(const ModuleState& st, PyObject* name)
{
    PyObject* value = nullptr;
    int found = PyDict_GetItemRef(st.dict.get(), name, &value);
    if (found == 0) {
        found = PyDict_GetItemRef(st.builtins_dict, name, &value);
        if (found == 0) {
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        }
    }
    return Ref::steal(value);
}

Ref call_method(PyObject* obj, PyObject* name)
{
    return Ref::steal(
        PyObject_VectorcallMethod(name, &obj, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call_method(PyObject* obj, PyObject* name, PyObject* arg)
{
    PyObject* args[] = {obj, arg};
    return Ref::steal(
        PyObject_VectorcallMethod(name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call_method(PyObject* obj, PyObject* name, PyObject* arg1, PyObject* arg2)
{
    PyObject* args[] = {obj, arg1, arg2};
    return Ref::steal(
        PyObject_VectorcallMethod(name, args, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call(PyObject* callable, PyObject* arg)
{
    return Ref::steal(PyObject_CallOneArg(callable, arg));
}

Ref attr(PyObject* obj, PyObject* name)
{
    return Ref::steal(PyObject_GetAttr(obj, name));
}

int equal(PyObject* a, PyObject* b)
{
    return PyObject_RichCompareBool(a, b, Py_EQ);
}

Ref tuple_of(std::span<PyObject* const> items)
{
    Ref tuple = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    for (size_t i = 0; tuple && i < items.size(); ++i) {
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), Ref::borrow(items[i]).release());
    }
    return tuple;
}

Ref import_module(PyObject* name, PyObject* globals)
{
    return Ref::steal(PyImport_ImportModuleLevelObject(name, globals, nullptr, nullptr, 0));
}

Ref import_from(PyObject* module, PyObject* name)
{
    Ref value = attr(module, name);
    if (value || !PyErr_ExceptionMatches(PyExc_AttributeError)) {
        return value;
    }
    // A submodule that is imported but not bound on its package.
    PyErr_Clear();
    Ref package = attr(module, str<"__name__">);
    if (package) {
        Ref full = Ref::steal(PyUnicode_FromFormat("%S.%S", package.get(), name));
        if (!full) {
            return {};
        }
        value = Ref::steal(PyImport_GetModule(full.get()));
        if (value || PyErr_Occurred()) {
            return value;
        }
    } else if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
        return {};
    }
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    return {};
}

namespace {
[[gnu::cold]] int raise_too_many(Py_ssize_t expected)
{
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
    return -1;
}
[[gnu::cold]] int raise_need_more(Py_ssize_t got)
{
    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", got,
                 got == 1 ? "" : "s");
    return -1;
}
}  // namespace

int unpack(PyObject* obj, Ref* out, Py_ssize_t n)
{
    if (PyTuple_CheckExact(obj) || PyList_CheckExact(obj)) {
        Py_ssize_t size = PySequence_Fast_GET_SIZE(obj);
        if (size > n) {
            return raise_too_many(n);
        }
        if (size < n) {
            return raise_need_more(size);
        }
        PyObject** items = PySequence_Fast_ITEMS(obj);
        for (Py_ssize_t i = 0; i < n; ++i) {
            out[i] = Ref::borrow(items[i]);
        }
        return 0;
    }
    Ref it = Ref::steal(PyObject_GetIter(obj));
    if (!it) {
        return -1;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        out[i] = Ref::steal(PyIter_Next(it.get()));
        if (!out[i]) {
            return PyErr_Occurred() ? -1 : raise_need_more(i);
        }
    }
    Ref extra = Ref::steal(PyIter_Next(it.get()));
    if (extra) {
        return raise_too_many(n);
    }
    return PyErr_Occurred() ? -1 : 0;
}

Ref coerce_int(PyObject* value, const char* param)
{
    if (PyLong_CheckExact(value)) {
        return Ref::borrow(value);
    }
    if (PyNumber_Check(value)) {
        return Ref::steal(PyNumber_Long(value));
    }
    raise_incorrect_type(param, &PyLong_Type, value);
    return {};
}

Ref field_text(PyObject* obj)
{
    if (PyUnicode_CheckExact(obj)) {
        return Ref::borrow(obj);
    }
    return Ref::steal(PyObject_Format(obj, nullptr));
}

void raise_repr(PyObject* exc, const char* text, PyObject* obj, const char* tail)
{
    PyErr_Format(exc, "%s%R%s", text, obj, tail);
}

Ref type_name(PyObject* obj)
{
    Ref name = attr(reinterpret_cast<PyObject*>(Py_TYPE(obj)), str<"__name__">);
    return name ? field_text(name.get()) : Ref();
}

void raise_type_named(PyObject* exc, const char* text, PyObject* obj)
{
    Ref name = type_name(obj);
    if (name) {
        PyErr_Format(exc, "%s%U", text, name.get());
    }
}

void raise_incorrect_type(const char* param, PyTypeObject* expected, PyObject* obj)
{
    Ref got = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (!got) {
        return;
    }
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200U)", param,
                 expected->tp_name, got.get());
    if (!PyObject_TypeCheck(obj, expected)) {
        return;
    }
    PyObject* exc = PyErr_GetRaisedException();
    Ref note = Ref::steal(PyUnicode_FromFormat(
        "tintara accepts only an exact %s here: instances of subclasses such as '%U' are "
        "rejected, so convert the value with %s() first.",
        expected->tp_name, got.get(), expected->tp_name));
    if (note) {
        Ref added = call_method(exc, str<"add_note">, note.get());
    }
    // A failure to attach the note must not hide the real error.
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
}

}  // namespace tintara
