// Seeding: torch first, then NumPy, each with the value read afresh.
#include "pipeline/seeding.h"

#include "interp/call.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kSeed{"seed"}, kManualSeed{"manual_seed"}, kRandom{"random"};
}  // namespace

void seed_generators(py::handle setting) {
    // if "seed" in setting and setting["seed"] != 0:
    if (!contains(kSeed, setting)) return;
    py::object seed = getitem(setting, kSeed);
    if (!not_equals(seed, lit::zero)) return;
    // torch.manual_seed(setting["seed"])
    Method manual_seed = method(global(id::torch), kManualSeed);
    seed = getitem(setting, kSeed);
    call(manual_seed, seed);
    // np.random.seed(setting["seed"])
    Method np_seed = method(attr(global(id::np), kRandom), kSeed);
    seed = getitem(setting, kSeed);
    call(np_seed, seed);
}

}  // namespace duzer
