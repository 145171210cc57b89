"""The consumer's half of "nothing lost": every event of a site once, each stream in order, and
every number that never came reported as a gap or as an announced loss.

zendrikd numbers each reader's events (and each zone's and door's) with a ``seq`` of their own that
is never given twice, and delivers at least once. A consumer that keeps, for each stream, the next
number it expects sees a duplicate as a number below it, and a hole as a later number that came
first. A hole is a gap only once ``gap_wait`` has passed without the missing numbers (the broker may
still deliver them: a bridge or a reconnect can reorder), and a range that a ``spool-lost`` event
announced is a loss the daemon owned up to, not a gap.

The checker is pure: it is given events and the time, and answers with the lines to print, so the
MQTT listener, a file of webhook bodies and the tests all drive the same rules.
"""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional, Tuple

DEFAULT_GAP_WAIT = 30.0
# The kinds of stream, in the order a payload's fields name them: a door's passage and a zone's
# event also name the reader that saw the tag, so their own stream must win.
_STREAM_FIELDS = ("door", "zone", "reader")
_SPOOL_LOST = "spool-lost"
# Gaps reported, per stream, that an event arriving late may still fill: the latest ones.
_REMEMBERED_GAPS = 1024

StreamKey = Tuple[str, str]  # ("reader" | "zone" | "door", its name)


def stream_of(event: Dict[str, Any]) -> Optional[StreamKey]:
    """The stream an event belongs to, or None for a payload that is not a numbered event."""
    if not isinstance(event.get("seq"), int) or isinstance(event.get("seq"), bool):
        return None
    for kind in _STREAM_FIELDS:
        name = event.get(kind)
        if isinstance(name, str) and name:
            return (kind, name)
    return None


def events_of(message: Any) -> List[Dict[str, Any]]:
    """The events a message carries: one event, a batch of reads, or a webhook body (an array)."""
    if isinstance(message, list):
        return [event for part in message for event in events_of(part)]
    if isinstance(message, dict) and message.get("batch") is True:
        return [read for read in message.get("reads", []) if isinstance(read, dict)]
    return [message] if isinstance(message, dict) else []


@dataclass
class _Stream:
    next_seq: Optional[int] = None  # the number expected next; None before the first event
    held: Dict[int, Dict[str, Any]] = field(default_factory=dict)  # came before next_seq did
    missing_since: Optional[float] = None  # when an event first came past a missing next_seq
    lost: List[Tuple[int, int]] = field(default_factory=list)  # announced, not yet reached
    gaps: List[Tuple[int, int]] = field(default_factory=list)  # reported; what comes late still counts


