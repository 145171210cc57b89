"""Events: a tag read, a tag arriving or departing, the link up, lost or restored, a request ended."""

from __future__ import annotations

import ctypes
import datetime
import json
from dataclasses import dataclass
from typing import Any, ClassVar, Optional

from . import _native

_EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)
# The library marks the antenna and signal-strength bytes a reader's kind does not send with -1.
_NOT_SENT = -1
_TAG_KINDS = ("read", "arrived", "departed")
_US_PER_SECOND = 1e6
_REQUEST_NAMES = {
    _native.REQUEST_INFO: "info",
    _native.REQUEST_READ_SETTINGS: "read-settings",
    _native.REQUEST_PLAN_CHANGE: "plan-change",
    _native.REQUEST_CONFIGURE: "configure",
    _native.REQUEST_WRITE_SETTINGS: "write-settings",
    _native.REQUEST_FACTORY_DEFAULT: "factory-default",
    _native.REQUEST_INVENTORY_START: "inventory-start",
    _native.REQUEST_INVENTORY_STOP: "inventory-stop",
}


def _utc(milliseconds: int) -> datetime.datetime:
    # Whole milliseconds added to the epoch, so no float rounding creeps into the time.
    return _EPOCH + datetime.timedelta(milliseconds=milliseconds)


def _byte(value: int) -> Optional[int]:
    return None if value == _NOT_SENT else value


def _whole_result(raw: _native.RawEvent, reader: Optional[int]) -> str:
    """The whole result of a completion too long for its record, which the handle keeps."""
    what = f"the whole result of request {raw.request_id} ({raw.json_length} bytes)"
    if reader is None:
        raise ValueError(what + " is kept by the reader it came from only")
    library = _native.library()
    return _native.whole_text(
        lambda buffer, size, length: library.zendrik_completion_json(reader, raw.request_id, buffer, size, length),
        what,
    )


@dataclass(frozen=True)
class Event:
    """One event of a reader.

    ``kind`` is ``"read"``, ``"arrived"`` (the first read of an EPC), ``"departed"`` (no read of
    it for the absence time), ``"link-up"`` (the first event of a reader that answered when it was
    opened), ``"link-lost"``, ``"link-restored"`` or ``"completed"`` (a request has ended).
    ``seq`` counts a reader's events from 1 without gaps. Times are timezone-aware UTC datetimes.

    Tag events (read, arrived, departed) carry ``epc`` (bytes), ``card`` (the Wiegand card
    number by the reader's output settings, or None), ``count`` (reads of the EPC since it
    arrived), ``first_seen`` and ``last_seen``; reads carry ``antenna`` and ``rssi`` where the
    reader's kind sends them, and ``round_time``, the seconds the reader took for the round. Link
    events carry ``error``: the words for what lost the link, or None. A completed event carries
    ``request_id``, ``request`` (``"info"``, ``"read-settings"``, ``"configure"``, ...), ``code``
    (its result code), ``error`` and ``message`` (what failed, or None) and ``result`` (what the
    request brought, as a dict, or None). Fields an event does not carry are None.
    """

    kind: str
    reader: str
    seq: int
    time: datetime.datetime
    epc: Optional[bytes] = None
    card: Optional[str] = None
    count: Optional[int] = None
    first_seen: Optional[datetime.datetime] = None
    last_seen: Optional[datetime.datetime] = None
    antenna: Optional[int] = None
    rssi: Optional[int] = None
    round_time: Optional[float] = None
    error: Optional[str] = None
    request_id: Optional[int] = None
    request: Optional[str] = None
    code: Optional[int] = None
    message: Optional[str] = None
    result: Optional[dict[str, Any]] = None
    # The library's record, kept so that as_dict() can ask the library for its JSON; set on the
    # events that come from a reader.
    _raw: ClassVar[bytes] = b""

    @classmethod
    def _from_raw(cls, raw: _native.RawEvent, reader: Optional[int] = None) -> "Event":
        """The event of the library's record; `reader`, the handle it came from, gives the whole
        result of a completion whose record holds only its start."""
        kind = _native.library().zendrik_event_kind_name(raw.kind).decode()
        common: dict[str, Any] = {
            "kind": kind,
            "reader": _native.text_of(raw.reader),
            "seq": raw.seq,
            "time": _utc(raw.time_ms),
        }
        if kind == "completed":
            event = cls._completed(raw, common, reader)
        elif kind not in _TAG_KINDS:
            error = _native.result_text(raw.error) if raw.error != _native.OK else None
            event = cls(**common, error=error)
        else:
            event = cls._tag_event(raw, common)
        object.__setattr__(event, "_raw", bytes(raw))  # frozen: set past the dataclass's guard
        return event

    @classmethod
    def _completed(cls, raw: _native.RawEvent, common: dict[str, Any], reader: Optional[int]) -> "Event":
        value = raw.json.decode("utf-8", "replace")
        if raw.cut & _native.CUT_JSON:
            value = _whole_result(raw, reader)
        return cls(
            **common,
            request_id=raw.request_id,
            request=_REQUEST_NAMES.get(raw.request, "unknown"),
            code=raw.result,
            error=_native.result_text(raw.result) if raw.result != _native.OK else None,
            message=_native.text_of(raw.message) or None,
            result=json.loads(value) if value else None,
        )

    @classmethod
    def _tag_event(cls, raw: _native.RawEvent, common: dict[str, Any]) -> "Event":
        length = min(raw.epc_length, _native.EPC_CAPACITY)
        return cls(
            **common,
            epc=bytes(raw.epc[:length]),
            card=_native.text_of(raw.card) or None,
            count=raw.count,
            first_seen=_utc(raw.first_seen_ms),
            last_seen=_utc(raw.last_seen_ms),
            antenna=_byte(raw.antenna),
            rssi=_byte(raw.rssi),
            round_time=raw.round_us / _US_PER_SECOND if common["kind"] == "read" else None,
        )

    def as_dict(self) -> dict[str, Any]:
        """The event as the JSON object every zendrik program prints and publishes.

        Keys and values are the library's: ``{"event": "read", "reader": ..., "seq": 1,
        "time": "2026-12-08T15:08:00.485Z", "epc": "e200...", "card": "03430008", "count": 1,
        "first_seen": ..., "antenna": 1, "rssi": 187}``; times are texts here, as in the JSON.
        """
        if not self._raw:
            raise ValueError("only events that came from a reader can be written as the library's JSON")
        raw = _native.RawEvent.from_buffer_copy(self._raw)
        library = _native.library()
        text = _native.whole_text(
            lambda buffer, size, length: library.zendrik_event_json(ctypes.byref(raw), buffer, size, length),
            "the event",
        )
        return json.loads(text)
