// Pen: a style bound to a level, which only joins three strings.
#pragma once

#include "frame/frame.hpp"
#include "modules/paint/style.hpp"

namespace tintara::paint {

// A pen of st at level (0-3), whose level attribute is level_object.
Ref make_pen(StyleObject& st, PyObject* level_object, int level);

// The Pen type, made for the module body.
int make_pen_type(Module& m);

}  // namespace tintara::paint
