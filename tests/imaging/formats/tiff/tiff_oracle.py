#!/usr/bin/python3
"""Makes TIFF files with libtiff's tiffcp, Pillow and ImageMagick, and the
RGBA raster libtiff's tiff2rgba decodes from each.

  tiff_oracle.py make DIR   DIR/<name>.tif, DIR/<name>.rgba (the raster's
                            8-bit RGBA rows, top row first, as tiff2rgba stores
                            them: colour premultiplied by alpha) and DIR/manifest,
                            one line a file: name width height tolerance
                            premultiplied (0: colour beside alpha as it is)
  tiff_oracle.py dump FILE INDEX OUT  page INDEX as Pillow reads it: its RGBA
                            rows to OUT, "width height dpix dpiy pages mode" printed
  tiff_oracle.py info FILE  "width height pages xres yres unit orientation"
                            as tiffinfo/tiffdump report the first page
"""
import os
import subprocess
import sys

from PIL import Image

W, H = 37, 23


def photo():
    im = Image.new("RGB", (W, H))
    im.putdata([((x * 37 + y * 3) % 256, (y * 53 + 7 + x) % 256, ((x ^ y) * 29) % 256)
                for y in range(H) for x in range(W)])
    return im


def page():
    # Runs of every length a row can hold, so fax codes of all kinds appear.
    w, h = 61, 45
    im = Image.new("1", (w, h), 1)
    px = im.load()
    for y in range(h):
        for x in range(w):
            if (x * y + x // 3) % (y % 7 + 2) == 0 or (y > 30 and 10 < x < 50):
                px[x, y] = 0
    return im


def alpha(w=W, h=H):
    return Image.frombytes("L", (w, h), bytes((x * 11 + y * 17) % 256 for y in range(h) for x in range(w)))


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make(d):
    os.makedirs(d, exist_ok=True)
    made = []  # (name, tolerance)
    src_photo = os.path.join(d, "src_photo.tif")
    src_page = os.path.join(d, "src_page.tif")
    photo().save(src_photo)
    page().save(src_page)

    def tiffcp(name, src, *args, tol=0):
        out = os.path.join(d, name + ".tif")
        run(["tiffcp", *args, src, out])
        made.append((name, tol))

    for c in ["none", "lzw", "lzw:2", "zip", "zip:2", "packbits"]:
        tiffcp("photo_" + c.replace(":", "_"), src_photo, "-c", c)
    tiffcp("photo_jpeg", src_photo, "-c", "jpeg", tol=12)
    tiffcp("photo_jpeg_rgb", src_photo, "-c", "jpeg:r", tol=12)
    for c in ["none", "lzw", "packbits", "g3", "g3:2d", "g4"]:
        tiffcp("page_" + c.replace(":", "_"), src_page, "-c", c)
    tiffcp("page_g3_lsb", src_page, "-c", "g3:2d", "-f", "lsb2msb")
    tiffcp("page_g4_lsb", src_page, "-c", "g4", "-f", "lsb2msb")
    tiffcp("photo_lzw_lsb", src_photo, "-c", "lzw", "-f", "lsb2msb")
    tiffcp("photo_tiles", src_photo, "-c", "lzw", "-t", "-w", "16", "-l", "16")
    tiffcp("page_tiles", src_page, "-c", "g4", "-t", "-w", "16", "-l", "16")
    tiffcp("photo_separate", src_photo, "-c", "lzw:2", "-p", "separate")
    tiffcp("photo_separate_tiles", src_photo, "-c", "zip", "-p", "separate", "-t", "-w", "16", "-l", "16")
    tiffcp("photo_big", src_photo, "-c", "lzw:2", "-B")
    tiffcp("page_big", src_page, "-c", "g4", "-B")
    tiffcp("photo_rows1", src_photo, "-c", "zip", "-r", "1")
    tiffcp("photo_rows7", src_photo, "-c", "packbits", "-r", "7")
    tiffcp("page_rows7", src_page, "-c", "g3:2d", "-r", "7")

    def pil(name, im, premultiplied=1, **kw):
        im.save(os.path.join(d, name + ".tif"), **kw)
        made.append((name, 0, premultiplied))

    pil("pil_ccitt", page(), compression="tiff_ccitt")
    pil("pil_group3", page(), compression="group3")
    pil("pil_group4", page(), compression="group4")
    pil("pil_1", page())
    pil("pil_L", photo().convert("L"))
    pil("pil_P", photo().convert("P", palette=Image.ADAPTIVE, colors=37))
    la = photo().convert("L")
    la.putalpha(alpha())
    # libtiff leaves grey beside alpha as it is, not premultiplied.
    pil("pil_LA", la, premultiplied=0)
    rgba = photo().convert("RGBA")
    rgba.putalpha(alpha())
    pil("pil_RGBA", rgba)
    pil("pil_RGBA_lzw", rgba, compression="tiff_lzw")
    pil("pil_CMYK", photo().convert("CMYK"))
    i16 = Image.new("I;16", (W, H))
    i16.putdata([(x * 1771 + y * 997) % 65536 for y in range(H) for x in range(W)])
    pil("pil_I16", i16)

    def magick(name, *args, tol=0):
        out = os.path.join(d, name + ".tif")
        run(["convert", src_photo, *args, out])
        made.append((name, tol))

    magick("im_depth2", "-colorspace", "Gray", "-depth", "2")
    magick("im_depth4", "-colorspace", "Gray", "-depth", "4")
    magick("im_depth16", "-depth", "16")
    magick("im_grey16", "-colorspace", "Gray", "-depth", "16")
    magick("im_palette", "-type", "Palette")
    magick("im_palette4", "-colors", "12", "-type", "Palette", "-depth", "4")
    magick("im_cmyk", "-colorspace", "CMYK", tol=3)
    # libtiff maps CIE L*a*b* through its display model, which clips colours
    # out of its gamut harder than the plain formulas do.
    magick("im_lab", "-colorspace", "Lab", tol=28)
    src_rgba = os.path.join(d, "src_rgba.png")
    rgba.save(src_rgba)
    for n, a in [("im_alpha_unassoc", "unassociated"), ("im_alpha_assoc", "associated")]:
        out = os.path.join(d, n + ".tif")
        run(["convert", src_rgba, "-define", "tiff:alpha=" + a, out])
        made.append((n, 2))

    with open(os.path.join(d, "manifest"), "w") as m:
        for entry in made:
            name, tol = entry[0], entry[1]
            premultiplied = entry[2] if len(entry) > 2 else 1
            tif = os.path.join(d, name + ".tif")
            raster = os.path.join(d, name + ".raster.tif")
            run(["tiff2rgba", "-c", "none", tif, raster + ".1"])
            # Bit order must be plain for Pillow to read the raster.
            run(["tiffcp", "-f", "msb2lsb", raster + ".1", raster])
            os.remove(raster + ".1")
            # The raster's stored bytes, taken from its uncompressed strips:
            # decoding through Pillow would undo the premultiplied alpha.
            im = Image.open(raster)
            with open(raster, "rb") as f:
                whole = f.read()
            data = b"".join(whole[o:o + n] for o, n in zip(im.tag_v2[273], im.tag_v2[279]))
            with open(os.path.join(d, name + ".rgba"), "wb") as f:
                f.write(data)
            m.write("%s %d %d %d %d\n" % (name, im.size[0], im.size[1], tol, premultiplied))


def info(path):
    out = subprocess.run(["tiffinfo", path], check=True, capture_output=True, text=True).stdout
    w = h = 0
    xres = yres = 0.0
    unit = "none"
    orient = 1
    pages = out.count("TIFF Directory at offset")
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("Image Width:") and w == 0:
            parts = line.split()
            w, h = int(parts[2]), int(parts[5])
        if line.startswith("Resolution:") and xres == 0:
            r = line.split(":", 1)[1].split(",")
            xres = float(r[0])
            yres = float(r[1].split()[0])
            if "pixels/inch" in line:
                unit = "inch"
            elif "pixels/cm" in line:
                unit = "cm"
    print(w, h, pages, xres, yres, unit, orient)


def dump(path, index, out):
    im = Image.open(path)
    frames = getattr(im, "n_frames", 1)
    im.seek(int(index))
    dpi = im.info.get("dpi", (0, 0))
    mode = im.mode
    if mode.startswith("I;16"):
        # Grey words to 8 bits, the upper byte as the reader shows them.
        data = bytes(b for v in im.getdata() for b in (v >> 8, v >> 8, v >> 8, 255))
    else:
        data = im.convert("RGBA").tobytes()
    with open(out, "wb") as f:
        f.write(data)
    print(im.size[0], im.size[1], round(float(dpi[0])), round(float(dpi[1])), frames, mode)


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
    elif sys.argv[1] == "dump":
        dump(sys.argv[2], sys.argv[3], sys.argv[4])
    elif sys.argv[1] == "info":
        info(sys.argv[2])
