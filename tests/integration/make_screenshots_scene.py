"""Takes screenshots of the default view and of the five terrain shading modes of the real program
into docs/.

Run from a build: KELTA_BINARY=build/kelta KELTA_DATA_DIR=build/data python3 make_screenshots_scene.py"""
import os
import sys
import time

from harness import Kelta, XServer

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs")
SHOTS = [("default-view.png", None)] + [(f"mode-{mode}.png", str(mode)) for mode in range(1, 6)]


def main():
    os.makedirs(DOCS, exist_ok=True)
    with XServer() as server:
        kelta = Kelta(server)
        if not kelta.started():
            print("\n".join(kelta.output()), file=sys.stderr)
            return 1
        for name, key in SHOTS:
            if key:
                kelta.key(key)
            # Let a few frames of the new mode reach the window.
            time.sleep(6.0)
            path = os.path.normpath(os.path.join(DOCS, name))
            kelta.screenshot(path)
            print(path)
        return kelta.quit()


if __name__ == "__main__":
    sys.exit(main())
