// Test evaluation: evaluation mode, no gradients, predictions gathered over
// the whole test set, then accuracy and support-weighted recall and precision.
#include "reporting/test_pass.h"

#include "interp/context.h"
#include "interp/text.h"
#include "training/batch.h"

namespace duzer {

using namespace interp;

void evaluate_test_set(Run &run) {
    const Names &n = names();
    call_method(run.model, n.eval);
    run.test_preds = new_list();
    run.test_true = new_list();
    // with torch.no_grad(): for data, labels in test_loader: ...
    with_block(call_noargs(global_attr(n.torch, n.no_grad)), [&] {
        BatchLocals b;
        py::object batches = get_iter(run.test_loader);
        while (py::object batch = next(batches)) {
            b.unpack_batch(batch);
            b.outputs = call(run.model, b.data);
            record_batch(b, run.test_preds, run.test_true);
        }
    });
    // accuracy = accuracy_score(test_true, test_preds)
    py::object metric = global(n.accuracy_score);
    run.accuracy = call(metric, run.test_true, run.test_preds);
    // recall = recall_score(test_true, test_preds, average="weighted")
    metric = global(n.recall_score);
    run.recall = call_kw(metric, n.kw_average, run.test_true, run.test_preds, n.weighted);
    // precision = precision_score(test_true, test_preds, average="weighted")
    metric = global(n.precision_score);
    run.precision = call_kw(metric, n.kw_average, run.test_true, run.test_preds, n.weighted);

    run.info = new_dict();
    setitem(run.info, n.train_losses, run.train_losses);
    setitem(run.info, n.train_accuracies, run.train_accuracies);
    setitem(run.info, n.val_losses, run.val_losses);
    setitem(run.info, n.val_accuracies, run.val_accuracies);

    // f"测试集准确率: {accuracy:.6f}, 召回率: {recall:.6f}, 精确率: {precision:.6f}"
    print_line(concat({n.test_accuracy_label, format(run.accuracy, n.spec_6f), n.recall_label,
                       format(run.recall, n.spec_6f), n.precision_label,
                       format(run.precision, n.spec_6f)}));
}

}  // namespace duzer
