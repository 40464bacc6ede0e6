#!/usr/bin/env python3
"""Cost of duZER's own glue: duZER.FunClassCNNs against the same procedure in plain Python.

Both implementations run in this one process on the very same argument
objects, alternating (rounds A B, B A, ...), with standard output sent to a null sink,
figures off, CPU device, a fixed seed and a fixed torch thread count. Cases:

  glue       tiny 4x4 samples, batch size 2, a tiny network: per-batch glue dominates
  digits     scikit-learn's 8x8 digits, batch 64, the network of examples/demo.py
  scaling    synthetic 1x16x16 samples at 1k, 4k, 16k: time per epoch in this
             process, peak resident memory in one child process per
             implementation and size

Also measured: the fixed data path of a call against the floor of torch's own
compute (case digits and the largest scaling size), and a cProfile breakdown of
one digits call into batching, forward, backward, optimiser, metrics, ...

Prints compact tables and writes them as JSON to bench/out/latest.json.

    PYTHONPATH=build/bench .venv/bin/python bench/run_bench.py [--quick]
"""

from __future__ import annotations

import argparse
import contextlib
import copy
import cProfile
import gc
import importlib.util
import json
import math
import os
import platform
import pstats
import resource
import statistics
import subprocess
import sys
import time
import warnings
from pathlib import Path

os.environ["MPLBACKEND"] = "Agg"

import numpy as np  # noqa: E402
import torch  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
OUT_DIR = ROOT / "bench" / "out"
REFERENCE_PATH = ROOT / "tests" / "reference.py"

SETTING = {"seed": 1, "figflag": "off", "deviceSel": "cpu"}
DIVIDE = [0.7, 0.15, 0.15]
# examples/demo.py's network.
DEMO_NET = ([[3, 3, 16, 1, 1], [3, 3, 32, 1, 1]],
            [["none", 2, 2, 2, 0], ["maxPooling2dLayer", 2, 2, 2, 0]],
            [64])
TINY_NET = ([[2, 2, 2, 1, 0]], [["none", 2, 2, 2, 0]], [])
SCALING_SIZES = (1000, 4000, 16000)
SCALING_EPOCHS = 2


# --------------------------------------------------------------------------- cases

def glue_args(n: int = 256, epochs: int = 3) -> tuple:
    """Tiny samples and batch size 2: hundreds of batches of almost no compute."""
    rng = np.random.default_rng(0)
    X = rng.random((n, 1, 4, 4))
    y = rng.integers(0, 3, n)
    options = {"MaxEpochs": epochs, "MiniBatchSize": 2, "ValidationFrequency": 1}
    return (X, y, DIVIDE, *TINY_NET, options, SETTING)


def digits_args(epochs: int = 5) -> tuple:
    from sklearn.datasets import load_digits

    digits = load_digits()
    X = digits.images.reshape(-1, 1, 8, 8).astype(np.float64)
    y = digits.target.astype(np.int64)
    options = {"MaxEpochs": epochs, "MiniBatchSize": 64, "InitialLearnRate": 0.002,
               "ValidationFrequency": 5, "LearnRateDropPeriod": 5, "LearnRateDropFactor": 0.8}
    return (X, y, DIVIDE, *DEMO_NET, options, SETTING)


def synthetic_args(n: int, epochs: int) -> tuple:
    rng = np.random.default_rng(n)
    X = rng.random((n, 1, 16, 16))
    y = rng.integers(0, 10, n)
    # Validation only before training: the epochs are pure training epochs.
    options = {"MaxEpochs": epochs, "MiniBatchSize": 64, "ValidationFrequency": 10**6}
    return (X, y, DIVIDE, *DEMO_NET, options, SETTING)


# --------------------------------------------------------------------------- set-up

def setup_process(threads: int) -> None:
    torch.set_num_threads(threads)
    with contextlib.suppress(RuntimeError):
        torch.set_num_interop_threads(1)
    # Metric warnings (classes never predicted) would go to stderr on the first
    # run only; ignoring them keeps every run of both implementations alike.
    warnings.simplefilter("ignore")


