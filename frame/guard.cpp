// The package's dict watcher and the guards it turns off.
#include "frame/guard.hpp"

#include <new>

namespace tintara {

namespace {

// The interpreter's one tintara dict watcher and the guards that rely on it,
// shared by every tintara module through the interpreter's state dict: each
// module's shared library has its own copy of this code, the first to ask
// makes the hub, the others find it.
struct Hub {
    static constexpr int kMaxGuards = 16;
    int watcher = -1;
    int count = 0;
    Guard* guards[kMaxGuards] = {};
};

constexpr const char* kHubName = "tintara.guard.hub.1";

// The current interpreter's hub, or null (none yet, unless make).
Hub* find_hub(bool make) noexcept
{
    PyObject* interp = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (interp == nullptr) {
        return nullptr;
    }
    PyObject* found = nullptr;
    if (PyDict_GetItemStringRef(interp, kHubName, &found) < 0) {
        PyErr_Clear();
        return nullptr;
    }
    if (found != nullptr || !make) {
        Ref capsule = Ref::steal(found);
        return capsule ? static_cast<Hub*>(PyCapsule_GetPointer(capsule.get(), kHubName)) : nullptr;
    }
    void* memory = PyMem_RawCalloc(1, sizeof(Hub));
    if (memory == nullptr) {
        return nullptr;
    }
    auto* hub = new (memory) Hub;
    Ref capsule = Ref::steal(PyCapsule_New(hub, kHubName, nullptr));
    if (!capsule || PyDict_SetItemString(interp, kHubName, capsule.get()) < 0) {
        PyErr_Clear();
        PyMem_RawFree(hub);
        return nullptr;
    }
    return hub;
}

// Reported before the change lands.  Every guard that follows dict is off
// from here on (one not armed yet too: its module's body is still running),
// so no guard relies on dict any more, and it is no longer watched.
int on_event(PyDict_WatchEvent, PyObject* dict, PyObject*, PyObject*) noexcept
{
    // A dict may change while an exception is being raised.
    PyObject* raised = PyErr_GetRaisedException();
    if (Hub* hub = find_hub(false); hub != nullptr) {
        for (int i = 0; i < hub->count; ++i) {
            if (hub->guards[i]->follows(dict)) {
                hub->guards[i]->trip();
            }
        }
        PyDict_Unwatch(hub->watcher, dict);
    }
    PyErr_Clear();
    PyErr_SetRaisedException(raised);
    return 0;
}

}  // namespace

bool Guard::follows(PyObject* dict) const noexcept
{
    for (int i = 0; i < count_; ++i) {
        if (dicts_[i].get() == dict) {
            return true;
        }
    }
    return false;
}

void Guard::reset() noexcept
{
    for (int i = 0; i < count_; ++i) {
        dicts_[i].set({});
    }
    count_ = 0;
    holds_ = changed_ = false;
}

void Guard::follow(PyObject* dict) noexcept
{
    Hub* hub = find_hub(true);
    if (hub != nullptr && hub->watcher < 0) {
        hub->watcher = PyDict_AddWatcher(on_event);  // -1: none left, no shortcuts here
    }
    int i = 0;
    while (hub != nullptr && i < hub->count && hub->guards[i] != this) {
        ++i;
    }
    if (hub == nullptr || hub->watcher < 0 || i == Hub::kMaxGuards || count_ == kMaxDicts ||
        dict == nullptr || !PyDict_CheckExact(dict) || PyDict_Watch(hub->watcher, dict) < 0) {
        PyErr_Clear();
        trip();
        return;
    }
    hub->guards[i] = this;
    hub->count += i == hub->count ? 1 : 0;
    dicts_[count_++].set(Ref::borrow(dict));
}

bool Guard::arm(std::initializer_list<PyObject*> dicts) noexcept
{
    for (PyObject* dict : dicts) {
        follow(dict);
    }
    for (int i = 0; i < count_ && !changed_; ++i) {
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(dicts_[i].get(), &pos, &key, &value)) {
            changed_ = changed_ || !PyUnicode_CheckExact(key);
        }
    }
    holds_ = !changed_;
    return holds_;
}

}  // namespace tintara
