// Styled text, and text without its escape sequences, over any str kind.
#include "modules/paint/styled.hpp"

#include "core/escapes.hpp"

namespace tintara::paint {

using core::copy_chars;
using core::find_esc;
using core::kEsc;
using core::next_reopening;
using core::sequence_end;

namespace {

[[gnu::cold]] PyObject* raise_too_long()
{
    PyErr_SetString(PyExc_OverflowError, "styled text is too long for a Python string");
    return nullptr;
}

template <typename Ch>
Ref styled_kind(PyObject* s, PyObject* prefix, PyObject* suffix,
                std::span<const std::string_view> offs)
{
    const auto* p = static_cast<const Ch*>(PyUnicode_DATA(s));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    const Py_ssize_t lp = PyUnicode_GET_LENGTH(prefix);
    const Py_ssize_t ls = PyUnicode_GET_LENGTH(suffix);
    // The prefix is written again after every SGR that undoes it.
    Py_ssize_t again = 0;
    const bool escapes = find_esc(p, 0, n) >= 0;
    for (Py_ssize_t at = 0; escapes && (at = next_reopening(p, n, at, offs)) >= 0;) {
        ++again;
    }
    Py_ssize_t total = 0;
    if (__builtin_mul_overflow(again + 1, lp, &total) || __builtin_add_overflow(total, n, &total) ||
        __builtin_add_overflow(total, ls, &total)) {
        return Ref::steal(raise_too_long());
    }
    Ref out = Ref::steal(PyUnicode_New(total, PyUnicode_MAX_CHAR_VALUE(s)));
    if (!out) {
        return out;
    }
    const auto* pre = static_cast<const Py_UCS1*>(PyUnicode_DATA(prefix));
    Ch* o = copy_chars(static_cast<Ch*>(PyUnicode_DATA(out.get())), pre, lp);
    Py_ssize_t start = 0;
    for (Py_ssize_t at = 0; again != 0 && (at = next_reopening(p, n, at, offs)) >= 0;) {
        o = copy_chars(o, p + start, at - start);
        o = copy_chars(o, pre, lp);
        start = at;
    }
    o = copy_chars(o, p + start, n - start);
    copy_chars(o, static_cast<const Py_UCS1*>(PyUnicode_DATA(suffix)), ls);
    return out;
}

}  // namespace

Ref styled(PyObject* s, PyObject* prefix, PyObject* suffix, std::span<const std::string_view> offs)
{
    if (PyUnicode_GET_LENGTH(s) == 0 || PyUnicode_GET_LENGTH(prefix) == 0) {
        return Ref::borrow(s);
    }
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND:
            return styled_kind<Py_UCS1>(s, prefix, suffix, offs);
        case PyUnicode_2BYTE_KIND:
            return styled_kind<Py_UCS2>(s, prefix, suffix, offs);
        default:
            return styled_kind<Py_UCS4>(s, prefix, suffix, offs);
    }
}

namespace {

template <typename Ch>
Ref strip_kind(PyObject* text)
{
    const auto* p = static_cast<const Ch*>(PyUnicode_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    // Pass 1: how much stays, and its largest character.
    // What the sequences held goes too: the result may need a smaller kind.
    const bool ascii = PyUnicode_IS_ASCII(text);
    Py_ssize_t kept = 0;
    Py_UCS4 max_char = ascii ? 127 : 0;
    Py_ssize_t start = 0;
    for (Py_ssize_t i = find_esc(p, 0, n);; i = find_esc(p, start, n)) {
        const Py_ssize_t stop = i >= 0 ? i : n;
        kept += stop - start;
        for (Py_ssize_t k = start; k < stop && !ascii; ++k) {
            max_char = p[k] > max_char ? p[k] : max_char;
        }
        if (i < 0) {
            break;
        }
        start = sequence_end(p, n, i);
    }
    Ref out = Ref::steal(PyUnicode_New(kept, max_char));
    if (!out) {
        return out;
    }
    // Pass 2: the kept characters, in the result's kind.
    auto copy = [&]<typename Out>(Out* o) {
        Py_ssize_t from = 0;
        for (Py_ssize_t i = find_esc(p, 0, n);; i = find_esc(p, from, n)) {
            const Py_ssize_t stop = i >= 0 ? i : n;
            o = copy_chars(o, p + from, stop - from);
            if (i < 0) {
                break;
            }
            from = sequence_end(p, n, i);
        }
    };
    void* data = PyUnicode_DATA(out.get());
    switch (PyUnicode_KIND(out.get())) {
        case PyUnicode_1BYTE_KIND:
            copy(static_cast<Py_UCS1*>(data));
            break;
        case PyUnicode_2BYTE_KIND:
            copy(static_cast<Py_UCS2*>(data));
            break;
        default:
            copy(static_cast<Py_UCS4*>(data));
            break;
    }
    return out;
}

}  // namespace

// str(text) as an exact str.
Ref text_of(PyObject* text)
{
    if (PyUnicode_CheckExact(text)) {
        return Ref::borrow(text);
    }
    Ref s = Ref::steal(PyObject_Str(text));
    if (s && !PyUnicode_CheckExact(s.get())) {
        s = Ref::steal(PyUnicode_FromObject(s.get()));  // a copy of a subclass's characters
    }
    return s;
}

Ref stripped(PyObject* text)
{
    const Py_ssize_t first = PyUnicode_FindChar(text, kEsc, 0, PyUnicode_GET_LENGTH(text), 1);
    if (first < 0) {
        // A subclass's characters as an exact str.
        return Ref::steal(PyUnicode_FromObject(text));
    }
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return strip_kind<Py_UCS1>(text);
        case PyUnicode_2BYTE_KIND:
            return strip_kind<Py_UCS2>(text);
        default:
            return strip_kind<Py_UCS4>(text);
    }
}

}  // namespace tintara::paint
