// Style: made from checked arguments and the current STYLES, its codes per
// level, and the type's slots and methods.
#include "modules/paint/style.hpp"

#include "modules/paint/messages.hpp"
#include "modules/paint/parse.hpp"
#include "modules/paint/pen.hpp"
#include "modules/paint/state.hpp"
#include "modules/paint/styled.hpp"

#include "frame/type.hpp"

#include <new>
#include <utility>

namespace tintara::paint {

PyTypeObject* StyleObject::type() noexcept
{
    return reinterpret_cast<PyTypeObject*>(g.style_type.get());
}

namespace {

Ref new_style_object()
{
    PyTypeObject* type = StyleObject::type();
    Ref obj = Ref::steal(type->tp_alloc(type, 0));
    if (obj) {
        new (&as_style(obj.get()).d) StyleData;
    }
    return obj;
}

// The off codes a style's SGRs can undo it with, worked out from its
// attribute codes and colours.
int make_offs(StyleData& d)
{
    auto add = [&d](PyObject* code) {
        Ref text = Ref::steal(PyObject_Str(code));
        Py_ssize_t len = 0;
        const char* data = text ? PyUnicode_AsUTF8AndSize(text.get(), &len) : nullptr;
        if (data == nullptr) {
            return -1;
        }
        d.offs[d.noffs] = std::string_view(data, static_cast<size_t>(len));
        d.off_text[d.noffs++] = std::move(text);
        return 0;
    };
    for (int i = 0; i < d.ncodes; ++i) {
        if (add(d.codes[i].off.get()) < 0) {
            return -1;
        }
    }
    if ((d.colors[0].kind != ColorKind::None && add(integer<39>) < 0) ||
        (d.colors[1].kind != ColorKind::None && add(integer<49>) < 0)) {
        return -1;
    }
    return 0;
}

// For each attribute, its place among the attribute names of STYLES (10:
// not found), read by iterating the table as `for key in table` does.
class Ranks {
public:
    // 0 or -1.
    int read(PyObject* table)
    {
        for (Py_ssize_t& r : rank_) {
            r = -1;
        }
        if (PyDict_CheckExact(table) && read_plain(table)) {
            return 0;
        }
        return read_generic(table);
    }
    // The rank of attribute i: 0 or -1.
    int get(int i, Py_ssize_t& out) const
    {
        if (!dict_) {
            out = rank_[i] >= 0 ? rank_[i] : kNumAttributes;
            return 0;
        }
        PyObject* value = nullptr;
        const int found = PyDict_GetItemRef(dict_.get(), s_attribute[i], &value);
        Ref owned = Ref::steal(value);
        if (found < 0) {
            return -1;
        }
        out = found != 0 ? PyLong_AsSsize_t(value) : kNumAttributes;
        return 0;
    }

private:
    // A plain dict whose keys are all exact strs: nothing it does runs code.
    bool read_plain(PyObject* table)
    {
        Py_ssize_t pos = 0;
        PyObject* key;
        PyObject* value;
        Py_ssize_t count = 0;
        while (PyDict_Next(table, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) {
                return false;
            }
            const int i = core::attribute_name(ascii_view(key));
            if (i >= 0 && rank_[i] < 0) {
                rank_[i] = count++;
            }
        }
        return true;
    }
    int read_generic(PyObject* table)
    {
        for (Py_ssize_t& r : rank_) {
            r = -1;
        }
        dict_ = Ref::steal(PyDict_New());
        Ref it = dict_ ? Ref::steal(PyObject_GetIter(table)) : Ref();
        if (!it) {
            return -1;
        }
        while (Ref key = Ref::steal(PyIter_Next(it.get()))) {
            int t = PyDict_Contains(g.attribute_index.get(), key.get());
            if (t > 0) {
                t = PyDict_Contains(dict_.get(), key.get());
                if (t == 0) {
                    Ref n = Ref::steal(PyLong_FromSsize_t(PyDict_GET_SIZE(dict_.get())));
                    t = n ? PyDict_SetItem(dict_.get(), key.get(), n.get()) : -1;
                }
            }
            if (t < 0) {
                return -1;
            }
        }
        return PyErr_Occurred() ? -1 : 0;
    }

