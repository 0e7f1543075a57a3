// Functions as data: the description of a function's parameters and
// attributes, and the function objects the frame makes from it.
#pragma once

#include "frame/ref.hpp"

#include <cstdint>
#include <span>

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
    bool default_none = false;         // the only default the modules use is None
    const char* annotation = nullptr;  // nullptr: not annotated
};

inline constexpr int kMaxParams = 4;

struct Function;
// The function's own logic: receives bound, checked arguments (borrowed, in
// parameter order) and returns its result, or an empty Ref with an exception.
using Impl = Ref (*)(Function& self, PyObject* const* args);

// A function described as data.  Pure description: what the frame makes from
// it at run time (names, code objects) is kept by the frame.
struct FunctionDef {
    const char* const name;
    const char* const qualname = nullptr;  // nullptr: same as name
    const std::span<const Param> params = {};
    const char* const returns;  // return annotation, nullptr: none
    const char* const doc;      // nullptr: __doc__ is None
    const Impl impl;
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

// Adds the function's traceback entry to the exception being raised.
[[gnu::cold]] void add_traceback(const Function& f) noexcept;

}  // namespace tintara
