// Everything training needs before the first batch: class count, model, loss,
// optimiser, run length, schedule, history lists, and the structure print.
#pragma once

#include "run.h"

namespace duzer {

void set_up_training(Run &run);

}  // namespace duzer
