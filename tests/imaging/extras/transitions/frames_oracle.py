# The formulas of the transitions that copy, move, blend or shade pixels,
# written out in numpy: each frame the program painted (right after a first
# frame showing the start picture) must equal these exactly. Prints the
# frames that differ (nothing when all agree).
import os, sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from transition_formulas import muldiv, read_frames, rnd, scale_progress
import numpy as np


def blit(F, B, sx, sy, w, h, dx, dy):
    H, W = F.shape[:2]
    for y in range(h):
        ty, fy = dy + y, sy + y
        if not (0 <= ty < H and 0 <= fy < B.shape[0]):
            continue
        x0 = max(0, -dx, -sx); x1 = min(w, W - dx, B.shape[1] - sx)
        if x1 > x0:
            F[ty, dx + x0:dx + x1] = B[fy, sx + x0:sx + x1]

def frame(t, s, S, E, c):
    H, W = S.shape[:2]
    F = S.copy()
    S16, E16, c16 = S.astype(np.int64), E.astype(np.int64), np.array(c, np.int64)
    if t == 4:
        t, s = (2, 2 * s) if s < 512 else (3, 2 * s - 1024)
    if t == 1: return ((S16 * (1024 - s) + E16 * s) >> 10).astype(np.uint8)
    if t == 2: return ((c16 * s + S16 * (1024 - s)) >> 10).astype(np.uint8)
    if t == 3: return ((c16 * (1024 - s) + E16 * s) >> 10).astype(np.uint8)
    red = np.array([0, 0, 255], np.uint8)
    if t in (5, 6):
        x = (s * W) >> 10; F[:, :x] = E[:, :x]
        if t == 6 and x < W: F[:, x] = red
    elif t in (7, 8):
        x = rnd(W * (1024 - s) / 1024); blit(F, E, x, 0, rnd(s * W / 1024), H, x, 0)
        if t == 8 and x < W: F[:, x] = red
    elif t in (9, 10):
        y = rnd(s * H / 1024); F[:y] = E[:y]
        if t == 10 and y < H: F[y] = red
    elif t in (11, 12):
        y = rnd(H * (1024 - s) / 1024); blit(F, E, 0, y, W, rnd(s * H / 1024), 0, y)
        if t == 12 and y < H: F[y] = red
    elif 13 <= t <= 16:
        dx, dy = ((1024 - s) * W) >> 10, ((1024 - s) * H) >> 10
        ox, oy = {13: (-dx, -dy), 14: (dx, -dy), 15: (-dx, dy), 16: (dx, dy)}[t]
        blit(F, E, 0, 0, W, H, ox, oy)
    elif t in (17, 18):
        k = (s * W) >> 10
        F[:, :k] = E[:, W - k:] if t == 17 else E[:, :k]
        F[:, k:] = S[:, :W - k]
    elif t in (19, 20):
        k = ((1024 - s) * W) >> 10
        F[:, :k] = S[:, W - k:] if t == 19 else S[:, :k]
        F[:, k:] = E[:, :W - k]
    elif t in (21, 22):
        k = (s * H) >> 10
        F[:k] = E[H - k:] if t == 21 else E[:k]
        F[k:] = S[:H - k]
    elif t in (23, 24):
        k = ((1024 - s) * H) >> 10
        F[:k] = S[H - k:]
        F[k:] = E[:H - k] if t == 23 else E[k:]
    elif t == 27:
        x, y = W // 2 - ((s * (W // 2)) >> 10), H // 2 - ((s * (H // 2)) >> 10)
        blit(F, E, x, y, (s * W) >> 10, (s * H) >> 10, x, y)
    elif t == 28:
        F = E.copy(); d = 1024 - s
        x, y = W // 2 - ((d * (W // 2)) >> 10), H // 2 - ((d * (H // 2)) >> 10)
        blit(F, S, x, y, (d * W) >> 10, (d * H) >> 10, x, y)
    elif t in (219, 220, 221, 222):
        cols = t in (219, 220); fwd = t in (219, 221)
        size = W if cols else H; soft = size // 8
        edge = muldiv(size + soft, s if fwd else 1024 - s, 1024)
        i = np.arange(size)
        w = np.array([0 if k > edge else (1024 if soft == 0 else min(1024, muldiv(1024, edge - k, soft))) for k in i], np.int64)
        w = w[None, :, None] if cols else w[:, None, None]
        a, b = (S16, E16) if fwd else (E16, S16)
        return ((a * (1024 - w) + b * w) >> 10).astype(np.uint8)
    else:
        p = rnd(s / 1024 * 100)
        wp, hp = scale_progress(W, H, p)
        copy = lambda x, y, w, h: blit(F, E, x, y, w, h, x, y)
        if t == 49: copy(0, 0, wp, hp)
        elif t == 50: copy(W - wp, 0, wp, hp)
        elif t == 51: copy(0, H - hp, wp, hp)
        elif t == 52: copy(W - wp, H - hp, wp, hp)
        elif t == 53: q = hp // 2; copy(0, 0, W, q); copy(0, H - q, W, q)
        elif t == 54: copy(0, (H - hp) // 2, W, hp)
        elif t == 55: q = wp // 2; copy(0, 0, q, H); copy(W - q, 0, q, H)
        elif t == 56: copy((W - wp) // 2, 0, wp, H)
        elif t == 65: blit(F, E, 0, 0, W, H, wp - W, 0)
        elif t == 66: blit(F, E, 0, 0, W, H, W - wp, 0)
        elif t == 67: blit(F, E, 0, 0, W, H, 0, hp - H)
        elif t == 68: blit(F, E, 0, 0, W, H, 0, H - hp)
        elif t == 74:
            qw, qh = wp // 2, hp // 2
            copy(0, 0, qw, qh); copy(0, H - qh, qw, qh); copy(W - qw, H - qh, qw, qh); copy(W - qw, 0, qw, qh)
        elif t == 76:
            qw, qh, hw, hh = wp // 2, hp // 2, W // 2, H // 2
            blit(F, E, 0, 0, hw, hh, qw - hw, 0); blit(F, E, hw, 0, hw, hh, hw, qh - hh)
            blit(F, E, hw, hh, hw, hh, W - qw, hh); blit(F, E, 0, hh, hw, hh, 0, H - qh)
        elif t in (151, 152, 153, 154):
            P = F.copy()
            if t == 151: blit(F, P, wp, 0, W - wp, H, 0, 0); blit(F, E, 0, 0, wp, H, W - wp, 0)
            if t == 152: blit(F, P, 0, 0, W - wp, H, wp, 0); blit(F, E, W - wp, 0, wp, H, 0, 0)
            if t == 153: blit(F, P, 0, hp, W, H - hp, 0, 0); blit(F, E, 0, 0, W, hp, 0, H - hp)
            if t == 154: blit(F, P, 0, 0, W, H - hp, 0, hp); blit(F, E, 0, H - hp, W, hp, 0, 0)
    return F

bad = []
for W, H, col, S, E, t, s, ours in read_frames(open(sys.argv[1], 'rb').read(), True):
    c = [(col >> 16) & 255, (col >> 8) & 255, col & 255]  # blue, green, red
    want = frame(t, s, S, E, c)
    if not np.array_equal(ours, want):
        d = np.argwhere((ours != want).any(axis=2))
        bad.append('type %d step %d on %dx%d: %d pixels differ, first at (x %d, y %d)' % (t, s, W, H, len(d), d[0][1], d[0][0]))
open(sys.argv[2], 'w').write('\n'.join(bad))
