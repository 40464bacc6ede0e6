// The module's process-wide state in one record: the interpreter that owns the
// module, the executed module and the two namespaces its calls read, the
// builtins every call uses, and the two native types. The exec
// step writes it in one place and rolls it back in one place when it fails
// (interp/module.cpp); everything else reads it.
#pragma once

#include <cstdint>

#include "interp/object.h"

namespace duzer::interp {

/// The builtins that every call uses, fetched from the builtins' namespace by
/// each exec step.
struct Builtins {
    PyObject *print = nullptr;
    PyObject *range = nullptr;
    PyObject *super = nullptr;
};

struct ProcessState {
    /// Set by the first create step; never cleared, so a second interpreter
    /// is refused even after the first has ended.
    int64_t owning_interpreter = -1;
    /// The module whose exec step ran (strong); cleared when that step fails.
    PyObject *executed_module = nullptr;
    /// Its namespace, and the builtins' namespace (borrowed: the module and
    /// its `__builtins__` keep them alive). Set with `executed_module`.
    PyObject *module_globals = nullptr;
    PyObject *builtins_dict = nullptr;
    /// Made by the exec step; kept for the process.
    Builtins builtins{};
    /// The function and call-scope types; made once, kept for the process.
    PyTypeObject *function_type = nullptr;
    PyTypeObject *scope_type = nullptr;
};

namespace detail {
extern ProcessState process_state;
}

inline const ProcessState &state() {
    return detail::process_state;
}

inline const Builtins &builtins() {
    return detail::process_state.builtins;
}

}  // namespace duzer::interp
