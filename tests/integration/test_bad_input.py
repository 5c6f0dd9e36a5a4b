"""Missing, damaged and hostile data files and arguments through the real binary: each ends with one
clear line and exit code 1, or runs normally where the input is valid; no crash, hang or sanitizer report."""
import contextlib
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

import harness
from elevation import gdal, write_ascii_grid
from harness import DATA_DIR, SANITIZED, Kelta, XServer

MATERIALS = ("Water", "Grass", "Rock3", "Rock4", "Pebbles1", "Snow", "Snow2", "GrassDry", "Water_Normal")
DATA_FILES = ("Maps/Lake_512.bmp", *(f"Textures/{name}.bmp" for name in MATERIALS), "Textures/Skydome.bmp")
SANITIZER_REPORT = re.compile(r"ERROR: \w*Sanitizer|runtime error:")
EXIT_TIMEOUT = 300 if SANITIZED else 60
NOBODY = 65534
UNKNOWN_FORMAT = ("File is not a height map KELTA reads (a BMP, a PNG, raw 16-bit samples in a file named .r16 or "
                  ".raw, or an elevation map GDAL reads); GDAL says: `{path}' not recognized as a supported file format.")

# (input, last line printed, exit code) of every run, printed at the end for the record.
TABLE = []


def bmp(width, height, bits=8, compression=0, pixels=None):
    """A BMP file with a 40-byte info header and, for 8 bits, a grey palette; by default every padded
    row the header promises is there, filled with the value 100."""
    palette = bytes(v for i in range(256) for v in (i, i, i, 0)) if bits == 8 else b""
    if pixels is None:
        pixels = bytes([100]) * (((width * bits // 8 + 3) & ~3) * abs(height))
    offset = 14 + 40 + len(palette)
    return (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels), 2835, 2835, 0, 0)
            + palette + pixels)


def os2_bmp(width, height):
    """An 8-bit file with the 12-byte OS/2 1.x header and its 3-byte palette entries."""
    palette = bytes(v for i in range(256) for v in (i, i, i))
    pixels = bytes(((width + 3) & ~3) * height)
    offset = 14 + 12 + len(palette)
    return (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
            + struct.pack("<IHHHH", 12, width, height, 1, 8) + palette + pixels)


def size_lines(vertices_kb, texture_kb, index_kb, total_kb):
    return [f"VBO size (vertices): {vertices_kb} kB", f"VBO size (normals): {vertices_kb} kB",
            f"VBO size (texture coords): {texture_kb} kB", f"IBO size: {index_kb} kB",
            f"Total geometry buffer size: {total_kb} kB"]


def link_data(target, skip=None):
    """Fills target with links to the data set, leaving out the file named by skip."""
    for name in DATA_FILES:
        if name == skip:
            continue
        os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
        os.symlink(os.path.join(os.path.abspath(DATA_DIR), name), os.path.join(target, name))


@contextlib.contextmanager
def program(path):
    saved = harness.BINARY
    harness.BINARY = path
    try:
        yield
    finally:
        harness.BINARY = saved


def setUpModule():
    global WORK, STAGE, BINARY_COPY
    # A copy of the binary in a folder of the test's own, which an unprivileged user can run, and
    # with no data set beside it, so that every run reads the data set of its working directory.
    WORK = tempfile.mkdtemp(prefix="kelta-bad-input-")
    os.chmod(WORK, 0o755)
    os.mkdir(os.path.join(WORK, "bin"))
    BINARY_COPY = os.path.join(WORK, "bin", "kelta")
    shutil.copy2(os.environ.get("KELTA_BINARY", shutil.which("kelta") or "kelta"), BINARY_COPY)
    STAGE = os.path.join(WORK, "stage")
    link_data(STAGE)
    os.symlink(os.path.join(os.path.abspath(DATA_DIR), DATA_FILES[0]), os.path.join(STAGE, "map.bmp"))
    os.chmod(STAGE, 0o755)


def tearDownModule():
    shutil.rmtree(WORK, ignore_errors=True)
    width = max((len(row[0]) for row in TABLE), default=10)
    sys.stderr.write("\nBad input | printed | exit code\n")
    for name, line, code in TABLE:
        sys.stderr.write(f"{name:<{width}} | {line} | {code}\n")


def write_map(label, content):
    """Writes a height map named after the case; returns its path."""
    path = os.path.join(WORK, re.sub(r"\W+", "_", label) + ".bmp")
    with open(path, "wb") as stream:
        stream.write(content)
    return path


class KeltaCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        cls.server = cls.stack.enter_context(XServer())
        cls.stack.enter_context(program(BINARY_COPY))

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def finish(self, kelta, label, timeout=EXIT_TIMEOUT, summary=None):
        """Waits for the program to end; returns its exit code and output after checking stderr."""
        code = kelta.wait(timeout)
        lines = kelta.output()
        TABLE.append((label, summary or (lines[-1] if lines else ""), code))
        self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)
        return code, lines

    def assert_fatal(self, label, args, expected, cwd=None, detail=None):
        """The program ends with the expected last line on standard output and, where a detail is
        given, the one line "kelta: <detail>" on standard error."""
        kelta = Kelta(self.server, args, cwd or STAGE)
        code, lines = self.finish(kelta, label)
        self.assertEqual(code, 1, lines[-5:])
        self.assertEqual(lines[-1], expected)
        self.assertNotIn("Main loop started", lines)
        if detail is not None:
            self.assertEqual(kelta.stderr_text, f"kelta: {detail}\n")
        return lines

    def assert_runs(self, label, args, cwd=None):
        kelta = Kelta(self.server, args, cwd or STAGE)
        self.assertTrue(kelta.started(timeout=EXIT_TIMEOUT), kelta.output()[-5:])
        # Frames are drawn from the mesh before the program is asked to leave.
        self.assertTrue(kelta.wait_for_frames(), kelta.output()[-5:])
        self.assertIsNone(kelta.process.poll(), kelta.output()[-5:])
        kelta.key("Escape")
        code, lines = self.finish(kelta, label, summary="(runs: \"Main loop started\", Escape 3 frames later)")
        self.assertEqual(code, 0)
        return lines


