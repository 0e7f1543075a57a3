// tintara.colors: colour names, hex parsing, 256-colour approximation and
// the foreground and background escape sequences.
#include "core/tables.hpp"
#include "frame/frame.hpp"
#include "modules/colorarg.hpp"
#include "modules/sequences.hpp"

#include <cstring>

namespace tintara::colors {
namespace {

// ---------------------------------------------------------------------------
// Docstrings and messages

namespace text {
constexpr const char* kModule =
    "ANSI 颜色码定义与转换工具。\n\n支持:\n- 4/8 色基本颜色 (标准 + 高亮)\n- 256 色扩展调色板\n"
    "- 24 位真 RGB 色彩\n";
constexpr const char* kParseHex =
    "将十六进制颜色字符串解析为 (R, G, B) 元组。\n\n    支持 #RGB 和 #RRGGBB 格式。\n    ";
constexpr const char* kRgbToAnsi256 = "将 RGB 值近似映射到 256 色调色板索引。";
constexpr const char* kFgCode =
    "生成前景色 ANSI 转义序列。\n\n    参数:\n"
    "        color: 颜色名称 (如 'red')、十六进制字符串 (如 '#ff0000')、\n"
    "               256 色索引 (0-255)、或 RGB 元组 (r, g, b)。\n    ";
constexpr const char* kBgCode = "生成背景色 ANSI 转义序列。";
constexpr const char* kColorCode = "统一的颜色码生成逻辑。";
constexpr const char* kAvailable = "。可用: ";
}  // namespace text

// ---------------------------------------------------------------------------
// Constants

// ---------------------------------------------------------------------------
// The module's state

struct State {
    ModuleState frame;
    Held foreground;  // ("foreground",), the keyword of the call to _color_code
    // What the body made, which the generic path recognises by identity.
    Held hex_re;
    Held short_hex_re;
    // The sequences of palette indexes (foreground, background) and of named
    // colours' codes, made once each.
    Held indexes[2][256];
    Held codes[108];
};
State g;

// ---------------------------------------------------------------------------
// Shared pieces

// "#RRGGBB" (digits 6) or "#RGB" (digits 3), optionally followed by one
// line feed: exactly what the two compiled patterns match with re.match.
bool scan_hex(PyObject* s, size_t digits, int out[3])
{
    if (!PyUnicode_IS_ASCII(s)) {
        return false;
    }
    const auto* p = static_cast<const unsigned char*>(PyUnicode_DATA(s));
    auto n = static_cast<size_t>(PyUnicode_GET_LENGTH(s));
    if (n == digits + 2 && p[n - 1] == '\n') {
        --n;
    }
    return core::hex_components(p, n, digits, out);
}

Ref triple(const int rgb[3])
{
    Ref result = Ref::steal(PyTuple_New(3));
    for (Py_ssize_t i = 0; result && i < 3; ++i) {
        PyTuple_SET_ITEM(result.get(), i, PyLong_FromLong(rgb[i]));  // small ints: never fails
    }
    return result;
}

// Starts text with ESC, read from the module now and written as an
// f-string field; keep holds what the text refers to.  0 or -1.
int start_with_esc(Text& text, Ref (&keep)[2])
{
    keep[0] = global(g.frame, str<"ESC">);
    return keep[0] ? text.field(keep[0].get(), keep[1]) : -1;
}

// ESC + layer + ";2;" + r + ";" + g + ";" + b + "m".  Each component is
// written as the decimal text of its int value.
Ref rgb_sequence(const char* layer, Ref (&rgb)[3])
{
    static const char* const kParams[] = {"r", "g", "b"};
    Ref values[3];
    for (int i = 0; i < 3; ++i) {
        values[i] = coerce_int(rgb[i].get(), kParams[i]);
        if (!values[i]) {
            return {};
        }
    }
    Text text;
    Ref esc[2];
    Ref keep[3];
    if (start_with_esc(text, esc) < 0) {
        return {};
    }
    text.ascii(layer, 2);
    text.lit(";2;");
    for (int i = 0; i < 3; ++i) {
        if (i != 0) {
            text.lit(";");
        }
        if (text.integer(values[i].get(), keep[i]) < 0) {
            return {};
        }
    }
    text.lit("m");
    return text.build();
}

// "\x1b[38;2;" or "\x1b[48;2;" + r;g;b + "m" for components in 0..255,
// written straight into the result.
Ref rgb_sequence_direct(bool foreground, const int rgb[3])
{
    char out[32] = {'\x1b', '[', foreground ? '3' : '4', '8', ';', '2', ';'};
    int n = 7;
    for (int i = 0; i < 3; ++i) {
        const Text::ByteText& t = Text::byte_text(static_cast<unsigned>(rgb[i]));
        std::memcpy(out + n, t.text, 4);  // the table pads each entry to 4
        n += static_cast<int>(t.len);
        out[n++] = i < 2 ? ';' : 'm';
    }
    Ref result = Ref::steal(PyUnicode_New(n, 127));
    if (result) {
        std::memcpy(PyUnicode_DATA(result.get()), out, static_cast<size_t>(n));
    }
    return result;
}

// name.lower().replace("-", "_").replace(" ", "_"), without a call for an
// exact ASCII str (whose methods nobody can override).
Ref normalise(PyObject* color)
{
    if (PyUnicode_CheckExact(color) && PyUnicode_IS_ASCII(color)) {
        return colorarg::folded(color);
    }
    Ref lowered = call_method(color, str<"lower">);
    Ref dashed = lowered ? call_method(lowered.get(), str<"replace">, str<"-">, str<"_">) : Ref();
    return dashed ? call_method(dashed.get(), str<"replace">, str<" ">, str<"_">) : Ref();
}

[[gnu::cold]] Ref raise_unknown_color(PyObject* color, PyObject* table)
{
    Ref names = Ref::steal(PySequence_List(table));
    if (!names || PyList_Sort(names.get()) < 0) {
        return {};
    }
    Ref joined = Ref::steal(PyUnicode_Join(str<", ">, names.get()));
    if (joined) {
        PyErr_Format(PyExc_ValueError, "%s%R%s%U", colorarg::kUnknownName, color, text::kAvailable,
                     joined.get());
    }
    return {};
}

// The background code of a named colour: +10 below 40 and in 90..97, as
// Python compares.
Ref background(PyObject* code)
{
    Ref below = Ref::steal(PyObject_RichCompare(code, integer<40>, Py_LT));
    int shift = below ? truth(below.get()) : -1;
    if (shift == 0) {
        Ref low = Ref::steal(PyObject_RichCompare(integer<90>, code, Py_LE));
        shift = low ? truth(low.get()) : -1;
        if (shift == 1) {
            Ref high = Ref::steal(PyObject_RichCompare(code, integer<97>, Py_LE));
            shift = high ? truth(high.get()) : -1;
        }
    }
    if (shift < 0) {
        return {};
    }
    return shift ? Ref::steal(PyNumber_Add(code, integer<10>)) : Ref::borrow(code);
}

// 0 <= color <= 255, with Python's chained comparison for non-exact ints.
int palette_index_ok(PyObject* color)
{
    if (PyLong_CheckExact(color)) {
        return small_int(color) >= 0;
    }
    Ref low = Ref::steal(PyObject_RichCompare(integer<0>, color, Py_LE));
    int ok = low ? truth(low.get()) : -1;
    if (ok == 1) {
        Ref high = Ref::steal(PyObject_RichCompare(color, integer<255>, Py_LE));
        ok = high ? truth(high.get()) : -1;
    }
    return ok;
}

// ---------------------------------------------------------------------------
// parse_hex(color)

Ref hex_digits_generic(PyObject* match, bool long_form)
{
    Ref h = call_method(match, str<"group">, integer<1>);
    if (!h) {
        return {};
    }
    Ref items[3];
    for (Py_ssize_t i = 0; i < 3; ++i) {
        Ref digits = long_form ? Ref::steal(PySequence_GetSlice(h.get(), 2 * i, 2 * i + 2)) : Ref();
        if (!long_form) {
            Ref digit = Ref::steal(PySequence_GetItem(h.get(), i));
            digits = digit ? Ref::steal(PyNumber_Multiply(digit.get(), integer<2>)) : Ref();
        }
        if (!digits) {
            return {};
        }
        PyObject* args[] = {digits.get(), integer<16>};
        items[i] = Ref::steal(
            PyObject_Vectorcall(reinterpret_cast<PyObject*>(&PyLong_Type), args, 2, nullptr));
        if (!items[i]) {
            return {};
        }
    }
    return Ref::steal(PyTuple_Pack(3, items[0].get(), items[1].get(), items[2].get()));
}

// Tries one pattern; returns the triple, an empty Ref with no exception for
// "no match", or an empty Ref with an exception.  The pattern the body
// compiled (immutable) matches what scan_hex does.
Ref try_pattern(PyObject* name, const Held& made, PyObject* color, bool long_form)
{
    Ref pattern = global(g.frame, name);
    if (!pattern) {
        return {};
    }
    if (pattern.get() == made.get()) {
        int rgb[3];
        return scan_hex(color, long_form ? 6 : 3, rgb) ? triple(rgb) : Ref();
    }
    Ref match = call_method(pattern.get(), str<"match">, color);
    int matched = match ? truth(match.get()) : -1;
    if (matched <= 0) {
        return {};
    }
    return hex_digits_generic(match.get(), long_form);
}

Ref parse_hex(StrArg color)
{
    int quick[3];
    if (g.frame.guard.holds() && (scan_hex(color, 6, quick) || scan_hex(color, 3, quick))) {
        return triple(quick);
    }
    // Each step asks afresh: a rebound _HEX_RE's match may change the rest.
    Ref rgb = try_pattern(str<"_HEX_RE">, g.hex_re, color, true);
    if (!rgb && !PyErr_Occurred()) {
        rgb = try_pattern(str<"_SHORT_HEX_RE">, g.short_hex_re, color, false);
    }
    if (!rgb && !PyErr_Occurred()) {
        raise_repr(PyExc_ValueError, colorarg::kBadHex, color, colorarg::kBadHexTail);
    }
    return rgb;
}

// ---------------------------------------------------------------------------
// _validate_rgb(r, g, b)

Ref validate_rgb(IntArg r, IntArg g, IntArg b)
{
    static const char* const kLetters[] = {"R", "G", "B"};
    PyObject* const rgb[] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        // Both bounds on an exact int: nothing to override.
        if (small_int(rgb[i]) < 0) {
            PyErr_Format(PyExc_ValueError, "%s%s%R", kLetters[i], colorarg::kComponentRange,
                         rgb[i]);
            return {};
        }
    }
    return Ref::borrow(Py_None);
}

// ---------------------------------------------------------------------------
// rgb_to_ansi256(r, g, b)

long clamp_component(PyObject* v)
{
    if (const long x = small_int(v); x >= 0) {
        return x;  // the common case, read without a call
    }
    int overflow = 0;
    long x = PyLong_AsLongAndOverflow(v, &overflow);
    if (overflow != 0) {
        return overflow > 0 ? 255 : 0;
    }
    return x < 0 ? 0 : (x > 255 ? 255 : x);
}

// round() of a non-negative double: to nearest, ties to even.
constexpr long round_half_even(double x)
{
    auto whole = static_cast<long>(x);  // truncation is floor here
    const double fraction = x - static_cast<double>(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0)) {
        ++whole;
    }
    return whole;
}

