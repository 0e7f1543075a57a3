// Constants of a module source: str and int objects made when a module
// body starts and kept for the process's lifetime.
#pragma once

#include "frame/ref.hpp"

#include <cstddef>

namespace tintara {

// Constants created when a module body starts (and kept for the process's
// lifetime).  Declare them at namespace scope; they register themselves.

class Str {
public:
    explicit Str(const char* utf8) noexcept;
    [[nodiscard]] PyObject* get() const noexcept { return obj_.get(); }
    // A Str is a borrowed constant, so lending it implicitly is safe.
    operator PyObject*() const noexcept { return obj_.get(); }  // NOLINT
    [[nodiscard]] const char* text() const noexcept { return text_; }

private:
    friend int make_constants();
    const char* text_;
    Held obj_;
    Str* next_;
};

class Int {
public:
    explicit Int(long value) noexcept;
    [[nodiscard]] PyObject* get() const noexcept { return obj_.get(); }
    operator PyObject*() const noexcept { return obj_.get(); }  // NOLINT

private:
    friend int make_constants();
    long value_;
    Held obj_;
    Int* next_;
};

// Creates every registered constant.  0 on success, -1 with an exception.
int make_constants();

// A string literal as a template argument.
template <size_t N>
struct Literal {
    char text[N];
    consteval Literal(const char (&s)[N]) noexcept  // NOLINT: converts from a literal
    {
        for (size_t i = 0; i < N; ++i) {
            text[i] = s[i];
        }
    }
};

// The interned str of a literal, made with the other constants when a
// module body starts: str<"ESC">.
template <Literal L>
inline Str str{L.text};

// The int of a value, made likewise: integer<10>.
template <long V>
inline Int integer{V};

}  // namespace tintara
