#!/usr/bin/env python3
# The area sharpener written out with numpy from its rule: each channel
# p + (p - mean) * amount / 10, truncated and clamped, the mean (integer
# division) taken over columns max(0, x-h) .. min(W-1, x+h) - 1 of rows
# max(0, y-h) .. min(H-1, y+h) without row y; a pixel with nothing around it
# stays. Input: count, then per case w, h, size, amount, x1, y1, x2, y2 (int32)
# and h*w*3 bytes; output: the sharpened pixels of every case.
import struct
import sys

import numpy as np


def sharpen(img, size, amount, x1, y1, x2, y2):
    H, W, _ = img.shape
    h = size // 2
    src = img.astype(np.int64)
    out = img.copy()
    for y in range(y1, min(y2, H)):
        ya, yb = max(0, y - h), min(H - 1, y + h)
        rows = [r for r in range(ya, yb + 1) if r != y]
        for x in range(x1, min(x2, W)):
            xa, xb = max(0, x - h), min(W - 1, x + h)
            n = (xb - xa) * (yb - ya)
            if n <= 0:
                continue
            box = src[rows, xa:xb, :] if rows else np.zeros((0, 0, 3), np.int64)
            mean = box.sum(axis=(0, 1)) // n
            p = src[y, x, :]
            v = np.trunc((p - mean) * (amount / 10.0) + p)
            out[y, x, :] = np.clip(v, 0, 255).astype(np.uint8)
    return out


def main():
    data = open(sys.argv[1], "rb").read()
    (count,) = struct.unpack_from("<i", data, 0)
    pos = 4
    result = bytearray()
    for _ in range(count):
        w, h, size, amount, x1, y1, x2, y2 = struct.unpack_from("<8i", data, pos)
        pos += 32
        img = np.frombuffer(data, np.uint8, h * w * 3, pos).reshape(h, w, 3)
        pos += h * w * 3
        result += sharpen(img, size, amount, x1, y1, x2, y2).tobytes()
    open(sys.argv[2], "wb").write(bytes(result))


main()
