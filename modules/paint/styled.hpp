// Styled text: a str between a prefix and a suffix, with the prefix written
// again after each embedded SGR that undoes it; and text with its escape
// sequences taken out.
#pragma once

#include "frame/frame.hpp"

#include <span>
#include <string_view>

namespace tintara::paint {

// str(text) as an exact str.
Ref text_of(PyObject* text);

// s (an exact str) between prefix and suffix (exact ASCII strs); offs are
// the off codes (as decimal text) that undo the style.
Ref styled(PyObject* s, PyObject* prefix, PyObject* suffix, std::span<const std::string_view> offs);

// text (a str) without its escape sequences, as an exact str.
Ref stripped(PyObject* text);

}  // namespace tintara::paint
