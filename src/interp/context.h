// `with manager: body` with the with-statement's rules: __enter__ and __exit__
// looked up on the type; when the body raises, __exit__ runs while that
// exception is the one being handled (sys.exc_info() shows it, a bare `raise`
// re-raises it) and may suppress it.
#pragma once

#include "interp/guard.h"

namespace duzer::interp {

/// Enters `manager`; returns its bound __exit__.
py::object enter_context(py::handle manager);

/// `__exit__(None, None, None)`.
void exit_context(py::handle exit);

/// Exits with the pending exception as the handled one; returns normally only
/// when __exit__ suppresses it, otherwise throws with the original exception
/// (or the one __exit__ raised, its context the original) pending.
void exit_context_with_error(py::handle exit);

template <class Body>
void with_block(py::handle manager, Body &&body) {
    py::object exit = enter_context(manager);
    const bool completed = catch_into_python(
        [&] {
            body();
            return true;
        },
        [&] {
            exit_context_with_error(exit);
            return false;
        },
        [&] { exit.release(); });
    if (completed) exit_context(exit);
}

}  // namespace duzer::interp
