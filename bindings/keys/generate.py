#!/usr/bin/env python3
"""Writes keys.json for the Node and Python packages from the library's key
table (native/src/model/keys.inc).

Usage: generate.py [--check]   (--check: fail when a committed copy differs)

keys.json holds the KeyboardEvent.code name of every portable usage and, per
backend, the native key code of each key so that key events can be named:
  x11    X keycodes of the evdev keymap (Linux input code + 8), the keymap of
         every X server that reads evdev devices, Xvfb included
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

# Linux input event codes (linux/input-event-codes.h) of each key.
EVDEV = {
    "KeyA": 30, "KeyB": 48, "KeyC": 46, "KeyD": 32, "KeyE": 18, "KeyF": 33, "KeyG": 34, "KeyH": 35,
    "KeyI": 23, "KeyJ": 36, "KeyK": 37, "KeyL": 38, "KeyM": 50, "KeyN": 49, "KeyO": 24, "KeyP": 25,
    "KeyQ": 16, "KeyR": 19, "KeyS": 31, "KeyT": 20, "KeyU": 22, "KeyV": 47, "KeyW": 17, "KeyX": 45,
    "KeyY": 21, "KeyZ": 44,
    "Digit1": 2, "Digit2": 3, "Digit3": 4, "Digit4": 5, "Digit5": 6, "Digit6": 7, "Digit7": 8,
    "Digit8": 9, "Digit9": 10, "Digit0": 11,
    "Enter": 28, "Escape": 1, "Backspace": 14, "Tab": 15, "Space": 57, "Minus": 12, "Equal": 13,
    "BracketLeft": 26, "BracketRight": 27, "Backslash": 43, "Semicolon": 39, "Quote": 40,
    "Backquote": 41, "Comma": 51, "Period": 52, "Slash": 53, "CapsLock": 58,
    "F1": 59, "F2": 60, "F3": 61, "F4": 62, "F5": 63, "F6": 64, "F7": 65, "F8": 66, "F9": 67,
    "F10": 68, "F11": 87, "F12": 88, "F13": 183, "F14": 184, "F15": 185, "F16": 186, "F17": 187,
    "F18": 188, "F19": 189, "F20": 190, "F21": 191, "F22": 192, "F23": 193, "F24": 194,
    "PrintScreen": 99, "ScrollLock": 70, "Pause": 119, "Insert": 110, "Home": 102, "PageUp": 104,
    "Delete": 111, "End": 107, "PageDown": 109, "ArrowRight": 106, "ArrowLeft": 105,
    "ArrowDown": 108, "ArrowUp": 103, "NumLock": 69, "NumpadDivide": 98, "NumpadMultiply": 55,
    "NumpadSubtract": 74, "NumpadAdd": 78, "NumpadEnter": 96, "Numpad1": 79, "Numpad2": 80,
    "Numpad3": 81, "Numpad4": 75, "Numpad5": 76, "Numpad6": 77, "Numpad7": 71, "Numpad8": 72,
    "Numpad9": 73, "Numpad0": 82, "NumpadDecimal": 83,
    "ControlLeft": 29, "ShiftLeft": 42, "AltLeft": 56, "MetaLeft": 125,
    "ControlRight": 97, "ShiftRight": 54, "AltRight": 100, "MetaRight": 126,
}

# The library names modifiers LeftControl...; KeyboardEvent.code says ControlLeft.
def code_name(table_name):
    m = re.fullmatch(r"(Left|Right)(Control|Shift|Alt|Meta)", table_name)
    return f"{m.group(2)}{m.group(1)}" if m else table_name

# Low-level hooks report the sided virtual keys of the modifiers.
HOOK_VK = {"ControlLeft": 0xA2, "ControlRight": 0xA3, "ShiftLeft": 0xA0, "ShiftRight": 0xA1,
           "AltLeft": 0xA4, "AltRight": 0xA5, "MetaLeft": 0x5B, "MetaRight": 0x5C}
ROLE = {"Control": "control", "Shift": "shift", "Alt": "alt", "Meta": "meta"}

ROW = re.compile(r'^KMX_(KEY|MODIFIER)\((0x[0-9A-Fa-f]+),\s*"(\w+)",\s*(0x[0-9A-Fa-f]+),\s*(0x[0-9A-Fa-f]+|NONE),')


def build():
    keys, aliases = {}, {}
    native = {"x11": {}, "win32": {}, "macos-carbon-coregraphics": {}}
    for line in TABLE.read_text().splitlines():
        m = ROW.match(line)
        if not m:
            continue
        usage, table_name, win, mac = int(m.group(2), 16), m.group(3), int(m.group(4), 16), m.group(5)
        name = code_name(table_name)
        keys[name] = usage
        if name != table_name:
            aliases[table_name] = usage
            win = HOOK_VK[name]
        native["x11"].setdefault(str(EVDEV[name] + 8), name)
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
