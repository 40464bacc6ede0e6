"""Random and hostile arguments for FunClassCNNs, driven by hypothesis in a child.

The child interpreter is this file run as a script. Every generated call must
end in a Python exception or a five-value result; a native fault kills the
child with a signal, and the test reports the case that was running. Where
the exception is fixed (argument binding, unpacking of `divideR`, of a
loader's item and of torch.max's result, a zero validation-plus-test ratio, a
missing pooling row, a hook that raises), its type (and for binding and
unpacking its exact text) is checked as well.
"""

import contextlib
import faulthandler
import functools
import io
import json
import reprlib
import subprocess
import sys
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

from toolbox import (
    OPTION_KEYS,
    PARAMS,
    SETTING_KEYS,
    Boom,
    PickyDict,
    count_error,
    loader_yielding,
    small_call,
    torch_with_max,
    unpack_error,
)

MIN_EXAMPLES = 500
EXAMPLE_TIMEOUT_S = 60  # one call hanging this long ends the child with its traceback

RNG = np.random.default_rng(0)
X = RNG.random((30, 1, 4, 4))
Y = np.arange(30) % 3

OK = "result"  # must return the five values
ANY = "any"  # an exception or the five values


def base():
    return dict(zip(PARAMS, small_call(X, Y, fcLayer=[], MaxEpochs=0, MiniBatchSize=8)))


def hostile(method, result=Boom):
    """An object whose `method` raises Boom, or returns `result`."""

    def hook(self, *args):
        if result is Boom:
            raise Boom(method)
        return result

    return type(f"Hostile{method}", (), {method: hook})()


class Mapping:
    """A mapping-like object whose `get`, `in` or `[]` may raise Boom."""

    def __init__(self, data, bad=None):
        self.data, self.bad = data, bad

    def get(self, key, default=None):
        if self.bad == "get":
            raise Boom("get")
        return self.data.get(key, default)

    def __contains__(self, key):
        if self.bad == "__contains__":
            raise Boom("in")
        return key in self.data

    def __getitem__(self, key):
        if self.bad == "__getitem__":
            raise Boom("[]")
        return self.data[key]


class ListWithOwnIter(list):
    """A list of three ratios whose iteration yields other items."""

    def __init__(self, yielded):
        super().__init__([0.6, 0.2, 0.2])
        self.yielded = yielded

    def __iter__(self):
        return iter(self.yielded)


def raise_boom(*args):
    raise Boom(*args)


def failing_iterable(good_items):
    def generate():
        yield from [0.6, 0.2, 0.2][:good_items]
        raise Boom("next")

    return generate()


class NoIter:
    """Iteration switched off (`__iter__ = None`): the interpreter keeps its own text for it."""

    __iter__ = None


def not_iterable_error(value):
    if isinstance(value, NoIter):
        return TypeError, "'NoIter' object is not iterable"
    return TypeError, f"cannot unpack non-iterable {type(value).__name__} object"


def non_iterables():
    return st.sampled_from([None, 3, 0.5, True]) | st.builds(object) | st.builds(NoIter) | st.builds(
        lambda: hostile("__len__"))


def binding_error(given):
    return TypeError, count_error(given)


# ---------------------------------------------------------------- strategies

ODD_KEYWORDS = ["datax", "Setting", "self", "x", "kwargs", "layers"]
CALL_STYLES = st.sampled_from(["star", "literal", "bound", "partial"])


def expected_binding(nargs, keys):
    if not keys:
        return OK if nargs == 8 else binding_error(nargs)
    if nargs > 8:
        return binding_error(nargs)
    for i in range(nargs, 8):
        if PARAMS[i] not in keys:
            return binding_error(i)
    for key in keys:
        if key in PARAMS[:nargs]:
            return TypeError, f"FunClassCNNs() got multiple values for keyword argument '{key}'"
        if key not in PARAMS:
            return TypeError, f"FunClassCNNs() got an unexpected keyword argument '{key}'"
    return OK


@st.composite
def binding_cases(draw):
    values = base()
    ordered = [values[p] for p in PARAMS] + [None] * 4
    nargs = draw(st.integers(0, 11))
    keys = []
    if draw(st.booleans()):
        rest = PARAMS[nargs:]
        missing = draw(st.one_of(st.just(set()), st.sets(st.sampled_from(PARAMS), max_size=2)))
        extras = draw(st.lists(st.sampled_from(PARAMS[:nargs] + ODD_KEYWORDS), max_size=2, unique=True))
        keys = draw(st.permutations([p for p in rest if p not in missing] + extras))
    kwargs = {k: values.get(k) for k in keys}
    return ordered[:nargs], kwargs, expected_binding(nargs, keys), draw(CALL_STYLES)


