// Seeding: torch first, then NumPy, each with the value read afresh.
#include "pipeline/seeding.h"

#include "interp/call.h"

namespace duzer {

using namespace interp;

void seed_generators(Run &run) {
    const Names &n = names();
    if (!contains(run.setting, n.seed)) return;
    if (!truth(compare(getitem(run.setting, n.seed), n.int_0, Py_NE))) return;
    call_method(global(n.torch), n.manual_seed, getitem(run.setting, n.seed));
    call_method(attr(global(n.np), n.random), n.seed, getitem(run.setting, n.seed));
}

}  // namespace duzer
