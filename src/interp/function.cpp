// The native function type: argument binding with the interpreter's messages,
// vectorcall entry, descriptor binding, attributes and GC support.
#include "interp/function.h"

#include <structmember.h>

#include <memory>
#include <new>

#include "interp/call.h"
#include "interp/guard.h"
#include "interp/module.h"
#include "interp/state.h"

namespace duzer::interp {

namespace {

const Identifier kModuleAttribute{"__module__"};
const Text kEmpty{""};

[[noreturn]] Py_NO_INLINE void raise_argument_count(const FunctionSpec &spec, Py_ssize_t given) {
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 spec.name.text(), "exactly", spec.nparams, spec.nparams == 1 ? "" : "s", given);
    raise_pending();
}

bool same_name(PyObject *a, PyObject *b) {
    if (a == b) return true;
    return PyUnicode_Check(b) && PyUnicode_Compare(a, b) == 0;
}

Py_ssize_t param_index(const FunctionSpec &spec, PyObject *key) {
    for (Py_ssize_t i = 0; i < spec.nparams; ++i) {
        if (same_name(spec.params[i]->ptr(), key)) return i;
    }
    return -1;
}

/// Ends the call with the TypeError for the first keyword argument that no
/// parameter took.
[[noreturn]] Py_NO_INLINE void raise_unexpected_keyword(const FunctionSpec &spec, PyObject *key) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", spec.name.text());
    } else if (param_index(spec, key) >= 0) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                     spec.name.text(), key);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                     spec.name.text(), key);
    }
    raise_pending();
}

/// Binds positional and keyword arguments to the parameters, all required:
/// fills `bound` with borrowed references, or ends the call with TypeError.
void bind_arguments(const FunctionSpec &spec, PyObject *const *args, Py_ssize_t nargs,
                    PyObject *kwnames, PyObject **bound) {
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (nkw == 0 ? nargs != spec.nparams : nargs > spec.nparams) raise_argument_count(spec, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];
    if (nkw == 0) return;

    PyObject *const *kwvalues = args + nargs;
    // Python callers pass each keyword once, so a handful of flags suffice;
    // a C caller may pass more.
    bool small_used[kMaxParams * 4] = {};
    std::unique_ptr<bool[]> large_used;
    bool *used = small_used;
    if (nkw > static_cast<Py_ssize_t>(sizeof small_used)) {
        large_used.reset(new (std::nothrow) bool[static_cast<size_t>(nkw)]());
        if (!large_used) {
            PyErr_NoMemory();
            raise_pending();
        }
        used = large_used.get();
    }
    for (Py_ssize_t i = nargs; i < spec.nparams; ++i) {
        PyObject *param = spec.params[i]->ptr();
        Py_ssize_t found = -1;
        for (Py_ssize_t j = 0; j < nkw && found < 0; ++j) {
            if (!used[j] && same_name(param, PyTuple_GET_ITEM(kwnames, j))) found = j;
        }
        if (found < 0) raise_argument_count(spec, i);
        used[found] = true;
        bound[i] = kwvalues[found];
    }
    for (Py_ssize_t j = 0; j < nkw; ++j) {
        if (!used[j]) raise_unexpected_keyword(spec, PyTuple_GET_ITEM(kwnames, j));
    }
}

PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                              PyObject *kwnames) {
    auto *self = reinterpret_cast<Function *>(callable);
    const FunctionSpec &spec = *self->spec;
    PyObject *bound[kMaxParams];
    if (guard_status(
            [&] { bind_arguments(spec, args, PyVectorcall_NARGS(nargsf), kwnames, bound); }) < 0)
        return nullptr;
    // The call owns the function and its arguments, as a frame does: a caller
    // may hold them only through a container (a partial's arguments, an
    // atexit entry) that the call itself empties. Dropped by hand, not by
    // destructors, so that a thread ended by the interpreter at shutdown
    // (see interp/guard.h) leaves them behind without touching them.
    Py_INCREF(callable);
    for (Py_ssize_t i = 0; i < spec.nparams; ++i) Py_INCREF(bound[i]);
    PyObject *result = nullptr;
    if (Py_EnterRecursiveCall(" while calling a Python object") == 0) {
        result = guard_object([&] { return spec.body(*self, bound).release().ptr(); });
        Py_LeaveRecursiveCall();
    }
    for (Py_ssize_t i = 0; i < spec.nparams; ++i) Py_DECREF(bound[i]);
    Py_DECREF(callable);
    return result;
}

