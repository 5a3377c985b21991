from __future__ import annotations

from dataclasses import dataclass
from typing import Optional, Union

from ._keys import name_for_native
from ._library import EventRecord

FLAG_SYNTHETIC = 0x1
FLAG_AUTOREPEAT = 0x2
FLAG_SELF_INJECTED = 0x4
_MODIFIERS = {1: "control", 2: "shift", 3: "alt", 4: "meta"}
_BUTTONS = {1: "left", 2: "right", 3: "middle"}


@dataclass(frozen=True)
class HotkeyEvent:
    id: int
    down: bool
    timestamp: int  # microseconds since the process's first event, plus 1


@dataclass(frozen=True)
class KeyEvent:
    code: Optional[str]  # KeyboardEvent.code name; None when the key has none
    native_code: int
    down: bool
    modifier: Optional[str]  # "control", "shift", "alt", "meta" or None
    synthetic: bool
    autorepeat: bool
    self_injected: bool
    timestamp: int


@dataclass(frozen=True)
class ButtonEvent:
    button: str  # "left", "right", "middle" or "other"
    down: bool
    x: float
    y: float
    synthetic: bool
    timestamp: int


@dataclass(frozen=True)
class MotionEvent:
    x: float
    y: float
    synthetic: bool
    timestamp: int


Event = Union[HotkeyEvent, KeyEvent, ButtonEvent, MotionEvent]


def decode(record: EventRecord, backend: str) -> Optional[Event]:
    synthetic = bool(record.flags & FLAG_SYNTHETIC)
    down = record.down == 1
    if record.kind == 1:
        return HotkeyEvent(record.shortcut_id, down, record.timestamp_us)
    if record.kind == 2:
        return KeyEvent(
            name_for_native(backend, record.native_code),
            record.native_code,
            down,
            _MODIFIERS.get(record.modifier),
            synthetic,
            bool(record.flags & FLAG_AUTOREPEAT),
            bool(record.flags & FLAG_SELF_INJECTED),
            record.timestamp_us,
        )
    if record.kind == 3:
        return ButtonEvent(_BUTTONS.get(record.button, "other"), down, record.x, record.y, synthetic, record.timestamp_us)
    if record.kind == 4:
        return MotionEvent(record.x, record.y, synthetic, record.timestamp_us)
    return None  # a kind this package does not know yet
