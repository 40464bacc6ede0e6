"""The lock check that the Makefile runs after every install step."""

import importlib.util

from packaging.version import Version

from toolbox import ROOT

spec = importlib.util.spec_from_file_location("check_lock", ROOT / "tools" / "check_lock.py")
check_lock = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check_lock)

CONSTRAINTS = """\
# generated header
torch==2.13.0
    # via -r requirements/demo.in
scipy==1.17.1+cpu
Jinja2==3.1.6  # names and versions are compared in normal form
numpy==2.4.6
# ---- pins for another interpreter, kept below the generated part
numpy==2.0.0 ; python_version < "3.0"
numpy==9.9.9 ; python_version < "3.0"
colorama==0.4.6 ; sys_platform == "win32"
"""


def test_flags_unpinned_and_moved_packages_only():
    pins = check_lock.read_pins(CONSTRAINTS)
    installed = {
        "torch": Version("2.13.0+cpu"),
        "jinja2": Version("3.1.6.0"),
        "numpy": Version("2.4.6"),
        "scipy": Version("1.17.1+cpu"),
        "duzer": Version("0.1.0"),        # the project itself
    }
    assert check_lock.problems(pins, installed) == []
    installed["torch"] = Version("2.13.0")   # the same release without the local label: PyPI's build
    assert check_lock.problems(pins, installed) == []
    installed |= {"numpy": Version("2.0.0"), "narwhals": Version("2.29.0"),
                  "torch": Version("2.14.0+cpu"), "scipy": Version("1.17.1")}
    found = check_lock.problems(pins, installed)
    assert [line.split()[0] for line in found] == ["narwhals", "numpy", "scipy", "torch"]
    assert "not pinned" in found[0] and "pins 2.4.6" in found[1]

