#!/usr/bin/env python3
"""Draws pelmora's pictures with ImageMagick's convert (standard library only).

    python3 make_art.py        # writes banner.png, side.png, icon32.png, icon64.png here

The outputs are committed; run this again only after changing the drawing.
The banner and side picture are 24-bit RGB, as the form's bitmaps are.
"""
import math
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FONT = "DejaVu-Sans"
FONT_BOLD = "DejaVu-Sans-Bold"
# convert 6.9's mitre joins draw stray spokes on sharp polyline corners
ROUND = "stroke-linejoin round stroke-linecap round"


def convert(*args):
    exe = shutil.which("convert")
    if exe is None:
        sys.exit("make_art.py: ImageMagick's convert is not installed")
    subprocess.run([exe, *args], check=True)


def wave(x0, x1, y, amplitude, period, phase=0.0, step=2):
    """A sine polyline: the carrier on the mains that the adapters ride on."""
    points = []
    x = x0
    while x <= x1:
        points.append("%d,%.1f" % (x, y + amplitude * math.sin((x + phase) * 2 * math.pi / period)))
        x += step
    return "polyline " + " ".join(points)


def cable(p0, p1, p2, p3, steps=32):
    """A cubic Bezier as a polyline."""
    points = []
    for i in range(steps + 1):
        t = i / steps
        a, b, c, d = (1 - t) ** 3, 3 * t * (1 - t) ** 2, 3 * t * t * (1 - t), t ** 3
        x = a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0]
        y = a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1]
        points.append("%.1f,%.1f" % (x, y))
    return "polyline " + " ".join(points)


def banner():
    w, h = 499, 58
    draw = [
        ROUND,
        # carrier waves fading to the right
        "fill none", "stroke-width 1.5",
        "stroke rgba(255,255,255,0.22)", wave(250, w, 34, 6, 46),
        "stroke rgba(255,255,255,0.15)", wave(250, w, 38, 8, 62, 9),
        "stroke rgba(140,230,240,0.30)", wave(250, w, 36, 4, 30, 5),
        # accent rule along the bottom
        "stroke none", "fill #f0a030", "rectangle 0,%d %d,%d" % (h - 3, w, h - 1),
        # product mark: a small adapter glyph
        "fill rgba(255,255,255,0.92)", "roundrectangle 14,13 34,41 4,4",
        "fill #0d4a66", "rectangle 21,41 27,46",
        "fill #7ee08a", "circle 19,19 19,21",
        "fill #f6c453", "circle 24,19 24,21",
        "fill #7ee08a", "circle 29,19 29,21",
    ]
    convert(
        "-size", "%dx%d" % (w, h),
        "-define", "gradient:direction=East", "gradient:#0b2f4a-#1b7f92",
        "-draw", " ".join(draw),
        "-font", FONT_BOLD, "-pointsize", "10", "-fill", "#9fe3ee",
        "-annotate", "+46+22", "VELTARO RLA-7070",
        "-font", FONT_BOLD, "-pointsize", "17", "-fill", "white",
        "-annotate", "+45+43", "USB Adapter Setup",
        "-font", FONT, "-pointsize", "10", "-fill", "rgba(255,255,255,0.75)",
        "-gravity", "NorthEast", "-annotate", "+12+8", "Connect Hardware",
        "-strip", "-alpha", "off", "-type", "TrueColor",
        "PNG24:" + os.path.join(HERE, "banner.png"),
    )


def side():
    w, h = 270, 150
    draw = [
        ROUND,
        # floor shadows
        "stroke none", "fill rgba(40,60,80,0.16)",
        "ellipse 62,134 44,6 0,360", "ellipse 206,128 40,5 0,360",
        # desktop PC: case, drive bays, power light, port panel
        "fill #c9d2da", "stroke #55626e", "stroke-width 1.5",
        "roundrectangle 30,22 94,132 5,5",
        "fill #e8edf1", "roundrectangle 36,30 88,44 2,2",
        "roundrectangle 36,48 88,62 2,2",
        "stroke #8a96a1", "line 40,37 84,37", "line 40,55 84,55",
        "stroke none", "fill #3dbb5c", "circle 44,76 44,79",
        "fill #2c3640", "roundrectangle 40,96 62,112 2,2",
        "fill #aeb9c3", "rectangle 44,100 58,103", "rectangle 44,105 58,108",
        # the adapter, standing by the wall
        "fill #f7f9fb", "stroke #66737e", "stroke-width 1.5",
        "roundrectangle 174,40 238,124 8,8",
        "fill #e3e9ee", "stroke none", "rectangle 176,104 236,122",
        "fill #3dbb5c", "circle 188,54 188,57",
        "fill #f0b63c", "circle 206,54 206,57",
        "fill #3dbb5c", "circle 224,54 224,57",
        "fill #9aa6b0", "rectangle 186,70 226,72", "rectangle 186,76 226,78",
        "rectangle 186,82 226,84",
        # its cable, from the side of the adapter to the plug
        "fill none", "stroke #2c3640", "stroke-width 3",
        cable((174, 112), (140, 116), (136, 142), (112, 104)),
        # plug about to go in
        "stroke none", "fill #2c3640", "roundrectangle 98,98 114,110 2,2",
        "fill #aeb9c3", "rectangle 88,100 98,108",
        # arrow: push it in
        "fill #2f9e4f", "polygon 68,86 80,76 80,82 96,82 96,90 80,90 80,96",
    ]
    convert(
        "-size", "%dx%d" % (w, h), "gradient:#ffffff-#d7e4ee",
        "-draw", " ".join(draw),
        "-font", FONT_BOLD, "-pointsize", "8", "-fill", "#44525e",
        "-annotate", "+182+117", "RLA-7070",
        "-strip", "-alpha", "off", "-type", "TrueColor",
        "PNG24:" + os.path.join(HERE, "side.png"),
    )


def icon(size):
    s = size / 64.0

    def p(v):
        return "%.1f" % (v * s)

    draw = [
        ROUND, "fill none", "stroke none",
        # adapter body with its plug tail
        "fill rgba(255,255,255,0.95)",
        "roundrectangle %s,%s %s,%s %s,%s" % (p(18), p(10), p(46), p(46), p(5), p(5)),
        "fill #0d4a66",
        "rectangle %s,%s %s,%s" % (p(28), p(46), p(36), p(54)),
        "fill #7ee08a", "circle %s,%s %s,%s" % (p(25), p(18), p(25), p(21)),
        "fill #f6c453", "circle %s,%s %s,%s" % (p(32), p(18), p(32), p(21)),
        "fill #7ee08a", "circle %s,%s %s,%s" % (p(39), p(18), p(39), p(21)),
        "fill none", "stroke #1b7f92", "stroke-width %s" % p(2.5),
        wave(int(22 * s), int(42 * s), 34 * s, 3 * s, 20 * s, 0, 1),
    ]
    convert(
        "-size", "%dx%d" % (size, size), "xc:none",
        "(", "-size", "%dx%d" % (size, size), "gradient:#1b7f92-#0b2f4a", ")",
        "(", "-size", "%dx%d" % (size, size), "xc:none", "-fill", "white",
        "-draw", "roundrectangle 0,0 %d,%d %s,%s" % (size - 1, size - 1, p(12), p(12)), ")",
        "-delete", "0", "-alpha", "off", "-compose", "CopyOpacity", "-composite",
        "-compose", "Over",
        "-draw", " ".join(draw),
        "-strip", "PNG32:" + os.path.join(HERE, "icon%d.png" % size),
    )


if __name__ == "__main__":
    banner()
    side()
    icon(32)
    icon(64)
