"""Height maps in the formats beside BMP through the real binaries: a 16-bit PNG, a raw 16-bit file
and elevation maps in the formats GDAL reads (GeoTIFF, SRTM .hgt, Esri ASCII grid, a VRT mosaic)
start the program, with and without level of detail; damaged files end with one line and exit
code 1, without a crash or a sanitizer report."""
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

import images
from elevation import LUXEMBOURG, OLINDA, OLINDA_LANDSAT, gdal
from harness import BENCH, DATA_DIR, FRAME_TIMEOUT, SANITIZED, Kelta, XServer, shot

SANITIZER_REPORT = re.compile(r"ERROR: \w*Sanitizer|runtime error:")
TIMEOUT = 300 if SANITIZED else 60
SIDE = 64
# The five size lines of a 64 x 64 mesh.
SIZE_LINES = ["VBO size (vertices): 48 kB", "VBO size (normals): 48 kB", "VBO size (texture coords): 32 kB",
              "IBO size: 32 kB", "Total geometry buffer size: 160 kB"]


def slope(x, y):
    """A gentle 16-bit slope with sub-8-bit steps, top row first."""
    return (x * 1000 + y * 37) % 65536


def grey16_png():
    return images.grey16_png(SIDE, SIDE, slope)


def raw16():
    return b"".join(struct.pack("<H", slope(x, y)) for y in range(SIDE) for x in range(SIDE))


def with_byte_flipped(content, offset):
    damaged = bytearray(content)
    damaged[offset] ^= 0x55
    return bytes(damaged)


def setUpModule():
    global WORK
    WORK = tempfile.mkdtemp(prefix="kelta-height-map-formats-")


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)


# The lines of the committed maps, and of the same maps in other formats.
OLINDA_LINES = ["Elevation map: 111 x 111 samples, 90.0 x 90.0 m apart, -1 to 88 m, 1 unit = 90.0 m, exaggeration 1"]
LUXEMBOURG_LINES = ["Elevation map: 95 x 90 samples, 599.7 x 926.9 m apart, 141 to 547 m, 1 unit = 599.7 m, "
                    "exaggeration 1", "No data: 3942 samples (drawn as holes)"]


def write_map(name, content):
    path = os.path.join(WORK, name)
    with open(path, "wb") as stream:
        stream.write(content)
    return path


