// The scope type: variable slots, GC traversal and clearing.
#include "interp/scope.h"

#include "interp/state.h"

namespace duzer::interp {

namespace {

int scope_traverse(PyObject *op, visitproc visit, void *arg) noexcept {
    auto *self = reinterpret_cast<Scope *>(op);
    Py_VISIT(Py_TYPE(op));
    for (PyObject *slot : self->slots) Py_VISIT(slot);
    return 0;
}

int scope_clear(PyObject *op) {
    auto *self = reinterpret_cast<Scope *>(op);
    for (PyObject *&slot : self->slots) Py_CLEAR(slot);
    return 0;
}

void scope_dealloc(PyObject *op) {
    PyTypeObject *type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    scope_clear(op);
    type->tp_free(op);
    Py_DECREF(type);
}

PyType_Slot scope_slots[] = {
    {Py_tp_doc, const_cast<char *>("Variables shared by one call and its network methods.")},
    {Py_tp_dealloc, reinterpret_cast<void *>(scope_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void *>(scope_traverse)},
    {Py_tp_clear, reinterpret_cast<void *>(scope_clear)},
    {0, nullptr},
};

PyType_Spec scope_spec = {
    "duZER.call_scope",
    sizeof(Scope),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    scope_slots,
};

}  // namespace

py::object Scope::get(Py_ssize_t slot) const {
    PyObject *value = slots[slot];
    if (value == nullptr)
        raise_name_error(
            "cannot access free variable '%U' where it is not associated with a value in "
            "enclosing scope",
            layout->names[slot]->ptr());
    return py::reinterpret_borrow<py::object>(value);
}

void Scope::set(Py_ssize_t slot, py::handle value) {
    Py_XSETREF(slots[slot], Py_NewRef(value.ptr()));
}

py::object new_scope(const ScopeLayout &layout) {
    auto *self = PyObject_GC_New(Scope, state().scope_type);
    if (self == nullptr) raise_pending();
    self->layout = &layout;
    for (PyObject *&slot : self->slots) slot = nullptr;
    PyObject_GC_Track(reinterpret_cast<PyObject *>(self));
    return steal(reinterpret_cast<PyObject *>(self));
}

PyTypeObject *make_scope_type() {
    return reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&scope_spec));
}

}  // namespace duzer::interp
