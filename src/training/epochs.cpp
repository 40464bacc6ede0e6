// The training loop: every epoch trains on all batches, prints its line,
// validates every `val_freq`-th epoch and steps the schedule.
#include "training/epochs.h"

#include "interp/text.h"
#include "training/batch.h"
#include "training/validation.h"

namespace duzer {

using namespace interp;

namespace {

/// One epoch over the training loader; returns (train_loss, train_acc).
std::pair<py::object, py::object> train_epoch(Run &run) {
    const Names &n = names();
    call_method(run.model, n.train);
    py::object train_loss = borrow(n.float_0);
    py::object train_preds = new_list();
    py::object train_true = new_list();
    BatchLocals b;
    py::object batches = get_iter(run.train_loader);
    while (py::object batch = next(batches)) {
        b.unpack_batch(batch);
        call_method(run.optimizer, n.zero_grad);
        b.outputs = call(run.model, b.data);
        b.loss = call(run.criterion, b.outputs, b.labels);
        call_method(b.loss, n.backward);
        call_method(run.optimizer, n.step);
        accumulate_loss(train_loss, b.loss, b.data);
        record_batch(b, train_preds, train_true);
    }
    average_over_dataset(train_loss, run.train_loader);
    // train_acc = accuracy_score(train_true, train_preds)
    py::object accuracy_score = global(n.accuracy_score);
    py::object train_acc = call(accuracy_score, train_true, train_preds);
    return {train_loss, train_acc};
}

}  // namespace

void train_network(Run &run) {
    const Names &n = names();
    auto [initial_loss, initial_acc] = validation_pass(run);
    // f"Initial Validation, Val Loss: {val_loss:.4f}, Val Acc: {val_acc:.4f}"
    print_line(concat({n.initial_validation, format(initial_loss, n.spec_4f), n.val_acc_sep,
                       format(initial_acc, n.spec_4f)}));

    // for epoch in range(num_epochs):
    py::object epochs = get_iter(call(n.range, run.num_epochs));
    while (py::object epoch = next(epochs)) {
        auto [train_loss, train_acc] = train_epoch(run);
        append(run.train_losses, train_loss);
        append(run.train_accuracies, train_acc);
        // f"Epoch [{epoch + 1}/{num_epochs}], Train Loss: {train_loss:.4f}, ..."
        py::object number = add(epoch, n.int_1);
        print_line(
            concat({n.epoch_open, format(number, n.empty), n.slash, format(run.num_epochs, n.empty),
                    n.train_loss_sep, format(train_loss, n.spec_4f), n.train_acc_sep,
                    format(train_acc, n.spec_4f)}));
        // if (epoch + 1) % val_freq == 0:
        number = add(epoch, n.int_1);
        py::object phase = remainder(number, run.val_freq);
        if (equals(phase, n.int_0)) {
            auto [val_loss, val_acc] = validation_pass(run);
            number = add(epoch, n.int_1);
            print_line(
                concat({n.epoch_open, format(number, n.empty), n.slash,
                        format(run.num_epochs, n.empty), n.val_loss_sep,
                        format(val_loss, n.spec_4f), n.val_acc_sep, format(val_acc, n.spec_4f)}));
        }
        call_method(run.lr_scheduler, n.step);
    }
}

}  // namespace duzer
