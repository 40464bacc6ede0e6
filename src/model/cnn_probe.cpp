// `CNN.get_conv_output_size`: the feature-size probe that sizes the first
// fully connected layer, one zero sample pushed through the convolution stack.
#include "interp/call.h"
#include "interp/state.h"
#include "model/cnn.h"
#include "model/layers.h"

namespace duzer {

using namespace interp;

namespace {

py::object cnn_probe(Function &fn, PyObject *const *args) {
    const Names &n = names();
    py::handle self = args[0];
    Scope &scope = as_scope(fn.scope);
    // x = torch.zeros(1, *dataX.shape[1:])
    py::object zeros = global_attr(n.torch, n.zeros);
    py::object zeros_args = new_list();
    append(zeros_args, n.int_1);
    py::object sample_shape = attr(scope.get(Scope::dataX), n.shape);
    py::object tail = getitem(sample_shape, n.slice_from_1);
    extend(zeros_args, tail);
    py::object x = call_unpacked(zeros, zeros_args);
    // x = x.to(device)
    Method to = method(x, n.to);
    py::object device = scope.get(Scope::device);
    x = call(to, device);
    // for conv_layer in self.conv_layers: x = conv_layer(x)
    x = run_through(attr(self, n.conv_layers), std::move(x));
    // for pool_layer in self.pool_layers: x = pool_layer(x)
    x = run_through(attr(self, n.pool_layers), std::move(x));
    // return np.prod(x.shape[1:])
    Method prod = method(global(n.np), n.prod);
    py::object shape = attr(x, n.shape);
    py::object features = getitem(shape, n.slice_from_1);
    return call(prod, features);
}

PyObject *Names::*const kProbeParams[] = {&Names::self};

}  // namespace

const FunctionSpec kCnnProbe = {"get_conv_output_size", &Names::get_conv_output_size, kProbeParams,
                                1, cnn_probe};

}  // namespace duzer
