"""Height maps in the formats beside BMP through the real binary: a 16-bit PNG and a raw 16-bit
file start the program and give the mesh of their size; damaged PNGs end with one line and exit
code 1, without a crash or a sanitizer report."""
import os
import re
import shutil
import struct
import tempfile
import unittest
import zlib

from harness import SANITIZED, Kelta, XServer

SANITIZER_REPORT = re.compile(r"ERROR: \w*Sanitizer|runtime error:")
TIMEOUT = 300 if SANITIZED else 60
SIDE = 64
# The five size lines of a 64 x 64 mesh.
SIZE_LINES = ["VBO size (vertices): 48 kB", "VBO size (normals): 48 kB", "VBO size (texture coords): 32 kB",
              "IBO size: 32 kB", "Total geometry buffer size: 160 kB"]


def slope(x, y):
    """A gentle 16-bit slope with sub-8-bit steps, top row first."""
    return (x * 1000 + y * 37) % 65536


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def grey16_png():
    rows = b"".join(b"\0" + b"".join(struct.pack(">H", slope(x, y)) for x in range(SIDE)) for y in range(SIDE))
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", SIDE, SIDE, 16, 0, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


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
            ("cut.png", png[:len(png) // 2], "File is truncated"),
            ("bad-crc.png", with_byte_flipped(png, len(png) - 13), "Invalid PNG: IDAT: CRC error"),
            ("too-wide.png", png[:8] + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 40000, SIDE, 16, 0, 0, 0, 0))
             + png[33:], "Image is larger than 32768 pixels on a side"),
        )
        for name, content, reason in cases:
            with self.subTest(name):
                kelta = Kelta(self.server, (write_map(name, content),))
                self.assertEqual(kelta.wait(TIMEOUT), 1)
                lines = kelta.output()
                self.assertEqual(lines[-1], "Could not load heightmap: " + reason)
                self.assertNotIn("Main loop started", lines)
                self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)


if __name__ == "__main__":
    unittest.main()
