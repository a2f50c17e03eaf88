# The library's palette quantisers written out plainly in Python from their
# rules (exact colours, variance box splitting, the NeuQuant network), and the
# pictures and Pillow figures the palettes are measured against.
#
#   quantizer_oracle.py palettes IN OUT
#     IN: u32 count, per case u16 width, height, n; i8 method, quality; then the
#     pixels (blue, green, red). OUT per case: n palette entries (blue, green,
#     red) and a u16 index per pixel.
#   quantizer_oracle.py photos OUT
#     OUT: per picture u16 width, height, the pixels (blue, green, red), then for
#     16, 64 and 256 colours Pillow's median-cut mean absolute error (f64).
import math
import struct
import sys


def trunc(x):
    return int(math.trunc(x))


def tdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


# ---- exact colours ----

def exact_palette(pixels, n):
    found = []
    seen = {}
    for p in pixels:
        if p not in seen:
            if len(found) == n:
                return None
            seen[p] = len(found)
            found.append(p)
    return found


# ---- box splitting ----

FAILED = 17523.6


class Box:
    def __init__(self):
        self.var = 0.0
        self.mean = [0.0, 0.0, 0.0]
        self.count = 0
        self.hist = [[0] * 32 for _ in range(3)]
        self.lo = [0, 0, 0]
        self.hi = [32, 32, 32]

    def copy(self):
        b = Box()
        b.var, b.mean, b.count = self.var, list(self.mean), self.count
        b.hist = [list(h) for h in self.hist]
        b.lo, b.hi = list(self.lo), list(self.hi)
        return b


def box_quantizer(pixels, n):
    n = min(max(n, 1), 256)
    cube = [0] * 32768
    first = Box()
    total = 0
    for (b, g, r) in pixels:
        R, G, B = r >> 3, g >> 3, b >> 3
        cube[R * 1024 + G * 32 + B] += 1
        first.hist[0][R] += 1
        first.hist[1][G] += 1
        first.hist[2][B] += 1
        total += 1

    def stats(box):
        if box.count == 0:
            box.var = 0.0
            return
        s = 0.0
        for c in range(3):
            s1 = sum(j * box.hist[c][j] for j in range(box.lo[c], box.hi[c]))
            s2 = sum(j * j * box.hist[c][j] for j in range(box.lo[c], box.hi[c]))
            box.mean[c] = s1 / box.count
            s += s2 - box.mean[c] * box.mean[c] * box.count
        box.var = s / total

    def shrink(box):
        for c in range(3):
            lo, hi = box.lo[c], box.hi[c]
            while lo < hi and box.hist[c][lo] == 0:
                lo += 1
            while hi > lo and box.hist[c][hi - 1] == 0:
                hi -= 1
            box.lo[c], box.hi[c] = lo, hi

    def split_axis(box, axis):
        lo, hi = box.lo[axis], box.hi[axis]
        if hi - lo <= 1:
            return None
        h = box.hist[axis]
        m = box.mean[axis]
        s = round((lo + m) * 0.5)
        e = round((m + hi) * 0.5)
        left = sum(h[lo:s])
        t, best, cut, left_at = 0.0, -1.0, None, 0
        for b in range(s, min(e, 31) + 1):
            left += h[b]
            if left == box.count:
                break
            t += h[b] * b / box.count
            score = left / (box.count - left) * ((m - t) * (m - t))
            if score > best:
                best, cut, left_at = score, b, left
        if cut is None or left_at == 0 or left_at >= box.count:
            return None
        a, z = box.copy(), box.copy()
        a.hi[axis] = cut + 1
        z.lo[axis] = cut + 1
        a.count, z.count = left_at, box.count - left_at
        a.hist = [[0] * 32 for _ in range(3)]
        for R in range(a.lo[0], a.hi[0]):
            for G in range(a.lo[1], a.hi[1]):
                for B in range(a.lo[2], a.hi[2]):
                    k = cube[R * 1024 + G * 32 + B]
                    a.hist[0][R] += k
                    a.hist[1][G] += k
                    a.hist[2][B] += k
        for c in range(3):
            for j in range(32):
                z.hist[c][j] -= a.hist[c][j]
        shrink(a)
        shrink(z)
        stats(a)
        stats(z)
        return a, z

    first.count = total
    stats(first)
    boxes = [first]
    while len(boxes) < n:
        chosen, largest = 0, 0.0
        for i, bx in enumerate(boxes):
            if bx.var > largest:
                chosen, largest = i, bx.var
        if largest <= 0:
            break
        box = boxes[chosen]
        if box.var == 0 or box.count == 0:
            box.var = 0.0
            continue
        tries = [split_axis(box, a) for a in range(3)]
        score = [t[0].var + t[1].var if t else FAILED for t in tries]
        if score[0] < FAILED and score[0] <= score[1] and score[0] <= score[2]:
            axis = 0
        elif score[1] < FAILED and score[1] <= score[0] and score[1] <= score[2]:
            axis = 1
        elif score[2] < FAILED:
            axis = 2
        else:
            box.var = 0.0
            continue
        boxes[chosen] = tries[axis][0]
        boxes.append(tries[axis][1])
    palette = [(round(bx.mean[2]) * 8, round(bx.mean[1]) * 8, round(bx.mean[0]) * 8) for bx in boxes]
    inverse = [0] * 32768
    for i, bx in enumerate(boxes):
        for R in range(bx.lo[0], bx.hi[0]):
            for G in range(bx.lo[1], bx.hi[1]):
                for B in range(bx.lo[2], bx.hi[2]):
                    inverse[R * 1024 + G * 32 + B] = i
    return palette, lambda p: inverse[(p[2] >> 3) * 1024 + (p[1] >> 3) * 32 + (p[0] >> 3)]


