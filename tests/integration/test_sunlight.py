"""The sun through the real programs: placed by a time at the map's place (or at --location) or by
its angles, the line that says where it stands, the keys that move its time, the refusal of a
time for a map without a place, and shadows only where a sun is placed."""
import os
import re
import tempfile
import unittest

import elevation
import images
from harness import Kelta, XServer, shot

OLINDA_EVENING = "Sun: azimuth 295.3°, altitude 8.5° (2026-06-21T16:30-03:00 at 8.0° S, 34.9° W)"
SUN_LINE = re.compile(r"^Sun: azimuth \d+\.\d°, altitude -?\d+\.\d°( \(.*\))?$")


class Sunlight(unittest.TestCase):
    def test_a_time_places_the_sun_over_the_maps_centre_and_the_keys_move_it(self):
        with XServer() as server:
            kelta = Kelta(server, ["--sun-time", "2026-06-21T16:30-03:00", elevation.OLINDA])
            self.assertTrue(kelta.started(), kelta.stderr_text)
            self.assertIn(OLINDA_EVENING, kelta.output())
            # A quarter of an hour a press; two hours with Shift.
            steps = [("bracketright", "Sun: azimuth 294.6°, altitude 5.2° (2026-06-21T16:45-03:00 at 8.0° S, 34.9° W)"),
                     ("shift+bracketleft", "Sun: azimuth 303.7°, altitude 31.2° (2026-06-21T14:45-03:00 at 8.0° S, 34.9° W)")]
            for key, line in steps:
                with self.subTest(key=key):
                    kelta.key(key)
                    self.assertTrue(kelta.wait_for_line(line, timeout=60), kelta.output()[-3:])
            kelta.quit()

    def test_a_map_without_a_place_needs_a_location_for_a_time_and_none_for_angles(self):
        with XServer() as server:
            cases = [
                (["--sun-time", "2026-06-21T12:00Z"], 1,
                 "kelta-shot: --sun-time needs --location LAT,LON for a map that has no place on the Earth"),
                (["--sun-time", "2026-06-21T12:00Z", "--location", "48.1,11.6"], 0,
                 "Sun: azimuth 203.7°, altitude 63.8° (2026-06-21T12:00Z at 48.1° N, 11.6° E)"),
                (["--sun", "262,14"], 0, "Sun: azimuth 262.0°, altitude 14.0°"),
                # Angles win over a time, which then needs no place.
                (["--sun", "262,14", "--sun-time", "2026-06-21T12:00Z"], 0, "Sun: azimuth 262.0°, altitude 14.0°"),
            ]
            with tempfile.TemporaryDirectory() as folder:
                for args, code, line in cases:
                    with self.subTest(args=args):
                        result = shot(server, *args, "--size", "64x48", "--output", os.path.join(folder, "a.png"))
                        self.assertEqual(result[0], code, result)
                        self.assertIn(line, result[1] if code == 0 else result[2])

    def test_shadows_darken_the_ground_only_under_a_placed_sun(self):
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            def picture(name, *args):
                path = os.path.join(folder, name + ".png")
                code, out, err = shot(server, *args, "--mode", "4", "--size", "200x150", "--output", path)
                self.assertEqual(code, 0, err)
                return images.read(path)

            today = picture("today")
            self.assertTrue(images.matches(picture("shadows-alone", "--shadows", "on"), today),
                            "shadows without a sun change nothing")
            sun = ("--sun", "262,6")
            shadowed, unshadowed = picture("shadowed", *sun), picture("unshadowed", *sun, "--shadows", "off")
            share, _ = images.difference(shadowed, unshadowed)
            self.assertGreater(share, 0.05, "a low sun casts shadows over the hills")
            darker = sum(a < b - 8 for a, b in zip(shadowed.pixels, unshadowed.pixels))
            brighter = sum(a > b + 8 for a, b in zip(shadowed.pixels, unshadowed.pixels))
            self.assertGreater(darker, 20 * max(brighter, 1), "shadows and the hollows' sky light only darken")


if __name__ == "__main__":
    unittest.main()
