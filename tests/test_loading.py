"""Loading the module: one module object per process, the namespace it binds,
the Matplotlib defaults it changes, and how a failed or refused load looks.

Checks that need a process of their own (first import, sub-interpreters,
missing packages, a build for another Python version) run in a subprocess
that reports what it saw as JSON on its last output line.
"""

import builtins
import importlib
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import matplotlib.pyplot as plt
import numpy as np
import pytest
import seaborn
import sklearn.metrics
import sklearn.model_selection
import torch
import torch.utils.data

import duZER
import reference
from toolbox import PACKAGE_NAMES, ROOT, Stop, Tripwire, small_call

PACKAGES = ["numpy", "torch", "sklearn", "matplotlib", "seaborn"]
# What the module's first import statement for each package imports.
FIRST_IMPORT = {"numpy": "numpy", "torch": "torch", "sklearn": "sklearn.model_selection",
                "matplotlib": "matplotlib.pyplot", "seaborn": "seaborn"}
# The names the exec step binds, in binding order.
BOUND = ["__builtins__", *PACKAGE_NAMES, "FunClassCNNs", "__test__"]
INTERPRETER_CHANGE = ("Interpreter change detected - this module can only be loaded into one interpreter per "
                      "process.")
# A minor version other than the running one, for a build that claims it.
OTHER_MINOR = 12 if sys.version_info.minor != 12 else 11
VERSION_MISMATCH = (f"compile time Python version 3.{OTHER_MINOR} of module 'duZER' does not match runtime version "
                    f"3.{sys.version_info.minor}")


# Imported by the sub-interpreter tests' child processes: sub-interpreters that
# share the main interpreter's GIL, as Py_NewInterpreter makes them, so that the
# module's create step runs (an isolated one, the default from 3.12 on, refuses
# the module before it). 3.13 renamed the module.
SUBINTERPRETERS = """
        import sys
        try:
            import _interpreters as subinterpreters
            shared_gil = dict(config="legacy")
        except ImportError:
            import _xxsubinterpreters as subinterpreters
            shared_gil = dict(isolated=False) if sys.version_info >= (3, 12) else {}
"""


def run_python(code, *options, timeout=300):
    """Runs `code` in a fresh interpreter; returns the JSON of its last stdout line."""
    proc = subprocess.run([sys.executable, *options, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          env=dict(os.environ), timeout=timeout)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout[-3000:]}\n{proc.stderr[-3000:]}"
    return json.loads(proc.stdout.strip().splitlines()[-1])


# --- one module object per process -------------------------------------------------------------------------------


def import_after_removal(monkeypatch):
    monkeypatch.delitem(sys.modules, "duZER")
    return importlib.import_module("duZER")


def module_from_spec(monkeypatch):
    module = importlib.util.module_from_spec(duZER.__spec__)
    duZER.__spec__.loader.exec_module(module)
    return module


REIMPORTS = {
    "import after removal from sys.modules": import_after_removal,
    "importlib.reload": lambda monkeypatch: importlib.reload(duZER),
    "module_from_spec and exec_module": module_from_spec,
}


@pytest.mark.parametrize("how", REIMPORTS)
def test_loading_again_gives_the_same_module_and_runs_nothing(how, monkeypatch):
    function, test_dict = duZER.FunClassCNNs, duZER.__test__
    # Anything the exec step would redo shows up as an undone change here.
    marker = object()
    monkeypatch.setattr(duZER, "np", marker)
    monkeypatch.setitem(plt.rcParams, "font.family", ["DejaVu Serif"])
    monkeypatch.setitem(plt.rcParams, "axes.unicode_minus", True)

    module = REIMPORTS[how](monkeypatch)

    assert module is duZER
    assert sys.modules["duZER"] is duZER
    assert duZER.np is marker
    assert duZER.FunClassCNNs is function and duZER.__test__ is test_dict
    assert plt.rcParams["font.family"] == ["DejaVu Serif"]
    assert plt.rcParams["axes.unicode_minus"] is True


