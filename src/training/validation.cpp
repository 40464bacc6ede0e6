// The validation pass: evaluation mode, no gradients, mean loss per sample
// and accuracy appended to the history.
#include "training/validation.h"

#include "interp/context.h"
#include "names.h"
#include "training/batch.h"

namespace duzer {

using namespace interp;

std::pair<py::object, py::object> validation_pass(const Training &training, py::handle val_loader) {
    call_method(training.model, id::eval);
    py::object val_loss = borrow(lit::zero_float);
    py::object val_preds = new_list();
    py::object val_true = new_list();
    // with torch.no_grad(): for data, labels in val_loader: ...
    with_block(call_method(global(id::torch), id::no_grad), [&] {
        BatchLocals b;
        for_each_batch(val_loader, b, [&] {
            b.outputs = call(training.model, b.data);
            b.loss = call(training.criterion, b.outputs, b.labels);
            accumulate_loss(val_loss, b.loss, b.data);
            record_batch(b, val_preds, val_true);
        });
    });
    average_over_dataset(val_loss, val_loader);
    append(training.history.val_losses, val_loss);
    // val_acc = accuracy_score(val_true, val_preds)
    py::object accuracy_score = global(id::accuracy_score);
    py::object val_acc = call(accuracy_score, val_true, val_preds);
    append(training.history.val_accuracies, val_acc);
    return {val_loss, val_acc};
}

}  // namespace duzer
