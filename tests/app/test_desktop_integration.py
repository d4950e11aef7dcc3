"""Installs the program into a scratch prefix and checks what a Linux desktop reads there."""

import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

from image_formats import png_header

APP_ID = "example.telvaro.Velmora"
HICOLOR_SIZES = (16, 24, 32, 48, 64, 128, 256)
VALIDATORS = ("desktop-file-validate", "appstreamcli")
SKIP_RETURN_CODE = 77
TOOL_TIMEOUT_S = 120


def _run(*command):
    return subprocess.run(command, capture_output=True, text=True, timeout=TOOL_TIMEOUT_S)


class InstalledTreeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.prefix = cls.scratch.name
        installed = _run("cmake", "--install", os.environ["VELMORA_BUILD_DIR"],
                         "--prefix", cls.prefix)
        if installed.returncode != 0:
            raise AssertionError(f"cmake --install failed:\n{installed.stderr}")
        share = os.path.join(cls.prefix, "share")
        cls.desktop_file = os.path.join(share, "applications", f"{APP_ID}.desktop")
        cls.metainfo_file = os.path.join(share, "metainfo", f"{APP_ID}.metainfo.xml")
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(cls.desktop_file, encoding="utf-8")
        cls.entry = parser["Desktop Entry"]
        cls.component = ElementTree.parse(cls.metainfo_file).getroot()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_validators_accept_the_entry_the_metainfo_and_the_tree(self):
        for command in (("desktop-file-validate", self.desktop_file),
                        ("appstreamcli", "validate", "--no-net", self.metainfo_file),
                        ("appstreamcli", "validate-tree", "--no-net", self.prefix)):
            with self.subTest(command=command[:2]):
                result = _run(*command)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertNotRegex(result.stdout + result.stderr, r"(?m)^(E|W|error|warning)")

    def test_entry_starts_the_installed_program(self):
        # The program ignores its arguments, so the entry offers none (no %U).
        self.assertEqual(self.entry["Exec"], "velmora")
        self.assertTrue(os.access(os.path.join(self.prefix, "bin", "velmora"), os.X_OK))
        self.assertEqual(self.component.findtext("provides/binary"), self.entry["Exec"])

    def test_entry_icon_exists_at_every_size_with_that_size(self):
        for size in HICOLOR_SIZES:
            with self.subTest(size=size):
                path = os.path.join(self.prefix, "share", "icons", "hicolor", f"{size}x{size}",
                                    "apps", f"{self.entry['Icon']}.png")
                with open(path, "rb") as f:
                    self.assertEqual(png_header(f.read())[:2], (size, size))


if __name__ == "__main__":
    missing = [tool for tool in VALIDATORS if shutil.which(tool) is None]
    if missing:
        print("not installed (desktop-file-utils, appstream): " + ", ".join(missing))
        sys.exit(SKIP_RETURN_CODE)
    unittest.main()
