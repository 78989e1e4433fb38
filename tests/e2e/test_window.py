"""The launcher window as a person sees it under Wine: 200x98, centred, cut to the outline
of its picture (the backdrop shows through every transparent pixel and nowhere else), and
the same window scaled as a whole at 125 %, 150 % and 200 % display scaling."""

import time
import unittest

from harness import (DESIGN_DPI, EXIT_STARTED, LAUNCHER_TITLE, STATUS_RECT, PERCENT_RECT,
                     TRANSPARENT, WINDOW_SIZE, WineTestCase, backdrop, find_window,
                     launcher_picture, screen_size, screenshot, set_display_dpi,
                     window_geometry)

# LogPixels of the display: 100 %, 125 %, 150 % and 200 % scaling.
SCALINGS = (96, 120, 144, 192)
# How far an edge of the scaled status text may lie from s times its place at 96 dpi: glyphs
# are hinted to whole pixels at each size, so text never scales exactly.
TEXT_TOLERANCE = 4


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


def scaled(length, dpi):
    """A length at 96 dpi in pixels at `dpi`, halves rounded up."""
    return (2 * length * dpi + DESIGN_DPI) // (2 * DESIGN_DPI)


def scaled_shape_faults(shot, picture, back, size):
    """Where a window screenshot of `size` disagrees with the picture's outline scaled to it:
    a pixel that lies wholly on transparent picture pixels must show the backdrop, one that
    lies wholly on opaque ones must not (along the outline either is right), and the
    transparent colour itself must never show (the outline is cut from the pixels drawn)."""
    width, height = size
    faults = []
    for y in range(height):
        rows = range(y * picture.height // height, ((y + 1) * picture.height - 1) // height + 1)
        for x in range(width):
            columns = range(x * picture.width // width,
                            ((x + 1) * picture.width - 1) // width + 1)
            under = {picture.pixel(px, py) == TRANSPARENT for py in rows for px in columns}
            seen = shot.pixel(x, y)
            if under == {True} and seen != back:
                faults.append((x, y, "hole shows", seen))
            elif under == {False} and seen == back:
                faults.append((x, y, "picture pixel missing", seen))
            elif seen == TRANSPARENT:
                faults.append((x, y, "transparent colour shows", seen))
    return faults


def is_status_text(rgb):
    # lblStatus's pale cyan and its smoothed edges on the dark panel; nothing of the picture
    # near the label looks like it.
    r, g, b = rgb
    return g >= 160 and b >= 160 and r < g


def text_box(shot, rect):
    """The bounding box (x0, y0, x1, y1, exclusive) of status text pixels in rect, or None."""
    x0, y0, x1, y1 = rect
    found = [(x, y) for y in range(y0, y1) for x in range(x0, x1)
             if is_status_text(shot.pixel(x, y))]
    if not found:
        return None
    xs, ys = [x for x, _ in found], [y for _, y in found]
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


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


class WindowScaling(WineTestCase):
    def tearDown(self):
        super().tearDown()
        set_display_dpi(DESIGN_DPI)

    def test_window_scales_as_a_whole_at_125_150_and_200_percent(self):
        """At each scaling s = dpi / 96 the window is round(200 s) x round(98 s), cut to its
        picture scaled, and "Patching Updater" lies where it lies at 96 dpi, times s."""
        back = backdrop()
        picture = launcher_picture()
        if picture is None:
            self.skipTest("no launcher picture in the source tree")
        box_at_96 = None
        for dpi in SCALINGS:
            with self.subTest(dpi=dpi):
                set_display_dpi(dpi)
                folder = self.new_folder()
                folder.put_standin("gorupd.exe", b"old")
                folder.put_standin("gorupd.new", b"new")
                launch = self.launch(folder)
                window = find_window(LAUNCHER_TITLE, timeout=90, launch=launch)
                self.assertIsNotNone(window, launch.wine_output())
                left, top, width, height = window_geometry(window)
                size = (scaled(WINDOW_SIZE[0], dpi), scaled(WINDOW_SIZE[1], dpi))
                self.assertEqual((width, height), size)
                # Where the status text may be: its label scaled, and a margin.
                x0, y0, x1, y1 = (scaled(v, dpi) for v in STATUS_RECT)
                margin = TEXT_TOLERANCE
                search = (x0 - margin, y0 - margin, x1 + margin, y1 + margin)
                faults, box = ["no screenshot taken"], None
                for _ in range(10):  # the first look may come before the first paint
                    time.sleep(0.3)
                    shot = screenshot((left, top, width, height))
                    box = text_box(shot, search)
                    # At 96 dpi the test above checks the shape pixel for pixel.
                    faults = ([] if dpi == DESIGN_DPI
                              else scaled_shape_faults(shot, picture, back, size))
                    if box and not faults:
                        break
                self.save(screenshot((left - 20, top - 20, width + 40, height + 40)), f"{dpi}dpi")
                self.assertEqual(faults[:10], [], f"{len(faults)} pixels disagree with the shape")
                self.assertIsNotNone(box, "no status text seen")
                if dpi == DESIGN_DPI:
                    box_at_96 = box
                elif box_at_96 is not None:
                    expected = [v * dpi / DESIGN_DPI for v in box_at_96]
                    self.assertTrue(all(abs(a - b) <= TEXT_TOLERANCE
                                        for a, b in zip(box, expected)),
                                    f"status text at {box}, {expected} expected")
                self.assertEqual(self.finish(launch), EXIT_STARTED)


if __name__ == "__main__":
    unittest.main()
