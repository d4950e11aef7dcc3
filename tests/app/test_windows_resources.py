"""The Windows resource script, compiled with mingw's windres, linked, and read back."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

RC_FILE = os.environ["VELMORA_RC_FILE"]
ICO_FILE = os.path.join(os.environ["VELMORA_ASSETS_DIR"], "velmora.ico")
TOOLS = WINDRES, LINKER, WRESTOOL = ("i686-w64-mingw32-windres", "i686-w64-mingw32-ld",
                                     "wrestool")
SKIP_RETURN_CODE = 77
TOOL_TIMEOUT_S = 60

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
CHINESE_PRC, UNICODE_CODE_PAGE = 0x0804, 1200
FIRST_ICON_ID = 30001
# Written in UTF-8 and compiled under its code page: it must read back as Chinese.
LEGAL_COPYRIGHT_LENGTH = 11


def _run(*command):
    return subprocess.run(command, check=True, capture_output=True,
                          timeout=TOOL_TIMEOUT_S).stdout


def link_resources(rc_file, scratch):
    """A resource-only DLL built from `rc_file`; its path."""
    obj, dll = os.path.join(scratch, "resources.o"), os.path.join(scratch, "resources.dll")
    _run(WINDRES, "--preprocessor=cpp", "-i", rc_file, "-O", "coff", "-o", obj)
    _run(LINKER, "--dll", "-e", "0", "-o", dll, obj)
    return dll


def version_node(data, position=0):
    """(key, value bytes, children) of one node of a version record."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, position)
    key_end = position + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    cursor = (key_end + 2 + 3) & ~3
    value_end = cursor + value_length * (2 if is_text else 1)
    value, cursor, children = data[cursor:value_end], (value_end + 3) & ~3, []
    while cursor < position + length:
        children.append(version_node(data, cursor))
        cursor = (cursor + struct.unpack_from("<H", data, cursor)[0] + 3) & ~3
    return data[position + 6:key_end].decode("utf-16-le"), value, children


class LinkedResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as scratch:
            dll = link_resources(RC_FILE, scratch)
            cls.listing = _run(WRESTOOL, "-l", dll).decode()
            cls.rebuilt_icon = _run(WRESTOOL, "-x", f"--type={RT_GROUP_ICON}", "--name=1", dll)
            record = _run(WRESTOOL, "-x", "--raw", f"--type={RT_VERSION}", "--name=1", dll)
        cls.version = version_node(record)

    def test_only_the_icon_images_their_group_and_the_version_record(self):
        found = re.findall(r"--type=(\d+) --name=(\d+) --language=(\d+)", self.listing)
        expected = [(RT_ICON, FIRST_ICON_ID + i, 0) for i in range(13)]
        expected += [(RT_GROUP_ICON, 1, 0), (RT_VERSION, 1, CHINESE_PRC)]
        self.assertEqual(sorted(tuple(map(int, row)) for row in found), sorted(expected))

    def test_icon_group_rebuilds_the_icon_file(self):
        with open(ICO_FILE, "rb") as f:
            ico = f.read()
        # wrestool pads what it rebuilds with zeros.
        self.assertTrue(self.rebuilt_icon[:len(ico)] == ico, "rebuilt icon differs")
        self.assertEqual(self.rebuilt_icon[len(ico):].strip(b"\0"), b"")

    def test_one_chinese_string_table_whose_notice_reads_back_as_chinese(self):
        blocks = self.version[2]
        self.assertEqual([key for key, _, _ in blocks], ["VarFileInfo", "StringFileInfo"])
        self.assertEqual([(key, struct.unpack("<HH", value)) for key, value, _ in blocks[0][2]],
                         [("Translation", (CHINESE_PRC, UNICODE_CODE_PAGE))])
        tables = blocks[1][2]
        self.assertEqual([key for key, _, _ in tables], ["080404B0"])
        entries = {key: value.decode("utf-16-le").rstrip("\0") for key, value, _ in tables[0][2]}
        copyright_notice = entries["LegalCopyright"]
        self.assertEqual(len(copyright_notice), LEGAL_COPYRIGHT_LENGTH, copyright_notice)
        self.assertRegex(copyright_notice, "[\u4e00-\u9fff]", "not a Chinese notice")

    def test_image_of_odd_length_keeps_its_last_byte(self):
        # The resource data is written in 16-bit words; a high last byte is the hard case.
        png = b"\x89PNG\r\n\x1a\n" + bytes(range(0, 255, 3))
        ico = struct.pack("<3H4B2H2I", 0, 1, 1, 0, 0, 0, 0, 1, 32, len(png), 22) + png
        with tempfile.TemporaryDirectory() as scratch:
            paths = {name: Path(scratch, name) for name in ("odd.ico", "odd.rc", "w.cmake")}
            paths["odd.ico"].write_bytes(ico)
            paths["w.cmake"].write_text(
                f'include("{os.environ["VELMORA_ICON_RESOURCES_MODULE"]}")\n'
                f'velmora_icon_resources("{paths["odd.ico"]}" 1 {FIRST_ICON_ID} out)\n'
                f'file(WRITE "{paths["odd.rc"]}" "${{out}}")\n')
            _run("cmake", "-P", paths["w.cmake"])
            dll = link_resources(paths["odd.rc"], scratch)
            image = _run(WRESTOOL, "-x", "--raw", f"--type={RT_ICON}",
                         f"--name={FIRST_ICON_ID}", dll)
        self.assertEqual(len(png) % 2, 1)
        self.assertEqual(image, png)


if __name__ == "__main__":
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("not installed (binutils-mingw-w64-i686, icoutils): " + ", ".join(missing))
        sys.exit(SKIP_RETURN_CODE)
    unittest.main()
