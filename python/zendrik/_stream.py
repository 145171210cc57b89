"""A reader's event stream as the package takes it: from the loop's own thread (asyncio, on the
event descriptor) or from a generator's, and with the completions of submitted requests handed to
the calls that wait for them rather than to whoever iterates.
"""

from __future__ import annotations

import asyncio
import collections
import ctypes
import threading
from typing import Any, Callable, Optional

from . import _native
from .event import Event

# Events taken at once: a burst of reads costs one call into the library per this many.
BATCH = 32
# Events the loop took while nobody iterated, kept for the next iteration (oldest dropped first),
# as many as the library's own queue keeps.
BACKLOG = 4096
# How long a close from another thread waits for the loop to let go of the event descriptor.
_LET_GO_SECONDS = 5.0


def take(raw: int, timeout_ms: int, buffer: ctypes.Array) -> tuple[int, list[Event]]:
    """Up to len(buffer) queued events of the handle, waiting up to timeout_ms for the first."""
    got = _native.SIZE()
    result = _native.library().zendrik_next_events(
        raw, buffer, ctypes.sizeof(_native.RawEvent), len(buffer), ctypes.byref(got), timeout_ms
    )
    if result != _native.OK:
        return result, []
    return result, [Event._from_raw(buffer[i], raw) for i in range(got.value)]


def _settle(future: asyncio.Future, event: Optional[Event], failure: Optional[BaseException]) -> None:
    if future.done():
        return
    if failure is not None:
        future.set_exception(failure)
    else:
        future.set_result(event)


class Stream:
    """The routing of one reader's events; thread-safe."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._pending: dict[int, tuple[asyncio.AbstractEventLoop, asyncio.Future]] = {}
        self._ignored: set[int] = set()
        self.backlog: collections.deque[Event] = collections.deque(maxlen=BACKLOG)
        self._loop: Optional[asyncio.AbstractEventLoop] = None
        self._fd = -1
        self._iterators = 0
        self._wakeup: Optional[asyncio.Future] = None
        self._buffer = (_native.RawEvent * BATCH)()
        self.closed = False

    # ---- submitted requests --------------------------------------------------------------------

    def submit(self, submit: Callable[[], tuple[int, int]], loop: Optional[asyncio.AbstractEventLoop]) -> Any:
        """Calls `submit` (which returns the result and the request id) and, for a loop, returns
        the future its completion settles. Under the stream's lock, so that the completion cannot
        be routed before its future is known."""
        with self._lock:
            result, request_id = submit()
            if result != _native.OK:
                return result, None
            if loop is None:
                self._ignored.add(request_id)
                return result, None
            future = loop.create_future()
            self._pending[request_id] = (loop, future)
            return result, (request_id, future)

    def forget(self, request_id: int) -> None:
        """The caller stopped waiting: the completion, when it comes, is dropped."""
        with self._lock:
            if self._pending.pop(request_id, None) is not None:
                self._ignored.add(request_id)

    def route(self, events: list[Event]) -> list[Event]:
        """The events that are not the awaited completions, which go to their futures."""
        kept = []
        with self._lock:
            for event in events:
                if event.kind == "completed" and event.request_id in self._ignored:
                    self._ignored.discard(event.request_id)
                    continue
                waiting = self._pending.pop(event.request_id, None) if event.kind == "completed" else None
                if waiting is None:
                    kept.append(event)
                    continue
                loop, future = waiting
                loop.call_soon_threadsafe(_settle, future, event, None)
        return kept

    # ---- the loop's watch on the event descriptor ---------------------------------------------

    def watch(self, loop: asyncio.AbstractEventLoop, fd: int, on_readable: Callable[[], None]) -> None:
        if self._loop is loop:
            return
        if self._loop is not None:
            raise RuntimeError("the reader is watched by another event loop already")
        self._loop, self._fd = loop, fd
        loop.add_reader(fd, on_readable)

    def unwatch_if_idle(self) -> None:
        with self._lock:
            idle = not self._pending and self._iterators == 0
        if idle and self._loop is not None:
            self._loop.remove_reader(self._fd)
            self._loop = None

    def readable(self, raw: int) -> int:
        """Called by the loop when the descriptor is readable: takes what is queued."""
        result, events = take(raw, 0, self._buffer)
        self.backlog.extend(self.route(events))
        if self.backlog or result == _native.ERR_NOT_RUNNING:
            self._wake()
        return result

    # ---- iterators ------------------------------------------------------------------------------

    def begin_iteration(self) -> None:
        with self._lock:
            self._iterators += 1

    def end_iteration(self) -> None:
        with self._lock:
            self._iterators -= 1

    async def next(self, loop: asyncio.AbstractEventLoop) -> Optional[Event]:
        """The next event for an iterator, or None once the reader is closed."""
        while not self.backlog:
            if self.closed:
                return None
            self._wakeup = loop.create_future()
            await self._wakeup
        return self.backlog.popleft()

    def _wake(self) -> None:
        if self._wakeup is not None and not self._wakeup.done():
            self._wakeup.set_result(None)

    # ---- closing --------------------------------------------------------------------------------

    def close(self, failure: BaseException) -> None:
        """Fails every waiting call, ends the iterators and lets go of the descriptor before the
        handle (and with it the descriptor) goes."""
        with self._lock:
            self.closed = True
            pending, self._pending = self._pending, {}
        for loop, future in pending.values():
            loop.call_soon_threadsafe(_settle, future, None, failure)
        loop = self._loop
        if loop is None:
            return
        self._loop = None
        if _in_loop(loop) or not loop.is_running():
            loop.remove_reader(self._fd)
            self._wake()
            return
        done = threading.Event()

        def let_go() -> None:
            loop.remove_reader(self._fd)
            self._wake()
            done.set()

        loop.call_soon_threadsafe(let_go)
        done.wait(_LET_GO_SECONDS)


def _in_loop(loop: asyncio.AbstractEventLoop) -> bool:
    try:
        return asyncio.get_running_loop() is loop
    except RuntimeError:
        return False
