"""Four mistakes that run without an error but do not do what they say, or
fail only at run time; mypy must flag each on its marked line
(tests/test_dist.py). Never run."""

import numpy as np

import duZER

dataX = np.zeros((40, 1, 8, 8))
dataY = np.arange(40) % 2
conv, pool, fc = [[3, 3, 4, 1, 1]], [["none", 2, 2, 2, 0]], [8]

duZER.FunClassCNNs(dataX, dataY, [0.6, 0.2, 0.2], conv, pool, fc,
                   {"MaxEpoch": 1},  # error: typeddict-unknown-key
                   {"figflag": "off"})
duZER.FunClassCNNs(dataX, dataY, [0.6, 0.2, 0.2], conv, pool, fc, {},
                   {"figflag": True})  # error: typeddict-item
duZER.FunClassCNNs(dataX, dataY, [0.6, 0.2, 0.2], conv, pool, fc, {"MaxEpochs": 1})  # error: call-arg
# Trains, then the figure stage raises TypeError and the result is lost.
duZER.FunClassCNNs(dataX, dataY, [0.6, 0.2, 0.2], conv, pool, fc,
                   {"ValidationFrequency": 2.5},  # error: typeddict-item
                   {"figflag": "on"})
