"""Finds and loads keymux_native: KEYMUX_LIBRARY, then the copy inside this
package, then the system's search path."""
from __future__ import annotations

import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import List, Mapping, Optional, Tuple

from ._errors import KeymuxError

ABI_VERSION = 0x10000
WAIT_FOREVER = 0xFFFFFFFF


class CreateOptions(ctypes.Structure):
    _fields_ = [("abi_version", ctypes.c_uint32), ("raw_mask", ctypes.c_uint32)]


class EventRecord(ctypes.Structure):
    _fields_ = [
        ("kind", ctypes.c_uint32),
        ("flags", ctypes.c_uint32),
        ("shortcut_id", ctypes.c_uint64),
        ("modifier", ctypes.c_uint32),
        ("native_code", ctypes.c_uint32),
        ("down", ctypes.c_uint8),
        ("button", ctypes.c_uint8),
        ("reserved", ctypes.c_uint16),
        ("padding", ctypes.c_uint8 * 4),
        ("x", ctypes.c_double),
        ("y", ctypes.c_double),
        ("timestamp_us", ctypes.c_uint64),
    ]


class ShortcutRecord(ctypes.Structure):
    _fields_ = [("id", ctypes.c_uint64), ("accelerator", ctypes.c_char_p), ("description", ctypes.c_char_p)]


assert ctypes.sizeof(EventRecord) == 56 and ctypes.sizeof(ShortcutRecord) == 24

_handle = ctypes.c_void_p
_status = ctypes.c_uint32
_size = ctypes.c_size_t
_u32p = ctypes.POINTER(ctypes.c_uint32)

# name: (result, argument types)
PROTOTYPES = {
    "kmx_abi_version": (ctypes.c_uint32, []),
    "kmx_create": (_status, [ctypes.POINTER(CreateOptions), ctypes.POINTER(_handle)]),
    "kmx_destroy": (None, [_handle]),
    "kmx_stop": (_status, [_handle]),
    "kmx_backend": (_size, [_handle, ctypes.c_char_p, _size]),
    "kmx_capabilities": (ctypes.c_uint64, [_handle]),
    "kmx_last_error": (_size, [_handle, ctypes.c_char_p, _size]),
    "kmx_last_init_error": (_size, [ctypes.c_char_p, _size]),
    "kmx_poll_event": (_status, [_handle, ctypes.POINTER(EventRecord), ctypes.c_uint32]),
    "kmx_set_raw_mask": (_status, [_handle, ctypes.c_uint32]),
    "kmx_apply_hotkeys": (_status, [_handle, ctypes.POINTER(ShortcutRecord), _size]),
    "kmx_apply_leftovers": (_size, [_handle, ctypes.c_char_p, _size]),
    "kmx_send_chord": (_status, [_handle, _u32p, _size, ctypes.c_uint32]),
    "kmx_is_key_down": (ctypes.c_int32, [_handle, ctypes.c_uint32]),
    "kmx_is_key_down_many": (_status, [_handle, _u32p, _size, ctypes.POINTER(ctypes.c_uint8)]),
}


def system_name(platform: str = sys.platform) -> str:
    if platform == "darwin":
        return "libkeymux_native.dylib"
    if platform.startswith("win"):
        return "keymux_native.dll"
    return "libkeymux_native.so.1"


def candidates(env: Optional[Mapping[str, str]] = None) -> List[Tuple[str, str]]:
    """(where, path) pairs in the order they are tried."""
    env = os.environ if env is None else env
    if env.get("KEYMUX_LIBRARY"):
        return [("KEYMUX_LIBRARY", env["KEYMUX_LIBRARY"])]
    found = []
    bundled = Path(__file__).resolve().parent / system_name()
    if bundled.exists():
        found.append(("package copy", str(bundled)))
    found.append(("system search path", system_name()))
    return found


_lock = threading.Lock()
_loaded: Optional[Tuple[ctypes.CDLL, str]] = None


def _open(path: str) -> Tuple[Optional[ctypes.CDLL], str, bool]:
    """(library, reason, mismatch)"""
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        return None, str(e), False
    for name, (result, arguments) in PROTOTYPES.items():
        try:
            function = getattr(lib, name)
        except AttributeError:
            return None, f"it does not export {name}", True
        function.restype = result
        function.argtypes = arguments
    version = lib.kmx_abi_version()
    if version != ABI_VERSION:
        return None, f"its interface version is 0x{version:08x}, this package needs 0x{ABI_VERSION:08x}", True
    return lib, "", False


def load() -> ctypes.CDLL:
    """The loaded library; loads it on first use (once per process)."""
    global _loaded
    with _lock:
        if _loaded is not None:
            return _loaded[0]
        tried = []
        mismatch = False
        for where, path in candidates():
            lib, reason, wrong = _open(path)
            if lib is not None:
                _loaded = (lib, path)
                return lib
            mismatch = mismatch or wrong
            tried.append(f"{path} ({where}): {reason}")
        listing = "\n".join(f"  {t}" for t in tried)
        if mismatch:
            raise KeymuxError("ABI_MISMATCH", 6, f"keymux_native does not match this package; tried:\n{listing}", tried)
        raise KeymuxError("LIBRARY_NOT_FOUND", None, f"keymux_native could not be loaded; tried:\n{listing}", tried)


def loaded_path() -> Optional[str]:
    with _lock:
        return _loaded[1] if _loaded else None


def read_text(getter, *leading) -> str:
    """Reads one of the library's text getters whole."""
    size = getter(*leading, None, 0)
    if size == 0:
        return ""
    buffer = ctypes.create_string_buffer(size)
    getter(*leading, buffer, size)
    return buffer.value.decode("utf-8", errors="replace")
