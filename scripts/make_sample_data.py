#!/usr/bin/env python3
"""Writes the sample images and program stand-ins that data/ ships in the
program archive. Their bytes are committed; run this again only to change them:

    scripts/make_sample_data.py data

Images are small PNGs drawn from simple shapes in the menu's colours. The two
installer redistributables are DOS programs that print what they are and end
with exit code 1, so that running one reports a failure instead of pretending
to install anything.
"""
import math
import os
import struct
import sys
import zlib

# Theme colours of the menu (red, green, blue).
SHELL = (245, 252, 255)
BANNER1 = (51, 119, 204)
BANNER2 = (40, 80, 160)
KORV_BLUE = (0, 67, 157)
LIGHT_BLUE = (226, 237, 247)
TEXT = (128, 129, 132)
RED = (200, 48, 40)
GREEN = (40, 150, 70)


# 5 x 7 capitals and digits for the logo's lettering.
GLYPHS = {
    "D": ["###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "3": ["####.", "....#", "....#", ".###.", "....#", "....#", "####."],
}


def png(width, height, pixel, alpha):
    """pixel(x, y) gives (r, g, b) or (r, g, b, a)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # no filter
        for x in range(width):
            p = pixel(x, y)
            if alpha:
                raw.extend(p if len(p) == 4 else p + (255,))
            else:
                raw.extend(p[:3])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def disc_icon(size, colour, glyph):
    """A shaded disc with a white glyph; glyph(u, v) is true on the glyph, with
    u and v from -1 to 1 across the disc."""
    r = size / 2 - 1.5
    c = (size - 1) / 2

    def pixel(x, y):
        d = math.hypot(x - c, y - c)
        if d > r + 0.5:
            return (0, 0, 0, 0)
        a = int(255 * min(1.0, r + 0.5 - d))
        u, v = (x - c) / r, (y - c) / r
        if glyph(u, v):
            return (255, 255, 255, a)
        shade = mix(colour, (255, 255, 255), max(0.0, -v) * 0.35)
        return shade + (a,)

    return png(size, size, pixel, True)


def plus(u, v):
    return (abs(u) < 0.16 and abs(v) < 0.55) or (abs(v) < 0.16 and abs(u) < 0.55)


def arrow_down(u, v):
    shaft = abs(u) < 0.15 and -0.55 < v < 0.1
    head = v >= 0.0 and v < 0.55 and abs(u) < (0.55 - v)
    return shaft or head


def ring(u, v):
    d = math.hypot(u, v)
    return 0.32 < d < 0.55 or (abs(u) < 0.12 and 0.6 < -v + 1.15 < 0.75)


def bar(u, v):
    return abs(v) < 0.15 and abs(u) < 0.55


def images():
    out = {}
    out["top_gradient.png"] = png(743, 96, lambda x, y: mix(BANNER1, SHELL, min(1.0, y / 80)), False)
    out["background.png"] = png(
        64, 64, lambda x, y: LIGHT_BLUE if (x + y) % 16 == 0 else SHELL, False)
    out["korvane_link_16.png"] = disc_icon(16, KORV_BLUE, lambda u, v: abs(u + v) < 0.25 or (u < -0.2 and abs(u) < 0.45))

    def logo(x, y):
        # A rounded blue panel carrying the product's name: the menu's
        # left-hand logo.
        w, h = 180, 120
        cx = min(x, w - 1 - x)
        cy = min(y, h - 1 - y)
        if cx < 10 and cy < 10 and math.hypot(10 - cx, 10 - cy) > 10:
            return (0, 0, 0, 0)
        if lettering(x, y):
            return (255, 255, 255, 255)
        return mix(BANNER1, BANNER2, y / h) + (255,)

    words = [("DOVECREST", 2, 36), ("2013", 3, 62)]

    def lettering(x, y):
        for text, scale, top in words:
            advance = 6 * scale
            left = (180 - (len(text) * advance - scale)) // 2
            if top <= y < top + 7 * scale and left <= x < left + len(text) * advance:
                i, u = divmod(x - left, advance)
                if u < 5 * scale and GLYPHS[text[i]][(y - top) // scale][u // scale] == "#":
                    return True
        return False

    out["bootmenu_logo_win.png"] = png(180, 120, logo, True)
    out["bootmenu_separator_win.png"] = png(
        2, 400, lambda x, y: TEXT + (int(160 * math.sin(math.pi * y / 399)),), True)
    out["shell_vselection_transp_c_48.png"] = png(
        48, 48, lambda x, y: BANNER1 + (72 if 1 <= x < 47 and 1 <= y < 47 else 140,), True)
    out["item_hotfix_48.png"] = disc_icon(48, GREEN, plus)
    out["item_update_48.png"] = disc_icon(48, BANNER1, arrow_down)
    out["item_update_error_48.png"] = disc_icon(48, RED, bar)
    out["item_support_48.png"] = disc_icon(48, KORV_BLUE, ring)
    out["item_separator.png"] = png(300, 4, lambda x, y: TEXT + (90 if y in (1, 2) else 0,), True)
    return out


def dos_program(message):
    """An MZ program that prints `message` and ends with exit code 1."""
    text = message.encode("ascii") + b"\r\n$"
    code = bytes([0x0E, 0x1F,              # push cs; pop ds
                  0xBA, 14, 0x00,          # mov dx, offset text
                  0xB4, 0x09,              # mov ah, 9
                  0xCD, 0x21,              # int 21h
                  0xB8, 0x01, 0x4C,        # mov ax, 4C01h
                  0xCD, 0x21])             # int 21h
    body = code + text
    size = 32 + len(body)
    header = struct.pack("<2s13H", b"MZ", size % 512, (size + 511) // 512, 0, 2, 0x10, 0xFFFF,
                         0, 0x100, 0, 0, 0, 0x1C, 0)
    return header + b"\0" * (32 - len(header)) + body


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else "data"
    files = {os.path.join("images", k): v for k, v in images().items()}
    files["instmsiw.exe"] = dos_program(
        "Stand-in for the Windows Installer redistributable (NT). It installs nothing.")
    files["instmsia.exe"] = dos_program(
        "Stand-in for the Windows Installer redistributable (9x). It installs nothing.")
    for name, data in sorted(files.items()):
        path = os.path.join(target, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        print("%-45s %6d bytes" % (path, len(data)))


if __name__ == "__main__":
    main()
