// Everything training needs before the first batch: class count, model, loss,
// optimiser, run length, schedule, history lists, and the structure print.
#pragma once

#include "interp/scope.h"

namespace duzer {

/// The three layer tables of the call, handed to the network's __init__.
struct LayerTables {
    py::handle cLayer, poolingLayer, fcLayer;
};

/// The per-epoch history that training appends to and the call returns.
struct History {
    py::object train_losses, train_accuracies, val_losses, val_accuracies;
};

/// What training set-up hands on.
struct Training {
    py::object model, criterion, optimizer, num_epochs, val_freq, lr_scheduler;
    History history;

    void abandon() noexcept {
        interp::abandon(model, criterion, optimizer, num_epochs, val_freq, lr_scheduler,
                        history.train_losses, history.train_accuracies, history.val_losses,
                        history.val_accuracies);
    }
};

/// Builds the network from the layer tables (its class taken from the call
/// scope, the class count from the labels `dataY`), the loss, the optimiser
/// and the schedule with the training options, then prints the structure.
Training set_up_training(const interp::Scope &vars, py::handle dataY, const LayerTables &layers,
                         py::handle options);

}  // namespace duzer
