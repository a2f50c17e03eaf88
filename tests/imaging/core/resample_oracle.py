# The library's resampling written out plainly in Python from its rules, as an
# independent account to hold ResampleIEBitmap to, byte for byte.
#
# Input (little endian): u32 case count, then per case u16 sw, sh, dw, dh,
# u8 format, filter, has-alpha; the source rows unpadded; 768 palette bytes
# (blue, green, red) for ie8p; sw * sh alpha bytes when it has alpha.
# Output per case: u8 format, u16 width, height, the rows unpadded, the palette
# for ie8p, u8 has-alpha and the alpha bytes.
import math
import struct
import sys

IE1G, IE8P, IE8G, IE16G, IE24RGB, IERGB48 = 1, 2, 3, 4, 5, 8
BYTES = {IE8P: 1, IE8G: 1, IE16G: 2, IE24RGB: 3, IERGB48: 6}
(NONE, TRIANGLE, HERMITE, BELL, BSPLINE, LANCZOS3, MITCHELL, NEAREST, LINEAR,
 FASTLINEAR, BILINEAR, BICUBIC, PROJECTBW, PROJECTWB) = range(14)


def trunc(x):
    return int(math.trunc(x))


def sinc(x):
    if x == 0:
        return 1.0
    return math.sin(math.pi * x) / (math.pi * x)


def k_triangle(x):
    a = abs(x)
    return 1.0 - a if a < 1 else 0.0


def k_hermite(x):
    a = abs(x)
    return a * a * (2.0 * a - 3.0) + 1.0 if a < 1 else 0.0


def k_bell(x):
    a = abs(x)
    if a < 0.5:
        return 0.75 - x * x
    if a < 1.5:
        return 0.5 * (a - 1.5) * (a - 1.5)
    return 0.0


def k_bspline(x):
    a = abs(x)
    if a < 1:
        return 0.5 * a * a * a - a * a + 2.0 / 3.0
    if a < 2:
        return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0
    return 0.0


def k_lanczos3(x):
    return sinc(x) * sinc(x / 3.0) if abs(x) < 3 else 0.0


def k_mitchell(x):
    a = abs(x)
    if a < 1:
        return (7.0 * a * a * a - 12.0 * a * a + 16.0 / 3.0) / 6.0
    if a < 2:
        return (-(7.0 / 3.0) * a * a * a + 12.0 * a * a - 20.0 * a + 32.0 / 3.0) / 6.0
    return 0.0


def k_box(x):
    return 1.0 if -0.5 < x <= 0.5 else 0.0


def k_linear(x):
    if 0 <= x < 1:
        return 1.0 - x
    if -1 <= x < 0:
        return x + 1.0
    return 0.0


KERNELS = {TRIANGLE: (k_triangle, 1.0), HERMITE: (k_hermite, 1.0), BELL: (k_bell, 1.5),
           BSPLINE: (k_bspline, 2.0), LANCZOS3: (k_lanczos3, 3.0), MITCHELL: (k_mitchell, 2.0),
           NEAREST: (k_box, 1.0), LINEAR: (k_linear, 1.0)}


# ---- kernel resampling: integer weights in 1/256, mirrored taps ----

def taps_of(n, m, f):
    k, r = KERNELS[f]
    s = m / n if (n == 1 or m == 1) else (m - 1) / (n - 1)
    out = []
    for x in range(m):
        c = x / s
        support = r / s if s < 1 else r
        lo, hi = math.floor(c - support), math.ceil(c + support)
        factor = 1.0
        while True:
            ws = []
            for i in range(lo, hi + 1):
                if s < 1:
                    w = round(k((c - i) * s) * 256.0 * s * factor)
                else:
                    w = round(k(c - i) * 256.0 * factor)
                ws.append((i, int(w)))
            if any(w for _, w in ws):
                break
            factor *= 2.0   # every weight rounded to 0: double until some survive
        lst = []
        for i, w in ws:
            if w == 0:
                continue
            j = -i if i < 0 else i
            if j >= n:
                j = 2 * n - 1 - j
            lst.append((min(max(j, 0), n - 1), w))
        out.append(lst)
    return out


def norm(v, total):
    if total != 0:
        q = abs(v) // abs(total)
        if (v < 0) != (total < 0):
            q = -q
    else:
        q = v >> 8
    return min(max(q, 0), 255)


def kernel_pass(rows, lists):
    # rows: list of lists of samples (per pixel a tuple of channels); resample along each row
    out = []
    for row in rows:
        res = []
        for lst in lists:
            total = sum(w for _, w in lst)
            ch = len(row[0])
            res.append(tuple(norm(sum(w * row[j][c] for j, w in lst), total) for c in range(ch)))
        out.append(res)
    return out


