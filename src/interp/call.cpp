// Module-level name resolution shared by every stage.
#include "interp/call.h"

namespace duzer::interp {

PyObject *module_globals = nullptr;
PyObject *builtins_dict = nullptr;

namespace {

[[noreturn]] Py_NO_INLINE void raise_name_error(PyObject *name) {
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    throw py::error_already_set();
}

}  // namespace

py::object global(PyObject *name) {
    PyObject *value = PyDict_GetItemWithError(module_globals, name);
    if (value == nullptr) {
        if (PyErr_Occurred()) throw py::error_already_set();
        value = PyDict_GetItemWithError(builtins_dict, name);
        if (value == nullptr) {
            if (PyErr_Occurred()) throw py::error_already_set();
            raise_name_error(name);
        }
    }
    return py::reinterpret_borrow<py::object>(value);
}

}  // namespace duzer::interp
