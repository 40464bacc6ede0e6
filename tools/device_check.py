"""GPU checks of an already built duZER (tools/device_check.sh builds it and
puts it on PYTHONPATH): the module against the plain twin tests/reference.py
on the same device, where every tensor of a call lives, and the time of a
realistic case on the card.

Without CUDA the same checks run as a dry run on the CPU with tiny sizes, so
that the harness itself is tried before any device time is spent; the lines
that need a GPU then say SKIP.

    python tools/device_check.py [--dry]
"""

from __future__ import annotations

import contextlib
import copy
import io
import statistics
import sys
import time
import warnings
from pathlib import Path
from types import SimpleNamespace

import numpy as np
import torch

import duZER

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import reference  # noqa: E402

# Stated tolerances of the differential on one device. Both sides make the
# same torch calls in the same order, so with deterministic kernels they agree
# exactly; the tolerances only absorb a kernel that is not bitwise
# reproducible from one call to the next.
HISTORY_RTOL, HISTORY_ATOL = 1e-4, 1e-6  # losses and accuracies per epoch
METRIC_ATOL = 1e-6  # accuracy, recall, precision
WEIGHT_RTOL, WEIGHT_ATOL = 1e-4, 1e-6  # every entry of the state dict

FAILURES: list[str] = []


def report(ok: bool | None, what: str, detail: str = "") -> None:
    status = {True: "PASS", False: "FAIL", None: "SKIP"}[ok]
    print(f"[{status}] {what}{': ' + detail if detail else ''}", flush=True)
    if ok is False:
        FAILURES.append(what)


def samples(n: int, shape: tuple[int, ...], classes: int, seed: int = 0):
    rng = np.random.default_rng(seed)
    return rng.random((n, *shape)), rng.integers(0, classes, n)


def arguments(device_sel: str, n: int, shape=(1, 16, 16), classes=4, epochs=3, batch=32, seed=7):
    X, y = samples(n, shape, classes)
    return (X, y, [0.7, 0.15, 0.15], [[3, 3, 8, 1, 1], [3, 3, 16, 1, 1]],
            [["maxPooling2dLayer", 2, 2, 2, 0], ["averagePooling2dLayer", 2, 2, 2, 0]], [32],
            {"MaxEpochs": epochs, "MiniBatchSize": batch, "ValidationFrequency": 1, "InitialLearnRate": 0.01,
             "LearnRateDropPeriod": 1, "LearnRateDropFactor": 0.9},
            {"seed": seed, "deviceSel": device_sel, "figflag": "off"})


def captured(function, args):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        result = function(*copy.deepcopy(args))
    return out.getvalue(), result


def expected_device(gpu: bool) -> torch.device:
    return torch.device("cuda", torch.cuda.current_device()) if gpu else torch.device("cpu")


def device_line(gpu: bool) -> str:
    if not gpu:
        return "当前设备为cpu"
    return f"当前设备为：cuda:{torch.cuda.current_device()}---{torch.cuda.get_device_name(0)}"


def differential(gpu: bool, n: int) -> None:
    what = f"differential against tests/reference.py, deviceSel {'gpu' if gpu else 'cpu'}"
    args = arguments("gpu" if gpu else "cpu", n)
    native_out, native = captured(duZER.FunClassCNNs, args)
    plain_out, plain = captured(reference.FunClassCNNs, args)
    native_lines, plain_lines = native_out.splitlines(), plain_out.splitlines()
    report(native_lines[:1] == plain_lines[:1] == [device_line(gpu)], "device line", native_lines[0])
    same_text = native_lines[1:] == plain_lines[1:]
    first_diff = next((f"{a!r} != {b!r}" for a, b in zip(native_lines[1:], plain_lines[1:]) if a != b),
                      f"{len(native_lines)} != {len(plain_lines)} lines")
    report(same_text, f"{what}: standard output identical after the device line",
           f"{len(native_lines)} lines" if same_text else first_diff)
    metric_dev = max(abs(float(a) - float(b)) for a, b in zip(native[:3], plain[:3]))
    report(metric_dev <= METRIC_ATOL, f"{what}: accuracy, recall, precision", f"max |diff| {metric_dev:.3g}")
    history_ok, history_dev = list(native[4]) == list(plain[4]), 0.0
    for key in plain[4]:
        a, b = np.asarray(native[4][key], dtype=float), np.asarray(plain[4][key], dtype=float)
        history_ok &= a.shape == b.shape and np.allclose(a, b, rtol=HISTORY_RTOL, atol=HISTORY_ATOL)
        if a.shape == b.shape and a.size:
            history_dev = max(history_dev, float(np.max(np.abs(a - b))))
    report(history_ok, f"{what}: history within rtol {HISTORY_RTOL}, atol {HISTORY_ATOL}",
           f"max |diff| {history_dev:.3g}")
    n_state, p_state = native[3].state_dict(), plain[3].state_dict()
    weights_ok, weight_dev = list(n_state) == list(p_state), 0.0
    for key in p_state:
        a, b = n_state[key].detach().cpu().double(), p_state[key].detach().cpu().double()
        weights_ok &= a.shape == b.shape and torch.allclose(a, b, rtol=WEIGHT_RTOL, atol=WEIGHT_ATOL)
        if a.shape == b.shape and a.numel():
            weight_dev = max(weight_dev, float((a - b).abs().max()))
    report(weights_ok, f"{what}: weights within rtol {WEIGHT_RTOL}, atol {WEIGHT_ATOL}",
           f"{len(p_state)} tensors, max |diff| {weight_dev:.3g}")


