"""What the tests share: the small valid call, sample makers, the stand-ins that
stop or spy on a call, arguments that fail on purpose, and common constants.

Nothing here imports the module at load time, so the distribution tests can
use the constants without a build on the path.
"""

import copy
import gc
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parent.parent
TESTS = Path(__file__).resolve().parent

PARAMS = ["dataX", "dataY", "divideR", "cLayer", "poolingLayer", "fcLayer", "options", "setting"]
OPTION_KEYS = ["MaxEpochs", "MiniBatchSize", "InitialLearnRate", "ValidationFrequency",
               "LearnRateDropPeriod", "LearnRateDropFactor", "solverName", "LearnRateSchedule"]
SETTING_KEYS = ["seed", "minmax", "deviceSel", "figflag"]
# The packages and names the module binds, in binding order.
PACKAGE_NAMES = ["np", "torch", "nn", "optim", "DataLoader", "TensorDataset", "train_test_split", "accuracy_score",
                 "recall_score", "precision_score", "confusion_matrix", "plt", "sns"]
HISTORY_KEYS = ["train_losses", "train_accuracies", "val_losses", "val_accuracies"]

CPU_LINE = "当前设备为cpu"


def count_error(given):
    return f"FunClassCNNs() takes exactly 8 positional arguments ({given} given)"


def unpack_error(found, expected=3):
    if found > expected:
        return ValueError, f"too many values to unpack (expected {expected})"
    return ValueError, f"need more than {found} value{'' if found == 1 else 's'} to unpack"


# --- samples and the small valid call ------------------------------------------------------------------------------


def samples(n=60, shape=(1, 8, 8), labels=3, seed=0):
    """`n` random samples of `shape` and their labels: 0..labels-1 (or the given labels) in turn."""
    rng = np.random.default_rng(seed)
    pool = np.arange(labels) if isinstance(labels, int) else np.asarray(labels)
    return rng.random((n, *shape)), pool[np.arange(n) % len(pool)]


def separable_samples(labels=(0, 1, 2), n=90, seed=7):
    """Labels drawn at random from `labels`; the samples' brightness tells the classes apart."""
    rng = np.random.default_rng(seed)
    dataY = rng.choice(np.asarray(labels, dtype=np.int64), n)
    dataX = rng.random((n, 1, 8, 8))
    dataX[:, 0] += dataY[:, None, None] * 0.5
    return dataX, dataY


DEFAULT_TABLES = {
    "divideR": [0.6, 0.2, 0.2],
    "cLayer": [[3, 3, 2, 1, 1]],
    "poolingLayer": [["maxPooling2dLayer", 2, 2, 2, 0]],
    "fcLayer": [4],
}
DEFAULT_OPTIONS = {"MaxEpochs": 1, "MiniBatchSize": 16}
DEFAULT_SETTING = {"deviceSel": "cpu"}


def small_call(dataX=None, dataY=None, **overrides):
    """The eight arguments of a tiny valid call on the CPU, as a list.

    A keyword named after a parameter replaces that argument (`options` and
    `setting` included); one named after an option or a setting sets that key
    on top of the defaults. Without samples, 60 of 1 x 8 x 8; without labels,
    three classes in turn.
    """
    if dataX is None:
        dataX, labels = samples()
    else:
        labels = np.arange(len(dataX)) % 3
    dataY = labels if dataY is None else dataY
    options = {**DEFAULT_OPTIONS, **{k: overrides.pop(k) for k in OPTION_KEYS if k in overrides}}
    setting = {**DEFAULT_SETTING, **{k: overrides.pop(k) for k in SETTING_KEYS if k in overrides}}
    unknown = set(overrides) - set(PARAMS)
    if unknown:
        raise TypeError(f"small_call() got unknown overrides {sorted(unknown)}")
    values = {"dataX": dataX, "dataY": dataY, **DEFAULT_TABLES, "options": options, "setting": setting, **overrides}
    return [_copy(values[name]) if name in DEFAULT_TABLES else values[name] for name in PARAMS]


def call_maker(**defaults):
    """A small_call with other defaults; overrides still win."""

    def make(*data, **overrides):
        given = dict(zip(["dataX", "dataY"], data))
        if "dataX" in given and "dataY" not in given:
            given["dataY"] = None  # labels for these samples, not the default samples' labels
        return small_call(**{**defaults, **given, **overrides})

    return make


# Half the samples for training, batches of 8, a fixed seed: the call the data,
# network, training and evaluation tests stop, spy on and break.
staged_call = call_maker(divideR=[0.5, 0.25, 0.25], cLayer=[[3, 3, 4, 1, 1]], fcLayer=[8], MiniBatchSize=8,
                         seed=4)


def _copy(table):
    """A fresh copy of a plain table (list of lists), so that no two calls share one; anything else as given."""
    if type(table) is not list:
        return table
    return [list(row) if type(row) is list else row for row in table]


# --- exceptions and stand-ins ----------------------------------------------------------------------------------------


class Stop(Exception):
    """Raised by stand-ins to end a call at a known point."""


class Boom(Exception):
    """Raised by the hostile hooks; must reach the caller unchanged."""


def stop(*args, **kwargs):
    """A callable stand-in that ends the call, carrying what it was given."""
    raise Stop(*args)


