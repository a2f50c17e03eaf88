// Feeds arbitrary bytes to the GIF picture: loads them, renders every frame
// (plain and dithered), draws the picture, optimises it and writes it again.
#include <cstddef>
#include <cstdint>

#include "pictures/gif/gif_image.h"
#include "platform/graphics/graphics_canvas.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCustomMemoryStream stream(data, static_cast<int64_t>(size));
  TGIFImage image;
  try {
    image.LoadFromStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  // Keep the work per input small: pictures of huge screens or frames (a few
  // bytes may declare millions of pixels) are only saved.
  int64_t pixels = int64_t{image.Width()} * image.Height();
  for (int i = 0; i < image.Frames().Count(); ++i) pixels += static_cast<int64_t>(image.Frames()[i]->PixelBytes());
  const bool small = pixels <= 1 << 20;
  try {
    for (int i = 0; i < image.Frames().Count() && small; ++i) image.Frames()[i]->GetRendering();
    if (small) {
      TBitmap target;
      target.SetSize(32, 32);
      image.SetDrawFlags(dfMasked | dfTiled);
      image.Draw(target.Canvas(), TRect{0, 0, 32, 32});
    }
  } catch (const Exception&) {
  }
  for (TGIFCompressionKind kind : {ckLZW, ckRunLength}) {
    if (!small) break;
    TGIFImage copy;
    try {
      copy.Assign(&image);
      copy.SetCompressionKind(kind);
      copy.OptimizeFrames(ofCrop | ofMerge | ofCleanup | ofColorTables, rdNone, dkNearest, 8);
      TMemoryStream out;
      copy.SaveToStream(out);
    } catch (const Exception&) {
    }
  }
  return 0;
}
