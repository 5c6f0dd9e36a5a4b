"""Elevation maps as kelta-shot draws them: true proportions, holes where there is no data, water at
and below the sea, land colours for lowland, and a drape in its place, each measured on the picture."""
import math
import os
import re
import shutil
import tempfile
import unittest

import images
from elevation import (LUXEMBOURG, OLINDA, Grid, TopDownView, cells_under, gdal, mean_colour, pixel, write_ascii_grid,
                       write_grey16_png)
from harness import XServer, shot

# Per-pixel classifications leave out pixels on cell edges; of the rest, at most this share may
# fall the wrong way (multisampled edges and the odd pixel the fog or a neighbour's shading tips).
LARGEST_WRONG_SHARE = 0.01
SPACING_LINE = re.compile(r"^Elevation map: .* samples, ([\d.]+) x ([\d.]+) m apart")


def setUpModule():
    global WORK, SERVER
    WORK = tempfile.mkdtemp(prefix="kelta-elevation-pictures-")
    SERVER = XServer().__enter__()


def tearDownModule():
    SERVER.__exit__(None, None, None)
    shutil.rmtree(WORK, ignore_errors=True)


def picture(name, *args):
    """(image, row spacing in columns) of a kelta-shot picture."""
    path = os.path.join(WORK, name + ".png")
    code, lines, errors = shot(SERVER, "--output", path, *args)
    if code != 0:
        raise AssertionError("\n".join(lines + errors))
    spacing = [SPACING_LINE.match(line) for line in lines if SPACING_LINE.match(line)]
    return images.read(path), float(spacing[0][2]) / float(spacing[0][1]) if spacing else 1.0


def is_green(rgb):
    return rgb[1] > rgb[0] and rgb[1] > rgb[2]


def is_blue(rgb):
    return rgb[2] > rgb[0] and rgb[2] > rgb[1]


