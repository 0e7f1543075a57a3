// The module frame shared by tintara's extension modules.
//
// A module source declares its constants (Str, Int), describes each function
// as data (FunctionDef), and writes its module body as a sequence of Module
// calls.  The frame owns everything around that: module creation, argument
// binding and its messages, function objects, traceback entries.
#pragma once

#include "frame/ref.hpp"

#include <array>
#include <cstdint>
#include <span>

namespace tintara {

// ---------------------------------------------------------------------------
// Constants created when a module body starts (and kept for the process's
// lifetime).  Declare them at namespace scope; they register themselves.

class Str {
public:
    explicit Str(const char* utf8) noexcept;
    [[nodiscard]] PyObject* get() const noexcept { return obj_; }
    // A Str is a borrowed constant, so lending it implicitly is safe.
    operator PyObject*() const noexcept { return obj_; }  // NOLINT
    [[nodiscard]] const char* text() const noexcept { return text_; }

private:
    friend int make_constants();
    const char* text_;
    PyObject* obj_ = nullptr;
    Str* next_;
};

class Int {
public:
    explicit Int(long value) noexcept;
    [[nodiscard]] PyObject* get() const noexcept { return obj_; }
    operator PyObject*() const noexcept { return obj_; }  // NOLINT

private:
    friend int make_constants();
    long value_;
    PyObject* obj_ = nullptr;
    Int* next_;
};

// Creates every registered constant.  0 on success, -1 with an exception.
int make_constants();

// ---------------------------------------------------------------------------
// Module state: process-wide, static, never torn down.

struct ModuleState {
    const char* short_name;  // "colors"
    const char* full_name;   // "tintara.colors"
    const char* file_name;   // "tintara/colors.py"
    int64_t interpreter = -1;
    PyObject* module = nullptr;
    PyObject* dict = nullptr;           // the namespace functions read (owned)
    PyObject* builtins = nullptr;       // the builtins module
    PyObject* builtins_dict = nullptr;  // and its namespace
};

// ---------------------------------------------------------------------------
// Functions as data.

enum class Kind : uint8_t {
    Any,       // any object, unchanged
    ExactStr,  // exactly str; subclasses refused with a note
    Int,       // coerced to exact int through the number protocol
    Truth,     // reduced to True or False
};

struct Param {
    const char* name;
    Kind kind;
    bool keyword_only;
    bool default_none;       // the only default the modules use is None
    const char* annotation;  // nullptr: not annotated
};

inline constexpr int kMaxParams = 4;

struct Function;
// The function's own logic: receives bound, checked arguments (borrowed, in
// parameter order) and returns a new reference or nullptr with an exception.
using Impl = PyObject* (*)(Function& self, PyObject* const* args);

struct FunctionDef {
    const char* name;
    const char* qualname = nullptr;  // nullptr: same as name
    std::span<const Param> params = {};
    const char* returns;  // return annotation, nullptr: none
    const char* doc;      // nullptr: __doc__ is None
    Impl impl;
    std::span<const char* const> locals = {};    // further local names for __code__
    std::span<const char* const> freevars = {};  // names read from the closure
    std::span<const char* const> cellvars = {};  // names a nested function reads
    int line;                                    // line of the traceback entries

    // Made when first needed.
    mutable PyObject* names[kMaxParams] = {};
    mutable PyObject* code = nullptr;   // __code__
    mutable PyObject* trace = nullptr;  // code of the traceback entries
    mutable PyObject* py_qualname = nullptr;
    mutable PyObject* py_name = nullptr;
};

// A function object of the frame.
struct Function {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FunctionDef* def;
    ModuleState* state;
    PyObject* closure;  // a tuple for nested functions, else nullptr
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* defaults;
    PyObject* kwdefaults;
    PyObject* annotations;
    PyObject* dict;
    PyObject* weaklist;
};

// Creates a function object for def; closure (may be null) is borrowed.
Ref make_function(ModuleState& state, const FunctionDef& def, PyObject* closure);

// Adds def's traceback entry to the exception being raised.
void add_traceback(const ModuleState& state, const FunctionDef& def) noexcept;

// ---------------------------------------------------------------------------
// Module definitions.

struct Module;
using Body = int (*)(Module& m);

struct ModuleSpec {
    const char* short_name;
    const char* full_name;
    const char* file_name;
    const char* doc;
    Body body;
    std::span<const char* const> builtins;  // built-ins the module uses
};

// What PyInit_<name> returns.
PyObject* module_init(const ModuleSpec& spec, ModuleState& state) noexcept;

// The module body's view of the module under construction.
struct Module {
    ModuleState& state;

