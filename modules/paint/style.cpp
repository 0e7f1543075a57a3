// Style: made from checked arguments and the current STYLES, its codes per
// level, and the type's slots and methods.
#include "modules/paint/style.hpp"

#include "modules/paint/messages.hpp"
#include "modules/paint/parse.hpp"
#include "modules/paint/pen.hpp"
#include "modules/paint/state.hpp"
#include "modules/paint/styled.hpp"
#include "modules/paint/templates.hpp"

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

// For each attribute name, its place among the attribute names of STYLES,
// read by iterating the table as `for key in table` does.
Ref ranks_of(PyObject* table)
{
    Ref ranks = Ref::steal(PyDict_New());
    Ref it = ranks ? Ref::steal(PyObject_GetIter(table)) : Ref();
    if (!it) {
        return {};
    }
    while (Ref key = Ref::steal(PyIter_Next(it.get()))) {
        int t = PyDict_Contains(g.attribute_index.get(), key.get());
        if (t > 0) {
            t = PyDict_Contains(ranks.get(), key.get());
            if (t == 0) {
                Ref n = Ref::steal(PyLong_FromSsize_t(PyDict_GET_SIZE(ranks.get())));
                t = n ? PyDict_SetItem(ranks.get(), key.get(), n.get()) : -1;
            }
        }
        if (t < 0) {
            return {};
        }
    }
    return PyErr_Occurred() ? Ref() : std::move(ranks);
}

// The rank of attribute i (10: not an attribute name of STYLES).  0 or -1.
int rank_of(PyObject* ranks, int i, Py_ssize_t& out)
{
    PyObject* value = nullptr;
    const int found = PyDict_GetItemRef(ranks, s_attribute[i], &value);
    Ref owned = Ref::steal(value);
    out = found > 0 ? PyLong_AsSsize_t(value) : kNumAttributes;
    return found < 0 ? -1 : 0;
}

