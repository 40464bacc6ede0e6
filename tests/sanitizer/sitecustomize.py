"""Leak check for every interpreter of a sanitized test run (`make sanitize`).

The sanitizer runtimes are preloaded into every process the tests start, the
compilers and X tools among them, which leak by design; so the automatic check
at exit is off, and interpreters opt back in here. The check is registered as
a C exit handler, so it runs after the interpreter has finalized.
"""

import ctypes


def _register_leak_check():
    process = ctypes.CDLL(None)
    check = getattr(process, "__lsan_do_leak_check", None)
    if check is None:  # not running under the leak sanitizer
        return
    process.__cxa_atexit.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    process.__cxa_atexit(ctypes.cast(check, ctypes.c_void_p), None, None)


_register_leak_check()
