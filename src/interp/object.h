// Owned references, the failure signal, and the primitive operations every
// stage uses: truth values, attributes, items, comparisons and the arithmetic
// the procedure performs on the interpreter's own numbers.
//
// Evaluation order. A Python expression evaluates its operands left to right
// and a call looks its callee up before its arguments; a C++ call leaves the
// order of its arguments unspecified. So an operation with two or more
// operands takes them as `Ref`s, which bind only to named values (locals,
// borrowed arguments, interned constants) and refuse the temporary result of
// another operation: each interpreter operation is then one C++ statement,
// and the statements run in Python's order. An operation with a single
// operand may take that operand as a temporary (`attr(global(n.torch),
// n.tensor)` is `torch.tensor`): nothing can run between the two.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pybind11/pybind11.h>

#include <utility>

#include "interp/compat.h"
#include "interp/constant.h"
#include "interp/ended_thread.h"

namespace py = pybind11;

namespace duzer::interp {

/// Thrown when an interpreter operation failed. The exception stays in the
/// interpreter's error indicator until the C entry point that catches this
/// returns its failure value; the object carries nothing, so unwinding never
/// goes through the thread-state API (unsupported in sub-interpreters).
struct ErrorSet {};

/// Ends the current operation with the pending Python exception.
[[noreturn]] inline void raise_pending() {
    throw ErrorSet{};
}

/// Ends the current operation with a NameError for `name`, worded by
/// `format` (one `%U`), whose `.name` is set as the interpreter sets it (its
/// "Did you mean" hints read it).
[[noreturn]] Py_NO_INLINE inline void raise_name_error(const char *format, PyObject *name) {
    PyErr_Format(PyExc_NameError, format, name);
    PyObject *exception = compat::take_raised_exception();
    if (exception == nullptr) raise_pending();
    if (PyErr_GivenExceptionMatches(exception, PyExc_NameError)) {
        // As the interpreter does: a failure here leaves the NameError as it is.
        if (PyObject_SetAttrString(exception, "name", name) < 0) PyErr_Clear();
    }
    compat::restore_raised_exception(exception);
    raise_pending();
}

/// Ends the current operation after iter(value) failed: a TypeError for a
/// value that cannot be iterated at all is reworded by `format` (one `%.200s`
/// for the type's name), as the statement that iterates rewords it; any other
/// failure is left as raised.
[[noreturn]] Py_NO_INLINE inline void raise_not_iterable(PyObject *value, const char *format) {
    if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(value)->tp_iter == nullptr &&
        !PySequence_Check(value))
        PyErr_Format(PyExc_TypeError, format, Py_TYPE(value)->tp_name);
    raise_pending();
}

/// Takes ownership of a C-API result; a NULL result means an error is pending.
inline py::object steal(PyObject *result) {
    if (result == nullptr) raise_pending();
    return py::reinterpret_steal<py::object>(result);
}

inline py::object borrow(PyObject *value) {
    return py::reinterpret_borrow<py::object>(value);
}

/// Lets go of each reference without dropping it, for a thread that the
/// interpreter ends at shutdown: it no longer holds the interpreter, so the
/// objects stay behind, as a Python frame's locals do.
template <class... Objects>
void abandon(Objects &...objects) noexcept {
    (objects.release(), ...);
}

/// Throws when a C-API status says it failed.
inline void check(int status) {
    if (status < 0) raise_pending();
}

/// An operand of an operation with several operands: a named value, never the
/// temporary result of another operation (see the note at the top).
class Ref {
  public:
    Ref(PyObject *value) noexcept : ptr_(value) {}
    Ref(py::handle value) noexcept : ptr_(value.ptr()) {}
    Ref(const py::object &value) noexcept : ptr_(value.ptr()) {}
    Ref(const Constant &value) noexcept : ptr_(value.ptr()) {}
    Ref(py::object &&) = delete;  // name the result first, in Python's order

    PyObject *ptr() const noexcept { return ptr_; }

  private:
    PyObject *ptr_;
};

inline bool truth(py::handle value) {
    int result = may_end_thread([&] { return PyObject_IsTrue(value.ptr()); });
    check(result);
    return result != 0;
}

/// `obj.name`.
inline py::object attr(py::handle obj, PyObject *name) {
    return steal(may_end_thread([&] { return PyObject_GetAttr(obj.ptr(), name); }));
}

/// `obj.name = value` (the value is evaluated before the target).
inline void set_attr(Ref obj, PyObject *name, Ref value) {
    check(may_end_thread([&] { return PyObject_SetAttr(obj.ptr(), name, value.ptr()); }));
}

