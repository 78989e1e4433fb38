#!/usr/bin/env python3
"""Runs winsock_check.exe under Wine against servers on 127.0.0.1 and checks what it got.

Usage: test_winsock.py --exe build/.../winsock_check.exe [--wine wine]
Runs through scripts/wine_fixture.sh (ctest's "wine" fixture), like every test under
Wine; the servers are those of tests/support/servers.py. The name
lookup cases run in network and mount namespaces of their own (unshare -m -n) whose
/etc/resolv.conf names a small name server on 127.0.0.1 started by this script and whose
/etc/hosts gives names loopback addresses (IPv6 and IPv4, or IPv6 only), so no query ever
leaves the machine; where namespaces cannot be made those cases are skipped.
"""
import argparse
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.dirname(HERE), os.path.join(os.path.dirname(os.path.dirname(HERE)),
                                                     "support")]
from harness import wine_env  # noqa: E402  (the end-to-end tests' shared helpers)
from servers import Nginx, ResetServer, UploadServer  # noqa: E402

BODY_SIZE = 3 * 1024 * 1024 + 17  # several receive buffers' worth, odd on purpose
UPLOAD_SIZE = 24 * 1024 * 1024    # well past what the stacks buffer while nobody reads
RUN_TIMEOUT = 300


# Names the private name server knows: (seconds before answering, address or None).
SLOW_NAMES = {b"slow-loopback.invalid": (1.0, "127.0.0.1")}
# Names with several addresses (::1, then 127.0.0.1), and a name the IPv6-only server serves.
HOSTS = os.path.join(os.path.dirname(os.path.dirname(HERE)), "support", "loopback_hosts")
ISOLATED = "isolated: private network and name server"


def dns_answer(query):
    """The answer to one DNS query, after the name's delay: its A record when it has an
    address (no records for other types), NXDOMAIN when it has none or is unknown."""
    labels, at = [], 12
    while query[at]:
        labels.append(query[at + 1:at + 1 + query[at]])
        at += 1 + query[at]
    question_end = at + 5
    qtype = struct.unpack(">H", query[at + 1:at + 3])[0]
    delay, address = SLOW_NAMES.get(b".".join(labels).lower(), (0, None))
    time.sleep(delay)
    header = query[:2] + (b"\x81\x80" if address else b"\x81\x83") + b"\x00\x01"
    if address and qtype == 1:
        record = b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(address)
        return header + b"\x00\x01\x00\x00\x00\x00" + query[12:question_end] + record
    return header + b"\x00\x00\x00\x00\x00\x00" + query[12:question_end]


def serve_dns():
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))

    def loop():
        while True:
            query, client = server.recvfrom(512)
            answer = lambda q=query, c=client: server.sendto(dns_answer(q), c)
            threading.Thread(target=answer, daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()


def run_lookups(args, env):
    """Inside `unshare -m -n`: loopback up, our resolv.conf, our name server, then the cases."""
    try:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True, stderr=subprocess.DEVNULL)
        conf = tempfile.NamedTemporaryFile("w", suffix=".conf", delete=False)
        conf.write("nameserver 127.0.0.1\noptions attempts:1 timeout:10\n")
        conf.close()
        for source, target in ((conf.name, "/etc/resolv.conf"), (HOSTS, "/etc/hosts")):
            subprocess.run(["mount", "--bind", source, target], check=True,
                           stderr=subprocess.DEVNULL)
        serve_dns()
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"cannot isolate the lookups: {error}")
        return 0
    print(ISOLATED, flush=True)
    # The cases come from outside with their ports: Wine's sockets live in the wineserver's
    # namespace.
    run = subprocess.run([args.wine, args.exe] + args.lookups, env=env, capture_output=True,
                         text=True, timeout=RUN_TIMEOUT)
    print(run.stdout, end="", flush=True)
    return run.returncode


def unanswering(port):
    """A listener on ::1 at `port` whose backlog is full: a connection attempt there is never
    answered, like a host that drops what it is sent."""
    listener = socket.socket(socket.AF_INET6)
    listener.bind(("::1", port))
    listener.listen(0)
    fillers = [socket.socket(socket.AF_INET6) for _ in range(2)]
    for filler in fillers:
        filler.setblocking(False)
        filler.connect_ex(("::1", port))
    return [listener] + fillers


def lookups_in_namespaces(args, env, cases):
    tool = shutil.which("unshare")
    if not tool:
        return None
    run = subprocess.run([tool, "-m", "-n", sys.executable, os.path.abspath(__file__),
                          "--exe", args.exe, "--wine", args.wine, "--lookups"] + cases,
                         env=env, capture_output=True, text=True, timeout=RUN_TIMEOUT)
    # Once isolated, whatever the cases print (or fail to print) counts.
    return run.stdout if ISOLATED in run.stdout else None


def parse_results(text):
    """Each case's verdict from GoogleTest's lines "[       OK ] WinsockControl.<name> (...)"
    and "[  FAILED  ] WinsockControl.<name> (...)"; what a failure saw is printed above it."""
    results = {}
    for line in text.splitlines():
        found = re.match(r"\[\s*(OK|FAILED)\s*\] WinsockControl\.(\S+)", line)
        if found:
            passed = found.group(1) == "OK"
            results[found.group(2)] = (passed, "" if passed else "see its output above")
    return results


