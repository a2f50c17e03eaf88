#!/usr/bin/env python3
"""Area each canvas test figure covers when drawn by aggdraw (Anti-Grain Geometry).

Prints one line per figure: its name and the covered area in pixels (the sum of
coverage, 255 = one pixel). The figures are the ones ie_canvas_oracle_test.cpp
draws through TIECanvas, described here in aggdraw's own terms: an outline pen
is centred on the figure's edge, caps are flat, joins mitred."""
import math

import aggdraw
from PIL import Image

K = 0.5522847498  # quarter circle as one cubic Bezier


def area(draw_fn):
    im = Image.new("L", (100, 100), 0)
    d = aggdraw.Draw(im)
    draw_fn(d)
    d.flush()
    return sum(im.getdata()) / 255.0


def pen(width):
    return aggdraw.Pen(255, width)


BRUSH = aggdraw.Brush(255)


def round_rect(d):
    # Box x 10..89, y 10..69, corner ellipses 30 x 20.
    l, t, r, b, rx, ry = 10, 10, 89, 69, 15, 10
    p = aggdraw.Path()
    p.moveto(l + rx, t)
    p.lineto(r - rx, t)
    p.curveto(r - rx + K * rx, t, r, t + ry - K * ry, r, t + ry)
    p.lineto(r, b - ry)
    p.curveto(r, b - ry + K * ry, r - rx + K * rx, b, r - rx, b)
    p.lineto(l + rx, b)
    p.curveto(l + rx - K * rx, b, l, b - ry + K * ry, l, b - ry)
    p.lineto(l, t + ry)
    p.curveto(l, t + ry - K * ry, l + rx - K * rx, t, l + rx, t)
    p.close()
    d.path(p, pen(1), BRUSH)


FIGURES = [
    ("ellipse", lambda d: d.ellipse((10, 10, 89, 69), pen(1), BRUSH)),
    ("rectangle", lambda d: d.rectangle((10, 10, 89, 69), pen(3), BRUSH)),
    ("polygon", lambda d: d.polygon((50, 8, 92, 90, 50, 60, 8, 90), pen(1), BRUSH)),
    ("round_rect", round_rect),
    ("thick_line", lambda d: d.line((10, 60, 90, 15), pen(6))),
    ("thick_polyline", lambda d: d.line((10, 80, 30, 20, 60, 70, 90, 30), pen(4))),
    ("arc", lambda d: d.arc((10, 10, 89, 89), 0, 90, pen(4))),
]

for name, fn in FIGURES:
    print(name, "%.3f" % area(fn))
