"""The Windows resource script, compiled with mingw's windres and read back field by field."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

from icon_reader import image_bytes, read_directory
from resource_reader import fixed_file_info, read_res, read_version_node

RC_FILE = os.environ["VELMORA_RC_FILE"]
ICO_FILE = os.path.join(os.environ["VELMORA_ASSETS_DIR"], "velmora.ico")
WINDRES = "i686-w64-mingw32-windres"
LINKER = "i686-w64-mingw32-ld"
WRESTOOL = "wrestool"
TOOLS = (WINDRES, LINKER, WRESTOOL)
SKIP_RETURN_CODE = 77
COMPILE_TIMEOUT_S = 60

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
LANGUAGE_NEUTRAL = 0x0000
LANGUAGE_CHINESE_PRC = 0x0804
CODE_PAGE_UNICODE = 1200
FIRST_ICON_ID = 30001
VS_FFI_SIGNATURE = 0xFEEF04BD
VS_FFI_STRUCT_VERSION = 0x00010000
VOS_NT_WINDOWS32 = 4
VFT_APP = 1

EXPECTED_FIXED = {
    "signature": VS_FFI_SIGNATURE, "struct_version": VS_FFI_STRUCT_VERSION,
    "file_version_ms": 2 << 16 | 3, "file_version_ls": 0 << 16 | 3,
    "product_version_ms": 2 << 16 | 3, "product_version_ls": 0 << 16 | 3,
    "flags_mask": 0, "flags": 0, "os": VOS_NT_WINDOWS32, "type": VFT_APP, "subtype": 0,
    "date_ms": 0, "date_ls": 0,
}
EXPECTED_STRINGS = [
    ("CompanyName", "telvaro.example"),
    ("LegalCopyright", None),  # free text, checked on its own
    ("ProductName", "Velmora Internet Music Player"),
    ("FileVersion", "2.03.0003"),
    ("ProductVersion", "2.03.0003"),
    ("InternalName", "Velmora 2.33"),
    ("OriginalFilename", "Velmora 2.33.exe"),
]
LEGAL_COPYRIGHT_LENGTH = 11


def compile_resources(rc_file, res_file):
    subprocess.run([WINDRES, "--preprocessor=cpp", "-i", rc_file, "-O", "res", "-o", res_file],
                   check=True, timeout=COMPILE_TIMEOUT_S)
    with open(res_file, "rb") as f:
        return read_res(f.read())


class CompiledResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as scratch:
            cls.resources = compile_resources(RC_FILE, os.path.join(scratch, "velmora.res"))
        with open(ICO_FILE, "rb") as f:
            cls.ico = f.read()
        cls.by_key = {(r.type, r.name): r for r in cls.resources}

    def _version(self):
        return read_version_node(self.by_key[(RT_VERSION, 1)].data)

    def test_nothing_but_the_icon_and_the_version_record(self):
        _, _, entries = read_directory(self.ico)
        expected = [(RT_ICON, FIRST_ICON_ID + i, LANGUAGE_NEUTRAL) for i in range(len(entries))]
        expected += [(RT_GROUP_ICON, 1, LANGUAGE_NEUTRAL), (RT_VERSION, 1, LANGUAGE_CHINESE_PRC)]
        self.assertEqual(sorted((r.type, r.name, r.language) for r in self.resources),
                         sorted(expected))

    def test_icon_images_are_the_icon_files_images_in_order(self):
        _, _, entries = read_directory(self.ico)
        self.assertEqual(len(entries), 13)
        for index, entry in enumerate(entries):
            with self.subTest(image=FIRST_ICON_ID + index):
                self.assertTrue(self.by_key[(RT_ICON, FIRST_ICON_ID + index)].data ==
                                image_bytes(self.ico, entry), "image bytes differ")

    def test_icon_group_lists_the_images_with_their_ids(self):
        group = self.by_key[(RT_GROUP_ICON, 1)].data
        _, _, entries = read_directory(self.ico)
        self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, len(entries)))
        self.assertEqual(len(group), 6 + 14 * len(entries))
        for index, entry in enumerate(entries):
            with self.subTest(entry=index + 1):
                row = group[6 + 14 * index: 20 + 14 * index]
                # Same fields as the file's directory, with the resource id in place of the offset.
                self.assertEqual(row[:12], entry.raw[:12])
                self.assertEqual(struct.unpack("<H", row[12:])[0], FIRST_ICON_ID + index)

    def test_version_fixed_part(self):
        root = self._version()
        self.assertEqual(root.key, "VS_VERSION_INFO")
        self.assertEqual(root.value_length, 52)
        info = fixed_file_info(root)
        for field, expected in EXPECTED_FIXED.items():
            with self.subTest(field=field):
                self.assertEqual(info[field], expected)

    def test_var_file_info_first_with_one_translation(self):
        root = self._version()
        self.assertEqual([c.key for c in root.children], ["VarFileInfo", "StringFileInfo"])
        variables = root.children[0].children
        self.assertEqual([v.key for v in variables], ["Translation"])
        self.assertEqual(struct.unpack("<HH", variables[0].value),
                         (LANGUAGE_CHINESE_PRC, CODE_PAGE_UNICODE))

    def test_string_table_holds_exactly_the_seven_entries_in_order(self):
        tables = self._version().child("StringFileInfo").children
        self.assertEqual([t.key for t in tables], ["080404B0"])
        strings = tables[0].children
        self.assertEqual([s.key for s in strings], [k for k, _ in EXPECTED_STRINGS])
        for node, (key, expected) in zip(strings, EXPECTED_STRINGS):
            with self.subTest(key=key):
                self.assertTrue(node.text)
                if expected is not None:
                    self.assertEqual(node.string_value(), expected)

    def test_legal_copyright_is_eleven_characters_of_chinese_notice(self):
        strings = self._version().child("StringFileInfo").child("080404B0")
        notice = strings.child("LegalCopyright").string_value()
        self.assertEqual(len(notice), LEGAL_COPYRIGHT_LENGTH, notice)
        self.assertTrue(any("\u4e00" <= c <= "\u9fff" for c in notice), notice)


class LinkedLibraryTest(unittest.TestCase):
    """The resources linked into a PE file, as another tool reads them back."""

    def test_wrestool_rebuilds_the_icon_file_from_the_group(self):
        with tempfile.TemporaryDirectory() as scratch:
            obj, dll = os.path.join(scratch, "velmora.o"), os.path.join(scratch, "velmora.dll")
            subprocess.run([WINDRES, "--preprocessor=cpp", "-i", RC_FILE, "-O", "coff", "-o", obj],
                           check=True, timeout=COMPILE_TIMEOUT_S)
            subprocess.run([LINKER, "--dll", "-e", "0", "-o", dll, obj], check=True,
                           timeout=COMPILE_TIMEOUT_S)
            listing = subprocess.run([WRESTOOL, "-l", dll], check=True, capture_output=True,
                                     text=True, timeout=COMPILE_TIMEOUT_S).stdout
            extracted = subprocess.run([WRESTOOL, "-x", "--type=14", "--name=1", dll],
                                       check=True, capture_output=True,
                                       timeout=COMPILE_TIMEOUT_S).stdout
        self.assertIn("--type=14 --name=1 --language=0 ", listing)
        self.assertIn(f"--type=16 --name=1 --language={LANGUAGE_CHINESE_PRC} ", listing)
        with open(ICO_FILE, "rb") as f:
            ico = f.read()
        # wrestool pads its output with zeros; the icon file must come first, unchanged.
        self.assertTrue(extracted[:len(ico)] == ico, "rebuilt icon differs from the icon file")
        self.assertEqual(extracted[len(ico):].strip(b"\0"), b"")


class OddLengthImageTest(unittest.TestCase):
    """An icon image of odd length still reaches the resource byte for byte."""

    def test_odd_length_png_survives(self):
        module = os.environ["VELMORA_ICON_RESOURCES_MODULE"]
        with tempfile.TemporaryDirectory() as scratch:
            script = os.path.join(scratch, "write.cmake")
            with open(script, "w") as f:
                f.write(f'include("{module}")\n'
                        'velmora_icon_resources(${ICO} 1 30001 statements)\n'
                        'file(WRITE ${OUT} "${statements}")\n')
            png = b"\x89PNG\r\n\x1a\n" + bytes(range(0, 255, 3))
            self.assertEqual(len(png) % 2, 1)
            ico = struct.pack("<HHH", 0, 1, 1) + struct.pack(
                "<BBBBHHII", 0, 0, 0, 0, 1, 32, len(png), 22) + png
            ico_path, rc_path = os.path.join(scratch, "odd.ico"), os.path.join(scratch, "odd.rc")
            with open(ico_path, "wb") as f:
                f.write(ico)
            subprocess.run(["cmake", f"-DICO={ico_path}", f"-DOUT={rc_path}", "-P", script],
                           check=True, timeout=COMPILE_TIMEOUT_S)
            resources = compile_resources(rc_path, os.path.join(scratch, "odd.res"))
        by_key = {(r.type, r.name): r.data for r in resources}
        self.assertEqual(by_key[(RT_ICON, FIRST_ICON_ID)], png)


if __name__ == "__main__":
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("not installed (binutils-mingw-w64-i686, icoutils): " + ", ".join(missing))
        sys.exit(SKIP_RETURN_CODE)
    unittest.main()