    Py_ssize_t rank_[kNumAttributes];
    Ref dict_;
};

// An entry of STYLES: (on, off), two ints in a tuple or list.
int entry_codes(PyObject* entry, Ref& on, Ref& off)
{
    int ok = 0;
    if (PyTuple_Check(entry) || PyList_Check(entry)) {
        const bool exact = PyTuple_CheckExact(entry) || PyList_CheckExact(entry);
        const Py_ssize_t size = exact ? PySequence_Fast_GET_SIZE(entry) : PyObject_Size(entry);
        if (size < 0) {
            return -1;
        }
        if (size == 2 && exact) {
            PyObject** items = PySequence_Fast_ITEMS(entry);
            ok = PyLong_Check(items[0]) && !PyBool_Check(items[0]) && PyLong_Check(items[1]) &&
                 !PyBool_Check(items[1]);
        } else if (size == 2) {
            Ref it = Ref::steal(PyObject_GetIter(entry));
            if (!it) {
                return -1;
            }
            ok = 1;
            while (ok) {
                Ref item = Ref::steal(PyIter_Next(it.get()));
                if (!item) {
                    break;
                }
                ok = PyLong_Check(item.get()) && !PyBool_Check(item.get());
            }
            if (PyErr_Occurred()) {
                return -1;
            }
        }
    }
    if (!ok) {
        raise_repr(PyExc_TypeError, text::kPairType, entry);
        return -1;
    }
    Ref items[2];
    if (unpack(entry, items, 2) < 0) {
        return -1;
    }
    for (const Ref& item : items) {
        if (!PyLong_Check(item.get())) {
            raise_repr(PyExc_TypeError, text::kPairType, entry);
            return -1;
        }
    }
    on = exact_int(items[0].get());
    off = exact_int(items[1].get());
    return on && off ? 0 : -1;
}

void sort_codes(StyleData& d)
{
    for (int k = 1; k < d.ncodes; ++k) {
        AttributeCode c = std::move(d.codes[k]);
        int j = k;
        for (; j > 0; --j) {
            const AttributeCode& p = d.codes[j - 1];
            if (p.rank < c.rank || (p.rank == c.rank && p.index < c.index)) {
                break;
            }
            d.codes[j] = std::move(d.codes[j - 1]);
        }
        d.codes[j] = std::move(c);
    }
}

// The codes the current STYLES gives the set attributes, in STYLES order.
int attribute_codes(StyleData& d, Attributes values)
{
    Ref styles = global(g.frame, str<"_styles">);
    Ref table = styles ? attr(styles.get(), str<"STYLES">) : Ref();
    Ranks ranks;
    if (!table || ranks.read(table.get()) < 0) {
        return -1;
    }
    for (int i = 0; i < kNumAttributes; ++i) {
        if (values[i] == Py_None) {
            continue;
        }
        PyObject* name = s_attribute[i];
        const int known = PySequence_Contains(table.get(), name);
        if (known <= 0) {
            if (known == 0) {
                raise_repr(PyExc_ValueError, text::kUnknownStyle, name);
            }
            return -1;
        }
        Ref entry = Ref::steal(PyObject_GetItem(table.get(), name));
        AttributeCode& c = d.codes[d.ncodes];
        if (!entry || entry_codes(entry.get(), c.on, c.off) < 0 || ranks.get(i, c.rank) < 0) {
            return -1;
        }
        c.index = i;
        c.value = values[i] == Py_True;
        ++d.ncodes;
    }
    sort_codes(d);
    return 0;
}

}  // namespace

Ref new_style(PyObject* fg, PyObject* bg, Attributes values)
{
    Ref obj = new_style_object();
    if (!obj) {
        return obj;
    }
    StyleData& d = as_style(obj.get()).d;
    Ref fields[2];
    PyObject* const given[2] = {fg, bg};
    for (int i = 0; i < 2; ++i) {
        if (given[i] == Py_None) {
            fields[i] = Ref::borrow(Py_None);
        } else if (check_color(given[i], fields[i], d.colors[i]) < 0) {
            return {};
        }
    }
    for (int i = 0; i < kNumAttributes; ++i) {
        PyObject* v = values[i];
        if (v != Py_None && v != Py_True && v != Py_False) {
            PyErr_Format(PyExc_TypeError, "%s%s%s%R", text::kAttribute,
                         core::kAttributes[i].data(), text::kAttributeType, v);
            return {};
        }
    }
    if (attribute_codes(d, values) < 0 || make_offs(d) < 0) {
        return {};
    }
    d.fields = Ref::steal(PyTuple_New(2 + kNumAttributes));
    if (!d.fields) {
        return {};
    }
    PyTuple_SET_ITEM(d.fields.get(), 0, fields[0].release());
    PyTuple_SET_ITEM(d.fields.get(), 1, fields[1].release());
    for (int i = 0; i < kNumAttributes; ++i) {
        PyTuple_SET_ITEM(d.fields.get(), 2 + i, Ref::borrow(values[i]).release());
    }
    return obj;
}

int make_codes(StyleObject& st, int level)
{
    StyleData& d = st.d;
    if (d.prefix[level]) {
        return 0;
    }
    Writer pre;
    Writer post;
    if (pre.get() == nullptr || post.get() == nullptr) {
        return -1;
    }
    // The prefix: the off codes of False attributes, the on codes of True
    // ones (each code once), the foreground, the background.
    PyObject* seen[kNumAttributes];
    int nseen = 0;
    int npre = 0;
    for (const bool value : {false, true}) {
        for (int i = 0; i < d.ncodes; ++i) {
            const AttributeCode& c = d.codes[i];
            PyObject* code = value ? c.on.get() : c.off.get();
            bool dup = c.value != value;
            for (int k = 0; k < nseen && !dup; ++k) {
                dup = PyObject_RichCompareBool(seen[k], code, Py_EQ) == 1;
            }
            if (dup) {
                continue;
            }
            seen[nseen++] = code;
            if ((npre++ != 0 && PyUnicodeWriter_WriteChar(pre.get(), ';') < 0) ||
                PyUnicodeWriter_WriteStr(pre.get(), code) < 0) {
                return -1;
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (d.colors[i].kind == ColorKind::None) {
            continue;
        }
        if ((npre++ != 0 && PyUnicodeWriter_WriteChar(pre.get(), ';') < 0) ||
            write_segment(pre.get(), d.colors[i], level, i == 1) < 0) {
            return -1;
        }
    }
    // The suffix: the off codes of True attributes, 39 and 49, each once.
    PyObject* written[kMaxOffs];
    int npost = 0;
    auto add_off = [&](PyObject* code) {
        for (int k = 0; k < npost; ++k) {
            if (PyObject_RichCompareBool(written[k], code, Py_EQ) == 1) {
                return 0;
            }
        }
        written[npost] = code;
        return (npost++ != 0 && PyUnicodeWriter_WriteChar(post.get(), ';') < 0) ||
                       PyUnicodeWriter_WriteStr(post.get(), code) < 0
                   ? -1
                   : 0;
    };
    for (int i = 0; i < d.ncodes; ++i) {
        if (d.codes[i].value && add_off(d.codes[i].off.get()) < 0) {
            return -1;
        }
    }
    if ((d.colors[0].kind != ColorKind::None && add_off(integer<39>) < 0) ||
        (d.colors[1].kind != ColorKind::None && add_off(integer<49>) < 0)) {
        return -1;
    }
    auto sequence = [](Writer& w, int count) {
        if (count == 0) {
            return Ref::borrow(str<"">);
        }
        Ref body = w.finish();
        return body ? Ref::steal(PyUnicode_FromFormat("\x1b[%Um", body.get())) : Ref();
    };
    Ref prefix = sequence(pre, npre);
    Ref suffix = sequence(post, npost);
    if (!prefix || !suffix) {
        return -1;
    }
    d.prefix[level] = std::move(prefix);
    d.suffix[level] = std::move(suffix);
    return 0;
}

Ref render(StyleObject& st, PyObject* text, PyObject* level, PyObject* stream)
{
    const int n = resolve_level(level, stream);
    Ref s = n >= 0 ? text_of(text) : Ref();
    if (!s || n == 0) {
        return s;
    }
    if (make_codes(st, n) < 0) {
        return {};
    }
    return styled(s.get(), st.d.prefix[n].get(), st.d.suffix[n].get(), style_offs(st));
}

namespace {

// ---------------------------------------------------------------------------
// The type's slots

void style_dealloc(PyObject* op)
{
    PyTypeObject* type = Py_TYPE(op);
    as_style(op).d.~StyleData();
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* style_repr(PyObject* op)
{
    const StyleData& d = as_style(op).d;
    Writer w;
    if (w.get() == nullptr || PyUnicodeWriter_WriteUTF8(w.get(), "Style(", 6) < 0) {
        return nullptr;
    }
    int written = 0;
    for (Py_ssize_t i = 0; i < 2 + kNumAttributes; ++i) {
        PyObject* value = PyTuple_GET_ITEM(d.fields.get(), i);
        if (value == Py_None) {
            continue;
        }
        const char* name = i == 0 ? "fg" : i == 1 ? "bg" : core::kAttributes[i - 2].data();
        if ((written++ != 0 && PyUnicodeWriter_WriteUTF8(w.get(), ", ", 2) < 0) ||
            PyUnicodeWriter_WriteUTF8(w.get(), name, -1) < 0 ||
            PyUnicodeWriter_WriteChar(w.get(), '=') < 0 ||
            PyUnicodeWriter_WriteRepr(w.get(), value) < 0) {
            return nullptr;
        }
    }
    if (PyUnicodeWriter_WriteChar(w.get(), ')') < 0) {
        return nullptr;
    }
    return w.finish().release();
}

PyObject* style_str(PyObject* op)
{
    const StyleData& d = as_style(op).d;
    Writer w;
    if (w.get() == nullptr) {
        return nullptr;
    }
    int written = 0;
    auto space = [&]() { return written++ != 0 ? PyUnicodeWriter_WriteChar(w.get(), ' ') : 0; };
    for (int i = 0; i < d.ncodes; ++i) {
        const AttributeCode& c = d.codes[i];
        if (space() < 0 || (!c.value && PyUnicodeWriter_WriteUTF8(w.get(), "not ", 4) < 0) ||
            PyUnicodeWriter_WriteUTF8(w.get(), core::kAttributes[c.index].data(), -1) < 0) {
            return nullptr;
        }
    }
    PyObject* fg = PyTuple_GET_ITEM(d.fields.get(), 0);
    PyObject* bg = PyTuple_GET_ITEM(d.fields.get(), 1);
    if (fg != Py_None && (space() < 0 || write_color_text(w.get(), fg) < 0)) {
        return nullptr;
    }
    if (bg != Py_None && (space() < 0 || PyUnicodeWriter_WriteUTF8(w.get(), "on ", 3) < 0 ||
                          write_color_text(w.get(), bg) < 0)) {
        return nullptr;
    }
    return w.finish().release();
}

Py_hash_t style_hash(PyObject* op)
{
    StyleData& d = as_style(op).d;
    if (d.hash == -1) {
        d.hash = PyObject_Hash(d.fields.get());
    }
    return d.hash;
}

PyObject* style_richcompare(PyObject* a, PyObject* b, int op)
{
    if (!is_style(a) || !is_style(b) || (op != Py_EQ && op != Py_NE)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    // The fields are strs, ints, tuples of ints, bools and None.
    return PyObject_RichCompare(as_style(a).d.fields.get(), as_style(b).d.fields.get(), op);
}

int style_setattro(PyObject*, PyObject*, PyObject*)
{
    PyErr_SetString(PyExc_AttributeError, text::kStyleFrozen);
    return -1;
}

// a + b: field by field, b winning where it is not None; each field keeps
// what was resolved for it.
PyObject* style_add(PyObject* a, PyObject* b)
{
    if (!is_style(a) || !is_style(b)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    const StyleData& x = as_style(a).d;
    const StyleData& y = as_style(b).d;
    Ref obj = new_style_object();
    if (!obj) {
        return nullptr;
    }
    StyleData& d = as_style(obj.get()).d;
    d.fields = Ref::steal(PyTuple_New(2 + kNumAttributes));
    if (!d.fields) {
        return nullptr;
    }
    for (int i = 0; i < 2 + kNumAttributes; ++i) {
        PyObject* v = PyTuple_GET_ITEM(y.fields.get(), i);
        PyObject* chosen = v != Py_None ? v : PyTuple_GET_ITEM(x.fields.get(), i);
        PyTuple_SET_ITEM(d.fields.get(), i, Ref::borrow(chosen).release());
    }
    for (int i = 0; i < 2; ++i) {
        d.colors[i] = (PyTuple_GET_ITEM(y.fields.get(), i) != Py_None ? y : x).colors[i].copy();
    }
    for (const StyleData* side : {&x, &y}) {
        for (int k = 0; k < side->ncodes; ++k) {
            const AttributeCode& c = side->codes[k];
            int j = 0;
            while (j < d.ncodes && d.codes[j].index != c.index) {
                ++j;
            }
            d.ncodes += j == d.ncodes ? 1 : 0;
            d.codes[j] = {c.rank, c.index, c.value, c.on.dup(), c.off.dup()};
        }
    }
    sort_codes(d);
    return make_offs(d) < 0 ? nullptr : obj.release();
}

PyObject* style_field(PyObject* op, void* closure)
{
    const auto i = reinterpret_cast<intptr_t>(closure);
    return Ref::borrow(PyTuple_GET_ITEM(as_style(op).d.fields.get(), i)).release();
}

// Style(...) calls Style.__new__, the function object.
PyObject* style_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    return construct_vectorcall(g.style_new.get(), type, args, nargsf, kwnames);
}

PyObject* style_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs)
{
    return construct(g.style_new.get(), reinterpret_cast<PyObject*>(type), args, kwargs);
}

// ---------------------------------------------------------------------------
// Style's methods

// Style(fg=None, bg=None, *, bold=None, ..., overline=None)
Ref style_new(PyObject*, PyObject* fg, PyObject* bg, PyObject* bold, PyObject* dim,
              PyObject* italic, PyObject* underline, PyObject* blink, PyObject* blink_fast,
              PyObject* reverse, PyObject* hidden, PyObject* strikethrough, PyObject* overline)
{
    PyObject* const values[kNumAttributes] = {
        bold, dim, italic, underline, blink, blink_fast, reverse, hidden, strikethrough, overline,
    };
    return new_style(fg, bg, values);
}

// Style.parse(text)
Ref style_parse(PyObject*, PyObject* text)
{
    if (!PyUnicode_Check(text)) {
        raise_type_named(PyExc_TypeError, text::kParseType, text);
        return {};
    }
    return parse_style(text);
}

// style.codes(level)
Ref style_codes(StyleObject& self, PyObject* level)
{
    const int n = check_level(level);
    if (n <= 0) {
        return n < 0 ? Ref() : Ref::steal(PyTuple_Pack(2, str<"">.get(), str<"">.get()));
    }
    return make_codes(self, n) < 0 ? Ref()
                                   : Ref::steal(PyTuple_Pack(2, self.d.prefix[n].get(),
                                                             self.d.suffix[n].get()));
}

// style.render(text, *, level=None, stream=None)
Ref style_render(StyleObject& self, PyObject* text, PyObject* level, PyObject* stream)
{
    return render(self, text, level, stream);
}

// style.bind(stream=None, *, level=None)
Ref style_bind(StyleObject& self, PyObject* stream, PyObject* level)
{
    const int n = resolve_level(level, stream);
    if (n < 0) {
        return {};
    }
    Ref detect = global(g.frame, str<"_detect">);
    Ref cls = detect ? attr(detect.get(), str<"ColorLevel">) : Ref();
    Ref number = cls ? Ref::steal(PyLong_FromLong(n)) : Ref();
    Ref member = number ? call(cls.get(), number.get()) : Ref();
    return member ? make_pen(self, member.get(), n) : Ref();
}

constexpr FunctionDef style_new_def{
    .name = "__new__",
    .qualname = "Style.__new__",
    .impl = bind<style_new>(
        "(cls, fg=None, bg=None, *, bold=None, dim=None, italic=None, underline=None, "
        "blink=None, blink_fast=None, reverse=None, hidden=None, strikethrough=None, "
        "overline=None)"),
    .line = 502,
};

constexpr FunctionDef style_parse_def{
    .name = "parse",
    .qualname = "Style.parse",
    .impl = bind<style_parse>("(cls, text)"),
    .doc = text::kParse,
    .line = 548,
};

constexpr FunctionDef style_codes_def{
    .name = "codes",
    .qualname = "Style.codes",
    .impl = bind<style_codes>("(self, level)"),
    .doc = text::kCodes,
    .line = 593,
};

constexpr FunctionDef style_render_def{
    .name = "render",
    .qualname = "Style.render",
    .impl = bind<style_render>("(self, text, *, level=None, stream=None)"),
    .doc = text::kRender,
    .line = 599,
};

constexpr FunctionDef style_bind_def{
    .name = "bind",
    .qualname = "Style.bind",
    .impl = bind<style_bind>("(self, stream=None, *, level=None)"),
    .doc = text::kBind,
    .line = 606,
};

// ---------------------------------------------------------------------------
// The type as data

PyGetSetDef style_getset[] = {
    {"fg", style_field, nullptr, nullptr, reinterpret_cast<void*>(0)},
    {"bg", style_field, nullptr, nullptr, reinterpret_cast<void*>(1)},
    {"bold", style_field, nullptr, nullptr, reinterpret_cast<void*>(2)},
    {"dim", style_field, nullptr, nullptr, reinterpret_cast<void*>(3)},
    {"italic", style_field, nullptr, nullptr, reinterpret_cast<void*>(4)},
    {"underline", style_field, nullptr, nullptr, reinterpret_cast<void*>(5)},
    {"blink", style_field, nullptr, nullptr, reinterpret_cast<void*>(6)},
    {"blink_fast", style_field, nullptr, nullptr, reinterpret_cast<void*>(7)},
    {"reverse", style_field, nullptr, nullptr, reinterpret_cast<void*>(8)},
    {"hidden", style_field, nullptr, nullptr, reinterpret_cast<void*>(9)},
    {"strikethrough", style_field, nullptr, nullptr, reinterpret_cast<void*>(10)},
    {"overline", style_field, nullptr, nullptr, reinterpret_cast<void*>(11)},
    {},
};

PyType_Slot style_slots[] = {
    {Py_tp_doc, const_cast<char*>(text::kStyle)},
    {Py_tp_new, reinterpret_cast<void*>(&style_tp_new)},
    {Py_tp_vectorcall, reinterpret_cast<void*>(&style_vectorcall)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&style_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&style_repr)},
    {Py_tp_str, reinterpret_cast<void*>(&style_str)},
    {Py_tp_hash, reinterpret_cast<void*>(&style_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&style_richcompare)},
    {Py_tp_setattro, reinterpret_cast<void*>(&style_setattro)},
    {Py_nb_add, reinterpret_cast<void*>(&style_add)},
    {Py_tp_getset, style_getset},
    {0, nullptr},
};

PyType_Spec style_spec = {
    "tintara.paint.Style", sizeof(StyleObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    style_slots,
};

const Method style_methods[] = {
    {&style_new_def, Bound::Static, &g.style_new},
    {&style_parse_def, Bound::Class},
    {&style_codes_def},
    {&style_render_def},
    {&style_bind_def},
};

}  // namespace

Ref make_style_type(Module& m)
{
    Ref type = make_type(m, style_spec, style_methods);
    if (type) {
        g.style_type.set(type.dup());
    }
    return type;
}

}  // namespace tintara::paint
