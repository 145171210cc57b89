"""The listener's rules as a table, then the listener itself on a broker of the test's own: a
persistent session that keeps what came while it was away, and a state file that carries each
stream's place across its restarts."""

import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))

from zendrik.stream_check import StreamChecker, check_lines  # noqa: E402

WAIT_SECONDS = 10.0


def read(seq, reader="gate-1"):
    return {"event": "read", "reader": reader, "seq": seq}


def spool_lost(seq, first, last, reader="gate-1"):
    return {"event": "spool-lost", "reader": reader, "seq": seq, "missing_from": first, "missing_to": last}


def summary(lines):
    """A line as the table writes it: 'gate-1:3' for an event, 'gap gate-1 2-2', 'lost gate-1 5-6'."""
    out = []
    for line in lines:
        for record in ("gap", "lost"):
            if record in line:
                span = line[record]
                name = next(span[k] for k in ("reader", "zone", "door") if k in span)
                out.append(f"{record} {name} {span['from']}-{span['to']}")
                break
        else:
            name = line.get("door") or line.get("zone") or line.get("reader")
            out.append(f"{name}:{line['seq']}")
    return out


class StreamCheckerTest(unittest.TestCase):
    def test_table(self):
        # Each row: (what is offered, at which time, or ("tick", time)), and the lines expected
        # overall, with a gap wait of 5 s.
        rows = [
            ("in order", [(read(1), 0), (read(2), 0)], ["gate-1:1", "gate-1:2"]),
            ("duplicates once", [(read(1), 0), (read(1), 0), (read(2), 0), (read(1), 1)], ["gate-1:1", "gate-1:2"]),
            ("reordered within the wait", [(read(1), 0), (read(3), 1), (read(2), 2)],
             ["gate-1:1", "gate-1:2", "gate-1:3"]),
            ("a gap only after the wait", [(read(1), 0), (read(3), 1), ("tick", 5.9), ("tick", 6)],
             ["gate-1:1", "gap gate-1 2-2", "gate-1:3"]),
            ("late after its gap, still once", [(read(1), 0), (read(3), 0), ("tick", 5), (read(2), 6), (read(2), 7)],
             ["gate-1:1", "gap gate-1 2-2", "gate-1:3", "gate-1:2"]),
            ("an announced loss is no gap", [(read(4), 0), (spool_lost(7, 5, 6), 0), (read(8), 0)],
             ["gate-1:4", "lost gate-1 5-6", "gate-1:7", "gate-1:8"]),
            ("streams apart", [(read(1), 0), (read(7, "gate-2"), 0), (read(2), 0), (read(8, "gate-2"), 0)],
             ["gate-1:1", "gate-2:7", "gate-1:2", "gate-2:8"]),
            ("zones and doors are streams of their own",
             [({"event": "zone-entered", "zone": "dock", "reader": "gate-1", "seq": 1}, 0),
              ({"event": "passage", "door": "door-3", "reader": "gate-1", "seq": 1}, 0), (read(1), 0)],
             ["dock:1", "door-3:1", "gate-1:1"]),
            ("a batch and a webhook body", [({"batch": True, "reader": "gate-1", "reads": [read(1), read(2)]}, 0),
                                            ([read(3), read(2), read(4)], 0)],
             ["gate-1:1", "gate-1:2", "gate-1:3", "gate-1:4"]),
            ("no seq, not counted", [({"state": "online"}, 0), ({"event": "read", "reader": "g", "seq": "1"}, 0)], []),
        ]
        for name, steps, expected in rows:
            with self.subTest(name):
                checker = StreamChecker(gap_wait=5)
                lines = []
                for step, at in steps:
                    lines += checker.tick(at) if step == "tick" else checker.offer(step, at)
                self.assertEqual(summary(lines), expected)

    def test_state_carries_the_place_and_what_was_held(self):
        first = StreamChecker(gap_wait=5)
        first.offer(read(1), 0)
        first.offer(read(3), 0)
        second = StreamChecker(gap_wait=5, state=json.loads(json.dumps(first.state())))
        self.assertEqual(summary(second.offer(read(1), 0) + second.offer(read(2), 0)), ["gate-1:2", "gate-1:3"])
        with self.assertRaises(ValueError):
            StreamChecker(state={"nothing": {}})

    def test_stored_lines_end_with_their_gaps(self):
        bodies = [json.dumps([read(1), read(2)]), "", json.dumps([read(5)])]
        self.assertEqual(summary(check_lines(bodies)), ["gate-1:1", "gate-1:2", "gap gate-1 3-4", "gate-1:5"])
        with self.assertRaisesRegex(ValueError, "line 2"):
            check_lines(["[]", "{"])


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(condition, what):
    deadline = time.monotonic() + WAIT_SECONDS
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


