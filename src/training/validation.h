// The validation pass, run before the first epoch and after every
// `val_freq`-th one.
#pragma once

#include <utility>

#include "training/setup.h"

namespace duzer {

/// Evaluation mode, no gradients, mean loss per sample and accuracy over the
/// validation loader; both appended to the history and returned as
/// (val_loss, val_acc) for the progress line.
std::pair<py::object, py::object> validation_pass(const Training &training, py::handle val_loader);

}  // namespace duzer
