// Figures drawn through pyplot's current figure and axes, one at a time.
#include "reporting/figures.h"

#include "interp/call.h"

namespace duzer {

using namespace interp;

namespace {

/// `plt.<name>`, looked up at each use.
py::object plt(PyObject *name) {
    return attr(global(names().plt), name);
}

void show_blocking() {
    call_kw(plt(names().show), names().kw_block, Py_True);
}

void label_axes(PyObject *x_label, PyObject *y_label, PyObject *title) {
    const Names &n = names();
    call(plt(n.xlabel), x_label);
    call(plt(n.ylabel), y_label);
    call(plt(n.title), title);
}

void training_curves(Run &run) {
    const Names &n = names();
    call_kw(plt(n.figure), n.kw_figsize, n.figsize_12_4);
    call(plt(n.subplot), n.int_1, n.int_2, n.int_1);
    call_kw(plt(n.plot), n.kw_label, call(n.range, run.num_epochs), run.train_losses,
            n.train_loss_legend);
    // x position of each validation entry: 0, then every val_freq-th epoch.
    py::object val_epochs = new_list();
    append(val_epochs, n.int_0);
    extend(val_epochs,
           call(n.range, subtract(run.val_freq, n.int_1), run.num_epochs, run.val_freq));
    call_kw(plt(n.plot), n.kw_label, val_epochs, run.val_losses, n.val_loss_legend);
    label_axes(n.epochs_axis, n.loss_axis, n.loss_title);
    call(plt(n.legend));
    call(plt(n.subplot), n.int_1, n.int_2, n.int_2);
    call_kw(plt(n.plot), n.kw_label, call(n.range, run.num_epochs), run.train_accuracies,
            n.train_acc_legend);
    call_kw(plt(n.plot), n.kw_label, val_epochs, run.val_accuracies, n.val_acc_legend);
    label_axes(n.epochs_axis, n.accuracy_axis, n.accuracy_title);
    call(plt(n.legend));
    call(plt(n.tight_layout));
    show_blocking();
}

/// `[values[i] for i in order]`.
py::object reorder(py::handle values, py::handle order) {
    py::object result = new_list();
    py::object it = get_iter(order);
    while (py::object i = next(it)) append(result, getitem(values, i));
    return result;
}

void true_against_predicted(Run &run) {
    const Names &n = names();
    call_kw(plt(n.figure), n.kw_figsize, n.figsize_8_6);
    py::object distinct = steal(PySet_New(run.test_true.ptr()));
    py::object classes = steal(PySequence_List(distinct.ptr()));
    check(PyList_Sort(classes.ptr()));
    py::object class_indices = call(n.range, index_object(length(classes)));
    py::object sorted_indices = call_method(global(n.np), n.argsort, run.test_true);
    py::object sorted_test_true = reorder(run.test_true, sorted_indices);
    py::object sorted_test_preds = reorder(run.test_preds, sorted_indices);
    call_kw(plt(n.plot), n.kw_label, sorted_test_true, n.blue_circles, n.true_label);
    call_kw(plt(n.plot), n.kw_label, sorted_test_preds, n.red_points, n.predicted_label);
    call(plt(n.xlabel), n.sample_axis);
    call(plt(n.ylabel), n.class_axis);
    call(plt(n.yticks), class_indices, classes);
    call(plt(n.title), n.labels_title);
    call(plt(n.legend));
    call(plt(n.grid), Py_True);
    show_blocking();
}

void confusion_heatmap(Run &run) {
    const Names &n = names();
    py::object cm = call(global(n.confusion_matrix), run.test_true, run.test_preds);
    call_kw(plt(n.figure), n.kw_figsize, n.figsize_8_6);
    call_kw(attr(global(n.sns), n.heatmap), n.kw_annot_fmt_cmap, cm, Py_True, n.d, n.Blues);
    label_axes(n.predicted_label, n.true_label, n.confusion_title);
    show_blocking();
}

}  // namespace

void draw_figures(Run &run) {
    call(plt(names().ion));
    training_curves(run);
    true_against_predicted(run);
    confusion_heatmap(run);
}

}  // namespace duzer
