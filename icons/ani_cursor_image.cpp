#include "icons/ani_cursor_image.h"

#include <cstring>

#include "base/toolbox/blend.h"
#include "base/toolbox/image_conversion.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/rounding.h"

namespace {

// An 8-bit copy of a bitmap of any format: copied when it is 8-bit already,
// else reduced (an exact palette for at most 256 colours).
void EightBitCopy(TBitmap* source, TBitmap* target) {
  if (source->PixelFormat() == pf8bit) {
    target->Assign(source);
  } else {
    ReduceTo256Colors(source, target, false, false, 1);
  }
}

}  // namespace

TAniCursorImage::TAniCursorImage() = default;

void TAniCursorImage::LoadFromStream(TStream& stream) {
  TAnimatedCursor cursor;
  cursor.LoadFromStream(stream);
  FStepCount = cursor.GetStepCount();
  TSubIcon* first = cursor.GetFrameCount() > 0 ? cursor.GetFrameImage(0) : nullptr;
  FDepth = FStepCount > 0 && first ? first->GetBitsPerPixel() : 0;
  BuildFrames(cursor, FBackground);
}

int TAniCursorImage::AddStepFrame(TBitmap* colour, TBitmap* mask) {
  auto frame = std::make_unique<TGIFSubImage>(this);
  TBitmap reduced;
  TBitmap* chosen = colour;
  const TPixelFormat pf = colour->PixelFormat();
  if (pf != pf1bit && pf != pf4bit) {
    EightBitCopy(colour, &reduced);
    chosen = &reduced;
    // With all 256 indices in use the mask needs one of them freed.
    std::vector<int64_t> used(256, 0);
    for (int y = 0; y < reduced.Height(); ++y) {
      const auto* row = static_cast<const uint8_t*>(reduced.ScanLine(y));
      for (int x = 0; x < reduced.Width(); ++x) ++used[row[x]];
    }
    int64_t marked = 0;
    if (mask && !mask->Empty()) {
      TDIBReader m(mask, pf8bit);
      for (int y = 0; y < m.Height(); ++y) {
        const uint8_t* row = m.RowPointer(y);
        for (int x = 0; x < m.Width(); ++x) marked += row[x] != 0;
      }
    }
    const bool full = std::all_of(used.begin(), used.end(), [](int64_t n) { return n > 0; });
    if (full && marked > 0) {
      int least = -1;
      for (int i = 0; i < 256; ++i)
        if (used[i] < marked && (least < 0 || used[i] < used[least])) least = i;
      if (least >= 0) ReduceTo255Colors(colour, &reduced, 0);
    }
  }
  frame->SetFromBitmap(chosen, mask, -1);
  return AddFrame(std::move(frame));
}

int TAniCursorImage::AddOpaqueFrame(TBitmap* bitmap) {
  auto frame = std::make_unique<TGIFSubImage>(this);
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf == pf1bit || pf == pf4bit || pf == pf8bit) {
    frame->Assign(bitmap);
  } else {
    TBitmap reduced;
    EightBitCopy(bitmap, &reduced);
    frame->Assign(&reduced);
  }
  return AddFrame(std::move(frame));
}

void TAniCursorImage::BuildFrames(TAnimatedCursor& cursor, TColor background) {
  ResetContents();
  const bool transparent = background == kNoBackground;
  for (int i = 0; i < cursor.GetStepCount(); ++i) {
    TSubIcon* image = cursor.GetStepImage(i);
    if (!image) continue;
    TBitmap colour, mask;
    ExtractBitmaps(*image, nullptr, &colour, kNoBackground, &mask);
    int index;
    if (transparent) {
      index = AddStepFrame(&colour, &mask);
    } else {
      TBitmap flat;
      flat.SetPixelFormat(pf24bit);
      flat.SetSize(colour.Width(), colour.Height());
      const TColor rgb = ColorToRGB(background);
      if (colour.PixelFormat() == pf32bit) {
        FlattenOnColor(&colour, &flat, static_cast<uint32_t>(rgb));
      } else {
        TCanvas* c = flat.Canvas();
        c->Brush()->SetColor(rgb);
        c->FillRect(TRect{0, 0, flat.Width(), flat.Height()});
        c->SetCopyMode(SRCAND);
        c->Draw(0, 0, &mask);
        c->SetCopyMode(SRCINVERT);
        c->Draw(0, 0, &colour);
        c->SetCopyMode(SRCCOPY);
      }
      index = AddOpaqueFrame(&flat);
    }
    TGIFSubImage* frame = Frames()[index];
    if (index == 0) {
      auto loop = std::make_unique<TGIFAppExtNSLoop>(frame);
      loop->LoopCount = 0;
      frame->ExtensionBlocks().InsertItem(0, std::move(loop));
    }
    TGIFGraphicControlExtension* gce = FindGraphicControlExtension(frame);
    if (!gce) {
      auto created = std::make_unique<TGIFGraphicControlExtension>(frame);
      gce = created.get();
      frame->ExtensionBlocks().AppendItem(std::move(created));
    }
    const int rate = i < cursor.Rates().Count() ? cursor.Rates()[i] : cursor.Header.iDispRate;
    gce->SetFrameDelay(Round(rate * 5.0 / 3.0));
    gce->SetDisposalMethod(2);
    // A frame whose mask left every pixel opaque has no transparent colour:
    // its index 0 must not turn transparent.
    gce->SetTransparencyFlag(transparent && frame->IsTransparent());
  }
  if (Frames().Count() > 0) {
    TGIFSubImage* first = Frames()[0];
    for (const auto& [label, text] : {std::pair<const char*, std::string>{"Title: ", cursor.Title},
                                      std::pair<const char*, std::string>{"Artist: ", cursor.Artist}}) {
      if (text.empty()) continue;
      auto comment = std::make_unique<TGIFCommentExtension>(first);
      comment->CommentLines.Add(label + text);
      first->ExtensionBlocks().AppendItem(std::move(comment));
    }
  }
  Changed(this);
}

void RegisterAniCursorImage() {
  TPicture::RegisterFileFormat("ANI", "Animated cursor", TGraphicClass::Of<TAniCursorImage>());
}

void UnregisterAniCursorImage() { TPicture::UnregisterGraphicClass(TGraphicClass::Of<TAniCursorImage>()); }

namespace {
// Registered at start like the other picture classes of the program.
struct TAniRegistration {
  TAniRegistration() { RegisterAniCursorImage(); }
} aniRegistration;
}  // namespace
