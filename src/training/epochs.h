// The initial validation and the epochs of training with periodic validation.
#pragma once

#include "run.h"

namespace duzer {

/// One validation pass: fills the validation history and returns
/// (val_loss, val_acc) for the progress line.
std::pair<py::object, py::object> validation_pass(Run &run);

/// Initial validation, then `num_epochs` epochs with their progress lines.
void train_network(Run &run);

}  // namespace duzer