PyObject *function_descr_get(PyObject *self, PyObject *obj, PyObject *) noexcept {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject *function_repr(PyObject *op) noexcept {
    auto *self = reinterpret_cast<Function *>(op);
    return PyUnicode_FromFormat("<function %U at %p>", self->qualname, op);
}

int function_traverse(PyObject *op, visitproc visit, void *arg) noexcept {
    auto *self = reinterpret_cast<Function *>(op);
    Py_VISIT(Py_TYPE(op));
    Py_VISIT(self->name);
    Py_VISIT(self->qualname);
    Py_VISIT(self->module);
    Py_VISIT(self->doc);
    Py_VISIT(self->globals);
    Py_VISIT(self->dict);
    Py_VISIT(self->scope);
    Py_VISIT(self->type_params);
    return 0;
}

/// Drops every reference that can take part in a cycle. `__name__` and
/// `__qualname__` may be str subclasses with attributes, so they are replaced
/// by the empty string rather than cleared: they stay readable afterwards.
int function_clear(PyObject *op) {
    auto *self = reinterpret_cast<Function *>(op);
    Py_XSETREF(self->name, Py_NewRef(kEmpty.ptr()));
    Py_XSETREF(self->qualname, Py_NewRef(kEmpty.ptr()));
    Py_CLEAR(self->module);
    Py_CLEAR(self->doc);
    Py_CLEAR(self->globals);
    Py_CLEAR(self->dict);
    Py_CLEAR(self->scope);
    Py_CLEAR(self->type_params);
    return 0;
}

void function_dealloc(PyObject *op) {
    auto *self = reinterpret_cast<Function *>(op);
    PyTypeObject *type = Py_TYPE(op);
    PyObject_GC_UnTrack(op);
    if (self->weakreflist != nullptr) PyObject_ClearWeakRefs(op);
    function_clear(op);
    Py_CLEAR(self->name);
    Py_CLEAR(self->qualname);
    type->tp_free(op);
    Py_DECREF(type);
}

/// Setter for `__name__` / `__qualname__`: a string, never deleted.
int set_string(PyObject **slot, PyObject *value, const char *attribute) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", attribute);
        return -1;
    }
    Py_SETREF(*slot, Py_NewRef(value));
    return 0;
}

PyObject *get_name(PyObject *op, void *) noexcept {
    return Py_NewRef(reinterpret_cast<Function *>(op)->name);
}
int set_name(PyObject *op, PyObject *value, void *) {
    return set_string(&reinterpret_cast<Function *>(op)->name, value, "__name__");
}
PyObject *get_qualname(PyObject *op, void *) noexcept {
    return Py_NewRef(reinterpret_cast<Function *>(op)->qualname);
}
int set_qualname(PyObject *op, PyObject *value, void *) {
    return set_string(&reinterpret_cast<Function *>(op)->qualname, value, "__qualname__");
}
PyObject *get_closure(PyObject *, void *) noexcept {
    Py_RETURN_NONE;
}

