"""The download road under Wine against real local servers on 127.0.0.1: nginx serving the
stand-in updater, and the misbehaving test server (refusal, reset, no length, a header in
pieces, a slow drip, a stale partial file). A broken transfer must never leave a gorupd.exe
or start anything."""

import struct
import subprocess
import unittest

from harness import (EXIT_NO_UPDATER, EXIT_STARTED, RUN_DEADLINE, UPDATE_PORT, Folder,
                     ScreenReader, Watch, WineTestCase, kill_wine, launcher_picture, settle,
                     standin_bytes, start_server, wine_env)

try:
    from servers import HostileServer, Nginx
except ImportError as missing:  # the servers module lives in tests/support
    raise unittest.SkipTest(f"test servers unavailable: {missing}")


class DownloadCase(WineTestCase):
    def setUp(self):
        super().setUp()
        self.picture = launcher_picture()

    def download(self, server_factory, give_up_after=None):
        """Runs the launcher in an empty folder against the server; returns the folder, the
        exit code and what the screen showed. With `give_up_after`, a launcher still running
        then is ended and the exit code is None."""
        folder = self.new_folder()
        server = start_server(server_factory)
        try:
            self.assertEqual(server.port, UPDATE_PORT)
            watch = Watch(self.picture)
            launch = self.launch(folder)
            code = watch.follow(launch, timeout=give_up_after or RUN_DEADLINE)
            if code is None:
                self.assertIsNotNone(give_up_after, "gorlaunch.exe did not end in time")
                launch.kill()
                kill_wine()
        finally:
            server.__exit__(None, None, None)
        settle()
        return folder, code, watch

    def assertCleanFailure(self, folder, code, watch):
        """A failed download: red "Error Downloading", no box, no updater, nothing started."""
        self.assertEqual(code, EXIT_NO_UPDATER, f"the folder holds {folder.names()}")
        self.assertFalse(watch.box_seen, "a failed download must not show the failure box")
        self.assertIsNotNone(watch.red_status, "the status line never turned red")
        self.assertFalse(folder.exists("gorupd.exe"), "a broken download became the updater")
        self.assertNothingStarted(folder)

    def assertDownloadedAndStarted(self, folder, code, body):
        self.assertEqual(code, EXIT_STARTED, f"the folder holds {folder.names()}")
        self.assertEqual(folder.read("gorupd.exe"), body)
        self.assertFalse(folder.exists("gorupd.tmp"))
        self.assertStartedOnce(folder)


