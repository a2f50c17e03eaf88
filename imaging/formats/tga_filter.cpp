#include "imaging/formats/tga_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/graphics/dib_channel.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"


namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;
constexpr char kSignature[] = "TRUEVISION-XFILE.";  // with its terminating 0: 18 bytes
constexpr int kMaxIdLength = 254;                    // the ID and its 0 byte fit the length byte
constexpr int kTextField = 41;                       // author and job name, 0 included

bool KnownType(int type) { return (type >= 1 && type <= 3) || (type >= 9 && type <= 11); }
bool KnownDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

std::string FieldText(const uint8_t* p, int size) {
  int n = 0;
  while (n < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), size_t(n));
}

// 5-5-5 colour scaled so that 31 reads 255.
TRGB From555(uint16_t w) {
  return TRGB{ScaleMaskedChannel(w & 0x1F, 5), ScaleMaskedChannel((w >> 5) & 0x1F, 5),
              ScaleMaskedChannel((w >> 10) & 0x1F, 5)};
}

// ---- reading ----

class TTgaReader {
public:
  TTgaReader(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress)
      : FStream(stream), FBitmap(bitmap), FParams(params), FProgress(progress) {}

  void Run(bool paramsOnly, TIEMaskOut& alphaMask, bool ignoreAlpha) {
    FStart = FStream.Position();
    ReadExtension();
    FStream.SetPosition(FStart);
    TIEBufferedReadStream in(&FStream, 8192);
    FIn = &in;
    uint8_t h[kHeaderSize];
    if (in.Read(h, kHeaderSize) != kHeaderSize) return FProgress.Refuse("the header is cut short");
    const int idLength = h[0], mapType = h[1], type = h[2];
    const int mapFirst = ReadLE16(h + 3), mapLength = ReadLE16(h + 5), mapEntry = h[7];
    FWidth = ReadLE16(h + 12);
    FHeight = ReadLE16(h + 14);
    FDepth = h[16];
    FDescriptor = h[17];
    FParams.TgaXPos = ReadLE16(h + 8);
    FParams.TgaYPos = ReadLE16(h + 10);
    if (!KnownType(type)) return FProgress.Refuse("an image type that is not read");
    if (!KnownDepth(FDepth)) return FProgress.Refuse("a depth that is not read");
    if (mapType > 1) return FProgress.Refuse("a colour map type that is not read");
    std::string id(size_t(idLength), '\0');
    if (in.Read(id.data(), idLength) != idLength) return FProgress.Refuse("the image ID runs past the end");
    FParams.TgaImageID = FieldText(reinterpret_cast<const uint8_t*>(id.data()), idLength);

    // Indices past the colour map keep the fixed 3-3-2 colours.
    for (int r = 0; r < 8; ++r)
      for (int g = 0; g < 8; ++g)
        for (int b = 0; b < 4; ++b)
          FPalette[r * 32 + g * 4 + b] = MakeRGB(uint8_t(r * 32 + 28), uint8_t(g * 32 + 28), uint8_t(b * 64 + 60));
    std::fill(std::begin(FAlphaPalette), std::end(FAlphaPalette), uint8_t(255));
    FParams.FreePalette();
    if (mapType == 1) {
      if (!ReadColorMap(mapFirst, mapLength, mapEntry)) return FProgress.Refuse("the colour map runs past the end");
      const int count = std::min(mapFirst + mapLength, 256);
      FParams.Palette.assign(FPalette, FPalette + count);
      FParams.PaletteCount = count;
      FParams.TgaGrayscale = false;
    } else {
      FParams.TgaGrayscale = FDepth == 8;
      if (FDepth == 8)
        for (int i = 0; i < 256; ++i) FPalette[i] = MakeRGB(uint8_t(i), uint8_t(i), uint8_t(i));
      if (FDepth == 1) FPalette[0] = MakeRGB(0, 0, 0), FPalette[1] = MakeRGB(255, 255, 255);
    }
    FCompressed = type >= 9;
    // 16 bits in a grey picture are a grey byte and an alpha byte, not colour.
    FGreyAlpha = (type == 3 || type == 11) && FDepth == 16;
    FParams.TgaCompressed = FCompressed;
    FParams.Width = FParams.StoredWidth = FWidth;
    FParams.Height = FParams.StoredHeight = FHeight;
    FParams.SetDpiX(gDefaultDPIX);
    FParams.SetDpiY(gDefaultDPIY);
    FParams.SetImageCount(1);
    switch (FDepth) {
      case 1: FParams.BitsPerSample = 1, FParams.SamplesPerPixel = 1; break;
      case 4: FParams.BitsPerSample = 4, FParams.SamplesPerPixel = 1; break;
      case 8: FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 1; break;
      case 16: FParams.BitsPerSample = 5, FParams.SamplesPerPixel = 3; break;
      case 24: FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 3; break;
      default: FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 4; break;
    }
    if (FGreyAlpha) FParams.BitsPerSample = 8, FParams.SamplesPerPixel = 2;
    if (paramsOnly) return;
    if (FWidth == 0 || FHeight == 0) return FProgress.Refuse("a side of zero");
    // Packets hold whole pixels, so sub-byte depths have no run-length form.
    if (FCompressed && FDepth < 8) return FProgress.Refuse("run-length data below 8 bits");
    const int64_t rowBytes = FDepth == 1 ? (FWidth + 7) / 8 : FDepth == 4 ? (FWidth + 1) / 2 : FWidth * (FDepth / 8);
    if (!DataCanFill(rowBytes * FHeight, in.Size() - in.Position(), FCompressed ? 128 : 1))
      return FProgress.Refuse(kRefusedUnfilled);

    if (!FBitmap.Allocate(FWidth, FHeight, FDepth == 1 ? ie1g : ie24RGB))
      return FProgress.Refuse(kRefusedNoMemory);
    std::unique_ptr<TIEMask> mask;
    if ((FDepth == 32 || FGreyAlpha || (mapType == 1 && mapEntry == 32)) && !ignoreAlpha) {
      mask = alphaMask ? std::move(alphaMask) : std::make_unique<TIEMask>();
      mask->Allocate(FWidth, FHeight, 8);
      mask->Fill(255);
      mask->SetFull(false);
      FAlphaRow.assign(size_t(FWidth), 255);
    }
    DecodeRows(mask.get());
    if (mask) {
      mask->UpdateBoundingBox();
      if (!mask->IsEmpty()) alphaMask = std::move(mask);
    }
  }

private:
  void ReadExtension() {
    FParams.TgaAuthor.clear();
    FParams.TgaDateTime = Date();
    FParams.TgaJobName.clear();
    FParams.TgaKeyColor = TRGB{};
    FParams.TgaAspectRatio = 1.0;
    FParams.TgaGamma = 2.2;
    const int64_t size = FStream.Size();
    if (size - FStart < kHeaderSize + kFooterSize) return;
    uint8_t f[kFooterSize];
    FStream.SetPosition(size - kFooterSize);
    if (FStream.Read(f, kFooterSize) != kFooterSize || std::memcmp(f + 8, kSignature, sizeof kSignature) != 0) return;
    const int64_t offset = ReadLE32(f);
    if (offset < kHeaderSize || FStart + offset + kExtensionSize > size - kFooterSize) return;
    uint8_t e[kExtensionSize];
    FStream.SetPosition(FStart + offset);
    if (FStream.Read(e, kExtensionSize) != kExtensionSize) return;
    FParams.TgaAuthor = FieldText(e + 2, kTextField);
    const int month = ReadLE16(e + 367), day = ReadLE16(e + 369), year = ReadLE16(e + 371);
    const int hour = ReadLE16(e + 373), minute = ReadLE16(e + 375), second = ReadLE16(e + 377);
    TDateTime date = 0;
    if (month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 1 && year <= 2499 && hour < 24 &&
        minute < 60 && second < 60 && TryEncodeDate(uint16_t(year), uint16_t(month), uint16_t(day), date))
      FParams.TgaDateTime = date + EncodeTime(uint16_t(hour), uint16_t(minute), uint16_t(second), 0);
    FParams.TgaJobName = FieldText(e + 379, kTextField);
    FParams.TgaKeyColor = MakeRGB(e[471], e[472], e[473]);
    const int an = ReadLE16(e + 474), ad = ReadLE16(e + 476), gn = ReadLE16(e + 478), gd = ReadLE16(e + 480);
    if (an != 0 && ad != 0) FParams.TgaAspectRatio = double(an) / ad;
    if (gn != 0 && gd != 0) FParams.TgaGamma = double(gn) / gd;
  }