class DataFiles(KeltaCase):
    def test_each_missing_file_is_named_by_its_loader(self):
        for name in DATA_FILES:
            with self.subTest(missing=name):
                folder = tempfile.mkdtemp(dir=WORK)
                link_data(folder, skip=name)
                is_map = name.startswith("Maps/")
                expected = "Could not load heightmap: File not found" if is_map else \
                    "Could not load texture: File not found"
                # The detail names the file as the program asks for it, where it looked and the data folder.
                real = os.path.realpath(folder)
                detail = f"{name.replace('/', chr(92))}, looked for as {real}/{name} (data folder {real})"
                lines = self.assert_fatal(f"missing {name}", (), expected, cwd=folder, detail=detail)
                # The height map is read before the mesh is logged, the textures after it.
                self.assertEqual("Total geometry buffer size: 10240 kB" in lines, not is_map)

    def test_damaged_or_mismatched_textures(self):
        truncated = open(os.path.join(DATA_DIR, "Textures/Rock3.bmp"), "rb").read()[:5000]
        cases = (
            ("Textures/Rock3.bmp", truncated, "Could not load texture: File is truncated"),
            ("Textures/Snow.bmp", bmp(256, 256, bits=24),
             "Could not create texture atlas: texture dimensions don't match"),
            ("Textures/Skydome.bmp", bmp(8, 8, bits=16), "Could not load texture: File is not 8 or 24 bits per pixel"),
        )
        for name, content, expected in cases:
            with self.subTest(replaced=name):
                folder = tempfile.mkdtemp(dir=WORK)
                link_data(folder, skip=name)
                with open(os.path.join(folder, name), "wb") as stream:
                    stream.write(content)
                self.assert_fatal(f"{name} replaced: {expected.split(': ', 1)[1]}", (), expected, cwd=folder)

    def test_textures_beyond_the_device_limit_are_refused(self):
        # 32768 pixels exceeds the 16384 of Xvfb's software rasteriser.
        for name in ("Textures/Skydome.bmp", "Textures/Water.bmp"):
            with self.subTest(replaced=name):
                folder = tempfile.mkdtemp(dir=WORK)
                link_data(folder, skip=name)
                with open(os.path.join(folder, name), "wb") as stream:
                    stream.write(bmp(32768, 1, bits=24))
                kelta = Kelta(self.server, (), folder)
                code, lines = self.finish(kelta, f"{name} of 32768 x 1 pixels")
                self.assertEqual(code, 1, lines[-5:])
                self.assertRegex(lines[-1], r"^Could not load texture: " + re.escape(name.replace("/", "\\"))
                                 + r" is 32768 x 1 pixels, larger than this GPU's \d+ \(GL_MAX_TEXTURE_SIZE\)$")

    def test_sky_with_unaligned_rows_runs(self):
        # Rows of 5 RGB pixels are 15 bytes, not a multiple of the default upload alignment.
        folder = tempfile.mkdtemp(dir=WORK)
        link_data(folder, skip="Textures/Skydome.bmp")
        with open(os.path.join(folder, "Textures/Skydome.bmp"), "wb") as stream:
            stream.write(bmp(5, 3, bits=24))
        self.assert_runs("Textures/Skydome.bmp replaced by a 5 x 3 image", (), cwd=folder)

    def test_missing_or_unusable_height_map_paths(self):
        folder = os.path.join(WORK, "a folder")
        os.makedirs(folder, exist_ok=True)
        missing = os.path.join(WORK, "none.bmp")
        self.assert_fatal("height map path that does not exist", (missing,), "Could not load heightmap: File not found",
                          detail=f"{missing}, looked for as {missing} (data folder {os.path.realpath(STAGE)})")
        self.assert_fatal("empty height map path", ("",), "Could not load heightmap: File not found")
        self.assert_fatal("directory as height map", (folder,),
                          "Could not load heightmap: File is not a regular file")
        self.assert_fatal("device /dev/zero as height map", ("/dev/zero",),
                          "Could not load heightmap: File is not a regular file")

    def test_named_pipe_as_height_map_does_not_hang(self):
        # Opening a pipe for reading waits for a writer; nobody will write to this one.
        path = os.path.join(WORK, "pipe.bmp")
        if not os.path.exists(path):
            os.mkfifo(path)
        # A VRT of the pipe, 600 x 600 samples: more than one tile, so streaming it would build a pyramid.
        vrt = os.path.join(WORK, "pipe.vrt")
        with open(vrt, "w") as stream:
            stream.write(f'<VRTDataset rasterXSize="600" rasterYSize="600"><VRTRasterBand dataType="Byte" band="1">'
                         f'<SimpleSource><SourceFilename relativeToVRT="0">{path}</SourceFilename>'
                         f'<SourceBand>1</SourceBand></SimpleSource></VRTRasterBand></VRTDataset>')
        in_vrt = re.compile(r"^Could not load heightmap: Map source " + re.escape(path) + " is not a regular file$")
        for label, args, expected in (
                ("named pipe as height map", (path,),
                 re.compile("^Could not load heightmap: File is not a regular file$")),
                ("named pipe in a VRT, read whole", (vrt,), in_vrt),
                ("named pipe in a VRT, level of detail", ("--lod", vrt), in_vrt),
                ("named pipe in a VRT, streamed", ("--stream", vrt), in_vrt)):
            with self.subTest(label):
                kelta = Kelta(self.server, args, STAGE)
                try:
                    code, lines = self.finish(kelta, label, timeout=60 if SANITIZED else 30)
                except subprocess.TimeoutExpired:
                    TABLE.append((label, "(nothing: hangs until killed)", "-"))
                    self.fail(f"the program hangs on a {label}")
                self.assertEqual(code, 1, lines[-5:])
                self.assertRegex(lines[-1], expected)

    def test_unreadable_height_map(self):
        path = os.path.join(WORK, "unreadable.bmp")
        with open(path, "wb") as stream:
            stream.write(bmp(8, 8))
        os.chmod(path, 0)
        if os.geteuid() != 0:
            self.assert_fatal("unreadable height map (mode 000)", (path,), "Could not load heightmap: File not found")
            return
        # Permissions do not stop root, so the program runs as an unprivileged user for this case.
        wrapper = os.path.join(WORK, "bin", "kelta-as-nobody")
        with open(wrapper, "w") as stream:
            stream.write(f"#!/bin/sh\nexec setpriv --reuid={NOBODY} --regid={NOBODY} --clear-groups "
                         f"-- {BINARY_COPY} \"$@\"\n")
        os.chmod(wrapper, 0o755)
        with program(wrapper):
            self.assert_fatal("unreadable height map (mode 000, not root)", (path,),
                              "Could not load heightmap: File not found",
                              cwd=STAGE)


