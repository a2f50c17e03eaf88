# Pillow's side of the thumbnail grid's tests.
#   box picture.png out.rgb width height
#       the picture reduced with Pillow's BOX filter (an area average), as RGB rows
#   cache out.png uri mtime width height [size]
#       a desktop thumbnail-cache entry: a PNG with the Thumb::URI and
#       Thumb::MTime (and Thumb::Size) text keys, filled with a gradient
import sys

from PIL import Image, PngImagePlugin

mode = sys.argv[1]
if mode == "box":
    picture = Image.open(sys.argv[2]).convert("RGB")
    w, h = int(sys.argv[4]), int(sys.argv[5])
    with open(sys.argv[3], "wb") as out:
        out.write(picture.resize((w, h), Image.BOX).tobytes())
elif mode == "cache":
    out, uri, mtime, w, h = sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), int(sys.argv[6])
    picture = Image.new("RGB", (w, h))
    picture.putdata([(x * 255 // max(w - 1, 1), y * 255 // max(h - 1, 1), 200) for y in range(h) for x in range(w)])
    info = PngImagePlugin.PngInfo()
    info.add_text("Thumb::URI", uri)
    info.add_text("Thumb::MTime", mtime)
    if len(sys.argv) > 7:
        info.add_text("Thumb::Size", sys.argv[7])
    picture.save(out, pnginfo=info)
