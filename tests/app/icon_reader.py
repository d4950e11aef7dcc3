"""Reads .ico files independently of the code that writes them."""

import struct
from dataclasses import dataclass

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


@dataclass
class DirectoryEntry:
    width: int
    height: int
    colour_count: int
    reserved: int
    planes: int
    bits_per_pixel: int
    size: int
    offset: int
    raw: bytes


@dataclass
class Bitmap:
    """A decoded bitmap image: rows top-down of (r, g, b, alpha or None), and the mask."""
    width: int
    height: int
    bits_per_pixel: int
    header_size: int
    planes: int
    compression: int
    palette: list
    pixels: list
    indices: list
    transparent: list
    encoded_size: int


def _stride(width, bits_per_pixel):
    return (width * bits_per_pixel + 31) // 32 * 4


def read_directory(data):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    entries = []
    for i in range(count):
        raw = data[6 + 16 * i: 22 + 16 * i]
        entries.append(DirectoryEntry(*struct.unpack("<BBBBHHII", raw), raw=raw))
    return reserved, kind, entries


def image_bytes(data, entry):
    return data[entry.offset: entry.offset + entry.size]


def decode_bitmap(blob):
    (header_size, width, double_height, planes, bits, compression) = struct.unpack_from(
        "<IiiHHI", blob, 0)
    height = double_height // 2
    position = header_size
    palette = []
    if bits <= 8:
        for i in range(1 << bits):
            blue, green, red, _ = blob[position + 4 * i: position + 4 * i + 4]
            palette.append((red, green, blue))
        position += 4 * (1 << bits)
    stride, mask_stride = _stride(width, bits), _stride(width, 1)
    colour = blob[position: position + stride * height]
    mask = blob[position + stride * height: position + (stride + mask_stride) * height]
    pixels, indices, transparent = [], [], []
    for y in range(height):
        row = colour[(height - 1 - y) * stride:(height - y) * stride]
        mask_row = mask[(height - 1 - y) * mask_stride:(height - y) * mask_stride]
        pixel_row, index_row, transparent_row = [], [], []
        for x in range(width):
            transparent_row.append(bool(mask_row[x // 8] >> (7 - x % 8) & 1))
            if bits == 32:
                blue, green, red, alpha = row[4 * x: 4 * x + 4]
                pixel_row.append((red, green, blue, alpha))
                index_row.append(None)
            else:
                if bits == 8:
                    index = row[x]
                else:
                    index = row[x // 2] >> 4 if x % 2 == 0 else row[x // 2] & 0x0F
                pixel_row.append(palette[index] + (None,))
                index_row.append(index)
        pixels.append(pixel_row)
        indices.append(index_row)
        transparent.append(transparent_row)
    encoded_size = position + (stride + mask_stride) * height
    return Bitmap(width, height, bits, header_size, planes, compression, palette, pixels,
                  indices, transparent, encoded_size)


def png_header(blob):
    """(width, height, bit depth, colour type) from a PNG's IHDR chunk."""
    if blob[:8] != PNG_SIGNATURE or blob[12:16] != b"IHDR":
        raise ValueError("not a PNG image")
    return struct.unpack(">IIBB", blob[16:26])
