"""Pillow's side of the GIF filter and composition tests.

  gif_oracle.py make DIR          writes Pillow GIFs of several kinds into DIR
  gif_oracle.py frames GIF OUT    writes each frame Pillow shows, as RGBA, to OUT.<i>
                                  (4 bytes width, 4 bytes height, little-endian, then the rows)
  gif_oracle.py indices GIF       prints the frame count and, per frame, its size
"""
import struct
import sys

from PIL import Image, ImageSequence


def pattern(w, h, k, colors):
    img = Image.new("P", (w, h))
    img.putpalette(colors)
    n = len(colors) // 3
    img.putdata([(x * 3 + y * 5 + k) % n for y in range(h) for x in range(w)])
    return img


def make(folder):
    # Palettes of 2 to 256 entries, interlaced (Pillow's default) and not.
    for bits in (1, 2, 3, 5, 8):
        n = 1 << bits
        colors = []
        for i in range(n):
            colors += [(i * 37) % 256, (i * 91 + 7) % 256, (255 - i * 13) % 256]
        pattern(23, 17, bits, colors).save(f"{folder}/pil_bits{bits}.gif", interlace=bits % 2 == 1)
    # A grey picture.
    Image.linear_gradient("L").resize((40, 30)).save(f"{folder}/pil_grey.gif")
    # An animation with frames of their own palettes (local tables), offsets
    # (Pillow crops unchanged borders), transparency and every disposal.
    frames = []
    for k in range(5):
        img = Image.new("RGBA", (30, 20), (0, 0, 0, 0))
        for y in range(20):
            for x in range(30):
                if 3 + k * 2 <= x < 15 + k * 3 and 2 + k <= y < 12 + k:
                    img.putpixel((x, y), ((x * 20 + k * 40) % 256, (y * 30) % 256, (k * 60) % 256, 255))
        frames.append(img)
    frames[0].save(f"{folder}/pil_anim.gif", save_all=True, append_images=frames[1:], duration=[10, 20, 30, 40, 50],
                   disposal=[0, 1, 2, 3, 1], loop=0, optimize=False)
    frames[0].save(f"{folder}/pil_anim_restore.gif", save_all=True, append_images=frames[1:], duration=10,
                   disposal=3, loop=0, optimize=False)
    frames[0].save(f"{folder}/pil_anim_background.gif", save_all=True, append_images=frames[1:], duration=10,
                   disposal=2, loop=0, optimize=False)


def frames(path, out):
    im = Image.open(path)
    for i, frame in enumerate(ImageSequence.Iterator(im)):
        rgba = frame.convert("RGBA")
        with open(f"{out}.{i}", "wb") as f:
            f.write(struct.pack("<II", rgba.width, rgba.height))
            f.write(rgba.tobytes())


def main():
    if sys.argv[1] == "make":
        make(sys.argv[2])
    elif sys.argv[1] == "frames":
        frames(sys.argv[2], sys.argv[3])


main()