def test_namespace_binds_the_packages():
    expected = {
        "np": np, "torch": torch, "nn": torch.nn, "optim": torch.optim, "DataLoader": torch.utils.data.DataLoader,
        "TensorDataset": torch.utils.data.TensorDataset,
        "train_test_split": sklearn.model_selection.train_test_split,
        "accuracy_score": sklearn.metrics.accuracy_score, "recall_score": sklearn.metrics.recall_score,
        "precision_score": sklearn.metrics.precision_score, "confusion_matrix": sklearn.metrics.confusion_matrix,
        "plt": plt, "sns": seaborn, "__builtins__": builtins,
    }
    namespace = vars(duZER)
    wrong = {name: namespace.get(name) for name, obj in expected.items() if namespace.get(name) is not obj}
    assert not wrong
    assert type(duZER.__test__) is dict and duZER.__test__ == {}
    assert duZER.__doc__ is None
    assert duZER.__name__ == "duZER"
    assert duZER.__file__ == duZER.__spec__.origin
    assert duZER.__loader__ is duZER.__spec__.loader
    assert duZER.__package__ == ""
    assert "__path__" not in namespace
    assert set(namespace) == set(BOUND) | {"__name__", "__doc__", "__package__", "__loader__", "__spec__",
                                           "__file__"}


# --- names looked up at each use ---------------------------------------------------------------------------------


@pytest.mark.parametrize("name", ["np", "torch", "train_test_split"])
def test_module_names_are_looked_up_at_each_use_then_in_builtins(name, monkeypatch, capsys):
    args = small_call(MaxEpochs=0)
    # Missing from the namespace: the NameError the plain procedure gets, naming the global.
    errors = []
    for module in (duZER, reference):
        monkeypatch.delattr(module, name)
        with pytest.raises(NameError) as missing:
            module.FunClassCNNs(*args)
        errors.append((str(missing.value), missing.value.name))
    assert errors[0] == errors[1] == (f"name '{name}' is not defined", name)

    monkeypatch.setattr(builtins, name, Tripwire(f"builtins.{name}"), raising=False)
    with pytest.raises(Stop, match=f"^builtins.{name}"):
        duZER.FunClassCNNs(*args)

    monkeypatch.setattr(duZER, name, Tripwire(f"duZER.{name}"), raising=False)
    with pytest.raises(Stop, match=f"^duZER.{name}"):
        duZER.FunClassCNNs(*args)
    capsys.readouterr()


# --- first import, sub-interpreters --------------------------------------------------------------------------------


def test_first_import_sets_matplotlib_defaults_and_refuses_sub_interpreters():
    seen = run_python(SUBINTERPRETERS + """
        import json, os, sys
        import matplotlib.pyplot as plt

        real = plt.rcParams

        class Recorder:
            sets = []
            def __setitem__(self, key, value):
                self.sets.append([key, type(value).__name__, value])
                real[key] = value
            def __getitem__(self, key):
                return real[key]
            def __getattr__(self, name):
                return getattr(real, name)

        plt.rcParams = Recorder()
        import duZER
        plt.rcParams = real
        after = [real["font.family"], real["axes.unicode_minus"]]

        read_end, write_end = os.pipe()
        attempt = (
            "import os\\n"
            "try:\\n"
            "    import duZER\\n"
            "except BaseException as error:\\n"
            "    os.write(%d, (type(error).__name__ + '|' + str(error) + '\\\\n').encode())\\n"
            "else:\\n"
            "    os.write(%d, b'imported\\\\n')\\n" % (write_end, write_end))
        for _ in range(2):
            sub = subinterpreters.create(**shared_gil)
            subinterpreters.run_string(sub, attempt)
            subinterpreters.destroy(sub)
        os.close(write_end)
        with os.fdopen(read_end) as results:
            outcomes = results.read().splitlines()
        import duZER as again
        print(json.dumps(dict(sets=Recorder.sets, after=after, outcomes=outcomes,
                              same=again is duZER and sys.modules["duZER"] is duZER)))
    """)
    assert seen["sets"] == [["font.family", "str", "SimHei"], ["axes.unicode_minus", "bool", False]]
    assert seen["after"] == [["SimHei"], False]
    assert seen["outcomes"] == [f"ImportError|{INTERPRETER_CHANGE}"] * 2
    assert seen["same"]


