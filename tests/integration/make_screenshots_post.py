"""Takes a screenshot of each of the four bloom views of the real program into docs/.

Run from a build: KELTA_BINARY=build/kelta KELTA_DATA_DIR=build/data python3 make_screenshots_post.py"""
import os
import sys
import time

from harness import Kelta, XServer

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs")
# In the order the B key reaches them from the start.
VIEWS = [("view-bloom.png", None), ("view-no-bloom.png", "Bloom disabled"),
         ("view-bright.png", "Bright texture"), ("view-smoothed-bloom.png", "Smoothed bloom texture")]
SETTLE_SECONDS = float(os.environ.get("KELTA_SCREENSHOT_SETTLE", "8"))


def main():
    os.makedirs(DOCS, exist_ok=True)
    with XServer() as server:
        kelta = Kelta(server)
        if not kelta.started():
            print("\n".join(kelta.output()), file=sys.stderr)
            return 1
        for name, view in VIEWS:
            if view:
                kelta.key("b")
                if not kelta.wait_for_line(view, 30):
                    print(f"no '{view}' line", file=sys.stderr)
                    return 1
            # A software rasteriser takes a while per frame; let several of the new view reach the window.
            time.sleep(SETTLE_SECONDS)
            path = os.path.normpath(os.path.join(DOCS, name))
            kelta.screenshot(path)
            print(path)
        return kelta.quit()


if __name__ == "__main__":
    sys.exit(main())
