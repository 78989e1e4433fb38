"""The watchdog under Wine: a server that stops sending halfway through the body and keeps the
connection open raises no event at all, so only 60 seconds of silence end the launcher, with
"Terminating"; the half body is removed. The slow end-to-end cases."""

import unittest

from harness import (EXIT_WATCHDOG, UPDATE_PORT, Watch, WineTestCase, launcher_picture,
                     settle, standin_bytes, start_server)

try:
    from servers import HostileServer
except ImportError as missing:
    raise unittest.SkipTest(f"test servers unavailable: {missing}")

WATCHDOG_SECONDS = 60


class Watchdog(WineTestCase):
    def test_stalled_server_ends_by_the_watchdog_and_leaves_nothing(self):
        folder = self.new_folder()
        server = start_server(lambda: HostileServer("stall", body=standin_bytes(),
                                                    port=UPDATE_PORT))
        try:
            launch = self.launch(folder)
            watch = Watch(launcher_picture())
            # "Terminating" shows for 2 s: a look every second catches it.
            code = watch.follow(launch, timeout=WATCHDOG_SECONDS + 120, interval=1.0)
        finally:
            server.__exit__(None, None, None)
        settle()

        self.assertEqual(code, EXIT_WATCHDOG)
        # The silence starts after the launcher is up; the watchdog cannot end it sooner.
        self.assertGreaterEqual(launch.elapsed(), WATCHDOG_SECONDS - 1)
        self.assertIsNotNone(watch.red_status, '"Terminating" never showed in red')
        self.save(watch.red_status, "terminating")
        self.assertFalse(watch.box_seen)
        self.assertFalse(folder.exists("gorupd.exe"), "the half body became the updater")
        self.assertFalse(folder.exists("gorupd.tmp"), "the half body was left behind")
        self.assertNothingStarted(folder)


if __name__ == "__main__":
    unittest.main()
