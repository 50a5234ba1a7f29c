#!/usr/bin/env python3
"""Draws the small pictures the toolkit layer carries inside the program
(check boxes, the tree expander, the stop sign, the copy button) as PNG files
in data/images/toolkit/, and writes them as byte arrays into
platform/fox/fx_resources_data.cpp. Run it again after changing a drawing;
both outputs are committed.

Transparent pixels are (0, 0, 0, 0) and no drawing uses pure black, so the
pictures load the same whether FOX masks them by alpha or by black as the
transparent colour."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CLEAR = (0, 0, 0, 0)


class Picture:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[CLEAR] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c if len(c) == 4 else c + (255,)

    def rect(self, x, y, w, h, c):
        for j in range(y, y + h):
            for i in range(x, x + w):
                self.put(i, j, c)

    def frame(self, x, y, w, h, c):
        for i in range(x, x + w):
            self.put(i, y, c)
            self.put(i, y + h - 1, c)
        for j in range(y, y + h):
            self.put(x, j, c)
            self.put(x + w - 1, j, c)

    def png(self):
        raw = b"".join(b"\0" + b"".join(struct.pack("4B", *p) for p in row) for row in self.px)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        head = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def checkboxes(vista):
    # 12 frames of 13 x 13 stacked vertically: frame 4 * state + look, state
    # 0 clear, 1 checked, 2 mixed; look 0 normal, 1 hot, 2 pressed, 3 disabled.
    p = Picture(13, 13 * 12)
    edge = (0x1C, 0x51, 0x80) if vista else (0x33, 0x33, 0x33)
    fills = [(0xFF, 0xFF, 0xFF), (0xDE, 0xEC, 0xFA), (0xB9, 0xD6, 0xF2), (0xF0, 0xF0, 0xF0)]
    marks = [(0x21, 0x21, 0x21), (0x21, 0x21, 0x21), (0x21, 0x21, 0x21), (0xA0, 0xA0, 0xA0)]
    for state in range(3):
        for look in range(4):
            y = (4 * state + look) * 13
            p.frame(0, y, 13, 13, (0xA0, 0xA0, 0xA0) if look == 3 else edge)
            p.rect(1, y + 1, 11, 11, fills[look])
            if state == 1:
                for i, j in [(3, 6), (4, 7), (5, 8), (6, 7), (7, 6), (8, 5), (9, 4)]:
                    p.rect(i, y + j, 1, 2, marks[look])
            elif state == 2:
                p.rect(3, y + 3, 7, 7, (0x4A, 0x7E, 0xBB) if look != 3 else (0xB0, 0xB0, 0xB0))
    return p


def expander():
    # 3 frames of 9 x 9 stacked: collapsed (plus), expanded (minus), hot.
    p = Picture(9, 27)
    for f in range(3):
        y = f * 9
        p.frame(0, y, 9, 9, (0x91, 0x91, 0x91) if f < 2 else (0x3C, 0x7F, 0xB1))
        p.rect(1, y + 1, 7, 7, (0xFF, 0xFF, 0xFF))
        p.rect(2, y + 4, 5, 1, (0x21, 0x21, 0x21))
        if f != 1:
            p.rect(4, y + 2, 1, 5, (0x21, 0x21, 0x21))
    return p


def stop_sign():
    # 32 x 32: a red disc with a white cross.
    p = Picture(32, 32)
    for y in range(32):
        for x in range(32):
            d = (x - 15.5) ** 2 + (y - 15.5) ** 2
            if d <= 15.5 ** 2:
                p.put(x, y, (0x8B, 0x10, 0x10) if d > 14.0 ** 2 else (0xE0, 0x20, 0x20))
    for i in range(9, 23):
        for t in (-1, 0, 1):
            p.put(i + t, i, (0xFF, 0xFF, 0xFF))
            p.put(31 - i + t, i, (0xFF, 0xFF, 0xFF))
    return p


def copy_button():
    # 16 x 48: three 16-pixel states (normal, hot, disabled) of two stacked
    # documents.
    p = Picture(16, 48)
    looks = [((0x40, 0x40, 0x60), (0xFF, 0xFF, 0xFF), (0x5A, 0x8C, 0xD2)),
             ((0x20, 0x40, 0x90), (0xF4, 0xF8, 0xFF), (0x2A, 0x6C, 0xE2)),
             ((0x90, 0x90, 0x90), (0xEE, 0xEE, 0xEE), (0xB4, 0xB4, 0xB4))]
    for f, (edge, paper, lines) in enumerate(looks):
        y = f * 16
        for ox, oy in ((1, 1), (6, 5)):
            p.rect(ox, y + oy, 9, 10, paper)
            p.frame(ox, y + oy, 9, 10, edge)
            for k in range(3):
                p.rect(ox + 2, y + oy + 3 + 2 * k, 5, 1, lines)
    return p


def toolbar_background():
    # 8 x 24, opaque: a light top edge, a vertical gradient, a darker bottom
    # line; stretched over a toolbar area with fixed 3-pixel borders.
    p = Picture(8, 24)
    top, bottom = (0xF4, 0xF7, 0xFC), (0xC8, 0xD6, 0xEA)
    for y in range(24):
        if y == 0:
            c = (0xFF, 0xFF, 0xFF)
        elif y == 23:
            c = (0x9A, 0xAE, 0xCB)
        else:
            t = (y - 1) / 21
            c = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
        p.rect(0, y, 8, 1, c)
    return p


PICTURES = [
    ("checkbox_res", checkboxes(False)),
    ("checkbox_v_res", checkboxes(True)),
    ("treeexpandcollapse_res", expander()),
    ("stopicon_res", stop_sign()),
    ("copydetails_res", copy_button()),
    ("toolbarbackground_res", toolbar_background()),
]


def main():
    out = [
        "// Made by data/make_toolkit_pictures.py from the drawings there; do not edit.",
        '#include "platform/fox/fx_resources.h"',
        "",
        "namespace FX {",
        "",
    ]
    table = []
    for name, pic in PICTURES:
        data = pic.png()
        with open(os.path.join(HERE, "images", "toolkit", name[:-4] + ".png"), "wb") as f:
            f.write(data)
        out.append("const unsigned char %s[] = {" % name)
        for i in range(0, len(data), 16):
            out.append("    " + ", ".join("0x%02x" % b for b in data[i:i + 16]) + ",")
        out.append("};")
        out.append("")
        table.append('    {"%s", %s, sizeof(%s), %d, %d},' % (name, name, name, pic.w, pic.h))
    out.append("const FXResourcePicture fxResourcePictures[] = {")
    out += table
    out.append("    {nullptr, nullptr, 0, 0, 0},")
    out.append("};")
    out.append("")
    out.append("}  // namespace FX")
    with open(os.path.join(ROOT, "platform", "fox", "fx_resources_data.cpp"), "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
