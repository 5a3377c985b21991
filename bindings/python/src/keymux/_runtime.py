from __future__ import annotations

import ctypes
import threading
import time
from dataclasses import dataclass
from typing import Iterable, Iterator, List, Optional, Sequence, Tuple, Union

from . import _event_loop, _library
from ._errors import KeymuxError
from ._events import Event, decode
from ._keys import is_modifier, usage_of
from ._library import EventRecord, ShortcutRecord, read_text

RAW_BITS = {"keys": 0x1, "buttons": 0x2, "drag": 0x4}
MAX_ID = 2**64 - 1
MAX_MODIFIERS = 8
# Blocking polls wait in slices so that signals (Ctrl+C) are handled; on the
# main thread with Carbon, short ones, each after a run of its event loop.
_SLICE_MS = 200
_PUMP_SLICE_MS = 10


@dataclass(frozen=True)
class Hotkey:
    id: int
    accelerator: str
    description: str = ""


HotkeyLike = Union[Hotkey, Tuple[int, str], Tuple[int, str, str]]


def _raw_mask(kinds: Iterable[str], what: str) -> int:
    if isinstance(kinds, (str, bytes)) or not isinstance(kinds, Iterable):
        raise TypeError(f"{what} must be a sequence of 'keys', 'buttons' or 'drag'")
    mask = 0
    for kind in kinds:
        if not isinstance(kind, str):
            raise TypeError(f"{what} entries must be strings")
        if kind not in RAW_BITS:
            raise ValueError(f"{what}: unknown raw input kind {kind!r}")
        mask |= RAW_BITS[kind]
    return mask


