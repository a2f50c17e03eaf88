#include "pictures/pcx/color_manager.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pictures/common/lab_colour.h"
#include "platform/rtl/rounding.h"

namespace {

bool MaskOn(uint8_t mask, int i) { return (mask >> (7 - i % 8)) & 1; }

// Samples of up to 16 bits at a bit position, most significant bits first.
uint32_t GetBits(const uint8_t* p, size_t bitPos, int bits) {
  if (bits == 8) return p[bitPos >> 3];
  uint32_t v = 0;
  for (int i = 0; i < bits; ++i, ++bitPos) v = v << 1 | ((p[bitPos >> 3] >> (7 - (bitPos & 7))) & 1);
  return v;
}

void PutBits(uint8_t* p, size_t bitPos, int bits, uint32_t v) {
  if (bits == 8) {
    p[bitPos >> 3] = static_cast<uint8_t>(v);
    return;
  }
  for (int i = bits - 1; i >= 0; --i, ++bitPos) {
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (bitPos & 7));
    if ((v >> i) & 1) p[bitPos >> 3] |= bit;
    else p[bitPos >> 3] &= static_cast<uint8_t>(~bit);
  }
}

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>(v << 8 | v >> 8); }

uint32_t Read16(const uint8_t* p, bool swap) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return swap ? Swap16(v) : v;
}

void Write16(uint8_t* p, uint32_t v) {
  const uint16_t w = static_cast<uint16_t>(v);
  std::memcpy(p, &w, 2);
}

uint32_t MaxValue(int bits) { return bits >= 16 ? 65535u : (1u << bits) - 1; }

uint8_t ClampByte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

bool IsRgbFamily(TRowColorScheme s) { return s == rcsRGB || s == rcsRGBA || s == rcsBGR || s == rcsBGRA; }
bool IsBgr(TRowColorScheme s) { return s == rcsBGR || s == rcsBGRA; }
bool HasAlpha(TRowColorScheme s) { return s == rcsGrayAlpha || s == rcsRGBA || s == rcsBGRA; }

}  // namespace

TColorManager::TColorManager() { SetGammaValues(1.0f, 2.2f); }

namespace {
// A new value makes the converter be chosen again; a bad one changes nothing.
void SetChecked(uint8_t& field, int value, int maximum, const char* message, bool& changed) {
  if (value <= 0 || value > maximum) throw EColorConversionError(message);
  if (value != field) changed = true;
  field = static_cast<uint8_t>(value);
}
}  // namespace

void TColorManager::SetSourceSampleBits(int bits) { SetChecked(FSourceBPS, bits, 16, kColorDepthInvalid, FChanged); }
void TColorManager::SetTargetSampleBits(int bits) { SetChecked(FTargetBPS, bits, 16, kColorDepthInvalid, FChanged); }
void TColorManager::SetSourceSampleCount(int count) {
  SetChecked(FSourceSPP, count, 4, kSourceSampleCountInvalid, FChanged);
}
void TColorManager::SetTargetSampleCount(int count) {
  SetChecked(FTargetSPP, count, 4, kTargetSampleCountInvalid, FChanged);
}

void TColorManager::SetSourceScheme(TRowColorScheme scheme) {
  if (scheme != FSourceScheme) FChanged = true;
  FSourceScheme = scheme;
}

void TColorManager::SetTargetScheme(TRowColorScheme scheme) {
  if (scheme != FTargetScheme) FChanged = true;
  FTargetScheme = scheme;
}

TPixelFormat TColorManager::PixelFormatForSide(int side) const {
  const int samples = side == 0 ? FSourceSPP : FTargetSPP, bits = side == 0 ? FSourceBPS : FTargetBPS;
  switch (samples) {
    case 1:
      if (bits == 1) return pf1bit;
      if (bits <= 4) return pf4bit;
      if (bits >= 8) return pf8bit;
      return pfCustom;
    case 3: return bits <= 5 ? pf15bit : pf24bit;
    case 4: return bits >= 8 ? pf32bit : pfCustom;
    default: return pfCustom;
  }
}

void TColorManager::SetGammaValues(float first, float second) {
  FMainGamma = first > 0 ? first : 1.0f;
  FDisplayGamma = second > 0 ? second : 2.2f;
  // The table maps source values onto target values: its size comes from the
  // source, its range from the target.
  const int m = FSourceBPS >= 8 ? 255 : static_cast<int>(MaxValue(FSourceBPS));
  const int top = FTargetBPS >= 8 ? 255 : static_cast<int>(MaxValue(FTargetBPS));
  const double exponent = 1.0 / (static_cast<double>(FMainGamma) * FDisplayGamma);
  std::fill(std::begin(FGammaTable), std::end(FGammaTable), 0);
  for (int i = 0; i <= m; ++i)
    FGammaTable[i] = static_cast<uint8_t>(Round(std::pow(static_cast<double>(i) / m, exponent) * top));
}

