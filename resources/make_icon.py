#!/usr/bin/env python3
"""Draws the program's icon (a link that forks into two ways) and writes ostrilo.ico.

Run it again only when the design changes; the .ico is kept in the repository.
"""
import math
import struct
import sys


def draw(size):
    """Returns rows of (r, g, b, a), top row first."""
    pixels = []
    radius = size * 0.22
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            # Rounded square background, dark teal.
            dx = max(radius - cx, 0, cx - (size - radius))
            dy = max(radius - cy, 0, cy - (size - radius))
            inside = math.hypot(dx, dy) <= radius
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            color = (18, 96, 112, 255)
            # The fork: a stem from the bottom that splits into two arms.
            s = size / 32.0
            stem = abs(cx - 16 * s) <= 2.2 * s and 16 * s <= cy <= 27 * s
            left = abs((cx - 16 * s) + (cy - 16 * s)) <= 2.2 * s * 1.41 and 7 * s <= cy <= 16.5 * s
            right = abs((cx - 16 * s) - (cy - 16 * s)) <= 2.2 * s * 1.41 and 7 * s <= cy <= 16.5 * s
            if stem or right:
                color = (255, 255, 255, 255)
            if left:
                color = (255, 196, 64, 255)
            row.append(color)
        pixels.append(row)
    return pixels


def dib(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = 0
        out = bytearray(mask_row)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                out[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(out)
    return header + xor + mask


def main(path):
    sizes = [16, 32, 48]
    images = [dib(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'ostrilo.ico')
