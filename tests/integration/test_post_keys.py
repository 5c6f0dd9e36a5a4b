"""The bloom keys of the real program driven by real X key events: B cycles the four views,
comma and period step the threshold, or the gain while Left Shift is held; Page Up and Page Down
step the exaggeration."""
import ctypes
import ctypes.util
import math
import os
import shutil
import tempfile
import time
import unittest

import elevation
import images
from harness import KEY_GAP_SECONDS, Kelta, XServer, shot

VIEW_NAMES = ("Bloom enabled", "Bloom disabled", "Bright texture", "Smoothed bloom texture")
KEY_PRESS = 2
KEY_PRESS_MASK = 1


def key_lines(kelta):
    return [line for line in kelta.output()
            if line in VIEW_NAMES or line.startswith(("Bloom gain: ", "Bloom threshold: "))]


def wait_for_key_lines(kelta, count, timeout=60):
    deadline = time.time() + timeout
    while len(key_lines(kelta)) < count and time.time() < deadline and kelta.process.poll() is None:
        time.sleep(0.05)
    return key_lines(kelta)


class Display:
    """A connection of our own to the test's X server, through Xlib and its XTEST extension."""

    def __init__(self, server):
        self.xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xtest = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        x, c = self.xlib, ctypes
        x.XOpenDisplay.restype = c.c_void_p
        x.XOpenDisplay.argtypes = [c.c_char_p]
        x.XDefaultRootWindow.restype = c.c_ulong
        x.XDefaultRootWindow.argtypes = [c.c_void_p]
        x.XCreateSimpleWindow.restype = c.c_ulong
        x.XCreateSimpleWindow.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_int, c.c_uint, c.c_uint,
                                          c.c_uint, c.c_ulong, c.c_ulong]
        x.XSelectInput.argtypes = [c.c_void_p, c.c_ulong, c.c_long]
        x.XMapWindow.argtypes = [c.c_void_p, c.c_ulong]
        x.XDestroyWindow.argtypes = [c.c_void_p, c.c_ulong]
        x.XSync.argtypes = [c.c_void_p, c.c_int]
        x.XPending.argtypes = [c.c_void_p]
        x.XNextEvent.argtypes = [c.c_void_p, c.c_void_p]
        x.XCloseDisplay.argtypes = [c.c_void_p]
        x.XStringToKeysym.restype = c.c_ulong
        x.XStringToKeysym.argtypes = [c.c_char_p]
        x.XKeysymToKeycode.restype = c.c_ubyte
        x.XKeysymToKeycode.argtypes = [c.c_void_p, c.c_ulong]
        self.xtest.XTestFakeKeyEvent.argtypes = [c.c_void_p, c.c_uint, c.c_int, c.c_ulong]
        self.server = server
        self.display = x.XOpenDisplay(server.display.encode())
        if not self.display:
            raise RuntimeError("cannot open " + server.display)

    def close(self):
        self.xlib.XCloseDisplay(self.display)

    def chord(self, *names):
        """Presses the keys in order and releases them in reverse, by keycode: xdotool would turn a
        right Shift into the left one, the first key of the Shift modifier."""
        codes = [self.xlib.XKeysymToKeycode(self.display, self.xlib.XStringToKeysym(name.encode()))
                 for name in names]
        for code in codes:
            self.xtest.XTestFakeKeyEvent(self.display, code, 1, 0)
        for code in reversed(codes):
            self.xtest.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.xlib.XSync(self.display, 0)
        time.sleep(KEY_GAP_SECONDS)

    def presses_while_held(self, key, seconds):
        """Holds the key over a bare window of our own and counts the key presses it receives:
        more than one means that the server repeats held keys, as a real keyboard would."""
        window = self.xlib.XCreateSimpleWindow(self.display, self.xlib.XDefaultRootWindow(self.display),
                                               0, 0, 64, 64, 0, 0, 0)
        self.xlib.XSelectInput(self.display, window, KEY_PRESS_MASK)
        self.xlib.XMapWindow(self.display, window)
        self.xlib.XSync(self.display, 0)
        self.server.xdotool("windowfocus", "--sync", window)
        self.server.xdotool("keydown", key)
        time.sleep(seconds)
        self.server.xdotool("keyup", key)
        self.xlib.XSync(self.display, 0)

        presses = 0
        event = (ctypes.c_long * 24)()  # an XEvent is 24 longs; its first int is the type
        while self.xlib.XPending(self.display):
            self.xlib.XNextEvent(self.display, event)
            if ctypes.cast(event, ctypes.POINTER(ctypes.c_int))[0] == KEY_PRESS:
                presses += 1
        self.xlib.XDestroyWindow(self.display, window)
        return presses


