// Test evaluation: evaluation mode, no gradients, predictions gathered over
// the whole test set, then accuracy and support-weighted recall and precision.
#include "reporting/test_evaluation.h"

#include "interp/context.h"
#include "interp/text.h"
#include "names.h"
#include "training/batch.h"

namespace duzer {

using namespace interp;

namespace {
const Identifier kTrainLosses{"train_losses"}, kTrainAccuracies{"train_accuracies"},
    kValLosses{"val_losses"}, kValAccuracies{"val_accuracies"};
const Text kWeighted{"weighted"};
const KeywordNames kKwAverage{"average"};
const Text kSixPlaces{".6f"}, kAccuracyLabel{"测试集准确率: "}, kRecallLabel{", 召回率: "},
    kPrecisionLabel{", 精确率: "};
}  // namespace

TestResults evaluate_test_set(const Training &training, py::handle test_loader) {
    TestResults r;
    call_method(training.model, id::eval);
    r.test_preds = new_list();
    r.test_true = new_list();
    // with torch.no_grad(): for data, labels in test_loader: ...
    with_block(call_method(global(id::torch), id::no_grad), [&] {
        BatchLocals b;
        for_each_batch(test_loader, b, [&] {
            b.outputs = call(training.model, b.data);
            record_batch(b, r.test_preds, r.test_true);
        });
    });
    // accuracy = accuracy_score(test_true, test_preds)
    py::object metric = global(id::accuracy_score);
    r.accuracy = call(metric, r.test_true, r.test_preds);
    // recall = recall_score(test_true, test_preds, average="weighted")
    metric = global(id::recall_score);
    r.recall = call_kw(metric, kKwAverage, r.test_true, r.test_preds, kWeighted);
    // precision = precision_score(test_true, test_preds, average="weighted")
    metric = global(id::precision_score);
    r.precision = call_kw(metric, kKwAverage, r.test_true, r.test_preds, kWeighted);

    const History &history = training.history;
    r.info = new_dict();
    setitem(r.info, kTrainLosses, history.train_losses);
    setitem(r.info, kTrainAccuracies, history.train_accuracies);
    setitem(r.info, kValLosses, history.val_losses);
    setitem(r.info, kValAccuracies, history.val_accuracies);

    // f"测试集准确率: {accuracy:.6f}, 召回率: {recall:.6f}, 精确率: {precision:.6f}"
    print_line(
        concat({kAccuracyLabel, format(r.accuracy, kSixPlaces), kRecallLabel,
                format(r.recall, kSixPlaces), kPrecisionLabel, format(r.precision, kSixPlaces)}));
    return r;
}

}  // namespace duzer