class ElevationPictures(unittest.TestCase):
    def assertMostPixels(self, what, judged):
        """judged: whether each pixel that counts is as it should be."""
        wrong = judged.count(False) / len(judged)
        print(f"{what}: {len(judged)} pixels judged, {wrong:.3%} wrong")
        self.assertGreater(len(judged), 1000, what)
        self.assertLessEqual(wrong, LARGEST_WRONG_SHARE, what)

    def test_a_cone_in_metres_is_the_cone_of_a_png_with_its_height_scale(self):
        # 200 m high over a base 600 m in radius, samples 10 m apart, in exact steps of the 16-bit
        # sample, so that both maps hold the same samples: 65535 = 20 units = 200 m / 10 m.
        side, centre = 129, 64

        def sample(column, row):
            return round(65535 * max(0.0, 1 - math.hypot(column - centre, row - centre) / 60))

        grid = write_ascii_grid(os.path.join(WORK, "cone.asc"), side, side, 10,
                                          lambda column, row: sample(column, row) * 200 / 65535)
        cone_tif = os.path.join(WORK, "cone.tif")
        gdal("gdal_translate", "-q", "-ot", "Float32", "-a_srs", "EPSG:32632", "-a_ullr", 500000, 5001290, 501290,
             5000000, grid, cone_tif)
        cone_png = write_grey16_png(os.path.join(WORK, "cone.png"), side, side, sample)
        poses = {"start": [], "side": ["--position", "64,8,40", "--direction", "0,0.1,-1"]}
        for mode in ("3", "4"):
            for pose, args in poses.items():
                with self.subTest(mode=mode, pose=pose):
                    metres, _ = picture(f"cone-tif-{mode}-{pose}", "--map", cone_tif, "--mode", mode, *args)
                    samples, _ = picture(f"cone-png-{mode}-{pose}", "--map", cone_png, "--height-scale", "20",
                                         "--mode", mode, *args)
                    share, mean = images.difference(metres, samples)
                    print(f"cone, mode {mode}, {pose}: {share:.4%} of pixels off, mean difference {mean:.3f}")
                    self.assertTrue(images.within_tolerance(share, mean))

    def test_samples_without_data_are_holes_unless_filled(self):
        # Luxembourg from straight above, flattened: outside the border the background shows where
        # the filled map has ground, with the full mesh and with level of detail alike.
        view = TopDownView((47.5, 160, -69.5), 300)
        flat = ["--map", LUXEMBOURG, "--exaggeration", "0.001", "--mode", "3", *view.shot_args()]
        grid = Grid(LUXEMBOURG)
        for lod in ([], ["--lod"]):
            with self.subTest(lod=lod):
                filled, row_spacing = picture("luxembourg-filled" + "".join(lod), *lod, "--fill-voids", *flat)
                holes, _ = picture("luxembourg-holes" + "".join(lod), *lod, *flat)
                judged = []
                for index, corners in cells_under(view, grid, row_spacing):
                    differs = max(abs(a - b) for a, b in zip(pixel(holes, index), pixel(filled, index)))
                    judged.append((differs > images.PIXEL_TOLERANCE) == (None in corners))
                self.assertMostPixels(f"Luxembourg's holes {lod}", judged)

    def test_ground_below_the_sea_lies_under_flat_water_unless_there_is_no_sea(self):
        # A slope from 70 m below the sea in the west to 130 m above in the east, with a wavy coast.
        def metres(column, row):
            return -60 + 180 * column / 96 + 10 * math.sin(row / 5)

        size = 97
        below = write_ascii_grid(os.path.join(WORK, "coast.asc"), size, size, 30, metres)
        raised = write_ascii_grid(os.path.join(WORK, "coast-raised.asc"), size, size, 30,
                                            lambda column, row: max(0.0, metres(column, row)))
        view = TopDownView((48, 110, -48), 200)
        flat = ["--exaggeration", "0.01", *view.shot_args()]
        sea, _ = picture("coast", "--map", below, *flat)
        self.assertTrue(images.matches(sea, picture("coast-raised", "--map", raised, *flat)[0]),
                        "the sea floor is not the water's flat surface at 0 m")
        land, _ = picture("coast-no-sea", "--map", below, "--sea-level", "none", *flat)

        grid = Grid(below)
        sea_judged, land_judged = [], []
        # Reaching a cell around leaves out the map's rim, where the ground meets the background.
        for index, corners in cells_under(view, grid, reach=1):
            if max(corners) < -2:
                sea_judged.append(is_blue(pixel(sea, index)))
            elif min(corners) > 5:
                sea_judged.append(is_green(pixel(sea, index)))
            land_judged.append(is_green(pixel(land, index)))
        self.assertMostPixels("water below 0 m, land above", sea_judged)
        self.assertMostPixels("land everywhere without a sea", land_judged)

    def test_lowland_looks_like_land(self):
        # Luxembourg, 141 to 547 m: grass and dry grass, no shore, water or snow.
        view = TopDownView((47.5, 160, -69.5), 200)
        image, row_spacing = picture("luxembourg-lowland", "--map", LUXEMBOURG, "--fill-voids", *view.shot_args())
        on_map = [index for index, _ in cells_under(view, Grid(LUXEMBOURG), row_spacing, margin=0)]
        colour = mean_colour(image, on_map)
        print(f"Luxembourg in mode 5: mean colour {[round(c, 1) for c in colour]}")
        self.assertTrue(is_green(colour), colour)

    def test_a_drape_lies_where_its_pixels_belong_in_any_coordinate_system(self):
        # Olinda coloured from its own heights, blue below 40 m and red above, the second time
        # through geographic coordinates; seen from above, the colour steps where the ground crosses 40 m.
        colours = os.path.join(WORK, "step.txt")
        with open(colours, "w") as stream:
            stream.write("-1000 0 0 255\n39.999 0 0 255\n40 255 0 0\n1000 255 0 0\n")
        step = os.path.join(WORK, "step.tif")
        gdal("gdaldem", "color-relief", "-q", OLINDA, colours, step)
        geographic = os.path.join(WORK, "step-4326.tif")
        gdal("gdalwarp", "-q", "-t_srs", "EPSG:4326", "-r", "near", step, geographic)
        view = TopDownView((55, 125, -55), 240)
        grid = Grid(OLINDA)
        for drape in (step, geographic):
            with self.subTest(drape=os.path.basename(drape)):
                image, _ = picture("drape-" + os.path.basename(drape), "--map", OLINDA, "--drape", drape,
                                   "--sea-level", "none", "--exaggeration", "0.001", *view.shot_args())
                judged = []
                for index, corners in cells_under(view, grid, reach=1):
                    r, _, b = pixel(image, index)
                    if min(corners) > 40:
                        judged.append(r > b)
                    elif max(corners) < 40:
                        judged.append(b > r)
                self.assertMostPixels(f"drape {os.path.basename(drape)}", judged)


    def test_maps_running_south_to_north_or_east_to_west_draw_as_their_north_up_twin(self):
        # Olinda's samples on grids whose rows run south to north, or whose columns run east to west,
        # each beside its twin warped north-up (a mirror, sample for sample): drawn whole, with level of
        # detail, streamed, and under a drape of the same orientation as the map, the pictures are one.
        colours = os.path.join(WORK, "mirror-step.txt")
        with open(colours, "w") as stream:
            stream.write("-1000 0 0 255\n39.999 0 0 255\n40 255 0 0\n1000 255 0 0\n")
        view = TopDownView((55, 125, -55), 240)
        for name, corners in (("south-up", (0, 0, 1110, 1110)), ("east-to-west", (1110, 1110, 0, 0))):
            mirrored = os.path.join(WORK, name + ".tif")
            twin = os.path.join(WORK, name + "-twin.tif")
            gdal("gdal_translate", "-q", "-a_ullr", *corners, OLINDA, mirrored)
            gdal("gdalwarp", "-q", "-overwrite", "-r", "near", "-tr", 10, 10, "-te", 0, 0, 1110, 1110, mirrored, twin)
            drapes = {}
            for path in (mirrored, twin):
                drapes[path] = path.replace(".tif", "-drape.tif")
                gdal("gdaldem", "color-relief", "-q", path, colours, drapes[path])
            for drawing in ("whole", "--lod", "--stream", "--drape"):
                with self.subTest(map=name, drawing=drawing):
                    pictures = []
                    for path in (mirrored, twin):
                        options = {"whole": [], "--drape": ["--drape", drapes[path]]}.get(drawing, [drawing])
                        pictures.append(picture(f"{os.path.basename(path)[:-4]}-{drawing}", "--map", path, *options,
                                                "--sea-level", "none", *view.shot_args())[0])
                    self.assertTrue(images.matches(*pictures), images.difference(*pictures))


if __name__ == "__main__":
    unittest.main()