class DamagedHeightMaps(KeltaCase):
    CASES = (
        ("zero-byte file", b"", UNKNOWN_FORMAT),
        ("text file", b"height map\n", UNKNOWN_FORMAT),
        ("headers cut at 30 bytes", bmp(64, 64)[:30], "File is truncated"),
        ("palette cut short", bmp(64, 64)[:600], "File is truncated"),
        ("pixel rows cut short", bmp(64, 64)[:-100], "File is truncated"),
        ("32769 wide", bmp(32769, 1), "Image is larger than 32768 pixels on a side"),
        ("32769 high", bmp(1, 32769), "Image is larger than 32768 pixels on a side"),
        ("30000 x 30000 header, 16 pixel bytes", bmp(30000, 30000, pixels=bytes(16)), "File is truncated"),
        ("2^31-1 x 2^31-1 header, 16 pixel bytes", bmp(0x7FFFFFFF, 0x7FFFFFFF, pixels=bytes(16)),
         "Image is larger than 32768 pixels on a side"),
        ("negative width", bmp(-64, 64, pixels=bytes(64 * 64)), "Image width is negative"),
        ("zero height", bmp(64, 0), "Image width or height is zero"),
        ("16 bits per pixel", bmp(8, 8, bits=16), "File is not 8 or 24 bits per pixel"),
        ("RLE8 compressed", bmp(64, 64, compression=1), "File is compressed (RLE)"),
        ("24-bit with bit fields", bmp(8, 8, bits=24, compression=3), "File uses bit fields"),
        ("OS/2 header", os2_bmp(8, 8), "File has an OS/2 header"),
    )

    def test_each_is_rejected_with_one_line(self):
        for label, content, message in self.CASES:
            with self.subTest(label):
                path = write_map(label, content)
                self.assert_fatal(label, (path,), "Could not load heightmap: " + message.format(path=path))


