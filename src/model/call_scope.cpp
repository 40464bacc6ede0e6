// The layout of the call scope.
#include "model/call_scope.h"

#include "names.h"

namespace duzer {

namespace {

// In the order of CallScope::Variable.
const interp::Identifier *const kVariables[] = {&id::CNN, &id::dataX, &id::device};
constexpr interp::ScopeLayout kLayout{kVariables};

}  // namespace

py::object new_call_scope() {
    return interp::new_scope(kLayout);
}

}  // namespace duzer
