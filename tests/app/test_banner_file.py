"""The maker's banner against its JPEG format and the boxes that show it."""

import os
import struct
import unittest

from PIL import Image

BANNER = os.path.join(os.environ["VELMORA_ASSETS_DIR"], "banner.jpg")
BANNER_SIZE = (306, 20)
SIZE_LIMIT_BYTES = 8 * 1024
# The about window's sunken box shows the banner's top rows only.
ROWS_VISIBLE_IN_ABOUT_BOX = 13

SOI, EOI, SOS = 0xD8, 0xD9, 0xDA
SOF_BASELINE = 0xC0
# Start-of-frame markers; C4 (Huffman tables), C8 and CC (arithmetic tables) are not frames.
FRAME_MARKERS = set(range(0xC0, 0xD0)) - {0xC4, 0xC8, 0xCC}


def _segments(data):
    """(marker, payload) pairs up to the start of the scan."""
    if data[:2] != b"\xff\xd8":
        raise ValueError("no start-of-image marker")
    position, segments = 2, []
    while position < len(data):
        if data[position] != 0xFF:
            raise ValueError(f"no marker at byte {position}")
        marker = data[position + 1]
        (length,) = struct.unpack_from(">H", data, position + 2)
        segments.append((marker, data[position + 4:position + 2 + length]))
        position += 2 + length
        if marker == SOS:
            break
    return segments


class BannerFormatTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(BANNER, "rb") as f:
            cls.data = f.read()
        cls.segments = _segments(cls.data)

    def test_jfif_101_at_96_dpi_comes_first(self):
        marker, payload = self.segments[0]
        self.assertEqual(marker, 0xE0)
        identifier, major, minor, units, x_density, y_density = struct.unpack_from(
            ">5sBBBHH", payload)
        self.assertEqual(identifier, b"JFIF\0")
        self.assertEqual((major, minor), (1, 1))
        self.assertEqual((units, x_density, y_density), (1, 96, 96), "dots per inch, 96 x 96")

    def test_one_baseline_frame_8_bit_3_components(self):
        frames = [(m, p) for m, p in self.segments if m in FRAME_MARKERS]
        self.assertEqual([m for m, _ in frames], [SOF_BASELINE])
        precision, height, width, components = struct.unpack_from(">BHHB", frames[0][1])
        self.assertEqual((precision, components), (8, 3))
        self.assertEqual((width, height), BANNER_SIZE)

    def test_ends_with_end_of_image_and_stays_small(self):
        self.assertEqual(self.data[-2:], b"\xff\xd9")
        self.assertLessEqual(len(self.data), SIZE_LIMIT_BYTES)

    def test_credit_is_readable_where_the_about_box_cuts_it(self):
        with Image.open(BANNER) as image:
            image.load()
            self.assertEqual(image.size, BANNER_SIZE)
            grey = image.convert("L")
        visible = grey.crop((0, 0, BANNER_SIZE[0], ROWS_VISIBLE_IN_ABOUT_BOX))
        dark_columns = {x for x in range(BANNER_SIZE[0])
                        for y in range(ROWS_VISIBLE_IN_ABOUT_BOX)
                        if visible.getpixel((x, y)) < 128}
        self.assertGreater(len(dark_columns), 80, "too little text in the visible rows")
        self.assertGreater(grey.getpixel((BANNER_SIZE[0] - 1, 0)), 240, "background not light")


if __name__ == "__main__":
    unittest.main()
