// Heap types whose methods are functions of the frame.
//
// A module describes a type by its PyType_Spec (the slots it fills in C)
// and a table of methods given as FunctionDefs.  make_type() creates the
// type for the module and puts a function object of the frame in its
// namespace for each method.  Function objects bind like Python functions,
// so they sit there as the functions of a class body do; classmethod and
// staticmethod wrap them as in a class body.
#pragma once

#include "frame/function.hpp"
#include "frame/module.hpp"

#include <cstdint>
#include <span>

namespace tintara {

enum class Bound : uint8_t {
    Instance,  // a plain function: binds to the instance
    Class,     // wrapped in classmethod
    Static,    // wrapped in staticmethod (what __new__ is)
};

struct Method {
    const FunctionDef* def;
    Bound bound = Bound::Instance;
    // Where to keep the function object itself (for a slot that forwards to
    // it), or nullptr.
    Held* keep = nullptr;
};

// The type of spec, created for module m, with methods in its namespace
// under their names.  Empty with an exception on failure.
Ref make_type(Module& m, PyType_Spec& spec, std::span<const Method> methods);

// What a type's tp_new and tp_vectorcall do when its constructor is a
// function of the frame taking the class first, __new__(cls, ...): they
// call fn with cls in front of the arguments.
PyObject* construct(PyObject* fn, PyObject* cls, PyObject* args, PyObject* kwargs) noexcept;
PyObject* construct_vectorcall(PyObject* fn, PyObject* cls, PyObject* const* args, size_t nargsf,
                               PyObject* kwnames) noexcept;

}  // namespace tintara
