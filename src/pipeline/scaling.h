// Global min-max scaling of the samples.
#pragma once

#include "interp/scope.h"

namespace duzer {

/// Rebinds `dataX` in the call scope to (dataX - min) / (max - min) over the
/// whole array when the setting "minmax" is true.
void scale_samples(interp::Scope &vars, py::handle setting);

}  // namespace duzer
