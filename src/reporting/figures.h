// The three figures: training curves, true against predicted test classes,
// and the confusion matrix, each shown in a blocking window.
#pragma once

#include "run.h"

namespace duzer {

void draw_figures(Run &run);

}  // namespace duzer