  bool ReadColorMap(int first, int length, int entrySize) {
    const int entryBytes = (entrySize + 7) / 8;
    const int64_t total = int64_t(length) * entryBytes;
    if (total > FIn->Size() - FIn->Position()) return false;
    std::vector<uint8_t> map(static_cast<size_t>(total));
    if (FIn->Read(map.data(), total) != total) return false;
    if (entrySize != 15 && entrySize != 16 && entrySize != 24 && entrySize != 32) return true;  // skipped
    // Entries past index 255 have no place in the palette and are passed over.
    for (int i = 0; i < length && first + i < 256; ++i) {
      const uint8_t* p = map.data() + int64_t(i) * entryBytes;
      TRGB& c = FPalette[first + i];
      if (entryBytes == 2) {
        c = From555(ReadLE16(p));
      } else {
        c = TRGB{p[0], p[1], p[2]};
        if (entryBytes == 4) {
          FAlphaPalette[first + i] = p[3];
          FMapAlpha = true;
        }
      }
    }
    return true;
  }

  // One pixel value (bytes of the file) into column x of the row buffers.
  void Put(int x, const uint8_t* v) {
    uint8_t* d = FRow.data() + 3 * int64_t(x);
    switch (FDepth) {
      case 8:
      case 4: {
        const TRGB c = FPalette[v[0]];
        d[0] = c.b, d[1] = c.g, d[2] = c.r;
        if (FMapAlpha && !FAlphaRow.empty()) FAlphaRow[size_t(x)] = FAlphaPalette[v[0]];
        break;
      }
      case 16: {
        if (FGreyAlpha) {
          d[0] = d[1] = d[2] = v[0];
          if (!FAlphaRow.empty()) FAlphaRow[size_t(x)] = v[1];
          break;
        }
        const TRGB c = From555(ReadLE16(v));
        d[0] = c.b, d[1] = c.g, d[2] = c.r;
        break;
      }
      default:
        d[0] = v[0], d[1] = v[1], d[2] = v[2];
        if (FDepth == 32 && !FAlphaRow.empty()) FAlphaRow[size_t(x)] = v[3];
        break;
    }
  }

