"""Start-up output, the main loop, Escape, and running without a display."""
import subprocess
import time
import unittest

from harness import BINARY, DATA_DIR, Kelta, XServer


class StartUp(unittest.TestCase):
    def test_prints_device_version_and_main_loop_then_exits_on_escape(self):
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            lines = kelta.output()
            self.assertTrue(lines[0].startswith("Device: "), lines[:3])
            self.assertTrue(lines[1].startswith("OpenGL version: "), lines[:3])
            self.assertEqual(lines[2], "")
            index = lines.index("Main loop started")
            self.assertEqual(lines[index - 1], "")
            self.assertTrue(kelta.wait_for_lines(index + 2))
            self.assertEqual(kelta.output()[index + 1], "")
            self.assertEqual(kelta.quit(), 0)

    def test_held_escape_ends_the_loop_once(self):
        with XServer() as server:
            kelta = Kelta(server)
            self.assertTrue(kelta.started(), kelta.output())
            kelta.key_down("Escape")
            code = kelta.wait(60)
            kelta.key_up("Escape")
            self.assertEqual(code, 0)

    def test_without_a_display_reports_the_glfw_error(self):
        kelta = Kelta(None)
        self.assertEqual(kelta.wait(30), 1)
        time.sleep(0.2)
        self.assertTrue(kelta.stderr_text.startswith("GLFW Error: "), kelta.stderr_text)
        self.assertNotIn("Main loop started", kelta.output())


class DataLookup(unittest.TestCase):
    def test_backslash_names_resolve_from_another_working_directory(self):
        # The data folder beside the executable is found when the working directory has none.
        with XServer() as server:
            kelta = Kelta(server, cwd="/")
            self.assertTrue(kelta.started(), kelta.output())
            self.assertEqual(kelta.quit(), 0)


if __name__ == "__main__":
    unittest.main()
