"""Golden images: kelta-shot's pictures of fixed scenes against references kept in
tests/data/golden, compared by the measure in images.py, so that any change that alters the
picture is caught. After a change meant to alter it, renew the references with
    KELTA_UPDATE_GOLDEN=1 ctest --test-dir build -R test_golden
and look at every renewed picture before committing it. A failing case leaves its rendering
and a map of the differing pixels in golden-failures/ of the build folder."""
import os
import shutil
import subprocess
import unittest

import images
from harness import BUILD_DIR, DATA_DIR, SANITIZED, XServer

SHOT = os.environ.get("KELTA_SHOT", "kelta-shot")
GOLDEN_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "golden"))
FAILURE_DIR = os.path.join(BUILD_DIR, "golden-failures")
UPDATE = os.environ.get("KELTA_UPDATE_GOLDEN") == "1"
SIZE = "320x240"
LAKE_POSE = ["--position", "90,1.5,-90", "--direction", "1,0.02,-1"]

# Together these draw every program of the frame: the sky, all five terrain modes (points,
# strips, the animated water), the blur and every view of the final pass.
CASES = {
    "start-pose": [],
    "points-from-above": ["--mode", "1", "--position", "0,30,0", "--direction", "1,-0.3,-1"],
    "height-grey": ["--mode", "3", "--position", "60,40,-20", "--direction", "1,-0.4,-1"],
    "lighting-high-above": ["--mode", "4", "--position", "40,120,-40", "--direction", "1,-0.9,-1"],
    "lake-animated-strong-bloom": ["--time", "2.5", "--bloom-gain", "2.5", "--bloom-threshold", "0.2", *LAKE_POSE],
    "lake-no-bloom": ["--view", "no-bloom", *LAKE_POSE],
    "lake-bright-pass": ["--view", "bright", *LAKE_POSE],
    "lake-blurred-bloom": ["--view", "blurred", *LAKE_POSE],
}


class GoldenImageTest(unittest.TestCase):
    def test_pictures_match_their_references(self):
        shutil.rmtree(FAILURE_DIR, ignore_errors=True)
        os.makedirs(FAILURE_DIR)
        with XServer() as server:
            for name, args in CASES.items():
                with self.subTest(name):
                    reference = os.path.join(GOLDEN_DIR, name + ".png")
                    rendered = os.path.join(FAILURE_DIR, name + ".png")
                    result = subprocess.run([SHOT, "--size", SIZE, "--output", rendered, *args], cwd=DATA_DIR,
                                            env=server.env(), capture_output=True, text=True,
                                            timeout=600 if SANITIZED else 120)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                    if UPDATE:
                        os.replace(rendered, reference)
                        continue
                    share, mean = images.difference(images.read(reference), images.read(rendered))
                    if images.within_tolerance(share, mean):
                        os.remove(rendered)
                        continue
                    images.write_difference(reference, rendered, os.path.join(FAILURE_DIR, name + "-difference.png"))
                    self.fail(f"{name}: {share:.2%} of pixels off by more than {images.PIXEL_TOLERANCE} levels "
                              f"(at most {images.OUTLIER_SHARE:.2%}), mean difference {mean:.3f} levels "
                              f"(at most {images.MEAN_TOLERANCE}); see {FAILURE_DIR}")


if __name__ == "__main__":
    unittest.main()