  bool ReadRawRow() {
    if (FDepth == 1) return FIn->Read(FRow.data(), int64_t(FRow.size())) == int64_t(FRow.size());
    if (FDepth == 4) {
      const int64_t n = (FWidth + 1) / 2;
      if (FIn->Read(FRaw.data(), n) != n) return false;
      for (int x = 0; x < FWidth; ++x) {
        const uint8_t b = FRaw[size_t(x / 2)];
        const uint8_t index[4] = {uint8_t((x & 1) ? b & 0x0F : b >> 4), 0, 0, 0};
        Put(x, index);
      }
      return true;
    }
    const int bpp = FDepth / 8;
    const int64_t n = int64_t(FWidth) * bpp;
    if (FIn->Read(FRaw.data(), n) != n) return false;
    for (int x = 0; x < FWidth; ++x) Put(x, FRaw.data() + int64_t(x) * bpp);
    return true;
  }

  // A packet that runs past the row end goes on at the start of the next row.
  bool ReadRleRow() {
    const int bpp = FDepth / 8;
    for (int x = 0; x < FWidth;) {
      if (FPending == 0) {
        uint8_t head;
        if (!FIn->ReadByte(head)) return false;
        FPending = (head & 0x7F) + 1;
        FRun = (head & 0x80) != 0;
        if (FRun && FIn->Read(FValue, bpp) != bpp) return false;
      }
      for (; FPending > 0 && x < FWidth; --FPending, ++x) {
        if (!FRun && FIn->Read(FValue, bpp) != bpp) return false;
        Put(x, FValue);
      }
    }
    return true;
  }

  void Mirror() {
    if (FDepth == 1) {
      std::vector<uint8_t> copy(FRow);
      std::fill(FRow.begin(), FRow.end(), 0);
      for (int x = 0; x < FWidth; ++x)
        if (GetRowBit(copy.data(), x)) SetRowBit(FRow.data(), FWidth - 1 - x, true);
    } else {
      for (int a = 0, b = FWidth - 1; a < b; ++a, --b)
        std::swap_ranges(FRow.begin() + 3 * a, FRow.begin() + 3 * a + 3, FRow.begin() + 3 * b);
    }
    if (!FAlphaRow.empty()) std::reverse(FAlphaRow.begin(), FAlphaRow.end());
  }