class StreamChecker:
    """Feeds events in with :meth:`offer`, lets waiting time pass with :meth:`tick`.

    Both return the lines to print, oldest first: each event once (its own dict), and
    ``{"gap": {KIND: NAME, "from": A, "to": B}}`` for numbers that never came, or
    ``{"lost": {KIND: NAME, "from": A, "to": B}}`` for numbers a ``spool-lost`` event announced.
    An event whose number was reported as a gap and that comes after all is given then, out of
    order, rather than never.
    """

    def __init__(self, gap_wait: float = DEFAULT_GAP_WAIT, state: Optional[Dict[str, Any]] = None):
        if gap_wait < 0:
            raise ValueError("gap_wait must not be negative")
        self.gap_wait = gap_wait
        self.duplicates = 0
        self.gaps = 0
        self.late = 0  # events that came after their numbers were reported as a gap
        self._streams: Dict[StreamKey, _Stream] = {}
        if state:
            self._load(state)

    def offer(self, message: Any, now: float) -> List[Dict[str, Any]]:
        lines: List[Dict[str, Any]] = []
        for event in events_of(message):
            key = stream_of(event)
            if key is None:
                continue
            stream = self._streams.setdefault(key, _Stream())
            self._take(key, stream, event, now, lines)
        return lines

    def tick(self, now: float) -> List[Dict[str, Any]]:
        lines: List[Dict[str, Any]] = []
        for key, stream in self._streams.items():
            if stream.held and stream.missing_since is None:
                stream.missing_since = now  # held back before a restart: the wait starts now
            if stream.held and now - stream.missing_since >= self.gap_wait:
                self._give_up_waiting(key, stream, now, lines)
        return lines

    def finish(self) -> List[Dict[str, Any]]:
        """Everything that will come has come: every hole still open is a gap."""
        lines: List[Dict[str, Any]] = []
        for key, stream in self._streams.items():
            while stream.held:
                self._give_up_waiting(key, stream, 0.0, lines)
        return lines

    def _give_up_waiting(self, key: StreamKey, stream: _Stream, now: float, lines: List) -> None:
        first_held = min(stream.held)
        self.gaps += 1
        lines.append({"gap": {key[0]: key[1], "from": stream.next_seq, "to": first_held - 1}})
        stream.gaps = (stream.gaps + [(stream.next_seq, first_held - 1)])[-_REMEMBERED_GAPS:]
        stream.next_seq = first_held
        stream.missing_since = None
        self._release(key, stream, now, lines)

    def state(self) -> Dict[str, Any]:
        """Each stream's next number, the events held back and the losses announced ahead, as JSON."""
        return {
            f"{kind}/{name}": {
                "next": stream.next_seq,
                "held": [stream.held[seq] for seq in sorted(stream.held)],
                "lost": [list(span) for span in stream.lost],
                "gaps": [list(span) for span in stream.gaps],
            }
            for (kind, name), stream in sorted(self._streams.items())
        }

    def _load(self, state: Dict[str, Any]) -> None:
        for name, saved in state.items():
            kind, _, stream_name = name.partition("/")
            if kind not in _STREAM_FIELDS or not stream_name or not isinstance(saved, dict):
                raise ValueError(f"the state names no stream: {name!r}")
            stream = _Stream(next_seq=saved.get("next"))
            stream.lost = [(int(a), int(b)) for a, b in saved.get("lost", [])]
            stream.gaps = [(int(a), int(b)) for a, b in saved.get("gaps", [])]
            for event in saved.get("held", []):
                stream.held[event["seq"]] = event
            # Held events came before the state was saved: their gap's wait starts anew.
            self._streams[(kind, stream_name)] = stream

    def _take(self, key: StreamKey, stream: _Stream, event: Dict[str, Any], now: float, lines: List) -> None:
        seq = event["seq"]
        if event.get("event") == _SPOOL_LOST:
            self._announce(stream, event)
        if stream.next_seq is None:
            stream.next_seq = seq
        if seq < stream.next_seq and self._fills_gap(stream, seq):
            lines.append(event)  # late, but seen once: better out of order than never
            return
        if seq < stream.next_seq or seq in stream.held:
            self.duplicates += 1
            return
        stream.held[seq] = event
        self._release(key, stream, now, lines)

    def _fills_gap(self, stream: _Stream, seq: int) -> bool:
        for span in stream.gaps:
            first, last = span
            if first <= seq <= last:
                stream.gaps.remove(span)
                stream.gaps += [part for part in ((first, seq - 1), (seq + 1, last)) if part[0] <= part[1]]
                self.late += 1
                return True
        return False

    @staticmethod
    def _announce(stream: _Stream, event: Dict[str, Any]) -> None:
        first, last = event.get("missing_from"), event.get("missing_to")
        if isinstance(first, int) and isinstance(last, int) and first <= last:
            stream.lost.append((first, last))

    def _release(self, key: StreamKey, stream: _Stream, now: float, lines: List) -> None:
        """Emits what is now in order, skipping announced losses; notes when a hole opens."""
        while True:
            self._skip_lost(key, stream, lines)
            event = stream.held.pop(stream.next_seq, None)
            if event is None:
                break
            lines.append(event)
            stream.next_seq += 1
        if not stream.held:
            stream.missing_since = None
        elif stream.missing_since is None:
            stream.missing_since = now

    @staticmethod
    def _skip_lost(key: StreamKey, stream: _Stream, lines: List) -> None:
        for span in sorted(stream.lost):
            first, last = span
            if last < stream.next_seq:
                stream.lost.remove(span)  # announced again for numbers already behind us
            elif first <= stream.next_seq:
                lines.append({"lost": {key[0]: key[1], "from": stream.next_seq, "to": last}})
                stream.lost.remove(span)
                stream.next_seq = last + 1


def check_lines(lines: Iterable[str], gap_wait: float = 0.0) -> List[Dict[str, Any]]:
    """Checks stored messages, one JSON text a line (webhook bodies or event lines): everything is
    there already, so a hole still open at the end is a gap."""
    checker = StreamChecker(gap_wait=gap_wait)
    out: List[Dict[str, Any]] = []
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            message = json.loads(line)
        except ValueError as error:
            raise ValueError(f"line {number}: not JSON: {error}") from None
        out += checker.offer(message, now=0.0)
    out += checker.finish()
    return out
