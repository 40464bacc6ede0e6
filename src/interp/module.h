// The module definition handed to the interpreter, with its create and exec
// steps over the process-wide state record (interp/state.h).
#pragma once

#include "interp/object.h"

namespace duzer::interp {

/// The module's name, `__module__` of its functions.
extern const Text kModuleName;

/// Fills the namespace of the module being executed: imports, settings and the
/// public function. Runs once, as the last part of the exec step.
using PopulateNamespace = void (*)(py::handle module);

/// The definition prepared for multi-phase initialisation; its exec step ends
/// with `populate`.
PyObject *module_definition(PopulateNamespace populate) noexcept;

}  // namespace duzer::interp
