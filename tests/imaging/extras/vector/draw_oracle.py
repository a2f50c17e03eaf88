#!/usr/bin/env python3
"""Area each vector-object test figure covers when aggdraw (Anti-Grain
Geometry) draws the same geometry: one line per figure, its name and the
covered area in pixels (sum of green coverage, 255 = one pixel).

An object's box (x1, y1)-(x2, y2) covers the pixels x1..x2, so its outline
runs from x1 to x2 + 1 in pixel-edge terms: aggdraw gets (x1, y1, x2, y2) as
the canvas test gives it (x1, y1, x2 + 1, y2 + 1) to our canvas. A zoom
multiplies the coordinates and the pen width."""
import aggdraw
from PIL import Image


def area(size, fn):
    im = Image.new("L", (size, size), 0)
    d = aggdraw.Draw(im)
    fn(d)
    d.flush()
    return sum(im.getdata()) / 255.0


def main():
    for zoom in (1.0, 2.5):
        def z(v):
            return v * zoom
        size = int(100 * zoom)
        for alpha in (255, 128):
            tag = "%d_%d" % (int(zoom * 100), alpha)
            figures = [("line%d" % w, lambda d, w=w: d.line((z(10), z(60), z(90), z(15)), aggdraw.Pen(255, int(w * zoom + 0.5), alpha)))
                       for w in (1, 3, 8)]
            figures += [
                ("box", lambda d: d.rectangle((z(10), z(10), z(90) - 1, z(70) - 1), aggdraw.Pen(255, int(3 * zoom + 0.5), alpha),
                                              aggdraw.Brush(255, alpha))),
                ("ellipse", lambda d: d.ellipse((z(10), z(10), z(90) - 1, z(70) - 1), aggdraw.Pen(255, int(2 * zoom + 0.5), alpha))),
                ("polygon", lambda d: d.polygon((z(50), z(8), z(92), z(90), z(8), z(90)), aggdraw.Pen(255, int(1 * zoom + 0.5), alpha),
                                                aggdraw.Brush(255, alpha))),
            ]
            for name, fn in figures:
                print("%s_%s" % (name, tag), "%.3f" % area(size, fn))


main()
