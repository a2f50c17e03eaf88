# Pillow's compositing and nearest-neighbour scaling as the account the alpha
# merge and the stretched copy are held to.
#
# Input (little endian): u32 case count; per case u8 kind (0 alpha_composite,
# 1 resize NEAREST), u16 w, h of the first picture and its RGBA bytes; for
# kind 0 a second picture of the same size (the layer laid over the first);
# for kind 1 u16 target w, h.
# Output per case: u16 w, h and the RGBA bytes of the result.
import struct
import sys

from PIL import Image

data = open(sys.argv[1], "rb").read()
pos = 0


def take(fmt):
    global pos
    v = struct.unpack_from("<" + fmt, data, pos)
    pos += struct.calcsize("<" + fmt)
    return v


def picture():
    global pos
    w, h = take("HH")
    img = Image.frombytes("RGBA", (w, h), data[pos:pos + 4 * w * h])
    pos += 4 * w * h
    return img


out = bytearray()
(count,) = take("I")
for _ in range(count):
    (kind,) = take("B")
    base = picture()
    if kind == 0:
        layer = picture()
        result = Image.alpha_composite(base, layer)
    else:
        tw, th = take("HH")
        result = base.resize((tw, th), Image.NEAREST)
    out += struct.pack("<HH", result.width, result.height) + result.tobytes()
open(sys.argv[2], "wb").write(bytes(out))
