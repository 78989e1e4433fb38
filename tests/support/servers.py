#!/usr/bin/env python3
"""Test servers on 127.0.0.1 for the integration and end-to-end tests.

    with HostileServer("drip", body=b"...") as server:   # see hostile_server.py
        ... server.port ... server.requests()
    with Nginx(root="/some/folder") as web:               # the system nginx, serving `root`
        ... web.port ...
    # Every file of `root` also under /chunked/ (nginx then answers with chunked coding), and
    # with upstream_port, /proxied/... passed on to that server on 127.0.0.1.
    with ResetServer() as reset, UploadServer() as upload:  # raw TCP, for the socket layer
        ... reset.port ... upload.port ...

Also a command line for tests written in other languages, running until terminated:

    python3 servers.py nginx --root DIR [--port P] [--upstream PORT]   # prints "listening PORT"
"""

import argparse
import hashlib
import os
import select
import signal
import socket
import socketserver
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
NGINX = "/usr/sbin/nginx"
START_TIMEOUT = 20.0
STOP_TIMEOUT = 10.0


def free_port(host="127.0.0.1"):
    """A TCP port on `host` (127.0.0.1 or ::1) that nobody listens on right now."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def _stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class HostileServer:
    """hostile_server.py in a subprocess; `.port` once entered, `.requests()` any time."""

    def __init__(self, scenario, body=b"", port=0, delay=0.05):
        self.scenario, self.body, self.port, self.delay = scenario, body, port, delay
        self._dir = None
        self._process = None

    def __enter__(self):
        self._dir = tempfile.TemporaryDirectory(prefix="hostile-")
        body_file = os.path.join(self._dir.name, "body")
        self._log = os.path.join(self._dir.name, "requests.log")
        with open(body_file, "wb") as f:
            f.write(self.body)
        self._process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "hostile_server.py"), "--scenario", self.scenario,
             "--body-file", body_file, "--port", str(self.port), "--delay", str(self.delay),
             "--log", self._log],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            self.port = _read_listening_line(self._process)
        except Exception:
            self.__exit__(None, None, None)
            raise
        return self

    def requests(self):
        """Raw request headers received so far (each through its blank line), oldest first."""
        try:
            with open(self._log, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return []
        return [part + b"\r\n\r\n" for part in data.split(b"\r\n\r\n")[:-1]]

    def __exit__(self, *exc):
        if self._process:
            _stop(self._process)
            self._process.stdout.close()
        if self._dir:
            self._dir.cleanup()
        return False


def _read_listening_line(process):
    deadline = time.monotonic() + START_TIMEOUT
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        ready, _, _ = select.select([process.stdout], [], [], max(left, 0))
        if not ready:
            raise RuntimeError("test server did not start in time")
        piece = os.read(process.stdout.fileno(), 1)
        if not piece:
            raise RuntimeError(f"test server exited with {process.wait()}")
        line += piece
    words = line.split()
    if len(words) != 2 or words[0] != b"listening":
        raise RuntimeError(f"unexpected line from test server: {line!r}")
    return int(words[1])


NGINX_CONF = """\
{user}worker_processes 1;
error_log {tmp}/error.log;
pid {tmp}/nginx.pid;
events {{ worker_connections 64; }}
http {{
    access_log {tmp}/access.log;
    client_body_temp_path {tmp}/client_body;
    proxy_temp_path {tmp}/proxy;
    fastcgi_temp_path {tmp}/fastcgi;
    uwsgi_temp_path {tmp}/uwsgi;
    scgi_temp_path {tmp}/scgi;
    sendfile on;
    default_type application/octet-stream;
    server {{
        listen {listen};
        root {root};
        # The same files with a body after them that adds nothing: nginx no longer knows the
        # length up front and answers an HTTP/1.1 client with chunked coding.
        location /chunked/ {{
            alias {root}/;
            addition_types *;
            add_after_body /nothing-after;
        }}
        location = /nothing-after {{ return 200 ""; }}
{proxy}    }}
}}
"""

NGINX_PROXY = """\
        location /proxied/ {{
            proxy_pass http://127.0.0.1:{upstream}/;
            proxy_buffering off;
        }}
