"""kelta-shot's flights through its binary: a camera path over a real map as a video, decoded back
by FFmpeg's own programs, frame by frame against the stills of the path's poses; frames of a
streamed map that are settled and the same in every run; a track's flight filmed; and an export
ended by Ctrl+C.

The video's length is KELTA_VIDEO_SECONDS (default 2) at 1280 x 720; 10 is the full check, some
five minutes of llvmpipe's time, run by hand."""
import hashlib
import json
import os
import signal
import subprocess
import tempfile
import unittest

import images
import test_follow
from elevation import OLINDA
from harness import SHOT_TIMEOUT, XServer, shot, shot_command

SECONDS = float(os.environ.get("KELTA_VIDEO_SECONDS", "2"))
FPS = 30
# A high quality, so that what is left of the encoding is 4:2:0's colour, kept for 2 x 2 pixels.
QUALITY = 90
# Share of the pixels allowed more than images.PIXEL_TOLERANCE levels off a still: the edges whose
# colour 4:2:0 shares with their neighbours.
VIDEO_OUTLIER_SHARE = 0.01
OLINDA_VIEW = ["--map", OLINDA, "--exaggeration", "5"]
FLIGHT_TIMEOUT = 12 * SHOT_TIMEOUT


def file_bytes(path):
    with open(path, "rb") as stream:
        return stream.read()


def digest(path):
    """A short name for a file's bytes, which a failing comparison can show."""
    return hashlib.sha256(file_bytes(path)).hexdigest()[:16]


def write_path(path, keyframes):
    """A camera path file of (seconds, position, direction) keyframes."""
    with open(path, "w") as stream:
        json.dump({"keyframes": [{"time": seconds, "position": list(position), "direction": list(direction)}
                                 for seconds, position, direction in keyframes]}, stream)
    return path


def olinda_keyframes(frames):
    """Keyframes on the frames compared with stills (the first, the middle and the last), so that
    their poses are the keyframes' own, then the path's end at frames / FPS seconds: south to north
    over Olinda, turning right and back."""
    middle = frames // 2
    return [(0.0, (50, 34, 12), (0.15, -0.62, -1)),
            (middle / FPS, (60, 30, -20), (0.6, -0.5, -1)),
            ((frames - 1) / FPS, (80, 28, -50), (0.2, -0.4, -1)),
            (frames / FPS, (80.5, 28, -51), (0.2, -0.4, -1))]


def probe(path):
    """The video stream's codec, pixel format, size and decoded frame count, and the file's duration."""
    result = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                             "stream=codec_name,pix_fmt,width,height,nb_read_frames:format=duration", "-of", "json",
                             path], check=True, capture_output=True, text=True)
    facts = json.loads(result.stdout)
    stream = facts["streams"][0]
    return (stream["codec_name"], stream["pix_fmt"], stream["width"], stream["height"], int(stream["nb_read_frames"]),
            float(facts["format"]["duration"]))


def decoded_frames(path, indices, width, height):
    """The frames of the video at these indices, as RGB images, converted as a careful player does:
    by the BT.709 matrix the stream declares, from limited range, chroma interpolated."""
    choice = "+".join(f"eq(n\\,{index})" for index in indices)
    scale = "scale=in_color_matrix=bt709:in_range=tv:out_range=pc:flags=accurate_rnd+full_chroma_int+bicubic"
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-vf", f"select='{choice}',{scale}", "-vsync", "0",
                          "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], check=True, capture_output=True).stdout
    size = width * height * 3
    return [images.Image(width, height, raw[i * size:(i + 1) * size]) for i in range(len(indices))]


class VideoTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory(prefix="kelta-video-")
        self.addCleanup(self.work.cleanup)

    def at(self, name):
        return os.path.join(self.work.name, name)

    def still(self, server, name, size, seconds, position, direction):
        path = self.at(name)
        code, _, errors = shot(server, *OLINDA_VIEW, "--size", size, "--position", ",".join(map(str, position)),
                               "--direction", ",".join(map(str, direction)), "--time", repr(seconds), "--output", path)
        self.assertEqual(code, 0, errors)
        return images.read(path)

    def test_a_video_holds_the_paths_frames_for_its_duration(self):
        # (file, codec, width, height, seconds): the full check in H.264, and VP9 for a few frames. Both at
        # 1280 x 720: in smaller frames more of the pixels lie on edges, whose colour 4:2:0 shares.
        cases = [("flight.mp4", "h264", 1280, 720, SECONDS), ("flight.webm", "vp9", 1280, 720, 0.3)]
        with XServer() as server:
            for name, codec, width, height, seconds in cases:
                with self.subTest(name=name):
                    frames = round(seconds * FPS)
                    keyframes = olinda_keyframes(frames)
                    path = write_path(self.at(name + ".json"), keyframes)
                    video = self.at(name)
                    size = f"{width}x{height}"
                    result = subprocess.run(**shot_command(server, *OLINDA_VIEW, "--path", path, "--video", video,
                                                           "--size", size, "--quality", QUALITY),
                                            timeout=FLIGHT_TIMEOUT)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(result.stdout.splitlines()[-1],
                                     f"Wrote {video} ({frames} frames of {width} x {height} at {FPS} a second)")
                    # The progress ends its line at the last frame.
                    self.assertRegex(result.stderr.replace("\r", "\n").splitlines()[-1],
                                     rf"^kelta-shot: frame {frames} of {frames}, [0-9.]+ frames a second, 0:00 left *$")
                    found = probe(video)
                    self.assertEqual(found[:5], (codec, "yuv420p", width, height, frames))
                    self.assertAlmostEqual(found[5], frames / FPS, delta=0.001)
                    self.assertFalse([entry for entry in os.listdir(self.work.name) if entry.startswith(".")],
                                     "the new file was left beside the video")

                    indices = [0, frames // 2, frames - 1]
                    for index, frame, (seconds_at, position, direction) in zip(
                            indices, decoded_frames(video, indices, width, height), keyframes):
                        still = self.still(server, f"{name}-{index}.png", size, seconds_at, position, direction)
                        share, mean = images.difference(frame, still)
                        self.assertLessEqual(share, VIDEO_OUTLIER_SHARE, f"frame {index}: mean {mean}")

    def test_the_frames_of_a_streamed_map_are_settled_and_the_same_in_every_run(self):
        # Across the streamed lake map and low over it, so that every frame wants finer tiles than the
        # frame before: a frame drawn before they arrive, or while they fade in by the clock, differs
        # from the still of its pose and from the other run's frame.
        keyframes = [(0.0, (60, 12, -60), (1, -0.2, -1)), (0.1, (200, 10, -200), (1, -0.15, -0.8)),
                     (0.2, (330, 9, -330), (0.8, -0.15, -1)), (0.3, (400, 9, -400), (0.8, -0.15, -1))]
        path = write_path(self.at("stream.json"), keyframes)
        view = ["--stream", "--size", "320x240"]
        with XServer() as server:
            runs = []
            for run in ("first", "second"):
                folder = self.at(run)
                os.mkdir(folder)
                code, lines, errors = shot(server, *view, "--path", path, "--frames", folder, "--fps", "10")
                self.assertEqual(code, 0, errors)
                self.assertEqual(lines[-1], f"Wrote {folder} (3 frames of 320 x 240 at 10 a second)")
                self.assertEqual(sorted(os.listdir(folder)), ["frame-00000.png", "frame-00001.png", "frame-00002.png"])
                runs.append([digest(os.path.join(folder, name)) for name in sorted(os.listdir(folder))])
            self.assertEqual(runs[0], runs[1], "two runs wrote different frames")
            for index, (seconds, position, direction) in enumerate(keyframes[:3]):
                still = self.at(f"still-{index}.png")
                code, _, errors = shot(server, *view, "--position", ",".join(map(str, position)), "--direction",
                                       ",".join(map(str, direction)), "--time", repr(seconds), "--output", still)
                self.assertEqual(code, 0, errors)
                frame = images.read(os.path.join(self.at("first"), f"frame-{index:05d}.png"))
                self.assertTrue(images.matches(frame, images.read(still)),
                                f"frame {index} is not its pose's settled still: {images.difference(frame, images.read(still))}")

    def test_a_track_is_filmed_along_its_flight(self):
        # 10.3 km at 36000 km/h: a second of flight, a few frames at 4 a second.
        track = self.at("walk.gpx")
        test_follow.write_gpx(track, test_follow.TRACK)
        folder = self.at("frames")
        os.mkdir(folder)
        with XServer() as server:
            code, lines, errors = shot(server, *OLINDA_VIEW, "--follow", track, "--follow-speed", "36000",
                                       "--frames", folder, "--fps", "4", "--size", "80x60")
        self.assertEqual(code, 0, errors)
        self.assertTrue([line for line in lines if line.startswith(f"Following {track} (tracks, 3 points): 10.3 km")],
                        lines)
        frames = sorted(os.listdir(folder))
        self.assertEqual(lines[-1], f"Wrote {folder} ({len(frames)} frames of 80 x 60 at 4 a second)")
        self.assertEqual(frames, [f"frame-{index:05d}.png" for index in range(len(frames))])
        self.assertGreaterEqual(len(frames), 4)

    def test_an_export_ended_by_ctrl_c_leaves_the_previous_video_and_nothing_else(self):
        video = self.at("flight.mp4")
        with open(video, "wb") as stream:
            stream.write(b"the video that was there before\n")
        path = write_path(self.at("long.json"), [(0.0, (50, 34, 12), (0.15, -0.62, -1)),
                                                  (60.0, (80, 28, -50), (0.2, -0.4, -1))])
        before = sorted(os.listdir(self.work.name))
        with XServer() as server:
            export = subprocess.Popen(**shot_command(server, *OLINDA_VIEW, "--path", path, "--video", video,
                                                     "--size", "64x48"))
            # Under way once its progress shows a few frames encoded into the new file.
            seen = []
            for line in export.stderr:
                seen.append(line)
                if line.startswith("kelta-shot: frame 5 of 1800"):
                    break
            export.send_signal(signal.SIGINT)
            export.communicate(timeout=SHOT_TIMEOUT)
            self.assertEqual(export.returncode, -signal.SIGINT, "".join(seen))
        self.assertEqual(file_bytes(video), b"the video that was there before\n")
        self.assertEqual(sorted(os.listdir(self.work.name)), before, "something was left beside the video")


if __name__ == "__main__":
    unittest.main()
