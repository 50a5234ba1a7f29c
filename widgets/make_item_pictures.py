#!/usr/bin/env python3
"""Draws the pictures of the browser's item commands and writes them as byte
arrays into widgets/item_pictures.cpp (with the drawing helpers of
data/make_toolkit_pictures.py). Run it again after changing a drawing; the
output is committed."""
import os
import sys

sys.dont_write_bytecode = True

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "data"))
from make_toolkit_pictures import Picture  # noqa: E402


def properties():
    # 16 x 48: three 16-pixel states (normal, hot, disabled) of a sheet with
    # a title bar and two rows of a name and its value.
    p = Picture(16, 48)
    looks = [((0x40, 0x40, 0x60), (0xFF, 0xFF, 0xFF), (0x3A, 0x6E, 0xC8), (0x70, 0x70, 0x70)),
             ((0x20, 0x40, 0x90), (0xF4, 0xF8, 0xFF), (0x2A, 0x6C, 0xE2), (0x40, 0x50, 0x80)),
             ((0x90, 0x90, 0x90), (0xEE, 0xEE, 0xEE), (0xB4, 0xB4, 0xB4), (0xC0, 0xC0, 0xC0))]
    for f, (edge, paper, bar, ink) in enumerate(looks):
        y = f * 16
        p.rect(1, y + 1, 14, 14, paper)
        p.frame(1, y + 1, 14, 14, edge)
        p.rect(2, y + 2, 12, 3, bar)
        for k in range(2):
            p.rect(3, y + 7 + 3 * k, 3, 1, ink)
            p.rect(7, y + 7 + 3 * k, 6, 1, bar)
    return p


def main():
    data = properties().png()
    out = ["// Made by widgets/make_item_pictures.py from the drawings there; do not edit.",
           '#include "widgets/browser.h"', "", "const unsigned char FXKBrowser::propertiesIconPng[] = {"]
    for i in range(0, len(data), 16):
        out.append("    " + ", ".join("0x%02x" % b for b in data[i:i + 16]) + ",")
    out.append("};")
    with open(os.path.join(HERE, "item_pictures.cpp"), "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
