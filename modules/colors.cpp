// tintara.colors: colour names, hex parsing, 256-colour approximation and
// the foreground and background escape sequences.
#include "frame/frame.hpp"
#include "frame/watch.hpp"

#include <array>
#include <cstring>

namespace tintara::colors {
namespace {

ModuleState g_state;

// ---------------------------------------------------------------------------
// Constants

Str s_re{"re"};
Str s_compile{"compile"};
Str s_typing{"typing"};
Str s_Optional{"Optional"};
Str s_Tuple{"Tuple"};
Str s_ESC{"ESC"};
Str s_RESET_FG{"RESET_FG"};
Str s_RESET_BG{"RESET_BG"};
Str s_NAMED_COLORS{"NAMED_COLORS"};
Str s_COLOR_ALIASES{"COLOR_ALIASES"};
Str s__HEX_RE{"_HEX_RE"};
Str s__SHORT_HEX_RE{"_SHORT_HEX_RE"};
Str s_parse_hex{"parse_hex"};
Str s__validate_rgb{"_validate_rgb"};
Str s__color_code{"_color_code"};
Str s_foreground{"foreground"};
Str s_match{"match"};
Str s_group{"group"};
Str s_startswith{"startswith"};
Str s_lower{"lower"};
Str s_replace{"replace"};
Str s_get{"get"};
Str s_escape{"\x1b["};
Str s_hash{"#"};
Str s_dash{"-"};
Str s_space{" "};
Str s_underscore{"_"};
Str s_comma{", "};
Str s_hex_pattern{"^#([0-9a-fA-F]{6})$"};
Str s_short_hex_pattern{"^#([0-9a-fA-F]{3})$"};

Int i_0{0};
Int i_1{1};
Int i_2{2};
Int i_10{10};
Int i_16{16};
Int i_40{40};
Int i_90{90};
Int i_97{97};
Int i_255{255};

struct NamedColor {
    const char* name;
    long code;
};
constexpr NamedColor kNamedColors[] = {
    {"black", 30},        {"red", 31},
    {"green", 32},        {"yellow", 33},
    {"blue", 34},         {"magenta", 35},
    {"cyan", 36},         {"white", 37},
    {"bright_black", 90}, {"bright_red", 91},
    {"bright_green", 92}, {"bright_yellow", 93},
    {"bright_blue", 94},  {"bright_magenta", 95},
    {"bright_cyan", 96},  {"bright_white", 97},
};

struct Alias {
    const char* alias;
    const char* target;
};
constexpr Alias kAliases[] = {
    {"grey", "bright_black"},        {"gray", "bright_black"},
    {"purple", "magenta"},           {"bright_grey", "bright_black"},
    {"bright_gray", "bright_black"}, {"bright_purple", "bright_magenta"},
};

// What the shortcuts rely on: the namespace still binds what the body made
// (ESC the module's own str), and the two tables are plain dicts with str
// keys.  While that holds, a sequence depends only on its argument and the
// tables' current entries, which are then read without running Python code.
enum Relied {
    r_ESC,
    r_NAMED_COLORS,
    r_COLOR_ALIASES,
    r_HEX_RE,
    r_SHORT_HEX_RE,
    r_parse_hex,
    r_validate_rgb,
    r_color_code
};
Watched g_namespace;
Watched g_named;
Watched g_aliases;
// The tables' entries: a code 0..255; an alias's target (an ASCII str) and
// the hash of its key.
Mirror g_named_mirror{[](PyObject* value, Mirror::Entry& e) { e.data[0] = small_int(value); }};
Mirror g_alias_mirror{[](PyObject* value, Mirror::Entry& e) {
    if (!PyUnicode_CheckExact(value)) {
        return;
    }
    const Mirror::Key target(value);
    if (target.n >= 0) {
        e.kept = Ref::borrow(value).release();
        e.data[0] = 0;
        e.data[1] = static_cast<long>(target.hash);
    }
}};
Held g_foreground;  // ("foreground",)

bool pristine()
{
    return g_namespace.holds() && g_named.holds() && g_aliases.holds();
}

PyObject* original(Relied r)
{
    return g_namespace.original(r);
}

// ---------------------------------------------------------------------------
// Shared pieces

// "#RRGGBB" (digits 6) or "#RGB" (digits 3), optionally followed by one
// line feed: exactly what the two compiled patterns match with re.match.
bool scan_hex(PyObject* s, int digits, long out[3])
{
    if (!PyUnicode_IS_ASCII(s)) {
        return false;
    }
    const auto* p = static_cast<const unsigned char*>(PyUnicode_DATA(s));
    Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    if (n == digits + 2 && p[n - 1] == '\n') {
        --n;
    }
    if (n != digits + 1 || p[0] != '#') {
        return false;
    }
    // The digits tested once, not one by one.
    int v[6];
    int bad = 0;
    for (int i = 0; i < digits; ++i) {
        v[i] = kHexValue[p[1 + i]];
        bad |= v[i];
    }
    if (bad < 0) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = digits == 6 ? v[2 * i] * 16 + v[2 * i + 1] : v[i] * 17;
    }
    return true;
}

Ref triple(const long rgb[3])
{
    Ref result = Ref::steal(PyTuple_New(3));
    for (Py_ssize_t i = 0; result && i < 3; ++i) {
        Ref item = Ref::steal(PyLong_FromLong(rgb[i]));
        if (!item) {
            return {};
        }
        PyTuple_SET_ITEM(result.get(), i, item.release());
    }
    return result;
}

// ESC + layer + ";2;" + r + ";" + g + ";" + b + "m".  Each component is
// written as the decimal text of its int value.
Ref rgb_sequence(const ModuleState& st, const char* layer, Ref (&rgb)[3])
{
    static const char* const kParams[] = {"r", "g", "b"};
    Ref values[3];
    for (int i = 0; i < 3; ++i) {
        values[i] = coerce_int(rgb[i].get(), kParams[i]);
        if (!values[i]) {
            return {};
        }
    }
    Ref esc = global(st, s_ESC);
    if (!esc) {
        return {};
    }
    Text text;
    Ref keep[4];
    if (text.field(esc.get(), keep[0]) < 0) {
        return {};
    }
    text.ascii(layer, 2);
    text.lit(";2;");
    for (int i = 0; i < 3; ++i) {
        if (i != 0) {
            text.lit(";");
        }
        if (text.integer(values[i].get(), keep[i + 1]) < 0) {
            return {};
        }
    }
    text.lit("m");
    return text.build();
}

// ESC + "38;2;" or "48;2;" + r;g;b + "m" for an ASCII ESC and components
// in 0..255, written straight into the result.
Ref rgb_sequence_direct(PyObject* esc, bool foreground, const long rgb[3])
{
    if (!PyUnicode_IS_ASCII(esc)) {
        Text text;
        text.str(esc);
        text.ascii(foreground ? "38;2;" : "48;2;", 5);
        for (int i = 0; i < 3; ++i) {
            if (i != 0) {
                text.lit(";");
            }
            text.byte(static_cast<unsigned>(rgb[i]));
        }
        text.lit("m");
        return text.build();
    }
    char digits[16];
    int n = 0;
    for (int i = 0; i < 3; ++i) {
        const Text::ByteText& t = Text::byte_text(static_cast<unsigned>(rgb[i]));
        std::memcpy(digits + n, t.text, 4);  // the table pads each entry to 4
        n += static_cast<int>(t.len);
        digits[n++] = i < 2 ? ';' : 'm';
    }
    const Py_ssize_t esc_len = PyUnicode_GET_LENGTH(esc);
    if (esc_len > PY_SSIZE_T_MAX - 5 - n) {
        PyErr_SetString(PyExc_OverflowError, "join() result is too long for a Python string");
        return {};
    }
    Ref result = Ref::steal(PyUnicode_New(esc_len + 5 + n, 127));
    if (!result) {
        return result;
    }
    auto* out = static_cast<char*>(PyUnicode_DATA(result.get()));
    std::memcpy(out, PyUnicode_DATA(esc), static_cast<size_t>(esc_len));
    out += esc_len;
    std::memcpy(out, foreground ? "38;2;" : "48;2;", 5);
    std::memcpy(out + 5, digits, static_cast<size_t>(n));
    return result;
}

// name.lower().replace("-", "_").replace(" ", "_"), done in place for an
// exact ASCII str (whose methods nobody can override).
Ref normalise(PyObject* color)
{
    if (PyUnicode_CheckExact(color) && PyUnicode_IS_ASCII(color)) {
        const auto* p = static_cast<const unsigned char*>(PyUnicode_DATA(color));
        const Py_ssize_t n = PyUnicode_GET_LENGTH(color);
        Py_ssize_t i = 0;
        while (i < n && !(p[i] >= 'A' && p[i] <= 'Z') && p[i] != '-' && p[i] != ' ') {
            ++i;
        }
        if (i == n) {
            return Ref::borrow(color);
        }
        Ref out = Ref::steal(PyUnicode_New(n, 127));
        if (!out) {
            return out;
        }
        auto* q = static_cast<unsigned char*>(PyUnicode_DATA(out.get()));
        for (Py_ssize_t j = 0; j < n; ++j) {
            unsigned char c = p[j];
            q[j] = (c >= 'A' && c <= 'Z')   ? static_cast<unsigned char>(c | 0x20)
                   : (c == '-' || c == ' ') ? '_'
                                            : c;
        }
        return out;
    }
    Ref lowered = call_method(color, s_lower);
    Ref dashed = lowered ? call_method(lowered.get(), s_replace, s_dash, s_underscore) : Ref();
    return dashed ? call_method(dashed.get(), s_replace, s_space, s_underscore) : Ref();
}

// ", ".join(sorted(keys of table))
Ref sorted_names(PyObject* table)
{
    Ref names = Ref::steal(PySequence_List(table));
    if (!names || PyList_Sort(names.get()) < 0) {
        return {};
    }
    return Ref::steal(PyUnicode_Join(s_comma, names.get()));
}

[[gnu::cold]] Ref raise_unknown_color(PyObject* color, PyObject* table)
{
    Ref names = sorted_names(table);
    if (names) {
        PyErr_Format(PyExc_ValueError, "%s%R%s%U", "未知颜色名称: ", color,
                     "。可用: ", names.get());
    }
    return {};
}

// The background code of a named colour: +10 below 40 and in 90..97.
Ref background(PyObject* code)
{
    if (PyLong_CheckExact(code)) {
        int overflow = 0;
        long v = PyLong_AsLongAndOverflow(code, &overflow);
        if (overflow == 0 && (v < 40 || (v >= 90 && v <= 97))) {
            return Ref::steal(PyLong_FromLong(v + 10));
        }
        if (overflow < 0) {
            return Ref::steal(PyNumber_Add(code, i_10));
        }
        return Ref::borrow(code);
    }
    Ref below = Ref::steal(PyObject_RichCompare(code, i_40, Py_LT));
    int shift = below ? truth(below.get()) : -1;
    if (shift == 0) {
        Ref low = Ref::steal(PyObject_RichCompare(i_90, code, Py_LE));
        shift = low ? truth(low.get()) : -1;
        if (shift == 1) {
            Ref high = Ref::steal(PyObject_RichCompare(code, i_97, Py_LE));
            shift = high ? truth(high.get()) : -1;
        }
    }
    if (shift < 0) {
        return {};
    }
    return shift ? Ref::steal(PyNumber_Add(code, i_10)) : Ref::borrow(code);
}

// 0 <= color <= 255, with Python's chained comparison for non-exact ints.
int palette_index_ok(PyObject* color)
{
    if (PyLong_CheckExact(color)) {
        return small_int(color) >= 0;
    }
    Ref low = Ref::steal(PyObject_RichCompare(i_0, color, Py_LE));
    int ok = low ? truth(low.get()) : -1;
    if (ok == 1) {
        Ref high = Ref::steal(PyObject_RichCompare(color, i_255, Py_LE));
        ok = high ? truth(high.get()) : -1;
    }
    return ok;
}

// ---------------------------------------------------------------------------
// parse_hex(color)

Ref hex_digits_generic(PyObject* match, bool long_form)
{
    Ref h = call_method(match, s_group, i_1);
    if (!h) {
        return {};
    }
    Ref items[3];
    for (Py_ssize_t i = 0; i < 3; ++i) {
        Ref digits = long_form ? Ref::steal(PySequence_GetSlice(h.get(), 2 * i, 2 * i + 2)) : Ref();
        if (!long_form) {
            Ref digit = Ref::steal(PySequence_GetItem(h.get(), i));
            digits = digit ? Ref::steal(PyNumber_Multiply(digit.get(), i_2)) : Ref();
        }
        if (!digits) {
            return {};
        }
        PyObject* args[] = {digits.get(), i_16};
        items[i] = Ref::steal(
            PyObject_Vectorcall(reinterpret_cast<PyObject*>(&PyLong_Type), args, 2, nullptr));
        if (!items[i]) {
            return {};
        }
    }
    return Ref::steal(PyTuple_Pack(3, items[0].get(), items[1].get(), items[2].get()));
}

// Tries one pattern; returns the triple, an empty Ref with no exception for
// "no match", or an empty Ref with an exception.  The pattern made at import
// matches what scan_hex does.
Ref try_pattern(const ModuleState& st, PyObject* name, PyObject* original, PyObject* color,
                bool long_form)
{
    Ref pattern = global(st, name);
    if (!pattern) {
        return {};
    }
    if (pattern.get() == original) {
        long rgb[3];
        return scan_hex(color, long_form ? 6 : 3, rgb) ? triple(rgb) : Ref();
    }
    Ref match = call_method(pattern.get(), s_match, color);
    int matched = match ? truth(match.get()) : -1;
    if (matched <= 0) {
        return {};
    }
    return hex_digits_generic(match.get(), long_form);
}

Ref parse_hex(Function& self, StrArg color)
{
    const ModuleState& st = *self.state;
    long fast[3];
    if (pristine() && (scan_hex(color, 6, fast) || scan_hex(color, 3, fast))) {
        return triple(fast);
    }
    // Each step asks afresh: a rebound _HEX_RE's match may change the rest.
    Ref rgb = try_pattern(st, s__HEX_RE, original(r_HEX_RE), color, true);
    if (!rgb && !PyErr_Occurred()) {
        rgb = try_pattern(st, s__SHORT_HEX_RE, original(r_SHORT_HEX_RE), color, false);
    }
    if (!rgb && !PyErr_Occurred()) {
        PyErr_Format(PyExc_ValueError, "%s%R%s", "无法解析十六进制颜色: ", color,
                     "，期望格式 #RGB 或 #RRGGBB");
    }
    return rgb;
}

// ---------------------------------------------------------------------------
// _validate_rgb(r, g, b)

Ref validate_rgb(Function&, IntArg r, IntArg g, IntArg b)
{
    static const char* const kLetters[] = {"R", "G", "B"};
    PyObject* const rgb[] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        // Both bounds on an exact int: nothing to override.
        if (small_int(rgb[i]) < 0) {
            PyErr_Format(PyExc_ValueError, "%s%s%R", kLetters[i],
                         " 分量须在 0-255 范围内，收到: ", rgb[i]);
            return {};
        }
    }
    return Ref::borrow(Py_None);
}

