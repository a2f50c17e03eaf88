#!/usr/bin/python3
"""Makes PCX, DCX, PSD and raw pixel files with netpbm, ImageMagick and Pillow,
with the pixels those files hold, and reads what our writers made back
through Pillow, ImageMagick and exiftool.

  pcx_psd_raw_oracle.py make DIR   DIR/<name>.<ext>, DIR/<name>.rgba (8-bit RGBA
                                   rows, top row first) and DIR/manifest, one
                                   line a file: name ext index width height extra
                                   (extra: raw layout "rgb|gray|cmyk 8|16 i|p",
                                   a PSD layer "x y" or "-")
  pcx_psd_raw_oracle.py dump FILE [FRAME]   "w h hex-RGBA" as Pillow reads it
  pcx_psd_raw_oracle.py frames FILE         Pillow's frame count
  pcx_psd_raw_oracle.py layers FILE         one line a layer Pillow lists: "name x0 y0 x1 y1"
  pcx_psd_raw_oracle.py magick FILE[K]      "w h hex-RGBA" as ImageMagick reads it
"""
import os
import subprocess
import sys

from PIL import Image

W, H = 23, 13
CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


def picture(w=W, h=H):
    im = Image.new("RGB", (w, h))
    im.putdata([((x * 37 + y) % 256, (y * 53 + 7) % 256, ((x ^ y) * 29) % 256) for y in range(h) for x in range(w)])
    return im


def alpha_picture():
    im = picture().convert("RGBA")
    im.putalpha(Image.frombytes("L", (W, H), bytes((x * 11 + y * 17) % 256 for y in range(H) for x in range(W))))
    return im


def run(*args, stdout=None):
    subprocess.run(list(args), check=True, stdout=stdout, stderr=subprocess.DEVNULL)


