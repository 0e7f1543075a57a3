// Colours and levels as callers give them to tintara.paint: checked and
// resolved once, and written as SGR parameters at a level.
#pragma once

#include "core/palette.hpp"
#include "frame/frame.hpp"

#include <cstdint>
#include <string_view>

namespace tintara::paint {

enum class ColorKind : uint8_t { None, Name, Index, Rgb };

struct Color {
    ColorKind kind = ColorKind::None;
    int index = 0;       // Index
    core::Rgb rgb = {};  // Rgb
    Ref code;            // Name: the exact int code

    [[nodiscard]] Color copy() const { return {kind, index, rgb, code.dup()}; }
};

// The characters of an ASCII str, or an empty view for any other.
std::string_view ascii_view(PyObject* s);

// An int whose comparisons are int's own, so comparing it runs no code.
bool plain_int(PyObject* v);

// lo <= v <= hi for an int v, as Python's chained comparison: 1, 0 or -1.
int in_range(PyObject* v, PyObject* lo, PyObject* hi, long lo_value, long hi_value);

// int.__int__(v): an int as an exact int, whatever a subclass overrides.
Ref exact_int(PyObject* v);

// An exact int's value when it lies in lo..hi, else -1.  Never runs code.
long small_value(PyObject* exact, long lo, long hi);

// The int 0-3 of an explicit level, or -1 with an exception.
int check_level(PyObject* level);

// An explicit level wins; otherwise the stream's, detected now.  0-3, or -1.
int resolve_level(PyObject* level, PyObject* stream);

// A colour name: the canonical name and the code, from the current tables.
// 0, or -1 with an exception.
int named(PyObject* value, Ref& name, Ref& code);

// A colour as a caller gives it: its canonical field and its resolved
// colour.  0, or -1 with an exception.
int check_color(PyObject* value, Ref& field, Color& color);

// The SGR parameters of a resolved colour at level 1-3.  0 or -1.
int write_segment(PyUnicodeWriter* w, const Color& c, int level, bool background);

// A canonical colour field as the style string writes it.  0 or -1.
int write_color_text(PyUnicodeWriter* w, PyObject* field);

}  // namespace tintara::paint
