"""Screenshots and saved views through the real programs: F12 writes the window's picture without
the panel and never over another screenshot; a view saved with Ctrl and a digit outlives the run, is
flown to with Alt and the digit in the next, and kelta-shot --saved-view renders it; a damaged
views file is said and kept."""
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import images
from harness import BINARY, DATA_DIR, Kelta, XServer, shot

SCREENSHOT_LINE = re.compile(r"^Screenshot: (.*/(kelta-\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d)(-\d+)?\.png)$")


def wait_for_prefix(lines, prefix, count=1, timeout=60, running=lambda: True):
    """The lines beginning with prefix once there are count of them (fewer when time runs out)."""
    deadline = time.time() + timeout
    while time.time() < deadline and running():
        found = [line for line in lines() if line.startswith(prefix)]
        if len(found) >= count:
            return found
        time.sleep(0.05)
    return [line for line in lines() if line.startswith(prefix)]


def views_file(data_home, map_path):
    """Where kelta keeps the views of the map: its stem and the 64-bit FNV-1a hash of its real path,
    as the pyramid cache names the map's folder."""
    digest = 14695981039346656037
    for byte in os.path.realpath(map_path).encode():
        digest = ((digest ^ byte) * 1099511628211) % (1 << 64)
    stem = os.path.splitext(os.path.basename(map_path))[0]
    return os.path.join(data_home, "kelta", "views", f"{stem}-{digest:016x}.json")


class Screenshots(unittest.TestCase):
    def test_f12_writes_the_picture_without_the_panel_and_a_second_keeps_the_first(self):
        # Catches a screenshot with the panel in it, rows upside down, a second screenshot of the
        # same second written over the first, or a failed write that stops the program or says nothing.
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            shots = os.path.join(folder, "shots")
            os.mkdir(shots)
            kelta = Kelta(server, ["--screenshot-folder", shots])
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            # Lighting only: nothing in the picture moves.
            kelta.key("4")
            window = kelta.capture(os.path.join(folder, "window.png"))
            kelta.key("F1")
            kelta.wait_for_frames()
            kelta.key("F12", "F12")
            lines = wait_for_prefix(kelta.output, "Screenshot: ", 2)
            self.assertEqual(len(lines), 2, kelta.output()[-5:] + [kelta.stderr_text])
            (first, first_stem, _), (second, second_stem, suffix) = [SCREENSHOT_LINE.match(line).groups()
                                                                     for line in lines]
            self.assertEqual(os.path.dirname(first), shots)
            self.assertNotEqual(first, second)
            if first_stem == second_stem:
                self.assertEqual(suffix, "-2")
            picture = images.read(first, server.env())
            self.assertTrue(images.matches(picture, window), images.difference(picture, window))
            self.assertTrue(images.matches(images.read(second, server.env()), window))

            shutil.rmtree(shots)
            kelta.key("F12")
            failed = wait_for_prefix(lambda: kelta.stderr_lines, "kelta: screenshot not saved: ")
            self.assertEqual(len(failed), 1, kelta.stderr_text)
            self.assertRegex(failed[0], rf"^kelta: screenshot not saved: cannot write {re.escape(shots)}/kelta-[-\d]+\.png: "
                                        rf"{re.escape(shots)}: No such file or directory\n$")
            self.assertTrue(kelta.wait_for_frames(), "the program stopped drawing")
            self.assertEqual(kelta.quit(), 0)
            self.assertEqual(len([line for line in kelta.output() if line.startswith("Screenshot: ")]), 2)

    def test_a_screenshot_folder_that_cannot_be_written_ends_the_run_before_the_window_opens(self):
        with tempfile.TemporaryDirectory() as folder:
            missing = os.path.join(folder, "missing")
            env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
            result = subprocess.run([BINARY, "--screenshot-folder", missing], env=env, capture_output=True,
                                    text=True, timeout=60)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout, f"--screenshot-folder {missing}: No such file or directory\n")


class SavedViews(unittest.TestCase):
    def test_a_view_saved_with_ctrl_is_flown_to_with_alt_in_the_next_run_and_rendered_by_kelta_shot(self):
        # Catches views that do not outlive the run, a chord whose release (Ctrl let go first) switches
        # the shading mode, a recalled view that ends anywhere but where it was saved or in another
        # mode, kelta-shot reading another file, and a damaged file written over or lost.
        with XServer() as server, tempfile.TemporaryDirectory() as folder:
            file = views_file(os.environ["XDG_DATA_HOME"], os.path.join(DATA_DIR, "Maps", "Lake_512.bmp"))
            os.makedirs(os.path.dirname(file), exist_ok=True)
            self.addCleanup(shutil.rmtree, os.path.dirname(file), True)
            with open(file, "w") as stream:
                stream.write('{"views": [')

            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output()[-5:])
            self.assertIn(f"kelta: {file} holds no views that can be read: it is not JSON; the next view saved "
                          "moves it aside\n", kelta.stderr_lines)
            kelta.key("4")
            kelta.key_down("w")
            kelta.wait_for_frames(4)
            kelta.key_up("w")
            before = kelta.capture(os.path.join(folder, "before.png"))
            kelta.server.xdotool("keydown", "ctrl", "keydown", "3", "keyup", "ctrl", "keyup", "3")
            self.assertTrue(kelta.wait_for_line("Saved view 3"), kelta.output()[-5:] + [kelta.stderr_text])
            saved = kelta.capture(os.path.join(folder, "saved.png"))
            self.assertTrue(images.matches(saved, before), "the chord switched the shading mode")
            kelta.key("i")
            point = wait_for_prefix(kelta.output, "Point: ")
            self.assertEqual(kelta.quit(), 0)
            self.assertIn(f"kelta: {file} holds no views that can be read: it is not JSON; moved it aside to "
                          f"{file}.damaged\n", kelta.stderr_lines)
            with open(file + ".damaged") as stream:
                self.assertEqual(stream.read(), '{"views": [')
            with open(file) as stream:
                views = json.load(stream)["views"]
            self.assertEqual([(view["number"], view["shading_mode"]) for view in views], [(3, 4)])

            again = Kelta(server)
            self.assertTrue(again.started(), again.output()[-5:])
            again.key("alt+3")
            self.assertTrue(again.wait_for_line("View 3"), again.output()[-5:])
            self.assertTrue(again.wait_for_line("Flight ended"), again.output()[-5:])
            again.key("i")
            self.assertEqual(wait_for_prefix(again.output, "Point: "), point)
            recalled = again.capture(os.path.join(folder, "recalled.png"))
            again.key("alt+5")
            self.assertTrue(again.wait_for_line("No view 5 saved for this map"))
            self.assertEqual(again.quit(), 0)
            self.assertTrue(images.matches(recalled, saved), images.difference(recalled, saved))

            still = os.path.join(folder, "still.png")
            code, _, err = shot(server, "--saved-view", "3", "--output", still)
            self.assertEqual(code, 0, err)
            picture = images.read(still, server.env())
            self.assertTrue(images.matches(picture, saved), images.difference(picture, saved))
            code, _, err = shot(server, "--saved-view", "Harbour", "--output", still)
            self.assertEqual((code, err[-1:]), (1, [f"kelta-shot: no view 'Harbour' in {file}"]))


if __name__ == "__main__":
    unittest.main()
