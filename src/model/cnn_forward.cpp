// `CNN.forward`: the convolution stack, flattening, the fully connected stack.
#include "interp/call.h"
#include "interp/state.h"
#include "model/cnn.h"
#include "model/layers.h"

namespace duzer {

using namespace interp;

namespace {

py::object cnn_forward(Function &, PyObject *const *args) {
    const Names &n = names();
    py::handle self = args[0];
    py::object x = borrow(args[1]);
    // for layer in self.conv_layers: x = layer(x)
    x = run_through(attr(self, n.conv_layers), std::move(x));
    // x = x.view(x.size(0), -1)
    Method view = method(x, n.view);
    py::object batch = call_method(x, n.size, n.int_0);
    x = call(view, batch, n.int_minus_1);
    // for fc_layer in self.fc_layers: x = fc_layer(x)
    return run_through(attr(self, n.fc_layers), std::move(x));
}

PyObject *Names::*const kForwardParams[] = {&Names::self, &Names::x};

}  // namespace

const FunctionSpec kCnnForward = {"forward", &Names::forward, kForwardParams, 2, cnn_forward};

}  // namespace duzer
