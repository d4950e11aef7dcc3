"""Draws the application's picture: a glossy blue pair of beamed eighth notes.

The notes are drawn on a large canvas and scaled down, so every size is antialiased from
the same shapes; the smallest sizes get a bolder drawing of their own. Lengths are
fractions of the canvas side.
"""

import math
from dataclasses import dataclass

from PIL import Image, ImageChops, ImageDraw, ImageFilter

MASTER_SIZE = 1024


@dataclass(frozen=True)
class NoteStyle:
    """The shapes' proportions and the lighting; small icons need bolder strokes."""
    head_radii: tuple = (0.158, 0.106)
    stem_width: float = 0.07
    beam_thickness: float = 0.135
    rim_width: float = 0.022
    shadow_opacity: float = 0.30
    gloss_top_alpha: int = 215
    gloss_bottom_alpha: int = 35


# Below this size a 0.07-wide stem is a single pale pixel: draw bolder and with less shine.
BOLD_BELOW_SIZE = 28
REGULAR_STYLE = NoteStyle()
BOLD_STYLE = NoteStyle(head_radii=(0.175, 0.122), stem_width=0.115, beam_thickness=0.19,
                       rim_width=0.04, shadow_opacity=0.0, gloss_top_alpha=150,
                       gloss_bottom_alpha=20)

HEAD_TILT_DEGREES = -24
LEFT_HEAD_CENTRE = (0.285, 0.775)
RIGHT_HEAD_CENTRE = (0.715, 0.685)
BEAM_TOP_LEFT_Y = 0.145
BEAM_TOP_RIGHT_Y = 0.055
SHADOW_OFFSET = (0.012, 0.022)

RIM_COLOUR = (8, 38, 118)
BODY_TOP_COLOUR = (96, 178, 255)
BODY_BOTTOM_COLOUR = (10, 72, 196)


def _px(fraction):
    return fraction * MASTER_SIZE


def _ellipse_points(centre, radii, scale=1.0, steps=180):
    cx, cy = centre
    rx, ry = radii[0] * scale, radii[1] * scale
    tilt = math.radians(HEAD_TILT_DEGREES)
    points = []
    for i in range(steps):
        t = 2 * math.pi * i / steps
        x, y = rx * math.cos(t), ry * math.sin(t)
        points.append((_px(cx + x * math.cos(tilt) - y * math.sin(tilt)),
                       _px(cy + x * math.sin(tilt) + y * math.cos(tilt))))
    return points


class _Notes:
    """The geometry of one style: heads, stems standing at the heads' right, one beam."""

    def __init__(self, style):
        self.style = style
        tilt = math.radians(HEAD_TILT_DEGREES)
        rx, ry = style.head_radii
        # How far right of its centre the tilted head reaches: where the stem stands.
        self.head_reach = math.hypot(rx * math.cos(tilt), ry * math.sin(tilt))
        self.beam_left = self.stem_box(LEFT_HEAD_CENTRE)[0]
        self.beam_right = self.stem_box(RIGHT_HEAD_CENTRE)[1]

    def stem_box(self, head_centre):
        right = head_centre[0] + self.head_reach
        return right - self.style.stem_width, right

    def beam_y(self, x, offset=0.0):
        slope = (BEAM_TOP_RIGHT_Y - BEAM_TOP_LEFT_Y) / (self.beam_right - self.beam_left)
        return BEAM_TOP_LEFT_Y + slope * (x - self.beam_left) + offset

    def beam_polygon(self, top_offset, bottom_offset):
        return [(_px(self.beam_left), _px(self.beam_y(self.beam_left, top_offset))),
                (_px(self.beam_right), _px(self.beam_y(self.beam_right, top_offset))),
                (_px(self.beam_right), _px(self.beam_y(self.beam_right, bottom_offset))),
                (_px(self.beam_left), _px(self.beam_y(self.beam_left, bottom_offset)))]

    def silhouette(self):
        mask = Image.new("L", (MASTER_SIZE, MASTER_SIZE), 0)
        draw = ImageDraw.Draw(mask)
        for centre in (LEFT_HEAD_CENTRE, RIGHT_HEAD_CENTRE):
            draw.polygon(_ellipse_points(centre, self.style.head_radii), fill=255)
            left, right = self.stem_box(centre)
            draw.rectangle([_px(left), _px(self.beam_y(left, self.style.beam_thickness / 2)),
                            _px(right), _px(centre[1])], fill=255)
        draw.polygon(self.beam_polygon(0.0, self.style.beam_thickness), fill=255)
        return mask

    def gloss_shape(self):
        """Where the light falls: the heads' upper parts, the stems' left sides, the beam's top."""
        rim = self.style.rim_width
        mask = Image.new("L", (MASTER_SIZE, MASTER_SIZE), 0)
        draw = ImageDraw.Draw(mask)
        for cx, cy in (LEFT_HEAD_CENTRE, RIGHT_HEAD_CENTRE):
            draw.polygon(_ellipse_points((cx - 0.018, cy - 0.04), self.style.head_radii,
                                         scale=0.6), fill=255)
            left, _ = self.stem_box((cx, cy))
            draw.rectangle([_px(left + rim * 1.2), _px(self.beam_y(left)),
                            _px(left + self.style.stem_width * 0.45), _px(cy - 0.09)],
                           fill=255)
        draw.polygon(self.beam_polygon(rim * 1.2, self.style.beam_thickness * 0.45), fill=255)
        return mask.filter(ImageFilter.GaussianBlur(_px(0.006)))


