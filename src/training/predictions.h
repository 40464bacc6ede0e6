// A batch's loop variables and the per-batch bookkeeping shared by the
// training, validation and test passes: predictions and labels gathered on
// the host, the running loss.
#pragma once

#include "interp/call.h"
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

/// `_, preds = torch.max(outputs, 1)`, then both lists extended with the
/// batch's predicted and true class indices as NumPy arrays.
inline void record_batch(BatchLocals &b, py::handle preds_list, py::handle true_list) {
    using namespace interp;
    const Names &n = names();
    unpack_assign(call_method(global(n.torch), n.max, b.outputs, n.int_1), b.maxima, b.preds);
    extend(preds_list, call_method(call_method(b.preds, n.cpu), n.numpy));
    extend(true_list, call_method(call_method(b.labels, n.cpu), n.numpy));
}

/// `loss.item() * data.size(0)` added to the running float `total`.
inline void accumulate_loss(py::object &total, py::handle loss, py::handle data) {
    using namespace interp;
    const Names &n = names();
    py::object batch = multiply(call_method(loss, n.item), call_method(data, n.size, n.int_0));
    total = steal(PyNumber_InPlaceAdd(total.ptr(), batch.ptr()));
}

/// `total /= len(loader.dataset)`.
inline void average_over_dataset(py::object &total, py::handle loader) {
    using namespace interp;
    py::object count = index_object(length(attr(loader, names().dataset)));
    total = steal(PyNumber_InPlaceTrueDivide(total.ptr(), count.ptr()));
}

}  // namespace duzer
