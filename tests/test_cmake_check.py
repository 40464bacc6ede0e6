"""The check that the module build uses the venv's CMake (tools/without_outside_cmake.py),
which the Makefile wraps around every module build and .ci/run around `make test`."""

import importlib.util
import shutil
import sys
from pathlib import Path

from toolbox import ROOT

spec = importlib.util.spec_from_file_location("without_outside_cmake",
                                              ROOT / "tools" / "without_outside_cmake.py")
tool = importlib.util.module_from_spec(spec)
spec.loader.exec_module(tool)

# A stand-in for a build: writes the CMakeCache.txt that a configure with the
# first cmake on PATH would write (CMake records the full path it runs from).
FAKE_BUILD = """\
import os, pathlib, shutil, sys
cmake = shutil.which("cmake") or sys.exit("no cmake on PATH")
ninja = shutil.which("ninja")
out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
(out / "CMakeCache.txt").write_text(
    f"CMAKE_COMMAND:INTERNAL={cmake}\\nCMAKE_MAKE_PROGRAM:FILEPATH={ninja}\\n")
"""


def programs(folder, *names):
    folder.mkdir(parents=True, exist_ok=True)
    for name in names:
        (folder / name).write_text(f"#!/bin/sh\necho {folder.name}-{name}\n")
        (folder / name).chmod(0o755)
    return folder


def test_path_hides_outside_cmake_and_keeps_everything_else(tmp_path):
    system = programs(tmp_path / "system", "cmake", "ctest", "ninja", "c++", "python3")
    other = programs(tmp_path / "other", "cmake3", "python3", "make")
    venv_bin = programs(tmp_path / "venv" / "bin", "cmake", "ninja")
    plain = programs(tmp_path / "plain", "c++")
    path = ":".join(map(str, [system, other, plain, venv_bin]))

    hidden_path, hidden = tool.hiding_path(path, tmp_path / "shadow", (tmp_path / "venv").resolve())
    assert sorted(p.name for p in hidden) == ["cmake", "cmake3", "ctest", "ninja"]
    assert str(plain) in hidden_path.split(":") and str(venv_bin) in hidden_path.split(":")
    # The venv's CMake is what is left; the rest resolves as before, in PATH order.
    assert shutil.which("cmake", path=hidden_path) == str(venv_bin / "cmake")
    assert shutil.which("ninja", path=hidden_path) == str(venv_bin / "ninja")
    for name in ("cmake3", "ctest"):
        assert shutil.which(name, path=hidden_path) is None
    for name, owner in [("c++", system), ("python3", system), ("make", other)]:
        assert Path(shutil.which(name, path=hidden_path)).resolve() == (owner / name).resolve()

    # Same link folders on the next run (a build's cache names the compiler's
    # path through them), with links to removed programs dropped.
    (system / "c++").unlink()
    again, _ = tool.hiding_path(path, tmp_path / "shadow", (tmp_path / "venv").resolve())
    assert again == hidden_path
    assert Path(shutil.which("c++", path=again)).resolve() == (plain / "c++").resolve()


def test_build_passes_only_with_the_venvs_cmake(tmp_path, monkeypatch):
    system = programs(tmp_path / "system", "cmake", "ninja")
    venv = tmp_path / "venv"
    venv_bin = programs(venv / "bin", "cmake", "ninja")
    build = tmp_path / "build"
    (tmp_path / "fake_build.py").write_text(FAKE_BUILD)

    def run(path, *extra):
        monkeypatch.setenv("PATH", ":".join(map(str, path)))
        return tool.main(["--venv", str(venv), "--build-dir", str(build), "--",
                          sys.executable, str(tmp_path / "fake_build.py"), *extra])

    # Outside CMake first on PATH: hidden, so the build finds the venv's.
    assert run([system, venv_bin], str(build / "cp311")) == 0
    assert tool.read_cache(build / "cp311" / "CMakeCache.txt") == {
        "CMAKE_COMMAND": str(venv_bin / "cmake"), "CMAKE_MAKE_PROGRAM": str(venv_bin / "ninja")}
    # Without one in the venv the fake build finds no cmake and fails.
    assert run([system], str(build / "cp311")) != 0
    # A command that builds nothing under the build folder checked nothing: fails.
    assert run([venv_bin], str(tmp_path / "elsewhere")) == 1


def test_caches_naming_programs_outside_the_venv_are_reported(tmp_path):
    venv = (tmp_path / "venv").resolve()
    good, bad, empty = (tmp_path / name / "CMakeCache.txt" for name in ("good", "bad", "empty"))
    for cache, text in [
        (good, f"# comment\nCMAKE_COMMAND:INTERNAL={venv}/lib/cmake/data/bin/cmake\n"
               f"CMAKE_MAKE_PROGRAM:UNINITIALIZED={venv}/bin/ninja\nCMAKE_CXX_COMPILER:FILEPATH=/usr/bin/c++\n"),
        (bad, f"CMAKE_COMMAND:INTERNAL=/usr/bin/cmake\nCMAKE_MAKE_PROGRAM:FILEPATH={venv}/bin/ninja\n"),
        (empty, "CMAKE_CXX_COMPILER:FILEPATH=/usr/bin/c++\n"),
    ]:
        cache.parent.mkdir()
        cache.write_text(text)
    assert tool.outside_venv([good], venv) == []
    found = tool.outside_venv([good, bad, empty], venv)
    assert len(found) == 2
    assert "CMAKE_COMMAND is /usr/bin/cmake" in found[0] and "names no CMAKE_COMMAND" in found[1]
