// The module body: a module's definition, its process-wide state, and the
// operations its body is written in.
#pragma once

#include "frame/guard.hpp"
#include "frame/ref.hpp"

#include <cstdint>
#include <span>

namespace tintara {

// Module state: process-wide, static, never torn down.

struct ModuleState {
    const char* short_name;  // "colors"
    const char* full_name;   // "tintara.colors"
    const char* file_name;   // "tintara/colors.py"
    int64_t interpreter = -1;
    Held module;
    Held dict;                          // the namespace functions read
    Held builtins;                      // the builtins module
    PyObject* builtins_dict = nullptr;  // and its namespace
    Guard guard;                        // whether the module's shortcuts hold
};

struct FunctionDef;

// Module definitions.

struct Module;
using Body = int (*)(Module& m);

struct ModuleSpec {
    const char* short_name;
    const char* full_name;
    const char* file_name;
    const char* doc;
    Body body;
    std::span<const char* const> builtins = {};  // built-ins the module uses
    // What the module's shortcuts rely on, followed from when the module is
    // whole (its Guard armed), or nullptr: called once the import succeeds.
    void (*shortcuts)(ModuleState& state) = nullptr;
};

// What PyInit_<name> returns.
PyObject* module_init(const ModuleSpec& spec, ModuleState& state) noexcept;

// The module body's view of the module under construction.
struct Module {
    ModuleState& state;

    // Binds name to value (a new reference, or empty on failure: then the
    // failure is passed on).  Returns 0 or -1.
    int set(PyObject* name, Ref value);
    // The attribute name, read back from the module namespace.
    Ref get(PyObject* name) const;
    // import NAME (absolute), bound as NAME.
    int import(PyObject* name);
    // from MODULE import NAME, ... ; binds each name in turn.
    int from_import(PyObject* module, std::span<PyObject* const> names);
    // Creates the function object of def and binds it under its name.
    int def(const FunctionDef& def);
};

}  // namespace tintara
