// Owned references and the few primitive operations every stage uses: stealing a
// result or raising the pending error, truth values, attributes, items and
// the arithmetic the procedure performs on the interpreter's own numbers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/pybind11.h>

#include "interp/compat.h"

namespace py = pybind11;

namespace duzer::interp {

/// Takes ownership of a C-API result; a NULL result means an error is pending.
inline py::object steal(PyObject *result) {
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

/// Throws the pending Python error when a C-API status says it failed.
inline void check(int status) {
    if (status < 0) throw py::error_already_set();
}

inline bool truth(py::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    check(result);
    return result != 0;
}

inline py::object attr(py::handle obj, py::handle name) {
    return steal(PyObject_GetAttr(obj.ptr(), name.ptr()));
}

inline void set_attr(py::handle obj, py::handle name, py::handle value) {
    check(PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()));
}

inline py::object getitem(py::handle obj, py::handle key) {
    return steal(PyObject_GetItem(obj.ptr(), key.ptr()));
}

inline void setitem(py::handle obj, py::handle key, py::handle value) {
    check(PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr()));
}

inline bool contains(py::handle container, py::handle item) {
    int result = PySequence_Contains(container.ptr(), item.ptr());
    check(result);
    return result != 0;
}

inline py::object compare(py::handle a, py::handle b, int op) {
    return steal(PyObject_RichCompare(a.ptr(), b.ptr(), op));
}

/// `if a == b:` -- the comparison's result reduced to a truth value (no
/// identity shortcut, exactly as the interpreter evaluates the test).
inline bool equals(py::handle a, py::handle b) {
    return truth(compare(a, b, Py_EQ));
}

inline py::object add(py::handle a, py::handle b) {
    return steal(PyNumber_Add(a.ptr(), b.ptr()));
}
inline py::object subtract(py::handle a, py::handle b) {
    return steal(PyNumber_Subtract(a.ptr(), b.ptr()));
}
inline py::object multiply(py::handle a, py::handle b) {
    return steal(PyNumber_Multiply(a.ptr(), b.ptr()));
}
inline py::object true_divide(py::handle a, py::handle b) {
    return steal(PyNumber_TrueDivide(a.ptr(), b.ptr()));
}
inline py::object remainder(py::handle a, py::handle b) {
    return steal(PyNumber_Remainder(a.ptr(), b.ptr()));
}

inline Py_ssize_t length(py::handle obj) {
    Py_ssize_t n = PyObject_Size(obj.ptr());
    if (n < 0) throw py::error_already_set();
    return n;
}

inline py::object index_object(Py_ssize_t i) {
    return steal(PyLong_FromSsize_t(i));
}

/// `lst.extend(iterable)` with the list's own extend.
inline void extend(py::handle list, py::handle iterable) {
    steal(compat::list_extend(list.ptr(), iterable.ptr()));
}

inline void append(py::handle list, py::handle item) {
    check(PyList_Append(list.ptr(), item.ptr()));
}

/// `(a, b, ...)`.
template <class... Items>
py::object make_tuple(const Items &...items) {
    return steal(PyTuple_Pack(sizeof...(Items), py::handle(items).ptr()...));
}

inline py::object new_list() {
    return steal(PyList_New(0));
}

/// Next item of an iterator, or an empty object when it is exhausted.
inline py::object next(py::handle iterator) {
    PyObject *item = PyIter_Next(iterator.ptr());
    if (item == nullptr && PyErr_Occurred()) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(item);
}

inline py::object get_iter(py::handle iterable) {
    return steal(PyObject_GetIter(iterable.ptr()));
}

}  // namespace duzer::interp
