"""The three result figures, drawn off-screen (Agg) and inspected after the call,
and the figflag setting that asks for them.

Under Agg `plt.show(block=True)` returns at once, so a call with figflag "on"
runs to the end and leaves its figures open in pyplot for inspection.
"""

import matplotlib.pyplot as plt
import numpy as np
import pytest
from matplotlib.collections import QuadMesh
from matplotlib.colors import to_rgba
from sklearn.metrics import confusion_matrix as sklearn_confusion_matrix

import duZER
from toolbox import Stop, Tripwire, separable_samples, small_call

pytestmark = [
    # Without the "SimHei" font installed the Chinese texts fall back to glyph boxes.
    pytest.mark.filterwarnings("ignore:Glyph .* missing:UserWarning"),
    # A barely trained network may never predict some class.
    pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning"),
]

FIGURE_SIZES = [(12, 4), (8, 6), (8, 6)]


class PyplotSpy:
    """Stands in for the module's `plt`: forwards to pyplot and records every show."""

    def __init__(self):
        self.shows = []  # (args, kwargs, figure numbers open at that moment)

    def __getattr__(self, name):
        return getattr(plt, name)

    def show(self, *args, **kwargs):
        self.shows.append((args, kwargs, plt.get_fignums()))
        return plt.show(*args, **kwargs)


class ConfusionRecorder:
    """Stands in for the module's `confusion_matrix`; keeps what it was given."""

    def __init__(self, spy):
        self.spy = spy
        self.calls = []  # (args, kwargs, shows so far, figure numbers open)

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs, len(self.spy.shows), plt.get_fignums()))
        return sklearn_confusion_matrix(*args, **kwargs)

    @property
    def test_lists(self):
        (args, _, _, _), = self.calls
        return list(args[0]), list(args[1])


@pytest.fixture(autouse=True)
def clean_pyplot():
    plt.close("all")
    plt.ioff()
    yield
    plt.close("all")
    plt.ioff()


@pytest.fixture
def spies(monkeypatch):
    spy = PyplotSpy()
    recorder = ConfusionRecorder(spy)
    monkeypatch.setattr(duZER, "plt", spy)
    monkeypatch.setattr(duZER, "confusion_matrix", recorder)
    return spy, recorder


def run(label_pool=(0, 1, 2), epochs=3, val_freq=1):
    """One small training call with figures; labels drawn from `label_pool`, brightness tells them apart."""
    return duZER.FunClassCNNs(*small_call(
        *separable_samples(label_pool), cLayer=[[3, 3, 4, 1, 1]], fcLayer=[8], MaxEpochs=epochs,
        ValidationFrequency=val_freq, InitialLearnRate=0.01, setting={"figflag": "on", "seed": 1}))


def figures():
    return [plt.figure(num) for num in plt.get_fignums()]


def legend_texts(ax):
    return [t.get_text() for t in ax.get_legend().get_texts()]


def test_three_figures_shown_one_after_another(spies):
    spy, recorder = spies
    result = run()

    assert len(result) == 5
    figs = figures()
    assert [tuple(f.get_size_inches()) for f in figs] == FIGURE_SIZES
    # Each figure is shown, blocking, right after it is complete and before the next exists.
    assert [(args, kwargs) for args, kwargs, _ in spy.shows] == [((), {"block": True})] * 3
    assert [len(open_nums) for _, _, open_nums in spy.shows] == [1, 2, 3]
    # The confusion matrix is computed once, after the second figure has been shown.
    (_, kwargs, shows_before, open_nums), = recorder.calls
    assert kwargs == {} and shows_before == 2 and len(open_nums) == 2
    # Drawing leaves pyplot's interactive mode on for the caller.
    assert plt.isinteractive()


@pytest.mark.parametrize(
    "epochs, val_freq, val_x",
    [
        (10, 3, [0, 2, 5, 8]),
        (10, 1, [0] + list(range(10))),
        (4, 6, [0]),
    ],
    ids=["every-third", "every-epoch", "period-beyond-epochs"],
)
def test_training_curves(epochs, val_freq, val_x):
    *_, info = run(epochs=epochs, val_freq=val_freq)

    fig = figures()[0]
    assert tuple(fig.get_size_inches()) == (12, 4)
    loss_ax, acc_ax = fig.axes
    cycle = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    panels = [
        (loss_ax, "损失曲线", "损失", ["训练损失", "验证损失"], "train_losses", "val_losses"),
        (acc_ax, "准确率曲线", "准确率", ["训练准确率", "验证准确率"],
         "train_accuracies", "val_accuracies"),
    ]
    for ax, title, ylabel, legends, train_key, val_key in panels:
        assert ax.get_title() == title
        assert ax.get_xlabel() == "迭代次数"
        assert ax.get_ylabel() == ylabel
        assert legend_texts(ax) == legends
        train_line, val_line = ax.lines
        assert [line.get_label() for line in ax.lines] == legends
        assert list(train_line.get_xdata()) == list(range(epochs))
        assert list(train_line.get_ydata()) == info[train_key]
        assert list(val_line.get_xdata()) == val_x
        assert list(val_line.get_ydata()) == info[val_key]
        # Plain lines in the default colour cycle, training first.
        assert [to_rgba(line.get_color()) for line in ax.lines] == [
            to_rgba(cycle[0]), to_rgba(cycle[1])]
        assert all(line.get_linestyle() == "-" for line in ax.lines)


