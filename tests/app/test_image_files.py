"""The application icon and the maker's banner against their formats, read independently of the
code that writes them."""

import os
import struct
import unittest
from collections import namedtuple

from PIL import Image

Entry = namedtuple("Entry", "width height colours reserved planes bits size offset raw")
Bitmap = namedtuple("Bitmap", "header_size width height planes bits compression pixels "
                              "hidden encoded_size")


def _stride(width, bits):
    return (width * bits + 31) // 32 * 4


def ico_entries(data):
    """(reserved, type, entries) of an .ico file's directory."""
    reserved, kind, count = struct.unpack_from("<HHH", data)
    raws = [data[6 + 16 * i:22 + 16 * i] for i in range(count)]
    return reserved, kind, [Entry(*struct.unpack("<BBBBHHII", r), raw=r) for r in raws]


def decode_bitmap(blob):
    """A bitmap icon image: top-down rows of (r, g, b, alpha or None) and of mask bits."""
    header_size, width, double_height, planes, bits, compression = struct.unpack_from(
        "<IiiHHI", blob)
    height, position, palette = double_height // 2, header_size, []
    if bits <= 8:
        palette = [tuple(blob[position + 4 * i:position + 4 * i + 3][::-1]) + (None,)
                   for i in range(1 << bits)]
        position += 4 * len(palette)
    stride, mask_stride = _stride(width, bits), _stride(width, 1)
    mask_start = position + stride * height
    pixels, hidden = [], []
    for y in range(height):
        row = blob[position + (height - 1 - y) * stride:][:stride]
        mask_row = blob[mask_start + (height - 1 - y) * mask_stride:][:mask_stride]
        hidden.append([bool(mask_row[x // 8] >> (7 - x % 8) & 1) for x in range(width)])
        if bits == 32:
            pixels.append([tuple(row[4 * x:4 * x + 3][::-1]) + (row[4 * x + 3],)
                           for x in range(width)])
        else:
            # Palette indices fill each byte from its high bits down.
            mask = (1 << bits) - 1
            pixels.append([palette[row[x * bits // 8] >> (8 - bits - x * bits % 8) & mask]
                           for x in range(width)])
    return Bitmap(header_size, width, height, planes, bits, compression, pixels, hidden,
                  mask_start + mask_stride * height)


def png_header(blob):
    """(width, height, bit depth, colour type) from a PNG's IHDR chunk."""
    if blob[:8] != b"\x89PNG\r\n\x1a\n" or blob[12:16] != b"IHDR":
        raise ValueError("not a PNG image")
    return struct.unpack(">IIBB", blob[16:26])


def jpeg_segments(data):
    """(marker, payload) pairs from the start of image up to the start of the scan."""
    if data[:2] != b"\xff\xd8":
        raise ValueError("no start-of-image marker")
    position, segments, start_of_scan = 2, [], 0xDA
    while not segments or segments[-1][0] != start_of_scan:
        if data[position] != 0xFF:
            raise ValueError(f"no marker at byte {position}")
        (length,) = struct.unpack_from(">H", data, position + 2)
        segments.append((data[position + 1], data[position + 4:position + 2 + length]))
        position += 2 + length
    return segments


ASSETS = os.environ["VELMORA_ASSETS_DIR"]
MASK_ALPHA_THRESHOLD = 128
RGBA_COLOUR_TYPE = 6
# (size, bits per pixel) in the order the icon must hold them; the 256-pixel one is a PNG.
ICON_IMAGES = [(48, 4), (32, 4), (24, 4), (16, 4), (48, 8), (32, 8), (24, 8), (16, 8),
               (256, 32), (48, 32), (32, 32), (24, 32), (16, 32)]
PNG_ENTRY = 8

BANNER_SIZE = (306, 20)
BANNER_SIZE_LIMIT_BYTES = 8 * 1024
# The about window's sunken box shows only the banner's top rows.
BANNER_ROWS_IN_ABOUT_BOX = 13
SOF_BASELINE = 0xC0
FRAME_MARKERS = set(range(0xC0, 0xD0)) - {0xC4, 0xC8, 0xCC}


def _read(*path):
    with open(os.path.join(ASSETS, *path), "rb") as f:
        return f.read()


class IconFileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = _read("velmora.ico")
        cls.reserved, cls.kind, cls.entries = ico_entries(cls.data)
        cls.blobs = [cls.data[e.offset:e.offset + e.size] for e in cls.entries]

    def test_directory_lists_the_images_in_order_back_to_back(self):
        self.assertEqual((self.reserved, self.kind), (0, 1))
        expected = [(size % 256, size % 256, 16 if bits == 4 else 0, 0, 1, bits)
                    for size, bits in ICON_IMAGES]
        self.assertEqual([tuple(e[:6]) for e in self.entries], expected)
        ends = [6 + 16 * len(self.entries)] + [e.offset + e.size for e in self.entries]
        self.assertEqual([e.offset for e in self.entries], ends[:-1])
        self.assertEqual(ends[-1], len(self.data))

    def test_png_entry_is_the_256_pixel_desktop_icon(self):
        self.assertEqual(png_header(self.blobs[PNG_ENTRY]), (256, 256, 8, RGBA_COLOUR_TYPE))
        self.assertTrue(self.blobs[PNG_ENTRY] == _read("icons", "velmora-256.png"))

    def test_bitmaps_show_blue_notes_on_transparency(self):
        for index, ((size, bits), blob) in enumerate(zip(ICON_IMAGES, self.blobs)):
            if index == PNG_ENTRY:
                continue
            with self.subTest(entry=index + 1):
                image = decode_bitmap(blob)
                self.assertEqual((image.header_size, image.width, image.height, image.planes,
                                  image.bits, image.compression), (40, size, size, 1, bits, 0))
                self.assertEqual(image.encoded_size, len(blob))
                cells = [(p, h) for row, mask in zip(image.pixels, image.hidden)
                         for p, h in zip(row, mask)]
                shown = [p for p, h in cells if not h]
                corners = [image.hidden[y][x] for y in (0, size - 1) for x in (0, size - 1)]
                self.assertEqual(corners, [True] * 4, "corners must be transparent")
                self.assertTrue(0.15 < len(shown) / size ** 2 < 0.7)
                self.assertGreater(len(set(shown)), 6, "no shading left")
                red, green, blue = (sum(p[i] for p in shown) / len(shown) for i in range(3))
                self.assertGreater(blue, max(red, green) + 40, "the notes are not blue")
                if bits == 32:
                    wrong = sum(h != (p[3] < MASK_ALPHA_THRESHOLD) for p, h in cells)
                    self.assertEqual(wrong, 0, "mask disagrees with alpha")
                    self.assertTrue(any(0 < p[3] < 255 for p, _ in cells), "hard edges")
                else:
                    # Under the mask the colour must XOR nothing onto the screen.
                    self.assertEqual({p[:3] for p, h in cells if h}, {(0, 0, 0)})


class BannerFileTest(unittest.TestCase):
    def test_baseline_jfif_at_96_dpi(self):
        data = _read("banner.jpg")
        segments = jpeg_segments(data)
        self.assertEqual(segments[0][0], 0xE0)
        self.assertEqual(struct.unpack_from(">5sBBBHH", segments[0][1]),
                         (b"JFIF\0", 1, 1, 1, 96, 96))
        frames = [(marker, payload) for marker, payload in segments if marker in FRAME_MARKERS]
        self.assertEqual([marker for marker, _ in frames], [SOF_BASELINE])
        self.assertEqual(struct.unpack_from(">BHHB", frames[0][1]),
                         (8, BANNER_SIZE[1], BANNER_SIZE[0], 3))
        self.assertEqual(data[-2:], b"\xff\xd9")
        self.assertLessEqual(len(data), BANNER_SIZE_LIMIT_BYTES)

    def test_credit_is_readable_where_the_about_box_cuts_it(self):
        with Image.open(os.path.join(ASSETS, "banner.jpg")) as image:
            grey = image.convert("L")
        dark_columns = {x for x in range(BANNER_SIZE[0]) for y in range(BANNER_ROWS_IN_ABOUT_BOX)
                        if grey.getpixel((x, y)) < 128}
        self.assertGreater(len(dark_columns), 80, "too little text in the visible rows")


if __name__ == "__main__":
    unittest.main()
