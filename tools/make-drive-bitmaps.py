#!/usr/bin/env python3
"""Writes the five drive pictures of the drive selector as 16 x 11 pixel,
4 bits per pixel Windows bitmaps (BMP, 16-colour palette) into
resources/data/: FLOPPY, HARD, NETWORK, CDROM and RAM (no file extension,
the resource name is the file name).

Every picture is a grey drive symbol on pure blue (0, 0, 255). The selector
draws every pixel that has the colour of the bottom-left pixel in the entry's
background colour, so the bottom-left pixel must stay blue.

Usage: tools/make-drive-bitmaps.py [output folder]
"""

import os
import struct
import sys

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Picture characters -> palette index.
INK = {
    ".": 12,  # pure blue: drawn transparent
    "k": 0,   # black
    "g": 8,   # dark grey
    "s": 7,   # light grey
    "w": 15,  # white
    "L": 10,  # light green (activity light)
}

PICTURES = {
    # Drive face with a dark slot.
    "FLOPPY": [
        "................",
        "................",
        "wwwwwwwwwwwwwwwk",
        "wsssssssssssssgk",
        "wsskkkkkkkkkssgk",
        "wsssssssssssssgk",
        "wsssssssssssssgk",
        "wggggggggggggggk",
        "kkkkkkkkkkkkkkkk",
        "................",
        "................",
    ],
    # Drive face with a thin slot and a light.
    "HARD": [
        "................",
        "................",
        "wwwwwwwwwwwwwwwk",
        "wsssssssssssssgk",
        "wsgggggggggsssgk",
        "wsssssssssssssgk",
        "wssssssssssLLsgk",
        "wggggggggggggggk",
        "kkkkkkkkkkkkkkkk",
        "................",
        "................",
    ],
    # Drive face with a connector below it.
    "NETWORK": [
        "................",
        "wwwwwwwwwwwwwwwk",
        "wsssssssssssssgk",
        "wsgggggggggsssgk",
        "wssssssssssLLsgk",
        "wggggggggggggggk",
        "kkkkkkkkkkkkkkkk",
        ".......kk.......",
        ".......kk.......",
        "..kkkkkkkkkkkk..",
        "................",
    ],
    # Drive face with its tray open.
    "CDROM": [
        "................",
        "wwwwwwwwwwwwwwwk",
        "wsssssssssssssgk",
        "wsssssssssssssgk",
        "wssssssssssLLsgk",
        "wggggggggggggggk",
        "kkkkkkkkkkkkkkkk",
        "..wsssssssssgk..",
        "..wggggggggggk..",
        "..kkkkkkkkkkkk..",
        "................",
    ],
    # A row of dark chips on a grey strip.
    "RAM": [
        "................",
        "................",
        ".kkk.kkk.kkk.kk.",
        ".kkk.kkk.kkk.kk.",
        ".kkk.kkk.kkk.kk.",
        "wsssssssssssssgk",
        "wsgsgsgsgsgsgsgk",
        "wggggggggggggggk",
        "kkkkkkkkkkkkkkkk",
        "................",
        "................",
    ],
}

WIDTH = 16
HEIGHT = 11


def bitmap(rows):
    assert len(rows) == HEIGHT, "picture must be 11 rows high"
    for row in rows:
        assert len(row) == WIDTH, "picture rows must be 16 pixels wide"
    assert rows[-1][0] == ".", "the bottom-left pixel must be the blue background"

    row_bytes = ((WIDTH * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for x in range(0, WIDTH, 2):
            line.append((INK[row[x]] << 4) | INK[row[x + 1]])
        line.extend(b"\0" * (row_bytes - len(line)))
        pixels.extend(line)

    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "data")
    os.makedirs(out, exist_ok=True)
    for name, rows in PICTURES.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(bitmap(rows))


if __name__ == "__main__":
    main()
