#!/usr/bin/env python3
"""Instructions per call under callgrind, duZER against plain Python.

Two cases: "glue" (tiny samples, batch 2: the per-batch glue dominates) and
"digits" (the demo's data and network for one epoch: torch's compute does).

One valgrind process starts with instrumentation off, imports everything and
makes one untimed warm-up call of each implementation (imports and first-call
costs stay outside). It then opens five windows, each switched on and off from
inside the process with `callgrind_control -i on|off <pid>` and closed with a
dump: an empty window (the cost of switching itself, subtracted from the
others), then duZER, plain Python, plain Python, duZER, one call each.
Reported: mean instructions per call, their ratio, and the self (exclusive)
instructions of the functions that live in duZER's shared object, as a share
of the duZER call.

    PYTHONPATH=build/bench .venv/bin/python bench/callgrind_glue.py [--case glue|digits]
"""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
OUT_DIR = HERE / "out"
# Two calls of each, in the order A B B A; the empty window measures switching.
WINDOWS = ("empty", "duZER.1", "python.1", "python.2", "duZER.2")
IMPLS = ("duZER", "python")
RECURSION_MARK = re.compile(r"'\d+$")
# Smaller than the timed cases: valgrind runs a call some 50 times slower.
# "glue": per-batch glue dominates; "digits": the demo's data and network, one
# epoch, where torch's compute dominates.
CASES = {
    "glue": "128 x 1 x 4 x 4, batch 2, 2 epochs, validation every epoch",
    "digits": "1797 x 1 x 8 x 8 digits, batch 64, demo network, 1 epoch",
}


def case_args(case: str) -> tuple:
    import run_bench

    if case == "glue":
        return run_bench.glue_args(128, 2)
    return run_bench.digits_args(epochs=1)


# --------------------------------------------------------------------------- inside valgrind