// For each component value: its grey index (when all three are equal) and
// its level in the 6x6x6 cube, worked out once with the same double
// arithmetic.
struct Palette {
    unsigned char grey[256]{};
    unsigned char level[256]{};
    constexpr Palette()
    {
        for (int c = 0; c < 256; ++c) {
            grey[c] = static_cast<unsigned char>(
                c < 8     ? 16
                : c > 248 ? 231
                          : round_half_even((static_cast<double>(c - 8) / 247.0) * 24.0) + 232);
            level[c] =
                static_cast<unsigned char>(round_half_even((static_cast<double>(c) / 255.0) * 5.0));
        }
    }
};
constexpr Palette kPalette;

Ref rgb_to_ansi256(IntArg r, IntArg g, IntArg b)
{
    // Components outside 0..255 are clamped first, so the result is always
    // an index of the palette.
    const long red = clamp_component(r);
    const long green = clamp_component(g);
    const long blue = clamp_component(b);
    if (red == green && green == blue) {
        return Ref::steal(PyLong_FromLong(kPalette.grey[red]));
    }
    return Ref::steal(PyLong_FromLong(16 + 36 * kPalette.level[red] + 6 * kPalette.level[green] +
                                      kPalette.level[blue]));
}

// ---------------------------------------------------------------------------
// _color_code(color, *, foreground)

