"""The public function: its attributes and documentation, argument binding and
its errors, and how options and settings are read during a call."""

import copy
import ctypes
import inspect
import pickle

import numpy as np
import pytest
import torch

import duZER
from toolbox import PARAMS, Standin, Stop, count_error, small_call, stop, stop_at

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

# (indent, text) per line of the documentation string.
DOC_LINES = [
    (0, ""),
    (4, "使用CNN进行模式识别(分类)的快速实现函数,程序会优先使用GPU进行加速,如果没有GPU则使用CPU"),
    (4, ""),
    (4, "参数:"),
    (4, "- dataX: 输入数据,形状为(num_samples, num_channels, height, width)的numpy数组"),
    (4, "- dataY: 标签值,形状为(num_samples,)的numpy数组,可以是向量型或索引型"),
    (4, "- divideR: 数据集划分比例,形如[train_ratio, val_ratio, test_ratio]的列表"),
    (4, "- cLayer: 卷积层结构,形状为(num_conv_layers, 5)的numpy数组,每一行代表一个卷积层的参数[filter_height, "
        "filter_width, num_filters, stride, padding]"),
    (4, "- poolingLayer: 池化层结构,形状为(num_conv_layers, 5)的列表,每一行代表一个池化层的参数['pool_type', "
        "pool_height, pool_width, stride, padding],其中pool_type可以是'maxPooling2dLayer'或'averagePooling2dLayer'"
        "或'none'"),
    (4, "- fcLayer: 全连接层结构,形状为(num_fc_layers,)的列表,每一个元素代表一个全连接层的输出维度,如果为空列表则只有一个"
        "输出维度等于类别数的全连接层"),
    (4, "- options: 网络训练相关的选项,字典类型,包含以下键值对:"),
    (6, "- 'solverName': 优化器类型,可以是'sgdm'或'rmsprop'或'adam',默认为'adam'"),
    (6, "- 'MaxEpochs': 最大迭代次数,默认为30"),
    (6, "- 'MiniBatchSize': 批量大小,默认为128"),
    (6, "- 'InitialLearnRate': 初始学习率,默认为0.005"),
    (6, "- 'ValidationFrequency': 验证频率,即每多少次迭代进行一次验证,默认为50"),
    (6, "- 'LearnRateSchedule': 学习率调度方式,可以是'piecewise'或'none',默认为'none'"),
    (6, "- 'LearnRateDropPeriod': 学习率下降周期,默认为10"),
    (6, "- 'LearnRateDropFactor': 学习率下降因子,默认为0.95"),
    (4, "- setting: 其他选项,字典类型,包含以下键值对:"),
    (6, "- figflag: 是否绘制图像,'on'为绘制,'off'为不绘制"),
    (6, "- deviceSel: 训练设备选择,可以是'cpu'或'gpu',默认为'gpu',当设置为'gpu'时,如果gpu硬件不可用,则会自动切换到cpu"),
    (6, "- seed: 随机种子,整数,设置为0时不启用,设置为其他整数时启用,不同的整数为不同的种子值,变换种子值会影响结果,"
        "相同种子的计算结果是一致的,缺省时为不设置随机种子"),
    (6, "- minmax: 是否进行归一化,布尔值,默认为True"),
    (6, ""),
    (4, "返回值:"),
    (4, "- accuracy: 测试集上的准确率"),
    (4, "- recall: 测试集上的召回率"),
    (4, "- precision: 测试集上的精确率"),
    (4, "- model: 训练好的PyTorch模型"),
    (4, "- info: 包含训练过程中的损失和准确率信息的字典"),
    (4, ""),
]


# --- the function object ------------------------------------------------------------------------------------------


def test_function_attributes():
    f = duZER.FunClassCNNs
    assert (f.__name__, f.__qualname__, f.__module__) == ("FunClassCNNs", "FunClassCNNs", "duZER")
    assert f.__globals__ is vars(duZER)
    assert f.__closure__ is None
    assert repr(f).startswith("<function FunClassCNNs at 0x")
    assert f.__dict__ == {}
    f.note = "kept"
    try:
        assert vars(f) == {"note": "kept"} and f.note == "kept"
    finally:
        del f.note
    assert f.__dict__ == {}


def test_module_and_doc_belong_to_each_function():
    f = duZER.FunClassCNNs
    assert type(f).__module__ == "duZER"
    original_doc = f.__doc__
    try:
        f.__module__, f.__doc__ = "elsewhere", "other text"
        assert (f.__module__, f.__doc__) == ("elsewhere", "other text")
        assert f.__dict__ == {} and type(f).__module__ == "duZER"
        del f.__module__, f.__doc__
        assert f.__module__ is None and f.__doc__ is None
    finally:
        f.__module__, f.__doc__ = "duZER", original_doc
    assert inspect.getdoc(f).startswith("使用CNN")


def test_pickled_and_copied_by_reference():
    f = duZER.FunClassCNNs
    assert pickle.loads(pickle.dumps(f)) is f
    assert copy.copy(f) is f and copy.deepcopy(f) is f


