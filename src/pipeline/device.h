// Choice of the compute device and the lines that announce it.
#pragma once

#include "run.h"

namespace duzer {

/// Picks the current CUDA device or the CPU, prints the device line (and the
/// hint when a requested GPU is missing) and binds `device` in the scope.
void choose_device(Run &run);

}  // namespace duzer
