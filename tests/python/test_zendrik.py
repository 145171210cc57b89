"""The Python package against virtual readers (zendrik-sim on virtual HID sockets).

Run by CTest with ZENDRIK_LIBRARY naming the build's libzendrik.so.1, ZENDRIK_TEST_SIM the virtual
reader and, when the command-line program is built, ZENDRIK_TEST_CLI.
"""

import _thread
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
EPC_A = "e2003412013760000000abcd"
EPC_B = "3000111122223333444455556666"
# Only a safeguard against a hang: a test whose stream stops is ended by closing its reader.
STUCK_SECONDS = 20


class VirtualReader:
    """zendrik-sim serving one reader on a virtual HID socket, stopped and started by the test."""

    def __init__(self, directory, *options):
        self.socket = os.path.join(directory, f"hid-{len(os.listdir(directory))}")
        self.options = options
        self.process = None
        self.start()

    @property
    def address(self):
        return "usb:" + self.socket

    def start(self):
        self.process = subprocess.Popen(
            [SIM, "--hid-socket", self.socket, *self.options],
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
        )
        # The first line comes once the socket listens; an early exit gives an empty one.
        ready = self.process.stdout.readline()
        if not ready.startswith("ZENDRIK_HID_SOCKET="):
            raise RuntimeError(f"zendrik-sim did not start: {ready!r}")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
            self.process.stdout.close()

    def cli_settings(self):
        """What `zendrik config --json` prints for this reader (the Reader must be closed)."""
        environment = dict(os.environ, ZENDRIK_HID_SOCKET=self.socket)
        output = subprocess.run([CLI, "config", "--json"], env=environment, capture_output=True, check=True)
        return json.loads(output.stdout)


