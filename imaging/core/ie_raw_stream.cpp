#include "imaging/core/ie_raw_stream.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "platform/rtl/streams.h"

namespace {

constexpr char kMagic[12] = {'T', 'I', 'E', 'B', 'I', 'T', 'M', 'A', 'P', 'R', 'A', 'W'};
constexpr int64_t kFixedBytes = 76;

int64_t AlphaRowLen(int width) { return (int64_t(width) + 3) / 4 * 4; }

// Row length of a bitmap written with the given alignment in bits.
int64_t StoredRowLen(int width, int bitsPerPixel, int alignmentBits) {
  const int64_t bits = int64_t(width) * bitsPerPixel;
  return (bits + alignmentBits - 1) / alignmentBits * alignmentBits / 8;
}

struct TRawHeader {
  std::vector<TRGB> palette;
  int32_t width = 0, height = 0;
  uint8_t format = 0, full = 0, adjust = 0;
  int32_t colorCount = 0, contrast = 0, alignment = 0;
  double rangeMin = 0, rangeMax = 0;
  int32_t brightness[4] = {};
};

template <class T>
bool Get(TStream& s, T& v) {
  return s.Read(&v, sizeof(T)) == int64_t(sizeof(T));
}

bool ReadHeader(TStream& s, TRawHeader& h) {
  char magic[12];
  if (s.Read(magic, 12) != 12 || std::memcmp(magic, kMagic, 12) != 0) return false;
  int32_t version = 0, n = 0;
  if (!Get(s, version) || version < 0 || !Get(s, n) || n < 0 || n > 65536) return false;
  if (s.Remaining() < 3 * int64_t(n)) return false;
  h.palette.resize(size_t(n));
  if (n && s.Read(h.palette.data(), 3 * int64_t(n)) != 3 * int64_t(n)) return false;
  if (!Get(s, h.width) || !Get(s, h.height) || !Get(s, h.format) || !Get(s, h.full) || !Get(s, h.colorCount) ||
      !Get(s, h.rangeMin) || !Get(s, h.rangeMax) || s.Read(h.brightness, 16) != 16 || !Get(s, h.adjust) ||
      !Get(s, h.contrast) || !Get(s, h.alignment))
    return false;
  if (h.width < 0 || h.height < 0 || h.format >= kIEFormatCount) return false;
  // Alignments a row can have: whole bytes, at most 1024 bits.
  return h.alignment >= 8 && h.alignment <= 1024 && h.alignment % 8 == 0;
}

bool ReadRows(TStream& s, TIEBitmap& b, int64_t storedRowLen) {
  const int64_t keep = std::min<int64_t>(storedRowLen, b.RowLen());
  std::vector<uint8_t> row(static_cast<size_t>(storedRowLen));
  for (int y = 0; y < b.Height(); ++y) {
    if (s.Read(row.data(), storedRowLen) != storedRowLen) return false;
    std::memcpy(b.ScanLine(y), row.data(), size_t(keep));
  }
  return true;
}

}  // namespace

int64_t RawSize(TIEBitmap& bitmap) {
  const int n = bitmap.PixelFormat() == ie8p ? bitmap.PaletteLength() : 0;
  int64_t size = kFixedBytes + 3 * int64_t(n) + int64_t(bitmap.Height()) * bitmap.RowLen();
  if (bitmap.HasAlphaChannel()) size += int64_t(bitmap.Height()) * bitmap.AlphaChannel()->RowLen() + 1;
  return size;
}

