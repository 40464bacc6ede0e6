// The validation pass: evaluation mode, no gradients, mean loss per sample
// and accuracy appended to the history.
#include "training/validation.h"

#include "interp/context.h"
#include "training/batch.h"

namespace duzer {

using namespace interp;

std::pair<py::object, py::object> validation_pass(Run &run) {
    const Names &n = names();
    call_method(run.model, n.eval);
    py::object val_loss = borrow(n.float_0);
    py::object val_preds = new_list();
    py::object val_true = new_list();
    // with torch.no_grad(): for data, labels in val_loader: ...
    with_block(call_noargs(global_attr(n.torch, n.no_grad)), [&] {
        BatchLocals b;
        py::object batches = get_iter(run.val_loader);
        while (py::object batch = next(batches)) {
            b.unpack_batch(batch);
            b.outputs = call(run.model, b.data);
            b.loss = call(run.criterion, b.outputs, b.labels);
            accumulate_loss(val_loss, b.loss, b.data);
            record_batch(b, val_preds, val_true);
        }
    });
    average_over_dataset(val_loss, run.val_loader);
    append(run.val_losses, val_loss);
    // val_acc = accuracy_score(val_true, val_preds)
    py::object accuracy_score = global(n.accuracy_score);
    py::object val_acc = call(accuracy_score, val_true, val_preds);
    append(run.val_accuracies, val_acc);
    return {val_loss, val_acc};
}

}  // namespace duzer
