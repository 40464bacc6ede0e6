// The strings, numbers and tuples that every call uses, created once when the
// module executes: identifiers and keyword names interned, message texts and
// numeric defaults built once and shared by all calls.
#pragma once

#include "interp/object.h"

namespace duzer::interp {

// Identifiers whose text is their C++ name: attribute names, keyword names,
// option and setting keys. Interned.
// clang-format off
#define DUZER_IDENTIFIERS(X)                                                                      \
    X(np) X(torch) X(nn) X(optim) X(DataLoader) X(TensorDataset) X(train_test_split)              \
    X(accuracy_score) X(recall_score) X(precision_score) X(confusion_matrix) X(plt) X(sns)        \
    X(rcParams) X(FunClassCNNs) X(dataX) X(dataY) X(divideR) X(cLayer) X(poolingLayer)            \
    X(fcLayer) X(options) X(setting) X(self) X(num_classes) X(x) X(CNN) X(device)                 \
    X(get) X(manual_seed) X(random) X(seed) X(min) X(max) X(cuda) X(is_available)                 \
    X(current_device) X(get_device_name) X(tensor) X(float32) X(to) X(Module) X(shape)            \
    X(zeros) X(prod) X(conv_layers) X(pool_layers) X(fc_layers) X(ModuleList) X(Conv2d) X(ReLU)   \
    X(MaxPool2d) X(AvgPool2d) X(Linear) X(append) X(get_conv_output_size) X(forward) X(view)      \
    X(size) X(item) X(CrossEntropyLoss) X(Adam) X(parameters) X(lr_scheduler) X(StepLR) X(eval)   \
    X(train) X(no_grad) X(zero_grad) X(backward) X(step) X(cpu) X(numpy) X(dataset) X(ion)        \
    X(figure) X(subplot) X(plot) X(xlabel) X(ylabel) X(title) X(legend) X(tight_layout) X(show)   \
    X(yticks) X(grid) X(argsort) X(heatmap) X(dtype) X(test_size) X(random_state) X(batch_size)   \
    X(shuffle) X(kernel_size) X(stride) X(padding) X(lr) X(step_size) X(gamma) X(average)         \
    X(figsize) X(label) X(block) X(annot) X(fmt) X(cmap) X(minmax) X(deviceSel) X(figflag)        \
    X(MaxEpochs) X(MiniBatchSize) X(InitialLearnRate) X(ValidationFrequency)                      \
    X(LearnRateDropPeriod) X(LearnRateDropFactor) X(train_losses) X(train_accuracies)             \
    X(val_losses) X(val_accuracies) X(gpu) X(on) X(off) X(none)                     \
    X(maxPooling2dLayer) X(averagePooling2dLayer) X(weighted) X(SimHei) X(Blues) X(d)             \
    X(__init__) X(__enter__) X(__exit__) X(__mro_entries__) X(__prepare__) X(__module__)          \
    X(__qualname__) X(__orig_bases__)

// Texts that are not identifiers: (member, text).
#define DUZER_TEXTS(X)                                                                            \
    X(long_, "long")                                                                              \
    X(empty, "")                                                                                  \
    X(module_name, "duZER")                                                                       \
    X(cnn_qualname, "FunClassCNNs.<locals>.CNN")                                                  \
    X(cuda_prefix, "cuda:")                                                                       \
    X(triple_dash, "---")                                                                         \
    X(font_family, "font.family")                                                                 \
    X(axes_unicode_minus, "axes.unicode_minus")                                                   \
    X(spec_4f, ".4f")                                                                             \
    X(spec_6f, ".6f")                                                                             \
    X(blue_circles, "bo")                                                                         \
    X(red_points, "r.")                                                                           \
    X(gpu_device_label, "当前设备为：")                                                           \
    X(cpu_device_line, "当前设备为cpu")                                                           \
    X(gpu_hint, "如果选择使用gpu但显示使用CPU，可能是硬件设备不可用。可以参考下述链接解决:")      \
    X(gpu_help_1, "https://pytorch.org/get-started/locally/")                                     \
    X(gpu_help_2, "https://pytorch.org/docs/stable/notes/cuda.html")                              \
    X(model_structure, "模型结构:")                                                               \
    X(initial_validation, "Initial Validation, Val Loss: ")                                       \
    X(val_acc_sep, ", Val Acc: ")                                                                 \
    X(epoch_open, "Epoch [")                                                                      \
    X(slash, "/")                                                                                 \
    X(train_loss_sep, "], Train Loss: ")                                                          \
    X(train_acc_sep, ", Train Acc: ")                                                             \
    X(val_loss_sep, "], Val Loss: ")                                                              \
    X(test_accuracy_label, "测试集准确率: ")                                                      \
    X(recall_label, ", 召回率: ")                                                                 \
    X(precision_label, ", 精确率: ")                                                              \
    X(train_loss_legend, "训练损失")                                                              \
    X(val_loss_legend, "验证损失")                                                                \
    X(epochs_axis, "迭代次数")                                                                    \
    X(loss_axis, "损失")                                                                          \
    X(loss_title, "损失曲线")                                                                     \
    X(train_acc_legend, "训练准确率")                                                             \
    X(val_acc_legend, "验证准确率")                                                               \
    X(accuracy_axis, "准确率")                                                                    \
    X(accuracy_title, "准确率曲线")                                                               \
    X(true_label, "真实标签")                                                                     \
    X(predicted_label, "预测标签")                                                                \
    X(sample_axis, "样本编号")                                                                    \
    X(class_axis, "类别")                                                                         \
    X(labels_title, "测试集 - 真实标签 vs 预测标签")                                              \
    X(confusion_title, "混淆矩阵")                                                                \
    X(init_qualname, "FunClassCNNs.<locals>.CNN.__init__")                                        \
    X(probe_qualname, "FunClassCNNs.<locals>.CNN.get_conv_output_size")                           \
    X(forward_qualname, "FunClassCNNs.<locals>.CNN.forward")                                      \
    X(probe_doc, "\n            计算卷积层输出的特征图大小\n            ")                       \
    X(forward_doc, "\n            前向传播\n            ")

// Small integers and floats: (member, C expression, constructor).
#define DUZER_NUMBERS(X)                          \
    X(int_0, PyLong_FromLong(0))                  \
    X(int_1, PyLong_FromLong(1))                  \
    X(int_2, PyLong_FromLong(2))                  \
    X(int_3, PyLong_FromLong(3))                  \
    X(int_4, PyLong_FromLong(4))                  \
    X(int_minus_1, PyLong_FromLong(-1))           \
    X(int_42, PyLong_FromLong(42))                \
    X(int_128, PyLong_FromLong(128))              \
    X(int_30, PyLong_FromLong(30))                \
    X(int_50, PyLong_FromLong(50))                \
    X(int_10, PyLong_FromLong(10))                \
    X(float_0, PyFloat_FromDouble(0.0))           \
    X(float_0_005, PyFloat_FromDouble(0.005))     \
    X(float_0_95, PyFloat_FromDouble(0.95))       \
    X(figsize_12_4, Py_BuildValue("(ii)", 12, 4)) \
    X(figsize_8_6, Py_BuildValue("(ii)", 8, 6))

// Keyword-name tuples handed to vectorcall: (member, names...).
#define DUZER_KWNAMES(X)                                      \
    X(kw_dtype, dtype)                                        \
    X(kw_test_size_random_state, test_size, random_state)     \
    X(kw_batch_size, batch_size)                              \
    X(kw_batch_size_shuffle, batch_size, shuffle)             \
    X(kw_kernel_size_stride_padding, kernel_size, stride, padding) \
    X(kw_lr, lr)                                              \
    X(kw_step_size_gamma, step_size, gamma)                   \
    X(kw_average, average)                                    \
    X(kw_figsize, figsize)                                    \
    X(kw_label, label)                                        \
    X(kw_block, block)                                        \
    X(kw_annot_fmt_cmap, annot, fmt, cmap)
// clang-format on

struct Names {
#define DUZER_DECLARE(member) PyObject *member;
#define DUZER_DECLARE_WITH(member, ...) PyObject *member;
    DUZER_IDENTIFIERS(DUZER_DECLARE)
    DUZER_TEXTS(DUZER_DECLARE_WITH)
    DUZER_NUMBERS(DUZER_DECLARE_WITH)
    DUZER_KWNAMES(DUZER_DECLARE_WITH)
#undef DUZER_DECLARE_WITH
#undef DUZER_DECLARE
    // The builtins that every call uses, fetched once at load.
    PyObject *slice_from_1;  ///< `[1:]`
    PyObject *print;
    PyObject *range;
    PyObject *super;
};

/// Creates every entry of `n` except the builtins. Returns false with an
/// exception set on failure.
bool prepare_names(Names &n);

/// Fetches print, range and super from the builtins' namespace (NameError
/// when one is missing).
bool fetch_builtins(Names &n, PyObject *builtins_dict);

}  // namespace duzer::interp