extern const FunctionDef validate_rgb_def;

Ref tuple_code(PyObject* color, const char* layer)
{
    Ref rgb[3];
    if (unpack(color, rgb, 3) < 0) {
        return {};
    }
    Ref validate = global(g.frame, str<"_validate_rgb">);
    if (!validate) {
        return {};
    }
    // The module's own validator accepts in-range exact ints silently.
    const bool valid = is_function_of(validate.get(), validate_rgb_def) &&
                       small_int(rgb[0].get()) >= 0 && small_int(rgb[1].get()) >= 0 &&
                       small_int(rgb[2].get()) >= 0;
    if (!valid) {
        PyObject* args[] = {rgb[0].get(), rgb[1].get(), rgb[2].get()};
        Ref ignored = Ref::steal(PyObject_Vectorcall(validate.get(), args, 3, nullptr));
        if (!ignored) {
            return {};
        }
    }
    return rgb_sequence(layer, rgb);
}

Ref index_code(PyObject* color, const char* layer)
{
    int ok = palette_index_ok(color);
    if (ok <= 0) {
        if (ok == 0) {
            PyErr_Format(PyExc_ValueError, "%s%S", colorarg::kIndexRange, color);
        }
        return {};
    }
    Text text;
    Ref esc[2];
    Ref keep;
    if (start_with_esc(text, esc) < 0) {
        return {};
    }
    text.ascii(layer, 2);
    text.lit(";5;");
    if (text.integer(color, keep) < 0) {
        return {};
    }
    text.lit("m");
    return text.build();
}

