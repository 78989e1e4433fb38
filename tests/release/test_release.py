"""scripts/release: two builds of this commit in two build folders give the same exe; a signed
one (its password read from a file) verifies and is pinned to its signer; a wrong password ends
before building and leaves no exe. The certificate is made here with openssl."""

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
            key, cert, pfx = work / "key.pem", work / "cert.pem", work / "signer.pfx"
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days",
                            "30", "-subj", "/CN=Release Test", "-keyout", key, "-out", cert],
                           check=True, capture_output=True)
            subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out",
                            pfx, "-passout", "pass:right"], check=True, capture_output=True)
            (work / "right").write_text("right\n")
            (work / "wrong").write_text("wrong\n")

            refused = self.release("--sign", pfx, "--out", work / "refused",
                                   password_file=work / "wrong")
            self.assertEqual(refused.returncode, 2, refused.stderr)
            self.assertIn("wrong password", refused.stderr)
            self.assertFalse((work / "refused" / "gorlaunch.exe").exists())

            fingerprint = subprocess.run(["openssl", "x509", "-in", cert, "-noout",
                                          "-fingerprint", "-sha256"], check=True,
                                         capture_output=True, text=True).stdout
            thumbprint = fingerprint.split("=")[1].strip().replace(":", "")
            # Signed means pinned: the same bytes as a build pinned to the signer by hand.
            plain = self.release("--publisher", thumbprint, "--out", work / "plain", "--build",
                                 work / "tree")
            signed = self.release("--sign", pfx, "--out", work / "signed", "--build",
                                  work / "another" / "build folder", password_file=work / "right")
            for run in (plain, signed):
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                print(run.stdout)

            def unsigned_sha(run):
                return re.search(r"sha256 unsigned: (\w+)", run.stdout).group(1)
            exe = (work / "plain" / "gorlaunch.exe").read_bytes()
            self.assertEqual(unsigned_sha(plain), hashlib.sha256(exe).hexdigest())
            self.assertEqual(unsigned_sha(signed), unsigned_sha(plain))
            self.assertIn(f"publisher pin: {thumbprint}", signed.stdout)
            subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in",
                            work / "signed" / "gorlaunch.exe"], check=True, capture_output=True)


if __name__ == "__main__":
    unittest.main()
