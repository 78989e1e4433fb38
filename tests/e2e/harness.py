"""Shared helpers of the end-to-end tests: fresh launcher folders, running the real
gorlaunch.exe under Wine, watching its window on the Xvfb display (screenshots, pixels,
the "Error Launching" box) and reading what the stand-in updater recorded.

The environment comes from tests/e2e/CMakeLists.txt (gor_add_wine_test): GORLAUNCH_EXE,
GORUPD_STANDIN, GORBOX_PROBE, GORLAUNCH_SOURCE_DIR, WINEPREFIX, DISPLAY, GOR_WINE_STATE (the
folder for the work and the artifacts); and GOR_E2E_BACKDROP from scripts/wine_fixture.sh.
"""

import glob
import itertools
import os
import shutil
import stat
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("GORLAUNCH_SOURCE_DIR", Path(__file__).resolve().parents[2]))
sys.path.insert(0, str(SOURCE_DIR / "tests" / "support"))

LAUNCHER_TITLE = "Gorvik Online Launcher"
BOX_TITLE = "Error Launching"

# How the launcher ends (its process exit code).
EXIT_STARTED = 0
EXIT_NO_UPDATER = 1
EXIT_FAILURE_BOX = 2
EXIT_WATCHDOG = 3
EXIT_START_FAILED = 4
EXIT_OTHER_LAUNCHER = 5

# The build the tests run is configured to fetch its updater from here.
UPDATE_PORT = 18473

WINDOW_SIZE = (200, 98)
TRANSPARENT = (64, 64, 0)
# Label rectangles in window pixels at 96 dpi: x0, y0, x1, y1 (exclusive).
STATUS_RECT = (88, 45, 188, 81)
PERCENT_RECT = (88, 76, 189, 93)
# The rows of the percentage line the status line cannot reach.
PERCENT_ONLY_RECT = (88, 82, 189, 93)

POLL = 0.2          # seconds between two looks at something we wait for
RUN_DEADLINE = 180  # a normal run takes under 15 s; this is for a loaded 2-core machine


def env_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set: run the end-to-end tests through ctest")
    return Path(value)


def backdrop():
    """The colour the screen shows where no window is, as (r, g, b). Paints the root window
    the fixture's solid colour first if it shows something else (a display started
    elsewhere, or one that was reset)."""
    text = os.environ["GOR_E2E_BACKDROP"]
    wanted = tuple(int(text.lstrip("#")[i:i + 2], 16) for i in (0, 2, 4))
    if screenshot((0, 0, 1, 1)).pixel(0, 0) != wanted:
        subprocess.run(["xsetroot", "-solid", text], timeout=30, stdin=subprocess.DEVNULL)
    return screenshot((0, 0, 1, 1)).pixel(0, 0)


def wait_until(check, timeout, interval=POLL):
    """Calls check() every `interval` seconds until it returns something true or `timeout`
    seconds passed; returns that value, or the last (false) one."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def windows_path(path):
    """The name Wine gives a Unix path (drive Z: is the Unix root)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def artifacts_dir():
    path = env_path("GOR_WINE_STATE") / "artifacts"
    path.mkdir(parents=True, exist_ok=True)
    return path


_serial = itertools.count(1)


class Folder:
    """A fresh folder holding a copy of gorlaunch.exe, under a name chosen by the test."""

    def __init__(self, name="launcher"):
        work = env_path("GOR_WINE_STATE") / "work"
        # A private parent per folder: it also holds the decoys that an unquoted start
        # from a folder with spaces would run (see plant_decoy).
        self.parent = work / f"{os.getpid()}-{next(_serial)}"
        self.path = self.parent / name
        self.path.mkdir(parents=True)
        shutil.copyfile(env_path("GORLAUNCH_EXE"), self.path / "gorlaunch.exe")
        self.exe = self.path / "gorlaunch.exe"

    def file(self, name):
        return self.path / name

    def exists(self, name):
        return (self.path / name).exists()

    def read(self, name):
        return (self.path / name).read_bytes()

    def put(self, name, data):
        (self.path / name).write_bytes(data)

    def put_standin(self, name, padding=b""):
        """Places the stand-in updater as `name`; padding after the image keeps it runnable
        and makes copies tell apart. Returns the bytes written."""
        data = standin_bytes() + padding
        self.put(name, data)
        return data

    def make_readonly(self, name):
        # Wine reports a file without write bits as FILE_ATTRIBUTE_READONLY and refuses to
        # delete or replace it, as "attrib +r" would have it.
        path = self.path / name
        path.chmod(path.stat().st_mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))

    def names(self):
        return sorted(p.name for p in self.path.iterdir())

    def standin_runs(self, where=None):
        """(module path, command line, working folder) for each start the stand-in recorded
        in `where`."""
        log = Path(where or self.path) / "standin.log"
        if not log.exists():
            return []
        lines = log.read_text(encoding="utf-8").splitlines()
        return [tuple(line.split("\t")) for line in lines if line]

    def plant_decoy(self):
        """If the folder name has a space, puts a stand-in where an unquoted command line
        would find a program first ("...\\first word.exe"); returns its folder or None."""
        first = self.path.name.split(" ")[0]
        if first == self.path.name:
            return None
        shutil.copyfile(env_path("GORUPD_STANDIN"), self.parent / f"{first}.exe")
        return self.parent

    def remove(self):
        for root, dirs, files in os.walk(self.parent):
            for name in dirs + files:
                p = Path(root) / name
                if not p.is_symlink():
                    p.chmod(p.stat().st_mode | stat.S_IWUSR)
        shutil.rmtree(self.parent, ignore_errors=True)


