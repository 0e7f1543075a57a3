// Heap types whose methods are functions of the frame.
#include "frame/type.hpp"

#include <cstring>
#include <utility>

namespace tintara {

Ref make_type(Module& m, PyType_Spec& spec, std::span<const Method> methods)
{
    Ref type = Ref::steal(PyType_FromModuleAndSpec(m.state.module.get(), &spec, nullptr));
    if (!type) {
        return type;
    }
    // The type may be immutable: its namespace is filled in directly, as
    // while it is being made, and the type told afterwards.
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    for (const Method& method : methods) {
        Ref fn = make_function(m.state, *method.def, nullptr);
        Ref plain = fn.dup();
        if (fn && method.bound == Bound::Class) {
            fn = Ref::steal(PyClassMethod_New(plain.get()));
        } else if (fn && method.bound == Bound::Static) {
            fn = Ref::steal(PyStaticMethod_New(plain.get()));
        }
        if (!fn || PyDict_SetItemString(tp->tp_dict, method.def->name, fn.get()) < 0) {
            return {};
        }
        if (method.keep != nullptr) {
            method.keep->set(std::move(plain));
        }
    }
    PyType_Modified(tp);
    return type;
}

PyObject* construct(PyObject* fn, PyObject* cls, PyObject* args, PyObject* kwargs) noexcept
{
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    Ref all = Ref::steal(PyTuple_New(n + 1));
    if (!all) {
        return nullptr;
    }
    PyTuple_SET_ITEM(all.get(), 0, Ref::borrow(cls).release());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyTuple_SET_ITEM(all.get(), i + 1, Ref::borrow(PyTuple_GET_ITEM(args, i)).release());
    }
    return PyObject_Call(fn, all.get(), kwargs);
}

PyObject* construct_vectorcall(PyObject* fn, PyObject* cls, PyObject* const* args, size_t nargsf,
                               PyObject* kwnames) noexcept
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const Py_ssize_t total = nargs + (kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0);
    // The slot in front of args is ours to use while the call lasts.
    if ((nargsf & PY_VECTORCALL_ARGUMENTS_OFFSET) != 0) {
        auto** front = const_cast<PyObject**>(args) - 1;
        PyObject* saved = *front;
        *front = cls;
        PyObject* result = PyObject_Vectorcall(fn, front, static_cast<size_t>(nargs + 1), kwnames);
        *front = saved;
        return result;
    }
    constexpr Py_ssize_t kOnStack = 16;
    PyObject* stack[kOnStack];
    PyObject** all = stack;
    if (total + 1 > kOnStack) {
        all = static_cast<PyObject**>(
            PyMem_Malloc(static_cast<size_t>(total + 1) * sizeof(PyObject*)));
        if (all == nullptr) {
            PyErr_NoMemory();
            return nullptr;
        }
    }
    all[0] = cls;
    if (total != 0) {
        std::memcpy(all + 1, args, static_cast<size_t>(total) * sizeof(PyObject*));
    }
    PyObject* result = PyObject_Vectorcall(fn, all, static_cast<size_t>(nargs + 1), kwnames);
    if (all != stack) {
        PyMem_Free(all);
    }
    return result;
}

}  // namespace tintara
