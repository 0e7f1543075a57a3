// Colours and levels as callers give them to tintara.paint.
#include "modules/paint/colour.hpp"

#include "core/tables.hpp"
#include "core/tokens.hpp"
#include "modules/colorarg.hpp"
#include "modules/paint/messages.hpp"
#include "modules/paint/state.hpp"

namespace tintara::paint {

// The characters of an ASCII str, or an empty view for any other.
std::string_view ascii_view(PyObject* s)
{
    if (!PyUnicode_IS_ASCII(s)) {
        return {};
    }
    return {static_cast<const char*>(PyUnicode_DATA(s)),
            static_cast<size_t>(PyUnicode_GET_LENGTH(s))};
}

// An int whose comparisons are int's own, so comparing it runs no code.
bool plain_int(PyObject* v)
{
    return PyLong_CheckExact(v) ||
           (PyLong_Check(v) && Py_TYPE(v)->tp_richcompare == PyLong_Type.tp_richcompare);
}

// lo <= v <= hi for an int v, as Python's chained comparison: 1, 0 or -1.
int in_range(PyObject* v, PyObject* lo, PyObject* hi, long lo_value, long hi_value)
{
    if (plain_int(v)) {
        int overflow = 0;
        const long x = PyLong_AsLongAndOverflow(v, &overflow);
        return overflow == 0 && x >= lo_value && x <= hi_value ? 1 : 0;
    }
    Ref low = Ref::steal(PyObject_RichCompare(lo, v, Py_LE));
    int t = low ? truth(low.get()) : -1;
    if (t != 1) {
        return t;
    }
    Ref high = Ref::steal(PyObject_RichCompare(v, hi, Py_LE));
    return high ? truth(high.get()) : -1;
}

// int.__int__(v): an int as an exact int, whatever a subclass overrides.
Ref exact_int(PyObject* v)
{
    if (PyLong_CheckExact(v)) {
        return Ref::borrow(v);
    }
    return Ref::steal(PyLong_Type.tp_as_number->nb_int(v));
}

// An int's value when it lies in lo..hi, else -1.  Never runs code.
long small_value(PyObject* exact, long lo, long hi)
{
    int overflow = 0;
    const long x = PyLong_AsLongAndOverflow(exact, &overflow);
    return overflow == 0 && x >= lo && x <= hi ? x : -1;
}

// The int 0-3 of an explicit level, or -1 with an exception.
int check_level(PyObject* level)
{
    // The common case first: an exact int 0-3.
    auto* number = reinterpret_cast<PyLongObject*>(level);
    if (PyLong_CheckExact(level) && PyUnstable_Long_IsCompact(number)) {
        const Py_ssize_t v = PyUnstable_Long_CompactValue(number);
        if (v >= 0 && v <= 3) {
            return static_cast<int>(v);
        }
    }
    if (PyBool_Check(level) || !PyLong_Check(level)) {
        raise_repr(PyExc_TypeError, text::kLevelType, level);
        return -1;
    }
    if (plain_int(level)) {
        // int's own value and comparisons: nothing to ask the object.
        const long v = small_value(level, 0, 3);
        if (v < 0) {
            raise_repr(PyExc_ValueError, text::kLevelRange, level);
        }
        return static_cast<int>(v);
    }
    const int ok = in_range(level, integer<0>, integer<3>, 0, 3);
    if (ok <= 0) {
        if (ok == 0) {
            raise_repr(PyExc_ValueError, text::kLevelRange, level);
        }
        return -1;
    }
    Ref n = exact_int(level);
    const long v = n ? small_value(n.get(), 0, 3) : -1;
    if (v < 0 && n) {
        raise_repr(PyExc_ValueError, text::kLevelRange, level);  // its comparisons said otherwise
    }
    return static_cast<int>(v);
}

int resolve_level(PyObject* level, PyObject* stream)
{
    Ref detected;
    if (level == Py_None) {
        Ref detect = global(g.frame, str<"_detect">);
        Ref fn = detect ? attr(detect.get(), str<"detect_color_level">) : Ref();
        detected = fn ? call(fn.get(), stream) : Ref();
        if (!detected) {
            return -1;
        }
        level = detected.get();
    }
    return check_level(level);
}

namespace {

// str.replace(str.replace(str.lower(value), "-", "_"), " ", "_"), without
// a call for an ASCII str.
Ref normalise(PyObject* value)
{
    if (PyUnicode_IS_ASCII(value)) {
        return colorarg::folded(value);
    }
    Ref lowered = call_method(reinterpret_cast<PyObject*>(&PyUnicode_Type), str<"lower">, value);
    Ref dashed =
        lowered ? Ref::steal(PyUnicode_Replace(lowered.get(), str<"-">, str<"_">, -1)) : Ref();
    return dashed ? Ref::steal(PyUnicode_Replace(dashed.get(), str<" ">, str<"_">, -1)) : Ref();
}

// _colors.<name>, read now.
Ref colors_table(PyObject* name)
{
    Ref colors = global(g.frame, str<"_colors">);
    return colors ? attr(colors.get(), name) : Ref();
}

[[gnu::cold]] int raise_unknown_color(PyObject* value)
{
    raise_repr(PyExc_ValueError, colorarg::kUnknownName, value);
    return -1;
}

}  // namespace

int named(PyObject* value, Ref& name, Ref& code)
{
    Ref n = normalise(value);
    Ref aliases = n ? colors_table(str<"COLOR_ALIASES">) : Ref();
    if (!aliases) {
        return -1;
    }
    if (PyDict_CheckExact(aliases.get())) {
        PyObject* target = nullptr;
        const int found = PyDict_GetItemRef(aliases.get(), n.get(), &target);
        if (found < 0) {
            return -1;
        }
        if (found != 0) {
            n = Ref::steal(target);
        }
    } else if (!(n = call_method(aliases.get(), str<"get">, n.get(), n.get()))) {
        return -1;
    }
    if (!PyUnicode_Check(n.get())) {
        return raise_unknown_color(value);
    }
    Ref table = colors_table(str<"NAMED_COLORS">);
    const int known = table ? PySequence_Contains(table.get(), n.get()) : -1;
    if (known <= 0) {
        return known < 0 ? -1 : raise_unknown_color(value);
    }
    table = colors_table(str<"NAMED_COLORS">);
    Ref c = table ? Ref::steal(PyObject_GetItem(table.get(), n.get())) : Ref();
    if (!c) {
        return -1;
    }
    if (!PyLong_Check(c.get()) || PyBool_Check(c.get())) {
        raise_repr(PyExc_TypeError, text::kCodeType, c.get());
        return -1;
    }
    name = PyUnicode_CheckExact(n.get()) ? std::move(n) : Ref::steal(PyUnicode_FromObject(n.get()));
    code = exact_int(c.get());
    return name && code ? 0 : -1;
}

namespace {

// "#rrggbb" of three components.
Ref hex_text(const core::Rgb& c)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    char text[7] = {'#'};
    const int v[3] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) {
        text[1 + 2 * i] = kDigits[v[i] >> 4];
        text[2 + 2 * i] = kDigits[v[i] & 15];
    }
    return Ref::steal(PyUnicode_FromStringAndSize(text, 7));
}

