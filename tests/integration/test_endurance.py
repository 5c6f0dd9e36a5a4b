"""Window robustness of the real binary: a storm of resizes down to 1 x 1, unmapping and mapping the
window, and a long run; the program stays alive, logs every resize and keeps its resident memory flat."""
import os
import random
import re
import struct
import sys
import tempfile
import time
import unittest

from harness import FRAMES_AFTER_INPUT, SANITIZED, Kelta, XServer, resident_kib, resize_lines

MIB = 1024
RSS_TOLERANCE_KIB = (128 if SANITIZED else 64) * MIB
# The sanitizer's allocator holds freed blocks in a quarantine of up to 256 MiB, which the driver's
# per-frame and texture allocations fill; a small one keeps resident memory meaningful.
QUARANTINE = {"ASAN_OPTIONS": os.environ.get("ASAN_OPTIONS", "") + ":quarantine_size_mb=4"} if SANITIZED else {}
STORM_SIZE = 100 if SANITIZED else 200
LONG_RUN_SECONDS = 45 if SANITIZED else 75
# Resident memory is sampled after this many frames each, through the long run.
SAMPLE_FRAMES = 100
START_TIMEOUT = 400 if SANITIZED else 120
SANITIZER_REPORT = re.compile(r"ERROR: \w*Sanitizer|runtime error:")
CREATED = re.compile(r"^Created new FBO \((\d+)(, multisampled)?\)$")


def grey_bmp(width, height, value):
    """An 8-bit BMP with a grey palette whose pixel (x, y), bottom row first, is value(x, y)."""
    palette = bytes(v for i in range(256) for v in (i, i, i, 0))
    row = (width + 3) & ~3
    pixels = b"".join(bytes(value(x, y) for x in range(width)) + bytes(row - width) for y in range(height))
    offset = 14 + 40 + len(palette)
    return (b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 0, 0)
            + palette + pixels)


def report(text):
    sys.stderr.write(text + "\n")


def framebuffer_names(lines):
    """The names of the scene target, its multisampled twin and the two blur targets, from start-up."""
    created = [CREATED.match(line) for line in lines]
    created = [match for match in created if match]
    plain = [match.group(1) for match in created if not match.group(2)]
    multisampled = [match.group(1) for match in created if match.group(2)]
    assert len(plain) == 3 and len(multisampled) == 1, lines
    return plain[0], multisampled[0], plain[1], plain[2]


def storm_sizes(count, start):
    """count window sizes, each different from the one before, starting with the extremes."""
    sizes = [(1920, 1080), start, (1, 1), (2, 2), (3, 3), (4, 4), (1, 600), (800, 1), (5, 7), (1023, 767),
             (3, 1080), (1920, 2)]
    chooser = random.Random(6)
    while len(sizes) < count - 1:
        size = chooser.choice([(chooser.randint(1, 8), chooser.randint(1, 8)),
                               (chooser.randint(1, 1920), chooser.randint(1, 1080))])
        if size != sizes[-1] and size != start:
            sizes.append(size)
    return sizes[:count - 1] + [start]