@pytest.mark.parametrize("attribute", ["__name__", "__qualname__"])
def test_name_attributes_take_only_strings(attribute):
    f = duZER.FunClassCNNs
    original = getattr(f, attribute)
    setattr(f, attribute, "Other.name")
    try:
        assert getattr(f, attribute) == "Other.name"
        if attribute == "__qualname__":
            assert repr(f).startswith("<function Other.name at 0x")
        for value in (5, None, b"FunClassCNNs"):
            with pytest.raises(TypeError) as refused:
                setattr(f, attribute, value)
            assert str(refused.value) == f"{attribute} must be set to a string object"
        with pytest.raises(TypeError) as refused:
            delattr(f, attribute)
        assert str(refused.value) == f"{attribute} must be set to a string object"
        assert getattr(f, attribute) == "Other.name"
    finally:
        setattr(f, attribute, original)


def test_signature_and_help_show_the_parameters(capsys):
    parameters = inspect.signature(duZER.FunClassCNNs).parameters
    assert list(parameters) == PARAMS
    assert {p.kind for p in parameters.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    assert all(p.default is inspect.Parameter.empty for p in parameters.values())
    help(duZER.FunClassCNNs)
    shown = capsys.readouterr().out
    # pydoc from 3.13 on puts a long signature one parameter per line.
    assert f"FunClassCNNs({','.join(PARAMS)})" in "".join(shown.split())
    assert DOC_LINES[1][1] in shown


def test_documentation_string():
    expected = "\n".join(" " * indent + text for indent, text in DOC_LINES)
    assert len(DOC_LINES) == 32
    assert duZER.FunClassCNNs.__doc__ == expected


def test_binding_as_a_descriptor(monkeypatch):
    f = duZER.FunClassCNNs

    class Holder:
        method = f

    holder = Holder()
    assert f.__get__(None, Holder) is f
    assert Holder.method is f
    bound = holder.method
    assert bound.__self__ is holder and bound.__func__ is f
    assert f.__get__(holder, Holder) == bound
    # The instance becomes dataX: the first thing scaling touches (`np.min` ends the call with it).
    monkeypatch.setattr(duZER, "np", Standin(np, min=stop))
    with pytest.raises(Stop) as stopped:
        bound(*small_call()[1:7], {"deviceSel": "cpu"})
    assert stopped.value.args[0] is holder


# --- argument binding ----------------------------------------------------------------------------------------------

A = [f"<{name}>" for name in PARAMS]
S = stop_at("__contains__")  # a setting that ends the call at its first use, the seed test
JUNK = {f"k{i}": i for i in range(40)}


def keywords(*names):
    return {name: S if name == "setting" else A[PARAMS.index(name)] for name in names}


ARGUMENT_ERRORS = {
    "no arguments": ((), {}, count_error(0)),
    "seven positional": (A[:7], {}, count_error(7)),
    "nine positional": (A + ["extra"], {}, count_error(9)),
    "nine positional and a keyword": (A + ["extra"], keywords("setting"), count_error(9)),
    "options missing": (A[:6], keywords("setting"), count_error(6)),
    "poolingLayer missing": (A[:3], keywords("cLayer", "fcLayer", "options", "setting"), count_error(4)),
    "dataX missing": ((), keywords(*PARAMS[1:]), count_error(0)),
    "missing before unexpected": (A[:7], {"extra": 1}, count_error(7)),
    "unexpected keyword": (A[:7] + [S], {"extra": 1}, "FunClassCNNs() got an unexpected keyword argument 'extra'"),
    "keyword in other case": (A[:7], {"setting": S, "Setting": S},
                              "FunClassCNNs() got an unexpected keyword argument 'Setting'"),
    "setting twice": (A[:7] + [S], keywords("setting"),
                      "FunClassCNNs() got multiple values for keyword argument 'setting'"),
    "options twice": (A[:7], keywords("setting", "options"),
                      "FunClassCNNs() got multiple values for keyword argument 'options'"),
    "many unexpected keywords": (A[:7] + [S], JUNK, "FunClassCNNs() got an unexpected keyword argument 'k0'"),
    "many keywords, one a parameter": (A[:7], {**JUNK, "setting": S},
                                       "FunClassCNNs() got an unexpected keyword argument 'k0'"),
    "many keywords, all parameters": ((), {**JUNK, **keywords(*PARAMS)},
                                      "FunClassCNNs() got an unexpected keyword argument 'k0'"),
}


@pytest.mark.parametrize("case", ARGUMENT_ERRORS)
def test_argument_errors(case):
    args, kwargs, message = ARGUMENT_ERRORS[case]
    with pytest.raises(TypeError) as refused:
        duZER.FunClassCNNs(*args, **kwargs)
    assert str(refused.value) == message


class Key(str):
    """A keyword name of a str subclass."""


BINDINGS = {
    "all positional": (A[:7] + [S], {}),
    "all keywords in signature order": ((), keywords(*PARAMS)),
    "all keywords reversed": ((), keywords(*reversed(PARAMS))),
    "positional then shuffled keywords": (A[:3], keywords("setting", "fcLayer", "cLayer", "options",
                                                          "poolingLayer")),
    "keyword of a str subclass": (A[:7], {Key("setting"): S}),
}


@pytest.mark.parametrize("case", BINDINGS)
def test_arguments_bind_by_position_and_name(case):
    args, kwargs = BINDINGS[case]
    with pytest.raises(Stop) as stopped:
        duZER.FunClassCNNs(*args, **kwargs)
    assert stopped.value.args == (S, "seed")


def test_keyword_calls_train_like_positional_calls(capsys):
    args = small_call(seed=11)
    runs = [duZER.FunClassCNNs(*args),
            duZER.FunClassCNNs(**dict(zip(reversed(PARAMS), reversed(args)))),
            duZER.FunClassCNNs(*args[:2], **dict(zip(PARAMS[2:], args[2:])))]
    first = runs[0]
    for run in runs[1:]:
        assert run[:3] == first[:3]
        assert run[4] == first[4]
        weights, reference = run[3].state_dict(), first[3].state_dict()
        assert all(torch.equal(weights[name], reference[name]) for name in reference)
    capsys.readouterr()


def vectorcall(function, args, kwnames):
    call = ctypes.pythonapi.PyObject_Vectorcall
    call.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t, ctypes.py_object]
    call.restype = ctypes.py_object
    stack = (ctypes.py_object * len(args))(*args)
    return call(function, stack, len(args) - len(kwnames), kwnames)


