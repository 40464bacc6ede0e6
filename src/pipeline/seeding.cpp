// Seeding: torch first, then NumPy, each with the value read afresh.
#include "pipeline/seeding.h"

#include "interp/call.h"
#include "interp/state.h"

namespace duzer {

using namespace interp;

void seed_generators(Run &run) {
    const Names &n = names();
    // if "seed" in setting and setting["seed"] != 0:
    if (!contains(n.seed, run.setting)) return;
    py::object seed = getitem(run.setting, n.seed);
    py::object nonzero = compare(seed, n.int_0, Py_NE);
    if (!truth(nonzero)) return;
    // torch.manual_seed(setting["seed"])
    Method manual_seed = method(global(n.torch), n.manual_seed);
    seed = getitem(run.setting, n.seed);
    call(manual_seed, seed);
    // np.random.seed(setting["seed"])
    Method np_seed = method(global_attr(n.np, n.random), n.seed);
    seed = getitem(run.setting, n.seed);
    call(np_seed, seed);
}

}  // namespace duzer
