// Text transformed over any str kind: styled one line at a time, with its
// escape sequences taken out, with what a terminal acts on made visible.
#pragma once

#include "core/escapes.hpp"
#include "frame/frame.hpp"

#include <span>

namespace tintara::paint {

// str(text) as an exact str.
Ref text_of(PyObject* text);

// s (an exact str) painted one line at a time; embedded SGRs that undo the
// style get its codes put back (see core::paint_lines).  An empty prefix
// paints nothing.
Ref styled(PyObject* s, const core::Paint& paint);

// Whether s (a str) holds no line break and no escape sequence: painted, it
// goes between the prefix and the suffix as it is.
bool plain(PyObject* s);

// The characters of the strs, joined, as an exact str.
Ref joined(std::span<const Ref> pieces);

// text (a str) without its escape sequences, as an exact str.
Ref stripped(PyObject* text);

// text (a str) with every character a terminal acts on written as repr
// writes it, as an exact str.
Ref sanitized(PyObject* text);

}  // namespace tintara::paint
