#include "frame/watch.hpp"

#include <array>
#include <cstring>
#include <new>
#include <utility>

namespace tintara {

namespace {

// The interpreter's one tintara dict watcher and the dicts it follows,
// shared by every tintara module through the interpreter's state dict (each
// module's shared library has its own copy of this code; the first to ask
// makes the hub, the others find it).
struct Hub {
    static constexpr int kMaxWatched = 32;
    int watcher = -1;
    std::atomic<uint64_t> epoch{1};
    int count = 0;
    Watched* watched[kMaxWatched] = {};
};

constexpr const char* kHubName = "tintara.watch.hub.1";
Hub* g_hub = nullptr;      // the interpreter's hub, once found
Hub* g_own_hub = nullptr;  // the one this library made: its watcher reports to it

int on_event(PyDict_WatchEvent event, PyObject* dict, PyObject* key, PyObject* value) noexcept
{
    // A dict may change while an exception is being raised.
    PyObject* raised = PyErr_GetRaisedException();
    Hub& hub = *g_own_hub;
    hub.epoch.fetch_add(1, std::memory_order_relaxed);
    for (int i = 0; i < hub.count; ++i) {
        if (hub.watched[i]->dict() == dict) {
            hub.watched[i]->on_change(event, key, value);
        }
    }
    PyErr_SetRaisedException(raised);
    return 0;
}

Hub* hub() noexcept
{
    if (g_hub != nullptr) {
        return g_hub;
    }
    PyObject* interp = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (interp == nullptr) {
        return nullptr;
    }
    void* memory = PyMem_RawCalloc(1, sizeof(Hub));
    if (memory == nullptr) {
        return nullptr;
    }
    auto* made = new (memory) Hub;
    Ref capsule = Ref::steal(PyCapsule_New(made, kHubName, nullptr));
    Ref key = Ref::steal(PyUnicode_FromString(kHubName));
    PyObject* found = nullptr;
    if (!capsule || !key || PyDict_SetDefaultRef(interp, key.get(), capsule.get(), &found) < 0) {
        PyErr_Clear();
        PyMem_RawFree(made);
        return nullptr;
    }
    Ref kept = Ref::steal(found);
    g_hub = static_cast<Hub*>(PyCapsule_GetPointer(kept.get(), kHubName));
    if (g_hub == made) {
        g_own_hub = made;
        made->watcher = PyDict_AddWatcher(on_event);  // -1: none left, no shortcuts
    } else {
        PyMem_RawFree(made);  // another library's hub is the interpreter's
    }
    PyErr_Clear();
    return g_hub;
}

}  // namespace

bool Mirror::put(PyObject* key, PyObject* value) noexcept
{
    const Key k(key);
    if (k.n < 0) {
        return true;  // no name a lookup makes equals it
    }
    if ((used_ + 1) * 2 > mask_ + 1 && !grow()) {
        return false;
    }
    auto* found = const_cast<Entry*>(find(k));
    if (found == nullptr && value == nullptr) {
        return true;
    }
    if (found == nullptr) {
        size_t i = k.hash & mask_;
        while (slots_[i].key != nullptr && slots_[i].key != gone()) {
            i = (i + 1) & mask_;
        }
        found = &slots_[i];
        used_ += found->key == nullptr ? 1 : 0;
        *found = {Ref::borrow(key).release(), k.hash, {-1, -1}, nullptr};
    }
    Ref kept = Ref::steal(found->kept);
    found->kept = nullptr;
    if (value == nullptr) {
        Ref removed = Ref::steal(std::exchange(found->key, gone()));
        return true;
    }
    found->data[0] = found->data[1] = -1;
    derive_(value, *found);
    return true;
}

bool Mirror::grow() noexcept
{
    const size_t size = slots_ == nullptr ? 32 : (mask_ + 1) * 2;
    Entry* old = slots_;
    const size_t old_size = old == nullptr ? 0 : mask_ + 1;
    auto* fresh = static_cast<Entry*>(PyMem_Calloc(size, sizeof(Entry)));
    if (fresh == nullptr) {
        return false;
    }
    slots_ = fresh;
    mask_ = size - 1;
    used_ = 0;
    for (size_t j = 0; j < old_size; ++j) {
        Entry& e = old[j];
        if (e.key == nullptr || e.key == gone()) {
            continue;
        }
        size_t i = e.hash & mask_;
        while (slots_[i].key != nullptr) {
            i = (i + 1) & mask_;
        }
        slots_[i] = e;
        ++used_;
    }
    PyMem_Free(old);
    return true;
}

void Mirror::clear() noexcept
{
    for (size_t i = 0; slots_ != nullptr && i <= mask_; ++i) {
        Entry& e = slots_[i];
        if (e.key != gone()) {
            Ref key = Ref::steal(e.key);
        }
        Ref kept = Ref::steal(e.kept);
        e = {};
    }
    used_ = 0;
}

uint64_t Watched::epoch() noexcept
{
    return g_hub != nullptr ? g_hub->epoch.load(std::memory_order_relaxed) : 0;
}

bool Watched::follow(PyObject* table, Mirror& mirror) noexcept
{
    mirror.clear();
    mirror_ = &mirror;
    if (!follow(table)) {
        return false;
    }
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(table, &pos, &key, &value)) {
        if (!mirror.put(key, value)) {
            lose_track();
        }
    }
    return broken_ == 0;
}

