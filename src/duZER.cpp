// The module's entry point, its namespace, and the public function
// FunClassCNNs: its parameters, documentation, and the stages it runs, each
// with what it reads and what it hands on.
#include "interp/call.h"
#include "interp/function.h"
#include "interp/guard.h"
#include "interp/imports.h"
#include "interp/module.h"
#include "model/call_scope.h"
#include "model/cnn.h"
#include "names.h"
#include "pipeline/device.h"
#include "pipeline/loaders.h"
#include "pipeline/scaling.h"
#include "pipeline/seeding.h"
#include "reporting/figures.h"
#include "reporting/test_evaluation.h"
#include "training/epochs.h"
#include "training/setup.h"

namespace duzer {

namespace {

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

const interp::Identifier kFunClassCNNs{"FunClassCNNs"}, kDataY{"dataY"}, kDivideR{"divideR"},
    kOptions{"options"}, kSetting{"setting"}, kRcParams{"rcParams"}, kDoctests{"__test__"};
const interp::Text kFontFamily{"font.family"}, kSimHei{"SimHei"},
    kUnicodeMinus{"axes.unicode_minus"};

/// The locals of one call that outlive the stage that makes them.
struct CallLocals {
    py::object scope;  ///< the call scope (CNN, dataX, device)
    PreparedData data;
    Training training;
    TestResults results;

    /// Lets go of every reference without dropping it, for a thread that the
    /// interpreter ends at shutdown: it no longer holds the interpreter, so
    /// the call's objects stay behind, as a Python frame's locals do.
    void abandon() noexcept {
        scope.release();
        data.abandon();
        training.abandon();
        results.abandon();
    }
};

/// Runs the stages of one call in order. An exception leaving a stage gains
/// one traceback entry that names it (`File "<duZER: scaling>", line 2, in
/// FunClassCNNs`, the line being the stage's place in the call); the
/// exception itself is left exactly as raised.
class Stages {
  public:
    explicit Stages(CallLocals &locals) : locals_(locals) {}

    template <class Body>
    void run(const char *label, Body &&body) {
        interp::traced_step(kFunClassCNNs.text(), label, ++position_, body,
                            [&] { locals_.abandon(); });
    }

  private:
    CallLocals &locals_;
    int position_ = 0;
};

py::object fun_class_cnns(interp::Function &, PyObject *const *args) {
    py::handle dataX = args[0], dataY = args[1], divideR = args[2], cLayer = args[3],
               poolingLayer = args[4], fcLayer = args[5], options = args[6], setting = args[7];
    CallLocals locals;
    locals.scope = new_call_scope();
    interp::Scope &vars = interp::as_scope(locals.scope);
    vars.set(CallScope::dataX, dataX);

    Stages stages(locals);
    stages.run("<duZER: seeding>", [&] { seed_generators(setting); });
    stages.run("<duZER: scaling>", [&] { scale_samples(vars, setting); });
    stages.run("<duZER: device choice>", [&] { choose_device(vars, setting); });
    stages.run("<duZER: data preparation>",
               [&] { locals.data = prepare_data(vars, dataY, divideR, options); });
    stages.run("<duZER: network class>", [&] { define_cnn_class(locals.scope); });
    stages.run("<duZER: training set-up>", [&] {
        const LayerTables layers{cLayer, poolingLayer, fcLayer};
        locals.training = set_up_training(vars, locals.data.dataY, layers, options);
    });
    stages.run("<duZER: training loop>", [&] { train_network(locals.training, locals.data); });
    stages.run("<duZER: test evaluation>", [&] {
        locals.results = evaluate_test_set(locals.training, locals.data.test_loader);
    });
    stages.run("<duZER: figures>", [&] { draw_figures(setting, locals.training, locals.results); });
    const TestResults &r = locals.results;
    return interp::new_tuple(r.accuracy, r.recall, r.precision, locals.training.model, r.info);
}

const interp::Identifier *const kParams[] = {&id::dataX,  &kDataY,           &kDivideR,
                                             &id::cLayer, &id::poolingLayer, &id::fcLayer,
                                             &kOptions,   &kSetting};

const interp::FunctionSpec kFunClassCNNsSpec{kFunClassCNNs, kParams, fun_class_cnns};

void populate_namespace(py::handle module) {
    using interp::bind;
    bind(module, id::np, interp::import_module("numpy"));
    bind(module, id::torch, interp::import_module("torch"));
    bind(module, id::nn, interp::import_module("torch.nn"));
    bind(module, id::optim, interp::import_module("torch.optim"));
    auto data = interp::import_from("torch.utils.data", {"DataLoader", "TensorDataset"});
    bind(module, id::DataLoader, data[0]);
    bind(module, id::TensorDataset, data[1]);
    auto selection = interp::import_from("sklearn.model_selection", {"train_test_split"});
    bind(module, id::train_test_split, selection[0]);
    auto metrics = interp::import_from("sklearn.metrics", {"accuracy_score", "recall_score",
                                                           "precision_score", "confusion_matrix"});
    bind(module, id::accuracy_score, metrics[0]);
    bind(module, id::recall_score, metrics[1]);
    bind(module, id::precision_score, metrics[2]);
    bind(module, id::confusion_matrix, metrics[3]);
    bind(module, id::plt, interp::import_module("matplotlib.pyplot"));
    bind(module, id::sns, interp::import_module("seaborn"));
    // plt.rcParams["font.family"] = "SimHei"
    py::object rc_params = interp::attr(interp::global(id::plt), kRcParams);
    interp::setitem(rc_params, kFontFamily, kSimHei);
    // plt.rcParams["axes.unicode_minus"] = False
    rc_params = interp::attr(interp::global(id::plt), kRcParams);
    interp::setitem(rc_params, kUnicodeMinus, Py_False);
    py::object doc = interp::text(kDocstring);
    py::object function =
        interp::new_function(kFunClassCNNsSpec, kFunClassCNNs, doc, /*scope=*/nullptr);
    bind(module, kFunClassCNNs, function);
    py::object tests = interp::new_dict();
    bind(module, kDoctests, tests);
}

}  // namespace

}  // namespace duzer

PyMODINIT_FUNC PyInit_duZER(void) {
    return duzer::interp::module_definition(duzer::populate_namespace);
}
