// The steps of the class statement, for classes the module defines at run time.
#include "interp/classdef.h"

#include "interp/call.h"

namespace duzer::interp {

namespace {

/// Replaces non-class bases by what their __mro_entries__ returns.
py::object resolve_bases(py::handle orig_bases) {
    const Py_ssize_t n = PyTuple_GET_SIZE(orig_bases.ptr());
    py::list collected;
    bool changed = false;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject *base = PyTuple_GET_ITEM(orig_bases.ptr(), i);
        PyObject *meth = nullptr;
        if (!PyType_Check(base)) check(compat::lookup_attr(base, names().__mro_entries__, &meth));
        if (meth == nullptr) {
            collected.append(base);
            continue;
        }
        py::object entries = call(steal(meth), orig_bases);
        if (!PyTuple_Check(entries.ptr())) {
            PyErr_SetString(PyExc_TypeError, "__mro_entries__ must return a tuple");
            throw py::error_already_set();
        }
        for (py::handle entry : entries) collected.append(entry);
        changed = true;
    }
    if (!changed) return py::reinterpret_borrow<py::object>(orig_bases);
    return steal(PyList_AsTuple(collected.ptr()));
}

}  // namespace

ClassBody begin_class(py::handle name, py::handle qualname, py::handle module_name,
                      py::handle orig_bases) {
    ClassBody body;
    body.name = py::reinterpret_borrow<py::object>(name);
    body.orig_bases = py::reinterpret_borrow<py::object>(orig_bases);
    body.bases = resolve_bases(orig_bases);

    PyObject *meta =
        PyTuple_GET_SIZE(body.bases.ptr()) == 0
            ? reinterpret_cast<PyObject *>(&PyType_Type)
            : reinterpret_cast<PyObject *>(Py_TYPE(PyTuple_GET_ITEM(body.bases.ptr(), 0)));
    PyTypeObject *winner =
        compat::calculate_metaclass(reinterpret_cast<PyTypeObject *>(meta), body.bases.ptr());
    if (winner == nullptr) throw py::error_already_set();
    body.metaclass = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(winner));

    PyObject *prepare = nullptr;
    check(compat::lookup_attr(body.metaclass.ptr(), names().__prepare__, &prepare));
    if (prepare == nullptr) {
        body.namespace_ = steal(PyDict_New());
    } else {
        py::object prepare_owned = steal(prepare);
        body.namespace_ = call(prepare_owned, name, body.bases);
        if (!PyMapping_Check(body.namespace_.ptr())) {
            PyErr_Format(PyExc_TypeError, "%.200s.__prepare__() must return a mapping, not %.200s",
                         winner->tp_name, Py_TYPE(body.namespace_.ptr())->tp_name);
            throw py::error_already_set();
        }
    }
    setitem(body.namespace_, names().__module__, module_name);
    setitem(body.namespace_, names().__qualname__, qualname);
    return body;
}

py::object finish_class(ClassBody &body) {
    if (!body.bases.is(body.orig_bases))
        setitem(body.namespace_, names().__orig_bases__, body.orig_bases);
    return call(body.metaclass, body.name, body.bases, body.namespace_);
}

}  // namespace duzer::interp
