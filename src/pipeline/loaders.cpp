// Data preparation after the device is known.
#include "pipeline/loaders.h"

#include "interp/call.h"
#include "interp/unpack.h"
#include "model/call_scope.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kTensor{"tensor"}, kFloat32{"float32"}, kLong{"long"},
    kMiniBatchSize{"MiniBatchSize"};
const KeywordNames kKwDtype{"dtype"}, kKwTestSizeRandomState{"test_size", "random_state"},
    kKwBatchSize{"batch_size"}, kKwBatchSizeShuffle{"batch_size", "shuffle"};
const Int kRandomState{42}, kDefaultBatchSize{128};
}  // namespace

PreparedData prepare_data(Scope &vars, py::handle dataY, py::handle divideR, py::handle options) {
    PreparedData out;
    {
        // dataX = torch.tensor(dataX, dtype=torch.float32).to(device)
        Method tensor = method(global(id::torch), kTensor);
        py::object dataX = vars.get(CallScope::dataX);
        py::object dtype = attr(global(id::torch), kFloat32);
        py::object samples = call_kw(tensor, kKwDtype, dataX, dtype);
        Method to = method(samples, id::to);
        py::object device = vars.get(CallScope::device);
        py::object on_device = call(to, device);
        vars.set(CallScope::dataX, on_device);
    }
    {
        // dataY = torch.tensor(dataY, dtype=torch.long).to(device)
        Method tensor = method(global(id::torch), kTensor);
        py::object dtype = attr(global(id::torch), kLong);
        py::object labels = call_kw(tensor, kKwDtype, dataY, dtype);
        Method to = method(labels, id::to);
        py::object device = vars.get(CallScope::device);
        out.dataY = call(to, device);
    }

    auto [train_ratio, val_ratio, test_ratio] = unpack<3>(divideR);

    // train_test_split(dataX, dataY, test_size=1 - train_ratio, random_state=42)
    py::object split = global(id::train_test_split);
    py::object dataX = vars.get(CallScope::dataX);
    py::object test_size = subtract(lit::one, train_ratio);
    py::object first =
        call_kw(split, kKwTestSizeRandomState, dataX, out.dataY, test_size, kRandomState);
    auto [train_data, test_data, train_labels, test_labels] = unpack<4>(first);

    // train_test_split(test_data, test_labels,
    //                  test_size=test_ratio / (val_ratio + test_ratio), random_state=42)
    split = global(id::train_test_split);
    py::object rest = add(val_ratio, test_ratio);
    test_size = true_divide(test_ratio, rest);
    py::object second =
        call_kw(split, kKwTestSizeRandomState, test_data, test_labels, test_size, kRandomState);
    auto [val_data, test_data_2, val_labels, test_labels_2] = unpack<4>(second);

    py::object dataset = global(id::TensorDataset);
    py::object train_dataset = call(dataset, train_data, train_labels);
    dataset = global(id::TensorDataset);
    py::object val_dataset = call(dataset, val_data, val_labels);
    dataset = global(id::TensorDataset);
    py::object test_dataset = call(dataset, test_data_2, test_labels_2);

    // DataLoader(<set>, batch_size=options.get("MiniBatchSize", 128)[, shuffle=True])
    py::object loader = global(id::DataLoader);
    py::object batch_size = get(options, kMiniBatchSize, kDefaultBatchSize);
    out.train_loader = call_kw(loader, kKwBatchSizeShuffle, train_dataset, batch_size, Py_True);
    loader = global(id::DataLoader);
    batch_size = get(options, kMiniBatchSize, kDefaultBatchSize);
    out.val_loader = call_kw(loader, kKwBatchSize, val_dataset, batch_size);
    loader = global(id::DataLoader);
    batch_size = get(options, kMiniBatchSize, kDefaultBatchSize);
    out.test_loader = call_kw(loader, kKwBatchSize, test_dataset, batch_size);
    return out;
}

}  // namespace duzer
