# The transition shapes drawn by scikit-image from the same fractions of the
# same boxes; each of our masks must agree outside a one-pixel band around the
# outline. Prints the disagreeing cases (nothing when all agree).
import struct, sys
import numpy as np
from skimage.draw import polygon, ellipse
from scipy.ndimage import binary_dilation, binary_erosion

STAR5 = [(0.5, 0), (0.62, 0.36), (1, 0.36), (0.7, 0.59), (0.81, 0.95), (0.5, 0.73), (0.19, 0.95), (0.31, 0.59), (0, 0.36), (0.39, 0.36), (0.5, 0)]
STAR6 = [(0.5, 0), (0.625, 0.25), (0.9, 0.25), (0.75, 0.5), (0.9, 0.75), (0.625, 0.75), (0.5, 1), (0.375, 0.75), (0.1, 0.75), (0.25, 0.5), (0.1, 0.25), (0.375, 0.25), (0.5, 0)]
ARROW = [(0, 0), (0.4, 0), (0.3, 0.1), (1, 0.8), (0.8, 1), (0.1, 0.3), (0, 0.4), (0, 0)]
FEATHER = [(0.85, 1), (0.8, 0.95), (0.8, 0.85), (0.775, 0.825), (0.775, 0.925), (0.725, 0.875), (0.725, 0.775), (0.7, 0.75), (0.7, 0.85), (0.65, 0.8), (0.65, 0.7), (0.15, 0.2), (0.15, 0.3), (0, 0.15), (0, 0), (0.15, 0), (0.3, 0.15), (0.2, 0.15), (0.7, 0.65), (0.8, 0.65), (0.85, 0.7), (0.75, 0.7), (0.775, 0.725), (0.875, 0.725), (0.925, 0.775), (0.825, 0.775), (0.85, 0.8), (0.95, 0.8), (1, 0.85), (0.85, 0.85), (0.85, 1)]
BOLT = [(1, 0.19), (0.61, 0.01), (0.41, 0.29), (0.49, 0.31), (0.23, 0.55), (0.33, 0.6), (0, 1), (0.51, 0.69), (0.46, 0.65), (0.78, 0.45), (0.66, 0.39), (1, 0.19)]
BOOM = [(0.33, 0), (0.5, 0.26), (0.62, 0.11), (0.67, 0.28), (0.99, 0.1), (0.78, 0.35), (1, 0.39), (0.84, 0.54), (0.99, 0.66), (0.75, 0.64), (0.78, 0.81), (0.65, 0.71), (0.61, 1), (0.51, 0.69), (0.38, 0.89), (0.35, 0.66), (0.17, 0.83), (0.22, 0.59), (0, 0.61), (0.19, 0.48), (0.04, 0.37), (0.22, 0.34), (0.16, 0.2), (0.35, 0.25), (0.33, 0.01)]

def rnd(v):  # halves to even, as the program rounds
    return int(np.round(v))

def squared(x, y, w, h):
    m = min(w, h)
    return x + (w - m) // 2, y + (h - m) // 2, m, m

def poly(mask, pts, x, y, w, h, mx=False, my=False):
    xs = [x + rnd((w - 1) * ((1 - fx) if mx else fx)) for fx, fy in pts]
    ys = [y + rnd((h - 1) * ((1 - fy) if my else fy)) for fx, fy in pts]
    # Fill the pixels whose centres lie inside the outline (GDI's rule).
    rr, cc = polygon(np.array(ys) - 0.5, np.array(xs) - 0.5, mask.shape)
    mask[rr, cc] = 1

def shape(code, x, y, w, h, shp):
    m = np.zeros(shp, np.uint8)
    if code in (0, 1):
        x, y, w, h = squared(x, y, w, h); poly(m, STAR5 if code == 0 else STAR6, x, y, w, h)
    elif 2 <= code <= 5:
        o = code - 2; x, y, w, h = squared(x, y, w, h); poly(m, ARROW, x, y, w, h, o in (1, 3), o in (2, 3))
    elif code in (6, 7):
        if w > h: x += (w - h) // 2; w = h
        poly(m, BOLT, x, y, w, h, code == 7)
    elif code in (8, 9):
        poly(m, BOOM, x, y, w, h, code == 9, code == 9)
    elif code == 10:
        d = rnd(0.75 * h)
        if w > d: x += (w - d) // 2; w = d
        g = min(rnd(0.22 * h), rnd(0.2 * w))
        vx = x + (w - g) // 2; m[y:y + h, max(vx, 0):max(vx + g, 0)] = 1
        top = y + rnd((h - g) * float(np.float32(0.33))); m[max(top, 0):max(top + g, 0), x:x + w] = 1
    elif 11 <= code <= 14:
        o = code - 11; x, y, w, h = squared(x, y, w, h); poly(m, FEATHER, x, y, w, h, o in (1, 3), o in (2, 3))
    elif code == 15:
        x, y, w, h = squared(x, y, w, h); mm = w
        half, quarter = mm // 2, mm // 4; lobe = half + 2; r = lobe // 2
        for ex in (x, x + mm - lobe):
            if lobe > 0:
                rr, cc = ellipse(y + (lobe - 1) / 2, ex + (lobe - 1) / 2, lobe / 2, lobe / 2, shp)
                m[rr, cc] = 1
        def polar(cx, cy, radius, bearing):
            a = (bearing - 90) * np.pi / 180
            return rnd(np.cos(a) * radius + cx), rnd(radius * np.sin(a) + cy)
        ax, ay = polar(quarter, quarter, r - 1, 233.14); bx, by = polar(mm - quarter, quarter, r - 1, 126.86)
        rr, cc = polygon(np.array([y + ay, y + by, y + mm]) - 0.5, np.array([x + ax, x + bx, x + half]) - 0.5, shp)
        m[rr, cc] = 1
        m[y + r:y + lobe, x + r:x + mm - r] = 1
    return m

data = open(sys.argv[1], 'rb').read()
(count,) = struct.unpack_from('<i', data, 0); at = 4
bad = []
for _ in range(count):
    code, bw, bh, cw, ch = struct.unpack_from('<5i', data, at); at += 20
    ours = np.frombuffer(data, np.uint8, cw * ch, at).reshape(ch, cw); at += cw * ch
    want = shape(code, 3, 2, bw, bh, (ch, cw))
    band = binary_dilation(want, iterations=1) & ~binary_erosion(want, iterations=1)
    diff = (ours != want) & ~band
    if diff.any():
        bad.append('code %d box %dx%d: %d pixels differ outside the band' % (code, bw, bh, int(diff.sum())))
open(sys.argv[2], 'w').write('\n'.join(bad))