def _text(value: object, what: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a string")
    if "\0" in value:
        raise ValueError(f"{what} must not contain NUL")
    return value.encode("utf-8", errors="surrogatepass")


def _hotkey(item: HotkeyLike, at: int) -> Tuple[int, bytes, bytes]:
    if isinstance(item, Hotkey):
        fields = (item.id, item.accelerator, item.description)
    elif isinstance(item, tuple) and len(item) in (2, 3):
        fields = (item + ("",))[:3]
    else:
        raise TypeError(f"hotkeys[{at}] must be a Hotkey or an (id, accelerator[, description]) tuple")
    id_, accelerator, description = fields
    if isinstance(id_, bool) or not isinstance(id_, int):
        raise TypeError(f"hotkeys[{at}].id must be an int")
    if not 0 <= id_ <= MAX_ID:
        raise ValueError(f"hotkeys[{at}].id must fit in 64 unsigned bits")
    return id_, _text(accelerator, f"hotkeys[{at}].accelerator"), _text(description, f"hotkeys[{at}].description")


class Keymux:
    """The process's one keymux runtime.

    with Keymux(raw=["keys"]) as km:
        km.apply_hotkeys([Hotkey(1, "CmdOrCtrl+Shift+K", "push to talk")])
        for event in km: ...
    """

    def __init__(self, raw: Sequence[str] = ()) -> None:
        mask = _raw_mask(raw, "raw")
        self._lib = _library.load()
        handle = ctypes.c_void_p()
        options = _library.CreateOptions(_library.ABI_VERSION, mask)
        status = self._lib.kmx_create(ctypes.byref(options), ctypes.byref(handle))
        if status != 0:
            raise KeymuxError.from_status(status, read_text(self._lib.kmx_last_init_error))
        self._handle: Optional[int] = handle.value
        # Calls in flight; close waits for them, as the library must not be
        # entered once the handle is destroyed.
        self._gate = threading.Condition()
        self._active = 0
        self._closing = False
        self._backend = read_text(self._lib.kmx_backend, self._handle)
        self._capabilities = int(self._lib.kmx_capabilities(self._handle))
        self._pump = _event_loop.find_pump(self._lib)

    @classmethod
    def create(cls, raw: Sequence[str] = ()) -> "Keymux":
        """The same as Keymux(raw=...), named as in the other bindings."""
        return cls(raw)

    @staticmethod
    def library_path() -> Optional[str]:
        """The loaded keymux_native's path, or None before the first runtime."""
        return _library.loaded_path()

    # Lifecycle

    def __enter__(self) -> "Keymux":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def stop(self) -> None:
        """Ends the backend: pollers still get the queued events, then the
        iterator ends and poll raises CLOSED. Idempotent."""
        with self._admitted() as handle:
            status = self._lib.kmx_stop(handle)
            if status != 0:
                raise self._failure(handle, status)

    def close(self) -> None:
        """Stops and frees the runtime; idempotent."""
        with self._gate:
            if self._closing:
                return
            handle = self._handle
            self._closing = True
        self._lib.kmx_stop(handle)  # releases blocked pollers
        with self._gate:
            self._gate.wait_for(lambda: self._active == 0)
            self._handle = None
        self._lib.kmx_destroy(handle)

    @property
    def closed(self) -> bool:
        return self._closing

    @property
    def backend(self) -> str:
        return self._backend

    @property
    def capabilities(self) -> int:
        return self._capabilities

    # Events

    def poll(self, timeout: Optional[float] = None) -> Optional[Event]:
        """The next event; None when none came within timeout seconds (None
        waits without limit, 0 does not wait). Raises KeymuxError CLOSED once
        the runtime has stopped and every event was taken. On macOS, called
        on the main thread, it also runs Carbon's event loop, which hot keys
        need (see run_event_loop)."""
        if timeout is not None and (not isinstance(timeout, (int, float)) or timeout < 0):
            raise ValueError("timeout must be None or a non-negative number of seconds")
        deadline = None if timeout is None else time.monotonic() + timeout
        record = EventRecord()
        pump = self._pump if _event_loop.on_main_thread() else None
        slice_ms = _SLICE_MS if pump is None else _PUMP_SLICE_MS
        while True:
            if deadline is None:
                wait_ms = slice_ms
            else:
                wait_ms = max(0, min(slice_ms, int((deadline - time.monotonic()) * 1000 + 0.999)))
            if pump is not None:
                pump(0.0)
            with self._admitted() as handle:
                status = self._lib.kmx_poll_event(handle, ctypes.byref(record), wait_ms)
            if status == 0:
                event = decode(record, self._backend)
                if event is not None:
                    return event
            elif status == 4:
                raise KeymuxError.closed()
            elif status != 3:
                raise KeymuxError.from_status(status, "")
            if deadline is not None and time.monotonic() >= deadline:
                return None

    def run_event_loop(self, seconds: float) -> None:
        """Runs the main thread's event loop for seconds, for hosts that poll
        on another thread: on macOS Carbon delivers hot keys only while the
        main thread runs it (an AppKit or Qt application's loop does that
        already). Elsewhere it only waits. Must be called on the main thread."""
        if isinstance(seconds, bool) or not isinstance(seconds, (int, float)) or seconds < 0:
            raise ValueError("seconds must be a non-negative number")
        _event_loop.run_for(self._pump, float(seconds))

    def __iter__(self) -> Iterator[Event]:
        """Every event until the runtime stops (or is closed)."""
        while True:
            try:
                yield self.poll()
            except KeymuxError as e:
                if e.code == "CLOSED":
                    return
                raise

    # Requests

    def apply_hotkeys(self, hotkeys: Iterable[HotkeyLike]) -> None:
        """Makes the registered hot keys equal to the list, all or nothing
        (may wait up to 45 s)."""
        if isinstance(hotkeys, (str, bytes)) or not isinstance(hotkeys, Iterable):
            raise TypeError("hotkeys must be a sequence of Hotkey")
        items = [_hotkey(item, at) for at, item in enumerate(hotkeys)]
        records = (ShortcutRecord * max(1, len(items)))()
        for at, (id_, accelerator, description) in enumerate(items):
            records[at] = ShortcutRecord(id_, accelerator, description)
        with self._admitted() as handle:
            self._check(handle, self._lib.kmx_apply_hotkeys(handle, records, len(items)))

    def apply_leftovers(self) -> List[str]:
        """Accelerators the last apply could not release."""
        with self._admitted() as handle:
            text = read_text(self._lib.kmx_apply_leftovers, handle)
        return text.split("\n") if text else []

    def set_raw_mask(self, raw: Sequence[str]) -> None:
        mask = _raw_mask(raw, "raw")
        with self._admitted() as handle:
            self._check(handle, self._lib.kmx_set_raw_mask(handle, mask))

    def send_chord(self, modifiers: Sequence[str], key: str) -> None:
        """Types key while holding the modifiers (KeyboardEvent.code names)."""
        if isinstance(modifiers, (str, bytes)) or not isinstance(modifiers, Sequence):
            raise TypeError("modifiers must be a sequence of key names")
        if len(modifiers) > MAX_MODIFIERS:
            raise ValueError(f"at most {MAX_MODIFIERS} modifiers")
        usages = []
        for at, name in enumerate(modifiers):
            usage = usage_of(name, f"modifiers[{at}]")
            if not is_modifier(usage):
                raise ValueError(f"modifiers[{at}]: {name} is not a modifier key")
            usages.append(usage)
        key_usage = usage_of(key, "key")
        array = (ctypes.c_uint32 * max(1, len(usages)))(*usages)
        with self._admitted() as handle:
            self._check(handle, self._lib.kmx_send_chord(handle, array, len(usages), key_usage))

    def is_key_down(self, key: str) -> bool:
        return self.are_keys_down([key])[0]

    def are_keys_down(self, keys: Sequence[str]) -> List[bool]:
        if isinstance(keys, (str, bytes)) or not isinstance(keys, Sequence):
            raise TypeError("keys must be a sequence of key names")
        usages = [usage_of(name, f"keys[{at}]") for at, name in enumerate(keys)]
        if not usages:
            return []
        array = (ctypes.c_uint32 * len(usages))(*usages)
        held = (ctypes.c_uint8 * len(usages))()
        with self._admitted() as handle:
            self._check(handle, self._lib.kmx_is_key_down_many(handle, array, len(usages), held))
        return [b == 1 for b in held]

    # Plumbing

    def _admitted(self) -> "_Admission":
        return _Admission(self)

    def _failure(self, handle: int, status: int) -> KeymuxError:
        return KeymuxError.from_status(status, read_text(self._lib.kmx_last_error, handle))

    def _check(self, handle: int, status: int) -> None:
        if status != 0:
            raise self._failure(handle, status)

    def __del__(self) -> None:
        if getattr(self, "_handle", None) is not None and not getattr(self, "_closing", True):
            self.close()


class _Admission:
    def __init__(self, km: Keymux) -> None:
        self._km = km

    def __enter__(self) -> int:
        km = self._km
        with km._gate:
            if km._closing:
                raise KeymuxError.closed()
            km._active += 1
            return km._handle  # type: ignore[return-value]

    def __exit__(self, *exc: object) -> None:
        km = self._km
        with km._gate:
            km._active -= 1
            if km._active == 0:
                km._gate.notify_all()
