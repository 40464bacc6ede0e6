// The training loop: every epoch trains on all batches, prints its line,
// validates every `val_freq`-th epoch and steps the schedule.
#include "training/epochs.h"

#include "interp/text.h"
#include "names.h"
#include "training/batch.h"
#include "training/validation.h"

namespace duzer {

using namespace interp;

namespace {

const Identifier kTrain{"train"}, kZeroGrad{"zero_grad"}, kBackward{"backward"}, kStep{"step"};
const Text kFourPlaces{".4f"}, kPlain{""}, kInitialValidation{"Initial Validation, Val Loss: "},
    kValAcc{", Val Acc: "}, kEpochOpen{"Epoch ["}, kOf{"/"}, kTrainLoss{"], Train Loss: "},
    kTrainAcc{", Train Acc: "}, kValLoss{"], Val Loss: "};

/// One epoch over the training loader; returns (train_loss, train_acc).
std::pair<py::object, py::object> train_epoch(const Training &training, py::handle train_loader) {
    call_method(training.model, kTrain);
    py::object train_loss = borrow(lit::zero_float);
    py::object train_preds = new_list();
    py::object train_true = new_list();
    BatchLocals b;
    for_each_batch(train_loader, b, [&] {
        call_method(training.optimizer, kZeroGrad);
        b.outputs = call(training.model, b.data);
        b.loss = call(training.criterion, b.outputs, b.labels);
        call_method(b.loss, kBackward);
        call_method(training.optimizer, kStep);
        accumulate_loss(train_loss, b.loss, b.data);
        record_batch(b, train_preds, train_true);
    });
    average_over_dataset(train_loss, train_loader);
    // train_acc = accuracy_score(train_true, train_preds)
    py::object accuracy_score = global(id::accuracy_score);
    py::object train_acc = call(accuracy_score, train_true, train_preds);
    return {train_loss, train_acc};
}

}  // namespace

void train_network(const Training &training, const PreparedData &data) {
    const History &history = training.history;
    auto [initial_loss, initial_acc] = validation_pass(training, data.val_loader);
    // f"Initial Validation, Val Loss: {val_loss:.4f}, Val Acc: {val_acc:.4f}"
    print_line(concat({kInitialValidation, format(initial_loss, kFourPlaces), kValAcc,
                       format(initial_acc, kFourPlaces)}));

    // for epoch in range(num_epochs):
    py::object epochs = get_iter(call(builtins().range, training.num_epochs));
    while (py::object epoch = next(epochs)) {
        auto [train_loss, train_acc] = train_epoch(training, data.train_loader);
        append(history.train_losses, train_loss);
        append(history.train_accuracies, train_acc);
        // f"Epoch [{epoch + 1}/{num_epochs}], Train Loss: {train_loss:.4f}, ..."
        py::object number = add(epoch, lit::one);
        print_line(
            concat({kEpochOpen, format(number, kPlain), kOf, format(training.num_epochs, kPlain),
                    kTrainLoss, format(train_loss, kFourPlaces), kTrainAcc,
                    format(train_acc, kFourPlaces)}));
        // if (epoch + 1) % val_freq == 0:
        number = add(epoch, lit::one);
        py::object phase = remainder(number, training.val_freq);
        if (equals(phase, lit::zero)) {
            auto [val_loss, val_acc] = validation_pass(training, data.val_loader);
            number = add(epoch, lit::one);
            print_line(concat(
                {kEpochOpen, format(number, kPlain), kOf, format(training.num_epochs, kPlain),
                 kValLoss, format(val_loss, kFourPlaces), kValAcc, format(val_acc, kFourPlaces)}));
        }
        call_method(training.lr_scheduler, kStep);
    }
}

}  // namespace duzer
