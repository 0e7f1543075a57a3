// Style strings: their tokens, the Style they spell, and the strings
// parsed while the guard holds.
#include "modules/paint/parse.hpp"

#include "core/tokens.hpp"
#include "modules/paint/colour.hpp"
#include "modules/paint/messages.hpp"
#include "modules/paint/state.hpp"
#include "modules/paint/style.hpp"

#include <utility>

namespace tintara::paint {

namespace {

[[gnu::cold]] int raise_token(const char* message, PyObject* token)
{
    raise_repr(PyExc_ValueError, message, token);
    return -1;
}

// The colour of a style-string token.
Ref color_token(PyObject* token)
{
    const std::string_view t = ascii_view(token);
    if (const int n = core::color_number(t); n >= 0) {
        if (n <= 255) {
            return Ref::steal(PyLong_FromLong(n));
        }
    } else if (int rgb[3]; core::rgb_numbers(t, rgb)) {
        if (rgb[0] <= 255 && rgb[1] <= 255 && rgb[2] <= 255) {
            return Ref::steal(Py_BuildValue("(iii)", rgb[0], rgb[1], rgb[2]));
        }
    } else if (PyUnicode_GET_LENGTH(token) > 0 && PyUnicode_READ_CHAR(token, 0) == '#') {
        if (int c[3]; core::hex_rgb(t, c)) {
            return Ref::borrow(token);
        }
    } else {
        Ref name;
        Ref code;
        if (named(token, name, code) == 0) {
            return name;
        }
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
            return {};
        }
        PyErr_Clear();
    }
    raise_token(text::kBadToken, token);
    return {};
}

// The constructor arguments a style string spells.
struct Spelled {
    Ref fg;
    Ref bg;
    PyObject* attrs[kNumAttributes] = {};  // True, False or unset
};

int spell(PyObject* text, Spelled& out)
{
    Ref tokens = Ref::steal(PyUnicode_Split(text, nullptr, -1));
    if (!tokens) {
        return -1;
    }
    const Py_ssize_t n = PyList_GET_SIZE(tokens.get());
    for (Py_ssize_t i = 0; i < n;) {
        // The list is ours alone: its items stay while it does.
        PyObject* token = PyList_GET_ITEM(tokens.get(), i++);
        if (PyUnicode_EqualToUTF8(token, "on")) {
            if (i == n) {
                return raise_token(text::kMissingBackground, token);
            }
            token = PyList_GET_ITEM(tokens.get(), i++);
            Ref value = color_token(token);
            if (!value) {
                return -1;
            }
            if (out.bg) {
                return raise_token(text::kSecondBackground, token);
            }
            out.bg = std::move(value);
            continue;
        }
        PyObject* value = Py_True;
        if (PyUnicode_EqualToUTF8(token, "not")) {
            if (i == n) {
                return raise_token(text::kBadToken, token);
            }
            token = PyList_GET_ITEM(tokens.get(), i++);
            value = Py_False;
            if (core::attribute_word(ascii_view(token)) < 0) {
                return raise_token(text::kBadToken, token);
            }
        }
        if (const int a = core::attribute_word(ascii_view(token)); a >= 0) {
            if (out.attrs[a] != nullptr && out.attrs[a] != value) {
                return raise_token(text::kConflict, token);
            }
            out.attrs[a] = value;
            continue;
        }
        Ref color = color_token(token);
        if (!color) {
            return -1;
        }
        if (out.fg) {
            return raise_token(text::kSecondForeground, token);
        }
        out.fg = std::move(color);
    }
    return 0;
}

// Style.parse(text) for an exact str, handed out again while the guard
// holds: the tables are then as they were when the string was first parsed,
// and parsing it again would give an equal Style with the same codes.
Ref parsed_style(PyObject* text)
{
    if (!shortcuts_hold()) {
        if (g.parsed) {
            forget_parsed();  // nothing parsed before a change is handed out after it
        }
        return parse_style(text);
    }
    PyObject* found = nullptr;
    // Exact str keys and Styles: the look-up runs no Python code.
    if (g.parsed && PyDict_GetItemRef(g.parsed.get(), text, &found) != 0) {
        return Ref::steal(found);
    }
    Ref style = parse_style(text);
    if (style && shortcuts_hold() &&
        ((!g.parsed && !g.parsed.set(Ref::steal(PyDict_New()))) ||
         (PyDict_GET_SIZE(g.parsed.get()) < kMaxParsed &&
          PyDict_SetItem(g.parsed.get(), text, style.get()) < 0))) {
        PyErr_Clear();  // not kept: it is parsed again next time
    }
    return style;
}

}  // namespace

void forget_parsed()
{
    g.parsed.set({});
}

Ref parse_style(PyObject* text)
{
    Spelled spelled;
    if (spell(text, spelled) < 0) {
        return {};
    }
    PyObject* values[kNumAttributes];
    for (int i = 0; i < kNumAttributes; ++i) {
        values[i] = spelled.attrs[i] != nullptr ? spelled.attrs[i] : Py_None;
    }
    return new_style(spelled.fg ? spelled.fg.get() : Py_None,
                     spelled.bg ? spelled.bg.get() : Py_None, values);
}

Ref to_style(PyObject* style)
{
    if (is_style(style)) {
        return Ref::borrow(style);
    }
    if (PyUnicode_CheckExact(style)) {
        return parsed_style(style);
    }
    if (PyUnicode_Check(style)) {
        return parse_style(style);
    }
    raise_type_named(PyExc_TypeError, text::kStyleType, style);
    return {};
}

}  // namespace tintara::paint
