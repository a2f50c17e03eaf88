#!/usr/bin/env python3
"""Reader and writer of vector-object (IEV) streams, written from the layout
tables alone with struct and zlib, for the stream tests.

  iev_oracle.py write DIR     writes one stream per version into DIR
                              (DIR/<hex of version>.iev) with DIR/<hex>.txt,
                              the summary of what each must load as
  iev_oracle.py read FILE     prints the summary of a stream and writes the
                              PNG of each bitmap slot beside it (FILE.slotN.png),
                              each checked by Pillow
"""
import io
import struct
import sys
import zlib

KINDS = {"none": 0, "line": 1, "box": 2, "ellipse": 3, "arc": 4, "bitmap": 5, "text": 6, "ruler": 7,
         "polyline": 8, "angle": 9, "memo": 10, "linelabel": 11}
TEXTUAL = (6, 11, 12)


def logfont(height, face=b"Liberation Sans"):
    return struct.pack("<5i8B", height, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0) + face.ljust(32, b"\0")


def summary(o):
    """One line per object, the fields every version keeps."""
    parts = [str(o["kind"]), *(str(o[k]) for k in ("x1", "y1", "x2", "y2")),
             "pen=%d/%d" % (o["pen"], o["penwidth"]), "brush=%d/%d" % (o["brush"], o["brushstyle"]),
             "alpha=%d" % o["transparency"], "and=%d" % o["andfill"]]
    k = o["kind"]
    if k in (1, 11):
        parts.append("shapes=%d,%d,%d,%d" % (o["begin"], o["end"], o["sw"], o["sh"]))
    if k == 4:
        parts.append("arc=%.3f,%.3f" % (o["start"], o["endangle"]))
    if k in TEXTUAL or k == 10:
        parts.append("text=" + o["text"].decode("latin-1").replace(" ", "_").replace("\n", "|"))
    if k in TEXTUAL or k in (7, 9, 10):
        parts.append("font=%s" % (o["font"] if o["font"] is not None else "-"))
    if k == 6:
        parts.append("curve=%d" % o["curve"])
    if k == 5:
        parts.append("bitmap=%s" % o["bitmap"])
    if k == 7:
        parts.append("ruler=%d,%d" % (o["runit"], o["rtype"]))
    if k == 8:
        parts.append("points=%d" % len(o["points"]))
    if k == 9:
        parts.append("angle=" + ",".join("%d:%d" % p for p in o["apoints"]))
    if k == 10:
        parts.append("formats=%d" % o["formats"])
    return " ".join(parts)


# ---------------------------------------------------------------- writing

def bmp24(w, h, seed):
    rows = b""
    for y in range(h - 1, -1, -1):
        row = b"".join(bytes([(x * 20 + seed) & 255, (y * 30) & 255, 99]) for x in range(w))
        rows += row + b"\0" * ((4 - len(row) % 4) % 4)
    head = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return b"BM" + struct.pack("<IHHI", 14 + len(head) + len(rows), 0, 0, 14 + len(head)) + head + rows


def png_rgb(w, h, seed):
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + b"".join(bytes([99, (y * 30) & 255, (x * 20 + seed) & 255]) for x in range(w))
                   for y in range(h))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def write_record(v, o):
    b = io.BytesIO()
    w = b.write
    k = o["kind"]
    if v >= "<":
        w(struct.pack("<i", 0))
    w(struct.pack("<4iB", o["x1"], o["y1"], o["x2"], o["y2"], k))
    if v >= "M":
        w(b"\0")
    if v >= "R":
        w(b"\0")
    if v >= "S":
        w(struct.pack("<i", 0))
    if v >= "=":
        w(struct.pack("<Bdii", 0, 3.0, 2, 2))
    if v >= "O":
        w(struct.pack("<i3B", 100, 0, 0, 0))
    w(struct.pack("<i", 0))  # AuxText
    w(struct.pack("<iiBiiBB", 0, o["pen"], 0, o["penwidth"], o["brush"], o["brushstyle"], 15))
    if v >= "=":
        w(struct.pack("<i", o["transparency"]))
    if v >= "@":
        w(bytes([o["andfill"]]))
    if v >= "Q":
        w(b"\0")
    if v >= "I":
        w(struct.pack("<i", 0))
    if k == 11:
        w(struct.pack("<iBB", 0xFFFFFF, 0, 1))
        if v >= "P":
            w(b"\1")
    if k in (1, 11):
        w(struct.pack("<BBii", o["begin"], o["end"], o["sw"], o["sh"]))
    if k == 4:
        w(struct.pack("<dd", o["start"], o["endangle"]))
    if k == 5:
        w(struct.pack("<i", 0))
        if v >= "B":
            w(b"\0")
        if v >= "F":
            w(struct.pack("<i", 0))
    if k in TEXTUAL:
        if v >= "4":
            w(b"\0")
        if v >= "9":
            w(b"\0")
        w(struct.pack("<i", len(o["text"])) + o["text"])
        w(b"\1" + logfont(o["font"]))
        if v >= "?":
            w(struct.pack("<i", o["curve"]))
            if o["curve"] > 0:
                for i in range(o["curve"]):
                    w(struct.pack("<dd", i / max(o["curve"] - 1, 1), 0.5))
                w(struct.pack("<i", -10))
    if k == 10:
        w(struct.pack("<i", len(o["text"])) + o["text"])
        w(b"\1" + logfont(o["font"]))
        if v >= "C":
            w(b"\1")
        w(struct.pack("<%di" % len(o["text"]), *([0] * len(o["text"]))))
        w(struct.pack("<i", o["formats"]) + bytes(280) * o["formats"])
        w(struct.pack("<BBiiBBi", 1, 0, 0, 0xFFFFFF, 0, 0, 0))
        if v >= "I":
            w(b"\0")
        if v >= "H":
            w(struct.pack("<4d", 0, 0, 0, 0))
        if v >= "L":
            w(b"\1")
    if v >= "J":
        w(b"\1")
    if k == 7:
        if v >= "5":
            w(struct.pack("<BB", o["runit"], o["rtype"]))
        if v >= "A":
            w(b"\1" + logfont(o["font"]))
    if k == 8 and v >= "8":
        w(struct.pack("<i", len(o["points"])))
        for p in o["points"]:
            w(struct.pack("<ii", *p))
        w(struct.pack("<4i", 0, 0, 100, 100))
        if v >= ";":
            w(b"\0")
    if k == 9:
        if v >= ":":
            for p in o["apoints"]:
                w(struct.pack("<ii", *p))
        if v >= "K":
            w(b"\1" + logfont(o["font"]))
    return b.getvalue()


