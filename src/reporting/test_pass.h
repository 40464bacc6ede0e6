// The test pass, the three metrics, the metrics line and the history
// dictionary returned to the caller.
#pragma once

#include "run.h"

namespace duzer {

void evaluate_test_set(Run &run);

}  // namespace duzer
