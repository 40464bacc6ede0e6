"""Training: the optimiser set-up from the options, the initial validation and
the epochs with their lines, errors raised in the loop at their points, and
gradient mode and exception context around the no-gradient passes."""

import sys

import pytest
import torch
from sklearn.model_selection import train_test_split
from torch.utils.data import DataLoader

import duZER
from toolbox import CPU_LINE, Standin, failure_and_lines, message_of, small_call, staged_call

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")


def test_option_present_as_none_is_passed_on(capsys):
    with pytest.raises(Exception) as expected:
        torch.optim.Adam([torch.zeros(1, requires_grad=True)], lr=None)
    with pytest.raises(type(expected.value)) as failed:
        duZER.FunClassCNNs(*small_call(InitialLearnRate=None, seed=11))
    assert str(failed.value) == str(expected.value)
    capsys.readouterr()


def after_model_print(lines):
    return lines[0] == CPU_LINE and lines[1] == "模型结构:" and lines[2] == "CNN("


@pytest.mark.parametrize("overrides, error, message, printed", [
    pytest.param(dict(MaxEpochs=2, ValidationFrequency=0), ZeroDivisionError, message_of(lambda: 1 % 0),
                 lambda lines: after_model_print(lines) and lines[-2].startswith("Initial Validation, Val Loss: ")
                 and lines[-1].startswith("Epoch [1/2], Train Loss: "),
                 id="validation-frequency-0"),
    pytest.param(dict(MaxEpochs=2.0), TypeError, message_of(lambda: range(2.0)),
                 lambda lines: after_model_print(lines) and lines[-1].startswith("Initial Validation, Val Loss: "),
                 id="float-epochs"),
])
def test_loop_errors_end_the_call_at_their_point(overrides, error, message, printed, capsys):
    text, lines = failure_and_lines(staged_call(**overrides), error, capsys)
    assert text == message
    assert printed(lines)


class EmptyingValidation:
    """Wraps the splitter: the second split hands back an empty validation part."""

    def __init__(self):
        self.calls = 0

    def __call__(self, *args, **kwargs):
        self.calls += 1
        parts = train_test_split(*args, **kwargs)
        if self.calls == 2:
            val_data, test_data, val_labels, test_labels = parts
            return val_data[:0], test_data, val_labels[:0], test_labels
        return parts


def test_empty_validation_set_fails_before_any_epoch(monkeypatch, capsys):
    monkeypatch.setattr(duZER, "train_test_split", EmptyingValidation())
    with pytest.raises(ZeroDivisionError) as excinfo:
        duZER.FunClassCNNs(*staged_call())
    assert str(excinfo.value) == message_of(lambda: 0.0 / 0)
    lines = capsys.readouterr().out.splitlines()
    assert after_model_print(lines) and lines[-1] == ")"



class FailingLoader:
    """Yields nothing: its first batch raises, after noting whether gradients were on."""

    def __init__(self, loader, error):
        self.loader, self.error = loader, error
        self.grad_enabled = None

    def __iter__(self):
        for _ in self.loader:
            self.grad_enabled = torch.is_grad_enabled()
            raise self.error
        yield from ()


class FailingAt:
    """Stands in for `DataLoader`: the loader made in position `index` fails when read."""

    def __init__(self, index):
        self.index, self.made = index, []
        self.error = RuntimeError("batch unavailable")

    def __call__(self, *args, **kwargs):
        loader = DataLoader(*args, **kwargs)
        self.made.append(FailingLoader(loader, self.error) if len(self.made) == self.index else loader)
        return self.made[-1]


@pytest.mark.parametrize("index, last_line", [(1, ")"), (2, "Initial Validation, Val Loss: ")],
                         ids=["validation", "test"])
def test_failing_pass_restores_gradient_mode(index, last_line, monkeypatch, capsys):
    loaders = FailingAt(index)
    monkeypatch.setattr(duZER, "DataLoader", loaders)
    with pytest.raises(RuntimeError) as excinfo:
        duZER.FunClassCNNs(*staged_call(MaxEpochs=0))
    assert excinfo.value is loaders.error
    assert loaders.made[index].grad_enabled is False
    assert torch.is_grad_enabled()
    assert capsys.readouterr().out.splitlines()[-1].startswith(last_line)


class ReraisingNoGrad:
    """A no-gradient block whose __exit__ notes the exception being handled and
    lets a bare `raise` re-raise it, as code inside an except clause may."""

    def __init__(self, seen):
        self.seen, self.inner = seen, torch.no_grad()

    def __enter__(self):
        return self.inner.__enter__()

    def __exit__(self, *exc):
        self.inner.__exit__(*exc)
        self.seen.append((exc, sys.exc_info()))
        if exc[0] is not None:
            raise


def test_context_exit_runs_with_the_exception_being_handled(monkeypatch, capsys):
    seen = []
    loaders = FailingAt(1)
    monkeypatch.setattr(duZER, "DataLoader", loaders)
    monkeypatch.setattr(duZER, "torch", Standin(torch, no_grad=lambda: ReraisingNoGrad(seen)))
    with pytest.raises(RuntimeError) as excinfo:
        duZER.FunClassCNNs(*staged_call(MaxEpochs=0))
    error = excinfo.value
    assert error is loaders.error and error.__context__ is None
    (exc, handled), = seen
    assert exc[1] is error and handled[1] is error and handled[2] is exc[2] is not None
