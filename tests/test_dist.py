"""The distributions as a user gets them: each wheel in dist/ installed into a
fresh venv with only the pinned runtime dependencies and called from another
folder, the installed type stub checked with mypy, and the sdist built in a
fresh venv.

Slow (fresh venvs), so opt-in: DUZER_DIST names the folder that `make wheel`
filled, DUZER_PYTHONS the interpreters to make venvs from (`make wheel-test`
sets both). pip's cache keeps reruns quick.
"""

import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

from toolbox import ROOT, TESTS

CONSTRAINTS = ROOT / "constraints.txt"
TYPING = TESTS / "typing"
DIST = Path(os.environ["DUZER_DIST"]) if os.environ.get("DUZER_DIST") else None
WHEELS = sorted(DIST.glob("duzer-*.whl")) if DIST else []
RUNNING = f"{sys.version_info.major}{sys.version_info.minor}"

pytestmark = [
    pytest.mark.dist,
    pytest.mark.skipif(DIST is None, reason="set DUZER_DIST to the folder of built distributions (make wheel-test)"),
]


def run(*command, cwd=None, env=None, timeout=1200):
    proc = subprocess.run([str(part) for part in command], capture_output=True, text=True, cwd=cwd, env=env,
                          timeout=timeout)
    return proc.returncode, proc.stdout + proc.stderr


def check(*command, **kwargs):
    code, output = run(*command, **kwargs)
    assert code == 0, f"{' '.join(map(str, command))} exited {code}:\n{output[-4000:]}"
    return output


def interpreters():
    """'311' -> an interpreter of that version, from DUZER_PYTHONS and the running one."""
    found = {RUNNING: sys.executable}
    for exe in os.environ.get("DUZER_PYTHONS", "").split():
        code, out = run(exe, "-c", "import sys; print('%d%d' % sys.version_info[:2])")
        if code == 0:
            found.setdefault(out.strip(), exe)
    return found


def wheel_minor(wheel):
    return re.search(r"-cp(\d+)-", wheel.name)[1]


@pytest.fixture(scope="session")
def installed(tmp_path_factory):
    """minor -> python of a fresh venv holding that minor's wheel and its pinned dependencies."""
    venvs = {}
    pythons = interpreters()

    def install(minor):
        if minor not in venvs:
            (wheel,) = [w for w in WHEELS if wheel_minor(w) == minor] or pytest.skip(f"no cp{minor} wheel in {DIST}")
            if minor not in pythons:
                pytest.skip(f"no Python {minor[0]}.{minor[1:]} interpreter to test {wheel.name} with")
            venv = tmp_path_factory.mktemp(f"venv{minor}")
            check(pythons[minor], "-m", "venv", venv)
            python = venv / "bin" / "python"
            check(python, "-m", "pip", "install", "-q", "-c", CONSTRAINTS, wheel)
            venvs[minor] = python
        return venvs[minor]

    return install


@pytest.mark.parametrize("minor", sorted({wheel_minor(w) for w in WHEELS}) or ["none"])
def test_wheel_installs_and_runs_from_another_folder(minor, installed, tmp_path):
    python = installed(minor)
    out = check(python, ROOT / "tools" / "smoke.py", cwd=tmp_path)
    assert f"smoke ok: Python 3.{minor[1:]}." in out
    assert f"{python.parent.parent}/lib/python3.{minor[1:]}/site-packages/duZER.cpython-{minor}-" in out
    # Nothing but the pinned packages: the resolver found all it needed.
    check(python, "-m", "pip", "check")


def test_installed_stub_catches_the_mistakes_and_accepts_what_works(installed, tmp_path):
    python = installed(RUNNING)
    check(python, "-m", "pip", "install", "-q", "-c", CONSTRAINTS, "mypy")
    mypy = [python, "-m", "mypy", "--cache-dir", tmp_path / "cache", "--no-color-output"]
    check(*mypy, TYPING / "good.py", cwd=tmp_path)
    code, out = run(*mypy, TYPING / "mistakes.py", cwd=tmp_path)
    flagged = sorted((int(line), kind) for line, kind in re.findall(r"mistakes\.py:(\d+): error: .*\[([\w-]+)\]", out))
    marked = [(number, line.split("# error: ")[1].strip())
              for number, line in enumerate((TYPING / "mistakes.py").read_text().splitlines(), 1) if "# error: " in line]
    assert code == 1 and flagged == marked and len(marked) == 4, out
    # What the stub accepts also runs.
    assert "good: " in check(python, TYPING / "good.py", cwd=tmp_path)


def test_sdist_builds_in_a_fresh_venv(tmp_path):
    (sdist,) = DIST.glob("duzer-*.tar.gz")
    check(sys.executable, "-m", "venv", tmp_path / "venv")
    # Build isolation fetches the build requirements; the pins hold there too.
    env = dict(os.environ, PIP_CONSTRAINT=str(CONSTRAINTS))
    check(tmp_path / "venv" / "bin" / "python", "-m", "pip", "wheel", "-q", "--no-deps", "-w", tmp_path / "out", sdist,
          cwd=tmp_path, env=env)
    (wheel,) = (tmp_path / "out").glob("duzer-*.whl")
    names = zipfile.ZipFile(wheel).namelist()
    for pattern in ["duZER.pyi", "duZER-stubs/__init__.pyi", r"duzer-[^/]+\.dist-info/licenses/LICENSE",
                    rf"duZER\.cpython-{RUNNING}-[^/]+\.so"]:
        assert any(re.fullmatch(pattern, name) for name in names), (pattern, names)
