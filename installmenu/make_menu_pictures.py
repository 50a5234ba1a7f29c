#!/usr/bin/env python3
"""Draws the pictures the install menu's main window carries inside the
program (the close and help buttons, each with its three looks stacked, and
the untrusted-certificate question's icon) and writes them as byte arrays
into installmenu/app/menu_pictures.cpp. Run it again after changing a
drawing; the output is committed."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
# Opaque black is the transparent colour the program masks its icons by.
CLEAR = (0, 0, 0, 255)
GREY = (128, 129, 132, 255)
DARK = (70, 72, 76, 255)
BLUE = (40, 110, 190, 255)
AMBER = (226, 150, 30, 255)
WHITE = (255, 255, 255, 255)


def png(w, h, pixel):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(w)) for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def stacked_glyph(w, row, on):
    # Three looks stacked, `row` pixels each: normal, hovered, pressed; on(x, v)
    # tells the glyph's pixels within a look.
    def pixel(x, y):
        look, v = divmod(y, row)
        return (GREY, DARK, BLUE)[look] if on(x, v) else CLEAR
    return png(w, 3 * row, pixel)


def close_glyph():
    # 28 x 45: a cross of 9 pixels.
    def on(x, v):
        u, w = x - 14, v - 7
        return abs(u) <= 4 and abs(w) <= 4 and (abs(u - w) <= 1 or abs(u + w) <= 1)
    return stacked_glyph(28, 15, on)


def help_glyph():
    # 24 x 72: a ring with a question mark.
    def on(x, v):
        dx, dy = x - 11.5, v - 11.5
        if 9.5 <= (dx * dx + dy * dy) ** 0.5 <= 11.2:
            return True
        # the question mark: an arc, a stem and a dot
        ax, ay = x - 11.5, v - 8.5
        ar = (ax * ax + ay * ay) ** 0.5
        if 2.6 <= ar <= 4.4 and (ay < 0.5 or ax > 0):
            return True
        return 11 <= x <= 12 and (12 <= v <= 14 or 16 <= v <= 17)
    return stacked_glyph(24, 24, on)


def certificate_glyph():
    # 32 x 96: three rows of 32 pixels; a sheet with a warning band.
    def pixel(x, y):
        look, v = divmod(y, 32)
        band = (AMBER, AMBER, BLUE)[look]
        if 4 <= x <= 27 and 3 <= v <= 28:
            if x in (4, 27) or v in (3, 28):
                return DARK
            if 7 <= v <= 11:
                return band
            if v in (15, 19, 23) and 8 <= x <= 23:
                return GREY
            return WHITE
        return CLEAR
    return png(32, 96, pixel)


def array(name, data):
    lines = [f"const unsigned char {name}[] = {{"]
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[i:i + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    pictures = [("k_closePng", "menuClosePng", close_glyph()), ("k_helpPng", "menuHelpPng", help_glyph()),
                ("k_certificatePng", "menuCertificatePng", certificate_glyph())]
    out = ["// Written by installmenu/make_menu_pictures.py; run it again after changing a drawing.",
           '#include "installmenu/app/menu_pictures.h"', "", "namespace {"]
    for name, _, data in pictures:
        out.append(array(name, data))
    out.append("}  // namespace")
    out.append("")
    for name, function, _ in pictures:
        out.append(f"const void* {function}() {{ return {name}; }}")
    with open(os.path.join(HERE, "app", "menu_pictures.cpp"), "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
