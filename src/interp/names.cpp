// Builds the table of interned names and shared constants at module exec.
#include "interp/names.h"

namespace duzer::interp {

namespace {

PyObject *intern(const char *text) {
    return PyUnicode_InternFromString(text);
}

/// The interned names of a comma-separated list ("a, b") as a tuple: the
/// keyword names of one call site, the very objects of the identifiers.
PyObject *interned_tuple(const char *list) {
    PyObject *text = PyUnicode_FromString(list);
    if (text == nullptr) return nullptr;
    PyObject *separator = PyUnicode_FromString(", ");
    PyObject *parts = separator ? PyUnicode_Split(text, separator, -1) : nullptr;
    Py_DECREF(text);
    Py_XDECREF(separator);
    if (parts == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(parts); ++i) {
        PyObject **item = &PyList_GET_ITEM(parts, i);
        PyUnicode_InternInPlace(item);
    }
    PyObject *tuple = PyList_AsTuple(parts);
    Py_DECREF(parts);
    return tuple;
}

}  // namespace

bool prepare_names(Names &n) {
#define DUZER_MAKE_IDENTIFIER(member) \
    if ((n.member = intern(#member)) == nullptr) return false;
    DUZER_IDENTIFIERS(DUZER_MAKE_IDENTIFIER)
#undef DUZER_MAKE_IDENTIFIER
#define DUZER_MAKE_TEXT(member, text) \
    if ((n.member = intern(text)) == nullptr) return false;
    DUZER_TEXTS(DUZER_MAKE_TEXT)
#undef DUZER_MAKE_TEXT
#define DUZER_MAKE_NUMBER(member, expr) \
    if ((n.member = (expr)) == nullptr) return false;
    DUZER_NUMBERS(DUZER_MAKE_NUMBER)
#undef DUZER_MAKE_NUMBER
    if ((n.slice_from_1 = PySlice_New(n.int_1, nullptr, nullptr)) == nullptr) return false;
#define DUZER_MAKE_KWNAMES(member, ...) \
    if ((n.member = interned_tuple(#__VA_ARGS__)) == nullptr) return false;
    DUZER_KWNAMES(DUZER_MAKE_KWNAMES)
#undef DUZER_MAKE_KWNAMES
    return true;
}

bool fetch_builtins(Names &n, PyObject *builtins_dict) {
    struct Entry {
        const char *name;
        PyObject **slot;
    } entries[] = {{"print", &n.print}, {"range", &n.range}, {"super", &n.super}};
    for (const Entry &e : entries) {
        PyObject *key = PyUnicode_InternFromString(e.name);
        if (key == nullptr) return false;
        PyObject *value = PyDict_GetItemWithError(builtins_dict, key);  // borrowed
        Py_DECREF(key);
        if (value == nullptr) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_NameError, "name '%s' is not defined", e.name);
            return false;
        }
        Py_INCREF(value);
        Py_XSETREF(*e.slot, value);
    }
    return true;
}

}  // namespace duzer::interp
