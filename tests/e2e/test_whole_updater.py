"""Only a whole updater is installed or started, under Wine with the real gorlaunch.exe: a body
without a length that the server cuts short and an error page served with 200 are not
installed; a broken gorupd.new beside a working gorupd.exe is dropped and the working one
started; a damaged gorupd.exe alone is replaced by a download."""

import unittest

from harness import EXIT_STARTED, UPDATE_PORT, artifacts_dir, standin_bytes, start_server
from test_download import DownloadCase

try:
    from servers import HostileServer
except ImportError as missing:
    raise unittest.SkipTest(f"test servers unavailable: {missing}")

# A failed download ends 4 + 1 + 2 s after the transfer; Wine's start and a loaded machine add
# to it, but it stays far from the watchdog's 60 s.
QUICK_FAILURE_SECONDS = 40


class BrokenDownloads(DownloadCase):
    def test_body_without_length_cut_short_is_not_installed_and_the_log_says_why(self):
        folder, code, watch = self.download(
            lambda: HostileServer("no-length-cut", body=standin_bytes(), port=UPDATE_PORT),
            give_up_after=QUICK_FAILURE_SECONDS)
        self.assertCleanFailure(folder, code, watch)
        self.assertFalse(folder.exists("gorupd.tmp"))

        log = folder.read("gorlaunch.log").decode("utf-8")
        (artifacts_dir() / "gorlaunch-no-length-cut.log").write_text(log, encoding="utf-8")
        self.assertIn("road: download (no updater in the folder)", log)
        self.assertIn(f"probe: GET /gorupd.new HTTP/1.1 to 127.0.0.1:{UPDATE_PORT}, "
                      "Range: bytes=0-", log)
        self.assertIn("download answer: HTTP/1.1 200 OK, no Content-Length", log)
        self.assertIn(f"transfer complete: {len(standin_bytes()) // 2} bytes received", log)
        self.assertRegex(log, r"gorupd\.tmp is not whole: section \d+ \(\S+\) ends at byte \d+, "
                              r"past the end of the file")
        self.assertTrue(log.endswith("exit code 1: no updater arrived\r\n"), log)

    def test_error_page_served_with_200_is_not_installed(self):
        folder, code, watch = self.download(
            lambda: HostileServer("html-page", port=UPDATE_PORT),
            give_up_after=QUICK_FAILURE_SECONDS)
        self.assertCleanFailure(folder, code, watch)
        self.assertFalse(folder.exists("gorupd.tmp"))


class BrokenUpdaters(DownloadCase):
    def test_broken_patch_is_dropped_and_the_working_updater_started(self):
        folder = self.new_folder()
        old = folder.put_standin("gorupd.exe", b"old")
        folder.put("gorupd.new", standin_bytes()[: len(standin_bytes()) // 2])

        code = self.run_launcher(folder)

        self.assertEqual(code, EXIT_STARTED)
        self.assertFalse(folder.exists("gorupd.new"))
        self.assertEqual(folder.read("gorupd.exe"), old)
        self.assertStartedOnce(folder)

    def test_damaged_updater_is_replaced_by_a_download(self):
        body = standin_bytes()
        folder = self.new_folder()
        folder.put("gorupd.exe", body[: len(body) // 3])
        server = start_server(lambda: HostileServer("ok", body=body, port=UPDATE_PORT))
        try:
            code = self.finish(self.launch(folder))
        finally:
            server.__exit__(None, None, None)
        self.assertDownloadedAndStarted(folder, code, body)


if __name__ == "__main__":
    unittest.main()
