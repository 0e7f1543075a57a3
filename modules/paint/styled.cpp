// Styled text, text without its escape sequences and text made safe, over
// any str kind.  Each is counted first and then written into a str made to
// measure.
#include "modules/paint/styled.hpp"

#include <algorithm>

namespace tintara::paint {

namespace {

[[gnu::cold]] Ref raise_too_long()
{
    PyErr_SetString(PyExc_OverflowError, "styled text is too long for a Python string");
    return {};
}

// f(units) with the code units of the str s, typed by its kind.
template <typename F>
auto with_units(PyObject* s, F f)
{
    const void* data = PyUnicode_DATA(s);
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND:
            return f(static_cast<const Py_UCS1*>(data));
        case PyUnicode_2BYTE_KIND:
            return f(static_cast<const Py_UCS2*>(data));
        default:
            return f(static_cast<const Py_UCS4*>(data));
    }
}

// A new str of count.n characters up to max_char, written by fill(units).
template <typename Fill>
Ref new_text(const core::Count& count, Py_UCS4 max_char, Fill fill)
{
    if (count.overflow) {
        return raise_too_long();
    }
    Ref out = Ref::steal(PyUnicode_New(count.n, max_char));
    if (out) {
        void* data = PyUnicode_DATA(out.get());
        switch (PyUnicode_KIND(out.get())) {
            case PyUnicode_1BYTE_KIND:
                fill(static_cast<Py_UCS1*>(data));
                break;
            case PyUnicode_2BYTE_KIND:
                fill(static_cast<Py_UCS2*>(data));
                break;
            default:
                fill(static_cast<Py_UCS4*>(data));
                break;
        }
    }
    return out;
}

// The characters of a str subclass as an exact str; an exact str itself.
Ref exact(PyObject* text)
{
    return PyUnicode_CheckExact(text) ? Ref::borrow(text) : Ref::steal(PyUnicode_FromObject(text));
}

}  // namespace

// str(text) as an exact str.
Ref text_of(PyObject* text)
{
    if (PyUnicode_CheckExact(text)) {
        return Ref::borrow(text);
    }
    Ref s = Ref::steal(PyObject_Str(text));
    return s ? exact(s.get()) : Ref();  // a copy of a subclass's characters
}

Ref styled(PyObject* s, const core::Paint& paint)
{
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    if (n == 0 || paint.prefix.empty()) {
        return Ref::borrow(s);
    }
    return with_units(s, [&]<typename Ch>(const Ch* p) {
        // Text without line breaks and escape sequences goes between the
        // prefix and the suffix as it is.
        const bool plain = core::find(p, 0, n, core::kIntroducer | core::kBreak) < 0;
        auto tell = [&](auto& sink) {
            if (plain) {
                sink.ascii(paint.prefix);
                sink.text(p, n);
                sink.ascii(paint.suffix);
            } else {
                core::paint_lines(p, n, paint, sink);
            }
        };
        core::Count count;
        tell(count);
        if (count.overflow) {
            return raise_too_long();
        }
        // The same characters and ASCII: the kind of s.
        Ref out = Ref::steal(PyUnicode_New(count.n, PyUnicode_MAX_CHAR_VALUE(s)));
        if (out) {
            core::Copy<Ch> copy{static_cast<Ch*>(PyUnicode_DATA(out.get()))};
            tell(copy);
        }
        return out;
    });
}

bool plain(PyObject* s)
{
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    return with_units(s, [&](const auto* p) {
        return core::find(p, 0, n, core::kIntroducer | core::kBreak) < 0;
    });
}

Ref joined(std::span<const Ref> pieces)
{
    if (pieces.size() == 1) {
        return exact(pieces[0].get());
    }
    core::Count count;
    Py_UCS4 max_char = 127;
    for (const Ref& s : pieces) {
        count.text(&max_char, PyUnicode_GET_LENGTH(s.get()));
        max_char = std::max(max_char, PyUnicode_MAX_CHAR_VALUE(s.get()));
    }
    return new_text(count, max_char, [&]<typename Out>(Out* out) {
        core::Copy<Out> copy{out};
        for (const Ref& s : pieces) {
            with_units(s.get(), [&](const auto* p) {
                copy.text(p, PyUnicode_GET_LENGTH(s.get()));
                return 0;
            });
        }
    });
}

Ref stripped(PyObject* text)
{
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    return with_units(text, [&]<typename Ch>(const Ch* p) {
        // Each stretch of text between escape sequences, in turn.
        auto stretches = [&](auto keep) {
            Py_ssize_t from = 0;
            for (Py_ssize_t i = core::find(p, 0, n, core::kIntroducer);;
                 i = core::find(p, from, n, core::kIntroducer)) {
                keep(from, i >= 0 ? i : n);
                if (i < 0) {
                    break;
                }
                from = core::sequence_end(p, n, i);
            }
        };
        if (core::find(p, 0, n, core::kIntroducer) < 0) {
            return exact(text);
        }
        // What the sequences held goes too: the result may need a smaller kind.
        const bool ascii = PyUnicode_IS_ASCII(text);
        core::Count count;
        Py_UCS4 max_char = 127;
        stretches([&](Py_ssize_t from, Py_ssize_t stop) {
            count.text(p, stop - from);
            for (Py_ssize_t k = from; k < stop && !ascii; ++k) {
                max_char = p[k] > max_char ? p[k] : max_char;
            }
        });
        return new_text(count, max_char, [&]<typename Out>(Out* out) {
            stretches([&](Py_ssize_t from, Py_ssize_t stop) {
                out = core::copy_chars(out, p + from, stop - from);
            });
        });
    });
}

Ref sanitized(PyObject* text)
{
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    return with_units(text, [&]<typename Ch>(const Ch* p) {
        Py_ssize_t first = 0;
        while (first < n && !core::active(p[first])) {
            ++first;
        }
        if (first == n) {
            return exact(text);
        }
        // The escapes are ASCII: the result may need a smaller kind.
        core::Count count;
        Py_UCS4 max_char = 127;
        for (Py_ssize_t k = 0; k < n; ++k) {
            const Py_UCS4 c = p[k];
            if (core::active(p[k])) {
                count.text(p, core::escape_of(c).len);
            } else {
                count.text(p, 1);
                max_char = c > max_char ? c : max_char;
            }
        }
        return new_text(count, max_char, [&]<typename Out>(Out* out) {
            core::Copy<Out> copy{out};
            Py_ssize_t from = 0;
            for (Py_ssize_t k = first; k < n; ++k) {
                if (core::active(p[k])) {
                    const core::Escape e = core::escape_of(p[k]);
                    copy.text(p + from, k - from);
                    copy.ascii({e.text, static_cast<size_t>(e.len)});
                    from = k + 1;
                }
            }
            copy.text(p + from, n - from);
        });
    });
}

}  // namespace tintara::paint
