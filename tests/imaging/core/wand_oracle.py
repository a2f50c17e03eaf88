#!/usr/bin/env python3
# The wand's regions from scipy: pixels whose red, green and blue each lie
# within the tolerance of the seed's, the 4-connected component holding the
# seed (ndimage.label), that component grown by its 3 x 3 neighbourhood, and
# every similar pixel. Input: count, then per case w, h, x, y, tolerance
# (int32) and h*w*3 bytes (red, green, blue); output per case three planes of
# h*w bytes (1 marked, 0 not).
import struct
import sys

import numpy as np
from scipy import ndimage


def regions(img, x, y, tol):
    seed = img[y, x, :].astype(np.int32)
    similar = np.all(np.abs(img.astype(np.int32) - seed) <= tol, axis=2)
    labels, _ = ndimage.label(similar, structure=[[0, 1, 0], [1, 1, 1], [0, 1, 0]])
    component = labels == labels[y, x]
    grown = ndimage.binary_dilation(component, structure=np.ones((3, 3), bool))
    return [component, grown, similar]


def main():
    data = open(sys.argv[1], "rb").read()
    (count,) = struct.unpack_from("<i", data, 0)
    pos = 4
    out = bytearray()
    for _ in range(count):
        w, h, x, y, tol = struct.unpack_from("<5i", data, pos)
        pos += 20
        img = np.frombuffer(data, np.uint8, h * w * 3, pos).reshape(h, w, 3)
        pos += h * w * 3
        for plane in regions(img, x, y, tol):
            out += plane.astype(np.uint8).tobytes()
    open(sys.argv[2], "wb").write(bytes(out))


main()