  void DecodeRows(TIEMask* mask) {
    const bool topDown = (FDescriptor & 0x20) != 0;
    const bool rightToLeft = (FDescriptor & 0x10) != 0;
    FRow.assign(size_t(FDepth == 1 ? (FWidth + 7) / 8 : 3 * int64_t(FWidth)), 0);
    FRaw.assign(size_t(int64_t(FWidth) * 4 + 4), 0);
    FProgress.Step = 100.0 / FHeight;
    FProgress.Counter = 0;
    TFilterRowProgress rp{FProgress};
    const int64_t rowLen = int64_t(FRow.size());
    for (int i = 0; i < FHeight; ++i) {
      const int y = topDown ? i : FHeight - 1 - i;
      std::fill(FRow.begin(), FRow.end(), 0);
      const bool whole = FCompressed ? ReadRleRow() : ReadRawRow();
      if (rightToLeft) Mirror();
      if (!whole) {
        // What was read stays; the rows the data did not reach are cleared.
        std::memcpy(FBitmap.ScanLine(y), FRow.data(), size_t(rowLen));
        if (topDown) ClearBitmapRows(FBitmap, y + 1, FHeight);
        else ClearBitmapRows(FBitmap, 0, y);
        return FProgress.Refuse(kRefusedRowsCut);
      }
      std::memcpy(FBitmap.ScanLine(y), FRow.data(), size_t(rowLen));
      if (mask) std::memcpy(mask->ScanLine(y), FAlphaRow.data(), FAlphaRow.size());
      ++FProgress.Counter;
      rp.Row(FProgress.Counter);
      if (FProgress.Aborted()) return;
    }
  }

  TStream& FStream;
  TIEBitmap& FBitmap;
  TIOParamsVals& FParams;
  TProgressRecord& FProgress;
  TIEBufferedReadStream* FIn = nullptr;
  int64_t FStart = 0;
  int FWidth = 0, FHeight = 0, FDepth = 0, FDescriptor = 0;
  bool FCompressed = false;
  TRGB FPalette[256];
  uint8_t FAlphaPalette[256];
  bool FMapAlpha = false;
  bool FGreyAlpha = false;
  std::vector<uint8_t> FRow, FRaw, FAlphaRow;
  int FPending = 0;
  bool FRun = false;
  uint8_t FValue[4] = {0, 0, 0, 0};
};

// ---- writing ----

void PutText(uint8_t* p, const std::string& s) {
  std::memcpy(p, s.data(), std::min<size_t>(s.size(), kTextField - 1));
}

std::vector<uint8_t> ExtensionArea(TIOParamsVals& params) {
  std::vector<uint8_t> e(kExtensionSize, 0);
  WriteLE16(e.data(), kExtensionSize);
  PutText(e.data() + 2, params.TgaAuthor);
  uint16_t year, month, day, hour, minute, second, ms;
  DecodeDate(params.TgaDateTime, year, month, day);
  DecodeTime(params.TgaDateTime, hour, minute, second, ms);
  const uint16_t stamp[6] = {month, day, year, hour, minute, second};
  for (int i = 0; i < 6; ++i) WriteLE16(e.data() + 367 + 2 * i, stamp[i]);
  PutText(e.data() + 379, params.TgaJobName);
  e[471] = params.TgaKeyColor.r, e[472] = params.TgaKeyColor.g, e[473] = params.TgaKeyColor.b;
  uint16_t n, d;
  TGARatioFraction(params.TgaAspectRatio, n, d);
  WriteLE16(e.data() + 474, n), WriteLE16(e.data() + 476, d);
  TGARatioFraction(params.TgaGamma, n, d);
  WriteLE16(e.data() + 478, n), WriteLE16(e.data() + 480, d);
  return e;
}

