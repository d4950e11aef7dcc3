"""Reads .ico, PNG and JPEG structure independently of the code that writes them."""

import struct
from collections import namedtuple

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
