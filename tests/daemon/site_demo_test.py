#!/usr/bin/env python3
"""`scripts/run --site --no-build` as a user runs it: the demo site comes up, its console says
where the tags are and what went through the doors, and an interrupt stops every program it
started and removes its temporary directory.

Usage: site_demo_test.py SCRIPTS_RUN (ZENDRIK_BUILD_DIR names the build with the programs)."""
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
import urllib.request

START_WAIT_S = 30
# The scene loops every 16 s and its first passage ends 4.5 s after its time 0.
SITE_WAIT_S = 40
STOP_WAIT_S = 20
POLL_PAUSE_S = 0.3
HTTP_TIMEOUT_S = 5
INTERRUPTED_STATUS = 130
DEMO_PROGRAMS = {"mosquitto": 1, "zendrik-sim": 4, "zendrikd": 1}


def session_processes(session):
    """{pid: name} of the live processes of a session (zombies are gone already)."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        # "pid (name) state ppid pgrp session ...": the name may hold spaces and parentheses.
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text[text.rindex(")") + 2:].split()
        if fields[0] != "Z" and int(fields[3]) == session:
            found[int(entry)] = name
    return found


def get(console, path):
    with urllib.request.urlopen(console + path, timeout=HTTP_TIMEOUT_S) as reply:
        return json.load(reply)


def wait_for(what, check, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return
        time.sleep(POLL_PAUSE_S)
    raise AssertionError(f"no {what} within {seconds} s")


def main():
    demo = subprocess.Popen([sys.argv[1], "--site", "--no-build"], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, start_new_session=True)
    lines = []

    def keep_output():
        for line in demo.stdout:
            lines.append(line)

    threading.Thread(target=keep_output, daemon=True).start()
    try:
        def address(pattern):
            match = re.search(pattern, "".join(lines))
            return match.group(1) if match else None

        wait_for("console address", lambda: address(r"console\s+(http://127\.0\.0\.1:\d+/)"),
                 START_WAIT_S)
        console = address(r"console\s+(http://127\.0\.0\.1:\d+)/")
        scratch = address(r"files\s+(\S+)")
        assert re.search(r"broker\s+127\.0\.0\.1:\d+", "".join(lines)), lines
        assert re.search(r"mosquitto_sub -h 127\.0\.0\.1 -p \d+ -t 'zendrik/demo/doors/\+/passages'",
                         "".join(lines)), lines
        assert os.path.isdir(scratch), scratch

        names = list(session_processes(demo.pid).values())
        for program, count in DEMO_PROGRAMS.items():
            assert names.count(program) == count, names

        zones = get(console, "/api/v1/zones")
        assert sorted(zone["name"] for zone in zones) == ["dock", "store"], zones
        wait_for("tag in a zone", lambda: any(zone["tags"] > 0 for zone in get(console, "/api/v1/zones")),
                 SITE_WAIT_S)
        wait_for("passage", lambda: get(console, "/api/v1/passages")["passages"], SITE_WAIT_S)
        passage = get(console, "/api/v1/passages")["passages"][0]
        assert passage["door"] in ("dock-door", "store-door"), passage
        assert passage["direction"] in ("in", "out"), passage

        # What a terminal's Ctrl-C does to the script alone: its programs must be stopped by it.
        os.kill(demo.pid, signal.SIGINT)
        assert demo.wait(STOP_WAIT_S) == INTERRUPTED_STATUS, "".join(lines)
        wait_for("end of every program of the demo", lambda: not session_processes(demo.pid), STOP_WAIT_S)
        assert not os.path.exists(scratch), scratch
    except BaseException:
        print("".join(lines), file=sys.stderr)
        raise
    finally:
        if session_processes(demo.pid):
            os.killpg(demo.pid, signal.SIGKILL)
    print("site demo: up, a tag in a zone, a passage, and every program stopped")


if __name__ == "__main__":
    main()
