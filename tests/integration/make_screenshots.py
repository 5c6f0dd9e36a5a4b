"""Takes the README's screenshots of the real program into docs/: the default view, the five
terrain shading modes (keys 1 to 5) and the four bloom views (key B).

Run from a build: KELTA_BINARY=build/kelta KELTA_DATA_DIR=build/data python3 make_screenshots.py
Needs ImageMagick's import."""
import os
import sys
import time

from harness import Kelta, XServer

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs")
# A software rasteriser takes a while per frame; let several frames of a new view reach the window.
SETTLE_SECONDS = float(os.environ.get("KELTA_SCREENSHOT_SETTLE", "8"))
# (file, key to press first, line the program prints for that key)
MODES = [("default-view.png", None, None)] + [(f"mode-{mode}.png", str(mode), None) for mode in range(1, 6)]
VIEWS = [("view-bloom.png", None, None), ("view-no-bloom.png", "b", "Bloom disabled"),
         ("view-bright.png", "b", "Bright texture"), ("view-smoothed-bloom.png", "b", "Smoothed bloom texture")]


def take(shots):
    with XServer() as server:
        kelta = Kelta(server)
        if not kelta.started():
            print("\n".join(kelta.output()), file=sys.stderr)
            return 1
        for name, key, line in shots:
            if key:
                kelta.key(key)
            if line and not kelta.wait_for_line(line, 30):
                print(f"no '{line}' line", file=sys.stderr)
                return 1
            time.sleep(SETTLE_SECONDS)
            path = os.path.normpath(os.path.join(DOCS, name))
            kelta.screenshot(path)
            print(path)
        return kelta.quit()


def main():
    os.makedirs(DOCS, exist_ok=True)
    # The bloom views are taken in a fresh run so that they show the full shading mode.
    return take(MODES) or take(VIEWS)


if __name__ == "__main__":
    sys.exit(main())
