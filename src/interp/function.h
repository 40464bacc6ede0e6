// The function object type used for FunClassCNNs and for the methods of each
// call's network class: a native body behind Python function semantics
// (names, globals, __dict__, descriptor binding, vectorcall, cyclic GC).
#pragma once

#include <cstddef>

#include "interp/object.h"

namespace duzer::interp {

struct Function;

/// A native body: receives the function object and its bound arguments, one
/// borrowed reference per parameter, in signature order.
using FunctionBody = py::object (*)(Function &self, PyObject *const *args);

constexpr Py_ssize_t kMaxParams = 8;

/// What never changes between instances of one function.
struct FunctionSpec {
    const Identifier &name;           ///< `__name__`
    const Identifier *const *params;  ///< parameter names, in signature order
    Py_ssize_t nparams;
    FunctionBody body;

    template <size_t N>
    constexpr FunctionSpec(const Identifier &function_name,
                           const Identifier *const (&param_names)[N], FunctionBody function_body)
        : name(function_name), params(param_names), nparams(N), body(function_body) {
        static_assert(N <= kMaxParams, "too many parameters");
    }
};

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
