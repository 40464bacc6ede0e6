"""Exceptions, arguments that fail on purpose and stand-ins for what the call uses, shared by the tests."""


class Stop(Exception):
    """Raised by stand-ins to end a call at a known point."""


class Boom(Exception):
    """Raised by the hostile hooks; must reach the caller unchanged."""


class PickyDict(dict):
    """A dict whose `get` raises Boom for one key."""

    def __init__(self, data, bad_key):
        super().__init__(data)
        self.bad_key = bad_key

    def get(self, key, *default):
        if key == self.bad_key:
            raise Boom(key)
        return super().get(key, *default)


def loader_yielding(item):
    """A DataLoader stand-in class: every loader it makes yields `item`, once."""

    class Loader:
        def __init__(self, *args, **kwargs):
            pass

        def __iter__(self):
            return iter([item])

    return Loader


class TorchWithMax:
    """Stands in for torch, except that `torch.max(...)` returns `result`."""

    def __init__(self, result):
        import torch

        self.torch, self.result = torch, result

    def __getattr__(self, name):
        return (lambda *args: self.result) if name == "max" else getattr(self.torch, name)
