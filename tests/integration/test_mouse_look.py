"""Mouse-look through real X pointer events: only motion made while it is on turns the view; the
capture of the cursor, at start-up or by M, turns nothing, wherever the pointer was and whatever
the size of the screen; with it off, dragging navigates. The view is read from the sky in the top
quarter of the window, which no animation moves."""
import os
import tempfile
import unittest

import images
from harness import Kelta, XServer


def sky(kelta, path):
    picture = kelta.capture(path)
    rows = picture.height // 4
    return images.Image(picture.width, rows, picture.pixels[:picture.width * rows * 3])


def same_view(a, b):
    return images.matches(a, b)


class MouseLook(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        with XServer() as server:
            kelta = Kelta(server)
            assert kelta.started(), kelta.output()[-5:]
            cls.start_view = sky(kelta, os.path.join(cls.folder.name, "reference.png"))
            kelta.quit()

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def path(self, name):
        return os.path.join(self.folder.name, name + ".png")

    def test_capturing_the_cursor_never_turns_the_view(self):
        # (screen size, pointer position before start-up, pointer position while mouse-look is off)
        cases = (((800, 600), (10, 590), (790, 10)),
                 ((1920, 1200), (1900, 1180), (1700, 1000)),
                 ((3000, 2000), (2990, 10), (10, 1990)))
        for (width, height), before_start, while_off in cases:
            with self.subTest(screen=f"{width}x{height}"), XServer(width, height) as server:
                server.xdotool("mousemove", *before_start)
                kelta = Kelta(server)
                self.assertTrue(kelta.started(), kelta.output()[-5:])
                self.assertTrue(same_view(sky(kelta, self.path("started")), self.start_view), "start-up turned")

                kelta.key("m")
                server.xdotool("mousemove", *while_off)
                kelta.wait_for_frames()
                kelta.key("m")
                self.assertTrue(same_view(sky(kelta, self.path("toggled")), self.start_view), "M M turned")

                # Motion while mouse-look is on still turns the view.
                kelta.move_mouse_by(150, 0)
                self.assertFalse(same_view(sky(kelta, self.path("turned")), self.start_view))
                self.assertEqual(kelta.quit(), 0)

    def test_dragging_with_the_left_button_orbits_once_mouse_look_is_off(self):
        # Catches mouse buttons that never reach the view, or that stop the program.
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            kelta.key("m")
            kelta.wait_for_frames()
            # On the ground below the horizon, so that the drag grabs a point to orbit about.
            server.xdotool("mousemove", 400, 450)
            before = sky(kelta, self.path("before-orbit"))
            # Each step is drawn before the next: the press must find the pointer where it began.
            server.xdotool("mousedown", 1)
            kelta.wait_for_frames()
            kelta.move_mouse_by(150, 0)
            kelta.wait_for_frames()
            server.xdotool("mouseup", 1)
            self.assertFalse(same_view(sky(kelta, self.path("orbited")), before), "the drag turned nothing")
            self.assertEqual(kelta.quit(), 0)


if __name__ == "__main__":
    unittest.main()
