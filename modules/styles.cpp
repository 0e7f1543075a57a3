// tintara.styles: text styles and their on and off sequences.
#include "core/tables.hpp"
#include "frame/frame.hpp"
#include "modules/sequences.hpp"

namespace tintara::styles {
namespace {

// ---------------------------------------------------------------------------
// Docstrings and messages

namespace text {
constexpr const char* kModule =
    "ANSI 文本样式定义。\n\n支持: 粗体、暗色、斜体、下划线、闪烁、反显、隐藏、删除线等。\n";
constexpr const char* kStyleOn = "获取样式开启转义序列。";
constexpr const char* kStyleOff = "获取样式关闭转义序列。";
constexpr const char* kUnknownStyle = "未知样式: ";
constexpr const char* kAvailable = "。可用: ";
}  // namespace text

// ---------------------------------------------------------------------------
// Constants

// ---------------------------------------------------------------------------
// The module's state

struct State {
    ModuleState frame;
    Held codes[256];  // the sequence of each code, made once
};
State g;

// ---------------------------------------------------------------------------
// style_on(name), style_off(name)

// ", ".join(sorted(set(table)))
[[gnu::cold]] Ref raise_unknown_style(PyObject* name)
{
    Ref table = global(g.frame, str<"STYLES">);
    Ref names = table ? Ref::steal(PySet_New(table.get())) : Ref();
    Ref listed = names ? Ref::steal(PySequence_List(names.get())) : Ref();
    if (!listed || PyList_Sort(listed.get()) < 0) {
        return {};
    }
    Ref joined = Ref::steal(PyUnicode_Join(str<", ">, listed.get()));
    if (joined) {
        PyErr_Format(PyExc_ValueError, "%s%R%s%U", text::kUnknownStyle, name, text::kAvailable,
                     joined.get());
    }
    return {};
}

// ESC + STYLES[name][which] + "m", read from the module now.
[[gnu::noinline]] Ref style_sequence(PyObject* name, int which)
{
    Ref table = global(g.frame, str<"STYLES">);
    int known = table ? PySequence_Contains(table.get(), name) : -1;
    if (known <= 0) {
        return known < 0 ? Ref() : raise_unknown_style(name);
    }
    table = global(g.frame, str<"STYLES">);
    Ref entry = table ? Ref::steal(PyObject_GetItem(table.get(), name)) : Ref();
    Ref codes[2];
    if (!entry || unpack(entry.get(), codes, 2) < 0) {
        return {};
    }
    Ref esc = global(g.frame, str<"ESC">);
    if (!esc) {
        return {};
    }
    // The body's own ESC and a code 0..255: a sequence made once.
    if (const long code = small_int(codes[which].get()); code >= 0 && esc.get() == str<"\x1b[">) {
        return made_once(g.codes[code], "", code);
    }
    Text text;
    Ref keep[2];
    if (text.field(esc.get(), keep[0]) < 0 || text.field(codes[which].get(), keep[1]) < 0) {
        return {};
    }
    text.lit("m");
    return text.build();
}

// The sequence, from the compiled table while the guard holds.
Ref sequence(PyObject* name, int which)
{
    const auto n = static_cast<size_t>(PyUnicode_GET_LENGTH(name));
    const int i =
        g.frame.guard.holds() && PyUnicode_IS_ASCII(name)
            ? core::kStyleIndex.find(static_cast<const unsigned char*>(PyUnicode_DATA(name)), n)
            : -1;
    if (i < 0) {
        return style_sequence(name, which);
    }
    const int code = which == 0 ? core::kStyles[i].on : core::kStyles[i].off;
    return made_once(g.codes[code], "", code);
}

Ref style_on(StrArg name)
{
    return sequence(name, 0);
}

Ref style_off(StrArg name)
{
    return sequence(name, 1);
}

// ---------------------------------------------------------------------------
// The functions as data

constexpr FunctionDef style_on_def{
    .name = "style_on",
    .impl = bind<style_on>("(name: str) -> str"),
    .doc = text::kStyleOn,
    .line = 26,
};

constexpr FunctionDef style_off_def{
    .name = "style_off",
    .impl = bind<style_off>("(name: str) -> str"),
    .doc = text::kStyleOff,
    .line = 34,
};

// ---------------------------------------------------------------------------
// The module body

Ref reset_all(Module& m)
{
    Ref esc = m.get(str<"ESC">);
    Text text;
    Ref keep;
    if (!esc || text.field(esc.get(), keep) < 0) {
        return {};
    }
    text.lit("0m");
    return text.build();
}

Ref style_table()
{
    Ref table = Ref::steal(PyDict_New());
    for (const core::StyleCodes& s : core::kStyles) {
        Ref codes = Ref::steal(Py_BuildValue("(ii)", s.on, s.off));
        Ref name = Ref::steal(PyUnicode_FromStringAndSize(s.name.data(), std::ssize(s.name)));
        if (!table || !codes || !name || PyDict_SetItem(table.get(), name.get(), codes.get()) < 0) {
            return {};
        }
    }
    g.frame.guard.follow(table.get());  // from now on: while it holds, the table is as made
    return table;
}

int body(Module& m)
{
    return m.set(str<"ESC">, Ref::borrow(str<"\x1b[">)) < 0 ||
                   m.set(str<"RESET_ALL">, reset_all(m)) < 0 ||
                   m.set(str<"STYLES">, style_table()) < 0 || m.def(style_on_def) < 0 ||
                   m.def(style_off_def) < 0
               ? -1
               : 0;
}

// ---------------------------------------------------------------------------
// What the shortcuts rely on

// STYLES is followed since it was made; the namespace from now on, and it
// must bind the body's ESC and STYLES.
void follow(ModuleState& st)
{
    PyObject* ns = st.dict.get();
    if (!st.guard.arm({ns}) || PyDict_GetItemWithError(ns, str<"ESC">) != str<"\x1b[">.get() ||
        !st.guard.follows(PyDict_GetItemWithError(ns, str<"STYLES">))) {
        PyErr_Clear();
        st.guard.trip();
    }
}

const ModuleSpec kSpec{
    .short_name = "styles",
    .full_name = "tintara.styles",
    .file_name = "tintara/styles.py",
    .doc = text::kModule,
    .body = body,
    .shortcuts = follow,
};

}  // namespace
}  // namespace tintara::styles

PyMODINIT_FUNC PyInit_styles()
{
    return tintara::module_init(tintara::styles::kSpec, tintara::styles::g.frame);
}
