"""One call from data to result: the three-way split and the loaders, the CNN
class of each call with its probe and forward pass, errors raised at their
points with the lines printed before them, gradient mode after a failing pass,
and the lifetime of what a call creates."""

import contextlib
import gc
import io
import sys
import traceback
import weakref
from types import SimpleNamespace

import numpy as np
import pytest
import torch
from sklearn.model_selection import train_test_split
from torch import nn
from torch.utils.data import DataLoader, TensorDataset

import duZER
import reference
from hostile import Stop

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

CPU = {"seed": 4, "deviceSel": "cpu"}
DEVICE_LINE = "当前设备为cpu"


class NnTripwire:
    """Stands in for the module's `nn`: the class definition right after the loaders ends the call."""

    def __getattr__(self, name):
        raise Stop(name)


def samples(n=60, shape=(1, 8, 8), classes=3, seed=0):
    rng = np.random.default_rng(seed)
    return rng.random((n, *shape)), np.arange(n) % classes


def arguments(X=None, y=None, divideR=(0.5, 0.25, 0.25), cLayer=([3, 3, 4, 1, 1],),
              poolingLayer=(["maxPooling2dLayer", 2, 2, 2, 0],), fcLayer=(8,), options=None, setting=None):
    if X is None:
        X, y = samples()
    options = {"MaxEpochs": 1, "MiniBatchSize": 8, **(options or {})}
    return (X, y, list(divideR), [list(row) for row in cLayer], [list(row) for row in poolingLayer],
            list(fcLayer), options, {**CPU, **(setting or {})})


def message_of(operation):
    """The interpreter's own message for the failing operation."""
    with pytest.raises(Exception) as excinfo:
        operation()
    return str(excinfo.value)


# ---------------------------------------------------------------- split and loaders

class Recorder:
    """Stands in for a module-level factory: delegates to it and keeps every call and result."""

    def __init__(self, factory):
        self.factory = factory
        self.calls = []
        self.results = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        self.results.append(self.factory(*args, **kwargs))
        return self.results[-1]


@pytest.fixture
def up_to_loaders(monkeypatch):
    """Runs a call up to its three loaders; returns the dataset and loader recorders."""
    datasets, loaders = Recorder(TensorDataset), Recorder(DataLoader)
    monkeypatch.setattr(duZER, "TensorDataset", datasets)
    monkeypatch.setattr(duZER, "DataLoader", loaders)
    monkeypatch.setattr(duZER, "nn", NnTripwire())

    def run(*args):
        with pytest.raises(Stop, match="Module"), contextlib.redirect_stdout(io.StringIO()):
            duZER.FunClassCNNs(*args)
        return datasets, loaders

    return run


@pytest.mark.parametrize("divideR, sizes", [
    ((0.7, 0.15, 0.15), (699, 150, 151)),
    ((0.8, 0.1, 0.1), (800, 100, 100)),
    ((0.8, 1, 3), (800, 50, 150)),
])
@pytest.mark.parametrize("seed", [1, 2])
def test_split_sizes_and_members(divideR, sizes, seed, up_to_loaders):
    # Each sample holds its own index, so the split can be read back from the data sets.
    index = np.arange(1000)
    X = np.broadcast_to(index.reshape(-1, 1, 1, 1), (1000, 1, 2, 2)).astype(np.float64)
    datasets, _ = up_to_loaders(*arguments(X, index % 7, divideR, setting={"minmax": False, "seed": seed}))
    assert tuple(len(d) for d in datasets.results) == sizes

    train_ratio, val_ratio, test_ratio = divideR
    train, rest = train_test_split(index, test_size=1 - train_ratio, random_state=42)
    val, test = train_test_split(rest, test_size=test_ratio / (val_ratio + test_ratio), random_state=42)
    for dataset, members in zip(datasets.results, (train, val, test)):
        data, labels = dataset.tensors
        assert data.dtype == torch.float32 and labels.dtype == torch.int64
        assert data[:, 0, 0, 0].long().tolist() == members.tolist()
        assert labels.tolist() == (members % 7).tolist()


class BatchSizes(dict):
    """Options whose "MiniBatchSize" reads yield the given values one after another."""

    def __init__(self, sizes, **items):
        super().__init__(items)
        self.sizes = iter(sizes)
        self.reads = []

    def get(self, key, default=None):
        self.reads.append(key)
        return next(self.sizes) if key == "MiniBatchSize" else super().get(key, default)


