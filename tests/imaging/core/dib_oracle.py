#!/usr/bin/env python3
# Reads packed DIBs with Pillow's DibImageFile (no file header) and writes
# their pixels as RGB. Input: count, then per case the DIB's length (int32)
# and bytes; output per case width and height (int32; 0 and 0 when Pillow
# refuses it) and height*width*3 bytes.
import io
import struct
import sys

from PIL import BmpImagePlugin


def main():
    data = open(sys.argv[1], "rb").read()
    (count,) = struct.unpack_from("<i", data, 0)
    pos = 4
    out = bytearray()
    for _ in range(count):
        (n,) = struct.unpack_from("<i", data, pos)
        dib = data[pos + 4 : pos + 4 + n]
        pos += 4 + n
        try:
            im = BmpImagePlugin.DibImageFile(io.BytesIO(dib)).convert("RGB")
        except Exception:
            out += struct.pack("<ii", 0, 0)
            continue
        out += struct.pack("<ii", im.width, im.height) + im.tobytes()
    open(sys.argv[2], "wb").write(bytes(out))


main()
