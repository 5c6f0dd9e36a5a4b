"""kelta-bench through its binary: the structure of its JSON and table on a tiny run, and its
failures. Timings are only checked for being numbers that can be times."""
import json
import math
import os
import resource
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from elevation import gdal
from harness import DATA_DIR, DATAGEN, SANITIZED, XServer

BENCH = os.environ.get("KELTA_BENCH", "kelta-bench")
TIMEOUT = 900 if SANITIZED else 300
PHASES = ["window and context", "shader builds", "height map load", "mesh build", "atlas", "sky",
          "render targets", "first frame"]
ROWS = ["scene", "resolve", "blur (20 passes)", "final", "GPU total", "CPU frame"]
CORE_LINES = ("Device:", "OpenGL version:", "Updated FBO", "VBO size")


def bench(server, *args, extra_env=None):
    """Runs kelta-bench in the data folder; returns (exit code, stdout, stderr)."""
    env = server.env() if server else {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(extra_env or {})
    result = subprocess.run([BENCH, *map(str, args)], cwd=DATA_DIR, env=env, capture_output=True, text=True,
                            errors="replace", timeout=TIMEOUT)
    return result.returncode, result.stdout, result.stderr


class BenchRunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="kelta-bench-")
        subprocess.run([DATAGEN, "--output", cls.work.name, "--map-size", "64", "--only-map"], check=True,
                       capture_output=True)
        # A file name need not be UTF-8; the JSON and the table show such bytes as U+FFFD.
        cls.small_map = os.path.join(cls.work.name, "Maps", "Lake_64_\udcff.bmp")
        os.rename(os.path.join(cls.work.name, "Maps", "Lake_64.bmp"), cls.small_map)
        cls.small_map_shown = cls.small_map.replace("\udcff", "\ufffd")

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def assertTime(self, value, what, positive=False):
        self.assertIsInstance(value, (int, float), what)
        self.assertTrue(math.isfinite(value), what)
        self.assertGreaterEqual(value, 0, what)
        if positive:
            self.assertGreater(value, 0, what)

    def assertSummary(self, summary, what, positive=False):
        self.assertTime(summary["median"], what, positive)
        self.assertTime(summary["p95"], what, positive)
        self.assertGreaterEqual(summary["p95"], summary["median"], what)

    def test_two_maps_at_two_sizes(self):
        json_path = os.path.join(self.work.name, "bench.json")
        with XServer() as server:
            code, out, err = bench(server, "--frames", 3, "--warmup", 1, "--size", "160x120", "--size", "200x150",
                                   "--map", self.small_map, "--lod-map", "Maps/Lake_512.bmp", "--json", json_path)
        self.assertEqual(code, 0, out + err)
        with open(json_path) as stream:
            report = json.load(stream)

        self.assertEqual(report["frames"], 3)
        self.assertEqual(report["warmup_frames"], 1)
        self.assertFalse(report["vsync"])
        self.assertTrue(report["device"]["renderer"])
        has_gpu_times = report["device"]["timestamp_bits"] > 0
        self.assertEqual([m["grid"] for m in report["maps"]],
                         [{"width": 64, "height": 64}, {"width": 512, "height": 512}], "maps in the order asked")
        self.assertEqual(report["maps"][0]["map"], self.small_map_shown)
        self.assertEqual([m["level_of_detail"] for m in report["maps"]], [False, True])
        self.assertEqual([m["level_of_detail_asked"] for m in report["maps"]], [False, True])
        self.assertEqual([m["lod_error_pixels"] for m in report["maps"]], [None, 1])
        for map_report in report["maps"]:
            name = map_report["map"]
            self.assertEqual(list(map_report["startup_ms"]), PHASES, name)
            for phase, ms in map_report["startup_ms"].items():
                self.assertTime(ms, f"{name} {phase}", positive=True)
            self.assertAlmostEqual(map_report["startup_total_ms"], sum(map_report["startup_ms"].values()), places=2)
            self.assertGreater(map_report["resident_bytes_after_startup"], 0, name)
            self.assertGreaterEqual(map_report["peak_resident_bytes"], map_report["resident_bytes_after_startup"], name)

            sizes = map_report["sizes"]
            self.assertEqual([(s["requested"]["width"], s["requested"]["height"]) for s in sizes],
                             [(160, 120), (200, 150)], name)
            for size in sizes:
                what = f"{name} at {size['requested']}"
                # The window really was resized: the program's targets follow its callback.
                self.assertEqual(size["framebuffer"], size["requested"], what)
                self.assertEqual(size["frames"], 3, what)
                self.assertEqual(size["blur_passes"], 20, what)
                self.assertGreater(size["triangles_per_frame"], 0, what)
                self.assertSummary(size["cpu_frame_ms"], what, positive=True)
                self.assertAlmostEqual(size["fps"], 1000 / size["cpu_frame_ms"]["median"], delta=0.01)
                self.assertEqual(len(size["samples_ms"]["cpu_frame"]), 3, what)
                if not has_gpu_times:
                    self.assertIsNone(size["gpu_ms"], what)
                    continue
                self.assertEqual(list(size["gpu_ms"]), ["scene", "resolve", "blur", "final", "total"], what)
                for pass_name, summary in size["gpu_ms"].items():
                    self.assertSummary(summary, f"{what} {pass_name}", positive=pass_name == "total")
                self.assertEqual(len(size["gpu_blur_passes_ms"]), 20, what)
                for summary in size["gpu_blur_passes_ms"]:
                    self.assertSummary(summary, what)
                for series in ("gpu_scene", "gpu_resolve", "gpu_blur", "gpu_final", "gpu_total"):
                    self.assertEqual(len(size["samples_ms"][series]), 3, f"{what} {series}")

        # The table for people, and none of the program's own start-up lines among it.
        lines = out.splitlines()
        self.assertTrue(lines[0].startswith("KELTA frame benchmark on "), out)
        self.assertIn("3 measured frames after 1 warm-up frames at each size, vertical sync off", lines[1])
        self.assertIn(f"{self.small_map_shown} (64 x 64, one mesh)", lines)
        self.assertIn("Maps/Lake_512.bmp (512 x 512, level of detail, error budget 1 px)", lines)
        for phase in PHASES:
            self.assertEqual(sum(line.strip().startswith(phase) for line in lines), 2, phase)
        for row in ROWS:
            self.assertEqual(sum(line.strip().startswith(row) for line in lines), 4, row)
        self.assertEqual(sum(line.strip().startswith("160 x 120") for line in lines), 2)
        self.assertFalse([line for line in lines if line.startswith(CORE_LINES)], out)

    def test_json_on_standard_output(self):
        with XServer() as server:
            code, out, err = bench(server, "--frames", 1, "--warmup", 0, "--size", "64x48", "--map", self.small_map,
                                   "--json", "-")
        self.assertEqual(code, 0, out + err)
        report = json.loads(out)
        self.assertEqual(report["maps"][0]["sizes"][0]["framebuffer"], {"width": 64, "height": 48})
        self.assertIn("CPU frame", err, "the table goes to standard error instead")

    def test_a_streamed_flight_reports_what_streaming_did(self):
        with tempfile.TemporaryDirectory() as cache, XServer() as server:
            code, out, err = bench(server, "--stream-map", self.small_map, "--flight", "--frames", 2, "--warmup", 0,
                                   "--size", "64x48", "--json", "-", extra_env={"XDG_CACHE_HOME": cache})
        self.assertEqual(code, 0, err)
        map_report = json.loads(out)["maps"][0]
        self.assertEqual((map_report["stream_asked"], map_report["streamed"]), (True, True))
        size = map_report["sizes"][0]
        # Over the whole run, the flight's frames and the static frames.
        for counters in (map_report["stream"], size["stream"], size["static"]["stream"]):
            self.assertEqual(list(counters), ["tiles_loaded", "bytes_read", "frames_missing_tiles"])
        self.assertGreater(map_report["stream"]["tiles_loaded"], 0)
        self.assertGreater(map_report["stream"]["bytes_read"], 0)
        self.assertTrue(size["static"]["settled"])
        self.assertSummary(size["static"]["cpu_frame_ms"], "static", positive=True)
        self.assertTime(size["flight_to_static_p99"], "flight against static", positive=True)
        self.assertIn("CPU frame p99", err, "the table on standard error")

    def test_the_pyramid_is_said_built_whenever_start_up_built_it(self):
        """A mosaic of two tiles, 600 x 300 samples: more than one tile, so streaming builds its pyramid."""
        with tempfile.TemporaryDirectory() as folder, XServer() as server:
            def write_tile(name, west, metres):
                gdal("gdal_create", "-q", "-of", "GTiff", "-outsize", 300, 300, "-ot", "Int16", "-burn", metres,
                     "-a_srs", "EPSG:32633", "-a_ullr", west, 300, west + 300, 0, os.path.join(folder, name))
            write_tile("west.tif", 0, 100)
            write_tile("east.tif", 300, 200)
            mosaic = os.path.join(folder, "mosaic.vrt")
            gdal("gdalbuildvrt", "-q", mosaic, os.path.join(folder, "west.tif"), os.path.join(folder, "east.tif"))
            cache = os.path.join(folder, "cache")
            for case, change, built in (("no pyramid yet", None, True), ("pyramid as built", None, False),
                                        ("a tile changed", lambda: write_tile("east.tif", 300, 250), True)):
                with self.subTest(case):
                    if change:
                        change()
                    code, out, err = bench(server, "--stream-map", mosaic, "--frames", 1, "--warmup", 0,
                                           "--size", "64x48", "--json", "-", extra_env={"XDG_CACHE_HOME": cache})
                    self.assertEqual(code, 0, err)
                    self.assertEqual(json.loads(out)["maps"][0]["pyramid_built"], built)
                    self.assertEqual("pyramid built during start-up" in err, built, err)


