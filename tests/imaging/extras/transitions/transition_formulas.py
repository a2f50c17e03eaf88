# What the transition oracles share: the program's rounding and MulDiv, the
# reach of a percent (ScaleProgress), and the reader of the frames a test
# sends (per size: width, height, [colour,] start and end pictures, then
# frames of a type and step, 32-bit little-endian integers and BGR rows).
import struct
import numpy as np

def rnd(v):  # halves to even, as the program rounds
    return int(np.round(v))

def muldiv(a, b, c):  # rounded half away from zero, -1 for c = 0
    if c == 0:
        return -1
    p = a * b
    q = (abs(p) + abs(c) // 2) // abs(c)
    return q if (p < 0) == (c < 0) else -q

def scale_progress(W, H, p):
    if W >= H:
        wp = muldiv(W, p, 100); hp = muldiv(wp, H, W)
    else:
        hp = muldiv(H, p, 100); wp = muldiv(hp, W, H)
    return wp, hp

def read_frames(data, with_colour):
    """Yields (W, H, colour or None, start, end, type, step, frame) per frame."""
    at = 0
    def i32():
        nonlocal at
        (v,) = struct.unpack_from('<i', data, at); at += 4; return v
    for _ in range(i32()):
        W, H = i32(), i32()
        col = i32() if with_colour else None
        n = W * H * 3
        S = np.frombuffer(data, np.uint8, n, at).reshape(H, W, 3); at += n
        E = np.frombuffer(data, np.uint8, n, at).reshape(H, W, 3); at += n
        for _ in range(i32()):
            t, s = i32(), i32()
            ours = np.frombuffer(data, np.uint8, n, at).reshape(H, W, 3); at += n
            yield W, H, col, S, E, t, s, ours
