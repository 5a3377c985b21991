"""Installs the built wheel into a plain venv (no system site packages, no
package index) and receives a hot key through the library it carries.

    wheel_check.py DIST_DIR      (on an X display, with xdotool)
"""
import base64
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

SCRIPT = """
import json, subprocess, sys, keymux
assert not any("dist-packages" in p for p in sys.path), sys.path
with keymux.Keymux() as km:
    km.apply_hotkeys([keymux.Hotkey(42, "CmdOrCtrl+Shift+K")])
    subprocess.run(["xdotool", "key", "ctrl+shift+k"], check=True)
    got = [km.poll(10.0), km.poll(10.0)]
print(json.dumps({"got": [[e.id, e.down] for e in got if e is not None], "library": keymux.Keymux.library_path()}))
"""


def main(dist: Path) -> None:
    wheels = sorted(dist.glob("keymux-*.whl"))
    assert len(wheels) == 1, f"expected one wheel in {dist}, found {wheels}"
    wheel = wheels[0]
    tag = re.fullmatch(r"keymux-(\d+\.\d+\.\d+)-py3-none-manylinux_(\d+)_(\d+)_x86_64\.whl", wheel.name)
    assert tag, f"unexpected wheel name {wheel.name}"
    glibc = tuple(int(x) for x in os.confstr("CS_GNU_LIBC_VERSION").split()[1].split(".")[:2])
    assert (int(tag[2]), int(tag[3])) <= glibc, f"{wheel.name} claims a newer glibc than this system's {glibc}"
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        info = f"keymux-{tag[1]}.dist-info"
        assert {f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD", "keymux/libkeymux_native.so.1"} <= names, names
        assert f"Tag: py3-none-{wheel.name.split('-py3-none-')[1][:-4]}" in archive.read(f"{info}/WHEEL").decode()
        # RECORD lists every other file with its hash and size (pip uninstalls by it).
        recorded = {}
        for line in archive.read(f"{info}/RECORD").decode().splitlines():
            name, digest, size = line.rsplit(",", 2)
            recorded[name] = (digest, size)
        assert set(recorded) == names, set(recorded) ^ names
        for name, (digest, size) in recorded.items():
            if name.endswith("/RECORD"):
                continue
            data = archive.read(name)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, size) == (f"sha256={expected}", str(len(data))), name

    with tempfile.TemporaryDirectory() as scratch:
        venv = Path(scratch) / "venv"
        subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True)
        python = venv / "bin" / "python"
        subprocess.run([str(python), "-m", "pip", "install", "--quiet", "--no-index", str(wheel)], check=True)
        env = {k: v for k, v in os.environ.items() if k not in ("KEYMUX_LIBRARY", "PYTHONPATH")}
        run = subprocess.run(
            [str(python), "-c", SCRIPT], cwd=scratch, env=env, capture_output=True, text=True, timeout=120
        )
        assert run.returncode == 0, run.stderr
        result = json.loads(run.stdout)
        assert result["got"] == [[42, True], [42, False]], result
        library = Path(result["library"])
        assert library.is_relative_to(venv) and library.name == "libkeymux_native.so.1", library
    print(f"wheel_check: {wheel.name} installs into a plain venv and receives hot keys")


if __name__ == "__main__":
    main(Path(sys.argv[1]))