def load_implementations(reference_path: Path = REFERENCE_PATH) -> dict:
    import duZER

    if not reference_path.exists():
        sys.exit(f"run_bench: {reference_path} not found (the plain-Python procedure)")
    spec = importlib.util.spec_from_file_location("reference", reference_path)
    reference = importlib.util.module_from_spec(spec)
    sys.modules["reference"] = reference
    spec.loader.exec_module(reference)
    return {"duZER": duZER.FunClassCNNs, "python": reference.FunClassCNNs}


def run_quiet(fn, args):
    with open(os.devnull, "w") as sink, contextlib.redirect_stdout(sink):
        return fn(*args)


def timed(fn, args) -> tuple[float, float, tuple]:
    gc.collect()
    with open(os.devnull, "w") as sink, contextlib.redirect_stdout(sink):
        w0, c0 = time.perf_counter(), time.process_time()
        result = fn(*args)
        c1, w1 = time.process_time(), time.perf_counter()
    return w1 - w0, c1 - c0, result


def same_results(a: tuple, b: tuple) -> bool:
    """Metrics and the whole training history agree exactly."""
    return tuple(a[:3]) == tuple(b[:3]) and all(
        list(map(float, a[4][k])) == list(map(float, b[4][k])) for k in a[4])


def log(message: str) -> None:
    print(f"[run_bench] {message}", file=sys.stderr, flush=True)


def median_ms(values: list[float]) -> float:
    return round(1000 * statistics.median(values), 3)


# --------------------------------------------------------------------------- A/B timing

def alternate(impls: dict, args: tuple, reps: int) -> dict:
    """One untimed warm-up each, then `reps` rounds of A B; medians and ratios."""
    warm = {name: run_quiet(fn, args) for name, fn in impls.items()}
    identical = same_results(warm["duZER"], warm["python"])
    del warm
    wall = {name: [] for name in impls}
    cpu = {name: [] for name in impls}
    names = list(impls)
    for i in range(reps):
        # Rounds alternate the order (A B, B A, ...): drift and after-effects of
        # the preceding call fall on both implementations alike.
        for name in (names if i % 2 == 0 else names[::-1]):
            w, c, result = timed(impls[name], args)
            del result
            wall[name].append(w)
            cpu[name].append(c)
    out = {"reps": reps, "identical_results": identical}
    for name in impls:
        out[name] = {"wall_ms": median_ms(wall[name]), "cpu_ms": median_ms(cpu[name]),
                     "wall_min_ms": round(1000 * min(wall[name]), 3)}
    out["ratio_wall"] = round(out["duZER"]["wall_ms"] / out["python"]["wall_ms"], 4)
    out["ratio_cpu"] = round(out["duZER"]["cpu_ms"] / out["python"]["cpu_ms"], 4)
    # Each round's two runs are seconds apart: the median of their ratios is the
    # estimate least moved by load that other processes put on the machine.
    out["ratio_paired"] = round(statistics.median(
        a / b for a, b in zip(wall["duZER"], wall["python"])), 4)
    out["ratio_min"] = round(min(wall["duZER"]) / min(wall["python"]), 4)
    return out