class BenchFailureTest(unittest.TestCase):
    def test_bad_options_name_the_option_in_one_line(self):
        cases = [
            (["--size", "800"], "kelta-bench: --size takes WIDTHxHEIGHT, each 1 to 16384, not '800'"),
            (["--map", "x.bmp", "--json", "/nonexistent-folder/b.json"],
             "kelta-bench: cannot write /nonexistent-folder/b.json: /nonexistent-folder: No such file or directory"),
        ]
        # Options are checked before any window opens, so no display is needed.
        for args, expected in cases:
            code, out, err = bench(None, *args)
            self.assertEqual(code, 1, args)
            self.assertEqual(err.splitlines(), [expected], args)
            self.assertEqual(out, "", args)
        code, out, _ = bench(None, "--help")
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith("Usage: kelta-bench"))
        self.assertIn(os.path.join(os.path.abspath(DATA_DIR), "Maps", "Lake_512.bmp"), out,
                      "the default map as it is found, to be typed from anywhere")
        code, out, _ = bench(None, "--version")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"^kelta-bench \d+\.\d+\.\d+\n$")

    def test_a_map_that_fails_to_start_names_the_programs_reason_in_one_line_and_keeps_the_old_json(self):
        missing = os.path.join(os.path.abspath(DATA_DIR), "Maps", "Missing.bmp")
        # (with a display, what the failure line says after "ended with exit code 1: ", what it names)
        cases = [(True, "Could not load heightmap: File not found", missing), (False, "GLFW Error: ", "DISPLAY")]
        for with_display, reason, named in cases:
            with tempfile.TemporaryDirectory() as work, XServer() as server:
                json_path = os.path.join(work, "results.json")
                with open(json_path, "w") as stream:
                    stream.write("previous results\n")
                code, out, err = bench(server if with_display else None, "--map", "Maps/Missing.bmp", "--size",
                                       "64x48", "--frames", 1, "--json", json_path)
                self.assertEqual((code, out), (1, ""))
                start, failure = err.splitlines()
                self.assertEqual(start, "kelta-bench: Maps/Missing.bmp: start-up")
                self.assertTrue(failure.startswith(
                    "kelta-bench: the run of Maps/Missing.bmp ended with exit code 1: " + reason), failure)
                self.assertIn(named, failure)
                self.assertEqual(os.listdir(work), ["results.json"])
                with open(json_path) as stream:
                    self.assertEqual(stream.read(), "previous results\n")

    @unittest.skipIf(SANITIZED, "the sanitizers reserve more address space than the limit allows")
    def test_a_map_whose_full_mesh_cannot_be_had_is_reported_as_drawn(self):
        # Too little address space for the 4096 map's 512 MiB vertex buffer, enough for its level of
        # detail; fewer rasteriser threads and malloc arenas keep the address space alike on any machine.
        def limit_address_space():
            resource.setrlimit(resource.RLIMIT_AS, (700 << 20, 700 << 20))

        with tempfile.TemporaryDirectory() as work, XServer() as server:
            map_path = os.path.join(work, "flat.r16")
            with open(map_path, "wb") as stream:
                stream.write(bytes(4096 * 4096 * 2))
            result = subprocess.run([BENCH, "--map", map_path, "--size", "64x48", "--frames", "1", "--json", "-"],
                                    env={**server.env(), "LP_NUM_THREADS": "2", "MALLOC_ARENA_MAX": "2"},
                                    capture_output=True, text=True, timeout=TIMEOUT, preexec_fn=limit_address_space)
        self.assertEqual(result.returncode, 0, result.stderr)
        map_report = json.loads(result.stdout)["maps"][0]
        reason = map_report["fallback_reason"]
        self.assertRegex(reason, r"^Could not allocate the terrain .*; drawing it with level of detail$")
        self.assertEqual((map_report["level_of_detail_asked"], map_report["level_of_detail"]), (False, True))
        self.assertIn(f"kelta-bench: {map_path}: {reason}", result.stderr.splitlines())


