// Builds the table of interned names and shared constants at module exec.
#include "interp/names.h"

namespace duzer::interp {

namespace {

PyObject *intern(const char *text) {
    return PyUnicode_InternFromString(text);
}

PyObject *tuple_of(std::initializer_list<PyObject *> items) {
    PyObject *tuple = PyTuple_New(static_cast<Py_ssize_t>(items.size()));
    if (tuple == nullptr) return nullptr;
    Py_ssize_t i = 0;
    for (PyObject *item : items) {
        Py_INCREF(item);
        PyTuple_SET_ITEM(tuple, i++, item);
    }
    return tuple;
}

}  // namespace

bool prepare_names(Names &n) noexcept {
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
    if ((n.kw_dtype = tuple_of({n.dtype})) == nullptr) return false;
    if ((n.kw_test_size_random_state = tuple_of({n.test_size, n.random_state})) == nullptr)
        return false;
    if ((n.kw_batch_size = tuple_of({n.batch_size})) == nullptr) return false;
    if ((n.kw_batch_size_shuffle = tuple_of({n.batch_size, n.shuffle})) == nullptr) return false;
    if ((n.kw_kernel_size_stride_padding = tuple_of({n.kernel_size, n.stride, n.padding})) ==
        nullptr)
        return false;
    if ((n.kw_lr = tuple_of({n.lr})) == nullptr) return false;
    if ((n.kw_step_size_gamma = tuple_of({n.step_size, n.gamma})) == nullptr) return false;
    if ((n.kw_average = tuple_of({n.average})) == nullptr) return false;
    if ((n.kw_figsize = tuple_of({n.figsize})) == nullptr) return false;
    if ((n.kw_label = tuple_of({n.label})) == nullptr) return false;
    if ((n.kw_block = tuple_of({n.block})) == nullptr) return false;
    if ((n.kw_annot_fmt_cmap = tuple_of({n.annot, n.fmt, n.cmap})) == nullptr) return false;
    return true;
}

bool fetch_builtins(Names &n, PyObject *builtins_dict) noexcept {
    struct Entry {
        const char *name;
        PyObject **slot;
    } entries[] = {{"print", &n.print}, {"range", &n.range}, {"super", &n.super}};
    for (const Entry &e : entries) {
        PyObject *value = PyDict_GetItemString(builtins_dict, e.name);  // borrowed
        if (value == nullptr) {
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", e.name);
            return false;
        }
        Py_INCREF(value);
        Py_XSETREF(*e.slot, value);
    }
    return true;
}

}  // namespace duzer::interp
