// Turning the C++ exception being handled into the pending Python exception.
#include "interp/guard.h"

namespace duzer::interp {

DUZER_CATCHES_FORCED_UNWIND void set_error_from_current_exception() {
    try {
        throw;
    } catch (const ErrorSet &) {
        if (!PyErr_Occurred()) PyErr_NoMemory();
    }
    DUZER_LET_FORCED_UNWIND_PASS
    catch (...) {
        if (PyErr_Occurred()) return;
        try {
            throw;
        } catch (const std::bad_alloc &) {
            PyErr_NoMemory();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_SystemError, e.what());
        }
        DUZER_LET_FORCED_UNWIND_PASS
        catch (...) {
            PyErr_SetString(PyExc_SystemError, "unknown C++ exception in duZER");
        }
    }
}

}  // namespace duzer::interp