// ---------------------------------------------------------------------------
// rgb_to_ansi256(r, g, b)

long clamp_component(PyObject* v)
{
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

Ref rgb_to_ansi256(Function&, IntArg r, IntArg g, IntArg b)
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

Ref color_code(Function& self, PyObject* color, bool foreground)
{
    const ModuleState& st = *self.state;
    const char* layer = foreground ? "38" : "48";

    if (PyTuple_Check(color)) {
        Ref rgb[3];
        if (unpack(color, rgb, 3) < 0) {
            return {};
        }
        Ref validate = global(st, s__validate_rgb);
        if (!validate) {
            return {};
        }
        // The module's own validator accepts in-range exact ints silently.
        bool valid = validate.get() == original(r_validate_rgb) && small_int(rgb[0].get()) >= 0 &&
                     small_int(rgb[1].get()) >= 0 && small_int(rgb[2].get()) >= 0;
        if (!valid) {
            PyObject* args[] = {rgb[0].get(), rgb[1].get(), rgb[2].get()};
            Ref ignored = Ref::steal(PyObject_Vectorcall(validate.get(), args, 3, nullptr));
            if (!ignored) {
                return {};
            }
        }
        return rgb_sequence(st, layer, rgb);
    }

    if (PyLong_Check(color)) {
        int ok = palette_index_ok(color);
        if (ok < 0) {
            return {};
        }
        if (ok == 0) {
            PyErr_Format(PyExc_ValueError, "%s%S", "256 色索引须在 0-255 范围内，收到: ", color);
            return {};
        }
        Ref esc = global(st, s_ESC);
        if (!esc) {
            return {};
        }
        Text text;
        Ref keep[2];
        if (text.field(esc.get(), keep[0]) < 0) {
            return {};
        }
        text.ascii(layer, 2);
        text.lit(";5;");
        if (text.integer(color, keep[1]) < 0) {
            return {};
        }
        text.lit("m");
        return text.build();
    }

    if (!PyUnicode_Check(color)) {
        Ref name = Ref::steal(PyType_GetName(Py_TYPE(color)));
        if (name) {
            PyErr_Format(PyExc_TypeError, "%s%U", "不支持的颜色类型: ", name.get());
        }
        return {};
    }

    int is_hex;
    if (PyUnicode_CheckExact(color)) {
        is_hex = PyUnicode_GET_LENGTH(color) > 0 && PyUnicode_READ_CHAR(color, 0) == '#';
    } else {
        Ref starts = call_method(color, s_startswith, s_hash);
        is_hex = starts ? truth(starts.get()) : -1;
    }
    if (is_hex < 0) {
        return {};
    }

    if (is_hex) {
        Ref parse = global(st, s_parse_hex);
        Ref parsed =
            parse ? Ref::steal(PyObject_Vectorcall(parse.get(), &color, 1, nullptr)) : Ref();
        Ref rgb[3];
        if (!parsed || unpack(parsed.get(), rgb, 3) < 0) {
            return {};
        }
        return rgb_sequence(st, layer, rgb);
    }

    Ref name = normalise(color);
    if (!name) {
        return {};
    }
    Ref aliases = global(st, s_COLOR_ALIASES);
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
    } else {
        name = call_method(aliases.get(), s_get, name.get(), name.get());
        if (!name) {
            return {};
        }
    }
    Ref table = global(st, s_NAMED_COLORS);
    if (!table) {
        return {};
    }
    int known = PySequence_Contains(table.get(), name.get());
    if (known <= 0) {
        return known < 0 ? Ref() : raise_unknown_color(color, table.get());
    }
    table = global(st, s_NAMED_COLORS);  // read again at its second use
    Ref code = table ? Ref::steal(PyObject_GetItem(table.get(), name.get())) : Ref();
    if (code && !foreground) {
        code = background(code.get());
    }
    if (!code) {
        return {};
    }
    Ref esc = global(st, s_ESC);
    if (!esc) {
        return {};
    }
    Text text;
    Ref keep[2];
    if (text.field(esc.get(), keep[0]) < 0) {
        return {};
    }
    // An int code (an IntEnum member too) is written as its decimal value;
    // anything else a caller stored is formatted as an f-string would.
    if ((PyLong_Check(code.get()) ? text.integer(code.get(), keep[1])
                                  : text.field(code.get(), keep[1])) < 0) {
        return {};
    }
    text.lit("m");
    return text.build();
}