// An entry of STYLES: (on, off), two ints in a tuple or list, checked by
// iterating it, then unpacked (a subclass is iterated again, so its items
// are checked again).
int entry_codes(PyObject* entry, Ref& on, Ref& off)
{
    bool ok = false;
    if (PyTuple_Check(entry) || PyList_Check(entry)) {
        const Py_ssize_t size = PyObject_Size(entry);
        Ref it = size == 2 ? Ref::steal(PyObject_GetIter(entry)) : Ref();
        for (ok = bool(it); ok;) {
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
    Ref ranks = table ? ranks_of(table.get()) : Ref();
    if (!ranks) {
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
        if (!entry || entry_codes(entry.get(), c.on, c.off) < 0 ||
            rank_of(ranks.get(), i, c.rank) < 0) {
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
            PyErr_Format(PyExc_TypeError, "%s%s%s%R", text::kAttribute, core::kAttributes[i].data(),
                         text::kAttributeType, v);
            return {};
        }
    }
    if (attribute_codes(d, values) < 0) {
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

namespace {

// Appends text to list unless an equal str is there.  0 or -1.
int add_once(PyObject* list, const Ref& text)
{
    const int has = text ? PySequence_Contains(list, text.get()) : -1;
    return has != 0 ? has : PyList_Append(list, text.get());
}

// again[key] gains code (each code once).  0 or -1.
int put_back(PyObject* again, const Ref& key, const Ref& code)
{
    Ref fresh = key && code ? Ref::steal(PyList_New(0)) : Ref();
    PyObject* codes = nullptr;
    if (!fresh || PyDict_SetDefaultRef(again, key.get(), fresh.get(), &codes) < 0) {
        return -1;
    }
    return add_once(Ref::steal(codes).get(), code);
}

Ref decimal(PyObject* code)
{
    return Ref::steal(PyObject_Str(code));
}

// ";".join(codes) as an SGR, or "" for no codes.
Ref sequence(PyObject* codes)
{
    Ref params = Ref::steal(PyUnicode_Join(str<";">, codes));
    if (!params || PyUnicode_GET_LENGTH(params.get()) == 0) {
        return params;
    }
    return Ref::steal(PyUnicode_FromFormat("\x1b[%Um", params.get()));
}

}  // namespace

int make_codes(StyleObject& st, int level)
{
    StyleData& d = st.d;
    if (d.prefix[level]) {
        return 0;
    }
    // The prefix: the off codes of False attributes, the on codes of True
    // ones (each code once), the foreground, the background.  What each
    // code puts back, by its text: a True attribute's off code its on
    // code, 39 and 49 the colours; its keys are the suffix.
    Ref pre = Ref::steal(PyList_New(0));
    Ref again = Ref::steal(PyDict_New());
    if (!pre || !again) {
        return -1;
    }
    for (const bool value : {false, true}) {
        for (int i = 0; i < d.ncodes; ++i) {
            const AttributeCode& c = d.codes[i];
            if (c.value == value &&
                add_once(pre.get(), decimal(value ? c.on.get() : c.off.get())) < 0) {
                return -1;
            }
        }
    }
    for (int i = 0; i < d.ncodes; ++i) {
        const AttributeCode& c = d.codes[i];
        if (c.value && put_back(again.get(), decimal(c.off.get()), decimal(c.on.get())) < 0) {
            return -1;
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (d.colors[i].kind == ColorKind::None) {
            continue;
        }
        Writer w;
        Ref segment = w.get() != nullptr && write_segment(w.get(), d.colors[i], level, i == 1) == 0
                          ? w.finish()
                          : Ref();
        if (!segment || PyList_Append(pre.get(), segment.get()) < 0 ||
            put_back(again.get(), Ref::borrow(i == 0 ? str<"39"> : str<"49">), segment) < 0) {
            return -1;
        }
    }
    // The splices: "0=<prefix's parameters>," first, then each off code's.
    Writer table;
    Ref prefix = sequence(pre.get());
    const Py_ssize_t len = prefix ? PyUnicode_GET_LENGTH(prefix.get()) : 0;
    if (table.get() == nullptr || !prefix || PyUnicodeWriter_WriteUTF8(table.get(), "0=", 2) < 0 ||
        (len != 0 && PyUnicodeWriter_WriteSubstring(table.get(), prefix.get(), 2, len - 1) < 0)) {
        return -1;
    }
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* codes;
    while (PyDict_Next(again.get(), &pos, &key, &codes)) {
        Ref joined = Ref::steal(PyUnicode_Join(str<";">, codes));
        if (!joined || PyUnicodeWriter_WriteChar(table.get(), ',') < 0 ||
            PyUnicodeWriter_WriteStr(table.get(), key) < 0 ||
            PyUnicodeWriter_WriteChar(table.get(), '=') < 0 ||
            PyUnicodeWriter_WriteStr(table.get(), joined.get()) < 0) {
            return -1;
        }
    }
    Ref suffix = sequence(again.get());
    Ref splices =
        suffix && PyUnicodeWriter_WriteChar(table.get(), ',') == 0 ? table.finish() : Ref();
    if (!splices) {
        return -1;
    }
    d.prefix[level] = std::move(prefix);
    d.suffix[level] = std::move(suffix);
    d.splices[level] = std::move(splices);
    return 0;
}

Ref render(StyleObject& st, PyObject* text, PyObject* level, PyObject* stream)
{
    const int n = resolve_level(level, stream);
    Ref s = n >= 0 ? text_at(text, n) : Ref();
    if (!s || n == 0) {
        return s;
    }
    return make_codes(st, n) < 0 ? Ref() : styled(s.get(), paint_at(st, n));
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
    return obj.release();
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
    return make_codes(self, n) < 0
               ? Ref()
               : Ref::steal(PyTuple_Pack(2, self.d.prefix[n].get(), self.d.suffix[n].get()));
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

// style.__reduce__(): copyreg.__newobj_ex__(Style, (fg, bg), {set attributes}).
Ref style_reduce(StyleObject& self)
{
    PyObject* fields = self.d.fields.get();
    Ref attributes = Ref::steal(PyDict_New());
    for (int i = 0; attributes && i < kNumAttributes; ++i) {
        PyObject* value = PyTuple_GET_ITEM(fields, 2 + i);
        if (value != Py_None && PyDict_SetItem(attributes.get(), s_attribute[i], value) < 0) {
            return {};
        }
    }
    Ref copyreg = attributes ? import_module(str<"copyreg">, g.frame.dict.get()) : Ref();
    Ref newobj = copyreg ? attr(copyreg.get(), str<"__newobj_ex__">) : Ref();
    Ref colours = newobj ? Ref::steal(PyTuple_GetSlice(fields, 0, 2)) : Ref();
    return colours ? Ref::steal(Py_BuildValue("(O(OOO))", newobj.get(), g.style_type.get(),
                                              colours.get(), attributes.get()))
                   : Ref();
}

constexpr FunctionDef style_copy_def{
    .name = "__copy__",
    .qualname = "Style.__copy__",
    .impl = bind<itself>("(self)"),
    .line = 551,
};

constexpr FunctionDef style_deepcopy_def{
    .name = "__deepcopy__",
    .qualname = "Style.__deepcopy__",
    .impl = bind<itself_memo>("(self, memo, /)"),
    .line = 554,
};

constexpr FunctionDef style_reduce_def{
    .name = "__reduce__",
    .qualname = "Style.__reduce__",
    .impl = bind<style_reduce>("(self)"),
    .line = 557,
};

constexpr FunctionDef style_new_def{
    .name = "__new__",
    .qualname = "Style.__new__",
    .impl = bind<style_new>(
        "(cls, fg=None, bg=None, *, bold=None, dim=None, italic=None, underline=None, "
        "blink=None, blink_fast=None, reverse=None, hidden=None, strikethrough=None, "
        "overline=None)"),
    .line = 433,
};

constexpr FunctionDef style_parse_def{
    .name = "parse",
    .qualname = "Style.parse",
    .impl = bind<style_parse>("(cls, text)"),
    .doc = text::kParse,
    .line = 479,
};

constexpr FunctionDef style_codes_def{
    .name = "codes",
    .qualname = "Style.codes",
    .impl = bind<style_codes>("(self, level)"),
    .doc = text::kCodes,
    .line = 524,
};

constexpr FunctionDef style_render_def{
    .name = "render",
    .qualname = "Style.render",
    .impl = bind<style_render>("(self, text, *, level=None, stream=None)"),
    .doc = text::kRender,
    .line = 530,
};

constexpr FunctionDef style_bind_def{
    .name = "bind",
    .qualname = "Style.bind",
    .impl = bind<style_bind>("(self, stream=None, *, level=None)"),
    .doc = text::kBind,
    .line = 537,
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
    {&style_copy_def},
    {&style_deepcopy_def},
    {&style_reduce_def},
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
