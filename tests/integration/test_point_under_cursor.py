"""The I key of the real program: the point under the cursor on a real UTM elevation map, as one line
on standard output and on the clipboard, for the map drawn as one mesh, with level of detail and
streamed."""
import re
import subprocess
import time
import unittest

from elevation import OLINDA, Grid, gdal
from harness import Kelta, XServer

POINT_LINE = re.compile(r"^Point: (-?\d+\.\d), (-?\d+\.\d) \((-?\d+\.\d{5}), (-?\d+\.\d{5})\), (-?\d+\.\d) m$")


def wait_for_points(kelta, count, timeout=60):
    """The "Point: " lines once there are `count` of them, or those there are when time runs out."""
    deadline = time.time() + timeout
    while time.time() < deadline and kelta.process.poll() is None:
        points = [line for line in kelta.output() if line.startswith("Point: ")]
        if len(points) >= count:
            return points
        time.sleep(0.05)
    return [line for line in kelta.output() if line.startswith("Point: ")]


class PointUnderCursor(unittest.TestCase):
    def test_i_says_where_the_ground_under_the_cursor_lies(self):
        info = gdal("gdalinfo", OLINDA)
        origin = [float(v) for v in re.search(r"Origin = \(([-\d.]+),([-\d.]+)\)", info).groups()]
        pixel = float(re.search(r"Pixel Size = \(([-\d.]+),", info).group(1))
        grid = Grid(OLINDA)
        for way in ([], ["--lod"], ["--stream"]):
            with self.subTest(way=way), XServer() as server:
                kelta = Kelta(server, [*way, OLINDA])
                self.assertTrue(kelta.started(), kelta.output()[-5:])
                # The camera starts at the map's south-western corner looking north-east over it at
                # the height of its highest ground. With mouse-look off, the cursor moves freely:
                # below the middle it points at the ground ahead; near the top, at the sky. Each line
                # is awaited before the cursor moves on, since the key is handled a frame later, where
                # the cursor is then.
                kelta.key("m")
                self.assertTrue(kelta.wait_for_frames())
                server.xdotool("mousemove", "--window", kelta.window, 400, 560)
                self.assertTrue(kelta.wait_for_frames())
                kelta.key("i")
                points = wait_for_points(kelta, 1)
                # The program serves its clipboard while it runs.
                clipboard = subprocess.run(["xclip", "-o", "-selection", "clipboard"], env=server.env(),
                                           capture_output=True, text=True, timeout=30).stdout
                server.xdotool("mousemove", "--window", kelta.window, 400, 20)
                self.assertTrue(kelta.wait_for_frames())
                kelta.key("i")
                points = wait_for_points(kelta, 2)
                self.assertEqual(kelta.quit(), 0)

                self.assertEqual(len(points), 2, kelta.output()[-5:])
                self.assertEqual(points[1], "Point: off the map")
                match = POINT_LINE.match(points[0])
                self.assertTrue(match, points[0])
                self.assertEqual(clipboard, points[0][len("Point: "):])
                easting, northing, latitude, longitude, metres = map(float, match.groups())
                # Where the sample under it lies, columns east and rows north of the south-western one.
                column = (easting - origin[0]) / pixel - 0.5
                row = grid.height - 1 - ((origin[1] - northing) / pixel - 0.5)
                self.assertTrue(0 <= column < 40 and 0 <= row < 40, (column, row))
                self.assertLess(abs(column - row), 20, "ahead of a camera looking north-east")
                # The latitude and longitude are GDAL's own of the map coordinates printed, in UTM zone
                # 25 south (the map's GRS 80 differs from WGS 84 by far less than is printed).
                expected = subprocess.run(["gdaltransform", "-s_srs", "EPSG:32725", "-t_srs", "EPSG:4326", "-output_xy"],
                                          input=f"{easting} {northing}\n", capture_output=True, text=True,
                                          check=True).stdout.split()
                self.assertAlmostEqual(longitude, float(expected[0]), places=4)
                self.assertAlmostEqual(latitude, float(expected[1]), places=4)
                # The elevation is the ground's between the samples around the point (the sea's
                # surface where they lie below it).
                around = [max(value, 0.0) for value in grid.cell(int(column), int(row))]
                self.assertLessEqual(min(around) - 0.1, metres)
                self.assertLessEqual(metres, max(around) + 0.1)


if __name__ == "__main__":
    unittest.main()
