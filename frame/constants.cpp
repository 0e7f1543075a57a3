// The str and int constants of module sources, made when a module body
// starts.
#include "frame/constants.hpp"

namespace tintara {

namespace {
Str*& str_head() noexcept
{
    static Str* head = nullptr;
    return head;
}
Int*& int_head() noexcept
{
    static Int* head = nullptr;
    return head;
}
}  // namespace

Str::Str(const char* utf8) noexcept : text_(utf8), next_(str_head())
{
    str_head() = this;
}
Int::Int(long value) noexcept : value_(value), next_(int_head())
{
    int_head() = this;
}

int make_constants()
{
    // The empty tuple, bytes and str come first; the interpreter keeps them
    // immortal, so asking for them is only a check that they exist.
    Ref empty_tuple = Ref::steal(PyTuple_New(0));
    Ref empty_bytes = Ref::steal(PyBytes_FromStringAndSize("", 0));
    Ref empty_str = Ref::steal(PyUnicode_FromStringAndSize("", 0));
    if (!empty_tuple || !empty_bytes || !empty_str) {
        return -1;
    }
    for (Str* s = str_head(); s != nullptr; s = s->next_) {
        if (s->obj_) {
            continue;  // made by an earlier, failed import: still valid
        }
        if (s->obj_.set(Ref::steal(PyUnicode_InternFromString(s->text_))) == nullptr) {
            return -1;
        }
    }
    for (Int* i = int_head(); i != nullptr; i = i->next_) {
        if (!i->obj_ && i->obj_.set(Ref::steal(PyLong_FromLong(i->value_))) == nullptr) {
            return -1;
        }
    }
    return 0;
}

}  // namespace tintara
