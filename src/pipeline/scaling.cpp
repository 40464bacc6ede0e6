// Min-max scaling with one minimum and one maximum over all values.
#include "pipeline/scaling.h"

#include "interp/call.h"

namespace duzer {

using namespace interp;

void scale_samples(Run &run) {
    const Names &n = names();
    if (!truth(get(run.setting, n.minmax, Py_True))) return;
    py::object dataX = run.vars().get(Scope::dataX);
    py::object shifted = subtract(dataX, call_method(global(n.np), n.min, dataX));
    py::object max = call_method(global(n.np), n.max, dataX);
    py::object span = subtract(max, call_method(global(n.np), n.min, dataX));
    // Constant samples have no range: they scale to zeros (dividing by 1),
    // not to NaN, as scikit-learn's MinMaxScaler treats a zero range.
    if (equals(span, n.int_0)) span = py::reinterpret_borrow<py::object>(n.int_1);
    run.vars().set(Scope::dataX, true_divide(shifted, span));
}

}  // namespace duzer
