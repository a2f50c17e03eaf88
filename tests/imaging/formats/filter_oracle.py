#!/usr/bin/python3
"""Makes icon, cursor, Targa, anymap and wireless bitmap files with icotool,
netpbm, ImageMagick and Pillow, with the pixels those files hold, and reads
what our writers made back through Pillow.

  filter_oracle.py make DIR   DIR/<name>.<ext>, DIR/<name>.rgba (8-bit RGBA rows,
                              top row first) and DIR/manifest, one line a file:
                              name ext index width height alpha hotx hoty
                              (alpha 1: compare alpha; 0: the file is opaque)
  filter_oracle.py ico FILE   one line an image Pillow finds: "w h hex-RGBA"
  filter_oracle.py dump FILE...  "w h hex-RGBA" as Pillow reads each file
"""
import os
import subprocess
import sys

from PIL import Image, IcoImagePlugin  # noqa: F401  (the plugin reads .ico)

W, H = 23, 13


def picture():
    im = Image.new("RGB", (W, H))
    im.putdata([((x * 37 + y) % 256, (y * 53 + 7) % 256, ((x ^ y) * 29) % 256) for y in range(H) for x in range(W)])
    return im


def alpha_picture(w=W, h=H):
    im = picture().resize((w, h), Image.NEAREST).convert("RGBA")
    im.putalpha(Image.frombytes("L", (w, h), bytes((x * 11 + y * 17) % 256 for y in range(h) for x in range(w))))
    return im


def run(*args, stdout=None):
    subprocess.run(list(args), check=True, stdout=stdout)


class Maker:
    def __init__(self, d):
        self.d = d
        self.lines = []
        os.makedirs(d, exist_ok=True)

    def path(self, name):
        return os.path.join(self.d, name)

    def add(self, name, ext, im, index=0, alpha=False, hot=(0, 0)):
        rgba = im.convert("RGBA")
        with open(self.path(name + ".rgba"), "wb") as f:
            f.write(rgba.tobytes())
        self.lines.append("%s %s %d %d %d %d %d %d" % (name, ext, index, rgba.width, rgba.height, int(alpha), hot[0], hot[1]))

    def finish(self):
        with open(self.path("manifest"), "w") as f:
            f.write("\n".join(self.lines) + "\n")


def make_icons(m):
    rgb, rgba = picture(), alpha_picture()
    rgb.save(m.path("src_rgb.png"))
    rgba.save(m.path("src_rgba.png"))
    pal = {1: rgb.convert("1")}
    pal[1].save(m.path("src_p1.png"))
    for bits, colors in ((4, 16), (8, 200)):
        p = rgb.quantize(colors)
        p.save(m.path("src_p%d.png" % bits))
        pal[bits] = p
    big = alpha_picture(256, 256)
    big.save(m.path("src_big.png"))
    # One file of every depth, then a PNG-compressed 256 x 256 image.
    run("icotool", "-c", "-o", m.path("all.ico"), "-b", "1", m.path("src_p1.png"), "-b", "4", m.path("src_p4.png"),
        "-b", "8", m.path("src_p8.png"), "-b", "24", m.path("src_rgb.png"), "-b", "32", m.path("src_rgba.png"),
        "-r", m.path("src_big.png"))
    for index, (im, alpha) in enumerate(((pal[1], False), (pal[4], False), (pal[8], False), (rgb, False),
                                         (rgba, True), (big, True))):
        m.add("all_%d" % index, "ico", im, index=index, alpha=alpha)
    # Cursors with their hot spots.
    run("icotool", "-c", "--cursor", "-X", "5", "-Y", "7", "-o", m.path("c32.cur"), m.path("src_rgba.png"))
    m.add("c32", "cur", rgba, alpha=True, hot=(5, 7))
    run("icotool", "-c", "--cursor", "-X", "22", "-Y", "1", "-b", "8", "-o", m.path("c8.cur"), m.path("src_p8.png"))
    m.add("c8", "cur", pal[8], hot=(22, 1))
    run("icotool", "-c", "--cursor", "-X", "0", "-Y", "12", "-b", "1", "-o", m.path("c1.cur"), m.path("src_p1.png"))
    m.add("c1", "cur", pal[1], hot=(0, 12))


def tga_by_hand(path, im, descriptor):
    """A true-colour Targa whose pixels are stored right to left (bit 0x10)."""
    flopped = im.transpose(Image.FLIP_LEFT_RIGHT)
    depth = 32 if im.mode == "RGBA" else 24
    head = bytes([0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, im.width & 255, im.width >> 8, im.height & 255, im.height >> 8,
                  depth, descriptor | (8 if depth == 32 else 0)])
    rows = list(range(im.height)) if descriptor & 0x20 else list(range(im.height - 1, -1, -1))
    px = flopped.load()
    body = bytearray()
    for y in rows:
        for x in range(im.width):
            p = px[x, y]
            body += bytes([p[2], p[1], p[0]] + ([p[3]] if depth == 32 else []))
    with open(path, "wb") as f:
        f.write(head + body)


