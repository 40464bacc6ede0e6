"""Run a command with every CMake (and Ninja) outside the venv hidden from PATH,
then check that the CMake builds it made used the venv's CMake and Ninja.

Usage: python tools/without_outside_cmake.py --venv VENV --build-dir DIR -- COMMAND...

Every PATH folder that holds a CMake program (cmake, cmake3, ctest, cpack,
ccmake, cmake-gui) or Ninja is replaced by a folder of links (under DIR) to everything
else it holds, so the command still finds the compiler, Python and the rest in
the same order. After the command succeeds, each CMakeCache.txt under DIR that
it wrote must name a CMAKE_COMMAND (and a CMAKE_MAKE_PROGRAM) inside VENV; no
such cache fails too, since then nothing was checked. Standard library only:
it runs before the venv exists (`.ci/run` wraps a whole `make test` in it).
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
from pathlib import Path

HIDDEN = ("cmake", "cmake3", "ctest", "cpack", "ccmake", "cmake-gui", "ninja", "ninja-build")
CHECKED = ("CMAKE_COMMAND", "CMAKE_MAKE_PROGRAM")
SHADOW = "path-without-cmake"  # the link folders, under the build folder


def is_program(path: Path) -> bool:
    return path.is_file() and os.access(path, os.X_OK)


def shadow_name(folder: Path) -> str:
    """A folder name of its own for each PATH folder, the same on every run."""
    return "".join(c if c.isalnum() or c in "-." else "_" for c in str(folder.absolute()))


def hiding_path(path: str, shadow_root: Path, venv: Path) -> tuple[str, list[Path]]:
    """PATH with each folder holding a CMake program outside `venv` replaced by
    a folder of links to its other entries; returns the new PATH and the
    programs hidden.

    The link folders stay where they are (a build records the compiler it
    found through them, and the next configure of that build needs it again);
    each run only adds the links that are missing and drops stale ones.
    """
    folders, hidden = [], []
    for entry in path.split(os.pathsep):
        folder = Path(entry or ".")
        found = [folder / name for name in HIDDEN if is_program(folder / name)]
        if not found or folder.resolve().is_relative_to(venv):
            folders.append(entry)
            continue
        hidden += found
        shadow = shadow_root / shadow_name(folder)
        shadow.mkdir(parents=True, exist_ok=True)
        wanted = {item.name: item for item in folder.iterdir() if item.name not in HIDDEN}
        for link in shadow.iterdir():
            if link.name not in wanted or os.readlink(link) != str(wanted[link.name]):
                link.unlink()
        for name, item in wanted.items():
            if not (shadow / name).is_symlink():
                (shadow / name).symlink_to(item)
        folders.append(str(shadow.absolute()))
    return os.pathsep.join(folders), hidden


def read_cache(cache: Path) -> dict[str, str]:
    """The CHECKED entries of one CMakeCache.txt ("NAME:TYPE=value" lines)."""
    values = {}
    for line in cache.read_text(errors="replace").splitlines():
        name, sep, rest = line.partition(":")
        if sep and name in CHECKED and "=" in rest:
            values[name] = rest.split("=", 1)[1]
    return values


def outside_venv(files: list[Path], venv: Path) -> list[str]:
    """One line per checked program of `files` that lies outside `venv`."""
    out = []
    for cache in files:
        values = read_cache(cache)
        if "CMAKE_COMMAND" not in values:
            out.append(f"{cache} names no CMAKE_COMMAND")
        for name, value in values.items():
            if not Path(value).resolve().is_relative_to(venv):
                out.append(f"{cache}: {name} is {value}, outside {venv}")
    return out


def caches(build_dir: Path) -> dict[Path, int]:
    """Each CMakeCache.txt under `build_dir`, with its modification time."""
    found = {}
    for folder, subfolders, files in os.walk(build_dir):
        subfolders[:] = [name for name in subfolders if name != SHADOW]
        if "CMakeCache.txt" in files:
            cache = Path(folder) / "CMakeCache.txt"
            found[cache] = cache.stat().st_mtime_ns
    return found


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--venv", required=True, type=Path)
    parser.add_argument("--build-dir", required=True, type=Path)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given")
    venv = args.venv.resolve()

    path, hidden = hiding_path(os.environ.get("PATH", ""), args.build_dir / SHADOW, venv)
    if hidden:
        print(f"cmake check: hidden from PATH: {', '.join(map(str, hidden))}", flush=True)
    before = caches(args.build_dir)
    done = subprocess.run(command, env={**os.environ, "PATH": path})
    if done.returncode != 0:
        return done.returncode

    written = sorted(cache for cache, mtime in caches(args.build_dir).items()
                     if before.get(cache) != mtime)
    if not written:
        print(f"cmake check: {' '.join(command)} wrote no CMakeCache.txt under {args.build_dir}",
              file=sys.stderr)
        return 1
    problems = outside_venv(written, venv)
    for line in problems:
        print(f"cmake check: {line}", file=sys.stderr)
    if problems:
        return 1
    used = sorted({read_cache(cache)["CMAKE_COMMAND"] for cache in written})
    print(f"cmake check: {len(written)} build(s) used {', '.join(used)}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
