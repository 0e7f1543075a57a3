// Functions as data, and the function objects the frame makes from them.
//
// A function is its implementation and one row:
//
//     constexpr FunctionDef parse_hex_def{
//         .name = "parse_hex",
//         .impl = bind<parse_hex>("(color: str) -> Tuple[int, int, int]"),
//         .doc = text::kParseHexDoc,
//         .locals = "h",
//         .line = 57,
//     };
//
// The signature gives the parameters, their annotations and defaults; what
// the frame makes from the row at run time (names, defaults, code objects)
// it keeps itself.
#pragma once

#include "frame/binding.hpp"

namespace tintara {

struct ModuleState;

struct FunctionDef {
    const char* const name;
    const char* const qualname = nullptr;  // nullptr: same as name
    const Binding impl;
    const char* const doc = nullptr;  // nullptr: __doc__ is None
    // Further names of __code__, space-separated: local variables, names
    // read from the closure, names a nested function reads.
    const char* const locals = "";
    const char* const freevars = "";
    const char* const cellvars = "";
    const int line = 1;  // line of the traceback entries
};

// What the frame makes for a FunctionDef, once per process, when the first
// function object of it is made (kept for the process's lifetime: a failed
// import's retry finds it again).
struct FunctionRuntime {
    const FunctionDef* def = nullptr;
    Held names[kMaxParams];      // the parameters' names, interned
    Held defaults[kMaxParams];   // each parameter's default, or nothing
    Py_ssize_t npositional = 0;  // parameters that are not keyword-only
    Py_ssize_t ndefaults = 0;    // of those, the ones with a default
    bool all_any = false;        // every parameter takes any object unchanged
    Held name;
    Held qualname;
    Held code;   // __code__, made when first asked for
    Held trace;  // the code of the traceback entries, made at the first failure
};

// A function object of the frame.  Its fields are set when it is made and
// released by its type's clear and dealloc slots.
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
    PyObject* annotations;
    PyObject* dict;
    PyObject* weaklist;
};

// Creates a function object for def; closure (may be null) is borrowed.
Ref make_function(ModuleState& state, const FunctionDef& def, PyObject* closure);

// Whether obj is a function object the frame made for def.
bool is_function_of(PyObject* obj, const FunctionDef& def) noexcept;

// The function type of this shared library, created on first use.
PyTypeObject* function_type() noexcept;

// Adds a traceback entry "name" (file: the module's source file name) to the
// exception being raised.
void add_traceback_named(const ModuleState& state, const char* name, int line) noexcept;

}  // namespace tintara
