// GIF loads of TImageLibIO: the frame a viewer shows at the requested index,
// composed from the frames before it on a canvas of the logical screen with
// each frame's disposal method.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/format_descriptor.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "platform/rtl/exceptions.h"

namespace {

// A canvas of more pixels than a GIF frame may have is refused: a tiny frame
// on a huge logical screen would otherwise claim gigabytes.
constexpr int64_t kMaxCanvasPixels = int64_t{1} << 27;

struct TGIFFinishGuard {
  TImageLibIO& io;
  ~TGIFFinishGuard() { io.NotifyFinishWork(); }
};

struct TCanvasRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The composed picture: 24-bit colour and an alpha channel, 0 where no frame
// has drawn (or a disposal cleared).
class TGIFCanvas {
public:
  // Disposes of the previous frame, then draws this one at (GifXPos, GifYPos).
  // False when the canvas cannot be had; it is then left as it was.
  bool Draw(TIEBitmap& frame, const TIOParamsVals& params) {
    // A frame reaching past the logical screen widens the canvas rather than
    // losing its pixels there.
    const int cw = std::max<int>(params.GifWinWidth, params.GifXPos + frame.Width());
    const int ch = std::max<int>(params.GifWinHeight, params.GifYPos + frame.Height());
    if (int64_t(cw) * ch > kMaxCanvasPixels) return false;
    FBackground = params.GifBackground;
    if (FDisposal == 2) FillRect(FPrevious, FBackground, 0);
    if (FDisposal == 3 && FSaved) Restore();
    FSaved.reset();
    if (FBitmap.IsEmpty() || FBitmap.Width() < cw || FBitmap.Height() < ch) {
      if (!Grow(cw, ch)) return false;
    }
    const TCanvasRect rect = Clip({params.GifXPos, params.GifYPos, frame.Width(), frame.Height()});
    // Restore to previous: what lay under the frame comes back before the next
    // one. Under the first frame lies the empty canvas, to which a frame with
    // transparency returns; one without stays, as Pillow and ImageMagick show
    // them.
    if (params.GifDisposal == 3 && (FDrawn > 0 || params.GifTransparent)) Save(rect);
    ++FDrawn;
    Paint(frame, params.GifXPos, params.GifYPos);
    FBitmap.AlphaChannel()->SetFull(false);
    FPrevious = rect;
    FDisposal = params.GifDisposal;
    return true;
  }
  TIEBitmap& Bitmap() { return FBitmap; }

private:
  TCanvasRect Clip(TCanvasRect r) {
    const int x2 = std::min(r.x + r.width, FBitmap.Width()), y2 = std::min(r.y + r.height, FBitmap.Height());
    r.x = std::max(r.x, 0), r.y = std::max(r.y, 0);
    r.width = std::max(0, x2 - r.x), r.height = std::max(0, y2 - r.y);
    return r;
  }

  void FillRect(const TCanvasRect& r, TRGB color, uint8_t alpha) {
    const TCanvasRect c = Clip(r);
    for (int y = c.y; y < c.y + c.height; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(FBitmap.ScanLine(y)) + c.x;
      std::fill(row, row + c.width, color);
      uint8_t* a = FBitmap.AlphaChannel()->ScanLine(y) + c.x;
      std::memset(a, alpha, size_t(c.width));
    }
  }

  // A new canvas of the larger size: the old content at the top left, the rest
  // background and transparent.
  bool Grow(int width, int height) {
    width = std::max(width, FBitmap.IsEmpty() ? 0 : FBitmap.Width());
    height = std::max(height, FBitmap.IsEmpty() ? 0 : FBitmap.Height());
    auto grown = std::make_unique<TIEBitmap>();
    grown->SetLocation(ieMemory);
    if (!grown->Allocate(width, height, ie24RGB)) return false;
    TIEBitmap* alpha = grown->AlphaChannel();
    if (alpha == nullptr || alpha->Width() != width) return false;
    for (int y = 0; y < height; ++y) {
      TRGB* row = reinterpret_cast<TRGB*>(grown->ScanLine(y));
      uint8_t* a = alpha->ScanLine(y);
      int kept = 0;
      if (!FBitmap.IsEmpty() && y < FBitmap.Height()) {
        kept = FBitmap.Width();
        std::memcpy(row, FBitmap.ScanLine(y), size_t(kept) * 3);
        std::memcpy(a, FBitmap.AlphaChannel()->ScanLine(y), size_t(kept));
      }
      std::fill(row + kept, row + width, FBackground);
      std::memset(a + kept, 0, size_t(width - kept));
    }
    FBitmap.Assign(grown.get());
    return true;
  }

  void Save(const TCanvasRect& r) {
    FSaved = std::make_unique<TSaved>();
    FSaved->rect = r;
    FSaved->rgb.resize(size_t(r.width) * r.height * 3);
    FSaved->alpha.resize(size_t(r.width) * r.height);
    for (int y = 0; y < r.height; ++y) {
      std::memcpy(&FSaved->rgb[size_t(y) * r.width * 3], FBitmap.ScanLine(r.y + y) + size_t(r.x) * 3,
                  size_t(r.width) * 3);
      std::memcpy(&FSaved->alpha[size_t(y) * r.width], FBitmap.AlphaChannel()->ScanLine(r.y + y) + r.x,
                  size_t(r.width));
    }
  }

