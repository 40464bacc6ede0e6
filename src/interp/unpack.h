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

/// `a, b, ... = value` into variables that already exist: all items are taken
/// first, then the targets are rebound left to right, as the interpreter
/// stores them.
template <class... Targets>
void unpack_assign(py::handle value, Targets &...targets) {
    auto items = unpack<sizeof...(Targets)>(value);
    size_t i = 0;
    ((targets = std::move(items[i++])), ...);
}

}  // namespace duzer::interp
