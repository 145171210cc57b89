"""A reader, opened by its address: identity, settings, single reads and the inventory, called
and waited for, or awaited from asyncio."""

from __future__ import annotations

import asyncio
import contextlib
import ctypes
import json
import threading
import weakref
from collections import Counter
from typing import Any, AsyncIterator, Callable, Iterator, Optional, Union

from . import _native, _stream
from .event import Event

# How long one wait for the next event lasts: the inventory loop comes back to Python this often,
# so that Ctrl-C and close() end it promptly, while an idle reader costs ten wake-ups a second.
_EVENT_WAIT_MS = 100
_MS_PER_SECOND = 1000
_MAX_ABSENCE_MS = 0xFFFFFFFF  # the library takes the absence time as 32 bits of milliseconds

SettingValue = Union[str, int, bool]


class _Closed(ValueError):
    """A call on a reader after close()."""


class _Request:
    """A zendrik_request and the C data it points at, alive as long as it is."""

    def __init__(self, kind: int, assignments: tuple[str, ...] = (), absence: Optional[float] = None) -> None:
        self.raw = _native.Request()
        _native.library().zendrik_request_init(ctypes.byref(self.raw), kind)
        if assignments:
            self._texts = (ctypes.c_char_p * len(assignments))(*(a.encode() for a in assignments))
            self.raw.assignments = self._texts
            self.raw.assignment_count = len(assignments)
        if absence is not None:
            self._inventory = _inventory_options(absence)
            self.raw.inventory = ctypes.pointer(self._inventory)


def _submitter(raw: int, request: _Request) -> Callable[[], tuple[int, int]]:
    """zendrik_reader_submit of `request` on the handle, giving its result and the request's id."""

    def submit() -> tuple[int, int]:
        request_id = _native.U64()
        result = _native.library().zendrik_reader_submit(raw, ctypes.byref(request.raw), ctypes.byref(request_id))
        return result, request_id.value

    return submit


def _inventory_options(absence: float) -> _native.InventoryOptions:
    absence_ms = round(absence * _MS_PER_SECOND)
    if not 0 < absence_ms <= _MAX_ABSENCE_MS:
        raise ValueError(f"absence must be more than 0 and at most {_MAX_ABSENCE_MS} ms, not {absence} s")
    options = _native.InventoryOptions()
    _native.library().zendrik_inventory_options_init(ctypes.byref(options))
    options.absence_ms = absence_ms
    return options


def _close_handle(raw: int) -> None:
    # Called once, by close() or when the Reader is collected: holds nothing of the Reader.
    _native.library().zendrik_reader_close(raw)


def _assignments(settings: dict[str, SettingValue]) -> tuple[str, ...]:
    return tuple(_assignment(name, value) for name, value in settings.items())


def _assignment(name: str, value: SettingValue) -> str:
    """NAME=VALUE as the library takes it: "-" for "_", "on" and "off" for True and False."""
    if isinstance(value, bool):
        text = "on" if value else "off"
    elif isinstance(value, (int, str)):
        text = str(value)
    else:
        raise TypeError(f"{name} takes a str or an int, not {type(value).__name__}")
    assignment = f"{name.replace('_', '-')}={text}"
    if "\0" in assignment:
        # C would take the text up to the NUL, another value than the one given.
        raise ValueError(f"a setting cannot hold a NUL character: {assignment!r}")
    return assignment


