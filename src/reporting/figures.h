// The three figures: training curves, true against predicted test classes,
// and the confusion matrix, each shown in a blocking window.
#pragma once

#include "reporting/test_evaluation.h"
#include "training/setup.h"

namespace duzer {

/// Draws the figures from the history and the test classes when
/// `setting.get("figflag", "off") == "on"`.
void draw_figures(py::handle setting, const Training &training, const TestResults &results);

}  // namespace duzer
