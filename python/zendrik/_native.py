"""The C side of the package: libzendrik.so.1's structures, result codes and functions.

The library is loaded on first use, so that ``import zendrik`` and ``help(zendrik)`` work on a
machine without it. Every function's argument and result types are declared here, once, when the
library is loaded: ctypes' default of ``int`` would cut pointers returned by the library to 32 bits.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from typing import Any, Callable, Optional

from .errors import LibraryNotFoundError, ReaderError

# ---- result codes (zendrik.h and zendrik_session.h) -------------------------------------------

OK = 0
LIST_EMPTY = 1
NO_EVENT = 2
NO_TAG = 3
ERR_NOT_REACHED = -16
ERR_BAD_ADDRESS = -201
ERR_INVALID_ARGUMENT = -202
ERR_BUSY = -204
ERR_NOT_RUNNING = -205
ERR_TOO_SMALL = -206
ERR_CANCELLED = -209

# ---- event kinds and requests (zendrik_session.h) ----------------------------------------------

EVENT_COMPLETED = 7
# zendrik_event.cut: the completion's json holds only the start of its result.
CUT_JSON = 1 << 0

REQUEST_INFO = 1
REQUEST_READ_SETTINGS = 2
REQUEST_PLAN_CHANGE = 3
REQUEST_CONFIGURE = 4
REQUEST_WRITE_SETTINGS = 5
REQUEST_FACTORY_DEFAULT = 6
REQUEST_INVENTORY_START = 7
REQUEST_INVENTORY_STOP = 8

# ---- sizes the library fixes ------------------------------------------------------------------

READER_ID_CAPACITY = 64
TEXT_CAPACITY = 104
EPC_CAPACITY = 64
CARD_CAPACITY = 32
JSON_CAPACITY = 1024
RESULT_MESSAGE_CAPACITY = 256
# The reader's tag list never holds more identifier bytes than this.
TAG_LIST_CAPACITY = 251
# FindDevice's records: at most 50 modules, each a 6-byte id and a 4-byte IPv4 address.
MAX_MODULES = 50
MODULE_ID_BYTES = 6
MODULE_ADDRESS_BYTES = 4
MODULE_RECORD_BYTES = MODULE_ID_BYTES + MODULE_ADDRESS_BYTES
# Room for the texts the library writes for us (reasons, messages, JSON); it says when more is needed.
MESSAGE_CAPACITY = 512

SONAME = "libzendrik.so.1"
LIBRARY_VARIABLE = "ZENDRIK_LIBRARY"

# ---- structures -------------------------------------------------------------------------------

U8 = ctypes.c_uint8
U32 = ctypes.c_uint32
U64 = ctypes.c_uint64
I32 = ctypes.c_int32
I64 = ctypes.c_int64
SIZE = ctypes.c_size_t


class OpenOptions(ctypes.Structure):
    _fields_ = [("size", U32), ("name", ctypes.c_char_p), ("flags", U32)]


class ReaderInfo(ctypes.Structure):
    _fields_ = [
        ("size", U32),
        ("kind", I32),
        ("low_value", I32),
        ("version", ctypes.c_char * TEXT_CAPACITY),
        ("serial", ctypes.c_char * TEXT_CAPACITY),
    ]


class Settings(ctypes.Structure):
    _fields_ = [
        ("size", U32),
        ("buzzer", U8),
        ("work_mode", U8),
        ("trigger_time", U8),
        ("wiegand_interval", U8),
        ("output", U8 * 4),
        ("wiegand_format", U8),
        ("password_check", U8),
        ("password", U8 * 4),
        ("read_interval", U8),
        ("power", U8),
        ("address", U8),
        ("region", U8),
        ("span", U8),
        ("first", I32),
        ("second", I32),
        ("step", I32),
    ]


class RawEvent(ctypes.Structure):
    _fields_ = [
        ("kind", I32),
        ("reader", ctypes.c_char * READER_ID_CAPACITY),
        ("seq", U64),
        ("time_ms", I64),
        ("epc", U8 * EPC_CAPACITY),
        ("epc_length", U32),
        ("card", ctypes.c_char * CARD_CAPACITY),
        ("count", U64),
        ("first_seen_ms", I64),
        ("last_seen_ms", I64),
        ("antenna", I32),
        ("rssi", I32),
        ("error", I32),
        # The first release's event ends here; the library writes as much as the size it is given.
        ("round_us", U32),
        ("request_id", U64),
        ("request", I32),
        ("result", I32),
        ("info", ReaderInfo),
        ("settings", Settings),
        ("json", ctypes.c_char * JSON_CAPACITY),
        ("message", ctypes.c_char * RESULT_MESSAGE_CAPACITY),
        ("cut", U32),
        ("json_length", U32),
    ]


class InventoryOptions(ctypes.Structure):
    _fields_ = [("size", U32), ("absence_ms", U32), ("queue_capacity", U32)]


class Request(ctypes.Structure):
    _fields_ = [
        ("size", U32),
        ("kind", I32),
        ("assignments", ctypes.POINTER(ctypes.c_char_p)),
        ("assignment_count", SIZE),
        ("settings", ctypes.POINTER(Settings)),
        ("inventory", ctypes.POINTER(InventoryOptions)),
    ]


# The structures the layout test compares with the C header's, by their C names.
STRUCTURES = {
    "zendrik_open_options": OpenOptions,
    "zendrik_reader_info": ReaderInfo,
    "zendrik_settings": Settings,
    "zendrik_event": RawEvent,
    "zendrik_inventory_options": InventoryOptions,
    "zendrik_request": Request,
}


READER_P = ctypes.c_void_p  # zendrik_reader *, opaque
CHAR_P = ctypes.c_char_p
BYTES_P = ctypes.POINTER(U8)

# name: (result type, argument types)
_FUNCTIONS: dict[str, tuple[Any, list[Any]]] = {
    "zendrik_result_text": (CHAR_P, [I32]),
    "zendrik_result_kind": (I32, [I32]),
    "zendrik_address_check": (I32, [CHAR_P, CHAR_P, SIZE]),
    "zendrik_open_options_init": (None, [ctypes.POINTER(OpenOptions)]),
    "zendrik_reader_open": (I32, [CHAR_P, ctypes.POINTER(OpenOptions), ctypes.POINTER(READER_P)]),
    "zendrik_reader_close": (I32, [READER_P]),
    "zendrik_reader_id": (CHAR_P, [READER_P]),
    "zendrik_reader_address": (CHAR_P, [READER_P]),
    "zendrik_reader_info_init": (None, [ctypes.POINTER(ReaderInfo)]),
    "zendrik_reader_info_get": (I32, [READER_P, ctypes.POINTER(ReaderInfo)]),
    "zendrik_settings_init": (None, [ctypes.POINTER(Settings)]),
    "zendrik_reader_read_settings": (I32, [READER_P, ctypes.POINTER(Settings)]),
    "zendrik_reader_configure": (I32, [READER_P, ctypes.POINTER(CHAR_P), SIZE, CHAR_P, SIZE]),
    "zendrik_settings_json": (I32, [ctypes.POINTER(Settings), I32, CHAR_P, SIZE, ctypes.POINTER(SIZE)]),
    "zendrik_event_json": (I32, [ctypes.POINTER(RawEvent), CHAR_P, SIZE, ctypes.POINTER(SIZE)]),
    "zendrik_event_kind_name": (CHAR_P, [I32]),
    "zendrik_reader_read_tag": (I32, [READER_P, ctypes.POINTER(RawEvent), SIZE]),
    "zendrik_reader_read_tag_list": (I32, [READER_P, BYTES_P, SIZE, ctypes.POINTER(SIZE)]),
    "zendrik_inventory_options_init": (None, [ctypes.POINTER(InventoryOptions)]),
    "zendrik_inventory_start": (
        I32,
        [READER_P, ctypes.POINTER(InventoryOptions), ctypes.c_void_p, ctypes.c_void_p],
    ),
    "zendrik_inventory_stop": (I32, [READER_P]),
    "zendrik_next_event": (I32, [READER_P, ctypes.POINTER(RawEvent), SIZE, I32]),
    "zendrik_next_events": (I32, [READER_P, ctypes.POINTER(RawEvent), SIZE, SIZE, ctypes.POINTER(SIZE), I32]),
    "zendrik_reader_event_fd": (ctypes.c_int, [READER_P]),
    "zendrik_inventory_dropped": (U64, [READER_P]),
    "zendrik_request_init": (None, [ctypes.POINTER(Request), I32]),
    "zendrik_reader_submit": (I32, [READER_P, ctypes.POINTER(Request), ctypes.POINTER(U64)]),
    "zendrik_reader_call": (I32, [READER_P, ctypes.POINTER(Request), ctypes.POINTER(RawEvent), SIZE]),
    "zendrik_completion_json": (I32, [READER_P, U64, CHAR_P, SIZE, ctypes.POINTER(SIZE)]),
    "FindDevice": (ctypes.c_int16, [BYTES_P, ctypes.POINTER(I32)]),
}

_HOW_TO_INSTALL = (
    "install the Debian package libzendrik1 (apt install libzendrik1), or build zendrik and run "
    "`cmake --install build`; " + LIBRARY_VARIABLE + "=/path/to/" + SONAME + " names a library elsewhere"
)

_loaded: Optional[ctypes.CDLL] = None
_loading = threading.Lock()


def _candidates() -> list[tuple[str, str]]:
    """Where to look, in order, each with how it was found (for the error message)."""
    chosen = os.environ.get(LIBRARY_VARIABLE)
    if chosen:
        # A library named on purpose is the only one tried: falling back would hide the mistake.
        return [(chosen, LIBRARY_VARIABLE)]
    found = ctypes.util.find_library("zendrik")
    candidates = [(found, "the library search")] if found else []
    return candidates + [(SONAME, "the soname")]


def _open() -> ctypes.CDLL:
    failures = []
    for path, how in _candidates():
        try:
            library = ctypes.CDLL(path)
        except OSError as error:
            failures.append(f"{path} ({how}): {error}")
            continue
        _declare(library, path)
        return library
    raise LibraryNotFoundError(f"libzendrik cannot be loaded ({'; '.join(failures)}): {_HOW_TO_INSTALL}")


def _declare(library: ctypes.CDLL, path: str) -> None:
    for name, (restype, argtypes) in _FUNCTIONS.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            raise LibraryNotFoundError(
                f"{path} has no {name}: it is a libzendrik without reader sessions, or one older than "
                f"this package; {_HOW_TO_INSTALL}"
            ) from None
        function.restype = restype
        function.argtypes = argtypes


def library() -> ctypes.CDLL:
    """libzendrik.so.1 with its functions declared; raises LibraryNotFoundError when it is missing."""
    global _loaded
    with _loading:
        if _loaded is None:
            _loaded = _open()
        return _loaded


def result_text(code: int) -> str:
    """The library's words for a result code."""
    return library().zendrik_result_text(code).decode("utf-8", "replace")


