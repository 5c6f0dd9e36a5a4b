"""Camera paths through the real program: a path file flown with --play, its times of day moving
the sun, and a flight recorded with key R and flown again."""
import json
import os
import re
import tempfile
import time
import unittest

import elevation
from harness import Kelta, XServer

SAVED_LINE = re.compile(r"^Saved the flight to (kelta-path-\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d\.json) \((\d+) poses, (\d+\.\d) s\)$")


def lines_starting(kelta, prefix):
    return [line for line in kelta.output() if line.startswith(prefix)]


def wait_for_prefix(kelta, prefix, count=1, timeout=60):
    """The lines beginning with prefix once there are count of them (fewer when time runs out)."""
    deadline = time.time() + timeout
    while len(lines_starting(kelta, prefix)) < count and time.time() < deadline and kelta.process.poll() is None:
        time.sleep(0.05)
    return lines_starting(kelta, prefix)


class CameraPaths(unittest.TestCase):
    def test_a_path_played_at_one_speed_ends_and_leaves_the_sun_at_its_last_time(self):
        path = {"keyframes": [
            {"time": 0, "position": [20, 2, -20], "direction": [1, -0.2, -1], "sunTime": "2026-06-21T16:30-03:00"},
            {"time": 0.5, "position": [40, 3, -30], "lookAt": [60, 0, -60]},
            {"time": 1, "position": [50, 3, -50], "direction": [0, -0.3, -1], "sunTime": "2026-06-21T16:45-03:00"}]}
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            file = os.path.join(folder, "flight.json")
            with open(file, "w") as stream:
                json.dump(path, stream)
            kelta = Kelta(server, ["--play", file, "--constant-speed", "--sun-time", "2026-06-21T16:30-03:00", elevation.OLINDA])
            self.assertTrue(kelta.wait_for_line("Flight ended", timeout=180), kelta.output()[-5:])
            sun = wait_for_prefix(kelta, "Sun: ", 2)
            self.assertEqual(kelta.quit(), 0)
            self.assertEqual(kelta.output()[0], f"Playing {file}: 3 keyframes, 1.0 s, at one speed")
            # The start-up's line, then the flight's last, which moved the sun quietly in between.
            self.assertEqual(sun, ["Sun: azimuth 295.3°, altitude 8.5° (2026-06-21T16:30-03:00 at 8.0° S, 34.9° W)",
                                   "Sun: azimuth 294.6°, altitude 5.2° (2026-06-21T16:45-03:00 at 8.0° S, 34.9° W)"])

    def test_a_recorded_flight_flown_again_ends_where_it_was_flown(self):
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            # The working directory holds no data set: the program takes the one beside it.
            kelta = Kelta(server, cwd=folder)
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            kelta.key("r")
            self.assertTrue(kelta.wait_for_line("Recording the flight"))
            kelta.key_down("w")
            self.assertTrue(kelta.wait_for_frames(6))
            kelta.key_down("e")
            self.assertTrue(kelta.wait_for_frames(4))
            kelta.key_up("e")
            kelta.key_up("w")
            kelta.key("r")
            saved = wait_for_prefix(kelta, "Saved the flight to ")
            self.assertEqual(len(saved), 1, kelta.output()[-5:] + [kelta.stderr_text])
            kelta.key("i")
            flown = wait_for_prefix(kelta, "Point: ")
            self.assertEqual(kelta.quit(), 0)
            name, count, seconds = SAVED_LINE.match(saved[0]).groups()
            with open(os.path.join(folder, name)) as stream:
                keyframes = json.load(stream)["keyframes"]
            self.assertEqual(len(keyframes), int(count))
            self.assertAlmostEqual(keyframes[-1]["time"], float(seconds), delta=0.05)
            # Moving forward: the eye went somewhere.
            self.assertGreater(abs(keyframes[-1]["position"][2] - keyframes[0]["position"][2]), 1.0)

            again = Kelta(server, ["--play", name], cwd=folder)
            self.assertTrue(again.started(), again.output()[-5:])
            self.assertTrue(again.wait_for_line("Flight ended", timeout=180), again.output()[-5:])
            again.key("i")
            played = wait_for_prefix(again, "Point: ")
            self.assertEqual(again.quit(), 0)
            self.assertEqual(played, flown)


if __name__ == "__main__":
    unittest.main()