class Reader:
    """One reader, with a link of its own to it.

    ``address`` names the reader: ``"usb"`` (the first USB reader found), ``"usb:/dev/hidraw3"``,
    ``"serial:/dev/ttyUSB0"`` or ``"serial:COM5?baud=57600"``, ``"udp:HOST:PORT"`` or
    ``"udp:HOST:PORT?local=HOST:PORT"`` (HOST a dotted IPv4 address). Opening greets the reader
    and reads its serial number, which becomes the reader's ``id`` unless ``name`` gives another.

    Use it as a context manager (``with`` or ``async with``), or call ``close()``; a Reader that
    is dropped is closed too. Calls may come from several threads; the library runs them one
    after another, between the inventory's rounds, and ``close()`` waits for the calls under way.
    Failures raise ``ReaderError``; a call after ``close()`` raises ``ValueError``.

        with zendrik.Reader("usb") as reader:
            print(reader.info())
            for event in reader.inventory(absence=3.0):
                print(event.kind, event.epc)

    From asyncio nothing blocks the loop: ``await reader.info_async()`` and its friends queue the
    request and await its completion, and ``async for event in reader.events()`` reads the
    inventory's events as the reader's event descriptor becomes readable.
    """

    def __init__(self, address: str, name: Optional[str] = None) -> None:
        if not isinstance(address, str):
            raise TypeError(f"the reader address must be a str, not {type(address).__name__}")
        if name is not None and not isinstance(name, str):
            raise TypeError(f"the reader name must be a str, not {type(name).__name__}")
        library = _native.library()
        self._check_address(address)
        options = _native.OpenOptions()
        library.zendrik_open_options_init(ctypes.byref(options))
        if name is not None:
            if "\0" in name:
                raise ValueError(f"a reader name cannot hold a NUL character: {name!r}")
            options.name = name.encode()
        handle = _native.READER_P()
        result = library.zendrik_reader_open(address.encode(), ctypes.byref(options), ctypes.byref(handle))
        if result != _native.OK:
            named = f" as {name!r}" if name is not None else ""
            raise _native.failure(result, f"cannot open {address!r}{named}: {_native.result_text(result)}")
        self._raw: int = handle.value
        self._id = library.zendrik_reader_id(self._raw).decode()
        self._address = address
        self._finalizer = weakref.finalize(self, _close_handle, self._raw)
        # The calls under way on the handle, by thread, so that close() never frees it under one.
        self._guard = threading.Condition()
        self._callers: Counter[int] = Counter()
        self._closed = False
        self._close_deferred = False
        self._releasing = threading.RLock()  # reentrant: a signal handler may close during a close
        self._stream = _stream.Stream()

    @staticmethod
    def _check_address(address: str) -> None:
        # C would read an address up to its first NUL only: one that holds a NUL is refused whole.
        why = ctypes.create_string_buffer(_native.MESSAGE_CAPACITY)
        if "\0" in address:
            result, why.value = _native.ERR_BAD_ADDRESS, b"it holds a NUL character"
        else:
            result = _native.library().zendrik_address_check(address.encode(), why, len(why))
        if result != _native.OK:
            reason = why.value.decode("utf-8", "replace")
            raise _native.failure(result, f"{address!r} is not a reader address: {reason}")

    # ---- life ----------------------------------------------------------------------------------

    def __enter__(self) -> Reader:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    async def __aenter__(self) -> Reader:
        return self

    async def __aexit__(self, *exception: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        state = " closed" if self._closed else ""
        return f"<zendrik.Reader {self._id!r} at {self._address!r}{state}>"

    @property
    def id(self) -> str:
        """The reader's id: the name given at open, or its serial number as 24 hex digits."""
        return self._id

    @property
    def address(self) -> str:
        """The address the reader was opened with."""
        return self._address

    @property
    def closed(self) -> bool:
        """True once close() was called."""
        return self._closed

    def close(self) -> None:
        """Stops a running inventory, says goodbye to the reader and closes the link.

        Waits for calls under way in other threads (an inventory's wait ends within a tenth of
        a second) and for a close that another thread began. Called again, it does nothing.
        """
        me = threading.get_ident()
        with self._guard:
            self._closed = True
            while sum(self._callers.values()) > self._callers[me]:
                self._guard.wait()
            if self._callers[me]:
                # From a signal handler that interrupted a call of this thread: the call closes
                # the handle when it comes back.
                self._close_deferred = True
                return
        self._release()

    def _release(self) -> None:
        # The finalizer closes the handle once; a second caller waits here until that is done.
        # The awaited calls fail first, and the loop lets go of the event descriptor.
        with self._releasing:
            if self._finalizer.alive:
                self._stream.close(_native.failure(_native.ERR_CANCELLED, f"the reader {self._id!r} was closed"))
            self._finalizer()

    @contextlib.contextmanager
    def _using(self) -> Iterator[int]:
        """The raw handle for one call, kept open until the call is back."""
        me = threading.get_ident()
        with self._guard:
            if self._closed:
                raise _Closed(f"the reader {self._id!r} is closed")
            self._callers[me] += 1
        try:
            yield self._raw
        finally:
            with self._guard:
                self._callers[me] -= 1
                close_now = self._close_deferred and not +self._callers
                self._guard.notify_all()
            if close_now:
                self._release()

    def _check(self, result: int, doing: str, message: Optional[str] = None) -> None:
        if result != _native.OK:
            words = _native.result_text(result)
            raise _native.failure(result, f"{doing} on {self._id}: {message or words}")

    # ---- identity and settings -----------------------------------------------------------------

    def info(self) -> dict[str, Any]:
        """The reader's kind (0, 1 or 2), version text and serial number (hex, without "SN:")."""
        info = _native.ReaderInfo(size=ctypes.sizeof(_native.ReaderInfo))
        with self._using() as raw:
            result = _native.library().zendrik_reader_info_get(raw, ctypes.byref(info))
        self._check(result, "reading the identity")
        return {
            "kind": info.kind,
            "version": _native.text_of(info.version),
            "serial": _native.text_of(info.serial),
        }

    def settings(self) -> dict[str, Any]:
        """Every setting, read from the reader: the keys and values of ``zendrik config --json``.

        For example ``{"reader-kind": 0, "buzzer": "on", "work-mode": "always", "power": 26,
        "frequency": "902000-928000", ...}``; which keys appear depends on the reader's kind.
        """
        return self._call(_Request(_native.REQUEST_READ_SETTINGS), "reading the settings")

    def configure(self, **settings: SettingValue) -> dict[str, Any]:
        """Changes settings by name, checks that the reader kept them and returns every setting
        as read back (as ``settings()`` gives them).

        Names and values are those of ``settings()`` with ``_`` for ``-`` (``work_mode`` for
        ``work-mode``); ``True`` and ``False`` stand for ``"on"`` and ``"off"``:

            reader.configure(power=20, buzzer="off", work_mode="trigger")

        The whole change is checked before anything is written; ReaderError says what was
        refused, or which write failed or read back differently.
        """
        return self._call(_Request(_native.REQUEST_CONFIGURE, _assignments(settings)), "changing the settings")

    def plan(self, **settings: SettingValue) -> dict[str, Any]:
        """What ``configure()`` with these settings would change, writing nothing:
        ``{"power": {"want": 20, "have": 26}}`` for each setting whose value differs."""
        return self._call(_Request(_native.REQUEST_PLAN_CHANGE, _assignments(settings)), "planning a change")

    def factory_default(self) -> dict[str, Any]:
        """Restores the factory defaults in the configuration tool's sequence for the reader's
        kind and returns the settings read back."""
        return self._call(_Request(_native.REQUEST_FACTORY_DEFAULT), "restoring the factory defaults")

    def _call(self, request: _Request, doing: str) -> Any:
        completion = _native.RawEvent()
        with self._using() as raw:
            _native.library().zendrik_reader_call(
                raw, ctypes.byref(request.raw), ctypes.byref(completion), ctypes.sizeof(completion)
            )
            completed = Event._from_raw(completion, raw)
        return self._result(completed, doing)

    def _result(self, completed: Event, doing: str) -> Any:
        self._check(completed.code, doing, completed.message)
        return completed.result

    # ---- asyncio ---------------------------------------------------------------------------------

    async def info_async(self) -> dict[str, Any]:
        """``info()``, awaited: the request waits in the reader's queue, never the loop."""
        return await self._call_async(_Request(_native.REQUEST_INFO), "reading the identity")

    async def settings_async(self) -> dict[str, Any]:
        """``settings()``, awaited."""
        return await self._call_async(_Request(_native.REQUEST_READ_SETTINGS), "reading the settings")

    async def configure_async(self, **settings: SettingValue) -> dict[str, Any]:
        """``configure()``, awaited: the settings read back."""
        request = _Request(_native.REQUEST_CONFIGURE, _assignments(settings))
        return await self._call_async(request, "changing the settings")

    async def plan_async(self, **settings: SettingValue) -> dict[str, Any]:
        """``plan()``, awaited."""
        return await self._call_async(_Request(_native.REQUEST_PLAN_CHANGE, _assignments(settings)), "planning a change")

    async def factory_default_async(self) -> dict[str, Any]:
        """``factory_default()``, awaited: the settings read back."""
        request = _Request(_native.REQUEST_FACTORY_DEFAULT)
        return await self._call_async(request, "restoring the factory defaults")

    async def _call_async(self, request: _Request, doing: str) -> Any:
        return self._result(await self._submit_async(request, doing), doing)

    async def _submit_async(self, request: _Request, doing: str) -> Event:
        loop = asyncio.get_running_loop()
        library = _native.library()
        with self._using() as raw:
            result, waiting = self._stream.submit(_submitter(raw, request), loop)
            self._check(result, doing)
            self._stream.watch(loop, library.zendrik_reader_event_fd(raw), self._readable)
        request_id, future = waiting
        try:
            return await future
        finally:
            self._stream.forget(request_id)
            self._stream.unwatch_if_idle()

    def _readable(self) -> None:
        try:
            with self._using() as raw:
                self._stream.readable(raw)
        except _Closed:
            pass

    async def events(self, absence: float = 3.0) -> AsyncIterator[Event]:
        """``inventory()`` for asyncio: starts reading and yields every event of the reader as
        its event descriptor becomes readable, until the loop breaks or the reader is closed;
        the reading stops then.

            async for event in reader.events(absence=3.0):
                if event.kind == "arrived":
                    print(event.epc.hex(), event.card)
        """
        start = _Request(_native.REQUEST_INVENTORY_START, absence=absence)
        await self._call_async(start, "starting the inventory")
        loop = asyncio.get_running_loop()
        self._stream.begin_iteration()
        try:
            with self._using() as raw:
                self._stream.watch(loop, _native.library().zendrik_reader_event_fd(raw), self._readable)
            while True:
                event = await self._stream.next(loop)
                if event is None:
                    return
                yield event
        finally:
            self._stream.end_iteration()
            self._stop_without_waiting()
            self._stream.unwatch_if_idle()

    def _stop_without_waiting(self) -> None:
        library = _native.library()
        stop = _Request(_native.REQUEST_INVENTORY_STOP)
        with contextlib.suppress(_Closed):
            with self._using() as raw:
                result, _ = self._stream.submit(_submitter(raw, stop), None)
                if result != _native.OK:  # a full queue: the stop waits its turn here instead
                    library.zendrik_inventory_stop(raw)

    # ---- reads ---------------------------------------------------------------------------------

    def read_tag(self) -> Optional[Event]:
        """Reads one tag: an Event of kind "read", or None when no tag answers.

        Refused (ReaderError) while an inventory runs.
        """
        event = _native.RawEvent()
        with self._using() as raw:
            result = _native.library().zendrik_reader_read_tag(raw, ctypes.byref(event), ctypes.sizeof(event))
        if result == _native.NO_TAG:
            return None
        self._check(result, "reading a tag")
        return Event._from_raw(event)

    def read_tag_list(self) -> bytes:
        """The identifier bytes of the reader's tag list; empty when it lists none."""
        ids = (_native.U8 * _native.TAG_LIST_CAPACITY)()
        length = _native.SIZE()
        with self._using() as raw:
            result = _native.library().zendrik_reader_read_tag_list(raw, ids, len(ids), ctypes.byref(length))
        if result == _native.LIST_EMPTY:
            return b""
        self._check(result, "reading the tag list")
        return bytes(ids[: min(length.value, len(ids))])

    # ---- inventory -----------------------------------------------------------------------------

    @property
    def dropped(self) -> int:
        """Events the inventory dropped since the reader was opened, because nobody took them."""
        with self._using() as raw:
            return _native.library().zendrik_inventory_dropped(raw)

    def inventory(self, absence: float = 3.0) -> Iterator[Event]:
        """Reads continuously and yields every event, until the loop breaks.

        The reader reads on a thread of the library; the events wait in a queue until taken.
        The first is the link's state ("link-up" when the reader answered when it was opened),
        unless an earlier loop took it. A tag departs after ``absence`` seconds without a read.
        When the link fails the inventory yields "link-lost", reconnects by itself and yields
        "link-restored". Breaking out of the loop and close() stop the reading; so does Ctrl-C,
        with the KeyboardInterrupt it raises, as in any loop of Python.

            for event in reader.inventory(absence=3.0):
                if event.kind == "arrived":
                    print(event.epc.hex(), event.card)
        """
        return self._events(_inventory_options(absence))

    def _events(self, options: _native.InventoryOptions) -> Iterator[Event]:
        library = _native.library()
        with self._using() as raw:
            result = library.zendrik_inventory_start(raw, ctypes.byref(options), None, None)
        self._check(result, "starting the inventory")
        try:
            yield from self._queued_events()
        finally:
            with contextlib.suppress(_Closed):
                with self._using() as raw:
                    library.zendrik_inventory_stop(raw)

    def _queued_events(self) -> Iterator[Event]:
        buffer = (_native.RawEvent * _stream.BATCH)()
        while True:
            while self._stream.backlog:
                yield self._stream.backlog.popleft()
            try:
                with self._using() as raw:
                    result, events = _stream.take(raw, _EVENT_WAIT_MS, buffer)
            except _Closed:
                return
            if result == _native.OK:
                yield from self._stream.route(events)
            elif result == _native.ERR_NOT_RUNNING:
                return
            elif result != _native.NO_EVENT:
                self._check(result, "waiting for the next event")
