// Test evaluation: evaluation mode, no gradients, predictions gathered over
// the whole test set, then accuracy and support-weighted recall and precision.
#include "reporting/test_pass.h"

#include "interp/context.h"
#include "interp/text.h"
#include "training/predictions.h"

namespace duzer {

using namespace interp;

void evaluate_test_set(Run &run) {
    const Names &n = names();
    call_method(run.model, n.eval);
    run.test_preds = new_list();
    run.test_true = new_list();
    with_block(call(attr(global(n.torch), n.no_grad)), [&] {
        BatchLocals b;
        py::object batches = get_iter(run.test_loader);
        while (py::object batch = next(batches)) {
            b.unpack_batch(batch);
            b.outputs = call(run.model, b.data);
            record_batch(b, run.test_preds, run.test_true);
        }
    });
    run.accuracy = call(global(n.accuracy_score), run.test_true, run.test_preds);
    run.recall =
        call_kw(global(n.recall_score), n.kw_average, run.test_true, run.test_preds, n.weighted);
    run.precision =
        call_kw(global(n.precision_score), n.kw_average, run.test_true, run.test_preds, n.weighted);

    py::dict info;
    info[n.train_losses] = run.train_losses;
    info[n.train_accuracies] = run.train_accuracies;
    info[n.val_losses] = run.val_losses;
    info[n.val_accuracies] = run.val_accuracies;
    run.info = std::move(info);

    print_line(concat({n.test_accuracy_label, format(run.accuracy, n.spec_6f), n.recall_label,
                       format(run.recall, n.spec_6f), n.precision_label,
                       format(run.precision, n.spec_6f)}));
}

}  // namespace duzer
