"""The watchdog under Wine measures progress: a server that stops sending halfway through the
body and keeps the connection open, or trickles a byte every few seconds, is ended after 60
seconds with "Terminating" and the partial body removed, while a slow link that keeps
delivering for longer than that is never cut. The slow end-to-end cases."""

import math
import unittest

from harness import (EXIT_STARTED, EXIT_WATCHDOG, UPDATE_PORT, Watch, WineTestCase,
                     launcher_picture, settle, standin_bytes, start_server)

try:
    from hostile_server import DRIP_PIECE
    from servers import HostileServer
except ImportError as missing:
    raise unittest.SkipTest(f"test servers unavailable: {missing}")

WATCHDOG_SECONDS = 60
# The slow link's body takes this long: past the watchdog's minute, with a margin.
SLOW_BODY_SECONDS = 66
# The trickling server's pause between two bytes.
TRICKLE_SECONDS = 3


class Watchdog(WineTestCase):
    def test_stalled_or_trickling_server_ends_by_the_watchdog_and_leaves_nothing(self):
        for scenario in ("stall", "trickle"):
            with self.subTest(scenario):
                folder = self.new_folder()
                server = start_server(lambda: HostileServer(
                    scenario, body=standin_bytes(), port=UPDATE_PORT, delay=TRICKLE_SECONDS))
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
                self.save(watch.red_status, f"terminating-{scenario}")
                self.assertFalse(watch.box_seen)
                self.assertFalse(folder.exists("gorupd.exe"), "the partial body became the updater")
                self.assertFalse(folder.exists("gorupd.tmp"), "the partial body was left behind")
                self.assertIn(b"watchdog: less than 1024 bytes in 60 s",
                              folder.read("gorlaunch.log"))
                self.assertNothingStarted(folder)

    def test_slow_link_that_keeps_delivering_is_never_cut(self):
        body = standin_bytes()
        delay = SLOW_BODY_SECONDS / math.ceil(len(body) / DRIP_PIECE)
        folder = self.new_folder()
        server = start_server(lambda: HostileServer("drip", body=body, port=UPDATE_PORT,
                                                    delay=delay))
        try:
            launch = self.launch(folder)
            code = self.finish(launch, timeout=SLOW_BODY_SECONDS + 120)
        finally:
            server.__exit__(None, None, None)

        self.assertEqual(code, EXIT_STARTED, f"the folder holds {folder.names()}")
        self.assertGreater(launch.elapsed(), WATCHDOG_SECONDS + 5)
        self.assertEqual(folder.read("gorupd.exe"), body)
        self.assertFalse(folder.exists("gorupd.tmp"))
        self.assertStartedOnce(folder)


if __name__ == "__main__":
    unittest.main()
