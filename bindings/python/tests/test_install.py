import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

PACKAGE = Path(__file__).resolve().parents[1]

SCRIPT = """
import json, subprocess, keymux
with keymux.Keymux() as km:
    km.apply_hotkeys([keymux.Hotkey(42, "CmdOrCtrl+Shift+K")])
    subprocess.run(["xdotool", "key", "ctrl+shift+k"], check=True)
    got = [km.poll(10.0), km.poll(10.0)]
print(json.dumps({"got": [[e.id, e.down] for e in got], "library": keymux.Keymux.library_path(),
                  "typed": (__import__("pathlib").Path(keymux.__file__).parent / "py.typed").exists()}))
"""


def test_pip_install_into_a_scratch_venv_bundles_the_library_and_works(tmp_path):
    library = os.environ.get("KEYMUX_LIBRARY")
    assert library and Path(library).is_file(), "set KEYMUX_LIBRARY to a built keymux_native for this test"
    source = tmp_path / "keymux-src"
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    shutil.copy(library, source / "src" / "keymux" / "libkeymux_native.so.1")

    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = venv / "bin" / "python"
    subprocess.run(
        [str(python), "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation", str(source)], check=True
    )

    env = {k: v for k, v in os.environ.items() if k not in ("KEYMUX_LIBRARY", "PYTHONPATH")}
    run = subprocess.run(
        [str(python), "-c", SCRIPT], cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120
    )
    assert run.returncode == 0, run.stderr
    result = json.loads(run.stdout)
    assert result["got"] == [[42, True], [42, False]]
    assert result["library"].startswith(str(venv)) and result["library"].endswith("keymux/libkeymux_native.so.1")
    assert result["typed"]
