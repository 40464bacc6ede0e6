"""Seeding of torch's and NumPy's generators and the choice of the compute
device with its messages, on the CPU and behind a stand-in CUDA."""

import builtins
import re

import numpy as np
import pytest
import torch

import duZER
from toolbox import CPU_LINE, Standin, Stop, Tripwire, small_call, stop_at

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

GPU_HINT = "如果选择使用gpu但显示使用CPU，可能是硬件设备不可用。可以参考下述链接解决:"


def seed_spies(log):
    """Stand-ins for the module's `torch` and `np` that log each seeding, then seed."""

    def logged(name, seeding):
        def seed(value):
            log.append((name, value))
            return seeding(value)

        return seed

    return (Standin(torch, manual_seed=logged("torch.manual_seed", torch.manual_seed)),
            Standin(np, random=Standin(np.random, seed=logged("np.random.seed", np.random.seed))))


class Seed(int):
    """A seed that is recognisable by identity."""


def tiny_args(setting, max_epochs=1):
    return small_call(setting=setting, MaxEpochs=max_epochs, MiniBatchSize=8)


def stopped_after_seeding(setting):
    """Arguments whose setting ends the call at its first `get` (the scaling switch, right after seeding)."""
    return tiny_args(stop_at("get", setting))


@pytest.fixture(autouse=True)
def keep_generators():
    torch_state, numpy_state = torch.get_rng_state(), np.random.get_state()
    yield
    torch.set_rng_state(torch_state)
    np.random.set_state(numpy_state)


def same_numpy_state(a, b):
    return a[0] == b[0] and np.array_equal(a[1], b[1]) and a[2:] == b[2:]


# --- seeding -------------------------------------------------------------------------------------------------------

SEVEN = Seed(7)


@pytest.mark.parametrize("setting, calls", [
    ({}, []),
    ({"seed": 0}, []),
    ({"seed": 0.0}, []),
    ({"seed": False}, []),
    ({"seed": 7}, [("torch.manual_seed", 7), ("np.random.seed", 7)]),
    ({"seed": SEVEN}, [("torch.manual_seed", SEVEN), ("np.random.seed", SEVEN)]),
    ({"seed": True}, [("torch.manual_seed", True), ("np.random.seed", True)]),
], ids=["absent", "0", "0.0", "False", "7", "int subclass", "True"])
def test_seeding_calls(setting, calls, monkeypatch):
    log = []
    torch_spy, numpy_spy = seed_spies(log)
    monkeypatch.setattr(duZER, "torch", torch_spy)
    monkeypatch.setattr(duZER, "np", numpy_spy)
    with pytest.raises(Stop):
        duZER.FunClassCNNs(*stopped_after_seeding(setting))
    assert log == calls
    # passed on as read, not converted
    assert all(seed is expected for (_, seed), (_, expected) in zip(log, calls))


@pytest.mark.parametrize("seed", [None, 0, 7, 2**32 - 1])
def test_generator_states_after_seeding(seed):
    torch.manual_seed(123)
    np.random.seed(123)
    before_torch, before_numpy = torch.get_rng_state(), np.random.get_state()
    with pytest.raises(Stop):
        duZER.FunClassCNNs(*stopped_after_seeding({} if seed is None else {"seed": seed}))
    after_torch, after_numpy = torch.get_rng_state(), np.random.get_state()
    if seed:
        torch.manual_seed(seed)
        np.random.seed(seed)
        assert torch.equal(after_torch, torch.get_rng_state())
        assert same_numpy_state(after_numpy, np.random.get_state())
        assert not torch.equal(after_torch, before_torch)
    else:
        assert torch.equal(after_torch, before_torch)
        assert same_numpy_state(after_numpy, before_numpy)


def test_same_seed_same_run_other_seed_other_weights(capsys):
    runs = [duZER.FunClassCNNs(*tiny_args({"deviceSel": "cpu", "seed": seed}, max_epochs=2)) for seed in (7, 7, 8)]
    first, again, other = runs
    assert again[:3] == first[:3] and again[4] == first[4]
    weights = [run[3].state_dict() for run in runs]
    assert all(torch.equal(weights[1][name], tensor) for name, tensor in weights[0].items())
    assert not all(torch.equal(weights[2][name], tensor) for name, tensor in weights[0].items())
    capsys.readouterr()


@pytest.mark.parametrize("seed, refusing", [(-5, np.random.seed), (None, torch.manual_seed)],
                         ids=["negative: NumPy refuses", "None: torch refuses"])
def test_refused_seed_ends_the_call(seed, refusing, capsys):
    with pytest.raises((ValueError, TypeError)) as reference:
        refusing(seed)
    torch.manual_seed(123)
    np.random.seed(123)
    torch_before, numpy_before = torch.get_rng_state(), np.random.get_state()
    with pytest.raises(type(reference.value)) as failed:
        duZER.FunClassCNNs(*tiny_args({"deviceSel": "cpu", "seed": seed}))
    assert str(failed.value) == str(reference.value)
    torch_after = torch.get_rng_state()
    if refusing is np.random.seed:  # torch came first and keeps its seed
        torch.manual_seed(seed)
        torch_before = torch.get_rng_state()
    assert torch.equal(torch_after, torch_before)
    assert same_numpy_state(np.random.get_state(), numpy_before)
    assert capsys.readouterr().out == ""


# --- device choice ---------------------------------------------------------------------------------------------------


class FakeCuda:
    def __init__(self, available, log):
        self.available, self.log = available, log

    def is_available(self):
        self.log.append("is_available")
        return self.available

    def current_device(self):
        self.log.append("current_device")
        return 3

    def get_device_name(self, index):
        self.log.append(f"get_device_name({index!r})")
        return "Fake GPU"


