"""Streamed maps through the programs: a small tile cache settles on the level-of-detail picture, so
do cloud-optimised GeoTIFFs whose overviews are averaged or cubic, on disk and on a local web
server, a cloud-optimised GeoTIFF on a local web server draws as the same file on disk, a palette
image streams as it draws whole, and a lost connection leaves the window drawing the tiles it holds."""
import math
import os
import re
import signal
import socket
import subprocess
import tempfile
import time
import unittest

import images
from elevation import gdal, write_ascii_grid
from harness import DATA_DIR, DATAGEN, SANITIZED, SHOT, SHOT_TIMEOUT, Kelta, XServer
from test_level_of_detail import LARGEST_SHARE, POSES_4096

COG_NAME = "map.tif"
LOST_CONNECTION = re.compile(r"^kelta: lost the connection to http://127\.0\.0\.1:\d+/" + re.escape(COG_NAME)
                             + r": .+; drawing the tiles already loaded$")
# Frames flown on after the connection is lost, to see that the window goes on and says it once.
FRAMES_AFTER_LOSS = 30
# Close over rough ground, where the finest levels are drawn and an overview's smoothing shows.
ROUGH_POSE = ["--position", "150,60,-150", "--direction", "1,-0.5,-1"]
# Cloud-optimised GeoTIFFs by GDAL's COG driver: (name, side, resampling of the overviews, or None for
# the driver's default). The odd side's overviews (501 -> 251 -> 126) drift from decimation even when nearest.
ROUGH_COGS = [("default", 513, None), ("average", 513, "AVERAGE"), ("cubic", 513, "CUBIC"),
              ("nearest-odd", 501, "NEAREST")]


def rough_metres(column, row):
    """Hills with detail a few samples across, which averaged and cubic overviews smooth away."""
    return 200.0 + 80.0 * math.sin(column / 2.3) * math.cos(row / 3.1) + 60.0 * math.sin((column + 2 * row) / 17.0)


# Shorter than a stalled read takes to fail (GDAL's 10 s timeout, tried three times), which must never
# hold up the exit.
QUIT_TIMEOUT = 60 if SANITIZED else 20
# Quitting takes a second; a loaded test machine gets more.
QUIT_SECONDS = 15 if SANITIZED else 4
# A web server that starts answers within this; one that fails to bind its port ends sooner.
SERVER_START_SECONDS = 30


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def streaming_line(lines):
    return next((line for line in lines if line.startswith("Streaming: ")), None)


