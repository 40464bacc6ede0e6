"""Real figure windows on a virtual X display.

A child interpreter runs one call with figflag "on" under the TkAgg backend on
its own Xvfb display; this process watches the windows with xdotool and closes
them one by one the way a user would (the figure's quit key, ctrl+w).
"""

import importlib.util
import os
import select
import shutil
import subprocess
import sys
import textwrap
import time

import pytest

pytestmark = pytest.mark.display

MARKER = "CALL-RETURNED"

CHILD = textwrap.dedent(f"""
    import numpy as np
    import duZER

    rng = np.random.default_rng(0)
    dataY = rng.choice([0, 1, 2], 60)
    dataX = rng.random((60, 1, 8, 8))
    duZER.FunClassCNNs(
        dataX, dataY, [0.6, 0.2, 0.2], [[3, 3, 4, 1, 1]],
        [["maxPooling2dLayer", 2, 2, 2, 0]], [8],
        {{"MaxEpochs": 2, "ValidationFrequency": 1, "MiniBatchSize": 16}},
        {{"figflag": "on", "seed": 1}},
    )
    print("{MARKER}", flush=True)
""")

FIRST_WINDOW_S = 40  # interpreter start, imports and training come first
NEXT_WINDOW_S = 15
EXIT_S = 15
OPEN_CHECK_S = 0.6  # how long each open window is watched before it is closed


def in_ci():
    return os.environ.get("CI", "").strip().lower() not in ("", "0", "false", "no")


@pytest.fixture
def tools():
    found = {name: shutil.which(name) for name in ("Xvfb", "xdotool")}
    missing = [name for name, path in found.items() if path is None]
    if importlib.util.find_spec("tkinter") is None:
        missing.append("tkinter")
    if missing:
        message = "real-window test needs " + ", ".join(missing)
        if in_ci():
            pytest.fail(message + " (install with `make display-tools`)")
        pytest.skip(message)
    return found


@pytest.fixture
def display(tools):
    """A fresh Xvfb server on a display number it picks itself; yields ":N"."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        [tools["Xvfb"], "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
         "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
    )
    os.close(write_end)
    try:
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(left, 0))
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                pytest.fail("Xvfb did not report a display number")
            number += chunk
        yield ":" + number.decode().strip()
    finally:
        os.close(read_end)
        server.terminate()
        try:
            server.wait(timeout=5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait(timeout=5)


class Desktop:
    """xdotool on one display."""

    def __init__(self, xdotool, display):
        self.xdotool = xdotool
        self.env = {**os.environ, "DISPLAY": display}

    def xdo(self, *args):
        try:
            return subprocess.run([self.xdotool, *args], env=self.env, capture_output=True,
                                  text=True, timeout=5)
        except subprocess.TimeoutExpired:
            return None

    def figure_windows(self):
        done = self.xdo("search", "--onlyvisible", "--name", "^Figure [0-9]+$")
        return done.stdout.split() if done is not None else []

    def size(self, window):
        done = self.xdo("getwindowgeometry", "--shell", window)
        fields = dict(line.split("=", 1) for line in done.stdout.split() if "=" in line)
        return int(fields["WIDTH"]), int(fields["HEIGHT"])

    def close(self, window):
        """Press the figure's quit key in `window`, as a user would."""
        self.xdo("mousemove", "--window", window, "40", "40")
        self.xdo("windowfocus", "--sync", window)
        self.xdo("key", "ctrl+w")


def test_windows_block_the_call_one_at_a_time(tools, display, tmp_path):
    desktop = Desktop(tools["xdotool"], display)
    log_path = tmp_path / "child.log"
    env = {**os.environ, "DISPLAY": display, "MPLBACKEND": "TkAgg"}
    with open(log_path, "w") as log:
        child = subprocess.Popen([sys.executable, "-c", CHILD], env=env,
                                 stdout=log, stderr=subprocess.STDOUT)

    def returned():
        return MARKER in log_path.read_text(errors="replace")

    def fail(message):
        tail = log_path.read_text(errors="replace")[-3000:]
        pytest.fail(f"{message}\n--- child output ---\n{tail}")

    def watch(seconds, until):
        """Poll the windows for `seconds`, never seeing two at once, until `until()` holds."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            windows = desktop.figure_windows()
            if len(windows) > 1:
                fail(f"{len(windows)} figure windows open at once")
            if until(windows):
                return windows
            time.sleep(0.1)
        return None

    try:
        seen = []
        for number, timeout in enumerate([FIRST_WINDOW_S, NEXT_WINDOW_S, NEXT_WINDOW_S], 1):
            def new_window_shown(windows):
                if child.poll() is not None:
                    fail(f"child exited with {child.returncode} before window {number}")
                return bool(windows) and windows[0] not in seen

            windows = watch(timeout, new_window_shown)
            if windows is None:
                fail(f"figure window {number} did not appear")
            window = windows[0]
            seen.append(window)

            # While the window is open the call stays blocked inside the show.
            watch(OPEN_CHECK_S, lambda windows: False)
            if desktop.figure_windows() != [window]:
                fail(f"figure window {number} did not stay open on its own")
            if returned() or child.poll() is not None:
                fail(f"the call went on while figure window {number} was open")

            width, height = desktop.size(window)
            if number == 1:
                assert width > 2 * height, "the first window holds the two wide curve panels"
            else:
                assert width < 1.5 * height, f"window {number} holds an 8 x 6 figure"

            for _ in range(3):
                desktop.close(window)
                if watch(4, lambda windows: window not in windows) is not None:
                    break
            else:
                fail(f"figure window {number} did not close")

        try:
            rc = child.wait(timeout=EXIT_S)
        except subprocess.TimeoutExpired:
            fail("the call did not return after the third window was closed")
        assert rc == 0, log_path.read_text(errors="replace")[-3000:]
        assert returned()
        assert len(seen) == 3
        assert desktop.figure_windows() == []
    finally:
        if child.poll() is None:
            child.kill()
            child.wait(timeout=10)
