"""Tracing of one call, operation by operation, for the comparison with the plain procedure.

Every module-level name is replaced by a logging proxy, the tables and dictionaries by
containers that log each read, the samples by an array whose arithmetic is logged, and the
tensors by a subclass whose method lookups and calls are logged; printed text is logged where
it is written. `run` makes one call that way and returns its events and how it ended; with
`fault_at` it raises Boom at that event.
"""

import contextlib
import dataclasses
import difflib
import gc
import sys
import types
import weakref
from collections import Counter

import matplotlib.pyplot as plt
import numpy as np
import torch
from torch.overrides import TorchFunctionMode, resolve_name

import duZER
import reference
from toolbox import PACKAGE_NAMES, Boom, samples

TRACE = None  # the Tracer of the run in progress


class Tracer:
    """Events of one run; raises Boom at event `fault_at`. Quiet while a package works for the call."""

    def __init__(self, fault_at=None):
        self.events = []
        self.fault_at = fault_at
        self.depth = 0
        self.made = []  # weak references to what the call created
        self.serial = Counter()

    def label(self, kind):
        self.serial[kind] += 1
        return f"{kind}#{self.serial[kind] - 1}"

    def remember(self, obj):
        with contextlib.suppress(TypeError):
            self.made.append(weakref.ref(obj))


def log(text):
    if TRACE is not None and not TRACE.depth:
        TRACE.events.append(text() if callable(text) else text)
        if len(TRACE.events) - 1 == TRACE.fault_at:
            raise Boom(f"event {TRACE.fault_at}: {TRACE.events[-1]}")


@contextlib.contextmanager
def quiet():
    if TRACE is None:
        yield
        return
    TRACE.depth += 1
    try:
        yield
    finally:
        TRACE.depth -= 1


def describe(x):
    """A stable summary of a value: kind, shape, small values; never an identity."""
    with quiet():
        if isinstance(x, (Proxy, LoggedList, LoggedDict)):
            return x.tag
        if isinstance(x, torch.Tensor):
            return f"Tensor{list(x.shape)}:{x.dtype}"
        if isinstance(x, np.ndarray):
            return f"ndarray{list(x.shape)}:{x.dtype}"
        if isinstance(x, np.generic):
            return f"{type(x).__name__}({x})"
        if isinstance(x, (bool, int, float, str, type(None), range, torch.device, torch.dtype, torch.Size)):
            return repr(x)
        if type(x) in (list, tuple):
            items = ", ".join(map(describe, x[:8]))
            return f"{type(x).__name__}{len(x)}[{items}{', ...' if len(x) > 8 else ''}]"
        return type(x).__name__


def arguments(args, kwargs):
    return ", ".join([*map(describe, args), *(f"{k}={describe(v)}" for k, v in kwargs.items())])


# --- the packages, behind proxies ------------------------------------------------------------------------------------


class Proxy:
    """Stands in for a package object: logs each attribute get and call, wraps what it hands out."""

    __slots__ = ("_target", "tag")

    def __init__(self, target, tag):
        object.__setattr__(self, "_target", target)
        object.__setattr__(self, "tag", tag)

    def __repr__(self):
        return f"<proxy {self.tag}>"

    def __getattr__(self, name):
        log(f"get {self.tag}.{name}")
        return wrap(getattr(self._target, name), f"{self.tag}.{name}")

    def __call__(self, *args, **kwargs):
        log(lambda: f"call {self.tag}({arguments(args, kwargs)})")
        args = [a._target if isinstance(a, Proxy) else a for a in args]
        target = SUBSTITUTES.get(self.tag, self._target)
        with quiet():
            result = target(*args, **kwargs)
            if self.tag in TENSOR_MAKERS:
                result = result.as_subclass(TracedTensor)
            elif type(result) is np.float64:
                result = TracedScalar(result)
        if TRACE is not None:
            TRACE.remember(result)
        adopt = ADOPTED.get(self.tag)
        return adopt(result, TRACE.label(type(result).__name__)) if adopt and TRACE else result


class ClassProxy(Proxy):
    __slots__ = ()

    def __mro_entries__(self, bases):
        log(f"bases {self.tag}")
        return (BASES.get(self.tag, self._target),)


class LoggedIterator:
    def __init__(self, it, tag):
        self.it, self.tag = it, tag

    def __iter__(self):
        return self

    def __next__(self):
        log(f"next {self.tag}")
        with quiet():
            return next(self.it)


class Held(Proxy):
    """An object the call made and keeps (loader, optimiser, schedule, loss): its uses are logged."""

    __slots__ = ()

    def __iter__(self):
        log(f"iter {self.tag}")
        with quiet():
            return LoggedIterator(iter(self._target), self.tag)