def test_each_loader_reads_the_batch_size_afresh(up_to_loaders):
    options = BatchSizes([64, 50, 40])
    args = arguments(*samples(1000, (1, 2, 2)), (0.7, 0.15, 0.15))
    _, loaders = up_to_loaders(*args[:6], options, args[7])
    assert options.reads == ["MiniBatchSize"] * 3
    assert [kwargs for _, kwargs in loaders.calls] == [
        {"batch_size": 64, "shuffle": True}, {"batch_size": 50}, {"batch_size": 40}]
    assert [len(args) for args, _ in loaders.calls] == [1, 1, 1]
    assert [[len(labels) for _, labels in loader] for loader in loaders.results] == [
        [64] * 10 + [59], [50] * 3, [40] * 3 + [31]]


@pytest.mark.parametrize("batch_size, batches", [
    (128, ([128] * 5 + [59], [128, 22], [128, 23])),
    (1000, ([699], [150], [151])),
])
def test_loader_batches(batch_size, batches, up_to_loaders):
    options = {"MiniBatchSize": batch_size}
    _, loaders = up_to_loaders(*arguments(*samples(1000, (1, 2, 2)), (0.7, 0.15, 0.15), options=options))
    train, val, test = loaders.results
    assert tuple([len(labels) for _, labels in loader] for loader in loaders.results) == batches
    # Validation and test batches come in set order, training batches reshuffled on each pass.
    for loader in (val, test):
        assert torch.equal(torch.cat([labels for _, labels in loader]), loader.dataset.tensors[1])
    first_pass, second_pass = ([data[:, 0, 0, 0] for data, _ in train] for _ in range(2))
    assert not torch.equal(torch.cat(first_pass), torch.cat(second_pass))


# ---------------------------------------------------------------- the CNN class

def quiet_call(*args):
    with contextlib.redirect_stdout(io.StringIO()):
        return duZER.FunClassCNNs(*args)


@pytest.fixture(scope="module")
def two_models():
    return [quiet_call(*arguments(setting={"seed": seed}))[3] for seed in (1, 2)]


METHODS = ["__init__", "get_conv_output_size", "forward"]


def test_each_call_defines_its_own_class(two_models):
    first, second = (type(model) for model in two_models)
    assert first is not second
    for cls in (first, second):
        assert (cls.__name__, cls.__qualname__, cls.__module__) == ("CNN", "FunClassCNNs.<locals>.CNN", "duZER")
        assert cls.__bases__ == (nn.Module,)
        assert type(cls) is type(nn.Module)
        assert cls.__doc__ is None
        assert [name for name, value in vars(cls).items() if callable(value)] == METHODS
        assert [vars(cls)[name].__qualname__ for name in METHODS] == [
            f"FunClassCNNs.<locals>.CNN.{name}" for name in METHODS]
        assert vars(cls)["__init__"].__doc__ is None
        indent = "\n" + " " * 12
        assert cls.get_conv_output_size.__doc__ == indent + "计算卷积层输出的特征图大小" + indent
        assert cls.forward.__doc__ == indent + "前向传播" + indent


def test_returned_model_state(two_models):
    for model in two_models:
        assert isinstance(model.pool_layers, nn.ModuleList) and len(model.pool_layers) == 0
        assert [name for name, _ in model.named_children()] == ["conv_layers", "pool_layers", "fc_layers"]
        assert not any(module.training for module in model.modules())


@pytest.mark.parametrize("batch", [1, 8])
def test_forward_gives_one_score_row_per_sample(batch, two_models):
    model = two_models[0]
    x = torch.rand(batch, 1, 8, 8)
    with torch.no_grad():
        scores = model(x)
        assert scores.shape == (batch, 3)
        assert torch.equal(scores, model.forward(x=x))


@pytest.mark.parametrize("shape, cLayer, pool_type, features", [
    ((1, 28, 28), [[3, 3, 16, 1, 1]], "maxPooling2dLayer", 16 * 14 * 14),
    ((1, 28, 28), [[3, 3, 16, 1, 1]], "averagePooling2dLayer", 16 * 14 * 14),
    ((1, 28, 28), [[3, 3, 16, 1, 1]], "none", 16 * 28 * 28),
    ((2, 6, 6), [], "none", 2 * 6 * 6),
])
def test_probe_sizes_the_first_linear_layer(shape, cLayer, pool_type, features):
    args = arguments(*samples(40, shape), cLayer=cLayer, poolingLayer=[[pool_type, 2, 2, 2, 0]],
                     fcLayer=[], options={"MaxEpochs": 0})
    model = quiet_call(*args)[3]
    assert model.fc_layers[0].in_features == features
    for _ in range(2):
        probed = model.get_conv_output_size()
        assert probed == features
        assert isinstance(probed, np.integer) and not isinstance(probed, int)


# ---------------------------------------------------------------- errors at their points

