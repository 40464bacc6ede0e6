// `CNN.get_conv_output_size`: the feature-size probe that sizes the first
// fully connected layer, one zero sample pushed through the convolution stack.
#include "interp/call.h"
#include "model/call_scope.h"
#include "model/cnn.h"
#include "model/layers.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {

const Identifier kZeros{"zeros"}, kProd{"prod"};
const SliceFrom kFromSecond{1};

py::object cnn_probe(Function &fn, PyObject *const *args) {
    py::handle self = args[0];
    Scope &scope = as_scope(fn.scope);
    // x = torch.zeros(1, *dataX.shape[1:])
    py::object zeros = attr(global(id::torch), kZeros);
    py::object zeros_args = new_list();
    append(zeros_args, lit::one);
    py::object sample_shape = attr(scope.get(CallScope::dataX), id::shape);
    py::object tail = getitem(sample_shape, kFromSecond);
    extend(zeros_args, tail);
    py::object x = call_unpacked(zeros, zeros_args);
    // x = x.to(device)
    Method to = method(x, id::to);
    py::object device = scope.get(CallScope::device);
    x = call(to, device);
    // for conv_layer in self.conv_layers: x = conv_layer(x)
    x = run_through(attr(self, id::conv_layers), std::move(x));
    // for pool_layer in self.pool_layers: x = pool_layer(x)
    x = run_through(attr(self, id::pool_layers), std::move(x));
    // return np.prod(x.shape[1:])
    Method prod = method(global(id::np), kProd);
    py::object shape = attr(x, id::shape);
    py::object features = getitem(shape, kFromSecond);
    return call(prod, features);
}

const Identifier *const kProbeParams[] = {&id::self};

}  // namespace

const FunctionSpec kCnnProbe{id::get_conv_output_size, kProbeParams, cnn_probe};

}  // namespace duzer