def elevation_map(label, metres, width=4, height=4, spacing=30, rotation=None):
    """A GeoTIFF of 64-bit heights (an ASCII grid alone would hold 32-bit ones) named after the case, or
    with `rotation` (the geotransform's two rotation terms) a VRT of it."""
    base = os.path.join(WORK, re.sub(r"\W+", "_", label))
    grid = write_ascii_grid(base + ".asc", width, height, spacing, metres)
    gdal("gdal_translate", "-q", "--config", "AAIGRID_DATATYPE", "Float64", "-ot", "Float64", grid, base + ".tif")
    if rotation is None:
        return base + ".tif"
    gdal("gdal_translate", "-q", "-of", "VRT", base + ".tif", base + ".vrt")
    with open(base + ".vrt") as stream:
        vrt = stream.read()
    with open(base + ".vrt", "w") as stream:
        stream.write(re.sub(r"<GeoTransform>.*</GeoTransform>",
                            f"<GeoTransform>0, {spacing}, {rotation[0]}, 0, {rotation[1]}, -{spacing}</GeoTransform>", vrt))
    return base + ".vrt"


class ElevationMapsNoTerrainHas(KeltaCase):
    # Each read whole and streamed; streamed tiles hold 32-bit heights, so 1e300 m is refused as infinite there.
    CASES = (
        ("heights of 1e300 m", dict(metres=lambda column, row: 1e300 if column == row == 1 else 0.0),
         "Elevation map's heights run from 0 to 1e+300 m: no terrain lies beyond +-12,000 m"),
        ("heights of 1e30 m", dict(metres=lambda column, row: 1e30 if column == row == 1 else 0.0),
         "Elevation map's heights run from 0 to 1e+30 m: no terrain lies beyond +-12,000 m"),
        ("heights of -12000.5 m", dict(metres=lambda column, row: -12000.5 if column == row == 1 else 0.0),
         "Elevation map's heights run from -12000.5 to 0 m: no terrain lies beyond +-12,000 m"),
        ("samples 1e-30 m apart", dict(metres=lambda column, row: 1.0, spacing=1e-30),
         "Elevation map's samples lie 1e-30 x 1e-30 m apart: a terrain's lie at least a millimetre apart"),
        ("1 x 5 elevation map", dict(metres=lambda column, row: 1.0, width=1, height=5),
         "Elevation map is 1 x 5 samples: a terrain needs at least 2 either way"),
        ("rotated elevation map", dict(metres=lambda column, row: 1.0, rotation=(2, 1)),
         "Elevation map's grid is rotated (its geotransform's rotation terms are 2 and 1): warp it north-up first, "
         "e.g. with gdalwarp"),
    )

    def test_each_is_refused_in_one_line(self):
        for label, making, message in self.CASES:
            with self.subTest(label):
                path = elevation_map(label, **making)
                for options in ((),) if "1e300" in label else ((), ("--stream",)):
                    self.assert_fatal(f"{label} {' '.join(options)}", (*options, path),
                                      "Could not load heightmap: " + message)


