// Joining line pieces in one pass.
#include "interp/text.h"

#include "interp/compat.h"

#include <iterator>
#include <stdexcept>

namespace duzer::interp {

namespace {
const Text kNoSeparator{""};
}  // namespace

py::object concat(std::initializer_list<py::handle> pieces) {
    PyObject *items[16];
    if (pieces.size() > std::size(items)) throw std::length_error("too many line pieces");
    Py_ssize_t n = 0;
    for (py::handle piece : pieces) items[n++] = piece.ptr();
    return steal(compat::join_strings(kNoSeparator, items, n));
}

}  // namespace duzer::interp
