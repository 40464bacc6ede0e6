// The few interpreter facilities whose spelling differs between the CPython
// versions the module builds for, each behind one named helper. This is the
// only file that tests PY_VERSION_HEX or calls the interpreter's private
// functions. None is noexcept (see interp/guard.h).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

/// Functions carry `__type_params__` (3.12 and later).
#define DUZER_FUNCTIONS_HAVE_TYPE_PARAMS (PY_VERSION_HEX >= 0x030C0000)

namespace duzer::interp::compat {

/// The raised exception, taken out of the error indicator (which is left
/// clear), normalised, with its traceback attached; NULL when none is set.
inline PyObject *take_raised_exception() {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

/// Puts an exception taken by take_raised_exception back (steals it).
inline void restore_raised_exception(PyObject *exception) {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyObject *type = Py_NewRef(reinterpret_cast<PyObject *>(Py_TYPE(exception)));
    PyObject *traceback = PyException_GetTraceback(exception);
    PyErr_Restore(type, exception, traceback);
#endif
}

/// `obj.name` for a call: 1 with an unbound function in *callable (self to be
/// passed first), 0 with the attribute value, -1 on error.
inline int lookup_method(PyObject *obj, PyObject *name, PyObject **callable) {
#if PY_VERSION_HEX >= 0x030D0000
    *callable = PyObject_GetAttr(obj, name);
    return *callable == nullptr ? -1 : 0;
#else
    const int unbound = _PyObject_GetMethod(obj, name, callable);
    return *callable == nullptr ? -1 : unbound;
#endif
}

/// `getattr(obj, name)` without the AttributeError: 1 found, 0 absent, -1 error.
inline int lookup_optional_attr(PyObject *obj, PyObject *name, PyObject **result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, result);
#else
    return _PyObject_LookupAttr(obj, name, result);
#endif
}

/// `lst.extend(iterable)` with the list's own extend; -1 on error.
inline int list_extend(PyObject *list, PyObject *iterable) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyList_Extend(list, iterable);
#else
    PyObject *none = _PyList_Extend(reinterpret_cast<PyListObject *>(list), iterable);
    if (none == nullptr) return -1;
    Py_DECREF(none);
    return 0;
#endif
}

/// Whether the interpreter is shutting down; safe without the interpreter lock.
inline bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

/// The most derived metaclass of `meta` and the metaclasses of `bases`, as
/// the class statement calculates it; NULL with TypeError on a conflict.
inline PyTypeObject *calculate_metaclass(PyTypeObject *meta, PyObject *bases) {
#if PY_VERSION_HEX >= 0x030D0000
    PyTypeObject *winner = meta;
    const Py_ssize_t n = PyTuple_GET_SIZE(bases);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyTypeObject *base_meta = Py_TYPE(PyTuple_GET_ITEM(bases, i));
        if (PyType_IsSubtype(winner, base_meta)) continue;
        if (PyType_IsSubtype(base_meta, winner)) {
            winner = base_meta;
            continue;
        }
        PyErr_SetString(PyExc_TypeError,
                        "metaclass conflict: the metaclass of a derived class must be a "
                        "(non-strict) subclass of the metaclasses of all its bases");
        return nullptr;
    }
    return winner;
#else
    return _PyType_CalculateMetaclass(meta, bases);
#endif
}

/// `name` looked up along the MRO of `type` without descriptors: a new
/// reference, or NULL (no exception set) when absent.
inline PyObject *type_lookup(PyTypeObject *type, PyObject *name) {
    return Py_XNewRef(_PyType_Lookup(type, name));
}

/// The `n` strings of `items` joined by `separator`; NULL on error.
inline PyObject *join_strings(PyObject *separator, PyObject *const *items, Py_ssize_t n) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject *tuple = PyTuple_New(n);
    if (tuple == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(tuple, i, Py_NewRef(items[i]));
    PyObject *joined = PyUnicode_Join(separator, tuple);
    Py_DECREF(tuple);
    return joined;
#else
    return _PyUnicode_JoinArray(separator, items, n);
#endif
}

}  // namespace duzer::interp::compat
