// A frame made from an empty code object, linked into the pending
// exception's traceback.
#include "interp/traceback.h"

#include <frameobject.h>

#include "interp/compat.h"

namespace duzer::interp {

void add_traceback_entry(const char *function, const char *file, int line) {
    PyObject *exception = compat::take_raised_exception();
    if (exception == nullptr) return;
    PyObject *globals = PyDict_New();
    PyCodeObject *code = PyCode_NewEmpty(file, function, line);
    PyFrameObject *frame = nullptr;
    if (globals != nullptr && code != nullptr)
        frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
    Py_XDECREF(globals);
    Py_XDECREF(code);
    // A failure to build the entry must not replace the exception on its way out.
    PyErr_Clear();
    compat::restore_raised_exception(exception);
    if (frame != nullptr) {
        PyTraceBack_Here(frame);  // on failure, the interpreter chains its error
        Py_DECREF(frame);
    }
}

}  // namespace duzer::interp
