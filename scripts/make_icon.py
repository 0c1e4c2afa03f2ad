#!/usr/bin/env python3
"""Draws the program's icon, resources/lu14.ico: 32 x 32 pixels in the 16 standard colours.

A pair of measuring tweezers with a component held between their tips.
Usage: scripts/make_icon.py [OUTPUT]   (default resources/lu14.ico)
"""
import pathlib
import struct
import sys

# The standard 16-colour palette (blue, green, red, reserved).
PALETTE = [(0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
           (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
           (255, 0, 255), (255, 255, 0), (255, 255, 255)]
BLACK, DARK_GREY, SILVER, WHITE, RED, YELLOW, BLUE = 0, 8, 7, 15, 9, 11, 12  # indexes (palette is BGR)
SIZE = 32


def draw():
    pixels = [[None] * SIZE for _ in range(SIZE)]  # None: transparent

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    # Two legs from a shared hinge at the top to tips near the bottom.
    for y in range(2, 25):
        spread = (y - 2) * 7 // 22
        for x, shade in ((15 - spread, SILVER), (16 + spread, SILVER)):
            put(x - 1, y, DARK_GREY)
            put(x, y, shade)
            put(x + 1, y, DARK_GREY)
    for x in range(13, 19):  # the hinge
        put(x, 1, DARK_GREY)
        put(x, 2, SILVER)
    # The part under test between the tips: a resistor with its colour bands.
    for y in range(25, 30):
        for x in range(8, 24):
            put(x, y, BLUE)
    for x, band in ((11, RED), (14, YELLOW), (17, BLACK), (20, WHITE)):
        for y in range(25, 30):
            put(x, y, band)
    for x in range(8, 24):
        put(x, 24, BLACK)
        put(x, 30, BLACK)
    return pixels


def ico(pixels):
    rows_xor = b""
    rows_and = b""
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = pixels[y]
        rows_xor += bytes(((row[x] or 0) << 4) | (row[x + 1] or 0) for x in range(0, SIZE, 2))
        mask = 0
        for x in range(SIZE):
            mask = (mask << 1) | (1 if row[x] is None else 0)
        rows_and += struct.pack(">I", mask)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(rows_xor) + len(rows_and), 0, 0, 16, 0)
    image = header + palette + rows_xor + rows_and
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 22)
    return directory + image


def main():
    output = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).resolve().parent.parent / "resources" / "lu14.ico")
    output.write_bytes(ico(draw()))
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
