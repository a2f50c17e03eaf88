#include "imaging/formats/ico_filter.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_resample.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/bmp_filter.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/png_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/graphics/icon_directory.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"
#include "platform/win/shell.h"


namespace {

constexpr int kDirHeader = kIconDirHeaderBytes;
constexpr int kDirEntry = kIconDirEntryBytes;
constexpr int kDibHeader = 40;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

int64_t XorRowBytes(int64_t width, int bits) { return ((width * bits + 31) >> 5) << 2; }
int64_t AndRowBytes(int64_t width) { return ((width + 31) >> 5) << 2; }

struct TEntry {
  int width = 0, height = 0, colors = 0;
  int planes = 0, bitCount = 0;
  uint32_t size = 0, offset = 0;
};

TEntry ParseEntry(const uint8_t* bytes) {
  const TIconDirEntry e = ParseIconDirEntry(bytes);
  TEntry t;
  t.width = e.head.bWidth, t.height = e.head.bHeight, t.colors = e.head.bColorCount;
  t.planes = e.head.wPlanes, t.bitCount = uint16_t(e.head.wBitCount);
  t.size = e.head.dwBytesInRes, t.offset = e.dwImageOffset;
  return t;
}

bool ProbeDirectory(TStream& stream, int type) {
  const int64_t start = stream.Position();
  bool ok = false;
  if (stream.Size() - start > 22) {
    uint8_t h[kDirHeader];
    const TIconDirHeader header =
        stream.Read(h, kDirHeader) == kDirHeader ? ParseIconDirHeader(h) : TIconDirHeader{1, 0, 0};
    if (header.idReserved == 0 && header.idType == type && header.idCount > 0) {
      const int count = header.idCount;
      ok = true;
      int64_t consumed = kDirHeader;
      for (int i = 0; i < count && ok; ++i) {
        uint8_t e[kDirEntry];
        if (stream.Read(e, kDirEntry) != kDirEntry) {
          ok = false;
          break;
        }
        consumed += kDirEntry;
        const TEntry t = ParseEntry(e);
        ok = e[3] == 0 && t.size > 0 && t.offset >= consumed;
      }
    }
  }
  stream.SetPosition(start);
  return ok;
}

int DpiFromPelsPerMeter(int32_t ppm, int32_t fallback) {
  if (ppm <= 0) return fallback;
  const int64_t dpi = Round(ppm / 100.0 * 2.54);
  return dpi <= 0 ? fallback : int(std::min<int64_t>(dpi, INT32_MAX));
}

// ---- reading ----

class TIconReader {
public:
  TIconReader(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress, bool cursor)
      : FStream(stream), FBitmap(bitmap), FParams(params), FProgress(progress), FCursor(cursor) {}

