"""Resident memory over many calls.

Resident memory is measured in a child interpreter, so that nothing this test
session imported or cached blurs the figures.
"""

import json
import subprocess
import sys
import textwrap

import pytest

CALLS = 40
SETTLED_AFTER = 5
MAX_GROWTH_MB = 30

CHILD = textwrap.dedent(f"""
    import contextlib, ctypes, gc, io, json, os, warnings
    import numpy as np
    import duZER

    warnings.simplefilter("ignore")
    trim = getattr(ctypes.CDLL(None), "malloc_trim", None)
    page_mb = os.sysconf("SC_PAGE_SIZE") / 2**20

    def resident_mb():
        gc.collect()
        if trim is not None:
            trim(0)  # hand freed heap pages back so that only live memory counts
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * page_mb

    rng = np.random.default_rng(0)
    dataX = rng.random((2000, 1, 16, 16))  # 4 MB of float64 samples
    dataY = rng.integers(0, 4, 2000)
    levels = {{}}
    for call in range(1, {CALLS} + 1):
        with contextlib.redirect_stdout(io.StringIO()):
            duZER.FunClassCNNs(dataX, dataY, [0.7, 0.15, 0.15], [[3, 3, 2, 1, 1]],
                               [["maxPooling2dLayer", 2, 2, 2, 0]], [],
                               {{"MaxEpochs": 1, "MiniBatchSize": 256}}, {{"deviceSel": "cpu"}})
        if call == {SETTLED_AFTER} or call % 10 == 0:
            levels[call] = resident_mb()
    print(json.dumps(levels))
""")


def sanitized():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


@pytest.mark.skipif(sanitized(), reason="the address sanitizer's quarantine holds freed memory")
def test_resident_memory_settles_over_many_calls():
    child = subprocess.run([sys.executable, "-c", CHILD], capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, child.stderr[-6000:]
    levels = {int(call): mb for call, mb in json.loads(child.stdout.strip().splitlines()[-1]).items()}
    settled = levels[SETTLED_AFTER]
    growth = max(levels.values()) - settled
    print(f"resident MB after calls: {', '.join(f'{c}: {mb:.1f}' for c, mb in levels.items())}; "
          f"growth after call {SETTLED_AFTER}: {growth:.1f} MB")
    assert growth < MAX_GROWTH_MB, levels
