// tintara.paint: styled text that fits the terminal it is written to.
//
// A Style checks and resolves everything when it is made: its colours (the
// code of a named colour read from tintara.colors' tables) and the on and
// off codes of its attributes (read from tintara.styles.STYLES).  Its
// prefix, suffix and what embedded SGRs put back are made once per colour
// level, so a pen, which has its level decided, joins three strings for
// text of one line without escape sequences.
//
// The parts: colour.cpp (colours and levels as callers give them),
// style.cpp (the Style type), pen.cpp (the Pen type), parse.cpp (style
// strings), styled.cpp (styled, stripped and sanitized text), templates.cpp
// (template strings); the colour science and the scanners are in core/.
#include "frame/frame.hpp"
#include "modules/paint/colour.hpp"
#include "modules/paint/messages.hpp"
#include "modules/paint/parse.hpp"
#include "modules/paint/pen.hpp"
#include "modules/paint/state.hpp"
#include "modules/paint/style.hpp"
#include "modules/paint/styled.hpp"
#include "modules/paint/templates.hpp"

namespace tintara::paint {
namespace {

// ---------------------------------------------------------------------------
// The module's functions

// A template rendered at the level resolved from level and stream.
Ref template_at(PyObject* text, PyObject* level, PyObject* stream)
{
    const int n = resolve_level(level, stream);
    return n < 0 ? Ref() : template_text(text, n);
}

// paint(text, style=None, /, *, level=None, stream=None)
Ref paint(PyObject* text, PyObject* style, PyObject* level, PyObject* stream)
{
    if (style == Py_None) {
        if (is_template(text)) {
            return template_at(text, level, stream);
        }
        if (level != Py_None && check_level(level) < 0) {
            return {};
        }
        return text_of(text);
    }
    Ref st = to_style(style);
    return st ? render(as_style(st.get()), text, level, stream) : Ref();
}

// echo(text, style=None, /, *, file=None, end="\n", flush=False)
Ref echo(PyObject* text, PyObject* style, PyObject* file, PyObject* end, PyObject* flush)
{
    Ref st;
    if (style != Py_None && !(st = to_style(style))) {
        return {};
    }
    if (end == Py_None) {
        end = str<"\n">;
    } else if (!PyUnicode_Check(end)) {
        raise_type_named(PyExc_TypeError, text::kEndType, end);
        return {};
    }
    Ref out;
    if (file == Py_None) {
        Ref sys = global(g.frame, str<"sys">);
        if (!sys || !(out = attr(sys.get(), str<"stdout">))) {
            return {};
        }
        if (out.get() == Py_None) {
            return Ref::borrow(Py_None);
        }
        file = out.get();
    }
    Ref s = st                  ? render(as_style(st.get()), text, Py_None, file)
            : is_template(text) ? template_at(text, Py_None, file)
                                : text_of(text);
    Ref write = s ? attr(file, str<"write">) : Ref();
    Ref line = write ? Ref::steal(PyNumber_Add(s.get(), end)) : Ref();
    Ref written = line ? call(write.get(), line.get()) : Ref();
    const int t = written ? truth(flush) : -1;
    if (t < 0 || (t == 1 && !call_method(file, str<"flush">))) {
        return {};
    }
    return Ref::borrow(Py_None);
}

// Whether a url or id is a non-empty str of printable ASCII (U+0021-U+007E),
// holding none of the characters of ban.
bool printable_ascii(PyObject* s, std::string_view ban)
{
    const std::string_view v = ascii_view(s);
    if (v.empty()) {
        return false;
    }
    for (const char c : v) {
        if (c < 0x21 || c > 0x7e || ban.find(c) != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

// link(text, url, /, *, id=None, level=None, stream=None)
Ref link(PyObject* text, PyObject* url, PyObject* id, PyObject* level, PyObject* stream)
{
    if (!PyUnicode_Check(url)) {
        raise_type_named(PyExc_TypeError, text::kUrlType, url);
        return {};
    }
    if (!printable_ascii(url, "")) {
        raise_repr(PyExc_ValueError, text::kUrlValue, url);
        return {};
    }
    if (id != Py_None && !PyUnicode_Check(id)) {
        raise_type_named(PyExc_TypeError, text::kIdType, id);
        return {};
    }
    if (id != Py_None && !printable_ascii(id, ";:")) {
        raise_repr(PyExc_ValueError, text::kIdValue, id);
        return {};
    }
    const int n = resolve_level(level, stream);
    Ref s = n >= 0 ? text_at(text, n) : Ref();
    if (!s || n == 0 || PyUnicode_GET_LENGTH(s.get()) == 0) {
        return s;
    }
    // The characters of url and id, whatever a subclass of str overrides.
    Text out;
    out.lit("\x1b]8;");
    if (id != Py_None) {
        out.lit("id=");
        out.ascii(ascii_view(id).data(), PyUnicode_GET_LENGTH(id));
    }
    out.lit(";");
    out.ascii(ascii_view(url).data(), PyUnicode_GET_LENGTH(url));
    out.lit("\x1b\\");
    out.str(s.get());
    out.lit("\x1b]8;;\x1b\\");
    return out.build();
}

// strip(text)
Ref strip(PyObject* text)
{
    if (!PyUnicode_Check(text)) {
        raise_type_named(PyExc_TypeError, text::kStripType, text);
        return {};
    }
    return stripped(text);
}

// sanitize(text)
Ref sanitize(PyObject* text)
{
    if (!PyUnicode_Check(text)) {
        raise_type_named(PyExc_TypeError, text::kSanitizeType, text);
        return {};
    }
    return sanitized(text);
}

// downgrade(color, level, *, background=False)
Ref downgrade(PyObject* color, PyObject* level, PyObject* background)
{
    Ref field;
    Color c;
    if (check_color(color, field, c) < 0) {
        return {};
    }
    const int n = check_level(level);
    const int bg = n >= 0 ? truth(background) : -1;
    if (bg < 0) {
        return {};
    }
    if (n == 0) {
        return Ref::borrow(str<"">.get());
    }
    Writer w;
    if (w.get() == nullptr || PyUnicodeWriter_WriteUTF8(w.get(), "\x1b[", 2) < 0 ||
        write_segment(w.get(), c, n, bg == 1) < 0 || PyUnicodeWriter_WriteChar(w.get(), 'm') < 0) {
        return {};
    }
    return w.finish();
}

// The three arguments of nearest_256 and nearest_16: ints 0-255.
bool rgb_arguments(PyObject* r, PyObject* g, PyObject* b, core::Rgb& rgb)
{
    PyObject* const args[] = {r, g, b};
    if ((rgb.r = static_cast<int>(small_int(r))) >= 0 &&
        (rgb.g = static_cast<int>(small_int(g))) >= 0 &&
        (rgb.b = static_cast<int>(small_int(b))) >= 0) {
        return true;
    }
    static const char* const kNames[] = {"r", "g", "b"};
    int v[3];
    for (int i = 0; i < 3; ++i) {
        PyObject* value = args[i];
        if (!PyLong_Check(value) || PyBool_Check(value)) {
            PyErr_Format(PyExc_TypeError, "%s%s%R", kNames[i], text::kArgumentType, value);
            return false;
        }
        const int ok = in_range(value, integer<0>, integer<255>, 0, 255);
        Ref n = ok == 1 ? exact_int(value) : Ref();
        v[i] = n ? static_cast<int>(small_value(n.get(), 0, 255)) : -1;
        if (v[i] < 0) {
            if (ok == 0 || n) {
                PyErr_Format(PyExc_ValueError, "%s%s%R", kNames[i], text::kArgumentRange, value);
            }
            return false;
        }
    }
    rgb = {v[0], v[1], v[2]};
    return true;
}

// nearest_256(r, g, b)
Ref nearest_256(PyObject* r, PyObject* g, PyObject* b)
{
    core::Rgb rgb;
    return rgb_arguments(r, g, b, rgb) ? Ref::steal(PyLong_FromLong(core::nearest_256(rgb)))
                                       : Ref();
}

// nearest_16(r, g, b)
Ref nearest_16(PyObject* r, PyObject* g, PyObject* b)
{
    core::Rgb rgb;
    return rgb_arguments(r, g, b, rgb) ? Ref::steal(PyLong_FromLong(core::nearest_16(rgb))) : Ref();
}

// ---------------------------------------------------------------------------
// The functions as data

constexpr FunctionDef paint_def{
    .name = "paint",
    .impl = bind<paint>("(text, style=None, /, *, level=None, stream=None) -> str"),
    .doc = text::kPaint,
    .line = 631,
};

constexpr FunctionDef echo_def{
    .name = "echo",
    .impl = bind<echo>("(text, style=None, /, *, file=None, end='\\n', flush=False) -> None"),
    .doc = text::kEcho,
    .line = 648,
};

constexpr FunctionDef link_def{
    .name = "link",
    .impl = bind<link>("(text, url, /, *, id=None, level=None, stream=None) -> str"),
    .doc = text::kLink,
    .line = 697,
};

constexpr FunctionDef strip_def{
    .name = "strip",
    .impl = bind<strip>("(text: str) -> str"),
    .doc = text::kStrip,
    .line = 716,
};

constexpr FunctionDef sanitize_def{
    .name = "sanitize",
    .impl = bind<sanitize>("(text: str) -> str"),
    .doc = text::kSanitize,
    .line = 740,
};

constexpr FunctionDef downgrade_def{
    .name = "downgrade",
    .impl = bind<downgrade>("(color, level, *, background=False) -> str"),
    .doc = text::kDowngrade,
    .line = 752,
};

constexpr FunctionDef nearest_256_def{
    .name = "nearest_256",
    .impl = bind<nearest_256>("(r: int, g: int, b: int) -> int"),
    .doc = text::kNearest256,
    .line = 774,
};

constexpr FunctionDef nearest_16_def{
    .name = "nearest_16",
    .impl = bind<nearest_16>("(r: int, g: int, b: int) -> int"),
    .doc = text::kNearest16,
    .line = 782,
};

// ---------------------------------------------------------------------------
// The module body

// import NAME as ALIAS, for a submodule NAME = PACKAGE.SHORT.
int import_as(Module& m, PyObject* name, PyObject* short_name, PyObject* alias)
{
    Ref top = import_module(name, m.state.dict.get());
    return m.set(alias, top ? import_from(top.get(), short_name) : Ref());
}

Ref attribute_names()
{
    Ref names = Ref::steal(PyTuple_New(kNumAttributes));
    for (Py_ssize_t i = 0; names && i < kNumAttributes; ++i) {
        PyTuple_SET_ITEM(names.get(), i, Ref::borrow(s_attribute[i].get()).release());
    }
    return names;
}

int make_index()
{
    Ref index = Ref::steal(PyDict_New());
    for (int i = 0; index && i < kNumAttributes; ++i) {
        Ref n = Ref::steal(PyLong_FromLong(i));
        if (!n || PyDict_SetItem(index.get(), s_attribute[i], n.get()) < 0) {
            return -1;
        }
    }
    return g.attribute_index.set(std::move(index)) != nullptr ? 0 : -1;
}

int body(Module& m)
{
    return m.import(str<"sys">) < 0 ||
                   import_as(m, str<"tintara.colors">, str<"colors">, str<"_colors">) < 0 ||
                   import_as(m, str<"tintara.styles">, str<"styles">, str<"_styles">) < 0 ||
                   import_as(m, str<"tintara.detect">, str<"detect">, str<"_detect">) < 0 ||
                   m.set(str<"ATTRIBUTES">, attribute_names()) < 0 || make_index() < 0 ||
                   make_pen_type(m) < 0 || m.set(str<"Style">, make_style_type(m)) < 0 ||
                   m.def(paint_def) < 0 || m.def(echo_def) < 0 || m.def(link_def) < 0 ||
                   m.def(strip_def) < 0 || m.def(sanitize_def) < 0 || m.def(downgrade_def) < 0 ||
                   m.def(nearest_256_def) < 0 || m.def(nearest_16_def) < 0
               ? -1
               : 0;
}

// ---------------------------------------------------------------------------
// What the shortcuts rely on

// The namespace of a module bound in ns, if it is a plain module.
PyObject* module_namespace(PyObject* ns, PyObject* name, Held& module)
{
    PyObject* found = PyDict_GetItemWithError(ns, name);
    module.set(Ref::borrow(found));
    return found != nullptr && PyModule_CheckExact(found) ? PyModule_GetDict(found) : nullptr;
}

// Every value of table passes plain(value): reading the table then runs no
// Python code, and what it gives cannot change in place.
bool all_plain(PyObject* table, bool (*plain)(PyObject*))
{
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(table, &pos, &key, &value)) {
        if (!plain(value)) {
            return false;
        }
    }
    return true;
}

// Parsing a style string reads _colors.COLOR_ALIASES, _colors.NAMED_COLORS
// and _styles.STYLES: the guard follows the namespaces they are read
// through and the tables, and holds while the tables hold plain values.
void follow(ModuleState& st)
{
    forget_parsed();
    PyObject* ns = st.dict.get();
    PyObject* colors = module_namespace(ns, str<"_colors">, g.colors);
    PyObject* styles = module_namespace(ns, str<"_styles">, g.styles);
    PyObject* named =
        colors != nullptr ? PyDict_GetItemWithError(colors, str<"NAMED_COLORS">) : nullptr;
    PyObject* aliases =
        colors != nullptr ? PyDict_GetItemWithError(colors, str<"COLOR_ALIASES">) : nullptr;
    PyObject* table = styles != nullptr ? PyDict_GetItemWithError(styles, str<"STYLES">) : nullptr;
    const bool plain =
        named != nullptr && aliases != nullptr && table != nullptr &&
        st.guard.arm({ns, colors, named, aliases, styles, table}) &&
        all_plain(named, [](PyObject* v) { return PyLong_CheckExact(v) != 0; }) &&
        all_plain(aliases, [](PyObject* v) { return PyUnicode_CheckExact(v) != 0; }) &&
        all_plain(table, [](PyObject* v) {
            return PyTuple_CheckExact(v) && PyTuple_GET_SIZE(v) == 2 &&
                   PyLong_CheckExact(PyTuple_GET_ITEM(v, 0)) &&
                   PyLong_CheckExact(PyTuple_GET_ITEM(v, 1));
        });
    if (!plain) {
        PyErr_Clear();
        st.guard.trip();
    }
}

const ModuleSpec kSpec{
    .short_name = "paint",
    .full_name = "tintara.paint",
    .file_name = "tintara/paint.py",
    .doc = text::kModule,
    .body = body,
    .shortcuts = follow,
};

}  // namespace
}  // namespace tintara::paint

PyMODINIT_FUNC PyInit_paint()
{
    return tintara::module_init(tintara::paint::kSpec, tintara::paint::g.frame);
}