@st.composite
def divide_cases(draw):
    kind = draw(st.sampled_from(["length", "length", "zero", "not iterable", "raising", "range", "hook"]))
    if kind == "length":
        n = draw(st.integers(0, 7).filter(lambda n: n != 3))
        items = [0.6, 0.2, 0.2, 0.1, 0.1, 0.1, 0.1][:n]
        wrap = draw(st.sampled_from([list, tuple, iter, "generator", ListWithOwnIter]))
        value = (x for x in items) if wrap == "generator" else wrap(items)
        expect = unpack_error(n)
    elif kind == "zero":
        zeros = st.sampled_from([0, 0.0, -0.0, False])
        value, expect = [draw(st.floats(0.3, 0.7)), draw(zeros), draw(zeros)], (ZeroDivisionError, None)
    elif kind == "not iterable":
        value = draw(non_iterables())
        expect = not_iterable_error(value)
    elif kind == "raising":
        value, expect = failing_iterable(draw(st.integers(0, 3))), (Boom, None)
    elif kind == "range":
        value = draw(st.sampled_from([[1.0, 0.1, 0.1], [1, 0.1, 0.1], [70, 15, 15], [1.5, 0.2, 0.2],
                                      [-0.5, 0.2, 0.2], [0.6, 0, 0.2], [0.6, 0.2, 0]]))
        expect = (ValueError, None)
    else:
        value = draw(st.sampled_from([[hostile("__rsub__"), 0.2, 0.2], [0.6, hostile("__add__"), 0.2]]))
        expect = (Boom, None)
    v = base()
    v["divideR"] = value
    return [], v, expect, draw(CALL_STYLES)


# Values that are wrong for a table field but never make torch allocate much.
ODD_FIELDS = [None, -1, 0, 1.5, float("nan"), float("inf"), "3", b"3", [3], True, 2**63, 10**30,
              -(2**63) - 1, np.int64(2), np.float32(2.0)]


@st.composite
def table_cases(draw):
    v = base()
    kind = draw(st.sampled_from(["short pooling", "short row", "pool type", "valid", "no length", "field"]))
    if kind == "short pooling":
        rows = draw(st.integers(1, 3))
        wrap = draw(st.sampled_from([list, tuple]))
        v["cLayer"] = wrap([[3, 3, 2, 1, 1]] * rows)
        v["poolingLayer"] = wrap([["none", 2, 2, 2, 0]] * draw(st.integers(0, rows - 1)))
        expect = (IndexError, None)
    elif kind == "short row":
        length = draw(st.integers(0, 4))
        if draw(st.booleans()):
            v["cLayer"] = [[3, 3, 2, 1, 1], [3, 3, 2, 1, 1][:length]]
            v["poolingLayer"] = [["none", 2, 2, 2, 0]] * 2
            expect = (IndexError, None)
        else:
            kind = draw(st.sampled_from(["maxPooling2dLayer", "averagePooling2dLayer", "none"]))
            v["poolingLayer"] = [[kind, 2, 2, 2, 0][:length]]
            expect = OK if kind == "none" and length > 0 else (IndexError, None)
    elif kind == "pool type":
        text = draw(st.one_of(st.sampled_from(["MaxPooling2dLayer", "averagepooling2dlayer", "None", ""]),
                              st.text(max_size=12)))
        v["poolingLayer"] = [[text, 2, 2, 2, 0]]
        expect = OK
    elif kind == "valid":
        v["cLayer"], v["poolingLayer"] = draw(st.sampled_from([
            ([], []),
            (np.array([[3, 3, 2, 1, 1]]), [["averagePooling2dLayer", 2, 2, 2, 0]]),
            ([[1, 1, 2, 1, 0], (3, 3, 3, 1, 1)], [["none", 2, 2, 2, 0], ("maxPooling2dLayer", 2, 2, 2, 0), "x"]),
        ]))
        v["fcLayer"] = draw(st.sampled_from([[], [4], (4, 3), np.array([5])]))
        expect = OK
    elif kind == "no length":
        v["fcLayer" if draw(st.booleans()) else "cLayer"] = draw(st.sampled_from([None, 5, 2.5]))
        expect = (TypeError, None)
    else:
        table = draw(st.sampled_from(["cLayer", "poolingLayer"]))
        row = list(v[table][0])
        row[draw(st.integers(0, 4))] = draw(st.sampled_from(ODD_FIELDS))
        v[table] = [row]
        expect = ANY
    return [], v, expect, draw(CALL_STYLES)


