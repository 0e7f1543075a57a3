// Building result strings from pieces.
#include "frame/text.hpp"

#include <cstring>

namespace tintara {

namespace {
constexpr std::array<Text::ByteText, 256> make_byte_text()
{
    std::array<Text::ByteText, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const int n = v >= 100 ? 3 : v >= 10 ? 2 : 1;
        table[static_cast<size_t>(v)].len = n;
        for (int i = n - 1, x = v; i >= 0; --i, x /= 10) {
            table[static_cast<size_t>(v)].text[i] = static_cast<char>('0' + x % 10);
        }
    }
    return table;
}
}  // namespace

const std::array<Text::ByteText, 256> Text::kByteText = make_byte_text();

void Text::number(long long v) noexcept
{
    if (v >= 0 && v < 256) {
        byte(static_cast<unsigned>(v));
        return;
    }
    char buf[24];
    int n = 0;
    unsigned long long u =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        buf[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (v < 0) {
        buf[n++] = '-';
    }
    if (digits_used_ + n > static_cast<int>(sizeof digits_)) {
        overflow_ = true;
        return;
    }
    char* out = digits_ + digits_used_;
    for (int i = 0; i < n; ++i) {
        out[i] = buf[n - 1 - i];
    }
    digits_used_ += n;
    ascii(out, n);
}

int Text::integer(PyObject* obj, Ref& keep)
{
    if (PyLong_Check(obj)) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (overflow == 0 && !(v == -1 && PyErr_Occurred())) {
            number(v);
            return 0;
        }
        PyErr_Clear();
        // int's own decimal text, whatever a subclass overrides.
        keep = Ref::steal(PyLong_Type.tp_repr(obj));
    } else {
        keep = Ref::steal(PyObject_Str(obj));
    }
    if (!keep) {
        return -1;
    }
    str(keep.get());
    return 0;
}

int Text::field(PyObject* obj, Ref& keep)
{
    if (PyUnicode_CheckExact(obj)) {
        str(obj);
        return 0;
    }
    if (PyLong_CheckExact(obj)) {
        return integer(obj, keep);
    }
    keep = Ref::steal(PyObject_Format(obj, nullptr));
    if (!keep) {
        return -1;
    }
    str(keep.get());
    return 0;
}

Ref Text::build()
{
    if (overflow_) {
        PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python string");
        return {};
    }
    if (all_ascii_) {
        Ref result = Ref::steal(PyUnicode_New(length_, 127));
        if (!result) {
            return result;
        }
        auto* out = static_cast<char*>(PyUnicode_DATA(result.get()));
        for (int i = 0; i < count_; ++i) {
            const Piece& p = pieces_[i];
            const void* src = p.str != nullptr ? PyUnicode_DATA(p.str) : p.ascii;
            std::memcpy(out, src, static_cast<size_t>(p.len));
            out += p.len;
        }
        return result;
    }
    PyUnicodeWriter* writer = PyUnicodeWriter_Create(length_);
    if (writer == nullptr) {
        return {};
    }
    for (int i = 0; i < count_; ++i) {
        const Piece& p = pieces_[i];
        // The characters themselves: a str subclass's __str__ is not asked.
        int rc = p.str != nullptr ? PyUnicodeWriter_WriteSubstring(writer, p.str, 0, p.len)
                                  : PyUnicodeWriter_WriteUTF8(writer, p.ascii, p.len);
        if (rc < 0) {
            PyUnicodeWriter_Discard(writer);
            return {};
        }
    }
    return Ref::steal(PyUnicodeWriter_Finish(writer));
}

}  // namespace tintara
