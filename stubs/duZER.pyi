"""Type information for the duZER extension module.

The names below other than FunClassCNNs exist for type checkers only; the
module itself defines FunClassCNNs and nothing else. Annotate a dictionary
built before the call with them, e.g. ``options: duZER.Options = {...}`` (a
local variable's annotation is never evaluated at run time), so that its keys
and values are checked as well.
"""

from collections.abc import Iterable, Sequence
from typing import Any, Literal, TypedDict

import numpy
import torch
from numpy.typing import ArrayLike, NDArray

_Int = int | numpy.integer[Any]

class Options(TypedDict, total=False):
    """Training options; every key is optional and has a default."""

    MaxEpochs: _Int  # default 30
    MiniBatchSize: _Int  # default 128, for all three loaders
    InitialLearnRate: float  # default 0.005
    # Validation every this many epochs (default 50). A whole number: a float
    # trains, but with figures on the figure stage then raises TypeError and
    # the result is lost.
    ValidationFrequency: _Int
    LearnRateDropPeriod: _Int | float  # default 10 epochs
    LearnRateDropFactor: float  # default 0.95
    # Documented but never read: training always uses Adam with the step
    # schedule above, whatever these hold.
    solverName: str
    LearnRateSchedule: str

class Setting(TypedDict, total=False):
    """Further settings; every key is optional."""

    seed: _Int  # absent or 0: no seeding
    minmax: bool | int | numpy.bool_  # default True: global min-max scaling
    deviceSel: Literal["gpu", "cpu"]  # default "gpu": the GPU when CUDA is usable
    figflag: Literal["on", "off", False] | None  # default "off": only "on" draws the figures

class Info(TypedDict):
    """Training history: one entry per epoch for training; for validation,
    the pass before the first epoch and then one per validation."""

    train_losses: list[float]
    train_accuracies: list[float]
    val_losses: list[float]
    val_accuracies: list[float]

def FunClassCNNs(
    dataX: ArrayLike,
    dataY: ArrayLike,
    divideR: Iterable[float],
    cLayer: Sequence[Sequence[Any]] | NDArray[Any],
    poolingLayer: Sequence[Sequence[Any]] | NDArray[Any],
    fcLayer: Sequence[_Int] | NDArray[numpy.integer[Any]],
    options: Options,
    setting: Setting,
) -> tuple[float, float, float, torch.nn.Module, Info]:
    """Trains and evaluates a CNN classifier in one call.

    dataX: samples, shape (num_samples, num_channels, height, width).
    dataY: 0-based class index of each sample, shape (num_samples,).
    divideR: train, validation and test ratios.
    cLayer: one row per convolution layer:
        [filter_height, filter_width, num_filters, stride, padding].
    poolingLayer: one row per convolution layer:
        [pool_type, pool_height, pool_width, stride, padding], pool_type being
        "maxPooling2dLayer", "averagePooling2dLayer" or "none".
    fcLayer: widths of the hidden fully connected layers (may be empty).

    Returns test accuracy, recall and precision (support-weighted), the
    trained model (in evaluation mode) and the training history.
    """