void SaveRawToStream(TIEBitmap& bitmap, TStream& stream) {
  stream.WriteBuffer(kMagic, 12);
  stream.WriteValue<int32_t>(0);
  const int32_t n = bitmap.PixelFormat() == ie8p ? bitmap.PaletteLength() : 0;
  stream.WriteValue(n);
  for (int i = 0; i < n; ++i) {
    TRGB c;
    bitmap.GetPaletteColor(i, c);
    stream.WriteValue(c);
  }
  stream.WriteValue<int32_t>(bitmap.Width());
  stream.WriteValue<int32_t>(bitmap.Height());
  stream.WriteValue<uint8_t>(bitmap.PixelFormat());
  stream.WriteValue<uint8_t>(bitmap.Full() ? 1 : 0);
  stream.WriteValue<int32_t>(bitmap.PaletteColorCount());
  stream.WriteValue<double>(bitmap.RangeMin());
  stream.WriteValue<double>(bitmap.RangeMax());
  const int32_t brightness[4] = {bitmap.BrightnessRed(), bitmap.BrightnessGreen(), bitmap.BrightnessBlue(), 0};
  stream.WriteBuffer(brightness, 16);
  stream.WriteValue<uint8_t>(bitmap.AdjustDisplay() ? 1 : 0);
  stream.WriteValue<int32_t>(bitmap.Contrast());
  stream.WriteValue<int32_t>(bitmap.RowAlignment());
  for (int y = 0; y < bitmap.Height(); ++y) stream.WriteBuffer(bitmap.ScanLine(y), bitmap.RowLen());
  stream.WriteValue<uint8_t>(bitmap.HasAlphaChannel() ? 1 : 0);
  if (!bitmap.HasAlphaChannel()) return;
  TIEBitmap* a = bitmap.AlphaChannel();
  for (int y = 0; y < a->Height(); ++y) stream.WriteBuffer(a->ScanLine(y), a->RowLen());
  stream.WriteValue<uint8_t>(a->Full() ? 1 : 0);
}

std::vector<uint8_t> SaveRawToBytes(TIEBitmap& bitmap) {
  TMemoryStream s;
  SaveRawToStream(bitmap, s);
  const auto* p = s.Memory();
  return std::vector<uint8_t>(p, p + s.Size());
}

bool LoadRawFromStream(TIEBitmap& bitmap, TStream& stream) {
  TRawHeader h;
  if (!ReadHeader(stream, h)) return false;
  const TIEBitmapFormat format = TIEBitmapFormat(h.format);
  const bool empty = h.width == 0 || h.height == 0 || format == ieNoFormat;
  const int64_t rowLen = empty ? 0 : StoredRowLen(h.width, IEBitsPerPixel(format), h.alignment);
  // Nothing is allocated for rows the data cannot hold.
  if (rowLen && (stream.Remaining() - 1) / rowLen < h.height) return false;
  TIEBitmap loaded;
  loaded.SetMemoryLimit(bitmap.MemoryLimit());
  if (!empty) {
    if (h.alignment != 32) {
      loaded.SetLocation(ieMemory);
      loaded.SetRowAlignment(h.alignment);
    }
    if (!loaded.Allocate(h.width, h.height, format)) return false;
    const int n = std::min<int>(int(h.palette.size()), loaded.PaletteLength());
    for (int i = 0; i < n; ++i) loaded.SetPaletteColor(i, h.palette[size_t(i)]);
    if (!ReadRows(stream, loaded, rowLen)) return false;
  }
  loaded.SetFull(h.full != 0);
  loaded.SetPaletteColorCount(h.colorCount);
  loaded.SetRange(h.rangeMin, h.rangeMax);
  loaded.SetBrightness(h.brightness[0], h.brightness[1], h.brightness[2]);
  loaded.SetAdjustDisplay(h.adjust != 0);
  loaded.SetContrast(h.contrast);
  uint8_t hasAlpha = 0;
  if (!Get(stream, hasAlpha)) return false;
  if (hasAlpha && !empty) {
    const int64_t alphaRowLen = AlphaRowLen(h.width);
    if (stream.Remaining() / alphaRowLen < h.height) return false;
    TIEBitmap* a = loaded.AlphaChannel();
    if (!a || !ReadRows(stream, *a, alphaRowLen)) return false;
    uint8_t full = 0;
    Get(stream, full);  // a missing last byte leaves the channel marked as not full
    a->SetFull(full != 0);
  }
  bitmap.Assign(&loaded);
  if (!loaded.HasAlphaChannel()) bitmap.RemoveAlphaChannel();
  return true;
}

bool LoadRawFromMemory(TIEBitmap& bitmap, const void* data, size_t size) {
  if (!data) return false;
  TCustomMemoryStream s(data, int64_t(size));
  return LoadRawFromStream(bitmap, s);
}
