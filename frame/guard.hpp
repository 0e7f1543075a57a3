// Whether a module's shortcuts may still answer.
//
// A shortcut answers from tables fixed at compile time, which are what the
// module body built its dicts from.  That is exact only while nothing it
// relies on has changed since the body finished: the bindings of its
// namespace and the tables it reads.  A Guard follows those dicts through
// the package's one dict watcher (one slot per interpreter, shared by every
// tintara module), and the first event on any of them, reported before the
// change lands, turns it off for good.  From then on every call takes the
// generic path.
#pragma once

#include "frame/ref.hpp"

#include <initializer_list>

namespace tintara {

class Guard {
public:
    // Forgets what it followed: an import starts afresh here.
    void reset() noexcept;

    // Follows dict (an exact dict) from now on: a table as soon as the body
    // has made it, so that any change before arm() keeps the guard off.
    void follow(PyObject* dict) noexcept;

    // Follows dicts too (the namespace), and holds from now on if nothing it
    // follows has changed and their keys are all exact strs (a look-up in
    // them runs no Python code).  Called when the module is whole; the
    // module then checks what its namespace binds, and trips the guard if
    // that is not what its body made.  Without a dict-watcher slot left in
    // the interpreter the guard never holds.  Leaves no exception.
    bool arm(std::initializer_list<PyObject*> dicts) noexcept;

    [[nodiscard]] bool holds() const noexcept { return holds_; }

    // Off for good (until the next import).
    void trip() noexcept
    {
        holds_ = false;
        changed_ = true;
    }

    // Whether dict is one of those followed.
    [[nodiscard]] bool follows(PyObject* dict) const noexcept;

private:
    static constexpr int kMaxDicts = 8;
    Held dicts_[kMaxDicts];
    int count_ = 0;
    bool holds_ = false;
    bool changed_ = false;
};

}  // namespace tintara
