// Helpers that function bodies call: name lookup, calls, imports,
// unpacking, coercion and the errors they share.
#pragma once

#include "frame/ref.hpp"

#include <array>
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

// An exact int in 0..255, else -1.
inline long small_int(PyObject* v)
{
    auto* n = reinterpret_cast<PyLongObject*>(v);
    if (!PyLong_CheckExact(v) || !PyUnstable_Long_IsCompact(n)) {
        return -1;
    }
    const Py_ssize_t x = PyUnstable_Long_CompactValue(n);
    return x >= 0 && x <= 255 ? static_cast<long>(x) : -1;
}

// The value of each byte as a hexadecimal digit, -1 for any other byte: a
// table look-up, whose branch random colours cannot mispredict.
inline constexpr auto kHexValue = [] {
    std::array<signed char, 256> value{};
    for (int c = 0; c < 256; ++c) {
        value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                   : -1);
    }
    return value;
}();

// esc + mid + the decimal text of n + "m", made into slot the first time and
// handed out again after: for sequences that depend on nothing but n, esc
// being a str that never changes.
Ref sgr(Held& slot, PyObject* esc, const char* mid, long n);

// Raises TypeError "Argument 'NAME' has incorrect type (...)", with the
// subclass note when obj's type is a subclass of expected.
[[gnu::cold]] void raise_incorrect_type(const char* param, PyTypeObject* expected, PyObject* obj);

}  // namespace tintara