// ---------------------------------------------------------------------------
// fg_code(color), bg_code(color)

[[gnu::cold]] Ref raise_not_str(const Ref& result)
{
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(result.get())));
    if (name) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200U", "str", name.get());
    }
    return {};
}

// Each byte of a name as _color_code normalises it: A-Z lowered, '-' and
// ' ' turned into '_'.
constexpr auto kFold = [] {
    std::array<unsigned char, 128> fold{};
    for (int c = 0; c < 128; ++c) {
        fold[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z'   ? c | 0x20
                                             : c == '-' || c == ' ' ? '_'
                                                                    : c);
    }
    return fold;
}();

// The NAMED_COLORS code of a name, normalised and resolved through
// COLOR_ALIASES on the tables' mirrors; -1 where only the generic path can
// tell (not ASCII, too long to bother, unknown, or an entry not plain).
long named_code(PyObject* color)
{
    const Mirror::Key name(color, kFold.data());
    const Mirror::Entry* e = g_alias_mirror.find(name);
    if (e != nullptr) {
        e = e->data[0] < 0
                ? nullptr
                : g_named_mirror.find(Mirror::Key(e->kept, static_cast<uint64_t>(e->data[1])));
    } else {
        e = g_named_mirror.find(name);
    }
    return e != nullptr ? e->data[0] : -1;
}

