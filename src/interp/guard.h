// The one boundary between C++ exceptions and the interpreter: every C entry
// point runs its body through these, so no C++ exception ever unwinds into
// CPython and every failure leaves a Python exception set.
//
// Forced unwinding. At shutdown the interpreter ends a daemon thread that
// asks for the interpreter lock again with pthread_exit, which unwinds the
// thread's stack with glibc's forced-unwind exception. It must pass through
// every frame of the module untouched: a handler that swallows it aborts the
// process, and so does a noexcept frame it meets. So every `catch (...)` is
// preceded by `DUZER_LET_FORCED_UNWIND_PASS`, and a function that can run
// Python code (any call into the interpreter, any reference it drops) is not
// noexcept, C slots included. (A thread ended inside one of the module's
// interpreter operations does not unwind at all: interp/ended_thread.h.)
#pragma once

#include <exception>
#include <new>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
/// The handler clause that rethrows a forced unwind; put it before `catch (...)`
/// in a function marked DUZER_CATCHES_FORCED_UNWIND.
#define DUZER_LET_FORCED_UNWIND_PASS \
    catch (abi::__forced_unwind &) { \
        throw;                       \
    }
#else
#define DUZER_LET_FORCED_UNWIND_PASS
#endif

#include "interp/object.h"
#include "interp/traceback.h"

namespace duzer::interp {

/// Leaves a Python exception set for the C++ exception being handled. An
/// exception the interpreter already holds always wins: a C++ exception that
/// follows a failed allocation (a library's "could not allocate" error) must
/// not hide the MemoryError behind it. An interpreter operation that failed
/// without setting an exception (some allocation failures do) becomes the
/// MemoryError it stands for.
DUZER_CATCHES_FORCED_UNWIND Py_NO_INLINE void set_error_from_current_exception();

/// Runs `body`; on a C++ exception, leaves the Python exception set and
/// returns what `on_error` returns. A forced unwind passes, after
/// `on_forced_unwind`, which must not touch the interpreter: the thread no
/// longer holds it.
template <class Body, class OnError, class OnForcedUnwind>
DUZER_CATCHES_FORCED_UNWIND auto catch_into_python(Body &&body, OnError &&on_error,
                                                   OnForcedUnwind &&on_forced_unwind)
    -> decltype(body()) {
    try {
        return body();
    }
#if defined(__GLIBCXX__)
    catch (abi::__forced_unwind &) {
        on_forced_unwind();
        throw;
    }
#endif
    catch (...) {
        set_error_from_current_exception();
        return on_error();
    }
}

template <class Body, class OnError>
auto catch_into_python(Body &&body, OnError &&on_error) -> decltype(body()) {
    return catch_into_python(body, on_error, [] {});
}

/// Runs `body` (returning a new reference) for a slot that returns an object.
template <class Body>
PyObject *guard_object(Body &&body) {
    return catch_into_python(body, []() -> PyObject * { return nullptr; });
}

/// Runs `body` for a slot that returns 0 on success and -1 on failure.
template <class Body>
int guard_status(Body &&body) {
    return catch_into_python(
        [&] {
            body();
            return 0;
        },
        [] { return -1; });
}

/// Runs one named step of a native function. An exception leaving it gains
/// one traceback entry, `File "<file>", line <line>, in <function>` (the
/// exception itself left exactly as raised), and goes on; a forced unwind
/// passes after `on_forced_unwind` (which must not touch the interpreter).
template <class Body, class OnForcedUnwind>
void traced_step(const char *function, const char *file, int line, Body &&body,
                 OnForcedUnwind &&on_forced_unwind) {
    catch_into_python([&] { body(); },
                      [&] {
                          add_traceback_entry(function, file, line);
                          raise_pending();
                      },
                      on_forced_unwind);
}

}  // namespace duzer::interp