class FakeTorch:
    """Stands in for the module's `torch` with a CUDA of our own; every
    device asked for is really the CPU, so a call can go on."""

    def __init__(self, available):
        self.log = []
        self.cuda = FakeCuda(available, self.log)

    def __getattr__(self, name):
        return getattr(torch, name)

    def device(self, dev):
        self.log.append(f"device({dev!r})")
        return torch.device("cpu")


HELP = object()  # the hint, then two help addresses
GPU_LINE = "当前设备为：cuda:3---Fake GPU"
GPU_CALLS = ["is_available", "current_device", "get_device_name(0)", "device('cuda:3')"]
CPU_CALLS = ["is_available", "device('cpu')"]


@pytest.mark.parametrize("available, setting, lines, calls", [
    (False, {}, [CPU_LINE], CPU_CALLS),
    (False, {"deviceSel": "gpu"}, [CPU_LINE, HELP], CPU_CALLS),
    (False, {"deviceSel": "cpu"}, [CPU_LINE], CPU_CALLS),
    (False, {"deviceSel": "GPU"}, [CPU_LINE], CPU_CALLS),
    (True, {}, [GPU_LINE], GPU_CALLS),
    (True, {"deviceSel": "gpu"}, [GPU_LINE], GPU_CALLS),
    (True, {"deviceSel": "cpu"}, [CPU_LINE], CPU_CALLS),
    (True, {"deviceSel": "GPU"}, [CPU_LINE], CPU_CALLS),
    (True, {"deviceSel": None}, [CPU_LINE], CPU_CALLS),
], ids=["no cuda-default", "no cuda-gpu", "no cuda-cpu", "no cuda-GPU", "cuda-default", "cuda-gpu", "cuda-cpu",
        "cuda-GPU", "cuda-None"])
def test_device_choice_and_lines(available, setting, lines, calls, monkeypatch, capsys):
    fake = FakeTorch(available)
    monkeypatch.setattr(duZER, "torch", fake)
    monkeypatch.setattr(duZER, "train_test_split", Tripwire("train_test_split"))
    with pytest.raises(Stop):
        duZER.FunClassCNNs(*tiny_args(setting))
    printed = capsys.readouterr().out.split("\n")
    assert printed.pop() == ""
    if lines[-1] is HELP:
        assert printed[:2] == [CPU_LINE, GPU_HINT] and len(printed) == 4
        assert all(re.fullmatch(r"https?://\S+", address) for address in printed[2:])
        assert printed[2] != printed[3]
    else:
        assert printed == lines
    assert fake.log == calls


def test_is_available_asked_on_every_call(monkeypatch, capsys):
    fake = FakeTorch(False)
    monkeypatch.setattr(duZER, "torch", fake)
    monkeypatch.setattr(duZER, "train_test_split", Tripwire("train_test_split"))
    for setting in ({}, {"deviceSel": "cpu"}, {"deviceSel": "gpu"}, {"deviceSel": "cpu"}):
        with pytest.raises(Stop):
            duZER.FunClassCNNs(*tiny_args(setting))
    assert fake.log.count("is_available") == 4
    capsys.readouterr()


class Unequal:
    def __eq__(self, other):
        raise Stop("compared")

    __hash__ = object.__hash__


def test_failing_device_setting_comparison_propagates(monkeypatch, capsys):
    fake = FakeTorch(True)
    monkeypatch.setattr(duZER, "torch", fake)
    with pytest.raises(Stop, match="compared"):
        duZER.FunClassCNNs(*tiny_args({"deviceSel": Unequal()}))
    assert fake.log == []
    assert capsys.readouterr().out == ""


def test_rebinding_builtin_print_does_not_redirect_the_lines(monkeypatch, capsys):
    redirected = []
    monkeypatch.setattr(duZER, "torch", FakeTorch(False))
    monkeypatch.setattr(duZER, "train_test_split", Tripwire("train_test_split"))
    monkeypatch.setattr(builtins, "print", lambda *args, **kwargs: redirected.append(args))
    with pytest.raises(Stop):
        duZER.FunClassCNNs(*tiny_args({"deviceSel": "cpu"}))
    monkeypatch.undo()
    assert redirected == []
    assert capsys.readouterr().out == CPU_LINE + "\n"


@pytest.mark.gpu
@pytest.mark.skipif(not torch.cuda.is_available(), reason="needs a CUDA device")
def test_real_cuda_run(capsys):
    """On a real GPU the whole call runs on `cuda:<current>` and trains as
    the CPU does: the weights start from the same draws and the batches come
    in the same order, so only floating-point summation order differs."""
    accuracy, recall, precision, model, info = duZER.FunClassCNNs(*tiny_args({"seed": 1}, 3))
    first = capsys.readouterr().out.split("\n")[0]
    index = torch.cuda.current_device()
    assert first == f"当前设备为：cuda:{index}---{torch.cuda.get_device_name(0)}"
    tensors = list(model.parameters()) + list(model.buffers())
    assert tensors and all(t.device == torch.device("cuda", index) for t in tensors)

    cpu = duZER.FunClassCNNs(*tiny_args({"seed": 1, "deviceSel": "cpu"}, 3))
    capsys.readouterr()
    for key in ("train_losses", "val_losses"):
        assert np.allclose(info[key], cpu[4][key], rtol=1e-3, atol=1e-4), key
    cpu_state = cpu[3].state_dict()
    for name, tensor in model.state_dict().items():
        assert torch.allclose(tensor.cpu(), cpu_state[name], rtol=1e-3, atol=1e-4), name
    assert abs(accuracy - cpu[0]) <= 1 / 12
