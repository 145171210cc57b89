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
VECTORS = os.path.join(os.path.dirname(__file__), "..", "vectors", "stream_check.json")


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
        # The rows are shared with the command-line listener's test, so both keep one set of rules.
        with open(VECTORS, encoding="utf-8") as file:
            table = json.load(file)
        for row in table["rows"]:
            with self.subTest(row["name"]):
                checker = StreamChecker(gap_wait=table["gap_wait"])
                lines = []
                for step in row["steps"]:
                    lines += checker.tick(step["tick"]) if "tick" in step else checker.offer(step["offer"], step["at"])
                self.assertEqual(summary(lines), row["expect"])

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

    @unittest.skipUnless(os.environ.get("ZENDRIK_TEST_CLI"), "ZENDRIK_TEST_CLI names no zendrik program")
    def test_the_command_line_listener_keeps_the_same_rules(self):
        state = os.path.join(self.directory, "cli.state")
        command = [os.environ["ZENDRIK_TEST_CLI"], "listen", "--broker", f"mqtt://127.0.0.1:{self.port}",
                   "--site", "dock", "--client-id", "cli-judge", "--state", state, "--gap-wait", "0.3", "--strict"]
        listener = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        wait_for(lambda: os.path.exists(state), "the listener's subscriptions (its first state)")
        self.publish([read(1), read(2), read(2), spool_lost(5, 3, 4), read(7)])
        output, _ = listener.communicate(timeout=WAIT_SECONDS)
        self.assertEqual(listener.returncode, 3)  # --strict: the gap 6-6 ended it
        lines = [json.loads(line) for line in output.splitlines()]
        self.assertEqual(summary(lines), ["gate-1:1", "gate-1:2", "lost gate-1 3-4", "gate-1:5", "gap gate-1 6-6",
                                          "gate-1:7"])
        stored = os.path.join(self.directory, "bodies.log")
        with open(stored, "w") as file:
            file.write(json.dumps([read(1), read(3)]) + "\n")
        checked = subprocess.run([os.environ["ZENDRIK_TEST_CLI"], "listen", "--webhook-file", stored],
                                 capture_output=True, text=True, check=True)
        self.assertEqual(summary(json.loads(line) for line in checked.stdout.splitlines()),
                         ["gate-1:1", "gap gate-1 2-2", "gate-1:3"])


if __name__ == "__main__":
    unittest.main()
