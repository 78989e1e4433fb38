#!/usr/bin/env python3
"""An HTTP/1.1 test server on 127.0.0.1 that answers every request the way a scenario says:
correctly, slowly, in pieces, cut short, reset, with a lying or missing length, with an
error status, or not at all. Used by the native integration tests and the end-to-end tests.

    python3 hostile_server.py --scenario NAME --body-file F --port P [--delay S] [--log FILE]

Prints "listening PORT" once it accepts connections (P=0 picks a free port) and serves until
killed. Every complete request header received is appended, raw, to --log.
"""

import argparse
import itertools
import re
import socket
import struct
import sys
import threading
import time

SCENARIOS = (
    "ok", "split-header", "drip", "cut-body", "reset", "no-length", "garbled-length",
    "status-204", "status-302", "status-401", "status-404", "status-407", "status-500",
    "close-before-answer", "huge-header",
    # the launcher's watchdog: the body stops halfway and the connection stays open, or
    # trickles on a byte every --delay seconds
    "stall", "trickle",
    # chunked transfer coding: whole (with a lying Content-Length beside it), or cut before
    # its last chunk
    "chunked", "chunked-cut",
    # answers that lie about their body
    "stray-bytes", "length-in-download-only", "two-lengths", "wrong-range",
    "close-in-header", "endless",
    # what the launcher must not install: an error page served with 200, a body without a
    # length cut short by the close
    "html-page", "no-length-cut",
    # a link that drops once: the first whole-body answer is cut at half, then every range is
    # served, of one file (one ETag), as nginx and CDNs serve them
    "cut-once",
    # cut-once whose ranges come from another file of the same length with the same ETag
    # (which agrees with the first only at the last byte held)
    "splice",
    # a cut at 90 % of the first body, which names no validator; then the body dripped
    "cut-late-slow",
    # a busy host: 503 with Retry-After 2 s to the first two requests, or 3600 s to all
    "busy-twice", "busy-always",
)

REASONS = {204: "No Content", 302: "Found", 401: "Unauthorized", 404: "Not Found",
           407: "Proxy Authentication Required", 500: "Internal Server Error"}

MAX_REQUEST_HEADER = 64 * 1024
DRIP_PIECE = 512
SPLIT_PIECE = 7
SPLIT_PAUSE = 0.02
HUGE_HEADER_BYTES = 80 * 1024
HOLD_SECONDS = 30.0
STALL_SECONDS = 180.0  # longer than the launcher's 60-second watchdog, with room to spare
# Chunk sizes taken in turn: tiny, odd, larger than a socket read, in both letter cases.
CHUNK_SIZES = (1, 0x1F3, 7, 0x2000, 0xABC, 3, 0x10001)
CHUNK_PIECE = 1000  # sent in pieces of this size, so chunk framing falls anywhere
STRAY_BYTES = b"<stray bytes after the announced length>"
WRONG_RANGE_START = 100
ENDLESS_BLOCK = 64 * 1024

HTML_PAGE = ("<!DOCTYPE html>\n<html><head><title>Maintenance</title></head>\n"
             "<body><h1>We'll be back soon</h1><p>The update service is down for "
             "maintenance.</p></body></html>\n")

log_lock = threading.Lock()
cut_done = threading.Event()
busy_answers = itertools.count()


def read_request(conn):
    """Reads one request header (through its blank line); None when the peer gave up."""
    data = b""
    while b"\r\n\r\n" not in data:
        if len(data) > MAX_REQUEST_HEADER:
            return None
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
    return data[: data.index(b"\r\n\r\n") + 4]


def requested_start(request):
    """N of a "Range: bytes=N-" line, or None."""
    match = re.search(rb"(?im)^range:\s*bytes=(\d+)-\s*$", request)
    return int(match.group(1)) if match else None


def full_answer(body, request):
    """Status, header lines and body of a correct answer: 206 for a satisfiable range."""
    start = requested_start(request)
    if start is None:
        return "200 OK", [f"Content-Length: {len(body)}"], body
    if start >= len(body):
        return ("416 Range Not Satisfiable", [f"Content-Range: bytes */{len(body)}",
                                               "Content-Length: 0"], b"")
    rest = body[start:]
    return ("206 Partial Content",
            [f"Content-Range: bytes {start}-{len(body) - 1}/{len(body)}",
             f"Content-Length: {len(rest)}"], rest)


