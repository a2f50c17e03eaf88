#include "base/toolbox/blend.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <filesystem>
#include <memory>

#include "base/compact_encoding.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/path_utils.h"
#include "base/typed_lists.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

std::unique_ptr<TListByte> gBlendTable;

inline uint32_t Alpha(uint32_t p) { return p >> 24; }
inline uint32_t Chan(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

}  // namespace

uint8_t BlendWeight(uint8_t da, uint8_t sa) {
  if (sa == 0) return 0;
  const double outAlpha = sa + da - (sa * static_cast<double>(da)) / 255.0;
  const int64_t w = Round(255.0 * sa / outAlpha);
  return static_cast<uint8_t>(Min<int64_t>(Max<int64_t>(w, 0), 255));
}

namespace {

// Once any of these has run, the table stays as it left it: first use does
// not replace a table a caller loaded or dropped on purpose.
std::atomic<bool> gBlendTableSettled{false};
std::once_flag gBlendTableFirstUse;

}  // namespace

bool LoadBlendTable(const std::string& fileName) {
  gBlendTableSettled = true;
  std::error_code ec;
  const std::string native = NativePath(fileName);
  if (!std::filesystem::is_regular_file(native, ec)) return false;  // weights are computed
  const auto size = std::filesystem::file_size(native, ec);
  if (ec || size < static_cast<uintmax_t>(kBlendTableSize)) return false;
  auto table = std::make_unique<TListByte>();
  table->SetCount(kBlendTableSize);
  // A file that is there but cannot be opened raises the open error.
  ReadFileToBuffer(table->Items(), kBlendTableSize, fileName);
  gBlendTable = std::move(table);
  return true;
}

void InitBlendTable() { LoadBlendTable(GetApplicationDir() + "data\\blend.dat"); }

void UnloadBlendTable() {
  gBlendTableSettled = true;
  gBlendTable.reset();
}

// The table beside the program is read on first use, not by a static
// constructor: the path helpers it needs belong to another unit, which may not
// have been started yet. An unreadable file leaves the computed weights.
const uint8_t* BlendTable() {
  if (!gBlendTableSettled) {
    std::call_once(gBlendTableFirstUse, [] {
      if (gBlendTableSettled) return;
      try {
        InitBlendTable();
      } catch (const Exception&) {
      }
      gBlendTableSettled = true;
    });
  }
  return gBlendTable ? gBlendTable->Items() : nullptr;
}

uint32_t BlendPixel(uint32_t s, uint32_t d) {
  const uint32_t sa = Alpha(s), da = Alpha(d);
  if (sa == 255 || da == 0) return s;
  if (sa == 0) return d;
  const uint32_t outA = sa + da - (sa * da) / 255;
  uint32_t out = outA << 24;
  if (da == 255) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int S = static_cast<int>(Chan(s, shift)), D = static_cast<int>(Chan(d, shift));
      // Signed division truncates toward zero, as the colour moves toward S.
      const int c = D + (static_cast<int>(sa) * (S - D)) / 255;
      out |= static_cast<uint32_t>(c) << shift;
    }
    return out;
  }
  const uint8_t* table = BlendTable();
  const uint32_t w = table ? table[da * 256 + sa] : BlendWeight(static_cast<uint8_t>(da), static_cast<uint8_t>(sa));
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t c = (w * Chan(s, shift) + (255 - w) * Chan(d, shift)) / 255;
    out |= c << shift;
  }
  return out;
}

