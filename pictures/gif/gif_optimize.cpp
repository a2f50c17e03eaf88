// Making a GIF smaller without changing what it shows.
#include <algorithm>
#include <cstring>

#include "pictures/gif/gif_blocks.h"
#include "pictures/gif/gif_extensions.h"
#include "pictures/gif/gif_image.h"

namespace {

bool Intersect(const TRect& a, const TRect& b, TRect& out) {
  out = TRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return out.left < out.right && out.top < out.bottom;
}

bool SameRect(const TRect& a, const TRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int Disposal(TGIFSubImage* f) { return f->ControlExtension() ? f->ControlExtension()->DisposalMethod() : 0; }

}  // namespace

void TGIFSubImage::TrimTransparentBorder() {
  if (IsEmpty() || !FIsTransparent) return;
  const uint8_t t = static_cast<uint8_t>(TransparentIndex());
  const int w = Width(), h = Height();
  auto column = [&](int x) {
    for (int y = 0; y < h; ++y)
      if (FPixels[static_cast<size_t>(y) * w + x] != t) return true;
    return false;
  };
  int l = 0;
  while (l < w && !column(l)) ++l;
  if (l == w) {
    // Every pixel is transparent: the frame keeps its extensions and no image.
    FPixels.clear();
    ImageBlock.ImageWidth = ImageBlock.ImageHeight = 0;
    DropRendering();
    DropMask();
    return;
  }
  int r = w - 1;
  while (r > l && !column(r)) --r;
  auto row = [&](int y) {
    const uint8_t* p = &FPixels[static_cast<size_t>(y) * w];
    for (int x = l; x <= r; ++x)
      if (p[x] != t) return true;
    return false;
  };
  int top = 0;
  while (!row(top)) ++top;
  int bottom = h - 1;
  while (bottom > top && !row(bottom)) --bottom;
  const int nw = r - l + 1, nh = bottom - top + 1;
  if (nw == w && nh == h) return;
  std::vector<uint8_t> cropped(static_cast<size_t>(nw) * nh);
  for (int y = 0; y < nh; ++y)
    std::memcpy(&cropped[static_cast<size_t>(y) * nw], &FPixels[static_cast<size_t>(top + y) * w + l], static_cast<size_t>(nw));
  FPixels.swap(cropped);
  ImageBlock.ImageLeft = static_cast<uint16_t>(Left() + l);
  ImageBlock.ImageTop = static_cast<uint16_t>(Top() + top);
  ImageBlock.ImageWidth = static_cast<uint16_t>(nw);
  ImageBlock.ImageHeight = static_cast<uint16_t>(nh);
  DropRendering();
  DropMask();
}

void TGIFSubImage::MergeWithPrevious(TGIFSubImage* previous) {
  if (!previous || previous == this || IsEmpty() || previous->IsEmpty()) return;
  const int prevDisposal = Disposal(previous);
  if (prevDisposal == 2 || prevDisposal == 3) return;
  TRect area;
  if (!Intersect(FrameRect(), previous->FrameRect(), area)) return;
  TGIFColorMap& map = EffectiveColorMap();
  TGIFColorMap& prevMap = previous->EffectiveColorMap();
  const bool local = FLocalMap->EntryCount() > 0;
  int transparent = FIsTransparent ? TransparentIndex() : -1;
  if (transparent < 0) {
    const int count = map.EntryCount();
    if (count == 0 || count >= 256) return;  // no room for a transparent colour
  }
  const bool prevTransparent = previous->IsTransparent();
  const int prevT = previous->TransparentIndex();
  const bool sameMap = &map == &prevMap;
  // An index that no pixel of this frame uses can stand for transparency without
  // changing what the frame shows.
  auto unusedHere = [&](int index) {
    return std::find(FPixels.begin(), FPixels.end(), static_cast<uint8_t>(index)) == FPixels.end();
  };
  bool allocated = false;
  auto allocate = [&] {
    if (!local && FImage) {
      for (int i = 0; i < FImage->Frames().Count(); ++i) {
        TGIFSubImage* other = FImage->Frames()[i];
        if (other == this || !other->IsTransparent() || other->LocalMap().EntryCount() > 0) continue;
        const int candidate = other->TransparentIndex();
        if (candidate < map.EntryCount() && unusedHere(candidate)) return candidate;
        break;
      }
    }
    return map.AppendColor(0);
  };
  const int w = Width(), pw = previous->Width();
  for (int y = area.top; y < area.bottom; ++y) {
    uint8_t* row = &FPixels[static_cast<size_t>(y - Top()) * w];
    const uint8_t* prow = previous->Pixels() + static_cast<size_t>(y - previous->Top()) * pw;
    for (int x = area.left; x < area.right; ++x) {
      uint8_t& p = row[x - Left()];
      const uint8_t q = prow[x - previous->Left()];
      if (transparent >= 0 && p == transparent) continue;
      if (prevTransparent && q == prevT) continue;
      bool same = sameMap && p == q;
      if (!same && p < map.EntryCount() && q < prevMap.EntryCount()) same = map.RawColor(p) == prevMap.RawColor(q);
      if (!same) continue;
      if (transparent < 0) {
        transparent = allocate();
        allocated = true;
      }
      p = static_cast<uint8_t>(transparent);
    }
  }
  if (!FIsTransparent && allocated) {
    TGIFGraphicControlExtension* gce = FControlExtension;
    if (!gce) {
      auto created = std::make_unique<TGIFGraphicControlExtension>(this);
      gce = created.get();
      FExtensions->AppendItem(std::move(created));
    }
    gce->SetTransparentEntry(transparent);
    gce->SetTransparencyFlag(true);
  }
  DropRendering();
  DropMask();
}

void TGIFImage::OptimizeFrames(TGIFOptimizeFlags flags, TGIFReductionMethod method, TGIFDitherKind, int) {
  if (GetEmpty()) return;
  StopAllPainters();
  FPainterLock.Enter();
  struct Unlock {
    TCriticalSection& lock;
    ~Unlock() { lock.Leave(); }
  } unlock{FPainterLock};
  ReportProgress(this, psStarting, 0, false, gifmsg::kOptimizing);
  try {
    TGIFImageList& frames = *FFrames;
    int steps = 0;
    const int total = 6 * std::max(frames.Count(), 1);
    auto progress = [&] { ReportProgress(this, psRunning, steps * 100 / total, false, gifmsg::kOptimizing); };
    if (flags & ofColorTables) {
      if (GlobalColorMap().EntryCount() > 0) GlobalColorMap().SortByUse();
      for (int i = 0; i < frames.Count(); ++i) {
        ++steps;
        if (frames[i]->LocalMap().EntryCount() > 0) {
          frames[i]->LocalMap().SortByUse();
          progress();
        }
      }
    }
    if (flags & ofCleanup) {
      for (int i = 0; i < frames.Count(); ++i) {
        ++steps;
        TGIFSubImage* f = frames[i];
        if (f->IsTransparent() && f->ControlExtension() && !f->IsEmpty()) {
          const uint8_t t = static_cast<uint8_t>(f->TransparentIndex());
          if (std::find(f->Pixels(), f->Pixels() + f->PixelBytes(), t) == f->Pixels() + f->PixelBytes()) {
            f->ControlExtension()->SetTransparencyFlag(false);
            f->DropRendering();
            f->DropMask();
            progress();
          }
        }
      }
      for (int i = 0; i + 1 < frames.Count(); ++i) {
        ++steps;
        TGIFSubImage* f = frames[i];
        TGIFSubImage* next = frames[i + 1];
        const int d = Disposal(f);
        if ((d == 2 || d == 3) && !next->IsTransparent()) {
          TRect area;
          if (Intersect(f->FrameRect(), next->FrameRect(), area)) {
            progress();
            // Only when the next frame covers this one does its disposal not matter.
            if (SameRect(area, f->FrameRect())) f->ControlExtension()->SetDisposalMethod(0);
          }
        }
      }
    } else {
      steps += 2 * frames.Count();
    }
    if (flags & ofMerge) {
      for (int n = frames.Count() - 1; n >= 1; --n) {
        ++steps;
        int p = n - 1;
        while (p >= 1 && Disposal(frames[p]) == 3) --p;
        frames[n]->MergeWithPrevious(frames[p]);
        progress();
      }
    } else {
      steps += frames.Count();
    }
    if (flags & ofCrop) {
      for (int c = frames.Count() - 1; c >= 0; --c) {
        ++steps;
        TGIFSubImage* f = frames[c];
        if (f->IsEmpty() || !f->IsTransparent()) continue;
        const int delay = f->ControlExtension() ? f->ControlExtension()->FrameDelay() : 0;
        const TGIFImageBlock before = f->ImageBlock;
        const std::vector<uint8_t> pixels(f->Pixels(), f->Pixels() + f->PixelBytes());
        f->TrimTransparentBorder();
        if (f->IsEmpty()) {
          // Dropping the frame must not change any picture shown: the frame
          // before stays on screen (disposal 0 or 1) while this one did nothing,
          // and no loop starts here.
          TGIFSubImage* prev = c > 0 ? frames[c - 1] : nullptr;
          bool hasLoop = false;
          for (int k = 0; k < f->ExtensionBlocks().Count(); ++k)
            if (dynamic_cast<TGIFAppExtNSLoop*>(f->ExtensionBlocks().GetExtensionAt(k))) hasLoop = true;
          const bool safe = prev && Disposal(prev) <= 1 && Disposal(f) != 2 && !hasLoop &&
                            !(f->ControlExtension() && f->ControlExtension()->WaitsForInput());
          if (safe) {
            TGIFGraphicControlExtension* pg = prev->ControlExtension();
            if (!pg && delay > 0) {
              auto created = std::make_unique<TGIFGraphicControlExtension>(prev);
              pg = created.get();
              prev->ExtensionBlocks().AppendItem(std::move(created));
            }
            if (pg) pg->SetFrameDelay(std::min(pg->FrameDelay() + delay, 65535));
            frames.DeleteItem(c);
          } else {
            // Kept as it was, uncropped.
            f->ImageBlock = before;
            f->ReleasePixels();
            f->EnsurePixels();
            std::memcpy(f->Pixels(), pixels.data(), pixels.size());
          }
        }
        progress();
      }
    } else {
      steps += frames.Count();
    }
    steps += frames.Count();
    if (flags & ofCleanup) {
      const bool single = frames.Count() == 1;
      for (int i = frames.Count() - 1; i >= 0; --i) {
        TGIFSubImage* f = frames[i];
        TGIFExtensionList& list = f->ExtensionBlocks();
        for (int k = list.Count() - 1; k >= 0; --k) {
          TGIFExtension* e = list.GetExtensionAt(k);
          const bool drop = dynamic_cast<TGIFCommentExtension*>(e) || dynamic_cast<TGIFTextExtension*>(e) ||
                            dynamic_cast<TGIFUnknownAppExtension*>(e) ||
                            (dynamic_cast<TGIFAppExtNSLoop*>(e) && (i > 0 || single));
          if (drop) list.DeleteItem(k);
        }
        if (TGIFGraphicControlExtension* g = f->ControlExtension()) {
          const bool needless = (g->FrameDelay() == 0 || single) && !g->HasTransparency() && !g->WaitsForInput() &&
                                (g->DisposalMethod() < 2 || single);
          if (needless) list.DeleteItem(list.IndexOf(g));
        }
        if (f->IsEmpty() && list.Count() == 0) frames.DeleteItem(i);
      }
      progress();
    } else if ((flags & ofReduceColors) && method == rdCustomPalette) {
      throw GIFException(gifmsg::kInvalidReduction);
    }
  } catch (...) {
    ReportProgress(this, psEnding, 0, true, gifmsg::kOptimizing);
    throw;
  }
  DropCachedBitmap();
  SetPalette(nullptr);
  ReportProgress(this, psEnding, 100, true, gifmsg::kOptimizing);
  Changed(this);
}
