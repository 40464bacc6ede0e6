"""duZER.FunClassCNNs against the plain Python procedure in reference.py.

Both run on fresh copies of the same arguments with the same seed on the CPU;
they must print the same text byte for byte, return the same metrics and
history, and leave models with identical weights.
"""

import copy
import warnings

import numpy as np
import pytest
import torch

import duZER
import reference

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

SETTING = {"seed": 5, "deviceSel": "cpu", "figflag": "off"}
OPTIONS = {"MaxEpochs": 2, "MiniBatchSize": 16, "ValidationFrequency": 1}


def samples(n=120, shape=(1, 8, 8), labels=(0, 1, 2), seed=0):
    rng = np.random.default_rng(seed)
    return rng.random((n, *shape)), rng.choice(np.array(labels), n)


def arguments(X=None, y=None, divideR=(0.7, 0.15, 0.15), cLayer=None, poolingLayer=None, fcLayer=None,
              options=None, setting=None):
    if X is None:
        X, y = samples()
    return (X, y, list(divideR),
            [[3, 3, 4, 1, 1]] if cLayer is None else cLayer,
            [["maxPooling2dLayer", 2, 2, 2, 0]] if poolingLayer is None else poolingLayer,
            [16] if fcLayer is None else fcLayer,
            {**OPTIONS, **(options or {})},
            {**SETTING, **(setting or {})})


def run(function, args, capsys):
    capsys.readouterr()
    result = function(*copy.deepcopy(args))
    return capsys.readouterr().out, result


def assert_same_run(native, plain):
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


def integer_table(rows):
    return np.array(rows, dtype=np.int64)


uint8_X = np.random.default_rng(3).integers(0, 256, (120, 1, 8, 8)).astype(np.uint8)

CASES = [
    pytest.param(arguments(), id="max-pooling"),
    pytest.param(arguments(cLayer=[[3, 3, 4, 1, 1], [3, 3, 6, 1, 0]],
                           poolingLayer=[["averagePooling2dLayer", 2, 2, 2, 0], ["none", 2, 2, 2, 0]],
                           fcLayer=[]), id="average-pooling-two-rows"),
    pytest.param(arguments(cLayer=[[3, 3, 4, 1, 1], [2, 2, 5, 1, 0]],
                           poolingLayer=[["none", 2, 2, 2, 0], ["MaxPooling2dLayer", 2, 2, 2, 0],
                                         ["maxPooling2dLayer", 2, 2, 2, 0]]),
                 id="none-and-unrecognised-pool"),
    pytest.param(arguments(cLayer=[[3, 3, 4, 1, 1], [3, 3, 4, 1, 1], [2, 2, 6, 2, 0]],
                           poolingLayer=[["maxPooling2dLayer", 2, 2, 1, 1], ["averagePooling2dLayer", 3, 2, 1, 0],
                                         ["none", 0, 0, 0, 0]],
                           fcLayer=[24, 16, 12, 8]), id="three-rows-long-fc"),
    pytest.param(arguments(*samples(150, (2, 6, 6)), cLayer=[], poolingLayer=[], fcLayer=[10]),
                 id="empty-cLayer"),
    pytest.param(arguments(*samples(150, (2, 6, 6)), cLayer=[], poolingLayer=[], fcLayer=[]),
                 id="empty-cLayer-empty-fc"),
    pytest.param(arguments(*samples(150, (2, 6, 6)),
                           cLayer=integer_table([[3, 3, 4, 1, 1], [2, 2, 6, 1, 0]]),
                           poolingLayer=[["maxPooling2dLayer", np.int64(2), np.int64(2), np.int64(1), np.int64(0)],
                                         ["none", 2, 2, 2, 0]],
                           fcLayer=integer_table([12, 6])), id="numpy-tables"),
    pytest.param(arguments(*samples(labels=(2, 3, 5))), id="labels-from-2"),
    pytest.param(arguments(*samples(300), divideR=(0.8, 1, 3)), id="ratios-0.8-1-3"),
    pytest.param(arguments(*samples(200), divideR=(0.6, 0.2, 0.2)), id="ratios-0.6-0.2-0.2"),
    pytest.param(arguments(options={"MaxEpochs": 1}), id="one-epoch"),
    pytest.param(arguments(options={"MaxEpochs": 0}), id="zero-epochs"),
    pytest.param(arguments(*samples(80), options={"MaxEpochs": 4, "ValidationFrequency": 2.0}),
                 id="float-validation-frequency"),
    pytest.param(arguments(options={"MaxEpochs": 3, "ValidationFrequency": 2, "InitialLearnRate": 0.02,
                                    "LearnRateDropPeriod": 1, "LearnRateDropFactor": 0.5}),
                 id="schedule-drops"),
    pytest.param(arguments(*samples(300), options={"MaxEpochs": 1, "MiniBatchSize": 128,
                                                   "ValidationFrequency": 50}), id="large-batches"),
    pytest.param(arguments(samples()[0] * 40 - 7, samples()[1], setting={"minmax": False}), id="minmax-off"),
    pytest.param(arguments(uint8_X, samples()[1]), id="uint8-samples"),
]


@pytest.mark.parametrize("args", CASES)
def test_module_matches_reference(args, capsys):
    assert_same_run(run(duZER.FunClassCNNs, args, capsys), run(reference.FunClassCNNs, args, capsys))


@pytest.mark.skipif(torch.cuda.is_available(), reason="the GPU hint is printed only without CUDA")
def test_gpu_requested_without_cuda(capsys):
    args = arguments(setting={"deviceSel": "gpu"}, options={"MaxEpochs": 1})
    native = run(duZER.FunClassCNNs, args, capsys)
    assert_same_run(native, run(reference.FunClassCNNs, args, capsys))
    assert native[0].splitlines()[1].startswith("如果选择使用gpu")


class SplitterSpy:
    """Wraps a module's `train_test_split`; keeps the sample tensor of the first split."""

    def __init__(self, splitter):
        self.splitter = splitter
        self.samples = []

    def __call__(self, *args, **kwargs):
        self.samples.append(args[0])
        return self.splitter(*args, **kwargs)


def test_constant_samples_scale_to_zeros(monkeypatch, capsys):
    args = arguments(np.full((120, 1, 8, 8), 7.0), samples()[1])
    spies = {}
    for implementation in (duZER, reference):
        spies[implementation] = SplitterSpy(implementation.train_test_split)
        monkeypatch.setattr(implementation, "train_test_split", spies[implementation])
    with warnings.catch_warnings():
        warnings.simplefilter("error", RuntimeWarning)
        native = run(duZER.FunClassCNNs, args, capsys)
        plain = run(reference.FunClassCNNs, args, capsys)
    assert_same_run(native, plain)
    for spy in spies.values():
        assert torch.equal(spy.samples[0], torch.zeros(120, 1, 8, 8))
    assert "nan" not in native[0]
    assert not any(torch.isnan(p).any() for p in native[1][3].parameters())


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

    args = arguments(*samples(labels=(0, 2, 5)), setting={"figflag": "on"},
                     options={"MaxEpochs": 3, "ValidationFrequency": 2})
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
