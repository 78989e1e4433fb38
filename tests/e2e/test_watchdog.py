"""The watchdog under Wine: a body cut short after its length was announced ends with no
event of its own, so only the 60-second watchdog ends the launcher, with "Terminating".
The one slow end-to-end case."""

import unittest

from harness import (EXIT_WATCHDOG, UPDATE_PORT, Watch, WineTestCase, launcher_picture,
                     settle, standin_bytes, start_server)

try:
    from servers import HostileServer
except ImportError as missing:
    raise unittest.SkipTest(f"test servers unavailable: {missing}")

WATCHDOG_SECONDS = 60


class Watchdog(WineTestCase):
    def test_cut_body_of_known_length_ends_by_the_watchdog(self):
        folder = self.new_folder()
        server = start_server(lambda: HostileServer("cut-body", body=standin_bytes(),
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
        # The watchdog's minute starts after the launcher is up; it cannot end sooner.
        self.assertGreaterEqual(launch.elapsed(), WATCHDOG_SECONDS)
        self.assertIsNotNone(watch.red_status, '"Terminating" never showed in red')
        self.save(watch.red_status, "terminating")
        self.assertFalse(watch.box_seen)
        self.assertFalse(folder.exists("gorupd.exe"), "the half body became the updater")
        self.assertNothingStarted(folder)


if __name__ == "__main__":
    unittest.main()
