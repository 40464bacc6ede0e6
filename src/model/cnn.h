// The per-call network class `CNN` and its three methods.
#pragma once

#include "interp/function.h"
#include "interp/scope.h"

namespace duzer {

/// Creates this call's class `CNN` (base nn.Module), its methods reading the
/// call scope `scope`, and binds it there.
void define_cnn_class(py::handle scope);

/// The method bodies: `__init__(self, cLayer, poolingLayer, fcLayer, num_classes)`,
/// `get_conv_output_size(self)` and `forward(self, x)`.
extern const interp::FunctionSpec kCnnInit;
extern const interp::FunctionSpec kCnnProbe;
extern const interp::FunctionSpec kCnnForward;

}  // namespace duzer