# ---- NeuQuant ----

def auto_factor(pixels):
    if pixels < 2000:
        return 1
    return min(max(round(13 * (pixels - 2000) / 148000 + 2), 1), 30)


def neural_quantizer(pixels, w, h, quality, n):
    factor = auto_factor(w * h) if quality == -1 else min(max(trunc((100 - quality) / 100 * 29) + 1, 1), 30)
    net = [[i * 4096 // n] * 3 + [i] for i in range(n)]
    freq = [65536 // n] * n
    bias = [0] * n
    initrad = n // 8
    length = w * h * 3
    alphadec = (factor - 1) // 3 + 30
    samples = length // (factor * 3)
    cycle = max(samples // 100, 1)
    alpha = 1024
    radius = initrad * 64
    rad = radius >> 6 if radius >= 128 else 0

    def powers(rad, alpha):
        return [alpha * (((rad * rad - k * k) * 256) // (rad * rad)) for k in range(rad)]
    radpower = powers(rad, alpha)
    step = 503
    for prime in (499, 491, 487):
        if length % prime != 0:
            step = prime
            break

    def contest(b, g, r):
        bestd = bestbiasd = 2 ** 31 - 1
        best = bestbias = 0
        for i in range(n):
            nb, ng, nr, _ = net[i]
            dist = abs(nb - b) + abs(ng - g) + abs(nr - r)
            if dist < bestd:
                bestd, best = dist, i
            biasdist = dist - (bias[i] >> 12)
            if biasdist < bestbiasd:
                bestbiasd, bestbias = biasdist, i
            betafreq = freq[i] >> 10
            freq[i] -= betafreq
            bias[i] += betafreq << 10
        freq[best] += 64
        bias[best] -= 65536
        return bestbias

    def move(i, b, g, r, f, div):
        p = net[i]
        p[0] -= tdiv((p[0] - b) * f, div)
        p[1] -= tdiv((p[1] - g) * f, div)
        p[2] -= tdiv((p[2] - r) * f, div)

    pos = 0
    count = w * h
    i = 0
    while i < samples:
        b, g, r = (v << 4 for v in pixels[pos])
        j = contest(b, g, r)
        move(j, b, g, r, alpha, 1024)
        if rad > 0:
            lo, hi = max(j - rad, -1), min(j + rad, n)
            a, z, m = j + 1, j - 1, 1
            while a < hi or z > lo:
                pw = radpower[m]
                m += 1
                if a < hi:
                    move(a, b, g, r, pw, 262144)
                    a += 1
                if z > lo:
                    move(z, b, g, r, pw, 262144)
                    z -= 1
        pos = (pos + step) % count
        i += 1
        if i % cycle == 0:
            alpha -= alpha // alphadec
            radius -= radius // 30
            rad = radius >> 6 if radius >= 128 else 0
            radpower = powers(rad, alpha)
    for i in range(n):
        for c in range(3):
            net[i][c] = min(((net[i][c] + 8) & 0xFFFFFFFF) >> 4, 255)
        net[i][3] = i
    palette = [tuple(p[:3]) for p in net]
    # sort by green (selection sort, whole neurons swapped), then the green index
    for i in range(n):
        small = i
        for j in range(i + 1, n):
            if net[j][1] < net[small][1]:
                small = j
        net[i], net[small] = net[small], net[i]
    index = [0] * 256
    prev, start = 0, 0
    for i in range(n):
        g = net[i][1]
        if g != prev:
            index[prev] = (start + i) >> 1
            for j in range(prev + 1, g):
                index[j] = i
            prev, start = g, i
    index[prev] = (start + n - 1) >> 1
    for j in range(prev + 1, 256):
        index[j] = n - 1

    def lookup(p):
        b, g, r = p
        bestd, best = 1000, -1
        i = index[g]
        j = i - 1
        while i < n or j >= 0:
            if i < n:
                q = net[i]
                dist = q[1] - g
                if dist >= bestd:
                    i = n
                else:
                    i += 1
                    dist = abs(dist) + abs(q[0] - b)
                    if dist < bestd:
                        dist += abs(q[2] - r)
                        if dist < bestd:
                            bestd, best = dist, q[3]
            if j >= 0:
                q = net[j]
                dist = g - q[1]
                if dist >= bestd:
                    j = -1
                else:
                    j -= 1
                    dist = abs(dist) + abs(q[0] - b)
                    if dist < bestd:
                        dist += abs(q[2] - r)
                        if dist < bestd:
                            bestd, best = dist, q[3]
        return max(best, 0)
    return palette, lookup


def quantize(pixels, w, h, n, method, quality):
    exact = exact_palette(pixels, n)
    if exact is not None:
        where = {p: i for i, p in enumerate(exact)}
        return exact + [(0, 0, 0)] * (n - len(exact)), [where[p] for p in pixels]
    if method == 1 or (method == -1 and n < 128):
        palette, lookup = box_quantizer(pixels, n)
    else:
        palette, lookup = neural_quantizer(pixels, w, h, quality, n)
    palette = palette + [(0, 0, 0)] * (n - len(palette))
    return palette, [lookup(p) for p in pixels]


def palettes(src, dst):
    data = open(src, 'rb').read()
    count, = struct.unpack_from('<I', data, 0)
    pos = 4
    out = bytearray()
    for _ in range(count):
        w, h, n, method, quality = struct.unpack_from('<HHHbb', data, pos)
        pos += 8
        pixels = [tuple(data[pos + 3 * i:pos + 3 * i + 3]) for i in range(w * h)]
        pos += 3 * w * h
        palette, indices = quantize(pixels, w, h, n, method, quality)
        out += bytes(v for p in palette for v in p)
        out += b''.join(struct.pack('<H', i) for i in indices)
    open(dst, 'wb').write(bytes(out))


def photos(dst):
    import numpy as np
    from PIL import Image
    import skimage.data
    gradient = np.zeros((256, 384, 3), dtype=np.uint8)
    y, x = np.mgrid[0:256, 0:384]
    gradient[..., 0] = x * 255 // 383
    gradient[..., 1] = y
    gradient[..., 2] = (x + y) * 255 // 638
    out = bytearray()
    for rgb in (skimage.data.astronaut(), skimage.data.coffee(), gradient):
        h, w, _ = rgb.shape
        out += struct.pack('<HH', w, h)
        out += rgb[..., ::-1].astype(np.uint8).tobytes()
        im = Image.fromarray(rgb, 'RGB')
        for n in (16, 64, 256):
            q = np.asarray(im.quantize(colors=n, method=Image.Quantize.MEDIANCUT).convert('RGB'), dtype=np.int64)
            out += struct.pack('<d', float(np.abs(q - rgb.astype(np.int64)).mean()))
    open(dst, 'wb').write(bytes(out))


if sys.argv[1] == 'palettes':
    palettes(sys.argv[2], sys.argv[3])
else:
    photos(sys.argv[2])
