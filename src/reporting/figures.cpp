// Figures drawn through pyplot's current figure and axes, one at a time.
#include "reporting/figures.h"

#include "interp/call.h"
#include "names.h"

namespace duzer {

using namespace interp;

namespace {

// The setting, and the names of pyplot and seaborn that the figures call.
const Identifier kFigflag{"figflag"};
const Text kOn{"on"}, kOff{"off"};
const Identifier kIon{"ion"}, kFigure{"figure"}, kSubplot{"subplot"}, kPlot{"plot"},
    kXlabel{"xlabel"}, kYlabel{"ylabel"}, kTitle{"title"}, kLegend{"legend"},
    kTightLayout{"tight_layout"}, kShow{"show"}, kYticks{"yticks"}, kGrid{"grid"},
    kArgsort{"argsort"}, kHeatmap{"heatmap"};
const KeywordNames kKwFigsize{"figsize"}, kKwLabel{"label"}, kKwBlock{"block"},
    kKwAnnotFmtCmap{"annot", "fmt", "cmap"};
// Sizes and styles.
const IntPair kCurvesSize{12, 4}, kClassesSize{8, 6};
const Text kBlueCircles{"bo"}, kRedPoints{"r."}, kIntegers{"d"}, kBlues{"Blues"};
// Legends, axis labels, titles.
const Text kTrainLossLegend{"训练损失"}, kValLossLegend{"验证损失"}, kTrainAccLegend{"训练准确率"},
    kValAccLegend{"验证准确率"}, kTrueLabel{"真实标签"}, kPredictedLabel{"预测标签"};
const Text kEpochsAxis{"迭代次数"}, kLossAxis{"损失"}, kAccuracyAxis{"准确率"},
    kSampleAxis{"样本编号"}, kClassAxis{"类别"};
const Text kLossTitle{"损失曲线"}, kAccuracyTitle{"准确率曲线"},
    kLabelsTitle{"测试集 - 真实标签 vs 预测标签"}, kConfusionTitle{"混淆矩阵"};

/// `plt.<name>`, looked up at each use, about to be called.
Method plt(PyObject *name) {
    return method(global(id::plt), name);
}

/// `plt.<name>(text)`.
void plt_text(PyObject *name, PyObject *text) {
    Method fn = plt(name);
    call(fn, text);
}

/// `plt.<name>()`.
void plt_call(PyObject *name) {
    call_method(global(id::plt), name);
}

/// `plt.figure(figsize=<size>)`.
void new_figure(PyObject *size) {
    Method figure = plt(kFigure);
    call_kw(figure, kKwFigsize, size);
}

void show_blocking() {
    Method show = plt(kShow);
    call_kw(show, kKwBlock, Py_True);
}

void label_axes(PyObject *x_label, PyObject *y_label, PyObject *title) {
    plt_text(kXlabel, x_label);
    plt_text(kYlabel, y_label);
    plt_text(kTitle, title);
}

/// `plt.plot(<x>, <y>, label=<label>)` and `plt.plot(<y>, <style>, label=<label>)`.
void plot_labelled(py::handle first, py::handle second, PyObject *label) {
    Method plot = plt(kPlot);
    call_kw(plot, kKwLabel, first, second, label);
}

/// `plt.plot(range(num_epochs), <series>, label=<label>)`.
void plot_per_epoch(const Training &training, py::handle series, PyObject *label) {
    Method plot = plt(kPlot);
    py::object epochs = call(builtins().range, training.num_epochs);
    call_kw(plot, kKwLabel, epochs, series, label);
}

/// `plt.subplot(1, 2, <panel>)`.
void subplot(PyObject *panel) {
    Method fn = plt(kSubplot);
    call(fn, lit::one, lit::two, panel);
}

void training_curves(const Training &training) {
    const History &history = training.history;
    new_figure(kCurvesSize);
    subplot(lit::one);
    plot_per_epoch(training, history.train_losses, kTrainLossLegend);
    // val_epochs = [0] + list(range(val_freq - 1, num_epochs, val_freq))
    py::object head = new_list();
    append(head, lit::zero);
    py::object start = subtract(training.val_freq, lit::one);
    py::object later =
        list_of(call(builtins().range, start, training.num_epochs, training.val_freq));
    py::object val_epochs = add(head, later);
    plot_labelled(val_epochs, history.val_losses, kValLossLegend);
    label_axes(kEpochsAxis, kLossAxis, kLossTitle);
    plt_call(kLegend);
    subplot(lit::two);
    plot_per_epoch(training, history.train_accuracies, kTrainAccLegend);
    plot_labelled(val_epochs, history.val_accuracies, kValAccLegend);
    label_axes(kEpochsAxis, kAccuracyAxis, kAccuracyTitle);
    plt_call(kLegend);
    plt_call(kTightLayout);
    show_blocking();
}

/// `[values[i] for i in order]`.
py::object reorder(py::handle values, py::handle order) {
    py::object result = new_list();
    py::object it = get_iter(order);
    while (py::object i = next(it)) {
        py::object value = getitem(values, i);
        append(result, value);
    }
    return result;
}

void true_against_predicted(const TestResults &results) {
    new_figure(kClassesSize);
    // classes = sorted(list(set(test_true)))
    py::object classes = sorted_list(list_of(set_of(results.test_true)));
    py::object class_count = index_object(length(classes));
    py::object class_indices = call(builtins().range, class_count);
    // sorted_indices = np.argsort(test_true)
    Method argsort = method(global(id::np), kArgsort);
    py::object sorted_indices = call(argsort, results.test_true);
    py::object sorted_test_true = reorder(results.test_true, sorted_indices);
    py::object sorted_test_preds = reorder(results.test_preds, sorted_indices);
    plot_labelled(sorted_test_true, kBlueCircles, kTrueLabel);
    plot_labelled(sorted_test_preds, kRedPoints, kPredictedLabel);
    plt_text(kXlabel, kSampleAxis);
    plt_text(kYlabel, kClassAxis);
    Method yticks = plt(kYticks);
    call(yticks, class_indices, classes);
    plt_text(kTitle, kLabelsTitle);
    plt_call(kLegend);
    Method grid = plt(kGrid);
    call(grid, Py_True);
    show_blocking();
}

void confusion_heatmap(const TestResults &results) {
    // cm = confusion_matrix(test_true, test_preds)
    py::object confusion_matrix = global(id::confusion_matrix);
    py::object cm = call(confusion_matrix, results.test_true, results.test_preds);
    new_figure(kClassesSize);
    // sns.heatmap(cm, annot=True, fmt="d", cmap="Blues")
    Method heatmap = method(global(id::sns), kHeatmap);
    call_kw(heatmap, kKwAnnotFmtCmap, cm, Py_True, kIntegers, kBlues);
    label_axes(kPredictedLabel, kTrueLabel, kConfusionTitle);
    show_blocking();
}

}  // namespace

void draw_figures(py::handle setting, const Training &training, const TestResults &results) {
    // if setting.get("figflag", "off") == "on":
    py::object figflag = get(setting, kFigflag, kOff);
    if (!equals(figflag, kOn)) return;
    plt_call(kIon);
    training_curves(training);
    true_against_predicted(results);
    confusion_heatmap(results);
}

}  // namespace duzer
