"""Pixels of PNG files and window captures (through ImageMagick), the measure by which two
renderings of one picture count as the same, and 16-bit grey PNGs written byte by byte.

Software rasterisers differ between machines in the last bits of their arithmetic (vector
width, thread count, LLVM version), which moves single colour levels and the odd pixel on an
edge, never the picture. So two images match when
  - at most OUTLIER_SHARE of the pixels differ by more than PIXEL_TOLERANCE levels in any
    channel, and
  - the mean absolute difference over all channels is at most MEAN_TOLERANCE levels.
A change to a shader, the camera or the data moves far more pixels than that."""
import struct
import subprocess
import zlib

PIXEL_TOLERANCE = 8
OUTLIER_SHARE = 0.001
MEAN_TOLERANCE = 0.1


class Image:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels


def read(path, env=None):
    """An RGB image from any file ImageMagick reads."""
    size = subprocess.run(["identify", "-format", "%w %h", path], env=env, check=True,
                          capture_output=True, text=True).stdout.split()
    pixels = subprocess.run(["convert", path, "-alpha", "off", "-depth", "8", "rgb:-"], env=env, check=True,
                            capture_output=True).stdout
    return Image(int(size[0]), int(size[1]), pixels)


def difference(a, b):
    """(share of pixels off by more than PIXEL_TOLERANCE in some channel, mean absolute channel
    difference) of two images of one size."""
    if (a.width, a.height) != (b.width, b.height):
        raise ValueError(f"sizes differ: {a.width}x{a.height} and {b.width}x{b.height}")
    outliers = 0
    total = 0
    pa, pb = a.pixels, b.pixels
    for i in range(0, len(pa), 3):
        d0, d1, d2 = abs(pa[i] - pb[i]), abs(pa[i + 1] - pb[i + 1]), abs(pa[i + 2] - pb[i + 2])
        total += d0 + d1 + d2
        if d0 > PIXEL_TOLERANCE or d1 > PIXEL_TOLERANCE or d2 > PIXEL_TOLERANCE:
            outliers += 1
    return outliers / (a.width * a.height), total / len(pa)


def within_tolerance(share, mean):
    """Whether a difference() result counts as the same picture."""
    return share <= OUTLIER_SHARE and mean <= MEAN_TOLERANCE


def matches(a, b):
    return within_tolerance(*difference(a, b))


def write_difference(a, b, path):
    """A picture of where two images differ, amplified, for a failing test's report."""
    subprocess.run(["compare", "-metric", "AE", "-fuzz", f"{PIXEL_TOLERANCE * 100 // 255}%", a, b, path],
                   capture_output=True)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def palette_png(width, height, index, reds):
    """The bytes of an 8-bit palette PNG of index(x, y), top row first, whose entry k is red reds[k]
    (green and blue 0)."""
    rows = b"".join(b"\0" + bytes(index(x, y) for x in range(width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0))
            + png_chunk(b"PLTE", b"".join(bytes([red, 0, 0]) for red in reds))
            + png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


def grey16_png(width, height, sample):
    """The bytes of a 16-bit grey PNG of sample(x, y), top row first."""
    rows = b"".join(b"\0" + b"".join(struct.pack(">H", sample(x, y)) for x in range(width)) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 16, 0, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))
