// The interpreter operations whose C API differs between the supported
// CPython minor versions (3.11 to 3.13), each behind one small helper. This is
// the only file that tests PY_VERSION_HEX: where the interpreter's own function
// is declared and not deprecated (3.11, mostly 3.12) the helper is that
// function; from the version where it left the headers or was deprecated, the
// helper does the same with public API.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if PY_VERSION_HEX >= 0x030D0000
#include <frameobject.h>
#endif

namespace duzer::interp::compat {

/// `list.extend(iterable)` with the list's own extend: a new reference to
/// None, or NULL with an exception set.
inline PyObject *list_extend(PyObject *list, PyObject *iterable) {
#if PY_VERSION_HEX >= 0x030D0000
    if (PyList_Extend(list, iterable) < 0) return nullptr;
    return Py_NewRef(Py_None);
#else
    return _PyList_Extend(reinterpret_cast<PyListObject *>(list), iterable);
#endif
}

/// `getattr(obj, name)` where a missing attribute is no error: 1 with a new
/// reference in *result, 0 with *result NULL when absent (AttributeError
/// cleared), -1 with *result NULL and an exception set.
inline int lookup_attr(PyObject *obj, PyObject *name, PyObject **result) {
#if PY_VERSION_HEX >= 0x030D0000
    return PyObject_GetOptionalAttr(obj, name, result);
#else
    return _PyObject_LookupAttr(obj, name, result);
#endif
}

/// Makes the exception (type, value, trace) the __context__ of the exception
/// now pending, or pending itself when none is. Steals all three references;
/// trace may be NULL.
inline void chain_exceptions(PyObject *type, PyObject *value, PyObject *trace) {
#if PY_VERSION_HEX >= 0x030C0000  // deprecated in 3.12, gone in 3.13
    PyErr_NormalizeException(&type, &value, &trace);
    if (trace != nullptr) PyException_SetTraceback(value, trace);
    Py_XDECREF(type);
    Py_XDECREF(trace);
    PyObject *raised = PyErr_GetRaisedException();
    if (raised == nullptr) {
        PyErr_SetRaisedException(value);
        return;
    }
    if (raised == value) {
        Py_DECREF(value);
    } else {
        PyException_SetContext(raised, value);  // steals value
    }
    PyErr_SetRaisedException(raised);
#else
    _PyErr_ChainExceptions(type, value, trace);
#endif
}

/// `separator.join(items[:n])` for n strings: a new reference, or NULL with an
/// exception set.
inline PyObject *join_array(PyObject *separator, PyObject *const *items, Py_ssize_t n) {
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

/// Adds a traceback entry named `funcname` in `filename` to the pending
/// exception, which stays pending.
inline void add_traceback(const char *funcname, const char *filename, int lineno) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject *pending = PyErr_GetRaisedException();
    PyCodeObject *code = PyCode_NewEmpty(filename, funcname, lineno);
    PyObject *globals = code != nullptr ? PyDict_New() : nullptr;
    PyFrameObject *frame =
        globals != nullptr ? PyFrame_New(PyThreadState_Get(), code, globals, nullptr) : nullptr;
    Py_XDECREF(globals);
    Py_XDECREF(code);
    if (frame == nullptr) {
        // The entry is lost; the original exception matters more.
        PyErr_Clear();
        PyErr_SetRaisedException(pending);
        return;
    }
    PyErr_SetRaisedException(pending);
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
#else
    _PyTraceback_Add(funcname, filename, lineno);
#endif
}

/// The most derived metaclass of `meta` and the types of `bases`, as the
/// class statement chooses it: a borrowed reference, or NULL with TypeError
/// set on a metaclass conflict.
inline PyTypeObject *calculate_metaclass(PyTypeObject *meta, PyObject *bases) {
#if PY_VERSION_HEX >= 0x030D0000
    PyTypeObject *winner = meta;
    const Py_ssize_t n = PyTuple_GET_SIZE(bases);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyTypeObject *candidate = Py_TYPE(PyTuple_GET_ITEM(bases, i));
        if (PyType_IsSubtype(winner, candidate)) continue;
        if (PyType_IsSubtype(candidate, winner)) {
            winner = candidate;
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

}  // namespace duzer::interp::compat