"""


class Nginx:
    """The system nginx serving the folder `root` on `host` (127.0.0.1 or ::1); `.port` once
    entered."""

    def __init__(self, root, port=0, upstream_port=None, host="127.0.0.1"):
        self.root = os.path.abspath(root)
        self.host = host
        self.port = port
        self.upstream_port = upstream_port
        self._dir = None
        self._process = None

    def __enter__(self):
        self._dir = tempfile.TemporaryDirectory(prefix="nginx-")
        # A free port can be taken by someone else before nginx binds it: try a few.
        attempts = 3 if self.port == 0 else 1
        for attempt in range(attempts):
            port = self.port or free_port(self.host)
            try:
                self._start(port)
                self.port = port
                return self
            except Exception:
                self._stop_nginx()
                if attempt == attempts - 1:
                    self._dir.cleanup()
                    raise
        return self

    def _start(self, port):
        tmp = self._dir.name
        conf = os.path.join(tmp, "nginx.conf")
        user = "user root;\n" if os.geteuid() == 0 else ""
        with open(conf, "w") as f:
            proxy = NGINX_PROXY.format(upstream=self.upstream_port) if self.upstream_port else ""
            listen = f"[{self.host}]:{port}" if ":" in self.host else f"{self.host}:{port}"
            f.write(NGINX_CONF.format(user=user, tmp=tmp, listen=listen, root=self.root,
                                      proxy=proxy))
        self._process = subprocess.Popen(
            [NGINX, "-p", tmp, "-c", conf, "-e", os.path.join(tmp, "error.log"),
             "-g", "daemon off;"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            if self._process.poll() is not None:
                raise RuntimeError(f"nginx exited with {self._process.returncode}: "
                                   + self._error_log())
            try:
                with socket.create_connection((self.host, port), timeout=1.0):
                    return
            except OSError:
                if time.monotonic() > deadline:
                    raise RuntimeError("nginx did not accept connections in time: "
                                       + self._error_log())
                # Not up yet; wait on the process rather than spinning.
                try:
                    self._process.wait(0.05)
                except subprocess.TimeoutExpired:
                    pass

    def _error_log(self):
        try:
            with open(os.path.join(self._dir.name, "error.log")) as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def _stop_nginx(self):
        if self._process and self._process.poll() is None:
            # SIGQUIT: graceful stop, workers finish and the master removes its pid file.
            self._process.send_signal(signal.SIGQUIT)
            try:
                self._process.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._process = None

    def __exit__(self, *exc):
        self._stop_nginx()
        if self._dir:
            self._dir.cleanup()
        return False


def upload_pattern(size):
    """The bytes a client uploads to UploadServer: byte i is (7 i + i // 251) mod 256, built a
    run of 251 bytes (one value of i // 251) at a time."""
    sevens = bytes((7 * j) & 0xFF for j in range(512))
    plus = [bytes((v + k) & 0xFF for v in range(256)) for k in range(256)]
    out = bytearray()
    for run in range((size + 250) // 251):
        start = (251 * run) % 256
        out += sevens[start:start + 251].translate(plus[run % 256])
    return bytes(out[:size])


class _TcpServer:
    """A threading TCP server on 127.0.0.1 in this process; `.port` once entered."""

    class _Server(socketserver.ThreadingTCPServer):
        allow_reuse_address = True
        daemon_threads = True

    def __enter__(self):
        handle = self.handle
        handler = type("Handler", (socketserver.BaseRequestHandler,),
                       {"handle": lambda request: handle(request.request)})
        self._server = self._Server(("127.0.0.1", 0), handler)
        self.port = self._server.server_address[1]
        threading.Thread(target=self._server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()
        return False


class ResetServer(_TcpServer):
    """Reads a little of what the client sends, then aborts the connection (RST, not FIN)."""

    def handle(self, conn):
        conn.recv(4096)
        time.sleep(0.5)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()


class UploadServer(_TcpServer):
    """Reads "<size>\\n" and that many bytes, after a pause that lets the client's send
    buffers fill; answers "ok" when they are upload_pattern(size)."""

    def handle(self, conn):
        data = b""
        while b"\n" not in data:
            piece = conn.recv(65536)
            if not piece:
                return
            data += piece
        line, data = data.split(b"\n", 1)
        size = int(line)
        time.sleep(1.5)
        digest = hashlib.sha256(data)
        got = len(data)
        while got < size:
            piece = conn.recv(min(1 << 20, size - got))
            if not piece:
                break
            digest.update(piece)
            got += len(piece)
        ok = got == size and digest.digest() == hashlib.sha256(upload_pattern(size)).digest()
        conn.sendall(b"ok\n" if ok else f"bad: {got} bytes\n".encode())


def main():
    parser = argparse.ArgumentParser(description="Run a test server until terminated.")
    sub = parser.add_subparsers(dest="server", required=True)
    nginx = sub.add_parser("nginx", help="the system nginx serving a folder")
    nginx.add_argument("--root", required=True)
    nginx.add_argument("--port", type=int, default=0)
    nginx.add_argument("--upstream", type=int, help="port of a server to pass /proxied/ on to")
    args = parser.parse_args()

    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    signal.signal(signal.SIGINT, lambda *_: stop.append(True))
    with Nginx(args.root, args.port, args.upstream) as web:
        print(f"listening {web.port}", flush=True)
        while not stop:
            signal.pause()


if __name__ == "__main__":
    main()
