#pragma once
// HD Photo coding over libjxr (JXRGlue). libjxr's headers define their own
// Windows types, so they are included in jxr_glue.cpp alone; this interface
// speaks in plain bytes and our own names.
//
// Both directions work in memory: the decoder reads a buffer the caller
// keeps, the encoder appends to a vector, so nothing reaches the caller's
// stream unless the whole encode succeeded.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace jxr {

// The pixel layouts we exchange with the codec as they are; any other layout
// of a file is jpOther and reaches us only through libjxr's converter.
enum TJxrPixel : uint8_t {
  jpOther,
  jpBlackWhite,  // 1 bit, most significant first, set = white
  jpGray8,
  jpGray16,
  jpBGR24,
  jpRGB24,
  jpRGB48,
  jpCMYK32,  // 0 = no ink
};

// True when the library makes its decoder and encoder objects.
bool CodecPresent();

// Bits per pixel of a layout (0 for jpOther).
int PixelBits(TJxrPixel pixel);
// Channels of a layout (0 for jpOther).
int PixelChannels(TJxrPixel pixel);

class TJxrDecoder {
public:
  TJxrDecoder();
  ~TJxrDecoder();
  TJxrDecoder(const TJxrDecoder&) = delete;
  TJxrDecoder& operator=(const TJxrDecoder&) = delete;

  // Reads the container and image headers of the bytes (kept by the caller
  // for the decoder's life). False with a reason when libjxr refuses them.
  bool Open(const uint8_t* data, size_t size, const char*& why);
  uint32_t FrameCount() const;
  bool SelectFrame(uint32_t index);
  int Width() const;
  int Height() const;
  float ResolutionX() const;
  float ResolutionY() const;
  TJxrPixel Pixel() const;
  // The frame's pixels as stored (Pixel() must not be jpOther), top row first,
  // into width x height rows of stride bytes.
  bool CopyNative(uint8_t* rows, size_t stride, const char*& why);
  // The frame converted to blue, green, red bytes by libjxr's converter.
  bool CopyBGR24(uint8_t* rows, size_t stride, const char*& why);

private:
  struct TState;
  std::unique_ptr<TState> F;
};

// The encoder's settings, in the codec's own terms.
struct TJxrEncodeOptions {
  int QuantIndex = 1;       // 1: lossless; larger: coarser
  int Overlap = 1;          // 0 none, 1 one level, 2 two levels
  int Subsampling = 3;      // colour: 0 Y only, 1 4:2:0, 2 4:2:2, 3 4:4:4
  int HorizontalTiles = 0;  // tile rows - 1 (0: one)
  int VerticalTiles = 0;    // tile columns - 1
  bool FrequencyOrder = true;
};

// Encodes width x height rows (top first, stride bytes) of the layout into
// out (appended). False with a reason, out as it was, when libjxr fails.
bool EncodeJxr(TJxrPixel pixel, int width, int height, float resX, float resY, const uint8_t* rows, size_t stride,
               const TJxrEncodeOptions& options, std::vector<uint8_t>& out, const char*& why);

}  // namespace jxr