// One component of a tuple colour: 1 if good, 0 with an exception raised
// about the tuple, -1 on another error.
int check_component(PyObject* item, PyObject* tuple)
{
    if (!PyLong_Check(item) || PyBool_Check(item)) {
        raise_repr(PyExc_TypeError, text::kComponentType, tuple);
        return 0;
    }
    const int ok = in_range(item, integer<0>, integer<255>, 0, 255);
    if (ok == 0) {
        raise_repr(PyExc_ValueError, text::kRgbRange, tuple);
    }
    return ok;
}

// The three components of a tuple colour, checked component by component.
int check_rgb(PyObject* value, core::Rgb& rgb)
{
    const bool exact = PyTuple_CheckExact(value);
    const Py_ssize_t size = exact ? PyTuple_GET_SIZE(value) : PyObject_Size(value);
    if (size < 0) {
        return -1;
    }
    if (size != 3) {
        raise_repr(PyExc_ValueError, text::kTupleSize, value);
        return -1;
    }
    int v[3] = {};
    if (exact) {
        for (int i = 0; i < 3; ++i) {
            PyObject* item = PyTuple_GET_ITEM(value, i);
            if (check_component(item, value) <= 0) {
                return -1;
            }
            Ref n = exact_int(item);
            if (!n || (v[i] = static_cast<int>(small_value(n.get(), 0, 255))) < 0) {
                if (n) {
                    raise_repr(PyExc_ValueError, text::kRgbRange, value);
                }
                return -1;
            }
        }
        rgb = {v[0], v[1], v[2]};
        return 0;
    }
    // A subclass: iterated as often as the checks and the copy ask.
    Ref it = Ref::steal(PyObject_GetIter(value));
    while (it) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            break;
        }
        if (check_component(item.get(), value) <= 0) {
            return -1;
        }
    }
    if (PyErr_Occurred()) {
        return -1;
    }
    it = Ref::steal(PyObject_GetIter(value));
    int count = 0;
    while (it) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            break;
        }
        if (!PyLong_Check(item.get())) {
            raise_repr(PyExc_TypeError, text::kComponentType, value);
            return -1;
        }
        Ref n = exact_int(item.get());
        if (!n) {
            return -1;
        }
        const long x = small_value(n.get(), 0, 255);
        if (x < 0 || count == 3) {
            raise_repr(PyExc_ValueError, x < 0 ? text::kRgbRange : text::kTupleSize, value);
            return -1;
        }
        v[count++] = static_cast<int>(x);
    }
    if (PyErr_Occurred()) {
        return -1;
    }
    if (count != 3) {
        raise_repr(PyExc_ValueError, text::kTupleSize, value);
        return -1;
    }
    rgb = {v[0], v[1], v[2]};
    return 0;
}

}  // namespace

