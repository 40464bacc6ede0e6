// Optional seeding of torch's and NumPy's global generators.
#pragma once

#include "interp/object.h"

namespace duzer {

/// Seeds both generators when the setting "seed" is present and non-zero.
void seed_generators(py::handle setting);

}  // namespace duzer
