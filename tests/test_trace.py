"""The whole call, operation by operation, against the plain procedure in reference.py.

Traced as tracing.py describes, the module and the plain procedure must leave the same
sequence of events: each callee looked up before its arguments are built, arguments left to
right, each table read and each line in its place. Then a fault is raised at every event of
one call in turn, and both must end alike: exception, output, reference counts, gradient
mode, survivors.
"""

import gc
from collections import Counter

import matplotlib.pyplot as plt
import pytest
import torch

import duZER
import reference
from tracing import ENDING, differences, install, run

pytestmark = [
    pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning"),
    pytest.mark.filterwarnings("ignore:Glyph .* missing:UserWarning"),
    pytest.mark.filterwarnings("ignore:FigureCanvasAgg is non-interactive:UserWarning"),
]


FAULT_CONFIG = dict(options={"MaxEpochs": 1, "MiniBatchSize": 32, "ValidationFrequency": 1})  # one batch per loader


@pytest.fixture(scope="module", autouse=True)
def settled_process():
    """One thread for tiny tensors; a first call loads what the packages load lazily, and the heap is
    frozen after it, so that each run's collection looks only at what that run made."""
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    with pytest.MonkeyPatch.context() as monkeypatch:
        install(monkeypatch)
        run(reference.FunClassCNNs, FAULT_CONFIG)
    gc.collect()
    gc.freeze()
    yield
    gc.unfreeze()
    torch.set_num_threads(threads)


@pytest.fixture(autouse=True)
def proxies(monkeypatch):
    install(monkeypatch)
    yield
    plt.close("all")
    plt.ioff()


CONFIGS = {
    "max-pooling": {},
    "average-and-none-wide-fc": dict(cLayer=[[3, 3, 4, 1, 1], [2, 2, 5, 1, 0]],
                                     poolingLayer=[["averagePooling2dLayer", 2, 2, 1, 0], ["none", 2, 2, 2, 0]],
                                     fcLayer=[12, 8, 6]),
    "empty-fc": dict(fcLayer=[]),
    "figures": dict(setting={"figflag": "on"}, options={"MaxEpochs": 1}),
    "no-scaling-gpu-asked": dict(setting={"minmax": False, "deviceSel": "gpu"}, options={"MaxEpochs": 1}),
}


@pytest.mark.parametrize("config", CONFIGS.values(), ids=CONFIGS)
def test_same_events_as_plain_procedure(config):
    plain = run(reference.FunClassCNNs, config)
    assert plain.error is None, plain.error
    kinds = {event.split(" ", 1)[0] for event in plain.events}
    scaled = config.get("setting", {}).get("minmax", True)
    assert {"get", "call", "bases", "read", "next", "set", "iter", "enter", "exit", "write", "scalar",
            *["ufunc"] * scaled} <= kinds
    problems = differences(run(duZER.FunClassCNNs, config), plain)
    if problems:
        pytest.fail(f"{len(plain.events)} events per call\n" + "\n".join(problems), pytrace=False)


def test_fault_at_every_event_ends_as_in_plain_procedure():
    events = run(reference.FunClassCNNs, FAULT_CONFIG).events
    problems, tally = [], Counter()
    for k, event in enumerate(events):
        native, plain = run(duZER.FunClassCNNs, FAULT_CONFIG, k), run(reference.FunClassCNNs, FAULT_CONFIG, k)
        assert plain.error and plain.error[1] == f"event {k}: {event}", (k, plain.error)
        found = differences(native, plain, ENDING)
        tally.update(problem.split(":", 1)[0] for problem in found)
        if found:
            problems.append((found[0].startswith("error") and len(found) == 1, k, event, found))
    summary = (f"{len(events)} events per call, {len(events)} injection points, {len(problems)} ending differently "
               f"{dict(tally)}")
    print(summary)
    if problems:
        pytest.fail("\n".join([summary] + [f"fault at #{k} ({event}):\n    " + "\n    ".join(found)
                                          for _, k, event, found in sorted(problems)[:20]]), pytrace=False)
