#!/usr/bin/python3
"""Makes BMP and PNG files with Pillow, ImageMagick and netpbm, and the pixels
other decoders give for them.

  format_oracle.py make DIR     files DIR/<name>.<ext> with DIR/<name>.rgba
                                (8-bit RGBA rows) and DIR/manifest (name ext w h)
  format_oracle.py dump FILE    prints "w h" and the hex RGBA Pillow reads
"""
import os
import subprocess
import sys

from PIL import Image, PngImagePlugin

W, H = 23, 13


def picture():
    im = Image.new("RGB", (W, H))
    im.putdata([((x * 37 + y) % 256, (y * 53 + 7) % 256, ((x ^ y) * 29) % 256) for y in range(H) for x in range(W)])
    return im


def alpha_picture():
    im = picture().convert("RGBA")
    im.putalpha(Image.frombytes("L", (W, H), bytes((x * 11 + y * 17) % 256 for y in range(H) for x in range(W))))
    return im


def magick(src, dst, *args):
    subprocess.run(["convert", src, *args, dst], check=True)


def magick_rgba(path):
    """RGBA rows as libpng-based ImageMagick decodes them, high bytes of 16-bit samples."""
    raw = subprocess.run(["convert", path, "-depth", "16", "rgba:-"], check=True, capture_output=True).stdout
    return bytes(raw[i] for i in range(0, len(raw), 2))  # big-endian: the high byte first


def make(d):
    os.makedirs(d, exist_ok=True)
    rgb, rgba = picture(), alpha_picture()
    src = os.path.join(d, "src.png")
    rgb.save(src)
    srca = os.path.join(d, "srca.png")
    rgba.save(srca)
    files = []  # (name, ext, reference image or None for ImageMagick's reading)

    def pil(name, ext, im, **kw):
        im.save(os.path.join(d, name + "." + ext), **kw)
        files.append((name, ext))

    # PNG: every colour type and depth.
    pil("png_rgb8", "png", rgb)
    pil("png_rgba8", "png", rgba)
    pil("png_grey8", "png", rgb.convert("L"))
    pil("png_greya8", "png", rgba.convert("LA"))
    pil("png_grey1", "png", rgb.convert("1"))
    for bits in (1, 2, 4, 8):
        pal = rgb.convert("P", palette=Image.ADAPTIVE, colors=1 << bits)
        pil("png_pal%d" % bits, "png", pal, bits=bits)
    pal = rgb.convert("P", palette=Image.ADAPTIVE, colors=200)
    pil("png_pal_trns", "png", pal, transparency=bytes((i * 7) % 256 for i in range(100)))
    pil("png_rgb_trns", "png", rgb, transparency=rgb.getpixel((3, 3)))
    info = PngImagePlugin.PngInfo()
    info.add_text("Title", "plain")
    info.add_text("Comment", "zipped " * 20, zip=True)
    info.add_itxt("Author", "\u00e9crit", lang="fr", tkey="Auteur")
    pil("png_text", "png", rgb, pnginfo=info, dpi=(96, 96))
    magick(src, "PNG48:" + os.path.join(d, "png_rgb16.png"))
    files.append(("png_rgb16", "png"))
    magick(srca, "PNG64:" + os.path.join(d, "png_rgba16.png"))
    files.append(("png_rgba16", "png"))
    grey16 = Image.new("I;16", (W, H))
    grey16.putdata([(x * 2851 + y * 4099) % 65536 for y in range(H) for x in range(W)])
    pil("png_grey16", "png", grey16)
    for base in ("png_rgba8", "png_grey8", "png_pal4", "png_rgba16", "png_pal_trns"):
        magick(os.path.join(d, base + ".png"), os.path.join(d, base + "_adam7.png"), "-interlace", "PNG")
        files.append((base + "_adam7", "png"))
    magick(src, "PNG24:" + os.path.join(d, "png_bkgd.png"), "-background", "#FF8000")
    files.append(("png_bkgd", "png"))

    # BMP: Pillow's, ImageMagick's three forms, RLE8, RGB565 and netpbm's.
    pil("bmp_rgb24", "bmp", rgb)
    pil("bmp_pal8", "bmp", rgb.convert("P", palette=Image.ADAPTIVE, colors=256))
    pil("bmp_grey8", "bmp", rgb.convert("L"))
    pil("bmp_bw1", "bmp", rgb.convert("1"))
    for form in ("BMP2", "BMP3", "BMP"):
        magick(src, form + ":" + os.path.join(d, "bmp_im_" + form.lower() + ".bmp"))
        files.append(("bmp_im_" + form.lower(), "bmp"))
    magick(srca, "BMP:" + os.path.join(d, "bmp_im_v5_alpha.bmp"))
    files.append(("bmp_im_v5_alpha", "bmp"))
    magick(src, "BMP3:" + os.path.join(d, "bmp_im_rle8.bmp"), "-colors", "64", "-compress", "RLE", "-type", "Palette")
    files.append(("bmp_im_rle8", "bmp"))
    magick(src, "BMP:" + os.path.join(d, "bmp_im_rgb565.bmp"), "-define", "bmp:subtype=RGB565")
    files.append(("bmp_im_rgb565", "bmp"))
    ppm = os.path.join(d, "src.ppm")
    rgb.save(ppm)
    for name, args in (("bmp_netpbm_win", ["-windows"]), ("bmp_netpbm_os2", ["-os2"])):
        with open(os.path.join(d, name + ".bmp"), "wb") as out:
            subprocess.run(["ppmtobmp", *args, ppm], check=True, stdout=out, stderr=subprocess.DEVNULL)
        files.append((name, "bmp"))

    with open(os.path.join(d, "manifest"), "w") as m:
        for name, ext in files:
            path = os.path.join(d, name + "." + ext)
            if name == "png_grey16":
                # Pillow keeps the 16-bit samples; their high bytes are the 8-bit picture.
                data = b"".join(bytes((v >> 8,) * 3 + (255,)) for v in Image.open(path).getdata())
            elif ext == "png":
                data = magick_rgba(path)
            else:
                data = Image.open(path).convert("RGBA").tobytes()
            with open(os.path.join(d, name + ".rgba"), "wb") as f:
                f.write(data)
            m.write("%s %s %d %d\n" % (name, ext, W, H))


def dump(path):
    im = Image.open(path).convert("RGBA")
    print(im.size[0], im.size[1])
    print(im.tobytes().hex())


if __name__ == "__main__":
    {"make": make, "dump": dump}[sys.argv[1]](sys.argv[2])
