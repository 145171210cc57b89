"""The Python package against virtual readers (zendrik-sim on virtual HID sockets). CTest sets
ZENDRIK_LIBRARY, ZENDRIK_TEST_SIM and, when the command-line program is built, ZENDRIK_TEST_CLI."""

import _thread
import asyncio
import ctypes
import json
import os
import subprocess
import sys
import tempfile
import threading
import unittest

import zendrik

SIM = os.environ["ZENDRIK_TEST_SIM"]
CLI = os.environ.get("ZENDRIK_TEST_CLI")
LAYOUT = os.environ.get("ZENDRIK_TEST_LAYOUT")
EPC_A = "e2003412013760000000abcd"
EPC_B = "3000111122223333444455556666"
STUCK_SECONDS = 20  # only a safeguard: a stream that stops is ended by closing its reader


class VirtualReader:
    def __init__(self, directory, *options):
        self.socket = os.path.join(directory, f"hid-{len(os.listdir(directory))}")
        self.address = "usb:" + self.socket
        self.options = options
        self.start()

    def start(self):
        command = [SIM, "--hid-socket", self.socket, *self.options]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # The first line comes once the socket listens; an early exit gives an empty one.
        if not self.process.stdout.readline().startswith(b"ZENDRIK_HID_SOCKET="):
            raise RuntimeError("zendrik-sim did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
            self.process.stdout.close()

    def cli_settings(self):
        """What `zendrik config --json` prints (no Reader may be open: the newest connection wins)."""
        environment = dict(os.environ, ZENDRIK_HID_SOCKET=self.socket)
        printed = subprocess.run([CLI, "config", "--json"], env=environment, capture_output=True, check=True)
        return json.loads(printed.stdout)


class SimTestCase(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.directory = directory.name

    def virtual_reader(self, *options):
        virtual = VirtualReader(self.directory, *options)
        self.addCleanup(virtual.stop)
        return virtual

    def open(self, address, name=None):
        reader = zendrik.Reader(address, name)
        self.addCleanup(reader.close)
        timer = threading.Timer(STUCK_SECONDS, reader.close)
        timer.start()
        self.addCleanup(timer.cancel)
        return reader


def take_until(events, kind, count=1):
    taken = []
    for event in events:
        taken.append(event)
        if sum(e.kind == kind for e in taken) == count:
            return taken
    raise AssertionError(f"the events ended first: {[e.kind for e in taken]}")


def numbered_without_gaps(stream):
    return [e.seq for e in stream] == list(range(stream[0].seq, stream[0].seq + len(stream)))


class SettingsTest(SimTestCase):
    # Kind 2, whose settings differ most (a channel list, power up to 63). A new Wiegand format
    # puts out its own number of bytes.
    CHANGE = dict(power=40, buzzer=False, work_mode="trigger", wiegand_format=34, output_start=8)
    CHANGE.update(channels="5-20")
    SHOWN = {"power": 40, "buzzer": "off", "work-mode": "trigger", "wiegand-format": 34, "output-start": 8}
    SHOWN.update({"output-length": 4, "channels": "5-20"})
    REFUSED = [
        ({"power": 64}, zendrik.ReaderError, "power must be a number from 0 to 63"),
        ({"colour": "red"}, zendrik.ReaderError, 'unknown setting "colour"'),
        ({"reader_kind": 2}, zendrik.ReaderError, 'unknown setting "reader-kind"'),
        ({"frequency": "865000-868000"}, zendrik.ReaderError, "frequency does not apply to a reader of kind"),
        ({"output_start": 11}, zendrik.ReaderError, "runs past the 12 EPC bytes"),
        ({}, zendrik.ReaderError, "nothing to set"),
        ({"power": 20.5}, TypeError, "float"),
        ({"password": "00000000\0ff"}, ValueError, "NUL"),
    ]

    def test_identity_and_settings_round_trip(self):
        virtual = self.virtual_reader("--kind", "2", "--serial", "c0ffee")
        printed = virtual.cli_settings() if CLI else None
        reader = self.open(virtual.address)
        info = reader.info()
        self.assertEqual(reader.id, "000000000000000000c0ffee")
        self.assertEqual((info["kind"], info["serial"]), (2, reader.id))
        before = reader.settings()
        self.assertEqual(before, printed or before)
        self.assertEqual(before["reader-kind"], 2)
        self.assertEqual(reader.plan(power=40, buzzer=True), {"power": {"want": 40, "have": before["power"]}})
        after = reader.configure(**self.CHANGE)  # what the reader holds, read back
        self.assertEqual(after, {**before, **self.SHOWN})
        self.assertEqual(reader.settings(), after)
        for refused, error, message in self.REFUSED:
            with self.subTest(refused=refused), self.assertRaisesRegex(error, message) as caught:
                reader.configure(**refused)
            self.assertEqual(getattr(caught.exception, "code", -202), -202)
        self.assertEqual(reader.settings(), after, "a refused change wrote something")


class ReadTest(SimTestCase):
    def test_two_readers_in_one_process(self):
        first = self.virtual_reader("--kind", "0", "--serial", "a1", "--tag", EPC_A, "--round-time", "5")
        second = self.virtual_reader("--kind", "2", "--tag", EPC_B, "--round-time", "5")
        readers = [self.open(first.address), self.open(second.address, name="dock-2")]
        self.assertEqual([r.id for r in readers], ["0000000000000000000000a1", "dock-2"])
        # Kind 0 sends the antenna and the signal strength with each tag, kind 2 neither.
        for reader, epc, sends in [(readers[0], EPC_A, True), (readers[1], EPC_B, False)]:
            event = reader.read_tag()
            self.assertEqual((event.kind, event.reader, event.count), ("read", reader.id, 1))
            self.assertEqual(event.epc.hex(), epc)
            self.assertEqual((event.antenna is not None, event.rssi is not None), (sends, sends))
            self.assertEqual(reader.read_tag_list().hex(), epc)
            shape = event.as_dict()
            keys = ["event", "reader", "seq", "time", "epc", "card", "count", "first_seen", "antenna", "rssi"]
            self.assertEqual(list(shape), keys)
            self.assertEqual(shape["time"], event.time.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z")
            self.assertEqual([shape[k] for k in ("seq", "card", "rssi")], [event.seq, event.card, event.rssi])

        # Both inventories at once, each on a thread of its own: each stream holds its own tag only.
        streams = {}

        def consume(reader):
            streams[reader.id] = take_until(reader.inventory(), "read", 20)

        threads = [threading.Thread(target=consume, args=(reader,)) for reader in readers]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for reader, epc in [(readers[0], EPC_A), (readers[1], EPC_B)]:
            stream = streams[reader.id]
            tags = [e for e in stream if e.epc is not None]
            self.assertEqual({(e.reader, e.epc.hex()) for e in tags}, {(reader.id, epc)})
            self.assertTrue(numbered_without_gaps(stream) and stream[0].seq == 1)
            self.assertEqual(([e.kind for e in stream[:2]], reader.dropped), (["link-up", "arrived"], 0))

    def test_inventory_across_a_reader_stop_and_restart(self):
        virtual = self.virtual_reader("--tag", EPC_A, "--round-time", "5")
        reader = self.open(virtual.address)
        events = reader.inventory(absence=60.0)
        stream = take_until(events, "read", 3)
        virtual.stop()
        stream += take_until(events, "link-lost")
        virtual.start()
        stream += take_until(events, "link-restored") + take_until(events, "read", 3)
        events.close()
        kinds = [e.kind for e in stream]
        self.assertEqual((kinds[:3], kinds.count("arrived")), (["link-up", "arrived", "read"], 1))
        self.assertTrue(numbered_without_gaps(stream) and stream[0].seq == 1)
        lost, restored = stream[kinds.index("link-lost")], stream[kinds.index("link-restored")]
        self.assertEqual((lost.as_dict()["error"], restored.as_dict()["error"]), (lost.error, None))
        self.assertTrue(lost.error)
        self.assertEqual(sorted(restored.as_dict()), ["error", "event", "reader", "seq", "time"])
        # Closing the generator stopped the inventory: single reads are allowed again.
        self.assertEqual(reader.read_tag().epc.hex(), EPC_A)

    def test_what_ends_an_inventory(self):
        virtual = self.virtual_reader("--tag", EPC_A, "--round-time", "5")
        ends = {
            "close in the loop": lambda reader: reader.close(),
            "close from a thread": lambda reader: threading.Thread(target=reader.close).start(),
            "Ctrl-C": lambda reader: threading.Thread(target=_thread.interrupt_main).start(),
        }
        for name, end in ends.items():
            with self.subTest(end=name):
                reader = self.open(virtual.address)
                interrupted = False
                try:
                    for seen, _ in enumerate(reader.inventory()):
                        if seen == 0:
                            end(reader)
                except KeyboardInterrupt:
                    interrupted = True
                self.assertEqual(interrupted, name == "Ctrl-C")
                if interrupted:  # the inventory stopped on the way out: single reads are allowed again
                    self.assertEqual(reader.read_tag().epc.hex(), EPC_A)
                else:
                    self.assertRaises(ValueError, reader.info)
                reader.close()  # a second close does nothing

    def test_refusals_of_an_open_reader(self):
        empty = self.open(self.virtual_reader().address)
        self.assertEqual((empty.read_tag(), empty.read_tag_list()), (None, b""))
        # A completion whose result was cut in its record is given whole or refused, never cut:
        # this one's whole the library does not keep.
        native = zendrik._native
        cut = native.RawEvent(kind=native.EVENT_COMPLETED, request_id=99, cut=native.CUT_JSON, json_length=5000)
        with empty._using() as raw, self.assertRaises(zendrik.ReaderError) as caught:
            zendrik.Event._from_raw(cut, raw)
        self.assertEqual(caught.exception.code, native.ERR_INVALID_ARGUMENT)
        self.assertRaises(ValueError, zendrik.Event._from_raw, cut)
        for absence in (0, -1.0, 5e6):
            self.assertRaises(ValueError, empty.inventory, absence=absence)
        reader = self.open(self.virtual_reader("--tag", EPC_A).address)
        events = reader.inventory()
        self.assertEqual([next(events).kind, next(events).kind], ["link-up", "arrived"])
        # While it runs, single reads and a second inventory are refused.
        for call in (reader.read_tag, lambda: next(reader.inventory())):
            with self.assertRaises(zendrik.ReaderError) as caught:
                call()
            self.assertEqual(caught.exception.code, -204)


ROUND_SECONDS = 0.4


class AsyncTest(SimTestCase):
    def test_awaited_calls_and_events_never_block_the_loop(self):
        # Inventory rounds of 400 ms: a call that blocked the loop while it waits for the round to
        # end would let no tick of the ticker happen meanwhile.
        virtual = self.virtual_reader("--kind", "0", "--serial", "b2", "--tag", EPC_A, "--round-time",
                                      str(int(ROUND_SECONDS * 1000)))
        reader = self.open(virtual.address)

        async def scenario():
            ticks = []

            async def ticker():
                while True:
                    ticks.append(asyncio.get_running_loop().time())
                    await asyncio.sleep(0.01)

            async def settings_counting_ticks():
                # Asked well inside the round after the read, so that the request waits for that
                # round's end: asked at once, on a fast machine, it may be answered before the
                # next round starts, sooner than a tick.
                await asyncio.sleep(ROUND_SECONDS / 8)
                before = len(ticks)
                settings = await reader.settings_async()
                return settings, len(ticks) - before

            ticking = asyncio.create_task(ticker())
            info = await reader.info_async()
            self.assertEqual((info["kind"], info["serial"]), (0, reader.id))
            changed = await reader.configure_async(power=20)
            self.assertEqual(changed["power"], 20)
            self.assertEqual(await reader.plan_async(power=26), {"power": {"want": 26, "have": 20}})
            kinds, during = [], None
            async for event in reader.events():
                kinds.append(event.kind)
                if event.kind == "read" and during is None:
                    self.assertGreaterEqual(event.round_time, ROUND_SECONDS)
                    during = asyncio.create_task(settings_counting_ticks())  # answered between two rounds
                if during is not None and during.done() and kinds.count("read") >= 2:
                    break
            settings, ticked = await during
            self.assertEqual(settings["power"], 20)
            self.assertGreater(ticked, 0, "the loop stood still while the request waited")
            self.assertEqual(kinds[:3], ["link-up", "arrived", "read"])
            ticking.cancel()
            # The iteration's end stopped the inventory; a close fails what still waits.
            waiting = asyncio.create_task(reader.info_async())
            await asyncio.sleep(0)
            reader.close()
            with self.assertRaises(zendrik.ReaderError) as caught:
                await waiting
            self.assertEqual(caught.exception.code, -209)

        asyncio.run(asyncio.wait_for(scenario(), STUCK_SECONDS))


class ErrorTest(unittest.TestCase):
    @unittest.skipUnless(LAYOUT, "the layout program is built with the library")
    def test_structures_are_laid_out_as_in_c(self):
        printed = subprocess.run([LAYOUT], capture_output=True, check=True, text=True).stdout
        from zendrik import _native

        seen = {name: set() for name in _native.STRUCTURES}
        for line in printed.splitlines():
            struct, field, offset, size = line.split()
            structure = _native.STRUCTURES[struct]
            with self.subTest(struct=struct, field=field):
                if field == "-":
                    self.assertEqual(ctypes.sizeof(structure), int(size))
                    continue
                described = getattr(structure, field)
                self.assertEqual((described.offset, described.size), (int(offset), int(size)))
                seen[struct].add(field)
        for struct, structure in _native.STRUCTURES.items():
            self.assertEqual(seen[struct], {name for name, _ in structure._fields_}, struct)

    def test_addresses_and_names_must_be_text(self):
        for address, name in [(123, None), (b"usb", None), ("usb", 7)]:
            with self.subTest(address=address, name=name), self.assertRaisesRegex(TypeError, "must be a str"):
                zendrik.Reader(address, name)

    def test_bad_addresses(self):
        for address, reason in [
            ("usb:", "usb:"),
            ("serial:/dev/ttyUSB0?baud=12", "12"),
            ("tcp:192.168.1.100:4001", "tcp"),
            ("usb\0:/dev/hidraw0", "nul"),
        ]:
            with self.subTest(address=address), self.assertRaises(zendrik.ReaderError) as caught:
                zendrik.Reader(address)
            self.assertEqual(caught.exception.code, -201)
            self.assertEqual(caught.exception.words, "the reader address does not parse")
            self.assertEqual(caught.exception.kind, "bad-argument")
            self.assertIn(reason, str(caught.exception).lower())
        with self.assertRaisesRegex(zendrik.ReaderError, "cannot open") as caught:
            zendrik.Reader("usb:/nonexistent/socket")
        self.assertEqual(caught.exception.kind, "transport")

    def test_library_missing_or_without_sessions(self):
        # The import needs no library; the first reader does.
        probe = """import zendrik
try: zendrik.Reader('usb')
except zendrik.LibraryNotFoundError as e: print(e)"""
        with tempfile.NamedTemporaryFile(suffix=".so") as not_a_library:
            for library, expected in [
                ("/nonexistent/libzendrik.so.1", "install the Debian package libzendrik1"),
                (not_a_library.name, "cmake --install"),
                ("libc.so.6", "without reader sessions"),
            ]:
                environment = dict(os.environ, ZENDRIK_LIBRARY=library)
                run = subprocess.run([sys.executable, "-c", probe], env=environment, capture_output=True)
                with self.subTest(library=library):
                    self.assertEqual(run.returncode, 0, run.stderr)
                    self.assertIn(expected, run.stdout.decode())
                    self.assertIn(library, run.stdout.decode())


if __name__ == "__main__":
    unittest.main()
