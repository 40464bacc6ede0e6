"""Exceptions and arguments that fail on purpose, shared by the tests."""


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
