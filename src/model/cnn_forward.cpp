// `CNN.forward`: the convolution stack, flattening, the fully connected stack.
#include "interp/call.h"
#include "model/cnn.h"
#include "model/layers.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {

const Identifier kView{"view"}, kX{"x"};

py::object cnn_forward(Function &, PyObject *const *args) {
    py::handle self = args[0];
    py::object x = borrow(args[1]);
    // for layer in self.conv_layers: x = layer(x)
    x = run_through(attr(self, id::conv_layers), std::move(x));
    // x = x.view(x.size(0), -1)
    Method view = method(x, kView);
    py::object batch = call_method(x, id::size, lit::zero);
    x = call(view, batch, lit::minus_one);
    // for fc_layer in self.fc_layers: x = fc_layer(x)
    return run_through(attr(self, id::fc_layers), std::move(x));
}

const Identifier *const kForwardParams[] = {&id::self, &kX};

}  // namespace

const FunctionSpec kCnnForward{id::forward, kForwardParams, cnn_forward};

}  // namespace duzer
