#!/usr/bin/env python3
"""Writes the program's icon group for the Windows resources from the PNG pictures the Linux
tray uses (res/icons/quavix-<size>.png): five images, 256, 64, 48, 32 and 16 pixels square,
each a 32-bit-per-pixel DIB with alpha. Needs ImageMagick's convert to read the PNGs.
    python3 cmake/make-icon.py res/icons res/QuavixServer.ico
"""
import os
import struct
import subprocess
import sys

SIZES = (256, 64, 48, 32, 16)


def rgba(path, size):
    data = subprocess.run(["convert", path, "-resize", "%dx%d!" % (size, size), "-depth", "8",
                           "RGBA:-"], check=True, capture_output=True).stdout
    if len(data) != size * size * 4:
        raise SystemExit("%s: unexpected size" % path)
    return data


def dib(size, pixels):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = bytearray()
    stride = size * 4
    for y in reversed(range(size)):  # bottom-up
        row = pixels[y * stride:(y + 1) * stride]
        for x in range(size):
            r, g, b, a = row[x * 4:x * 4 + 4]
            rows += bytes((b, g, r, a))
    mask = bytes(((size + 31) // 32) * 4 * size)  # alpha carries the shape
    return header + bytes(rows) + mask


def main(source, target):
    images = [dib(s, rgba(os.path.join(source, "quavix-%d.png" % s), s)) for s in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(SIZES)))
    offset = 6 + 16 * len(SIZES)
    for size, data in zip(SIZES, images):
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
