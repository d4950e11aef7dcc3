"""Installs the program into a scratch prefix and checks what a Linux desktop reads."""

import configparser
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

from icon_reader import png_header

BUILD_DIR = os.environ["VELMORA_BUILD_DIR"]
APP_ID = "example.telvaro.Velmora"
HICOLOR_SIZES = (16, 24, 32, 48, 64, 128, 256)
SKIP_RETURN_CODE = 77
TOOL_TIMEOUT_S = 120
VALIDATORS = ("desktop-file-validate", "appstreamcli")


def _run(command):
    return subprocess.run(command, capture_output=True, text=True, timeout=TOOL_TIMEOUT_S)


class InstalledTreeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.prefix = cls.scratch.name
        result = _run(["cmake", "--install", BUILD_DIR, "--prefix", cls.prefix])
        if result.returncode != 0:
            raise AssertionError(f"cmake --install failed:\n{result.stdout}{result.stderr}")
        cls.desktop_path = os.path.join(cls.prefix, "share", "applications",
                                        f"{APP_ID}.desktop")
        cls.metainfo_path = os.path.join(cls.prefix, "share", "metainfo",
                                         f"{APP_ID}.metainfo.xml")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def _desktop_entry(self):
        parser = configparser.ConfigParser(interpolation=None)
        parser.optionxform = str
        parser.read(self.desktop_path, encoding="utf-8")
        return parser["Desktop Entry"]

    def test_program_is_installed_executable(self):
        binary = os.path.join(self.prefix, "bin", "velmora")
        self.assertTrue(os.access(binary, os.X_OK), binary)

    def test_desktop_entry_validates(self):
        result = _run(["desktop-file-validate", self.desktop_path])
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

    def test_metainfo_validates_alone_and_with_the_installed_tree(self):
        for command in (["appstreamcli", "validate", "--no-net", self.metainfo_path],
                        ["appstreamcli", "validate-tree", "--no-net", self.prefix]):
            with self.subTest(command=command[1]):
                result = _run(command)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertNotRegex(result.stdout, r"(?m)^[EW]:")

    def test_desktop_entry_names_and_categories(self):
        entry = self._desktop_entry()
        self.assertEqual(entry["Name"], "Velmora")
        self.assertEqual(entry["Name[zh_CN]"], "Velmora网络音乐播放器")
        self.assertEqual(entry["Categories"].rstrip(";").split(";"),
                         ["Audio", "Player", "AudioVideo"])
        # The program ignores arguments, so the entry must not promise to open files.
        self.assertEqual(entry["Exec"], "velmora")

    def test_entry_icon_and_metainfo_refer_to_each_other(self):
        entry = self._desktop_entry()
        self.assertTrue(os.path.exists(os.path.join(self.prefix, "bin", entry["Exec"])))
        self.assertEqual(entry["Icon"], APP_ID)
        component = ElementTree.parse(self.metainfo_path).getroot()
        self.assertEqual(component.findtext("id"), APP_ID)
        self.assertEqual(component.find("launchable").text,
                         os.path.basename(self.desktop_path))
        self.assertEqual(component.findtext("provides/binary"), entry["Exec"])

    def test_release_carries_the_project_version(self):
        component = ElementTree.parse(self.metainfo_path).getroot()
        versions = [r.get("version") for r in component.iter("release")]
        self.assertEqual(versions, [os.environ["VELMORA_PROJECT_VERSION"]])

    def test_hicolor_icon_at_every_size_has_that_size(self):
        for size in HICOLOR_SIZES:
            with self.subTest(size=size):
                path = os.path.join(self.prefix, "share", "icons", "hicolor",
                                    f"{size}x{size}", "apps", f"{APP_ID}.png")
                with open(path, "rb") as f:
                    self.assertEqual(png_header(f.read())[:2], (size, size))


if __name__ == "__main__":
    missing = [tool for tool in VALIDATORS if shutil.which(tool) is None]
    if missing:
        print("not installed: " + ", ".join(missing))
        sys.exit(SKIP_RETURN_CODE)
    unittest.main()
