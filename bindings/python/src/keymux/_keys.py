"""Key names (KeyboardEvent.code) and the native codes of key events, from
the library's key table (keys.json is generated from it)."""
from __future__ import annotations

import json
from pathlib import Path
from typing import Dict, List, Optional

_table = json.loads((Path(__file__).resolve().parent / "keys.json").read_text(encoding="utf-8"))
_usages: Dict[str, int] = dict(_table["keys"])
_usages.update(_table["aliases"])
_native: Dict[str, Dict[str, str]] = _table["native"]

KEY_NAMES: List[str] = list(_table["keys"])


def usage_of(name: object, what: str) -> int:
    if not isinstance(name, str):
        raise TypeError(f"{what} must be a key name string, got {type(name).__name__}")
    usage = _usages.get(name)
    if usage is None:
        raise ValueError(f"{what}: unknown key name {name!r}")
    return usage


def is_modifier(usage: int) -> bool:
    return 0xE0 <= usage <= 0xE7


def name_for_native(backend: str, native_code: int) -> Optional[str]:
    return _native.get(backend, {}).get(str(native_code))
