// Fixed-count unpacking: lists and tuples by size, anything else by iteration.
#include "interp/unpack.h"

namespace duzer::interp {

namespace {

[[noreturn]] Py_NO_INLINE void raise_too_many(Py_ssize_t expected) {
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", expected);
    raise_pending();
}

[[noreturn]] Py_NO_INLINE void raise_need_more(Py_ssize_t found) {
    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", found,
                 found == 1 ? "" : "s");
    raise_pending();
}

}  // namespace

void unpack_into(py::handle value, py::object *out, Py_ssize_t count) {
    PyObject *v = value.ptr();
    // Tuples, lists and tuple subclasses that keep the tuple's iteration (the
    // result types of torch's reductions) are read by size: iterating them
    // would yield the same items.
    if (PyList_CheckExact(v) || (PyTuple_Check(v) && Py_TYPE(v)->tp_iter == PyTuple_Type.tp_iter)) {
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(v);
        if (size > count) raise_too_many(count);
        if (size < count) raise_need_more(size);
        PyObject **items = PySequence_Fast_ITEMS(v);
        for (Py_ssize_t i = 0; i < count; ++i)
            out[i] = py::reinterpret_borrow<py::object>(items[i]);
        return;
    }
    PyObject *raw_iterator = may_end_thread([&] { return PyObject_GetIter(v); });
    if (raw_iterator == nullptr) raise_not_iterable(v, "cannot unpack non-iterable %.200s object");
    py::object it = steal(raw_iterator);
    for (Py_ssize_t i = 0; i < count; ++i) {
        out[i] = next(it);
        if (!out[i]) raise_need_more(i);
    }
    if (next(it)) raise_too_many(count);
}

}  // namespace duzer::interp
