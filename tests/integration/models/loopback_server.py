#!/usr/bin/env python3
"""Serves the files in argv[1] on 127.0.0.1 at a free port, printed first.

The first path segment picks the behaviour: /files/NAME (length announced),
/nolength/NAME (the body ends when the connection closes), /redirect/NAME
(302 to /files/NAME), /drop/NAME (half the body, then the connection closes),
/slow/NAME (64 KiB, then 4 KiB every 50 ms).
"""
import os
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        route, _, name = self.path.strip("/").partition("/")
        path = os.path.join(sys.argv[1], name)
        if route == "redirect":
            self.send_response(302)
            self.send_header("Location", "/files/" + name)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if "/" in name or name.startswith(".") or not os.path.isfile(path):
            return self.send_error(404)
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        if route != "nolength":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            if route == "drop":
                body = body[: len(body) // 2]
            sent = 65536 if route == "slow" else len(body)
            self.wfile.write(body[:sent])
            while sent < len(body):
                self.wfile.flush()
                time.sleep(0.05)
                self.wfile.write(body[sent : sent + 4096])
                sent += 4096
        except (BrokenPipeError, ConnectionResetError):
            pass


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