_standin = None


def standin_bytes():
    global _standin
    if _standin is None:
        _standin = env_path("GORUPD_STANDIN").read_bytes()
    return _standin


def wine_env():
    """The environment of programs under Wine: this one, which scripts/wine_fixture.sh
    (every test under Wine runs through it) completed."""
    return dict(os.environ)


class Launch:
    """gorlaunch.exe running under Wine. Its working folder is deliberately another one, so
    the launcher must find its files beside its executable, not in the current folder."""

    def __init__(self, folder, cwd):
        self.folder = folder
        self.log_path = folder.parent / "wine.log"
        self.started = time.monotonic()
        self.ended = None
        with open(self.log_path, "ab") as log:
            # Output goes to a file, never a pipe: a wineserver started by this process
            # would inherit the pipe and keep it open long after the launcher ended.
            self.proc = subprocess.Popen(["wine", str(folder.exe)], cwd=cwd, env=wine_env(),
                                         stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def running(self):
        if self.proc.poll() is None:
            return True
        if self.ended is None:
            self.ended = time.monotonic()
        return False

    def elapsed(self):
        """Seconds from the start to the end seen first (or to now while it runs)."""
        return (self.ended or time.monotonic()) - self.started

    def wait(self, timeout=RUN_DEADLINE):
        """The launcher's exit code; fails the test when it runs past `timeout`."""
        try:
            code = self.proc.wait(timeout=timeout)
            self.running()  # notes the end time
            return code
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"gorlaunch.exe still running after {timeout} s") from None

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait(timeout=30)

    def wine_output(self):
        try:
            return self.log_path.read_text(errors="replace")
        except OSError:
            return ""


def settle(timeout=60):
    """Waits until every Windows process of the prefix has ended (whatever the launcher
    started included) and the wineserver is gone; then "nothing was started" is final."""
    try:
        subprocess.run(["wineserver", "-w"], env=wine_env(), timeout=timeout,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        kill_wine()


def kill_wine():
    subprocess.run(["wineserver", "-k"], env=wine_env(), timeout=60,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


DESIGN_DPI = 96


def set_display_dpi(dpi):
    """Sets the resolution (LogPixels) the prefix's next programs see, once Wine is quiet."""
    subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "wine_fixture.sh"), "dpi",
                    str(dpi)], env=wine_env(), timeout=300, check=True, stdin=subprocess.DEVNULL)


