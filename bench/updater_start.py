#!/usr/bin/env python3
"""Updater start benchmark under Wine: how long after the one-second pause gorupd.exe starts.

Runs gorlaunch.exe and the pinned gorlaunch_pinned.exe on the straight-on road (each in a folder
with the stand-in updater signed by the test publisher), alternately, and reads each start's
gorlaunch.log: the stamp of "started gorupd.exe" (seconds since the log was opened) less the
pause the sequence makes before the start ("Initializing", 1 s). The publisher check is the
only difference between the two. Prints both medians and their difference; asserts nothing.
Needs the win32 preset built (with its test publisher) and osslsigncode:

    GOR_BENCH_DISPLAY=:56 bench/updater_start.py [--runs 10] [--build build/win32]
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_FIXTURE = os.path.join(SOURCE, "scripts", "wine_fixture.sh")
PAUSE = 1.0  # the pause before the start, seconds
RUN_DEADLINE = 60
STARTED = re.compile(r"^\[\s*([0-9.]+)\] started gorupd\.exe\r?$", re.M)


def fixture(env, *command):
    return subprocess.run(["bash", WINE_FIXTURE, *command], env=env, check=True,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout


def signed(path, publisher):
    """The program at `path` signed (Authenticode, SHA-256) with the test publisher's key."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "signed.exe")
        subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(publisher, "cert.pem"),
                        "-key", os.path.join(publisher, "key.pem"), "-h", "sha256",
                        "-in", path, "-out", out], check=True, capture_output=True)
        with open(out, "rb") as f:
            return f.read()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=10, help="starts of each launcher")
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "win32"))
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    launchers = {
        "unpinned": os.path.join(build, "src", "app", "gorlaunch.exe"),
        "pinned": os.path.join(build, "tests", "e2e", "gorlaunch_pinned.exe"),
    }
    standin = os.path.join(build, "tools", "standin", "gorupd_standin.exe")
    publisher = os.path.join(build, "test-publisher")
    for path in (*launchers.values(), standin, os.path.join(publisher, "key.pem")):
        if not os.path.isfile(path):
            sys.exit(f"missing {path}: build the win32 preset first")

    work = os.path.join(SOURCE, "build", "bench-updater-start")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "wineprefix"), GOR_WINE_STATE=work,
               DISPLAY=os.environ.get("GOR_BENCH_DISPLAY", ":96"))
    updater = signed(standin, publisher)

    server = None
    try:
        fixture(env, "setup")
        env.update(line.split("=", 1) for line in fixture(env, "env").splitlines())
        # One wineserver for all runs, so no start pays for bringing it up.
        server = subprocess.Popen(["wineserver", "-f", "-p"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        folders = {}
        for name, exe in launchers.items():
            folders[name] = os.path.join(work, name)
            shutil.rmtree(folders[name], ignore_errors=True)
            os.makedirs(folders[name])
            shutil.copy(exe, os.path.join(folders[name], "gorlaunch.exe"))
            with open(os.path.join(folders[name], "gorupd.exe"), "wb") as f:
                f.write(updater)

        def start(name):
            """Seconds from the end of the pause to the updater's start, by the log."""
            subprocess.run(["wine", "gorlaunch.exe"], cwd=folders[name], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=RUN_DEADLINE)
            with open(os.path.join(folders[name], "gorlaunch.log"), encoding="utf-8") as f:
                found = STARTED.search(f.read())
            if not found:
                sys.exit(f"{name}: the launcher did not start the updater (see its log)")
            return float(found.group(1)) - PAUSE

        for name in launchers:  # a first start of each fills the caches; not counted
            start(name)
        times = {name: [] for name in launchers}
        order = list(launchers)
        for run in range(args.runs):
            for name in (order if run % 2 == 0 else order[::-1]):
                times[name].append(start(name))

        wine = subprocess.run(["wine", "--version"], env=env, capture_output=True,
                              text=True).stdout.strip()
        print(f"updater start under {wine}, {args.runs} starts each, straight-on road, "
              f"log stamp of the start less the {PAUSE:g} s pause:")
        for name in launchers:
            each = " ".join(f"{t * 1000:.0f}" for t in times[name])
            print(f"  {name:<9} median {statistics.median(times[name]) * 1000:5.0f} ms, "
                  f"slowest {max(times[name]) * 1000:5.0f} ms   ({each})")
        difference = statistics.median(times["pinned"]) - statistics.median(times["unpinned"])
        print(f"  difference {difference * 1000:+5.0f} ms (pinned - unpinned)")
        return 0
    finally:
        if server:
            server.terminate()
            server.wait(timeout=30)
        fixture(env, "cleanup")


if __name__ == "__main__":
    sys.exit(main())
