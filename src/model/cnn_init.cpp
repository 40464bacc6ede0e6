// `CNN.__init__`: the convolution blocks and the fully connected stack, built
// from the layer tables in a fixed order (the order in which the layers draw
// their initial weights from torch's generator).
#include "interp/call.h"
#include "model/call_scope.h"
#include "model/cnn.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {

const Identifier kAppend{"append"}, kModuleList{"ModuleList"}, kConv2d{"Conv2d"}, kReLU{"ReLU"},
    kMaxPool2d{"MaxPool2d"}, kAvgPool2d{"AvgPool2d"}, kLinear{"Linear"}, kNumClasses{"num_classes"};
const Text kNoPooling{"none"}, kMaxPooling{"maxPooling2dLayer"},
    kAveragePooling{"averagePooling2dLayer"};
const KeywordNames kKwKernelSizeStridePadding{"kernel_size", "stride", "padding"};

/// `table[i][k]`, subscripting twice so lists and arrays both serve.
py::object field(Ref table, Ref i, PyObject *k) {
    py::object row = getitem(table, i);
    return getitem(row, k);
}

/// `module.to(device)`.
py::object to_device(py::handle module, const Scope &scope) {
    Method to = method(module, id::to);
    py::object device = scope.get(CallScope::device);
    return call(to, device);
}

/// `self.<list_name>.append(nn.ReLU())`.
void append_relu(py::handle self, PyObject *list_name) {
    Method append = method(attr(self, list_name), kAppend);
    py::object relu = call_method(global(id::nn), kReLU);
    call(append, relu);
}

/// `self.fc_layers.append` and `nn.Linear`, looked up in that order before
/// the new layer's sizes are evaluated.
struct LinearSite {
    Method append;
    Method linear;
};

LinearSite look_up_linear_site(py::handle self) {
    Method append = method(attr(self, id::fc_layers), kAppend);
    Method linear = method(global(id::nn), kLinear);
    return {std::move(append), std::move(linear)};
}

/// `<append>(<Linear>(in_features, out_features)).to(device)`.
void append_linear(const LinearSite &site, Ref in_features, Ref out_features, const Scope &scope) {
    py::object layer = call(site.linear, in_features, out_features);
    py::object appended = call(site.append, layer);
    to_device(appended, scope);
}

/// One row of the convolution tables: Conv2d (on the device), ReLU, and the
/// pooling layer that the row's pool type names, if any.
void add_conv_block(py::handle self, const Scope &scope, Ref cLayer, Ref poolingLayer,
                    Py_ssize_t row) {
    py::object i = index_object(row);
    py::object in_channels;
    if (row == 0) {
        // in_channels = dataX.shape[1]
        py::object shape = attr(scope.get(CallScope::dataX), id::shape);
        in_channels = getitem(shape, lit::one);
    } else {
        // in_channels = cLayer[i - 1][2]
        py::object previous = index_object(row - 1);
        in_channels = field(cLayer, previous, lit::two);
    }
    py::object out_channels = field(cLayer, i, lit::two);
    py::object kernel_height = field(cLayer, i, lit::zero);
    py::object kernel_width = field(cLayer, i, lit::one);
    py::object kernel_size = new_tuple(kernel_height, kernel_width);
    py::object stride = field(cLayer, i, lit::three);
    py::object padding = field(cLayer, i, lit::four);
    {
        // self.conv_layers.append(nn.Conv2d(in_channels, out_channels, kernel_size,
        //                                   stride, padding).to(device))
        Method append = method(attr(self, id::conv_layers), kAppend);
        Method conv2d = method(global(id::nn), kConv2d);
        py::object conv = call(conv2d, in_channels, out_channels, kernel_size, stride, padding);
        py::object on_device = to_device(conv, scope);
        call(append, on_device);
    }
    // self.conv_layers.append(nn.ReLU())
    append_relu(self, id::conv_layers);

    // if poolingLayer[i][0] != "none":
    //     if poolingLayer[i][0] == "maxPooling2dLayer": ... MaxPool2d
    //     elif poolingLayer[i][0] == "averagePooling2dLayer": ... AvgPool2d
    py::object pool_type = field(poolingLayer, i, lit::zero);
    if (!not_equals(pool_type, kNoPooling)) return;
    PyObject *pool_class = nullptr;
    pool_type = field(poolingLayer, i, lit::zero);
    if (equals(pool_type, kMaxPooling)) {
        pool_class = kMaxPool2d;
    } else {
        pool_type = field(poolingLayer, i, lit::zero);
        if (!equals(pool_type, kAveragePooling)) return;
        pool_class = kAvgPool2d;
    }
    // self.conv_layers.append(nn.<pool_class>(
    //     kernel_size=(poolingLayer[i][1], poolingLayer[i][2]),
    //     stride=poolingLayer[i][3], padding=poolingLayer[i][4])).to(device)
    Method append = method(attr(self, id::conv_layers), kAppend);
    Method pool_cls = method(global(id::nn), pool_class);
    py::object pool_height = field(poolingLayer, i, lit::one);
    py::object pool_width = field(poolingLayer, i, lit::two);
    py::object pool_kernel = new_tuple(pool_height, pool_width);
    py::object pool_stride = field(poolingLayer, i, lit::three);
    py::object pool_padding = field(poolingLayer, i, lit::four);
    py::object pool =
        call_kw(pool_cls, kKwKernelSizeStridePadding, pool_kernel, pool_stride, pool_padding);
    py::object appended = call(append, pool);
    to_device(appended, scope);
}

