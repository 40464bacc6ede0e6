// The enclosing scope of one FunClassCNNs call: the variables `CNN`, `dataX`
// and `device` that the network methods read at the moment they run. It sits
// in a reference cycle (scope -> class -> methods -> scope), so it takes part
// in the cyclic GC.
#pragma once

#include "interp/object.h"

namespace duzer::interp {

struct Scope {
    enum Variable { CNN, dataX, device, kCount };

    PyObject_HEAD PyObject *slots[kCount];

    /// The current binding; NameError when the variable is still unbound.
    py::object get(Variable v) const;
    void set(Variable v, py::handle value);
};

/// A new scope with every variable unbound.
py::object new_scope();

inline Scope &as_scope(py::handle scope) {
    return *reinterpret_cast<Scope *>(scope.ptr());
}

/// Creates the type; NULL with an exception set on failure.
PyTypeObject *make_scope_type();

}  // namespace duzer::interp
