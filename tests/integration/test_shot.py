"""kelta-shot through its binary: its picture against the real program's window, its options
and its failures."""
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import images
from elevation import OLINDA
from harness import DATA_DIR, SHOT_TIMEOUT, Kelta, XServer, shot, shot_command


class FirstFrameTest(unittest.TestCase):
    """The water is the one animated surface, so on a map without water every frame of the idle
    program is its first frame, and that is what a default shot must show, to the last bit."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kelta-shot-")
        os.symlink(os.path.join(os.path.abspath(DATA_DIR), "Textures"), os.path.join(self.work, "Textures"))
        os.makedirs(os.path.join(self.work, "Maps"))
        with open(os.path.join(DATA_DIR, "Maps", "Lake_512.bmp"), "rb") as source:
            data = bytearray(source.read())
        # Palette entries 0 to 7 become 8 (height 0.63): the lake bed lies above the water line.
        palette = 54
        for index in range(8):
            data[palette + 4 * index:palette + 4 * index + 3] = bytes([8, 8, 8])
        with open(os.path.join(self.work, "Maps", "Dry.bmp"), "wb") as target:
            target.write(data)

    def tearDown(self):
        shutil.rmtree(self.work)

    def capture(self, kelta, name):
        return kelta.capture(os.path.join(self.work, name))

    def shot_image(self, server, name, *args):
        path = os.path.join(self.work, name)
        code, lines, _ = shot(server, "--map", "Maps/Dry.bmp", "--output", path, *args, cwd=self.work)
        self.assertEqual(code, 0, "\n".join(lines))
        self.assertEqual(lines[-1], f"Wrote {path} (800 x 600)")
        return images.read(path)

    def test_default_shot_is_the_programs_first_frame(self):
        with XServer() as server:
            kelta = Kelta(server, ["Maps/Dry.bmp"], cwd=self.work)
            self.assertTrue(kelta.started(), "\n".join(kelta.output()) + kelta.stderr_text)
            window_start = self.capture(kelta, "window-start.png")
            kelta.key("4", "b", "b")
            self.assertTrue(kelta.wait_for_line("Bright texture", 30))
            window_bright = self.capture(kelta, "window-mode4-bright.png")
            self.assertEqual(kelta.quit(), 0)

            self.assertEqual(window_start.pixels, self.shot_image(server, "shot-start.png").pixels,
                             "the default shot differs from the program's window")
            shot_bright = self.shot_image(server, "shot-mode4-bright.png", "--mode", "4", "--view", "bright")
            self.assertEqual(window_bright.pixels, shot_bright.pixels,
                             "a mode 4 shot of the bright view differs from the program's window")


class OptionsTest(unittest.TestCase):
    def test_sizes_and_settings_reach_the_picture(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            def render(name, *args):
                path = os.path.join(work, name)
                code, lines, errors = shot(server, "--output", path, *args)
                self.assertEqual(code, 0, "\n".join(lines + errors))
                return images.read(path)

            # Sizes beyond the 800 x 600 screen, and sides down to one pixel.
            for size in ("1x1", "3x700", "1920x1080"):
                image = render(f"{size}.png", "--size", size, "--mode", "3")
                self.assertEqual(f"{image.width}x{image.height}", size)

            # Time moves the water of mode 5 and nothing in mode 4, which has no animation.
            full = [render(f"full-{t}.png", "--size", "160x120", "--time", t) for t in ("0", "10")]
            self.assertNotEqual(full[0].pixels, full[1].pixels)
            lit = [render(f"lit-{t}.png", "--size", "160x120", "--mode", "4", "--time", t) for t in ("0", "10")]
            self.assertEqual(lit[0].pixels, lit[1].pixels)

            # Turning round shows another picture; the bright view of mode 4 leaves the terrain black.
            behind = render("behind.png", "--size", "160x120", "--direction", "-1,0,1")
            self.assertFalse(images.matches(full[0], behind))
            bright = render("bright.png", "--size", "160x120", "--mode", "4", "--view", "bright",
                            "--direction", "1,-0.5,-1")
            bottom_row = bright.pixels[-160 * 3:]
            self.assertEqual(max(bottom_row), 0)

    def test_two_runs_at_once_on_one_output_leave_one_whole_picture(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            shared = os.path.join(work, "shared.png")
            runs = [subprocess.Popen(**shot_command(server, "--output", shared, "--size", "64x48", "--mode", mode))
                    for mode in (3, 4)]
            outcomes = [run.communicate(timeout=SHOT_TIMEOUT) + (run.returncode,) for run in runs]
            self.assertEqual([outcome[2] for outcome in outcomes], [0, 0], outcomes)
            alone = []
            for mode in (3, 4):
                path = os.path.join(work, f"mode{mode}.png")
                self.assertEqual(shot(server, "--output", path, "--size", "64x48", "--mode", mode)[0], 0)
                with open(path, "rb") as stream:
                    alone.append(stream.read())
            with open(shared, "rb") as stream:
                self.assertIn(stream.read(), alone, "the picture is not one run's whole file")
            self.assertEqual(sorted(os.listdir(work)), ["mode3.png", "mode4.png", "shared.png"])

    def test_failures_print_one_line_and_exit_1(self):
        # Every failure, the program's own included, is the tool's one line on standard error.
        missing = os.path.join(os.path.realpath(DATA_DIR), "Maps", "Missing.bmp")
        cases = [
            (["--size", "0x600"], "kelta-shot: --size takes WIDTHxHEIGHT, each 1 to 32768, not '0x600'"),
            (["--mode", "9"], "kelta-shot: --mode takes a mode from 1 to 5, not '9'"),
            (["--frame"], "kelta-shot: unknown option '--frame' (see --help)"),
            (["--map", "Maps/Missing.bmp", "--size", "8x8"],
             f"kelta-shot: Could not load heightmap: File not found: Maps/Missing.bmp, looked for as {missing} "
             f"(data folder {os.path.realpath(DATA_DIR)})"),
        ]
        with XServer() as server:
            for args, expected in cases:
                code, out, err = shot(server, *args)
                self.assertEqual(code, 1, args)
                self.assertEqual(err, [expected], args)
                self.assertFalse([line for line in out if "Could not" in line], args)
        # Options are checked before any window is opened, so no display is needed for them.
        self.assertEqual(shot(None, "--time", "-2")[0], 1)
        code, _, err = shot(None, "--size", "8x8")
        self.assertEqual(code, 1)
        self.assertTrue(err and all(line.startswith("kelta-shot: GLFW Error: ") for line in err), err)
        code, lines, _ = shot(None, "--help")
        self.assertEqual(code, 0)
        self.assertTrue(lines[0].startswith("Usage: kelta-shot"))
        code, lines, _ = shot(None, "--version")
        self.assertEqual(code, 0)
        self.assertRegex("\n".join(lines), r"^kelta-shot \d+\.\d+\.\d+$")


class PosterTest(unittest.TestCase):
    """Pictures larger than kelta-shot draws at once are drawn in tiles, each a part of the one view
    drawn with the bloom's margin (380 pixels across, 260 down) around it. Tiles of 764 pixels cut
    these sizes into 2 x 2, each drawn at 1524 x 1284, so that the GL can also draw them whole."""

    TILES = ["--tile-size", "764"]
    # A strong bloom, whose blur crosses every seam.
    BLOOM = ["--bloom-gain", "2.5", "--bloom-threshold", "0.2"]

    def test_a_picture_drawn_in_tiles_is_the_picture_drawn_at_once(self):
        # Level of detail judges its error on the whole picture's size, or tiles would pick other
        # ground; sides that are no multiple of 4 blur on the whole picture's grid of texels.
        olinda = ["--map", OLINDA, "--position", "-15,12,15", "--direction", "1,-0.2,-1", "--exaggeration", "10"]
        cases = [
            ("default", "1528x1288", []),
            ("default-lod", "1528x1288", ["--lod"]),
            ("olinda", "1527x1287", olinda),
            ("olinda-lod", "1527x1287", [*olinda, "--lod"]),
        ]
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            for name, size, args in cases:
                with self.subTest(name):
                    pictures = []
                    for drawing, extra in (("whole", []), ("tiled", self.TILES)):
                        path = os.path.join(work, f"{name}-{drawing}.png")
                        code, lines, errors = shot(server, "--output", path, "--size", size, *self.BLOOM, *args,
                                                   *extra)
                        self.assertEqual(code, 0, "\n".join(lines + errors))
                        self.assertEqual(lines[-1], f"Wrote {path} ({size.replace('x', ' x ')})")
                        pictures.append(images.read(path))
                    self.assertIn(f"kelta-shot: drawing {path} in tiles: tile 4 of 4", errors)
                    share, mean = images.difference(*pictures)
                    if not images.within_tolerance(share, mean):
                        images.write_difference(os.path.join(work, f"{name}-whole.png"), path,
                                                os.path.join(os.getcwd(), f"poster-{name}-difference.png"))
                    self.assertTrue(images.within_tolerance(share, mean), f"{share:.5f} of the pixels off, {mean:.3f} mean")

    def test_an_interrupted_picture_leaves_the_old_file_and_nothing_beside_it(self):
        with XServer() as server, tempfile.TemporaryDirectory() as work:
            target = os.path.join(work, "poster.png")
            with open(target, "wb") as stream:
                stream.write(b"old")
            run = subprocess.Popen(**shot_command(server, "--output", target, "--size", "1528x1288", *self.TILES))
            told = ""
            while "tile 2 of 4" not in told:
                character = run.stderr.read(1)
                self.assertTrue(character, told)
                told += character
            # The picture's rows go to a new file beside the target from the first tile on.
            self.assertEqual(len(os.listdir(work)), 2)
            run.send_signal(signal.SIGINT)
            run.communicate(timeout=SHOT_TIMEOUT)
            self.assertEqual(run.returncode, -signal.SIGINT)
            self.assertEqual(os.listdir(work), ["poster.png"])
            with open(target, "rb") as stream:
                self.assertEqual(stream.read(), b"old")


if __name__ == "__main__":
    unittest.main()