bool Watched::follow(PyObject* dict, std::span<PyObject* const> names, bool closed,
                     PyTypeObject* key_type) noexcept
{
    broken_ = kLost;
    Hub* h = hub();
    if (h == nullptr || h->watcher < 0 || !PyDict_CheckExact(dict) || names.size() > kMaxNames) {
        return false;
    }
    int i = 0;
    while (i < h->count && h->watched[i] != this) {
        ++i;
    }
    if (i == Hub::kMaxWatched || PyDict_Watch(h->watcher, dict) < 0 ||
        (!pending_ && pending_.set(Ref::steal(PyDict_New())) == nullptr)) {
        PyErr_Clear();
        return false;
    }
    h->count += i == h->count ? 1 : 0;
    h->watched[i] = this;
    dict_.set(Ref::borrow(dict));
    PyDict_Clear(pending_.get());
    count_ = names.size();
    for (size_t j = 0; j < count_; ++j) {
        names_[j].set(Ref::borrow(names[j]));
    }
    closed_ = closed;
    key_type_ = key_type;
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (Py_TYPE(key) != key_type) {
            return false;
        }
    }
    Py_ssize_t present = 0;
    for (size_t j = 0; j < names.size(); ++j) {
        value = PyDict_GetItemWithError(dict, names[j]);  // plain keys: runs no Python code
        present += value != nullptr ? 1 : 0;
        originals_[j].set(Ref::borrow(value));
    }
    broken_ = closed && present != PyDict_GET_SIZE(dict) ? kLost : 0;
    return broken_ == 0;
}

void Watched::on_change(PyDict_WatchEvent event, PyObject* key, PyObject* value) noexcept
{
    if (event == PyDict_EVENT_CLEARED || event == PyDict_EVENT_CLONED ||
        event == PyDict_EVENT_DEALLOCATED || Py_TYPE(key) != key_type_) {
        lose_track();
        return;
    }
    // The change lands after this returns: it is pending until the dict shows it.
    Ref address = Ref::steal(PyLong_FromVoidPtr(value));
    if (!address || PyDict_SetItem(pending_.get(), key, address.get()) < 0) {
        PyErr_Clear();
        lose_track();
        return;
    }
    broken_ |= kUnsettled;
    if (mirror_ != nullptr && !mirror_->put(key, value)) {
        lose_track();
    }
    for (size_t j = 0; j < count_; ++j) {
        if (names_[j].get() == key || PyUnicode_Compare(names_[j].get(), key) == 0) {
            const uint32_t bit = 1u << j;
            broken_ = value == originals_[j].get() ? broken_ & ~bit : broken_ | bit;
            return;
        }
    }
    if (closed_) {
        lose_track();
    }
}

bool Watched::settle() noexcept
{
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* address;
    while (PyDict_Next(pending_.get(), &pos, &key, &address)) {
        // The keys are all of the key type: the lookup runs no Python code.
        if (PyDict_GetItemWithError(dict_.get(), key) != PyLong_AsVoidPtr(address)) {
            return false;
        }
    }
    PyDict_Clear(pending_.get());
    broken_ &= ~kUnsettled;
    return true;
}

}  // namespace tintara
