"""The launcher's roads that need no network, run for real under Wine: straight on (also
with an updater that cannot start), patch (with and without an old updater), a read-only
updater that cannot be patched, and folders whose names carry spaces, shell punctuation,
Cyrillic and Chinese."""

import struct
import unittest

from harness import (BOX_TITLE, EXIT_FAILURE_BOX, EXIT_START_FAILED, EXIT_STARTED,
                     WineTestCase, box_text, find_window, find_windows, press_return,
                     standin_bytes, windows_path)


class StraightOn(WineTestCase):
    def test_only_the_updater_is_started_as_it_is(self):
        folder = self.new_folder()
        exe = folder.put_standin("gorupd.exe")

        code = self.run_launcher(folder)

        self.assertEqual(code, EXIT_STARTED)
        command_line = self.assertStartedOnce(folder)
        print(f"\n  updater command line: {command_line}")
        self.assertEqual(folder.read("gorupd.exe"), exe)
        self.assertFalse(folder.exists("gorupd.new"))
        self.assertFalse(folder.exists("gorupd.tmp"))


    def test_updater_that_cannot_start_ends_quietly(self):
        # A whole image (so it is kept) for a machine this Windows does not run (ARM64).
        folder = self.new_folder()
        image = bytearray(standin_bytes())
        pe_header = struct.unpack_from("<I", image, 0x3C)[0]
        struct.pack_into("<H", image, pe_header + 4, 0xAA64)
        folder.put("gorupd.exe", bytes(image))

        launch = self.launch(folder)
        self.assertIsNone(find_window(BOX_TITLE, timeout=20, launch=launch),
                          "a failed start must not be reported in a box")
        code = self.finish(launch)

        self.assertEqual(code, EXIT_START_FAILED)
        self.assertNothingStarted(folder)


class Patch(WineTestCase):
    # The patch of an old updater: FolderNames, in a plain folder and in awkward ones.

    def test_new_updater_alone_becomes_the_updater(self):
        folder = self.new_folder()
        new = folder.put_standin("gorupd.new")

        code = self.run_launcher(folder)

        self.assertEqual(code, EXIT_STARTED)
        self.assertEqual(folder.names(), ["gorlaunch.exe", "gorlaunch.log", "gorupd.exe", "standin.log"])
        self.assertEqual(folder.read("gorupd.exe"), new)
        self.assertStartedOnce(folder)

    def test_read_only_updater_shows_the_patch_failure_and_starts_nothing(self):
        folder = self.new_folder()
        old = folder.put_standin("gorupd.exe", b"old")
        new = folder.put_standin("gorupd.new", b"new")
        folder.make_readonly("gorupd.exe")

        launch = self.launch(folder)
        box = find_window(BOX_TITLE, timeout=90, launch=launch)
        self.assertIsNotNone(box, "no 'Error Launching' box; wine said:\n" + launch.wine_output())
        self.assertEqual(box_text(), "Error patching updater. Make sure you have sufficient "
                                     "permissions. (Error: 3)\r\n1.0.8")
        self.assertTrue(launch.running(), "the launcher must wait for the box to be answered")
        press_return(box)
        code = self.finish(launch)

        self.assertEqual(code, EXIT_FAILURE_BOX)
        self.assertEqual(find_windows(BOX_TITLE), [])
        self.assertEqual(folder.read("gorupd.exe"), old)
        self.assertEqual(folder.read("gorupd.new"), new)
        self.assertNothingStarted(folder)


class FolderNames(WineTestCase):
    NAMES = (
        "launcher",
        "Gorvik Online &()%! launcher",
        "Горвик Онлайн",
        "戈尔维克 在线",
    )

    def test_patch_and_start_in_plain_and_awkward_folders(self):
        for name in self.NAMES:
            with self.subTest(folder=name):
                folder = self.new_folder(name)
                decoy = folder.plant_decoy()
                folder.put_standin("gorupd.exe", b"old")
                new = folder.put_standin("gorupd.new", b"new")

                code = self.run_launcher(folder)

                self.assertEqual(code, EXIT_STARTED)
                self.assertFalse(folder.exists("gorupd.new"))
                self.assertEqual(folder.read("gorupd.exe"), new)
                self.assertStartedOnce(folder)
                if decoy is not None:
                    self.assertEqual(folder.standin_runs(decoy), [],
                                     f"an unquoted start ran {decoy}\\...exe instead of "
                                     f"{windows_path(folder.file('gorupd.exe'))}")


if __name__ == "__main__":
    unittest.main()
