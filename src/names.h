// The names and literals that more than one stage uses: the module-level
// names that the import statements bind, attribute and parameter names, and
// small integers. Identifiers are interned; all are made when the module
// executes (interp/constant.h). A constant that one file alone uses lives in
// that file.
#pragma once

#include "interp/constant.h"

namespace duzer {

namespace id {
using interp::Identifier;

// The module's namespace.
extern const Identifier np, torch, nn, optim, DataLoader, TensorDataset, train_test_split,
    accuracy_score, recall_score, precision_score, confusion_matrix, plt, sns;

// Attributes of tensors, modules and arrays (`device` is torch's too).
extern const Identifier to, max, shape, size, item, cpu, eval, no_grad, device;

// The network class, its attributes and methods.
extern const Identifier CNN, conv_layers, pool_layers, fc_layers, get_conv_output_size, forward,
    __init__;

// Parameters shared by the public function and the network's __init__, and
// by the methods.
extern const Identifier dataX, cLayer, poolingLayer, fcLayer, self;
}  // namespace id

namespace lit {
extern const interp::Int zero, one, two, three, four, minus_one;
extern const interp::Float zero_float;  ///< `0.0`
}  // namespace lit

}  // namespace duzer