// The sequence of color while the module is pristine, or null without an
// exception where only the generic path can tell (it raises, or it formats
// something other than a plain int).
Ref quick_sequence(PyObject* color, bool foreground)
{
    static Held indexes[2][256];
    static Held codes[266];
    PyObject* esc = original(r_ESC);
    long rgb[3];
    if (PyLong_CheckExact(color)) {
        const long n = small_int(color);
        return n < 0 ? Ref() : sgr(indexes[foreground][n], esc, foreground ? "38;5;" : "48;5;", n);
    }
    if (PyTuple_CheckExact(color)) {
        return PyTuple_GET_SIZE(color) == 3 &&
                       (rgb[0] = small_int(PyTuple_GET_ITEM(color, 0))) >= 0 &&
                       (rgb[1] = small_int(PyTuple_GET_ITEM(color, 1))) >= 0 &&
                       (rgb[2] = small_int(PyTuple_GET_ITEM(color, 2))) >= 0
                   ? rgb_sequence_direct(esc, foreground, rgb)
                   : Ref();
    }
    if (!PyUnicode_CheckExact(color)) {
        return {};
    }
    if (PyUnicode_GET_LENGTH(color) > 0 && PyUnicode_READ_CHAR(color, 0) == '#') {
        return scan_hex(color, 6, rgb) || scan_hex(color, 3, rgb)
                   ? rgb_sequence_direct(esc, foreground, rgb)
                   : Ref();
    }
    long n = named_code(color);
    if (n < 0) {
        return {};
    }
    n += !foreground && (n < 40 || (n >= 90 && n <= 97)) ? 10 : 0;
    return sgr(codes[n], esc, "", n);
}

