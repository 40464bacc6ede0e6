"""duZER.FunClassCNNs against the plain Python procedure in reference.py.

Both run on fresh copies of the same arguments with the same seed on the CPU;
they must print the same text byte for byte, return the same metrics and
history, and leave models with identical weights. A call that fails must fail
alike, with the stage that failed named in the traceback.
"""

import traceback
from types import SimpleNamespace

import numpy as np
import pytest
import torch

import duZER
import reference
from toolbox import Tripwire, assert_same_run, differential_call, samples, staged_call
from toolbox import run_captured as run

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

def integer_table(rows):
    return np.array(rows, dtype=np.int64)


uint8_X = np.random.default_rng(3).integers(0, 256, (120, 1, 8, 8)).astype(np.uint8)

CASES = [
    pytest.param(differential_call(), id="max-pooling"),
    pytest.param(differential_call(cLayer=[[3, 3, 4, 1, 1], [3, 3, 6, 1, 0]],
                                   poolingLayer=[["averagePooling2dLayer", 2, 2, 2, 0], ["none", 2, 2, 2, 0]],
                                   fcLayer=[]), id="average-pooling-two-rows"),
    pytest.param(differential_call(cLayer=[[3, 3, 4, 1, 1], [2, 2, 5, 1, 0]],
                                   poolingLayer=[["none", 2, 2, 2, 0], ["MaxPooling2dLayer", 2, 2, 2, 0],
                                                 ["maxPooling2dLayer", 2, 2, 2, 0]]),
                 id="none-and-unrecognised-pool"),
    pytest.param(differential_call(cLayer=[[3, 3, 4, 1, 1], [3, 3, 4, 1, 1], [2, 2, 6, 2, 0]],
                                   poolingLayer=[["maxPooling2dLayer", 2, 2, 1, 1], ["averagePooling2dLayer", 3, 2, 1, 0],
                                                 ["none", 0, 0, 0, 0]],
                                   fcLayer=[24, 16, 12, 8]), id="three-rows-long-fc"),
    pytest.param(differential_call(*samples(150, (2, 6, 6)), cLayer=[], poolingLayer=[], fcLayer=[10]),
                 id="empty-cLayer"),
    pytest.param(differential_call(*samples(150, (2, 6, 6)), cLayer=[], poolingLayer=[], fcLayer=[]),
                 id="empty-cLayer-empty-fc"),
    pytest.param(differential_call(*samples(150, (2, 6, 6)),
                                   cLayer=integer_table([[3, 3, 4, 1, 1], [2, 2, 6, 1, 0]]),
                                   poolingLayer=[["maxPooling2dLayer", np.int64(2), np.int64(2), np.int64(1), np.int64(0)],
                                                 ["none", 2, 2, 2, 0]],
                                   fcLayer=integer_table([12, 6])), id="numpy-tables"),
    pytest.param(differential_call(*samples(120, labels=(2, 3, 5))), id="labels-from-2"),
    pytest.param(differential_call(*samples(300), divideR=[0.8, 1, 3]), id="ratios-0.8-1-3"),
    pytest.param(differential_call(*samples(200), divideR=[0.6, 0.2, 0.2]), id="ratios-0.6-0.2-0.2"),
    pytest.param(differential_call(MaxEpochs=1), id="one-epoch"),
    pytest.param(differential_call(MaxEpochs=0), id="zero-epochs"),
    pytest.param(differential_call(*samples(80), MaxEpochs=4, ValidationFrequency=2.0),
                 id="float-validation-frequency"),
    pytest.param(differential_call(MaxEpochs=3, ValidationFrequency=2, InitialLearnRate=0.02, LearnRateDropPeriod=1,
                                   LearnRateDropFactor=0.5),
                 id="schedule-drops"),
    pytest.param(differential_call(*samples(300), MaxEpochs=1, MiniBatchSize=128, ValidationFrequency=50),
                 id="large-batches"),
    pytest.param(differential_call(samples(120)[0] * 40 - 7, samples(120)[1], minmax=False), id="minmax-off"),
    pytest.param(differential_call(uint8_X, samples(120)[1]), id="uint8-samples"),
]


@pytest.mark.parametrize("args", CASES)
def test_module_matches_reference(args, capsys):
    assert_same_run(run(duZER.FunClassCNNs, args, capsys), run(reference.FunClassCNNs, args, capsys))