Ref hex_code(PyObject* color, const char* layer)
{
    Ref parse = global(g.frame, str<"parse_hex">);
    Ref parsed = parse ? Ref::steal(PyObject_Vectorcall(parse.get(), &color, 1, nullptr)) : Ref();
    Ref rgb[3];
    if (!parsed || unpack(parsed.get(), rgb, 3) < 0) {
        return {};
    }
    return rgb_sequence(layer, rgb);
}

Ref name_code(PyObject* color, bool foreground)
{
    Ref name = normalise(color);
    Ref aliases = name ? global(g.frame, str<"COLOR_ALIASES">) : Ref();
    if (!aliases) {
        return {};
    }
    if (PyDict_CheckExact(aliases.get())) {
        PyObject* target = nullptr;
        int found = PyDict_GetItemRef(aliases.get(), name.get(), &target);
        if (found < 0) {
            return {};
        }
        if (found) {
            name = Ref::steal(target);
        }
    } else if (!(name = call_method(aliases.get(), str<"get">, name.get(), name.get()))) {
        return {};
    }
    Ref table = global(g.frame, str<"NAMED_COLORS">);
    int known = table ? PySequence_Contains(table.get(), name.get()) : -1;
    if (known <= 0) {
        return known < 0 ? Ref() : raise_unknown_color(color, table.get());
    }
    table = global(g.frame, str<"NAMED_COLORS">);  // read again at its second use
    Ref code = table ? Ref::steal(PyObject_GetItem(table.get(), name.get())) : Ref();
    if (code && !foreground) {
        code = background(code.get());
    }
    Text text;
    Ref esc[2];
    Ref keep;
    if (!code || start_with_esc(text, esc) < 0) {
        return {};
    }
    // An int code (an IntEnum member too) is written as its decimal value;
    // anything else a caller stored is formatted as an f-string would.
    if ((PyLong_Check(code.get()) ? text.integer(code.get(), keep) : text.field(code.get(), keep)) <
        0) {
        return {};
    }
    text.lit("m");
    return text.build();
}

