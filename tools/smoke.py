"""One tiny call of the installed module: import, train one epoch on random
data, check the shape of the result. Prints where the module was loaded from
and the metrics; exits non-zero on any failure."""

import sys

import numpy as np

import duZER

rng = np.random.default_rng(0)
dataX = rng.random((60, 1, 8, 8))
dataY = np.arange(60) % 3
accuracy, recall, precision, model, info = duZER.FunClassCNNs(
    dataX, dataY, [0.6, 0.2, 0.2], [[3, 3, 4, 1, 1]], [["maxPooling2dLayer", 2, 2, 2, 0]], [8],
    {"MaxEpochs": 1, "MiniBatchSize": 16, "ValidationFrequency": 1}, {"seed": 1, "deviceSel": "cpu"})
assert all(0.0 <= value <= 1.0 for value in (accuracy, recall, precision)), (accuracy, recall, precision)
assert [len(info[key]) for key in ("train_losses", "val_losses")] == [1, 2], info
assert not model.training
print(f"smoke ok: Python {sys.version.split()[0]}, {duZER.__file__}, accuracy {accuracy:.3f}")
