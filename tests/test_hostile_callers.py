"""Callers that real programs make: a call in a daemon thread while the
interpreter exits, arguments whose last owner drops them during the call, and
unpacking errors worded as the running interpreter words them. Each case is
run against the plain procedure in reference.py under the same conditions.
"""

import os
import subprocess
import sys
import textwrap

import pytest

import duZER
import reference
from toolbox import TESTS, loader_yielding, samples, small_call, torch_with_max

PRELUDE = """
    import sys, threading, time, functools, atexit
    sys.path.insert(0, {tests!r})
    import numpy as np
    if sys.argv[1] == "duZER":
        import duZER as impl
    else:
        import reference as impl

    def arguments(setting=None, epochs=0):
        rng = np.random.default_rng(0)
        return (rng.random((30, 1, 4, 4)), np.arange(30) % 3, [0.6, 0.2, 0.2], [[3, 3, 2, 1, 1]],
                [["maxPooling2dLayer", 2, 2, 2, 0]], [], {{"MaxEpochs": epochs, "MiniBatchSize": 8}},
                setting if setting is not None else {{"deviceSel": "cpu"}})
"""


def run_children(body, *env_pairs, tail=""):
    """The case run by the module and by the plain procedure, side by side in two child processes;
    (returncode, stdout, stderr) of each."""
    code = textwrap.dedent(PRELUDE.format(tests=str(TESTS))) + textwrap.dedent(body) + textwrap.dedent(tail)
    env = dict(os.environ, PYTHONUNBUFFERED="1", **dict(env_pairs))
    children = [subprocess.Popen([sys.executable, "-c", code, impl], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True, env=env) for impl in ("duZER", "reference")]
    try:
        outputs = [child.communicate(timeout=600) for child in children]
    finally:
        for child in children:
            child.kill()
            child.wait()
    return [(child.returncode, *output) for child, output in zip(children, outputs)]


# --- a daemon thread stopped inside a Python callback while the interpreter exits ---------------------------------
# The callback waits in short sleeps, so the thread asks for the interpreter lock again during finalisation and is
# ended there; only the module's frames and the interpreter's are on its stack.

DAEMON_CASES = {
    "setting.get while scaling": """
        ready = threading.Event()
        class SlowSetting(dict):
            def get(self, key, default=None):
                if key == "minmax":
                    ready.set()
                    while True:
                        time.sleep(0.0005)
                return dict.get(self, key, default)
        args = arguments(SlowSetting(deviceSel="cpu"))
    """,
    "stdout.write of an epoch line": """
        ready = threading.Event()
        class SlowOut:
            def write(self, text):
                if text.startswith("Epoch ["):
                    ready.set()
                    while True:
                        time.sleep(0.0005)
                return len(text)
            def flush(self):
                pass
        sys.stdout = SlowOut()
        args = arguments(epochs=3)
    """,
    # The suspended generator is the last reference the module's frames hold: it must not be finalised without
    # the interpreter ("generator already executing" on stderr) but left as plain Python leaves it.
    "loader generator inside the no-gradient block": """
        import torch
        ready = threading.Event()
        RealLoader = impl.DataLoader
        class SlowLoader:
            def __init__(self, *args, **kwargs):
                self.inner = RealLoader(*args, **kwargs)
            def __iter__(self):
                if not torch.is_grad_enabled():
                    ready.set()
                    while True:
                        time.sleep(0.0005)
                yield from self.inner
        impl.DataLoader = SlowLoader
        args = list(arguments(epochs=2))
        args[6] = dict(args[6], ValidationFrequency=1)
    """,
}
DAEMON_TAIL = """
    threading.Thread(target=impl.FunClassCNNs, args=args, daemon=True).start()
    ready.wait()
"""


@pytest.mark.parametrize("case", list(DAEMON_CASES))
def test_daemon_thread_ended_at_exit_leaves_cleanly(case):
    native, plain = run_children(DAEMON_CASES[case], tail=DAEMON_TAIL)
    assert plain[0] == 0, plain
    assert native[0] == 0, native[2][-3000:]
    assert native[2] == plain[2]


