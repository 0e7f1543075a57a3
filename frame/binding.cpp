// Binding arguments to parameters with the interpreter's messages.
#include "frame/binding.hpp"

#include "frame/function.hpp"
#include "frame/runtime.hpp"

namespace tintara {

namespace {

// ---------------------------------------------------------------------------
// Errors of binding.  Cold and out of line: the hot path only tests.

[[gnu::cold]] void raise_positional_count(const FunctionDef& def, const char* quantity,
                                          Py_ssize_t expected, Py_ssize_t given)
{
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 def.name, quantity, expected, expected == 1 ? "" : "s", given);
}

[[gnu::cold]] void raise_keyword_error(const FunctionDef& def, const char* what, PyObject* key)
{
    PyErr_Format(PyExc_TypeError, "%s() %s '%U'", def.name, what, key);
}

// A method called through its class with an object of another type.
[[gnu::cold]] void raise_not_instance(const Function& f, PyTypeObject* type, PyObject* obj)
{
    Ref expected = Ref::steal(PyType_GetName(type));
    Ref got = expected ? Ref::steal(PyType_GetName(Py_TYPE(obj))) : Ref();
    if (got) {
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%s' for '%U' objects doesn't apply to a '%U' object", f.def->name,
                     expected.get(), got.get());
    }
}

// Which parameter does a keyword name?  Identity first, then equality;
// positional-only parameters are not looked at.  Returns the index, -1 for
// none, -2 with an exception.
inline Py_ssize_t find_keyword(const Function& f, Py_ssize_t nparams, PyObject* key)
{
    const FunctionRuntime& rt = *f.runtime;
    const Py_ssize_t first = f.def->impl.signature.positional_only();
    for (Py_ssize_t j = first; j < nparams; ++j) {
        if (rt.names[j].get() == key) {
            return j;
        }
    }
    for (Py_ssize_t j = first; j < nparams; ++j) {
        int cmp = PyUnicode_Compare(rt.names[j].get(), key);
        if (cmp == 0) {
            return j;
        }
        if (cmp == -1 && PyErr_Occurred()) {
            return -2;
        }
    }
    return -1;
}

// Positional-only parameters named by keywords: raises the interpreter's
// TypeError listing them and returns -1; 0 when there are none.
[[gnu::cold]] int raise_positional_only(const Function& f, PyObject* kwnames)
{
    const FunctionDef& def = *f.def;
    Ref names = Ref::steal(PyList_New(0));
    if (!names) {
        return -1;
    }
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        for (Py_ssize_t j = 0; j < def.impl.signature.positional_only(); ++j) {
            const int cmp = PyUnicode_Compare(f.runtime->names[j].get(), key);
            if (cmp == -1 && PyErr_Occurred()) {
                return -1;
            }
            if (cmp == 0) {
                if (PyList_Append(names.get(), key) < 0) {
                    return -1;
                }
                break;
            }
        }
    }
    if (PyList_GET_SIZE(names.get()) == 0) {
        return 0;
    }
    Ref comma = Ref::steal(PyUnicode_FromString(", "));
    Ref joined = comma ? Ref::steal(PyUnicode_Join(comma.get(), names.get())) : Ref();
    if (joined) {
        PyErr_Format(PyExc_TypeError,
                     "%.200s() got some positional-only arguments passed as keyword arguments: "
                     "'%U'",
                     def.name, joined.get());
    }
    return -1;
}

