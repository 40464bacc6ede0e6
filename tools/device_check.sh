#!/usr/bin/env bash
# The GPU check, for a machine with a CUDA device and no network: CPython 3.12
# (or $PYTHON) with a CUDA build of torch, numpy, scikit-learn, matplotlib,
# seaborn, pybind11, pytest, and cmake (ninja if present). Nothing is
# installed or fetched. From the repository root:
#
#     bash tools/device_check.sh
#
# 1. builds the module from source into build/device;
# 2. runs the GPU-marked tests against that build;
# 3. tools/device_check.py: the differential test with deviceSel "gpu" against
#    tests/reference.py on the same GPU, where every tensor of a call lives,
#    and the time of a realistic case against the twin on the card.
# Without CUDA, step 2 skips and step 3 is a dry run on the CPU. The whole run
# is meant to take under 8 minutes; each step has its own time limit.
set -uo pipefail
cd "$(dirname "$0")/.."
START=$SECONDS
PYTHON=${PYTHON:-$(command -v python3.12 || command -v python3)}
BUILD=build/device
status=0

step() { echo; echo "=== $* ($((SECONDS - START)) s)"; }
fail() { echo "FAILED: $*"; status=1; }

step "environment"
"$PYTHON" - <<'EOF' || { echo "FAILED: missing packages"; exit 1; }
import importlib, platform, sys
print(f"Python {platform.python_version()} at {sys.executable}")
missing = []
for name in ["torch", "numpy", "sklearn", "matplotlib", "seaborn", "pybind11", "pytest"]:
    try:
        module = importlib.import_module(name)
        print(f"  {name} {getattr(module, '__version__', '?')}")
    except ImportError:
        missing.append(name)
import torch
print(f"  CUDA build {torch.version.cuda}, available: {torch.cuda.is_available()}, devices: {torch.cuda.device_count()}")
if torch.cuda.is_available():
    print(f"  current device cuda:{torch.cuda.current_device()}, device 0: {torch.cuda.get_device_name(0)}")
sys.exit(f"missing: {', '.join(missing)}" if missing else 0)
EOF
CMAKE=$(command -v cmake || echo "$("$PYTHON" -c 'import cmake, os; print(os.path.join(cmake.CMAKE_BIN_DIR, "cmake"))' 2>/dev/null)")
[ -x "$CMAKE" ] || { echo "FAILED: cmake not found"; exit 1; }
GENERATOR=()
NINJA=$(command -v ninja || true)
[ -n "$NINJA" ] && GENERATOR=(-G Ninja -DCMAKE_MAKE_PROGRAM="$NINJA")

step "build from source into $BUILD"
rm -rf "$BUILD"
timeout 60 "$CMAKE" -S . -B "$BUILD" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$PYTHON" -Dpybind11_DIR="$("$PYTHON" -m pybind11 --cmakedir)" >/dev/null &&
    timeout 150 "$CMAKE" --build "$BUILD" --parallel "$(nproc)" | tail -n 1 ||
    { echo "FAILED: build"; exit 1; }
ls "$BUILD"/duZER*.so
export PYTHONPATH="$PWD/$BUILD${PYTHONPATH:+:$PYTHONPATH}"
export MPLBACKEND=Agg CUBLAS_WORKSPACE_CONFIG=:4096:8

step "GPU-marked tests"
GPU_TESTS=$(grep -l "pytest.mark.gpu" tests/test_*.py)
timeout 90 "$PYTHON" -m pytest -q -p no:cacheprovider -m gpu -rs $GPU_TESTS || fail "GPU-marked tests"

step "differential, placement, timing (tools/device_check.py)"
timeout 170 "$PYTHON" tools/device_check.py || fail "tools/device_check.py"

step "done"
echo "device_check.sh: $([ $status = 0 ] && echo passed || echo FAILED) in $((SECONDS - START)) s"
exit $status
