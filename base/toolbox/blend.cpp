#include "base/toolbox/blend.h"

#include <filesystem>
#include <memory>

#include "base/compact_encoding.h"
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

bool LoadBlendTable(const std::string& fileName) {
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

void UnloadBlendTable() { gBlendTable.reset(); }

namespace {

// Unit start-up: the table is there before any window is made. An unreadable
// file cannot be reported this early; the computed weights stand in.
struct TBlendTableUnit {
  TBlendTableUnit() {
    try {
      InitBlendTable();
    } catch (const Exception&) {
    }
  }
} gBlendTableUnit;

}  // namespace

const uint8_t* BlendTable() { return gBlendTable ? gBlendTable->Items() : nullptr; }

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
