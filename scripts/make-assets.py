#!/usr/bin/env python3
"""Regenerates the bitmap assets of the resource bundle.

Writes resources/icons/logo.ico (drawn from the paths of resources/icons/logo.svg)
and the 20 x 20 indicator images in resources/qss/default/. Needs python3 and
ImageMagick's `convert`; the outputs are committed, so the build never runs this.

    python3 scripts/make-assets.py
"""

import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ICONS = os.path.join(ROOT, "resources", "icons")
INDICATORS = os.path.join(ROOT, "resources", "qss", "default")

# Everything is drawn this many times larger and then averaged down, which gives
# even anti-aliasing at 16 and 20 pixels.
SUPERSAMPLE = 4

# Without these, ImageMagick stamps creation times into every PNG and the
# committed files would change on each run.
PNG_OPTIONS = ["-strip", "-define", "png:exclude-chunks=date,time"]


def convert(args):
    subprocess.run(["convert"] + args, check=True)


def render(size, mvg, out):
    """Draws MVG primitives given in a size x size coordinate space into a PNG."""
    big = size * SUPERSAMPLE
    convert(["-size", "%dx%d" % (big, big), "xc:none",
             "-draw", "affine %d,0,0,%d,0,0 %s" % (SUPERSAMPLE, SUPERSAMPLE, mvg),
             "-filter", "box", "-resize", "%dx%d" % (size, size)]
            + PNG_OPTIONS + ["PNG32:" + out])


def rgba_pixels(png, size):
    raw = subprocess.run(["convert", png, "-depth", "8", "rgba:-"],
                         check=True, stdout=subprocess.PIPE).stdout
    if len(raw) != size * size * 4:
        sys.exit("unexpected pixel data from %s" % png)
    return [tuple(raw[i:i + 4]) for i in range(0, len(raw), 4)]


# --- logo.ico -----------------------------------------------------------------

def logo_mvg(size):
    """The filled paths of logo.svg as MVG, scaled from its view box to size."""
    with open(os.path.join(ICONS, "logo.svg"), encoding="utf-8") as f:
        svg = f.read()
    box = re.search(r'viewBox="0 0 ([\d.]+) ([\d.]+)"', svg)
    scale = size / float(box.group(1))
    parts = ["push graphic-context", "affine %g,0,0,%g,0,0" % (scale, scale)]
    for fill, d in re.findall(r'<path fill="(#[0-9A-Fa-f]{6})" d="([^"]+)"', svg):
        parts.append("fill '%s' path '%s'" % (fill, d))
    parts.append("pop graphic-context")
    return " ".join(parts)


def palette_for(pixels, count):
    """Index 0 stays black for the masked pixels; the rest are the most frequent
    opaque colours. The logo has two flat colours, so nothing is lost at 16."""
    freq = {}
    for r, g, b, a in pixels:
        if a >= 128:
            freq[(r, g, b)] = freq.get((r, g, b), 0) + 1
    colours = [c for c, _ in sorted(freq.items(), key=lambda kv: (-kv[1], kv[0]))]
    colours = [(0, 0, 0)] + colours[:count - 1]
    return colours + [(0, 0, 0)] * (count - len(colours))


