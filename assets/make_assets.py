#!/usr/bin/python3
"""Draws and writes the program's images into this folder (or the one given).

    make_assets.py [OUTPUT_DIRECTORY]

Writes banner.jpg, velmora.ico and icons/velmora-<size>.png. The outputs are committed,
so building the program never runs this; run it after changing the artwork. Needs
Debian's python3-pil and fonts-dejavu-core.
"""

import os
import sys

# Keep the source folder free of compiled modules.
sys.dont_write_bytecode = True

from banner_artwork import MARK_SIZE, banner_image
from ico_container import IconImage, ico_bytes, palette_bitmap, png_image, truecolour_bitmap
from note_artwork import NoteImages

BITMAP_SIZES = (48, 32, 24, 16)
LARGEST_SIZE = 256
LINUX_ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

BANNER_JPEG_QUALITY = 86
BANNER_DPI = (96, 96)


def icon_images(notes):
    """The icon's images, largest first within each depth: 16-colour bitmaps, 256-colour
    bitmaps, the 256-pixel PNG, then 32-bit bitmaps with alpha."""
    by_size = {size: notes.at(size) for size in BITMAP_SIZES + (LARGEST_SIZE,)}
    images = [IconImage(size, 4, palette_bitmap(by_size[size], 4)) for size in BITMAP_SIZES]
    images += [IconImage(size, 8, palette_bitmap(by_size[size], 8)) for size in BITMAP_SIZES]
    images.append(IconImage(LARGEST_SIZE, 32, png_image(by_size[LARGEST_SIZE])))
    images += [IconImage(size, 32, truecolour_bitmap(by_size[size])) for size in BITMAP_SIZES]
    return images


def write_assets(directory):
    notes = NoteImages()
    with open(os.path.join(directory, "velmora.ico"), "wb") as ico:
        ico.write(ico_bytes(icon_images(notes)))

    icons = os.path.join(directory, "icons")
    os.makedirs(icons, exist_ok=True)
    for size in LINUX_ICON_SIZES:
        with open(os.path.join(icons, f"velmora-{size}.png"), "wb") as png:
            png.write(png_image(notes.at(size)))

    banner = banner_image(notes.at(MARK_SIZE))
    banner.save(os.path.join(directory, "banner.jpg"), format="JPEG",
                quality=BANNER_JPEG_QUALITY, subsampling=0, dpi=BANNER_DPI,
                progressive=False, optimize=False)


def main(argv):
    if len(argv) > 2:
        print(__doc__, file=sys.stderr)
        return 2
    directory = argv[1] if len(argv) == 2 else os.path.dirname(os.path.abspath(__file__))
    write_assets(directory)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
