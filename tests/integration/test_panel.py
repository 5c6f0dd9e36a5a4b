"""The panel through real X events: F1 shows it over the top left of the picture, leaving the rest
as it was, and hides it again; Ctrl and a click lays a path that is drawn on the ground;
kelta-shot --panel draws the same panel over a still."""
import os
import tempfile
import unittest

import images
from harness import Kelta, XServer, shot


def region(picture, x0, y0, x1, y1):
    rows = []
    for y in range(y0, y1):
        start = (y * picture.width + x0) * 3
        rows.append(picture.pixels[start:start + (x1 - x0) * 3])
    return images.Image(x1 - x0, y1 - y0, b"".join(rows))


def yellow_pixels(picture):
    """Pixels of the path's yellow-orange: strong red and green, little blue."""
    p = picture.pixels
    return sum(1 for i in range(0, len(p), 3) if p[i] > 200 and p[i + 1] > 150 and p[i + 2] < 90)


class Panel(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name + ".png")

    def test_f1_shows_the_panel_over_the_top_left_of_the_picture_and_hiding_it_restores_the_view(self):
        # Catches a panel drawn through bloom or over the whole picture, or left drawn once hidden.
        # The cursor it frees and the mouse-look it restores are the key callback's, tested there.
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            # The sky's top quarter, which no animation moves.
            before = kelta.capture(self.path("before"))
            kelta.key("F1")
            kelta.wait_for_frames()
            shown = kelta.capture(self.path("shown"))
            self.assertFalse(images.matches(region(shown, 0, 0, 200, 150), region(before, 0, 0, 200, 150)),
                             "no panel at the top left")
            self.assertTrue(images.matches(region(shown, 500, 0, 800, 150), region(before, 500, 0, 800, 150)),
                            "the panel changed the picture beside it")
            kelta.key("F1")
            kelta.wait_for_frames()
            hidden = kelta.capture(self.path("hidden"))
            self.assertTrue(images.matches(region(hidden, 0, 0, 800, 150), region(before, 0, 0, 800, 150)))
            self.assertEqual(kelta.quit(), 0)

    def test_ctrl_and_a_click_lays_a_path_drawn_on_the_ground(self):
        # Catches clicks that never reach the path, a path picked off the ground, or one not drawn.
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            kelta.key("m")
            kelta.wait_for_frames()
            before = kelta.capture(self.path("no-path"))
            self.assertEqual(yellow_pixels(region(before, 250, 350, 650, 550)), 0)
            for x, y in ((300, 450), (600, 480)):
                server.xdotool("mousemove", x, y)
                kelta.wait_for_frames()
                server.xdotool("keydown", "ctrl", "click", 1, "keyup", "ctrl")
                kelta.wait_for_frames()
            laid = kelta.capture(self.path("path"))
            self.assertGreater(yellow_pixels(region(laid, 250, 350, 650, 550)), 200)
            self.assertEqual(kelta.quit(), 0)

    def test_a_still_with_the_panel_differs_from_one_without_only_where_the_panel_lies(self):
        # Catches a still that cannot show the panel, or whose panel covers the picture.
        with XServer() as server:
            plain, panel = self.path("plain"), self.path("panel")
            code, _, err = shot(server, "--output", plain)
            self.assertEqual(code, 0, err)
            code, _, err = shot(server, "--output", panel, "--panel", "--cursor", "600,450")
            self.assertEqual(code, 0, err)
            a, b = images.read(plain, server.env()), images.read(panel, server.env())
            self.assertFalse(images.matches(region(a, 0, 0, 200, 150), region(b, 0, 0, 200, 150)))
            self.assertEqual(region(a, 500, 0, 800, 600).pixels, region(b, 500, 0, 800, 600).pixels)


if __name__ == "__main__":
    unittest.main()