class HeldContext(Proxy):
    """`torch.no_grad()`: logs entry and exit, and which exception is being handled inside `__exit__`."""

    __slots__ = ()

    def __enter__(self):
        log(f"enter {self.tag}")
        with quiet():
            return self._target.__enter__()

    def __exit__(self, *exc):
        log(f"exit {self.tag} {type(exc[1]).__name__} handling {type(sys.exc_info()[1]).__name__}")
        with quiet():
            return self._target.__exit__(*exc)


def wrap(value, tag):
    if isinstance(value, type):
        return ClassProxy(value, tag)
    if isinstance(value, types.ModuleType) or callable(value):
        return Proxy(value, tag)
    return value


# --- objects whose own uses are logged -------------------------------------------------------------------------------

MODULE_NAMES = frozenset({"conv_layers", "pool_layers", "fc_layers", "get_conv_output_size", "forward", "append",
                          "to", "eval", "train", "parameters"})
TENSOR_NAMES = frozenset({"view", "size", "item", "to", "max", "cpu", "numpy", "backward", "shape"})
TENSOR_CALLS = frozenset(f"torch.Tensor.{name}" for name in TENSOR_NAMES - {"shape"})


class Logging:
    """Logs gets and sets of the network's own names on `torch.nn` modules the call builds."""

    def __getattribute__(self, name):
        if name in MODULE_NAMES:
            log(f"get {type(self).__name__}.{name}")
        return super().__getattribute__(name)

    def __setattr__(self, name, value):
        if name in MODULE_NAMES:
            log(lambda: f"set {type(self).__name__}.{name} = {describe(value)}")
        super().__setattr__(name, value)


class TracedModule(Logging, torch.nn.Module):
    """What the network class derives from in place of `nn.Module`."""

    def __init__(self, *args, **kwargs):
        if TRACE is not None:
            TRACE.remember(self)
        super().__init__(*args, **kwargs)


class TracedModuleList(Logging, torch.nn.ModuleList):
    def __iter__(self):
        log("iter ModuleList")
        return super().__iter__()


TracedModuleList.__name__ = TracedModuleList.__qualname__ = "ModuleList"


class TracedTensor(torch.Tensor):
    def __getattribute__(self, name):
        if name in TENSOR_NAMES:
            log(f"get Tensor.{name}")
        return super().__getattribute__(name)


class TracedArray(np.ndarray):
    """The samples: arithmetic on them is logged."""

    def __array_ufunc__(self, ufunc, method, *inputs, **kwargs):
        log(lambda: f"ufunc {ufunc.__name__}.{method}({arguments(inputs, kwargs)})")
        inputs = [x.view(np.ndarray) if isinstance(x, TracedArray) else x for x in inputs]
        with quiet():
            result = getattr(ufunc, method)(*inputs, **kwargs)
        return result.view(TracedArray) if isinstance(result, np.ndarray) else result


class TensorCalls(TorchFunctionMode):
    """Logs the tensor methods the procedure calls."""

    def __torch_function__(self, func, types, args=(), kwargs=None):
        kwargs = kwargs or {}
        if TRACE is not None and not TRACE.depth:
            name = resolve_name(func)
            if name in TENSOR_CALLS:
                log(lambda: f"call {name[6:]}({arguments(args, kwargs)})")
        with quiet():
            result = func(*args, **kwargs)
        if TRACE is not None and isinstance(result, torch.Tensor):
            TRACE.remember(result)
        return result


SUBSTITUTES = {"nn.ModuleList": TracedModuleList}
BASES = {"nn.Module": TracedModule}
TENSOR_MAKERS = frozenset({"torch.tensor", "torch.zeros"})
ADOPTED = {"DataLoader": Held, "optim.Adam": Held, "optim.lr_scheduler.StepLR": Held, "nn.CrossEntropyLoss": Held,
           "torch.no_grad": HeldContext}


# --- tables and dictionaries that log each read ----------------------------------------------------------------------


def logged_methods(base, names, event, keep):
    """Overrides of `names` of `base` that log `event(self, name, args)`, do what `base` does, and
    return `keep(self, name, result)`."""

    def override(name):
        inherited = getattr(base, name)

        def method(self, *args):
            log(lambda: event(self, name, args))
            with quiet():
                result = inherited(self, *args)
            return keep(self, name, result)

        return method

    return {name: override(name) for name in names}


def read(self, name, args):
    return f"read {self.tag}.{name}({arguments(args, {})})"


def reading(self, name, result):
    return LoggedIterator(result, self.tag) if name == "__iter__" else result


def scalar(self, name, args):
    return f"scalar {name}({describe(self)}, {describe(args[0])})"


def scalar_result(self, name, result):
    return TracedScalar(result) if type(result) is np.float64 else result


COMMON = ("__getitem__", "__len__", "__iter__", "__contains__", "__reversed__", "__setitem__", "__delitem__",
          "__eq__", "__ne__", "copy", "pop")
LoggedList = type("LoggedList", (list,), {"tag": "list", **logged_methods(
    list, COMMON + ("index", "count", "append", "extend", "insert", "remove", "sort", "__iadd__"), read, reading)})
