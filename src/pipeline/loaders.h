// Tensors on the device, the three-way split, the data sets and the loaders.
#pragma once

#include "run.h"

namespace duzer {

/// Converts samples and labels, splits them (random state 42) into training,
/// validation and test sets and builds the three loaders.
void prepare_loaders(Run &run);

}  // namespace duzer