class EmptyingValidation:
    """Wraps the splitter: the second split hands back an empty validation part."""

    def __init__(self):
        self.calls = 0

    def __call__(self, *args, **kwargs):
        self.calls += 1
        parts = train_test_split(*args, **kwargs)
        if self.calls == 2:
            val_data, test_data, val_labels, test_labels = parts
            return val_data[:0], test_data, val_labels[:0], test_labels
        return parts


def after_model_print(lines):
    return lines[0] == DEVICE_LINE and lines[1] == "模型结构:" and lines[2] == "CNN("


ERRORS = [
    # (overrides, error type, message, check of the printed lines)
    pytest.param(dict(divideR=(0.6, 0.4)), ValueError, "need more than 2 values to unpack",
                 lambda lines: lines == [DEVICE_LINE], id="two-ratios"),
    pytest.param(dict(divideR=(0.6, 0.2, 0.1, 0.1)), ValueError, "too many values to unpack (expected 3)",
                 lambda lines: lines == [DEVICE_LINE], id="four-ratios"),
    pytest.param(dict(divideR=(0.6, 0, 0)), ZeroDivisionError, message_of(lambda: 0 / (0 + 0)),
                 lambda lines: lines == [DEVICE_LINE], id="no-validation-or-test-share"),
    pytest.param(dict(cLayer=([3, 3, 4, 1, 1], [3, 3, 4, 1, 1]), poolingLayer=(["none", 2, 2, 2, 0],)),
                 IndexError, "list index out of range", lambda lines: lines == [DEVICE_LINE],
                 id="short-poolingLayer"),
    pytest.param(dict(options={"MaxEpochs": 2, "ValidationFrequency": 0}), ZeroDivisionError,
                 message_of(lambda: 1 % 0),
                 lambda lines: after_model_print(lines) and lines[-2].startswith("Initial Validation, Val Loss: ")
                 and lines[-1].startswith("Epoch [1/2], Train Loss: "),
                 id="validation-frequency-0"),
    pytest.param(dict(options={"MaxEpochs": 2.0}), TypeError, message_of(lambda: range(2.0)),
                 lambda lines: after_model_print(lines) and lines[-1].startswith("Initial Validation, Val Loss: "),
                 id="float-epochs"),
]


@pytest.mark.parametrize("overrides, error, message, printed", ERRORS)
def test_errors_end_the_call_at_their_point(overrides, error, message, printed, capsys):
    with pytest.raises(error) as excinfo:
        duZER.FunClassCNNs(*arguments(**overrides))
    assert type(excinfo.value) is error
    assert str(excinfo.value) == message
    assert printed(capsys.readouterr().out.splitlines())


def test_empty_validation_set_fails_before_any_epoch(monkeypatch, capsys):
    monkeypatch.setattr(duZER, "train_test_split", EmptyingValidation())
    with pytest.raises(ZeroDivisionError) as excinfo:
        duZER.FunClassCNNs(*arguments())
    assert str(excinfo.value) == message_of(lambda: 0.0 / 0)
    lines = capsys.readouterr().out.splitlines()
    assert after_model_print(lines) and lines[-1] == ")"


# ---------------------------------------------------------------- gradient mode and lifetime

class FailingLoader:
    """Yields nothing: its first batch raises, after noting whether gradients were on."""

    def __init__(self, loader, error):
        self.loader, self.error = loader, error
        self.grad_enabled = None

    def __iter__(self):
        for _ in self.loader:
            self.grad_enabled = torch.is_grad_enabled()
            raise self.error
        yield from ()


class FailingAt:
    """Stands in for `DataLoader`: the loader made in position `index` fails when read."""

    def __init__(self, index):
        self.index, self.made = index, []
        self.error = RuntimeError("batch unavailable")

    def __call__(self, *args, **kwargs):
        loader = DataLoader(*args, **kwargs)
        self.made.append(FailingLoader(loader, self.error) if len(self.made) == self.index else loader)
        return self.made[-1]


@pytest.mark.parametrize("index, last_line", [(1, ")"), (2, "Initial Validation, Val Loss: ")],
                         ids=["validation", "test"])
def test_failing_pass_restores_gradient_mode(index, last_line, monkeypatch, capsys):
    loaders = FailingAt(index)
    monkeypatch.setattr(duZER, "DataLoader", loaders)
    with pytest.raises(RuntimeError) as excinfo:
        duZER.FunClassCNNs(*arguments(options={"MaxEpochs": 0}))
    assert excinfo.value is loaders.error
    assert loaders.made[index].grad_enabled is False
    assert torch.is_grad_enabled()
    assert capsys.readouterr().out.splitlines()[-1].startswith(last_line)


