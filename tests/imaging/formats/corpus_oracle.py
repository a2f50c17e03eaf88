#!/usr/bin/python3
"""The reference pixels of public test files, for the corpus test.

  corpus_oracle.py OUTDIR FILE...

For each FILE (numbered from 0 in the order given) prints one line
"N W H SOURCE": SOURCE is "ref" when gdk-pixbuf's reference picture FILE.ref.png
gave the pixels, "pillow" when Pillow read FILE itself, "refused" when Pillow
could not read it (W and H are then 0). The 8-bit RGBA rows go to OUTDIR/N.rgba.
"""
import os
import sys
import warnings

from PIL import Image

Image.MAX_IMAGE_PIXELS = 64 * 1024 * 1024


def rgba(path):
    with Image.open(path) as im:
        im.load()
        return im.convert("RGBA")


def main():
    out = sys.argv[1]
    warnings.simplefilter("ignore")
    for n, path in enumerate(sys.argv[2:]):
        ref = path + ".ref.png"
        source = "ref" if os.path.exists(ref) else "pillow"
        try:
            im = rgba(ref if source == "ref" else path)
        except Exception:  # any refusal of Pillow's is a refusal here
            print(n, 0, 0, "refused")
            continue
        with open(os.path.join(out, "%d.rgba" % n), "wb") as f:
            f.write(im.tobytes())
        print(n, im.size[0], im.size[1], source)


if __name__ == "__main__":
    main()
