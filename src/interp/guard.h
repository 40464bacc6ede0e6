// The one boundary between C++ exceptions and the interpreter: every C entry
// point runs its body through these, so no C++ exception ever unwinds into
// CPython and every failure leaves a Python exception set.
#pragma once

#include <exception>
#include <new>

#include "interp/object.h"

namespace duzer::interp {

namespace detail {
/// Leaves a Python exception set for the C++ exception being handled. An
/// exception the interpreter already holds always wins: a C++ exception that
/// follows a failed allocation (a library's "could not allocate" error) must
/// not hide the MemoryError behind it.
Py_NO_INLINE inline void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorSet &) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "duZER: operation failed without an exception");
    } catch (...) {
        if (PyErr_Occurred()) return;
        try {
            throw;
        } catch (const std::bad_alloc &) {
            PyErr_NoMemory();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_SystemError, e.what());
        } catch (...) {
            PyErr_SetString(PyExc_SystemError, "unknown C++ exception in duZER");
        }
    }
}
}  // namespace detail

/// Runs `body` (returning a new reference) for a slot that returns an object.
template <class Body>
PyObject *guard_object(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        detail::set_error_from_current_exception();
        return nullptr;
    }
}

/// Runs `body` for a slot that returns 0 on success and -1 on failure.
template <class Body>
int guard_status(Body &&body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        detail::set_error_from_current_exception();
        return -1;
    }
}

}  // namespace duzer::interp
