// Style strings: "bold red on #ffffff".
#pragma once

#include "frame/frame.hpp"

namespace tintara::paint {

// Style.parse(text) for a str.
Ref parse_style(PyObject* text);

// Drops the style strings parsed so far.
void forget_parsed();

// paint's and echo's style argument (a Style or a style string) as a Style.
Ref to_style(PyObject* style);

}  // namespace tintara::paint