LoggedDict = type("LoggedDict", (dict,), {"tag": "dict", **logged_methods(
    dict, COMMON + ("get", "keys", "values", "items", "setdefault", "update", "popitem"), read, reading)})
SCALAR_OPERATORS = ("__add__", "__radd__", "__sub__", "__rsub__", "__truediv__", "__rtruediv__", "__eq__", "__ne__",
                    "__lt__", "__gt__")


def traced_number(base):
    """A `base` number whose arithmetic and comparisons are logged."""
    return type(base.__name__, (base,), {"__hash__": base.__hash__, **logged_methods(
        base, SCALAR_OPERATORS, scalar, scalar_result)})


TracedScalar = traced_number(np.float64)  # the samples' minimum and maximum
TracedFloat = traced_number(float)  # the split ratios


def logged_table(tag, rows):
    table = LoggedList([LoggedList(row) if isinstance(row, list) else TracedFloat(row) if type(row) is float else row
                        for row in rows])
    table.tag = tag
    for i, row in enumerate(list.__iter__(table)):
        if isinstance(row, LoggedList):
            row.tag = f"{tag}[{i}]"
    return table


def logged_dict(tag, items):
    logged = LoggedDict(items)
    logged.tag = tag
    return logged


# --- one run ---------------------------------------------------------------------------------------------------------


class Printed:
    def __init__(self):
        self.text = []

    def write(self, text):
        log(lambda: f"write {text!r}")
        self.text.append(text)
        return len(text)

    def flush(self):
        pass


@dataclasses.dataclass
class Outcome:
    events: list
    error: tuple
    printed: str
    refcounts: list
    grad_enabled: bool
    alive: list
    aftermath: list  # events after the fault: exits run while the exception passes


TABLES = dict(divideR=[0.6, 0.2, 0.2], cLayer=[[3, 3, 4, 1, 1]], poolingLayer=[["maxPooling2dLayer", 2, 2, 2, 0]],
              fcLayer=[16])
DICTIONARIES = dict(options={"MaxEpochs": 2, "MiniBatchSize": 16, "ValidationFrequency": 1},
                    setting={"seed": 5, "deviceSel": "cpu"})


def call_arguments(config):
    """Fresh arguments: 40 samples of 1 x 6 x 6, the tables above or `config`'s, the dictionaries updated by it."""
    dataX, dataY = samples(40, (1, 6, 6))
    tables = [logged_table(tag, config.get(tag, rows)) for tag, rows in TABLES.items()]
    dictionaries = [logged_dict(tag, {**items, **config.get(tag, {})}) for tag, items in DICTIONARIES.items()]
    return (dataX.view(TracedArray), dataY, *tables, *dictionaries)


def run(function, config, fault_at=None):
    global TRACE
    args = call_arguments(config)
    before = [sys.getrefcount(a) for a in args]
    printed = Printed()
    TRACE = tracer = Tracer(fault_at)
    error = None
    try:
        with contextlib.redirect_stdout(printed), TensorCalls():
            function(*args)
    except Exception as exc:  # noqa: BLE001 - what ends the call is the result compared
        error = (type(exc).__name__, str(exc), type(exc.__cause__).__name__, type(exc.__context__).__name__)
    finally:
        TRACE = None
    gc.collect()
    grad_enabled = torch.is_grad_enabled()
    torch.set_grad_enabled(True)
    plt.close("all")
    alive = sorted(type(o).__name__ for o in (ref() for ref in tracer.made) if o is not None)
    after = [sys.getrefcount(a) for a in args]
    return Outcome(tracer.events, error, "".join(printed.text), [a - b for a, b in zip(after, before)], grad_enabled,
                   alive, [] if fault_at is None else tracer.events[fault_at + 1:])


ENDING = ("error", "printed", "refcounts", "grad_enabled", "alive", "aftermath")


def differences(native, plain, fields=("events",) + ENDING):
    """What differs between the two outcomes; an event sequence is shown from its first differing region."""
    found = []
    for field in fields:
        n, p = getattr(native, field), getattr(plain, field)
        if n == p:
            continue
        if field != "events":
            found.append(f"{field}: module {n!r:.300}, plain {p!r:.300}")
            continue
        opcodes = difflib.SequenceMatcher(None, p, n, autojunk=False).get_opcodes()
        _, i, _, j, _ = next(op for op in opcodes if op[0] != "equal")
        diff = list(difflib.unified_diff(p, n, "plain", "module", n=3, lineterm=""))
        found.append(f"events differ first at plain #{i} / module #{j}: module {n[j:j + 1]} where plain has "
                     f"{p[i:i + 1]}\n" + "\n".join(diff[:80]))
    return found




def install(monkeypatch):
    for module in (duZER, reference):
        for name in PACKAGE_NAMES:
            monkeypatch.setattr(module, name, wrap(getattr(module, name), name))

