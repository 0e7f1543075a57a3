// The module frame shared by tintara's extension modules.
//
// A module source declares its constants (Str, Int), describes each function
// as its implementation and one row (FunctionDef), and writes its module
// body as a sequence of Module calls.  The frame owns everything around
// that: module creation, argument binding and its messages, function
// objects, traceback entries.
#pragma once

#include "frame/ref.hpp"        // owned references and process-wide objects
#include "frame/constants.hpp"  // Str, Int
#include "frame/binding.hpp"    // bind<impl>(signature), StrArg, IntArg
#include "frame/function.hpp"   // FunctionDef, Function
#include "frame/module.hpp"     // ModuleSpec, ModuleState, Module
#include "frame/runtime.hpp"    // helpers for function bodies
#include "frame/text.hpp"       // Text
