#!/usr/bin/env python3
"""Writes keys.json for the Node and Python packages from the library's key
table (native/src/model/keys.inc).

Usage: generate.py [--check]   (--check: fail when a committed copy differs)

keys.json holds the KeyboardEvent.code name of every portable usage and, per
backend, the native key code of each key so that key events can be named:
  x11    X keycodes of the evdev keymap (the table's Linux input code + 8),
         the keymap of every X server that reads evdev devices, Xvfb included
  win32  the virtual key of a low-level keyboard hook (which tells the left
         and right modifiers apart, unlike the table's side-neutral column)
  macos  the Carbon virtual key code
"""
import json
import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
TABLE = ROOT / "native/src/model/keys.inc"
OUTPUTS = [ROOT / "bindings/node/lib/keys.json", ROOT / "bindings/python/src/keymux/keys.json"]

# The library names modifiers LeftControl...; KeyboardEvent.code says ControlLeft.
def code_name(table_name):
    m = re.fullmatch(r"(Left|Right)(Control|Shift|Alt|Meta)", table_name)
    return f"{m.group(2)}{m.group(1)}" if m else table_name

# Low-level hooks report the sided virtual keys of the modifiers.
HOOK_VK = {"ControlLeft": 0xA2, "ControlRight": 0xA3, "ShiftLeft": 0xA0, "ShiftRight": 0xA1,
           "AltLeft": 0xA4, "AltRight": 0xA5, "MetaLeft": 0x5B, "MetaRight": 0x5C}
ROLE = {"Control": "control", "Shift": "shift", "Alt": "alt", "Meta": "meta"}

ROW = re.compile(r'^KMX_(KEY|MODIFIER)\((0x[0-9A-Fa-f]+),\s*"(\w+)",\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+|NONE),'
                 r'\s*(0x[0-9A-Fa-f]+|NONE),\s*(\d+)\)')


def build():
    keys, aliases = {}, {}
    native = {"x11": {}, "win32": {}, "macos-carbon-coregraphics": {}}
    for line in TABLE.read_text().splitlines():
        m = ROW.match(line)
        if not m:
            continue
        usage, table_name, win, mac = int(m.group(2), 16), m.group(3), int(m.group(4), 16), m.group(5)
        evdev = int(m.group(7))
        name = code_name(table_name)
        keys[name] = usage
        if name != table_name:
            aliases[table_name] = usage
            win = HOOK_VK[name]
        native["x11"].setdefault(str(evdev + 8), name)
        native["win32"].setdefault(str(win), name)
        if mac != "NONE":
            native["macos-carbon-coregraphics"].setdefault(str(int(mac, 16)), name)
    if len(keys) != 115:
        sys.exit(f"generate.py: expected 115 keys in {TABLE}, found {len(keys)}")
    # Side-neutral virtual keys still come from some hooks (injected input).
    for vk, name in ((0x10, "ShiftLeft"), (0x11, "ControlLeft"), (0x12, "AltLeft")):
        native["win32"].setdefault(str(vk), name)
    return json.dumps({"keys": keys, "aliases": aliases, "native": native}, indent=1, sort_keys=False) + "\n"


def main():
    text = build()
    stale = [p for p in OUTPUTS if not p.exists() or p.read_text() != text]
    if "--check" in sys.argv[1:]:
        for p in stale:
            print(f"generate.py: {p.relative_to(ROOT)} is out of date", file=sys.stderr)
        return 1 if stale else 0
    for p in OUTPUTS:
        p.parent.mkdir(parents=True, exist_ok=True)
        p.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
