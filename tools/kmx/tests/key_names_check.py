"""kmx names keys as the packages do (KeyboardEvent.code), and still accepts
the library's own modifier names.

    key_names_check.py KMX KEYS_JSON      (on an X display)
"""
import ctypes
import json
import subprocess
import sys


def xtest_type(*keycodes: int) -> None:
    """Another X client presses and releases each X keycode with XTest."""
    x11, xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    display = x11.XOpenDisplay(None)
    assert display, "cannot open the X display"
    for keycode in keycodes:
        xtst.XTestFakeKeyEvent(display, keycode, 1, 0)
        xtst.XTestFakeKeyEvent(display, keycode, 0, 0)
    x11.XSync(display, 0)
    x11.XCloseDisplay(display)


def main(kmx: str, keys_json: str) -> None:
    table = json.loads(open(keys_json, encoding="utf-8").read())
    names = list(table["keys"])
    # Every name the packages print comes back from kmx unchanged (kmx prints
    # the object's keys sorted).
    run = subprocess.run([kmx, "keys", *names], capture_output=True, text=True, timeout=60, check=True)
    assert sorted(json.loads(run.stdout)) == sorted(names), run.stdout
    # Aliases (LeftControl, ...) are accepted and reported by their package name.
    aliases = table["aliases"]
    by_usage = {usage: name for name, usage in table["keys"].items()}
    run = subprocess.run([kmx, "keys", *aliases], capture_output=True, text=True, timeout=60, check=True)
    assert sorted(json.loads(run.stdout)) == sorted({by_usage[u] for u in aliases.values()}), run.stdout

    # Raw key events of another client's presses carry the same names.
    listen = subprocess.Popen([kmx, "listen", "--keys", "--count", "4"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    try:
        for line in listen.stderr:  # "kmx: listening on ..." once the runtime is up
            if "listening" in line:
                break
        xtest_type(29 + 8, 54 + 8)  # evdev KEY_LEFTCTRL and KEY_RIGHTSHIFT
        out, _ = listen.communicate(timeout=30)
    finally:
        listen.kill()
    keys = [(e["key"], e["down"]) for e in map(json.loads, out.splitlines())]
    assert keys == [("ControlLeft", True), ("ControlLeft", False), ("ShiftRight", True), ("ShiftRight", False)], keys
    print("key_names_check: kmx prints the packages' key names")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