def nearest(colour, palette, cache):
    if colour not in cache:
        cache[colour] = min(range(1, len(palette)), key=lambda i: sum(
            (colour[k] - palette[i][k]) ** 2 for k in range(3)))
    return cache[colour]


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def and_mask(pixels, size, threshold):
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes(size))
        for x in range(size):
            if pixels[y * size + x][3] < threshold:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def dib(pixels, size, bpp):
    """A bitmap image as an icon stores it: header, palette, colours, mask."""
    palette = []
    if bpp == 32:
        body = bytearray()
        for y in reversed(range(size)):
            for r, g, b, a in pixels[y * size:(y + 1) * size]:
                body += bytes((b, g, r, a))
        mask = and_mask(pixels, size, 1)
    else:
        palette = palette_for(pixels, 1 << bpp)
        cache = {}
        body = bytearray()
        for y in reversed(range(size)):
            row = bytearray(row_bytes(size * bpp))
            for x in range(size):
                r, g, b, a = pixels[y * size + x]
                index = nearest((r, g, b), palette, cache) if a >= 128 else 0
                if bpp == 8:
                    row[x] = index
                else:
                    row[x // 2] |= index << (4 if x % 2 == 0 else 0)
            body += row
        mask = and_mask(pixels, size, 128)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(body) + len(mask), 0, 0, len(palette), 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + table + bytes(body) + mask


def make_ico(tmp):
    entries = []  # (size, colour count, bpp, data)
    for size in (16, 24, 32, 48):
        png = os.path.join(tmp, "logo-%d.png" % size)
        render(size, logo_mvg(size), png)
        pixels = rgba_pixels(png, size)
        for bpp in (4, 8, 32):
            entries.append((size, 16 if bpp == 4 else 0, bpp, dib(pixels, size, bpp)))
    # The 256-pixel image is stored as PNG, as icon files have allowed since Vista.
    png = os.path.join(tmp, "logo-256.png")
    render(256, logo_mvg(256), png)
    with open(png, "rb") as f:
        entries.append((256, 0, 32, f.read()))

    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, colours, bpp, data in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    for entry in entries:
        out += entry[3]
    with open(os.path.join(ICONS, "logo.ico"), "wb") as f:
        f.write(out)


# --- indicator images -----------------------------------------------------------
# The sheet's palette: surfaces #262626, borders #555, accent #00ca97, labels
# #e0e0e0 / #aaa, disabled #313131 / #3a3a3a / #777.

def box(fill, stroke):
    return ("fill '%s' stroke '%s' stroke-width 1 roundrectangle 3.5,3.5 16.5,16.5 2.5,2.5"
            % (fill, stroke))


def tick(colour):
    return ("fill none stroke '%s' stroke-width 2 stroke-linecap round stroke-linejoin round "
            "polyline 6.5,10.2 8.9,12.6 13.6,7.6" % colour)


def dash(colour):
    return "fill none stroke '%s' stroke-width 2 stroke-linecap round line 7,10 13,10" % colour


def ring(fill, stroke):
    return "fill '%s' stroke '%s' stroke-width 1 circle 10,10 16.5,10" % (fill, stroke)


def dot(colour):
    return "fill '%s' stroke none circle 10,10 13,10" % colour


def triangle(colour, points):
    return ("fill '%s' stroke '%s' stroke-width 1 stroke-linejoin round polygon %s"
            % (colour, colour, points))


def chevron(colour, points):
    return ("fill none stroke '%s' stroke-width 2 stroke-linecap round stroke-linejoin round "
            "polyline %s" % (colour, points))


ARROW = "#aaaaaa"

INDICATOR_IMAGES = {
    "checkbox_unchecked.png": box("#262626", "#555555"),
    "checkbox_checked.png": box("#00ca97", "#00ca97") + " " + tick("#ffffff"),
    "checkbox_parcial.png": box("#00ca97", "#00ca97") + " " + dash("#ffffff"),
    "checkbox_unchecked_disable.png": box("#2a2a2a", "#3a3a3a"),
    "checkbox_checked_disable.png": box("#3a3a3a", "#3a3a3a") + " " + tick("#777777"),
    "checkbox_parcial_disable.png": box("#3a3a3a", "#3a3a3a") + " " + dash("#777777"),
    "radiobutton_unchecked.png": ring("#262626", "#555555"),
    "radiobutton_checked.png": ring("#262626", "#00ca97") + " " + dot("#00ca97"),
    "radiobutton_unchecked_disable.png": ring("#2a2a2a", "#3a3a3a"),
    "radiobutton_checked_disable.png": ring("#2a2a2a", "#3a3a3a") + " " + dot("#777777"),
    "branch_close.png": triangle(ARROW, "8,6 13,10 8,14"),
    "branch_open.png": triangle(ARROW, "6,8 14,8 10,13"),
    "calendar_prevmonth.png": chevron("#e0e0e0", "12,5.5 7.5,10 12,14.5"),
    "calendar_nextmonth.png": chevron("#e0e0e0", "8,5.5 12.5,10 8,14.5"),
    "add_top.png": triangle(ARROW, "6,12 14,12 10,7.5"),
    "add_bottom.png": triangle(ARROW, "6,8 14,8 10,12.5"),
    "add_left.png": triangle(ARROW, "12,6 12,14 7.5,10"),
    "add_right.png": triangle(ARROW, "8,6 8,14 12.5,10"),
}


def make_indicators():
    os.makedirs(INDICATORS, exist_ok=True)
    for name, mvg in sorted(INDICATOR_IMAGES.items()):
        render(20, mvg, os.path.join(INDICATORS, name))


def main():
    with tempfile.TemporaryDirectory() as tmp:
        make_ico(tmp)
    make_indicators()
    print("wrote %s and %d images in %s" % (os.path.join(ICONS, "logo.ico"),
                                            len(INDICATOR_IMAGES), INDICATORS))


if __name__ == "__main__":
    main()
