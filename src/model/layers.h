// Running a value through a list of layers, shared by the probe and the
// forward pass.
#pragma once

#include "interp/call.h"

namespace duzer {

/// `for layer in layers: x = layer(x)`; returns the final `x`.
inline py::object run_through(py::handle layers, py::object x) {
    py::object it = interp::get_iter(layers);
    while (py::object layer = interp::next(it)) x = interp::call(layer, x);
    return x;
}

}  // namespace duzer