  void Run(bool paramsOnly, TIEMaskOut& alphaMask, bool ignoreAlpha) {
    const int64_t start = FStream.Position();
    const int64_t size = FStream.Size();
    TEntry entry;
    const bool headerless = FParams.HeaderlessImage;
    if (headerless) {
      if (FCursor) {
        uint8_t hot[4];
        if (FStream.Read(hot, 4) != 4) return FProgress.Refuse("the hot spot is cut short");
        FParams.CurHotSpotX = ReadLE16(hot);
        FParams.CurHotSpotY = ReadLE16(hot + 2);
      }
    } else {
      uint8_t d[kDirHeader];
      if (FStream.Read(d, kDirHeader) != kDirHeader) return FProgress.Refuse("the directory header is cut short");
      if (!FCursor && d[0] == 'B' && d[1] == 'M') {
        FStream.SetPosition(start);
        return ReadBMPStream(FStream, FBitmap, size - start, FParams, FProgress, paramsOnly, false, alphaMask,
                             ignoreAlpha);
      }
      const int count = ParseIconDirHeader(d).idCount;
      const int index = FCursor ? FParams.CurImageIndex : FParams.IcoImageIndex;
      if (index < 0 || index >= count) return;
      FParams.SetImageCount(count);
      const int listed = FCursor ? index + 1 : std::max(std::min(count, 16), index + 1);
      std::vector<uint8_t> dir(size_t(listed) * kDirEntry);
      if (FStream.Read(dir.data(), int64_t(dir.size())) != int64_t(dir.size()))
        return FProgress.Refuse("the directory is cut short");
      if (!FCursor) FillSizeTable(dir.data(), std::min(count, 16));
      entry = ParseEntry(dir.data() + size_t(index) * kDirEntry);
      if (FCursor) {
        FParams.CurHotSpotX = entry.planes;
        FParams.CurHotSpotY = entry.bitCount;
        entry.bitCount = 0;  // the hot spot, not a depth
      }
      // The image must lie inside the stream, for cursors as for icons.
      if (size <= start + int64_t(entry.offset) + kDibHeader) return FProgress.Refuse("the image lies past the end");
      FStream.SetPosition(start + entry.offset);
    }

    uint8_t h[kDibHeader];
    if (FStream.Read(h, kDibHeader) != kDibHeader) return FProgress.Refuse("the image header is cut short");
    if (!FCursor && std::memcmp(h, kPngSignature, 8) == 0) {
      FStream.Seek(-kDibHeader, soCurrent);
      // The PNG reader counts one picture; the directory knows how many there are.
      const int32_t count = FParams.ImageCount;
      ReadPNGStream(FStream, FBitmap, FParams, paramsOnly, FProgress);
      FParams.SetImageCount(count);
      return;
    }
    const uint32_t headerSize = ReadLE32(h);
    const int32_t headerWidth = int32_t(ReadLE32(h + 4));
    const uint32_t headerHeight = ReadLE32(h + 8);
    const int headerBits = ReadLE16(h + 14);
    const uint32_t compression = ReadLE32(h + 16);
    const uint32_t colorsUsed = ReadLE32(h + 32);
    if (headerSize < kDibHeader || headerSize > FStream.Size() - FStream.Position() + kDibHeader)
      return FProgress.Refuse("a header size outside the data");
    FStream.Seek(headerSize - kDibHeader, soCurrent);
    if (headerless) {
      entry.width = headerWidth & 0xFF;
      entry.height = int(headerHeight >> 1) & 0xFF;
      if (!FCursor) {
        FParams.IcoImageIndex = 0;
        FParams.IcoSizes[0] = TIOIcoSize{headerWidth, int32_t(headerHeight >> 1)};
      }
    }
    FParams.SetDpiX(DpiFromPelsPerMeter(int32_t(ReadLE32(h + 24)), gDefaultDPIX));
    FParams.SetDpiY(DpiFromPelsPerMeter(int32_t(ReadLE32(h + 28)), gDefaultDPIY));

    int bits = headerBits;
    if (bits == 0) bits = entry.bitCount;
    if (bits == 0 && entry.colors > 0) bits = std::max(CeilLog2(entry.colors), 0);
    if (bits == 0) return FProgress.Refuse("a depth of zero");
    FBits = bits;
    if (FCursor) {
      FParams.BitsPerSample = bits, FParams.SamplesPerPixel = 1;
    } else if (bits <= 8) {
      FParams.BitsPerSample = bits, FParams.SamplesPerPixel = 1;
    } else {
      FParams.BitsPerSample = 8, FParams.SamplesPerPixel = bits == 32 ? 4 : 3;
    }

    // The rows are laid out by the image header: it wins over a directory
    // entry that disagrees, while it is of a plausible size.
    int64_t width = entry.width != 0 ? entry.width : headerWidth;
    int64_t height = entry.height != 0 ? entry.height : int64_t(headerHeight >> 1);
    if (entry.width != headerWidth && entry.width != 0 && headerWidth != 0 && uint32_t(headerWidth) < 2048 &&
        headerHeight < 2048) {
      width = headerWidth;
      height = headerHeight >> 1;
    }
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
      return FProgress.Refuse("a side that is not a positive number");
    FWidth = int(width), FHeight = int(height);

    // The colour table holds the header's colours used, else 2^bits entries;
    // indices past it read black.
    FParams.FreePalette();
    if (bits <= 8) {
      const uint32_t full = 1u << bits;
      const uint32_t n = colorsUsed > 0 && colorsUsed < full ? colorsUsed : full;
      std::vector<uint8_t> table(size_t(n) * 4);
      if (FStream.Read(table.data(), int64_t(table.size())) != int64_t(table.size()))
        return FProgress.Refuse("the colour table is cut short");
      for (uint32_t i = 0; i < n; ++i) FPalette.push_back(TRGB{table[4 * i], table[4 * i + 1], table[4 * i + 2]});
      FParams.Palette = FPalette;
      FParams.PaletteCount = int32_t(n);
    }
    FParams.Width = FParams.StoredWidth = FWidth;
    FParams.Height = FParams.StoredHeight = FHeight;
    if (paramsOnly) return;

    if (compression != 0) return FProgress.Refuse("a compression the icon reader does not take");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
      return FProgress.Refuse("a depth the icon reader does not take");
    const int64_t xorRow = XorRowBytes(FWidth, bits);
    const int64_t left = FStream.Size() - FStream.Position();
    if (!DataCanFill(xorRow * FHeight, left)) return FProgress.Refuse(kRefusedUnfilled);
    FNative = !FCursor && FParams.NativePixelFormat;
    TIEBitmapFormat format = bits == 1 ? ie1g : (FNative && bits <= 8) ? ie8p : ie24RGB;
    if (!FBitmap.Allocate(FWidth, FHeight, format)) return FProgress.Refuse(kRefusedNoMemory);
    if (format == ie8p) {
      FBitmap.SetPaletteColorCount(1 << bits);
      for (size_t i = 0; i < FPalette.size(); ++i) FBitmap.SetPaletteColor(int(i), FPalette[i]);
    }
    std::unique_ptr<TIEMask> mask;
    if (!ignoreAlpha) {
      mask = alphaMask ? std::move(alphaMask) : std::make_unique<TIEMask>();
      mask->Allocate(FWidth, FHeight, 8);
      mask->Fill(255);
      mask->SetFull(false);
    }
    FMask = mask.get();
    FXor.resize(size_t(xorRow * FHeight));
    if (FStream.Read(FXor.data(), int64_t(FXor.size())) != int64_t(FXor.size()))
      return FProgress.Refuse(kRefusedRowsCut);
    FXorRow = xorRow;
    FAndRow = AndRowBytes(FWidth);
    const int64_t andSize = FAndRow * FHeight;
    if (FStream.Size() - FStream.Position() >= andSize) {
      FAnd.resize(size_t(andSize));
      if (FStream.Read(FAnd.data(), andSize) != andSize) FAnd.clear();
    }
    Decode();
    // Indexed images need their transparency rows; without them the picture
    // stays opaque but the data was short.
    if (bits <= 8 && FAnd.empty()) FProgress.Refuse("the transparency rows are missing");
    if (mask && !FCursor) {
      mask->CheckFull();
      if (mask->Full()) mask.reset();
    }
    if (mask) alphaMask = std::move(mask);
  }

private:
  void FillSizeTable(const uint8_t* dir, int n) {
    for (int i = 0; i < 16; ++i) FParams.IcoSizes[i] = TIOIcoSize{}, FParams.IcoBitCounts[i] = 0;
    for (int i = 0; i < n; ++i) {
      const TEntry t = ParseEntry(dir + size_t(i) * kDirEntry);
      FParams.IcoSizes[i] = TIOIcoSize{t.width == 0 ? 256 : t.width, t.height == 0 ? 256 : t.height};
      FParams.IcoBitCounts[i] = t.bitCount != 0 ? t.bitCount : t.colors != 0 ? std::max(CeilLog2(t.colors), 0) : 24;
    }
  }

