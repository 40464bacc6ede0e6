// The module definition handed to the interpreter, with its create and exec
// steps and the process-wide record of the one interpreter and the one
// executed module.
#pragma once

#include "interp/object.h"

namespace duzer::interp {

/// The definition prepared for multi-phase initialisation.
PyObject *module_definition() noexcept;

}  // namespace duzer::interp

namespace duzer {

/// Binds the module's namespace: imports, plotting defaults, the public
/// function and `__test__`. Defined with the public entry.
void populate_namespace(py::handle module);

}  // namespace duzer
