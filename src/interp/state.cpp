// The process-wide state record itself.
#include "interp/state.h"

namespace duzer::interp::detail {

// Written only by the create and exec steps (interp/module.cpp), under the
// import machinery and the interpreter lock.
ProcessState process_state;

}  // namespace duzer::interp::detail
