"""Runs the real kelta binary under a private Xvfb server and drives it with real X input events.

Tests wait for what the program shows rather than for a fixed time: a line of its output, or a
number of frames presented after an input. For the frames the program runs with KELTA_FRAME_REPORT set,
which makes its main loop write "frame N" to standard error after presenting frame N (1, 2, ...);
those lines are counted here and left out of stderr_text."""
import os
import queue
import re
import subprocess
import tempfile
import threading
import time

import images

BINARY = os.environ.get("KELTA_BINARY", "kelta")
DATA_DIR = os.environ.get("KELTA_DATA_DIR", ".")
DATAGEN = os.environ.get("KELTA_DATAGEN", "kelta-datagen")
SHOT = os.environ.get("KELTA_SHOT", "kelta-shot")
BENCH = os.environ.get("KELTA_BENCH", "kelta-bench")
BUILD_DIR = os.environ.get("KELTA_BUILD_DIR", ".")
SANITIZED = "asan" in os.environ.get("KELTA_VARIANT", "")

# glfwTerminate unloads the GL driver before the leak check runs, so the driver's own allocations
# can no longer be matched by tests/lsan.supp. The programs run here open GL contexts, so their leaks
# are left to the resident-memory tests, whether ctest or unittest starts the test; the options
# given last win, and programs built without the sanitizer ignore them.
os.environ["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                    "detect_leaks=0:abort_on_error=1"]))
# The pyramids of streamed maps go to a cache folder of the test run's own, never the user's.
_PYRAMID_CACHE = tempfile.TemporaryDirectory(prefix="kelta-test-cache-")
os.environ["XDG_CACHE_HOME"] = _PYRAMID_CACHE.name
# So do the saved views: a test never reads or writes the user's.
_VIEWS_DATA = tempfile.TemporaryDirectory(prefix="kelta-test-data-")
os.environ["XDG_DATA_HOME"] = _VIEWS_DATA.name
# Generous: a frame of the sanitized build on a loaded machine can take many seconds.
FRAME_TIMEOUT = 600 if SANITIZED else 180
SHOT_TIMEOUT = 600 if SANITIZED else 120
# An input is handled in the event poll that follows some frame N and drawn into frame N + 1; the
# count read after sending it may lag one frame behind, and one frame more lets frame N + 1 reach
# the X server before a capture asks for the window's pixels.
FRAMES_AFTER_INPUT = 3
FRAME_LINE = re.compile(r"^frame (\d+)$")
# Not a wait for the program but the pace of typing: GLFW takes a key's release followed within
# 20 ms (server time) by a press of the same key for the server's key repeat, and drops the release.
KEY_GAP_SECONDS = 0.05


def resize_lines(names, width, height):
    """The four lines of one window resize, given the names of the scene target, its multisampled
    twin and the two blur targets: the blur targets are a quarter of the size, at least 1 pixel."""
    scene, multisampled, blur_a, blur_b = names
    blur_width, blur_height = max(1, width // 4), max(1, height // 4)
    return [f"Updated FBO ({scene}) with size: {width} by {height}",
            f"Updated FBO ({multisampled}, multisampled) with size: {width} by {height}",
            f"Updated FBO ({blur_a}) with size: {blur_width} by {blur_height}",
            f"Updated FBO ({blur_b}) with size: {blur_width} by {blur_height}"]


def resident_kib(pid):
    """The process's resident memory (VmRSS) in KiB."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for " + str(pid))


def shot_command(server, *args, cwd=None):
    """The keyword arguments of subprocess calls that run kelta-shot with these arguments."""
    env = server.env() if server else {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    return dict(args=[SHOT, *map(str, args)], cwd=cwd or DATA_DIR, env=env, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, text=True)


def shot(server, *args, cwd=None):
    """Runs kelta-shot; returns (exit code, stdout lines, stderr lines)."""
    result = subprocess.run(**shot_command(server, *args, cwd=cwd), timeout=SHOT_TIMEOUT)
    return result.returncode, result.stdout.splitlines(), result.stderr.splitlines()


class XServer:
    """A private Xvfb display for one test; stops with the context.

    The screen matches the window's 800 x 600 by default: without a window manager, GLFW's
    cursor capture on a larger screen reports a jump of the screen's surplus size as mouse
    motion, which would turn the camera before the first picture."""

    def __init__(self, width=800, height=600):
        self.size = f"{width}x{height}x24"

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as stream:
            number = stream.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(timeout=10)

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env(), check=True,
                              capture_output=True, text=True).stdout.strip()


class Kelta:
    """The running program: its output lines as they arrive, its window, and input sent to it."""

    def __init__(self, server, args=(), cwd=None, env=None):
        self.server = server
        self.lines = []
        self.pending = queue.Queue()
        run_env = server.env() if server else {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        run_env["KELTA_FRAME_REPORT"] = "1"
        run_env.update(env or {})
        self.process = subprocess.Popen([BINARY, *args], cwd=cwd or DATA_DIR, env=run_env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.stderr_lines = []
        self.frames = 0
        self.stderr_closed = False
        self.frame_presented = threading.Condition()
        self.readers = [threading.Thread(target=self._read_stdout, daemon=True),
                        threading.Thread(target=self._read_stderr, daemon=True)]
        for reader in self.readers:
            reader.start()
        self.window = None
        self.last_key_time = 0.0

    def _read_stdout(self):
        for line in self.process.stdout:
            line = line.rstrip("\n")
            self.lines.append(line)
            self.pending.put(line)
        self.pending.put(None)

    def _read_stderr(self):
        for line in self.process.stderr:
            match = FRAME_LINE.match(line)
            if match:
                with self.frame_presented:
                    self.frames = int(match.group(1))
                    self.frame_presented.notify_all()
            else:
                self.stderr_lines.append(line)
        with self.frame_presented:
            self.stderr_closed = True
            self.frame_presented.notify_all()

    @property
    def stderr_text(self):
        """Standard error without the frame lines; complete once wait() or quit() has returned."""
        return "".join(self.stderr_lines)

    def wait_for_frames(self, count=FRAMES_AFTER_INPUT, timeout=FRAME_TIMEOUT):
        """Waits until count more frames have been presented; returns False when the program ends
        or time runs out first."""
        with self.frame_presented:
            target = self.frames + count
            self.frame_presented.wait_for(lambda: self.frames >= target or self.stderr_closed, timeout)
            return self.frames >= target

    def wait_for_line(self, text, timeout=120):
        """Waits until a line equal to text arrives; returns False when the program ends or time runs out."""
        if text in self.lines:
            return True
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                line = self.pending.get(timeout=max(0.01, deadline - time.time()))
            except queue.Empty:
                break
            if line is None:
                return False
            if line == text:
                return True
        return text in self.lines

    def wait_for_lines(self, count, timeout=30):
        deadline = time.time() + timeout
        while len(self.lines) < count and time.time() < deadline and self.process.poll() is None:
            time.sleep(0.05)
        return len(self.lines) >= count

    def started(self, timeout=180):
        """Waits for the main loop, then finds and focuses the window."""
        if not self.wait_for_line("Main loop started", timeout):
            return False
        self.window = self.server.xdotool("search", "--sync", "--name", "^KELTA$").split()[0]
        self.server.xdotool("windowfocus", "--sync", self.window)
        return self.wait_for_frames()

    def key(self, *names):
        """Presses and releases each key in turn, as real XTEST events. Callers observe the effect
        (an output line, a capture, frames) rather than waiting here."""
        for name in names:
            time.sleep(max(0.0, self.last_key_time + KEY_GAP_SECONDS - time.monotonic()))
            self.server.xdotool("key", "--clearmodifiers", name)
            self.last_key_time = time.monotonic()

    def key_down(self, name):
        self.server.xdotool("keydown", name)

    def key_up(self, name):
        self.server.xdotool("keyup", name)

    def move_mouse_by(self, dx, dy):
        self.server.xdotool("mousemove_relative", "--", dx, dy)

    def resize(self, width, height):
        self.server.xdotool("windowsize", "--sync", self.window, width, height)

    def screenshot(self, path):
        subprocess.run(["import", "-window", self.window, path], env=self.server.env(), check=True)

    def capture(self, path):
        """A screenshot, read back, of a frame drawn after the last input."""
        if not self.wait_for_frames():
            raise AssertionError(f"no new frame; output ends {self.lines[-5:]}")
        self.screenshot(path)
        return images.read(path, self.server.env())

    def new_output(self, since):
        return self.lines[since:]

    def quit(self, timeout=60):
        """Sends Escape and returns the exit code."""
        self.key("Escape")
        return self.wait(timeout)

    def wait(self, timeout=60):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise
        finally:
            self._close()

    def _close(self):
        if self.process.poll() is None:
            return
        for reader in self.readers:
            reader.join(timeout=5)
        self.process.stdout.close()
        self.process.stderr.close()

    def output(self):
        return list(self.lines)
