// `CNN.__init__`: the convolution blocks and the fully connected stack, built
// from the layer tables in a fixed order (the order in which the layers draw
// their initial weights from torch's generator).
#include "interp/call.h"
#include "model/cnn.h"

namespace duzer {

using namespace interp;

namespace {

/// `table[i][field]`, subscripting twice so lists and arrays both serve.
py::object field(py::handle table, py::handle i, py::handle field_index) {
    return getitem(getitem(table, i), field_index);
}

/// `self.<list>.append(module)`; returns what append returns.
py::object append_module(py::handle self, PyObject *list_name, py::handle module) {
    return call_method(attr(self, list_name), names().append, module);
}

/// `nn.<kind>(kernel_size=(row[1], row[2]), stride=row[3], padding=row[4])`.
py::object pooling_module(PyObject *kind, py::handle poolingLayer, py::handle i) {
    const Names &n = names();
    py::object kernel_size =
        make_tuple(field(poolingLayer, i, n.int_1), field(poolingLayer, i, n.int_2));
    py::object stride = field(poolingLayer, i, n.int_3);
    py::object padding = field(poolingLayer, i, n.int_4);
    return call_kw(attr(global(n.nn), kind), n.kw_kernel_size_stride_padding, kernel_size, stride,
                   padding);
}

py::object cnn_init(Function &fn, PyObject *const *args) {
    const Names &n = names();
    py::handle self = args[0], cLayer = args[1], poolingLayer = args[2], fcLayer = args[3],
               num_classes = args[4];
    Scope &scope = as_scope(fn.scope);

    call_method(call(n.super, scope.get(Scope::CNN), self), n.__init__);
    set_attr(self, n.conv_layers, call(attr(global(n.nn), n.ModuleList)));
    set_attr(self, n.pool_layers, call(attr(global(n.nn), n.ModuleList)));

    const Py_ssize_t conv_rows = length(cLayer);
    for (Py_ssize_t row = 0; row < conv_rows; ++row) {
        py::object i = index_object(row);
        py::object in_channels = row == 0 ? getitem(attr(scope.get(Scope::dataX), n.shape), n.int_1)
                                          : field(cLayer, index_object(row - 1), n.int_2);
        py::object out_channels = field(cLayer, i, n.int_2);
        py::object kernel_size = make_tuple(field(cLayer, i, n.int_0), field(cLayer, i, n.int_1));
        py::object stride = field(cLayer, i, n.int_3);
        py::object padding = field(cLayer, i, n.int_4);
        py::object conv = call(attr(global(n.nn), n.Conv2d), in_channels, out_channels, kernel_size,
                               stride, padding);
        append_module(self, n.conv_layers, call_method(conv, n.to, scope.get(Scope::device)));
        append_module(self, n.conv_layers, call(attr(global(n.nn), n.ReLU)));

        if (!truth(compare(field(poolingLayer, i, n.int_0), n.none, Py_NE))) continue;
        PyObject *kind = nullptr;
        if (truth(compare(field(poolingLayer, i, n.int_0), n.maxPooling2dLayer, Py_EQ))) {
            kind = n.MaxPool2d;
        } else if (truth(
                       compare(field(poolingLayer, i, n.int_0), n.averagePooling2dLayer, Py_EQ))) {
            kind = n.AvgPool2d;
        } else {
            continue;
        }
        py::object pool = pooling_module(kind, poolingLayer, i);
        call_method(append_module(self, n.conv_layers, pool), n.to, scope.get(Scope::device));
    }

    set_attr(self, n.fc_layers, call(attr(global(n.nn), n.ModuleList)));
    const Py_ssize_t widths = length(fcLayer);
    if (widths == 0) {
        py::object features = call_method(self, n.get_conv_output_size);
        py::object linear = call(attr(global(n.nn), n.Linear), features, num_classes);
        call_method(append_module(self, n.fc_layers, linear), n.to, scope.get(Scope::device));
        return py::none();
    }
    py::object features = call_method(self, n.get_conv_output_size);
    py::object linear = call(attr(global(n.nn), n.Linear), features, getitem(fcLayer, n.int_0));
    call_method(append_module(self, n.fc_layers, linear), n.to, scope.get(Scope::device));
    append_module(self, n.fc_layers, call(attr(global(n.nn), n.ReLU)));
    for (Py_ssize_t k = 1; k < widths; ++k) {
        linear = call(attr(global(n.nn), n.Linear), getitem(fcLayer, index_object(k - 1)),
                      getitem(fcLayer, index_object(k)));
        call_method(append_module(self, n.fc_layers, linear), n.to, scope.get(Scope::device));
        append_module(self, n.fc_layers, call(attr(global(n.nn), n.ReLU)));
    }
    linear = call(attr(global(n.nn), n.Linear), getitem(fcLayer, n.int_minus_1), num_classes);
    call_method(append_module(self, n.fc_layers, linear), n.to, scope.get(Scope::device));
    return py::none();
}

PyObject *Names::*const kInitParams[] = {&Names::self, &Names::cLayer, &Names::poolingLayer,
                                         &Names::fcLayer, &Names::num_classes};

}  // namespace

const FunctionSpec kCnnInit = {"__init__", &Names::__init__, kInitParams, 5, cnn_init};

}  // namespace duzer
