import ctypes
import json
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
TABLE = ROOT / "native/src/model/keys.inc"


def test_both_packages_carry_the_key_table_generated_from_the_library():
    run = subprocess.run([sys.executable, str(ROOT / "bindings/keys/generate.py"), "--check"], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr


def test_x11_native_codes_name_the_keys_the_server_maps_there():
    # Every keycode that keys.json names must carry, in the server's own
    # keymap, the keysym the library's table gives that key.
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XkbKeycodeToKeysym.restype = ctypes.c_ulong
    x11.XkbKeycodeToKeysym.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    assert display, "cannot open the X display"
    try:
        keysyms = {}
        for m in re.finditer(r'KMX_(?:KEY|MODIFIER)\(0x\w+,\s*"(\w+)",\s*0x\w+,\s*\w+,\s*(0x\w+),\s*\d+\)', TABLE.read_text()):
            name = re.sub(r"^(Left|Right)(Control|Shift|Alt|Meta)$", r"\2\1", m.group(1))
            keysyms[name] = int(m.group(2), 16)
        native = json.loads((ROOT / "bindings/python/src/keymux/keys.json").read_text())["native"]["x11"]
        # F13 and up have no keysym of their own in the usual keymaps.
        unmapped = {f"F{n}" for n in range(13, 25)}
        checked = 0
        for keycode, name in native.items():
            if name in unmapped:
                continue
            # Keypad digits carry their keysym on the Num Lock level.
            got = [x11.XkbKeycodeToKeysym(display, int(keycode), 0, level) for level in (0, 1)]
            assert keysyms[name] in got, f"{name}: keycode {keycode} has keysyms {[hex(k) for k in got]}"
            checked += 1
        assert checked == 115 - len(unmapped)
    finally:
        x11.XCloseDisplay(display)
