"""The publisher pin under Wine: a (signed) launcher pinned to the test publisher's certificate
installs or starts the stand-in only when that certificate (or the next one, also pinned) signed
it and it is named gorupd.exe, on the download road, as gorupd.new and as the gorupd.exe in
place (any other is replaced by a download). The certificates are made with openssl: the
publisher's two by the build (GOR_TEST_PUBLISHER), another one here."""

import subprocess
import tempfile
import unittest
from pathlib import Path

from harness import (EXIT_NO_UPDATER, EXIT_STARTED, UPDATE_PORT, WineTestCase, artifacts_dir,
                     env_path, standin_bytes, start_server)
from servers import HostileServer


def sign(data, key, cert):
    """`data` signed with Authenticode (SHA-256) by the key and certificate (PEM files)."""
    with tempfile.TemporaryDirectory() as work:
        unsigned, signed = Path(work, "in.exe"), Path(work, "out.exe")
        unsigned.write_bytes(data)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                        "-in", unsigned, "-out", signed], check=True, capture_output=True)
        return signed.read_bytes()


def altered(data):
    """One byte of the code changed: the image stays whole, the signature no longer fits."""
    middle = len(data) // 3
    return data[:middle] + bytes([data[middle] ^ 0xFF]) + data[middle + 1:]


def setUpModule():
    global PUBLISHER, NEXT, OTHER, WORK
    publisher = env_path("GOR_TEST_PUBLISHER")
    PUBLISHER = (str(publisher / "key.pem"), str(publisher / "cert.pem"))
    NEXT = (str(publisher / "next-key.pem"), str(publisher / "next-cert.pem"))
    WORK = tempfile.TemporaryDirectory()
    OTHER = (f"{WORK.name}/key.pem", f"{WORK.name}/cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                    "-subj", "/CN=Someone Else", "-keyout", OTHER[0], "-out", OTHER[1]],
                   check=True, capture_output=True)


def tearDownModule():
    WORK.cleanup()


class Pinned(WineTestCase):
    # What the updater is, whether the pinned launcher installs it, and the log's reason.
    CASES = [
        ("publisher", lambda: sign(standin_bytes(), *PUBLISHER), True,
         r"is signed by the publisher [0-9A-F]{64}"),
        ("unsigned", standin_bytes, False,
         r"is not from the publisher: not signed \(TRUST_E_NOSIGNATURE\), 0x800B0100"),
        ("other", lambda: sign(standin_bytes(), *OTHER), False,
         r"is not from the publisher: signed by [0-9A-F]{64}, not by the pinned [0-9A-F]{64}"),
        ("altered", lambda: altered(sign(standin_bytes(), *PUBLISHER)), False,
         r"is not from the publisher: altered after signing \(TRUST_E_BAD_DIGEST\), 0x80096010"),
        ("next certificate", lambda: sign(standin_bytes(), *NEXT), True,
         r"is signed by the publisher [0-9A-F]{64}"),
        ("the launcher", lambda: sign(env_path("GORLAUNCH_EXE").read_bytes(), *PUBLISHER), False,
         r"is not from the publisher: signed by [0-9A-F]{64}, but its version resource names it "
         r"gorlaunch.exe, not gorupd.exe"),
    ]

    def launcher(self):
        folder = self.new_folder()
        folder.put("gorlaunch.exe", self.pinned)
        return folder

    def log(self, folder, name):
        text = folder.read("gorlaunch.log").decode("utf-8")
        (artifacts_dir() / f"gorlaunch-{name}.log").write_text(text, encoding="utf-8")
        return text

    def test_download_and_patch_install_only_the_publishers_updater(self):
        # The launcher is signed too: a signed gorlaunch.exe runs as an unsigned one does.
        self.pinned = sign(env_path("GORLAUNCH_PINNED_EXE").read_bytes(), *PUBLISHER)
        for name, make, installed, reason in self.CASES:
            updater = make()
            with self.subTest(case=name, road="download"):
                folder = self.launcher()
                server = start_server(lambda: HostileServer("ok", body=updater, port=UPDATE_PORT))
                try:
                    code = self.finish(self.launch(folder))
                finally:
                    server.__exit__(None, None, None)
                self.assertRegex(self.log(folder, f"download-{name}"), "gorupd.tmp " + reason)
                if installed:
                    self.assertEqual(code, EXIT_STARTED)
                    self.assertEqual(folder.read("gorupd.exe"), updater)
                    self.assertStartedOnce(folder)
                else:
                    self.assertEqual(code, EXIT_NO_UPDATER)
                    self.assertEqual(folder.names(), ["gorlaunch.exe", "gorlaunch.log"])
                    self.assertNothingStarted(folder)

            with self.subTest(case=name, road="patch"):
                folder = self.launcher()
                old = sign(standin_bytes() + b"old", *PUBLISHER)
                folder.put("gorupd.exe", old)
                folder.put("gorupd.new", updater)
                self.assertEqual(self.run_launcher(folder), EXIT_STARTED)
                self.assertRegex(self.log(folder, f"patch-{name}"), "gorupd.new " + reason)
                self.assertFalse(folder.exists("gorupd.new"))
                self.assertEqual(folder.read("gorupd.exe"), updater if installed else old)
                self.assertStartedOnce(folder)

            with self.subTest(case=name, road="in place"):
                folder = self.launcher()
                folder.put("gorupd.exe", updater)
                publishers = sign(standin_bytes() + b"download", *PUBLISHER)
                server = start_server(lambda: HostileServer("ok", body=publishers,
                                                            port=UPDATE_PORT))
                try:
                    self.assertEqual(self.finish(self.launch(folder)), EXIT_STARTED)
                finally:
                    server.__exit__(None, None, None)
                log = self.log(folder, f"in-place-{name}")
                self.assertRegex(log, "gorupd.exe " + reason)
                self.assertEqual(folder.read("gorupd.exe"), updater if installed else publishers)
                self.assertEqual("road: download" in log, not installed)
                self.assertStartedOnce(folder)


if __name__ == "__main__":
    unittest.main()
