"""The installed programs: `cmake --install` into a fresh prefix, then the installed kelta-shot, run
from the root folder, renders with the installed data set; and the desktop files installed beside
them, which name each other, the programs and the file types."""
import configparser
import os
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import images
from harness import BUILD_DIR, SANITIZED, XServer

TIMEOUT = 600 if SANITIZED else 120
INSTALLED_FILES = ["bin/kelta", "bin/kelta-datagen", "bin/kelta-shot", "bin/kelta-bench",
                   "share/kelta/Maps/Lake_512.bmp", "share/kelta/Textures/Skydome.bmp",
                   "share/doc/kelta/README.md"]
APP_ID = "org.kelta.Kelta"
DESKTOP_ENTRY = f"share/applications/{APP_ID}.desktop"
METAINFO = f"share/metainfo/{APP_ID}.metainfo.xml"
MIME_PACKAGE = "share/mime/packages/kelta.xml"
ICON = f"share/icons/hicolor/scalable/apps/{APP_ID}.svg"
SYSTEM_MIME = "/usr/share/mime"


class Install(unittest.TestCase):
    def test_installed_shot_finds_the_installed_data_from_anywhere(self):
        with tempfile.TemporaryDirectory() as prefix, XServer() as server:
            subprocess.run([shutil.which("cmake") or "cmake", "--install", BUILD_DIR, "--prefix", prefix],
                           check=True, capture_output=True, timeout=TIMEOUT)
            missing = [name for name in INSTALLED_FILES if not os.path.isfile(os.path.join(prefix, name))]
            self.assertEqual(missing, [])

            picture = os.path.join(prefix, "shot.png")
            result = subprocess.run([os.path.join(prefix, "bin", "kelta-shot"), "--size", "64x48", "--output", picture],
                                    cwd="/", env=server.env(), capture_output=True, text=True, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertGreater(max(images.read(picture).pixels), 0, "the picture is black")

    def test_desktop_files_name_what_is_installed(self):
        """A file renamed on one side, a program left out of the install or a misspelt file type
        would leave the desktop with an entry that opens nothing."""
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run([shutil.which("cmake") or "cmake", "--install", BUILD_DIR, "--prefix", prefix],
                           check=True, capture_output=True, timeout=TIMEOUT)
            missing = [name for name in [DESKTOP_ENTRY, METAINFO, MIME_PACKAGE, ICON]
                       if not os.path.isfile(os.path.join(prefix, name))]
            self.assertEqual(missing, [])

            entry = configparser.ConfigParser(interpolation=None)
            entry.optionxform = str
            entry.read(os.path.join(prefix, DESKTOP_ENTRY))
            desktop = entry["Desktop Entry"]
            self.assertEqual(desktop["Exec"], "kelta %f")
            self.assertEqual(desktop["Icon"], APP_ID)

            component = ElementTree.parse(os.path.join(prefix, METAINFO)).getroot()
            self.assertEqual(component.findtext("id"), APP_ID)
            self.assertEqual(component.findtext("launchable"), os.path.basename(DESKTOP_ENTRY))
            binaries = [element.text for element in component.iter("binary")]
            self.assertIn("kelta", binaries)
            self.assertEqual([name for name in binaries if not os.path.isfile(os.path.join(prefix, "bin", name))], [])

            # Each type the entry opens is shared-mime-info's own or one the installed package defines.
            defined = os.path.join(prefix, "mime")
            shutil.copytree(os.path.join(prefix, "share", "mime"), defined)
            subprocess.run(["update-mime-database", defined], check=True, capture_output=True, timeout=TIMEOUT)
            types = [name for name in desktop["MimeType"].split(";") if name]
            self.assertIn("image/tiff", types)
            unknown = [name for name in types if not any(os.path.isfile(os.path.join(folder, name + ".xml"))
                                                         for folder in (SYSTEM_MIME, defined))]
            self.assertEqual(unknown, [])
            with open(os.path.join(defined, "globs2")) as globs:
                patterns = {line.strip().split(":")[-1] for line in globs if not line.startswith("#")}
            self.assertLessEqual({"*.hgt", "*.asc", "*.r16"}, patterns)


if __name__ == "__main__":
    unittest.main()