Ref layer_code(const ModuleState& st, PyObject* color, bool foreground)
{
    Ref result = pristine() ? quick_sequence(color, foreground) : Ref();
    if (result || PyErr_Occurred()) {
        return result;
    }
    Ref fn = global(st, s__color_code);
    if (!fn) {
        return {};
    }
    PyObject* args[] = {color, foreground ? Py_True : Py_False};
    result = Ref::steal(PyObject_Vectorcall(fn.get(), args, 1, g_foreground.get()));
    if (!result || PyUnicode_CheckExact(result.get()) || result.get() == Py_None) {
        return result;
    }
    return raise_not_str(result);
}

Ref fg_code(Function& self, PyObject* color)
{
    return layer_code(*self.state, color, true);
}
Ref bg_code(Function& self, PyObject* color)
{
    return layer_code(*self.state, color, false);
}

// ---------------------------------------------------------------------------
// The functions as data

constexpr const char* kColorSpec = "str | int | Tuple[int, int, int]";
constexpr Param kColorParam[] = {{.name = "color", .annotation = kColorSpec}};
constexpr Param kHexParam[] = {{.name = "color", .kind = Kind::ExactStr, .annotation = "str"}};
constexpr Param kRgbParams[] = {
    {.name = "r", .kind = Kind::Int, .annotation = "int"},
    {.name = "g", .kind = Kind::Int, .annotation = "int"},
    {.name = "b", .kind = Kind::Int, .annotation = "int"},
};
constexpr Param kColorCodeParams[] = {
    {.name = "color", .annotation = kColorSpec},
    {.name = "foreground", .kind = Kind::Truth, .keyword_only = true, .annotation = "bool"},
};
constexpr const char* kParseHexLocals[] = {"h"};
constexpr const char* kColorCodeLocals[] = {"r", "g", "b", "name", "code"};

