// The initial validation and the epochs of training with periodic validation.
#pragma once

#include "run.h"

namespace duzer {

/// Initial validation, then `num_epochs` epochs with their progress lines.
void train_network(Run &run);

}  // namespace duzer