def start_server(factory, timeout=120):
    """Enters the server `factory()` makes. The update port is fixed, and on a shared
    machine another test run may hold it for a while: try again until `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        server = factory()
        try:
            return server.__enter__()
        except RuntimeError:
            if time.monotonic() >= deadline:
                raise
            time.sleep(1.0)


# ---- the display ---------------------------------------------------------------------

def xdotool(*args, timeout=20):
    result = subprocess.run(["xdotool", *args], capture_output=True, text=True,
                            timeout=timeout, stdin=subprocess.DEVNULL)
    return result.stdout if result.returncode == 0 else ""


def find_windows(title):
    """Ids of the mapped windows whose title is exactly `title`."""
    out = xdotool("search", "--onlyvisible", "--name", f"^{title}$")
    return [int(w) for w in out.split()]


def find_window(title, timeout, launch=None):
    """The first visible window titled `title` within `timeout` s, or None (also as soon
    as `launch` ended)."""
    def look():
        found = find_windows(title)
        if found:
            return found[0]
        if launch is not None and not launch.running():
            return -1
        return None
    wid = wait_until(look, timeout)
    return wid if wid and wid > 0 else None


def window_geometry(wid):
    """(x, y, width, height) of a window on the screen, or None when it is gone."""
    out = xdotool("getwindowgeometry", "--shell", str(wid))
    values = dict(line.split("=", 1) for line in out.split() if "=" in line)
    try:
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
    except KeyError:
        return None


def screen_size():
    width, height = xdotool("getdisplaygeometry").split()
    return int(width), int(height)


def press_return(wid):
    xdotool("key", "--window", str(wid), "Return")


class Image:
    """An RGB picture: a screenshot or the launcher's bitmap."""

    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def crop(self, x, y, width, height):
        rows = []
        for row in range(y, y + height):
            i = (row * self.width + x) * 3
            rows.append(self.rgb[i:i + width * 3])
        return Image(width, height, b"".join(rows))

    def ppm(self):
        return b"P6\n%d %d\n255\n" % (self.width, self.height) + self.rgb

    def save(self, path):
        """Writes the picture as PNG (through ImageMagick) and returns the path."""
        subprocess.run(["convert", "ppm:-", f"png:{path}"], input=self.ppm(), check=True,
                       timeout=60)
        return path

    @staticmethod
    def from_ppm(data):
        # P6, then width, height and maxval separated by whitespace (no comments from
        # ImageMagick), one whitespace byte, then the pixels.
        fields, pos = [], 0
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not data[pos:pos + 1].isspace():
                pos += 1
            fields.append(data[start:pos])
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError("not an 8-bit binary PPM")
        width, height = int(fields[1]), int(fields[2])
        return Image(width, height, data[pos + 1:pos + 1 + width * height * 3])

    @staticmethod
    def from_bmp(data):
        """A 24-bit uncompressed Windows bitmap, bottom-up or top-down rows."""
        if data[:2] != b"BM":
            raise ValueError("not a bitmap")
        offset = struct.unpack_from("<I", data, 10)[0]
        width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
        if bits != 24 or compression != 0:
            raise ValueError("not a 24-bit uncompressed bitmap")
        stride = (width * 3 + 3) & ~3
        rows = []
        for y in range(abs(height)):
            src = abs(height) - 1 - y if height > 0 else y
            row = data[offset + src * stride: offset + src * stride + width * 3]
            # BGR to RGB
            rows.append(bytes(b for i in range(0, len(row), 3) for b in row[i:i + 3][::-1]))
        return Image(width, abs(height), b"".join(rows))