/// `obj[key]`.
inline py::object getitem(Ref obj, Ref key) {
    return steal(may_end_thread([&] { return PyObject_GetItem(obj.ptr(), key.ptr()); }));
}

/// `obj[key] = value`.
inline void setitem(Ref obj, Ref key, Ref value) {
    check(may_end_thread([&] { return PyObject_SetItem(obj.ptr(), key.ptr(), value.ptr()); }));
}

/// `item in container`.
inline bool contains(Ref item, Ref container) {
    int result = may_end_thread([&] { return PySequence_Contains(container.ptr(), item.ptr()); });
    check(result);
    return result != 0;
}

/// `a == b`, the comparison's value.
inline py::object eq(Ref a, Ref b) {
    return steal(may_end_thread([&] { return PyObject_RichCompare(a.ptr(), b.ptr(), Py_EQ); }));
}

/// `a != b`, the comparison's value.
inline py::object ne(Ref a, Ref b) {
    return steal(may_end_thread([&] { return PyObject_RichCompare(a.ptr(), b.ptr(), Py_NE); }));
}

/// `if a == b:`: the comparison's value reduced to a truth value (no
/// identity shortcut, exactly as the interpreter evaluates the test).
inline bool equals(Ref a, Ref b) {
    py::object result = eq(a, b);
    return truth(result);
}

/// `if a != b:`.
inline bool not_equals(Ref a, Ref b) {
    py::object result = ne(a, b);
    return truth(result);
}

#define DUZER_BINARY(verb, c_api)                                              \
    inline py::object verb(Ref a, Ref b) {                                     \
        return steal(may_end_thread([&] { return c_api(a.ptr(), b.ptr()); })); \
    }
DUZER_BINARY(add, PyNumber_Add)
DUZER_BINARY(subtract, PyNumber_Subtract)
DUZER_BINARY(multiply, PyNumber_Multiply)
DUZER_BINARY(true_divide, PyNumber_TrueDivide)
DUZER_BINARY(remainder, PyNumber_Remainder)
DUZER_BINARY(bit_and, PyNumber_And)
DUZER_BINARY(inplace_add, PyNumber_InPlaceAdd)
DUZER_BINARY(inplace_true_divide, PyNumber_InPlaceTrueDivide)
#undef DUZER_BINARY

/// `len(obj)`.
inline Py_ssize_t length(py::handle obj) {
    Py_ssize_t n = may_end_thread([&] { return PyObject_Size(obj.ptr()); });
    if (n < 0) raise_pending();
    return n;
}

inline py::object index_object(Py_ssize_t i) {
    return steal(PyLong_FromSsize_t(i));
}

/// A str from UTF-8 text.
inline py::object text(const char *utf8) {
    return steal(PyUnicode_FromString(utf8));
}

/// `str(obj)`.
inline py::object str_of(py::handle obj) {
    return steal(may_end_thread([&] { return PyObject_Str(obj.ptr()); }));
}

/// `(a, b, ...)`.
template <class... Items>
py::object new_tuple(Items &&...items) {
    return steal(PyTuple_Pack(sizeof...(Items), Ref(std::forward<Items>(items)).ptr()...));
}

/// `[]`, `{}`.
inline py::object new_list() {
    return steal(PyList_New(0));
}
inline py::object new_dict() {
    return steal(PyDict_New());
}

/// `lst.append(item)` on a list the procedure made itself.
inline void append(Ref list, Ref item) {
    check(may_end_thread([&] { return PyList_Append(list.ptr(), item.ptr()); }));
}

/// `[*a, *iterable]`: extends a list the procedure made itself, with the
/// interpreter's text for a value after `*` that cannot be iterated.
void extend(Ref list, Ref iterable);

/// `list(iterable)`, `set(iterable)`, `sorted(iterable)` with the builtins'
/// own behaviour.
inline py::object list_of(py::handle iterable) {
    return steal(may_end_thread([&] { return PySequence_List(iterable.ptr()); }));
}
inline py::object set_of(py::handle iterable) {
    return steal(may_end_thread([&] { return PySet_New(iterable.ptr()); }));
}
py::object sorted_list(py::handle iterable);

/// `iter(iterable)`.
inline py::object get_iter(py::handle iterable) {
    return steal(may_end_thread([&] { return PyObject_GetIter(iterable.ptr()); }));
}

/// Next item of an iterator, or an empty object when it is exhausted.
inline py::object next(py::handle iterator) {
    PyObject *item = may_end_thread([&] { return PyIter_Next(iterator.ptr()); });
    if (item == nullptr && PyErr_Occurred()) raise_pending();
    return py::reinterpret_steal<py::object>(item);
}

}  // namespace duzer::interp