def has_ended(pid, timeout=10):
    """Whether the process is gone, or dead and waiting to be reaped, within the time given."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            with open(f"/proc/{pid}/stat") as stream:
                if stream.read().rsplit(")", 1)[1].split()[0] == "Z":
                    return True
        except FileNotFoundError:
            return True
        time.sleep(0.05)
    return False


class BenchInterruptTest(unittest.TestCase):
    def test_an_ended_run_leaves_no_process_and_no_file_behind(self):
        with tempfile.TemporaryDirectory(prefix="kelta-bench-ended-") as work, XServer() as server:
            # A kelta-bench of its own, whose empty data folder makes it generate the large map.
            bench_copy = os.path.join(work, "bin", "kelta-bench")
            data_maps = os.path.join(work, "bin", "data", "Maps")
            os.makedirs(data_maps)
            shutil.copy2(BENCH, bench_copy)
            long_run = ["--map", os.path.join(DATA_DIR, "Maps", "Lake_512.bmp"), "--size", "64x48", "--warmup", "0",
                        "--frames", "1000000"]
            # A PNG, whose pyramid copies its samples: long enough a build to be ended in the middle.
            subprocess.run([DATAGEN, "--output", os.path.join(work, "png"), "--map-size", "4096", "--map-format",
                            "png16", "--only-map"], check=True, capture_output=True)
            streamed = os.path.join(work, "png", "Maps", "Lake_4096.png")
            cache = os.path.join(work, "cache")
            # (what runs, the stderr line to wait for, the signal that ends kelta-bench)
            cases = [
                ([BENCH, *long_run], "measured frames", signal.SIGTERM),
                ([BENCH, *long_run], "measured frames", signal.SIGKILL),
                ([bench_copy, "--size", "64x48", "--frames", "1"], "is missing; generating it", signal.SIGTERM),
                ([BENCH, "--stream-map", streamed, "--size", "64x48", "--frames", "1"], "building the pyramid of",
                 signal.SIGTERM),
            ]
            for command, started, ending in cases:
                with self.subTest(command=command[0], signal=ending.name):
                    process = subprocess.Popen(command, cwd=work, env={**server.env(), "XDG_CACHE_HOME": cache},
                                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                    seen = []
                    for line in process.stderr:
                        seen.append(line)
                        if started in line:
                            break
                    with open(f"/proc/{process.pid}/task/{process.pid}/children") as stream:
                        children = [int(child) for child in stream.read().split()]
                    process.send_signal(ending)
                    seen.append(process.stderr.read())
                    process.stderr.close()
                    self.assertEqual(process.wait(timeout=60), -ending, "".join(seen))
                    for child in children:
                        self.assertTrue(has_ended(child), f"child {child} still runs")
                    # Only a whole map may appear, never a part of one.
                    for name in os.listdir(data_maps):
                        self.assertEqual(name, "Lake_4096.bmp")
                        self.assertEqual(os.path.getsize(os.path.join(data_maps, name)), 14 + 40 + 1024 + 4096 * 4096)
                    self.assertEqual(os.listdir(os.path.dirname(data_maps)), ["Maps"])
                    # Nor a part of a pyramid: the child building it was asked to end, and removed it.
                    if os.path.isdir(os.path.join(cache, "kelta")):
                        self.assertEqual(os.listdir(os.path.join(cache, "kelta")), [])


if __name__ == "__main__":
    unittest.main()
