"""The launcher window as a person sees it under Wine: 200x98, centred, cut to the outline
of its picture (the backdrop shows through every transparent pixel and nowhere else)."""

import time
import unittest

from harness import (EXIT_STARTED, LAUNCHER_TITLE, STATUS_RECT, PERCENT_RECT, TRANSPARENT,
                     WINDOW_SIZE, WineTestCase, backdrop, find_window, launcher_picture,
                     screen_size, screenshot, window_geometry)


def inside(rect, x, y):
    x0, y0, x1, y1 = rect
    return x0 <= x < x1 and y0 <= y < y1


def shape_faults(shot, left, top, picture, back):
    """Where the screen disagrees with the picture cut to its outline: transparent pixels
    must show the backdrop; the others must not, and outside the labels they must be the
    picture's own colour. Also the ring just outside the window must be backdrop."""
    faults = []
    width, height = WINDOW_SIZE
    for y in range(height):
        for x in range(width):
            seen = shot.pixel(left + x, top + y)
            want = picture.pixel(x, y)
            if want == TRANSPARENT:
                if seen != back:
                    faults.append((x, y, "hole shows", seen))
            elif seen == back:
                faults.append((x, y, "picture pixel missing", want))
            elif not inside(STATUS_RECT, x, y) and not inside(PERCENT_RECT, x, y) and seen != want:
                faults.append((x, y, f"picture {want} drawn as", seen))
    for x in range(-1, width + 1):
        for y in (-1, height):
            if shot.pixel(left + x, top + y) != back:
                faults.append((x, y, "outside the window", shot.pixel(left + x, top + y)))
    for y in range(height):
        for x in (-1, width):
            if shot.pixel(left + x, top + y) != back:
                faults.append((x, y, "outside the window", shot.pixel(left + x, top + y)))
    return faults


def coarse_faults(shot, left, top, back):
    """Without the picture: the top row and the four corners are holes, the panel is not."""
    width, height = WINDOW_SIZE
    faults = []
    for x, y in [(x, 0) for x in range(width)] + [(0, 0), (width - 1, 0), (0, height - 1),
                                                   (width - 1, height - 1)]:
        if shot.pixel(left + x, top + y) != back:
            faults.append((x, y, "hole shows", shot.pixel(left + x, top + y)))
    for x, y in ((140, 60), (120, 88), (100, 50)):
        if shot.pixel(left + x, top + y) == back:
            faults.append((x, y, "panel missing", back))
    return faults


class WindowShape(WineTestCase):
    def test_window_is_centred_200_by_98_and_cut_to_its_picture(self):
        back = backdrop()
        picture = launcher_picture()
        if picture is not None:
            self.assertNotIn(back, {picture.pixel(x, y) for y in range(picture.height)
                                    for x in range(picture.width)},
                             "the backdrop colour must not occur in the picture")
        folder = self.new_folder()
        # The patch road keeps the window up for about six seconds.
        folder.put_standin("gorupd.exe", b"old")
        folder.put_standin("gorupd.new", b"new")

        launch = self.launch(folder)
        window = find_window(LAUNCHER_TITLE, timeout=90, launch=launch)
        self.assertIsNotNone(window, "the launcher window never showed; wine said:\n"
                             + launch.wine_output())
        geometry = window_geometry(window)
        self.assertIsNotNone(geometry)
        left, top, width, height = geometry
        self.assertEqual((width, height), WINDOW_SIZE)
        screen_w, screen_h = screen_size()
        self.assertLessEqual(abs(left - (screen_w - width) // 2), 1, f"not centred: {geometry}")
        self.assertLessEqual(abs(top - (screen_h - height) // 2), 1, f"not centred: {geometry}")

        # The first look may come before the first paint: look again a few times.
        faults, shot = ["no screenshot taken"], None
        for _ in range(10):
            time.sleep(0.3)
            if not launch.running():
                break
            shot = screenshot()
            faults = (shape_faults(shot, left, top, picture, back) if picture is not None
                      else coarse_faults(shot, left, top, back))
            if not faults:
                break
        if shot is not None:
            self.save(shot.crop(left - 20, top - 20, width + 40, height + 40), "window")
        self.assertEqual(faults[:10], [], f"{len(faults)} pixels disagree with the shape")

        self.assertEqual(self.finish(launch), EXIT_STARTED)
        self.assertStartedOnce(folder)


if __name__ == "__main__":
    unittest.main()
