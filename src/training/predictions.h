// One batch's predictions and labels gathered on the host, shared by the
// training, validation and test passes.
#pragma once

#include "interp/call.h"
#include "interp/unpack.h"

namespace duzer {

/// `_, preds = torch.max(outputs, 1)`, then both lists extended with the
/// batch's predicted and true class indices as NumPy arrays.
inline void record_batch(py::handle outputs, py::handle labels, py::handle preds_list,
                         py::handle true_list) {
    using namespace interp;
    const Names &n = names();
    auto [maxima, preds] = unpack<2>(call_method(global(n.torch), n.max, outputs, n.int_1));
    extend(preds_list, call_method(call_method(preds, n.cpu), n.numpy));
    extend(true_list, call_method(call_method(labels, n.cpu), n.numpy));
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
