"""Other programs at work beside the launcher, under Wine: a file held for a few seconds as a
scanner or a sync client holds it only delays the updater's start, and a second start in the
folder leaves everything to the first. Every launch runs from another working folder; the
updater runs in its own (assertStartedOnce)."""

import re
import subprocess
import time

from harness import (EXIT_OTHER_LAUNCHER, EXIT_STARTED, LAUNCHER_TITLE, UPDATE_PORT, Watch,
                     WineTestCase, env_path, find_window, launcher_picture, start_server,
                     standin_bytes, wait_until, windows_path, wine_env)
from servers import HostileServer

# Outlasts the step it blocks (gorupd.new is renamed 3 s after the start) however slowly Wine
# starts the launcher, and stays within the launcher's 10 s.
HOLD_SECONDS = 6


class BusyDesktop(WineTestCase):
    def test_a_held_file_only_delays_the_start(self):
        # the files placed, the one held, and how gorhold.exe holds it
        for names, held, how in ((("gorupd.exe", "gorupd.new"), "gorupd.exe", "read"),
                                 (("gorupd.exe", "gorupd.new"), "gorupd.new", "read"),
                                 (("gorupd.exe",), "gorupd.exe", "write")):
            with self.subTest(held=held, how=how):
                folder = self.new_folder()
                updater = [folder.put_standin(name, name.encode()) for name in names][-1]
                ready = folder.parent / "held"
                holder = subprocess.Popen(
                    ["wine", str(env_path("GORHOLD")), how, str(HOLD_SECONDS),
                     windows_path(folder.file(held)), windows_path(ready)],
                    env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
                self.assertTrue(wait_until(ready.exists, 60), "gorhold.exe did not take it")

                code = self.run_launcher(folder)
                holder.wait(timeout=60)

                log = folder.read("gorlaunch.log").decode()
                self.assertEqual(code, EXIT_STARTED, log)
                self.assertIn(" waits: ", log, "the file was not busy when the launcher met it")
                self.assertStartedOnce(folder)
                self.assertEqual(folder.read("gorupd.exe"), updater)
                started = re.search(r"\[\s*([0-9.]+)\] started gorupd", log).group(1)
                print(f"\n  {held} held ({how}): updater started {started} s after the start")

    def test_a_second_start_leaves_the_folder_to_the_first(self):
        folder = self.new_folder()
        server = start_server(lambda: HostileServer("ok", body=standin_bytes(), port=UPDATE_PORT))
        try:
            watch = Watch(launcher_picture())
            first = self.launch(folder)
            # The first owns the folder before its window shows.
            self.assertIsNotNone(find_window(LAUNCHER_TITLE, 90, first), "no launcher window")
            time.sleep(1)
            second = self.launch(folder)
            second_code = second.wait()
            first_code = watch.follow(first)
        finally:
            server.__exit__(None, None, None)
        self.finish(first)

        log = folder.read("gorlaunch.log").decode()
        self.assertEqual((first_code, second_code), (EXIT_STARTED, EXIT_OTHER_LAUNCHER), log)
        self.assertFalse(watch.box_seen or watch.red_status, "a box or red text was shown")
        self.assertEqual(log.count("] gorlaunch "), 1, "the second start rewrote the log")
        self.assertStartedOnce(folder)
        print(f"\n  exit codes: first {first_code}, second {second_code}, which ran "
              f"{second.elapsed():.2f} s, Wine's start included")
