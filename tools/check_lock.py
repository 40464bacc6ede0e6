"""Fail when the running environment holds a package that the lock does not pin.

Usage: python tools/check_lock.py [constraints.txt]

Every installed distribution (pip and setuptools included; the project itself
excepted) must appear in the constraints file with exactly its installed
version. Pins whose environment marker does not hold for this interpreter, and
pins of packages that are not installed, are ignored: the file may carry pins
for other Python versions, and `make demo` installs only part of what the lock
lists. Run by the Makefile right after each install step.
"""

from __future__ import annotations

import sys
from importlib import metadata
from pathlib import Path

from packaging.requirements import InvalidRequirement, Requirement
from packaging.utils import canonicalize_name
from packaging.version import Version

PROJECT = "duzer"


def read_pins(text: str) -> dict[str, set[Version]]:
    """Exact pins ("name==version") of the lines whose marker holds here."""
    pins: dict[str, set[Version]] = {}
    for raw in text.splitlines():
        line = raw.split(" #", 1)[0].strip()
        if not line or line.startswith(("#", "-")):
            continue
        try:
            req = Requirement(line)
        except InvalidRequirement as err:
            raise SystemExit(f"constraints: cannot read {raw!r}: {err}") from None
        if req.marker is not None and not req.marker.evaluate():
            continue
        specs = list(req.specifier)
        if len(specs) != 1 or specs[0].operator != "==" or "*" in specs[0].version:
            raise SystemExit(f"constraints: {raw!r} is not an exact pin")
        pins.setdefault(canonicalize_name(req.name), set()).add(Version(specs[0].version))
    return pins


def installed() -> dict[str, Version]:
    found = {}
    for dist in metadata.distributions():
        name = dist.metadata["Name"]
        if name:
            found[canonicalize_name(name)] = Version(dist.version)
    return found


def matches(version: Version, pinned: set[Version]) -> bool:
    """`==` as PEP 440 reads it: a pin without a local label ("2.13.0") also
    holds for a build with one ("2.13.0+cpu"); a pin with one holds exactly."""
    return version in pinned or Version(version.public) in pinned


def problems(pins: dict[str, set[Version]], dists: dict[str, Version]) -> list[str]:
    out = []
    for name, version in sorted(dists.items()):
        if name == PROJECT:
            continue
        if name not in pins:
            out.append(f"{name} {version} is installed but not pinned")
        elif not matches(version, pins[name]):
            wanted = ", ".join(str(v) for v in sorted(pins[name]))
            out.append(f"{name} {version} is installed, the lock pins {wanted}")
    return out


def main(argv: list[str]) -> int:
    path = Path(argv[1] if len(argv) > 1 else "constraints.txt")
    found = problems(read_pins(path.read_text()), installed())
    for line in found:
        print(f"lock: {line}", file=sys.stderr)
    if found:
        print(f"lock: {len(found)} package(s) outside {path}; regenerate it with `make lock`, or rebuild the venv (`make clean`)",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