Ref color_code(PyObject* color, bool foreground)
{
    const char* layer = foreground ? "38" : "48";
    if (PyTuple_Check(color)) {
        return tuple_code(color, layer);
    }
    if (PyLong_Check(color)) {
        return index_code(color, layer);
    }
    if (!PyUnicode_Check(color)) {
        raise_type_named(PyExc_TypeError, colorarg::kUnsupportedType, color);
        return {};
    }
    int is_hex;
    if (PyUnicode_CheckExact(color)) {
        is_hex = PyUnicode_GET_LENGTH(color) > 0 && PyUnicode_READ_CHAR(color, 0) == '#';
    } else {
        Ref starts = call_method(color, str<"startswith">, str<"#">);
        is_hex = starts ? truth(starts.get()) : -1;
    }
    if (is_hex < 0) {
        return {};
    }
    return is_hex ? hex_code(color, layer) : name_code(color, foreground);
}

// ---------------------------------------------------------------------------
// fg_code(color), bg_code(color)

// The sequence of color while the guard holds, from the tables the body
// built the module from; empty without an exception where only the generic
// path can tell (it raises, or the argument is not of a plain type).
Ref quick_sequence(PyObject* color, bool foreground)
{
    int rgb[3];
    if (PyLong_CheckExact(color)) {
        const long n = small_int(color);
        return n < 0 ? Ref()
                     : made_once(g.indexes[foreground][n], foreground ? "38;5;" : "48;5;", n);
    }
    if (PyTuple_CheckExact(color)) {
        return PyTuple_GET_SIZE(color) == 3 &&
                       (rgb[0] = static_cast<int>(small_int(PyTuple_GET_ITEM(color, 0)))) >= 0 &&
                       (rgb[1] = static_cast<int>(small_int(PyTuple_GET_ITEM(color, 1)))) >= 0 &&
                       (rgb[2] = static_cast<int>(small_int(PyTuple_GET_ITEM(color, 2)))) >= 0
                   ? rgb_sequence_direct(foreground, rgb)
                   : Ref();
    }
    // Only an ASCII name can be found here; any other str may still lower
    // to one, which the generic path finds.
    if (!PyUnicode_CheckExact(color) || !PyUnicode_IS_ASCII(color)) {
        return {};
    }
    const auto* text = static_cast<const unsigned char*>(PyUnicode_DATA(color));
    const auto n = static_cast<size_t>(PyUnicode_GET_LENGTH(color));
    if (n > 0 && text[0] == '#') {
        return scan_hex(color, 6, rgb) || scan_hex(color, 3, rgb)
                   ? rgb_sequence_direct(foreground, rgb)
                   : Ref();
    }
    int code = core::kColorCodes.find(text, n, true);
    if (code < 0) {
        return {};
    }
    code += !foreground && core::shifts_to_background(code) ? 10 : 0;
    return made_once(g.codes[code], "", code);
}

