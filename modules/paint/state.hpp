// tintara.paint's state, and the constants its parts share.
#pragma once

#include "frame/frame.hpp"

namespace tintara::paint {

extern Str s_attribute[10];  // the attributes' names, in the order of ATTRIBUTES

struct State {
    ModuleState frame;
    // While it holds, the tables a style string is parsed with (and the
    // namespaces they are read through) are as they were when the module
    // was whole, and hold only plain values: a string parses to an equal
    // Style, with the same codes, whenever it is parsed.
    Held colors;  // the modules the guard relies on, as the namespace bound them
    Held styles;
    // Style strings parsed while the guard holds, by their exact str (at
    // most kMaxParsed).
    Held parsed;
    Held style_type;
    Held style_new;  // Style.__new__, the function object
    Held pen_type;
    Held pen_call;         // Pen.__call__, the function object
    Held attribute_index;  // {name: i} of the ten attributes
};
extern State g;

inline constexpr Py_ssize_t kMaxParsed = 4096;

// Whether the guard holds, and the modules it relies on are still plain
// modules (a module's class can change without its namespace changing).
inline bool shortcuts_hold()
{
    return g.frame.guard.holds() && Py_IS_TYPE(g.colors.get(), &PyModule_Type) &&
           Py_IS_TYPE(g.styles.get(), &PyModule_Type);
}

}  // namespace tintara::paint
