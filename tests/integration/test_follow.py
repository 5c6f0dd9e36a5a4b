"""kelta --follow through the real program: a GPS track over the Olinda map flown from the first
frame to its end and drawn on the ground in its colour, and the tracks and options it refuses, each
in one line."""
import os
import subprocess
import tempfile
import unittest

import harness
from elevation import OLINDA
from harness import DATA_DIR, Kelta, XServer

# Three points inside the map as longitude and latitude on WGS 84 (gdaltransform from UTM 25 S
# 290000 9112000, 292000 9116000 and 297000 9119000): 4.47 km and then 5.83 km.
TRACK = ((-34.9054355684023, -8.029074935385), (-34.8871287323698, -7.99299611098765),
         (-34.8416598345942, -7.96607814847688))


def write_gpx(path, points):
    with open(path, "w") as stream:
        stream.write('<?xml version="1.0"?>\n<gpx version="1.1" creator="kelta tests" '
                     'xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>')
        stream.writelines(f'<trkpt lat="{lat!r}" lon="{lon!r}"/>' for lon, lat in points)
        stream.write("</trkseg></trk></gpx>\n")


def is_track_colour(red, green, blue):
    """The track's magenta after the tone curve; grass, water, sky and clouds never come near."""
    return red > 180 and blue > 150 and green < 170 and red - green > 60


class FollowingATrack(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(prefix="kelta-follow-")
        self.track = os.path.join(self.folder.name, "walk.gpx")
        write_gpx(self.track, TRACK)

    def tearDown(self):
        self.folder.cleanup()

    # Faults caught: the flight not started by --follow or never ended, the log line's distance,
    # height or speed wrong (10.3 km between the points in UTM metres), and the track not drawn, drawn
    # under the ground or in the measured path's colour.
    def test_flies_the_track_from_the_first_frame_to_its_end_with_the_track_drawn(self):
        with XServer() as server:
            # 10.3 km at 3600 km/h: some 10 s, long enough for a picture on the way.
            kelta = Kelta(server, ["--follow", self.track, "--follow-speed", "3600", OLINDA])
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            self.assertIn(f"Following {self.track} (tracks, 3 points): 10.3 km, 100 m above the ground at "
                          "3600 km/h, 10 s", kelta.output())
            picture = kelta.capture(os.path.join(self.folder.name, "flying.png"))
            pixels = picture.pixels
            rows = {index // 3 // picture.width for index in range(0, len(pixels), 3)
                    if is_track_colour(*pixels[index:index + 3])}
            # The track runs from under the eye into the distance: a line over many rows.
            self.assertGreater(len(rows), picture.height // 3, "the track's line is not drawn on the ground")
            self.assertTrue(kelta.wait_for_line("Flight ended"), kelta.output()[-5:])
            self.assertEqual(kelta.quit(), 0)

    # Faults caught: a map without a place on the Earth followed as if it had one, and options that
    # make no sense together let through; each must end the program with its one line naming what
    # is at fault and exit code 1 (the track's other refusals are its reader's, tested on their own).
    def test_refuses_what_cannot_be_followed_in_one_line(self):
        cases = [
            ("an image map", ["--follow", self.track],
             f"Could not follow {self.track}: --follow needs a map with a place on the Earth, and "
             "Maps\\Lake_512.bmp has none"),
            ("a height without a track", ["--follow-height", "50", OLINDA],
             "--follow-height and --follow-speed need --follow TRACK (see kelta --help)"),
            ("a path played at once", ["--play", "flight.json", "--follow", self.track, OLINDA],
             "--play and --follow cannot fly at once (see kelta --help)"),
        ]
        with XServer() as server:
            for name, args, line in cases:
                with self.subTest(name):
                    result = subprocess.run([harness.BINARY, *args], cwd=DATA_DIR, env=server.env(),
                                            capture_output=True, text=True, timeout=harness.FRAME_TIMEOUT)
                    self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                    self.assertEqual(result.stdout.splitlines()[-1], line)
                    self.assertEqual(result.stderr, "")


if __name__ == "__main__":
    unittest.main()