def test_create_step_copies_the_spec_and_exec_refuses_a_second_module():
    seen = run_python(f"""
        import _imp, json, sys
        from types import SimpleNamespace

        origin = {duZER.__spec__.origin!r}
        reads = []

        class LoggingSpec:
            def __init__(self, **attributes):
                self.__dict__.update(attributes)
            def __getattribute__(self, name):
                if not name.startswith("__"):
                    reads.append(name)
                return object.__getattribute__(self, name)

        class BrokenParent:
            name, origin, loader = "duZER", origin, None
            @property
            def parent(self):
                raise LookupError("parent unavailable")

        def namespace(module):
            return {{key: repr(value) for key, value in vars(module).items() if key != "__spec__"}}

        loader = object()
        bare = _imp.create_dynamic(SimpleNamespace(name="duZER", origin=origin))
        full = _imp.create_dynamic(LoggingSpec(name="duZER", origin=origin, loader=loader, parent="",
                                               submodule_search_locations=["pkg-dir"]))
        no_path = _imp.create_dynamic(SimpleNamespace(name="duZER", origin=origin, loader=loader, parent="pkg",
                                                      submodule_search_locations=None))
        try:
            _imp.create_dynamic(BrokenParent())
            broken = "no error"
        except Exception as error:
            broken = type(error).__name__ + "|" + str(error)
        assert "duZER" not in sys.modules
        _imp.exec_dynamic(full)
        registered = sys.modules.get("duZER") is full
        recreated = _imp.create_dynamic(SimpleNamespace(name="duZER", origin=origin)) is full
        try:
            _imp.exec_dynamic(bare)
            second_exec = "no error"
        except Exception as error:
            second_exec = type(error).__name__ + "|" + str(error)
        print(json.dumps(dict(
            distinct=len({{id(bare), id(full), id(no_path)}}) == 3,
            bare=namespace(bare), full=namespace(full), no_path=namespace(no_path),
            full_loader=full.__loader__ is loader, reads=reads, broken=broken, registered=registered,
            recreated=recreated, second_exec=second_exec, bare_untouched="np" not in vars(bare),
            full_ready=callable(getattr(full, "FunClassCNNs", None)))))
    """)
    origin = duZER.__spec__.origin
    assert seen["distinct"]
    assert seen["bare"] == {"__name__": "'duZER'", "__doc__": "None", "__package__": "None",
                            "__loader__": "None", "__file__": repr(origin)}
    assert seen["no_path"]["__package__"] == "'pkg'" and "__path__" not in seen["no_path"]
    assert seen["full"]["__path__"] == "['pkg-dir']" and seen["full"]["__package__"] == "''"
    assert seen["full_loader"]
    assert seen["reads"][-5:] == ["name", "loader", "origin", "parent", "submodule_search_locations"]
    assert seen["broken"] == "LookupError|parent unavailable"
    assert seen["registered"] and seen["recreated"] and seen["full_ready"]
    assert seen["second_exec"] == ("RuntimeError|Module 'duZER' has already been imported. "
                                   "Re-initialisation is not supported.")
    assert seen["bare_untouched"]


# --- failed loads --------------------------------------------------------------------------------------------------


def test_missing_package_fails_the_import_and_a_later_import_succeeds():
    seen = run_python(f"""
        import importlib, json, sys, traceback

        def failure(error):
            return dict(type=type(error).__name__, message=str(error), name=error.name)

        attempts = []
        for package, first_import in {FIRST_IMPORT!r}.items():
            loaded_before = package in sys.modules
            sys.modules[package] = None
            try:
                importlib.import_module(first_import)
            except ImportError as error:
                reference = failure(error)
            try:
                import duZER
            except ImportError as error:
                frames = [(frame.filename, frame.lineno, frame.name) for frame in traceback.extract_tb(error.__traceback__)]
                attempts.append(dict(package=package, loaded_before=loaded_before, reference=reference,
                                     got=failure(error), init_frame=("<duZER: module exec>", 1, "init duZER") in frames,
                                     registered="duZER" in sys.modules))
            else:
                attempts.append(dict(package=package, imported=True))
            del sys.modules[package]
            if package == "seaborn":
                import matplotlib
                defaults = matplotlib.rc_params()
                rc_after_failure = [[matplotlib.rcParams[key], defaults[key]]
                                    for key in ("font.family", "axes.unicode_minus")]

        import duZER
        import matplotlib.pyplot as plt
        names = list(vars(duZER))
        print(json.dumps(dict(attempts=attempts, rc_after_failure=rc_after_failure,
                              rc=[plt.rcParams["font.family"], plt.rcParams["axes.unicode_minus"]],
                              order=[name for name in names if name in {BOUND!r}],
                              seaborn=duZER.sns is sys.modules["seaborn"], ready=callable(duZER.FunClassCNNs))))
    """)
    for attempt in seen["attempts"]:
        assert "imported" not in attempt, attempt
        assert not attempt["loaded_before"], attempt
        assert attempt["got"] == attempt["reference"], attempt
        assert attempt["got"]["type"] == "ModuleNotFoundError"
        assert attempt["got"]["name"] == FIRST_IMPORT[attempt["package"]]
        assert attempt["init_frame"] and not attempt["registered"], attempt
    assert [attempt["package"] for attempt in seen["attempts"]] == PACKAGES
    # seaborn comes before the Matplotlib settings: a failure there leaves them alone.
    assert all(value == default for value, default in seen["rc_after_failure"])
    assert seen["rc"] == [["SimHei"], False]
    assert seen["order"] == BOUND
    assert seen["seaborn"] and seen["ready"]