@unittest.skipUnless(shutil.which("mosquitto"), "mosquitto is not installed")
class ListenerOnABrokerTest(unittest.TestCase):
    def setUp(self):
        try:
            import paho.mqtt.client  # noqa: F401
        except ImportError:
            self.skipTest("python3-paho-mqtt is not installed")
        self.directory = tempfile.mkdtemp()
        self.port = free_port()
        config = os.path.join(self.directory, "mosquitto.conf")
        with open(config, "w") as file:
            file.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\nuser root\n")
        self.broker = subprocess.Popen(["mosquitto", "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(self.accepts, "mosquitto accepting")

    def tearDown(self):
        self.broker.terminate()
        self.broker.wait()
        shutil.rmtree(self.directory)

    def accepts(self):
        with socket.socket() as probe:
            return probe.connect_ex(("127.0.0.1", self.port)) == 0

    def publish(self, events, topic="zendrik/dock/gate-1/reads"):
        import paho.mqtt.client as mqtt

        client = mqtt.Client(client_id="publisher")
        client.connect("127.0.0.1", self.port)
        client.loop_start()
        for event in events:
            client.publish(topic, json.dumps(event), qos=1).wait_for_publish()
        client.disconnect()
        client.loop_stop()

    def start_listener(self, lines, gap_wait=30.0):
        from zendrik.listener import Listener

        listener = Listener(f"mqtt://127.0.0.1:{self.port}", "dock", lines.append, client_id="judge",
                            state_file=os.path.join(self.directory, "state.json"), gap_wait=gap_wait)
        thread = threading.Thread(target=listener.run)
        thread.start()
        return listener, thread

    def test_a_restart_misses_nothing_and_repeats_nothing(self):
        lines = []
        listener, thread = self.start_listener(lines)
        self.assertTrue(listener.subscribed.wait(WAIT_SECONDS))
        self.publish([read(1), read(2), read(2), read(4), read(3), spool_lost(7, 5, 6), read(8)])
        self.publish([read(10, "gate-2")], topic="zendrik/dock/gate-2/events")
        wait_for(lambda: len(lines) == 8, "the first events")
        listener.stop()
        thread.join()
        # Away: the broker keeps these for the persistent session.
        self.publish([read(9), read(8), read(11, "gate-2")])
        again = []
        listener, thread = self.start_listener(again, gap_wait=0.5)
        wait_for(lambda: len(again) == 2, "what came while the listener was away")
        self.publish([read(11)])
        wait_for(lambda: len(again) == 4, "the gap after its wait")
        listener.stop()
        thread.join()
        self.assertEqual(summary(lines), ["gate-1:1", "gate-1:2", "gate-1:3", "gate-1:4", "lost gate-1 5-6",
                                          "gate-1:7", "gate-1:8", "gate-2:10"])
        self.assertEqual(sorted(summary(again)), sorted(["gate-1:9", "gate-2:11", "gap gate-1 10-10", "gate-1:11"]))
        self.assertEqual(listener.gaps, 1)


if __name__ == "__main__":
    unittest.main()
