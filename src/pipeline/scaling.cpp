// Min-max scaling with one minimum and one maximum over all values.
#include "pipeline/scaling.h"

#include "interp/call.h"
#include "model/call_scope.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kMinmax{"minmax"}, kMin{"min"};
}  // namespace

void scale_samples(Scope &vars, py::handle setting) {
    // if setting.get("minmax", True):
    py::object minmax = get(setting, kMinmax, Py_True);
    if (!truth(minmax)) return;
    // dataX = (dataX - np.min(dataX)) / (np.max(dataX) - np.min(dataX))
    py::object dataX = vars.get(CallScope::dataX);
    Method np_min = method(global(id::np), kMin);
    py::object minimum = call(np_min, dataX);
    py::object shifted = subtract(dataX, minimum);
    Method np_max = method(global(id::np), id::max);
    py::object maximum = call(np_max, dataX);
    np_min = method(global(id::np), kMin);
    minimum = call(np_min, dataX);
    py::object span = subtract(maximum, minimum);
    // Constant samples have no range: they scale to zeros (dividing by 1),
    // not to NaN, as scikit-learn's MinMaxScaler treats a zero range.
    if (equals(span, lit::zero)) span = borrow(lit::one);
    py::object scaled = true_divide(shifted, span);
    vars.set(CallScope::dataX, scaled);
}

}  // namespace duzer