constexpr FunctionDef parse_hex_def{
    .name = "parse_hex",
    .params = kHexParam,
    .returns = "Tuple[int, int, int]",
    .doc = "将十六进制颜色字符串解析为 (R, G, B) 元组。\n\n    支持 #RGB 和 #RRGGBB 格式。\n    ",
    .impl = bind<parse_hex>,
    .locals = kParseHexLocals,
    .line = 57,
};

constexpr FunctionDef rgb_to_ansi256_def{
    .name = "rgb_to_ansi256",
    .params = kRgbParams,
    .returns = "int",
    .doc = "将 RGB 值近似映射到 256 色调色板索引。",
    .impl = bind<rgb_to_ansi256>,
    .line = 73,
};

constexpr FunctionDef fg_code_def{
    .name = "fg_code",
    .params = kColorParam,
    .returns = "str",
    .doc =
        "生成前景色 ANSI 转义序列。\n\n    参数:\n"
        "        color: 颜色名称 (如 'red')、十六进制字符串 (如 '#ff0000')、\n"
        "               256 色索引 (0-255)、或 RGB 元组 (r, g, b)。\n    ",
    .impl = bind<fg_code>,
    .line = 88,
};

constexpr FunctionDef bg_code_def{
    .name = "bg_code",
    .params = kColorParam,
    .returns = "str",
    .doc = "生成背景色 ANSI 转义序列。",
    .impl = bind<bg_code>,
    .line = 98,
};

