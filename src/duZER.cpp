// The module's entry point, its namespace, and the public function
// FunClassCNNs: argument binding, documentation and the order of stages.
#include "interp/call.h"
#include "interp/function.h"
#include "interp/guard.h"
#include "interp/imports.h"
#include "interp/module.h"
#include "interp/state.h"
#include "interp/traceback.h"
#include "model/cnn.h"
#include "pipeline/device.h"
#include "pipeline/loaders.h"
#include "pipeline/scaling.h"
#include "pipeline/seeding.h"
#include "reporting/figures.h"
#include "reporting/test_pass.h"
#include "run.h"
#include "training/epochs.h"
#include "training/setup.h"

namespace duzer {

namespace {

using interp::names;
using interp::Names;

constexpr const char *kDocstring =
    "\n"
    "    使用CNN进行模式识别(分类)的快速实现函数,程序会优先使用GPU进行加速,如果没有GPU则使用CPU\n"
    "    \n"
    "    参数:\n"
    "    - dataX: 输入数据,形状为(num_samples, num_channels, height, width)的numpy数组\n"
    "    - dataY: 标签值,形状为(num_samples,)的numpy数组,可以是向量型或索引型\n"
    "    - divideR: 数据集划分比例,形如[train_ratio, val_ratio, test_ratio]的列表\n"
    "    - cLayer: 卷积层结构,形状为(num_conv_layers, "
    "5)的numpy数组,每一行代表一个卷积层的参数[filter_height, filter_width, num_filters, stride, "
    "padding]\n"
    "    - poolingLayer: 池化层结构,形状为(num_conv_layers, "
    "5)的列表,每一行代表一个池化层的参数['pool_type', pool_height, pool_width, stride, "
    "padding],其中pool_type可以是'maxPooling2dLayer'或'averagePooling2dLayer'或'none'\n"
    "    - fcLayer: "
    "全连接层结构,形状为(num_fc_layers,)的列表,每一个元素代表一个全连接层的输出维度,"
    "如果为空列表则只有一个输出维度等于类别数的全连接层\n"
    "    - options: 网络训练相关的选项,字典类型,包含以下键值对:\n"
    "      - 'solverName': 优化器类型,可以是'sgdm'或'rmsprop'或'adam',默认为'adam'\n"
    "      - 'MaxEpochs': 最大迭代次数,默认为30\n"
    "      - 'MiniBatchSize': 批量大小,默认为128\n"
    "      - 'InitialLearnRate': 初始学习率,默认为0.005\n"
    "      - 'ValidationFrequency': 验证频率,即每多少次迭代进行一次验证,默认为50\n"
    "      - 'LearnRateSchedule': 学习率调度方式,可以是'piecewise'或'none',默认为'none'\n"
    "      - 'LearnRateDropPeriod': 学习率下降周期,默认为10\n"
    "      - 'LearnRateDropFactor': 学习率下降因子,默认为0.95\n"
    "    - setting: 其他选项,字典类型,包含以下键值对:\n"
    "      - figflag: 是否绘制图像,'on'为绘制,'off'为不绘制\n"
    "      - deviceSel: "
    "训练设备选择,可以是'cpu'或'gpu',默认为'gpu',当设置为'gpu'时,如果gpu硬件不可用,"
    "则会自动切换到cpu\n"
    "      - seed: "
    "随机种子,整数,设置为0时不启用,设置为其他整数时启用,不同的整数为不同的种子值,"
    "变换种子值会影响结果,相同种子的计算结果是一致的,缺省时为不设置随机种子\n"
    "      - minmax: 是否进行归一化,布尔值,默认为True\n"
    "      \n"
    "    返回值:\n"
    "    - accuracy: 测试集上的准确率\n"
    "    - recall: 测试集上的召回率\n"
    "    - precision: 测试集上的精确率\n"
    "    - model: 训练好的PyTorch模型\n"
    "    - info: 包含训练过程中的损失和准确率信息的字典\n"
    "    ";

/// Runs one stage of the call. An exception leaving it gains one traceback
/// entry that names the stage (`File "<duZER: scaling>", line 3, in
/// FunClassCNNs`, the line being the stage's place in the call); the exception
/// itself is left exactly as raised.
void stage(Run &run, void (*step)(Run &), const char *where, int number) {
    interp::catch_into_python([&] { step(run); },
                              [&] {
                                  interp::add_traceback_entry("FunClassCNNs", where, number);
                                  interp::raise_pending();
                              },
                              [&] { run.abandon(); });
}

/// After the test pass: the figures when `setting.get("figflag", "off") == "on"`.
void draw_figures_if_asked(Run &run) {
    const Names &n = names();
    py::object figflag = interp::get(run.setting, n.figflag, n.off);
    if (interp::equals(figflag, n.on)) draw_figures(run);
}

py::object fun_class_cnns(interp::Function &, PyObject *const *args) {
    Run run;
    py::handle dataX = args[0];
    run.dataY = interp::borrow(args[1]);
    run.divideR = args[2];
    run.cLayer = args[3];
    run.poolingLayer = args[4];
    run.fcLayer = args[5];
    run.options = args[6];
    run.setting = args[7];

    run.scope = interp::new_scope();
    run.vars().set(interp::Scope::dataX, dataX);

    stage(run, seed_generators, "<duZER: seeding>", 1);
    stage(run, scale_samples, "<duZER: scaling>", 2);
    stage(run, choose_device, "<duZER: device choice>", 3);
    stage(run, prepare_loaders, "<duZER: data preparation>", 4);
    stage(run, define_cnn_class, "<duZER: network class>", 5);
    stage(run, set_up_training, "<duZER: training set-up>", 6);
    stage(run, train_network, "<duZER: training loop>", 7);
    stage(run, evaluate_test_set, "<duZER: test evaluation>", 8);
    stage(run, draw_figures_if_asked, "<duZER: figures>", 9);
    return interp::new_tuple(run.accuracy, run.recall, run.precision, run.model, run.info);
}

PyObject *Names::*const kParams[] = {&Names::dataX,   &Names::dataY,        &Names::divideR,
                                     &Names::cLayer,  &Names::poolingLayer, &Names::fcLayer,
                                     &Names::options, &Names::setting};

const interp::FunctionSpec kFunClassCNNs = {"FunClassCNNs", &Names::FunClassCNNs, kParams, 8,
                                            fun_class_cnns};

void populate_namespace(py::handle module) {
    using interp::bind;
    bind(module, "np", interp::import_module("numpy"));
    bind(module, "torch", interp::import_module("torch"));
    bind(module, "nn", interp::import_module("torch.nn"));
    bind(module, "optim", interp::import_module("torch.optim"));
    auto data = interp::import_from("torch.utils.data", {"DataLoader", "TensorDataset"});
    bind(module, "DataLoader", data[0]);
    bind(module, "TensorDataset", data[1]);
    auto selection = interp::import_from("sklearn.model_selection", {"train_test_split"});
    bind(module, "train_test_split", selection[0]);
    auto metrics = interp::import_from("sklearn.metrics", {"accuracy_score", "recall_score",
                                                           "precision_score", "confusion_matrix"});
    bind(module, "accuracy_score", metrics[0]);
    bind(module, "recall_score", metrics[1]);
    bind(module, "precision_score", metrics[2]);
    bind(module, "confusion_matrix", metrics[3]);
    bind(module, "plt", interp::import_module("matplotlib.pyplot"));
    bind(module, "sns", interp::import_module("seaborn"));
    const Names &n = names();
    // plt.rcParams["font.family"] = "SimHei"
    py::object rc_params = interp::global_attr(n.plt, n.rcParams);
    interp::setitem(rc_params, n.font_family, n.SimHei);
    // plt.rcParams["axes.unicode_minus"] = False
    rc_params = interp::global_attr(n.plt, n.rcParams);
    interp::setitem(rc_params, n.axes_unicode_minus, Py_False);
    py::object doc = interp::text(kDocstring);
    bind(module, "FunClassCNNs",
         interp::new_function(kFunClassCNNs, n.FunClassCNNs, doc, /*scope=*/nullptr));
    bind(module, "__test__", interp::new_dict());
}

}  // namespace

}  // namespace duzer

PyMODINIT_FUNC PyInit_duZER(void) {
    return duzer::interp::module_definition(duzer::populate_namespace);
}
