// Data preparation after the device is known.
#include "pipeline/loaders.h"

#include "interp/call.h"
#include "interp/unpack.h"

namespace duzer {

using namespace interp;

namespace {

/// `torch.tensor(values, dtype=torch.<dtype>).to(device)`.
py::object device_tensor(py::handle values, PyObject *dtype, py::handle device) {
    const Names &n = names();
    py::object tensor =
        call_kw(attr(global(n.torch), n.tensor), n.kw_dtype, values, attr(global(n.torch), dtype));
    return call_method(tensor, n.to, device);
}

}  // namespace

void prepare_loaders(Run &run) {
    const Names &n = names();
    Scope &vars = run.vars();
    vars.set(Scope::dataX,
             device_tensor(vars.get(Scope::dataX), n.float32, vars.get(Scope::device)));
    run.dataY = device_tensor(run.dataY, n.long_, vars.get(Scope::device));

    auto [train_ratio, val_ratio, test_ratio] = unpack<3>(run.divideR);

    py::object first =
        call_kw(global(n.train_test_split), n.kw_test_size_random_state, vars.get(Scope::dataX),
                run.dataY, subtract(n.int_1, train_ratio), n.int_42);
    auto [train_data, test_data, train_labels, test_labels] = unpack<4>(first);

    py::object val_share = true_divide(test_ratio, add(val_ratio, test_ratio));
    py::object second = call_kw(global(n.train_test_split), n.kw_test_size_random_state, test_data,
                                test_labels, val_share, n.int_42);
    auto [val_data, test_data_2, val_labels, test_labels_2] = unpack<4>(second);

    py::object train_dataset = call(global(n.TensorDataset), train_data, train_labels);
    py::object val_dataset = call(global(n.TensorDataset), val_data, val_labels);
    py::object test_dataset = call(global(n.TensorDataset), test_data_2, test_labels_2);

    run.train_loader = call_kw(global(n.DataLoader), n.kw_batch_size_shuffle, train_dataset,
                               get(run.options, n.MiniBatchSize, n.int_128), Py_True);
    run.val_loader = call_kw(global(n.DataLoader), n.kw_batch_size, val_dataset,
                             get(run.options, n.MiniBatchSize, n.int_128));
    run.test_loader = call_kw(global(n.DataLoader), n.kw_batch_size, test_dataset,
                              get(run.options, n.MiniBatchSize, n.int_128));
}

}  // namespace duzer
