"""The package's exceptions."""

from __future__ import annotations

from typing import Optional


class ReaderError(Exception):
    """A reader operation failed.

    ``code`` is the library's result code (negative for most failures; ``-201`` for an address
    that does not parse) and ``words`` the library's words for it, the ones ``zendrik`` prints.
    ``kind`` sorts the code as the library does: ``"transport"`` (the link failed: worth trying
    again later), ``"refused"`` (the reader answered no), ``"bad-argument"``, ``"state"`` (not
    now) or ``"unknown"``. The message says what was being done and, where the library gives one, why.
    """

    def __init__(self, code: int, words: str, message: Optional[str] = None, kind: str = "unknown") -> None:
        self.code = code
        self.words = words
        self.kind = kind
        super().__init__(f"{message or words} ({code})")


class LibraryNotFoundError(OSError):
    """libzendrik.so.1 cannot be loaded; the message says how to install it."""
