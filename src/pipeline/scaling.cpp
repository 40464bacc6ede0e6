// Min-max scaling with one minimum and one maximum over all values.
#include "pipeline/scaling.h"

#include "interp/call.h"
#include "interp/state.h"

namespace duzer {

using namespace interp;

void scale_samples(Run &run) {
    const Names &n = names();
    // if setting.get("minmax", True):
    py::object minmax = get(run.setting, n.minmax, Py_True);
    if (!truth(minmax)) return;
    // dataX = (dataX - np.min(dataX)) / (np.max(dataX) - np.min(dataX))
    py::object dataX = run.vars().get(Scope::dataX);
    Method np_min = method(global(n.np), n.min);
    py::object minimum = call(np_min, dataX);
    py::object shifted = subtract(dataX, minimum);
    Method np_max = method(global(n.np), n.max);
    py::object maximum = call(np_max, dataX);
    np_min = method(global(n.np), n.min);
    minimum = call(np_min, dataX);
    py::object span = subtract(maximum, minimum);
    // Constant samples have no range: they scale to zeros (dividing by 1),
    // not to NaN, as scikit-learn's MinMaxScaler treats a zero range.
    if (equals(span, n.int_0)) span = borrow(n.int_1);
    py::object scaled = true_divide(shifted, span);
    run.vars().set(Scope::dataX, scaled);
}

}  // namespace duzer