def test_dropping_the_model_frees_class_scope_and_parameters(monkeypatch):
    splitter = Recorder(train_test_split)
    monkeypatch.setattr(duZER, "train_test_split", splitter)
    model = quiet_call(*arguments())[3]
    # The scope's sample tensor went into the first split; the recorder lets it go.
    refs = [weakref.ref(model), weakref.ref(type(model)), weakref.ref(next(model.parameters())),
            weakref.ref(splitter.calls[0][0][0])]
    splitter.calls.clear()
    splitter.results.clear()
    gc.collect()
    assert all(ref() is not None for ref in refs)
    del model
    gc.collect()
    assert [ref() for ref in refs] == [None] * 4


class ReraisingNoGrad:
    """A no-gradient block whose __exit__ notes the exception being handled and
    lets a bare `raise` re-raise it, as code inside an except clause may."""

    def __init__(self, seen):
        self.seen, self.inner = seen, torch.no_grad()

    def __enter__(self):
        return self.inner.__enter__()

    def __exit__(self, *exc):
        self.inner.__exit__(*exc)
        self.seen.append((exc, sys.exc_info()))
        if exc[0] is not None:
            raise


def test_context_exit_runs_with_the_exception_being_handled(monkeypatch, capsys):
    seen = []
    loaders = FailingAt(1)
    monkeypatch.setattr(duZER, "DataLoader", loaders)
    monkeypatch.setattr(duZER, "torch", SimpleNamespace(**{**vars(torch), "no_grad": lambda: ReraisingNoGrad(seen)}))
    with pytest.raises(RuntimeError) as excinfo:
        duZER.FunClassCNNs(*arguments(options={"MaxEpochs": 0}))
    error = excinfo.value
    assert error is loaders.error and error.__context__ is None
    (exc, handled), = seen
    assert exc[1] is error and handled[1] is error and handled[2] is exc[2] is not None


def test_unbound_class_variable_error_matches_the_interpreter(monkeypatch, capsys):
    class EagerMeta(type):
        """Calls the new class's __init__ while the class statement still runs, before `CNN` is bound."""

        def __new__(mcls, name, bases, namespace):
            if name == "CNN":
                namespace["__init__"](None, [], [], [], 1)
            return super().__new__(mcls, name, bases, namespace)

    fake_nn = SimpleNamespace(Module=EagerMeta("Module", (), {}))
    messages = []
    for implementation in (duZER, reference):
        monkeypatch.setattr(implementation, "nn", fake_nn)
        with pytest.raises(NameError) as excinfo:
            implementation.FunClassCNNs(*arguments())
        messages.append(str(excinfo.value))
    assert messages[0] == messages[1] == ("cannot access free variable 'CNN' where it is not associated with a "
                                          "value in enclosing scope")


def _failing_metric(*args, **kwargs):
    raise Stop("metric")


STAGE_FAILURES = [  # (stage, line, argument overrides, module-level names to replace)
    ("seeding", 1, {"setting": {"seed": "x"}}, {}),
    ("scaling", 2, {"X": np.array([[["a"]]] * 8)}, {}),
    ("device choice", 3, {}, {"torch": SimpleNamespace(manual_seed=torch.manual_seed)}),
    ("data preparation", 4, {"divideR": (0.5, 0, 0)}, {}),
    ("network class", 5, {}, {"nn": SimpleNamespace()}),
    ("training set-up", 6, {"cLayer": ([3, 3, "four", 1, 1],)}, {}),
    ("training loop", 7, {"options": {"MaxEpochs": "x"}}, {}),
    ("test evaluation", 8, {}, {"precision_score": _failing_metric}),
    ("figures", 9, {"options": {"ValidationFrequency": 0.5}, "setting": {"figflag": "on"}}, {}),
]


@pytest.mark.filterwarnings("ignore:Glyph .* missing:UserWarning")
@pytest.mark.parametrize("stage, line, overrides, replaced", STAGE_FAILURES, ids=[s[0] for s in STAGE_FAILURES])
def test_traceback_names_the_failing_stage(stage, line, overrides, replaced, monkeypatch, capsys):
    import matplotlib.pyplot as plt

    outcomes = []
    for implementation in (duZER, reference):
        for name, value in replaced.items():
            monkeypatch.setattr(implementation, name, value)
        try:
            with pytest.raises(Exception) as excinfo:
                implementation.FunClassCNNs(*arguments(**overrides))
        finally:
            plt.close("all")
        error = excinfo.value
        outcomes.append((type(error), str(error), type(error.__cause__), type(error.__context__),
                         traceback.extract_tb(excinfo.tb)))
    (*native, native_tb), (*plain, _) = outcomes
    assert native == plain
    entries = [(entry.filename, entry.lineno, entry.name) for entry in native_tb]
    # The caller's line, then the stage, then whatever raised inside it.
    assert entries[1] == (f"<duZER: {stage}>", line, "FunClassCNNs")
    assert [entry for entry in entries if entry[0].startswith("<duZER")] == [entries[1]]
