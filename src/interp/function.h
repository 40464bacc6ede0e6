// The function object type used for FunClassCNNs and for the methods of each
// call's network class: a native body behind Python function semantics
// (names, globals, __dict__, descriptor binding, vectorcall, cyclic GC).
#pragma once

#include "interp/names.h"

namespace duzer::interp {

struct Function;

/// A native body: receives the function object and its bound arguments, one
/// borrowed reference per parameter, in signature order.
using FunctionBody = py::object (*)(Function &self, PyObject *const *args);

/// What never changes between instances of one function.
struct FunctionSpec {
    const char *name;                 ///< `__name__` as text, for argument errors
    PyObject *Names::*name_object;    ///< `__name__`, interned
    PyObject *Names::*const *params;  ///< parameter names, in signature order
    Py_ssize_t nparams;               ///< at most `kMaxParams`
    FunctionBody body;
};

constexpr Py_ssize_t kMaxParams = 8;

struct Function {
    PyObject_HEAD vectorcallfunc vectorcall;
    const FunctionSpec *spec;
    PyObject *name;
    PyObject *qualname;
    PyObject *module;
    PyObject *doc;
    PyObject *globals;
    PyObject *dict;
    PyObject *scope;        ///< the enclosing call scope, or NULL for none
    PyObject *type_params;  ///< `__type_params__` where the interpreter has it; NULL for ()
    PyObject *weakreflist;
};

/// Creates a function object bound to the module namespace. `doc` may be
/// Py_None; `scope` may be NULL.
py::object new_function(const FunctionSpec &spec, py::handle qualname, py::handle doc,
                        PyObject *scope);

/// Creates the type; NULL with an exception set on failure.
PyTypeObject *make_function_type();

}  // namespace duzer::interp
