# The memo layout written again from its rules, over glyph advances that
# Pillow's FreeType binding gives for the same font file, and metrics read from
# the font's own tables the way Windows makes tmHeight. The input lists the
# font and the cases; the answer gives, per case, the left and line top of
# every character and the caret rectangle.
import struct, sys
from PIL import ImageFont

def tables(path):
    data = open(path, 'rb').read()
    n = struct.unpack_from('>H', data, 4)[0]
    out = {}
    for i in range(n):
        tag, _, off, length = struct.unpack_from('>4sIII', data, 12 + 16 * i)
        out[tag] = data[off:off + length]
    return out

def metrics(path, ppem):
    t = tables(path)
    upem = struct.unpack_from('>H', t[b'head'], 18)[0]
    win_ascent, win_descent = struct.unpack_from('>HH', t[b'OS/2'], 74)
    ascent = int(win_ascent * ppem / upem + 0.5)
    descent = int(win_descent * ppem / upem + 0.5)
    height = ascent + descent
    return height, max(0, height - ppem), descent

def trunc(v):
    return int(v)  # toward zero, as the layout truncates

def layout(font, size, path, case):
    width, height, ml, mt, mr, mb, align, zoom, fixed, spacing, caret, text = case
    n = len(text)
    cell, lead, desc = metrics(path, size)
    adv = {}
    def w(ch):
        c = ch if (ord(ch) >= 31 and ord(ch) != 127) else ' '
        if c not in adv:
            adv[c] = int(font.getlength(c) + 0.5)
        return adv[c]
    H_ch = fixed if fixed else cell
    L_ch, IL_ch, D_ch = H_ch, (0 if fixed else lead), (0 if fixed else desc)
    W = trunc(width - width * mr / 100 - width * ml / 100) - 2
    ox = trunc(width * ml / 100) + 1
    oy = trunc(height * mt / 100) + 1
    cx = [-1] * (n + 1)
    ct = [-1] * (n + 1)
    # An empty text: the caret as high as the canvas font (its size here).
    car = [ox, oy, H_ch if n else size]
    start, line_y = 0, 0
    end_pos = None
    while start < n:
        x = 0
        brk = n
        p = start
        while p < n:
            if text[p] == '\n':
                brk = p + 1
                break
            if x + w(text[p]) + 2 >= W:
                q = p - 1
                while q > start and text[q] != ' ':
                    q -= 1
                brk = q + 1 if q > start else p
                break
            x += w(text[p])
            p += 1
        if brk == start:
            break
        L, IL = L_ch, IL_ch
        last = brk - 1
        if last >= start and text[last] == '\n':
            last -= 1
        if last >= start and text[last] == ' ':
            last -= 1
        offset, factor = 0, 1.0
        if last >= start:
            last_end = sum(w(c) for c in text[start:last + 1])
            para_end = brk >= n or text[brk - 1] == '\n'
            if align == 1:
                offset = W - last_end - 1
            elif align == 2:
                offset = int((W - last_end) / 2)
            elif align == 3 and not para_end:
                factor = W / (last_end + 1)
        s = 0
        for i in range(start, brk):
            xi = trunc(s * factor) + offset
            cx[i], ct[i] = xi + ox, oy + line_y
            if caret == i:
                car = [xi + ox, oy + line_y, L]
            elif i < caret:
                car = [xi + ox + w(text[i]), oy + line_y, L]
                if text[i] == '\n':
                    car = [ox, oy + line_y + L, L]
            end_pos = (ox, oy + line_y + L) if text[i] == '\n' else (xi + ox + w(text[i]), oy + line_y)
            s += w(text[i])
        start = brk
        line_y += L + spacing
    if zoom != 1:
        cx = [trunc(v * zoom) if v >= 0 else v for v in cx]
        ct = [trunc(v * zoom) if v >= 0 else v for v in ct]
        car = [trunc(v * zoom) for v in car]
        if end_pos:
            end_pos = (trunc(end_pos[0] * zoom), trunc(end_pos[1] * zoom))
    if start >= n and end_pos:
        cx[n], ct[n] = end_pos
    cc = min(max(caret, 0), n)
    cx[cc], ct[cc] = car[0], car[1]
    return cx, ct, car

lines = open(sys.argv[1], encoding='latin-1').read().split('\n')
path, size = lines[0], int(lines[1])
font = ImageFont.truetype(path, size)
out = []
for line in lines[2:]:
    if not line:
        continue
    f = line.split('\t')
    case = [int(f[0]), int(f[1]), float(f[2]), float(f[3]), float(f[4]), float(f[5]), int(f[6]), float(f[7]),
            int(f[8]), int(f[9]), int(f[10]), f[11].replace('\\n', '\n')]
    cx, ct, car = layout(font, size, path, case)
    out.append(' '.join(map(str, cx)) + '|' + ' '.join(map(str, ct)) + '|' + ' '.join(map(str, car)))
open(sys.argv[2], 'w').write('\n'.join(out) + '\n')
