// Figures drawn through pyplot's current figure and axes, one at a time.
#include "reporting/figures.h"

#include "interp/call.h"
#include "interp/state.h"

namespace duzer {

using namespace interp;

namespace {

/// `plt.<name>`, looked up at each use.
py::object plt(PyObject *name) {
    return global_attr(names().plt, name);
}

/// `plt.<name>(text)`.
void plt_text(PyObject *name, PyObject *text) {
    py::object fn = plt(name);
    call(fn, text);
}

void show_blocking() {
    py::object show = plt(names().show);
    call_kw(show, names().kw_block, Py_True);
}

void label_axes(PyObject *x_label, PyObject *y_label, PyObject *title) {
    const Names &n = names();
    plt_text(n.xlabel, x_label);
    plt_text(n.ylabel, y_label);
    plt_text(n.title, title);
}

/// `plt.plot(range(num_epochs), <series>, label=<label>)`.
void plot_per_epoch(Run &run, py::handle series, PyObject *label) {
    const Names &n = names();
    py::object plot = plt(n.plot);
    py::object epochs = call(n.range, run.num_epochs);
    call_kw(plot, n.kw_label, epochs, series, label);
}

/// `plt.plot(val_epochs, <series>, label=<label>)`.
void plot_validation(py::handle val_epochs, py::handle series, PyObject *label) {
    const Names &n = names();
    py::object plot = plt(n.plot);
    call_kw(plot, n.kw_label, val_epochs, series, label);
}

/// `plt.subplot(1, 2, <panel>)`.
void subplot(PyObject *panel) {
    const Names &n = names();
    py::object fn = plt(n.subplot);
    call(fn, n.int_1, n.int_2, panel);
}

void training_curves(Run &run) {
    const Names &n = names();
    py::object figure = plt(n.figure);
    call_kw(figure, n.kw_figsize, n.figsize_12_4);
    subplot(n.int_1);
    plot_per_epoch(run, run.train_losses, n.train_loss_legend);
    // val_epochs = [0] + list(range(val_freq - 1, num_epochs, val_freq))
    py::object head = new_list();
    append(head, n.int_0);
    py::object start = subtract(run.val_freq, n.int_1);
    py::object later = list_of(call(n.range, start, run.num_epochs, run.val_freq));
    py::object val_epochs = add(head, later);
    plot_validation(val_epochs, run.val_losses, n.val_loss_legend);
    label_axes(n.epochs_axis, n.loss_axis, n.loss_title);
    call_noargs(plt(n.legend));
    subplot(n.int_2);
    plot_per_epoch(run, run.train_accuracies, n.train_acc_legend);
    plot_validation(val_epochs, run.val_accuracies, n.val_acc_legend);
    label_axes(n.epochs_axis, n.accuracy_axis, n.accuracy_title);
    call_noargs(plt(n.legend));
    call_noargs(plt(n.tight_layout));
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

/// `plt.plot(<values>, <style>, label=<label>)`.
void plot_markers(py::handle values, PyObject *style, PyObject *label) {
    const Names &n = names();
    py::object plot = plt(n.plot);
    call_kw(plot, n.kw_label, values, style, label);
}

void true_against_predicted(Run &run) {
    const Names &n = names();
    py::object figure = plt(n.figure);
    call_kw(figure, n.kw_figsize, n.figsize_8_6);
    // classes = sorted(list(set(test_true)))
    py::object classes = sorted_list(list_of(set_of(run.test_true)));
    py::object class_count = index_object(length(classes));
    py::object class_indices = call(n.range, class_count);
    // sorted_indices = np.argsort(test_true)
    Method argsort = method(global(n.np), n.argsort);
    py::object sorted_indices = call(argsort, run.test_true);
    py::object sorted_test_true = reorder(run.test_true, sorted_indices);
    py::object sorted_test_preds = reorder(run.test_preds, sorted_indices);
    plot_markers(sorted_test_true, n.blue_circles, n.true_label);
    plot_markers(sorted_test_preds, n.red_points, n.predicted_label);
    plt_text(n.xlabel, n.sample_axis);
    plt_text(n.ylabel, n.class_axis);
    py::object yticks = plt(n.yticks);
    call(yticks, class_indices, classes);
    plt_text(n.title, n.labels_title);
    call_noargs(plt(n.legend));
    py::object grid = plt(n.grid);
    call(grid, Py_True);
    show_blocking();
}

void confusion_heatmap(Run &run) {
    const Names &n = names();
    // cm = confusion_matrix(test_true, test_preds)
    py::object confusion_matrix = global(n.confusion_matrix);
    py::object cm = call(confusion_matrix, run.test_true, run.test_preds);
    py::object figure = plt(n.figure);
    call_kw(figure, n.kw_figsize, n.figsize_8_6);
    // sns.heatmap(cm, annot=True, fmt="d", cmap="Blues")
    py::object heatmap = global_attr(n.sns, n.heatmap);
    call_kw(heatmap, n.kw_annot_fmt_cmap, cm, Py_True, n.d, n.Blues);
    label_axes(n.predicted_label, n.true_label, n.confusion_title);
    show_blocking();
}

}  // namespace

void draw_figures(Run &run) {
    call_noargs(plt(names().ion));
    training_curves(run);
    true_against_predicted(run);
    confusion_heatmap(run);
}

}  // namespace duzer
