// Pen: a style bound to a level.
#include "modules/paint/pen.hpp"

#include "frame/type.hpp"
#include "modules/paint/messages.hpp"
#include "modules/paint/state.hpp"
#include "modules/paint/styled.hpp"
#include "modules/paint/templates.hpp"

#include <new>

namespace tintara::paint {

namespace {

struct PenData {
    Ref style;  // a Style
    Ref level;  // a ColorLevel
    Ref prefix;
    Ref suffix;
    int n = 0;          // the level, 0-3
    core::Paint paint;  // views of the style's codes at the level: nothing at 0
};

struct PenObject {
    PyObject_HEAD vectorcallfunc vectorcall;
    PenData d;
    static PyTypeObject* type() noexcept
    {
        return reinterpret_cast<PyTypeObject*>(g.pen_type.get());
    }
};

PenObject& as_pen(PyObject* obj)
{
    return *reinterpret_cast<PenObject*>(obj);
}

// pen(text)
Ref pen_styled(PenObject& pen, PyObject* text)
{
    Ref s = text_at(text, pen.d.n);
    return s ? styled(s.get(), pen.d.paint) : Ref();
}

// pen(text), called through Pen.__call__
Ref pen_call(PenObject& self, PyObject* text)
{
    return pen_styled(self, text);
}

constexpr FunctionDef pen_call_def{
    .name = "__call__",
    .qualname = "Pen.__call__",
    .impl = bind<pen_call>("(self, text)"),
    .doc = text::kPenCall,
    .line = 602,
};

// pen.__reduce__(): its style bound at its level.
Ref pen_reduce(PenObject& self)
{
    Ref op = import_module(str<"operator">, g.frame.dict.get());
    Ref methodcaller = op ? attr(op.get(), str<"methodcaller">) : Ref();
    Ref name = Ref::steal(PyTuple_Pack(1, str<"bind">.get()));
    Ref kwargs = Ref::steal(Py_BuildValue("{O:i}", str<"level">.get(), self.d.n));
    Ref bind = methodcaller && name && kwargs
                   ? Ref::steal(PyObject_Call(methodcaller.get(), name.get(), kwargs.get()))
                   : Ref();
    return bind ? Ref::steal(Py_BuildValue("(O(O))", bind.get(), self.d.style.get())) : Ref();
}

constexpr FunctionDef pen_copy_def{
    .name = "__copy__",
    .qualname = "Pen.__copy__",
    .impl = bind<itself>("(self)"),
    .line = 610,
};

constexpr FunctionDef pen_deepcopy_def{
    .name = "__deepcopy__",
    .qualname = "Pen.__deepcopy__",
    .impl = bind<itself_memo>("(self, memo, /)"),
    .line = 613,
};

constexpr FunctionDef pen_reduce_def{
    .name = "__reduce__",
    .qualname = "Pen.__reduce__",
    .impl = bind<pen_reduce>("(self)"),
    .line = 616,
};

// A call with one argument by position goes straight to the logic; any
// other through Pen.__call__, which binds it.
PyObject* pen_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    if (PyVectorcall_NARGS(nargsf) == 1 && kwnames == nullptr) {
        PyObject* result = pen_styled(as_pen(self), args[0]).release();
        if (result == nullptr) {
            add_traceback(*reinterpret_cast<Function*>(g.pen_call.get()));
        }
        return result;
    }
    return construct_vectorcall(g.pen_call.get(), self, args, nargsf, kwnames);
}

// ---------------------------------------------------------------------------
// The type's slots

int pen_traverse(PyObject* op, visitproc visit, void* arg)
{
    PenData& d = as_pen(op).d;
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(d.style.get());
    Py_VISIT(d.level.get());
    return 0;
}

int pen_clear(PyObject* op)
{
    as_pen(op).d.level = Ref();
    return 0;
}

void pen_dealloc(PyObject* op)
{
    PyTypeObject* type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    as_pen(op).d.~PenData();
    type->tp_free(op);
    Py_DECREF(type);
}

PyObject* pen_repr(PyObject* op)
{
    const PenData& d = as_pen(op).d;
    if (!d.level) {
        return PyUnicode_FromString("<Pen>");
    }
    Ref name = attr(d.level.get(), str<"name">);
    Ref text = name ? field_text(name.get()) : Ref();
    return text ? PyUnicode_FromFormat("<Pen level=%U style=%R>", text.get(), d.style.get())
                : nullptr;
}

int pen_setattro(PyObject*, PyObject*, PyObject*)
{
    PyErr_SetString(PyExc_AttributeError, text::kPenFrozen);
    return -1;
}

PyObject* pen_field(PyObject* op, void* closure)
{
    const PenData& d = as_pen(op).d;
    const Ref* fields[] = {&d.style, &d.level, &d.prefix, &d.suffix};
    const Ref& field = *fields[reinterpret_cast<intptr_t>(closure)];
    if (!field) {
        PyErr_SetString(PyExc_AttributeError, "level");  // cleared by the collector
        return nullptr;
    }
    return field.dup().release();
}

PyGetSetDef pen_getset[] = {
    {"style", pen_field, nullptr, nullptr, reinterpret_cast<void*>(0)},
    {"level", pen_field, nullptr, nullptr, reinterpret_cast<void*>(1)},
    {"prefix", pen_field, nullptr, nullptr, reinterpret_cast<void*>(2)},
    {"suffix", pen_field, nullptr, nullptr, reinterpret_cast<void*>(3)},
    {},
};

PyMemberDef pen_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(PenObject, vectorcall), Py_READONLY, nullptr},
    {},
};

PyType_Slot pen_slots[] = {
    {Py_tp_doc, const_cast<char*>(text::kPen)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&pen_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(&pen_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&pen_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(&pen_repr)},
    {Py_tp_call, reinterpret_cast<void*>(&PyVectorcall_Call)},
    {Py_tp_setattro, reinterpret_cast<void*>(&pen_setattro)},
    {Py_tp_members, pen_members},
    {Py_tp_getset, pen_getset},
    {0, nullptr},
};

PyType_Spec pen_spec = {
    "tintara.paint.Pen",
    sizeof(PenObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    pen_slots,
};

const Method pen_methods[] = {
    {&pen_call_def, Bound::Instance, &g.pen_call},
    {&pen_copy_def},
    {&pen_deepcopy_def},
    {&pen_reduce_def},
};

}  // namespace

Ref make_pen(StyleObject& st, PyObject* level_object, int level)
{
    if (level != 0 && make_codes(st, level) < 0) {
        return {};
    }
    auto* pen = PyObject_GC_New(PenObject, PenObject::type());
    if (pen == nullptr) {
        return {};
    }
    pen->vectorcall = pen_vectorcall;
    new (&pen->d) PenData{
        Ref::borrow(reinterpret_cast<PyObject*>(&st)),
        Ref::borrow(level_object),
        level != 0 ? st.d.prefix[level].dup() : Ref::borrow(str<"">),
        level != 0 ? st.d.suffix[level].dup() : Ref::borrow(str<"">),
        level,
        level != 0 ? paint_at(st, level) : core::Paint{},
    };
    PyObject_GC_Track(pen);
    return Ref::steal(reinterpret_cast<PyObject*>(pen));
}

int make_pen_type(Module& m)
{
    Ref type = make_type(m, pen_spec, pen_methods);
    return g.pen_type.set(std::move(type)) != nullptr ? 0 : -1;
}

}  // namespace tintara::paint