class BloomKeys(unittest.TestCase):
    def test_b_cycles_the_four_views_once_per_press_even_when_held(self):
        with XServer() as server:
            # Holding a key means something only where the server repeats it.
            display = Display(server)
            self.assertGreater(display.presses_while_held("b", 1.5), 3)
            display.close()

            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            kelta.key("b", "b", "b", "b")
            self.assertEqual(wait_for_key_lines(kelta, 4),
                             ["Bloom disabled", "Bright texture", "Smoothed bloom texture", "Bloom enabled"])

            kelta.key_down("b")
            time.sleep(2.0)  # long enough for the server to repeat the key many times
            kelta.key_up("b")
            # The period's line shows that every event of the hold has been handled.
            kelta.key("period")
            self.assertEqual(wait_for_key_lines(kelta, 6)[4:], ["Bloom disabled", "Bloom threshold: 0.35"])
            self.assertTrue(kelta.wait_for_frames())
            self.assertEqual(len(key_lines(kelta)), 6, key_lines(kelta))
            self.assertEqual(kelta.quit(), 0)

    def test_comma_lowers_the_threshold_in_single_precision_steps_and_stops_at_zero(self):
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            kelta.key(*["comma"] * 8)
            kelta.key("period")
            expected = ["0.25", "0.2", "0.15", "0.1", "0.05", "7.45058e-09", "0", "0", "0.05"]
            self.assertEqual(wait_for_key_lines(kelta, 9), ["Bloom threshold: " + value for value in expected])
            self.assertEqual(kelta.quit(), 0)

    def test_left_shift_steps_the_gain_and_right_shift_the_threshold(self):
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            kelta.key(*["shift+comma"] * 5)
            kelta.key("shift+period")
            gains = ["0.75", "0.5", "0.25", "0", "0", "0.25"]
            self.assertEqual(wait_for_key_lines(kelta, 6), ["Bloom gain: " + value for value in gains])

            display = Display(server)
            display.chord("Shift_R", "comma")
            display.chord("Shift_R", "period")
            display.chord("Shift_R", "period")
            display.chord("Shift_L", "period")
            display.close()
            self.assertEqual(wait_for_key_lines(kelta, 10)[6:],
                             ["Bloom threshold: 0.25", "Bloom threshold: 0.3", "Bloom threshold: 0.35",
                              "Bloom gain: 0.5"])
            self.assertEqual(kelta.quit(), 0)


class ExaggerationKeys(unittest.TestCase):
    def test_page_up_and_down_step_the_exaggeration_by_a_factor_of_one_and_a_quarter(self):
        # Faults caught: a key that does nothing, steps by another factor, or prints no line.
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            kelta.key("Page_Up")
            self.assertTrue(kelta.wait_for_line("Exaggeration: 1.25"), kelta.output())
            kelta.key("Page_Up", "Page_Down", "Page_Down", "Page_Down")
            self.assertTrue(kelta.wait_for_line("Exaggeration: 0.8"), kelta.output())
            lines = [line for line in kelta.output() if line.startswith("Exaggeration: ")]
            self.assertEqual(lines, ["Exaggeration: " + value for value in ("1.25", "1.5625", "1.25", "1", "0.8")])
            self.assertTrue(kelta.wait_for_frames())
            self.assertEqual(kelta.quit(), 0)

    def test_an_elevation_map_exaggerated_by_the_keys_looks_as_when_started_so(self):
        # Faults caught: heights, normals or materials that follow the keys otherwise than the
        # option, in the real program's frame.
        work = tempfile.mkdtemp(prefix="kelta-exaggeration-")
        self.addCleanup(shutil.rmtree, work)
        # Hills from 30 m up to 300 m, 30 m apart, and a 600 m spire in the far corner: the camera
        # starts 20 units up, which stays above the hills, and no water moves.
        path = elevation.write_ascii_grid(os.path.join(work, "hills.asc"), 65, 65, 30.0, lambda column, row: (
            600.0 if (column, row) == (64, 64) else 165.0 + 135.0 * math.sin(column / 7.0) * math.cos(row / 9.0)))
        with XServer() as server:
            kelta = Kelta(server, [path])
            self.assertTrue(kelta.started(), kelta.output())
            kelta.key("Page_Up", "Page_Up")
            self.assertTrue(kelta.wait_for_line("Exaggeration: 1.5625"), kelta.output())
            window = kelta.capture(os.path.join(work, "window.png"))
            self.assertEqual(kelta.quit(), 0)

            picture = os.path.join(work, "shot.png")
            code, lines, errors = shot(server, "--map", path, "--exaggeration", "1.5625", "--position", "0,20,0",
                                       "--direction", "1,0,-1", "--output", picture)
            self.assertEqual(code, 0, "\n".join(lines + errors))
            share, mean = images.difference(window, images.read(picture))
            self.assertTrue(images.within_tolerance(share, mean), f"{share:.2%} of pixels off, mean {mean:.3f}")


if __name__ == "__main__":
    unittest.main()