[[gnu::cold]] Ref raise_not_str(const Ref& result)
{
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(result.get())));
    if (name) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200U", "str", name.get());
    }
    return {};
}

Ref layer_code(PyObject* color, bool foreground)
{
    Ref result = g.frame.guard.holds() ? quick_sequence(color, foreground) : Ref();
    if (result || PyErr_Occurred()) {
        return result;
    }
    Ref fn = global(g.frame, str<"_color_code">);
    if (!fn) {
        return {};
    }
    PyObject* args[] = {color, foreground ? Py_True : Py_False};
    result = Ref::steal(PyObject_Vectorcall(fn.get(), args, 1, g.foreground.get()));
    if (!result || PyUnicode_CheckExact(result.get()) || result.get() == Py_None) {
        return result;
    }
    return raise_not_str(result);
}

Ref fg_code(PyObject* color)
{
    return layer_code(color, true);
}

Ref bg_code(PyObject* color)
{
    return layer_code(color, false);
}

// ---------------------------------------------------------------------------
// The functions as data

constexpr FunctionDef parse_hex_def{
    .name = "parse_hex",
    .impl = bind<parse_hex>("(color: str) -> Tuple[int, int, int]"),
    .doc = text::kParseHex,
    .locals = "h",
    .line = 57,
};

constexpr FunctionDef rgb_to_ansi256_def{
    .name = "rgb_to_ansi256",
    .impl = bind<rgb_to_ansi256>("(r: int, g: int, b: int) -> int"),
    .doc = text::kRgbToAnsi256,
    .line = 73,
};

constexpr FunctionDef fg_code_def{
    .name = "fg_code",
    .impl = bind<fg_code>("(color: str | int | Tuple[int, int, int]) -> str"),
    .doc = text::kFgCode,
    .line = 88,
};

constexpr FunctionDef bg_code_def{
    .name = "bg_code",
    .impl = bind<bg_code>("(color: str | int | Tuple[int, int, int]) -> str"),
    .doc = text::kBgCode,
    .line = 98,
};

constexpr FunctionDef color_code_def{
    .name = "_color_code",
    .impl =
        bind<color_code>("(color: str | int | Tuple[int, int, int], *, foreground: bool) -> str"),
    .doc = text::kColorCode,
    .locals = "r g b name code",
    .line = 103,
};

constexpr FunctionDef validate_rgb_def{
    .name = "_validate_rgb",
    .impl = bind<validate_rgb>("(r: int, g: int, b: int) -> None"),
    .line = 140,
};

// ---------------------------------------------------------------------------
// The module body

Ref reset_sequence(const char* tail)
{
    Text text;
    Ref esc[2];
    if (start_with_esc(text, esc) < 0) {
        return {};
    }
    text.ascii(tail, 3);
    return text.build();
}

// The tables, made from the compiled ones and followed by the guard from
// then on: while it holds, they are what those say.
Ref named_colors()
{
    Ref table = Ref::steal(PyDict_New());
    for (const core::NamedColor& c : core::kNamedColors) {
        Ref name = Ref::steal(PyUnicode_FromStringAndSize(c.name.data(), std::ssize(c.name)));
        Ref code = Ref::steal(PyLong_FromLong(c.code));
        if (!table || !name || !code || PyDict_SetItem(table.get(), name.get(), code.get()) < 0) {
            return {};
        }
    }
    g.frame.guard.follow(table.get());
    return table;
}

Ref color_aliases()
{
    Ref table = Ref::steal(PyDict_New());
    for (const core::Alias& a : core::kAliases) {
        Ref alias = Ref::steal(PyUnicode_FromStringAndSize(a.alias.data(), std::ssize(a.alias)));
        Ref target = Ref::steal(PyUnicode_FromStringAndSize(a.target.data(), std::ssize(a.target)));
        if (!table || !alias || !target ||
            PyDict_SetItem(table.get(), alias.get(), target.get()) < 0) {
            return {};
        }
    }
    g.frame.guard.follow(table.get());
    return table;
}

