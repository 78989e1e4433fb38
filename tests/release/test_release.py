"""scripts/release: a signed build (its password read from a file) verifies and is pinned to its
signer first; its check against a rebuild in another folder, the other pins given in another
order, finds the same bytes, and one altered byte is found; a wrong password or a pin that is no
thumbprint ends before building and leaves no exe. The certificates are made here with
openssl."""

import hashlib
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

RELEASE = Path(__file__).resolve().parents[2] / "scripts" / "release"


class Release(unittest.TestCase):
    def release(self, *args, password_file=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("GOR_SIGN_")}
        if password_file:
            env["GOR_SIGN_PASSWORD_FILE"] = str(password_file)
        return subprocess.run([str(RELEASE), *map(str, args)], env=env, capture_output=True,
                              text=True, timeout=3600)

    def test_two_folders_build_the_same_exe_and_a_signed_one_verifies(self):
        with tempfile.TemporaryDirectory() as name:
            work = Path(name)
            cert, b_cert, c_cert = work / "a.pem", work / "b.pem", work / "c.pem"
            key, pfx = work / "a.key", work / "signer.pfx"
            for made in (cert, b_cert, c_cert):
                subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                                "-days", "30", "-subj", "/CN=Release Test", "-addext",
                                "extendedKeyUsage=codeSigning", "-keyout",
                                made.with_suffix(".key"), "-out", made],
                               check=True, capture_output=True)
            subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out",
                            pfx, "-passout", "pass:right"], check=True, capture_output=True)
            (work / "right").write_text("right\n")
            (work / "wrong").write_text("wrong\n")

            stale = work / "out" / "gorlaunch.exe"
            stale.parent.mkdir()
            for bad, why in ((["--publisher", "Gorvik Games"], "not a thumbprint"),
                             (["--sign", pfx], "wrong password")):
                stale.write_bytes(b"an earlier run")
                refused = self.release(*bad, "--out", stale.parent, "--build", work / "tree",
                                       password_file=work / "wrong")
                self.assertEqual(refused.returncode, 2, refused.stderr)
                self.assertIn(why, refused.stderr)
                self.assertFalse(stale.exists() or (work / "tree").exists())

            def fingerprint(name):
                return subprocess.run(["openssl", "x509", "-in", name, "-noout", "-fingerprint",
                                       "-sha256"], check=True, capture_output=True,
                                      text=True).stdout.strip()
            signer, b, c = (fingerprint(n).split("=")[1].replace(":", "")
                            for n in (cert, b_cert, c_cert))
            signed = self.release("--sign", pfx, "--publisher", c, "--publisher",
                                  fingerprint(b_cert), "--out", work / "signed", "--build",
                                  work / "tree", password_file=work / "right")
            self.assertEqual(signed.returncode, 0, signed.stdout + signed.stderr)
            print(signed.stdout)
            self.assertIn(f"publisher pin: {signer} {' '.join(sorted((b, c)))}", signed.stdout)
            shipped = work / "signed" / "gorlaunch.exe"
            subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", shipped],
                           check=True, capture_output=True)

            # The signature removed and the checksum it set zeroed: the printed unsigned digest.
            removed = work / "removed.exe"
            subprocess.run(["osslsigncode", "remove-signature", "-in", shipped, "-out", removed],
                           check=True, capture_output=True)
            data = bytearray(removed.read_bytes())
            checksum = int.from_bytes(data[0x3C:0x40], "little") + 88
            data[checksum:checksum + 4] = bytes(4)
            unsigned = re.search(r"sha256 unsigned: (\w+)", signed.stdout).group(1)
            self.assertEqual(hashlib.sha256(data).hexdigest(), unsigned)

            # Anyone can check it without the key, naming the other pins in any order.
            altered = work / "altered.exe"
            data = bytearray(shipped.read_bytes())
            data[0x400] ^= 1
            altered.write_bytes(data)
            for exe, code, said in ((shipped, 0, "same bytes as this source"),
                                    (altered, 1, "first difference at offset 1024 ")):
                check = self.release("--check", exe, "--publisher", b, "--publisher", c,
                                     "--build", work / "another" / "build folder")
                self.assertEqual(check.returncode, code, check.stdout + check.stderr)
                self.assertIn(said, check.stdout)

if __name__ == "__main__":
    unittest.main()
