#!/usr/bin/env python3
"""How long zendrikd takes to answer `info` over MQTT, against a virtual reader, all on loopback:
from the request published (mosquitto_pub included) to its reply taken by a subscriber.
usage: bench/command_reply_latency.py ZENDRIKD ZENDRIK_SIM [COUNT]"""
import json, os, socket, subprocess, sys, tempfile, time

zendrikd, sim = sys.argv[1], sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 40

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

with tempfile.TemporaryDirectory() as d:
    port = free_port()
    with open(f"{d}/mosquitto.conf", "w") as f:
        f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\n")
    broker = subprocess.Popen(["mosquitto", "-c", f"{d}/mosquitto.conf"], stderr=subprocess.DEVNULL)
    reader = subprocess.Popen([sim, "--hid-socket", f"{d}/gate.sock", "--serial", "1", "--round-time", "10",
                               "--tag", "e2003412012345678901abcd"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    with open(f"{d}/z.toml", "w") as f:
        f.write(f'site = "t"\n[control]\ncommands = "all"\n[mqtt]\nport = {port}\ntopic_prefix = "zt"\n'
                f'[spool]\npath = "{d}/spool.sqlite"\n[http]\nlisten = ""\n'
                f'[[reader]]\nname = "gate-1"\naddress = "usb:{d}/gate.sock"\n')
    daemon = subprocess.Popen([zendrikd, "--config", f"{d}/z.toml"], stderr=open(f"{d}/z.log", "w"))
    sub = subprocess.Popen(["mosquitto_sub", "-p", str(port), "-h", "127.0.0.1", "-q", "1", "-t", "zt/t/gate-1/reply"],
                           stdout=subprocess.PIPE, text=True)
    time.sleep(2.0)
    took = []
    try:
        for i in range(count + 1):
            start = time.monotonic()
            subprocess.run(["mosquitto_pub", "-p", str(port), "-h", "127.0.0.1", "-q", "1", "-t", "zt/t/gate-1/cmd",
                            "-m", json.dumps({"id": f"m{i}", "command": "info"})], check=True)
            while json.loads(sub.stdout.readline())["id"] != f"m{i}":
                pass
            if i > 0:  # the first waits for the connection's warm-up
                took.append((time.monotonic() - start) * 1000)
    finally:
        for p in (sub, daemon, reader, broker):
            p.terminate()
            p.wait()
    took.sort()
    print(f"{count} info commands: median {took[len(took)//2]:.1f} ms, "
          f"90% {took[int(len(took)*0.9)]:.1f} ms, max {took[-1]:.1f} ms (publish included)")