class WindowRobustness(unittest.TestCase):
    def start(self, server, args=(), env=None):
        kelta = Kelta(server, args, env={**QUARANTINE, **(env or {})})
        self.assertTrue(kelta.started(timeout=START_TIMEOUT), kelta.output()[-5:])
        return kelta

    def finish(self, kelta):
        self.assertIsNone(kelta.process.poll(), kelta.output()[-5:])
        self.assertEqual(kelta.quit(timeout=START_TIMEOUT), 0)
        self.assertNotRegex(kelta.stderr_text, SANITIZER_REPORT)

    def settled_rss(self, kelta, frames=FRAMES_AFTER_INPUT):
        """Resident memory once the program has drawn some frames since the last change."""
        self.assertTrue(kelta.wait_for_frames(frames), kelta.output()[-5:])
        self.assertIsNone(kelta.process.poll(), kelta.output()[-5:])
        return resident_kib(kelta.process.pid)

    def test_resize_storm_logs_every_size_and_keeps_memory_flat(self):
        with XServer(2048, 1536) as server:
            kelta = self.start(server)
            names = framebuffer_names(kelta.output())
            start = (800, 600)
            self.assertIn(resize_lines(names, *start)[0], kelta.output())
            rss_at_start = self.settled_rss(kelta)
            sizes = storm_sizes(STORM_SIZE, start)
            expected = []
            baseline = None
            logged_from = len(kelta.output())
            # After single waited-for resizes, groups go out in one xdotool call without waiting, so
            # several arrive between two frames. Sizes change only between frames, so at least one
            # frame is drawn at the last size of each group before the next group is sent.
            group = 1
            done = 0
            while done < len(sizes):
                batch = sizes[done:done + group]
                if len(batch) == 1:
                    kelta.resize(*batch[0])
                else:
                    command = []
                    for width, height in batch:
                        command += ["windowsize", kelta.window, width, height]
                    server.xdotool(*command)
                for width, height in batch:
                    expected += resize_lines(names, width, height)
                self.assertTrue(kelta.wait_for_lines(logged_from + len(expected), timeout=START_TIMEOUT),
                                (batch, kelta.output()[-8:]))
                done += len(batch)
                if done == 2:
                    # The largest size has been allocated once, so the allocator holds its peak.
                    baseline = self.settled_rss(kelta)
                group = 1 if done < 12 else group % 9 + 1
            self.assertTrue(kelta.wait_for_frames())
            self.assertEqual(kelta.output()[logged_from:], expected)
            rss_at_end = self.settled_rss(kelta)
            report(f"resize storm: {len(sizes)} resizes; VmRSS at start {rss_at_start} KiB, "
                   f"after the first largest size {baseline} KiB, at the end {rss_at_end} KiB")
            self.assertLess(rss_at_end - baseline, RSS_TOLERANCE_KIB)
            self.finish(kelta)

    def test_unmapped_and_minimised_window_keeps_running(self):
        with XServer() as server:
            kelta = self.start(server)
            before = len(kelta.output())
            # Without a window manager the minimise request changes nothing; unmapping hides the window.
            server.xdotool("windowminimize", kelta.window)
            server.xdotool("windowunmap", "--sync", kelta.window)
            self.assertTrue(kelta.wait_for_frames(), "no frames while unmapped")
            self.assertIsNone(kelta.process.poll())
            server.xdotool("windowmap", "--sync", kelta.window)
            server.xdotool("windowfocus", "--sync", kelta.window)
            self.assertTrue(kelta.wait_for_frames())
            kelta.key("b")
            self.assertTrue(kelta.wait_for_line("Bloom disabled", timeout=30), kelta.output()[before:])
            self.assertFalse([line for line in kelta.output()[before:] if "FBO" in line])
            self.finish(kelta)

    def test_long_run_keeps_memory_flat(self):
        # A small map and window keep the software rasteriser's frames short, so the run covers
        # thousands of frames.
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            height_map = os.path.join(folder, "slope.bmp")
            with open(height_map, "wb") as stream:
                stream.write(grey_bmp(64, 64, lambda x, y: (x * 4 + y) & 255))
            kelta = self.start(server, args=(height_map,))
            kelta.resize(160, 120)
            samples = [self.settled_rss(kelta)]
            deadline = time.time() + LONG_RUN_SECONDS
            keys = ["1", "2", "3", "4", "5", "b"]
            while time.time() < deadline:
                kelta.key(keys[len(samples) % len(keys)])
                samples.append(self.settled_rss(kelta, SAMPLE_FRAMES))
            self.finish(kelta)
            report(f"long run: {LONG_RUN_SECONDS} s, {kelta.frames} frames; "
                   f"VmRSS every {SAMPLE_FRAMES} frames (KiB): {samples}")
            self.assertGreater(kelta.frames, LONG_RUN_SECONDS)
            self.assertLess(max(samples[1:]) - samples[0], RSS_TOLERANCE_KIB)
            self.assertLess(samples[-1] - samples[1], RSS_TOLERANCE_KIB // 4)


if __name__ == "__main__":
    unittest.main()
