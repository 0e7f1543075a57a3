// Module creation: the definition, its create and exec slots, and the
// operations a module body is written in.
#include "frame/module.hpp"

#include "frame/constants.hpp"
#include "frame/function.hpp"
#include "frame/runtime.hpp"

namespace tintara {

// ---------------------------------------------------------------------------
// The definition.  One module per shared library, so one of each.

namespace {

const ModuleSpec* g_spec = nullptr;
ModuleState* g_state = nullptr;

// Copies spec.<from> into the module namespace as <to>.  A missing
// attribute is skipped; None is skipped unless keep_none.
int copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to, bool keep_none)
{
    PyObject* value = nullptr;
    int found = PyObject_GetOptionalAttrString(spec, from, &value);
    if (found <= 0) {
        return found;
    }
    Ref owned = Ref::steal(value);
    if (value == Py_None && !keep_none) {
        return 0;
    }
    return PyDict_SetItemString(dict, to, value);
}

Ref new_module(PyObject* spec)
{
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    Ref module = name ? Ref::steal(PyModule_NewObject(name.get())) : Ref();
    if (!module) {
        return {};
    }
    PyObject* dict = PyModule_GetDict(module.get());
    if (copy_spec_attr(spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attr(spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attr(spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", false) < 0) {
        return {};
    }
    return module;
}

// The interpreter is claimed when the module is created, and given up again
// when its import fails: an import that failed in one interpreter does not
// keep another from importing the module.
PyObject* create(PyObject* spec, PyModuleDef*) noexcept
{
    ModuleState& st = *g_state;
    int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return nullptr;
    }
    if (st.interpreter == -1) {
        st.interpreter = id;
    } else if (st.interpreter != id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (st.module) {
        return st.module.ref().release();
    }
    Ref module = new_module(spec);
    if (!module) {
        st.interpreter = -1;  // nothing was made here: the claim goes with it
    }
    return module.release();
}

int run_exec(ModuleState& st, const ModuleSpec& spec, PyObject* module)
{
    st.module.set(Ref::borrow(module));
    st.dict.set(Ref::borrow(PyModule_GetDict(module)));
    if (st.builtins.set(Ref::steal(PyImport_ImportModule("builtins"))) == nullptr) {
        return -1;
    }
    st.builtins_dict = PyModule_GetDict(st.builtins.get());
    if (PyObject_SetAttrString(module, "__builtins__", st.builtins.get()) < 0) {
        return -1;
    }

    const int major = static_cast<int>((Py_Version >> 24) & 0xff);
    const int minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (major != PY_MAJOR_VERSION || minor != PY_MINOR_VERSION) {
        if (PyErr_WarnFormat(nullptr, 1,
                             "compile time Python version %d.%d of module '%.100s' %s runtime "
                             "version %d.%d",
                             PY_MAJOR_VERSION, PY_MINOR_VERSION, spec.full_name, "does not match",
                             major, minor) < 0) {
            return -1;
        }
    }

    if (make_constants() < 0) {
        return -1;
    }

    PyObject* modules = PyImport_GetModuleDict();
    Ref full_name = Ref::steal(PyUnicode_InternFromString(spec.full_name));
    if (!full_name) {
        return -1;
    }
    int present = PyDict_Contains(modules, full_name.get());
    if (present < 0 || (present == 0 && PyDict_SetItem(modules, full_name.get(), module) < 0)) {
        return -1;
    }

    for (const char* name : spec.builtins) {
        PyObject* found = nullptr;
        int r = PyDict_GetItemStringRef(st.builtins_dict, name, &found);
        Ref owned = Ref::steal(found);
        if (r <= 0) {
            if (r == 0) {
                PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
            }
            return -1;
        }
    }

    if (function_type() == nullptr) {
        return -1;
    }
    st.guard.reset();
    Module m{st};
    if (spec.body(m) < 0 || m.set(str<"__test__">, Ref::steal(PyDict_New())) < 0) {
        return -1;
    }
    if (spec.shortcuts != nullptr) {
        spec.shortcuts(st);
    }
    return 0;
}

int exec(PyObject* module) noexcept
{
    ModuleState& st = *g_state;
    if (st.module) {
        if (st.module.get() == module) {
            return 0;
        }
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     st.short_name);
        return -1;
    }
    if (run_exec(st, *g_spec, module) == 0) {
        return 0;
    }
    // Nothing stays half-registered: the next import starts afresh.
    Ref name = Ref::steal(PyUnicode_FromFormat("init %s", st.full_name));
    if (name) {
        add_traceback_named(st, PyUnicode_AsUTF8(name.get()), 1);
    }
    // Functions the failed body made may still be reachable: they keep
    // reading its namespace (held until the next import replaces it).
    st.module.set({});
    st.interpreter = -1;
    return -1;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(&create)},
    {Py_mod_exec, reinterpret_cast<void*>(&exec)},
    {0, nullptr},
};

PyModuleDef g_def = {
    PyModuleDef_HEAD_INIT,
    nullptr,  // m_name
    nullptr,  // m_doc
    0,        // m_size
    nullptr,  // m_methods
    g_slots,  // m_slots
    nullptr,  // m_traverse
    nullptr,  // m_clear
    nullptr,  // m_free
};

}  // namespace

PyObject* module_init(const ModuleSpec& spec, ModuleState& state) noexcept
{
    g_spec = &spec;
    g_state = &state;
    state.short_name = spec.short_name;
    state.full_name = spec.full_name;
    state.file_name = spec.file_name;
    g_def.m_name = spec.short_name;
    g_def.m_doc = spec.doc;
    return PyModuleDef_Init(&g_def);
}

// ---------------------------------------------------------------------------
// The module body's operations.

int Module::set(PyObject* name, Ref value)
{
    if (!value) {
        return -1;
    }
    return PyDict_SetItem(state.dict.get(), name, value.get());
}

Ref Module::get(PyObject* name) const
{
    return global(state, name);
}

int Module::import(PyObject* name)
{
    return set(name, import_module(name, state.dict.get()));
}

int Module::from_import(PyObject* module, std::span<PyObject* const> names)
{
    Ref fromlist = tuple_of(names);
    Ref mod = fromlist ? Ref::steal(PyImport_ImportModuleLevelObject(module, state.dict.get(),
                                                                     nullptr, fromlist.get(), 0))
                       : Ref();
    if (!mod) {
        return -1;
    }
    for (PyObject* name : names) {
        if (set(name, import_from(mod.get(), name)) < 0) {
            return -1;
        }
    }
    return 0;
}

int Module::def(const FunctionDef& def)
{
    Ref fn = make_function(state, def, nullptr);
    if (!fn) {
        return -1;
    }
    PyObject* name = reinterpret_cast<Function*>(fn.get())->name;  // def.name, as made
    return PyDict_SetItem(state.dict.get(), name, fn.get());
}

}  // namespace tintara
