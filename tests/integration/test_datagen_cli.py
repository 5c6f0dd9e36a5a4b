"""The data generator as a command-line tool: help, the files it writes, and one clear line with exit
code 1 for a bad option, a bad value, a folder it cannot write or too little memory."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from harness import DATAGEN, SANITIZED


def run(*args, cwd=None):
    return subprocess.run([DATAGEN, *args], cwd=cwd, capture_output=True, text=True, timeout=120)


class DatagenCli(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kelta-datagen-cli-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def assert_fails_with_one_line(self, result, *fragments):
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        lines = (result.stdout + result.stderr).splitlines()
        self.assertEqual(len(lines), 1, lines)
        for fragment in fragments:
            self.assertIn(fragment, lines[0])

    def test_help_lists_the_options(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        for option in ("--output", "--seed", "--map-size", "--only-map", "--force", "--help", "--version"):
            self.assertIn(option, result.stdout)
        result = run("--version")
        self.assertEqual(result.returncode, 0)
        self.assertRegex(result.stdout, r"^kelta-datagen \d+\.\d+\.\d+\n$")

    def test_map_only_writes_the_requested_size(self):
        result = run("--output", self.work, "--map-size", "128", "--only-map", "--seed=7")
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(os.listdir(self.work), ["Maps"])
        self.assertEqual(os.listdir(os.path.join(self.work, "Maps")), ["Lake_128.bmp"])
        with open(os.path.join(self.work, "Maps", "Lake_128.bmp"), "rb") as f:
            data = f.read()
        self.assertEqual(data[:2], b"BM")
        header_size, width, height, _, bits = struct.unpack("<IiiHH", data[14:30])
        self.assertEqual((header_size, width, height, bits), (40, 128, 128, 8))
        self.assertEqual(len(data), 14 + 40 + 1024 + 128 * 128)

    def test_replaces_only_its_own_files_unless_forced(self):
        map_path = os.path.join(self.work, "Maps", "Lake_64.bmp")
        args = ("--output", self.work, "--map-size", "64", "--only-map")

        def map_bytes():
            with open(map_path, "rb") as stream:
                return stream.read()

        first = run(*args)
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertEqual(first.stdout.splitlines(), ["Wrote Maps/Lake_64.bmp", f"Wrote 1 file to {self.work}"])
        generated = map_bytes()
        # (what is in the map's place, extra arguments, exit code, whether the map is then the generated one)
        cases = [
            (generated, (), 0, True),
            (b"a user's own picture", (), 1, False),
            (generated, ("--seed", "2"), 1, True),
            (b"a user's own picture", ("--force",), 0, True),
        ]
        for content, extra, code, ends_generated in cases:
            with self.subTest(content=content[:20], extra=extra):
                with open(map_path, "wb") as stream:
                    stream.write(content)
                result = run(*args, *extra)
                self.assertEqual(result.returncode, code, result.stdout + result.stderr)
                if code == 1:
                    self.assertEqual(result.stdout, "")
                    self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                    self.assertIn(map_path, result.stderr)
                    self.assertIn("--force", result.stderr)
                self.assertEqual(map_bytes() == generated, ends_generated)
                self.assertEqual(os.listdir(os.path.dirname(map_path)), ["Lake_64.bmp"])

    def test_default_set_goes_to_the_working_directory(self):
        result = run(cwd=self.work)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        names = ("Water", "Grass", "Rock3", "Rock4", "Pebbles1", "Snow", "Snow2", "GrassDry", "Water_Normal",
                 "Skydome")
        for relative in ["Maps/Lake_512.bmp", *(f"Textures/{name}.bmp" for name in names)]:
            self.assertTrue(os.path.isfile(os.path.join(self.work, relative)), relative)

    def test_a_whole_set_holds_the_default_map_whatever_map_was_asked_for(self):
        for folder, extra in (("default", ("--only-map",)), ("png16", ("--map-format", "png16"))):
            self.assertEqual(run("--output", os.path.join(self.work, folder), "--seed", "3", *extra).returncode, 0)
        self.assertEqual(sorted(os.listdir(os.path.join(self.work, "png16", "Maps"))), ["Lake_512.bmp", "Lake_512.png"])
        maps = [os.path.join(self.work, folder, "Maps", "Lake_512.bmp") for folder in ("default", "png16")]
        with open(maps[0], "rb") as default, open(maps[1], "rb") as beside_png:
            self.assertEqual(default.read(), beside_png.read(), "kelta's default map, from the same seed")

    def test_bad_options_and_values_fail_with_one_line(self):
        self.assert_fails_with_one_line(run("--colour", "red"), "--colour")
        self.assert_fails_with_one_line(run("--map-size"), "--map-size")
        for size in ("abc", "-512", "32", "9000", "512px", ""):
            with self.subTest(size=size):
                self.assert_fails_with_one_line(run("--output", self.work, "--map-size", size), "--map-size")
        for seed in ("x", "4294967296", "1.5"):
            with self.subTest(seed=seed):
                self.assert_fails_with_one_line(run("--output", self.work, "--seed", seed), "--seed")
        self.assertEqual(os.listdir(self.work), [], "nothing is written after a bad option")

    def test_unwritable_folder_fails_with_one_line_naming_it(self):
        # Nothing can be created beneath a plain file, not even by root.
        blocker = os.path.join(self.work, "plain-file")
        with open(blocker, "w") as f:
            f.write("x")
        target = os.path.join(blocker, "data")
        self.assert_fails_with_one_line(run("--output", target, "--only-map"), target)


    @unittest.skipIf(SANITIZED, "the sanitizers' shadow memory does not fit under a memory limit")
    def test_too_little_memory_fails_with_one_line_and_writes_nothing(self):
        # 200 MB of address space start the tool but do not hold an 8192 x 8192 map being made.
        result = subprocess.run(["sh", "-c", 'ulimit -v 200000 && exec "$0" "$@"', DATAGEN, "--output", self.work,
                                 "--only-map", "--map-size", "8192"], capture_output=True, text=True, timeout=120)
        self.assert_fails_with_one_line(result, "kelta-datagen: Not enough memory")
        self.assertEqual([name for _, _, names in os.walk(self.work) for name in names], [])

if __name__ == "__main__":
    unittest.main()