def magick_rgba(spec):
    # The first picture of a file unless one is named ([0] is a PSD's merged image).
    if not spec.endswith("]"):
        spec += "[0]"
    size = subprocess.run([CONVERT, spec, "-format", "%w %h", "info:"], check=True, capture_output=True).stdout
    w, h = (int(v) for v in size.split())
    data = subprocess.run([CONVERT, spec, "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
    return w, h, data


class Maker:
    def __init__(self, d):
        self.d = d
        self.lines = []
        os.makedirs(d, exist_ok=True)

    def path(self, name):
        return os.path.join(self.d, name)

    def add_rgba(self, name, ext, w, h, rgba, index=0, extra="-"):
        with open(self.path(name + ".rgba"), "wb") as f:
            f.write(rgba)
        self.lines.append("%s %s %d %d %d %s" % (name, ext, index, w, h, extra))

    def add(self, name, ext, im, index=0, extra="-"):
        rgba = im.convert("RGBA")
        self.add_rgba(name, ext, rgba.width, rgba.height, rgba.tobytes(), index, extra)

    def finish(self):
        with open(self.path("manifest"), "w") as f:
            f.write("\n".join(self.lines) + "\n")


def make_pcx(m):
    rgb = picture()
    q16 = rgb.quantize(16).convert("RGB")
    q200 = rgb.quantize(200).convert("RGB")
    bw = rgb.convert("1").convert("RGB")
    for name, im in (("src", rgb), ("q16", q16), ("q200", q200), ("bw", bw)):
        im.save(m.path(name + ".ppm"))
    # netpbm: 8-bit with its end palette, 24-bit planes, 16 colours on 4 planes
    # (and packed 4-bit), two colours as 1 bit.
    for name, args, src, im in (("n8", ["-8bit"], "q200", q200), ("n24", ["-24bit"], "src", rgb),
                                ("n16planes", [], "q16", q16), ("n16packed", ["-packed"], "q16", q16),
                                ("nbw", [], "bw", bw)):
        with open(m.path(name + ".pcx"), "wb") as f:
            run("ppmtopcx", *args, m.path(src + ".ppm"), stdout=f)
        m.add(name, "pcx", im)
    # Pillow's own writer, every mode it has.
    for name, im in (("prgb", rgb), ("pp", rgb.quantize(100)), ("pl", rgb.convert("L")), ("p1", rgb.convert("1"))):
        im.save(m.path(name + ".pcx"))
        m.add(name, "pcx", im)
    # ImageMagick's multi-page DCX (its table has all 1024 slots).
    pages = (rgb, q16, bw.resize((9, 5)))
    for i, im in enumerate(pages):
        im.save(m.path("page%d.png" % i))
    run(CONVERT, *[m.path("page%d.png" % i) for i in range(3)], m.path("multi.dcx"))
    for i, im in enumerate(pages):
        m.add("multi_%d" % i, "dcx", im, index=i)


def make_psd(m):
    rgb = picture()
    rgba = alpha_picture()
    small = picture(10, 6)
    rgb.save(m.path("lsrc.png"))
    rgba.save(m.path("lrgba.png"))
    small.save(m.path("lsmall.png"))
    # ImageMagick: the first picture is the merged image, the rest are layers
    # (run-length coded: its default for layers is ZIP, which the filter does not read).
    run(CONVERT, "-compress", "RLE", m.path("lsrc.png"), "(", m.path("lsmall.png"), "-set", "page", "+4+3", ")", "(",
        m.path("lrgba.png"), "-set", "page", "+0+0", ")", "-density", "72", m.path("layered.psd"))
    m.add("layered", "psd", rgb)
    for k, (x, y) in ((1, (4, 3)), (2, (0, 0))):
        w, h, data = magick_rgba(m.path("layered.psd") + "[%d]" % k)
        m.add_rgba("layered_%d" % k, "psdlayer", w, h, data, index=k - 1, extra="%d %d" % (x, y))
    # Other modes and depths of ImageMagick's writer, read to its own pixels.
    for name, args in (("grey", ["-colorspace", "Gray"]), ("rgb16", ["-depth", "16"]),
                       ("bilevel", ["-monochrome"])):
        run(CONVERT, m.path("lsrc.png"), *args, m.path(name + ".psd"))
        w, h, data = magick_rgba(m.path(name + ".psd"))
        m.add_rgba(name, "psd", w, h, data)


def make_raw(m):
    src = picture()
    src.save(m.path("rsrc.png"))
    for kind, pil in (("rgb", src), ("gray", None), ("cmyk", None)):
        for depth in (8, 16):
            if kind == "cmyk" and depth == 16:
                continue
            for interlace, tag in (("none", "i"), ("plane", "p")):
                if kind == "gray" and tag == "p":
                    continue
                name = "raw_%s%d%s" % (kind, depth, tag)
                run(CONVERT, m.path("rsrc.png"), "-depth", str(depth), "-endian", "LSB", "-interlace", interlace,
                    "%s:%s" % (kind, m.path(name + ".raw")))
                if pil is not None:
                    m.add(name, "raw", pil, extra="%s %d %s" % (kind, depth, tag))
                else:
                    # The samples of the 8-bit interleaved file stand for what every layout holds.
                    run(CONVERT, m.path("rsrc.png"), "-depth", "8", "%s:%s" % (kind, m.path(name + ".ref")))
                    with open(m.path(name + ".ref"), "rb") as f:
                        ref = f.read()
                    m.add_rgba(name, "raw", W, H, ref, extra="%s %d %s" % (kind, depth, tag))


def main():
    cmd = sys.argv[1]
    if cmd == "make":
        m = Maker(sys.argv[2])
        make_pcx(m)
        make_psd(m)
        make_raw(m)
        m.finish()
    elif cmd == "dump":
        im = Image.open(sys.argv[2])
        if len(sys.argv) > 3:
            im.seek(int(sys.argv[3]))
        rgba = im.convert("RGBA")
        print(rgba.width, rgba.height, rgba.tobytes().hex())
    elif cmd == "frames":
        print(getattr(Image.open(sys.argv[2]), "n_frames", 1))
    elif cmd == "layers":
        for name, _mode, bbox, _tile in Image.open(sys.argv[2]).layers:
            print(name.decode("latin-1") if isinstance(name, bytes) else name, *bbox)
    elif cmd == "magick":
        w, h, data = magick_rgba(sys.argv[2])
        print(w, h, data.hex())


if __name__ == "__main__":
    main()