def obj(kind, x1, y1, x2, y2, **kw):
    o = dict(kind=KINDS[kind], x1=x1, y1=y1, x2=x2, y2=y2, pen=0x0000FF, penwidth=2, brush=0x00FF00,
             brushstyle=0, transparency=255, andfill=0, begin=0, end=0, sw=10, sh=20, start=0.0, endangle=0.0,
             text=b"", font=None, curve=0, bitmap="-", runit=0, rtype=0, points=[], apoints=[(0, 0)] * 3,
             formats=0)
    o.update(kw)
    return o


def objects_for(v):
    """What a stream of version v holds, with the values an older version
    gives to the fields it does not store."""
    old = lambda since, value, default: value if v >= since else default
    objs = [
        obj("line", 10, 20, 90, 25, begin=2, end=1, sw=8, sh=12),
        obj("box", 5, 5, 40, 30, transparency=old("=", 128, 255), andfill=old("@", 1, 0)),
        obj("ellipse", 50, 5, 80, 30, brushstyle=1),
        obj("arc", 0, 40, 30, 70, start=0.25, endangle=2.5),
        obj("bitmap", 40, 40, 60, 60, bitmap="5x3"),
        obj("text", 0, 80, 90, 100, text=b"Caf\xe9 ok", font=-14, curve=old("?", 3, 0)),
        obj("ruler", 0, 110, 100, 110, runit=old("5", 4, 0), rtype=old("5", 1, 0), font=old("A", 11, 12)),
        obj("linelabel", 10, 120, 60, 140, text=b"lab", font=-12),
    ]
    if v >= "8":
        objs.append(obj("polyline", 0, 150, 50, 200, points=[(0, 0), (100, 0), (50, 100)]))
    if v >= ":":
        objs.append(obj("angle", 0, 0, 0, 0, apoints=[(60, 150), (80, 190), (100, 150)], font=old("K", 9, 10)))
    objs.append(obj("memo", 100, 0, 160, 40, text=b"m1\nm2", font=-11, formats=1))
    return objs


def write_stream(v):
    out = io.BytesIO()
    out.write(b"IEV" + v.encode())
    out.write(b"\0\0\0\0")
    out.write(struct.pack("<i", 1) if v == "1" else struct.pack("<d", 1.0))
    out.write(struct.pack("<i", 1))
    out.write(struct.pack("<i", 1))
    if v < "3":
        out.write(bmp24(5, 3, 7))
    else:
        out.write(png_rgb(5, 3, 7))
    if "7" <= v <= "<":
        alpha = b"".join(bytes([40 * y + x]) * 1 for y in range(3) for x in range(5))
        rows = b"".join(alpha[y * 5:(y + 1) * 5] + b"\0" * 3 for y in range(2, -1, -1))  # rows of 8 bytes
        packed = zlib.compress(rows)
        out.write(struct.pack("<i", len(packed)) + packed)
    objs = objects_for(v)
    body = struct.pack("<i", len(objs)) + b"".join(write_record(v, o) for o in objs)
    out.write(zlib.compress(body))
    data = bytearray(out.getvalue())
    data[4:8] = struct.pack("<i", len(data))
    return bytes(data), objs


# ---------------------------------------------------------------- reading

class Reader:
    def __init__(self, data):
        self.d, self.p = data, 0

    def take(self, fmt):
        n = struct.calcsize(fmt)
        if self.p + n > len(self.d):
            raise ValueError("short")
        vals = struct.unpack_from(fmt, self.d, self.p)
        self.p += n
        return vals if len(vals) > 1 else vals[0]

    def bytes(self, n):
        if n < 0 or self.p + n > len(self.d):
            raise ValueError("bad length")
        b = self.d[self.p:self.p + n]
        self.p += n
        return b