# Never a large int64 as MaxEpochs: that would train for ever.
SAFE_EPOCHS = [0, 1, -1, False, True, 1.0, "1", None, [1], b"1"]
FIGURES_ON = "on"  # figures are covered elsewhere; they are kept out of the option pools
ODD_VALUES = [None, 0, -1, 1, 2**62, 2**63, -(2**63) - 1, 1e308, float("nan"), float("inf"), -0.5,
              "", FIGURES_ON, "gpu", "GPU", b"gpu", [], [1], {}, (1,), np.float64(0.01), np.arange(2)]


def expected_option(key, value, epochs):
    if isinstance(value, np.ndarray):
        return ANY
    if key == "MaxEpochs":
        return OK if type(value) in (int, bool) else (TypeError, None)
    if key == "ValidationFrequency" and value == 0 and type(value) is int:
        return (ZeroDivisionError, None) if epochs == 1 else OK
    if key == "MiniBatchSize" and type(value) is int and value <= 0:
        return ValueError, None
    if key == "InitialLearnRate" and type(value) in (int, float) and value < 0:
        return ValueError, None
    if key in ("solverName", "LearnRateSchedule", "minmax", "other"):
        return OK
    if key == "seed" and type(value) is int and 0 <= value < 2**32:
        return OK
    if key == "figflag" and value != "on":
        return OK
    if key == "deviceSel" and isinstance(value, str):
        return OK
    return ANY


@st.composite
def option_cases(draw):
    v = base()
    epochs = draw(st.sampled_from([0, 1]))
    v["options"]["MaxEpochs"] = epochs
    key = draw(st.sampled_from(OPTION_KEYS + SETTING_KEYS + ["other"]))
    pool = SAFE_EPOCHS if key == "MaxEpochs" else [x for x in ODD_VALUES if not (key == "figflag" and x is FIGURES_ON)]
    value = draw(st.sampled_from(pool))
    v["setting" if key in SETTING_KEYS else "options"][key] = value
    return [], v, expected_option(key, value, epochs), draw(CALL_STYLES)


def hook_scenarios():
    """(name, mutation of the base arguments, expected outcome)."""
    boom = (Boom, None)
    out = []
    for key in OPTION_KEYS:
        out.append((f"options.get({key}) raises", lambda v, k=key: v.update(options=PickyDict(v["options"], k)),
                    boom if key in OPTION_KEYS[:6] else OK))
    for key in SETTING_KEYS + ["other"]:
        expect = boom if key in ("minmax", "deviceSel", "figflag") else OK
        out.append((f"setting.get({key}) raises", lambda v, k=key: v.update(setting=PickyDict(v["setting"], k)), expect))
    for method in ("get", "__contains__", "__getitem__"):
        out.append((f"setting.{method} raises", lambda v, m=method: v.update(setting=Mapping({"seed": 3}, m)), boom))
    out.append(("options.get raises", lambda v: v.update(options=Mapping({}, "get")), boom))
    out.append(("options without get", lambda v: v.update(options=[]), (AttributeError, None)))
    out.append(("setting without get", lambda v: v.update(setting=[]), (AttributeError, None)))
    setting_hooks = [("deviceSel", "__eq__"), ("figflag", "__eq__"), ("minmax", "__bool__"), ("seed", "__ne__")]
    for key, method in setting_hooks:
        out.append((f"setting[{key}].{method} raises", lambda v, k=key, m=method: v["setting"].update({k: hostile(m)}), boom))
    out.append(("seed != 0 gives an untruthful value",
                lambda v: v["setting"].update(seed=hostile("__ne__", hostile("__bool__"))), boom))
    out.append(("deviceSel == 'gpu' gives an untruthful value",
                lambda v: v["setting"].update(deviceSel=hostile("__eq__", hostile("__bool__"))), ANY))
    for table in ("cLayer", "fcLayer"):
        out.append((f"len({table}) raises", lambda v, t=table: v.update({t: hostile("__len__")}), boom))
        for odd, error in ((-1, ValueError), (2**70, OverflowError), ("3", TypeError), (1.0, TypeError)):
            out.append((f"len({table}) is {odd!r}", lambda v, t=table, o=odd: v.update({t: hostile("__len__", o)}),
                        (error, None)))
    for table in ("cLayer", "poolingLayer", "fcLayer"):
        cls = type("Rows", (), {"__len__": lambda self: 1, "__getitem__": raise_boom})
        out.append((f"{table}[i] raises", lambda v, t=table, c=cls: v.update({t: c()}), boom))
    out.append(("MaxEpochs.__index__ raises", lambda v: v["options"].update(MaxEpochs=hostile("__index__")), boom))
    for odd, expect in ((0, OK), (1, OK), (-5, OK), ("1", (TypeError, None)), (1.0, (TypeError, None))):
        out.append((f"MaxEpochs.__index__ gives {odd!r}",
                    lambda v, o=odd: v["options"].update(MaxEpochs=hostile("__index__", o)), expect))
    epochs_cls = type("Epochs", (), {"__index__": lambda self: 1, "__format__": raise_boom})
    out.append(("MaxEpochs.__format__ raises", lambda v: v["options"].update(MaxEpochs=epochs_cls()), boom))
    out.append(("divideR.__iter__ raises", lambda v: v.update(divideR=hostile("__iter__")), boom))
    out.append(("divideR.__iter__ gives a non-iterator", lambda v: v.update(divideR=hostile("__iter__", 3)),
                (TypeError, None)))
    out.append(("dataX.__sub__ raises", lambda v: v.update(dataX=hostile("__sub__")), ANY))
    return out


