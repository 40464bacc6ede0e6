// Training set-up in the order that fixes the printed output and which error
// surfaces first.
#include "training/setup.h"

#include "interp/call.h"
#include "model/call_scope.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kCrossEntropyLoss{"CrossEntropyLoss"}, kAdam{"Adam"}, kParameters{"parameters"},
    kLrScheduler{"lr_scheduler"}, kStepLR{"StepLR"};
const KeywordNames kKwLr{"lr"}, kKwStepSizeGamma{"step_size", "gamma"};
// The training options and their defaults.
const Identifier kInitialLearnRate{"InitialLearnRate"}, kMaxEpochs{"MaxEpochs"},
    kValidationFrequency{"ValidationFrequency"}, kLearnRateDropPeriod{"LearnRateDropPeriod"},
    kLearnRateDropFactor{"LearnRateDropFactor"};
const Float kDefaultLearnRate{0.005}, kDefaultDropFactor{0.95};
const Int kDefaultMaxEpochs{30}, kDefaultValidationFrequency{50}, kDefaultDropPeriod{10};
const Text kModelStructure{"模型结构:"};
}  // namespace

Training set_up_training(const Scope &vars, py::handle dataY, const LayerTables &layers,
                         py::handle options) {
    Training t;
    // num_classes = dataY.max().item() + 1
    py::object largest = call_method(call_method(dataY, id::max), id::item);
    py::object num_classes = add(largest, lit::one);

    // model = CNN(cLayer, poolingLayer, fcLayer, num_classes).to(device)
    py::object cnn = vars.get(CallScope::CNN);
    py::object network = call(cnn, layers.cLayer, layers.poolingLayer, layers.fcLayer, num_classes);
    Method to = method(network, id::to);
    py::object device = vars.get(CallScope::device);
    t.model = call(to, device);
    // criterion = nn.CrossEntropyLoss()
    t.criterion = call_method(global(id::nn), kCrossEntropyLoss);

    // optimizer = optim.Adam(model.parameters(), lr=options.get("InitialLearnRate", 0.005))
    Method adam = method(global(id::optim), kAdam);
    py::object parameters = call_method(t.model, kParameters);
    py::object lr = get(options, kInitialLearnRate, kDefaultLearnRate);
    t.optimizer = call_kw(adam, kKwLr, parameters, lr);

    t.num_epochs = get(options, kMaxEpochs, kDefaultMaxEpochs);
    t.val_freq = get(options, kValidationFrequency, kDefaultValidationFrequency);

    // lr_scheduler = optim.lr_scheduler.StepLR(optimizer,
    //     step_size=options.get("LearnRateDropPeriod", 10),
    //     gamma=options.get("LearnRateDropFactor", 0.95))
    Method step_lr = method(attr(global(id::optim), kLrScheduler), kStepLR);
    py::object period = get(options, kLearnRateDropPeriod, kDefaultDropPeriod);
    py::object factor = get(options, kLearnRateDropFactor, kDefaultDropFactor);
    t.lr_scheduler = call_kw(step_lr, kKwStepSizeGamma, t.optimizer, period, factor);

    t.history.train_losses = new_list();
    t.history.train_accuracies = new_list();
    t.history.val_losses = new_list();
    t.history.val_accuracies = new_list();

    print_line(kModelStructure);
    print_line(t.model);
    return t;
}

}  // namespace duzer
