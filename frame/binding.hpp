// Binding a call's arguments to an implementation's parameters.
//
// An implementation is a plain C++ function whose parameter types say what
// each argument must be:
//
//     Ref fg_code(PyObject* color);                     any object
//     Ref parse_hex(StrArg color);                      exactly str
//     Ref rgb_to_ansi256(IntArg r, IntArg g, IntArg b); coerced to int
//     Ref color_code(PyObject* color, bool foreground); a truth value
//     Ref codes(StyleObject& self, PyObject* level);    an instance of a type
//
// optionally after a leading Function& (for a nested function's closure).
// bind<impl>("(color, /, *, foreground: bool) -> str") reads the signature at
// compile time and checks it against those types: a signature that does not
// fit its implementation does not compile.
#pragma once

#include "frame/ref.hpp"
#include "frame/signature.hpp"

#include <cassert>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace tintara {

struct Function;

enum class Kind : uint8_t {
    Any,       // any object, unchanged
    ExactStr,  // exactly str; subclasses refused with a note
    Int,       // coerced to exact int through the number protocol
    Truth,     // reduced to True or False
    Self,      // an instance of the type the implementation names
};

// Arguments as an implementation receives them (borrowed).
struct StrArg {
    PyObject* obj;
    operator PyObject*() const noexcept { return obj; }  // NOLINT
};
struct IntArg {
    PyObject* obj;
    operator PyObject*() const noexcept { return obj; }  // NOLINT
};

// What the frame knows of one parameter's kind.
struct ParamKind {
    Kind kind = Kind::Any;
    PyTypeObject* (*type)() = nullptr;  // Kind::Self: the type its argument must have
};

// How the frame calls a function's own logic: made by bind<impl>(signature).
struct Binding {
    Signature signature;
    std::array<ParamKind, kMaxParams> kinds{};
    // Calls the logic with arguments bound and checked, in parameter order.
    Ref (*call)(Function& self, PyObject* const* args) = nullptr;
    // The whole call, for functions without keyword-only parameters: the
    // logic directly when every parameter is given by position and of its
    // kind's exact type, else bind_and_call().
    vectorcallfunc positional = nullptr;
};

// The general call: binds keywords, defaults and kinds with the
// interpreter's messages, then calls the logic.
PyObject* bind_and_call(PyObject* callable, PyObject* const* args, size_t nargsf,
                        PyObject* kwnames) noexcept;

// Adds the function's traceback entry to the exception being raised.
[[gnu::cold]] void add_traceback(const Function& f) noexcept;

// Called only where a signature does not fit its implementation (see
// malformed_signature()).
void signature_differs_from_implementation();

namespace detail {

template <typename T>
struct Arg;
template <>
struct Arg<PyObject*> {
    static constexpr ParamKind kind{Kind::Any};
    static bool exact(PyObject*) noexcept { return true; }
    static PyObject* from(PyObject* v) noexcept { return v; }
};
template <>
struct Arg<StrArg> {
    static constexpr ParamKind kind{Kind::ExactStr};
    static bool exact(PyObject* v) noexcept { return PyUnicode_CheckExact(v); }
    static StrArg from(PyObject* v) noexcept { return {v}; }
};
template <>
struct Arg<IntArg> {
    static constexpr ParamKind kind{Kind::Int};
    static bool exact(PyObject* v) noexcept { return PyLong_CheckExact(v); }
    static IntArg from(PyObject* v) noexcept { return {v}; }
};
template <>
struct Arg<bool> {
    static constexpr ParamKind kind{Kind::Truth};
    static bool exact(PyObject* v) noexcept { return v == Py_True || v == Py_False; }
    static bool from(PyObject* v) noexcept { return v == Py_True; }
};
// An object of a type of ours: T starts with PyObject_HEAD and says which
// type it is with `static PyTypeObject* type()`.
template <typename T>
requires std::is_class_v<T>
struct Arg<T&> {
    static constexpr ParamKind kind{Kind::Self, &T::type};
    static bool exact(PyObject* v) noexcept { return Py_IS_TYPE(v, T::type()); }
    static T& from(PyObject* v) noexcept { return *reinterpret_cast<T*>(v); }
};

// The annotation a kind's parameter must carry.
consteval std::string_view annotation_of(Kind kind)
{
    switch (kind) {
        case Kind::ExactStr:
            return "str";
        case Kind::Int:
            return "int";
        case Kind::Truth:
            return "bool";
        default:
            return {};
    }
}

template <auto F, bool WithSelf, typename... A>
struct Adaptor {
    static constexpr auto kIndexes = std::index_sequence_for<A...>{};

    template <size_t... I>
    static Ref invoke([[maybe_unused]] Function& self, [[maybe_unused]] PyObject* const* args,
                      std::index_sequence<I...>)
    {
        if constexpr (WithSelf) {
            return F(self, Arg<A>::from(args[I])...);
        } else {
            return F(Arg<A>::from(args[I])...);
        }
    }
    template <size_t... I>
    static bool exact([[maybe_unused]] PyObject* const* args, std::index_sequence<I...>) noexcept
    {
        return (Arg<A>::exact(args[I]) && ...);
    }
    static Ref call(Function& self, PyObject* const* args) { return invoke(self, args, kIndexes); }
    static PyObject* positional(PyObject* callable, PyObject* const* args, size_t nargsf,
                                PyObject* kwnames) noexcept
    {
        if (PyVectorcall_NARGS(nargsf) != sizeof...(A) || kwnames != nullptr ||
            !exact(args, kIndexes)) {
            return bind_and_call(callable, args, nargsf, kwnames);
        }
        Function& self = *reinterpret_cast<Function*>(callable);
        Ref result = invoke(self, args, kIndexes);
        if (!result) {
            add_traceback(self);
        }
        assert(!result || !PyErr_Occurred());
        return result.release();
    }

    static consteval Binding make(Signature signature)
    {
        Binding b{signature};
        constexpr ParamKind kinds[] = {Arg<A>::kind..., ParamKind{}};
        if (signature.size() != static_cast<int>(sizeof...(A))) {
            signature_differs_from_implementation();
        }
        for (int i = 0; i < signature.size(); ++i) {
            const std::string_view needed = annotation_of(kinds[i].kind);
            if (!needed.empty() && signature[i].annotation != needed) {
                signature_differs_from_implementation();
            }
            b.kinds[static_cast<size_t>(i)] = kinds[i];
        }
        b.call = call;
        b.positional = positional;
        return b;
    }
};

template <auto F, typename = decltype(F)>
struct Implementation;
template <auto F, typename... A>
struct Implementation<F, Ref (*)(Function&, A...)> : Adaptor<F, true, A...> {
};
template <auto F, typename... A>
requires(!std::is_same_v<std::remove_cvref_t<A>, Function> &&
         ...) struct Implementation<F, Ref (*)(A...)> : Adaptor<F, false, A...> {
};

}  // namespace detail

// The binding of an implementation to its signature: .impl = bind<fg_code>("(color) -> str").
template <auto F>
consteval Binding bind(Signature signature)
{
    return detail::Implementation<F>::make(signature);
}

}  // namespace tintara