uint32_t BlendPixelOverOpaque(uint32_t s, uint32_t colour) {
  const uint32_t sa = Alpha(s);
  // The colour keeps red in its low byte; the pixel keeps blue there.
  const uint32_t bg[3] = {(colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF};
  uint32_t out = 0xFF000000u;
  for (int i = 0; i < 3; ++i) {
    const uint32_t S = Chan(s, i * 8), B = bg[i];
    const uint32_t c = B + (sa * S) / 255 - (sa * B) / 255;
    out |= (c & 0xFF) << (i * 8);
  }
  return out;
}

void BlendRowOver(const uint32_t* src, uint32_t* dst, int count) {
  for (int i = 0; i < count; ++i) dst[i] = BlendPixel(src[i], dst[i]);
}

void FadeAlphaRow(uint32_t* px, int count, int amount) {
  const uint32_t keep = static_cast<uint32_t>(255 - amount);
  for (int i = 0; i < count; ++i) {
    const uint32_t a = ((keep * Alpha(px[i])) / 255) & 0xFF;
    px[i] = (px[i] & 0x00FFFFFFu) | (a << 24);
  }
}

// ---- compositing of framework bitmaps ----

namespace {

// Per channel C + (a x S) div 255 - (a x C) div 255: the integer "over" onto
// an opaque pixel.
inline uint8_t OverOpaque(uint32_t a, uint32_t s, uint32_t c) {
  return static_cast<uint8_t>(c + (a * s) / 255 - (a * c) / 255);
}

}  // namespace

void Composite32(TBitmap* source, TBitmap* target) {
  if (!Is32(source) || !Is32(target)) return;
  const int w = std::min(source->Width(), target->Width()), h = std::min(source->Height(), target->Height());
  if (w <= 0 || h <= 0) return;
  const TPixelRows s = BitmapRows(source), t = BitmapRows(target);
  for (int y = 0; y < h; ++y)
    BlendRowOver(reinterpret_cast<const uint32_t*>(s.Row(y)), reinterpret_cast<uint32_t*>(t.Row(y)), w);
}

void DrawAlphaOver(TBitmap* source, TBitmap* target) {
  if (!Is32(source) || !target) return;
  if (Is32(target)) {
    Composite32(source, target);
    return;
  }
  if (target->PixelFormat() != pf24bit) return;
  const int w = std::min(source->Width(), target->Width()), h = std::min(source->Height(), target->Height());
  if (w <= 0 || h <= 0) return;
  const TPixelRows s = BitmapRows(source), t = BitmapRows(target);
  for (int y = 0; y < h; ++y) {
    const uint8_t* p = s.Row(y);
    uint8_t* d = t.Row(y);
    for (int x = 0; x < w; ++x, p += 4, d += 3)
      for (int c = 0; c < 3; ++c) d[c] = OverOpaque(p[3], p[c], d[c]);
  }
}

void CompositeOverColor32(TBitmap* bitmap, uint32_t value) {
  if (!Is32(bitmap) || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  uint32_t* p = Block32(bitmap);
  const size_t n = static_cast<size_t>(bitmap->Width()) * bitmap->Height();
  for (size_t i = 0; i < n; ++i) p[i] = BlendPixel(p[i], value);
}

void FlattenOnColor(TBitmap* source, TBitmap* target, uint32_t colour) {
  if (!Is32(source) || !target || source->Width() <= 0 || source->Height() <= 0) return;
  const int w = std::min(source->Width(), target->Width()), h = std::min(source->Height(), target->Height());
  const TPixelRows s = BitmapRows(source);
  const TPixelFormat tf = target->PixelFormat();
  const uint8_t bg[3] = {static_cast<uint8_t>((colour >> 16) & 0xFF), static_cast<uint8_t>((colour >> 8) & 0xFF),
                         static_cast<uint8_t>(colour & 0xFF)};
  const TPixelRows t = (tf == pf24bit || tf == pf32bit) ? BitmapRows(target) : TPixelRows{};
  TColourPixels other(tf == pf24bit || tf == pf32bit ? nullptr : target);
  for (int y = 0; y < h; ++y) {
    const uint32_t* p = reinterpret_cast<const uint32_t*>(s.Row(y));
    for (int x = 0; x < w; ++x) {
      const uint32_t px = BlendPixelOverOpaque(p[x], colour);
      if (tf == pf32bit) {
        reinterpret_cast<uint32_t*>(t.Row(y))[x] = px;
      } else if (tf == pf24bit) {
        uint8_t* d = t.Row(y) + x * 3;
        const uint32_t a = p[x] >> 24;
        for (int c = 0; c < 3; ++c) d[c] = OverOpaque(a, (p[x] >> (8 * c)) & 0xFF, bg[c]);
      } else {
        other.Set(x, y, static_cast<TColor>(PixelToColour(px)));
      }
    }
  }
}

void FillRectAlpha(uint32_t value, TBitmap* bitmap, const RECT& rect) {
  if (!bitmap || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  const TPixelFormat pf = bitmap->PixelFormat();
  if (pf != pf24bit && pf != pf32bit) return;
  const int left = std::max<int>(rect.left, 0), top = std::max<int>(rect.top, 0);
  const int right = std::min<int>(rect.right, bitmap->Width()), bottom = std::min<int>(rect.bottom, bitmap->Height());
  const TPixelRows rows = BitmapRows(bitmap);
  const uint32_t a = value >> 24;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      if (pf == pf32bit) {
        uint32_t& p = reinterpret_cast<uint32_t*>(rows.Row(y))[x];
        p = a == 255 ? value : BlendPixel(value, p);
      } else {
        uint8_t* d = rows.Row(y) + x * 3;
        for (int c = 0; c < 3; ++c) {
          const uint32_t v = (value >> (8 * c)) & 0xFF;
          d[c] = a == 255 ? static_cast<uint8_t>(v) : OverOpaque(a, v, d[c]);
        }
      }
    }
}

void FillAlpha(uint32_t value, TBitmap* bitmap) {
  if (bitmap) FillRectAlpha(value, bitmap, RECT{0, 0, bitmap->Width(), bitmap->Height()});
}

void AdjustAlpha(TBitmap* source, TBitmap* work, TBitmap* mask, int amount, bool skipEmpty) {
  if (!source || !work) return;
  if (work != source) {
    work->Assign(source);
    work->SetPixelFormat(pf32bit);
  }
  if (!Is32(work) || work->Width() <= 0 || work->Height() <= 0) return;
  uint32_t* p = Block32(work);
  const size_t n = static_cast<size_t>(work->Width()) * work->Height();
  for (size_t i = 0; i < n; ++i) {
    uint32_t a = p[i] >> 24;
    if (amount < 0) {
      a = static_cast<uint32_t>((amount + 255) * static_cast<int>(a) / 255);
    } else if (amount > 0 && !(skipEmpty && p[i] == 0)) {
      a = amount >= 255 ? 255 : std::min<uint32_t>(a * 255 / static_cast<uint32_t>(255 - amount), 255);
    }
    p[i] = (p[i] & 0xFFFFFF) | (a << 24);
  }
  AlphaToKeyMask(work, mask);
}

void FadeAlpha(TBitmap* bitmap, int amount) {
  if (!Is32(bitmap) || bitmap->Width() <= 0 || bitmap->Height() <= 0) return;
  FadeAlphaRow(Block32(bitmap), bitmap->Width() * bitmap->Height(), amount);
}
