// `a, b, c = value`: fixed-count unpacking with the module's error texts.
#pragma once

#include <array>

#include "interp/object.h"

namespace duzer::interp {

/// Unpacks exactly `count` items of `value` into `out`.
void unpack_into(py::handle value, py::object *out, Py_ssize_t count);

template <size_t N>
std::array<py::object, N> unpack(py::handle value) {
    std::array<py::object, N> items;
    unpack_into(value, items.data(), static_cast<Py_ssize_t>(N));
    return items;
}

}  // namespace duzer::interp
