"""The launcher on a desktop where other programs are at work, under Wine: a file held for a
few seconds the way a scanner or a sync client holds it (gorupd.exe or gorupd.new opened
without delete sharing, gorupd.exe opened for writing) only delays the updater's start, and a
second start in the same folder leaves everything to the first. Every start is made from
another working folder; the updater must run in its own (assertStartedOnce)."""

import re
import subprocess
import time
import unittest

from harness import (EXIT_OTHER_LAUNCHER, EXIT_STARTED, LAUNCHER_TITLE, UPDATE_PORT, Watch,
                     WineTestCase, env_path, find_window, launcher_picture, start_server,
                     standin_bytes, wait_until, windows_path, wine_env)

try:
    from servers import HostileServer
except ImportError as missing:  # the servers module lives in tests/support
    raise unittest.SkipTest(f"test servers unavailable: {missing}")

# Long enough to outlast the step the file is held for (gorupd.new is renamed 3 s after the
# start) even when Wine is slow to start the launcher, well within the launcher's 10 s.
HOLD_SECONDS = 6

# name, updater files placed (name: padding), the file held, how (gorhold.exe's modes)
HELD = (
    ("patch road, gorupd.exe held", {"gorupd.exe": b"old", "gorupd.new": b"new"},
     "gorupd.exe", "read"),
    ("patch road, gorupd.new held", {"gorupd.exe": b"old", "gorupd.new": b"new"},
     "gorupd.new", "read"),
    ("straight road, gorupd.exe held for writing", {"gorupd.exe": b"old"}, "gorupd.exe", "write"),
)


def log_of(folder):
    return folder.read("gorlaunch.log").decode("utf-8", errors="replace")


def started_after(log):
    """Seconds from the launcher's start to the updater's, as its log stamps them."""
    found = re.search(r"\[\s*([0-9.]+)\] started gorupd\.exe", log)
    return float(found.group(1)) if found else None


class BusyDesktop(WineTestCase):
    def hold(self, path, how):
        """Starts gorhold.exe on `path` and returns once the file is held."""
        ready = path.parent.parent / "held"
        holder = subprocess.Popen(
            ["wine", str(env_path("GORHOLD")), how, str(HOLD_SECONDS), windows_path(path),
             windows_path(ready)], env=wine_env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(wait_until(ready.exists, 60), "gorhold.exe did not take the file")
        return holder

    def test_a_held_file_only_delays_the_start(self):
        for name, files, held, how in HELD:
            with self.subTest(name):
                folder = self.new_folder()
                placed = {n: folder.put_standin(n, padding) for n, padding in files.items()}
                holder = self.hold(folder.file(held), how)

                code = self.run_launcher(folder)
                holder.wait(timeout=60)

                log = log_of(folder)
                self.assertEqual(code, EXIT_STARTED, log)
                self.assertIn(" waits: ", log, "the file was not busy when the launcher met it")
                self.assertStartedOnce(folder)
                self.assertEqual(folder.read("gorupd.exe"),
                                 placed.get("gorupd.new", placed["gorupd.exe"]))
                print(f"\n  {name}: updater started {started_after(log):.3f} s after the "
                      f"launcher's start")

    def test_a_second_start_leaves_the_folder_to_the_first(self):
        folder = self.new_folder()
        server = start_server(lambda: HostileServer("ok", body=standin_bytes(), port=UPDATE_PORT))
        try:
            watch = Watch(launcher_picture())
            first = self.launch(folder)
            # The first owns the folder once its window shows; the second comes a second later.
            self.assertIsNotNone(find_window(LAUNCHER_TITLE, 90, first), "no launcher window")
            time.sleep(1)
            second = self.launch(folder)
            second_code = second.wait()
            first_code = watch.follow(first)
        finally:
            server.__exit__(None, None, None)
        self.finish(first)

        log = log_of(folder)
        self.assertEqual((first_code, second_code), (EXIT_STARTED, EXIT_OTHER_LAUNCHER), log)
        self.assertFalse(watch.box_seen, "a box was shown")
        self.assertIsNone(watch.red_status, "the status line turned red")
        self.assertEqual(log.count("] gorlaunch "), 1, "the second start rewrote the log")
        self.assertIn("road: download", log)
        self.assertStartedOnce(folder)
        print(f"\n  exit codes: first {first_code}, second {second_code}; the second ran "
              f"{second.elapsed():.2f} s (Wine's start included)")


if __name__ == "__main__":
    unittest.main()
