"""Start-up output, the main loop, Escape, running without a display, closed standard streams,
too old a GL context, the command-line options and where the data set is found."""
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

import harness
import images
from harness import BINARY, DATA_DIR, SANITIZED, Kelta, XServer

DATA_FILES = ("Maps/Lake_512.bmp", "Textures/Skydome.bmp",
              *(f"Textures/{name}.bmp" for name in ("Water", "Grass", "Rock3", "Rock4", "Pebbles1", "Snow", "Snow2",
                                                    "GrassDry", "Water_Normal")))


def link_data(target, skip=None):
    for name in DATA_FILES:
        if name != skip:
            os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
            os.symlink(os.path.join(os.path.abspath(DATA_DIR), name), os.path.join(target, name))


# Escape during start-up work ends the program within a second; a loaded test machine gets more.
START_UP_QUIT_SECONDS = 15 if SANITIZED else 4


class StartUp(unittest.TestCase):
    def test_a_silent_server_leaves_the_window_alive_and_escape_quits_at_once(self):
        # A server that takes the connection and never answers: reading the map's header waits for
        # GDAL's time-outs (half a minute), which the window must not.
        with socket.socket() as listener, XServer() as server:
            listener.bind(("127.0.0.1", 0))
            listener.listen()
            listener.settimeout(120)
            port = listener.getsockname()[1]
            kelta = Kelta(server, [f"/vsicurl/http://127.0.0.1:{port}/map.tif"])
            connection, _ = listener.accept()
            with connection:
                window = server.xdotool("search", "--sync", "--name", "^KELTA$").split()[0]
                server.xdotool("windowfocus", "--sync", window)
                # It shows that it is working: a bar across the middle, not a black frame.
                shown = None
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline:
                    with tempfile.TemporaryDirectory() as folder:
                        path = os.path.join(folder, "waiting.png")
                        subprocess.run(["import", "-window", window, path], env=server.env(), check=True)
                        shown = images.read(path, server.env())
                    middle = shown.height // 2 * shown.width * 3
                    if any(shown.pixels[middle:middle + shown.width * 3]):
                        break
                    time.sleep(0.1)
                self.assertTrue(any(shown.pixels[middle:middle + shown.width * 3]), "no progress bar drawn")
                started = time.monotonic()
                self.assertEqual(kelta.quit(timeout=60), 0, kelta.stderr_text)
                self.assertLess(time.monotonic() - started, START_UP_QUIT_SECONDS)
            self.assertNotIn("Main loop started", kelta.output())

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

    def test_closed_standard_streams_do_not_hang(self):
        # Closed, descriptor 1 would go to the X connection, and the log into its socket.
        with XServer() as server:
            kelta = subprocess.Popen(["sh", "-c", 'exec "$0" <&- >&-', BINARY], cwd=DATA_DIR,
                                     env={**server.env(), "KELTA_FRAME_REPORT": "1"},
                                     stderr=subprocess.PIPE, text=True)
            try:
                # Standard error alone is left to tell that the main loop runs.
                for line in kelta.stderr:
                    if line == "frame 2\n":
                        break
                window = server.xdotool("search", "--sync", "--name", "^KELTA$").split()[0]
                server.xdotool("windowfocus", "--sync", window)
                server.xdotool("key", "Escape")
                kelta.communicate(timeout=120)
                self.assertEqual(kelta.returncode, 0)
            finally:
                kelta.kill()
                kelta.wait()

    def test_context_below_opengl_3_3_or_glsl_3_30_is_refused_in_one_line(self):
        cases = (("2.1", "120", "2.1", "1.20"), ("3.0", "130", "3.0", "1.30"), ("3.3", "130", "3.3", "1.30"))
        with XServer() as server:
            for gl, glsl, gl_text, glsl_text in cases:
                with self.subTest(gl=gl, glsl=glsl):
                    kelta = Kelta(server, env={"MESA_GL_VERSION_OVERRIDE": gl, "MESA_GLSL_VERSION_OVERRIDE": glsl})
                    self.assertEqual(kelta.wait(60), 1, kelta.output())
                    lines = kelta.output()
                    self.assertTrue(lines[0].startswith("Device: "), lines)
                    self.assertTrue(lines[1].startswith("OpenGL version: " + gl_text), lines)
                    self.assertEqual(lines[2:3], [""], lines)
                    self.assertEqual(len(lines), 4, lines)
                    self.assertRegex(lines[3], "^KELTA needs OpenGL 3.3 with GLSL 3.30; this context has OpenGL "
                                     + re.escape(gl_text) + ".* with GLSL " + re.escape(glsl_text))

    def test_without_a_display_reports_the_glfw_error(self):
        kelta = Kelta(None)
        self.assertEqual(kelta.wait(30), 1)
        self.assertTrue(kelta.stderr_text.startswith("GLFW Error: "), kelta.stderr_text)
        self.assertNotIn("Main loop started", kelta.output())


