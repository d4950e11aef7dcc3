"""The application icon (.ico and the desktop PNGs) against their formats."""

import os
import unittest

from PIL import Image

from icon_reader import decode_bitmap, image_bytes, png_header, read_directory

ASSETS = os.environ["VELMORA_ASSETS_DIR"]
MASK_ALPHA_THRESHOLD = 128
PNG_COLOUR_TYPE_RGBA = 6

# (size, bits per pixel, stored as PNG) in the order the icon must hold them.
EXPECTED_IMAGES = [
    (48, 4, False), (32, 4, False), (24, 4, False), (16, 4, False),
    (48, 8, False), (32, 8, False), (24, 8, False), (16, 8, False),
    (256, 32, True),
    (48, 32, False), (32, 32, False), (24, 32, False), (16, 32, False),
]
DESKTOP_ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def _read(path):
    with open(path, "rb") as f:
        return f.read()


def _opaque_colours(bitmap):
    return [pixel[:3] for row, mask in zip(bitmap.pixels, bitmap.transparent)
            for pixel, hidden in zip(row, mask) if not hidden]


class IcoFileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = _read(os.path.join(ASSETS, "velmora.ico"))
        cls.reserved, cls.kind, cls.entries = read_directory(cls.data)

    def test_directory_lists_thirteen_images_in_order(self):
        self.assertEqual((self.reserved, self.kind), (0, 1))
        found = [(256 if e.width == 0 else e.width, e.bits_per_pixel,
                  image_bytes(self.data, e).startswith(b"\x89PNG")) for e in self.entries]
        self.assertEqual(found, EXPECTED_IMAGES)

    def test_directory_fields(self):
        for index, entry in enumerate(self.entries):
            size, bits, _ = EXPECTED_IMAGES[index]
            with self.subTest(entry=index + 1):
                stored = 0 if size == 256 else size
                self.assertEqual((entry.width, entry.height), (stored, stored))
                self.assertEqual(entry.colour_count, 16 if bits == 4 else 0)
                self.assertEqual((entry.reserved, entry.planes), (0, 1))

    def test_images_tile_the_file_without_gaps_or_overlap(self):
        position = 6 + 16 * len(self.entries)
        for index, entry in enumerate(self.entries):
            with self.subTest(entry=index + 1):
                self.assertEqual(entry.offset, position)
                position += entry.size
        self.assertEqual(position, len(self.data))

    def test_png_entry_is_256_pixel_rgba(self):
        blob = image_bytes(self.data, self.entries[8])
        self.assertEqual(png_header(blob), (256, 256, 8, PNG_COLOUR_TYPE_RGBA))
        self.assertTrue(blob.endswith(b"IEND\xaeB`\x82"), "PNG is cut short")

    def test_bitmap_headers_and_lengths(self):
        for index, entry in enumerate(self.entries):
            size, bits, is_png = EXPECTED_IMAGES[index]
            if is_png:
                continue
            with self.subTest(entry=index + 1):
                bitmap = decode_bitmap(image_bytes(self.data, entry))
                self.assertEqual(bitmap.header_size, 40)
                self.assertEqual((bitmap.width, bitmap.height), (size, size))
                self.assertEqual((bitmap.planes, bitmap.bits_per_pixel), (1, bits))
                self.assertEqual(bitmap.compression, 0)
                self.assertEqual(bitmap.encoded_size, entry.size)

    def test_every_image_shows_blue_notes_on_transparency(self):
        for index, entry in enumerate(self.entries):
            size, bits, is_png = EXPECTED_IMAGES[index]
            if is_png:
                continue
            with self.subTest(entry=index + 1):
                bitmap = decode_bitmap(image_bytes(self.data, entry))
                mask = bitmap.transparent
                corners = [mask[0][0], mask[0][-1], mask[-1][0], mask[-1][-1]]
                self.assertEqual(corners, [True] * 4)
                coverage = sum(not hidden for row in mask for hidden in row) / size ** 2
                self.assertTrue(0.15 < coverage < 0.7, f"coverage {coverage:.2f}")
                colours = _opaque_colours(bitmap)
                red, green, blue = (sum(c[i] for c in colours) / len(colours) for i in range(3))
                self.assertGreater(blue, max(red, green) + 40, "the notes are not blue")

    def test_palette_images_use_their_colours_and_black_under_the_mask(self):
        for index, entry in enumerate(self.entries[:8]):
            with self.subTest(entry=index + 1):
                bitmap = decode_bitmap(image_bytes(self.data, entry))
                self.assertGreater(len(set(_opaque_colours(bitmap))), 6, "no shading left")
                # Transparent pixels must XOR nothing onto the screen.
                hidden = {bitmap.pixels[y][x][:3] for y in range(bitmap.height)
                          for x in range(bitmap.width) if bitmap.transparent[y][x]}
                self.assertEqual(hidden, {(0, 0, 0)})

    def test_truecolour_masks_follow_alpha_and_edges_are_soft(self):
        for index, entry in enumerate(self.entries[9:], start=9):
            with self.subTest(entry=index + 1):
                bitmap = decode_bitmap(image_bytes(self.data, entry))
                alphas = [p[3] for row in bitmap.pixels for p in row]
                masks = [hidden for row in bitmap.transparent for hidden in row]
                wrong = sum(hidden != (alpha < MASK_ALPHA_THRESHOLD)
                            for hidden, alpha in zip(masks, alphas))
                self.assertEqual(wrong, 0, "pixels whose mask disagrees with their alpha")
                self.assertTrue(any(0 < a < 255 for a in alphas), "alpha is only on/off")

    def test_all_depths_of_a_size_share_one_outline(self):
        bitmaps = [decode_bitmap(image_bytes(self.data, e)) for e in self.entries
                   if not image_bytes(self.data, e).startswith(b"\x89PNG")]
        for size in (48, 32, 24, 16):
            with self.subTest(size=size):
                masks = [b.transparent for b in bitmaps if b.width == size]
                self.assertEqual(len(masks), 3)
                self.assertTrue(masks[0] == masks[1] == masks[2])


class DesktopIconTest(unittest.TestCase):
    def test_sizes_and_transparency(self):
        for size in DESKTOP_ICON_SIZES:
            with self.subTest(size=size):
                path = os.path.join(ASSETS, "icons", f"velmora-{size}.png")
                self.assertEqual(png_header(_read(path)), (size, size, 8, PNG_COLOUR_TYPE_RGBA))
                with Image.open(path) as image:
                    alpha = image.getchannel("A")
                    self.assertEqual(alpha.getpixel((0, 0)), 0)
                    self.assertEqual(alpha.getextrema(), (0, 255))

    def test_windows_and_desktop_show_the_same_picture(self):
        data = _read(os.path.join(ASSETS, "velmora.ico"))
        _, _, entries = read_directory(data)
        self.assertTrue(image_bytes(data, entries[8]) ==
                        _read(os.path.join(ASSETS, "icons", "velmora-256.png")),
                        "the 256-pixel images differ")
        for entry in entries[9:]:
            bitmap = decode_bitmap(image_bytes(data, entry))
            with self.subTest(size=bitmap.width), \
                    Image.open(os.path.join(ASSETS, "icons",
                                            f"velmora-{bitmap.width}.png")) as image:
                bitmap_pixels = [p for row in bitmap.pixels for p in row]
                png_pixels = list(image.convert("RGBA").getdata())
                wrong = sum(a != b for a, b in zip(bitmap_pixels, png_pixels))
                self.assertEqual(wrong, 0, "pixels that differ between .ico and .png")


if __name__ == "__main__":
    unittest.main()
