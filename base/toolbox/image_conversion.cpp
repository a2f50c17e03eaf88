#include "base/toolbox/image_conversion.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "base/colour_values.h"
#include "base/text_utils.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/fast_dib.h"
#include "base/toolbox/geometry_effects.h"
#include "base/toolbox/palette_reduction.h"
#include "base/toolbox/palettes.h"
#include "base/toolbox/resampler.h"

namespace {

bool Empty(TBitmap* b) { return !b || b->Width() <= 0 || b->Height() <= 0; }
bool HasList(const TListLongint* l) { return l && l->Count() > 0; }
bool Filtering(TIconResampleFilter f) { return f >= irfTriangle && f <= irfLinear; }

void DrawInto(TBitmap* source, TBitmap* target) {
  if (!Empty(source)) target->Canvas()->Draw(0, 0, source);
}

void DrawAt(TBitmap* source, TBitmap* target, int x, int y) {
  if (!Empty(source)) target->Canvas()->Draw(x, y, source);
}

void HalftoneInto(TBitmap* source, TBitmap* target) {
  if (Empty(source) || Empty(target)) return;
  HDC dc = target->Canvas()->Handle();
  const int old = SetStretchBltMode(dc, HALFTONE);
  StretchBlt(dc, 0, 0, target->Width(), target->Height(), source->Canvas()->Handle(), 0, 0, source->Width(),
             source->Height(), SRCCOPY);
  SetStretchBltMode(dc, old);
}

// The target mask taken from the source mask, or all opaque without one.
void MaskFromSourceOrBlack(TBitmap* sourceMask, TBitmap* targetMask, int width, int height) {
  if (!targetMask) return;
  if (sourceMask) {
    targetMask->Assign(sourceMask);
    return;
  }
  targetMask->SetSize(width, height);
  FillBitmap(targetMask, clBlack);
}

void CopyPaletteOf(TBitmap* source, TBitmap* target) {
  int32_t colours[256];
  const int n = ReadPaletteColours(source, colours, 256);
  if (n > 0) WritePaletteColours(target, colours, n);
}

struct TConvertArgs {
  int Method;
  int Threshold;
  bool KeepProportions;
  TIconResampleFilter Filter;
  const TListLongint* List;
  bool KeepWhite;
  int N() const { return HasList(List) ? List->Count() : 256; }
};

// The 8-bit reduction of a 32-bit or 24-bit picture by the method.
void Reduce8(TBitmap* source, TBitmap* target, const TConvertArgs& a) {
  if (a.Method == 1) {
    ReduceToPalette(source, target, true, false, a.List, a.N(), a.Threshold);
  } else if (a.Method == 0) {
    ConvertToGrayscale8(source, target, a.Threshold);
  } else if (HasList(a.List)) {
    target->SetPixelFormat(pf8bit);
    target->SetSize(source->Width(), source->Height());
    SetPaletteFromList(target, *a.List);
    HalftoneInto(source, target);
  } else {
    ReduceTo256Colors(source, target, true, false, a.Method);
  }
}

// The source with its mask as a 32-bit picture of width x height: resampled
// or stretched into the placement rectangle, the rest transparent.
std::unique_ptr<TBitmap> Placed32(TBitmap* source, TBitmap* mask, int width, int height, const TRect& r, bool full,
                                  TIconResampleFilter filter) {
  TBitmap s32;
  ToBitmap32(source, mask, &s32);
  auto p = std::make_unique<TBitmap>();
  SetSize32AndFill(p.get(), width, height, 0);
  const int rw = r.right - r.left, rh = r.bottom - r.top;
  if (!Filtering(filter)) {
    if (!Empty(&s32))
      StretchBlt(p->Canvas()->Handle(), r.left, r.top, rw, rh, s32.Canvas()->Handle(), 0, 0, s32.Width(),
                 s32.Height(), SRCCOPY);
    return p;
  }
  if (full) {
    ResampleBitmap(&s32, p.get(), filter);
    return p;
  }
  auto part = NewBitmap32(rw, rh);
  ResampleBitmap(&s32, part.get(), filter);
  DrawBitmap32At(part.get(), p.get(), r.left, r.top);
  return p;
}

void SameSizeSameFormat(TBitmap* s, TBitmap* m, TBitmap* t, TBitmap* tm, TPixelFormat f, int w, int h,
                        const TConvertArgs& a) {
  if (f == pf1bit) MakeMonochrome(t);
  if (t->PixelFormat() == pf8bit && HasList(a.List)) {
    t->SetSize(w, h);
    SetPaletteFromList(t, *a.List);
    if (a.Method == 1) {
      DrawInto(s, t);
    } else if (a.Method == 2) {
      HalftoneInto(s, t);
    } else {
      DrawInto(s, t);
      ConvertToGrayscale(t);
    }
  } else if (f == pf8bit && a.Method == 0) {
    SetGrayPalette8(t);
    t->SetSize(w, h);
    DrawInto(s, t);
  } else {
    t->Assign(s);
  }
  if (!tm) return;
  // A 32-bit picture carries its transparency in alpha, as on the resizing road.
  if (s->PixelFormat() == pf32bit)
    AlphaThresholdMask(t->PixelFormat() == pf32bit ? t : s, tm, a.Threshold);
  else
    MaskFromSourceOrBlack(m, tm, w, h);
}

void DifferentSize(TBitmap* s, TBitmap* m, TBitmap* t, TBitmap* tm, TPixelFormat f, int w, int h,
                   const TConvertArgs& a) {
  const int sw = s->Width(), sh = s->Height();
  TRect r{0, 0, w, h};
  if (a.KeepProportions) {
    FitAspectRect(TRect{0, 0, w, h}, sw, sh, r);
    if (r.right <= r.left) r.right = r.left + 1;
    if (r.bottom <= r.top) r.bottom = r.top + 1;
  }
  const bool full = r.left == 0 && r.top == 0 && r.right == w && r.bottom == h;
  SetBitmapFormat(t, w, h, f);
  if (tm) SetBitmapFormat(tm, w, h, pf1bit);
  if (f == pf8bit) CopyPaletteOf(s, t);
  if (!full) {
    if (f == pf32bit)
      Fill32(t, 0);
    else
      FillBitmap(t, clBlack);
    if (tm) FillBitmap(tm, clWhite);
  }
  const TPixelFormat sf = s->PixelFormat();
  if (!Filtering(a.Filter) && f == pf32bit) {
    if (!Empty(s)) t->Canvas()->StretchDraw(r, s);
    if (tm) AlphaThresholdMask(t, tm, a.Threshold);
    return;
  }
  if (Filtering(a.Filter) && sf == pf32bit) {
    if (full) {
      ResampleBitmap(s, t, a.Filter);
    } else {
      auto part = NewBitmap32(r.right - r.left, r.bottom - r.top);
      ResampleBitmap(s, part.get(), a.Filter);
      DrawBitmap32At(part.get(), t, r.left, r.top);
    }
    if (tm) AlphaThresholdMask(t, tm, a.Threshold);
    return;
  }
  // An opaque 24-bit picture to 24 bits: the colour resampler alone gives what
  // the alpha-aware road gives for opaque pixels, without a 32-bit copy of the
  // whole picture (a photograph's worth of memory and time).
  if (Filtering(a.Filter) && sf == pf24bit && f == pf24bit && Empty(m) && a.Threshold <= 255) {
    if (full) {
      ResampleBitmap24(s, t, a.Filter);
    } else {
      TBitmap part;
      part.SetPixelFormat(pf24bit);
      part.SetSize(r.right - r.left, r.bottom - r.top);
      ResampleBitmap24(s, &part, a.Filter);
      DrawAt(&part, t, r.left, r.top);
    }
    if (tm) FillRectWithColor(tm, clBlack, r);
    return;
  }
  auto p = Placed32(s, m, w, h, r, full, a.Filter);
  if (f == pf24bit) {
    SplitAlphaToColorAndMask(p.get(), t, tm, a.Threshold, a.KeepWhite);
  } else if (f == pf8bit && Filtering(a.Filter)) {
    Reduce8(p.get(), t, a);
    if (tm) tm->SetSize(w, h);
    ApplyAlphaThreshold(p.get(), t, tm, a.Threshold, a.KeepWhite);
  } else if (Filtering(a.Filter)) {
    TBitmap colour;
    SplitAlphaToColorAndMask(p.get(), &colour, tm, a.Threshold, a.KeepWhite);
    DrawInto(&colour, t);
  } else {
    DrawInto(p.get(), t);
    if (tm) AlphaThresholdMask(p.get(), tm, a.Threshold);
  }
}

void SameSizeDifferentFormat(TBitmap* s, TBitmap* m, TBitmap* t, TBitmap* tm, TPixelFormat f, int w, int h,
                             const TConvertArgs& a) {
  const TPixelFormat sf = s->PixelFormat();
  SetBitmapFormat(t, w, h, f);
  if (tm) tm->SetSize(w, h);
  switch (f) {
    case pf1bit:
    case pf4bit: {
      TBitmap split;
      TBitmap* c = s;
      if (sf == pf32bit) {
        SplitAlphaToColorAndMask(s, &split, tm, a.Threshold, a.KeepWhite);
        c = &split;
      } else {
        MaskFromSourceOrBlack(m, tm, w, h);
      }
      if (a.Method == 2) {
        if (f == pf1bit)
          HalftoneInto(c, t);
        else
          DitherTo16Colors(c, t);
      } else if (f == pf4bit && a.Method == 0) {
        auto grey = CopyTo24Bit(c);
        ConvertToGrayscale(grey.get());
        DrawInto(grey.get(), t);
      } else {
        DrawInto(c, t);
      }
      break;
    }
    case pf8bit:
      if (sf == pf32bit) {
        Reduce8(s, t, a);
        ApplyAlphaThreshold(s, t, tm, a.Threshold, a.KeepWhite);
      } else if (sf == pf1bit || sf == pf4bit) {
        CompletePalette(t, s->GetPalette(), true);
        DrawInto(s, t);
        MaskFromSourceOrBlack(m, tm, w, h);
        break;
      } else {
        // 24-bit pictures are read directly, any other through a 24-bit copy.
        std::unique_ptr<TBitmap> copy;
        TBitmap* c = s;
        if (sf != pf24bit) {
          copy = CopyTo24Bit(s);
          c = copy.get();
        }
        Reduce8(c, t, a);
        MaskFromSourceOrBlack(m, tm, w, h);
      }
      if (a.Method == 2) ForceBlackWhiteEntries(t, tm);
      break;
    case pf24bit:
      if (sf == pf32bit) {
        SplitAlphaToColorAndMask(s, t, tm, a.Threshold, a.KeepWhite);
      } else {
        DrawInto(s, t);
        MaskFromSourceOrBlack(m, tm, w, h);
      }
      break;
    case pf32bit:
      ToBitmap32(s, m, t);
      MaskFromSourceOrBlack(m, tm, w, h);
      break;
    default:
      DrawInto(s, t);
      MaskFromSourceOrBlack(m, tm, w, h);
      break;
  }
}

void Convert(TBitmap* s, TBitmap* m, TBitmap* t, TBitmap* tm, TPixelFormat f, int w, int h, const TConvertArgs& a) {
  if (tm) MakeMonochrome(tm);
  const int sw = s->Width(), sh = s->Height();
  const TPixelFormat sf = s->PixelFormat();
  if (sw == w && sh == h && f == sf) {
    SameSizeSameFormat(s, m, t, tm, f, w, h, a);
  } else if (f == sf) {
    DifferentSize(s, m, t, tm, f, w, h, a);
  } else if (sw == w && sh == h) {
    SameSizeDifferentFormat(s, m, t, tm, f, w, h, a);
  } else {
    const bool deeperThan8 = PixelFormatBits(sf) > 8;
    bool sizeFirst;
    if (Filtering(a.Filter))
      sizeFirst = f != pf32bit && (f <= sf || deeperThan8);
    else
      sizeFirst = (f <= pf8bit && sf > f) || static_cast<int64_t>(w) * h > static_cast<int64_t>(sw) * sh;
    TBitmap temp, tempMask;
    if (sizeFirst) {
      Convert(s, m, &temp, &tempMask, sf, w, h, a);
      Convert(&temp, &tempMask, t, tm, f, w, h, a);
    } else {
      Convert(s, m, &temp, &tempMask, f, sw, sh, a);
      Convert(&temp, &tempMask, t, tm, f, w, h, a);
    }
  }
  if (PixelFormatBits(f) > 8 && a.Method == 0) ConvertToGrayscale(t);
}

}  // namespace

