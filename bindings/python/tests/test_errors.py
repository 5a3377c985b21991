import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import xdotool

from keymux import Hotkey, Keymux, KeymuxError
from keymux._library import candidates, system_name

SRC = Path(__file__).resolve().parents[1] / "src"


def test_library_errors_carry_code_status_and_text(km):
    with pytest.raises(KeymuxError) as second:
        Keymux()
    assert (second.value.code, second.value.status, str(second.value)) == (
        "BACKEND",
        2,
        "backend error: only one keymux runtime may be active in a process",
    )
    with pytest.raises(KeymuxError) as duplicate:
        km.apply_hotkeys([(1, "Ctrl+K"), (1, "Ctrl+L")])
    assert (duplicate.value.code, duplicate.value.status) == ("INVALID_ARGUMENT", 1)
    assert "duplicate" in str(duplicate.value)
    with pytest.raises(KeymuxError) as refused:
        km.apply_hotkeys([Hotkey(2, "Ctrl+Banana")])
    assert str(refused.value) == 'backend error: invalid argument: Ctrl+Banana: unrecognised key "Banana"'
    xdotool("keydown", "x")
    try:
        with pytest.raises(KeymuxError) as held:
            km.send_chord(["ControlLeft"], "KeyX")
    finally:
        xdotool("keyup", "x")
    assert held.value.code == "BACKEND" and "physically held" in str(held.value)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda km: km.send_chord([], "KeyAA"), ValueError),
        (lambda km: km.send_chord([], 4), TypeError),
        (lambda km: km.send_chord(["KeyA"], "KeyB"), ValueError),
        (lambda km: km.send_chord("ControlLeft", "KeyB"), TypeError),
        (lambda km: km.send_chord(["ControlLeft"] * 9, "KeyB"), ValueError),
        (lambda km: km.is_key_down("Shift"), ValueError),
        (lambda km: km.set_raw_mask(["wheel"]), ValueError),
        (lambda km: km.set_raw_mask("keys"), TypeError),
        (lambda km: km.apply_hotkeys([(1, 5)]), TypeError),
        (lambda km: km.apply_hotkeys([(1, "Ctrl+\0K")]), ValueError),
        (lambda km: km.apply_hotkeys([("1", "Ctrl+K")]), TypeError),
        (lambda km: km.apply_hotkeys([(True, "Ctrl+K")]), TypeError),
        (lambda km: km.apply_hotkeys([(-1, "Ctrl+K")]), ValueError),
        (lambda km: km.apply_hotkeys([(2**64, "Ctrl+K")]), ValueError),
        (lambda km: km.apply_hotkeys([(1, "Ctrl+K", None)]), TypeError),
        (lambda km: km.poll(-1), ValueError),
    ],
)
def test_bad_arguments_fail_before_any_call(km, call, error):
    with pytest.raises(error):
        call(km)
    km.apply_hotkeys([(1, "Ctrl+K")])  # still usable


def test_after_close_every_call_reports_closed_and_a_new_runtime_may_start():
    with Keymux() as km:
        pass
    for call in (lambda: km.apply_hotkeys([]), lambda: km.poll(0), lambda: km.is_key_down("KeyA"), km.stop):
        with pytest.raises(KeymuxError) as closed:
            call()
        assert (closed.value.code, closed.value.status) == ("CLOSED", 4)
    Keymux().close()


def test_library_lookup_order():
    assert candidates({"KEYMUX_LIBRARY": "/opt/k/libk.so"}) == [("KEYMUX_LIBRARY", "/opt/k/libk.so")]
    assert candidates({})[-1] == ("system search path", "libkeymux_native.so.1")
    assert (system_name("darwin"), system_name("win32")) == ("libkeymux_native.dylib", "keymux_native.dll")


def create_in(env_library):
    """Creates a runtime in a fresh process (the library loads once per process)."""
    script = (
        "import json, keymux\n"
        "try:\n    keymux.Keymux()\n"
        "except keymux.KeymuxError as e:\n    print(json.dumps([e.code, e.status, str(e)]))\n"
    )
    env = dict(os.environ, PYTHONPATH=str(SRC), KEYMUX_LIBRARY=env_library)
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    return json.loads(run.stdout)


def test_missing_or_mismatched_library_is_named():
    code, status, message = create_in("/nonexistent/libkeymux_native.so.1")
    assert (code, status) == ("LIBRARY_NOT_FOUND", None)
    assert "/nonexistent/libkeymux_native.so.1 (KEYMUX_LIBRARY): " in message
    code, status, message = create_in("libm.so.6")
    assert (code, status) == ("ABI_MISMATCH", 6)
    assert "libm.so.6 (KEYMUX_LIBRARY): it does not export kmx_abi_version" in message
