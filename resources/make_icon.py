#!/usr/bin/env python3
"""Writes the program's .ico from the text picture in icon.txt.

Usage: make_icon.py PICTURE OUTPUT

The picture is 32 lines of 32 characters; lines starting with '#' are
notes. The result holds one 32x32 image at 4 bits a pixel, the format every
Windows version since NT 3.51 shows without scaling.
"""
import struct
import sys

SIZE = 32

# The standard 16-colour palette, in its usual order, and the letter that
# stands for each colour in the picture.
PALETTE = [
    ("k", (0x00, 0x00, 0x00)),  # black
    ("r", (0x80, 0x00, 0x00)),  # dark red
    ("g", (0x00, 0x80, 0x00)),  # dark green
    ("o", (0x80, 0x80, 0x00)),  # olive
    ("n", (0x00, 0x00, 0x80)),  # navy
    ("p", (0x80, 0x00, 0x80)),  # purple
    ("t", (0x00, 0x80, 0x80)),  # teal
    ("s", (0xC0, 0xC0, 0xC0)),  # silver
    ("d", (0x80, 0x80, 0x80)),  # dark grey
    ("R", (0xFF, 0x00, 0x00)),  # red
    ("G", (0x00, 0xFF, 0x00)),  # green
    ("Y", (0xFF, 0xFF, 0x00)),  # yellow
    ("B", (0x00, 0x00, 0xFF)),  # blue
    ("M", (0xFF, 0x00, 0xFF)),  # magenta
    ("C", (0x00, 0xFF, 0xFF)),  # cyan
    ("W", (0xFF, 0xFF, 0xFF)),  # white
]
TRANSPARENT = "."
INDEX = {letter: i for i, (letter, _) in enumerate(PALETTE)}


def read_picture(path):
    rows = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("#"):
                continue
            if len(line) != SIZE:
                sys.exit(f"{path}:{number}: {len(line)} pixels, want {SIZE}")
            for c in line:
                if c != TRANSPARENT and c not in INDEX:
                    sys.exit(f"{path}:{number}: unknown colour {c!r}")
            rows.append(line)
    if len(rows) != SIZE:
        sys.exit(f"{path}: {len(rows)} rows, want {SIZE}")
    return rows


def icon_image(rows):
    """The image as an icon resource holds it: a bitmap header with double
    height, the palette, the colour pixels and the transparency mask, both
    bottom row first."""
    colour_row_bytes = SIZE // 2
    mask_row_bytes = ((SIZE + 31) // 32) * 4
    header = struct.pack(
        "<IiiHHIIiiII",
        40,                 # header size
        SIZE, SIZE * 2,     # width; height of the colour and mask halves
        1, 4,               # planes, bits a pixel
        0,                  # no compression
        SIZE * (colour_row_bytes + mask_row_bytes),
        0, 0,               # resolution
        16, 0)              # colours used, colours important
    palette = b"".join(bytes((b, g, r, 0)) for _, (r, g, b) in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for x in range(0, SIZE, 2):
            hi = INDEX.get(row[x], 0)
            lo = INDEX.get(row[x + 1], 0)
            colours.append(hi << 4 | lo)
        bits = 0
        for c in row:
            bits = bits << 1 | (c == TRANSPARENT)
        mask += bits.to_bytes(SIZE // 8, "big").ljust(mask_row_bytes, b"\0")
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(image):
    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, one image
    entry = struct.pack(
        "<BBBBHHII",
        SIZE, SIZE, 16, 0,  # width, height, colours, reserved
        1, 4,               # planes, bits a pixel
        len(image), len(directory) + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], "wb") as f:
        f.write(icon_file(icon_image(read_picture(sys.argv[1]))))


if __name__ == "__main__":
    main()
