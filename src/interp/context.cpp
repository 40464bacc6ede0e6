// Context-manager protocol used by the no-gradient blocks.
#include "interp/context.h"

#include "interp/call.h"

namespace duzer::interp {

namespace {

const Identifier kEnter{"__enter__"}, kExit{"__exit__"};

/// A special method looked up on the type and bound to `obj`; empty if absent.
py::object lookup_special(py::handle obj, PyObject *name) {
    // Owned while its __get__ runs: that may take it out of the type.
    py::object attr =
        py::reinterpret_steal<py::object>(compat::type_lookup(Py_TYPE(obj.ptr()), name));
    if (!attr) return {};
    descrgetfunc get = Py_TYPE(attr.ptr())->tp_descr_get;
    if (get == nullptr) return attr;
    PyObject *type = reinterpret_cast<PyObject *>(Py_TYPE(obj.ptr()));
    return steal(may_end_thread([&] { return get(attr.ptr(), obj.ptr(), type); }));
}

}  // namespace

py::object enter_context(py::handle manager) {
    py::object enter = lookup_special(manager, kEnter);
    if (!enter) {
        PyErr_Format(PyExc_TypeError,
                     "'%.200s' object does not support the context manager protocol",
                     Py_TYPE(manager.ptr())->tp_name);
        raise_pending();
    }
    py::object exit = lookup_special(manager, kExit);
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
    steal(may_end_thread([&] {
        return PyObject_CallFunctionObjArgs(exit.ptr(), Py_None, Py_None, Py_None, nullptr);
    }));
}

void exit_context_with_error(py::handle exit) {
    py::object exception = steal(compat::take_raised_exception());
    py::object type = borrow(reinterpret_cast<PyObject *>(Py_TYPE(exception.ptr())));
    PyObject *raw_traceback = PyException_GetTraceback(exception.ptr());
    py::object traceback = raw_traceback ? steal(raw_traceback) : borrow(Py_None);
    // __exit__ runs with the exception as the handled one, as in an except
    // clause; the previous one is put back by hand rather than by a
    // destructor, which would run without the interpreter if the thread is
    // ended inside __exit__.
    PyObject *previous = PyErr_GetHandledException();
    PyErr_SetHandledException(exception.ptr());
    PyObject *result = may_end_thread([&] {
        return PyObject_CallFunctionObjArgs(exit.ptr(), type.ptr(), exception.ptr(),
                                            traceback.ptr(), nullptr);
    });
    PyErr_SetHandledException(previous);
    Py_XDECREF(previous);
    if (!truth(steal(result))) {
        compat::restore_raised_exception(exception.release().ptr());
        raise_pending();
    }
}

}  // namespace duzer::interp