py::object cnn_init(Function &fn, PyObject *const *args) {
    py::handle self = args[0], cLayer = args[1], poolingLayer = args[2], fcLayer = args[3],
               num_classes = args[4];
    const Scope &scope = as_scope(fn.scope);

    // super(CNN, self).__init__()
    py::object cls = scope.get(CallScope::CNN);
    py::object parent = call(builtins().super, cls, self);
    call_method(parent, id::__init__);
    // self.conv_layers = nn.ModuleList(); self.pool_layers = nn.ModuleList()
    py::object conv_layers = call_method(global(id::nn), kModuleList);
    set_attr(self, id::conv_layers, conv_layers);
    py::object pool_layers = call_method(global(id::nn), kModuleList);
    set_attr(self, id::pool_layers, pool_layers);

    // for i in range(len(cLayer)):
    const Py_ssize_t conv_rows = length(cLayer);
    for (Py_ssize_t row = 0; row < conv_rows; ++row)
        add_conv_block(self, scope, cLayer, poolingLayer, row);

    // self.fc_layers = nn.ModuleList()
    py::object fc_layers = call_method(global(id::nn), kModuleList);
    set_attr(self, id::fc_layers, fc_layers);

    // if len(fcLayer) == 0:
    if (length(fcLayer) == 0) {
        // self.fc_layers.append(nn.Linear(self.get_conv_output_size(), num_classes)).to(device)
        LinearSite site = look_up_linear_site(self);
        py::object features = call_method(self, id::get_conv_output_size);
        append_linear(site, features, num_classes, scope);
        return borrow(Py_None);
    }
    {
        // self.fc_layers.append(nn.Linear(self.get_conv_output_size(), fcLayer[0])).to(device)
        LinearSite site = look_up_linear_site(self);
        py::object features = call_method(self, id::get_conv_output_size);
        py::object width = getitem(fcLayer, lit::zero);
        append_linear(site, features, width, scope);
    }
    // self.fc_layers.append(nn.ReLU())
    append_relu(self, id::fc_layers);
    // for i in range(1, len(fcLayer)):
    const Py_ssize_t widths = length(fcLayer);
    for (Py_ssize_t k = 1; k < widths; ++k) {
        // self.fc_layers.append(nn.Linear(fcLayer[i - 1], fcLayer[i])).to(device)
        LinearSite site = look_up_linear_site(self);
        py::object previous = index_object(k - 1);
        py::object in_width = getitem(fcLayer, previous);
        py::object current = index_object(k);
        py::object out_width = getitem(fcLayer, current);
        append_linear(site, in_width, out_width, scope);
        // self.fc_layers.append(nn.ReLU())
        append_relu(self, id::fc_layers);
    }
    // self.fc_layers.append(nn.Linear(fcLayer[-1], num_classes)).to(device)
    LinearSite site = look_up_linear_site(self);
    py::object last_width = getitem(fcLayer, lit::minus_one);
    append_linear(site, last_width, num_classes, scope);
    return borrow(Py_None);
}

const Identifier *const kInitParams[] = {&id::self, &id::cLayer, &id::poolingLayer, &id::fcLayer,
                                         &kNumClasses};

}  // namespace

const FunctionSpec kCnnInit{id::__init__, kInitParams, cnn_init};

}  // namespace duzer
