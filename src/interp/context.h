// `with manager: body` with the with-statement's rules: __enter__ and __exit__
// looked up on the type, __exit__ told about an exception leaving the body and
// able to suppress it.
#pragma once

#include "interp/guard.h"

namespace duzer::interp {

/// Enters `manager`; returns its bound __exit__.
py::object enter_context(py::handle manager);

/// Exits after the body raised `error`; returns normally only when __exit__
/// suppresses it, otherwise throws (the original error, or the one __exit__
/// raised, chained to it).
void exit_context_with_error(py::handle exit, py::error_already_set &error);

template <class Body>
void with_block(py::handle manager, Body &&body) {
    py::object exit = enter_context(manager);
    try {
        body();
    } catch (py::error_already_set &error) {
        exit_context_with_error(exit, error);
        return;
    } catch (...) {
        detail::set_error_from_current_exception();
        py::error_already_set error;
        exit_context_with_error(exit, error);
        return;
    }
    steal(PyObject_CallFunctionObjArgs(exit.ptr(), Py_None, Py_None, Py_None, nullptr));
}

}  // namespace duzer::interp