def transpose(rows):
    return [list(col) for col in zip(*rows)]


def kernel_resample(img, dw, dh, f):
    # img: rows of channel tuples; horizontal pass first, then vertical
    h = len(img)
    w = len(img[0])
    mid = kernel_pass(img, taps_of(w, dw, f))
    out = kernel_pass(transpose(mid), taps_of(h, dh, f))
    return transpose(out)


# ---- fast linear ----

def spans(n, m):
    res = []
    for x in range(m):
        a = x * n // m
        b = max(a, (x + 1) * n // m - 1)
        res.append((a, b))
    return res


def fast_axis(line, m, interpolate):
    n = len(line)
    ch = len(line[0])
    out = []
    if interpolate:
        ratio = m / n
        for x in range(m):
            f = x / ratio
            a = min(trunc(f), n - 1)
            b = min(a + 1, n - 1)
            frac = trunc((f - trunc(f)) * 131072.0)
            out.append(tuple(line[a][c] + (((line[b][c] - line[a][c]) * frac) >> 17) for c in range(ch)))
    else:
        for a, b in spans(n, m):
            cnt = b - a + 1
            out.append(tuple(sum(line[j][c] for j in range(a, b + 1)) // cnt for c in range(ch)))
    return out


def fast_linear(img, dw, dh, always=False):
    h, w = len(img), len(img[0])
    mid = [fast_axis(row, dw, always or dw > w) for row in img]
    cols = [fast_axis(col, dh, always or dh > h) for col in transpose(mid)]
    return transpose(cols)


# ---- 1 bit ----

def stretch_1bit(bits, dw, dh):
    h, w = len(bits), len(bits[0])
    g = h / dh
    l = w / dw
    out = []
    for y in range(dh):
        r0 = min(max(trunc(g * y - g / 2), 0), h - 1)
        r1 = min(max(trunc(trunc(g) / 2 + g * y), 0), h - 1)
        row = []
        for x in range(dw):
            c0 = min(max(trunc(l * x - l / 2), 0), w - 1)
            c1 = min(max(trunc(l / 2 + l * x), 0), w - 1)
            on = sum(bits[yy][xx] for yy in range(r0, r1 + 1) for xx in range(c0, c1 + 1))
            v = 255 * on // ((r1 - r0 + 1) * (c1 - c0 + 1))
            row.append((v, v, v))
        out.append(row)
    return out


def project(img, dw, dh, white_wins, is_white, is_black):
    h, w = len(img), len(img[0])
    out = []
    for y, (r0, r1) in enumerate(spans(h, dh)):
        row = []
        for (c0, c1) in spans(w, dw):
            px = [img[yy][xx] for yy in range(r0, r1 + 1) for xx in range(c0, c1 + 1)]
            if white_wins:
                row.append(1 if any(is_white(p) for p in px) else 0)
            else:
                row.append(0 if any(is_black(p) for p in px) else 1)
        out.append(row)
    return out


# ---- area coverage ----

def segments(n, m):
    ratio = n / m
    segs = []
    pos, s, d = 0.0, 0, 0
    while d < m:
        se = s + 1.0
        de = (d + 1.0) * ratio
        src = min(s, n - 1)
        if de <= se + 1e-4:
            both = de >= se - 1e-4
            segs.append((src, d, de - pos, 1.0 if both else de - s, True))
            pos = de
            d += 1
            if both:
                s += 1
        else:
            segs.append((src, d, se - pos, 1.0, False))
            pos = se
            s += 1
    return segs


def cubic(a, b, c, d, t, lo, hi):
    def v(u):
        return u * u * u - 2.0 * u * u + 1.0

    def w(u):
        return -u * u * u + 5.0 * u * u - 8.0 * u + 4.0
    r = a * w(abs(t + 1.0)) + b * v(abs(t)) + c * v(abs(t - 1.0)) + d * w(abs(t - 2.0))
    return min(max(r, lo), hi)


def area(img, dw, dh, use_cubic, high, alpha):
    h, w = len(img), len(img[0])
    ch = len(img[0][0])
    ax, ay = w / dw, h / dh
    ex, ey = ax < 1.0, ay < 1.0
    hs, vs = segments(w, dw), segments(h, dh)
    factor = 1.0 / (ax * ay)

    def nb(i, n):
        nxt = i + 1 if i < n - 1 else i
        return (i - 1 if i > 0 else i, i, nxt, i + 2 if i + 2 <= n - 1 else nxt)
    rule = ch == 3 and ex and ey and not use_cubic
    acc = [[0.0] * ch for _ in range(dw)]
    out = [None] * dh
    for (sy, dy, vl, tv, ends) in vs:
        py, cy, ny, n2y = nb(sy, h)
        for (sx, dx, hl, th, _) in hs:
            ar = hl * vl
            px, cx, nx, n2x = nb(sx, w)
            if not ex and not ey:
                vals = [img[cy][cx][c] for c in range(ch)]
            elif ex and not ey:
                vals = [cubic(img[cy][px][c], img[cy][cx][c], img[cy][nx][c], img[cy][n2x][c], th, 0, high)
                        if use_cubic else (1.0 - th) * img[cy][cx][c] + th * img[cy][nx][c] for c in range(ch)]
            elif ey and not ex:
                vals = [cubic(img[py][cx][c], img[cy][cx][c], img[ny][cx][c], img[n2y][cx][c], tv, 0, high)
                        if use_cubic else (1.0 - tv) * img[cy][cx][c] + tv * img[ny][cx][c] for c in range(ch)]
            elif use_cubic:
                vals = []
                for c in range(ch):
                    across = [float(round(cubic(img[r][px][c], img[r][cx][c], img[r][nx][c], img[r][n2x][c],
                                                th, 0, high))) for r in (py, cy, ny, n2y)]
                    vals.append(cubic(across[0], across[1], across[2], across[3], tv, 0, high))
            else:
                corners = [img[cy][cx], img[cy][nx], img[ny][cx], img[ny][nx]]
                if rule:
                    al = [1.0] * 4 if alpha is None else [alpha[cy][cx], alpha[cy][nx], alpha[ny][cx], alpha[ny][nx]]
                    low = min(al)
                    chosen = None
                    for kk in range(4):
                        if al[kk] > low:
                            chosen = kk
                    if chosen is not None:
                        corners = [corners[chosen]] * 4
                vals = []
                for c in range(ch):
                    top = (1.0 - th) * corners[0][c] + th * corners[1][c]
                    bottom = (1.0 - th) * corners[2][c] + th * corners[3][c]
                    vals.append((1.0 - tv) * top + tv * bottom)
            for c in range(ch):
                acc[dx][c] += vals[c] * ar
        if ends:
            row = []
            for x in range(dw):
                row.append(tuple(min(max(round(acc[x][c] * factor), 0), int(high)) for c in range(ch)))
                acc[x] = [0.0] * ch
            out[dy] = row
    return out


# ---- the dispatcher ----

def stretch(img, dw, dh):
    h, w = len(img), len(img[0])
    cols = [min(w - 1, trunc((w / dw) * x)) for x in range(dw)]
    return [[img[min(h - 1, trunc((h / dh) * y))][c] for c in cols] for y in range(dh)]


def to_rgb(fmt, img, palette):
    if fmt == IE8P:
        return [[palette[p[0]] for p in row] for row in img]
    if fmt == IE8G:
        return [[(p[0], p[0], p[0]) for p in row] for row in img]
    if fmt == IE16G:
        return [[(p[0] >> 8,) * 3 for p in row] for row in img]
    if fmt == IERGB48:   # words red, green, blue -> bytes blue, green, red
        return [[(p[2] >> 8, p[1] >> 8, p[0] >> 8) for p in row] for row in img]
    return img


def grey_filtered(img, dw, dh, f):
    if f == NONE:
        return stretch(img, dw, dh)
    if f in (BILINEAR, BICUBIC):
        return area(img, dw, dh, f == BICUBIC, 255.0, None)
    if f in (FASTLINEAR, PROJECTBW, PROJECTWB):
        return fast_linear(img, dw, dh)
    return kernel_resample(img, dw, dh, f)


def from_rgb24(img, dw, dh, f):
    if f == NONE:
        return IE24RGB, stretch(img, dw, dh)
    if f == FASTLINEAR:
        return IE24RGB, fast_linear(img, dw, dh)
    if f in (PROJECTBW, PROJECTWB):
        return IE1G, project(img, dw, dh, f == PROJECTWB, lambda p: min(p) > 128, lambda p: max(p) < 128)
    return IE24RGB, kernel_resample(img, dw, dh, f)


def resample(fmt, img, palette, alpha, dw, dh, f):
    h, w = len(img), len(img[0])
    if f == NONE:
        res = (fmt, stretch(img, dw, dh))
    elif fmt == IE1G:
        bits = [[p[0] for p in row] for row in img]
        if f in (PROJECTBW, PROJECTWB):
            res = (IE1G, project(bits, dw, dh, f == PROJECTWB, lambda b: b == 1, lambda b: b == 0))
        elif f in (FASTLINEAR, BILINEAR, BICUBIC):
            if dw < w and dh < h:
                res = (IE24RGB, stretch_1bit(bits, dw, dh))
            else:
                g = fast_linear([[(255 * b,) for b in row] for row in bits], dw, dh, always=True)
                res = (IE24RGB, [[(p[0],) * 3 for p in row] for row in g])
        else:
            g = kernel_resample([[(255 * b,) for b in row] for row in bits], dw, dh, f)
            res = (IE24RGB, [[(p[0],) * 3 for p in row] for row in g])
    else:
        ff = f
        done = False
        if f in (BILINEAR, BICUBIC):
            if fmt in (IE24RGB, IE8G):
                res = (fmt, area(img, dw, dh, f == BICUBIC, 255.0, alpha if fmt == IE24RGB else None))
                done = True
            elif fmt in (IE16G, IERGB48):
                res = (fmt, area(img, dw, dh, f == BICUBIC, 65535.0, None))
                done = True
            else:
                ff = TRIANGLE
        if not done:
            if fmt == IE8G:
                res = (IE8G, grey_filtered(img, dw, dh, ff))
            else:
                res = from_rgb24(to_rgb(fmt, img, palette), dw, dh, ff)
    out_alpha = None
    if alpha is not None:
        a = [[(v,) for v in row] for row in alpha]
        out_alpha = [[p[0] for p in row] for row in grey_filtered(a, dw, dh, f)]
    return res[0], res[1], out_alpha


# ---- bytes in and out ----

def read_case(data, pos):
    sw, sh, dw, dh, fmt, f, has_alpha = struct.unpack_from('<HHHHBBB', data, pos)
    pos += 11
    img = []
    for _ in range(sh):
        if fmt == IE1G:
            n = (sw + 7) // 8
            row = [((data[pos + x // 8] >> (7 - x % 8)) & 1,) for x in range(sw)]
        else:
            n = sw * BYTES[fmt]
            raw = data[pos:pos + n]
            if fmt == IE16G:
                row = [struct.unpack_from('<H', raw, 2 * x) for x in range(sw)]
            elif fmt == IERGB48:
                row = [struct.unpack_from('<HHH', raw, 6 * x) for x in range(sw)]
            elif fmt == IE24RGB:
                row = [tuple(raw[3 * x:3 * x + 3]) for x in range(sw)]
            else:
                row = [(raw[x],) for x in range(sw)]
        img.append(row)
        pos += n
    palette = None
    if fmt == IE8P:
        palette = [tuple(data[pos + 3 * i:pos + 3 * i + 3]) for i in range(256)]
        pos += 768
    alpha = None
    if has_alpha:
        alpha = [list(data[pos + y * sw:pos + (y + 1) * sw]) for y in range(sh)]
        pos += sw * sh
    return (fmt, img, palette, alpha, dw, dh, f), pos


def write_case(out, fmt, img, palette, alpha):
    h, w = len(img), len(img[0])
    out += struct.pack('<BHH', fmt, w, h)
    for row in img:
        if fmt == IE1G:
            b = bytearray((w + 7) // 8)
            for x, v in enumerate(row):
                if (v[0] if isinstance(v, tuple) else v):
                    b[x // 8] |= 0x80 >> (x % 8)
            out += b
        elif fmt == IE16G:
            out += b''.join(struct.pack('<H', p[0]) for p in row)
        elif fmt == IERGB48:
            out += b''.join(struct.pack('<HHH', *p) for p in row)
        else:
            out += bytes(v for p in row for v in p)
    if fmt == IE8P:
        out += bytes(v for p in palette for v in p)
    out += struct.pack('<B', 1 if alpha is not None else 0)
    if alpha is not None:
        out += bytes(v for row in alpha for v in row)


def main():
    data = open(sys.argv[1], 'rb').read()
    count, = struct.unpack_from('<I', data, 0)
    pos = 4
    out = bytearray()
    for _ in range(count):
        (fmt, img, palette, alpha, dw, dh, f), pos = read_case(data, pos)
        rfmt, rimg, ralpha = resample(fmt, img, palette, alpha, dw, dh, f)
        write_case(out, rfmt, rimg, palette, ralpha)
    open(sys.argv[2], 'wb').write(bytes(out))


main()
