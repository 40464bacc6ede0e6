// Training set-up in the order that fixes the printed output and which error
// surfaces first.
#include "training/setup.h"

#include "interp/call.h"

namespace duzer {

using namespace interp;

void set_up_training(Run &run) {
    const Names &n = names();
    Scope &vars = run.vars();
    py::object num_classes = add(call_method(call_method(run.dataY, n.max), n.item), n.int_1);

    py::object network =
        call(vars.get(Scope::CNN), run.cLayer, run.poolingLayer, run.fcLayer, num_classes);
    run.model = call_method(network, n.to, vars.get(Scope::device));
    run.criterion = call(attr(global(n.nn), n.CrossEntropyLoss));

    py::object adam = attr(global(n.optim), n.Adam);
    py::object parameters = call_method(run.model, n.parameters);
    run.optimizer =
        call_kw(adam, n.kw_lr, parameters, get(run.options, n.InitialLearnRate, n.float_0_005));

    run.num_epochs = get(run.options, n.MaxEpochs, n.int_30);
    run.val_freq = get(run.options, n.ValidationFrequency, n.int_50);

    py::object step_lr = attr(attr(global(n.optim), n.lr_scheduler), n.StepLR);
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
