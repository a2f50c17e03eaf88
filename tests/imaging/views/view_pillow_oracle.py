# What Pillow makes of a picture the view shows: the NEAREST enlargement of a
# crop, or the whole picture resized with its triangle (BILINEAR) filter.
# Arguments: picture.png out.rgb nearest x y width height zoom
#            picture.png out.rgb fit width height
# Writes the result's rows as unpadded RGB bytes.
import sys

from PIL import Image

picture = Image.open(sys.argv[1]).convert("RGB")
mode = sys.argv[3]
if mode == "nearest":
    x, y, w, h, zoom = (int(v) for v in sys.argv[4:9])
    result = picture.crop((x, y, x + w, y + h)).resize((w * zoom, h * zoom), Image.NEAREST)
else:
    w, h = int(sys.argv[4]), int(sys.argv[5])
    result = picture.resize((w, h), Image.BILINEAR)
with open(sys.argv[2], "wb") as out:
    out.write(result.tobytes())
