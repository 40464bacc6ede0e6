// Running a value through a list of layers, shared by the probe and the
// forward pass.
#pragma once

#include "interp/object.h"

namespace duzer {

/// `for layer in layers: x = layer(x)`; returns the final `x`.
py::object run_through(py::handle layers, py::object x);

}  // namespace duzer
