// Style: an immutable, hashable text style.  Everything is checked and
// resolved when it is made; its prefix and suffix are made once per level.
#pragma once

#include "core/tokens.hpp"
#include "frame/frame.hpp"
#include "modules/paint/colour.hpp"

#include <span>
#include <string_view>

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

constexpr int kMaxOffs = kNumAttributes + 2;

struct StyleData {
    Ref fields;  // (fg, bg, bold, ..., overline), canonical: equality and hash
    Py_hash_t hash = -1;
    Color colors[2];  // fg, bg
    int ncodes = 0;
    AttributeCode codes[kNumAttributes];  // the set attributes, in STYLES order
    // The off codes of everything the style sets, as decimal text: an
    // embedded SGR carrying one of them undoes the style.
    int noffs = 0;
    Ref off_text[kMaxOffs];
    std::string_view offs[kMaxOffs];
    Ref prefix[4];  // per level, made when first asked for
    Ref suffix[4];
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

// The prefix and suffix at level 1-3, made once.  0 or -1.
int make_codes(StyleObject& st, int level);

inline std::span<const std::string_view> style_offs(const StyleObject& st)
{
    return {st.d.offs, static_cast<size_t>(st.d.noffs)};
}

// style.render(text, level=level, stream=stream)
Ref render(StyleObject& st, PyObject* text, PyObject* level, PyObject* stream);

// The Style type, made for the module body (its methods are functions of
// the frame).
Ref make_style_type(Module& m);

}  // namespace tintara::paint
