"""keymux: system-wide hot keys, raw input, chord injection and key state,
over the keymux_native library."""
from ._errors import STATUS_CODES, KeymuxError
from ._events import ButtonEvent, Event, HotkeyEvent, KeyEvent, MotionEvent
from ._keys import KEY_NAMES
from ._runtime import Hotkey, Keymux

__all__ = [
    "ButtonEvent",
    "Event",
    "Hotkey",
    "HotkeyEvent",
    "KEY_NAMES",
    "KeyEvent",
    "Keymux",
    "KeymuxError",
    "MotionEvent",
    "STATUS_CODES",
]