HOOKS = hook_scenarios()


@st.composite
def hook_cases(draw):
    name, mutate, expect = draw(st.sampled_from(HOOKS))
    v = base()
    v["options"]["MaxEpochs"] = draw(st.sampled_from([0, 1]))
    mutate(v)
    return [], v, expect, draw(CALL_STYLES)


def small_arrays():
    dtypes = st.sampled_from(["float64", "float32", "int64", "uint8", "bool", "complex64", "<U2"])

    def elements(dtype):
        if dtype in ("float64", "float32"):
            return st.one_of(st.floats(-3, 9, width=32), st.sampled_from([np.nan, np.inf, -np.inf, 1e30]))
        if dtype in ("int64", "uint8"):
            return st.integers(0 if dtype == "uint8" else -3, 9)
        return hnp.from_dtype(np.dtype(dtype))

    shapes = st.one_of(hnp.array_shapes(min_dims=0, max_dims=5, min_side=0, max_side=4),
                       st.sampled_from([(30,), (30, 1, 4, 4), (30, 4, 4), (30, 1, 1, 4, 4), (0, 1, 4, 4)]))
    return dtypes.flatmap(lambda d: hnp.arrays(d, shapes, elements=elements(d)))


SCALARS = st.one_of(st.none(), st.booleans(), st.integers(-3, 40), st.sampled_from([2**63, -(2**63) - 1, 10**30]),
                    st.floats(), st.text(max_size=6), st.binary(max_size=6))
RAGGED = st.recursive(st.one_of(st.integers(-2, 5), st.floats(-2, 2), st.text(max_size=3), st.none()),
                      lambda inner: st.lists(inner, max_size=4), max_leaves=12)
OPTION_DICTS = st.fixed_dictionaries({}, optional={
    **{k: st.sampled_from(ODD_VALUES) for k in OPTION_KEYS + SETTING_KEYS if k not in ("MaxEpochs", "figflag")},
    "MaxEpochs": st.sampled_from(SAFE_EPOCHS),
})
# A __getitem__ that never raises IndexError would make `in` iterate for ever.
HOSTILES = st.one_of(
    st.just(hostile("__getitem__")),
    st.sampled_from(["__eq__", "__len__", "__iter__", "__index__", "__bool__"]).flatmap(
        lambda m: st.sampled_from([hostile(m), hostile(m, None), hostile(m, -1), hostile(m, "x")])))
CHAOS_VALUES = st.one_of(SCALARS, RAGGED, small_arrays(), OPTION_DICTS, HOSTILES)


@st.composite
def chaos_cases(draw):
    v = base()
    for name in draw(st.sets(st.sampled_from(PARAMS), min_size=1, max_size=3)):
        v[name] = draw(CHAOS_VALUES)
    style = draw(st.sampled_from(["positional", "keywords"]))
    if style == "positional":
        return [v[p] for p in PARAMS], {}, ANY, draw(CALL_STYLES)
    return [], v, ANY, draw(CALL_STYLES)


@st.composite
def item_cases(draw):
    """A loader's item and torch.max's result, unpacked into two names, of every shape."""
    if draw(st.booleans()):
        value = draw(non_iterables())
        expect = not_iterable_error(value)
    else:
        n = draw(st.integers(0, 4).filter(lambda n: n != 2))
        wrap = draw(st.sampled_from([list, tuple, iter, "generator"]))
        value = (x for x in range(n)) if wrap == "generator" else wrap(range(n))
        expect = unpack_error(n, expected=2)
    v = base()
    v["options"]["MaxEpochs"] = draw(st.sampled_from([0, 1]))
    if draw(st.booleans()):
        patch = ("DataLoader", loader_yielding(value))
    else:
        patch = ("torch", torch_with_max(value))
    return [], v, expect, draw(CALL_STYLES), [patch]


