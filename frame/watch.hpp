// What a module's shortcuts rely on, followed through dict events.
//
// A shortcut may serve a result that depends only on its argument while the
// module is pristine: its namespace still binds the objects its body made,
// and its tables are plain dicts whose lookups run no Python code.  A module
// states this as Watched dicts; each names the keys whose values it relies
// on.  Every tintara module of an interpreter shares one dict watcher (kept
// in the interpreter's state dict), which reports a change before it lands.
// What a Watched knows is worked out from the event itself (key and new
// value), and the change counts as landed only once the dict shows it: until
// then, and for good after anything it cannot follow (a key that is not of
// the table's key type, a clear), holds() is false and callers take their
// generic path.
#pragma once

#include "frame/ref.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

namespace tintara {

// The entries of a followed table by the text of their keys, kept current
// from the table's events, for lookups that make no key object.  Only ASCII
// str keys are kept: no other key can equal an ASCII name.  derive() turns
// an entry's value into what a module reads (two numbers, -1 for a value
// only the generic path may handle, and optionally an exact str to keep).
class Mirror {
public:
    struct Entry {
        PyObject* key;  // owned; null: free, gone(): removed
        uint64_t hash;
        long data[2];
        PyObject* kept;  // owned, or null
    };
    using Derive = void (*)(PyObject* value, Entry& entry);
    explicit constexpr Mirror(Derive derive) noexcept : derive_(derive) {}

    // The text of an ASCII str of at most kLongest characters, read each
    // byte through fold (the identity if not given), and its hash; n is -1
    // for any other str.
    struct Key {
        static constexpr Py_ssize_t kLongest = 64;
        explicit Key(PyObject* str, const unsigned char* fold = nullptr) noexcept;
        // An ASCII str's text as it is, with the hash a Key made of it had.
        Key(PyObject* str, uint64_t known_hash) noexcept;
        const unsigned char* text = nullptr;
        const unsigned char* fold = nullptr;
        Py_ssize_t n = -1;
        uint64_t hash = 0;
    };
    [[nodiscard]] const Entry* find(const Key& key) const noexcept;

    // A change of the table (value null: removed).  False when it cannot be
    // kept (no memory).
    bool put(PyObject* key, PyObject* value) noexcept;
    void clear() noexcept;

private:
    static PyObject* gone() noexcept { return reinterpret_cast<PyObject*>(uintptr_t{1}); }
    bool grow() noexcept;
    Derive derive_;
    Entry* slots_ = nullptr;
    size_t mask_ = 0;
    size_t used_ = 0;  // live and removed slots
};

class Watched {
public:
    static constexpr int kMaxNames = 12;

    // Follows dict (exact dict).  names (kept): keys whose current values are
    // relied on; closed: no other key may appear; key_type: the only type of
    // key a lookup may meet (exact).  False, and holds() stays false, when
    // the interpreter has no dict watcher left.  Never leaves an exception.
    bool follow(PyObject* dict, std::span<PyObject* const> names = {}, bool closed = false,
                PyTypeObject* key_type = &PyUnicode_Type) noexcept;
    // Follows a table of str keys, keeping mirror current.
    bool follow(PyObject* table, Mirror& mirror) noexcept;

    // Every followed name still bound as when followed, every key of the
    // key type, every reported change landed.  Runs no Python code.
    [[nodiscard]] bool holds() noexcept
    {
        return broken_ == 0 || (broken_ == kUnsettled && settle());
    }
    [[nodiscard]] PyObject* dict() const noexcept { return dict_.get(); }
    // What names[i] was bound to when followed (borrowed).
    [[nodiscard]] PyObject* original(int i) const noexcept { return originals_[i].get(); }

    // Moves with every change to any followed dict of the interpreter.
    [[nodiscard]] static uint64_t epoch() noexcept;

    void on_change(PyDict_WatchEvent event, PyObject* key, PyObject* value) noexcept;

private:
    bool settle() noexcept;
    void lose_track() noexcept { broken_ |= kLost; }
    static constexpr uint32_t kLost = 1u << 31;
    static constexpr uint32_t kUnsettled = 1u << 30;  // changes reported, not yet seen landed

    Held dict_;
    Held pending_;  // key -> address of the value it changes to (0: deleted)
    PyTypeObject* key_type_ = &PyUnicode_Type;
    Held names_[kMaxNames];
    size_t count_ = 0;           // of names_
    Held originals_[kMaxNames];  // null: absent
    uint32_t broken_ = kLost;    // a bit per name that does not hold, kUnsettled and kLost
    bool closed_ = false;
    Mirror* mirror_ = nullptr;
};

inline const Mirror::Entry* Mirror::find(const Key& key) const noexcept
{
    for (size_t i = key.hash & mask_; slots_ != nullptr && key.n >= 0; i = (i + 1) & mask_) {
        const Entry& e = slots_[i];
        if (e.key == nullptr) {
            return nullptr;
        }
        if (e.hash != key.hash || e.key == gone() || PyUnicode_GET_LENGTH(e.key) != key.n) {
            continue;
        }
        const auto* text = static_cast<const unsigned char*>(PyUnicode_DATA(e.key));
        Py_ssize_t j = 0;
        while (j < key.n && text[j] == key.fold[key.text[j]]) {
            ++j;
        }
        if (j == key.n) {
            return &e;
        }
    }
    return nullptr;
}

// The character table of a Key read as it is.
inline constexpr auto kSame = [] {
    std::array<unsigned char, 128> same{};
    for (int c = 0; c < 128; ++c) {
        same[c] = static_cast<unsigned char>(c);
    }
    return same;
}();

inline Mirror::Key::Key(PyObject* str, uint64_t known_hash) noexcept
    : text(static_cast<const unsigned char*>(PyUnicode_DATA(str))),
      fold(kSame.data()),
      n(PyUnicode_GET_LENGTH(str)),
      hash(known_hash)
{
}

inline Mirror::Key::Key(PyObject* str, const unsigned char* table) noexcept
{
    const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
    if (!PyUnicode_IS_ASCII(str) || length > kLongest) {
        return;
    }
    text = static_cast<const unsigned char*>(PyUnicode_DATA(str));
    fold = table != nullptr ? table : kSame.data();
    // Eight bytes a step, gathered in a register, multiplied and folded.
    uint64_t h = static_cast<uint64_t>(length) * 0x9E3779B97F4A7C15ull;
    uint64_t word = 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        word |= static_cast<uint64_t>(fold[text[i]]) << (8 * (i & 7));
        if ((i & 7) == 7 || i == length - 1) {
            h = (h ^ word) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 29;
            word = 0;
        }
    }
    n = length;
    hash = h;
}

}  // namespace tintara
