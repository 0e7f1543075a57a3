// Owned references.
//
// Rules of use:
//  * A function that hands out a new reference returns a Ref.  An empty Ref
//    means "failed, and a Python exception is set" unless the function says
//    otherwise.
//  * Parameters are borrowed PyObject* (the caller keeps them alive).
//  * Ref never converts to PyObject* implicitly: write .get() to lend it and
//    .release() to give it away, so it cannot reach Py_DECREF by accident.
//  * Objects kept for the process's lifetime (module state, constants,
//    caches of made objects) are held by a Held.
//  * Nothing outside this file touches reference counts directly, except the
//    function type's own slots.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tintara {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}

    // The old value is released only after *this holds the new one: a
    // __del__ run by the release then sees a consistent object.
    Ref& operator=(Ref&& other) noexcept
    {
        PyObject* old = std::exchange(obj_, std::exchange(other.obj_, nullptr));
        Py_XDECREF(old);
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    // Takes over a reference the caller owns (null is allowed: empty Ref).
    [[nodiscard]] static Ref steal(PyObject* obj) noexcept { return Ref(obj); }
    // Takes a new reference to a borrowed object.
    [[nodiscard]] static Ref borrow(PyObject* obj) noexcept { return Ref(Py_XNewRef(obj)); }

    [[nodiscard]] PyObject* get() const noexcept { return obj_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
    [[nodiscard]] Ref dup() const noexcept { return borrow(obj_); }
    explicit operator bool() const noexcept { return obj_ != nullptr; }

private:
    explicit Ref(PyObject* obj) noexcept : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

// A process-wide object: one reference held by a static (module state, a
// constant, a cache of made objects).  Never released at exit, when the
// interpreter may be gone; set() replaces it.
class Held {
public:
    constexpr Held() noexcept = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    [[nodiscard]] PyObject* get() const noexcept { return obj_; }
    explicit operator bool() const noexcept { return obj_ != nullptr; }
    // A new reference to the object (empty when nothing is held).
    [[nodiscard]] Ref ref() const noexcept { return Ref::borrow(obj_); }

    // Holds value (empty: nothing) and returns it, borrowed.  The previous
    // object is released only after, as Ref's assignment does.
    PyObject* set(Ref value) noexcept
    {
        {
            Ref old = Ref::steal(std::exchange(obj_, value.release()));
        }
        return obj_;
    }

private:
    PyObject* obj_ = nullptr;
};

}  // namespace tintara
