// Per-batch bookkeeping shared by the training, validation and test passes: a
// batch's loop variables, predicted and true classes gathered on the host,
// and the running loss.
#pragma once

#include "interp/call.h"
#include "interp/state.h"
#include "interp/unpack.h"

namespace duzer {

/// A batch's loop variables. Like the names of a Python loop body they stay
/// bound until the next batch rebinds them, so the batch's autograd graph is
/// released while the next one is built, not before (freeing it early makes
/// the next forward pass rebuild the gradient accumulators).
struct BatchLocals {
    py::object data, labels, outputs, loss, maxima, preds;

    /// `data, labels = batch`
    void unpack_batch(py::handle batch) { interp::unpack_assign(batch, data, labels); }
};

/// `_, preds = torch.max(outputs, 1)`, then
/// `preds_list.extend(preds.cpu().numpy())` and
/// `true_list.extend(labels.cpu().numpy())`.
inline void record_batch(BatchLocals &b, py::handle preds_list, py::handle true_list) {
    using namespace interp;
    const Names &n = names();
    Method torch_max = method(global(n.torch), n.max);
    py::object max_result = call(torch_max, b.outputs, n.int_1);
    unpack_assign(max_result, b.maxima, b.preds);
    py::object predicted = call_method(call_method(b.preds, n.cpu), n.numpy);
    extend(preds_list, predicted);
    py::object actual = call_method(call_method(b.labels, n.cpu), n.numpy);
    extend(true_list, actual);
}

/// `total += loss.item() * data.size(0)`.
inline void accumulate_loss(py::object &total, py::handle loss, py::handle data) {
    using namespace interp;
    const Names &n = names();
    py::object item = call_method(loss, n.item);
    py::object size = call_method(data, n.size, n.int_0);
    py::object batch_loss = multiply(item, size);
    total = inplace_add(total, batch_loss);
}

/// `total /= len(loader.dataset)`.
inline void average_over_dataset(py::object &total, py::handle loader) {
    using namespace interp;
    py::object count = index_object(length(attr(loader, names().dataset)));
    total = inplace_true_divide(total, count);
}

}  // namespace duzer
