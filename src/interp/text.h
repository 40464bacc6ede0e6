// Text building for the printed lines: format() with a format spec, and a
// single join of the pieces.
#pragma once

#include <initializer_list>

#include "interp/object.h"

namespace duzer::interp {

/// `format(value, spec)`.
inline py::object format(py::handle value, PyObject *spec) {
    return steal(may_end_thread([&] { return PyObject_Format(value.ptr(), spec); }));
}

/// The pieces joined without a separator (each must be a str), as an f-string
/// builds its result. The braced list evaluates its pieces left to right.
py::object concat(std::initializer_list<py::handle> pieces);

}  // namespace duzer::interp
