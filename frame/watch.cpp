#include "frame/watch.hpp"

namespace tintara {

int Watch::on_change(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) noexcept
{
    ++generation_;
    return 0;
}

bool Watch::watch(PyObject* dict) noexcept
{
    if (id_ == -2) {
        id_ = PyDict_AddWatcher(on_change);
        if (id_ < 0) {
            PyErr_Clear();
            id_ = -1;
        }
    }
    if (id_ < 0 || !PyDict_CheckExact(dict)) {
        return false;
    }
    if (PyDict_Watch(id_, dict) < 0) {
        PyErr_Clear();
        return false;
    }
    return true;
}

bool Memo::reset() noexcept
{
    if (dict_ != nullptr) {
        PyDict_Clear(dict_);
        return true;
    }
    dict_ = PyDict_New();
    if (dict_ == nullptr) {
        PyErr_Clear();
        return false;
    }
    return true;
}

PyObject* Memo::find(PyObject* key) const noexcept
{
    PyObject* result = nullptr;
    if (dict_ != nullptr && PyUnicode_CheckExact(key) &&
        PyDict_GetItemRef(dict_, key, &result) < 0) {
        PyErr_Clear();
    }
    return result;
}

void Memo::keep(PyObject* key, PyObject* result, uint64_t generation) noexcept
{
    if (dict_ == nullptr || Watch::generation() != generation || !PyUnicode_CheckExact(key) ||
        PyDict_GET_SIZE(dict_) >= kMaxEntries) {
        return;
    }
    if (PyDict_SetItem(dict_, key, result) < 0) {
        PyErr_Clear();
    }
}

Ref peek(PyObject* dict, PyObject* key) noexcept
{
    PyObject* value = nullptr;
    if (PyDict_GetItemRef(dict, key, &value) < 0) {
        PyErr_Clear();
    }
    return Ref::steal(value);
}

bool plain_table(PyObject* table, bool (*value_ok)(PyObject*)) noexcept
{
    if (table == nullptr || !PyDict_CheckExact(table)) {
        return false;
    }
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(table, &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key) || !value_ok(value)) {
            return false;
        }
    }
    return true;
}

}  // namespace tintara
