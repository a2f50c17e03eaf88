#!/usr/bin/env python3
# Rotation by other angles than right ones, written out with numpy from its
# rules, to check the library's rotations against:
#   shears  - quarter turns towards [-45, 45], then three shears; each line is
#             moved by a whole shift and a fraction, every target pixel taking
#             the two line pixels that straddle it by their distances (in
#             1/4096, rounded), the background beyond the line's ends;
#   linear  - inverse mapping about the centres of a picture framed by 3 pixels
#             of background, bilinear over the floored cell, truncated;
#   cubic   - the same with cubic convolution (a = -1), truncated and clamped;
#   plain   - inverse mapping, the nearest source pixel or the background.
# Input: count, then per case kind (0 shears, 1 linear, 2 cubic, 3 plain), w,
# h, angle in thousandths of a degree, background B, G, R (int32 each) and
# h*w*3 bytes (B, G, R). Output per case: width, height (int32), the pixels.
import math
import struct
import sys

import numpy as np


def rnd(v):
    # Halves to even, as the library rounds.
    return int(round(v))


def shear_line(line, length, shift, weight, bg):
    # The line's pixel k lies at shift + k + weight / 4096.
    out = np.tile(bg, (length, 1)).astype(np.int64)
    count = line.shape[0]
    padded = np.vstack([bg[None, :], line, bg[None, :]]).astype(np.int64)
    if weight == 0:
        lo, hi = max(0, shift), min(length, shift + count)
        if lo < hi:
            out[lo:hi] = line[lo - shift:hi - shift]
        return out
    a = abs(weight)
    for p in range(length):
        k = p - shift  # the line pixel whose whole place is p
        if weight > 0:
            if k < 0 or k > count:
                continue
            near, far = padded[k + 1], padded[k]  # k and k - 1
        else:
            if k < -1 or k >= count:
                continue
            near, far = padded[k + 1], padded[k + 2]  # k and k + 1
        out[p] = (far * a + near * (4096 - a) + 2048) // 4096
    return out


def shears(img, angle_milli, bg):
    theta = math.fmod(angle_milli, 360000) / 1000.0
    while theta > 45:
        theta -= 90
        img = np.rot90(img, 1)
    while theta < -45:
        theta += 90
        img = np.rot90(img, -1)
    if theta == 0:
        return img
    H, W = img.shape[:2]
    half = math.radians(theta) / 2
    t = abs(math.sin(half) / math.cos(half))
    s = abs(math.sin(math.radians(theta)))
    W1 = rnd(H * t + W + 1)
    f = rnd((W1 - W) * s)
    H2 = rnd(s * W1 + H + 1)
    m = rnd(t * (H2 - H - f))
    H2 -= 2 * f
    W3 = rnd(t * H2 + W1 + 1 - 2 * m)
    pos = theta > 0
    p1 = np.zeros((H, W1, 3), np.int64)
    for i in range(H):
        d = (i if pos else H - i) * t
        n = rnd(d)
        p1[i] = shear_line(img[i], W1, n, int((d - n) * 4096), bg)
    p2 = np.zeros((H2, W1, 3), np.int64)
    for c in range(W1):
        d = (W1 - c if pos else c) * s
        n = rnd(d)
        p2[:, c] = shear_line(p1[:, c], H2, n - f, rnd((d - n) * 4096), bg)
    out = np.zeros((H2, W3, 3), np.int64)
    for r in range(H2):
        d = (r if pos else H2 - r) * t
        n = rnd(d)
        out[r] = shear_line(p2[r], W3, n - m, rnd((d - n) * 4096), bg)
    return out


def cubic_weights(t):
    return [-t * (1 - t) ** 2, 1 - 2 * t * t + t ** 3, t * (1 + t - t * t), -t * t * (1 - t)]


def sampled(img, angle_milli, bg, quality):
    H, W = img.shape[:2]
    framed = np.tile(bg, (H + 6, W + 6, 1)).astype(np.float64)
    framed[3:3 + H, 3:3 + W] = img
    fh, fw = framed.shape[:2]
    th = math.radians(angle_milli / 1000.0)
    c, s = math.cos(th), math.sin(th)
    dw = rnd(abs(s) * (fh - 1) + abs(c) * (fw - 1))
    dh = rnd(abs(c) * (fh - 1) + abs(s) * (fw - 1))
    cx, cy, dcx, dcy = (fw - 1) / 2, (fh - 1) / 2, (dw - 1) / 2, (dh - 1) / 2

    def px(x, y):
        if 0 <= x < fw and 0 <= y < fh:
            return framed[y, x]
        return bg.astype(np.float64)

    out = np.zeros((dh, dw, 3), np.int64)
    for j in range(dh):
        for i in range(dw):
            x = (i - dcx) * c + cx - (j - dcy) * s
            y = (i - dcx) * s + cy + (j - dcy) * c
            x0, y0 = math.floor(x), math.floor(y)
            fx, fy = x - x0, y - y0
            if quality == 1:
                top = px(x0, y0) + (px(x0 + 1, y0) - px(x0, y0)) * fx
                bottom = px(x0, y0 + 1) + (px(x0 + 1, y0 + 1) - px(x0, y0 + 1)) * fx
                v = np.trunc(top + (bottom - top) * fy)
            else:
                wx, wy = cubic_weights(fx), cubic_weights(fy)
                v = np.zeros(3)
                for b in range(4):
                    for a in range(4):
                        v = v + wx[a] * wy[b] * px(x0 - 1 + a, y0 - 1 + b)
                v = np.trunc(v)
            out[j, i] = np.clip(v, 0, 255)
    # The frame comes off again.
    return out[3:dh - 3, 3:dw - 3]


def plain(img, angle_milli, bg):
    H, W = img.shape[:2]
    th = math.radians(angle_milli / 1000.0)
    c, s = math.cos(th), math.sin(th)
    dw = rnd(abs(s) * H + abs(c) * W)
    dh = rnd(abs(c) * H + abs(s) * W)
    cx, cy, dcx, dcy = (W - 1) / 2, (H - 1) / 2, (dw - 1) / 2, (dh - 1) / 2
    out = np.tile(bg, (dh, dw, 1)).astype(np.int64)
    for j in range(dh):
        for i in range(dw):
            x = rnd((i - dcx) * c - (j - dcy) * s + cx)
            y = rnd((i - dcx) * s + (j - dcy) * c + cy)
            if 0 <= x < W and 0 <= y < H:
                out[j, i] = img[y, x]
    return out


def main():
    data = open(sys.argv[1], "rb").read()
    (count,) = struct.unpack_from("<i", data, 0)
    pos = 4
    result = bytearray()
    for _ in range(count):
        kind, w, h, angle, b, g, r = struct.unpack_from("<7i", data, pos)
        pos += 28
        img = np.frombuffer(data, np.uint8, h * w * 3, pos).reshape(h, w, 3).astype(np.int64)
        pos += h * w * 3
        bg = np.array([b, g, r], np.int64)
        if kind == 0:
            out = shears(img, angle, bg)
        elif kind in (1, 2):
            out = sampled(img, angle, bg, kind)
        else:
            out = plain(img, angle, bg)
        result += struct.pack("<2i", out.shape[1], out.shape[0])
        result += np.ascontiguousarray(out).astype(np.uint8).tobytes()
    open(sys.argv[2], "wb").write(bytes(result))


main()