class WebServer:
    """lighttpd serving one folder on a free port of 127.0.0.1, with its own configuration and access
    log in a temporary folder; it answers range requests as any static file server does, unless told not to."""

    def __init__(self, folder, ranges=True):
        self.folder = folder
        self.access_log = os.path.join(folder, "access.log")
        self.ranges = ranges

    def __enter__(self):
        # The free port may be taken by someone else before lighttpd binds it: then it ends, and another is tried.
        for _ in range(5):
            self.port = free_port()
            config = os.path.join(self.folder, "lighttpd.conf")
            with open(config, "w") as stream:
                stream.write(f'server.document-root = "{self.folder}/www"\n'
                             f'server.bind = "127.0.0.1"\nserver.port = {self.port}\n'
                             f'server.errorlog = "{self.folder}/error.log"\n'
                             'server.modules += ("mod_accesslog")\n'
                             f'accesslog.filename = "{self.access_log}"\n'
                             f'server.range-requests = "{"enable" if self.ranges else "disable"}"\n')
            self.process = subprocess.Popen(["lighttpd", "-D", "-f", config], stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            if self._answers():
                return self
            self.stop()
        raise RuntimeError("lighttpd did not start")

    def _answers(self):
        deadline = time.monotonic() + SERVER_START_SECONDS
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def __exit__(self, *exc):
        self.stop()

    def url(self, name):
        return f"http://127.0.0.1:{self.port}/{name}"

    def stop(self):
        if self.process.poll() is None:
            # A stalled (stopped) process takes its signal only once continued.
            self.process.send_signal(signal.SIGCONT)
            self.process.terminate()
            self.process.wait(timeout=30)

    def stall(self):
        """Leaves connections open and unanswered, as a stalled server or network does."""
        self.process.send_signal(signal.SIGSTOP)

    def get_statuses(self):
        """The status of each GET request in the access log: 206 for a range of the file."""
        with open(self.access_log) as stream:
            requests = [line.split('"') for line in stream if '"' in line]
        return [fields[2].split()[0] for fields in requests if fields[1].startswith("GET ")]


class StreamingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        os.makedirs(os.path.join(cls.work.name, "www"))
        # Pyramids are built into the test's own folder, never the user's cache, and the local server is
        # reached directly whatever proxy the environment names.
        cls.env = {"XDG_CACHE_HOME": os.path.join(cls.work.name, "cache"), "no_proxy": "127.0.0.1",
                   "NO_PROXY": "127.0.0.1"}

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def path(self, *names):
        return os.path.join(self.work.name, *names)

    def make_map(self, size):
        subprocess.run([DATAGEN, "--output", self.work.name, "--only-map", "--map-size", str(size), "--map-format",
                        "png16"], check=True, capture_output=True, timeout=SHOT_TIMEOUT)
        return self.path("Maps", f"Lake_{size}.png")

    def make_cog(self):
        """A cloud-optimised GeoTIFF with its overviews (every other sample, as the pyramid's levels) in
        the web server's folder: 8 x 8 tiles of 256 quads at full resolution."""
        cog = self.path("www", COG_NAME)
        if not os.path.exists(cog):
            gdal("gdal_translate", "-q", "-of", "COG", "-co", "BLOCKSIZE=256", "-co", "RESAMPLING=NEAREST",
                 "-co", "COMPRESS=DEFLATE", self.make_map(2048), cog)
        return cog

    def make_rough_cog(self, name, side, resampling):
        cog = self.path("www", f"rough-{name}.tif")
        if not os.path.exists(cog):
            grid = write_ascii_grid(self.path(f"rough-{side}.asc"), side, side, 10.0, rough_metres)
            chosen = ["-co", f"RESAMPLING={resampling}"] if resampling else []
            gdal("gdal_translate", "-q", "-of", "COG", "-co", "BLOCKSIZE=256", *chosen, grid, cog)
        return cog

    def shot(self, server, *args):
        """kelta-shot's stdout lines and picture."""
        output = self.path("shot.png")
        result = subprocess.run([SHOT, *map(str, args), "--output", output], cwd=DATA_DIR,
                                env={**server.env(), **self.env}, capture_output=True, text=True, timeout=SHOT_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout.splitlines(), images.read(output)

    @unittest.skipIf(SANITIZED, "a 4096 map's pictures take too long under the sanitizers")
    def test_a_small_tile_cache_settles_on_the_level_of_detail_picture(self):
        map_path = self.make_map(4096)
        # Under a low sun too, shadows included: a streamed map's are computed from the level of its
        # pyramid that fits, here the map itself, as level of detail's are from its samples.
        low_sun = ["--sun", "250,8"]
        cases = [(name, pose, mode, []) for name, pose in POSES_4096.items() for mode in (4, 5)]
        cases += [(name, pose, 5, low_sun) for name, pose in POSES_4096.items()] + [("start", [], 4, low_sun)]
        # Mountains shading their valleys as far as the view reaches, most of it beyond the finest
        # window of the shadows around the camera; so many tiles take the default cache.
        mountains = ["--height-scale", "150", "--position", "300,300,-2000", "--direction", "1,-0.4,-0.3",
                     "--view-distance", "6000"]
        cases += [("mountains", mountains, 5, ["--sun", "262,8"])]
        with XServer() as server:
            for name, pose, mode, sun in cases:
                with self.subTest(pose=name, mode=mode, sun=sun):
                    common = ["--map", map_path, "--mode", mode, *pose, *sun]
                    cache = [] if name == "mountains" else ["--tile-cache", "16"]
                    _, detailed = self.shot(server, "--lod", *common)
                    lines, streamed = self.shot(server, "--stream", *cache, *common)
                    if cache:
                        self.assertRegex(streaming_line(lines) or "", r"\(cache 16 MB\)$")
                    share = images.difference(detailed, streamed)[0]
                    print(f"{name} mode {mode}{' under a low sun' if sun else ''}: {share:.4%} of pixels off "
                          f"by more than {images.PIXEL_TOLERANCE} levels")
                    self.assertLessEqual(share, LARGEST_SHARE)

    def test_the_log_gives_the_tile_cache_the_stream_holds(self):
        # A tile of 256 quads is 259 x 259 floats; the cache holds at most twice the map's tiles.
        for size, asked, held in ((256, (), "0.5 MB"),  # one tile: 2 layers, not the 64 MB default
                                  (4096, ("--tile-cache", 65536), "175 MB")):  # 341 tiles: 682 layers
            with self.subTest(size=size, asked=asked), XServer() as server:
                lines, _ = self.shot(server, "--stream", "--map", self.make_map(size), "--size", "64x48", *asked)
                self.assertRegex(streaming_line(lines) or "", re.escape(f"(cache {held})") + "$")

    def test_a_build_ended_by_a_signal_leaves_no_partial_folder(self):
        map_path = self.make_map(4096)
        for number in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=number.name), XServer() as server, tempfile.TemporaryDirectory() as cache:
                shot = subprocess.Popen([SHOT, "--stream", "--map", map_path, "--output", self.path("ended.png")],
                                        cwd=DATA_DIR, env={**server.env(), **self.env, "XDG_CACHE_HOME": cache},
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        # Python leaves SIGINT as it found it; a background job's is ignored.
                                        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
                told = b""
                try:
                    while b"building the pyramid of" not in told:
                        chunk = os.read(shot.stderr.fileno(), 4096)
                        self.assertTrue(chunk, f"ended before building: {told!r}")
                        told += chunk
                    shot.send_signal(number)
                    self.assertEqual(shot.wait(timeout=SHOT_TIMEOUT), -number)
                finally:
                    shot.kill()
                    shot.wait()
                    shot.stderr.close()
                # Nothing at all: the signal came during the build, and took its folder with it.
                self.assertEqual(os.listdir(os.path.join(cache, "kelta")), [])

    def assertDrawsAs(self, expected, actual, what):
        share = images.difference(expected, actual)[0]
        print(f"{what}: {share:.4%} of pixels off by more than {images.PIXEL_TOLERANCE} levels")
        self.assertLessEqual(share, LARGEST_SHARE, what)

    def test_overviews_that_are_not_decimations_settle_on_the_level_of_detail_picture(self):
        """On disk KELTA builds its own pyramid of such a map; from a web server it draws each overview's
        own samples, fading between them."""
        with XServer() as server, WebServer(self.work.name) as web:
            for name, side, resampling in ROUGH_COGS:
                with self.subTest(cog=name):
                    cog = self.make_rough_cog(name, side, resampling)
                    _, detailed = self.shot(server, "--lod", "--map", cog, *ROUGH_POSE)
                    _, streamed = self.shot(server, "--stream", "--map", cog, *ROUGH_POSE)
                    self.assertDrawsAs(detailed, streamed, f"{name} on disk")
                    if name == "cubic":
                        _, remote = self.shot(server, "--stream", "--map", "/vsicurl/" + web.url(os.path.basename(cog)),
                                              *ROUGH_POSE)
                        self.assertDrawsAs(detailed, remote, f"{name} on a web server")

    def test_a_palette_image_streams_as_it_draws_whole(self):
        """Its samples are its palette's reds, not its indices, however it is read."""
        side = 513
        path = self.path("palette.png")
        with open(path, "wb") as stream:
            stream.write(images.palette_png(side, side, lambda x, y: round(127.5 + 127.5 * math.sin(x / 40) * math.cos(y / 50)),
                                            [255 - k for k in range(256)]))
        with XServer() as server:
            _, whole = self.shot(server, "--lod", "--map", path)
            _, streamed = self.shot(server, "--stream", "--map", path)
            self.assertDrawsAs(whole, streamed, "palette image")

    def test_a_map_on_a_web_server_draws_as_the_same_file_on_disk(self):
        cog = self.make_cog()
        with XServer() as server, WebServer(self.work.name) as web:
            for name in ("start", "high"):
                with self.subTest(pose=name):
                    local_lines, local = self.shot(server, "--stream", "--map", cog, *POSES_4096[name])
                    remote_lines, remote = self.shot(server, "--stream", "--map", "/vsicurl/" + web.url(COG_NAME),
                                                     *POSES_4096[name])
                    self.assertEqual(streaming_line(local_lines), streaming_line(remote_lines))
                    self.assertTrue(images.matches(local, remote), images.difference(local, remote))
            statuses = web.get_statuses()
            self.assertTrue(statuses)
            self.assertEqual(set(statuses), {"206"}, "every read a range of the file")

    def test_a_map_the_server_does_not_give_is_refused_saying_what_happened(self):
        """A missing file, a server without range requests and one that never answers are each told as
        what happened, not as a file of another format, with the URL as typed, whole or streamed."""
        self.make_cog()
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen()  # connections are taken, never answered
            silent_url = f"http://127.0.0.1:{silent.getsockname()[1]}/{COG_NAME}"
            cases = [("missing file", True, "missing.tif", re.escape("the server answered 404 Not Found")),
                     ("no range requests", False, COG_NAME,
                      re.escape("the server does not answer range requests, which reading a map from it needs")),
                     ("silent server", True, None, re.escape("the server did not answer in time (curl: ") + r".+\)")]
            for name, ranges, file_name, said in cases:
                for options in ((), ("--stream",)):
                    with self.subTest(server=name, options=options), XServer() as server, \
                            WebServer(self.work.name, ranges=ranges) as web:
                        url = "/vsicurl/" + (web.url(file_name) if file_name else silent_url)
                        result = subprocess.run(
                            [SHOT, *options, "--map", url, "--output", self.path("refused.png")], cwd=DATA_DIR,
                            env={**server.env(), **self.env, "GDAL_HTTP_TIMEOUT": "1"}, capture_output=True,
                            text=True, timeout=SHOT_TIMEOUT)
                        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                        self.assertRegex(result.stderr, rf"^kelta-shot: Could not load heightmap: {said}: "
                                         rf"{re.escape(url)}, looked for as {re.escape(url)} \(data folder .+\)\n$")

    def test_a_lost_connection_leaves_the_window_drawing_what_it_holds(self):
        """A server that is gone fails the next read at once: the program says so once and draws on. One
        that stalls holds its reads for GDAL's timeouts: the program draws on meanwhile and quits at once."""
        cog = self.make_cog()
        cases = [("stopped", WebServer.stop, True), ("stalled", WebServer.stall, False)]
        for name, lose_connection, failure_awaited in cases:
            with self.subTest(server=name), XServer() as server, WebServer(self.work.name) as web:
                kelta = Kelta(server, ["--stream", "--tile-cache", "16", "/vsicurl/" + web.url(COG_NAME)],
                              env=self.env)
                try:
                    self.assertTrue(kelta.started(), kelta.output()[-5:] + kelta.stderr_lines[-5:])
                    self.assertIsNotNone(streaming_line(kelta.output()))
                    lose_connection(web)
                    # Flying fast over the map wants tiles not read yet.
                    kelta.key_down("Shift_L")
                    kelta.key_down("w")
                    deadline = time.monotonic() + SHOT_TIMEOUT
                    while failure_awaited and not any(LOST_CONNECTION.match(line) for line in kelta.stderr_lines):
                        self.assertTrue(kelta.wait_for_frames(1), "the window stopped drawing")
                        self.assertLess(time.monotonic(), deadline, kelta.stderr_lines)
                    self.assertTrue(kelta.wait_for_frames(FRAMES_AFTER_LOSS), "the window stopped drawing")
                    kelta.key_up("w")
                    kelta.key_up("Shift_L")
                    asked = time.monotonic()
                    self.assertEqual(kelta.quit(timeout=QUIT_TIMEOUT), 0)
                    # A read stalled on the server is abandoned, not waited for.
                    self.assertLess(time.monotonic() - asked, QUIT_SECONDS)
                finally:
                    if kelta.process.poll() is None:
                        kelta.process.kill()
                        kelta.wait()
                told = [line for line in kelta.stderr_lines if LOST_CONNECTION.match(line)]
                self.assertEqual(told, kelta.stderr_lines, "nothing else on stderr")
                self.assertLessEqual(len(told), 1, "said once")
                if failure_awaited:
                    self.assertEqual(len(told), 1)


if __name__ == "__main__":
    unittest.main()
