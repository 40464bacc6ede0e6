// Calls through vectorcall: positional arguments, keyword arguments taken from
// an interned keyword-name tuple, method calls without a bound-method object,
// and the module-level name lookup that every call site goes through.
#pragma once

#include "interp/names.h"

namespace duzer::interp {

/// `f(a...)`.
template <class... Args>
py::object call(py::handle f, const Args &...args) {
    PyObject *stack[] = {nullptr, py::handle(args).ptr()...};
    constexpr size_t nargs = sizeof...(Args);
    return steal(
        PyObject_Vectorcall(f.ptr(), stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// `f(p..., k1=v1, ...)`: the last len(kwnames) arguments are the keyword values.
template <class... Args>
py::object call_kw(py::handle f, PyObject *kwnames, const Args &...args) {
    PyObject *stack[] = {nullptr, py::handle(args).ptr()...};
    const size_t nargs = sizeof...(Args) - static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
    return steal(
        PyObject_Vectorcall(f.ptr(), stack + 1, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

/// `self.name(a...)`, looked up as the interpreter looks up a method.
template <class... Args>
py::object call_method(py::handle self, PyObject *name, const Args &...args) {
    PyObject *stack[] = {self.ptr(), py::handle(args).ptr()...};
    constexpr size_t nargs = sizeof...(Args) + 1;
    return steal(
        PyObject_VectorcallMethod(name, stack, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

/// The module namespace and the builtins' namespace, set when the module executes.
extern PyObject *module_globals;
extern PyObject *builtins_dict;

/// A module-level name looked up at the moment of use: the module namespace,
/// then the builtins, else NameError.
py::object global(PyObject *name);

/// `print(text)` through the builtin fetched at load.
inline void print_line(py::handle text) {
    call(names().print, text);
}

/// `mapping.get(key, default)`.
inline py::object get(py::handle mapping, PyObject *key, PyObject *default_value) {
    return call_method(mapping, names().get, key, default_value);
}

}  // namespace duzer::interp
