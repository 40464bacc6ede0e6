// Optional seeding of torch's and NumPy's global generators.
#pragma once

#include "run.h"

namespace duzer {

/// Seeds both generators when the setting "seed" is present and non-zero.
void seed_generators(Run &run);

}  // namespace duzer