void WriteBody(TStream& stream, TIEBitmap& source, TIOParamsVals& params, TProgressRecord& progress,
               TIEMask* alphaMask) {
  const TIEBitmapFormat f = source.PixelFormat();
  if ((f != ie24RGB && f != ie1g) || source.IsEmpty()) return progress.Abort();
  const int width = source.Width(), height = source.Height();
  if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return progress.Abort();
  const int64_t start = stream.Position();
  const int spp = params.SamplesPerPixel, bps = params.BitsPerSample;

  int depth = 24, colors = 0;
  if (spp == 1 && bps == 1) depth = 1;
  else if (spp == 1 && (bps == 4 || bps == 8)) depth = 8, colors = bps == 4 ? 16 : 256;
  else if (alphaMask) depth = 32;
  if (depth == 1 || depth == 32) params.TgaCompressed = false;
  const bool compressed = params.TgaCompressed;
  const bool grey = depth == 8 && colors == 256 && params.TgaGrayscale;

  // The source of the rows: the bitmap, or its 1-bit copy for a 1-bit file.
  TIEBitmap* work = &source;
  std::unique_ptr<TIEBitmap> copy;
  if (depth == 1 && f != ie1g) {
    TRGB c1, c2;
    copy = ConvertTwoColorTo1Bit(source, c1, c2);
    if (!copy) {
      copy = std::make_unique<TIEBitmap>(width, height, ie1g);
      copy->ConvertFrom(source);
    }
    work = copy.get();
  }
  const bool oneBitRows = work->PixelFormat() == ie1g;

  std::vector<TRGB> palette;
  std::unique_ptr<TIEQuantizer> quantizer;
  if (depth == 8) {
    palette.assign(size_t(colors), TRGB{});
    if (f == ie24RGB) {
      quantizer = std::make_unique<TIEQuantizer>(source, colors, palette.data());
    } else {
      palette[1] = MakeRGB(255, 255, 255);
    }
    params.FreePalette();
    params.Palette = palette;
    params.PaletteCount = colors;
  }

  uint8_t h[kHeaderSize] = {};
  const std::string id = params.TgaImageID.substr(0, kMaxIdLength);
  h[0] = uint8_t(id.size() + 1);
  const bool mapped = depth == 8 && !grey;
  h[1] = mapped ? 1 : 0;
  if (depth == 1 || grey) h[2] = 3;
  else h[2] = mapped ? 1 : 2;
  if (compressed) h[2] += 8;
  if (mapped) {
    WriteLE16(h + 5, uint32_t(colors));
    h[7] = 24;
  }
  WriteLE16(h + 8, uint32_t(params.TgaXPos));
  WriteLE16(h + 10, uint32_t(params.TgaYPos));
  WriteLE16(h + 12, uint32_t(width));
  WriteLE16(h + 14, uint32_t(height));
  h[16] = uint8_t(depth);
  h[17] = uint8_t(0x20 | (depth == 32 ? 8 : 0));
  TFilterWriter w{stream, progress};
  w.Put(h, kHeaderSize);
  w.Put(id.c_str(), int64_t(id.size()) + 1);
  if (mapped) w.Put(palette.data(), 3 * int64_t(colors));  // blue, green, red

  const int bpp = depth == 1 ? 0 : depth / 8;
  const int64_t rowBytes = depth == 1 ? (width + 7) / 8 : int64_t(width) * bpp;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  std::vector<uint8_t> packed(compressed ? size_t(width) * (bpp + 1) + 16 : 0);
  uint8_t greyOf[256];
  if (grey)
    for (int i = 0; i < 256; ++i)
      greyOf[i] = uint8_t(RGBToGray(uint32_t(palette[size_t(i)].r) << 16 | uint32_t(palette[size_t(i)].g) << 8 |
                                    palette[size_t(i)].b));
  progress.Step = 100.0 / height;
  progress.Counter = 0;
  TFilterRowProgress rp{progress};
  for (int y = 0; y < height && !progress.Aborted(); ++y) {
    const uint8_t* src = work->ScanLine(y);
    if (depth == 1) {
      std::memcpy(row.data(), src, size_t(rowBytes));
    } else {
      for (int x = 0; x < width; ++x) {
        TRGB c;
        if (oneBitRows) c = GetRowBit(src, x) ? MakeRGB(255, 255, 255) : MakeRGB(0, 0, 0);
        else c = TRGB{src[3 * x], src[3 * x + 1], src[3 * x + 2]};
        uint8_t* d = row.data() + int64_t(x) * bpp;
        if (depth == 8) {
          const int index = quantizer ? quantizer->GetIndex(c) : (GetRowBit(src, x) ? 1 : 0);
          d[0] = grey ? greyOf[index & 0xFF] : uint8_t(index);
        } else {
          d[0] = c.b, d[1] = c.g, d[2] = c.r;
          if (depth == 32)
            d[3] = alphaMask->Width() == width && alphaMask->Height() == height ? uint8_t(alphaMask->GetPixel(x, y))
                                                                                : 255;
        }
      }
    }
    if (compressed) w.Put(packed.data(), EncodeTGARLERow(row.data(), width, bpp, packed.data()));
    else w.Put(row.data(), rowBytes);
    ++progress.Counter;
    rp.Row(progress.Counter);
  }
  if (progress.Aborted()) return;

  const int64_t extensionOffset = stream.Position() - start;
  const std::vector<uint8_t> ext = ExtensionArea(params);
  w.Put(ext.data(), int64_t(ext.size()));
  uint8_t footer[kFooterSize] = {};
  WriteLE32(footer, uint32_t(extensionOffset));
  std::memcpy(footer + 8, kSignature, sizeof kSignature);
  w.Put(footer, kFooterSize);
}

}  // namespace