Ref compile(Module& m, PyObject* pattern, Held& made)
{
    Ref re = m.get(str<"re">);
    Ref compile = re ? attr(re.get(), str<"compile">) : Ref();
    Ref compiled = compile ? call(compile.get(), pattern) : Ref();
    made.set(compiled.dup());
    return compiled;
}

int body(Module& m)
{
    PyObject* const typing_names[] = {str<"Optional">, str<"Tuple">};
    PyObject* const foreground[] = {str<"foreground">};
    if ((!g.foreground && g.foreground.set(tuple_of(foreground)) == nullptr) ||
        m.import(str<"re">) < 0 || m.from_import(str<"typing">, typing_names) < 0 ||
        m.set(str<"ESC">, Ref::borrow(str<"\x1b[">)) < 0 ||
        m.set(str<"RESET_FG">, reset_sequence("39m")) < 0 ||
        m.set(str<"RESET_BG">, reset_sequence("49m")) < 0 ||
        m.set(str<"NAMED_COLORS">, named_colors()) < 0 ||
        m.set(str<"COLOR_ALIASES">, color_aliases()) < 0 ||
        m.set(str<"_HEX_RE">, compile(m, str<"^#([0-9a-fA-F]{6})$">, g.hex_re)) < 0 ||
        m.set(str<"_SHORT_HEX_RE">, compile(m, str<"^#([0-9a-fA-F]{3})$">, g.short_hex_re)) < 0 ||
        m.def(parse_hex_def) < 0 || m.def(rgb_to_ansi256_def) < 0 || m.def(fg_code_def) < 0 ||
        m.def(bg_code_def) < 0 || m.def(color_code_def) < 0 || m.def(validate_rgb_def) < 0) {
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// What the shortcuts rely on

// A compiled pattern of re (its type cannot be made from Python) that the
// body made.
bool is_pattern(PyObject* value, const Held& made)
{
    return value != nullptr && value == made.get() &&
           PyType_HasFeature(Py_TYPE(value), Py_TPFLAGS_IMMUTABLETYPE) &&
           std::string_view(Py_TYPE(value)->tp_name) == "re.Pattern";
}

// The tables are followed since they were made; the namespace from now on,
// and it must bind what the body made.  Its look-ups run no Python code
// once the guard is armed: every key is an exact str.
void follow(ModuleState& st)
{
    PyObject* ns = st.dict.get();
    auto bound = [ns](PyObject* name) { return PyDict_GetItemWithError(ns, name); };
    const bool as_made = st.guard.arm({ns}) && bound(str<"ESC">) == str<"\x1b[">.get() &&
                         st.guard.follows(bound(str<"NAMED_COLORS">)) &&
                         st.guard.follows(bound(str<"COLOR_ALIASES">)) &&
                         is_pattern(bound(str<"_HEX_RE">), g.hex_re) &&
                         is_pattern(bound(str<"_SHORT_HEX_RE">), g.short_hex_re) &&
                         is_function_of(bound(str<"parse_hex">), parse_hex_def) &&
                         is_function_of(bound(str<"_validate_rgb">), validate_rgb_def) &&
                         is_function_of(bound(str<"_color_code">), color_code_def);
    if (!as_made) {
        PyErr_Clear();
        st.guard.trip();
    }
}

constexpr const char* kBuiltins[] = {"round"};

const ModuleSpec kSpec{
    .short_name = "colors",
    .full_name = "tintara.colors",
    .file_name = "tintara/colors.py",
    .doc = text::kModule,
    .body = body,
    .builtins = kBuiltins,
    .shortcuts = follow,
};

}  // namespace
}  // namespace tintara::colors

PyMODINIT_FUNC PyInit_colors()
{
    return tintara::module_init(tintara::colors::kSpec, tintara::colors::g.frame);
}
