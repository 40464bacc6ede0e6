// `CNN.__init__`: the convolution blocks and the fully connected stack, built
// from the layer tables in a fixed order (the order in which the layers draw
// their initial weights from torch's generator).
#include "interp/call.h"
#include "interp/state.h"
#include "model/cnn.h"

namespace duzer {

using namespace interp;

namespace {

/// `table[i][k]`, subscripting twice so lists and arrays both serve.
py::object field(Ref table, Ref i, PyObject *k) {
    py::object row = getitem(table, i);
    return getitem(row, k);
}

/// `self.<list_name>.append(<make()>)`: the list and its append are looked up
/// before the layer is built. Returns what append returns.
template <class Make>
py::object append_layer(py::handle self, PyObject *list_name, Make make) {
    Method append = method(attr(self, list_name), names().append);
    py::object layer = make();
    return call(append, layer);
}

/// `module.to(device)`.
py::object to_device(py::handle module, const Scope &scope) {
    Method to = method(module, names().to);
    py::object device = scope.get(Scope::device);
    return call(to, device);
}

/// `nn.<name>()`.
py::object new_layer(PyObject *name) {
    return call_noargs(global_attr(names().nn, name));
}

/// `nn.Linear(<in_features()>, <out_features()>)`.
template <class In, class Out>
py::object linear(In in_features, Out out_features) {
    py::object linear_cls = global_attr(names().nn, names().Linear);
    py::object in = in_features();
    py::object out = out_features();
    return call(linear_cls, in, out);
}

/// One row of the convolution tables: Conv2d (on the device), ReLU, and the
/// pooling layer that the row's pool type names, if any.
void add_conv_block(py::handle self, const Scope &scope, Ref cLayer, Ref poolingLayer,
                    Py_ssize_t row) {
    const Names &n = names();
    py::object i = index_object(row);
    py::object in_channels;
    if (row == 0) {
        // in_channels = dataX.shape[1]
        py::object shape = attr(scope.get(Scope::dataX), n.shape);
        in_channels = getitem(shape, n.int_1);
    } else {
        // in_channels = cLayer[i - 1][2]
        py::object previous = index_object(row - 1);
        in_channels = field(cLayer, previous, n.int_2);
    }
    py::object out_channels = field(cLayer, i, n.int_2);
    py::object kernel_height = field(cLayer, i, n.int_0);
    py::object kernel_width = field(cLayer, i, n.int_1);
    py::object kernel_size = new_tuple(kernel_height, kernel_width);
    py::object stride = field(cLayer, i, n.int_3);
    py::object padding = field(cLayer, i, n.int_4);
    // self.conv_layers.append(nn.Conv2d(in_channels, out_channels, kernel_size,
    //                                   stride, padding).to(device))
    append_layer(self, n.conv_layers, [&] {
        py::object conv2d = global_attr(n.nn, n.Conv2d);
        py::object conv = call(conv2d, in_channels, out_channels, kernel_size, stride, padding);
        return to_device(conv, scope);
    });
    // self.conv_layers.append(nn.ReLU())
    append_layer(self, n.conv_layers, [&] { return new_layer(n.ReLU); });

    // if poolingLayer[i][0] != "none":
    //     if poolingLayer[i][0] == "maxPooling2dLayer": ... MaxPool2d
    //     elif poolingLayer[i][0] == "averagePooling2dLayer": ... AvgPool2d
    py::object pool_type = field(poolingLayer, i, n.int_0);
    py::object not_none = compare(pool_type, n.none, Py_NE);
    if (!truth(not_none)) return;
    PyObject *pool_class = nullptr;
    pool_type = field(poolingLayer, i, n.int_0);
    if (equals(pool_type, n.maxPooling2dLayer)) {
        pool_class = n.MaxPool2d;
    } else {
        pool_type = field(poolingLayer, i, n.int_0);
        if (!equals(pool_type, n.averagePooling2dLayer)) return;
        pool_class = n.AvgPool2d;
    }
    // self.conv_layers.append(nn.<pool_class>(
    //     kernel_size=(poolingLayer[i][1], poolingLayer[i][2]),
    //     stride=poolingLayer[i][3], padding=poolingLayer[i][4])).to(device)
    py::object appended = append_layer(self, n.conv_layers, [&] {
        py::object pool_cls = global_attr(n.nn, pool_class);
        py::object pool_height = field(poolingLayer, i, n.int_1);
        py::object pool_width = field(poolingLayer, i, n.int_2);
        py::object pool_kernel = new_tuple(pool_height, pool_width);
        py::object pool_stride = field(poolingLayer, i, n.int_3);
        py::object pool_padding = field(poolingLayer, i, n.int_4);
        return call_kw(pool_cls, n.kw_kernel_size_stride_padding, pool_kernel, pool_stride,
                       pool_padding);
    });
    to_device(appended, scope);
}

py::object cnn_init(Function &fn, PyObject *const *args) {
    const Names &n = names();
    py::handle self = args[0], cLayer = args[1], poolingLayer = args[2], fcLayer = args[3],
               num_classes = args[4];
    const Scope &scope = as_scope(fn.scope);

    // super(CNN, self).__init__()
    py::object cls = scope.get(Scope::CNN);
    py::object parent = call(n.super, cls, self);
    call_method(parent, n.__init__);
    // self.conv_layers = nn.ModuleList(); self.pool_layers = nn.ModuleList()
    py::object conv_layers = new_layer(n.ModuleList);
    set_attr(self, n.conv_layers, conv_layers);
    py::object pool_layers = new_layer(n.ModuleList);
    set_attr(self, n.pool_layers, pool_layers);

    // for i in range(len(cLayer)):
    const Py_ssize_t conv_rows = length(cLayer);
    for (Py_ssize_t row = 0; row < conv_rows; ++row)
        add_conv_block(self, scope, cLayer, poolingLayer, row);

    // self.fc_layers = nn.ModuleList()
    py::object fc_layers = new_layer(n.ModuleList);
    set_attr(self, n.fc_layers, fc_layers);
    auto probe = [&] { return call_method(self, n.get_conv_output_size); };
    auto width = [&](Py_ssize_t k) {
        return [&fcLayer, k] {
            py::object index = index_object(k);
            return getitem(fcLayer, index);
        };
    };
    auto classes = [&] { return borrow(num_classes.ptr()); };

    // if len(fcLayer) == 0:
    if (length(fcLayer) == 0) {
        // self.fc_layers.append(nn.Linear(self.get_conv_output_size(), num_classes)).to(device)
        py::object appended =
            append_layer(self, n.fc_layers, [&] { return linear(probe, classes); });
        to_device(appended, scope);
        return borrow(Py_None);
    }
    // self.fc_layers.append(nn.Linear(self.get_conv_output_size(), fcLayer[0])).to(device)
    py::object appended = append_layer(self, n.fc_layers, [&] { return linear(probe, width(0)); });
    to_device(appended, scope);
    // self.fc_layers.append(nn.ReLU())
    append_layer(self, n.fc_layers, [&] { return new_layer(n.ReLU); });
    // for i in range(1, len(fcLayer)):
    const Py_ssize_t widths = length(fcLayer);
    for (Py_ssize_t k = 1; k < widths; ++k) {
        // self.fc_layers.append(nn.Linear(fcLayer[i - 1], fcLayer[i])).to(device)
        appended = append_layer(self, n.fc_layers, [&] { return linear(width(k - 1), width(k)); });
        to_device(appended, scope);
        // self.fc_layers.append(nn.ReLU())
        append_layer(self, n.fc_layers, [&] { return new_layer(n.ReLU); });
    }
    // self.fc_layers.append(nn.Linear(fcLayer[-1], num_classes)).to(device)
    appended = append_layer(self, n.fc_layers, [&] {
        return linear([&] { return getitem(fcLayer, n.int_minus_1); }, classes);
    });
    to_device(appended, scope);
    return borrow(Py_None);
}

PyObject *Names::*const kInitParams[] = {&Names::self, &Names::cLayer, &Names::poolingLayer,
                                         &Names::fcLayer, &Names::num_classes};

}  // namespace

const FunctionSpec kCnnInit = {"__init__", &Names::__init__, kInitParams, 5, cnn_init};

}  // namespace duzer