def text_of(field: bytes) -> str:
    """A NUL-terminated text field of a structure (ctypes stops at the NUL)."""
    return field.decode("utf-8", "replace")


# The library's ZENDRIK_RESULT_KIND_* values by name.
RESULT_KINDS = {0: "ok", 1: "transport", 2: "refused", 3: "bad-argument", 4: "state"}


def result_kind(code: int) -> str:
    """What sort of outcome a result code is, as the library sorts it."""
    return RESULT_KINDS.get(library().zendrik_result_kind(code), "unknown")


def failure(code: int, message: Optional[str] = None) -> ReaderError:
    """The exception for a failed call: the code, the library's words and what was being done."""
    return ReaderError(code, result_text(code), message, result_kind(code))


def whole_text(write: Callable[[ctypes.Array, int, Any], int], what: str) -> str:
    """A text the library writes whole or not at all (JSON): asked again with the room it names."""
    text = ctypes.create_string_buffer(MESSAGE_CAPACITY)
    length = SIZE()
    result = write(text, len(text), ctypes.byref(length))
    if result == ERR_TOO_SMALL:
        text = ctypes.create_string_buffer(length.value + 1)
        result = write(text, len(text), ctypes.byref(length))
    if result != OK:
        raise failure(result, f"{what} cannot be written as JSON")
    return text.value.decode("utf-8")
