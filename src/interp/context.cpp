// Context-manager protocol used by the no-gradient blocks.
#include "interp/context.h"

#include "interp/call.h"

namespace duzer::interp {

namespace {

/// A special method looked up on the type and bound to `obj`; empty if absent.
py::object lookup_special(py::handle obj, PyObject *name) {
    PyObject *attr = _PyType_Lookup(Py_TYPE(obj.ptr()), name);  // borrowed
    if (attr == nullptr) return {};
    descrgetfunc get = Py_TYPE(attr)->tp_descr_get;
    if (get == nullptr) return py::reinterpret_borrow<py::object>(attr);
    return steal(get(attr, obj.ptr(), reinterpret_cast<PyObject *>(Py_TYPE(obj.ptr()))));
}

}  // namespace

py::object enter_context(py::handle manager) {
    py::object enter = lookup_special(manager, names().__enter__);
    if (!enter) {
        PyErr_Format(PyExc_TypeError,
                     "'%.200s' object does not support the context manager protocol",
                     Py_TYPE(manager.ptr())->tp_name);
        throw py::error_already_set();
    }
    py::object exit = lookup_special(manager, names().__exit__);
    if (!exit) {
        PyErr_Format(PyExc_TypeError,
                     "'%.200s' object does not support the context manager protocol "
                     "(missed __exit__ method)",
                     Py_TYPE(manager.ptr())->tp_name);
        throw py::error_already_set();
    }
    call(enter);
    return exit;
}

void exit_context_with_error(py::handle exit, py::error_already_set &error) {
    PyObject *type = error.type().ptr();
    PyObject *value = error.value().ptr();
    PyObject *trace = error.trace() ? error.trace().ptr() : Py_None;
    PyObject *result = PyObject_CallFunctionObjArgs(exit.ptr(), type, value, trace, nullptr);
    if (result == nullptr) {
        compat::chain_exceptions(Py_NewRef(type), Py_NewRef(value),
                                 error.trace() ? Py_NewRef(trace) : nullptr);
        throw py::error_already_set();
    }
    const int suppress = PyObject_IsTrue(result);
    Py_DECREF(result);
    if (suppress < 0) throw py::error_already_set();
    if (!suppress) throw std::move(error);
}

}  // namespace duzer::interp
