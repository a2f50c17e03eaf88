#!/usr/bin/env python3
# The Gaussian blur from scipy: integer weights round(exp(-((i - 100) / s)^2 / 2)
# * 65536 / sum) for i = 0..200 (halves to even), cut to the taps that are not
# 0, applied with ndimage.convolve1d along rows, then columns (mode nearest,
# the ends repeating), each pass adding 32768 and shifting right by 16.
# Input: count, then per case w, h, channels, x1, y1, x2, y2 (int32, the
# inclusive rectangle blurred), sigma (float64) and h*w*channels bytes;
# output: every case's pixels after the blur.
import struct
import sys

import numpy as np
from scipy import ndimage


def kernel(sigma):
    i = np.arange(201, dtype=np.float64)
    k = np.exp(-(((i - 100) / sigma) ** 2) / 2)
    w = np.round(k * 65536 / k.sum()).astype(np.int64)
    nz = np.nonzero(w)[0]
    r = max(1, int(max(100 - nz.min(), nz.max() - 100)))
    return w[100 - r : 100 + r + 1]


def blur(plane, taps):
    out = plane.astype(np.int64)
    for axis in (1, 0):
        out = (ndimage.convolve1d(out, taps, axis=axis, mode="nearest") + 32768) >> 16
        out = np.clip(out, 0, 255)
    return out.astype(np.uint8)


def main():
    data = open(sys.argv[1], "rb").read()
    (count,) = struct.unpack_from("<i", data, 0)
    pos = 4
    result = bytearray()
    for _ in range(count):
        w, h, n, x1, y1, x2, y2 = struct.unpack_from("<7i", data, pos)
        (sigma,) = struct.unpack_from("<d", data, pos + 28)
        pos += 36
        img = np.frombuffer(data, np.uint8, h * w * n, pos).reshape(h, w, n).copy()
        pos += h * w * n
        img[y1 : y2 + 1, x1 : x2 + 1, :] = blur(img[y1 : y2 + 1, x1 : x2 + 1, :], kernel(sigma))
        result += img.tobytes()
    open(sys.argv[2], "wb").write(bytes(result))


main()
