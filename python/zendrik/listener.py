"""A listener on a site's MQTT topics that proves nothing was missed (see stream_check).

It holds a persistent session (a fixed client id, clean session off, QoS 1 subscriptions), so the
broker keeps what comes while it is away, and it keeps each stream's place in a state file, so a
restart neither repeats what it gave nor takes a number it has not seen for a gap.
"""

from __future__ import annotations

import json
import os
import tempfile
import threading
import time
import urllib.parse
from typing import Any, Callable, Dict, List, Optional

from .stream_check import DEFAULT_GAP_WAIT, StreamChecker

DEFAULT_PREFIX = "zendrik"
DEFAULT_PORT = 1883
_QOS_AT_LEAST_ONCE = 1
_KEEPALIVE_SECONDS = 30
# How often held-back events are looked at for gaps whose wait has run out.
_TICK_SECONDS = 0.2
_SYNC_SECONDS = 1.0


def site_topics(prefix: str, site: str) -> List[str]:
    """Every numbered stream of a site: readers' reads and events, zones' events, doors' passages."""
    base = f"{prefix}/{site}"
    return [f"{base}/+/reads", f"{base}/+/events", f"{base}/zones/+/events", f"{base}/doors/+/passages"]


def parse_broker(url: str) -> tuple:
    """``mqtt://HOST[:PORT]`` -> (host, port)."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme != "mqtt" or not parts.hostname:
        raise ValueError(f"the broker must be given as mqtt://HOST[:PORT], not {url!r}")
    return parts.hostname, parts.port or DEFAULT_PORT


class Listener:
    """Calls ``on_line`` with each line in turn: an event once, or a ``{"gap": …}`` or
    ``{"lost": …}`` record. ``run()`` blocks until ``stop()``; ``gaps`` counts the unannounced gaps.
    """

    def __init__(
        self,
        broker: str,
        site: str,
        on_line: Callable[[Dict[str, Any]], None],
        prefix: str = DEFAULT_PREFIX,
        client_id: Optional[str] = None,
        state_file: Optional[str] = None,
        gap_wait: float = DEFAULT_GAP_WAIT,
    ):
        import paho.mqtt.client as mqtt  # Debian's python3-paho-mqtt; only the listener needs it

        self._host, self._port = parse_broker(broker)
        self._topics = site_topics(prefix, site)
        self._on_line = on_line
        self._state_file = state_file
        self._lock = threading.Lock()
        self._stopped = threading.Event()
        self._last_sync = float("-inf")
        self._unsynced = False
        self._refused: Optional[ConnectionError] = None
        self._checker = StreamChecker(gap_wait=gap_wait, state=self._read_state())
        self._client = mqtt.Client(client_id=client_id or f"zendrik-listen-{site}", clean_session=False)
        self._client.on_connect = self._connected
        self._client.on_subscribe = lambda *_: self.subscribed.set()
        # Set once the broker has confirmed the subscriptions: from then on it keeps the session's
        # messages, also while the listener is away.
        self.subscribed = threading.Event()
        self._client.on_message = self._message

    @property
    def gaps(self) -> int:
        return self._checker.gaps

    @property
    def duplicates(self) -> int:
        return self._checker.duplicates

    def run(self) -> None:
        self._client.connect(self._host, self._port, _KEEPALIVE_SECONDS)
        self._client.loop_start()
        try:
            while not self._stopped.wait(_TICK_SECONDS):
                with self._lock:
                    self._give(self._checker.tick(time.monotonic()))
                    if self._unsynced:
                        self._write_state(durable=True)
        finally:
            self._client.disconnect()
            self._client.loop_stop()
            with self._lock:
                self._last_sync = float("-inf")
                self._write_state(durable=True)
        if self._refused:
            raise self._refused

    def stop(self) -> None:
        self._stopped.set()

    def _connected(self, client, _userdata, _flags, result_code) -> None:
        if result_code != 0:
            # Raised from run(): an exception here would end paho's network thread instead.
            self._refused = ConnectionError(f"the broker refused the connection (code {result_code})")
            self._stopped.set()
            return
        client.subscribe([(topic, _QOS_AT_LEAST_ONCE) for topic in self._topics])

    def _message(self, _client, _userdata, message) -> None:
        try:
            payload = json.loads(message.payload)
        except ValueError:
            return  # not an event: nothing numbered to account for
        with self._lock:
            # Given and saved before the callback returns, which is when the broker's copy is
            # acknowledged: a crash in between repeats an event rather than losing one.
            self._give(self._checker.offer(payload, time.monotonic()))
            self._write_state(durable=False)

    def _give(self, lines: List[Dict[str, Any]]) -> None:
        for line in lines:
            self._on_line(line)

    def _read_state(self) -> Optional[Dict[str, Any]]:
        if not self._state_file or not os.path.exists(self._state_file):
            return None
        with open(self._state_file, encoding="utf-8") as file:
            return json.load(file)

    def _write_state(self, durable: bool) -> None:
        """Replaces the state file: after every message (which survives the listener's own crash),
        synced to the disk at most every _SYNC_SECONDS (so a power failure costs at most that)."""
        if not self._state_file:
            return
        now = time.monotonic()
        sync = durable and now - self._last_sync >= _SYNC_SECONDS
        folder = os.path.dirname(os.path.abspath(self._state_file))
        with tempfile.NamedTemporaryFile("w", dir=folder, delete=False, encoding="utf-8") as file:
            json.dump(self._checker.state(), file)
            if sync:
                file.flush()
                os.fsync(file.fileno())
                self._last_sync = now
        os.replace(file.name, self._state_file)
        self._unsynced = not sync
