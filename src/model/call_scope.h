// The variables one call shares with its network's methods: the class `CNN`,
// the samples `dataX` and the `device`, read by the methods when they run, as
// the free variables of methods defined inside the function.
#pragma once

#include "interp/scope.h"

namespace duzer {

struct CallScope {
    enum Variable : Py_ssize_t { CNN, dataX, device };
};

/// A new scope for one call, every variable unbound.
py::object new_call_scope();

}  // namespace duzer
