"""The installed programs: `cmake --install` into a fresh prefix, then the installed kelta-shot, run
from the root folder, renders with the installed data set."""
import os
import shutil
import subprocess
import tempfile
import unittest

import images
from harness import BUILD_DIR, SANITIZED, XServer

TIMEOUT = 600 if SANITIZED else 120
INSTALLED_FILES = ["bin/kelta", "bin/kelta-datagen", "bin/kelta-shot", "bin/kelta-bench",
                   "share/kelta/Maps/Lake_512.bmp", "share/kelta/Textures/Skydome.bmp",
                   "share/doc/kelta/README.md"]


class Install(unittest.TestCase):
    def test_installed_shot_finds_the_installed_data_from_anywhere(self):
        with tempfile.TemporaryDirectory() as prefix, XServer() as server:
            subprocess.run([shutil.which("cmake") or "cmake", "--install", BUILD_DIR, "--prefix", prefix],
                           check=True, capture_output=True, timeout=TIMEOUT)
            missing = [name for name in INSTALLED_FILES if not os.path.isfile(os.path.join(prefix, name))]
            self.assertEqual(missing, [])

            picture = os.path.join(prefix, "shot.png")
            result = subprocess.run([os.path.join(prefix, "bin", "kelta-shot"), "--size", "64x48", "--output", picture],
                                    cwd="/", env=server.env(), capture_output=True, text=True, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertGreater(max(images.read(picture).pixels), 0, "the picture is black")


if __name__ == "__main__":
    unittest.main()
