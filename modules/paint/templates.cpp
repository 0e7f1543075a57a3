// Template strings as text.
//
// The module never imports string.templatelib: the types are recognised by
// name the first time one is seen (builtin types, which cannot be
// subclassed), and their fields are read through the members they declare.
#include "modules/paint/templates.hpp"

#include "modules/paint/parse.hpp"
#include "modules/paint/style.hpp"
#include "modules/paint/styled.hpp"

#include <cstring>
#include <utility>

namespace tintara::paint {

namespace {

// A field of one of the two types: its member, or failing that its name.
struct Field {
    const char* name;
    PyMemberDef* member = nullptr;

    Ref read(PyObject* obj) const
    {
        if (member != nullptr) {
            return Ref::steal(PyMember_GetOne(reinterpret_cast<const char*>(obj), member));
        }
        return Ref::steal(PyObject_GetAttrString(obj, name));
    }
};

struct Layout {
    PyTypeObject* type = nullptr;
    const char* full_name;
    Field fields[3];

    // Whether type is this one, recognised by name the first time.
    bool is(PyTypeObject* t)
    {
        if (type != nullptr || PyType_HasFeature(t, Py_TPFLAGS_HEAPTYPE) ||
            std::strcmp(t->tp_name, full_name) != 0) {
            return t == type;
        }
        auto* def = static_cast<PyMemberDef*>(PyType_GetSlot(t, Py_tp_members));
        for (; def != nullptr && def->name != nullptr; ++def) {
            for (Field& f : fields) {
                if (f.name != nullptr && std::strcmp(def->name, f.name) == 0 &&
                    def->type == Py_T_OBJECT_EX) {
                    f.member = def;
                }
            }
        }
        PyErr_Clear();  // PyType_GetSlot raises only for a slot it does not know
        type = t;
        return true;
    }
};

Layout templates{nullptr, "string.templatelib.Template", {{"strings"}, {"interpolations"}}};
Layout interpolations{
    nullptr, "string.templatelib.Interpolation", {{"value"}, {"conversion"}, {"format_spec"}}};

// The pieces of a result, joined once.  A full set is joined into one
// piece, so any number fit.
class Pieces {
public:
    int add(Ref s)
    {
        if (!s) {
            return -1;
        }
        if (PyUnicode_GET_LENGTH(s.get()) == 0) {
            return 0;
        }
        if (count_ == kMax) {
            Ref all = join();
            if (!all) {
                return -1;
            }
            items_[count_++] = std::move(all);
        }
        items_[count_++] = std::move(s);
        return 0;
    }
    Ref join()
    {
        const int n = std::exchange(count_, 0);
        return joined({items_, static_cast<size_t>(n)});
    }

private:
    static constexpr int kMax = 16;
    Ref items_[kMax];
    int count_ = 0;
};

// An interpolation's value as an f-string converts it with an empty format
// spec (after !r, !s or !a), made safe; an interpolated template without a
// conversion, rendered.
Ref value_text(PyObject* value, PyObject* conversion, int level)
{
    if (conversion == Py_None && is_template(value)) {
        if (Py_EnterRecursiveCall("") != 0) {
            return {};
        }
        Ref s = template_text(value, level);
        Py_LeaveRecursiveCall();
        return s;
    }
    Ref v = Ref::borrow(value);
    if (conversion != Py_None) {
        switch (PyUnicode_READ_CHAR(conversion, 0)) {
            case 'r':
                v = Ref::steal(PyObject_Repr(value));
                break;
            case 's':
                v = Ref::steal(PyObject_Str(value));
                break;
            default:
                v = Ref::steal(PyObject_ASCII(value));
                break;
        }
    }
    if (v && !PyUnicode_CheckExact(v.get())) {
        v = Ref::steal(PyObject_Format(v.get(), str<"">));
    }
    return v ? sanitized(v.get()) : Ref();
}

// One interpolation, into out.  0 or -1.
int interpolation_text(PyObject* item, int level, Pieces& out)
{
    if (!interpolations.is(Py_TYPE(item))) {
        PyErr_BadInternalCall();  // a Template holds nothing else
        return -1;
    }
    const Field* f = interpolations.fields;
    Ref value = f[0].read(item);
    Ref conversion = value ? f[1].read(item) : Ref();
    Ref s = conversion ? value_text(value.get(), conversion.get(), level) : Ref();
    Ref spec = s ? f[2].read(item) : Ref();
    if (!spec) {
        return -1;
    }
    if (PyUnicode_Check(spec.get()) && PyUnicode_GET_LENGTH(spec.get()) == 0) {
        return out.add(std::move(s));
    }
    Ref style = to_style(spec.get());
    if (!style || (level != 0 && make_codes(as_style(style.get()), level) < 0)) {
        return -1;
    }
    if (level == 0 || PyUnicode_GET_LENGTH(s.get()) == 0) {
        return out.add(std::move(s));
    }
    const StyleData& d = as_style(style.get()).d;
    if (!plain(s.get())) {
        return out.add(styled(s.get(), paint_at(as_style(style.get()), level)));
    }
    return out.add(d.prefix[level].dup()) < 0 || out.add(std::move(s)) < 0
               ? -1
               : out.add(d.suffix[level].dup());
}

}  // namespace

bool is_template(PyObject* obj)
{
    return templates.is(Py_TYPE(obj));
}

Ref template_text(PyObject* tmpl, int level)
{
    Ref strings = templates.fields[0].read(tmpl);
    Ref items = strings ? templates.fields[1].read(tmpl) : Ref();
    // A Template holds a tuple of strs, one more than its interpolations.
    PyObject* s = strings.get();
    PyObject* v = items.get();
    bool ok = items && PyTuple_Check(s) && PyTuple_Check(v) &&
              PyTuple_GET_SIZE(s) == PyTuple_GET_SIZE(v) + 1;
    if (items && !ok) {
        PyErr_BadInternalCall();
    }
    Pieces out;
    for (Py_ssize_t k = 0; ok && k < PyTuple_GET_SIZE(s); ++k) {
        ok = (k == 0 || interpolation_text(PyTuple_GET_ITEM(v, k - 1), level, out) == 0) &&
             out.add(Ref::borrow(PyTuple_GET_ITEM(s, k))) == 0;
    }
    return ok ? out.join() : Ref();
}

}  // namespace tintara::paint
