// Per-batch bookkeeping of the three passes.
#include "training/batch.h"

#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kNumpy{"numpy"}, kDataset{"dataset"};
}  // namespace

void record_batch(BatchLocals &b, py::handle preds_list, py::handle true_list) {
    Method torch_max = method(global(id::torch), id::max);
    py::object max_result = call(torch_max, b.outputs, lit::one);
    unpack_assign(max_result, b.maxima, b.preds);
    py::object predicted = call_method(call_method(b.preds, id::cpu), kNumpy);
    extend(preds_list, predicted);
    py::object actual = call_method(call_method(b.labels, id::cpu), kNumpy);
    extend(true_list, actual);
}

void accumulate_loss(py::object &total, py::handle loss, py::handle data) {
    py::object item = call_method(loss, id::item);
    py::object size = call_method(data, id::size, lit::zero);
    py::object batch_loss = multiply(item, size);
    total = inplace_add(total, batch_loss);
}

void average_over_dataset(py::object &total, py::handle loader) {
    py::object count = index_object(length(attr(loader, kDataset)));
    total = inplace_true_divide(total, count);
}

}  // namespace duzer
