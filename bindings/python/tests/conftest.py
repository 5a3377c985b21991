import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "src"))

from keymux import Keymux  # noqa: E402

assert os.environ.get("DISPLAY"), "these tests need an X display (run them under Xvfb)"


def xdotool(*args: str) -> None:
    """A second X client presses keys."""
    subprocess.run(["xdotool", *args], check=True)


def next_events(km: Keymux, kind: type, count: int, timeout: float = 10.0) -> list:
    """The next count events of one kind; fails if they do not all come."""
    got = []
    while len(got) < count:
        event = km.poll(timeout)
        assert event is not None, f"only {len(got)} of {count} {kind.__name__} events came"
        if isinstance(event, kind):
            got.append(event)
    return got


@pytest.fixture
def km():
    with Keymux(raw=["keys", "buttons"]) as runtime:
        yield runtime
