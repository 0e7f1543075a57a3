// Building result strings from pieces without intermediate objects.
#pragma once

#include "frame/ref.hpp"

#include <array>

namespace tintara {

class Text {
public:
    // An exact str; it must stay alive until build().
    void str(PyObject* s) noexcept
    {
        all_ascii_ = all_ascii_ && PyUnicode_IS_ASCII(s);
        add({s, nullptr, PyUnicode_GET_LENGTH(s)});
    }
    void ascii(const char* s, Py_ssize_t n) noexcept { add({nullptr, s, n}); }
    template <Py_ssize_t N>
    void lit(const char (&s)[N]) noexcept
    {
        ascii(s, N - 1);
    }
    // The decimal text of 0..255.
    void byte(unsigned v) noexcept { ascii(kByteText[v].text, kByteText[v].len); }
    // The decimal text of a machine integer.
    void number(long long v) noexcept;
    // The decimal text of any int instance (subclass overrides ignored), or
    // str() of anything else.  0 or -1.
    int integer(PyObject* obj, Ref& keep);
    // The f-string field text of obj.  0 or -1.
    int field(PyObject* obj, Ref& keep);
    // The finished str, or empty with an exception.
    Ref build();

    struct ByteText {
        char text[4];
        Py_ssize_t len;
    };
    [[nodiscard]] static const ByteText& byte_text(unsigned v) noexcept { return kByteText[v]; }

private:
    static const std::array<ByteText, 256> kByteText;
    static constexpr int kMaxPieces = 12;
    struct Piece {
        PyObject* str;
        const char* ascii;
        Py_ssize_t len;
    };
    Piece pieces_[kMaxPieces];
    char digits_[4 * 24];
    int digits_used_ = 0;
    int count_ = 0;
    Py_ssize_t length_ = 0;
    bool all_ascii_ = true;
    bool overflow_ = false;
    void add(Piece p) noexcept
    {
        if (count_ == kMaxPieces || p.len > PY_SSIZE_T_MAX - length_) {
            overflow_ = true;
            return;
        }
        pieces_[count_++] = p;
        length_ += p.len;
    }
};

}  // namespace tintara

namespace tintara {

// A PyUnicodeWriter's text: finished, or discarded on failure.
class Writer {
public:
    Writer() noexcept : w_(PyUnicodeWriter_Create(0)) {}
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    ~Writer()
    {
        if (w_ != nullptr) {
            PyUnicodeWriter_Discard(w_);
        }
    }
    [[nodiscard]] PyUnicodeWriter* get() const noexcept { return w_; }
    Ref finish() noexcept
    {
        return w_ != nullptr ? Ref::steal(PyUnicodeWriter_Finish(std::exchange(w_, nullptr)))
                             : Ref();
    }

private:
    PyUnicodeWriter* w_;
};

}  // namespace tintara
