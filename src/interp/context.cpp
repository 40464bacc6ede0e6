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
    if (get == nullptr) return borrow(attr);
    return steal(get(attr, obj.ptr(), reinterpret_cast<PyObject *>(Py_TYPE(obj.ptr()))));
}

/// Makes `exception` the handled one for as long as it lives, as an except
/// clause does, then puts the previous one back.
class Handling {
  public:
    explicit Handling(PyObject *exception) noexcept : previous_(PyErr_GetHandledException()) {
        PyErr_SetHandledException(exception);
    }
    ~Handling() {
        PyErr_SetHandledException(previous_);
        Py_XDECREF(previous_);
    }
    Handling(const Handling &) = delete;
    Handling &operator=(const Handling &) = delete;

  private:
    PyObject *previous_;
};

}  // namespace

py::object enter_context(py::handle manager) {
    py::object enter = lookup_special(manager, names().__enter__);
    if (!enter) {
        PyErr_Format(PyExc_TypeError,
                     "'%.200s' object does not support the context manager protocol",
                     Py_TYPE(manager.ptr())->tp_name);
        raise_pending();
    }
    py::object exit = lookup_special(manager, names().__exit__);
    if (!exit) {
        PyErr_Format(PyExc_TypeError,
                     "'%.200s' object does not support the context manager protocol "
                     "(missed __exit__ method)",
                     Py_TYPE(manager.ptr())->tp_name);
        raise_pending();
    }
    call_noargs(enter);
    return exit;
}

void exit_context(py::handle exit) {
    steal(PyObject_CallFunctionObjArgs(exit.ptr(), Py_None, Py_None, Py_None, nullptr));
}

void exit_context_with_error(py::handle exit) {
    py::object exception = steal(compat::take_raised_exception());
    py::object type = borrow(reinterpret_cast<PyObject *>(Py_TYPE(exception.ptr())));
    PyObject *raw_traceback = PyException_GetTraceback(exception.ptr());
    py::object traceback = raw_traceback ? steal(raw_traceback) : borrow(Py_None);
    bool suppress;
    {
        Handling handling(exception.ptr());
        py::object result = steal(PyObject_CallFunctionObjArgs(
            exit.ptr(), type.ptr(), exception.ptr(), traceback.ptr(), nullptr));
        suppress = truth(result);
    }
    if (suppress) return;
    compat::restore_raised_exception(exception.release().ptr());
    raise_pending();
}

}  // namespace duzer::interp