void TColorManager::BuildYccTables() {
  const double kr = FYCbCrCoefficients[0], kg = FYCbCrCoefficients[1], kb = FYCbCrCoefficients[2];
  const double d = 2 - 2 * kr, e = 2 - 2 * kb, a = kr * d / kg, c = kb * e / kg;
  const bool photo = FSourceScheme == rcsPhotoYCC;
  for (int i = 0; i < 256; ++i) {
    const double fr = i - (photo ? 137 : 128), fb = i - (photo ? 156 : 128);
    FCrToRed[i] = static_cast<int32_t>(Round(d * fr));
    FCbToBlue[i] = static_cast<int32_t>(Round(e * fb));
    FCrToGreen[i] = -static_cast<int32_t>(Round(a * fr));
    FCbToGreen[i] = -static_cast<int32_t>(Round(c * fb));
  }
}

void TColorManager::SelectRowConverter() {
  FRowConverter = nullptr;
  const TRowColorScheme s = FSourceScheme, t = FTargetScheme;
  const bool sourceIndexed = s >= rcsIndexed && s <= rcsGrayAlpha, targetIndexed = t == rcsIndexed || t == rcsGray;
  if (sourceIndexed != targetIndexed) throw EColorConversionError(kIndexedMismatch);
  if (HasAlpha(s)) FSourceOptions.Include(rcoAlpha);
  else FSourceOptions.Exclude(rcoAlpha);
  if (HasAlpha(t)) FTargetOptions.Include(rcoAlpha);
  else FTargetOptions.Exclude(rcoAlpha);

  const int sb = FSourceBPS, tb = FTargetBPS;
  switch (s) {
    case rcsIndexed: FRowConverter = &TColorManager::PackedToPacked; break;
    case rcsGray:
      if (sb != 16 && tb != 16) FRowConverter = &TColorManager::PackedToPacked;
      else if (sb >= 8 && tb >= 8) FRowConverter = &TColorManager::GrayCopy;
      break;
    case rcsGrayAlpha:
      if ((sb == 8 || sb == 16) && (tb == 8 || tb == 16)) FRowConverter = &TColorManager::GrayCopy;
      break;
    case rcsRGB:
    case rcsRGBA:
    case rcsBGR:
    case rcsBGRA:
      if (IsRgbFamily(t)) {
        FRowConverter = &TColorManager::ChannelCopy;
        FReverseChannels = IsBgr(s) != IsBgr(t);
      }
      break;
    case rcsCMYK:
    case rcsCIELab:
    case rcsYCbCr:
    case rcsPhotoYCC:
      if (s == rcsYCbCr || s == rcsPhotoYCC) BuildYccTables();
      if (IsRgbFamily(t)) FRowConverter = &TColorManager::Formula;
      break;
    default: break;
  }
  FChanged = false;
}

void TColorManager::ConvertRow(const std::vector<const void*>& source, void* target, int count, uint8_t mask) {
  if (FChanged) SelectRowConverter();
  if (!FRowConverter) throw EColorConversionError(kNoConverter);
  std::vector<const uint8_t*> buffers;
  buffers.reserve(source.size());
  for (const void* p : source) buffers.push_back(static_cast<const uint8_t*>(p));
  if (buffers.empty() || !target || count <= 0) return;
  (this->*FRowConverter)(buffers, static_cast<uint8_t*>(target), count, mask);
}

uint8_t TColorManager::To8(uint32_t v, int bits, bool gamma) const {
  const uint32_t b = bits > 8 ? v * 255 / 65535 : v;
  return gamma && FTargetOptions.Contains(rcoApplyGamma) ? FGammaTable[b & 0xFF] : static_cast<uint8_t>(b);
}

// Indexed and grey samples of any size, packed most significant bits first
// (16-bit samples as whole words): each is rescaled to the target's range.
// Equal sizes under a full mask are one copy.
void TColorManager::PackedToPacked(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask) {
  const int sb = FSourceBPS, tb = FTargetBPS;
  const bool swap = FSourceOptions.Contains(rcoNeedByteSwap);
  if (sb == tb && mask == 0xFF && !(sb == 16 && swap)) {
    std::memcpy(t, s[0], (static_cast<size_t>(count) * sb + 7) / 8);
    return;
  }
  const uint32_t sMax = MaxValue(sb), tMax = MaxValue(tb);
  size_t sp = 0, tp = 0;
  for (int i = 0; i < count; ++i, tp += static_cast<size_t>(tb)) {
    if (!MaskOn(mask, i)) continue;
    uint32_t v = sb == 16 ? Read16(s[0] + sp / 8, swap) : GetBits(s[0], sp, sb);
    sp += static_cast<size_t>(sb);
    if (sMax != tMax) v = static_cast<uint32_t>(uint64_t(v) * tMax / sMax);
    if (tb == 16) Write16(t + tp / 8, v);
    else PutBits(t, tp, tb, v);
  }
}