  // Pixel x of file row r is transparent (its AND bit is set).
  bool Transparent(int r, int x) const {
    return !FAnd.empty() && GetRowBit(FAnd.data() + FAndRow * r, x) != 0;
  }

  TRGB Background() const { return FCursor ? FParams.CurBackground : FParams.IcoBackground; }

  void Decode() {
    const TRGB bg = Background();
    const bool whiteBg = bg == MakeRGB(255, 255, 255);
    // A 1-bit table of white then black stores its picture inverted.
    const bool invert1 = FBits == 1 && FPalette.size() == 2 && FPalette[0] == MakeRGB(255, 255, 255) &&
                         FPalette[1] == MakeRGB(0, 0, 0);
    bool allZero = true;
    for (int r = 0; r < FHeight; ++r) {
      const int y = FHeight - 1 - r;
      const uint8_t* src = FXor.data() + FXorRow * r;
      uint8_t* dst = FBitmap.ScanLine(y);
      uint8_t* m = FMask ? FMask->ScanLine(y) : nullptr;
      switch (FBits) {
        case 1: {
          const int64_t n = (int64_t(FWidth) + 7) / 8;
          for (int64_t i = 0; i < n; ++i) dst[i] = invert1 ? uint8_t(~src[i]) : src[i];
          for (int x = 0; x < FWidth; ++x) {
            if (!Transparent(r, x)) continue;
            if (m) m[x] = 0;
            // Shown over a white background transparent pixels are white and
            // inverting ones black; over another the other way round.
            const bool on = GetRowBit(dst, x) != 0;
            SetRowBit(dst, x, whiteBg ? !on : on);
          }
          break;
        }
        case 4:
        case 8:
          for (int x = 0; x < FWidth; ++x) {
            const unsigned index = FBits == 8 ? src[x] : ((x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4);
            const bool clear = Transparent(r, x);
            if (clear && m) m[x] = 0;
            if (FNative) {
              dst[x] = uint8_t(index);
              continue;
            }
            const TRGB c = clear ? bg : index < FPalette.size() ? FPalette[index] : TRGB{};
            std::memcpy(dst + 3 * int64_t(x), &c, 3);
          }
          break;
        case 24:
          std::memcpy(dst, src, size_t(FWidth) * 3);
          if (m && !FAnd.empty())
            for (int x = 0; x < FWidth; ++x) m[x] = Transparent(r, x) ? 0 : 255;
          break;
        case 32:
          for (int x = 0; x < FWidth; ++x) {
            std::memcpy(dst + 3 * int64_t(x), src + 4 * int64_t(x), 3);
            const uint8_t a = src[4 * int64_t(x) + 3];
            if (m) m[x] = a;
            allZero = allZero && a == 0;
          }
          break;
      }
    }
    // Old 32-bit images leave the alpha bytes at 0: their transparency is in
    // the AND rows, and without those they are opaque.
    if (FBits == 32 && allZero && FMask) {
      for (int r = 0; r < FHeight; ++r) {
        uint8_t* m = FMask->ScanLine(FHeight - 1 - r);
        for (int x = 0; x < FWidth; ++x) m[x] = Transparent(r, x) ? 0 : 255;
      }
    }
  }

  TStream& FStream;
  TIEBitmap& FBitmap;
  TIOParamsVals& FParams;
  TProgressRecord& FProgress;
  bool FCursor;
  bool FNative = false;
  int FBits = 0, FWidth = 0, FHeight = 0;
  std::vector<TRGB> FPalette;
  std::vector<uint8_t> FXor, FAnd;
  int64_t FXorRow = 0, FAndRow = 0;
  TIEMask* FMask = nullptr;
};

// ---- writing ----

// The bit depth one entry is written at.
int EntryBits(int bitCount, const TIOParamsVals& params) {
  int samples = 3, bits = 8;
  switch (bitCount) {
    case 0: samples = params.SamplesPerPixel, bits = params.BitsPerSample; break;
    case 1: samples = 1, bits = 1; break;
    case 4: samples = 1, bits = 4; break;
    case 8: samples = 1, bits = 8; break;
    case 32: samples = 4, bits = 8; break;
    default: break;
  }
  if (samples == 3 && bits == 8) return 24;
  if (samples == 4 && bits == 8) return 32;
  if (samples == 1 && bits == 1) return 1;
  if (samples == 1 && bits == 4) return 4;
  return 8;
}

class TIconWriter {
public:
  TIconWriter(TStream& stream, TIEBitmap& source, TIOParamsVals& params, TProgressRecord& progress)
      : FStream(stream), FSource(source), FParams(params), FProgress(progress), FOut{stream, progress} {}

