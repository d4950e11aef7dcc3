"""Draws the maker's one-line credit banner shown at the foot of both windows.

The about window shows the banner through a sunken box that cuts off its bottom rows, so
the mark and the words sit in the top 14 rows and only the accent line runs below them.
"""

from PIL import Image, ImageDraw, ImageFont

BANNER_SIZE = (306, 20)
BACKGROUND = (255, 255, 255)
MAKER_COLOUR = (14, 52, 140)
ADDRESS_COLOUR = (92, 98, 112)
ACCENT_LEFT = (22, 96, 214)
ACCENT_RIGHT = (255, 255, 255)

FONT_DIRECTORY = "/usr/share/fonts/truetype/dejavu/"
MAKER_FONT = ("DejaVuSans-Bold.ttf", 12)
ADDRESS_FONT = ("DejaVuSans.ttf", 11)

MAKER = "Telvaro"
ADDRESS = "www.telvaro.example"
SEPARATOR = "\u00b7"

MARK_SIZE = 14
MARK_LEFT = 4
TEXT_BASELINE = 12
ACCENT_TOP = 17
ACCENT_HEIGHT = 2


def _font(choice):
    name, size = choice
    return ImageFont.truetype(FONT_DIRECTORY + name, size)


def _accent_line(draw):
    width = BANNER_SIZE[0]
    for x in range(width):
        t = x / (width - 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(ACCENT_LEFT, ACCENT_RIGHT))
        draw.line([(x, ACCENT_TOP), (x, ACCENT_TOP + ACCENT_HEIGHT - 1)], fill=colour)


def banner_image(mark):
    """The banner as RGB; `mark` is the notes picture at MARK_SIZE pixels, RGBA."""
    image = Image.new("RGB", BANNER_SIZE, BACKGROUND)
    image.paste(mark, (MARK_LEFT, 0), mark)
    draw = ImageDraw.Draw(image)
    maker_font, address_font = _font(MAKER_FONT), _font(ADDRESS_FONT)
    x = MARK_LEFT + MARK_SIZE + 5
    draw.text((x, TEXT_BASELINE), MAKER, font=maker_font, fill=MAKER_COLOUR, anchor="ls")
    x += draw.textlength(MAKER, font=maker_font) + 6
    draw.text((x, TEXT_BASELINE), SEPARATOR, font=address_font, fill=ADDRESS_COLOUR,
              anchor="ls")
    x += draw.textlength(SEPARATOR, font=address_font) + 6
    draw.text((x, TEXT_BASELINE), ADDRESS, font=address_font, fill=ADDRESS_COLOUR, anchor="ls")
    _accent_line(draw)
    return image