def control(*flags: str) -> None:
    """Runs callgrind_control on this process and keeps executing until it answers.

    Valgrind picks up the command only while the client runs code, so the
    reply is polled for in short sleeps rather than one blocking wait; each
    round costs few instructions, and the empty window measures what is left.
    """
    proc = subprocess.Popen(["callgrind_control", *flags, str(os.getpid())],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    while proc.poll() is None:
        time.sleep(0.0005)
    text = proc.stdout.read().decode(errors="replace")
    if proc.returncode != 0 or "OK" not in text:
        sys.exit(f"callgrind_control {' '.join(flags)} failed: {text.strip()}")


def inner(reference: Path, case: str) -> None:
    sys.path.insert(0, str(HERE))
    import run_bench

    run_bench.setup_process(1)
    impls = run_bench.load_implementations(reference)
    args = case_args(case)
    for fn in impls.values():
        run_bench.run_quiet(fn, args)
    import gc

    for label in WINDOWS:
        gc.collect()
        fn = impls.get(label.split(".")[0])
        gc.disable()
        control("-i", "on")
        if fn is not None:
            result = run_bench.run_quiet(fn, args)
        control("-i", "off")
        gc.enable()
        control(f"--dump={label}")
        if fn is not None:
            del result
    print(json.dumps({"batches_per_call": run_bench.batches_per_call(args)}))


# --------------------------------------------------------------------------- parsing

def parse_dump(path: Path) -> dict:
    """Total instructions and the self cost of every function, keyed (object, function).

    Reads the callgrind format directly: ob=/fn= name the current function,
    calls= lines are followed by the inclusive cost of that call, which does
    not count as the caller's self cost.
    """
    names = {"ob": {}, "fl": {}, "fn": {}}
    kinds = {"ob": "ob", "cob": "ob", "fl": "fl", "fi": "fl", "fe": "fl", "cfi": "fl",
             "cfl": "fl", "fn": "fn", "cfn": "fn"}
    compressed = re.compile(r"\((\d+)\)(?:\s+(.*))?$")
    obj = fn = ""
    fn_obj = ""
    skip_next = False
    total = 0
    self_cost: dict = {}
    desc = ""
    ir_index = 0
    for raw in path.open(errors="replace"):
        line = raw.rstrip("\n")
        if not line:
            continue
        c = line[0]
        if c.isdigit() or c in "+-*":
            if skip_next:
                skip_next = False
                continue
            parts = line.split()
            if len(parts) > 1 + ir_index:
                # Callgrind marks recursion levels as name'2, name'3: one function.
                key = (os.path.basename(fn_obj), RECURSION_MARK.sub("", fn))
                self_cost[key] = self_cost.get(key, 0) + int(parts[1 + ir_index])
            continue
        key, _, value = line.partition("=")
        if key in kinds:
            m = compressed.match(value)
            table = names[kinds[key]]
            if m:
                if m.group(2) is not None:
                    table[m.group(1)] = m.group(2)
                value = table.get(m.group(1), value)
            if key == "ob":
                obj = value
            elif key == "fn":
                fn, fn_obj = value, obj
            continue
        if key == "calls":
            skip_next = True
            continue
        if line.startswith("events:"):
            ir_index = line.split()[1:].index("Ir")
        elif line.startswith(("summary:", "totals:")):
            total = int(line.split()[1 + ir_index])
        elif line.startswith("desc: Trigger:"):
            desc = line.split(":", 2)[2].strip()
    return {"total": total, "self": self_cost, "desc": desc}


def find_duzer_object() -> str:
    import importlib.util

    spec = importlib.util.find_spec("duZER")
    if spec is None or spec.origin is None:
        sys.exit("callgrind_glue: duZER is not importable")
    return os.path.basename(spec.origin)


# --------------------------------------------------------------------------- outer

def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--inner", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--json", type=Path, default=OUT_DIR / "latest.json",
                    help="merged into this file under the key 'callgrind'")
    ap.add_argument("--top", type=int, default=15)
    ap.add_argument("--case", choices=sorted(CASES), default="glue")
    ap.add_argument("--reference", type=Path, default=HERE.parent / "tests" / "reference.py",
                    help="the plain-Python procedure")
    a = ap.parse_args()
    if a.inner:
        inner(a.reference, a.case)
        return
    if shutil.which("valgrind") is None or shutil.which("callgrind_control") is None:
        print("callgrind_glue: valgrind/callgrind_control not found; skipped")
        return

    OUT_DIR.mkdir(parents=True, exist_ok=True)
    for old in OUT_DIR.glob(f"callgrind.{a.case}.*"):
        old.unlink()
    base = OUT_DIR / f"callgrind.{a.case}"
    env = dict(os.environ, MPLBACKEND="Agg")
    cmd = ["valgrind", "--tool=callgrind", "--instr-atstart=no",
           f"--callgrind-out-file={base}.%p", sys.executable, str(Path(__file__).resolve()),
           "--inner", "--case", a.case, "--reference", str(a.reference)]
    t0 = time.perf_counter()
    proc = subprocess.run(cmd, env=env, capture_output=True, text=True)
    elapsed = time.perf_counter() - t0
    if proc.returncode != 0:
        sys.stderr.write(proc.stderr[-4000:])
        sys.exit(f"callgrind_glue: valgrind run failed ({proc.returncode})")
    info = json.loads(proc.stdout.strip().splitlines()[-1])

    so_name = find_duzer_object()
    dumps = sorted((p for p in OUT_DIR.glob(f"callgrind.{a.case}.*.*")),
                   key=lambda p: int(p.suffix[1:]))
    parsed = {}
    for p in dumps:
        d = parse_dump(p)
        for label in WINDOWS:
            if label in d["desc"].split():
                parsed[label] = d | {"file": p.name}
    missing = [w for w in WINDOWS if w not in parsed]
    if missing:
        sys.exit(f"callgrind_glue: no dump for {missing} in {[p.name for p in dumps]}")

    floor = parsed["empty"]["total"]
    calls = {i: [parsed[w]["total"] - floor for w in WINDOWS if w.startswith(i + ".")]
             for i in IMPLS}
    net = {i: sum(v) / len(v) for i, v in calls.items()}
    mean_self = {}
    for i in IMPLS:
        windows = [w for w in WINDOWS if w.startswith(i + ".")]
        acc: dict = {}
        for w in windows:
            for key, ir in parsed[w]["self"].items():
                acc[key] = acc.get(key, 0) + ir / len(windows)
        mean_self[i] = acc
    own = {f: ir for (ob, f), ir in mean_self["duZER"].items() if ob == so_name}
    own_total = sum(own.values())
    # Where the two calls differ outside the shared object: the same library
    # code reached along other paths (calling conventions, formatting, ...).
    keys = set(mean_self["duZER"]) | set(mean_self["python"])
    diff = {k: mean_self["duZER"].get(k, 0) - mean_self["python"].get(k, 0)
            for k in keys if k[0] != so_name}
    more = sorted(diff.items(), key=lambda kv: -kv[1])[: a.top]
    less = sorted(diff.items(), key=lambda kv: kv[1])[: a.top]
    top = sorted(own.items(), key=lambda kv: -kv[1])[: a.top]
    batches = info["batches_per_call"]
    res = {
        "case": f"{CASES[a.case]} ({batches} batches per call)",
        "batches_per_call": batches,
        "switch_cost_ir": floor,
        "duZER_ir": round(net["duZER"]),
        "python_ir": round(net["python"]),
        "duZER_ir_each": calls["duZER"],
        "python_ir_each": calls["python"],
        "ratio": round(net["duZER"] / net["python"], 5),
        "diff_ir_per_batch": round((net["duZER"] - net["python"]) / batches, 1),
        "own_self_ir": round(own_total),
        "own_self_share": round(own_total / net["duZER"], 6),
        "own_self_ir_per_batch": round(own_total / batches, 1),
        "object": so_name,
        "top_own_functions": [{"function": f, "ir": round(ir),
                               "share_of_call": round(ir / net["duZER"], 6)} for f, ir in top],
        "more_under_duZER": [{"object": ob, "function": f, "ir_per_call": round(d)}
                             for (ob, f), d in more if d > 0],
        "less_under_duZER": [{"object": ob, "function": f, "ir_per_call": round(d)}
                             for (ob, f), d in less if d < 0],
        "dumps": {w: parsed[w]["file"] for w in WINDOWS},
        "elapsed_s": round(elapsed, 1),
    }

    print(f"\ncallgrind, {a.case} case ({res['case']}); switching on/off costs {floor:,} Ir,"
          " subtracted")
    for i in IMPLS:
        each = ", ".join(f"{v:,}" for v in calls[i])
        print(f"  {i:<6} {round(net[i]):>15,} Ir per call (mean of {each})")
    print(f"  ratio  {res['ratio']:.4f}   ({res['diff_ir_per_batch']:+,.0f} Ir per batch)")
    print(f"  self cost inside {so_name}: {round(own_total):,} Ir = "
          f"{100 * res['own_self_share']:.3f}% of the duZER call "
          f"({res['own_self_ir_per_batch']:,.0f} Ir per batch)")
    print("  top self-cost functions in the shared object:")
    for f, ir in top:
        print(f"    {round(ir):>12,}  {100 * ir / net['duZER']:7.4f}%  {f}")
    for title, rows in (("more", more), ("fewer", less)):
        print(f"  outside the shared object, {title} instructions under duZER than in plain Python"
              " (self cost per call):")
        for (ob, f), d in rows[:10]:
            if (d > 0) == (title == "more") and d != 0:
                print(f"    {round(d):>+12,}  {f}  [{ob}]")
    print(f"  ({res['elapsed_s']} s under valgrind; dumps in {OUT_DIR})")

    merged = {}
    if a.json.exists():
        try:
            merged = json.loads(a.json.read_text())
        except ValueError:
            merged = {}
    key = "callgrind" if a.case == "glue" else f"callgrind_{a.case}"
    merged[key] = res
    a.json.parent.mkdir(parents=True, exist_ok=True)
    a.json.write_text(json.dumps(merged, indent=1) + "\n")
    print(f"written {a.json} (key '{key}')")


if __name__ == "__main__":
    main()
