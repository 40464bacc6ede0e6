"""Train and evaluate a small CNN on scikit-learn's bundled digits images.

Runs one call of duZER.FunClassCNNs on the 1,797 8x8 digit images (no
download needed) and prints the call's own output followed by the metrics.
"""

import time

import numpy as np
from sklearn.datasets import load_digits

import duZER


def main() -> None:
    digits = load_digits()
    dataX = digits.images.reshape(-1, 1, 8, 8).astype(np.float64)
    dataY = digits.target.astype(np.int64)

    cLayer = [[3, 3, 16, 1, 1], [3, 3, 32, 1, 1]]
    poolingLayer = [["none", 2, 2, 2, 0], ["maxPooling2dLayer", 2, 2, 2, 0]]
    fcLayer = [64]
    options = {
        "MaxEpochs": 15,
        "MiniBatchSize": 64,
        "InitialLearnRate": 0.002,
        "ValidationFrequency": 5,
        "LearnRateDropPeriod": 5,
        "LearnRateDropFactor": 0.8,
    }
    setting = {"seed": 1, "figflag": "off", "deviceSel": "cpu"}

    start = time.perf_counter()
    accuracy, recall, precision, model, info = duZER.FunClassCNNs(
        dataX, dataY, [0.7, 0.15, 0.15], cLayer, poolingLayer, fcLayer, options, setting
    )
    elapsed = time.perf_counter() - start

    print()
    print(f"accuracy  {accuracy:.4f}")
    print(f"recall    {recall:.4f}")
    print(f"precision {precision:.4f}")
    print(f"epochs {len(info['train_losses'])}, validations {len(info['val_losses'])}, "
          f"{elapsed:.1f} s")


if __name__ == "__main__":
    main()