def batches_per_call(args: tuple) -> int:
    """Training, validation and test batches of one call (first split ceil, then floor)."""
    n = len(args[1])
    options = args[6]
    bs, epochs = options["MiniBatchSize"], options["MaxEpochs"]
    rest = math.ceil((1 - DIVIDE[0]) * n)
    n_train = n - rest
    n_test = math.ceil(DIVIDE[2] / (DIVIDE[1] + DIVIDE[2]) * rest)
    n_val = rest - n_test
    vf = options["ValidationFrequency"]
    validations = 1 + epochs // vf

    def b(k):
        return -(-k // bs)

    return epochs * b(n_train) + validations * b(n_val) + b(n_test)


def scaling_times(impls: dict, reps: int) -> dict:
    """Per-epoch time: (median call with SCALING_EPOCHS epochs - median call with 0) / epochs."""
    out = {}
    for n in SCALING_SIZES:
        a0, aE = synthetic_args(n, 0), synthetic_args(n, SCALING_EPOCHS)
        aE = (a0[0], a0[1], *aE[2:])  # same sample arrays for both
        for name, fn in impls.items():
            run_quiet(fn, a0)
        t = {(name, e): [] for name in impls for e in (0, SCALING_EPOCHS)}
        names = list(impls)
        for i in range(reps):
            for args, e in ((a0, 0), (aE, SCALING_EPOCHS)):
                for name in (names if i % 2 == 0 else names[::-1]):
                    w, _c, result = timed(impls[name], args)
                    del result
                    t[name, e].append(w)
        row = {}
        for name in impls:
            t0 = statistics.median(t[name, 0])
            tE = statistics.median(t[name, SCALING_EPOCHS])
            row[name] = {"call0_ms": round(1000 * t0, 2),
                         f"call{SCALING_EPOCHS}_ms": round(1000 * tE, 2),
                         "epoch_ms": round(1000 * (tE - t0) / SCALING_EPOCHS, 2),
                         "epoch_min_ms": round(1000 * (min(t[name, SCALING_EPOCHS])
                                                       - min(t[name, 0])) / SCALING_EPOCHS, 2)}
        row["ratio_epoch"] = round(row["duZER"]["epoch_ms"] / row["python"]["epoch_ms"], 4)
        row["ratio_epoch_min"] = round(row["duZER"]["epoch_min_ms"]
                                       / row["python"]["epoch_min_ms"], 4)
        row["ratio_call"] = round(row["duZER"][f"call{SCALING_EPOCHS}_ms"]
                                  / row["python"][f"call{SCALING_EPOCHS}_ms"], 4)
        out[str(n)] = row
    return out


# --------------------------------------------------------------------------- peak RSS

def _status_kib(field: str) -> int | None:
    with contextlib.suppress(OSError):
        for line in Path("/proc/self/status").read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return None


def child_rss(impl: str, n: int, threads: int, reference_path: Path) -> None:
    """Runs in a child process: one call; resident memory before it and the peak after."""
    setup_process(threads)
    impls = load_implementations(reference_path)  # both imported: the same baseline
    args = synthetic_args(n, 1)
    gc.collect()
    before = _status_kib("VmRSS") or resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    result = run_quiet(impls[impl], args)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    del result
    print(json.dumps({"before_kib": before, "peak_kib": peak, "hwm_kib": _status_kib("VmHWM")}))


def scaling_rss(threads: int, reference_path: Path) -> dict:
    """Peak RSS of one call per implementation and size, each in a fresh child.

    ru_maxrss survives execve on Linux, so a child exec'd straight from this
    (large) process would report this process's peak; /bin/sh forks a clean
    child in between.
    """
    out = {}
    for n in SCALING_SIZES:
        row = {}
        for impl in ("duZER", "python"):
            cmd = ["/bin/sh", "-c", '"$@"; exit $?', "sh",
                   sys.executable, str(Path(__file__).resolve()), "--child-rss", impl, str(n),
                   "--threads", str(threads), "--reference", str(reference_path)]
            proc = subprocess.run(cmd, env=os.environ.copy(), capture_output=True, text=True,
                                  check=True)
            r = json.loads(proc.stdout.strip().splitlines()[-1])
            row[impl] = {"peak_mib": round(r["peak_kib"] / 1024, 1),
                         "call_mib": round((r["peak_kib"] - r["before_kib"]) / 1024, 1)}
        row["ratio_peak"] = round(row["duZER"]["peak_mib"] / row["python"]["peak_mib"], 4)
        out[str(n)] = row
    return out


# --------------------------------------------------------------------------- data path vs floor

def data_path(impls: dict, args: tuple, reps: int) -> dict:
    """Per-epoch cost of the pieces of the fixed data path against torch's compute.

    Each piece is timed on its own over one training epoch's batches, so that
    small costs are not differences of two large, noisy figures:
    floor        forward, loss, backward, Adam step on contiguous slices of a
                 tensor shuffled once (what torch itself must do)
    slicing      that shuffle and slicing alone
    loader       iterating DataLoader(TensorDataset, shuffle=True) alone
    bookkeeping  the per-batch steps of a call around the compute, on outputs
                 computed beforehand: loss.item() * data.size(0), torch.max,
                 preds.cpu().numpy() and labels.cpu().numpy() into Python
                 lists, then accuracy_score over the lists
    One-off per call: float32 conversion of the whole data set, both splits.
    Each figure is the fastest of `reps` rounds (one untimed round first).
    """
    from sklearn.metrics import accuracy_score
    from sklearn.model_selection import train_test_split
    from torch.utils.data import DataLoader, TensorDataset

    X, y = args[0], args[1]
    bs = args[6]["MiniBatchSize"]
    trained = run_quiet(impls["python"], args)[3]

    def one_off():
        Xs = (X - np.min(X)) / (np.max(X) - np.min(X))
        t0 = time.perf_counter()
        Xt = torch.tensor(Xs, dtype=torch.float32).to("cpu")
        yt = torch.tensor(y, dtype=torch.long).to("cpu")
        t1 = time.perf_counter()
        tr, te, trl, tel = train_test_split(Xt, yt, test_size=1 - DIVIDE[0], random_state=42)
        va, te, val, tel = train_test_split(te, tel, test_size=0.5, random_state=42)
        t2 = time.perf_counter()
        return t1 - t0, t2 - t1, tr, trl

    conv, split, Xtr, ytr = one_off()
    criterion = torch.nn.CrossEntropyLoss()
    with torch.no_grad():
        done = [(d, lab, trained(d), None) for d, lab in
                DataLoader(TensorDataset(Xtr, ytr), batch_size=bs, shuffle=True)]
        done = [(d, lab, out, criterion(out, lab)) for d, lab, out, _ in done]

    def shuffled_slices():
        perm = torch.randperm(len(Xtr))
        Xp, yp = Xtr[perm], ytr[perm]
        return ((Xp[i:i + bs], yp[i:i + bs]) for i in range(0, len(Xp), bs))

    def floor() -> float:
        model = copy.deepcopy(trained)
        model.train()
        opt = torch.optim.Adam(model.parameters(), lr=0.001)
        gc.collect()
        t0 = time.perf_counter()
        for data, labels in shuffled_slices():
            opt.zero_grad()
            loss = criterion(model(data), labels)
            loss.backward()
            opt.step()
        return time.perf_counter() - t0

    def slicing() -> float:
        t0 = time.perf_counter()
        for _batch in shuffled_slices():
            pass
        return time.perf_counter() - t0

    def loader() -> float:
        t0 = time.perf_counter()
        for _batch in DataLoader(TensorDataset(Xtr, ytr), batch_size=bs, shuffle=True):
            pass
        return time.perf_counter() - t0

    def bookkeeping() -> float:
        gc.collect()
        t0 = time.perf_counter()
        total, preds_l, true_l = 0.0, [], []
        for data, labels, outputs, loss in done:
            total += loss.item() * data.size(0)
            _, preds = torch.max(outputs, 1)
            preds_l.extend(preds.cpu().numpy())
            true_l.extend(labels.cpu().numpy())
        accuracy_score(true_l, preds_l)
        return time.perf_counter() - t0

    pieces = {"floor": floor, "slicing": slicing, "loader": loader, "bookkeeping": bookkeeping}
    t = {k: [] for k in pieces}
    for k, fn in pieces.items():
        fn()
    for _ in range(reps):
        for k, fn in pieces.items():
            t[k].append(fn())
    conv_t, split_t = [conv], [split]
    for _ in range(reps - 1):
        c, s, *_ = one_off()
        conv_t.append(c)
        split_t.append(s)
    # Fastest of the rounds: the figure least moved by other load on the machine.
    best = {k: min(v) for k, v in t.items()}
    out = {f"{k}_ms": round(1000 * v, 3) for k, v in best.items()}
    out["median_ms"] = {k: median_ms(v) for k, v in t.items()}
    # Relative to the floor: what the loader adds over slicing, what the
    # bookkeeping adds.
    out["batching_vs_floor"] = round((best["loader"] - best["slicing"]) / best["floor"], 4)
    out["bookkeeping_vs_floor"] = round(best["bookkeeping"] / best["floor"], 4)
    out["convert_ms"] = round(1000 * min(conv_t), 3)
    out["split_ms"] = round(1000 * min(split_t), 3)
    out["train_samples"] = len(Xtr)
    return out


# --------------------------------------------------------------------------- profile

# (path fragment, function name or None): the category of everything a
# function runs, unless a deeper rule matches. Functions matching no rule
# (builtins, numpy, helpers) inherit their callers' categories, weighted by
# the time spent under each caller.
PROFILE_RULES = [
    ("torch/utils/data/", None, "batching (DataLoader)"),
    ("torch/nn/modules/module.py", "_wrapped_call_impl", "forward + loss"),
    ("torch/nn/modules/module.py", "_call_impl", "forward + loss"),
    ("torch/nn/functional.py", None, "forward + loss"),
    ("torch/_tensor.py", "backward", "backward"),
    ("torch/autograd/", None, "backward"),
    ("torch/optim/", None, "optimiser + schedule"),
    ("sklearn/metrics/", None, "metrics (sklearn)"),
    ("sklearn/model_selection/", None, "split (sklearn)"),
    ("torch/nn/modules/module.py", "to", "model set-up"),
    ("torch/nn/", "__init__", "model set-up"),
    ("torch/nn/", "reset_parameters", "model set-up"),
    ("torch/nn/init.py", None, "model set-up"),
]
ROOT_CATEGORY = "procedure's own steps"


def _rule(func: tuple) -> str | None:
    filename, _line, name = func
    filename = filename.replace("\\", "/")
    for fragment, fname, category in PROFILE_RULES:
        if fragment in filename and (fname is None or fname == name):
            return category
    return None


def categorise(stats: pstats.Stats, roots: set) -> dict:
    table = stats.stats
    memo: dict = {}

    def dist(func, depth=0):
        if func in memo:
            return memo[func]
        if func in roots or depth > 200:
            return {ROOT_CATEGORY: 1.0}
        category = _rule(func)
        if category is not None:
            memo[func] = {category: 1.0}
            return memo[func]
        memo[func] = {"other": 1.0}  # cycle guard
        callers = table[func][4]
        weights = {c: max(v[2] + 1e-12, 0.0) for c, v in callers.items() if c in table}
        total = sum(weights.values())
        d: dict = {}
        if total <= 0:
            d = {"other": 1.0}
        else:
            for c, w in weights.items():
                for cat, share in dist(c, depth + 1).items():
                    d[cat] = d.get(cat, 0.0) + share * w / total
        memo[func] = d
        return d

    out: dict = {}
    direct: dict = {}
    for func, (_cc, _nc, tt, _ct, callers) in table.items():
        for cat, share in dist(func).items():
            out[cat] = out.get(cat, 0.0) + tt * share
        # Builtins called straight from the procedure, by name.
        if func[0] == "~" and any(c in roots for c in callers):
            tt_root = sum(v[2] for c, v in callers.items() if c in roots)
            direct[func[2]] = direct.get(func[2], 0.0) + tt_root
    return out, direct


def profile_call(impls: dict, args: tuple) -> dict:
    out = {}
    for name, fn in impls.items():
        run_quiet(fn, args)
        gc.collect()
        prof = cProfile.Profile()
        t0 = time.perf_counter()
        with open(os.devnull, "w") as sink, contextlib.redirect_stdout(sink):
            # Through a Python frame, so that a native callable is recorded too.
            prof.runcall(lambda: fn(*args))
        wall = time.perf_counter() - t0
        stats = pstats.Stats(prof)
        here = str(Path(__file__).resolve())
        ref_file = str(Path(sys.modules["reference"].__file__).resolve())
        # The procedure's own frames: the native entry, the plain function and
        # its helpers (not the network's methods, reached through torch.nn).
        roots = {f for f in stats.stats
                 if (f[0] == "~" and "FunClassCNNs" in f[2])
                 or (f[2] == "<lambda>" and str(Path(f[0]).resolve()) == here)
                 or (f[0] != "~" and str(Path(f[0]).resolve()) == ref_file
                     and f[2] not in ("__init__", "forward", "get_conv_output_size"))}
        cats, direct = categorise(stats, roots)
        total = sum(cats.values())
        out[name] = {
            "profiled_wall_ms": round(1000 * wall, 1),
            "shares": {k: round(v / total, 4) for k, v in sorted(cats.items(),
                                                                 key=lambda kv: -kv[1])},
            "top_direct": {k: round(v / total, 4) for k, v in
                           sorted(direct.items(), key=lambda kv: -kv[1])[:8]},
        }
    return out


# --------------------------------------------------------------------------- report

def print_report(res: dict) -> None:
    m = res["machine"]
    print(f"\nmachine: {m['cpu']}, {m['cores']} cores; torch {m['torch']} "
          f"threads={m['torch_threads']}; python {m['python']}")
    print("\n case         reps  duZER wall  python wall  ratio  duZER cpu  python cpu  ratio"
          "  paired  of-min  batches/call  same")
    for case in ("glue", "digits"):
        r = res[case]
        print(f" {case:<12} {r['reps']:>4} {r['duZER']['wall_ms']:>9.1f}ms "
              f"{r['python']['wall_ms']:>10.1f}ms {r['ratio_wall']:>6.3f} "
              f"{r['duZER']['cpu_ms']:>8.1f}ms {r['python']['cpu_ms']:>9.1f}ms "
              f"{r['ratio_cpu']:>6.3f} {r['ratio_paired']:>7.3f} {r['ratio_min']:>7.3f} "
              f"{r['batches_per_call']:>13} "
              f"{'yes' if r['identical_results'] else 'NO'}")
    g = res["glue"]
    per_batch = (g["duZER"]["wall_ms"] - g["python"]["wall_ms"]) / g["batches_per_call"]
    print(f" glue: duZER - python = {1000 * per_batch:+.2f} us per batch")
    if "scaling" in res:
        s, rss = res["scaling"], res.get("scaling_rss", {})
        print(f"\n scaling (1x16x16, demo net, batch 64; epoch = (call {SCALING_EPOCHS} epochs"
              " - call 0 epochs) / " f"{SCALING_EPOCHS})")
        print("   samples  duZER epoch  python epoch  ratio  of-min  duZER call  python call  ratio"
              "  peak RSS duZER/python (call's own)")
        for n, r in s.items():
            line = (f"   {n:>7} {r['duZER']['epoch_ms']:>10.1f}ms"
                    f" {r['python']['epoch_ms']:>11.1f}ms"
                    f" {r['ratio_epoch']:>6.3f} {r['ratio_epoch_min']:>7.3f}"
                    f" {r['duZER'][f'call{SCALING_EPOCHS}_ms']:>9.1f}ms"
                    f" {r['python'][f'call{SCALING_EPOCHS}_ms']:>10.1f}ms {r['ratio_call']:>6.3f}")
            if n in rss:
                d, p = rss[n]["duZER"], rss[n]["python"]
                line += (f"  {d['peak_mib']:.0f}/{p['peak_mib']:.0f} MiB"
                         f" ({d['call_mib']:.1f}/{p['call_mib']:.1f})")
            print(line)
    for key in ("data_path_digits", f"data_path_{SCALING_SIZES[-1]}"):
        if key in res:
            d = res[key]
            print(f"\n {key}, one training epoch ({d['train_samples']} samples), fastest of"
                  f" the rounds: compute floor {d['floor_ms']:.1f}ms; DataLoader iteration"
                  f" {d['loader_ms']:.1f}ms against slicing {d['slicing_ms']:.1f}ms"
                  f" (+{100 * d['batching_vs_floor']:.1f}% of the floor); bookkeeping"
                  f" {d['bookkeeping_ms']:.1f}ms ({100 * d['bookkeeping_vs_floor']:.1f}%);"
                  f" once per call: float32 copy {d['convert_ms']:.2f}ms,"
                  f" splits {d['split_ms']:.2f}ms")
    if "profile_digits" in res:
        for name, p in res["profile_digits"].items():
            shares = ", ".join(f"{k} {100 * v:.1f}%" for k, v in p["shares"].items())
            print(f"\n profile digits, {name} ({p['profiled_wall_ms']:.0f} ms under cProfile):"
                  f" {shares}")
            if name == "python":
                top = ", ".join(f"{k} {100 * v:.1f}%" for k, v in p["top_direct"].items())
                print(f"   direct calls of the procedure: {top}")
    print()


def machine_info(threads: int) -> dict:
    cpu = platform.processor() or "unknown"
    with contextlib.suppress(OSError):
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    import duZER

    return {"cpu": cpu, "cores": os.cpu_count(), "torch": torch.__version__,
            "torch_threads": threads, "python": platform.python_version(),
            "duZER": duZER.__file__}


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--threads", type=int, default=1, help="torch.set_num_threads (default 1)")
    ap.add_argument("--reps", type=int, default=15, help="A/B rounds for glue and digits")
    ap.add_argument("--scaling-reps", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="fewer rounds, no scaling series")
    ap.add_argument("--reference", type=Path, default=REFERENCE_PATH)
    ap.add_argument("--json", type=Path, default=OUT_DIR / "latest.json")
    ap.add_argument("--child-rss", nargs=2, metavar=("IMPL", "N"), help=argparse.SUPPRESS)
    a = ap.parse_args()

    if a.child_rss:
        child_rss(a.child_rss[0], int(a.child_rss[1]), a.threads, a.reference)
        return

    setup_process(a.threads)
    impls = load_implementations(a.reference)
    reps = 3 if a.quick else a.reps
    res: dict = {"machine": machine_info(a.threads)}
    t_start = time.perf_counter()

    log(f"glue case, {reps} rounds")
    args = glue_args()
    res["glue"] = alternate(impls, args, reps)
    res["glue"]["batches_per_call"] = batches_per_call(args)
    log(f"digits case, {reps} rounds")
    args = digits_args()
    res["digits"] = alternate(impls, args, reps)
    res["digits"]["batches_per_call"] = batches_per_call(args)
    log("digits: data path against the compute floor, profile")
    res["data_path_digits"] = data_path(impls, args, 10)
    res["profile_digits"] = profile_call(impls, args)
    if not a.quick:
        log(f"scaling series {SCALING_SIZES}, {a.scaling_reps} rounds")
        res["scaling"] = scaling_times(impls, a.scaling_reps)
        log("scaling series: peak RSS in child processes")
        res["scaling_rss"] = scaling_rss(a.threads, a.reference)
        big = SCALING_SIZES[-1]
        log(f"{big} samples: data path against the compute floor")
        res[f"data_path_{big}"] = data_path(impls, synthetic_args(big, 1), 3)
    res["elapsed_s"] = round(time.perf_counter() - t_start, 1)

    print_report(res)
    a.json.parent.mkdir(parents=True, exist_ok=True)
    a.json.write_text(json.dumps(res, indent=1) + "\n")
    print(f"written {a.json} ({res['elapsed_s']} s)")


if __name__ == "__main__":
    main()
