"""What kelta-shot, kelta-bench and kelta-datagen do when a file or stream they write cannot take
it: one line on standard error naming it with the system's reason, exit code 1, the file that
was there left as it was and nothing else left beside it. A path no file can replace is refused
before any rendering: those cases run without a display, where rendering could not even start."""
import json
import os
import resource
import signal
import stat
import subprocess
import tempfile
import unittest

from harness import DATAGEN, SANITIZED, XServer

SHOT = os.environ.get("KELTA_SHOT", "kelta-shot")
BENCH = os.environ.get("KELTA_BENCH", "kelta-bench")
TIMEOUT = 900 if SANITIZED else 300
PREVIOUS = b"the file that was there before\n"
TINY_BENCH = ["--frames", "1", "--warmup", "0", "--size", "64x48"]


def file_size_limit(size):
    """Makes every write past `size` bytes of a file fail with EFBIG, as a full disk fails it."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return apply


def state(path):
    """The kind of thing at the path and, for a file, its bytes."""
    if not os.path.lexists(path):
        return None
    mode = os.lstat(path).st_mode
    if not stat.S_ISREG(mode):
        return stat.S_IFMT(mode), os.lstat(path).st_rdev
    with open(path, "rb") as stream:
        return stat.S_IFMT(mode), stream.read()


def previous_file(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as stream:
        stream.write(PREVIOUS)


def fifo(path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.mkfifo(path)


class WriteFailureTest(unittest.TestCase):
    def test_failed_writes_leave_the_target_as_it_was(self):
        work = tempfile.TemporaryDirectory(prefix="kelta-tool-writes-")
        self.addCleanup(work.cleanup)
        subprocess.run([DATAGEN, "--output", work.name, "--map-size", "64", "--only-map"], check=True,
                       capture_output=True)
        small_map = os.path.join(work.name, "Maps", "Lake_64.bmp")

        def at(*parts):
            return os.path.join(work.name, *parts)

        # Two seconds over the lake, enough frames of video for the file to pass its size limit.
        flight = at("flight.json")
        with open(flight, "w") as stream:
            json.dump({"keyframes": [{"time": 0, "position": [100, 15, -100], "direction": [1, -0.3, -1]},
                                     {"time": 2, "position": [200, 15, -200], "direction": [1, -0.3, -1]}]}, stream)

        # (tool, arguments, target, how the target is prepared, needs a display, child set-up,
        #  standard output, the line expected last on standard error)
        cases = [
            (SHOT, ["--output", "/dev/full"], "/dev/full", None, False, None, None,
             "kelta-shot: cannot write /dev/full: not a regular file"),
            (SHOT, ["--output", at("missing", "x.png")], at("missing", "x.png"), None, False, None, None,
             f"kelta-shot: cannot write {at('missing', 'x.png')}: {at('missing')}: No such file or directory"),
            (SHOT, ["--output", at("shot", "old.png"), "--size", "64x48"], at("shot", "old.png"), previous_file,
             True, file_size_limit(200), None, f"kelta-shot: cannot write {at('shot', 'old.png')}: File too large"),
            (SHOT, ["--path", flight, "--video", at("fifo", "pipe.mp4")], at("fifo", "pipe.mp4"), fifo, False, None,
             None, f"kelta-shot: cannot write {at('fifo', 'pipe.mp4')}: not a regular file"),
            (SHOT, ["--path", flight, "--frames", at("missing")], None, None, False, None, None,
             f"kelta-shot: cannot write frames into {at('missing')}: No such file or directory"),
            (SHOT, ["--path", flight, "--video", at("video", "old.mp4"), "--size", "320x240"], at("video", "old.mp4"),
             previous_file, True, file_size_limit(4096), None,
             f"kelta-shot: cannot write {at('video', 'old.mp4')}: File too large"),
            (BENCH, ["--map", small_map, "--json", "/dev/full"], "/dev/full", None, False, None, None,
             "kelta-bench: cannot write /dev/full: not a regular file"),
            (BENCH, ["--map", small_map, *TINY_BENCH], None, None, True, None, "/dev/full",
             "kelta-bench: cannot write to standard output: No space left on device"),
            (BENCH, ["--map", small_map, *TINY_BENCH], None, None, True, lambda: os.close(1), None,
             "kelta-bench: cannot write to standard output: Bad file descriptor"),
            (DATAGEN, ["--output", at("pipe"), "--only-map"], at("pipe", "Maps", "Lake_512.bmp"), fifo, False, None,
             None, f"kelta-datagen: cannot write {at('pipe', 'Maps', 'Lake_512.bmp')}: not a regular file"),
            (DATAGEN, ["--output", at("data"), "--only-map", "--force"], at("data", "Maps", "Lake_512.bmp"),
             previous_file, False, file_size_limit(1 << 16), None,
             f"kelta-datagen: cannot write {at('data', 'Maps', 'Lake_512.bmp')}: File too large"),
        ]
        with XServer() as server:
            for tool, arguments, target, prepare, display, child_setup, output, expected in cases:
                with self.subTest(tool=os.path.basename(tool), arguments=arguments):
                    if prepare:
                        prepare(target)
                    before = state(target) if target else None
                    folder = os.path.dirname(target) if target and target.startswith(work.name) else None
                    folder_before = sorted(os.listdir(folder)) if folder and os.path.isdir(folder) else None
                    env = server.env() if display else {k: v for k, v in os.environ.items() if k != "DISPLAY"}
                    # A cut-off write must not reach the driver's shader cache either.
                    env["MESA_SHADER_CACHE_DISABLE"] = "true"
                    stdout = open(output, "wb") if output else subprocess.PIPE
                    try:
                        result = subprocess.run([tool, *arguments], env=env, stdout=stdout, stderr=subprocess.PIPE,
                                                preexec_fn=child_setup, timeout=TIMEOUT)
                    finally:
                        if output:
                            stdout.close()
                    stderr = result.stderr.decode(errors="replace")
                    self.assertEqual(result.returncode, 1, stderr)
                    self.assertEqual(stderr.splitlines()[-1:], [expected], stderr)
                    if not display:
                        self.assertEqual(len(stderr.splitlines()), 1, stderr)
                    if target:
                        self.assertEqual(state(target), before, "the target changed")
                    if folder_before is not None:
                        self.assertEqual(sorted(os.listdir(folder)), folder_before,
                                         "something was left beside the target")


if __name__ == "__main__":
    unittest.main()
