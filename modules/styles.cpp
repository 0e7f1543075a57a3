// tintara.styles: text styles and their on and off sequences.
#include "frame/frame.hpp"
#include "frame/watch.hpp"

namespace tintara::styles {
namespace {

ModuleState g_state;

Str s_ESC{"ESC"};
Str s_RESET_ALL{"RESET_ALL"};
Str s_STYLES{"STYLES"};
Str s_escape{"\x1b["};
Str s_comma{", "};

struct Style {
    const char* name;
    long on;
    long off;
};
constexpr Style kStyles[] = {
    {"bold", 1, 22},          {"dim", 2, 22},        {"italic", 3, 23},  {"underline", 4, 24},
    {"blink", 5, 25},         {"blink_fast", 6, 25}, {"reverse", 7, 27}, {"hidden", 8, 28},
    {"strikethrough", 9, 29}, {"strike", 9, 29},     {"conceal", 8, 28}, {"overline", 53, 55},
};

// ", ".join(sorted(set(table)))
[[gnu::cold]] Ref raise_unknown_style(const ModuleState& st, PyObject* name)
{
    Ref table = global(st, s_STYLES);
    Ref names = table ? Ref::steal(PySet_New(table.get())) : Ref();
    Ref listed = names ? Ref::steal(PySequence_List(names.get())) : Ref();
    if (!listed || PyList_Sort(listed.get()) < 0) {
        return {};
    }
    Ref joined = Ref::steal(PyUnicode_Join(s_comma, listed.get()));
    if (joined) {
        PyErr_Format(PyExc_ValueError, "%s%R%s%U", "未知样式: ", name, "。可用: ", joined.get());
    }
    return {};
}

// While the namespace binds what the body made (ESC the module's own str)
// and STYLES is a plain dict with str keys, a sequence depends only on the
// table's current entry, read from its mirror: (on, off) when both are ints
// 0..255.
Watched g_namespace;
Watched g_table;
Mirror g_mirror{[](PyObject* value, Mirror::Entry& e) {
    if (PyTuple_CheckExact(value) && PyTuple_GET_SIZE(value) == 2) {
        e.data[0] = small_int(PyTuple_GET_ITEM(value, 0));
        e.data[1] = small_int(PyTuple_GET_ITEM(value, 1));
    }
}};

Ref style_sequence(const ModuleState& st, PyObject* name, int which);

Ref quick_sequence(const ModuleState& st, PyObject* name, int which)
{
    static Held codes[256];
    if (g_namespace.holds() && g_table.holds()) {
        const Mirror::Entry* entry = g_mirror.find(Mirror::Key(name));
        const long code = entry != nullptr ? entry->data[which] : -1;
        if (code >= 0) {
            return sgr(codes[code], g_namespace.original(0), "", code);
        }
    }
    return style_sequence(st, name, which);
}

// ESC + STYLES[name][which] + "m"
Ref style_sequence(const ModuleState& st, PyObject* name, int which)
{
    Ref table = global(st, s_STYLES);
    if (!table) {
        return {};
    }
    int known = PySequence_Contains(table.get(), name);
    if (known <= 0) {
        return known < 0 ? Ref() : raise_unknown_style(st, name);
    }
    table = global(st, s_STYLES);
    Ref entry = table ? Ref::steal(PyObject_GetItem(table.get(), name)) : Ref();
    Ref codes[2];
    if (!entry || unpack(entry.get(), codes, 2) < 0) {
        return {};
    }
    Ref esc = global(st, s_ESC);
    if (!esc) {
        return {};
    }
    Text text;
    Ref keep[2];
    if (text.field(esc.get(), keep[0]) < 0 || text.field(codes[which].get(), keep[1]) < 0) {
        return {};
    }
    text.lit("m");
    return text.build();
}

Ref style_on(Function& self, StrArg name)
{
    return quick_sequence(*self.state, name, 0);
}
Ref style_off(Function& self, StrArg name)
{
    return quick_sequence(*self.state, name, 1);
}

constexpr Param kNameParam[] = {{.name = "name", .kind = Kind::ExactStr, .annotation = "str"}};

constexpr FunctionDef style_on_def{
    .name = "style_on",
    .params = kNameParam,
    .returns = "str",
    .doc = "获取样式开启转义序列。",
    .impl = bind<style_on>,
    .line = 26,
};

constexpr FunctionDef style_off_def{
    .name = "style_off",
    .params = kNameParam,
    .returns = "str",
    .doc = "获取样式关闭转义序列。",
    .impl = bind<style_off>,
    .line = 34,
};

Ref reset_all(Module& m)
{
    Ref esc = m.get(s_ESC);
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
    for (const Style& s : kStyles) {
        Ref codes = Ref::steal(Py_BuildValue("(ll)", s.on, s.off));
        if (!table || !codes || PyDict_SetItemString(table.get(), s.name, codes.get()) < 0) {
            return {};
        }
    }
    return table;
}

int body(Module& m)
{
    if (m.set(s_ESC, Ref::borrow(s_escape)) < 0 || m.set(s_RESET_ALL, reset_all(m)) < 0 ||
        m.set(s_STYLES, style_table()) < 0 || m.def(style_on_def) < 0 || m.def(style_off_def) < 0) {
        return -1;
    }
    // From here on the shortcuts may rely on what the body made.
    PyObject* const relied[] = {s_ESC, s_STYLES};
    if (g_namespace.follow(m.state.dict.get(), relied)) {
        g_table.follow(g_namespace.original(1), g_mirror);
    }
    return 0;
}

const ModuleSpec kSpec{
    .short_name = "styles",
    .full_name = "tintara.styles",
    .file_name = "tintara/styles.py",
    .doc = "ANSI 文本样式定义。\n\n支持: 粗体、暗色、斜体、下划线、闪烁、反显、隐藏、删除线等。\n",
    .body = body,
    .builtins = {},
};

}  // namespace
}  // namespace tintara::styles

PyMODINIT_FUNC PyInit_styles()
{
    return tintara::module_init(tintara::styles::kSpec, tintara::styles::g_state);
}
