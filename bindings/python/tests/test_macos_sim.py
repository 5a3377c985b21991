"""The package over the simulated-macOS build of keymux_native, whose Carbon
delivers hot keys only while the main thread runs its event loop, as on a
Mac. Runs when KMXSIM_CONTROL names the simulation's control socket (and
KEYMUX_LIBRARY that build); the press comes in through that socket."""
import os
import socket
import threading

import pytest

from keymux import Hotkey, HotkeyEvent, Keymux, KeymuxError

CONTROL = os.environ.get("KMXSIM_CONTROL")
pytestmark = pytest.mark.skipif(not CONTROL, reason="needs the simulated-macOS keymux_native (KMXSIM_CONTROL)")

KEY_K, CMD_SHIFT = 40, 0x100 | 0x200  # kVK_ANSI_K; cmdKey | shiftKey


def control(*commands: str) -> list:
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(CONTROL)
        s.sendall("".join(f"{c}\n" for c in commands).encode())
        replies = b""
        while replies.count(b"\n") < len(commands):
            chunk = s.recv(256)
            assert chunk, "control socket closed early"
            replies += chunk
    return replies.decode().split()


def press_and_release_k() -> None:
    assert control(f"hotkey_registered {KEY_K} {CMD_SHIFT}") == ["1"]
    # 1: the press reached this process's handlers, queued for the main loop.
    assert control(f"hotkey_press {KEY_K} {CMD_SHIFT}", f"hotkey_release {KEY_K} {CMD_SHIFT}") == ["1", "1"]


def test_poll_on_the_main_thread_runs_the_event_loop():
    with Keymux() as km:
        assert km.backend == "macos-carbon-coregraphics"
        km.apply_hotkeys([Hotkey(7, "Cmd+Shift+K")])
        press_and_release_k()
        got = [km.poll(5.0), km.poll(5.0)]
        assert [(e.id, e.down) for e in got if isinstance(e, HotkeyEvent)] == [(7, True), (7, False)]


def test_run_event_loop_serves_a_poller_on_another_thread():
    with Keymux() as km:
        km.apply_hotkeys([Hotkey(8, "Cmd+Shift+K")])
        got = []
        done = threading.Event()

        def poller():
            while len(got) < 2:
                event = km.poll(5.0)
                if event is None:
                    break
                got.append((event.id, event.down))
            done.set()

        thread = threading.Thread(target=poller)
        thread.start()
        press_and_release_k()
        for _ in range(100):  # at most 5 s
            if done.is_set():
                break
            km.run_event_loop(0.05)
        thread.join()
        assert got == [(8, True), (8, False)]
        refused = []

        def elsewhere():
            try:
                km.run_event_loop(0)
            except RuntimeError as e:
                refused.append(str(e))

        other = threading.Thread(target=elsewhere)
        other.start()
        other.join()
        assert refused and "main thread" in refused[0]


def test_bad_accelerators_are_backend_errors_as_the_readme_says():
    with Keymux() as km:
        for accelerator, text in [
            ("Ctrl+Banana", "backend error: invalid argument: unsupported macOS key: Banana"),
            ("CmdOrCtrl+Shift+K", "backend error: invalid argument: unsupported macOS key: CmdOrCtrl"),
        ]:
            with pytest.raises(KeymuxError) as refused:
                km.apply_hotkeys([Hotkey(1, accelerator)])
            assert (refused.value.code, refused.value.status, str(refused.value)) == ("BACKEND", 2, text)
