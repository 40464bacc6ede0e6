// The evaluation on the test set: the predictions, the three metrics, the
// metrics line and the history dictionary returned to the caller.
#pragma once

#include "training/setup.h"

namespace duzer {

/// What the test evaluation hands on: the gathered classes (for the figures)
/// and the call's results.
struct TestResults {
    py::object test_preds, test_true;
    py::object accuracy, recall, precision, info;

    void abandon() noexcept {
        interp::abandon(test_preds, test_true, accuracy, recall, precision, info);
    }
};

/// Runs the trained model over the test loader, scores it and prints the
/// metrics line; `info` holds the history of `training`.
TestResults evaluate_test_set(const Training &training, py::handle test_loader);

}  // namespace duzer