def header_bytes(status, lines):
    text = f"HTTP/1.1 {status}\r\n"
    text += "".join(line + "\r\n" for line in lines + ["Connection: close"])
    return (text + "\r\n").encode("latin-1")


def hold(conn, seconds):
    """Keeps the connection open, sending nothing, until the client closes it or `seconds`
    passed."""
    conn.settimeout(seconds)
    try:
        while conn.recv(4096):
            pass
    except socket.timeout:
        pass


def chunked(body):
    """`body` in the chunked transfer coding, with extensions, mixed-case hex and a trailer."""
    out, at, n = [], 0, 0
    while at < len(body):
        size = min(CHUNK_SIZES[n % len(CHUNK_SIZES)], len(body) - at)
        line = f"{size:X}" if n % 2 else f"{size:x}"
        if n % 3 == 0:
            line += f';piece={n};note="a;b"'
        out.append(line.encode() + b"\r\n" + body[at:at + size] + b"\r\n")
        at, n = at + size, n + 1
    out.append(b"0;end\r\nX-Checksum: none\r\nExpires: 0\r\n\r\n")
    return b"".join(out)


def send_in_pieces(conn, data, piece):
    for i in range(0, len(data), piece):
        conn.sendall(data[i:i + piece])


def answer(conn, scenario, body, request, delay):
    if scenario == "close-before-answer":
        return
    if scenario.startswith("status-"):
        code = int(scenario[len("status-"):])
        text = f"{code} {REASONS[code]}"
        short = b"" if code == 204 else f"<html>{text}</html>\n".encode()
        extra = ["Location: http://127.0.0.1/elsewhere"] if code == 302 else []
        conn.sendall(header_bytes(text, extra + [f"Content-Length: {len(short)}"]) + short)
        return
    if scenario == "huge-header":
        conn.sendall(b"HTTP/1.1 200 OK\r\n")
        sent, n = 0, 0
        while sent < HUGE_HEADER_BYTES:
            line = f"X-Filler-{n}: {'a' * 1000}\r\n".encode()
            conn.sendall(line)
            sent, n = sent + len(line), n + 1
        # Never the blank line: hold the connection until the client gives up.
        hold(conn, HOLD_SECONDS)
        return
    if scenario == "no-length":
        conn.sendall(header_bytes("200 OK", []) + body)
        return
    if scenario == "no-length-cut":
        conn.sendall(header_bytes("200 OK", []) + body[: len(body) // 2])
        return
    if scenario == "html-page":
        page = HTML_PAGE.encode()
        conn.sendall(header_bytes("200 OK", ["Content-Type: text/html",
                                             f"Content-Length: {len(page)}"]) + page)
        return
    if scenario == "garbled-length":
        conn.sendall(header_bytes("200 OK", ["Content-Length: abc"]) + body)
        return
    if scenario in ("chunked", "chunked-cut"):
        coded = chunked(body)
        if scenario == "chunked-cut":
            coded = coded[: len(coded) // 2]
        conn.sendall(header_bytes("200 OK", ["Transfer-Encoding: chunked",
                                             f"Content-Length: {len(body) // 3}"]))
        send_in_pieces(conn, coded, CHUNK_PIECE)
        time.sleep(0.1)  # let the rest arrive before the close
        return
    if scenario == "close-in-header":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Len")
        time.sleep(0.1)
        return
    if scenario == "endless":
        # No length, and a body that never ends: sent until the client hangs up.
        conn.sendall(header_bytes("200 OK", []))
        block = (body or b"x") * (ENDLESS_BLOCK // max(len(body), 1) + 1)
        while True:
            conn.sendall(block[:ENDLESS_BLOCK])
    if scenario == "length-in-download-only":
        # The probe hears of no length; the download answer announces one and is cut.
        if requested_start(request) is not None:
            conn.sendall(header_bytes("200 OK", []) + body)
        else:
            conn.sendall(header_bytes("200 OK", [f"Content-Length: {len(body)}"])
                         + body[: len(body) // 2])
            time.sleep(0.1)
        return
    if scenario == "two-lengths":
        conn.sendall(header_bytes("200 OK", [f"Content-Length: {len(body) // 2}",
                                             f"Content-Length: {len(body)}"]) + body)
        return
    if scenario == "wrong-range":
        # Always a piece from the wrong place, whatever was asked.
        rest = body[WRONG_RANGE_START:]
        conn.sendall(header_bytes("206 Partial Content", [
            f"Content-Range: bytes {WRONG_RANGE_START}-{len(body) - 1}/{len(body)}",
            f"Content-Length: {len(rest)}"]) + rest)
        return

    if scenario.startswith("busy-") and (scenario == "busy-always" or next(busy_answers) < 2):
        wait = 3600 if scenario == "busy-always" else 2
        conn.sendall(header_bytes("503 Service Unavailable", [f"Retry-After: {wait}"]))
        return
    if scenario == "splice" and requested_start(request):
        body = bytes(b ^ 0x5A * (i != len(body) // 2 - 1) for i, b in enumerate(body))
    status, lines, payload = full_answer(body, request)
    if scenario == "cut-late-slow" and requested_start(request) is None and not cut_done.is_set():
        cut_done.set()
        conn.sendall(header_bytes(status, lines) + payload[: len(payload) * 9 // 10])
        time.sleep(0.1)
        return
    scenario = {"splice": "cut-once", "cut-late-slow": "drip"}.get(scenario, scenario)
    scenario = "ok" if scenario.startswith("busy-") else scenario
    if scenario == "cut-once":
        head = header_bytes(status, lines + ['ETag: "gorupd-1"'])
        if requested_start(request) is None and not cut_done.is_set():
            cut_done.set()
            payload = payload[: len(payload) // 2]
        conn.sendall(head + payload)
        time.sleep(0.1)  # let the half arrive before the close
        return
    head = header_bytes(status, lines)
    if scenario == "ok":
        conn.sendall(head + payload)
    elif scenario == "split-header":
        for i in range(0, len(head), SPLIT_PIECE):
            conn.sendall(head[i:i + SPLIT_PIECE])
            time.sleep(SPLIT_PAUSE)
        conn.sendall(payload)
    elif scenario == "drip":
        conn.sendall(head)
        for i in range(0, len(payload), DRIP_PIECE):
            time.sleep(delay)
            conn.sendall(payload[i:i + DRIP_PIECE])
    elif scenario == "cut-body":
        conn.sendall(head + payload[: len(payload) // 2])
        time.sleep(0.1)  # let the half arrive before the close
    elif scenario == "stall":
        conn.sendall(head + payload[: len(payload) // 2])
        hold(conn, STALL_SECONDS)
    elif scenario == "trickle":
        conn.sendall(head)
        for i in range(len(payload)):
            time.sleep(delay)
            conn.sendall(payload[i:i + 1])
    elif scenario == "stray-bytes":
        conn.sendall(head + payload + STRAY_BYTES)
        time.sleep(0.1)
    elif scenario == "reset":
        conn.sendall(head + payload[: len(payload) // 2])
        time.sleep(0.2)  # the half reaches the client; then the reset, not a close
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def serve(conn, scenario, body, delay, log_path):
    with conn:
        try:
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            request = read_request(conn)
            if request is None:
                return
            if log_path:
                with log_lock, open(log_path, "ab") as log:
                    log.write(request)
            answer(conn, scenario, body, request, delay)
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError):
            # The probe reads one chunk and hangs up: expected, not worth a word.
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scenario", required=True, choices=SCENARIOS)
    parser.add_argument("--body-file", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--delay", type=float, default=0.05)
    parser.add_argument("--log")
    args = parser.parse_args()

    with open(args.body_file, "rb") as f:
        body = f.read()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    print(f"listening {listener.getsockname()[1]}", flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args.scenario, body, args.delay, args.log),
                         daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
