// Functions as data: the description of a function's parameters and
// attributes, and the function objects the frame makes from it.
#pragma once

#include "frame/ref.hpp"

#include <cassert>
#include <cstdint>
#include <span>
#include <utility>

namespace tintara {

struct ModuleState;

enum class Kind : uint8_t {
    Any,       // any object, unchanged
    ExactStr,  // exactly str; subclasses refused with a note
    Int,       // coerced to exact int through the number protocol
    Truth,     // reduced to True or False
};

// One parameter, e.g. {.name = "color", .kind = Kind::ExactStr, .annotation = "str"}.
struct Param {
    const char* name;
    Kind kind = Kind::Any;
    bool keyword_only = false;
    bool default_none = false;         // the default is None
    const char* annotation = nullptr;  // nullptr: not annotated
    // A default other than None: returns it, borrowed (a constant that lives
    // as long as the process).
    PyObject* (*default_value)() = nullptr;

    [[nodiscard]] constexpr bool has_default() const noexcept
    {
        return default_none || default_value != nullptr;
    }
    [[nodiscard]] PyObject* default_object() const noexcept
    {
        return default_value != nullptr ? default_value() : Py_None;
    }
};

// Most functions take a few parameters and bind them into arrays of
// kFewParams; a constructor of many keyword-only options takes up to
// kMaxParams.
inline constexpr int kFewParams = 4;
inline constexpr int kMaxParams = 13;

struct Function;

// Arguments as an implementation receives them (borrowed), one type per kind:
//   PyObject*  Kind::Any       the object itself
//   StrArg     Kind::ExactStr  an exact str
//   IntArg     Kind::Int       an exact int, coerced by the frame if need be
//   bool       Kind::Truth     its truth value
struct StrArg {
    PyObject* obj;
    operator PyObject*() const noexcept { return obj; }  // NOLINT
};
struct IntArg {
    PyObject* obj;
    operator PyObject*() const noexcept { return obj; }  // NOLINT
};

// How the frame calls a function's own logic: made by bind<impl>, where impl
// is e.g. Ref fg_code(Function& self, PyObject* color).  The logic returns
// its result, or an empty Ref with an exception set.
struct Binding {
    // Calls the logic with arguments bound and checked, in parameter order.
    Ref (*call)(Function& self, PyObject* const* args);
    // The whole call, for functions without keyword-only parameters: the
    // logic directly when every parameter is given by position and of its
    // kind's exact type, else bind_and_call().
    vectorcallfunc positional;
    std::span<const Kind> kinds;  // what the logic's arguments take
};

// The general call: binds keywords, defaults and kinds with the
// interpreter's messages, then calls the logic.
PyObject* bind_and_call(PyObject* callable, PyObject* const* args, size_t nargsf,
                        PyObject* kwnames) noexcept;

// Adds the function's traceback entry to the exception being raised.
[[gnu::cold]] void add_traceback(const Function& f) noexcept;

// A function described as data.  Pure description: what the frame makes from
// it at run time (names, code objects) is kept by the frame.
struct FunctionDef {
    const char* const name;
    const char* const qualname = nullptr;  // nullptr: same as name
    const std::span<const Param> params = {};
    const int positional_only = 0;  // how many leading params are positional-only
    const char* const returns;      // return annotation, nullptr: none
    const char* const doc;          // nullptr: __doc__ is None
    const Binding impl;
    const std::span<const char* const> locals = {};    // further local names for __code__
    const std::span<const char* const> freevars = {};  // names read from the closure
    const std::span<const char* const> cellvars = {};  // names a nested function reads
    const int line;                                    // line of the traceback entries
};

// What the frame makes for a FunctionDef, once per process (function.cpp).
struct FunctionRuntime;

// A function object of the frame.
struct Function {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FunctionDef* def;
    FunctionRuntime* runtime;
    ModuleState* state;
    PyObject* closure;  // a tuple for nested functions, else nullptr
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* defaults;
    PyObject* kwdefaults;
    PyObject* annotations;
    PyObject* dict;
    PyObject* weaklist;
};

// Creates a function object for def; closure (may be null) is borrowed.
Ref make_function(ModuleState& state, const FunctionDef& def, PyObject* closure);

namespace detail {

template <typename T>
struct Arg;
template <>
struct Arg<PyObject*> {
    static constexpr Kind kind = Kind::Any;
    static bool exact(PyObject*) noexcept { return true; }
    static PyObject* from(PyObject* v) noexcept { return v; }
};
template <>
struct Arg<StrArg> {
    static constexpr Kind kind = Kind::ExactStr;
    static bool exact(PyObject* v) noexcept { return PyUnicode_CheckExact(v); }
    static StrArg from(PyObject* v) noexcept { return {v}; }
};
template <>
struct Arg<IntArg> {
    static constexpr Kind kind = Kind::Int;
    static bool exact(PyObject* v) noexcept { return PyLong_CheckExact(v); }
    static IntArg from(PyObject* v) noexcept { return {v}; }
};
template <>
struct Arg<bool> {
    static constexpr Kind kind = Kind::Truth;
    static bool exact(PyObject* v) noexcept { return v == Py_True || v == Py_False; }
    static bool from(PyObject* v) noexcept { return v == Py_True; }
};

template <auto F, typename = decltype(F)>
struct Adaptor;

template <auto F, typename... A>
struct Adaptor<F, Ref (*)(Function&, A...)> {
    static constexpr auto kIndexes = std::index_sequence_for<A...>{};
    static constexpr Kind kKinds[sizeof...(A) + 1] = {Arg<A>::kind..., Kind::Any};

    template <size_t... I>
    static Ref invoke(Function& self, [[maybe_unused]] PyObject* const* args,
                      std::index_sequence<I...>)
    {
        return F(self, Arg<A>::from(args[I])...);
    }
    template <size_t... I>
    static bool exact([[maybe_unused]] PyObject* const* args, std::index_sequence<I...>) noexcept
    {
        return (Arg<A>::exact(args[I]) && ...);
    }
    static Ref call(Function& self, PyObject* const* args) { return invoke(self, args, kIndexes); }
    static PyObject* positional(PyObject* callable, PyObject* const* args, size_t nargsf,
                                PyObject* kwnames) noexcept
    {
        if (PyVectorcall_NARGS(nargsf) != sizeof...(A) || kwnames != nullptr ||
            !exact(args, kIndexes)) {
            return bind_and_call(callable, args, nargsf, kwnames);
        }
        Function& self = *reinterpret_cast<Function*>(callable);
        Ref result = invoke(self, args, kIndexes);
        if (!result) {
            add_traceback(self);
        }
        assert(!result || !PyErr_Occurred());
        return result.release();
    }
    static constexpr Binding kBinding{call, positional, {kKinds, sizeof...(A)}};
};

}  // namespace detail

// The binding of an implementation: .impl = bind<fg_code>.
template <auto F>
inline constexpr Binding bind = detail::Adaptor<F>::kBinding;

}  // namespace tintara