class Placement:
    """Records the device of every tensor one call creates or computes with:
    the data sets, every module's inputs and outputs (training, validation,
    test and the feature-size probe), and, after the call, the parameters,
    buffers, gradients and optimiser state."""

    def __init__(self):
        self.devices: dict[str, set] = {}
        self.optimisers: list = []

    def note(self, where: str, value) -> None:
        if isinstance(value, torch.Tensor):
            self.devices.setdefault(where, set()).add(value.device)
        elif isinstance(value, (tuple, list)):
            for item in value:
                self.note(where, item)

    @contextlib.contextmanager
    def watching(self):
        placement = self
        real_dataset, real_optim = duZER.TensorDataset, duZER.optim

        def dataset(*tensors):
            placement.note("data sets", tensors)
            return real_dataset(*tensors)

        class Adam(real_optim.Adam):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, **kwargs)
                placement.optimisers.append(self)

        def pre_hook(module, inputs):
            placement.note("module inputs", inputs)

        def hook(module, inputs, output):
            placement.note("module outputs", output)

        # duZER looks its module-level names up at each use.
        duZER.TensorDataset = dataset
        duZER.optim = SimpleNamespace(Adam=Adam, lr_scheduler=real_optim.lr_scheduler)
        handles = [torch.nn.modules.module.register_module_forward_pre_hook(pre_hook),
                   torch.nn.modules.module.register_module_forward_hook(hook)]
        try:
            yield
        finally:
            duZER.TensorDataset, duZER.optim = real_dataset, real_optim
            for handle in handles:
                handle.remove()

    def finish(self, model) -> None:
        for name, parameter in model.named_parameters():
            self.note("parameters", parameter)
            self.note("gradients", parameter.grad)
        self.note("buffers", list(model.buffers()))
        for optimiser in self.optimisers:
            for state in optimiser.state.values():
                self.note("optimiser state", [v for v in state.values() if v.dim() > 0 or v.is_cuda])


def placement(gpu: bool, n: int) -> None:
    want = expected_device(gpu)
    watch = Placement()
    with watch.watching():
        _, result = captured(duZER.FunClassCNNs, arguments("gpu" if gpu else "cpu", n))
    watch.finish(result[3])
    seen = {where: sorted(map(str, devices)) for where, devices in watch.devices.items()}
    kinds = ["data sets", "module inputs", "module outputs", "parameters", "gradients", "buffers", "optimiser state"]
    missing = [k for k in kinds if k not in seen and k != "buffers"]  # this network has no buffers
    ok = not missing and all(devices == {want} for devices in watch.devices.values())
    report(ok, f"every tensor of a call on {want}", ", ".join(f"{k} {v}" for k, v in seen.items())
           + (f"; nothing seen for {missing}" if missing else ""))


def timing(gpu: bool, n: int, epochs: int, rounds: int) -> None:
    device_sel = "gpu" if gpu else "cpu"
    args = arguments(device_sel, n, shape=(1, 28, 28), classes=10, epochs=epochs, batch=128)
    impls = {"duZER": duZER.FunClassCNNs, "reference": reference.FunClassCNNs}
    for fn in impls.values():  # warm-up: CUDA context, kernels, allocator
        captured(fn, arguments(device_sel, 256, shape=(1, 28, 28), classes=10, epochs=1, batch=128))
    times: dict[str, list[float]] = {name: [] for name in impls}
    names = list(impls)
    for i in range(rounds):
        for name in names if i % 2 == 0 else names[::-1]:
            if gpu:
                torch.cuda.synchronize()
            start = time.perf_counter()
            captured(impls[name], args)
            if gpu:
                torch.cuda.synchronize()
            times[name].append(time.perf_counter() - start)
    med = {name: statistics.median(values) for name, values in times.items()}
    where = torch.cuda.get_device_name(0) if gpu else "CPU (dry run)"
    report(True, f"timing on {where}: {n} samples 1x28x28, {epochs} epochs, batch 128, {rounds} rounds",
           f"duZER {med['duZER']:.2f} s, reference {med['reference']:.2f} s, ratio "
           f"{med['duZER'] / med['reference']:.3f} (per round: "
           + ", ".join(f"{a:.2f}/{b:.2f}" for a, b in zip(times["duZER"], times["reference"])) + ")")


def main() -> int:
    warnings.simplefilter("ignore")
    gpu = torch.cuda.is_available() and "--dry" not in sys.argv
    print(f"torch {torch.__version__}, CUDA {'available' if torch.cuda.is_available() else 'not available'}"
          + (f", current device cuda:{torch.cuda.current_device()} ({torch.cuda.get_device_name(0)})" if gpu else ""),
          flush=True)
    # Deterministic kernels, so that the two sides can be compared closely.
    torch.backends.cudnn.benchmark = False
    torch.backends.cudnn.deterministic = True
    torch.use_deterministic_algorithms(True, warn_only=True)
    if gpu:
        differential(True, 1200)
        placement(True, 600)
        timing(True, 20000, 3, 4)
    else:
        report(None, "differential, placement and timing on a GPU", "no CUDA device; dry run of the same checks on the CPU")
        differential(False, 300)
        placement(False, 200)
        timing(False, 1000, 1, 2)
    print(f"device_check.py: {'FAILED: ' + ', '.join(FAILURES) if FAILURES else 'all checks passed'}")
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