def read_font(r):
    if r.take("<B"):
        return struct.unpack_from("<i", r.bytes(60))[0]
    return None


def read_record(v, r):
    o = obj("none", 0, 0, 0, 0)
    if v >= "<":
        r.take("<i")
    o["x1"], o["y1"], o["x2"], o["y2"], k = r.take("<4iB")
    o["kind"] = k
    if v >= "M":
        r.take("<B")
    if v >= "R":
        r.take("<B")
    if v >= "S":
        r.take("<i")
    if v >= "=":
        r.take("<Bdii")
    if v >= "O":
        r.take("<i3B")
    r.bytes(r.take("<i"))
    _, o["pen"], _, o["penwidth"], o["brush"], o["brushstyle"], _ = r.take("<iiBiiBB")
    o["transparency"] = r.take("<i") if v >= "=" else 255
    o["andfill"] = r.take("<B") if v >= "@" else 0
    if v >= "Q":
        r.take("<B")
    if v >= "I":
        r.bytes(r.take("<i"))
    if k == 11:
        r.take("<iBB")
        if v >= "P":
            r.take("<B")
    if k in (1, 11):
        o["begin"], o["end"], o["sw"], o["sh"] = r.take("<BBii")
    if k == 4:
        o["start"], o["endangle"] = r.take("<dd")
    if k == 5:
        o["bitmap"] = r.take("<i")
        if v >= "B":
            r.take("<B")
        if v >= "F":
            r.bytes(r.take("<i"))
    if k in TEXTUAL:
        if v >= "4":
            r.take("<B")
        if v >= "9":
            r.take("<B")
        o["text"] = r.bytes(r.take("<i"))
        o["font"] = read_font(r)
        if v >= "?":
            o["curve"] = r.take("<i")
            if o["curve"] > 0:
                r.bytes(16 * o["curve"] + 4)
    if k == 10:
        o["text"] = r.bytes(r.take("<i"))
        o["font"] = read_font(r)
        if v < "C" or r.take("<B"):
            r.bytes(4 * len(o["text"]))
        o["formats"] = r.take("<i")
        r.bytes(280 * o["formats"])
        r.take("<BBiiBBi")
        has_bitmap = r.take("<B") if v >= "I" else 0
        if has_bitmap:
            r.take("<i")
            if v >= "B":
                r.take("<B")
        if v >= "H":
            r.take("<4d")
        if v >= "L":
            r.take("<B")
    if v >= "J":
        r.take("<B")
    if k == 7:
        if v >= "5":
            o["runit"], o["rtype"] = r.take("<BB")
        if v >= "A":
            o["font"] = read_font(r)
    if k == 8 and v >= "8":
        n = r.take("<i")
        o["points"] = [r.take("<ii") for _ in range(n)]
        r.take("<4i")
        if v >= ";":
            r.take("<B")
    if k == 9:
        if v >= ":":
            o["apoints"] = [r.take("<ii") for _ in range(3)]
        if v >= "K":
            o["font"] = read_font(r)
    return o


def read_stream(path):
    from PIL import Image
    data = open(path, "rb").read()
    assert data[:3] == b"IEV", "no IEV signature"
    v = chr(data[3])
    length = struct.unpack_from("<i", data, 4)[0]
    assert length == len(data), "length field %d, stream %d" % (length, len(data))
    p = 8 + (4 if v == "1" else 8)
    n = struct.unpack_from("<i", data, p)[0]
    p += 4
    sizes = []
    for i in range(n):
        count = struct.unpack_from("<i", data, p)[0]
        p += 4
        if count <= 0:
            sizes.append("-")
            continue
        assert data[p:p + 8] == b"\x89PNG\r\n\x1a\n", "slot %d is no PNG" % i
        q = p + 8
        while True:
            length_, ctype = struct.unpack_from(">I4s", data, q)
            q += 12 + length_
            if ctype == b"IEND":
                break
        png = data[p:q]
        name = "%s.slot%d.png" % (path, i)
        open(name, "wb").write(png)
        im = Image.open(name)
        im.load()
        sizes.append("%dx%d" % im.size)
        p = q
    body = zlib.decompress(data[p:])
    r = Reader(body)
    lines = []
    for _ in range(r.take("<i")):
        o = read_record(v, r)
        if o["kind"] == 5:
            o["bitmap"] = sizes[o["bitmap"]] if 0 <= o["bitmap"] < len(sizes) else "-"
        lines.append(summary(o))
    assert r.p == len(body), "bytes left after the objects"
    print("\n".join(lines))


def main():
    if sys.argv[1] == "write":
        out = sys.argv[2]
        for v in "1237<=?@BCFIMS":
            data, objs = write_stream(v)
            name = "%s/%02x" % (out, ord(v))
            open(name + ".iev", "wb").write(data)
            open(name + ".txt", "w").write("\n".join(summary(o) for o in objs) + "\n")
    else:
        read_stream(sys.argv[2])


if __name__ == "__main__":
    main()