def http_body(raw):
    head, sep, body = raw.partition(b"\r\n\r\n")
    return head, body if sep else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--lookups", nargs=argparse.REMAINDER, help=argparse.SUPPRESS)
    args = parser.parse_args()
    env = wine_env()
    if args.lookups:
        return run_lookups(args, env)

    work = tempfile.mkdtemp(prefix="winsock-check-")
    body = os.urandom(BODY_SIZE)
    with open(os.path.join(work, "body.bin"), "wb") as f:
        f.write(body)
    # files_slow is served on 127.0.0.1, raced beside a ::1 that swallows the attempt.
    with Nginx(root=work) as files, Nginx(root=work, host="::1") as files6, \
            Nginx(root=work) as files_slow, ResetServer() as reset, UploadServer() as upload:
        silent = unanswering(files_slow.port)
        try:
            return run_cases(args, env, work, body, files, files6, files_slow, reset, upload)
        finally:
            for held in silent:
                held.close()


def run_cases(args, env, work, body, files, files6, files_slow, reset, upload):
    # Bound but not listening: connecting to it is refused, and no one else can take the port.
    refusing = socket.socket()
    refusing.bind(("127.0.0.1", 0))
    http_port = str(files.port)

    # Relative names: the program runs in `work`.
    outputs = {name: name + ".out"
               for name in ("dotted", "named", "reconnect", "trickle", "download")}
    refused_port = str(refusing.getsockname()[1])
    command = [args.wine, args.exe,
               "idle", "badport",
               "fetch", "127.0.0.1", http_port, outputs["dotted"],
               "fetch", "localhost", http_port, outputs["named"],
               "reconnect", http_port, outputs["reconnect"],
               "trickle", http_port, outputs["trickle"],
               "refused", refused_port,
               "download", f"127.0.0.1:{http_port}/body.bin", outputs["download"],
               "download-refused", f"127.0.0.1:{refused_port}/body.bin",
               "reset", str(reset.port), str(UPLOAD_SIZE),
               "upload", str(upload.port), str(UPLOAD_SIZE),
               "hold"]
    expected = ["idle", "badport-text", "badport-zero", "badport-range", "empty-host",
                "fetch-127.0.0.1", "fetch-localhost", "reconnect", "trickle", "refused",
                "download", "download-refused", "reset", "upload"]

    # The main run stays alive ("hold") until the lookup cases are done: Wine creates sockets
    # in the wineserver, which must therefore be one started outside the private namespaces.
    main_run = subprocess.Popen(command, env=env, cwd=work, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = []
    deadline = time.monotonic() + RUN_TIMEOUT
    for line in main_run.stdout:
        lines.append(line.rstrip("\n"))
        print(lines[-1], flush=True)
        if line.startswith("HOLD") or time.monotonic() > deadline:
            break

    named = {name: os.path.join(work, name + ".out")
             for name in ("both", "slow-first", "ipv6-only")}
    lookup_text = lookups_in_namespaces(args, env, [
        "unresolvable", "no-such-host.invalid", "lookup-cancel", "slow-loopback.invalid",
        refused_port, "fetch", "both.invalid", http_port, named["both"],
        "fetch", "slow-first.invalid", str(files_slow.port), named["slow-first"],
        "fetch6", "ipv6-only.invalid", str(files6.port), named["ipv6-only"]])
    if lookup_text is None:
        print("SKIP unresolvable, lookup-cancel, addresses: no private namespaces here",
              flush=True)
        lookup_text = ""
    else:
        print(lookup_text, end="", flush=True)
        expected += ["unresolvable", "lookup-cancel", "fetch-both.invalid",
                     "fetch-slow-first.invalid", "fetch-ipv6-only.invalid"]
        outputs.update(named)

    try:
        rest, errors = main_run.communicate(input="", timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        main_run.kill()
        rest, errors = main_run.communicate()
    print(rest, end="", flush=True)
    results = parse_results("\n".join(lines) + "\n" + rest + "\n" + lookup_text)

    checks = []  # (what, passed, detail)
    for name in expected:
        passed, detail = results.get(name, (False, "no result"))
        checks.append((name, passed, detail))

    # What the client received must be the server's answer byte for byte.
    for name in outputs:
        path = os.path.join(work, outputs[name])
        raw = open(path, "rb").read() if os.path.exists(path) else b""
        head, received = (b"HTTP/1.1 200", raw) if name == "download" else http_body(raw)
        same = head.startswith(b"HTTP/1.1 200") and received == body
        got = "no header end" if received is None else f"{len(received)} body bytes"
        checks.append((f"{name}-bytes", same, f"{got}, {len(raw)} in all"))

    unexplained = main_run.returncode != 0 and all(passed for _, passed, _ in checks)
    checks.append(("exit", not unexplained, f"code {main_run.returncode}: {errors[-2000:]}"))

    refusing.close()
    shutil.rmtree(work, ignore_errors=True)

    failed = [(name, detail) for name, passed, detail in checks if not passed]
    for name, detail in failed:
        print(f"FAILED {name}: {detail}")
    print(f"winsock: {len(checks) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
