// An icon image as an X bitmap: the colours drawn onto a black-and-white
// picture, the AND mask as the XBM's mask, the hotspot as its hotspot.
#include "base/toolbox/bitmap_utils.h"
#include "icons/sub_icon_render.h"
#include "pictures/xpm/xpm_image.h"

bool AssignSubIconToXbm(TSubIcon& image, TPersistent* dest) {
  auto* xbm = dynamic_cast<TXBMImage*>(dest);
  if (!xbm) return false;
  TBitmap colour;
  std::unique_ptr<TBitmap> mask = NewMonoBitmap();
  ExtractBitmaps(image, &colour, nullptr, 0, mask.get());
  SetBitmapFormat(xbm, colour.Width(), colour.Height(), pf1bit);
  xbm->Canvas()->Draw(0, 0, &colour);
  if (!xbm->MaskBitmap) xbm->MaskBitmap = NewMonoBitmap();
  xbm->MaskBitmap->Assign(mask.get());
  xbm->HotSpotX = image.HotspotX();
  xbm->HotSpotY = image.HotspotY();
  return true;
}
