"""Writes Windows .ico files image by image.

Pillow can write an .ico, but not one that mixes palette bitmaps with a PNG entry, so the
container is assembled here: an ICONDIR, one ICONDIRENTRY per image, then the images.
A bitmap image is a BITMAPINFOHEADER whose height counts the colour rows and the mask rows
together, the palette (for 4 and 8 bits), the colour rows bottom-up and the 1-bit AND mask;
every row is padded to a multiple of four bytes.
"""

import io
import struct

from PIL import Image

# Pixels at least this opaque are drawn by the 1-bit mask; the rest show the screen.
MASK_ALPHA_THRESHOLD = 128

BITMAPINFOHEADER_SIZE = 40
ICONDIR_SIZE = 6
ICONDIRENTRY_SIZE = 16
ICON_RESOURCE_TYPE = 1
LARGEST_ICON_SIZE = 256


def _row_stride(width, bits_per_pixel):
    return (width * bits_per_pixel + 31) // 32 * 4


def _and_mask(rgba):
    """Bottom-up AND mask: bit 1 where the pixel is transparent."""
    width, height = rgba.size
    alpha = rgba.getchannel("A").load()
    stride = _row_stride(width, 1)
    rows = []
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if alpha[x, y] < MASK_ALPHA_THRESHOLD:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return b"".join(rows)


def _opaque_colours(rgba):
    """The colours of the pixels the mask draws, as a one-row RGB image for quantising."""
    pixels = [(r, g, b) for r, g, b, a in rgba.getdata() if a >= MASK_ALPHA_THRESHOLD]
    strip = Image.new("RGB", (max(1, len(pixels)), 1))
    if pixels:
        strip.putdata(pixels)
    return strip


def _palette_indices(rgba, colours):
    """Maps the image onto an adaptive palette of `colours` entries.

    Entry 0 is reserved for black: transparent pixels take it, so that the colour bits
    XOR nothing onto the screen where the AND mask lets it through.
    """
    adaptive = colours - 1
    palette_image = _opaque_colours(rgba).quantize(
        colors=adaptive, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    mapped = rgba.convert("RGB").quantize(palette=palette_image, dither=Image.Dither.NONE)
    used = palette_image.getpalette()[: adaptive * 3]
    palette = [(0, 0, 0)] + [tuple(used[i:i + 3]) for i in range(0, len(used), 3)]
    palette += [(0, 0, 0)] * (colours - len(palette))
    alpha = rgba.getchannel("A").load()
    index = mapped.load()
    width, height = rgba.size
    indices = [[0 if alpha[x, y] < MASK_ALPHA_THRESHOLD else index[x, y] + 1
                for x in range(width)] for y in range(height)]
    return palette, indices


def _pack_indices(row, bits_per_pixel, stride):
    packed = bytearray(stride)
    if bits_per_pixel == 8:
        packed[: len(row)] = bytes(row)
    else:
        for x, value in enumerate(row):
            packed[x // 2] |= value << (4 if x % 2 == 0 else 0)
    return bytes(packed)


def _bitmap_header(width, height, bits_per_pixel, image_size):
    return struct.pack("<IiiHHIIiiII", BITMAPINFOHEADER_SIZE, width, height * 2, 1,
                       bits_per_pixel, 0, image_size, 0, 0, 0, 0)


def palette_bitmap(rgba, bits_per_pixel):
    """A 4- or 8-bit bitmap image with its palette and mask."""
    width, height = rgba.size
    palette, indices = _palette_indices(rgba, 1 << bits_per_pixel)
    stride = _row_stride(width, bits_per_pixel)
    colour_rows = b"".join(_pack_indices(row, bits_per_pixel, stride)
                           for row in reversed(indices))
    mask = _and_mask(rgba)
    palette_bytes = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    header = _bitmap_header(width, height, bits_per_pixel, len(colour_rows) + len(mask))
    return header + palette_bytes + colour_rows + mask


def truecolour_bitmap(rgba):
    """A 32-bit BGRA bitmap image; the mask is kept for systems that ignore alpha."""
    width, height = rgba.size
    pixels = rgba.load()
    colour_rows = bytearray()
    for y in reversed(range(height)):
        for x in range(width):
            red, green, blue, alpha = pixels[x, y]
            colour_rows += bytes((blue, green, red, alpha))
    mask = _and_mask(rgba)
    header = _bitmap_header(width, height, 32, len(colour_rows) + len(mask))
    return header + colour_rows + mask


def png_image(rgba):
    out = io.BytesIO()
    rgba.save(out, format="PNG", optimize=True)
    return out.getvalue()


class IconImage:
    """One encoded image and the directory fields that describe it."""

    def __init__(self, size, bits_per_pixel, data):
        self.size = size
        self.bits_per_pixel = bits_per_pixel
        self.data = data

    def directory_entry(self, offset):
        dimension = 0 if self.size == LARGEST_ICON_SIZE else self.size
        colour_count = 1 << self.bits_per_pixel if self.bits_per_pixel < 8 else 0
        return struct.pack("<BBBBHHII", dimension, dimension, colour_count, 0, 1,
                           self.bits_per_pixel, len(self.data), offset)


def ico_bytes(images):
    """The .ico file holding `images` (IconImage) in the given order."""
    header = struct.pack("<HHH", 0, ICON_RESOURCE_TYPE, len(images))
    offset = ICONDIR_SIZE + ICONDIRENTRY_SIZE * len(images)
    entries = []
    for image in images:
        entries.append(image.directory_entry(offset))
        offset += len(image.data)
    return header + b"".join(entries) + b"".join(image.data for image in images)