# --- a build that claims another Python version ----------------------------------------------------------------------


def tool(name):
    beside = Path(sys.executable).parent / name
    return str(beside) if beside.exists() else shutil.which(name)


@pytest.fixture(scope="session")
def other_minor_build(tmp_path_factory):
    """The extension built with the compile-time minor version forced to OTHER_MINOR."""
    root = ROOT
    if not (root / "CMakeLists.txt").is_file() or not (root / "src" / "duZER.cpp").is_file():
        pytest.skip("the source tree is not available next to the tests")
    cmake = tool("cmake")
    if cmake is None:
        pytest.skip("cmake is not available")
    try:
        import pybind11
    except ImportError:
        pytest.skip("pybind11 is not available")
    build = tmp_path_factory.mktemp("duzer-other-minor")
    configure = [cmake, "-S", str(root), "-B", str(build), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 f"-DPython_EXECUTABLE={sys.executable}", f"-Dpybind11_DIR={pybind11.get_cmake_dir()}",
                 f"-DDUZER_BUILT_FOR_MINOR={OTHER_MINOR}"]
    ninja = tool("ninja")
    if ninja is not None:
        configure += ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"]
    for command in (configure, [cmake, "--build", str(build)]):
        # The compiler needs no sanitizer runtime preloaded (the sanitized suite sets one for interpreters): with it,
        # this build takes several times as long.
        env = {key: value for key, value in os.environ.items() if key != "LD_PRELOAD"}
        proc = subprocess.run(command, capture_output=True, text=True, env=env)
        assert proc.returncode == 0, f"{' '.join(command)} failed:\n{proc.stdout[-3000:]}\n{proc.stderr[-3000:]}"
    (library,) = build.glob("duZER*.so")
    return library.parent


VERSION_PROBE = """
    import json, sys, traceback, warnings
    sys.path.insert(0, {build!r})
    packages = {packages!r}
    seen = []

    def record(message, category, filename, lineno, file=None, line=None):
        seen.append(dict(message=str(message), category=category.__name__,
                         loaded=[name for name in packages if name in sys.modules]))

    warnings.showwarning = record
    try:
        import duZER
    except RuntimeWarning as error:
        frames = [(frame.filename, frame.lineno, frame.name) for frame in traceback.extract_tb(error.__traceback__)]
        failed = dict(message=str(error), init_frame=("<duZER: module exec>", 1, "init duZER") in frames,
                      loaded=[name for name in packages if name in sys.modules], registered="duZER" in sys.modules)
        warnings.simplefilter("ignore", RuntimeWarning)
        import duZER
    else:
        failed = None
    print(json.dumps(dict(seen=seen, failed=failed, file=duZER.__file__, ready=callable(duZER.FunClassCNNs))))
"""


@pytest.mark.slow
@pytest.mark.parametrize("as_error", [False, True], ids=["warning", "error"])
def test_version_mismatch_warns_before_any_package_is_imported(as_error, other_minor_build):
    code = VERSION_PROBE.format(build=str(other_minor_build), packages=PACKAGES)
    seen = run_python(code, *(["-W", "error::RuntimeWarning"] if as_error else []))
    assert seen["file"].startswith(str(other_minor_build))
    assert seen["ready"]
    ours = [warning for warning in seen["seen"] if "compile time" in warning["message"]]
    if as_error:
        assert ours == []
        assert seen["failed"] == dict(message=VERSION_MISMATCH, init_frame=True, loaded=[], registered=False)
    else:
        assert seen["failed"] is None
        assert ours == [dict(message=VERSION_MISMATCH, category="RuntimeWarning", loaded=[])]


def test_own_build_loads_without_the_version_warning():
    code = """
        import json, warnings
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            import duZER
        print(json.dumps([str(warning.message) for warning in caught if "compile time" in str(warning.message)]))
    """
    assert run_python(code) == []


# --- the shared object ---------------------------------------------------------------------------------------------

# The oldest glibc the distributed wheels are tagged for (make wheel's MANYLINUX).
OLDEST_GLIBC = (2, 24)


