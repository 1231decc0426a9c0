#!/usr/bin/env python3
"""Draws Veltrane's program icon and writes veltrane.ico (32, 48 and 128 px, 32-bit with alpha).

The picture: a rounded blue tile with two white end points (the two hosts) joined by a
white trace that wobbles in the middle (the jitter the program measures). Standard
library only; run it again after changing the drawing and commit the .ico.
"""

import math
import struct
import sys
from pathlib import Path

SIZES = (32, 48, 128)
SUPERSAMPLE = 4


def inside_rounded_square(x, y, radius):
    """x, y in 0..1; a square with corners rounded by `radius`."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2


def trace_y(x):
    """The trace: flat at both ends, a damped wobble between them (x, y in 0..1)."""
    if x < 0.28 or x > 0.72:
        return 0.5
    t = (x - 0.28) / 0.44
    return 0.5 - 0.22 * math.sin(t * 3 * math.pi) * math.sin(t * math.pi)


def distance_to_trace(x, y):
    best = 1.0
    steps = 200
    prev = (0.16, trace_y(0.16))
    for i in range(1, steps + 1):
        px = 0.16 + 0.68 * i / steps
        cur = (px, trace_y(px))
        best = min(best, segment_distance(x, y, prev, cur))
        prev = cur
    return best


def segment_distance(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def sample(x, y):
    """Colour (r, g, b, a) of one sub-pixel, x and y in 0..1 from the top left."""
    if not inside_rounded_square(x, y, 0.2):
        return (0, 0, 0, 0)
    # Background: blue, lighter at the top.
    r, g, b = int(20 + 30 * (1 - y)), int(90 + 60 * (1 - y)), int(170 + 60 * (1 - y))
    white = (255, 255, 255, 255)
    for cx in (0.16, 0.84):
        if math.hypot(x - cx, y - 0.5) <= 0.085:
            return white
    if distance_to_trace(x, y) <= 0.045:
        return white
    return (r, g, b, 255)


def render(size):
    """Returns rows of (b, g, r, a) pixels, top row first, averaged over SUPERSAMPLE^2 samples."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += c[0] * c[3]
                    acc[1] += c[1] * c[3]
                    acc[2] += c[2] * c[3]
                    acc[3] += c[3]
            a = acc[3] / (n * n)
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                # Straight (not premultiplied) alpha, as icons expect.
                row.append((round(acc[2] / acc[3]), round(acc[1] / acc[3]), round(acc[0] / acc[3]), round(a)))
        rows.append(row)
    return rows


def dib_image(size, rows):
    """A 32-bit icon image: BITMAPINFOHEADER (double height), bottom-up pixels, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("veltrane.ico")
    images = [dib_image(s, render(s)) for s in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        dim = size if size < 256 else 0
        data += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b"".join(images)
    out.write_bytes(data)
    print(out)


if __name__ == "__main__":
    main()