class SimTestCase(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.directory = directory.name

    def virtual_reader(self, *options):
        reader = VirtualReader(self.directory, *options)
        self.addCleanup(reader.stop)
        return reader

    def reader_of(self, virtual):
        return self.open(virtual.address)

    def open(self, address, **kwargs):
        reader = zendrik.Reader(address, **kwargs)
        self.addCleanup(reader.close)
        return reader

    def guard(self, reader):
        """Closes the reader if the test is still waiting on it after STUCK_SECONDS."""
        timer = threading.Timer(STUCK_SECONDS, reader.close)
        timer.start()
        self.addCleanup(timer.cancel)


def take_until(events, condition):
    taken = []
    for event in events:
        taken.append(event)
        if condition(event, taken):
            return taken
    raise AssertionError(f"the events ended first: {[e.kind for e in taken]}")


def reads(count):
    return lambda event, taken: sum(e.kind == "read" for e in taken) >= count


def kind_is(kind):
    return lambda event, taken: event.kind == kind


class SettingsTest(SimTestCase):
    # A reader of kind 2, whose settings differ most from the others' (a channel list, power up to 63).
    KIND = 2
    CHANGE = dict(
        power=40, buzzer=False, work_mode="trigger", wiegand_format=34, output_start=8, channels="5-20"
    )
    # What the reader shows then; a new Wiegand format puts out its own number of bytes.
    SHOWN = {
        "power": 40,
        "buzzer": "off",
        "work-mode": "trigger",
        "wiegand-format": 34,
        "output-start": 8,
        "output-length": 4,
        "channels": "5-20",
    }
    REFUSED = [
        ({"power": 64}, "power must be a number from 0 to 63"),
        ({"colour": "red"}, 'unknown setting "colour"'),
        ({"reader_kind": 1}, 'unknown setting "reader-kind"'),
        ({"frequency": "865000-868000"}, "frequency does not apply to a reader of kind 2"),
        ({"output_start": 11}, "runs past the 12 EPC bytes"),
        ({}, "nothing to set"),
    ]

    def test_identity_and_settings_round_trip(self):
        virtual = self.virtual_reader("--kind", str(self.KIND), "--serial", "c0ffee")
        printed = virtual.cli_settings() if CLI else None
        with zendrik.Reader(virtual.address) as reader:
            self.assertEqual(reader.id, "000000000000000000c0ffee")
            info = reader.info()
            self.assertEqual((info["kind"], info["serial"]), (self.KIND, "000000000000000000c0ffee"))
            self.assertTrue(info["version"])
            before = reader.settings()
            if printed is not None:
                self.assertEqual(before, printed)
            self.assertEqual(before["reader-kind"], self.KIND)

            reader.configure(**self.CHANGE)
            after = reader.settings()
            self.assertEqual(after, {**before, **self.SHOWN})

            for refused, message in self.REFUSED:
                with self.subTest(refused=refused):
                    with self.assertRaises(zendrik.ReaderError) as caught:
                        reader.configure(**refused)
                    self.assertEqual(caught.exception.code, -202)
                    self.assertIn(message, str(caught.exception))
            for wrong, error in [({"power": 20.5}, TypeError), ({"password": "00000000\0ff"}, ValueError)]:
                with self.assertRaises(error):
                    reader.configure(**wrong)
            self.assertEqual(reader.settings(), after, "a refused change wrote something")


class ReadTest(SimTestCase):
    def test_two_readers_in_one_process(self):
        first = self.virtual_reader("--kind", "0", "--serial", "a1", "--tag", EPC_A, "--round-time", "5")
        second = self.virtual_reader("--kind", "2", "--serial", "b2", "--tag", EPC_B, "--round-time", "5")
        readers = [self.open(first.address), self.open(second.address, name="dock-2")]
        self.assertEqual([r.id for r in readers], ["0000000000000000000000a1", "dock-2"])

        # Kind 0 sends the antenna and the signal strength with each tag, kind 2 neither.
        for reader, epc, sends_bytes in [(readers[0], EPC_A, True), (readers[1], EPC_B, False)]:
            with self.subTest(reader=reader.id):
                event = reader.read_tag()
                self.assertEqual((event.kind, event.reader, event.epc.hex()), ("read", reader.id, epc))
                self.assertEqual(event.count, 1)
                self.assertEqual(event.antenna is not None, sends_bytes)
                self.assertEqual(event.rssi is not None, sends_bytes)
                self.assertIsNotNone(event.time.tzinfo)
                self.assertEqual(reader.read_tag_list().hex(), epc)
                shape = event.as_dict()
                keys = ["event", "reader", "seq", "time", "epc", "card", "count", "first_seen"]
                self.assertEqual(list(shape), keys + ["antenna", "rssi"])
                self.assertEqual((shape["reader"], shape["seq"], shape["epc"]), (reader.id, event.seq, epc))
                self.assertEqual(shape["time"], event.time.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z")
                self.assertEqual((shape["card"], shape["antenna"]), (event.card, event.antenna))

        # Both inventories at once, each on a thread of its own: every stream holds its own reader's
        # tag only, numbered without gaps.
        streams = {}

        def consume(reader):
            self.guard(reader)
            streams[reader.id] = take_until(reader.inventory(), reads(20))

        threads = [threading.Thread(target=consume, args=(reader,)) for reader in readers]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for reader, epc in [(readers[0], EPC_A), (readers[1], EPC_B)]:
            stream = streams[reader.id]
            self.assertEqual({(e.reader, e.epc.hex()) for e in stream}, {(reader.id, epc)})
            self.assertEqual([e.seq for e in stream], list(range(stream[0].seq, stream[0].seq + len(stream))))
            self.assertEqual(stream[0].kind, "arrived")
            self.assertEqual(reader.dropped, 0)

    def test_inventory_across_a_reader_stop_and_restart(self):
        virtual = self.virtual_reader("--serial", "7", "--tag", EPC_A, "--round-time", "5")
        reader = self.open(virtual.address)
        self.guard(reader)
        events = reader.inventory(absence=60.0)
        stream = take_until(events, reads(3))
        virtual.stop()
        stream += take_until(events, kind_is("link-lost"))
        virtual.start()
        stream += take_until(events, kind_is("link-restored"))
        stream += take_until(events, reads(3))
        events.close()

        kinds = [e.kind for e in stream]
        self.assertEqual(kinds[:2], ["arrived", "read"])
        self.assertEqual(kinds.count("arrived"), 1, "a lost link made the tag arrive again")
        self.assertEqual([e.seq for e in stream], list(range(1, len(stream) + 1)))
        lost = stream[kinds.index("link-lost")]
        restored = stream[kinds.index("link-restored")]
        self.assertTrue(lost.error)
        self.assertIsNone(restored.error)
        self.assertEqual(lost.as_dict(), {**lost.as_dict(), "event": "link-lost", "error": lost.error})
        self.assertEqual(sorted(restored.as_dict()), ["error", "event", "reader", "seq", "time"])
        self.assertTrue(all(e.epc is None for e in (lost, restored)))
        # Closing the generator stopped the inventory: single reads are allowed again.
        self.assertEqual(reader.read_tag().epc.hex(), EPC_A)

    def test_what_ends_an_inventory(self):
        def close_in_loop(reader):
            reader.close()

        def close_from_a_thread(reader):
            threading.Thread(target=reader.close).start()

        def interrupt(reader):
            threading.Thread(target=_thread.interrupt_main).start()

        virtual = self.virtual_reader("--tag", EPC_A, "--round-time", "5")
        cases = [(close_in_loop, None), (close_from_a_thread, None), (interrupt, KeyboardInterrupt)]
        for end, raised in cases:
            with self.subTest(end=end.__name__):
                reader = self.open(virtual.address)
                self.guard(reader)
                seen = 0
                try:
                    for _ in reader.inventory():
                        seen += 1
                        if seen == 1:
                            end(reader)
                except BaseException as exception:  # noqa: B036 - KeyboardInterrupt is the point
                    self.assertIsInstance(exception, raised or ())
                else:
                    self.assertIsNone(raised, "the interrupt did not end the loop")
                if raised is None:
                    self.assertTrue(reader.closed)
                    with self.assertRaises(ValueError):
                        reader.info()
                else:
                    # The inventory stopped on the way out: single reads are allowed again.
                    self.assertEqual(reader.read_tag().epc.hex(), EPC_A)
                reader.close()


class ErrorTest(SimTestCase):
    def test_bad_addresses(self):
        for address, reason in [
            ("", "empty"),
            ("usb:", "usb:"),
            ("serial:/dev/ttyUSB0?baud=12", "12"),
            ("udp:1.2.3:4001", "1.2.3"),
            ("tcp:192.168.1.100:4001", "tcp"),
            ("usb\0:/dev/hidraw0", "nul"),
        ]:
            with self.subTest(address=address):
                with self.assertRaises(zendrik.ReaderError) as caught:
                    zendrik.Reader(address)
                self.assertEqual(caught.exception.code, -201)
                self.assertEqual(caught.exception.words, "the reader address does not parse")
                self.assertIn("is not a reader address", str(caught.exception))
                self.assertIn(reason, str(caught.exception).lower())

    def test_failures_of_an_open_reader(self):
        with self.assertRaises(zendrik.ReaderError) as caught:
            zendrik.Reader("usb:" + os.path.join(self.directory, "nobody"))
        self.assertIn("cannot open", str(caught.exception))

        empty = self.reader_of(self.virtual_reader())
        self.assertIsNone(empty.read_tag())
        self.assertEqual(empty.read_tag_list(), b"")
        for absence in (0, -1.0, 5e6):
            with self.assertRaises(ValueError):
                empty.inventory(absence=absence)

        reader = self.reader_of(self.virtual_reader("--tag", EPC_A))
        self.guard(reader)
        events = reader.inventory()
        self.assertEqual(next(events).kind, "arrived")
        # While it runs, single reads and a second inventory are refused.
        for call in (reader.read_tag, lambda: next(reader.inventory())):
            with self.assertRaises(zendrik.ReaderError) as caught:
                call()
            self.assertEqual(caught.exception.code, -204)
        reader.close()
        self.assertIsNone(next(events, None), "the inventory went on after close")
        reader.close()  # a second close does nothing
        with self.assertRaises(ValueError):
            reader.settings()

    def test_library_missing_or_without_sessions(self):
        with open(os.path.join(self.directory, "not-a-library.so"), "w") as text:
            text.write("no ELF here")
        # The import itself needs no library; the first reader does.
        probe = "\n".join(
            [
                "import zendrik",
                "try:",
                "    zendrik.Reader('usb')",
                "except zendrik.LibraryNotFoundError as e:",
                "    print(e)",
            ]
        )
        for library, expected in [
            ("/nonexistent/libzendrik.so.1", "install the Debian package libzendrik1"),
            (os.path.join(self.directory, "not-a-library.so"), "cmake --install"),
            ("libc.so.6", "without reader sessions"),
        ]:
            with self.subTest(library=library):
                environment = dict(os.environ, ZENDRIK_LIBRARY=library)
                run = subprocess.run(
                    [sys.executable, "-c", probe], env=environment, capture_output=True, text=True
                )
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertIn(expected, run.stdout)
                self.assertIn(library, run.stdout)


if __name__ == "__main__":
    unittest.main()