void ConvertImage(TBitmap* source, TBitmap* sourceMask, TBitmap* target, TBitmap* targetMask, TPixelFormat format,
                  int width, int height, int method, int alphaThreshold, bool keepProportions,
                  TIconResampleFilter filter, const TListLongint* paletteList, bool keepWhite) {
  if (!source || !target || width < 0 || height < 0) return;
  const TConvertArgs args{method, alphaThreshold, keepProportions, filter, paletteList, keepWhite};
  Convert(source, sourceMask, target, targetMask, format, width, height, args);
}

void ReduceToPalette(TBitmap* source, TBitmap* target, bool keepBlackAndWhite, bool use16Colours,
                     const TListLongint* paletteList, int maxColours, int alphaThreshold) {
  if (!source || !target) return;
  SetBitmapFormat(target, source->Width(), source->Height(), pf8bit);
  if (Empty(source)) return;
  std::unique_ptr<TRows24> rows24;
  TPixelRows rows;
  TPaletteReductionOptions o;
  o.MaxColours = std::min(maxColours, 256);
  o.Threshold = alphaThreshold;
  o.KeepBlackAndWhite = keepBlackAndWhite;
  o.Use16Colours = use16Colours;
  if (source->PixelFormat() == pf32bit) {
    rows = BitmapRows(source);
    o.PixelBytes = 4;
  } else {
    rows24 = std::make_unique<TRows24>(source);
    rows = rows24->Rows();
  }
  std::vector<int32_t> start;
  if (paletteList) start.assign(paletteList->Items(), paletteList->Items() + paletteList->Count());
  const std::vector<int32_t> palette = ChooseReducedPalette(rows, start, o);
  TListLongint list;
  for (int32_t c : palette) list.Add(c);
  SetPaletteFromList(target, list);
  MapToPalette(rows, BitmapRows(target), palette, o);
}

