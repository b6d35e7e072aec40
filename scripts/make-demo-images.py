#!/usr/bin/env python3
"""Writes the journal's demo images (our own simple drawings) as PNG files.

Usage: make-demo-images.py TARGET_FOLDER
Only the standard library is used: each image is drawn pixel by pixel and
stored as an 8-bit RGB PNG with zlib.
"""
import os
import struct
import sys
import zlib


def png_bytes(width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type: none
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def gradient(width, height, left, right, stripe=None):
    def pixel(x, y):
        c = mix(left, right, x / max(1, width - 1))
        if stripe and (x + y) % stripe[0] < stripe[1]:
            c = mix(c, (255, 255, 255), 0.25)
        return c
    return width, height, pixel


def tile(size, base, dot, period):
    def pixel(x, y):
        return dot if (x % period == 0 or y % period == 0) else base
    return size, size, pixel


def circles(size, base, ring):
    def pixel(x, y):
        d = ((x - size / 2) ** 2 + (y - size / 2) ** 2) ** 0.5
        return ring if int(d) % 12 < 3 else base
    return size, size, pixel


def panel(width, height, fill, border):
    def pixel(x, y):
        edge = x < 3 or y < 3 or x >= width - 3 or y >= height - 3
        diag = abs(x * height - y * width) < width * 2
        return border if edge or diag else fill
    return width, height, pixel


def arrow(width, height, pointing_right, fill, back):
    def pixel(x, y):
        cx = x if pointing_right else width - 1 - x
        half = height / 2
        inside = cx >= width * 0.2 and abs(y - half) <= (width * 0.85 - cx) * half / (width * 0.65)
        return fill if inside else back
    return width, height, pixel


IMAGES = {
    "VBlogHeader.PNG": gradient(760, 90, (30, 60, 140), (120, 170, 230)),
    "VBlogLeft.PNG": panel(150, 100, (220, 232, 250), (60, 90, 160)),
    "VBlogBackGround.PNG": tile(64, (246, 252, 250), (222, 236, 232), 16),
    "VBlogHeader2.PNG": gradient(760, 90, (40, 40, 40), (150, 150, 150), stripe=(24, 6)),
    "VBlogBackground2.PNG": circles(64, (235, 235, 235), (210, 210, 210)),
    "VBlogHeader3.PNG": gradient(760, 90, (200, 60, 140), (250, 180, 40), stripe=(32, 10)),
    "VBlogBackground3.PNG": circles(64, (255, 245, 225), (250, 215, 160)),
    "VBlogLeft3.PNG": panel(150, 100, (255, 230, 200), (200, 60, 140)),
    "VBlogPrevious.PNG": arrow(48, 32, False, (60, 90, 160), (246, 252, 250)),
    "VBlogNext.PNG": arrow(48, 32, True, (60, 90, 160), (246, 252, 250)),
    "VBlogPix1.PNG": panel(120, 40, (230, 240, 255), (30, 60, 140)),
    "VBlogPix2.PNG": panel(200, 40, (230, 255, 235), (30, 120, 60)),
}


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make-demo-images.py TARGET_FOLDER\n")
        return 2
    target = sys.argv[1]
    os.makedirs(target, exist_ok=True)
    for name, (width, height, pixel) in IMAGES.items():
        with open(os.path.join(target, name), "wb") as f:
            f.write(png_bytes(width, height, pixel))
    return 0


if __name__ == "__main__":
    sys.exit(main())
