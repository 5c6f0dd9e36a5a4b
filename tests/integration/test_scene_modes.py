"""The terrain shading modes of the real program, switched with real key events and checked in
screenshots of its window."""
import os
import subprocess
import tempfile
import unittest

from harness import Kelta, XServer


def rgb_rows(path, top, height):
    """The pixels of rows top to top + height - 1 of a screenshot, as (r, g, b) byte triples."""
    width = int(subprocess.run(["identify", "-format", "%w", path], check=True,
                               capture_output=True, text=True).stdout)
    raw = subprocess.run(["convert", path, "-crop", f"{width}x{height}+0+{top}", "+repage", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    return [tuple(raw[k:k + 3]) for k in range(0, len(raw), 3)]


class ShadingModes(unittest.TestCase):
    def test_keys_switch_between_the_five_modes(self):
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output()[-5:])

            def bottom_rows(name):
                path = os.path.join(folder, name + ".png")
                kelta.capture(path)
                return rgb_rows(path, 500, 100)  # near terrain in the start view

            full = bottom_rows("mode-5-start")
            self.assertTrue(any(r != b for r, g, b in full), "the textured terrain has colour")

            # Height as grey: the near terrain is grey and no bloom tints it.
            kelta.key("3")
            grey = bottom_rows("mode-3")
            self.assertTrue(all(r == g == b for r, g, b in grey), sorted(set(grey))[:5])
            self.assertGreater(sum(r for r, g, b in grey) / len(grey), 40)

            # Points: white dots on black, most pixels black.
            kelta.key("1")
            points = bottom_rows("mode-1")
            black = sum(1 for p in points if p == (0, 0, 0))
            self.assertGreater(black, len(points) // 2)
            self.assertTrue(any(r > 200 and g > 200 and b > 200 for r, g, b in points))

            # Release acts too: 2 pressed while 4 is held, then 2 and 4 released, leaves mode 4.
            kelta.key_down("4")
            kelta.key_down("2")
            kelta.key_up("2")
            kelta.key_up("4")
            lit = bottom_rows("mode-4-after-release")
            self.assertLess(sum(1 for p in lit if p == (0, 0, 0)), len(lit) // 10, "lit surface, not points")
            self.assertTrue(all(r >= b for r, g, b in lit), "untextured, in the warm light colour")

            kelta.key("5")
            again = bottom_rows("mode-5-again")
            self.assertTrue(any(r != b for r, g, b in again))
            self.assertEqual(kelta.quit(), 0)


if __name__ == "__main__":
    unittest.main()