class Tripwire:
    """Any use of it (attribute, call) raises Stop naming what was used."""

    def __init__(self, label):
        self.label = label

    def __getattr__(self, name):
        raise Stop(f"{self.label}.{name}")

    def __call__(self, *args, **kwargs):
        raise Stop(self.label)


class Recorder:
    """Stands in for a callable (a module-level factory or function): keeps every
    call and result; with no callable to forward to it ends the call instead."""

    def __init__(self, factory=None):
        self.factory = factory
        self.calls = []
        self.results = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        if self.factory is None:
            raise Stop(*args)
        self.results.append(self.factory(*args, **kwargs))
        return self.results[-1]

    @property
    def first_args(self):
        """The first positional argument of each call (for the splitter: the sample tensor)."""
        return [args[0] for args, _ in self.calls]

    def clear(self):
        self.calls.clear()
        self.results.clear()


def stop_at(method, items=()):
    """A dict of `items` whose `method` ends the call with the dict and what it was given."""

    def hook(self, *args):
        raise Stop(self, *args)

    return type(f"StopAt_{method.strip('_')}", (dict,), {method: hook})(items)


class Standin:
    """Stands in for a package object: what is given by keyword replaces that
    attribute, everything else is the package's own."""

    def __init__(self, target, **replaced):
        object.__setattr__(self, "_target", target)
        self.__dict__.update(replaced)

    def __getattr__(self, name):
        return getattr(self._target, name)


class PickyDict(dict):
    """A dict whose `get` raises Boom for one key."""

    def __init__(self, data, bad_key):
        super().__init__(data)
        self.bad_key = bad_key

    def get(self, key, *default):
        if key == self.bad_key:
            raise Boom(key)
        return super().get(key, *default)


def loader_yielding(item):
    """A DataLoader stand-in class: every loader it makes yields `item`, once."""

    class Loader:
        def __init__(self, *args, **kwargs):
            pass

        def __iter__(self):
            return iter([item])

    return Loader


def torch_with_max(result):
    """The module's `torch`, except that `torch.max(...)` returns `result`."""
    import torch

    return Standin(torch, max=lambda *args: result)


# --- the module against the plain procedure -------------------------------------------------------------------------

# Two epochs with a validation pass after each, seeded: the call both are compared on.
differential_call = call_maker(**dict(zip(["dataX", "dataY"], samples(120))), divideR=[0.7, 0.15, 0.15], cLayer=[[3, 3, 4, 1, 1]], fcLayer=[16],
                               MaxEpochs=2, ValidationFrequency=1, seed=5, figflag="off")


def run_captured(function, args, capsys):
    """Calls `function` on a fresh copy of `args`; returns what it printed and its result."""
    capsys.readouterr()
    result = function(*copy.deepcopy(args))
    return capsys.readouterr().out, result


def assert_same_run(native, plain):
    """Two `run_captured` outcomes printed the same text and returned the same values and weights."""
    import torch

    native_out, (n_acc, n_rec, n_prec, n_model, n_info) = native
    plain_out, (p_acc, p_rec, p_prec, p_model, p_info) = plain
    assert native_out == plain_out
    assert (n_acc, n_rec, n_prec) == (p_acc, p_rec, p_prec)
    assert [type(v) for v in (n_acc, n_rec, n_prec)] == [type(v) for v in (p_acc, p_rec, p_prec)]
    assert list(n_info) == list(p_info)
    for key in n_info:
        assert n_info[key] == p_info[key], key
        assert [type(v) for v in n_info[key]] == [type(v) for v in p_info[key]], key
    n_state, p_state = n_model.state_dict(), p_model.state_dict()
    assert list(n_state) == list(p_state)
    for key in n_state:
        assert torch.equal(n_state[key], p_state[key]), key
    assert n_model.training == p_model.training


# --- helpers for the checks ------------------------------------------------------------------------------------------


def failure_and_lines(args, error, capsys):
    """Calls with `args`, which must raise exactly `error`; returns its text and the printed lines."""
    import duZER

    with pytest.raises(error) as excinfo:
        duZER.FunClassCNNs(*args)
    assert type(excinfo.value) is error
    return str(excinfo.value), capsys.readouterr().out.splitlines()


def message_of(operation):
    """The interpreter's own message for the failing operation."""
    try:
        operation()
    except Exception as error:  # noqa: BLE001 - its text is the result
        return str(error)
    raise AssertionError("the operation did not fail")


def own_types():
    """The module's function and call-scope types, found through a network method."""
    import duZER

    model = duZER.FunClassCNNs(*small_call(MaxEpochs=0))[3]
    return {type(vars(type(model))["__init__"]): "function", type(call_scope(model)): "call_scope"}


def own_objects(types):
    """Number of live objects of each of the module's own kinds (`types` from own_types)."""
    gc.collect()
    counts = {"function": 0, "call_scope": 0, "CNN": 0}
    for obj in gc.get_objects():
        kind = type(obj)  # not isinstance: that would ask proxies for __class__
        if kind in types:
            counts[types[kind]] += 1
        elif issubclass(kind, type) and obj.__module__ == "duZER" and obj.__name__ == "CNN":
            counts["CNN"] += 1
    return counts


def call_scope(model):
    """The scope a model's class was made in, found through its `__init__`."""
    method = vars(type(model))["__init__"]
    (scope,) = [obj for obj in gc.get_referents(method) if type(obj).__name__ == "call_scope"]
    return scope