class OversizedHeightMaps(KeltaCase):
    def test_streamed_as_told_by_the_header(self):
        # Half a GiB of raw samples, sparse, one sample wider than this GPU's textures: streamed from
        # its pyramid, built on the first run, with or without --lod, never refused or read whole.
        path = os.path.join(WORK, "huge.r16")
        with open(path, "wb") as stream:
            stream.truncate(2 * 16385 * 16385)
        for options in ((), ("--lod",)):
            with self.subTest(options=options):
                kelta = Kelta(self.server, (*options, path), STAGE)
                self.assertTrue(kelta.started(timeout=EXIT_TIMEOUT), kelta.output()[-5:])
                kelta.key("Escape")
                code, lines = self.finish(kelta, f"16385 x 16385 raw map {' '.join(options)}",
                                          summary="(streams, runs)")
                self.assertEqual(code, 0, lines[-5:])
                self.assertTrue(any(line.startswith("Streaming: 16385 x 16385 samples") for line in lines), lines)
                self.assertFalse(any("too large" in line or "level of detail" in line for line in lines), lines)


class TinyHeightMaps(KeltaCase):
    # A 1 x 1 map is one vertex and no strip, a single row or column is a line of vertices.
    CASES = (
        ("1 x 1 map", bmp(1, 1), size_lines(1, 1, 0, 1)),
        ("1 x 7 map", bmp(1, 7), size_lines(1, 1, 1, 1)),
        ("7 x 1 map", bmp(7, 1), size_lines(1, 1, 0, 1)),
        ("5 x 3 map, 24 bits, padded rows", bmp(5, 3, bits=24), size_lines(1, 1, 1, 1)),
    )

    def test_each_runs(self):
        for label, content, expected_sizes in self.CASES:
            with self.subTest(label):
                path = write_map(label, content)
                lines = self.assert_runs(label, (path,))
                first = lines.index(expected_sizes[0])
                self.assertEqual(lines[first:first + 5], expected_sizes)


class ScaleArguments(KeltaCase):
    BAD = (
        (("map.bmp", ""), "horizontal scale", ""),
        (("map.bmp", "abc"), "horizontal scale", "abc"),
        (("map.bmp", "2x"), "horizontal scale", "2x"),
        (("map.bmp", "2.5"), "horizontal scale", "2.5"),
        (("map.bmp", "99999999999"), "horizontal scale", "99999999999"),
        (("map.bmp", "0"), "horizontal scale", "0"),
        (("map.bmp", "-1", "20"), "horizontal scale", "-1"),
        (("map.bmp", "2", "-5"), "height scale", "-5"),
        (("map.bmp", "2", "4e1"), "height scale", "4e1"),
        (("map.bmp", "2", "99999999999"), "height scale", "99999999999"),
    )

    def test_bad_scales_name_the_argument(self):
        for args, name, text in self.BAD:
            with self.subTest(args=args):
                kelta = Kelta(self.server, args, STAGE)
                code, lines = self.finish(kelta, "arguments " + " ".join(f'"{a}"' for a in args))
                self.assertEqual(code, 1, lines[-5:])
                self.assertTrue(lines[-1].startswith(f'Invalid {name} "{text}"'), lines[-1])
                self.assertEqual(sum(line.startswith("Invalid ") for line in lines), 1)
                self.assertNotIn("Main loop started", lines)

    # Refused before any window opens, so the refusal is the only line.
    MISPLACED = (
        (("map.bmp", "--lod"), "Option '--lod' comes after the height map: options go before it (see kelta --help)"),
        (("map.bmp", "2", "--exaggeration=2"),
         "Option '--exaggeration=2' comes after the height map: options go before it (see kelta --help)"),
        (("map.bmp", "2", "20", "extra"), "Extra argument 'extra' after the height scale (see kelta --help)"),
    )

    def test_options_after_the_map_and_extra_arguments_are_refused_in_one_line(self):
        for args, line in self.MISPLACED:
            with self.subTest(args=args):
                lines = self.assert_fatal("arguments " + " ".join(f'"{a}"' for a in args), args, line)
                self.assertEqual(lines, [line])

    def test_good_scales_run(self):
        for args in (("map.bmp", "2", "40"), ("map.bmp", "1", "0")):
            with self.subTest(args=args):
                lines = self.assert_runs("arguments " + " ".join(args), args)
                self.assertIn("Total geometry buffer size: 10240 kB", lines)


if __name__ == "__main__":
    unittest.main()