class Downloads(DownloadCase):
    def test_nginx_serves_the_updater_which_is_saved_and_started(self):
        body = standin_bytes()
        root = Folder("www")
        self.folders.append(root)
        root.exe.unlink()
        root.put("gorupd.new", body)

        folder, code, _ = self.download(lambda: Nginx(str(root.path), port=UPDATE_PORT))

        self.assertDownloadedAndStarted(folder, code, body)

    def test_served_in_any_good_form_the_updater_is_saved_and_started(self):
        # No length (complete at the close), a header in pieces, a link that drops once (the
        # transfer resumes by range in the same start), a host busy twice (asked again after
        # the 2 s it names each time), a resume answered from another file (fetched whole).
        body, logs = standin_bytes(), {}
        for scenario in ("no-length", "split-header", "cut-once", "busy-twice", "splice"):
            with self.subTest(scenario):
                folder, code, _ = self.download(
                    lambda: HostileServer(scenario, body=body, port=UPDATE_PORT))
                self.assertDownloadedAndStarted(folder, code, body)
                logs[scenario] = folder.read("gorlaunch.log").decode()
        self.assertIn("resume 1 of 5", logs["cut-once"])
        asked = [float(line[1:line.index("]")]) for line in logs["busy-twice"].splitlines()
                 if "probe: GET" in line]
        self.assertEqual(len(asked), 3, logs["busy-twice"])
        self.assertTrue(asked[1] - asked[0] >= 2 and asked[2] - asked[1] >= 2, asked)

    def test_stale_partial_file_is_not_continued(self):
        # A gorupd.tmp left by an earlier broken run would be resumed by byte range (the
        # control continues a non-empty file); the launcher must start afresh instead.
        body = standin_bytes()
        folder = self.new_folder()
        folder.put("gorupd.tmp", b"left over from a broken transfer")
        server = start_server(lambda: HostileServer("ok", body=body, port=UPDATE_PORT))
        try:
            code = self.finish(self.launch(folder))
            requests = server.requests()
        finally:
            server.__exit__(None, None, None)
        self.assertDownloadedAndStarted(folder, code, body)
        self.assertGreaterEqual(len(requests), 2, "expected the probe and the download")
        for request in requests:
            self.assertNotRegex(request, rb"(?i)range:\s*bytes=[1-9]", "a stale file was resumed")

    def test_slow_transfer_shows_the_percentage(self):
        body = standin_bytes()
        # 512-byte pieces 20 ms apart: about ten seconds for the stand-in.
        with ScreenReader() as reader:
            folder, code, watch = self.download(
                lambda: HostileServer("drip", body=body, port=UPDATE_PORT, delay=0.02))
        self.assertDownloadedAndStarted(folder, code, body)
        self.assertIsNotNone(watch.percent_text, "no percentage line seen during the transfer")
        self.save(watch.percent_text, "percentage")
        # A screen reader hears each status, and the percentage only as it passes each tenth.
        statuses = [name for name in reader.heard if not name.endswith("%")]
        tenths = [int(name.split()[0]) // 10 for name in reader.heard if name.endswith("%")]
        self.assertEqual(statuses, ["Downloading Updater", "Initializing"], reader.heard)
        self.assertEqual(tenths, list(range(11)), reader.heard)


class ServerFraming(DownloadCase):
    """The body is what the answer says it is: chunked coding decoded, nothing past the
    announced length, nothing past the size cap, and a cut body never waits for the watchdog."""

    def test_chunked_answer_is_decoded_saved_and_started(self):
        body = standin_bytes()
        folder, code, _ = self.download(
            lambda: HostileServer("chunked", body=body, port=UPDATE_PORT))
        self.assertDownloadedAndStarted(folder, code, body)

    def test_bytes_after_the_announced_length_are_not_saved(self):
        body = standin_bytes()
        folder, code, _ = self.download(
            lambda: HostileServer("stray-bytes", body=body, port=UPDATE_PORT))
        self.assertDownloadedAndStarted(folder, code, body)

    def test_endless_body_stops_at_the_cap(self):
        folder, code, watch = self.download(
            lambda: HostileServer("endless", body=standin_bytes(), port=UPDATE_PORT))
        self.assertCleanFailure(folder, code, watch)
        self.assertFalse(folder.exists("gorupd.tmp"), "the partial body was left behind")
        kept = sum(folder.file(n).stat().st_size for n in folder.names() if n != "gorlaunch.exe")
        self.assertLess(kept, 1024 * 1024, f"the folder was filled: {folder.names()}")

    def test_body_cut_before_its_length_fails_without_the_watchdog(self):
        # Exit code 1, not the watchdog's 3: each cut ends its wait as soon as it is heard, and
        # after five resumes the road ends.
        folder, code, watch = self.download(
            lambda: HostileServer("cut-body", body=standin_bytes(), port=UPDATE_PORT))
        self.assertCleanFailure(folder, code, watch)


class Refusals(DownloadCase):
    def test_not_found(self):
        folder, code, watch = self.download(
            lambda: HostileServer("status-404", port=UPDATE_PORT))
        self.assertCleanFailure(folder, code, watch)
        self.save(watch.red_status, "error-downloading")

    def test_connection_reset_in_the_body_fails_at_once(self):
        # Wine reports a reset like an orderly close (FD_CLOSE without an error, then recv
        # gives 0): either way the transfer ended unfinished; five resumes later the launcher
        # says so, well before its watchdog.
        folder, code, watch = self.download(
            lambda: HostileServer("reset", body=standin_bytes(), port=UPDATE_PORT),
            give_up_after=120)
        self.assertCleanFailure(folder, code, watch)
        self.assertFalse(folder.exists("gorupd.tmp"))

    def test_nothing_listening(self):
        folder, code, watch = self.download(_NoServer)
        self.assertCleanFailure(folder, code, watch)


class Proxies(DownloadCase):
    """The user's proxy (the Internet settings' DefaultConnectionSettings, as WinHTTP reads
    them), named by hand or by a configuration script, carries the download: nothing listens
    at the update port itself."""
    KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"

    def reg(self, *args):
        subprocess.run(["wine", "reg", *args, "/v", "DefaultConnectionSettings", "/f"],
                       env=wine_env(), timeout=120, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL)
        settle()

    def test_named_and_script_proxies_carry_the_download(self):
        body = standin_bytes()
        for how, flags in (("named", 2), ("script", 4)):
            with self.subTest(how), HostileServer("ok", body=body) as proxy:
                found = f"PROXY 127.0.0.1:{proxy.port}; DIRECT"
                script = f'function FindProxyForURL(url, host) {{ return "{found}"; }}'
                with HostileServer("ok", body=script.encode()) as pac:
                    texts = (f"127.0.0.1:{proxy.port}", "", f"http://127.0.0.1:{pac.port}/p.pac")
                    value = struct.pack("<III", 0x46, 0, flags) + b"".join(
                        struct.pack("<I", len(t)) + t.encode() for t in texts)
                    self.reg("add", self.KEY, "/t", "REG_BINARY", "/d", value.hex())
                    try:
                        folder = self.new_folder()
                        code = self.finish(self.launch(folder))
                    finally:
                        self.reg("delete", self.KEY)
                self.assertDownloadedAndStarted(folder, code, body)
                self.assertIn(f"GET http://127.0.0.1:{UPDATE_PORT}/gorupd.new HTTP/1.1\r\n"
                              .encode(), proxy.requests()[-1])
                self.assertIn(f"({how})".encode(), folder.read("gorlaunch.log"))


class _NoServer:
    """Stands for a server that is not there: the port is closed, connecting fails."""
    port = UPDATE_PORT

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False


if __name__ == "__main__":
    unittest.main()
