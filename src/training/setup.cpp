// Training set-up in the order that fixes the printed output and which error
// surfaces first.
#include "training/setup.h"

#include "interp/call.h"
#include "interp/state.h"

namespace duzer {

using namespace interp;

void set_up_training(Run &run) {
    const Names &n = names();
    Scope &vars = run.vars();
    // num_classes = dataY.max().item() + 1
    py::object largest = call_method(call_method(run.dataY, n.max), n.item);
    py::object num_classes = add(largest, n.int_1);

    // model = CNN(cLayer, poolingLayer, fcLayer, num_classes).to(device)
    py::object cnn = vars.get(Scope::CNN);
    py::object network = call(cnn, run.cLayer, run.poolingLayer, run.fcLayer, num_classes);
    Method to = method(network, n.to);
    py::object device = vars.get(Scope::device);
    run.model = call(to, device);
    // criterion = nn.CrossEntropyLoss()
    run.criterion = call_noargs(global_attr(n.nn, n.CrossEntropyLoss));

    // optimizer = optim.Adam(model.parameters(), lr=options.get("InitialLearnRate", 0.005))
    py::object adam = global_attr(n.optim, n.Adam);
    py::object parameters = call_method(run.model, n.parameters);
    py::object lr = get(run.options, n.InitialLearnRate, n.float_0_005);
    run.optimizer = call_kw(adam, n.kw_lr, parameters, lr);

    run.num_epochs = get(run.options, n.MaxEpochs, n.int_30);
    run.val_freq = get(run.options, n.ValidationFrequency, n.int_50);

    // lr_scheduler = optim.lr_scheduler.StepLR(optimizer,
    //     step_size=options.get("LearnRateDropPeriod", 10),
    //     gamma=options.get("LearnRateDropFactor", 0.95))
    py::object step_lr = attr(global_attr(n.optim, n.lr_scheduler), n.StepLR);
    py::object period = get(run.options, n.LearnRateDropPeriod, n.int_10);
    py::object factor = get(run.options, n.LearnRateDropFactor, n.float_0_95);
    run.lr_scheduler = call_kw(step_lr, n.kw_step_size_gamma, run.optimizer, period, factor);

    run.train_losses = new_list();
    run.train_accuracies = new_list();
    run.val_losses = new_list();
    run.val_accuracies = new_list();

    print_line(n.model_structure);
    print_line(run.model);
}

}  // namespace duzer
