"""Real figure windows on a virtual X display.

A child interpreter runs one call with figflag "on" under the TkAgg backend on
its own Xvfb display; this process watches the windows with xdotool and closes
them one by one the way a user would (the figure's quit key, ctrl+w).

No limit runs from the child's start: its imports take anything from seconds
to a minute on a loaded machine. The child prints a readiness line (flushed,
unbuffered output) right before the call, and the limits count from there;
they leave room for a machine several times slower than a quiet one.
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

READY = "CALLING"
MARKER = "CALL-RETURNED"

CHILD = textwrap.dedent(f"""
    import numpy as np
    import duZER

    rng = np.random.default_rng(0)
    dataY = rng.choice([0, 1, 2], 60)
    dataX = rng.random((60, 1, 8, 8))
    print("{READY}", flush=True)
    duZER.FunClassCNNs(
        dataX, dataY, [0.6, 0.2, 0.2], [[3, 3, 4, 1, 1]],
        [["maxPooling2dLayer", 2, 2, 2, 0]], [8],
        {{"MaxEpochs": 2, "ValidationFrequency": 1, "MiniBatchSize": 16}},
        {{"figflag": "on", "seed": 1}},
    )
    print("{MARKER}", flush=True)
""")

# From the child's start to its readiness line: only a bound on a hung start.
READY_S = 600
# From the readiness line: two epochs of training on 36 samples and the first
# figure take a few seconds on a quiet machine, about 20 s on a loaded 2-core one.
FIRST_WINDOW_S = 120
NEXT_WINDOW_S = 60  # from the previous window's closing
CLOSE_S = 20  # for a closed window to go, per attempt (three attempts)
EXIT_S = 60  # from the last window's closing to the call's return
OPEN_CHECK_S = 0.6  # how long each open window is watched before it is closed
XDOTOOL_S = 30  # one xdotool command


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
        deadline = time.monotonic() + 60
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

    def xdo(self, *args, required=True):
        # A query that does not answer must not read as "no window"; an action
        # that does not is tried again by the caller.
        try:
            return subprocess.run([self.xdotool, *args], env=self.env, capture_output=True,
                                  text=True, timeout=XDOTOOL_S)
        except subprocess.TimeoutExpired:
            if required:
                pytest.fail(f"xdotool {' '.join(args)} did not answer in {XDOTOOL_S} s")
            return None

    def figure_windows(self):
        return self.xdo("search", "--onlyvisible", "--name", "^Figure [0-9]+$").stdout.split()

    def size(self, window):
        done = self.xdo("getwindowgeometry", "--shell", window)
        fields = dict(line.split("=", 1) for line in done.stdout.split() if "=" in line)
        return int(fields["WIDTH"]), int(fields["HEIGHT"])

    def close(self, window):
        """Press the figure's quit key in `window`, as a user would."""
        self.xdo("mousemove", "--window", window, "40", "40", required=False)
        self.xdo("windowfocus", "--sync", window, required=False)
        self.xdo("key", "ctrl+w", required=False)


def test_windows_block_the_call_one_at_a_time(tools, display, tmp_path):
    desktop = Desktop(tools["xdotool"], display)
    log_path = tmp_path / "child.log"
    env = {**os.environ, "DISPLAY": display, "MPLBACKEND": "TkAgg", "PYTHONUNBUFFERED": "1"}
    with open(log_path, "w") as log:
        child = subprocess.Popen([sys.executable, "-u", "-c", CHILD], env=env,
                                 stdout=log, stderr=subprocess.STDOUT)

    def printed(line):
        return line in log_path.read_text(errors="replace").splitlines()

    def returned():
        return printed(MARKER)

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
        deadline = time.monotonic() + READY_S
        while not printed(READY):
            if child.poll() is not None:
                fail(f"child exited with {child.returncode} before the call")
            if time.monotonic() > deadline:
                fail(f"child not ready to call after {READY_S} s")
            time.sleep(0.1)

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
                if watch(CLOSE_S, lambda windows: window not in windows) is not None:
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
