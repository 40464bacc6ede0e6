"""From samples to loaders: min-max scaling, the three-way split and its
errors, and the three data loaders with their batch sizes."""

import contextlib
import io
import warnings

import numpy as np
import pytest
import torch
from sklearn.exceptions import UndefinedMetricWarning
from sklearn.model_selection import train_test_split
from torch.utils.data import DataLoader, TensorDataset

import duZER
import reference
from toolbox import (
    CPU_LINE,
    Recorder,
    Stop,
    Tripwire,
    assert_same_run,
    differential_call,
    failure_and_lines,
    message_of,
    run_captured,
    samples,
    small_call,
    staged_call,
)

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")


# ---------------------------------------------------------------- scaling

@pytest.mark.parametrize("minmax, scaled", [
    ("absent", True), (True, True), ("off", True), (1, True), ([0], True),
    (False, False), (0, False), (None, False), ("", False),
])
def test_minmax_scales_on_any_true_value(minmax, scaled, monkeypatch, capsys):
    data = np.random.default_rng(4).integers(2, 11, size=(60, 1, 8, 8))
    original = data.copy()
    setting = {"deviceSel": "cpu"} if minmax == "absent" else {"deviceSel": "cpu", "minmax": minmax}
    splitter = Recorder()
    monkeypatch.setattr(duZER, "train_test_split", splitter)
    with pytest.raises(Stop):
        duZER.FunClassCNNs(*small_call(data, setting=setting))
    expected = (data - data.min()) / (data.max() - data.min()) if scaled else data
    assert torch.equal(splitter.first_args[0], torch.tensor(expected, dtype=torch.float32))
    assert np.array_equal(data, original)
    capsys.readouterr()


@pytest.mark.parametrize("value", [5.0, 7])
def test_constant_samples_scale_to_zeros_without_warning(value, monkeypatch, capsys):
    """Samples of one value (float or integer) scale to zeros without a warning,
    train without NaN, and the call runs as the plain procedure runs."""
    args = differential_call(np.full((120, 1, 8, 8), value))
    splitters = {}
    for implementation in (duZER, reference):
        splitters[implementation] = Recorder(implementation.train_test_split)
        monkeypatch.setattr(implementation, "train_test_split", splitters[implementation])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        # One constant input predicts one class: precision is undefined for the others.
        warnings.simplefilter("ignore", UndefinedMetricWarning)
        native = run_captured(duZER.FunClassCNNs, args, capsys)
        plain = run_captured(reference.FunClassCNNs, args, capsys)
    assert_same_run(native, plain)
    for splitter in splitters.values():
        assert torch.equal(splitter.first_args[0], torch.zeros(120, 1, 8, 8))
    assert "nan" not in native[0]
    assert not any(torch.isnan(p).any() for p in native[1][3].parameters())


# ---------------------------------------------------------------- split and loaders

@pytest.fixture
def up_to_loaders(monkeypatch):
    """Runs a call up to its three loaders; returns the dataset and loader recorders."""
    datasets, loaders = Recorder(TensorDataset), Recorder(DataLoader)
    monkeypatch.setattr(duZER, "TensorDataset", datasets)
    monkeypatch.setattr(duZER, "DataLoader", loaders)
    # The network class, defined right after the loaders, ends the call.
    monkeypatch.setattr(duZER, "nn", Tripwire("nn"))

    def run(*args):
        with pytest.raises(Stop, match="Module"), contextlib.redirect_stdout(io.StringIO()):
            duZER.FunClassCNNs(*args)
        return datasets, loaders

    return run


@pytest.mark.parametrize("divideR, sizes", [
    ((0.7, 0.15, 0.15), (699, 150, 151)),
    ((0.8, 0.1, 0.1), (800, 100, 100)),
    ((0.8, 1, 3), (800, 50, 150)),
])
@pytest.mark.parametrize("seed", [1, 2])
def test_split_sizes_and_members(divideR, sizes, seed, up_to_loaders):
    # Each sample holds its own index, so the split can be read back from the data sets.
    index = np.arange(1000)
    X = np.broadcast_to(index.reshape(-1, 1, 1, 1), (1000, 1, 2, 2)).astype(np.float64)
    datasets, _ = up_to_loaders(*staged_call(X, index % 7, divideR=list(divideR), minmax=False, seed=seed))
    assert tuple(len(d) for d in datasets.results) == sizes

    train_ratio, val_ratio, test_ratio = divideR
    train, rest = train_test_split(index, test_size=1 - train_ratio, random_state=42)
    val, test = train_test_split(rest, test_size=test_ratio / (val_ratio + test_ratio), random_state=42)
    for dataset, members in zip(datasets.results, (train, val, test)):
        data, labels = dataset.tensors
        assert data.dtype == torch.float32 and labels.dtype == torch.int64
        assert data[:, 0, 0, 0].long().tolist() == members.tolist()
        assert labels.tolist() == (members % 7).tolist()


@pytest.mark.parametrize("divideR, error, message", [
    ((0.6, 0.4), ValueError, "need more than 2 values to unpack"),
    ((0.6, 0.2, 0.1, 0.1), ValueError, "too many values to unpack (expected 3)"),
    ((0.6, 0, 0), ZeroDivisionError, message_of(lambda: 0 / (0 + 0))),
], ids=["two-ratios", "four-ratios", "no-validation-or-test-share"])
def test_bad_ratios_end_the_call_after_the_device_line(divideR, error, message, capsys):
    assert failure_and_lines(staged_call(divideR=list(divideR)), error, capsys) == (message, [CPU_LINE])


class BatchSizes(dict):
    """Options whose "MiniBatchSize" reads yield the given values one after another."""

    def __init__(self, sizes, **items):
        super().__init__(items)
        self.sizes = iter(sizes)
        self.reads = []

    def get(self, key, default=None):
        self.reads.append(key)
        return next(self.sizes) if key == "MiniBatchSize" else super().get(key, default)


def test_each_loader_reads_the_batch_size_afresh(up_to_loaders):
    options = BatchSizes([64, 50, 40])
    _, loaders = up_to_loaders(*staged_call(*samples(1000, (1, 2, 2)), divideR=[0.7, 0.15, 0.15], options=options))
    assert options.reads == ["MiniBatchSize"] * 3
    assert [kwargs for _, kwargs in loaders.calls] == [
        {"batch_size": 64, "shuffle": True}, {"batch_size": 50}, {"batch_size": 40}]
    assert [len(args) for args, _ in loaders.calls] == [1, 1, 1]
    assert [[len(labels) for _, labels in loader] for loader in loaders.results] == [
        [64] * 10 + [59], [50] * 3, [40] * 3 + [31]]


@pytest.mark.parametrize("batch_size, batches", [
    (128, ([128] * 5 + [59], [128, 22], [128, 23])),
    (1000, ([699], [150], [151])),
])
def test_loader_batches(batch_size, batches, up_to_loaders):
    args = staged_call(*samples(1000, (1, 2, 2)), divideR=[0.7, 0.15, 0.15], MiniBatchSize=batch_size)
    _, loaders = up_to_loaders(*args)
    train, val, test = loaders.results
    assert tuple([len(labels) for _, labels in loader] for loader in loaders.results) == batches
    # Validation and test batches come in set order, training batches reshuffled on each pass.
    for loader in (val, test):
        assert torch.equal(torch.cat([labels for _, labels in loader]), loader.dataset.tensors[1])
    first_pass, second_pass = ([data[:, 0, 0, 0] for data, _ in train] for _ in range(2))
    assert not torch.equal(torch.cat(first_pass), torch.cat(second_pass))