namespace {

void ThroughFast256(TBitmap* source, TBitmap* target, int mode, int colours) {
  TMemoryStream in, out;
  source->SaveToStream(in);
  in.SetPosition(0);
  TFast256 fast;
  if (!fast.LoadFromBmpStream(in, mode, colours)) return;
  fast.SaveToBmpStream(out);
  out.SetPosition(0);
  target->LoadFromStream(out);
}

}  // namespace

void ReduceTo256Colors(TBitmap* source, TBitmap* target, bool keepBlackAndWhite, bool padWithStandard, int mode) {
  if (!source || !target) return;
  target->SetPixelFormat(pf8bit);
  SetStandardPalette(target);
  if (mode != 0 && ConvertExactTo8Bit(source, target, keepBlackAndWhite, padWithStandard)) return;
  const int colours = keepBlackAndWhite && mode != 0 ? 254 : 256;
  ThroughFast256(source, target, mode, colours);
  if (colours == 254) {
    SetPaletteEntry(target, 254, 0);
    SetPaletteEntry(target, 255, 0xFFFFFF);
  }
}

void ReduceTo255Colors(TBitmap* source, TBitmap* target, int mode) {
  if (source && target) ThroughFast256(source, target, mode, 255);
}

void ConvertToGrayscale8(TBitmap* source, TBitmap* target, int alphaThreshold) {
  if (!source || !target) return;
  target->SetPixelFormat(pf8bit);
  target->SetSize(source->Width(), source->Height());
  SetGrayPalette(target);
  if (Empty(source)) return;
  const TPixelFormat sf = source->PixelFormat();
  const TPixelRows out = BitmapRows(target);
  if (sf != pf24bit && sf != pf32bit) {
    for (int y = 0; y < out.Height; ++y) std::fill(out.Row(y), out.Row(y) + out.Width, 0);
    return;
  }
  const int step = sf == pf32bit ? 4 : 3;
  const TPixelRows in = BitmapRows(source);
  for (int y = 0; y < in.Height; ++y) {
    const uint8_t* p = in.Row(y);
    for (int x = 0; x < in.Width; ++x, p += step)
      out.Row(y)[x] = (step == 4 && p[3] < alphaThreshold) ? 0 : static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
  }
}

