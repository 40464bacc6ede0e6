// A thread the interpreter ends at shutdown stays where it stands.
//
// At shutdown the interpreter ends a daemon thread that asks for the
// interpreter lock again with pthread_exit, a forced unwind through the
// thread's stack. Python code leaves its frames' objects untouched then; the
// module's frames would drop theirs on the way out, without the lock, and an
// object whose last reference one of them holds (a suspended generator, say)
// would be finalised with no interpreter behind it. So every operation
// through which Python code runs (a call, an iteration step) is made through
// `may_end_thread`: a thread ended inside it sleeps there until the process
// exits, and nothing the call holds is touched. A forced unwind for any other
// reason (a cancelled thread) goes on through the catch sites, each of which
// lets it pass (see interp/guard.h).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

#include "interp/compat.h"

/// Marks a function that catches the forced unwind. That exception carries no
/// object, so the handler binds its reference to none, which the undefined-
/// behaviour sanitizer reports; in the sanitized build its null check is off
/// in such functions, and they stay out of line so that inlining does not
/// bring the check back.
#if defined(DUZER_SANITIZED)
#define DUZER_CATCHES_FORCED_UNWIND __attribute__((noinline, no_sanitize("null")))
#else
#define DUZER_CATCHES_FORCED_UNWIND
#endif

namespace duzer::interp {

/// Sleeps for the rest of the process: the thread's stack and everything it
/// refers to stay as they are.
[[noreturn]] void stay_until_exit();

/// Runs one interpreter operation (a C-API call returning a new reference or
/// a status).
template <class Operation>
DUZER_CATCHES_FORCED_UNWIND auto may_end_thread(Operation &&operation) -> decltype(operation()) {
#if defined(__GLIBCXX__)
    try {
        return operation();
    } catch (abi::__forced_unwind &) {
        if (compat::interpreter_finalizing()) stay_until_exit();
        throw;
    }
#else
    return operation();
#endif
}

}  // namespace duzer::interp