#if DUZER_FUNCTIONS_HAVE_TYPE_PARAMS
/// `__type_params__`: a tuple, () until set; never deleted.
PyObject *get_type_params(PyObject *op, void *) noexcept {
    PyObject *value = reinterpret_cast<Function *>(op)->type_params;
    return value != nullptr ? Py_NewRef(value) : PyTuple_New(0);
}
int set_type_params(PyObject *op, PyObject *value, void *) {
    if (value == nullptr || !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__type_params__ must be set to a tuple");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<Function *>(op)->type_params, Py_NewRef(value));
    return 0;
}
#endif

/// `(a, b, ...)`: what inspect needs to report the parameters.
PyObject *get_text_signature(PyObject *op, void *) {
    const FunctionSpec &spec = *reinterpret_cast<Function *>(op)->spec;
    return guard_object([&] {
        py::object parts = steal(PyTuple_New(spec.nparams));
        for (Py_ssize_t i = 0; i < spec.nparams; ++i)
            PyTuple_SET_ITEM(parts.ptr(), i, Py_NewRef(spec.params[i]->ptr()));
        py::object separator = steal(PyUnicode_FromString(", "));
        py::object joined = steal(PyUnicode_Join(separator.ptr(), parts.ptr()));
        return PyUnicode_FromFormat("(%U)", joined.ptr());
    });
}

/// `__module__` is served by the instance, while the type's dictionary keeps
/// the module's name under that key, so that `type(f).__module__` reads as it
/// does for any class (a member descriptor there would show through instead).
/// `__doc__` stays a member: pydoc reads it with `object.__getattribute__`.
PyObject **instance_slot(PyObject *op, PyObject *name) {
    PyObject *key = kModuleAttribute;
    if (name == key || (PyUnicode_Check(name) && PyUnicode_Compare(name, key) == 0))
        return &reinterpret_cast<Function *>(op)->module;
    return nullptr;
}

PyObject *function_getattro(PyObject *op, PyObject *name) {
    if (PyObject **slot = instance_slot(op, name)) return Py_NewRef(*slot ? *slot : Py_None);
    return PyObject_GenericGetAttr(op, name);
}

/// Any value may be stored; deleting leaves None, as for Python functions.
int function_setattro(PyObject *op, PyObject *name, PyObject *value) {
    if (PyObject **slot = instance_slot(op, name)) {
        Py_XSETREF(*slot, Py_XNewRef(value));
        return 0;
    }
    return PyObject_GenericSetAttr(op, name, value);
}

/// Pickled by reference, as Python functions are: the qualified name, looked
/// up in `__module__` when loaded (so nested functions cannot be pickled).
PyObject *function_reduce(PyObject *op, PyObject *) noexcept {
    return Py_NewRef(reinterpret_cast<Function *>(op)->qualname);
}

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__closure__", get_closure, nullptr, nullptr, nullptr},
    {"__text_signature__", get_text_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
#if DUZER_FUNCTIONS_HAVE_TYPE_PARAMS
    {"__type_params__", get_type_params, set_type_params, nullptr, nullptr},
#endif
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__doc__", T_OBJECT, offsetof(Function, doc), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(Function, globals), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Function, weakreflist), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(Function, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    // No Py_tp_doc: a type docstring would shadow the per-object `__doc__`.
    {Py_tp_dealloc, reinterpret_cast<void *>(function_dealloc)},
    {Py_tp_call, reinterpret_cast<void *>(PyVectorcall_Call)},
    {Py_tp_repr, reinterpret_cast<void *>(function_repr)},
    {Py_tp_traverse, reinterpret_cast<void *>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void *>(function_clear)},
    {Py_tp_descr_get, reinterpret_cast<void *>(function_descr_get)},
    {Py_tp_getattro, reinterpret_cast<void *>(function_getattro)},
    {Py_tp_setattro, reinterpret_cast<void *>(function_setattro)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {Py_tp_methods, function_methods},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "duZER.function",
    sizeof(Function),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

}  // namespace

PyTypeObject *make_function_type() {
    return reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&function_spec));
}

py::object new_function(const FunctionSpec &spec, py::handle qualname, py::handle doc,
                        PyObject *scope) {
    auto *self = PyObject_GC_New(Function, state().function_type);
    if (self == nullptr) raise_pending();
    self->vectorcall = function_vectorcall;
    self->spec = &spec;
    self->name = Py_NewRef(spec.name.ptr());
    self->qualname = Py_NewRef(qualname.ptr());
    self->module = Py_NewRef(kModuleName.ptr());
    self->doc = Py_NewRef(doc.ptr());
    self->globals = Py_NewRef(state().module_globals);
    self->dict = nullptr;
    self->scope = Py_XNewRef(scope);
    self->type_params = nullptr;
    self->weakreflist = nullptr;
    PyObject_GC_Track(reinterpret_cast<PyObject *>(self));
    return steal(reinterpret_cast<PyObject *>(self));
}

}  // namespace duzer::interp
