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
    // Follows dicts from now on, and holds if each is an exact dict whose
    // keys are all exact strs (a lookup in it runs no Python code).  Called
    // when the module is whole; the module then checks that the dicts hold
    // what its tables say, and calls trip() if not.  Without a dict-watcher
    // slot left in the interpreter the guard never holds.  Leaves no
    // exception.
    bool arm(std::initializer_list<PyObject*> dicts) noexcept;

    [[nodiscard]] bool holds() const noexcept { return holds_; }

    // Off for good (until the next arm(), made by a new import).
    void trip() noexcept { holds_ = false; }

    // Whether dict is one of those followed.
    [[nodiscard]] bool follows(PyObject* dict) const noexcept;

private:
    static constexpr int kMaxDicts = 8;
    Held dicts_[kMaxDicts];
    int count_ = 0;
    bool holds_ = false;
};

}  // namespace tintara
