# Clip-copy and stretched frames against outside rasterisers: the polygon,
# grid and blind wipes against masks that scikit-image draws from the same
# points (equal outside a one-pixel band around each outline), and the
# HALFTONE stretches against Pillow's BOX resize (within 3 levels), and the
# twists against scikit-image's affine warp (within 8 levels, outside a band).
import os, sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from transition_formulas import muldiv, read_frames, rnd, scale_progress
import numpy as np
from PIL import Image
from skimage.draw import polygon
from skimage.transform import AffineTransform, warp
from scipy.ndimage import binary_dilation, binary_erosion


PARTS = []  # every outline drawn for the current frame

def poly(mask, pts):
    xs = np.array([p[0] for p in pts], float) - 0.5
    ys = np.array([p[1] for p in pts], float) - 0.5
    rr, cc = polygon(ys, xs, mask.shape)
    m = np.zeros_like(mask); m[rr, cc] = True
    PARTS.append(m)
    return m

def clip_mask(t, W, H, p):
    wp, hp = scale_progress(W, H, p)
    cx, cy = W // 2, H // 2
    m = np.zeros((H, W), bool)
    P = {
        133: [[(0, 0), (2 * wp, 0), (0, 2 * hp)]],
        134: [[(W, 0), (W - 2 * wp, 0), (W, 2 * hp)]],
        135: [[(0, H), (2 * wp, H), (0, H - 2 * hp)]],
        136: [[(W, H), (W - 2 * wp, H), (W, H - 2 * hp)]],
        137: [[(W, 0), (0, 0), (W, hp)], [(W, H), (0, H), (0, H - hp)]],
        138: [[(0, H), (0, 0), (wp, H)], [(W, H), (W, 0), (W - wp, 0)]],
        141: [[(cx, cy), (0, 0), (wp, 0)], [(cx, cy), (0, H), (0, H - hp)], [(cx, cy), (W, H), (W - wp, H)], [(cx, cy), (W, 0), (W, hp)]],
        142: [[(cx, cy), (0, 0), (0, hp)], [(cx, cy), (0, H), (wp, H)], [(cx, cy), (W, H), (W, H - hp)], [(cx, cy), (W, 0), (W - wp, 0)]],
        171: [[(0, cy - hp), (2 * wp, cy), (0, cy + hp)]],
        172: [[(W, cy - hp), (W - 2 * wp, cy), (W, cy + hp)]],
        173: [[(cx - wp, 0), (cx, 2 * hp), (cx + wp, 0)]],
        174: [[(cx - wp, H), (cx, H - 2 * hp), (cx + wp, H)]],
        175: [[(0, cy - hp), (wp, cy), (0, cy + hp)], [(W, cy - hp), (W - wp, cy), (W, cy + hp)]],
        176: [[(cx - wp, 0), (cx, 2 * hp), (cx + wp, 0)], [(cx - wp, H), (cx, H - 2 * hp), (cx + wp, H)]],
        181: [[(cx - wp, cy), (cx, cy - hp), (cx + wp, cy), (cx, cy + hp)]],
    }
    if t in P:
        for pts in P[t]:
            m |= poly(m, pts)
        return m
    if t in (177, 178):
        a, b = (wp // 2, hp // 2) if t == 178 else ((W - wp) // 2, (H - hp) // 2)
        tris = [[(0, cy - b), (a, cy), (0, cy + b)], [(W, cy - b), (W - a, cy), (W, cy + b)],
                [(cx - a, 0), (cx, b), (cx + a, 0)], [(cx - a, H), (cx, H - b), (cx + a, H)]]
        if t == 178:
            for pts in tris: m |= poly(m, pts)
        else:
            m[:] = True
            for pts in tris: m ^= poly(m, pts)
        return m
    if t == 182:
        m[:] = True
        return m ^ poly(m, [(wp - cx, cy), (cx, hp - cy), (3 * cx - wp, cy), (cx, 3 * cy - hp)])
    c = min(W, H) // 10 + 1
    if t == 113:
        a = muldiv(c, p, 100)
        for x in range(c, W + c, 2 * c):
            for y in range(c, H + c, 2 * c):
                m[max(y - a, 0):max(y + a, 0), max(x - a, 0):max(x + a, 0)] = True
        return m
    if t == 116:
        a = muldiv(c, p, 50)
        for x in range(c, W + c, 2 * c):
            for y in range(c, H + c, 2 * c):
                m |= poly(m, [(x - a, y), (x, y - a), (x + a, y), (x, y + a)])
        return m
    if t == 159:
        s = H // 40 + 1; a = muldiv(s, p, 100)
        for y in range(s, H + s, 2 * s): m[max(y - a, 0):max(y + a, 0), :] = True
        return m
    if t == 160:
        s = W // 40 + 1; a = muldiv(s, p, 100)
        for x in range(s, W + s, 2 * s): m[:, max(x - a, 0):max(x + a, 0)] = True
        return m
    raise ValueError(t)

def box(E, sx, sy, sw, sh, w, h):
    part = Image.fromarray(np.ascontiguousarray(E[sy:sy + sh, sx:sx + sw]), 'RGB')
    return np.asarray(part.resize((w, h), Image.BOX)).astype(int)

def stretched(t, W, H, p, S, E):
    # Expected frame and a mask of the pixels held to the 3-level tolerance.
    wp, hp = scale_progress(W, H, p)
    F = S.astype(int).copy(); tol = np.zeros((H, W), bool)
    if t == 31 and wp > 0:
        F[:, :wp] = box(E, 0, 0, W, H, wp, H); tol[:, :wp] = True
    elif t == 32 and wp > 0:
        F[:, W - wp:] = box(E, 0, 0, W, H, wp, H); tol[:, W - wp:] = True
    elif t == 35 and wp > 0 and hp > 0:
        F[:hp, :wp] = box(E, 0, 0, W, H, wp, hp); tol[:hp, :wp] = True
    elif t == 48 and wp > 0:
        x = (W - wp) // 2; F[:, x:x + wp] = box(E, 0, 0, W, H, wp, H); tol[:, x:x + wp] = True
    return F, tol

def twist_corner(t, W, H, p):
    wp, hp = scale_progress(W, H, p)
    return ((W - wp) // 2, (H - hp) // 2) if t == 223 else (wp // 2, hp // 2)

def twist_area(t, W, H, p):
    x, y = twist_corner(t, W, H, p)
    return abs((W - x) * (H - y) - (0 - y) * (0 - x))

def twisted(t, W, H, p, S, E):
    # The picture (end for 223, start over the end for 224) drawn onto the
    # parallelogram of its upper-left, upper-right and lower-left corners.
    p0 = twist_corner(t, W, H, p)
    corners = np.array([p0, (W, 0), (0, H)], float)
    tform = AffineTransform()
    tform.estimate(np.array([(0, 0), (W, 0), (0, H)], float), corners)
    picture, under = (E, S) if t == 223 else (S, E)
    moved = warp(picture.astype(float) / 255, tform.inverse, output_shape=(H, W), order=1) * 255
    # The fourth corner is upper-right + lower-left - upper-left.
    inside = poly(np.zeros((H, W), bool), [p0, (W, 0), (W - p0[0], H - p0[1]), (0, H)])
    want = np.where(inside[:, :, None], moved, under.astype(float))
    return want, inside

bad = []
for W, H, _, S, E, t, s, ours in read_frames(open(sys.argv[1], 'rb').read(), True):
    ours = ours.astype(int)
    p = rnd(s / 1024 * 100)
    if t in (223, 224) and twist_area(t, W, H, p) < W * H / 4:
        continue  # folded almost flat: which source pixel a sampler picks decides all
    if t in (223, 224):
        PARTS.clear()
        want, inside = twisted(t, W, H, p, S, E)
        band = binary_dilation(inside, iterations=2) & ~binary_erosion(inside, iterations=2)
        diff = np.abs(ours - want).max(axis=2)
        wrong = (diff > 8) & ~band
        extra = ', largest difference %d' % diff[~band].max()
    elif t in (31, 32, 35, 48):
        want, tol = stretched(t, W, H, p, S, E)
        diff = np.abs(ours - want).max(axis=2)
        wrong = (tol & (diff > 3)) | (~tol & (diff != 0))
        extra = ', largest difference %d' % diff.max()
    else:
        PARTS.clear()
        m = clip_mask(t, W, H, p)
        # Pixels next to any outline (also where outlines meet inside the union).
        band = binary_dilation(m) & ~binary_erosion(m)
        for part in PARTS:
            band |= binary_dilation(part) & ~binary_erosion(part)
        want = np.where(m[:, :, None], E, S).astype(int)
        wrong = (ours != want).any(axis=2) & ~band
        extra = ''
    if wrong.any():
        d = np.argwhere(wrong)
        bad.append('type %d step %d on %dx%d: %d pixels wrong, first at (x %d, y %d)%s' % (t, s, W, H, len(d), d[0][1], d[0][0], extra))
open(sys.argv[2], 'w').write('\n'.join(bad))
