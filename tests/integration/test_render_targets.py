"""Render-target log lines of the real program: start-up, a real window resize, and window sizes
too small for the quarter-size blur targets."""
import os
import re
import tempfile
import time
import unittest

from harness import Kelta, XServer, resize_lines

CREATED = re.compile(r"^Created new FBO \((\d+)(, multisampled)?\)$")
UPDATED = re.compile(r"^Updated FBO \((\d+)(, multisampled)?\) with size: (\d+) by (\d+)$")


def is_fbo_line(line):
    return bool(CREATED.match(line) or UPDATED.match(line))


def wait_for_fbo_lines(kelta, count, timeout=60):
    """Waits until the program has written at least count render-target lines; returns them all."""
    deadline = time.time() + timeout
    while time.time() < deadline and kelta.process.poll() is None:
        lines = [line for line in kelta.output() if is_fbo_line(line)]
        if len(lines) >= count:
            return lines
        time.sleep(0.05)
    return [line for line in kelta.output() if is_fbo_line(line)]


def start_up_names(test, lines):
    """Checks the eight start-up lines and returns the framebuffer names in creation order."""
    test.assertEqual(len(lines), 8, lines)
    created = [CREATED.match(line) for line in lines[0::2]]
    test.assertTrue(all(created), lines)
    names = [match.group(1) for match in created]
    test.assertEqual([bool(match.group(2)) for match in created], [False, True, False, False], lines)
    test.assertEqual(len(set(names)), 4, lines)
    width, height = (int(value) for value in UPDATED.match(lines[1]).group(3, 4))
    test.assertEqual(lines[1::2], resize_lines(names, width, height), lines)
    return names, width, height


class RenderTargets(unittest.TestCase):
    def test_start_up_and_window_resize_log_every_target_with_its_driver_name(self):
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            output = kelta.output()
            first = next(i for i, line in enumerate(output) if is_fbo_line(line))
            # The eight lines stand together, before the main loop starts.
            self.assertLess(first + 8, output.index("Main loop started"))
            names, width, height = start_up_names(self, output[first:first + 8])
            self.assertEqual((width, height), (800, 600))

            kelta.resize(1023, 767)
            lines = wait_for_fbo_lines(kelta, 12)
            self.assertEqual(lines[8:], [f"Updated FBO ({names[0]}) with size: 1023 by 767",
                                         f"Updated FBO ({names[1]}, multisampled) with size: 1023 by 767",
                                         f"Updated FBO ({names[2]}) with size: 255 by 191",
                                         f"Updated FBO ({names[3]}) with size: 255 by 191"])
            self.assertEqual(kelta.quit(), 0)

    def test_tiny_and_minimised_windows_keep_the_program_running(self):
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            names, _, _ = start_up_names(self, wait_for_fbo_lines(kelta, 8)[:8])

            expected = []
            for width, height in [(2, 2), (1, 1), (3, 700)]:
                kelta.resize(width, height)
                expected += resize_lines(names, width, height)
                self.assertEqual(wait_for_fbo_lines(kelta, 8 + len(expected))[8:], expected)
                self.assertIsNone(kelta.process.poll(), kelta.output())

            # Without a window manager the request to iconify changes nothing; it must not harm.
            server.xdotool("windowminimize", kelta.window)
            self.assertTrue(kelta.wait_for_frames())
            kelta.resize(640, 480)
            expected += resize_lines(names, 640, 480)
            self.assertEqual(wait_for_fbo_lines(kelta, 8 + len(expected))[8:], expected)
            self.assertIsNone(kelta.process.poll(), kelta.output())
            server.xdotool("windowfocus", "--sync", kelta.window)
            self.assertEqual(kelta.quit(), 0)

    def test_window_beyond_the_device_limit_clamps_the_targets_and_stays_filled(self):
        # Xvfb's software rasteriser draws at most 16384 pixels on a side.
        largest = 16384
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            names, _, _ = start_up_names(self, wait_for_fbo_lines(kelta, 8)[:8])
            kelta.resize(20000, 100)
            expected = resize_lines(names, largest, 100)
            self.assertEqual(wait_for_fbo_lines(kelta, 12)[8:], expected)
            picture = kelta.capture(os.path.join(folder, "wide.png"))
            self.assertIsNone(kelta.process.poll(), kelta.output()[-5:])
            self.assertGreater(sum(picture.pixels) / len(picture.pixels), 10, "the window is black")
            self.assertEqual(kelta.quit(), 0)


if __name__ == "__main__":
    unittest.main()
