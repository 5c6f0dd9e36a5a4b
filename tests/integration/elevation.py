"""Elevation maps made at test time (ASCII grids, GDAL's programs), the committed ones, and where
the pixels of a picture taken straight down over a map meet its grid."""
import math
import os
import subprocess

import images

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "elevation")
LUXEMBOURG = os.path.join(DATA, "elev.tif")
OLINDA = os.path.join(DATA, "olinda_dem_utm25s.tif")
OLINDA_LANDSAT = os.path.join(DATA, "L7_ETMs.tif")
# The program's vertical field of view.
FIELD_OF_VIEW = 0.87266463


def gdal(*args):
    """Runs one of GDAL's programs and returns its standard output; a failure shows what it said."""
    result = subprocess.run([str(arg) for arg in args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, args))}: {result.stdout}{result.stderr}")
    return result.stdout


def write_ascii_grid(path, width, height, spacing, metres):
    """An Esri ASCII grid of metres(column, row) (row 0 in the south; None for no data), spacing
    metres apart, without a coordinate system, so that GDAL takes its units as metres."""
    with open(path, "w") as stream:
        stream.write(f"ncols {width}\nnrows {height}\nxllcorner 0\nyllcorner 0\ncellsize {spacing}\n"
                     "NODATA_value -9999\n")
        for row in reversed(range(height)):
            values = (metres(column, row) for column in range(width))
            stream.write(" ".join("-9999" if value is None else repr(value) for value in values) + "\n")
    return path


class Grid:
    """A raster's samples as metres, or None for no data, indexed [row][column] with row 0 in the south."""

    def __init__(self, path):
        """Reads any raster GDAL reads, as the ASCII grid GDAL writes of it."""
        header = {}
        rows = []
        # The header, then the rows, then (on standard output) the coordinate system.
        for line in gdal("gdal_translate", "-q", "-of", "AAIGrid", path, "/vsistdout/").splitlines():
            words = line.split()
            if len(words) == 2 and words[0][0].isalpha():
                header[words[0].lower()] = words[1]
            elif words and len(rows) < int(header["nrows"]):
                rows.append([float(word) for word in words])
        no_data = float(header["nodata_value"]) if "nodata_value" in header else None
        self.width, self.height = int(header["ncols"]), int(header["nrows"])
        self.values = [[None if value == no_data else value for value in row] for row in reversed(rows)]

    def cell(self, column, row, reach=0):
        """The corner samples of the cell whose south-west corner is the sample (column, row), and
        of the cells up to `reach` cells around it; None where they leave the map."""
        if not (reach <= column < self.width - 1 - reach and reach <= row < self.height - 1 - reach):
            return None
        return [self.values[r][c] for r in range(row - reach, row + reach + 2)
                for c in range(column - reach, column + reach + 2)]


def write_grey16_png(path, width, height, sample):
    """A 16-bit grey PNG of sample(column, row), row 0 in the south (the bottom of the picture)."""
    with open(path, "wb") as stream:
        stream.write(images.grey16_png(width, height, lambda column, y: sample(column, height - 1 - y)))
    return path


class TopDownView:
    """A square picture taken from `eye` (world x, y, z) looking down, north up, over ground at
    height 0 (a map drawn with a tiny exaggeration); its pixels meet the map at known columns and rows."""
    # Straight down has no frame for the view matrix; this is within a thousandth of it.
    DIRECTION = (0.0, -1.0, -0.002)

    def __init__(self, eye, side):
        self.eye, self.side = eye, side

    def shot_args(self):
        return ["--position", ",".join(map(str, self.eye)), "--direction", ",".join(map(str, self.DIRECTION)),
                "--size", f"{self.side}x{self.side}", "--view", "no-bloom"]

    def map_points(self, row_spacing=1.0):
        """(pixel index, column, row) of every pixel, in map samples, columns one unit apart."""
        forward = normalized(self.DIRECTION)
        # As the program's lookAt builds them: side = forward x world up, up on screen = side x forward.
        side = normalized(cross(forward, (0.0, 1.0, 0.0)))
        up = cross(side, forward)
        reach = math.tan(FIELD_OF_VIEW / 2)
        for y in range(self.side):
            for x in range(self.side):
                across = (2 * (x + 0.5) / self.side - 1) * reach
                upward = (1 - 2 * (y + 0.5) / self.side) * reach
                ray = [forward[k] + across * side[k] + upward * up[k] for k in range(3)]
                along = -self.eye[1] / ray[1]
                yield y * self.side + x, self.eye[0] + along * ray[0], -(self.eye[2] + along * ray[2]) / row_spacing


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalized(v):
    length = math.sqrt(sum(c * c for c in v))
    return tuple(c / length for c in v)


def cells_under(view, grid, row_spacing=1.0, margin=0.1, reach=0):
    """(pixel index, Grid.cell(..., reach) of the cell under it) for every pixel over the map that
    is not within `margin` of a cell's edge, where rasterisation may fall either way."""
    for index, column, row in view.map_points(row_spacing):
        along_column, along_row = column - math.floor(column), row - math.floor(row)
        if min(along_column, 1 - along_column, along_row, 1 - along_row) < margin:
            continue
        corners = grid.cell(math.floor(column), math.floor(row), reach)
        if corners is not None:
            yield index, corners


def pixel(image, index):
    return image.pixels[3 * index:3 * index + 3]


def mean_colour(image, indices):
    total = [0, 0, 0]
    count = 0
    for index in indices:
        for k, value in enumerate(pixel(image, index)):
            total[k] += value
        count += 1
    return [value / count for value in total]
