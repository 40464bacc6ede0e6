// The loop over a layer list.
#include "model/layers.h"

#include "interp/call.h"

namespace duzer {

py::object run_through(py::handle layers, py::object x) {
    py::object it = interp::get_iter(layers);
    while (py::object layer = interp::next(it)) x = interp::call(layer, x);
    return x;
}

}  // namespace duzer
