// The locals of one FunClassCNNs call, handed from stage to stage in the order
// the call runs them. `dataX`, `device` and `CNN` live in the call's scope,
// where the network methods read them.
#pragma once

#include "interp/scope.h"

namespace duzer {

struct Run {
    // Arguments, borrowed from the call's own references for its duration.
    py::handle divideR, cLayer, poolingLayer, fcLayer, options, setting;

    py::object scope;  ///< the call's enclosing scope (CNN, dataX, device)
    py::object dataY;

    // Data pipeline.
    py::object train_loader, val_loader, test_loader;

    // Training.
    py::object model, criterion, optimizer, num_epochs, val_freq, lr_scheduler;
    py::object train_losses, train_accuracies, val_losses, val_accuracies;

    // Test evaluation.
    py::object test_preds, test_true;
    py::object accuracy, recall, precision, info;

    interp::Scope &vars() const { return interp::as_scope(scope); }

    /// Lets go of every reference without dropping it, for a thread that the
    /// interpreter ends at shutdown: it no longer holds the interpreter, so
    /// the call's objects stay behind, as a Python frame's locals do.
    void abandon() noexcept {
        for (py::object *local :
             {&scope,        &dataY,        &train_loader,     &val_loader, &test_loader,
              &model,        &criterion,    &optimizer,        &num_epochs, &val_freq,
              &lr_scheduler, &train_losses, &train_accuracies, &val_losses, &val_accuracies,
              &test_preds,   &test_true,    &accuracy,         &recall,     &precision,
              &info})
            local->release();
    }
};

}  // namespace duzer
