"""The terrain options through kelta, kelta-shot and kelta-bench: one help block, and a bad value
refused by each program in its own one line, before any window opens."""
import os
import subprocess
import unittest

from harness import BENCH, BINARY, SHOT

PROGRAMS = {"kelta": BINARY, "kelta-shot": SHOT, "kelta-bench": BENCH}


def run(program, *args):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    result = subprocess.run([PROGRAMS[program], *args], env=env, capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout.splitlines(), result.stderr.splitlines()


def terrain_block(help_lines):
    start = next(i for i, line in enumerate(help_lines) if line.startswith("Terrain options"))
    end = next((i for i in range(start, len(help_lines)) if not help_lines[i]), len(help_lines))
    return help_lines[start:end]


class TerrainOptions(unittest.TestCase):
    def test_every_program_lists_the_same_options(self):
        blocks = {program: terrain_block(run(program, "--help")[1]) for program in PROGRAMS}
        listed = [line.split()[0] for line in blocks["kelta"][1:] if line.startswith("  --")]
        self.assertEqual(listed, ["--lod", "--lod-error", "--exaggeration", "--fill-voids", "--sea-level",
                                  "--snow-line", "--drape", "--drape-bands", "--view-distance", "--stream",
                                  "--tile-cache", "--sun-time", "--sun", "--location", "--shadows"])
        self.assertEqual(blocks["kelta-shot"], blocks["kelta"])
        self.assertEqual(blocks["kelta-bench"], blocks["kelta"])

    def test_a_bad_value_is_refused_in_one_line_naming_the_option(self):
        # (arguments, the option, what it takes, the value as given)
        cases = [
            (["--exaggeration", "0"], "--exaggeration", "a number above 0 and at most 1000", "0"),
            (["--sea-level=deep"], "--sea-level", "a height in metres within +-12000, or none", "deep"),
            (["--view-distance", "1e8", "--lod"], "--view-distance", "a distance from 1 to 10000000", "1e8"),
            (["--tile-cache", "8"], "--tile-cache", "a whole number of megabytes from 16 to 65536", "8"),
        ]
        for args, name, expected, value in cases:
            with self.subTest(args=args):
                self.assertEqual(run("kelta", *args, "map.tif"),
                                 (1, [f"{name} takes {expected} (see kelta --help)"], []))
                for tool in ("kelta-shot", "kelta-bench"):
                    self.assertEqual(run(tool, *args), (1, [], [f"{tool}: {name} takes {expected}, not '{value}'"]))
        self.assertEqual(run("kelta", "--drape"), (1, ["--drape needs a value (see kelta --help)"], []))
        self.assertEqual(run("kelta", "--fill-voids=yes"),
                         (1, ["Unknown option '--fill-voids=yes' (see kelta --help)"], []))


if __name__ == "__main__":
    unittest.main()
