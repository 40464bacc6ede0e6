// An enclosing scope shared by a function and the functions defined inside
// it: a few variables, by slot, that the inner functions read at the moment
// they run (the cells of a Python closure). It can sit in a reference cycle
// (scope -> class -> methods -> scope), so it takes part in the cyclic GC.
#pragma once

#include <cstddef>

#include "interp/object.h"

namespace duzer::interp {

constexpr Py_ssize_t kMaxScopeVariables = 4;

/// The names of a scope's variables, in slot order.
struct ScopeLayout {
    const Identifier *const *names;
    Py_ssize_t count;

    template <size_t N>
    constexpr explicit ScopeLayout(const Identifier *const (&variable_names)[N])
        : names(variable_names), count(N) {
        static_assert(N <= kMaxScopeVariables, "too many scope variables");
    }
};

struct Scope {
    PyObject_HEAD const ScopeLayout *layout;
    PyObject *slots[kMaxScopeVariables];

    /// The current binding; NameError when the variable is still unbound.
    py::object get(Py_ssize_t slot) const;
    void set(Py_ssize_t slot, py::handle value);
};

/// A new scope with every variable of `layout` unbound.
py::object new_scope(const ScopeLayout &layout);

inline Scope &as_scope(py::handle scope) {
    return *reinterpret_cast<Scope *>(scope.ptr());
}

/// Creates the type; NULL with an exception set on failure.
PyTypeObject *make_scope_type();

}  // namespace duzer::interp
