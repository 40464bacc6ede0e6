// The initial validation and the epochs of training with periodic validation.
#pragma once

#include "pipeline/loaders.h"
#include "training/setup.h"

namespace duzer {

/// Initial validation, then `num_epochs` epochs over the training loader,
/// each with its progress line, validating every `val_freq`-th epoch and
/// stepping the schedule; the history of `training` grows as it goes.
void train_network(const Training &training, const PreparedData &data);

}  // namespace duzer
