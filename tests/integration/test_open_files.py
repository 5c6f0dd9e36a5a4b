"""Maps opened while the real binary runs, as files dropped on its window are (through
KELTA_DROP_FILES, as no X tool can drop a file): each releases the one before it whole, so that
twenty in a row leave the process as large as the last one alone."""
import array
import os
import sys
import tempfile
import unittest

from harness import FRAMES_AFTER_INPUT, SANITIZED, Kelta, XServer, resident_kib

# Resident memory after twenty maps may exceed that after the last one alone by this share.
RSS_TOLERANCE = 0.10
MAP_COUNT = 20
# Sides of the maps, in turn: the larger ones come first, so that memory they leave behind shows.
SIDES = [640, 384, 512, 256]
START_TIMEOUT = 180


def write_raw_map(path, side, seed):
    """A raw 16-bit map of ridges, different for each seed."""
    samples = array.array("H")
    for row in range(side):
        samples.extend((column * (seed + 3) + row * (2 * seed + 5)) % 4096 * 8 for column in range(side))
    if sys.byteorder == "big":
        samples.byteswap()
    with open(path, "wb") as stream:
        stream.write(samples.tobytes())
    return path


@unittest.skipIf(SANITIZED, "the sanitizer's allocator keeps what is freed, which resident memory counts")
class OpenFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="kelta-open-")
        cls.maps = [write_raw_map(os.path.join(cls.folder.name, f"map-{k:02}.r16"), SIDES[k % len(SIDES)], k)
                    for k in range(MAP_COUNT)]

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def resident_after_opening(self, maps, options):
        """Resident memory once the maps have opened, one after another, and frames of the last drawn."""
        with XServer() as server:
            kelta = Kelta(server, [*options], env={"KELTA_DROP_FILES": "\n".join(maps)})
            try:
                self.assertTrue(kelta.wait_for_line(f"Map opened: {maps[-1]}", START_TIMEOUT),
                                kelta.output()[-5:])
                self.assertTrue(kelta.wait_for_frames(FRAMES_AFTER_INPUT))
                opened = [line for line in kelta.output() if line.startswith("Map opened: ")]
                self.assertEqual(opened, [f"Map opened: {path}" for path in maps])
                resident = resident_kib(kelta.process.pid)
                self.assertEqual(kelta.quit(), 0)
            finally:
                if kelta.process.poll() is None:
                    kelta.process.kill()
                    kelta.wait()
            self.assertNotIn("could not open", kelta.stderr_text)
            return resident

    def test_twenty_maps_in_a_row_take_the_memory_of_the_last_alone(self):
        # The fault: a replaced terrain keeps its buffers, textures, readers or heap.
        for options in ([], ["--stream"]):
            with self.subTest(options=options):
                alone = self.resident_after_opening(self.maps[-1:], options)
                many = self.resident_after_opening(self.maps, options)
                self.assertLessEqual(many, alone * (1.0 + RSS_TOLERANCE),
                                     f"VmRSS {many} KiB after {MAP_COUNT} maps, {alone} KiB after the last alone")


if __name__ == "__main__":
    unittest.main()
