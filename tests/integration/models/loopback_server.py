#!/usr/bin/env python3
"""A loopback HTTP server for the model download tests.

Usage: loopback_server.py FOLDER
Serves the files in FOLDER on 127.0.0.1 at a free port, which it prints on the
first line of standard output. The first path segment picks the behaviour:
  /files/NAME     the file, with its length announced
  /nolength/NAME  the file, no length announced (the body ends when the connection closes)
  /redirect/NAME  302 to /files/NAME
  /drop/NAME      announces the full length, sends half, then closes the connection
  /slow/NAME      announces the full length, sends 64 KiB, then 4 KiB every 50 ms
"""
import os
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FOLDER = sys.argv[1]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        parts = self.path.strip("/").split("/", 1)
        if len(parts) != 2 or "/" in parts[1] or parts[1].startswith("."):
            return self.send_error(404)
        route, name = parts
        path = os.path.join(FOLDER, name)
        if route == "redirect":
            self.send_response(302)
            self.send_header("Location", "/files/" + name)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if not os.path.isfile(path):
            return self.send_error(404)
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if route != "nolength":
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            if route in ("files", "nolength"):
                self.wfile.write(body)
            elif route == "drop":
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.close_connection = True
            elif route == "slow":
                self.wfile.write(body[:65536])
                sent = 65536
                while sent < len(body):
                    self.wfile.flush()
                    time.sleep(0.05)
                    self.wfile.write(body[sent : sent + 4096])
                    sent += 4096
            else:
                self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
