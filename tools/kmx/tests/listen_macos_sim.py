"""kmx listen on the simulated macOS: Carbon delivers hot keys only while the
main thread runs its event loop, so kmx must run it there and poll from
another thread. Presses come through the simulation's control socket; raw keys
show that kmx names macOS key codes as the packages do.

    listen_macos_sim.py KMX
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

KEY_K, CMD_SHIFT = 40, 0x100 | 0x200  # kVK_ANSI_K; cmdKey | shiftKey
KEY_CONTROL_RIGHT = 0x3E  # kVK_RightControl


def ask(path: str, command: str) -> str:
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(path)
        s.sendall(f"{command}\n".encode())
        reply = b""
        while not reply.endswith(b"\n"):
            chunk = s.recv(64)
            assert chunk, "control socket closed early"
            reply += chunk
    return reply.decode().strip()


def main(kmx: str) -> None:
    with tempfile.TemporaryDirectory() as scratch:
        control = os.path.join(scratch, "control")
        env = dict(os.environ, KMXSIM_CONTROL=control)
        listen = subprocess.Popen([kmx, "listen", "--keys", "--hotkey", "5=Cmd+Shift+K", "--count", "4"], env=env,
                                  stdout=subprocess.PIPE, text=True)
        try:
            deadline = time.monotonic() + 30
            while True:  # registered on kmx's backend worker
                assert time.monotonic() < deadline and listen.poll() is None, "kmx did not register the hot key"
                try:
                    if ask(control, f"hotkey_registered {KEY_K} {CMD_SHIFT}") == "1":
                        break
                except OSError:
                    pass  # the socket is not there yet
                time.sleep(0.02)
            assert ask(control, f"hotkey_press {KEY_K} {CMD_SHIFT}") == "1"
            assert ask(control, f"hotkey_release {KEY_K} {CMD_SHIFT}") == "1"
            out = [json.loads(listen.stdout.readline()) for _ in range(2)]
            # Raw keys are named by their macOS key codes, as the packages name them.
            assert ask(control, f"key_press {KEY_CONTROL_RIGHT}") == "0"
            assert ask(control, f"key_release {KEY_CONTROL_RIGHT}") == "0"
            rest, _ = listen.communicate(timeout=10)
        finally:
            listen.kill()
        events = [(e["kind"], e.get("id", e.get("key")), e["down"]) for e in out + list(map(json.loads, rest.splitlines()))]
        assert events == [("hotkey", 5, True), ("hotkey", 5, False), ("key", "ControlRight", True),
                          ("key", "ControlRight", False)], events
        assert listen.returncode == 0
    print("listen_macos_sim: kmx listen receives Carbon hot keys")


if __name__ == "__main__":
    main(sys.argv[1])