  void Run(const std::vector<std::pair<int, int>>& sizes, const std::vector<int>& bitCounts) {
    const size_t n = sizes.size();
    if (n == 0 || n > 0xFFFF || FSource.IsEmpty()) return FProgress.Abort();
    for (const auto& s : sizes)
      if (s.first <= 0 || s.second <= 0 || s.first > 0xFFFF || s.second > 0xFFFF) return FProgress.Abort();
    FStart = FStream.Position();
    uint8_t head[kDirHeader] = {0, 0, 1, 0};
    WriteLE16(head + 4, uint32_t(n));
    FOut.Put(head, kDirHeader);
    FProgress.Step = 100.0 / double(n);
    std::vector<uint8_t> dir(n * kDirEntry, 0);
    FOut.Put(dir.data(), int64_t(dir.size()));
    FParams.FreePalette();
    if (FSource.PixelFormat() != ie24RGB) FParams.BitsPerSample = 1, FParams.SamplesPerPixel = 1;

    size_t written = 0;
    for (size_t i = 0; i < n; ++i) {
      if (FProgress.ProgressEvent) FProgress.Report(int(Trunc(double(i) * FProgress.Step)));
      if (FProgress.Aborted()) break;
      const int bits = EntryBits(i < bitCounts.size() ? bitCounts[i] : 0, FParams);
      const int64_t offset = FStream.Position() - FStart;
      if (!WriteImage(sizes[i].first, sizes[i].second, bits) || FProgress.Aborted()) break;
      uint8_t* e = dir.data() + i * kDirEntry;
      e[0] = uint8_t(sizes[i].first), e[1] = uint8_t(sizes[i].second);
      if (bits >= 24) {
        WriteLE16(e + 4, 1);
        WriteLE16(e + 6, uint32_t(bits));
      } else {
        e[2] = uint8_t(std::min(1 << bits, 255));
      }
      WriteLE32(e + 8, uint32_t(FStream.Position() - FStart - offset));
      WriteLE32(e + 12, uint32_t(offset));
      ++written;
    }
    if (FOut.Failed()) return;
    // After an abort the directory lists the images that were finished.
    const int64_t end = FStream.Position();
    if (written != n) {
      WriteLE16(head + 4, uint32_t(written));
      FStream.SetPosition(FStart);
      FOut.Put(head, kDirHeader);
    }
    FStream.SetPosition(FStart + kDirHeader);
    FOut.Put(dir.data(), int64_t(dir.size()));
    FStream.SetPosition(end);
  }

private:
  // The source at w x h in the form the depth is written from.
  std::unique_ptr<TIEBitmap> Prepare(int w, int h, int bits) {
    auto image = std::make_unique<TIEBitmap>();
    const bool oneBit = FSource.PixelFormat() == ie1g;
    if (!image->Allocate(w, h, oneBit ? ie1g : ie24RGB)) return nullptr;
    ResampleIEBitmap(&FSource, image.get(), oneBit ? rfNone : rfFastLinear);
    if (image->Width() != w || image->Height() != h) return nullptr;
    const TIEBitmapFormat f = image->PixelFormat();
    if (bits == 1 && f != ie1g) image->SetPixelFormat(ie1g);
    const bool indexedFits = f == ie8p && image->PaletteLength() <= (1 << bits);
    if (bits > 1 && f != ie24RGB && !(bits <= 8 && indexedFits)) image->SetPixelFormat(ie24RGB);
    return image;
  }