def screenshot(area=None):
    """The screen (or the area (x, y, width, height) of it) as an Image."""
    args = ["import", "-silent", "-window", "root"]
    if area:
        x, y, w, h = area
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    result = subprocess.run(args + ["-depth", "8", "ppm:-"], capture_output=True, timeout=60,
                            stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        raise RuntimeError("import failed: " + result.stderr.decode(errors="replace"))
    return Image.from_ppm(result.stdout)


def launcher_picture():
    """The launcher's picture from the source tree (the bitmap the window is cut to), or
    None when the tree holds no 200x98 bitmap."""
    for path in sorted(glob.glob(str(SOURCE_DIR / "src" / "window" / "assets" / "**" / "*.bmp"),
                                 recursive=True)):
        try:
            picture = Image.from_bmp(Path(path).read_bytes())
        except (ValueError, struct.error):
            continue
        if (picture.width, picture.height) == WINDOW_SIZE:
            return picture
    return None


def box_text():
    """The text of the visible "Error Launching" box, read through Wine, or None."""
    probe = os.environ.get("GORBOX_PROBE")
    if not probe:
        return None
    out_path = artifacts_dir() / "box_probe.out"
    with open(out_path, "wb") as out:
        result = subprocess.run(["wine", probe, BOX_TITLE], env=wine_env(), timeout=60,
                                stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL)
    if result.returncode != 0:
        return None
    return out_path.read_bytes().decode("utf-8", errors="replace")


class ScreenReader:
    """Listens, through gorreader_probe, as a screen reader would while the launcher runs; on
    leaving, `heard` holds the names it announced, in order."""

    def __enter__(self):
        self.proc = subprocess.Popen(["wine", os.environ["GORREADER_PROBE"]], env=wine_env(),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        if self.proc.stdout.readline().strip() != b"listening":
            raise RuntimeError("gorreader_probe did not start listening")
        return self

    def __exit__(self, *exc):
        out, _ = self.proc.communicate(timeout=60)  # it ends with the launcher
        self.heard = out.decode("utf-8", errors="replace").splitlines()


def is_red(rgb):
    r, g, b = rgb
    return r >= 150 and g <= 90 and b <= 90


def is_light(rgb):
    # The label texts are light (pale cyan, pale green) on the picture's dark panel.
    return sum(rgb) >= 400


def count_pixels(shot, rect, predicate, picture=None):
    """Pixels of a window screenshot inside rect (x0, y0, x1, y1) for which predicate holds,
    and that differ from the launcher's picture when one is given."""
    x0, y0, x1, y1 = rect
    n = 0
    for y in range(y0, min(y1, shot.height)):
        for x in range(x0, min(x1, shot.width)):
            p = shot.pixel(x, y)
            if picture is not None and p == picture.pixel(x, y):
                continue
            if predicate(p):
                n += 1
    return n


class Watch:
    """What the screen showed while a launch ran, sampled every few tenths of a second:
    whether the launcher window and the box appeared, and whether the status line ever
    showed red text or the percentage line showed text. Keeps one sample of each."""

    def __init__(self, picture=None):
        self.picture = picture
        self.window = None
        self.geometry = None
        self.box_seen = False
        self.red_status = None      # first window screenshot with red status text
        self.percent_text = None    # first window screenshot with a percentage line
        self.last = None

    def look(self):
        if self.window is None:
            found = find_windows(LAUNCHER_TITLE)
            if found:
                self.window = found[0]
        if find_windows(BOX_TITLE):
            self.box_seen = True
        if self.window is None:
            return
        geometry = window_geometry(self.window)
        if geometry is None:
            return
        self.geometry = geometry
        x, y, w, h = geometry
        try:
            shot = screenshot((x, y, w, h))
        except (RuntimeError, subprocess.TimeoutExpired, ValueError):
            return
        if (shot.width, shot.height) != (w, h):
            return
        self.last = shot
        if self.red_status is None and count_pixels(shot, STATUS_RECT, is_red, self.picture) >= 8:
            self.red_status = shot
        if self.percent_text is None and count_pixels(shot, PERCENT_ONLY_RECT, is_light,
                                                      self.picture) >= 8:
            self.percent_text = shot

    def follow(self, launch, timeout=RUN_DEADLINE, interval=0.3):
        """Looks until the launch ends or `timeout` passed; returns its exit code, or None
        when it still runs."""
        deadline = time.monotonic() + timeout
        while launch.running() and time.monotonic() < deadline:
            self.look()
            time.sleep(interval)
        return None if launch.running() else launch.wait()


class WineTestCase(unittest.TestCase):
    """Base of the end-to-end tests: fresh folders, a decoy working folder, a launcher run
    under Wine and the checks every test needs."""

    def setUp(self):
        env_path("GORLAUNCH_EXE")
        env_path("WINEPREFIX")
        self.folders = []
        self.launches = []
        # The launcher runs with this as its current folder. It holds an updater and a
        # new updater of its own: a launcher that looked here instead of beside its
        # executable would take the wrong road and start the wrong program.
        self.decoy = Folder("elsewhere")
        self.decoy.exe.unlink()
        self.decoy.put_standin("gorupd.exe", b"decoy-exe")
        self.decoy.put_standin("gorupd.new", b"decoy-new")
        self.decoy_names = self.decoy.names()

    def tearDown(self):
        for launch in self.launches:
            if launch.running():
                launch.kill()
                kill_wine()
        for folder in self.folders + [self.decoy]:
            folder.remove()

    def new_folder(self, name="launcher"):
        folder = Folder(name)
        self.folders.append(folder)
        return folder

    def launch(self, folder):
        launch = Launch(folder, cwd=self.decoy.path)
        self.launches.append(launch)
        return launch

    def run_launcher(self, folder, timeout=RUN_DEADLINE):
        """Runs the launcher to its end without looking at the screen; returns its exit code
        once every process it may have started has ended too."""
        launch = self.launch(folder)
        code = launch.wait(timeout)
        settle()
        return code

    def finish(self, launch, timeout=RUN_DEADLINE):
        code = launch.wait(timeout)
        settle()
        return code

    def assertDecoyUntouched(self):
        self.assertEqual(self.decoy.names(), self.decoy_names,
                         "the launcher touched its working folder instead of its own")
        self.assertEqual(self.decoy.standin_runs(), [], "a program in the working folder was started")

    def assertStartedOnce(self, folder):
        """The stand-in in the folder ran exactly once as gorupd.exe, in its own folder (the
        launcher runs in another one); returns its command line."""
        runs = folder.standin_runs()
        self.assertEqual(len(runs), 1, f"expected one start of the updater, got {runs}")
        module, command_line, working_folder = runs[0]
        expected = windows_path(folder.file("gorupd.exe"))
        self.assertEqual(module, expected)
        self.assertEqual(working_folder, windows_path(folder.path))
        # Either form names exactly our updater: the path alone (with the program passed
        # separately) or the quoted path, which cannot be split at a space.
        self.assertIn(command_line.strip(), (expected, f'"{expected}"'))
        self.assertDecoyUntouched()
        return command_line

    def assertNothingStarted(self, folder):
        self.assertEqual(folder.standin_runs(), [], "an updater was started")
        self.assertDecoyUntouched()

    def save(self, image, name):
        path = artifacts_dir() / f"{self.id().split('.')[-1]}-{name}.png"
        return image.save(path)
