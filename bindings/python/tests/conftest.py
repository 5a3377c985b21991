import ctypes
import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "src"))

from keymux import Keymux  # noqa: E402

assert os.environ.get("DISPLAY"), "these tests need an X display (run them under Xvfb)"


def xdotool(*args: str) -> None:
    """A second X client presses keys."""
    subprocess.run(["xdotool", *args], check=True)


def xtest_drag(points) -> None:
    """Another X client drags the left button through points with XTest."""
    x11, xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
    xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    display = x11.XOpenDisplay(None)
    assert display, "cannot open the X display"
    (x0, y0), rest = points[0], points[1:]
    xtst.XTestFakeMotionEvent(display, -1, x0, y0, 0)
    xtst.XTestFakeButtonEvent(display, 1, 1, 0)
    for x, y in rest:
        xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
    xtst.XTestFakeButtonEvent(display, 1, 0, 0)
    x11.XSync(display, 0)
    x11.XCloseDisplay(display)


def next_events(km: Keymux, kind: type, count: int, timeout: float = 10.0) -> list:
    """The next count events of one kind; fails if they do not all come."""
    got = []
    while len(got) < count:
        event = km.poll(timeout)
        assert event is not None, f"only {len(got)} of {count} {kind.__name__} events came"
        if isinstance(event, kind):
            got.append(event)
    return got


@pytest.fixture
def km():
    with Keymux(raw=["keys", "buttons"]) as runtime:
        yield runtime