    // Binds name to value (a new reference, or empty on failure: then the
    // failure is passed on).  Returns 0 or -1.
    int set(PyObject* name, Ref value);
    // The attribute name, read back from the module namespace.
    Ref get(PyObject* name) const;
    // import NAME (absolute), bound as NAME.
    int import(PyObject* name);
    // from MODULE import NAME, ... ; binds each name in turn.
    int from_import(PyObject* module, std::span<PyObject* const> names);
    // Creates the function object of def and binds it under its name.
    int def(const FunctionDef& def);
};

// ---------------------------------------------------------------------------
// Runtime helpers for function bodies.  Each returns an empty Ref (or -1)
// with an exception set on failure.

// A module global: the module namespace, then the built-ins, else NameError.
Ref global(const ModuleState& state, PyObject* name);

// obj.name(args...)
Ref call_method(PyObject* obj, PyObject* name);
Ref call_method(PyObject* obj, PyObject* name, PyObject* arg);
Ref call_method(PyObject* obj, PyObject* name, PyObject* arg1, PyObject* arg2);
Ref call(PyObject* callable, PyObject* arg);
Ref attr(PyObject* obj, PyObject* name);

// truth value of obj: 1, 0 or -1.
inline int truth(PyObject* obj)
{
    return PyObject_IsTrue(obj);
}
// a == b / a != b as truth values.
int equal(PyObject* a, PyObject* b);

// import NAME (absolute) and from MODULE import NAME semantics.
Ref import_module(PyObject* name, PyObject* globals);
Ref import_from(PyObject* module, PyObject* name);

// Unpacks obj into exactly n items (n <= 3), with the interpreter's
// messages.  Exact tuples and lists by length, anything else by iteration.
int unpack(PyObject* obj, Ref* out, Py_ssize_t n);

// int(value) coercion of an int parameter; param names the parameter in the
// "has incorrect type" message.
Ref coerce_int(PyObject* value, const char* param);

// The text of obj as an f-string field without format spec makes it.
Ref field_text(PyObject* obj);

// An exact int in 0..255, else -1.
inline long small_int(PyObject* v)
{
    int overflow = 0;
    const long x = PyLong_CheckExact(v) ? PyLong_AsLongAndOverflow(v, &overflow) : -1;
    return overflow == 0 && x >= 0 && x <= 255 ? x : -1;
}

// esc + mid + the decimal text of n + "m", made into slot the first time and
// handed out again after (a new reference, or null with an exception): for
// sequences that depend on nothing but n, esc being a str that never changes.
PyObject* sgr(PyObject*& slot, PyObject* esc, const char* mid, long n);

// Raises TypeError "Argument 'NAME' has incorrect type (...)", with the
// subclass note when obj's type is a subclass of expected.
[[gnu::cold]] void raise_incorrect_type(const char* param, PyTypeObject* expected, PyObject* obj);

// ---------------------------------------------------------------------------
// Building result strings from pieces without intermediate objects.

class Text {
public:
    // An exact str; it must stay alive until build().
    void str(PyObject* s) noexcept
    {
        all_ascii_ = all_ascii_ && PyUnicode_IS_ASCII(s);
        add({s, nullptr, PyUnicode_GET_LENGTH(s)});
    }
    void ascii(const char* s, Py_ssize_t n) noexcept { add({nullptr, s, n}); }
    template <Py_ssize_t N>
    void lit(const char (&s)[N]) noexcept
    {
        ascii(s, N - 1);
    }
    // The decimal text of 0..255.
    void byte(unsigned v) noexcept { ascii(kByteText[v].text, kByteText[v].len); }
    // The decimal text of a machine integer.
    void number(long long v) noexcept;
    // The decimal text of any int instance (subclass overrides ignored), or
    // str() of anything else.  0 or -1.
    int integer(PyObject* obj, Ref& keep);
    // The f-string field text of obj.  0 or -1.
    int field(PyObject* obj, Ref& keep);
    // The finished str, or empty with an exception.
    Ref build();

    struct ByteText {
        char text[4];
        Py_ssize_t len;
    };
    [[nodiscard]] static const ByteText& byte_text(unsigned v) noexcept { return kByteText[v]; }

private:
    static const std::array<ByteText, 256> kByteText;
    static constexpr int kMaxPieces = 12;
    struct Piece {
        PyObject* str;
        const char* ascii;
        Py_ssize_t len;
    };
    Piece pieces_[kMaxPieces];
    char digits_[4 * 24];
    int digits_used_ = 0;
    int count_ = 0;
    Py_ssize_t length_ = 0;
    bool all_ascii_ = true;
    bool overflow_ = false;
    void add(Piece p) noexcept
    {
        if (count_ == kMaxPieces || p.len > PY_SSIZE_T_MAX - length_) {
            overflow_ = true;
            return;
        }
        pieces_[count_++] = p;
        length_ += p.len;
    }
};

}  // namespace tintara
