#!/usr/bin/env python3
"""Start-up benchmark of the Windows build under Wine: how soon gorlaunch.exe is seen.

Starts gorlaunch.exe on the straight-on road (a folder holding it and a stand-in gorupd.exe)
and bare_window.exe, a program that only registers a class and shows a window, alternately,
and times each from the moment the process is started to the moment X maps its window
(watched as X events, not polled). Prints both medians and their difference; asserts nothing.
Needs the win32 preset built; runs on its own Xvfb display and Wine prefix:

    GOR_BENCH_DISPLAY=:55 bench/startup.py [--runs 10] [--build build/win32]
"""

import argparse
import ctypes
import os
import select
import shutil
import statistics
import subprocess
import sys
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The display, the prefix and the Wine environment: the same helper the tests use.
WINE_FIXTURE = os.path.join(SOURCE, "scripts", "wine_fixture.sh")
LAUNCHER_TITLE = "Gorvik Online Launcher"
BARE_TITLE = "Bare Window"
WINDOW_DEADLINE = 30  # seconds; a loaded 2-core machine can take a few
RUN_DEADLINE = 60


class MapWatcher:
    """Tells when a top-level window with a given title is mapped on the display."""

    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
    MAP_NOTIFY = 19

    class MapEvent(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                    ("override_redirect", ctypes.c_int)]

    class Event(ctypes.Union):
        _fields_ = [("type", ctypes.c_int), ("pad", ctypes.c_long * 24)]

    def __init__(self, display):
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                 ctypes.POINTER(ctypes.c_char_p)]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x = x
        self.display = x.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError(f"cannot open display {display}")
        x.XSelectInput(self.display, x.XDefaultRootWindow(self.display),
                       self.SUBSTRUCTURE_NOTIFY_MASK)
        x.XSync(self.display, 0)
        self.fd = x.XConnectionNumber(self.display)

    def drain(self):
        """Forgets the maps that happened so far."""
        event = self.Event()
        self.x.XSync(self.display, 0)
        while self.x.XPending(self.display):
            self.x.XNextEvent(self.display, ctypes.byref(event))

    def title(self, window):
        name = ctypes.c_char_p()
        if not self.x.XFetchName(self.display, window, ctypes.byref(name)) or not name.value:
            return None
        return name.value.decode("utf-8", "replace")

    def wait_for(self, title, deadline):
        """The monotonic time a window titled `title` was mapped, or None at the deadline."""
        event = self.Event()
        while True:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, ctypes.byref(event))
                seen = time.monotonic()
                if event.type == self.MAP_NOTIFY:
                    mapped = ctypes.cast(ctypes.byref(event),
                                         ctypes.POINTER(self.MapEvent)).contents
                    if self.title(mapped.window) == title:
                        return seen
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            select.select([self.fd], [], [], left)


def wait_until(check, timeout):
    deadline = time.monotonic() + timeout
    while not check():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def fixture(env, *command):
    return subprocess.run(["bash", WINE_FIXTURE, *command], env=env, check=True,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=10, help="starts of each program")
    parser.add_argument("--build", default=os.path.join(SOURCE, "build", "win32"))
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    launcher = os.path.join(build, "src", "app", "gorlaunch.exe")
    standin = os.path.join(build, "tools", "standin", "gorupd_standin.exe")
    bare = os.path.join(build, "bench", "bare_window.exe")
    for path in (launcher, standin, bare):
        if not os.path.isfile(path):
            sys.exit(f"missing {path}: build the win32 preset first")

    work = os.path.join(SOURCE, "build", "bench-startup")
    os.makedirs(work, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "wineprefix"), GOR_WINE_STATE=work,
               DISPLAY=os.environ.get("GOR_BENCH_DISPLAY", ":95"))

    started = []  # what to end on the way out, last first
    try:
        fixture(env, "setup")
        env.update(line.split("=", 1) for line in fixture(env, "env").splitlines())
        # One wineserver for all runs, so no start pays for bringing it up.
        server = subprocess.Popen(["wineserver", "-f", "-p"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(server)

        # The straight-on road: the launcher and an updater in one folder.
        road = os.path.join(work, "run")
        shutil.rmtree(road, ignore_errors=True)
        os.makedirs(road)
        shutil.copy(launcher, os.path.join(road, "gorlaunch.exe"))
        shutil.copy(standin, os.path.join(road, "gorupd.exe"))
        shutil.copy(bare, os.path.join(road, "bare_window.exe"))
        standin_log = os.path.join(road, "standin.log")

        watcher = MapWatcher(env["DISPLAY"])

        def start(exe, title):
            """Seconds from starting `exe` to its window being mapped."""
            if os.path.exists(standin_log):
                os.remove(standin_log)
            watcher.drain()
            begin = time.monotonic()
            process = subprocess.Popen(["wine", exe], cwd=road, env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            mapped = watcher.wait_for(title, begin + WINDOW_DEADLINE)
            process.wait(timeout=RUN_DEADLINE)
            if exe == "gorlaunch.exe" and not wait_until(
                    lambda: os.path.exists(standin_log), RUN_DEADLINE):
                sys.exit("the launcher did not start the updater")
            if mapped is None:
                sys.exit(f"{exe}: no window titled {title!r} within {WINDOW_DEADLINE} s")
            return mapped - begin

        programs = [("bare_window.exe", BARE_TITLE), ("gorlaunch.exe", LAUNCHER_TITLE)]
        for exe, title in programs:  # a first start of each fills the caches; not counted
            start(exe, title)
        times = {exe: [] for exe, _ in programs}
        for run in range(args.runs):
            # Alternate which one goes first, so neither always follows the other.
            for exe, title in (programs if run % 2 == 0 else programs[::-1]):
                times[exe].append(start(exe, title))

        bare_ms = statistics.median(times["bare_window.exe"]) * 1000
        launcher_ms = statistics.median(times["gorlaunch.exe"]) * 1000
        wine = subprocess.run(["wine", "--version"], env=env, capture_output=True,
                              text=True).stdout.strip()
        print(f"start-up under {wine}, {args.runs} starts each, process start to window mapped:")
        for exe, _ in programs:
            each = " ".join(f"{t * 1000:.0f}" for t in times[exe])
            print(f"  {exe:<16} median {statistics.median(times[exe]) * 1000:6.0f} ms, "
                  f"fastest {min(times[exe]) * 1000:4.0f} ms   ({each})")
        print(f"  difference       {launcher_ms - bare_ms:+6.0f} ms (gorlaunch - bare)")
        return 0
    finally:
        for process in reversed(started):
            process.terminate()
            process.wait(timeout=30)
        fixture(env, "cleanup")


if __name__ == "__main__":
    sys.exit(main())