// Grey of 8 or 16 bits, a source alpha skipped; no gamma.
void TColorManager::GrayCopy(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask) {
  const int sBytes = FSourceBPS > 8 ? 2 : 1, tBytes = FTargetBPS > 8 ? 2 : 1;
  const int stride = (FSourceOptions.Contains(rcoAlpha) ? 2 : 1) * sBytes;
  const bool swap = FSourceOptions.Contains(rcoNeedByteSwap);
  const uint8_t* p = s[0];
  for (int i = 0; i < count; ++i, t += tBytes) {
    if (!MaskOn(mask, i)) continue;
    const uint32_t v = sBytes == 2 ? Read16(p, swap) : *p;
    p += stride;
    if (tBytes == 1) *t = sBytes == 2 ? static_cast<uint8_t>(v * 255 / 65535) : static_cast<uint8_t>(v);
    else Write16(t, sBytes == 2 ? v : v * 65535 / 255);
  }
}

// Red, green and blue (and alpha) from one interleaved buffer or from planes,
// in the same or the reversed order.
void TColorManager::ChannelCopy(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask) {
  const int sBytes = FSourceBPS > 8 ? 2 : 1, tBytes = FTargetBPS > 8 ? 2 : 1;
  const bool sAlpha = FSourceOptions.Contains(rcoAlpha), tAlpha = FTargetOptions.Contains(rcoAlpha);
  const bool planar = s.size() > 1, swap = FSourceOptions.Contains(rcoNeedByteSwap);
  const int sSamples = sAlpha ? 4 : 3;
  const int written = sAlpha && tAlpha ? 4 : 3, advance = (tAlpha ? 4 : 3) * tBytes;
  if (planar && s.size() < static_cast<size_t>(sAlpha ? 4 : 3)) return;
  auto sample = [&](int pixel, int channel) -> uint32_t {
    const uint8_t* p = planar ? s[static_cast<size_t>(channel)] + static_cast<size_t>(pixel) * sBytes
                              : s[0] + (static_cast<size_t>(pixel) * sSamples + channel) * sBytes;
    return sBytes == 2 ? Read16(p, swap) : *p;
  };
  int k = 0;
  for (int i = 0; i < count; ++i, t += advance) {
    if (!MaskOn(mask, i)) continue;
    for (int c = 0; c < written; ++c) {
      const int from = c < 3 && FReverseChannels ? 2 - c : c;
      const uint32_t v = sample(k, from);
      const bool gamma = c < 3;
      if (tBytes == 1) t[c] = To8(v, FSourceBPS, gamma);
      else Write16(t + c * 2, sBytes == 2 ? v : v * 65535 / 255);
    }
    ++k;
  }
}

// CMYK, CIE L*a*b*, YCbCr and PhotoYCC through their formulas.
void TColorManager::Formula(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask) {
  const int sBytes = FSourceBPS > 8 ? 2 : 1, tBytes = FTargetBPS > 8 ? 2 : 1;
  const bool planar = s.size() > 1, swap = FSourceOptions.Contains(rcoNeedByteSwap);
  const int channels = FSourceScheme == rcsCMYK ? 4 : 3;
  const int stride = std::max<int>(channels, FSourceSPP);
  if (planar && s.size() < static_cast<size_t>(channels)) return;
  const bool targetBgr = IsBgr(FTargetScheme);
  const int advance = (FTargetOptions.Contains(rcoAlpha) ? 4 : 3) * tBytes;
  auto sample = [&](int pixel, int channel) -> uint32_t {
    const uint8_t* p = planar ? s[static_cast<size_t>(channel)] + static_cast<size_t>(pixel) * sBytes
                              : s[0] + (static_cast<size_t>(pixel) * stride + channel) * sBytes;
    return sBytes == 2 ? Read16(p, swap) : *p;
  };
  int k = 0;
  for (int i = 0; i < count; ++i, t += advance) {
    if (!MaskOn(mask, i)) continue;
    uint32_t v[4] = {};
    for (int c = 0; c < channels; ++c) v[c] = sample(k, c);
    ++k;
    uint8_t bgr[3];
    uint32_t wide[3] = {};  // 16-bit results of 16-bit CMYK
    bool haveWide = false;
    switch (FSourceScheme) {
      case rcsCMYK:
        if (sBytes == 1) {
          for (int c = 0; c < 3; ++c)
            bgr[2 - c] = ClampByte(int64_t(v[c]) * v[3] / 255 - v[c] - v[3] + 255);
        } else {
          for (int c = 0; c < 3; ++c) {
            const int64_t ink = int64_t(v[c]) + v[3] - int64_t(v[c]) * v[3] / 65535;
            bgr[2 - c] = ClampByte(255 - ink * 255 / 65535);
            wide[2 - c] = static_cast<uint32_t>(std::clamp<int64_t>(65535 - ink, 0, 65535));
          }
          haveWide = true;
        }
        break;
      case rcsCIELab: {
        // 16-bit samples are taken to 8 bits first.
        for (int c = 0; c < 3; ++c)
          if (sBytes == 2) v[c] = v[c] * 255 / 65535;
        const double L = FSourceOptions.Contains(rcoLabByteRange) ? v[0] / 2.55 : v[0];
        const double a = FSourceOptions.Contains(rcoLabChromaOffset) ? int(v[1]) - 128 : static_cast<int8_t>(v[1]);
        const double b = FSourceOptions.Contains(rcoLabChromaOffset) ? int(v[2]) - 128 : static_cast<int8_t>(v[2]);
        LabToBgr(L, a, b, bgr);
        break;
      }
      default: {
        for (int c = 0; c < 3; ++c)
          if (sBytes == 2) v[c] = v[c] * 255 / 65535;
        const int y = static_cast<int>(v[0]), cb = static_cast<int>(v[1]), cr = static_cast<int>(v[2]);
        bgr[0] = ClampByte(y + FCbToBlue[cb]);
        bgr[1] = ClampByte(y + FCbToGreen[cb] + FCrToGreen[cr]);
        bgr[2] = ClampByte(y + FCrToRed[cr]);
        break;
      }
    }
    for (int c = 0; c < 3; ++c) {
      const int from = targetBgr ? c : 2 - c;
      if (tBytes == 1) t[c] = bgr[from];
      else Write16(t + c * 2, haveWide ? wide[from] : bgr[from] * 65535u / 255);
    }
  }
}

