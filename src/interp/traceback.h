// Traceback entries for native code, in the form of the interpreter's own:
// `File "<file>", line <line>, in <function>`.
#pragma once

#include "interp/object.h"

namespace duzer::interp {

/// Adds an entry to the traceback of the pending exception (outermost so
/// far). The exception itself, its type, message, cause and context, is left
/// as it is; if the entry cannot be made, the traceback stays as it was.
/// Called by `traced_step` (interp/guard.h), the one place that names steps.
void add_traceback_entry(const char *function, const char *file, int line);

}  // namespace duzer::interp
