#!/usr/bin/env python3
"""Writes the program's icon group (res/QuavixServer.ico): five images, 256, 64, 48, 32 and
16 pixels square, 32 bits per pixel with alpha, each stored as an uncompressed DIB.

The picture: a loudspeaker with two sound waves on a rounded blue tile, drawn with 4x4
supersampling so the small sizes stay legible. Run from the repository root:
    python3 cmake/make-icon.py res/QuavixServer.ico
"""
import math
import struct
import sys

SIZES = (256, 64, 48, 32, 16)
TILE = (0x2B, 0x6C, 0xB0)      # blue
INK = (0xFF, 0xFF, 0xFF)       # white


def inside_tile(x, y):
    # Rounded square covering the unit square with a small margin.
    m, r = 0.03, 0.18
    cx = min(max(x, m + r), 1 - m - r)
    cy = min(max(y, m + r), 1 - m - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and m <= x <= 1 - m and m <= y <= 1 - m


def inside_ink(x, y):
    # Speaker body and cone.
    if 0.18 <= x <= 0.32 and 0.38 <= y <= 0.62:
        return True
    if 0.32 <= x <= 0.50:
        half = 0.12 + (x - 0.32) / 0.18 * 0.16
        if abs(y - 0.5) <= half:
            return True
    # Two waves: arcs centred on the cone's mouth.
    dx, dy = x - 0.50, y - 0.5
    d = math.hypot(dx, dy)
    if dx > 0 and abs(math.atan2(dy, dx)) < 0.85:
        if 0.10 <= d <= 0.16 or 0.24 <= d <= 0.30:
            return True
    return False


def render(size):
    ss = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            tile = ink = 0
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) / size
                    y = (py + (sy + 0.5) / ss) / size
                    if inside_tile(x, y):
                        tile += 1
                        if inside_ink(x, y):
                            ink += 1
            n = ss * ss
            alpha = tile / n
            if tile:
                w = ink / tile
                rgb = tuple(round(TILE[i] * (1 - w) + INK[i] * w) for i in range(3))
            else:
                rgb = (0, 0, 0)
            row.append((rgb, round(alpha * 255)))
        rows.append(row)
    return rows


def dib(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for (r, g, b), a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)  # alpha carries the shape; the AND mask is all opaque
    return header + bytes(pixels) + mask


def main(path):
    images = [dib(s, render(s)) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(SIZES)))
    offset = 6 + 16 * len(SIZES)
    for size, data in zip(SIZES, images):
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/QuavixServer.ico")
