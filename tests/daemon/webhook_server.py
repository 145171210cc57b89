#!/usr/bin/env python3
"""A receiver of webhook bodies on 127.0.0.1 for the daemon's tests and benchmarks: HTTPS, or plain
HTTP when CERT and KEY are both "-".

It answers the requests in turn by a script, then 200 to everything after it:
  200      accepted
  500      a server error
  429:N    too many requests, with Retry-After: N
  hang     no answer for longer than the daemon waits, then the connection closed
  close    the connection closed without an answer
Each request is written as a JSON line (its action, path, headers and body) to the log before it is
answered, and the port it listens on to the port file once it listens. With BODIES, every body it
accepts (200) is also written there, one JSON text a line, as `zendrik listen --webhook-file` reads
them.

Usage: webhook_server.py PORT_FILE CERT KEY LOG SCRIPT [BODIES] (actions separated by commas)
"""
import http.server
import json
import os
import ssl
import sys
import threading
import time

HANG_SECONDS = 3


class Receiver(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    lock = threading.Lock()
    script = []
    log_path = ""
    bodies_path = ""

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8")
        with Receiver.lock:
            action = Receiver.script.pop(0) if Receiver.script else "200"
            with open(Receiver.log_path, "a", encoding="utf-8") as log:
                log.write(json.dumps({"action": action, "path": self.path,
                                      "headers": {k.lower(): v for k, v in self.headers.items()},
                                      "body": body}) + "\n")
            if action == "200" and Receiver.bodies_path:
                with open(Receiver.bodies_path, "a", encoding="utf-8") as bodies:
                    bodies.write(one_line(body) + "\n")
        if action == "hang":
            time.sleep(HANG_SECONDS)
            self.close_connection = True
            return
        if action == "close":
            self.close_connection = True
            return
        # Every connection carries one request, so that a "close" meets a fresh connection (curl
        # sends a request again by itself when a connection it reused turns out closed).
        self.close_connection = True
        status, _, retry_after = action.partition(":")
        self.send_response(int(status))
        self.send_header("Connection", "close")
        if retry_after:
            self.send_header("Retry-After", retry_after)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


def one_line(body):
    """The body as one line: compact JSON again, or as it came with its line ends made spaces (the
    checker then names the line that is not JSON)."""
    try:
        return json.dumps(json.loads(body), separators=(",", ":"))
    except ValueError:
        return body.replace("\r", " ").replace("\n", " ")


def main():
    port_file, cert, key, log_path, script = sys.argv[1:6]
    Receiver.script = [action for action in script.split(",") if action]
    Receiver.log_path = log_path
    Receiver.bodies_path = sys.argv[6] if len(sys.argv) > 6 else ""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Receiver)
    server.daemon_threads = True
    if (cert, key) != ("-", "-"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(port_file + ".part", "w", encoding="utf-8") as out:
        out.write(str(server.server_address[1]))
    os.rename(port_file + ".part", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