@pytest.mark.skipif(not (shutil.which("nm") and shutil.which("objdump")), reason="binutils (nm, objdump) missing")
def test_shared_object_exports_only_its_entry_point_and_needs_no_newer_glibc():
    exported = subprocess.run(["nm", "-D", "--defined-only", duZER.__file__], capture_output=True, text=True,
                              check=True).stdout.split("\n")
    assert [line.split()[-1] for line in exported if line.strip()] == ["PyInit_duZER"]
    dynamic = subprocess.run(["objdump", "-T", duZER.__file__], capture_output=True, text=True, check=True).stdout
    needed = {tuple(map(int, v.split("."))): name
              for v, name in re.findall(r"\(GLIBC_([\d.]+)\)\s+(\S+)", dynamic)}
    assert max(needed) <= OLDEST_GLIBC, {".".join(map(str, v)): name for v, name in needed.items() if v > OLDEST_GLIBC}


# --- failure paths of the interpreter layer ------------------------------------------------------------------------


def test_failed_exec_in_a_first_sub_interpreter_raises_instead_of_hanging():
    # The sub-interpreter imports first, so the create step accepts it; the exec
    # step then fails on a blocked package and must raise there, not block on
    # a thread-state lock that sub-interpreters do not have.
    seen = run_python(SUBINTERPRETERS + """
        import json, os
        read_end, write_end = os.pipe()
        attempt = (
            "import os, sys\\n"
            "sys.modules['numpy'] = None\\n"
            "try:\\n"
            "    import duZER\\n"
            "except BaseException as error:\\n"
            "    os.write(%d, (type(error).__name__ + '|' + str(error)).encode())\\n"
            "else:\\n"
            "    os.write(%d, b'imported')\\n" % (write_end, write_end))
        sub = subinterpreters.create(**shared_gil)
        subinterpreters.run_string(sub, attempt)
        subinterpreters.destroy(sub)
        os.close(write_end)
        with os.fdopen(read_end) as results:
            outcome = results.read()
        print(json.dumps(dict(outcome=outcome)))
    """, timeout=120)
    kind, _, message = seen["outcome"].partition("|")
    assert kind in ("ImportError", "ModuleNotFoundError"), seen["outcome"]
    assert "numpy" in message


def test_failed_exec_under_another_name_leaves_no_module_behind():
    seen = run_python(f"""
        import importlib, importlib.machinery, importlib.util, json, sys
        origin = {duZER.__spec__.origin!r}
        sys.modules["seaborn"] = None
        loader = importlib.machinery.ExtensionFileLoader("vendored.duZER", origin)
        spec = importlib.util.spec_from_file_location("vendored.duZER", origin, loader=loader)
        module = importlib.util.module_from_spec(spec)
        try:
            loader.exec_module(module)
        except ImportError as error:
            failure = str(error)
        left_behind = "duZER" in sys.modules
        del sys.modules["seaborn"]
        import duZER
        print(json.dumps(dict(failure=failure, left_behind=left_behind, works=callable(duZER.FunClassCNNs),
                              fresh=duZER is not module)))
    """)
    assert "seaborn" in seen["failure"]
    assert not seen["left_behind"]
    assert seen["works"] and seen["fresh"]


def test_cleared_function_keeps_readable_names():
    # What the cyclic GC's clear step leaves must stay safe to read: names become
    # empty strings, as for Python functions.
    seen = run_python("""
        import ctypes, json, sys
        import duZER
        function = duZER.FunClassCNNs
        # tp_clear sits at the same offset of the type object on 3.11 to 3.13 (64-bit).
        slot = ctypes.c_void_p.from_address(id(type(function)) + 24 * 8)
        clear = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(slot.value)  # called holding the GIL
        assert clear(function) == 0
        print(json.dumps(dict(name=function.__name__, qualname=function.__qualname__, text=repr(function)[:10])))
    """)
    assert seen == {"name": "", "qualname": "", "text": "<function "}


def test_allocation_failure_in_the_layer_stays_a_memory_error():
    seen = run_python("""
        import json, _testcapi
        import duZER
        function = duZER.FunClassCNNs
        outcomes = set()
        for start in range(0, 12):
            # Empty the interpreter's free lists, so that new lists, dicts and
            # tuples must come from the allocator that is made to fail.
            held = [([], {}, (start,) * size) for size in range(1, 20) for _ in range(100)]
            _testcapi.set_nomemory(start, 0)
            try:
                function.__text_signature__
            except BaseException as error:
                _testcapi.remove_mem_hooks()
                outcomes.add(type(error).__name__)
            else:
                _testcapi.remove_mem_hooks()
                outcomes.add("ok")
        print(json.dumps(sorted(outcomes)))
    """)
    assert "MemoryError" in seen
    assert set(seen) <= {"MemoryError", "ok"}
