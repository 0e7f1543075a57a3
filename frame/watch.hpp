// Change tracking for the dicts a module's shortcuts depend on.
//
// A shortcut that is exact only while some dicts hold particular objects
// (the module namespace still binds the objects made at import, a table is
// still a plain dict of plain values) records Watch::generation() when it
// checks its conditions, and checks them again once the generation moves.
// Any change to any watched dict moves it.
#pragma once

#include "frame/ref.hpp"

#include <cstdint>

namespace tintara {

class Watch {
public:
    [[nodiscard]] static uint64_t generation() noexcept { return generation_; }
    // Watches dict (an exact dict).  False when the interpreter has no
    // watcher left for us: then no shortcut may rely on it.  Never leaves
    // an exception set.
    static bool watch(PyObject* dict) noexcept;

private:
    static int on_change(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) noexcept;
    static inline uint64_t generation_ = 1;
    static inline int id_ = -2;  // -2: not asked yet, -1: none to be had
};

// Results already made, by their exact-str argument, for a shortcut that
// depends only on the argument while the generation stands.  Lookups and
// stores run no Python code and never leave an exception set.
class Memo {
public:
    // Empties the memo (making it on first use); false if it cannot be had.
    bool reset() noexcept;
    // The result kept for key, a new reference, or null.
    [[nodiscard]] PyObject* find(PyObject* key) const noexcept;
    // Keeps result for key while the generation is still `generation` and
    // the memo has room.
    void keep(PyObject* key, PyObject* result, uint64_t generation) noexcept;

private:
    static constexpr Py_ssize_t kMaxEntries = 4096;
    PyObject* dict_ = nullptr;  // exact str -> result; never freed
};

// What dict binds key to, or empty (also on error, which is cleared).
// Looking a key up can run Python code (a key's __eq__), so whoever checks a
// shortcut this way compares the generation before and after.
Ref peek(PyObject* dict, PyObject* key) noexcept;

// A plain dict (exact type) whose keys are all exact strs and whose values
// all pass value_ok: a table whose lookups run no Python code.
bool plain_table(PyObject* table, bool (*value_ok)(PyObject*)) noexcept;

}  // namespace tintara
