// Tensors on the device, the three-way split, the data sets and the loaders.
#pragma once

#include "interp/scope.h"

namespace duzer {

/// What data preparation hands on (the samples, as a tensor on the device,
/// are rebound in the call scope).
struct PreparedData {
    py::object dataY;  ///< the labels as a tensor on the device
    py::object train_loader, val_loader, test_loader;

    void abandon() noexcept { interp::abandon(dataY, train_loader, val_loader, test_loader); }
};

/// Converts samples and labels, splits them (random state 42) into training,
/// validation and test sets by the ratios `divideR` and builds the three
/// loaders with the option "MiniBatchSize".
PreparedData prepare_data(interp::Scope &vars, py::handle dataY, py::handle divideR,
                          py::handle options);

}  // namespace duzer
