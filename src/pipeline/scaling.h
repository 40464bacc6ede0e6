// Global min-max scaling of the samples.
#pragma once

#include "run.h"

namespace duzer {

/// Rebinds `dataX` to (dataX - min) / (max - min) over the whole array when
/// the setting "minmax" is true.
void scale_samples(Run &run);

}  // namespace duzer