# ------------------------------------------------------------------- driver

GROUPS = {
    "binding": (binding_cases(), 110),
    "divideR": (divide_cases(), 70),
    "tables": (table_cases(), 80),
    "options": (option_cases(), 90),
    "hooks": (hook_cases(), 100),
    "items": (item_cases(), 60),
    "chaos": (chaos_cases(), 160),
}
SHORT = reprlib.Repr()
SHORT.maxother = SHORT.maxstring = 60


def invoke(args, kwargs, style):
    import duZER

    f = duZER.FunClassCNNs
    if style == "bound" and args:
        return f.__get__(args[0])(*args[1:], **kwargs)
    if style == "partial":
        return functools.partial(f)(*args, **kwargs)
    if style == "literal":
        names = [f"a{i}" for i in range(len(args))]
        source = "f(" + ", ".join(names + [f"{k}=kw[{k!r}]" for k in kwargs]) + ")"
        return eval(source, {"f": f, "kw": kwargs, **dict(zip(names, args))})
    return f(*args, **kwargs)


def check(case, log):
    import duZER

    args, kwargs, expect, style, *patches = case
    patches = patches[0] if patches else []
    log.seek(0)
    log.write(f"style={style} expect={expect} patches={SHORT.repr(patches)}\n"
              f"args={SHORT.repr(args)}\nkwargs={SHORT.repr(kwargs)}\n")
    log.truncate()
    log.flush()
    outcome = None
    saved = [(name, getattr(duZER, name)) for name, _ in patches]
    faulthandler.dump_traceback_later(EXAMPLE_TIMEOUT_S, exit=True)
    with contextlib.redirect_stdout(io.StringIO()):
        try:
            for name, value in patches:
                setattr(duZER, name, value)
            result = invoke(args, kwargs, style)
        except Exception as error:  # noqa: BLE001 - any Python exception is an acceptable end
            outcome = error
        finally:
            for name, value in saved:
                setattr(duZER, name, value)
    faulthandler.cancel_dump_traceback_later()
    if outcome is None:
        assert expect in (OK, ANY), f"expected {expect}, got a result"
        assert type(result) is tuple and len(result) == 5, result
        assert sorted(result[4]) == ["train_accuracies", "train_losses", "val_accuracies", "val_losses"]
        return
    assert expect != OK, f"expected a result, got {outcome!r}"
    if expect == ANY:
        return
    error_type, message = expect
    assert isinstance(outcome, error_type), f"expected {error_type.__name__}, got {outcome!r}"
    if message is not None:
        assert str(outcome) == message, f"{str(outcome)!r} != {message!r}"


def drive(log_path):
    import matplotlib
    import torch

    matplotlib.use("Agg")
    torch.set_num_threads(1)  # tiny tensors: thread hand-offs would cost more than the work
    warnings.simplefilter("ignore")
    counts = {}
    with open(log_path, "w") as log:
        for name, (strategy, examples) in GROUPS.items():
            counts[name] = 0

            @settings(max_examples=examples, derandomize=True, database=None, deadline=None,
                      suppress_health_check=list(HealthCheck), print_blob=False)
            @given(strategy)
            def group(case):
                counts[name] += 1  # noqa: B023 - the group runs before `name` moves on
                check(case, log)

            group()
    print(json.dumps(counts))


def test_random_arguments_end_in_exception_or_result(tmp_path):
    log = tmp_path / "case.txt"
    child = subprocess.run([sys.executable, "-X", "faulthandler", __file__, str(log)],
                           capture_output=True, text=True, timeout=600)
    if child.returncode != 0:
        case = log.read_text() if log.exists() else "(none recorded)"
        how = f"killed by signal {-child.returncode}" if child.returncode < 0 else f"exit status {child.returncode}"
        pytest.fail(f"child {how}; last case:\n{case}\n{child.stdout[-2000:]}\n{child.stderr[-8000:]}")
    counts = json.loads(child.stdout.strip().splitlines()[-1])
    print("examples per group:", counts)
    assert sum(counts.values()) >= MIN_EXAMPLES, counts
    assert all(n >= examples // 2 for n, (_, examples) in zip(counts.values(), GROUPS.values())), counts


if __name__ == "__main__":
    drive(sys.argv[1])