class CommandLine(unittest.TestCase):
    def test_options_come_first_and_need_no_window(self):
        # No display: a run that opened a window would end with a GLFW error instead.
        cases = (
            (("--help",), 0, "Usage: kelta [options] [--] [HEIGHT_MAP [HORIZONTAL_SCALE [HEIGHT_SCALE]]]"),
            (("-h", "map.bmp"), 0, "Usage: kelta [options] [--] [HEIGHT_MAP [HORIZONTAL_SCALE [HEIGHT_SCALE]]]"),
            (("--version",), 0, None),
            (("--bogus", "map.bmp"), 1, "Unknown option '--bogus' (see kelta --help)"),
            # A flight's file is read before the window opens.
            (("--play", "/nonexistent/flight.json"), 1, "Could not play /nonexistent/flight.json: No such file or directory"),
            (("--constant-speed",), 1, "--constant-speed needs --play PATH (see kelta --help)"),
        )
        for args, code, first_line in cases:
            with self.subTest(args=args):
                kelta = Kelta(None, args)
                self.assertEqual(kelta.wait(30), code, kelta.output())
                lines = kelta.output()
                if first_line is None:
                    self.assertEqual(len(lines), 1, lines)
                    self.assertRegex(lines[0], r"^kelta \d+\.\d+\.\d+$")
                else:
                    self.assertEqual(lines[0], first_line)
                self.assertEqual(kelta.stderr_text, "")
                if code == 0 and first_line:
                    # The default map as this process finds it, a path a person can copy from anywhere.
                    default_map = os.path.join(os.path.realpath(DATA_DIR), "Maps", "Lake_512.bmp")
                    for part in ("Keys:", "Escape", "Data:", "share/kelta", f"(default: {default_map})"):
                        self.assertIn(part, "\n".join(lines))

    def test_level_of_detail_options_reach_the_terrain(self):
        # --lod-error implies --lod; its budget is the one the terrain reports.
        cases = ((("--lod",), "at most 1 pixel"), (("--lod-error", "3"), "at most 3 pixels"),
                 (("--lod-error", "0.5", "--lod"), "at most 0.5 pixels"))
        with XServer() as server:
            for args, budget in cases:
                with self.subTest(args=args):
                    kelta = Kelta(server, args)
                    self.assertTrue(kelta.started(), kelta.output()[-5:])
                    self.assertEqual(kelta.quit(), 0)
                    self.assertIn(f"Level of detail: 6 levels over 512 x 512 samples, {budget} of geometric error",
                                  kelta.output())

    def test_double_dash_makes_the_next_argument_the_height_map(self):
        with XServer() as server:
            kelta = Kelta(server, ("--", "--help"))
            self.assertEqual(kelta.wait(120), 1)
            self.assertEqual(kelta.output()[-1], "Could not load heightmap: File not found")


class DataLookup(unittest.TestCase):
    """One data set per run: the working directory's when it has one, else the installed one, else
    the build's; a file missing from the chosen set is not taken from another."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="kelta-data-lookup-")
        cls.installed = os.path.join(cls.work, "prefix", "bin", "kelta")
        os.makedirs(os.path.dirname(cls.installed))
        shutil.copy2(BINARY, cls.installed)
        link_data(os.path.join(cls.work, "prefix", "share", "kelta"))
        cls.without_snow = os.path.join(cls.work, "without-snow")
        link_data(cls.without_snow, skip="Textures/Snow.bmp")
        cls.empty = os.path.join(cls.work, "empty")
        os.mkdir(cls.empty)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_one_data_set_is_chosen_and_never_mixed(self):
        # (binary, working directory, arguments, last line or None for a normal run)
        cases = (
            (BINARY, self.empty, (), None),
            (self.installed, self.empty, (), None),
            (BINARY, self.without_snow, (), "Could not load texture: File not found"),
            (self.installed, self.without_snow, (), "Could not load texture: File not found"),
            (BINARY, self.empty, ("Maps/Lake_512.bmp",), "Could not load heightmap: File not found"),
        )
        with XServer() as server:
            for binary, cwd, args, last_line in cases:
                with self.subTest(binary=binary, cwd=cwd, args=args):
                    harness.BINARY = binary
                    try:
                        kelta = Kelta(server, args, cwd=cwd)
                    finally:
                        harness.BINARY = BINARY
                    if last_line is None:
                        self.assertTrue(kelta.started(), kelta.output())
                        self.assertEqual(kelta.quit(), 0)
                    else:
                        self.assertEqual(kelta.wait(120), 1)
                        self.assertEqual(kelta.output()[-1], last_line)


if __name__ == "__main__":
    unittest.main()
