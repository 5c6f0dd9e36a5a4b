"""The level-of-detail terrain against the full mesh: kelta-shot pictures of the same poses,
drawn both ways, differ in at most 1% of their pixels by more than 8 levels."""
import glob
import math
import os
import struct
import subprocess
import tempfile
import unittest

import images
from elevation import OLINDA
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

# Olinda's start pose on its highest point, and from over the sea towards the coast and the hills.
POSES_OLINDA = {
    "start": [],
    "coast": ["--position", "120,6,-40", "--direction", "-1,-0.25,-0.3"],
}

# From beyond the western border of a hilly map, looking down over it: the border's normals come
# from the opposite border by wrap-around and differ most from their neighbours'.
POSES_BORDER = {
    "border": ["--position", "-30,60,-128", "--direction", "1,-1.2,0.01"],
}


def hilly_border_map(path, side=257):
    """A smooth 16-bit map, raw and top row first, whose borders are as hilly as its middle."""
    def sample(x, y):
        h = 0.5 + 0.25 * math.sin(x / 15.0 + 0.3) * math.cos(y / 18.0) + 0.15 * math.sin((x + y) / 11.0)
        return round(h * 65535)
    with open(path, "wb") as stream:
        stream.write(b"".join(struct.pack("<H", sample(x, y)) for y in range(side) for x in range(side)))


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

    def test_elevation_map_looks_the_same(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            self.compare(server, work, ["--map", OLINDA], POSES_OLINDA)

    def test_a_kept_tree_draws_the_picture_a_built_one_does_until_the_map_changes(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "hilly.r16")
            hilly_border_map(path)
            env = dict(server.env(), XDG_CACHE_HOME=os.path.join(work, "cache"))
            kept_trees = os.path.join(work, "cache", "kelta", "*", "lod-tree")

            def shot(name, cache_env):
                out = os.path.join(work, name + ".png")
                result = subprocess.run([SHOT, "--lod", "--map", path, *POSES_BORDER["border"], "--output", out],
                                        cwd=DATA_DIR, env=cache_env, capture_output=True, text=True, timeout=TIMEOUT)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                with open(out, "rb") as picture:
                    return picture.read()

            built = shot("built", env)
            self.assertEqual(len(glob.glob(kept_trees)), 1, "no tree kept")
            self.assertEqual(shot("kept", env), built)
            # A map changed in place, to a flat one: a kept tree of the hills would cull its ground.
            with open(path, "wb") as stream:
                stream.write(b"\x00\x80" * (257 * 257))
            changed = shot("changed", env)
            fresh = shot("fresh", dict(env, XDG_CACHE_HOME=os.path.join(work, "fresh-cache")))
            self.assertEqual(changed, fresh)
            self.assertNotEqual(changed, built)

    def test_borders_shade_as_the_full_mesh(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "hilly.r16")
            hilly_border_map(path)
            for mode in ("4", "5"):
                self.compare(server, work, ["--map", path, "--mode", mode], POSES_BORDER)


if __name__ == "__main__":
    unittest.main()
