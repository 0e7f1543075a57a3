// Functions as data: the description of a function's parameters and
// attributes, and the function objects the frame makes from it.
#pragma once

#include "frame/ref.hpp"

#include <cstdint>
#include <span>

namespace tintara {

struct ModuleState;

// Functions as data.

enum class Kind : uint8_t {
    Any,       // any object, unchanged
    ExactStr,  // exactly str; subclasses refused with a note
    Int,       // coerced to exact int through the number protocol
    Truth,     // reduced to True or False
};

struct Param {
    const char* name;
    Kind kind;
    bool keyword_only;
    bool default_none;       // the only default the modules use is None
    const char* annotation;  // nullptr: not annotated
};

inline constexpr int kMaxParams = 4;

struct Function;
// The function's own logic: receives bound, checked arguments (borrowed, in
// parameter order) and returns its result, or an empty Ref with an exception.
using Impl = Ref (*)(Function& self, PyObject* const* args);

struct FunctionDef {
    const char* name;
    const char* qualname = nullptr;  // nullptr: same as name
    std::span<const Param> params = {};
    const char* returns;  // return annotation, nullptr: none
    const char* doc;      // nullptr: __doc__ is None
    Impl impl;
    std::span<const char* const> locals = {};    // further local names for __code__
    std::span<const char* const> freevars = {};  // names read from the closure
    std::span<const char* const> cellvars = {};  // names a nested function reads
    int line;                                    // line of the traceback entries

    // Made when first needed.
    mutable PyObject* names[kMaxParams] = {};
    mutable PyObject* code = nullptr;   // __code__
    mutable PyObject* trace = nullptr;  // code of the traceback entries
    mutable PyObject* py_qualname = nullptr;
    mutable PyObject* py_name = nullptr;
};

// A function object of the frame.
struct Function {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FunctionDef* def;
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

// Adds def's traceback entry to the exception being raised.
void add_traceback(const ModuleState& state, const FunctionDef& def) noexcept;

}  // namespace tintara