# --- arguments dropped by their last owner during the call --------------------------------------------------------

DROPPED_CASES = {
    "partial.__setstate__ from setting.get": """
        class Dropping(dict):
            def get(self, key, default=None):
                if key == "minmax":
                    p.__setstate__((print, (), {}, None))
                return dict.get(self, key, default)
        p = functools.partial(impl.FunClassCNNs, *arguments(Dropping(deviceSel="cpu", seed=3)))
        result = p()
        print("result", len(result), sorted(result[4]))
    """,
    "atexit call that unregisters itself": """
        class Dropping(dict):
            def get(self, key, default=None):
                if key == "minmax":
                    atexit.unregister(impl.FunClassCNNs)
                return dict.get(self, key, default)
        atexit.register(impl.FunClassCNNs, *arguments(Dropping(deviceSel="cpu", seed=3)))
    """,
    "forward whose self is dropped by a layer": """
        import torch
        model = impl.FunClassCNNs(*arguments({"deviceSel": "cpu", "seed": 3}))[3]
        class Dropper(torch.nn.Module):
            def forward(self, x):
                p.__setstate__((print, (), {}, None))
                return x
        model.conv_layers.append(Dropper())
        p = functools.partial(type(model).forward, model, torch.zeros(2, 1, 4, 4))
        del model
        print("scores", tuple(p().shape))
    """,
}


@pytest.mark.parametrize("case", list(DROPPED_CASES))
def test_arguments_dropped_mid_call_stay_alive(case):
    native, plain = run_children(DROPPED_CASES[case], ("PYTHONMALLOC", "debug"))
    assert plain[0] == 0, plain
    assert native[0] == 0, native[2][-3000:]
    assert native[1] == plain[1]


# --- unpacking texts --------------------------------------------------------------------------------------------

def outcome(module, args):
    try:
        module.FunClassCNNs(*args)
    except Exception as error:  # noqa: BLE001 - compared with the plain procedure
        return type(error), str(error)
    return "result"


def small(divideR=(0.6, 0.2, 0.2)):
    return small_call(*samples(30, (1, 4, 4), seed=1), divideR=divideR, fcLayer=[], MiniBatchSize=8)


@pytest.mark.parametrize("divideR", [None, 0.7, 5, object()], ids=["None", "float", "int", "object"])
def test_non_iterable_divide_ratios(divideR, capsys):
    native = outcome(duZER, small(divideR))
    assert native == outcome(reference, small(divideR))
    assert native == (TypeError, f"cannot unpack non-iterable {type(divideR).__name__} object")
    capsys.readouterr()


@pytest.mark.parametrize("name, make", [("DataLoader", lambda: loader_yielding(7)),
                                        ("torch", lambda: torch_with_max(3))],
                         ids=["loader-item", "torch.max"])
def test_non_iterable_items_unpack_as_the_interpreter_says(name, make, monkeypatch, capsys):
    results = []
    for module in (duZER, reference):
        monkeypatch.setattr(module, name, make())
        results.append(outcome(module, small()))
    assert results[0] == results[1]
    assert results[0][0] is TypeError and results[0][1].startswith("cannot unpack non-iterable int object")
    capsys.readouterr()


# --- what the interpreter gives a plain function --------------------------------------------------------------------

def test_type_params_as_on_plain_functions(capsys):
    model = duZER.FunClassCNNs(*small())[3]
    plain = reference.FunClassCNNs
    for function in (duZER.FunClassCNNs, type(model).forward, type(model).__init__):
        assert hasattr(function, "__type_params__") == hasattr(plain, "__type_params__")
        if not hasattr(plain, "__type_params__"):
            continue
        assert function.__type_params__ == ()
        function.__type_params__ = (1,)
        assert function.__type_params__ == (1,)
        with pytest.raises(TypeError) as native:
            function.__type_params__ = [1]
        with pytest.raises(TypeError) as expected:
            plain.__type_params__ = [1]
        assert str(native.value) == str(expected.value)
        function.__type_params__ = ()
    capsys.readouterr()
