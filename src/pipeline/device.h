// Choice of the compute device and the lines that announce it.
#pragma once

#include "interp/scope.h"

namespace duzer {

/// Picks the current CUDA device or the CPU, prints the device line (and the
/// hint when a requested GPU is missing) and binds `device` in the call scope.
void choose_device(interp::Scope &vars, py::handle setting);

}  // namespace duzer
