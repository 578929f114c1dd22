#!/usr/bin/env python3
"""Draws the four brand bitmaps of the logo strip into resources/ as 24-bit BMP files.

    scripts/make_logos.py [OUTPUT_DIR]

Standard library only. The build does not run this; the bitmaps it writes are committed.
Each logo is a plain wordmark in a small blocky pixel font with one simple emblem, drawn on the
background colour of the strip it sits on (blue 0x0080FF or white).
"""
import os
import struct
import sys

# A 5-wide pixel font. Capitals are 7 rows; lower case has 2 extra rows for descenders.
GLYPHS = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "C": ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "V": ["10001", "10001", "10001", "10001", "01010", "01010", "00100"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111", "00000", "00000"],
    "d": ["00001", "00001", "01111", "10001", "10001", "10001", "01111", "00000", "00000"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110", "00000", "00000"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110", "00000", "00000"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001", "00000", "00000"],
    "q": ["00000", "00000", "01111", "10001", "10001", "10001", "01111", "00001", "00001"],
    "r": ["00000", "00000", "10110", "11001", "10000", "10000", "10000", "00000", "00000"],
    "u": ["00000", "00000", "10001", "10001", "10001", "10011", "01101", "00000", "00000"],
}

BLUE = (0x00, 0x80, 0xFF)
WHITE = (0xFF, 0xFF, 0xFF)


class Canvas:
    def __init__(self, width, height, background):
        self.width = width
        self.height = height
        self.pixels = [[background] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x, y, w, h, colour):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.put(xx, yy, colour)

    def text(self, x, y, text, scale, colour, spacing=1):
        """Draws text with its top-left corner at (x, y); returns the x after the last glyph."""
        for ch in text:
            glyph = GLYPHS[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        self.rect(x + col * scale, y + row * scale, scale, scale, colour)
            x += (5 + spacing) * scale
        return x

    def save_bmp(self, path):
        row_size = (self.width * 3 + 3) & ~3
        image_size = row_size * self.height
        header = struct.pack("<2sIHHI", b"BM", 54 + image_size, 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, image_size,
                           2835, 2835, 0, 0)
        data = bytearray()
        for y in range(self.height - 1, -1, -1):  # bottom row first
            for r, g, b in self.pixels[y]:
                data += bytes((b, g, r))
            data += b"\0" * (row_size - self.width * 3)
        with open(path, "wb") as f:
            f.write(header + info + data)


def text_width(text, scale, spacing=1):
    return len(text) * (5 + spacing) * scale - spacing * scale


def arvensa():
    # 150 x 22 on the blue strip: a white peak mark, then the name in white capitals.
    c = Canvas(150, 22, BLUE)
    # The peak: two strokes meeting at the top, 18 px tall, with a short cross bar.
    x0 = (150 - (27 + 10 + text_width("ARVENSA", 2, 2))) // 2
    for i in range(18):
        c.rect(x0 + i // 2, 19 - i, 3, 1, WHITE)
        c.rect(x0 + 17 - i // 2, 19 - i, 3, 1, WHITE)
    c.rect(x0 + 5, 13, 10, 2, WHITE)
    c.text(x0 + 37, 4, "ARVENSA", 2, WHITE, spacing=2)
    return c


def quandrel():
    # 180 x 48 on white: the name in lower case, dark slate, over a teal rule.
    slate = (0x30, 0x3A, 0x48)
    teal = (0x00, 0x96, 0x88)
    c = Canvas(180, 48, WHITE)
    width = text_width("quandrel", 3)
    x0 = (180 - width) // 2
    c.text(x0, 4, "quandrel", 3, slate)
    c.rect(x0, 38, width, 4, teal)
    c.rect(x0 + width - 10, 38, 10, 4, slate)
    return c


def merantic():
    # 200 x 48 on the blue strip: an orange square mark with a white notch, the name in white.
    orange = (0xFF, 0x8C, 0x1A)
    c = Canvas(200, 48, BLUE)
    c.rect(6, 9, 30, 30, orange)
    c.rect(16, 9, 10, 14, BLUE)
    c.rect(6, 35, 30, 4, WHITE)
    c.text(46, 13, "MERANTIC", 3, WHITE)
    return c


def torvel():
    # 180 x 48 on white: the name in dark red capitals between two navy rules.
    red = (0xA0, 0x10, 0x20)
    navy = (0x1A, 0x23, 0x5C)
    c = Canvas(180, 48, WHITE)
    width = text_width("TORVEL", 4)
    x0 = (180 - width) // 2
    c.rect(x0, 3, width, 3, navy)
    c.text(x0, 10, "TORVEL", 4, red)
    c.rect(x0, 42, width, 3, navy)
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.normpath(os.path.join(here, "..", "resources"))
    for name, draw in (("av.bmp", arvensa), ("quandrel.bmp", quandrel),
                       ("merantic.bmp", merantic), ("torvel.bmp", torvel)):
        path = os.path.join(out, name)
        draw().save_bmp(path)
        print(path)


if __name__ == "__main__":
    main()