class HeightMapFormats(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = XServer().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def test_sixteen_bit_maps_start(self):
        for name, content in (("slope.png", grey16_png()), ("slope.r16", raw16())):
            with self.subTest(name):
                kelta = Kelta(self.server, (write_map(name, content),))
                self.assertTrue(kelta.started(timeout=TIMEOUT), kelta.output()[-5:])
                self.assertEqual(kelta.quit(TIMEOUT), 0)
                lines = kelta.output()
                first = lines.index(SIZE_LINES[0])
                self.assertEqual(lines[first:first + 5], SIZE_LINES)
                self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)

    def test_damaged_pngs_end_with_one_line(self):
        png = grey16_png()
        cases = (
            ("cut.png", png[:len(png) // 2], re.escape("File is truncated")),
            ("bad-crc.png", with_byte_flipped(png, len(png) - 13), re.escape("Invalid PNG: IDAT: CRC error")),
            # Streamed for its width, and refused as its samples are copied into its pyramid.
            ("too-wide.png", png[:8] + images.png_chunk(b"IHDR", struct.pack(">IIBBBBB", 40000, SIDE, 16, 0, 0, 0, 0))
             + png[33:], r"Could not copy the samples of .*too-wide\.png into its pyramid: .*libpng: Not enough image data"),
        )
        for name, content, reason in cases:
            with self.subTest(name):
                kelta = Kelta(self.server, (write_map(name, content),))
                self.assertEqual(kelta.wait(TIMEOUT), 1)
                lines = kelta.output()
                self.assertRegex(lines[-1], "^Could not load heightmap: " + reason + "$")
                self.assertNotIn("Main loop started", lines)
                self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)


def elevation_files():
    """The same places in other formats GDAL reads, made with GDAL's programs: {name: path}."""
    quarters = []
    for column, row, width, height in ((0, 0, 48, 45), (48, 0, 47, 45), (0, 45, 48, 45), (48, 45, 47, 45)):
        quarters.append(os.path.join(WORK, f"quarter-{column}-{row}.tif"))
        gdal("gdal_translate", "-q", "-srcwin", column, row, width, height, LUXEMBOURG, quarters[-1])
    mosaic = os.path.join(WORK, "luxembourg.vrt")
    gdal("gdalbuildvrt", "-q", mosaic, *quarters)
    # An SRTM tile is named for its south-west corner and holds 1201 x 1201 samples whose outer
    # ones lie on the degree lines.
    tile = os.path.join(WORK, "tile.tif")
    half = 0.5 / 1200
    gdal("gdalwarp", "-q", "-te", 5 - half, 49 - half, 6 + half, 50 + half, "-ts", 1201, 1201, "-r", "bilinear",
         LUXEMBOURG, tile)
    hgt = os.path.join(WORK, "N49E005.hgt")
    gdal("gdal_translate", "-q", "-of", "SRTMHGT", tile, hgt)
    ascii_grid = os.path.join(WORK, "olinda.asc")
    gdal("gdal_translate", "-q", "-of", "AAIGrid", OLINDA, ascii_grid)
    return {"hgt": hgt, "asc": ascii_grid, "vrt": mosaic}


class ElevationFormats(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = XServer().__enter__()
        cls.files = elevation_files()

    @classmethod
    def tearDownClass(cls):
        cls.server.__exit__(None, None, None)

    def test_elevation_maps_start_with_and_without_level_of_detail(self):
        srtm_line = re.compile(r"^Elevation map: 1201 x 1201 samples, 60\.\d x 92\.\d m apart, \d+ to \d+ m, ")
        # (map, options, the lines after the geometry's, or a pattern for the first of them)
        cases = [
            (OLINDA, (), OLINDA_LINES),
            (LUXEMBOURG, (), LUXEMBOURG_LINES),
            (self.files["hgt"], (), srtm_line),
            (self.files["asc"], (), OLINDA_LINES),
            (self.files["vrt"], (), LUXEMBOURG_LINES),
            # The terrain options reach the map, in either spelling.
            (LUXEMBOURG, ("--exaggeration=2.5", "--fill-voids", "--sea-level", "none", "--snow-line", "300"),
             [LUXEMBOURG_LINES[0].replace("exaggeration 1", "exaggeration 2.5"), "No data: 3942 samples (filled)"]),
            (OLINDA, ("--view-distance", "20000"), OLINDA_LINES),
        ]
        for path, options, expected in cases:
            for lod in ((), ("--lod",)):
                with self.subTest(map=os.path.basename(path), options=options + lod):
                    kelta = Kelta(self.server, (*lod, *options, path))
                    self.assertTrue(kelta.started(timeout=FRAME_TIMEOUT), kelta.output()[-5:])
                    self.assertEqual(kelta.quit(FRAME_TIMEOUT), 0)
                    lines = kelta.output()
                    first = next(i for i, line in enumerate(lines) if line.startswith("Elevation map: "))
                    if isinstance(expected, list):
                        self.assertEqual(lines[first:first + len(expected)], expected)
                    else:
                        self.assertRegex(lines[first], expected)
                    self.assertEqual(any(line.startswith("Level of detail: ") for line in lines), bool(lod))
                    self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)

    def test_damaged_elevation_maps_end_with_one_line(self):
        with open(OLINDA, "rb") as stream:
            cut = write_map("cut.tif", stream.read()[:25000])
        text = write_map("text.tif", b"elevation: 100 m\n")
        quarter = os.path.join(WORK, "lonely-quarter.tif")
        gdal("gdal_translate", "-q", "-srcwin", 0, 0, 48, 45, LUXEMBOURG, quarter)
        gone = os.path.join(WORK, "gone-quarter.tif")
        gdal("gdal_translate", "-q", "-srcwin", 48, 0, 47, 45, LUXEMBOURG, gone)
        missing_tile = os.path.join(WORK, "missing-tile.vrt")
        gdal("gdalbuildvrt", "-q", missing_tile, quarter, gone)
        os.remove(gone)
        # (arguments, the last line); a drape the map cannot take ends the program as a map does.
        cases = (
            ((cut,), r"^Could not load heightmap: GDAL could not read the samples: "),
            ((text,), r"^Could not load heightmap: File is not a height map KELTA reads .*not recognized as a "
                      r"supported file format"),
            ((missing_tile,), r"^Could not load heightmap: GDAL could not read the samples: .*gone-quarter\.tif"),
            (("--drape", OLINDA_LANDSAT, "--drape-bands", "7,2,1", OLINDA),
             r"^Could not load drape: Drape band 7 is not in the picture, which has 6 bands$"),
        )
        for args, line in cases:
            with self.subTest(args=args):
                kelta = Kelta(self.server, args)
                self.assertEqual(kelta.wait(FRAME_TIMEOUT), 1)
                lines = kelta.output()
                self.assertRegex(lines[-1], line)
                self.assertNotIn("Main loop started", lines)
                self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)
        # The tools say the program's line as their own.
        code, _, errors = shot(self.server, "--map", cut, "--output", os.path.join(WORK, "cut.png"))
        self.assertEqual(code, 1)
        self.assertEqual(len(errors), 1, errors)
        self.assertRegex(errors[0], "^kelta-shot: Could not load heightmap: GDAL could not read the samples: ")

    def test_the_tools_draw_elevation_maps(self):
        path = os.path.join(WORK, "mosaic.png")
        code, lines, errors = shot(self.server, "--map", self.files["vrt"], "--size", "64x48", "--output", path)
        self.assertEqual(code, 0, lines + errors)
        self.assertIn(LUXEMBOURG_LINES[0], lines)
        self.assertEqual(lines[-1], f"Wrote {path} (64 x 48)")
        # A drape of another place leaves the map drawn without it, saying so in one line.
        code, lines, errors = shot(self.server, "--map", LUXEMBOURG, "--drape", OLINDA_LANDSAT, "--size", "64x48",
                                   "--output", path)
        self.assertEqual(code, 0, lines + errors)
        self.assertEqual(errors, ["kelta-shot: Drape picture does not overlap the map; drawing the map without it: "
                                  + OLINDA_LANDSAT])

        # kelta-bench gives every map's run the terrain options, and records those that change the frame.
        result = subprocess.run([BENCH, "--frames", "2", "--warmup", "0", "--size", "64x48", "--map", self.files["asc"],
                                 "--lod-map", self.files["hgt"], "--exaggeration", "3", "--drape", OLINDA_LANDSAT,
                                 "--json", "-"], cwd=DATA_DIR, env=self.server.env(), capture_output=True, text=True,
                                timeout=FRAME_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)
        report = json.loads(result.stdout)
        self.assertEqual([(m["grid"]["width"], m["level_of_detail"]) for m in report["maps"]],
                         [(111, False), (1201, True)])
        self.assertEqual((report["exaggeration"], report["drape"]), (3, {"path": OLINDA_LANDSAT, "bands": None}))
        result = subprocess.run([BENCH, "--frames", "1", "--size", "64x48", "--map", self.files["asc"], "--drape",
                                 "missing.tif"], cwd=DATA_DIR, env=self.server.env(), capture_output=True, text=True,
                                timeout=FRAME_TIMEOUT)
        self.assertEqual(result.returncode, 1)
        self.assertIn("ended with exit code 1: Could not load drape: ", result.stderr.splitlines()[-1])


if __name__ == "__main__":
    unittest.main()
