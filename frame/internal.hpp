// Pieces of the frame that module sources do not use.
#pragma once

#include "frame/frame.hpp"

namespace tintara {

// The function type of this shared library, created on first use.
PyTypeObject* function_type() noexcept;

// Adds a traceback entry "name" (file: the module's source file name) to the
// exception being raised.
void add_traceback_named(const ModuleState& state, const char* name, int line) noexcept;

}  // namespace tintara
