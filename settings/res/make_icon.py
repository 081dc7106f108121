#!/usr/bin/env python3
"""Draws Velloria.ico: a handheld whose screen turns, at 32x32 in 256
colours and at 16x16 in 16 colours. Run it from this folder after changing
the drawing; the .ico it writes is kept beside it."""

import math
import struct

# The 16 colours of the small image; the large image uses them too, followed
# by a ramp of greys to fill its 256-entry palette.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
PALETTE256 = PALETTE16 + [(i, i, i) for i in range(0, 240)]

BLACK, GREY, SILVER, TEAL, CYAN, YELLOW, WHITE, NAVY = 0, 8, 7, 6, 14, 11, 15, 4


def draw(size):
    """Returns rows (top first) of palette indexes, None where transparent."""
    s = size / 32.0
    pixels = [[None] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                pixels[y][x] = colour

    # The device: a dark body with a lighter rim and a screen.
    rect(6, 1, 26, 31, BLACK)
    rect(7, 2, 25, 30, GREY)
    rect(9, 4, 23, 24, NAVY)
    rect(10, 5, 22, 23, TEAL)
    rect(14, 26, 18, 28, SILVER)

    # A turning arrow across the screen: three quarters of a circle with a
    # head at its end.
    cx, cy, r = 16 * s, 14 * s, 5.2 * s
    for y in range(size):
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            d = math.hypot(px - cx, py - cy)
            angle = math.degrees(math.atan2(cy - py, px - cx)) % 360
            if abs(d - r) <= max(0.9, 1.1 * s) and not 0 < angle < 90:
                pixels[y][x] = YELLOW
    hx, hy = cx + r, cy
    for y in range(size):
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            # Head pointing down, opened at the top.
            if py >= hy - 2.6 * s and py <= hy + 2.2 * s and \
               abs(px - hx) <= (hy + 2.2 * s - py) * 0.8:
                pixels[y][x] = YELLOW
    return pixels


def image(size, bits):
    pixels = draw(size)
    palette = PALETTE256 if bits == 8 else PALETTE16
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)

    xor = b''
    for row in reversed(pixels):
        indexes = [0 if p is None else p for p in row]
        if bits == 8:
            line = bytes(indexes)
        else:
            line = bytes((indexes[i] << 4) | indexes[i + 1] for i in range(0, size, 2))
        xor += line + b'\0' * (-len(line) % 4)

    mask = b''
    for row in reversed(pixels):
        line = bytearray((size + 7) // 8)
        for x, p in enumerate(row):
            if p is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line) + b'\0' * (-len(line) % 4)
    return header + pal + xor + mask


def main():
    images = [(32, 8, image(32, 8)), (16, 4, image(16, 4))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colours = 0 if bits == 8 else 1 << bits
        out += struct.pack('<BBBBHHII', size, size, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    with open('Velloria.ico', 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
