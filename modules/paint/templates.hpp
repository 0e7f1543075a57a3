// Template strings (t"..."): the program's own strings written as they
// are; each value converted, made safe and painted with the style its format
// spec names.
#pragma once

#include "frame/frame.hpp"
#include "modules/paint/styled.hpp"

namespace tintara::paint {

// Whether obj is a template string: its type is exactly
// string.templatelib.Template.
bool is_template(PyObject* obj);

// A template at level 0-3, as an exact str.
Ref template_text(PyObject* tmpl, int level);

// The text a caller passes, at level 0-3: a template rendered, any other
// object made an exact str.
inline Ref text_at(PyObject* text, int level)
{
    if (PyUnicode_CheckExact(text)) {
        return Ref::borrow(text);
    }
    return is_template(text) ? template_text(text, level) : text_of(text);
}

}  // namespace tintara::paint
