"""The network class each call defines: its methods and documentation, the
layers built from the tables, the probe that sizes the first linear layer, the
forward pass, and the lifetime of what a call leaves behind."""

import contextlib
import gc
import io
import weakref
from types import SimpleNamespace

import numpy as np
import pytest
import torch
from sklearn.model_selection import train_test_split
from torch import nn

import duZER
import reference
from toolbox import (
    CPU_LINE,
    Recorder,
    call_scope,
    failure_and_lines,
    own_objects,
    own_types,
    samples,
    staged_call,
)

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")


def quiet_call(*args):
    with contextlib.redirect_stdout(io.StringIO()):
        return duZER.FunClassCNNs(*args)


@pytest.fixture(scope="module")
def two_models():
    return [quiet_call(*staged_call(seed=seed))[3] for seed in (1, 2)]


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
    args = staged_call(*samples(40, shape), cLayer=cLayer, poolingLayer=[[pool_type, 2, 2, 2, 0]], fcLayer=[],
                       MaxEpochs=0)
    model = quiet_call(*args)[3]
    assert model.fc_layers[0].in_features == features
    for _ in range(2):
        probed = model.get_conv_output_size()
        assert probed == features
        assert isinstance(probed, np.integer) and not isinstance(probed, int)


def test_short_pooling_table_ends_the_call_after_the_device_line(capsys):
    args = staged_call(cLayer=[[3, 3, 4, 1, 1], [3, 3, 4, 1, 1]], poolingLayer=[["none", 2, 2, 2, 0]])
    assert failure_and_lines(args, IndexError, capsys) == ("list index out of range", [CPU_LINE])


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
            implementation.FunClassCNNs(*staged_call())
        messages.append(str(excinfo.value))
    assert messages[0] == messages[1] == ("cannot access free variable 'CNN' where it is not associated with a "
                                          "value in enclosing scope")


# ---------------------------------------------------------------- lifetime

def watch(results, split_samples):
    """Weak references to each model, its class, a parameter and the sample tensor its call's scope
    holds: the one that went into the call's first split, of the scaled samples."""
    refs = []
    for (*_, model, _), given in zip(results, split_samples):
        (held,) = [obj for obj in gc.get_referents(call_scope(model)) if isinstance(obj, torch.Tensor)]
        assert held is given
        assert tuple(held.shape) == (60, 1, 8, 8) and held.dtype == torch.float32
        refs += [weakref.ref(model), weakref.ref(type(model)), weakref.ref(next(model.parameters())),
                 weakref.ref(held)]
    return refs


def test_dropping_the_models_frees_what_their_calls_made(monkeypatch):
    types = own_types()
    before = own_objects(types)
    splitter = Recorder(train_test_split)
    monkeypatch.setattr(duZER, "train_test_split", splitter)
    results = [quiet_call(*staged_call(seed=seed)) for seed in (1, 2, 3)]
    # Each kept model holds its class, the class its three methods and the call's scope.
    during = own_objects(types)
    assert {kind: during[kind] - before[kind] for kind in during} == {"function": 9, "call_scope": 3, "CNN": 3}
    refs = watch(results, splitter.first_args[::2])  # two splits per call
    splitter.clear()
    gc.collect()
    assert all(ref() is not None for ref in refs)

    # The other four results hold nothing of the call.
    kept = [(accuracy, recall, precision, info) for accuracy, recall, precision, _, info in results]
    del results
    assert own_objects(types) == before
    assert [ref() for ref in refs] == [None] * len(refs)
    assert all(len(info["val_losses"]) == 1 and 0.0 <= accuracy <= 1.0 for accuracy, _, _, info in kept)
