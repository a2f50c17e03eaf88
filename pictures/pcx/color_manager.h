#pragma once
// TColorManager converts rows of pixels between colour schemes, sample sizes
// and sample counts: a source row, interleaved or one buffer per channel,
// goes into a target row laid out as a bitmap's scanline, pixel by pixel under
// a bit mask. It also makes the palettes of indexed and grey pictures.
#include <cstdint>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/tset.h"

QV_DECLARE_EXCEPTION(EColorConversionError, Exception);

inline constexpr const char* kColorDepthInvalid = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16";
inline constexpr const char* kSourceSampleCountInvalid =
    "Sample count per pixel does not correspond to the given color scheme";
inline constexpr const char* kTargetSampleCountInvalid =
    "Sample count per pixel does not correspond to the given color scheme.";
inline constexpr const char* kIndexedMismatch =
    "Conversion between indexed and non-indexed pixel formats is not supported";
inline constexpr const char* kNoConverter = "Color conversion failed. Could not find a proper method.";

enum TRowColorScheme : uint8_t {
  rcsUnknown, rcsIndexed, rcsGray, rcsGrayAlpha, rcsRGB, rcsRGBA, rcsBGR, rcsBGRA,
  rcsOther, rcsCMYK, rcsCIELab, rcsYCbCr, rcsPhotoYCC
};
enum TRowConvertOption : uint8_t { rcoAlpha, rcoApplyGamma, rcoNeedByteSwap, rcoLabByteRange, rcoLabChromaOffset };
using TRowConvertOptions = TSet<TRowConvertOption>;

class TColorManager : public TObject {
public:
  TColorManager();

  void SetSourceSampleBits(int bits);
  void SetTargetSampleBits(int bits);
  void SetSourceSampleCount(int count);
  void SetTargetSampleCount(int count);
  void SetSourceScheme(TRowColorScheme scheme);
  void SetTargetScheme(TRowColorScheme scheme);
  void SetSourceOptions(TRowConvertOptions options) { FSourceOptions = options; FChanged = true; }
  void SetTargetOptions(TRowConvertOptions options) { FTargetOptions = options; FChanged = true; }
  TRowConvertOptions SourceOptions() const { return FSourceOptions; }
  TRowConvertOptions TargetOptions() const { return FTargetOptions; }

  // side 0 the source, 1 the target.
  TPixelFormat PixelFormatForSide(int side) const;
  void SetGammaValues(float first, float second);
  const uint8_t* GammaTable() const { return FGammaTable; }

  void SelectRowConverter();
  // One pointer: interleaved samples; several: one plane per channel, in the
  // scheme's order. mask: pixel i is converted when bit 7 - i mod 8 is set.
  void ConvertRow(const std::vector<const void*>& source, void* target, int count, uint8_t mask);

  // Layouts: 0 interleaved 8-bit triples, 1 quadruples (fourth skipped), 2 and 3
  // three 8-bit planes, 4 to 7 the same with 16-bit samples. The caller owns the
  // palette handle.
  HPALETTE MakeColorPalette(const std::vector<const void*>& data, int layout, bool bgr, int count);
  HPALETTE MakeGrayPalette(bool minimumIsWhite);

private:
  using TRowConverter = void (TColorManager::*)(const std::vector<const uint8_t*>&, uint8_t*, int, uint8_t);

  void BuildYccTables();
  uint8_t To8(uint32_t v, int bits, bool gamma) const;
  void PackedToPacked(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask);
  void GrayCopy(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask);
  void ChannelCopy(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask);
  void Formula(const std::vector<const uint8_t*>& s, uint8_t* t, int count, uint8_t mask);

  bool FChanged = true;
  uint8_t FSourceBPS = 8, FTargetBPS = 8, FSourceSPP = 3, FTargetSPP = 3;
  float FMainGamma = 1.0f, FDisplayGamma = 2.2f;
  uint8_t FGammaTable[256] = {};
  float FYCbCrCoefficients[3] = {0.299f, 0.587f, 0.114f};
  int32_t FCrToRed[256] = {}, FCbToBlue[256] = {}, FCrToGreen[256] = {}, FCbToGreen[256] = {};
  TRowColorScheme FSourceScheme = rcsRGB, FTargetScheme = rcsBGR;
  TRowConverter FRowConverter = nullptr;
  bool FReverseChannels = false;
  TRowConvertOptions FSourceOptions, FTargetOptions;
};
