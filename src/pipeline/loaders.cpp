// Data preparation after the device is known.
#include "pipeline/loaders.h"

#include "interp/call.h"
#include "interp/state.h"
#include "interp/unpack.h"

namespace duzer {

using namespace interp;

namespace {

/// `torch.tensor(values, dtype=torch.<dtype>).to(device)`, with `values` and
/// `device` read by the callers' accessors at their places in that order.
template <class ReadValues, class ReadDevice>
py::object device_tensor(ReadValues read_values, PyObject *dtype_name, ReadDevice read_device) {
    const Names &n = names();
    py::object tensor_fn = global_attr(n.torch, n.tensor);
    py::object values = read_values();
    py::object dtype = global_attr(n.torch, dtype_name);
    py::object tensor = call_kw(tensor_fn, n.kw_dtype, values, dtype);
    Method to = method(tensor, n.to);
    py::object device = read_device();
    return call(to, device);
}

}  // namespace

void prepare_loaders(Run &run) {
    const Names &n = names();
    Scope &vars = run.vars();
    auto read_dataX = [&] { return vars.get(Scope::dataX); };
    auto read_device = [&] { return vars.get(Scope::device); };
    // dataX = torch.tensor(dataX, dtype=torch.float32).to(device)
    py::object samples = device_tensor(read_dataX, n.float32, read_device);
    vars.set(Scope::dataX, samples);
    // dataY = torch.tensor(dataY, dtype=torch.long).to(device)
    run.dataY = device_tensor([&] { return run.dataY; }, n.long_, read_device);

    auto [train_ratio, val_ratio, test_ratio] = unpack<3>(run.divideR);

    // train_test_split(dataX, dataY, test_size=1 - train_ratio, random_state=42)
    py::object split = global(n.train_test_split);
    py::object dataX = vars.get(Scope::dataX);
    py::object test_size = subtract(n.int_1, train_ratio);
    py::object first =
        call_kw(split, n.kw_test_size_random_state, dataX, run.dataY, test_size, n.int_42);
    auto [train_data, test_data, train_labels, test_labels] = unpack<4>(first);

    // train_test_split(test_data, test_labels,
    //                  test_size=test_ratio / (val_ratio + test_ratio), random_state=42)
    split = global(n.train_test_split);
    py::object rest = add(val_ratio, test_ratio);
    test_size = true_divide(test_ratio, rest);
    py::object second =
        call_kw(split, n.kw_test_size_random_state, test_data, test_labels, test_size, n.int_42);
    auto [val_data, test_data_2, val_labels, test_labels_2] = unpack<4>(second);

    py::object dataset = global(n.TensorDataset);
    py::object train_dataset = call(dataset, train_data, train_labels);
    dataset = global(n.TensorDataset);
    py::object val_dataset = call(dataset, val_data, val_labels);
    dataset = global(n.TensorDataset);
    py::object test_dataset = call(dataset, test_data_2, test_labels_2);

    // DataLoader(<set>, batch_size=options.get("MiniBatchSize", 128)[, shuffle=True])
    py::object loader = global(n.DataLoader);
    py::object batch_size = get(run.options, n.MiniBatchSize, n.int_128);
    run.train_loader = call_kw(loader, n.kw_batch_size_shuffle, train_dataset, batch_size, Py_True);
    loader = global(n.DataLoader);
    batch_size = get(run.options, n.MiniBatchSize, n.int_128);
    run.val_loader = call_kw(loader, n.kw_batch_size, val_dataset, batch_size);
    loader = global(n.DataLoader);
    batch_size = get(run.options, n.MiniBatchSize, n.int_128);
    run.test_loader = call_kw(loader, n.kw_batch_size, test_dataset, batch_size);
}

}  // namespace duzer
