#!/usr/bin/python3
"""What Pillow makes of JPEG files, for the JPEG reader's oracle tests.

  jpeg_oracle.py cmyk FILE         prints "w h MODE" and the hex samples Pillow reads
  jpeg_oracle.py make_cmyk SRC DST saves SRC (any picture) as a CMYK JPEG, quality 95
  jpeg_oracle.py to_srgb FILE      prints "w h" and the hex RGB of FILE turned from
                                   its embedded ICC profile to sRGB (perceptual)
"""
import io
import sys

from PIL import Image, ImageCms


def dump(w, h, head, data):
    sys.stdout.write("%d %d %s\n%s\n" % (w, h, head, data.hex()))


def main():
    cmd = sys.argv[1]
    if cmd == "cmyk":
        im = Image.open(sys.argv[2])
        im.load()
        dump(im.width, im.height, im.mode, im.tobytes())
    elif cmd == "make_cmyk":
        Image.open(sys.argv[2]).convert("CMYK").save(sys.argv[3], quality=95)
    elif cmd == "to_srgb":
        im = Image.open(sys.argv[2])
        im.load()
        src = ImageCms.ImageCmsProfile(io.BytesIO(im.info["icc_profile"]))
        dst = ImageCms.createProfile("sRGB")
        out = ImageCms.profileToProfile(im, src, dst, renderingIntent=0, outputMode="RGB")
        dump(out.width, out.height, "RGB", out.tobytes())
    else:
        sys.exit("unknown command " + cmd)


main()