void DitherTo16Colors(TBitmap* source, TBitmap* target) {
  if (!source || !target) return;
  struct TMix {
    int32_t Mix, A, B;
    int Hue;
  };
  int32_t colours[16];
  for (int i = 0; i < 16; ++i) colours[i] = TableColour(StandardPalette16[i]);
  auto hueOf = [](int32_t c) {
    int32_t h = 0, s = 0, v = 0;
    ColorToHSV(h, s, v, static_cast<uint32_t>(c));
    return h;
  };
  std::vector<TMix> mixes;
  for (int i = 0; i < 16; ++i)
    for (int j = i + 1; j < 16; ++j) {
      int32_t m = 0;
      for (int s = 0; s < 24; s += 8) m |= ((((colours[i] >> s) & 0xFF) + ((colours[j] >> s) & 0xFF)) / 2) << s;
      if (std::find(colours, colours + 16, m) != colours + 16) continue;
      mixes.push_back({m, colours[i], colours[j], hueOf(m)});
    }
  auto c24 = CopyTo24Bit(source);
  SetBitmapFormatAndFill(target, source->Width(), source->Height(), clBlack, pf4bit);
  if (Empty(source)) return;
  const TPixelRows rows = BitmapRows(c24.get());
  TColourPixels canvas(target);
  for (int y = 0; y < rows.Height; ++y) {
    const uint8_t* p = rows.Row(y);
    for (int x = 0; x < rows.Width; ++x, p += 3) {
      int ch[3] = {p[2] & 0xFC, p[1] & 0xFC, p[0] & 0xFC};  // red, green, blue
      for (int& v : ch)
        if (v == 252) v = 255;
      const int32_t c = ch[0] | (ch[1] << 8) | (ch[2] << 16);
      if (std::find(colours, colours + 16, c) != colours + 16) {
        canvas.Set(x, y, c);
        continue;
      }
      const int hue = hueOf(c);
      const TMix* best = nullptr;
      int64_t bestDist = 0;
      for (const TMix& m : mixes) {
        const int dr = (m.Mix & 0xFF) - ch[0], dg = ((m.Mix >> 8) & 0xFF) - ch[1], db = ((m.Mix >> 16) & 0xFF) - ch[2];
        const int dh = hue - m.Hue;
        const int64_t d = int64_t{dr} * dr + dg * dg + db * db + dh * dh;
        if (!best || d < bestDist) best = &m, bestDist = d;
      }
      canvas.Set(x, y, (x + y) % 2 ? best->A : best->B);
    }
  }
}