bool IsTGAStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t h[kHeaderSize];
  const bool got = stream.Read(h, kHeaderSize) == kHeaderSize;
  stream.SetPosition(start);
  return got && KnownType(h[2]) && KnownDepth(h[16]) && h[1] < 2 && ReadLE16(h + 12) > 0 && ReadLE16(h + 14) > 0;
}

void ReadTGAStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                   bool paramsOnly, TIEMaskOut& alphaMask, bool ignoreAlpha) {
  try {
    TTgaReader(stream, bitmap, params, progress).Run(paramsOnly, alphaMask, ignoreAlpha);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WriteTGAStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    TIEMask* alphaMask) {
  try {
    WriteBody(stream, bitmap, params, progress, alphaMask);
  } catch (...) {
    progress.Abort();
  }
}

int EncodeTGARLERow(const uint8_t* pixels, int count, int bytesPerPixel, uint8_t* output) {
  const int b = bytesPerPixel;
  auto same = [&](int i, int j) { return std::memcmp(pixels + int64_t(i) * b, pixels + int64_t(j) * b, size_t(b)) == 0; };
  int o = 0, p = 0;
  while (p < count) {
    int run = 1;
    while (p + run < count && run < 128 && same(p, p + run)) ++run;
    if (run >= 2) {
      output[o++] = uint8_t(0x80 | (run - 1));
      std::memcpy(output + o, pixels + int64_t(p) * b, size_t(b));
      o += b;
      p += run;
      continue;
    }
    // A literal group ends where a run of two begins.
    int n = 1;
    while (p + n < count && n < 128 && !(p + n + 1 < count && same(p + n, p + n + 1))) ++n;
    output[o++] = uint8_t(n - 1);
    std::memcpy(output + o, pixels + int64_t(p) * b, size_t(n) * b);
    o += n * b;
    p += n;
  }
  return o;
}

void TGARatioFraction(double value, uint16_t& numerator, uint16_t& denominator) {
  numerator = denominator = 0;
  if (!(value > 0) || !std::isfinite(value)) return;
  int64_t n = Trunc(value * 10000), d = 10000;
  if (n > 0xFFFF) {
    const int64_t g = std::gcd(n, d);
    n /= g, d /= g;
  }
  if (n > 0xFFFF) {
    // The largest denominator whose numerator still fits.
    d = std::max<int64_t>(1, Trunc(0xFFFF / value));
    n = std::min<int64_t>(0xFFFF, Trunc(value * double(d)));
  }
  numerator = uint16_t(n);
  denominator = uint16_t(d);
}

// ---- the format ----

namespace {

void ReadTGAFormat(TIEFormatReadArgs& a) {
  ReadTGAStream(a.Stream, *a.Bitmap, a.Params, a.Progress, a.ParamsOnly, a.AlphaMask, false);
}

void WriteTGAFormat(TIEFormatWriteArgs& a) { WriteTGAStream(a.Stream, a.Bitmap, a.Params, a.Progress, a.AlphaMask); }

}  // namespace

TIEFormatDescriptor TGAFormat() {
  return {
      .FileType = ioTGA,
      .FullName = "Targa Bitmap",
      .Suffixes = "TGA;TARGA;VDA;ICB;VST;PIX",
      .Access = ieaReadWrite,
      .DialogPage = iedpTGA,
      .Probe = IsTGAStream,
      .ProbeOrder = 70,
      .Read = ReadTGAFormat,
      .ReadParams = ReadTGAFormat,
      .Write = WriteTGAFormat,
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielSyncView, ielSyncViewByNameOnly,
                      ielResetMetadata},
      .SaveOptions = {iesConvert24, iesAlphaMask},
      .SaveOrder = 100,
      // ".win" pictures are written as Targa (and read as Targa by LoadFile).
      .SaveSuffixes = "TGA;TARGA;VDA;ICB;VST;WIN",
  };
}