  bool WriteImage(int w, int h, int bits) {
    std::unique_ptr<TIEBitmap> image = Prepare(w, h, bits);
    if (!image) {
      FProgress.Abort();
      return false;
    }
    const int64_t xorRow = XorRowBytes(w, bits), andRow = AndRowBytes(w);
    uint8_t header[kDibHeader] = {};
    WriteLE32(header, kDibHeader);
    WriteLE32(header + 4, uint32_t(w));
    WriteLE32(header + 8, uint32_t(2 * h));
    WriteLE16(header + 12, 1);
    WriteLE16(header + 14, uint32_t(bits));
    WriteLE32(header + 24, uint32_t(Round(FParams.DpiX / 2.54 * 100)));
    WriteLE32(header + 28, uint32_t(Round(FParams.DpiY / 2.54 * 100)));
    // Both sets of rows are padded to whole 32-bit words.
    if (bits <= 8) WriteLE32(header + 20, uint32_t((xorRow + andRow) * h));
    FOut.Put(header, kDibHeader);

    const bool alpha = image->HasAlphaChannel();
    std::vector<uint8_t> row(static_cast<size_t>(xorRow));
    if (bits == 24 || bits == 32) {
      for (int y = h - 1; y >= 0; --y) {
        const uint8_t* s = image->ScanLine(y);
        std::fill(row.begin(), row.end(), 0);
        if (bits == 24) {
          std::memcpy(row.data(), s, size_t(w) * 3);
        } else {
          for (int x = 0; x < w; ++x) {
            std::memcpy(&row[4 * size_t(x)], s + 3 * int64_t(x), 3);
            row[4 * size_t(x) + 3] = alpha ? image->GetAlpha(x, y) : 255;
          }
        }
        FOut.Put(row.data(), xorRow);
      }
    } else if (bits == 1) {
      const uint8_t table[8] = {0, 0, 0, 0, 255, 255, 255, 0};
      FOut.Put(table, 8);
      for (int y = h - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), 0);
        std::memcpy(row.data(), image->ScanLine(y), size_t((w + 7) / 8));
        FOut.Put(row.data(), xorRow);
      }
    } else {
      WriteIndexed(*image, w, h, bits, alpha, row);
    }

    // The AND rows: set where the picture is not wholly opaque.
    std::vector<uint8_t> andBits(static_cast<size_t>(andRow));
    for (int y = h - 1; y >= 0; --y) {
      std::fill(andBits.begin(), andBits.end(), 0);
      if (alpha)
        for (int x = 0; x < w; ++x)
          if (image->GetAlpha(x, y) < 255) SetRowBit(andBits.data(), x, true);
      FOut.Put(andBits.data(), andRow);
    }
    return !FOut.Failed();
  }

