#!/usr/bin/env python3
"""Draws the three icons of QZFlash.exe and writes them as 16-colour icon
files into flash/app/windows/icons/ (16-colour icons show on every Windows
the program runs on):

    card.ico   class icon (32 x 32 and 16 x 16): a graphics card with a bolt
    small.ico  small class icon (16 x 16), the same picture
    chip.ico   About box icon (32 x 32): a flash chip with a bolt

    python3 flash/app/windows/make_icons.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "icons")

# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, DARK_YELLOW, GREY, DARK_GREY, GREEN, YELLOW, WHITE = 0, 2, 3, 7, 8, 10, 11, 15
CLEAR = None

# The bolt, in the 32-unit drawing space shared by every size.
BOLT = [(21, 1), (12, 17), (18, 17), (11, 31), (28, 12), (21, 12), (27, 1)]


def inside_polygon(x, y, points):
    """Even-odd rule for the point (x, y)."""
    inside = False
    n = len(points)
    for i in range(n):
        (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            cross = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cross:
                inside = not inside
    return inside


def in_box(x, y, left, top, right, bottom):
    return left <= x < right and top <= y < bottom


def card_picture(x, y):
    """Colour index at (x, y) of the 32-unit space, or CLEAR."""
    if inside_polygon(x, y, BOLT):
        return YELLOW
    if in_box(x, y, 1, 7, 31, 25):
        if in_box(x, y, 4, 10, 14, 20):
            return BLACK if in_box(x, y, 5, 11, 13, 19) else GREY
        if in_box(x, y, 1, 7, 31, 8) or in_box(x, y, 1, 24, 31, 25):
            return GREEN
        return DARK_GREEN
    # Edge connector: gold fingers below the board.
    if in_box(x, y, 5, 25, 25, 29) and int(x) % 3 != 1:
        return DARK_YELLOW
    return CLEAR


def chip_picture(x, y):
    if inside_polygon(x, y, BOLT):
        return YELLOW
    if in_box(x, y, 6, 6, 26, 26):
        return DARK_GREY if in_box(x, y, 8, 8, 11, 11) else BLACK
    # Pins on all four sides.
    if (in_box(x, y, 2, 8, 6, 24) or in_box(x, y, 26, 8, 30, 24)) and int(y) % 4 < 2:
        return GREY
    if (in_box(x, y, 8, 2, 24, 6) or in_box(x, y, 8, 26, 24, 30)) and int(x) % 4 < 2:
        return GREY
    return CLEAR


def outlined(picture):
    """The picture with a black rim around the bolt, so it reads on any board."""
    def draw(x, y):
        colour = picture(x, y)
        if colour is CLEAR or colour == YELLOW:
            return colour
        for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1)):
            if inside_polygon(x + dx, y + dy, BOLT):
                return BLACK
        return colour
    return draw


def render(picture, size):
    """Rows of colour indexes (or CLEAR), top row first."""
    scale = 32.0 / size
    return [[picture((column + 0.5) * scale, (row + 0.5) * scale) for column in range(size)]
            for row in range(size)]


def icon_image(pixels):
    """One 4-bit icon image: header, palette, colour bits, mask bits."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):   # bottom-up
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            value = 0 if index is CLEAR else index
            line[x // 2] |= value << (4 if x % 2 == 0 else 0)
            if index is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    return header + palette + bytes(colour) + bytes(mask)


def write_icon(name, images):
    data = b""
    entries = b""
    offset = 6 + 16 * len(images)
    for pixels in images:
        image = icon_image(pixels)
        size = len(pixels)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
        data += image
    with open(os.path.join(OUT, name), "wb") as out:
        out.write(struct.pack("<HHH", 0, 1, len(images)) + entries + data)


def main():
    os.makedirs(OUT, exist_ok=True)
    card = outlined(card_picture)
    chip = outlined(chip_picture)
    write_icon("card.ico", [render(card, 32), render(card, 16)])
    write_icon("small.ico", [render(card, 16)])
    write_icon("chip.ico", [render(chip, 32)])


if __name__ == "__main__":
    main()