  void Restore() {
    const TCanvasRect& r = FSaved->rect;
    for (int y = 0; y < r.height; ++y) {
      std::memcpy(FBitmap.ScanLine(r.y + y) + size_t(r.x) * 3, &FSaved->rgb[size_t(y) * r.width * 3],
                  size_t(r.width) * 3);
      std::memcpy(FBitmap.AlphaChannel()->ScanLine(r.y + y) + r.x, &FSaved->alpha[size_t(y) * r.width],
                  size_t(r.width));
    }
  }

  // The frame's opaque pixels replace the canvas's; its transparent ones leave
  // the canvas as it was. GIF transparency is all or nothing, so this is the
  // alpha-weighted draw with the larger alpha kept.
  void Paint(TIEBitmap& frame, int left, int top) {
    const TCanvasRect c = Clip({left, top, frame.Width(), frame.Height()});
    TIEBitmap* alpha = frame.HasAlphaChannel() ? frame.AlphaChannel() : nullptr;
    for (int y = c.y; y < c.y + c.height; ++y) {
      const int fy = y - top, fx = c.x - left;
      const TRGB* src = reinterpret_cast<const TRGB*>(frame.ScanLine(fy)) + fx;
      TRGB* dst = reinterpret_cast<TRGB*>(FBitmap.ScanLine(y)) + c.x;
      uint8_t* da = FBitmap.AlphaChannel()->ScanLine(y) + c.x;
      const uint8_t* sa = alpha ? alpha->ScanLine(fy) + fx : nullptr;
      for (int x = 0; x < c.width; ++x) {
        if (sa && sa[x] == 0) continue;
        dst[x] = src[x];
        da[x] = std::max<uint8_t>(da[x], sa ? sa[x] : 255);
      }
    }
  }

  struct TSaved {
    TCanvasRect rect;
    std::vector<uint8_t> rgb;
    std::vector<uint8_t> alpha;
  };

  TIEBitmap FBitmap;
  TRGB FBackground;
  int FDisposal = 0;
  int FDrawn = 0;
  TCanvasRect FPrevious;
  std::unique_ptr<TSaved> FSaved;
};

uint32_t ColorOf(TRGB c) { return uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16; }

}  // namespace

int TImageLibIO::ReadGIFStream(TStream& stream) {
  FAborting = false;
  if (!PrepareBitmap()) {
    NotifyFinishWork();
    return 0;
  }
  TGIFFinishGuard finish{*this};
  FParams->ResetMetadata();
  TProgressRecord progress = MakeProgress();
  FIEBitmap->RemoveAlphaChannel(false);
  const int64_t start = stream.Position();
  const int target = FParams->GifImageIndex;
  const TIEFormatDescriptor* gif = FindFormatDescriptor(ioGIF);
  if (gif == nullptr || !gif->Read) {
    FAborting = true;
    return 0;
  }
  // Only a read of the first frame reports the reader's own progress; later
  // frames report the loop's.
  TProgressRecord readerProgress;
  readerProgress.AbortFlag = &FAborting;
  if (target <= 0) readerProgress = progress;

  TGIFCanvas canvas;
  std::unique_ptr<TIEBitmap> single;  // the frame of a one-frame stream
  TIEBitmapFormat format = ieNoFormat;
  bool haveResult = false;
  bool canvasFailed = false;  // the working bitmap is then left as it was
  int frames = 0;
  for (int i = 0;; ++i) {
    auto frame = std::make_unique<TIEBitmap>();
    stream.SetPosition(start);
    FParams->SetImageIndex(i);
    TIEMaskOut mask;
    FParams->SetImageCount(0);
    try {
      TIEFormatReadArgs args{stream, frame.get(), *FParams, readerProgress, mask, false,
                             std::max<int64_t>(0, stream.Size() - start), true};
      gif->Read(args);
    } catch (const std::exception&) {
      FAborting = true;
    }
    const int n = FParams->GifImageCount;
    frames = n;
    if (FAborting) break;
    const TIEBitmapFormat frameFormat = frame->PixelFormat();
    FixDefaultDPI();
    if (n > 1 && frameFormat != ie24RGB && !frame->ConvertToPixelFormat(ie24RGB)) {
      canvasFailed = true;
      progress.Refuse("no memory for the frame");
      break;
    }
    if (mask) frame->AlphaChannel()->CopyFromMask(mask.get());
    mask.reset();
    if (n > 1) {
      if (!canvas.Draw(*frame, *FParams)) {
        canvasFailed = true;
        progress.Refuse("no memory for the canvas");
        break;
      }
      FParams->GifDisposal = 2;
      FParams->GifXPos = FParams->GifYPos = 0;
    } else {
      single = std::move(frame);
    }
    format = frameFormat;
    haveResult = true;
    if (n > 0 && OnProgress) NotifyProgress(this, int(i * (100.0 / n)));
    if (i + 1 >= n || i >= target) break;
  }
  if (haveResult && !canvasFailed) {
    FIEBitmap->Assign(single ? single.get() : &canvas.Bitmap());
    if (FIEBitmap->PixelFormat() != format) FIEBitmap->ConvertToPixelFormat(format);
  }
  FParams->SetImageIndex(target);
  if (AutoAdjustDPI) AdjustDPI();
  SetBackground(ColorOf(FParams->GifTransparent ? FParams->GifTransparentColor : FParams->GifBackground));
  FParams->FileType = ioGIF;
  FParams->FileName.clear();
  UpdateAttached();
  return frames;
}