// Binds args to the parameters.  bound[] receives borrowed values; owned[]
// keeps the ones made here alive.  0 or -1.
int bind_arguments(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** bound, Ref* owned)
{
    const FunctionDef& def = *f.def;
    const FunctionRuntime& rt = *f.runtime;
    const Signature& sig = def.impl.signature;
    const Py_ssize_t nparams = sig.size();

    // 1. Too many positional arguments.
    if (nargs > rt.npositional) {
        raise_positional_count(def, rt.ndefaults ? "at most" : "exactly", rt.npositional, nargs);
        return -1;
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        bound[j] = j < nargs ? args[j] : nullptr;
    }

    // 2. Keywords.
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", def.name);
            return -1;
        }
        Py_ssize_t j = find_keyword(f, nparams, key);
        if (j == -2) {
            return -1;
        }
        if (j == -1) {
            if (raise_positional_only(f, kwnames) == 0) {
                raise_keyword_error(def, "got an unexpected keyword argument", key);
            }
            return -1;
        }
        if (bound[j] != nullptr) {
            raise_keyword_error(def, "got multiple values for keyword argument", key);
            return -1;
        }
        bound[j] = args[nargs + k];
    }

    // 3. and 4. Missing arguments and defaults.
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (bound[j] != nullptr) {
            continue;
        }
        if (rt.defaults[j]) {
            bound[j] = rt.defaults[j].get();
        } else if (!sig[static_cast<int>(j)].keyword_only) {
            raise_positional_count(def, rt.ndefaults ? "at least" : "exactly",
                                   rt.npositional - rt.ndefaults, nargs);
            return -1;
        }
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (bound[j] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() needs keyword-only argument %U", def.name,
                         rt.names[j].get());
            return -1;
        }
    }

    // 5. Truth values.
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (def.impl.kinds[static_cast<size_t>(j)].kind != Kind::Truth) {
            continue;
        }
        PyObject* v = bound[j];
        if (v != Py_True && v != Py_False) {
            int t = v == Py_None ? 0 : PyObject_IsTrue(v);
            if (t < 0) {
                return -1;
            }
            bound[j] = t ? Py_True : Py_False;
        }
    }

    // 6. Enforced and coerced types, in parameter order.
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        const ParamKind& k = def.impl.kinds[static_cast<size_t>(j)];
        const char* name = PyUnicode_AsUTF8(rt.names[j].get());
        if (k.kind == Kind::ExactStr && !PyUnicode_CheckExact(bound[j])) {
            raise_incorrect_type(name, &PyUnicode_Type, bound[j]);
            return -1;
        }
        if (k.kind == Kind::Self && !Py_IS_TYPE(bound[j], k.type())) {
            raise_not_instance(f, k.type(), bound[j]);
            return -1;
        }
        if (k.kind == Kind::Int && !PyLong_CheckExact(bound[j])) {
            owned[j] = coerce_int(bound[j], name);
            if (!owned[j]) {
                return -1;
            }
            bound[j] = owned[j].get();
        }
    }
    return 0;
}

[[gnu::cold]] void raise_no_parameters(const FunctionDef& def, Py_ssize_t nargs, PyObject* kwnames)
{
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", def.name, "takes no keyword arguments");
    } else {
        PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", def.name, "takes no arguments",
                     nargs);
    }
}

// The common keyword call, bound exactly as bind_arguments() would: every
// parameter takes any object, and each keyword is one of the interned
// parameter names itself.  False, having run no code, for anything else.
bool bind_quickly(const Function& f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  PyObject** bound) noexcept
{
    const FunctionRuntime& rt = *f.runtime;
    const Py_ssize_t nparams = f.def->impl.signature.size();
    if (!rt.all_any || nargs > rt.npositional) {
        return false;
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        bound[j] = j < nargs ? args[j] : nullptr;
    }
    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t j = f.def->impl.signature.positional_only();
        while (j < nparams && rt.names[j].get() != key) {
            ++j;
        }
        if (j == nparams || bound[j] != nullptr) {
            return false;
        }
        bound[j] = args[nargs + k];
    }
    for (Py_ssize_t j = 0; j < nparams; ++j) {
        if (bound[j] == nullptr) {
            if (!rt.defaults[j]) {
                return false;
            }
            bound[j] = rt.defaults[j].get();
        }
    }
    return true;
}

// Functions of a few parameters (most of them) bind into arrays of
// kFewParams, and do not pay for the room a long parameter list needs.
constexpr int kFewParams = 4;

template <int N>
Ref bind_and_run(Function& self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    PyObject* bound[N];
    if (bind_quickly(self, args, nargs, kwnames, bound)) {
        return self.def->impl.call(self, bound);
    }
    Ref owned[N];
    if (bind_arguments(self, args, nargs, kwnames, bound, owned) < 0) {
        return {};
    }
    return self.def->impl.call(self, bound);
}

}  // namespace

PyObject* bind_and_call(PyObject* callable, PyObject* const* args, size_t nargsf,
                        PyObject* kwnames) noexcept
{
    Function& self = *reinterpret_cast<Function*>(callable);
    const FunctionDef& def = *self.def;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    const int nparams = def.impl.signature.size();
    Ref result;
    if (nparams == 0) {
        if (nargs == 0 && (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0)) {
            result = def.impl.call(self, args);
        } else {
            raise_no_parameters(def, nargs, kwnames);
        }
    } else if (nparams <= kFewParams) {
        result = bind_and_run<kFewParams>(self, args, nargs, kwnames);
    } else {
        result = bind_and_run<kMaxParams>(self, args, nargs, kwnames);
    }
    if (!result) {
        add_traceback(self);
    }
    assert(!result || !PyErr_Occurred());
    return result.release();
}

}  // namespace tintara
