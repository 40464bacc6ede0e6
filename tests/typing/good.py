"""Calls that work at run time and so must type-check against duZER's stub
(tests/test_dist.py runs mypy over this file, then runs it)."""

from typing import assert_type

import numpy as np
import torch

import duZER

rng = np.random.default_rng(0)
dataX = rng.random((40, 1, 8, 8))
dataY = np.arange(40) % 2

# Positional, the dictionaries written in the call.
accuracy, recall, precision, model, info = duZER.FunClassCNNs(
    dataX, dataY, [0.6, 0.2, 0.2], [[3, 3, 4, 1, 1]], [["maxPooling2dLayer", 2, 2, 2, 0]], [8],
    {"MaxEpochs": 1, "MiniBatchSize": 16, "solverName": "sgdm", "LearnRateSchedule": "none"},
    {"seed": 1, "deviceSel": "cpu", "figflag": "off"},
)
assert_type(accuracy, float)
assert_type(model, torch.nn.Module)
assert_type(info["val_accuracies"], list[float])


def keyword_call() -> float:
    # By keyword, the dictionaries built beforehand, values of other accepted
    # types: NumPy layer tables and ratios, a NumPy validation
    # interval, figflag False, minmax 0, a NumPy seed.
    options: duZER.Options = {"MaxEpochs": np.int64(2), "ValidationFrequency": np.int64(2), "InitialLearnRate": 0.01}
    setting: duZER.Setting = {"seed": np.int64(3), "minmax": 0, "figflag": False, "deviceSel": "cpu"}
    result = duZER.FunClassCNNs(
        setting=setting, options=options, fcLayer=np.array([], dtype=np.int64),
        poolingLayer=[("averagePooling2dLayer", 2, 2, 2, 0)], cLayer=np.array([[3, 3, 2, 1, 1]]),
        divideR=np.array([0.6, 0.2, 0.2]), dataY=dataY, dataX=dataX.tolist(),
    )
    return result[0] + len(result[4]["train_losses"])


print("good:", accuracy, keyword_call())
