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

}  // namespace tintara
