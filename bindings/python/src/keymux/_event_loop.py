"""Carbon's event loop for hosts without an AppKit loop.

On macOS, Carbon delivers hot keys only while the process's main thread runs
its event loop. A Python program does not run one, so poll() called on the
main thread runs it once, without waiting, before every short wait, and
run_event_loop() runs it for hosts that poll on another thread. The function
is looked up through the loaded keymux_native (whose dependencies bring
Carbon on a Mac); other backends have none, and nothing is run."""
from __future__ import annotations

import ctypes
import threading
import time
from typing import Callable, Optional

Pump = Callable[[float], int]


def find_pump(lib: ctypes.CDLL) -> Optional[Pump]:
    try:
        run = lib.RunCurrentEventLoop  # OSStatus RunCurrentEventLoop(EventTimeout seconds)
    except AttributeError:
        return None
    run.restype = ctypes.c_int32
    run.argtypes = [ctypes.c_double]
    return run


def on_main_thread() -> bool:
    return threading.current_thread() is threading.main_thread()


def run_for(pump: Optional[Pump], seconds: float) -> None:
    if not on_main_thread():
        raise RuntimeError("run_event_loop must be called on the main thread, where Carbon delivers hot keys")
    if pump is None:
        time.sleep(seconds)
    else:
        pump(seconds)
