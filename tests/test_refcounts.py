"""Reference counts stay put over repeated calls, on success and on every error path.

Release interpreters have no total reference count, so the check is per
object: the arguments (and the lists inside them), the values bound in the
module namespace and the interned keys the module shares with its callers.
Objects of the module's own types (function objects, call scopes, `CNN`
classes) must not pile up once the garbage collector has run.
"""

import gc
import sys

import pytest
import torch

import duZER
from toolbox import PACKAGE_NAMES, Boom, own_objects, own_types, samples, small_call

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

REPEATS = 8
NAMESPACE = [*PACKAGE_NAMES, "FunClassCNNs", "__test__"]
# Interned in the module and in this file alike: one shared object each.
INTERNED = ["MaxEpochs", "MiniBatchSize", "InitialLearnRate", "ValidationFrequency", "seed", "minmax",
            "deviceSel", "figflag", "gpu", "cpu", "on", "off", "none", "maxPooling2dLayer", "dataX", "setting",
            "train_losses", "val_accuracies"]


class TorchWithFailingMax:
    """Stands in for the module's `torch`: `max` raises Boom inside the n-th
    no-gradient block of a call (1: the initial validation, 2: the test pass)."""

    def __init__(self, fail_in):
        self.fail_in, self.blocks = fail_in, 0

    def __getattr__(self, name):
        return getattr(torch, name)

    def no_grad(self):
        self.blocks += 1
        return torch.no_grad()

    def max(self, *args):
        if self.blocks == self.fail_in and not torch.is_grad_enabled():
            raise Boom(f"inside no-gradient block {self.blocks}")
        return torch.max(*args)


def make_args():
    return small_call(*samples(40, (1, 4, 4), seed=3), seed=3, minmax=True)


def with_option(key, value):
    def call(args):
        duZER.FunClassCNNs(*args[:6], {**args[6], key: value}, args[7])

    return call


# path -> (call given the argument list, expected exception or None, no-gradient block to fail in)
PATHS = {
    "success": (lambda a: duZER.FunClassCNNs(*a), None, 0),
    "keywords": (lambda a: duZER.FunClassCNNs(a[0], a[1], divideR=a[2], cLayer=a[3], poolingLayer=a[4],
                                              fcLayer=a[5], setting=a[7], options=a[6]), None, 0),
    "too few arguments": (lambda a: duZER.FunClassCNNs(*a[:7]), TypeError, 0),
    "missing keyword": (lambda a: duZER.FunClassCNNs(*a[:6], options=a[6]), TypeError, 0),
    "unexpected keyword": (lambda a: duZER.FunClassCNNs(*a, extra=a[6]), TypeError, 0),
    "multiple values": (lambda a: duZER.FunClassCNNs(*a, setting=a[7]), TypeError, 0),
    "divideR too short": (lambda a: duZER.FunClassCNNs(a[0], a[1], a[2][:2], *a[3:]), ValueError, 0),
    "divideR too long": (lambda a: duZER.FunClassCNNs(a[0], a[1], iter(a[2] * 2), *a[3:]), ValueError, 0),
    "zero val and test ratio": (lambda a: duZER.FunClassCNNs(a[0], a[1], [0.5, 0, 0], *a[3:]),
                                ZeroDivisionError, 0),
    "failing option value": (with_option("MaxEpochs", 1.0), TypeError, 0),
    "failing batch size": (with_option("MiniBatchSize", 0), ValueError, 0),
    "short pooling table": (lambda a: duZER.FunClassCNNs(*a[:3], a[3] * 2, *a[4:]), IndexError, 0),
    "error in validation pass": (lambda a: duZER.FunClassCNNs(*a), Boom, 1),
    "error in test pass": (lambda a: duZER.FunClassCNNs(*a), Boom, 2),
}


@pytest.fixture(scope="module")
def types():
    return own_types()


def watched(args):
    """(label, object) for every object whose reference count must not drift."""
    items = [(f"argument {i}", a) for i, a in enumerate(args)]
    items += [(f"row of argument {i}", row) for i in (3, 4) for row in args[i]]
    items += [(f"duZER.{name}", getattr(duZER, name)) for name in NAMESPACE]
    return items


def refcounts(items):
    return {label: sys.getrefcount(obj) for label, obj in items}


@pytest.mark.parametrize("path", PATHS)
def test_repeated_calls_keep_reference_counts(path, types, monkeypatch, capsys):
    call, error, fail_in = PATHS[path]
    proxy = None
    if fail_in:
        proxy = TorchWithFailingMax(fail_in)
        monkeypatch.setattr(duZER, "torch", proxy)
    args = make_args()
    items = watched(args)
    strings = [(repr(text), sys.intern(text)) for text in INTERNED]

    def once():
        if proxy is not None:
            proxy.blocks = 0
        try:
            call(args)
        except Exception as caught:  # noqa: BLE001 - the type is checked below
            assert error is not None and type(caught) is error, repr(caught)
        else:
            assert error is None, f"expected {error.__name__}"

    once()
    once()
    objects, before, texts = own_objects(types), refcounts(items), refcounts(strings)  # after a collection
    for _ in range(REPEATS - 2):
        once()
    gc.collect()
    after = refcounts(items)
    drift = {label: (before[label], after[label]) for label in before if before[label] != after[label]}
    assert not drift, f"reference counts changed over {REPEATS - 2} calls: {drift}"
    # Torch and the interpreter use common words such as "cpu" too and may
    # take or drop a reference now and then; a leak grows with every call.
    grown = {label: (texts[label], n) for label, n in refcounts(strings).items() if n - texts[label] >= REPEATS - 2}
    assert not grown, f"references to shared strings grew by one per call: {grown}"
    assert own_objects(types) == objects
    capsys.readouterr()
