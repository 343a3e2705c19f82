#!/usr/bin/env python3
"""A local HTTP server for the download tests, run in the background by CTest.

  http_server.py start STATE_DIR ROOT   serve ROOT on 127.0.0.1 (a free port); returns once
                                        STATE_DIR/port names the port
  http_server.py stop STATE_DIR         stop it

GET /<path>                 the file ROOT/<path> (a path below ROOT), or 404
GET /slow/<ms>/<path>       the same file, its body spread over <ms> milliseconds
GET /cut/<n>/<path>         the file's full length announced, <n> bytes sent, then closed
GET /flip/<n>/<path>        the file with the byte at offset <n> changed
GET /status/<code>/<any>    an error page with that status

The server ends by itself after MAX_LIFETIME seconds, should no stop ever come.
"""
import http.server
import os
import signal
import sys
import threading
import time

MAX_LIFETIME = 900


def read_pid(state):
    try:
        with open(os.path.join(state, "pid")) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def stop(state):
    pid = read_pid(state)
    if pid:
        try:
            os.kill(pid, signal.SIGTERM)
            for _ in range(100):
                os.kill(pid, 0)
                with open("/proc/%d/stat" % pid) as f:
                    if f.read().split(")")[-1].split()[0] == "Z":
                        break
                time.sleep(0.05)
        except (ProcessLookupError, FileNotFoundError):
            pass
    for name in ("pid", "port"):
        try:
            os.remove(os.path.join(state, name))
        except FileNotFoundError:
            pass


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."

    def log_message(self, *args):
        pass

    def error_page(self, code):
        body = b"<html><body>%d</body></html>" % code
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.lstrip("/").split("/")
        route, number = "", 0
        if len(parts) >= 3 and parts[0] in ("slow", "cut", "flip", "status") \
                and parts[1].isdigit():
            route, number = parts[0], int(parts[1])
            parts = parts[2:]
        if route == "status":
            self.error_page(number)
            return
        root = os.path.realpath(self.root)
        path = os.path.realpath(os.path.join(root, *parts))
        if not path.startswith(root + os.sep) or not os.path.isfile(path):
            self.error_page(404)
            return
        with open(path, "rb") as f:
            data = bytearray(f.read())
        if route == "flip" and number < len(data):
            data[number] ^= 0x01
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        delay_ms = number if route == "slow" else 0
        try:
            if route == "cut":
                self.wfile.write(data[:number])
                self.wfile.flush()
                self.close_connection = True
                return
            if delay_ms == 0:
                self.wfile.write(data)
                return
            pieces = 20
            step = (len(data) + pieces - 1) // pieces
            for i in range(0, len(data), step):
                self.wfile.write(data[i:i + step])
                self.wfile.flush()
                time.sleep(delay_ms / 1000.0 / pieces)
        except (BrokenPipeError, ConnectionResetError):
            pass


def serve(state, root):
    Handler.root = root
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    threading.Timer(MAX_LIFETIME, lambda: os._exit(0)).start()
    with open(os.path.join(state, "pid"), "w") as f:
        f.write(str(os.getpid()))
    temp = os.path.join(state, "port.tmp")
    with open(temp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(temp, os.path.join(state, "port"))
    server.serve_forever()


def start(state, root):
    os.makedirs(state, exist_ok=True)
    stop(state)
    if os.fork() == 0:
        # Detached from the test driver: no shared streams, its own session.
        os.setsid()
        if os.fork() != 0:
            os._exit(0)
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
        try:
            serve(state, root)
        finally:
            os._exit(1)
    for _ in range(200):
        if os.path.exists(os.path.join(state, "port")):
            return 0
        time.sleep(0.05)
    print("the HTTP server did not start", file=sys.stderr)
    return 1


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "start":
        sys.exit(start(sys.argv[2], sys.argv[3]))
    if len(sys.argv) == 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
        sys.exit(0)
    print(__doc__, file=sys.stderr)
    sys.exit(2)
