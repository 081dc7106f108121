#!/usr/bin/env python3
"""Draws Tarquell.ico: a stylus alignment target, 32x32 and 16x16, 16 colours.

Run from anywhere; writes the icon beside this script. Standard library only.
"""
import os
import struct

# The 16-colour VGA palette, as Windows lays it out (B, G, R, 0).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, GREY, RED, WHITE = 0, 4, 8, 9, 15
CLEAR = None


def draw(size):
    """Rows of palette indices, top row first; CLEAR is transparent."""
    c = (size - 1) / 2.0
    outer = size / 2.0 - 0.5
    ring = outer - max(1.0, size / 16.0)
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            if d > outer:
                row.append(CLEAR)
            elif d > ring:
                row.append(NAVY)
            elif d <= max(1.0, size / 12.0):
                row.append(RED)
            elif abs(x - c) < 1 or abs(y - c) < 1:
                row.append(BLACK)
            elif abs(d - ring / 2.0) < 0.75:
                row.append(GREY)
            else:
                row.append(WHITE)
        pixels.append(row)
    return pixels


def bmp(pixels):
    """A 4-bit icon image: header, palette, colour bits and mask, bottom-up."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, p in enumerate(row):
            index = BLACK if p is CLEAR else p
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if p is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
        data += image
    return out + data


def main():
    images = [(s, bmp(draw(s))) for s in (32, 16)]
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Tarquell.ico")
    with open(path, "wb") as f:
        f.write(ico(images))


if __name__ == "__main__":
    main()
