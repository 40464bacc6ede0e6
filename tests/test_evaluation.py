"""Test evaluation and what the call returns: the three metrics of the test
predictions, the line that reports them, the result tuple and the history."""

import contextlib
import io

import pytest
import torch
from sklearn.metrics import accuracy_score, precision_score, recall_score
from torch.utils.data import DataLoader

import duZER
from toolbox import HISTORY_KEYS, Recorder, staged_call

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")


@pytest.fixture
def spied(monkeypatch):
    """Recorders in place of the loaders and the three metrics."""
    recorders = {name: Recorder(factory) for name, factory in [
        ("DataLoader", DataLoader), ("accuracy_score", accuracy_score), ("recall_score", recall_score),
        ("precision_score", precision_score)]}
    for name, recorder in recorders.items():
        monkeypatch.setattr(duZER, name, recorder)
    return recorders


def test_metrics_are_those_of_the_test_predictions(spied, capsys):
    result = duZER.FunClassCNNs(*staged_call(MaxEpochs=2, ValidationFrequency=1))
    printed = capsys.readouterr().out.splitlines()
    assert type(result) is tuple and len(result) == 5
    accuracy, recall, precision, model, info = result
    # The test set, batch by batch in set order, through the returned model.
    test_loader = spied["DataLoader"].results[2]
    true, predicted = [], []
    with torch.no_grad():
        for data, labels in test_loader:
            true += labels.tolist()
            predicted += torch.max(model(data), 1)[1].tolist()

    # The last accuracy is the test one; recall and precision are weighted, computed once each.
    args, kwargs = spied["accuracy_score"].calls[-1]
    assert ([list(map(int, a)) for a in args], kwargs) == ([true, predicted], {})
    for name in ("recall_score", "precision_score"):
        (args, kwargs), = spied[name].calls
        assert ([list(map(int, a)) for a in args], kwargs) == ([true, predicted], {"average": "weighted"})
    assert accuracy is spied["accuracy_score"].results[-1]
    assert recall is spied["recall_score"].results[0]
    assert precision is spied["precision_score"].results[0]
    assert printed[-1] == f"测试集准确率: {accuracy:.6f}, 召回率: {recall:.6f}, 精确率: {precision:.6f}"


@pytest.mark.parametrize("epochs, val_freq, validations", [(0, 1, 1), (3, 1, 4), (5, 2, 3), (2, 5, 1)])
def test_history_holds_one_entry_per_epoch_and_validation(epochs, val_freq, validations, spied):
    with contextlib.redirect_stdout(io.StringIO()) as out:
        *_, info = duZER.FunClassCNNs(*staged_call(MaxEpochs=epochs, ValidationFrequency=val_freq))
    assert type(info) is dict and list(info) == HISTORY_KEYS
    assert [len(info[key]) for key in HISTORY_KEYS] == [epochs, epochs, validations, validations]
    assert all(type(value) is float for key in ("train_losses", "val_losses") for value in info[key])
    # Accuracies are what accuracy_score gave: training and validation passes in the order they ran.
    scores = spied["accuracy_score"].results[:-1]
    assert sorted(map(id, info["train_accuracies"] + info["val_accuracies"])) == sorted(map(id, scores))
    assert info["val_accuracies"][0] is scores[0]
    # One line per validation pass and per epoch.
    lines = out.getvalue().splitlines()
    assert sum("Val Loss: " in line for line in lines) == validations
    assert sum("Train Loss: " in line for line in lines) == epochs