def make_targa(m):
    rgb = picture()
    rgb.save(m.path("src.ppm"))
    rgb.convert("L").save(m.path("src.pgm"))
    rgb.convert("1").save(m.path("src.pbm"))
    few = rgb.quantize(200).convert("RGB")
    few.save(m.path("few.ppm"))
    for name, args, src, im in (("t_rle", [], "src.ppm", rgb), ("t_raw", ["-norle"], "src.ppm", rgb),
                                ("t_cmap", ["-cmap"], "few.ppm", few), ("t_cmap_raw", ["-cmap", "-norle"], "few.ppm", few),
                                ("t_grey", [], "src.pgm", rgb.convert("L")),
                                ("t_mono", ["-mono"], "src.pbm", rgb.convert("1"))):
        with open(m.path(name + ".tga"), "wb") as f:
            run("pamtotga", *args, m.path(src), stdout=f)
        m.add(name, "tga", im)
    # Right to left, by hand from ImageMagick's mirror image.
    run("convert", m.path("src.ppm"), "-flop", m.path("flop.ppm"))
    flopped_back = Image.open(m.path("flop.ppm")).transpose(Image.FLIP_LEFT_RIGHT)
    tga_by_hand(m.path("rtl_bottom.tga"), flopped_back, 0x10)
    m.add("rtl_bottom", "tga", rgb)
    tga_by_hand(m.path("rtl_top.tga"), flopped_back, 0x30)
    m.add("rtl_top", "tga", rgb)
    tga_by_hand(m.path("rtl_alpha.tga"), alpha_picture(), 0x10)
    m.add("rtl_alpha", "tga", alpha_picture(), alpha=True)
    Image.open(m.path("src_rgba.png")).save(m.path("pil_rle.tga"), compression="tga_rle")
    m.add("pil_rle", "tga", alpha_picture(), alpha=True)


def scaled(path, im):
    """The picture a file of maximum M holds, each sample v as floor(v * 255 / M)."""
    with open(path, "rb") as f:
        data = f.read()
    tokens, pos = [], 0
    while len(tokens) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b"\r"):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        tokens.append(data[start:pos])
    pos += 1
    magic, w, h, mx = tokens[0], int(tokens[1]), int(tokens[2]), int(tokens[3])
    n = 3 if magic == b"P6" else 1
    size = 2 if mx > 255 else 1
    out = bytearray()
    for i in range(w * h * n):
        v = data[pos + i * size] if size == 1 else data[pos + 2 * i] << 8 | data[pos + 2 * i + 1]
        out.append(v * 255 // mx)
    return Image.frombytes("RGB" if n == 3 else "L", (w, h), bytes(out))


def make_pnm(m):
    rgb = picture()
    rgb.save(m.path("n6.ppm"))
    rgb.convert("L").save(m.path("n5.pgm"))
    rgb.convert("1").save(m.path("n4.pbm"))
    for src, name, im in (("n6.ppm", "n3", rgb), ("n5.pgm", "n2", rgb.convert("L")), ("n4.pbm", "n1", rgb.convert("1"))):
        with open(m.path(name + ".pnm"), "wb") as f:
            run("pnmtoplainpnm", m.path(src), stdout=f)
        m.add(name, "pnm", im)
    for name, im in (("n6", rgb), ("n5", rgb.convert("L")), ("n4", rgb.convert("1"))):
        os.rename(m.path(name + "." + {"n6": "ppm", "n5": "pgm", "n4": "pbm"}[name]), m.path(name + ".pnm"))
        m.add(name, "pnm", im)
    for name, depth, src in (("d15", "15", "n6.pnm"), ("d1023", "1023", "n6.pnm"), ("g16", "65535", "n5.pnm"),
                             ("g15", "15", "n5.pnm")):
        with open(m.path(name + ".pnm"), "wb") as f:
            run("pamdepth", depth, m.path(src), stdout=f)
        m.add(name, "pnm", scaled(m.path(name + ".pnm"), None))
    with open(m.path("d1023_plain.pnm"), "wb") as f:
        run("pnmtoplainpnm", m.path("d1023.pnm"), stdout=f)
    m.add("d1023_plain", "pnm", scaled(m.path("d1023.pnm"), None))


def make_wbmp(m):
    for w in (100, 200, 300):
        im = Image.new("1", (w, 5))
        im.putdata([1 if (x * 7 + y * 3) % 11 < 5 else 0 for y in range(5) for x in range(w)])
        im.save(m.path("w%d.pbm" % w))
        with open(m.path("w%d.wbmp" % w), "wb") as f:
            run("pbmtowbmp", m.path("w%d.pbm" % w), stdout=f)
        m.add("w%d" % w, "wbmp", im)


def hexdump(im):
    return "%d %d %s" % (im.width, im.height, im.convert("RGBA").tobytes().hex())


def main():
    if sys.argv[1] == "make":
        m = Maker(sys.argv[2])
        make_icons(m)
        make_targa(m)
        make_pnm(m)
        make_wbmp(m)
        m.finish()
    elif sys.argv[1] == "ico":
        im = Image.open(sys.argv[2])
        for i in range(len(im.ico.entry)):
            print(hexdump(im.ico.frame(i)))
    elif sys.argv[1] == "dump":
        for path in sys.argv[2:]:
            print(hexdump(Image.open(path)))


if __name__ == "__main__":
    main()
