#pragma once
// Reading and writing Windows BMP files and packed DIBs. Every variant is read
// into one in-memory form: an uncompressed DIB with bottom-up, DWORD-aligned rows,
// its colour table and, for bit-field formats, its channel masks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/graphics/dib_header.h"
#include "platform/graphics/dib_types.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

class TStream;

namespace bmpcodec {

// The text every malformed bitmap raises (EInvalidGraphic).
inline constexpr const char* kInvalidBitmap = "Bitmap image is not valid";

// The error every refused bitmap raises: the user sees kInvalidBitmap, the
// caller can ask which rule refused it.
class EBitmapRefused : public EInvalidGraphic {
public:
  explicit EBitmapRefused(TDibRefusal reason) : EInvalidGraphic(kInvalidBitmap), FReason(reason) {}
  TDibRefusal Reason() const { return FReason; }

private:
  TDibRefusal FReason;
};

// A non-owning look at pixels in DIB layout (rows bottom-up, DWORD aligned).
struct DibView {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  DWORD masks[4] = {0, 0, 0, 0};
  const RGBQUAD* colors = nullptr;
  int colorCount = 0;
  uint8_t* bits = nullptr;

  int64_t RowBytes() const { return DibRowBytes(width, bitCount); }
  uint8_t* Row(int yFromTop) const {
    return bits + static_cast<size_t>(height - 1 - yFromTop) * static_cast<size_t>(RowBytes());
  }
  void EffectiveMasks(DWORD out[4]) const;
};

struct Dib {
  int width = 0;
  int height = 0;         // always positive: rows are stored bottom-up
  int bitCount = 0;       // 1, 4, 8, 16, 24 or 32
  DWORD compression = BI_RGB;  // BI_RGB or BI_BITFIELDS (RLE is expanded on reading)
  DWORD masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha for BI_BITFIELDS
  std::vector<RGBQUAD> colors;    // colour table of 1-, 4- and 8-bit DIBs
  std::vector<uint8_t> bits;      // height rows of RowBytes() each, bottom row first
  LONG xPelsPerMeter = 0;
  LONG yPelsPerMeter = 0;
  DWORD sourceHeaderSize = 40;    // 12, 40, 52, 56, 108 or 124 as read

  int64_t RowBytes() const { return DibRowBytes(width, bitCount); }
  bool Empty() const { return width <= 0 || height <= 0; }
  // Row y counted from the top.
  uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(RowBytes()); }
  const uint8_t* Row(int y) const {
    return bits.data() + static_cast<size_t>(height - 1 - y) * static_cast<size_t>(RowBytes());
  }
  // The masks in effect: the stored ones for BI_BITFIELDS, else the defaults of
  // the bit count (5-5-5 for 16 bits, 8-8-8 for 24 and 32; no alpha mask).
  void EffectiveMasks(DWORD out[4]) const;
  // A header describing this DIB (biHeight positive, biSizeImage set).
  BITMAPINFOHEADER InfoHeader() const;
  DibView View() const;
};

// Reads a BMP file from the stream's position; leaves the stream behind the pixel
// data. Raises EInvalidGraphic on anything malformed; never reads past what the
// stream holds and never allocates more than the file can fill (RLE output is
// capped too).
Dib ReadBmp(TStream& stream);

// Reads a packed DIB (info header, masks, colour table, pixels) as the clipboard
// and icon resources hold it.
Dib ReadPackedDib(const void* data, size_t size);

// The header, masks and colour table of a DIB in memory, as ReadPackedDib reads
// them, without its rows (bits stays empty): for callers whose rows lie in place.
// Raises as ReadPackedDib does on a header or table it refuses.
Dib ReadDibHead(const void* data, size_t size);

// Writes a BMP file as the framework does: file header, 40-byte info header,
// the three masks for BI_BITFIELDS, the colour table, the rows bottom-up.
void WriteBmp(TStream& stream, const Dib& dib);

// Packed DIB of the same content (no file header).
std::vector<uint8_t> PackDib(const Dib& dib);

// A pixel as 8-bit red, green, blue and alpha (alpha 255 when the format has
// none); channels of fewer bits are widened by repeating their top bits.
struct Rgba {
  uint8_t r = 0, g = 0, b = 0, a = 255;
};
Rgba PixelAt(const DibView& dib, int x, int yFromTop);
inline Rgba PixelAt(const Dib& dib, int x, int yFromTop) { return PixelAt(dib.View(), x, yFromTop); }

// Stores a colour into a pixel: packed into the channel masks (a mask's low bits
// dropped), or, for 1-, 4- and 8-bit pixels, as the index of the nearest entry of
// the colour table. Alpha is written only where the format has an alpha byte or mask.
void StorePixel(const DibView& dib, int x, int yFromTop, Rgba color);

// Index of the colour table entry nearest to a colour (squared RGB distance; the
// first of equals).
int NearestColorIndex(const RGBQUAD* colors, int count, uint8_t r, uint8_t g, uint8_t b);

// Raw channel value of a bit-field pixel and the width of that channel in bits.
int MaskShift(DWORD mask);
int MaskBits(DWORD mask);

}  // namespace bmpcodec
