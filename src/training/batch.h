// The batch loop shared by the training, validation and test passes: a
// batch's loop variables, predicted and true classes gathered on the host,
// and the running loss.
#pragma once

#include "interp/call.h"
#include "interp/unpack.h"

namespace duzer {

/// A batch's loop variables. Like the names of a Python loop body they stay
/// bound until the next batch rebinds them, and after the loop until the pass
/// returns, so the batch's autograd graph is released while the next one is
/// built, not before (freeing it early makes the next forward pass rebuild
/// the gradient accumulators).
struct BatchLocals {
    py::object data, labels, outputs, loss, maxima, preds;
    py::object batches;  ///< the loader's iterator, released first, when the pass returns
};

/// `for data, labels in loader: body()`, the loop variables in `b`.
template <class Body>
void for_each_batch(py::handle loader, BatchLocals &b, Body &&body) {
    b.batches = interp::get_iter(loader);
    while (py::object batch = interp::next(b.batches)) {
        interp::unpack_assign(batch, b.data, b.labels);
        body();
    }
}

/// `_, preds = torch.max(outputs, 1)`, then
/// `preds_list.extend(preds.cpu().numpy())` and
/// `true_list.extend(labels.cpu().numpy())`.
void record_batch(BatchLocals &b, py::handle preds_list, py::handle true_list);

/// `total += loss.item() * data.size(0)`.
void accumulate_loss(py::object &total, py::handle loss, py::handle data);

/// `total /= len(loader.dataset)`.
void average_over_dataset(py::object &total, py::handle loader);

}  // namespace duzer