@pytest.mark.parametrize("args, kwnames, message", [
    (A[:7] + [S, 1], (1,), "FunClassCNNs() keywords must be strings"),
    (A[:7] + [S, 1], (b"setting",), "FunClassCNNs() keywords must be strings"),
    (A[:7] + [S, 1, 2], (1, "extra"), "FunClassCNNs() keywords must be strings"),
    (A[:7] + [S, 1, 2], ("extra", 1), "FunClassCNNs() got an unexpected keyword argument 'extra'"),
    (A[:7] + [S, 1], ("setting", 1), "FunClassCNNs() keywords must be strings"),
], ids=["int", "bytes", "before unexpected", "after unexpected", "after a parameter"])
def test_non_string_keywords_from_a_native_caller(args, kwnames, message):
    with pytest.raises(TypeError) as refused:
        vectorcall(duZER.FunClassCNNs, args, kwnames)
    assert str(refused.value) == message


# --- options and settings --------------------------------------------------------------------------------------------


class Recording(dict):
    """A dictionary that logs every read and refuses every change."""

    def __init__(self, label, log, items):
        super().__init__(items)
        self.label, self.log = label, log

    def get(self, key, *default):
        self.log.append((self.label, "get", key, *default))
        return super().get(key, *default)

    def __contains__(self, key):
        self.log.append((self.label, "in", key))
        return super().__contains__(key)

    def __getitem__(self, key):
        self.log.append((self.label, "[]", key))
        return super().__getitem__(key)

    def _refuse(self, *args, **kwargs):
        raise AssertionError(f"{self.label} modified")

    __setitem__ = __delitem__ = __ior__ = pop = popitem = setdefault = update = clear = _refuse


OPTION_READS = [
    ("options", "get", "MiniBatchSize", 128),
    ("options", "get", "MiniBatchSize", 128),
    ("options", "get", "MiniBatchSize", 128),
    ("options", "get", "InitialLearnRate", 0.005),
    ("options", "get", "MaxEpochs", 30),
    ("options", "get", "ValidationFrequency", 50),
    ("options", "get", "LearnRateDropPeriod", 10),
    ("options", "get", "LearnRateDropFactor", 0.95),
]
SEED_READS = [("setting", "in", "seed"), ("setting", "[]", "seed"), ("setting", "[]", "seed"),
              ("setting", "[]", "seed")]
DEVICE_READS = [("setting", "get", "minmax", True), ("setting", "get", "deviceSel", "gpu"),
                ("setting", "get", "deviceSel")]


@pytest.mark.parametrize("setting, reads", [
    ({"seed": 3, "minmax": True, "deviceSel": "cpu", "figflag": "off"}, SEED_READS + DEVICE_READS),
    ({"deviceSel": "cpu"}, SEED_READS[:1] + DEVICE_READS),
    ({"deviceSel": "cpu", "seed": 0}, SEED_READS[:2] + DEVICE_READS),
], ids=["seeded", "no seed", "seed zero"])
def test_options_and_settings_are_read_in_order_and_never_changed(setting, reads, capsys):
    log = []
    options_items = {"MaxEpochs": 1, "ValidationFrequency": 1, "solverName": "sgdm", "LearnRateSchedule": "none"}
    options = Recording("options", log, options_items)
    settings = Recording("setting", log, setting)
    duZER.FunClassCNNs(*small_call()[:6], options, settings)
    expected = reads + OPTION_READS + [("setting", "get", "figflag", "off")]
    assert log == expected
    assert [repr(read) for read in log] == [repr(read) for read in expected]  # 30, not 30.0
    assert dict(options) == options_items and dict(settings) == setting
    capsys.readouterr()
