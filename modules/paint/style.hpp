// Style: an immutable, hashable text style.  Everything is checked and
// resolved when it is made; its prefix and suffix are made once per level.
#pragma once

#include "core/escapes.hpp"
#include "core/tokens.hpp"
#include "frame/frame.hpp"
#include "modules/paint/colour.hpp"

#include <span>

namespace tintara::paint {

constexpr int kNumAttributes = core::kNumAttributes;
// A value for each attribute (True, False or None), in the order of ATTRIBUTES.
using Attributes = std::span<PyObject* const, kNumAttributes>;

struct AttributeCode {
    Py_ssize_t rank = 0;  // place in STYLES when the style was made
    int index = 0;        // in ATTRIBUTES
    bool value = false;
    Ref on;  // exact ints
    Ref off;
};

struct StyleData {
    Ref fields;  // (fg, bg, bold, ..., overline), canonical: equality and hash
    Py_hash_t hash = -1;
    Color colors[2];  // fg, bg
    int ncodes = 0;
    AttributeCode codes[kNumAttributes];  // the set attributes, in STYLES order
    // Per level, made when first asked for: the prefix, the suffix, and what
    // embedded SGRs put back (the text of a core::Splices).
    Ref prefix[4];
    Ref suffix[4];
    Ref splices[4];
};

struct StyleObject {
    PyObject_HEAD StyleData d;
    static PyTypeObject* type() noexcept;
};

inline bool is_style(PyObject* obj)
{
    return Py_IS_TYPE(obj, StyleObject::type());
}
inline StyleObject& as_style(PyObject* obj)
{
    return *reinterpret_cast<StyleObject*>(obj);
}

// Style(fg, bg, **attributes): everything checked, in the twin's order.
Ref new_style(PyObject* fg, PyObject* bg, Attributes values);

// The prefix, suffix and splices at level 1-3, made once.  0 or -1.
int make_codes(StyleObject& st, int level);

// What styled text is made with at a level whose codes are made.
inline core::Paint paint_at(const StyleObject& st, int level)
{
    const StyleData& d = st.d;
    return {ascii_view(d.prefix[level].get()), ascii_view(d.suffix[level].get()),
            core::Splices(ascii_view(d.splices[level].get()))};
}

// __copy__ and __deepcopy__ of a style and of a pen: values, so the object
// itself.
inline Ref itself(PyObject* self)
{
    return Ref::borrow(self);
}
inline Ref itself_memo(PyObject* self, PyObject*)
{
    return Ref::borrow(self);
}

// style.render(text, level=level, stream=stream)
Ref render(StyleObject& st, PyObject* text, PyObject* level, PyObject* stream);

// The Style type, made for the module body (its methods are functions of
// the frame).
Ref make_style_type(Module& m);

}  // namespace tintara::paint