@pytest.mark.parametrize(
    "label_pool", [(0, 1, 2), (0, 2, 5)], ids=["contiguous", "gapped"])
def test_test_set_figures(spies, label_pool):
    _, recorder = spies
    run(label_pool=label_pool)
    test_true, test_preds = recorder.test_lists
    classes = sorted(set(test_true))
    assert classes == list(label_pool)  # the test split holds every label of the pool

    _, labels_fig, cm_fig = figures()

    # True against predicted classes, ordered by true class.
    ax, = labels_fig.axes
    true_line, pred_line = ax.lines
    order = np.argsort(test_true)
    assert list(true_line.get_ydata()) == sorted(test_true)
    assert list(pred_line.get_ydata()) == [test_preds[i] for i in order]
    assert list(true_line.get_xdata()) == list(range(len(test_true)))
    assert list(pred_line.get_xdata()) == list(range(len(test_true)))
    assert (true_line.get_marker(), true_line.get_linestyle()) == ("o", "None")
    assert (pred_line.get_marker(), pred_line.get_linestyle()) == (".", "None")
    assert to_rgba(true_line.get_color()) == to_rgba("b")
    assert to_rgba(pred_line.get_color()) == to_rgba("r")
    assert legend_texts(ax) == ["真实标签", "预测标签"]
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("样本编号", "类别")
    assert ax.get_title() == "测试集 - 真实标签 vs 预测标签"
    assert all(g.get_visible() for g in ax.xaxis.get_gridlines() + ax.yaxis.get_gridlines())
    # Ticks sit at 0..K-1 and read the class labels, whatever their values.
    assert list(ax.get_yticks()) == list(range(len(classes)))
    assert [t.get_text() for t in ax.get_yticklabels()] == [str(c) for c in classes]

    # Confusion matrix heatmap of the same test lists.
    expected = sklearn_confusion_matrix(test_true, test_preds)
    ax = cm_fig.axes[0]
    meshes = [c for c in ax.collections if isinstance(c, QuadMesh)]
    assert len(meshes) == 1
    assert meshes[0].get_cmap().name == "Blues"
    np.testing.assert_array_equal(np.asarray(meshes[0].get_array()).ravel(), expected.ravel())
    cells = {}
    for text in ax.texts:
        x, y = text.get_position()
        cells[int(y), int(x)] = text.get_text()
    assert cells == {(r, c): str(v) for (r, c), v in np.ndenumerate(expected)}
    assert (ax.get_xlabel(), ax.get_ylabel()) == ("预测标签", "真实标签")
    assert ax.get_title() == "混淆矩阵"


@pytest.mark.parametrize("figflag, draws", [
    ("absent", False), ("off", False), ("ON", False), ("On", False), (True, False), (1, False), ("on ", False),
    ("on", True),
], ids=["absent", "off", "upper-case", "capitalised", "boolean", "one", "trailing-space", "on"])
def test_figures_only_for_exact_on(figflag, draws, monkeypatch):
    # Any use of pyplot, seaborn or the confusion matrix ends the call.
    for name in ("plt", "sns", "confusion_matrix"):
        monkeypatch.setattr(duZER, name, Tripwire(name))
    args = small_call(MaxEpochs=1, seed=1)
    if figflag != "absent":
        args[7]["figflag"] = figflag
    if draws:
        with pytest.raises(Stop, match="^plt"):
            duZER.FunClassCNNs(*args)
        return
    assert len(duZER.FunClassCNNs(*args)) == 5
    assert plt.get_fignums() == []
    assert not plt.isinteractive()


def test_float_validation_frequency_fails_inside_first_figure(spies):
    spy, recorder = spies
    with pytest.raises(TypeError, match="'float' object cannot be interpreted as an integer"):
        run(epochs=4, val_freq=2.0)

    fig, = figures()
    assert tuple(fig.get_size_inches()) == (12, 4)
    ax, = fig.axes
    line, = ax.lines
    assert line.get_label() == "训练损失"
    assert list(line.get_xdata()) == list(range(4))
    assert spy.shows == [] and recorder.calls == []
