from __future__ import annotations

from typing import Optional, Sequence

# Library status codes by name; the numbers are the C interface's.
STATUS_CODES = {
    1: "INVALID_ARGUMENT",
    2: "BACKEND",
    3: "TIMEOUT",
    4: "CLOSED",
    5: "UNSUPPORTED",
    6: "ABI_MISMATCH",
    7: "DELIVERY_UNCERTAIN",
    8: "NOT_DELIVERED",
}
CLOSED_TEXT = "runtime is closed"


class KeymuxError(Exception):
    """A failure reported by keymux_native (or in finding it).

    code: a name of STATUS_CODES, or "LIBRARY_NOT_FOUND"; status: the
    library's status number (None when no library was found); the message is
    the library's last-error text.
    """

    def __init__(self, code: str, status: Optional[int], message: str, tried: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.code = code
        self.status = status
        self.message = message
        self.tried = list(tried)

    @classmethod
    def from_status(cls, status: int, message: str) -> "KeymuxError":
        return cls(STATUS_CODES.get(status, f"STATUS_{status}"), status, message or f"keymux status {status}")

    @classmethod
    def closed(cls) -> "KeymuxError":
        return cls("CLOSED", 4, CLOSED_TEXT)