@pytest.mark.skipif(torch.cuda.is_available(), reason="the GPU hint is printed only without CUDA")
def test_gpu_requested_without_cuda(capsys):
    args = differential_call(deviceSel="gpu", MaxEpochs=1)
    native = run(duZER.FunClassCNNs, args, capsys)
    assert_same_run(native, run(reference.FunClassCNNs, args, capsys))
    assert native[0].splitlines()[1].startswith("如果选择使用gpu")


def figure_contents():
    """What the open figures show, as plain values; the figures are closed afterwards."""
    import matplotlib.pyplot as plt

    contents = []
    for number in plt.get_fignums():
        figure = plt.figure(number)
        axes = []
        for ax in figure.axes:
            lines = [(line.get_label(), list(map(float, line.get_xdata())), list(map(float, line.get_ydata())),
                      line.get_marker(), line.get_linestyle(), line.get_color()) for line in ax.get_lines()]
            meshes = [np.asarray(mesh.get_array()).tolist() for mesh in ax.collections]
            texts = [text.get_text() for text in ax.texts]
            ticks = (ax.get_yticks().tolist(), [t.get_text() for t in ax.get_yticklabels()])
            axes.append((ax.get_title(), ax.get_xlabel(), ax.get_ylabel(), lines, meshes, texts, ticks))
        contents.append((tuple(figure.get_size_inches()), axes))
    plt.close("all")
    return contents


@pytest.mark.filterwarnings("ignore:Glyph .* missing:UserWarning")
def test_figures_match_reference(capsys):
    import matplotlib.pyplot as plt

    args = differential_call(*samples(120, labels=(0, 2, 5)), figflag="on", MaxEpochs=3, ValidationFrequency=2)
    interactive = plt.isinteractive()
    plt.close("all")
    try:
        native = run(duZER.FunClassCNNs, args, capsys)
        native_figures = figure_contents()
        plain = run(reference.FunClassCNNs, args, capsys)
        plain_figures = figure_contents()
    finally:
        plt.interactive(interactive)
    assert_same_run(native, plain)
    assert len(native_figures) == 3
    assert native_figures == plain_figures


# --- failures, stage by stage ----------------------------------------------------------------------------------


STAGE_FAILURES = [  # (stage, line, argument overrides, module-level names to replace)
    ("seeding", 1, {"seed": "x"}, {}),
    ("scaling", 2, {"dataX": np.array([[["a"]]] * 8)}, {}),
    ("device choice", 3, {}, {"torch": SimpleNamespace(manual_seed=torch.manual_seed)}),
    ("data preparation", 4, {"divideR": [0.5, 0, 0]}, {}),
    ("network class", 5, {}, {"nn": SimpleNamespace()}),
    ("training set-up", 6, {"cLayer": [[3, 3, "four", 1, 1]]}, {}),
    ("training loop", 7, {"MaxEpochs": "x"}, {}),
    ("test evaluation", 8, {}, {"precision_score": Tripwire("precision_score")}),
    ("figures", 9, {"ValidationFrequency": 0.5, "figflag": "on"}, {}),
]


@pytest.mark.filterwarnings("ignore:Glyph .* missing:UserWarning")
@pytest.mark.parametrize("stage, line, overrides, replaced", STAGE_FAILURES, ids=[s[0] for s in STAGE_FAILURES])
def test_traceback_names_the_failing_stage(stage, line, overrides, replaced, monkeypatch, capsys):
    import matplotlib.pyplot as plt

    outcomes = []
    for implementation in (duZER, reference):
        for name, value in replaced.items():
            monkeypatch.setattr(implementation, name, value)
        try:
            with pytest.raises(Exception) as excinfo:
                implementation.FunClassCNNs(*staged_call(**overrides))
        finally:
            plt.close("all")
        error = excinfo.value
        outcomes.append((type(error), str(error), type(error.__cause__), type(error.__context__),
                         traceback.extract_tb(excinfo.tb)))
    (*native, native_tb), (*plain, _) = outcomes
    assert native == plain
    entries = [(entry.filename, entry.lineno, entry.name) for entry in native_tb]
    # The caller's line, then the stage, then whatever raised inside it.
    assert entries[1] == (f"<duZER: {stage}>", line, "FunClassCNNs")
    assert [entry for entry in entries if entry[0].startswith("<duZER")] == [entries[1]]
