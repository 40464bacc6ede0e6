// The shared names and literals, made when the module executes.
#include "names.h"

namespace duzer {

namespace id {
const Identifier np{"np"};
const Identifier torch{"torch"};
const Identifier nn{"nn"};
const Identifier optim{"optim"};
const Identifier DataLoader{"DataLoader"};
const Identifier TensorDataset{"TensorDataset"};
const Identifier train_test_split{"train_test_split"};
const Identifier accuracy_score{"accuracy_score"};
const Identifier recall_score{"recall_score"};
const Identifier precision_score{"precision_score"};
const Identifier confusion_matrix{"confusion_matrix"};
const Identifier plt{"plt"};
const Identifier sns{"sns"};
const Identifier to{"to"};
const Identifier max{"max"};
const Identifier shape{"shape"};
const Identifier size{"size"};
const Identifier item{"item"};
const Identifier cpu{"cpu"};
const Identifier eval{"eval"};
const Identifier no_grad{"no_grad"};
const Identifier device{"device"};
const Identifier CNN{"CNN"};
const Identifier conv_layers{"conv_layers"};
const Identifier pool_layers{"pool_layers"};
const Identifier fc_layers{"fc_layers"};
const Identifier get_conv_output_size{"get_conv_output_size"};
const Identifier forward{"forward"};
const Identifier __init__{"__init__"};
const Identifier dataX{"dataX"};
const Identifier cLayer{"cLayer"};
const Identifier poolingLayer{"poolingLayer"};
const Identifier fcLayer{"fcLayer"};
const Identifier self{"self"};
}  // namespace id

namespace lit {
const interp::Int zero{0};
const interp::Int one{1};
const interp::Int two{2};
const interp::Int three{3};
const interp::Int four{4};
const interp::Int minus_one{-1};
const interp::Float zero_float{0.0};
}  // namespace lit

}  // namespace duzer