constexpr FunctionDef color_code_def{
    .name = "_color_code",
    .params = kColorCodeParams,
    .returns = "str",
    .doc = "统一的颜色码生成逻辑。",
    .impl = bind<color_code>,
    .locals = kColorCodeLocals,
    .line = 103,
};

constexpr FunctionDef validate_rgb_def{
    .name = "_validate_rgb",
    .params = kRgbParams,
    .returns = "None",
    .doc = nullptr,
    .impl = bind<validate_rgb>,
    .line = 140,
};

// ---------------------------------------------------------------------------
// The module body

Ref reset_sequence(Module& m, const char* tail)
{
    Ref esc = m.get(s_ESC);
    if (!esc) {
        return esc;
    }
    Text text;
    Ref keep;
    if (text.field(esc.get(), keep) < 0) {
        return {};
    }
    text.ascii(tail, 3);
    return text.build();
}

Ref named_colors()
{
    Ref table = Ref::steal(PyDict_New());
    for (const NamedColor& c : kNamedColors) {
        Ref code = Ref::steal(PyLong_FromLong(c.code));
        if (!table || !code || PyDict_SetItemString(table.get(), c.name, code.get()) < 0) {
            return {};
        }
    }
    return table;
}

Ref color_aliases()
{
    Ref table = Ref::steal(PyDict_New());
    for (const Alias& a : kAliases) {
        Ref target = Ref::steal(PyUnicode_InternFromString(a.target));
        if (!table || !target || PyDict_SetItemString(table.get(), a.alias, target.get()) < 0) {
            return {};
        }
    }
    return table;
}

Ref compile(Module& m, PyObject* pattern)
{
    Ref re = m.get(s_re);
    Ref compile = re ? attr(re.get(), s_compile) : Ref();
    return compile ? call(compile.get(), pattern) : Ref();
}

int body(Module& m)
{
    PyObject* const typing_names[] = {s_Optional, s_Tuple};
    PyObject* const foreground[] = {s_foreground};
    if ((!g_foreground && g_foreground.set(tuple_of(foreground)) == nullptr) ||
        m.import(s_re) < 0 || m.from_import(s_typing, typing_names) < 0 ||
        m.set(s_ESC, Ref::borrow(s_escape)) < 0 ||
        m.set(s_RESET_FG, reset_sequence(m, "39m")) < 0 ||
        m.set(s_RESET_BG, reset_sequence(m, "49m")) < 0 ||
        m.set(s_NAMED_COLORS, named_colors()) < 0 || m.set(s_COLOR_ALIASES, color_aliases()) < 0 ||
        m.set(s__HEX_RE, compile(m, s_hex_pattern)) < 0 ||
        m.set(s__SHORT_HEX_RE, compile(m, s_short_hex_pattern)) < 0 || m.def(parse_hex_def) < 0 ||
        m.def(rgb_to_ansi256_def) < 0 || m.def(fg_code_def) < 0 || m.def(bg_code_def) < 0 ||
        m.def(color_code_def) < 0 || m.def(validate_rgb_def) < 0) {
        return -1;
    }
    // From here on the shortcuts may rely on what the body made.
    PyObject* const relied[] = {s_ESC,           s_NAMED_COLORS, s_COLOR_ALIASES, s__HEX_RE,
                                s__SHORT_HEX_RE, s_parse_hex,    s__validate_rgb, s__color_code};
    if (g_namespace.follow(m.state.dict.get(), relied)) {
        g_named.follow(original(r_NAMED_COLORS), g_named_mirror);
        g_aliases.follow(original(r_COLOR_ALIASES), g_alias_mirror);
    }
    return 0;
}

constexpr const char* kBuiltins[] = {"round"};

const ModuleSpec kSpec{
    .short_name = "colors",
    .full_name = "tintara.colors",
    .file_name = "tintara/colors.py",
    .doc =
        "ANSI 颜色码定义与转换工具。\n\n支持:\n- 4/8 色基本颜色 (标准 + 高亮)\n- 256 色扩展调色板\n"
        "- 24 位真 RGB 色彩\n",
    .body = body,
    .builtins = kBuiltins,
};

}  // namespace
}  // namespace tintara::colors

PyMODINIT_FUNC PyInit_colors()
{
    return tintara::module_init(tintara::colors::kSpec, tintara::colors::g_state);
}