  void WriteIndexed(TIEBitmap& image, int w, int h, int bits, bool alpha, std::vector<uint8_t>& row) {
    const int colors = 1 << bits;
    std::vector<TRGB> table(static_cast<size_t>(colors));
    std::unique_ptr<TIEQuantizer> quantizer;
    const bool direct = image.PixelFormat() == ie8p;
    if (direct) {
      for (int i = 0; i < colors && i < image.PaletteLength(); ++i) image.GetPaletteColor(i, table[size_t(i)]);
    } else {
      // Entry 0 stays black for the transparent pixels; the rest is the picture's.
      std::vector<TRGB> reduced(static_cast<size_t>(colors));
      quantizer = std::make_unique<TIEQuantizer>(image, colors - 1, reduced.data());
      std::copy(reduced.begin(), reduced.end() - 1, table.begin() + 1);
    }
    FParams.Palette = table;
    FParams.PaletteCount = colors;
    std::vector<uint8_t> raw(size_t(colors) * 4, 0);
    for (int i = 0; i < colors; ++i) std::memcpy(&raw[4 * size_t(i)], &table[size_t(i)], 3);
    FOut.Put(raw.data(), int64_t(raw.size()));
    for (int y = h - 1; y >= 0; --y) {
      std::fill(row.begin(), row.end(), 0);
      const uint8_t* s = image.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        int index;
        if (direct) index = s[x] & (colors - 1);
        else if (alpha && image.GetAlpha(x, y) < 255) index = 0;
        else index = quantizer->GetIndex(TRGB{s[3 * x], s[3 * x + 1], s[3 * x + 2]}) + 1;
        if (bits == 8) row[size_t(x)] = uint8_t(index);
        else row[size_t(x) >> 1] |= uint8_t(index << ((x & 1) ? 0 : 4));
      }
      FOut.Put(row.data(), int64_t(row.size()));
    }
  }

  TStream& FStream;
  TIEBitmap& FSource;
  TIOParamsVals& FParams;
  TProgressRecord& FProgress;
  TFilterWriter FOut;
  int64_t FStart = 0;
};

// ---- icon handles ----

struct TIconInfoGuard {
  ICONINFO info;
  ~TIconInfoGuard() {
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
  }
};

// The header and bits of one of the icon's bitmaps.
bool TakeBits(HBITMAP bitmap, int colors, std::vector<uint8_t>& header, std::vector<uint8_t>& bits) {
  int headerSize = 0, bitsSize = 0;
  GetIconBitsSize(bitmap, headerSize, bitsSize, colors);
  if (headerSize < kDibHeader || bitsSize <= 0) return false;
  header.assign(size_t(headerSize), 0);
  bits.assign(size_t(bitsSize), 0);
  return GetIconBits(bitmap, nullptr, header.data(), colors, bits.data());
}

}  // namespace

bool IsICOStream(TStream& stream) { return ProbeDirectory(stream, 1); }
bool IsCURStream(TStream& stream) { return ProbeDirectory(stream, 2); }

void ReadICOStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress, TIEMaskOut& alphaMask, bool ignoreAlpha) {
  try {
    TIconReader(stream, bitmap, params, progress, false).Run(paramsOnly, alphaMask, ignoreAlpha);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void ReadCURStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress, TIEMaskOut& alphaMask, bool ignoreAlpha) {
  try {
    TIconReader(stream, bitmap, params, progress, true).Run(paramsOnly, alphaMask, ignoreAlpha);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WriteICOStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    const std::vector<std::pair<int, int>>& sizes, const std::vector<int>& bitCounts) {
  try {
    TIconWriter(stream, bitmap, params, progress).Run(sizes, bitCounts);
  } catch (...) {
    progress.Abort();
  }
}

void GetBitmapInfo(HBITMAP bitmap, BITMAPINFOHEADER& header, int colors) {
  DIBSECTION ds{};
  const int got = GetObject(bitmap, int(sizeof ds), &ds);
  if (got <= 0) return;
  if (size_t(got) >= sizeof(BITMAP) + sizeof(BITMAPINFOHEADER) && ds.dsBmih.biSize >= kDibHeader) {
    header = ds.dsBmih;
  } else {
    header = BITMAPINFOHEADER{};
    header.biWidth = ds.dsBm.bmWidth;
    header.biHeight = ds.dsBm.bmHeight;
  }
  header.biSize = kDibHeader;
  if (colors == 2) {
    header.biBitCount = 1, header.biCompression = BI_RGB;
  } else if (colors >= 3 && colors <= 16) {
    header.biBitCount = 4, header.biClrUsed = DWORD(colors), header.biCompression = BI_RGB;
  } else if (colors >= 17 && colors <= 256) {
    header.biBitCount = 32, header.biClrUsed = DWORD(colors), header.biCompression = BI_RGB;
  } else {
    header.biBitCount = WORD(ds.dsBm.bmBitsPixel * ds.dsBm.bmPlanes);
  }
  header.biPlanes = 1;
  if (header.biClrImportant > header.biClrUsed) header.biClrImportant = header.biClrUsed;
  // Icon data is bottom-up, and the size always follows the depth chosen here,
  // so the bits buffer sized from it holds what GetDIBits writes.
  header.biHeight = std::abs(header.biHeight);
  header.biSizeImage = DWORD(DibRowBytes(header.biWidth, header.biBitCount) * header.biHeight);
}

void GetIconBitsSize(HBITMAP bitmap, int& headerSize, int& bitsSize, int colors) {
  BITMAPINFOHEADER h{};
  h.biSize = 0;
  GetBitmapInfo(bitmap, h, colors);
  if (h.biSize == 0) {
    headerSize = bitsSize = 0;
    return;
  }
  if (h.biBitCount <= 8) headerSize = kDibHeader + 4 * int(h.biClrUsed != 0 ? h.biClrUsed : 1u << h.biBitCount);
  else headerSize = (h.biCompression & 3) == BI_BITFIELDS ? kDibHeader + 12 : kDibHeader;
  bitsSize = int(h.biSizeImage);
}

bool GetIconBits(HBITMAP bitmap, HPALETTE palette, void* header, int colors, void* bits) {
  BITMAPINFOHEADER h{};
  h.biSize = 0;
  GetBitmapInfo(bitmap, h, colors);
  if (h.biSize == 0) return false;
  std::memcpy(header, &h, sizeof h);
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return false;
  HPALETTE old = nullptr;
  if (palette) {
    old = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
  }
  const int lines = GetDIBits(dc, bitmap, 0, UINT(h.biHeight), bits, static_cast<BITMAPINFO*>(header), DIB_RGB_COLORS);
  if (old) SelectPalette(dc, old, FALSE);
  DeleteDC(dc);
  return lines != 0;
}

bool IconHandleToStream(TMemoryStream& stream, HICON icon) {
  TIconInfoGuard g{};
  if (!GetIconInfo(icon, &g.info) || !g.info.hbmMask) return false;
  std::vector<uint8_t> colorHeader, colorBits, maskHeader, maskBits;
  if (!TakeBits(g.info.hbmMask, 2, maskHeader, maskBits)) return false;
  const auto* mh = reinterpret_cast<const BITMAPINFOHEADER*>(maskHeader.data());
  uint8_t dir[kDirHeader + kDirEntry] = {0, 0, 1, 0, 1, 0};
  uint8_t* e = dir + kDirHeader;
  WriteLE32(e + 12, kDirHeader + kDirEntry);
  if (!g.info.hbmColor) {
    // A monochrome icon: its mask bitmap holds the AND rows over the XOR rows,
    // which bottom-up are the XOR rows then the AND rows of an icon image.
    e[0] = uint8_t(mh->biWidth), e[1] = uint8_t(mh->biHeight / 2), e[2] = 2;
    WriteLE32(e + 8, uint32_t(maskHeader.size() + maskBits.size()));
    stream.WriteBuffer(dir, sizeof dir);
    stream.WriteBuffer(maskHeader.data(), int64_t(maskHeader.size()));
    stream.WriteBuffer(maskBits.data(), int64_t(maskBits.size()));
    return true;
  }
  if (!TakeBits(g.info.hbmColor, 256, colorHeader, colorBits)) return false;
  auto* ch = reinterpret_cast<BITMAPINFOHEADER*>(colorHeader.data());
  e[0] = uint8_t(ch->biWidth), e[1] = uint8_t(ch->biHeight);
  WriteLE16(e + 2, uint32_t(ch->biPlanes * ch->biBitCount));
  // Only the mask's bits follow: its header is not part of an icon image.
  const int64_t maskRows = AndRowBytes(ch->biWidth) * ch->biHeight;
  const int64_t maskTake = std::min<int64_t>(maskRows, int64_t(maskBits.size()));
  WriteLE32(e + 8, uint32_t(colorHeader.size() + colorBits.size() + size_t(maskTake)));
  ch->biHeight *= 2;
  // No colour table follows a 32-bit image, so none may be counted.
  if (ch->biBitCount > 8) ch->biClrUsed = 0;
  stream.WriteBuffer(dir, sizeof dir);
  stream.WriteBuffer(colorHeader.data(), int64_t(colorHeader.size()));
  stream.WriteBuffer(colorBits.data(), int64_t(colorBits.size()));
  stream.WriteBuffer(maskBits.data(), maskTake);
  return true;
}

bool TryIconHandleToStream(TMemoryStream& stream, HICON icon) {
  try {
    return IconHandleToStream(stream, icon);
  } catch (...) {
    return false;
  }
}

bool IconHandleToBitmap(HICON icon, TIEBitmap& bitmap) {
  TMemoryStream stream;
  if (!TryIconHandleToStream(stream, icon)) return false;
  stream.SetPosition(0);
  TIEBitmap picture;
  TIOParamsVals params(nullptr);
  std::atomic<bool> abort{false};
  TProgressRecord progress;
  progress.AbortFlag = &abort;
  TIEMaskOut mask;
  ReadICOStream(stream, picture, params, false, progress, mask, false);
  if (abort.load() || picture.IsEmpty()) return false;
  if (mask) picture.AlphaChannel()->CopyFromMask(mask.get());
  bitmap.RemoveAlphaChannel(false);
  bitmap.Assign(&picture);
  return true;
}

HICON GetFileIconHandle(const std::string& fileName) {
  try {
    SHFILEINFOA info{};
    if (SHGetFileInfo(fileName.c_str(), 0, &info, sizeof info, SHGFI_ICON) == 0) return nullptr;
    return info.hIcon;
  } catch (...) {
    return nullptr;
  }
}

bool LoadFileIconBitmap(const std::string& fileName, TIEBitmap& bitmap) {
  HICON icon = GetFileIconHandle(fileName);
  if (!icon) return false;
  const bool ok = IconHandleToBitmap(icon, bitmap);
  DestroyIcon(icon);
  return ok;
}

// ---- the formats ----

void IcoSaveSizes(const TIOParamsVals& params, std::vector<std::pair<int, int>>& sizes, std::vector<int>& bitCounts) {
  sizes.clear();
  bitCounts.clear();
  for (int i = 0; i < 16 && params.IcoSizes[i].Width > 0; ++i) {
    sizes.emplace_back(params.IcoSizes[i].Width, params.IcoSizes[i].Height);
    bitCounts.push_back(params.IcoBitCounts[i]);
  }
}

namespace {

void ReadICOFormat(TIEFormatReadArgs& a) {
  ReadICOStream(a.Stream, *a.Bitmap, a.Params, a.ParamsOnly, a.Progress, a.AlphaMask, false);
}

void ReadCURFormat(TIEFormatReadArgs& a) {
  ReadCURStream(a.Stream, *a.Bitmap, a.Params, a.ParamsOnly, a.Progress, a.AlphaMask, false);
}

void WriteICOFormat(TIEFormatWriteArgs& a) {
  std::vector<std::pair<int, int>> sizes;
  std::vector<int> bitCounts;
  IcoSaveSizes(a.Params, sizes, bitCounts);
  WriteICOStream(a.Stream, a.Bitmap, a.Params, a.Progress, sizes, bitCounts);
}

}  // namespace

TIEFormatDescriptor ICOFormat() {
  return {
      .FileType = ioICO,
      .FullName = "Windows Icon",
      .Suffixes = "ICO",
      .Access = ieaReadWrite,
      .Probe = IsICOStream,
      .ProbeOrder = 50,
      .Read = ReadICOFormat,
      .ReadParams = ReadICOFormat,
      .Write = WriteICOFormat,
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielSyncView, ielResetMetadata},
      .LoadOpenFailure = ieofAbortQuietly,
      .SaveOptions = {iesConvert24},
      .SaveOrder = 120,
      .SaveSuffixes = "ICO",
  };
}

TIEFormatDescriptor CURFormat() {
  return {
      .FileType = ioCUR,
      .FullName = "Windows Cursor",
      .Suffixes = "CUR",
      .Access = ieaRead,
      .Probe = IsCURStream,
      .ProbeOrder = 60,
      .Read = ReadCURFormat,
      .ReadParams = ReadCURFormat,
      .LoadOptions = {ielAlphaFromMask, ielFixDPI, ielAdjustDPI, ielSyncView, ielResetMetadata},
      .LoadOpenFailure = ieofAbortQuietly,
  };
}
