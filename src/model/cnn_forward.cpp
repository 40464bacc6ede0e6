// `CNN.get_conv_output_size` (the feature-size probe) and `CNN.forward`.
#include "interp/call.h"
#include "model/cnn.h"

namespace duzer {

using namespace interp;

namespace {

/// `for layer in layers: x = layer(x)`.
py::object run_through(py::handle layers, py::object x) {
    py::object it = get_iter(layers);
    while (py::object layer = next(it)) x = call(layer, x);
    return x;
}

py::object cnn_probe(Function &fn, PyObject *const *args) {
    const Names &n = names();
    py::handle self = args[0];
    Scope &scope = as_scope(fn.scope);
    // torch.zeros(1, *dataX.shape[1:])
    py::object zeros = attr(global(n.torch), n.zeros);
    py::object sample_shape = getitem(attr(scope.get(Scope::dataX), n.shape), n.slice_from_1);
    py::object shape_args = steal(PySequence_Concat(
        make_tuple(n.int_1).ptr(), steal(PySequence_Tuple(sample_shape.ptr())).ptr()));
    py::object x = steal(PyObject_Call(zeros.ptr(), shape_args.ptr(), nullptr));
    x = call_method(x, n.to, scope.get(Scope::device));
    x = run_through(attr(self, n.conv_layers), std::move(x));
    x = run_through(attr(self, n.pool_layers), std::move(x));
    return call_method(global(n.np), n.prod, getitem(attr(x, n.shape), n.slice_from_1));
}

py::object cnn_forward(Function &, PyObject *const *args) {
    const Names &n = names();
    py::handle self = args[0];
    py::object x = py::reinterpret_borrow<py::object>(args[1]);
    x = run_through(attr(self, n.conv_layers), std::move(x));
    x = call_method(x, n.view, call_method(x, n.size, n.int_0), n.int_minus_1);
    return run_through(attr(self, n.fc_layers), std::move(x));
}

PyObject *Names::*const kProbeParams[] = {&Names::self};
PyObject *Names::*const kForwardParams[] = {&Names::self, &Names::x};

}  // namespace

const FunctionSpec kCnnProbe = {"get_conv_output_size", &Names::get_conv_output_size, kProbeParams,
                                1, cnn_probe};
const FunctionSpec kCnnForward = {"forward", &Names::forward, kForwardParams, 2, cnn_forward};

}  // namespace duzer
