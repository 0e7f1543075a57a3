// Helpers that function bodies call: name lookup, calls, imports,
// unpacking, coercion and the errors they share.
#pragma once

#include "frame/ref.hpp"

#include <span>

namespace tintara {

struct ModuleState;

// Runtime helpers for function bodies.  Each returns an empty Ref (or -1)
// with an exception set on failure.

// A module global: the module namespace, then the built-ins, else NameError.
Ref global(const ModuleState& state, PyObject* name);

// obj.name(args...)
Ref call_method(PyObject* obj, PyObject* name);
Ref call_method(PyObject* obj, PyObject* name, PyObject* arg);
Ref call_method(PyObject* obj, PyObject* name, PyObject* arg1, PyObject* arg2);
Ref call(PyObject* callable, PyObject* arg);
Ref attr(PyObject* obj, PyObject* name);

// truth value of obj: 1, 0 or -1.
inline int truth(PyObject* obj)
{
    return PyObject_IsTrue(obj);
}
// a == b / a != b as truth values.
int equal(PyObject* a, PyObject* b);

// A tuple of the items.
Ref tuple_of(std::span<PyObject* const> items);

// import NAME (absolute) and from MODULE import NAME semantics.
Ref import_module(PyObject* name, PyObject* globals);
Ref import_from(PyObject* module, PyObject* name);

// Unpacks obj into exactly n items (n <= 3), with the interpreter's
// messages.  Exact tuples and lists by length, anything else by iteration.
int unpack(PyObject* obj, Ref* out, Py_ssize_t n);

// int(value) coercion of an int parameter; param names the parameter in the
// "has incorrect type" message.
Ref coerce_int(PyObject* value, const char* param);

// The text of obj as an f-string field without format spec makes it.
Ref field_text(PyObject* obj);

// The value of an exact int in 0..hi, else -1.  Runs no code.
inline long small_int(PyObject* v, long hi = 255)
{
    auto* n = reinterpret_cast<PyLongObject*>(v);
    if (!PyLong_CheckExact(v) || !PyUnstable_Long_IsCompact(n)) {
        return -1;
    }
    const Py_ssize_t x = PyUnstable_Long_CompactValue(n);
    return x >= 0 && x <= hi ? static_cast<long>(x) : -1;
}

// exc(f"{text}{obj!r}{tail}")
[[gnu::cold]] void raise_repr(PyObject* exc, const char* text, PyObject* obj,
                              const char* tail = "");

// type(obj).__name__ as an f-string field writes it.
[[gnu::cold]] Ref type_name(PyObject* obj);

// exc(f"{text}{type(obj).__name__}")
[[gnu::cold]] void raise_type_named(PyObject* exc, const char* text, PyObject* obj);

// Raises TypeError "Argument 'NAME' has incorrect type (...)", with the
// subclass note when obj's type is a subclass of expected.
[[gnu::cold]] void raise_incorrect_type(const char* param, PyTypeObject* expected, PyObject* obj);

}  // namespace tintara