int check_color(PyObject* value, Ref& field, Color& color)
{
    if (PyUnicode_Check(value)) {
        if (PyUnicode_GET_LENGTH(value) > 0 && PyUnicode_READ_CHAR(value, 0) == '#') {
            int rgb[3];
            if (!core::hex_rgb(ascii_view(value), rgb)) {
                raise_repr(PyExc_ValueError, colorarg::kBadHex, value, colorarg::kBadHexTail);
                return -1;
            }
            color = {ColorKind::Rgb, 0, {rgb[0], rgb[1], rgb[2]}, {}};
            field = hex_text(color.rgb);
            return field ? 0 : -1;
        }
        Ref code;
        if (named(value, field, code) < 0) {
            return -1;
        }
        color = {ColorKind::Name, 0, {}, std::move(code)};
        return 0;
    }
    if (PyBool_Check(value) || !(PyLong_Check(value) || PyTuple_Check(value))) {
        raise_type_named(PyExc_TypeError, colorarg::kUnsupportedType, value);
        return -1;
    }
    if (PyLong_Check(value)) {
        const int ok = in_range(value, integer<0>, integer<255>, 0, 255);
        if (ok <= 0) {
            if (ok == 0) {
                raise_repr(PyExc_ValueError, colorarg::kIndexRange, value);
            }
            return -1;
        }
        field = exact_int(value);
        const long n = field ? small_value(field.get(), 0, 255) : -1;
        if (n < 0) {
            if (field) {
                raise_repr(PyExc_ValueError, colorarg::kIndexRange, value);
            }
            return -1;
        }
        color = {ColorKind::Index, static_cast<int>(n), {}, {}};
        return 0;
    }
    core::Rgb rgb;
    if (check_rgb(value, rgb) < 0) {
        return -1;
    }
    field = Ref::steal(Py_BuildValue("(iii)", rgb.r, rgb.g, rgb.b));
    color = {ColorKind::Rgb, 0, rgb, {}};
    return field ? 0 : -1;
}

namespace {

// Small non-negative numbers written into a writer.
int write_number(PyUnicodeWriter* w, long v)
{
    char digits[24];
    int n = 0;
    do {
        digits[sizeof digits - 1 - n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    return PyUnicodeWriter_WriteUTF8(w, digits + sizeof digits - n, n);
}

}  // namespace

int write_segment(PyUnicodeWriter* w, const Color& c, int level, bool background)
{
    const char* layer = background ? "48" : "38";
    switch (c.kind) {
        case ColorKind::Name: {
            int overflow = 0;
            const long v = PyLong_AsLongAndOverflow(c.code.get(), &overflow);
            const bool shift =
                background && (overflow < 0 || (overflow == 0 && (core::shifts_to_background(v))));
            Ref code = shift ? Ref::steal(PyNumber_Add(c.code.get(), integer<10>)) : c.code.dup();
            return code ? PyUnicodeWriter_WriteStr(w, code.get()) : -1;
        }
        case ColorKind::Index:
            if (level >= 2) {
                return PyUnicodeWriter_WriteUTF8(w, layer, 2) < 0 ||
                               PyUnicodeWriter_WriteUTF8(w, ";5;", 3) < 0
                           ? -1
                           : write_number(w, c.index);
            }
            return write_number(
                w, core::basic_code(
                       c.index < 16 ? c.index : core::nearest_16(core::palette_rgb(c.index)),
                       background));
        case ColorKind::Rgb:
            if (level == 3) {
                if (PyUnicodeWriter_WriteUTF8(w, layer, 2) < 0 ||
                    PyUnicodeWriter_WriteUTF8(w, ";2;", 3) < 0 || write_number(w, c.rgb.r) < 0 ||
                    PyUnicodeWriter_WriteChar(w, ';') < 0 || write_number(w, c.rgb.g) < 0 ||
                    PyUnicodeWriter_WriteChar(w, ';') < 0) {
                    return -1;
                }
                return write_number(w, c.rgb.b);
            }
            if (level == 2) {
                return PyUnicodeWriter_WriteUTF8(w, layer, 2) < 0 ||
                               PyUnicodeWriter_WriteUTF8(w, ";5;", 3) < 0
                           ? -1
                           : write_number(w, core::nearest_256(c.rgb));
            }
            return write_number(w, core::basic_code(core::nearest_16(c.rgb), background));
        case ColorKind::None:
            break;
    }
    return 0;
}

// A canonical colour field as the style string writes it.
int write_color_text(PyUnicodeWriter* w, PyObject* field)
{
    if (PyLong_Check(field)) {
        return PyUnicodeWriter_WriteUTF8(w, "color(", 6) < 0 ||
                       PyUnicodeWriter_WriteStr(w, field) < 0
                   ? -1
                   : PyUnicodeWriter_WriteChar(w, ')');
    }
    if (PyTuple_Check(field)) {
        if (PyUnicodeWriter_WriteUTF8(w, "rgb(", 4) < 0) {
            return -1;
        }
        for (Py_ssize_t i = 0; i < 3; ++i) {
            if (PyUnicodeWriter_WriteStr(w, PyTuple_GET_ITEM(field, i)) < 0 ||
                PyUnicodeWriter_WriteChar(w, i < 2 ? ',' : ')') < 0) {
                return -1;
            }
        }
        return 0;
    }
    return PyUnicodeWriter_WriteStr(w, field);
}

}  // namespace tintara::paint