HPALETTE TColorManager::MakeColorPalette(const std::vector<const void*>& data, int layout, bool bgr, int count) {
  count = std::clamp(count, 0, 256);
  std::vector<PALETTEENTRY> entries(static_cast<size_t>(count));
  const bool wide = layout >= 4, planar = (layout & 3) >= 2;
  const int stride = (layout & 3) == 1 ? 4 : 3;
  const bool swap = FSourceOptions.Contains(rcoNeedByteSwap), gamma = FTargetOptions.Contains(rcoApplyGamma);
  auto sample = [&](int i, int channel) -> uint8_t {
    const auto* base = static_cast<const uint8_t*>(planar ? data[static_cast<size_t>(channel)] : data[0]);
    const size_t at = planar ? static_cast<size_t>(i) : static_cast<size_t>(i) * stride + channel;
    if (wide) return static_cast<uint8_t>(Read16(base + at * 2, swap) * 255 / 65535);
    return gamma ? FGammaTable[base[at]] : base[at];
  };
  if (!data.empty() && (!planar || data.size() >= 3))
    for (int i = 0; i < count; ++i) {
      const uint8_t a = sample(i, 0), b = sample(i, 1), c = sample(i, 2);
      const bool reversed = bgr && !planar;
      entries[static_cast<size_t>(i)] = PALETTEENTRY{reversed ? c : a, b, reversed ? a : c, 0};
    }
  // Indexes of the source's range spread over the target's: a 2-bit picture
  // shown as 4 bits finds its four colours at 0, 5, 10 and 15.
  const int sb = FSourceBPS, tb = FTargetBPS;
  if (tb <= 8 && MaxValue(sb) != MaxValue(tb)) {
    const uint32_t sMax = MaxValue(sb), tMax = MaxValue(tb);
    std::vector<PALETTEENTRY> spread(tMax + 1);
    for (uint32_t j = 0; j <= tMax; ++j) {
      const uint64_t from = uint64_t(j) * sMax / tMax;
      if (from < entries.size()) spread[j] = entries[from];
    }
    entries = std::move(spread);
  }
  std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * std::max<size_t>(entries.size(), 1));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(entries.size());
  std::copy(entries.begin(), entries.end(), lp->palPalEntry);
  return CreatePalette(lp);
}

HPALETTE TColorManager::MakeGrayPalette(bool minimumIsWhite) {
  const int count = 1 << std::min(FTargetBPS * FTargetSPP, 8);
  // A single entry has nothing to spread over.
  const int step = count > 1 ? 255 / (count - 1) : 0;
  const bool gamma = FTargetOptions.Contains(rcoApplyGamma);
  std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<size_t>(count));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  for (int i = 0; i < count; ++i) {
    uint8_t level = static_cast<uint8_t>(i * step);
    if (gamma) level = FGammaTable[level];
    lp->palPalEntry[minimumIsWhite ? count - 1 - i : i] = PALETTEENTRY{level, level, level, 0};
  }
  return CreatePalette(lp);
}