def _shrink(mask, width):
    """Erodes a mask by about `width` pixels (a blur, then a high threshold)."""
    blurred = mask.filter(ImageFilter.GaussianBlur(width))
    return blurred.point(lambda v: 255 if v >= 250 else int(v * 255 / 250) if v > 200 else 0)


def _vertical_ramp(mode, top, bottom):
    column = Image.new(mode, (1, MASTER_SIZE))
    for y in range(MASTER_SIZE):
        t = y / (MASTER_SIZE - 1)
        value = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        column.putpixel((0, y), value if len(value) > 1 else value[0])
    return column.resize((MASTER_SIZE, MASTER_SIZE))


def master_image(style=REGULAR_STYLE):
    """The notes on transparency at MASTER_SIZE, as RGBA."""
    notes = _Notes(style)
    silhouette = notes.silhouette()
    canvas = Image.new("RGBA", (MASTER_SIZE, MASTER_SIZE), (0, 0, 0, 0))

    if style.shadow_opacity > 0:
        shadow_alpha = silhouette.filter(ImageFilter.GaussianBlur(_px(0.012)))
        shadow_alpha = shadow_alpha.point(lambda v: round(v * style.shadow_opacity))
        shadow = Image.new("RGBA", canvas.size, (0, 0, 40, 0))
        shadow.putalpha(shadow_alpha)
        offset = (round(_px(SHADOW_OFFSET[0])), round(_px(SHADOW_OFFSET[1])))
        canvas.alpha_composite(ImageChops.offset(shadow, *offset))

    rim = Image.new("RGBA", canvas.size, RIM_COLOUR + (0,))
    rim.putalpha(silhouette)
    canvas.alpha_composite(rim)

    body = _vertical_ramp("RGB", BODY_TOP_COLOUR, BODY_BOTTOM_COLOUR).convert("RGBA")
    body_mask = _shrink(silhouette, _px(style.rim_width))
    body.putalpha(body_mask)
    canvas.alpha_composite(body)

    gloss = Image.new("RGBA", canvas.size, (255, 255, 255, 0))
    ramp = _vertical_ramp("L", (style.gloss_top_alpha,), (style.gloss_bottom_alpha,))
    gloss.putalpha(ImageChops.multiply(ImageChops.multiply(notes.gloss_shape(), body_mask), ramp))
    canvas.alpha_composite(gloss)
    return canvas


class NoteImages:
    """The notes at any size, each scaled down from the master of its style."""

    def __init__(self):
        self._masters = {}

    def _master(self, style):
        if style not in self._masters:
            self._masters[style] = master_image(style)
        return self._masters[style]

    def at(self, size):
        style = BOLD_STYLE if size < BOLD_BELOW_SIZE else REGULAR_STYLE
        # Premultiplied, so that transparent pixels lend no colour to the edges.
        small = self._master(style).convert("RGBa").resize((size, size), Image.Resampling.LANCZOS)
        return small.convert("RGBA")
