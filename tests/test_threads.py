"""Two threads in FunClassCNNs at once: both finish, neither crashes nor hangs.

Torch releases the interpreter lock inside its kernels, so the two calls
really interleave; each has its own scope, class, model and loaders.
"""

import threading

import pytest

import duZER
from toolbox import Boom, PickyDict, samples, small_call

pytestmark = pytest.mark.filterwarnings("ignore::sklearn.exceptions.UndefinedMetricWarning")

JOIN_TIMEOUT_S = 120


def arguments(seed, options):
    return small_call(*samples(160, (1, 6, 6), seed=seed), divideR=[0.5, 0.25, 0.25], cLayer=[[3, 3, 4, 1, 1]],
                      fcLayer=[8], options=options)


def run_together(option_sets):
    """Calls FunClassCNNs once per option set, each in its own thread, started together."""
    start = threading.Barrier(len(option_sets))
    outcomes = [None] * len(option_sets)

    def worker(i, options):
        start.wait()
        try:
            outcomes[i] = duZER.FunClassCNNs(*arguments(i, options))
        except Exception as error:  # noqa: BLE001 - reported to the test
            outcomes[i] = error

    threads = [threading.Thread(target=worker, args=(i, o), daemon=True) for i, o in enumerate(option_sets)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(JOIN_TIMEOUT_S)
    assert not any(thread.is_alive() for thread in threads), "a call did not finish: deadlock?"
    return outcomes


def assert_result(outcome):
    assert isinstance(outcome, tuple) and len(outcome) == 5, repr(outcome)
    accuracy, recall, precision, model, info = outcome
    assert all(0.0 <= value <= 1.0 for value in (accuracy, recall, precision))
    assert len(info["train_losses"]) == 3


TRAIN = {"MaxEpochs": 3, "ValidationFrequency": 1, "MiniBatchSize": 8}


@pytest.mark.parametrize("round_", range(3))
def test_two_concurrent_calls_both_finish(round_, capsys):
    first, second = run_together([TRAIN, dict(TRAIN)])
    assert_result(first)
    assert_result(second)
    # each call built its own class; the models do not share parameters
    assert type(first[3]) is not type(second[3])
    assert next(first[3].parameters()) is not next(second[3].parameters())
    capsys.readouterr()


@pytest.mark.parametrize("failing_key", ["MiniBatchSize", "MaxEpochs", "LearnRateDropFactor"])
def test_call_failing_beside_a_running_one(failing_key, capsys):
    ok, failed = run_together([TRAIN, PickyDict(TRAIN, failing_key)])
    assert_result(ok)
    assert isinstance(failed, Boom) and failed.args == (failing_key,)
    capsys.readouterr()
