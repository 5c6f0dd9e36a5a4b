"""The level-of-detail terrain against the full mesh: kelta-shot pictures of the same poses,
drawn both ways, differ in at most 1% of their pixels by more than 8 levels."""
import os
import subprocess
import tempfile
import unittest

import images
from harness import DATA_DIR, DATAGEN, SANITIZED, XServer

SHOT = os.environ.get("KELTA_SHOT", "kelta-shot")
TIMEOUT = 900 if SANITIZED else 180
LARGEST_SHARE = 0.01

# The start pose, low over the lake, high above the land, and along the map's western edge.
POSES_512 = {
    "start": [],
    "lake": ["--position", "90,1.5,-90", "--direction", "1,0.02,-1"],
    "high": ["--position", "40,120,-40", "--direction", "1,-0.9,-1"],
    "edge": ["--position", "2,12,-10", "--direction", "0.05,-0.1,-1"],
}
POSES_4096 = {
    "start": [],
    "lake": ["--position", "1500,1.5,-1500", "--direction", "1,0.02,-1"],
    "high": ["--position", "1000,120,-1000", "--direction", "1,-0.9,-1"],
    "edge": ["--position", "2,12,-10", "--direction", "0.05,-0.1,-1"],
}


def share_off(a, b):
    off = 0
    pa, pb = a.pixels, b.pixels
    for i in range(0, len(pa), 3):
        if max(abs(pa[i] - pb[i]), abs(pa[i + 1] - pb[i + 1]), abs(pa[i + 2] - pb[i + 2])) > images.PIXEL_TOLERANCE:
            off += 1
    return off / (a.width * a.height)


class LevelOfDetailTest(unittest.TestCase):
    def compare(self, server, work, map_args, poses):
        for name, pose in poses.items():
            with self.subTest(name):
                pictures = []
                for lod in ([], ["--lod"]):
                    path = os.path.join(work, f"{name}{'-lod' if lod else ''}.png")
                    result = subprocess.run([SHOT, *lod, *map_args, *pose, "--output", path], cwd=DATA_DIR,
                                            env=server.env(), capture_output=True, text=True, timeout=TIMEOUT)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                    pictures.append(images.read(path))
                share = share_off(*pictures)
                print(f"{map_args or ['default map']} {name}: {share:.4%} of pixels off by more than "
                      f"{images.PIXEL_TOLERANCE} levels")
                self.assertLessEqual(share, LARGEST_SHARE)

    def test_default_map_looks_the_same(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            self.compare(server, work, [], POSES_512)

    @unittest.skipIf(SANITIZED, "a 4096 map's full mesh takes too long under the sanitizers")
    def test_large_16_bit_map_looks_the_same(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            subprocess.run([DATAGEN, "--output", work, "--only-map", "--map-size", "4096", "--map-format", "png16"],
                           check=True, capture_output=True, timeout=TIMEOUT)
            self.compare(server, work, ["--map", os.path.join(work, "Maps", "Lake_4096.png")], POSES_4096)


if __name__ == "__main__":
    unittest.main()
