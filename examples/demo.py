"""Train and evaluate a small CNN on scikit-learn's bundled digits images.

Runs one call of duZER.FunClassCNNs on the 1,797 8x8 digit images (no
download needed), prints the call's own output followed by the metrics, and
saves the call's three figures as PNG files (default: demo-figures/ at the
repository root, or the folder given as the first argument), so they can be
looked at without a display. The folder is printed on the last line.

The figures are drawn off-screen unless MPLBACKEND names a GUI backend; with
one, each window blocks until closed and nothing is left to save.
"""

import logging
import os
import sys
import time
import warnings
from pathlib import Path

os.environ.setdefault("MPLBACKEND", "Agg")

import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib import font_manager  # noqa: E402
from sklearn.datasets import load_digits  # noqa: E402

import duZER  # noqa: E402

# CJK fonts shipped by Debian packages (fonts-wqy-zenhei, fonts-noto-cjk); used
# after "SimHei" for the figures' Chinese texts when SimHei itself is missing.
CJK_FONT_FILES = [
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
    "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
]

FIGURE_NAMES = ["1-training-curves.png", "2-true-vs-predicted.png", "3-confusion-matrix.png"]


def add_cjk_fallback() -> bool:
    """Append the first installed CJK font to the font family list set by duZER.

    Returns False when none is installed: the Chinese labels then draw as
    empty boxes, and matplotlib's one warning per missing glyph is silenced in
    favour of a single note.
    """
    for path in CJK_FONT_FILES:
        if os.path.exists(path):
            font_manager.fontManager.addfont(path)
            name = font_manager.FontProperties(fname=path).get_name()
            family = list(plt.rcParams["font.family"])
            if name not in family:
                plt.rcParams["font.family"] = family + [name]
            return True
    warnings.filterwarnings("ignore", message="Glyph .* missing from font", category=UserWarning)
    return False


def save_figures(folder: Path) -> list[Path]:
    folder.mkdir(parents=True, exist_ok=True)
    saved = []
    for i, num in enumerate(plt.get_fignums()):
        name = FIGURE_NAMES[i] if i < len(FIGURE_NAMES) else f"figure-{num}.png"
        path = folder / name
        plt.figure(num).savefig(path)
        saved.append(path)
    return saved


def main() -> None:
    # "SimHei" stays first in the family list; where it is not installed,
    # matplotlib would log one line per text drawn before falling back.
    logging.getLogger("matplotlib.font_manager").setLevel(logging.ERROR)
    has_cjk_font = add_cjk_fallback()
    default_folder = Path(__file__).resolve().parent.parent / "demo-figures"
    folder = Path(sys.argv[1]) if len(sys.argv) > 1 else default_folder

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
    setting = {"seed": 1, "figflag": "on", "deviceSel": "cpu"}

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

    if not plt.get_fignums():
        print("figures were shown in windows and closed; none saved")
        return
    saved = save_figures(folder)
    if not has_cjk_font:
        print("note: no CJK font installed, the figures' Chinese labels show as boxes"
              " (Debian: apt-get install fonts-wqy-zenhei)")
    print(f"{len(saved)} figures saved to {folder}")


if __name__ == "__main__":
    main()
