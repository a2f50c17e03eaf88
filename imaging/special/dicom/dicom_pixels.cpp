#include "imaging/special/dicom/dicom_pixels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_proc_filters.h"
#include "imaging/core/ie_streams.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/special/dicom/dicom_reader.h"
#include "imaging/special/dicom/lossless_jpeg.h"
#include "imaging/special/jpeg2000/j2000_filter.h"
#include "pictures/jpeg2000/jpeg2000_opj.h"

namespace {

using TBytes = std::vector<uint8_t>;

enum TSyntaxKind { tsNative, tsJpeg, tsLossless, tsJ2K, tsRLE, tsRefused };

TSyntaxKind KindOf(const std::string& uid, const char*& reason) {
  static const std::string kJpegFamily = "1.2.840.10008.1.2.4.";
  if (uid.empty() || uid == "1.2.840.10008.1.2" || uid == "1.2.840.10008.1.2.1" || uid == "1.2.840.10008.1.2.2")
    return tsNative;
  if (uid == "1.2.840.10008.1.2.5") return tsRLE;
  if (uid.compare(0, kJpegFamily.size(), kJpegFamily) == 0) {
    const std::string tail = uid.substr(kJpegFamily.size());
    if (tail == "50" || tail == "51") return tsJpeg;
    if (tail == "57" || tail == "70") return tsLossless;
    if (tail == "90" || tail == "91") return tsJ2K;
    if (tail == "80" || tail == "81") reason = "JPEG-LS pixel data is not read";
    else if (tail.compare(0, 2, "10") == 0) reason = "MPEG pixel data is not read";
    else reason = "a compressed transfer syntax the reader does not know";
    return tsRefused;
  }
  if (uid == "1.2.840.10008.1.2.1.99") {
    reason = "a deflated data set (transfer syntax 1.2.840.10008.1.2.1.99)";
    return tsRefused;
  }
  return tsNative;
}

// Reports progress in whole percent, each value once.
class TRowProgress {
public:
  explicit TRowProgress(TProgressRecord& progress) : FProgress(progress) {}
  void Done(int64_t done, int64_t total) {
    if (!FProgress.ProgressEvent || total <= 0) return;
    const int percent = static_cast<int>(double(done) / double(total) * 100);
    if (percent != FLast) FProgress.Report(FLast = percent);
  }

private:
  TProgressRecord& FProgress;
  int FLast = -1;
};

struct TFrameSource {
  bool encapsulated = false;
  TBytes bytes;
};

uint32_t LE32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool StartsAFrame(const TBytes& all, size_t at, size_t length) {
  const uint8_t* p = all.data() + at;
  if (length >= 2 && p[0] == 0xFF && p[1] == 0xD8) return true;
  if (length >= 4 && p[0] == 0xFF && p[1] == 0x4F && p[2] == 0xFF && p[3] == 0x51) return true;
  return length >= 8 && LE32(p) == 0x0C000000 && p[4] == 'j' && p[5] == 'P';
}

struct TFragment {
  int64_t offset;  // of its item tag, from the first fragment's
  size_t at;       // of its data in the value read
  size_t length;
};

// The value of an encapsulated pixel data element: the offset table, then
// fragments up to the sequence delimiter. Frame `index` is all fragments
// from its first to the next frame's.
bool ReadEncapsulatedFrame(TDICOMContext& ctx, int index, TBytes& frame) {
  TStream& s = *ctx.Stream;
  TProgressRecord& pr = *ctx.Progress;
  const int64_t start = s.Position();
  const TBytes value = s.ReadBytes(ctx.StreamSize - start);
  size_t p = 0;
  auto item = [&](uint16_t& element, uint32_t& length) {
    if (value.size() - p < 8) return false;
    const uint16_t group = static_cast<uint16_t>(value[p] | value[p + 1] << 8);
    element = static_cast<uint16_t>(value[p + 2] | value[p + 3] << 8);
    length = LE32(&value[p + 4]);
    p += 8;
    return group == 0xFFFE;
  };
  uint16_t element;
  uint32_t length;
  if (!item(element, length) || element != 0xE000) return pr.Refuse("no offset table item"), false;
  if (length > value.size() - p) return pr.Refuse("an offset table past the end of the data"), false;
  std::vector<int64_t> offsets;
  for (uint32_t i = 0; i + 4 <= length; i += 4) offsets.push_back(LE32(&value[p + i]));
  p += length;
  const size_t base = p;
  std::vector<TFragment> fragments;
  while (value.size() - p >= 8) {
    const size_t tagAt = p;
    if (!item(element, length)) return pr.Refuse("a tag other than an item in the encapsulated pixel data"), false;
    if (element == 0xE0DD) break;
    if (element != 0xE000) return pr.Refuse("a tag other than an item in the encapsulated pixel data"), false;
    if (length > value.size() - p) return pr.Refuse("a fragment past the end of the data"), false;
    fragments.push_back({int64_t(tagAt - base), p, length});
    p += length;
  }
  if (fragments.empty()) return pr.Refuse("encapsulated pixel data without a fragment"), false;

  // The fragments where each frame starts.
  std::vector<size_t> starts;
  for (int64_t offset : offsets) {
    auto f = std::find_if(fragments.begin(), fragments.end(), [offset](const TFragment& x) { return x.offset == offset; });
    if (f == fragments.end()) {
      starts.clear();
      break;
    }
    starts.push_back(size_t(f - fragments.begin()));
  }
  if (starts.empty() || int64_t(starts.size()) < std::min<int64_t>(ctx.Frames, int64_t(fragments.size()))) {
    starts.clear();
    if (ctx.Frames == 1) {
      starts.push_back(0);
    } else if (int64_t(fragments.size()) > ctx.Frames) {
      for (size_t i = 0; i < fragments.size(); ++i)
        if (StartsAFrame(value, fragments[i].at, fragments[i].length)) starts.push_back(i);
      if (int64_t(starts.size()) != ctx.Frames) starts.clear();
    }
    if (starts.empty())
      for (size_t i = 0; i < fragments.size(); ++i) starts.push_back(i);
  }
  if (size_t(index) >= starts.size()) return pr.Refuse("the frame is not in the pixel data"), false;
  const size_t first = starts[size_t(index)];
  const size_t last = size_t(index) + 1 < starts.size() ? starts[size_t(index) + 1] : fragments.size();
  frame.clear();
  for (size_t i = first; i < last && i < fragments.size(); ++i)
    frame.insert(frame.end(), value.begin() + ptrdiff_t(fragments[i].at),
                 value.begin() + ptrdiff_t(fragments[i].at + fragments[i].length));
  return true;
}

// ---- value mapping ----

double WindowValue(double v, double c, double w, double top) {
  if (w <= 1) return v <= c - 0.5 ? 0 : top;
  const double lo = c - 0.5 - (w - 1) / 2, hi = c - 0.5 + (w - 1) / 2;
  if (v <= lo) return 0;
  if (v > hi) return top;
  return std::clamp(((v - (c - 0.5)) / (w - 1) + 0.5) * top, 0.0, top);
}

// The stored values through the rescale into the bitmap's range: stretched
// over it (range mode 0) or kept, moved up to be positive (mode 1).
template <class TSample, class TGet>
void MapValues(TDICOMContext& ctx, TIEBitmap& bitmap, int samplesPerRow, TGet stored, double top, bool stretchByLargest) {
  const int height = bitmap.Height();
  const double slope = ctx.RescaleSlope, intercept = ctx.RescaleIntercept;
  auto valueAt = [&](int y, int x) { return stored(y, x) * slope + intercept; };
  TIOParamsVals& params = *ctx.Params;
  const bool window = ctx.HasWindow();
  if (params.DicomRange == 0 && window) {
    for (int y = 0; y < height; ++y) {
      TSample* row = reinterpret_cast<TSample*>(bitmap.ScanLine(y));
      for (int x = 0; x < samplesPerRow; ++x)
        row[x] = static_cast<TSample>(WindowValue(valueAt(y, x), ctx.WindowCentre, ctx.WindowWidth, top));
    }
    return;
  }
  // The offset that makes every value positive, from all of them.
  double e = 0, smallest = std::numeric_limits<double>::max(), largest = std::numeric_limits<double>::lowest();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < samplesPerRow; ++x) e = std::max(e, -valueAt(y, x));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < samplesPerRow; ++x) {
      const double s = std::trunc(valueAt(y, x) + e);
      smallest = std::min(smallest, s);
      largest = std::max(largest, s);
    }
  const uint32_t mask = top > 255 ? 0xFFFF : 0xFF;
  if (params.DicomRange != 0) {
    for (int y = 0; y < height; ++y) {
      TSample* row = reinterpret_cast<TSample*>(bitmap.ScanLine(y));
      for (int x = 0; x < samplesPerRow; ++x)
        row[x] = static_cast<TSample>(static_cast<uint32_t>(int64_t(std::trunc(valueAt(y, x) + e))) & mask);
    }
    params.DicomValueOffset = e;
    if (window) {
      const double c = ctx.WindowCentre + e;
      bitmap.SetRange(c - ctx.WindowWidth / 2, c + ctx.WindowWidth / 2);
    } else {
      ComputeValueRange(bitmap);
    }
    return;
  }
  const double divisor = stretchByLargest ? largest : largest - smallest;
  for (int y = 0; y < height; ++y) {
    TSample* row = reinterpret_cast<TSample*>(bitmap.ScanLine(y));
    for (int x = 0; x < samplesPerRow; ++x) {
      if (!stretchByLargest && divisor == 0) {
        row[x] = static_cast<TSample>(static_cast<uint32_t>(int64_t(stored(y, x))) & mask);
      } else if (divisor == 0) {
        row[x] = 0;
      } else {
        const double s = std::trunc(valueAt(y, x) + e);
        row[x] = static_cast<TSample>(std::clamp(std::trunc((s - smallest) / divisor * top), 0.0, top));
      }
    }
  }
}

void Map16(TDICOMContext& ctx, TIEBitmap& bitmap, const std::vector<int32_t>& stored) {
  const int width = bitmap.Width();
  MapValues<uint16_t>(ctx, bitmap, width, [&](int y, int x) { return double(stored[size_t(y) * width + x]); }, 65535.0,
                      false);
}

// In place over the bytes of each row (grey or colour).
void Map8(TDICOMContext& ctx, TIEBitmap& bitmap) {
  const int samples = bitmap.Width() * (bitmap.PixelFormat() == ie24RGB ? 3 : 1);
  const int height = bitmap.Height();
  std::vector<uint8_t> copy(size_t(samples) * height);
  for (int y = 0; y < height; ++y) std::memcpy(&copy[size_t(y) * samples], bitmap.ScanLine(y), size_t(samples));
  const bool isSigned = ctx.PixelRepresentation == 1;
  MapValues<uint8_t>(ctx, bitmap, samples,
                     [&](int y, int x) {
                       const uint8_t b = copy[size_t(y) * samples + x];
                       return isSigned ? double(int8_t(b)) : double(b);
                     },
                     255.0, true);
}

void InvertMonochrome1(TDICOMContext& ctx, TIEBitmap& bitmap) {
  if (ctx.Photometric != "MONOCHROME1") return;
  const bool wide = bitmap.PixelFormat() == ie16g;
  const int samples = bitmap.Width() * (bitmap.PixelFormat() == ie24RGB ? 3 : 1);
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    if (wide) {
      uint16_t* w = reinterpret_cast<uint16_t*>(row);
      for (int x = 0; x < samples; ++x) w[x] = static_cast<uint16_t>(~w[x]);
    } else {
      for (int x = 0; x < samples; ++x) row[x] = static_cast<uint8_t>(~row[x]);
    }
  }
  if (ctx.Params->DicomRange != 0) {
    const double top = wide ? 65535 : 255;
    bitmap.SetRange(top - bitmap.RangeMax(), top - bitmap.RangeMin());
  }
}

// A stored sample of bitsStored bits (the rest of its word masked off), sign
// extended for signed data.
int32_t StoredSample(uint32_t word, int bitsStored, bool isSigned) {
  const uint32_t mask = bitsStored >= 32 ? ~0u : (1u << bitsStored) - 1;
  word &= mask;
  if (isSigned && bitsStored > 0 && (word >> (bitsStored - 1)) & 1) return int32_t(word) - int32_t(mask) - 1;
  return int32_t(word);
}

bool Allocate(TDICOMContext& ctx, TIEBitmap& bitmap, TIEBitmapFormat format) {
  if (!bitmap.Allocate(ctx.Columns, ctx.Rows, format)) return ctx.Progress->Refuse("no memory for the picture"), false;
  return true;
}

void FillPaletteRGB(TDICOMContext& ctx, TIEBitmap& bitmap, const uint8_t* indexes, int shift) {
  auto entry = [](const std::vector<uint16_t>& t, uint32_t i) { return i < t.size() ? t[i] : uint16_t(0); };
  TRowProgress progress(*ctx.Progress);
  for (int y = 0; y < ctx.Rows; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < ctx.Columns; ++x, row += 3) {
      const uint32_t i = uint32_t(uint8_t(indexes[size_t(y) * ctx.Columns + x] << shift));
      row[0] = static_cast<uint8_t>(entry(ctx.Blue, i) / 257);
      row[1] = static_cast<uint8_t>(entry(ctx.Green, i) / 257);
      row[2] = static_cast<uint8_t>(entry(ctx.Red, i) / 257);
    }
    progress.Done(y + 1, ctx.Rows);
  }
}

bool IsPalette(const TDICOMContext& ctx) { return ctx.Photometric == "PALETTE COLOR"; }

// Grey samples of 9 to 16 bits (or palette indexes) into the bitmap.
void FillWide(TDICOMContext& ctx, TIEBitmap& bitmap, const std::vector<int32_t>& stored) {
  if (IsPalette(ctx)) {
    if (!Allocate(ctx, bitmap, ieRGB48)) return;
    auto entry = [](const std::vector<uint16_t>& t, int32_t i) {
      return i >= 0 && size_t(i) < t.size() ? t[size_t(i)] : uint16_t(0);
    };
    for (int y = 0; y < ctx.Rows; ++y) {
      TRGB48* row = reinterpret_cast<TRGB48*>(bitmap.ScanLine(y));
      for (int x = 0; x < ctx.Columns; ++x) {
        const int32_t i = stored[size_t(y) * ctx.Columns + x];
        row[x] = TRGB48{entry(ctx.Red, i), entry(ctx.Green, i), entry(ctx.Blue, i)};
      }
    }
    return;
  }
  if (!Allocate(ctx, bitmap, ie16g)) return;
  Map16(ctx, bitmap, stored);
  InvertMonochrome1(ctx, bitmap);
}

void FillGrey8(TDICOMContext& ctx, TIEBitmap& bitmap, const uint8_t* samples, bool map) {
  if (!Allocate(ctx, bitmap, ie8g)) return;
  for (int y = 0; y < ctx.Rows; ++y) std::memcpy(bitmap.ScanLine(y), samples + size_t(y) * ctx.Columns, size_t(ctx.Columns));
  if (map) Map8(ctx, bitmap);
  InvertMonochrome1(ctx, bitmap);
}

// Three planes (or interleaved samples) of red, green, blue, or of Y, Cb, Cr
// in YBR_FULL, into an ie24RGB bitmap.
void FillColour8(TDICOMContext& ctx, TIEBitmap& bitmap, const uint8_t* data, bool planar, int shift) {
  if (!Allocate(ctx, bitmap, ie24RGB)) return;
  const size_t plane = size_t(ctx.Columns) * ctx.Rows;
  const bool ybr = ctx.Photometric == "YBR_FULL";
  TRowProgress progress(*ctx.Progress);
  for (int y = 0; y < ctx.Rows; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < ctx.Columns; ++x, row += 3) {
      const size_t i = size_t(y) * ctx.Columns + x;
      uint8_t a, b, c;
      if (planar) a = data[i], b = data[plane + i], c = data[2 * plane + i];
      else a = data[3 * i], b = data[3 * i + 1], c = data[3 * i + 2];
      a = uint8_t(a << shift), b = uint8_t(b << shift), c = uint8_t(c << shift);
      if (ybr) {
        TRGB rgb;
        YCbCrToRGB(rgb, a, b, c);
        row[0] = rgb.b, row[1] = rgb.g, row[2] = rgb.r;
      } else {
        row[0] = c, row[1] = b, row[2] = a;
      }
    }
    progress.Done(y + 1, ctx.Rows);
  }
}

// ---- native data ----

void DecodeNative(TDICOMContext& ctx, const TBytes& frame, TIEBitmap& bitmap) {
  const int64_t pixels = int64_t(ctx.Columns) * ctx.Rows;
  const bool isSigned = ctx.PixelRepresentation == 1;
  const int shift = std::max(0, 8 - ctx.BitsStored);
  if (ctx.SamplesPerPixel == 1 && ctx.BitsAllocated == 12 && ctx.BitsStored == 12 && !IsPalette(ctx)) {
    std::vector<int32_t> stored(static_cast<size_t>(pixels));
    for (int64_t i = 0; i < pixels; ++i) {
      const size_t at = size_t(i / 2 * 3);
      const uint32_t v = (i & 1) == 0 ? frame[at] + ((frame[at + 1] & 15u) << 8)
                                      : (frame[at + 1] >> 4) + (uint32_t(frame[at + 2]) << 4);
      stored[size_t(i)] = StoredSample(v, 12, isSigned);
    }
    return FillWide(ctx, bitmap, stored);
  }
  if (ctx.SamplesPerPixel == 1 && ctx.BitsStored > 8 && ctx.BitsAllocated == 16) {
    std::vector<int32_t> stored(static_cast<size_t>(pixels));
    for (int64_t i = 0; i < pixels; ++i) {
      const uint8_t* p = &frame[size_t(i) * 2];
      const uint32_t word = ctx.LittleEndian ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[1] | p[0] << 8);
      stored[size_t(i)] = StoredSample(word, ctx.BitsStored, isSigned);
    }
    return FillWide(ctx, bitmap, stored);
  }
  if (ctx.SamplesPerPixel == 1 && ctx.BitsStored <= 8 && (ctx.BitsAllocated == 8 || ctx.BitsAllocated == 16)) {
    const int step = ctx.BitsAllocated / 8;
    // A 16-bit word holds its low byte first in little-endian data.
    const int low = ctx.BitsAllocated == 16 && !ctx.LittleEndian ? 1 : 0;
    TBytes samples(static_cast<size_t>(pixels));
    for (int64_t i = 0; i < pixels; ++i) samples[size_t(i)] = frame[size_t(i) * step + low];
    if (IsPalette(ctx)) {
      if (!Allocate(ctx, bitmap, ie24RGB)) return;
      return FillPaletteRGB(ctx, bitmap, samples.data(), shift);
    }
    for (uint8_t& b : samples) b = uint8_t(b << shift);
    return FillGrey8(ctx, bitmap, samples.data(), false);
  }
  if (ctx.SamplesPerPixel == 3 && ctx.BitsAllocated == 8) return FillColour8(ctx, bitmap, frame.data(), ctx.PlanarConfiguration == 1, shift);
  ctx.Progress->Refuse("a sample layout the reader does not take");
}

// ---- RLE ----

// PackBits into out until it is full or the segment ends.
void UnpackBits(const uint8_t* p, const uint8_t* end, uint8_t* out, size_t size) {
  size_t n = 0;
  while (p < end && n < size) {
    const int8_t control = static_cast<int8_t>(*p++);
    if (control >= 0) {
      const size_t count = std::min<size_t>({size_t(control) + 1, size - n, size_t(end - p)});
      std::memcpy(out + n, p, count);
      n += count;
      p += std::min<ptrdiff_t>(control + 1, end - p);
    } else if (control != -128) {
      if (p >= end) break;
      const size_t count = std::min<size_t>(size_t(1 - control), size - n);
      std::memset(out + n, *p++, count);
      n += count;
    }
  }
}

void DecodeRLE(TDICOMContext& ctx, const TBytes& frame, TIEBitmap& bitmap) {
  TProgressRecord& pr = *ctx.Progress;
  if (frame.size() < 64) return pr.Refuse("an RLE header past the end of the data");
  const uint32_t count = LE32(frame.data());
  const int bytes = ctx.BitsAllocated <= 8 ? 1 : 2;
  const uint32_t needed = uint32_t(ctx.SamplesPerPixel * bytes);
  if (count > 15 || count < needed) return pr.Refuse("an RLE header with a bad segment count");
  if (!((ctx.SamplesPerPixel == 1 && ctx.BitsAllocated <= 16) || (ctx.SamplesPerPixel == 3 && bytes == 1)))
    return pr.Refuse("a sample layout the reader does not take");
  const size_t plane = size_t(ctx.Columns) * ctx.Rows;
  // Each segment byte pair gives at most 128 bytes.
  if (plane > frame.size() * 64) return pr.Refuse("RLE data too short for the picture");
  TBytes planes(plane * needed, 0);
  for (uint32_t k = 0; k < needed; ++k) {
    const uint32_t start = LE32(&frame[4 + 4 * k]);
    const uint32_t stop = k + 1 < count ? LE32(&frame[8 + 4 * k]) : uint32_t(frame.size());
    if (start < 64 || start > frame.size() || stop > frame.size() || stop < start)
      return pr.Refuse("an RLE segment past the end of the data");
    UnpackBits(frame.data() + start, frame.data() + stop, planes.data() + k * plane, plane);
  }
  if (ctx.SamplesPerPixel == 3) return FillColour8(ctx, bitmap, planes.data(), true, 0), Map8(ctx, bitmap);
  if (bytes == 2) {
    std::vector<int32_t> stored(plane);
    for (size_t i = 0; i < plane; ++i)
      stored[i] = StoredSample(uint32_t(planes[i]) << 8 | planes[plane + i], ctx.BitsStored, ctx.PixelRepresentation == 1);
    return FillWide(ctx, bitmap, stored);
  }
  if (IsPalette(ctx)) {
    if (!Allocate(ctx, bitmap, ie24RGB)) return;
    return FillPaletteRGB(ctx, bitmap, planes.data(), 0);
  }
  FillGrey8(ctx, bitmap, planes.data(), true);
}

// ---- JPEG ----

// The precision of the first frame header, 0 when none is found.
int JpegPrecision(const TBytes& data) {
  size_t p = 2;
  while (p + 4 <= data.size()) {
    if (data[p] != 0xFF) return 0;
    const uint8_t code = data[p + 1];
    if (code == 0xFF) {
      ++p;
      continue;
    }
    const size_t length = size_t(data[p + 2]) << 8 | data[p + 3];
    if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC)
      return p + 4 < data.size() ? data[p + 4] : 0;
    if (code == 0xDA) return 0;
    p += 2 + length;
  }
  return 0;
}

void DecodeJpeg(TDICOMContext& ctx, const TBytes& frame, TIEBitmap& bitmap) {
  if (JpegPrecision(frame) > 8)
    return ctx.Progress->Refuse("12-bit JPEG pixel data is not read (the JPEG library here is 8-bit only)");
  TIEMemStream s(frame.data(), int64_t(frame.size()));
  TIOParamsVals scratch(nullptr);
  TJpegReadOptions options;
  options.NativeFormat = true;
  options.ReadMetadata = false;
  ReadJpegStream(s, nullptr, &bitmap, options, *ctx.Progress, scratch);
  if (ctx.Progress->Aborted()) return;
  if (bitmap.Width() != ctx.Columns || bitmap.Height() != ctx.Rows)
    return ctx.Progress->Refuse("the JPEG picture's size differs from the data set's");
  if (ctx.SamplesPerPixel == 1 && bitmap.PixelFormat() == ie8g) {
    Map8(ctx, bitmap);
    InvertMonochrome1(ctx, bitmap);
  }
}

void DecodeLossless(TDICOMContext& ctx, const TBytes& frame, TIEBitmap& bitmap) {
  TProgressRecord& pr = *ctx.Progress;
  TLosslessJpegFrame header;
  if (!ReadLosslessJpegFrame(frame.data(), frame.size(), header)) return pr.Refuse("no lossless JPEG frame header");
  if (header.Samples != ctx.Columns || header.Lines != ctx.Rows || header.Components != ctx.SamplesPerPixel)
    return pr.Refuse("the lossless JPEG frame's size differs from the data set's");
  // One bit at least per sample: a frame claiming more samples than that is
  // refused before anything is allocated.
  const size_t samples = size_t(ctx.Columns) * ctx.Rows * ctx.SamplesPerPixel;
  if (samples / 8 > frame.size()) return pr.Refuse("lossless JPEG data too short for the picture");
  const char* reason = nullptr;
  if (ctx.SamplesPerPixel == 1 && ctx.BitsStored > 8 && ctx.BitsStored <= 16) {
    std::vector<uint16_t> words(samples);
    if (!DecodeLosslessJPEG(frame.data(), frame.size(), words.data(), nullptr, samples, pr, reason))
      return pr.Refuse(reason);
    std::vector<int32_t> stored(samples);
    for (size_t i = 0; i < samples; ++i) stored[i] = StoredSample(words[i], ctx.BitsStored, ctx.PixelRepresentation == 1);
    return FillWide(ctx, bitmap, stored);
  }
  if (ctx.BitsStored > 8 || (ctx.SamplesPerPixel != 1 && ctx.SamplesPerPixel != 3))
    return pr.Refuse("a sample layout the reader does not take");
  TBytes bytes(samples);
  if (!DecodeLosslessJPEG(frame.data(), frame.size(), nullptr, bytes.data(), samples, pr, reason))
    return pr.Refuse(reason);
  if (ctx.SamplesPerPixel == 1) return FillGrey8(ctx, bitmap, bytes.data(), true);
  if (!Allocate(ctx, bitmap, ie24RGB)) return;
  for (int y = 0; y < ctx.Rows; ++y)
    std::memcpy(bitmap.ScanLine(y), &bytes[size_t(y) * ctx.Columns * 3], size_t(ctx.Columns) * 3);
  Map8(ctx, bitmap);
  ReorderChannels(bitmap, "RGB", nullptr, {});
}

// ---- JPEG 2000 ----

void DecodeJ2K(TDICOMContext& ctx, const TBytes& frame, TIEBitmap& bitmap) {
  TProgressRecord& pr = *ctx.Progress;
  if (ctx.SamplesPerPixel != 1) {
    TIEMemStream s(frame.data(), int64_t(frame.size()));
    TIOParamsVals scratch(nullptr);
    ReadJ2000Stream(s, &bitmap, scratch, false, pr);
    if (!pr.Aborted() && (bitmap.Width() != ctx.Columns || bitmap.Height() != ctx.Rows))
      pr.Refuse("the JPEG 2000 picture's size differs from the data set's");
    return;
  }
  // Grey keeps its precision: the samples map as native data does.
  const char* refusal = nullptr;
  jp2::TImagePtr image = jp2::DecodeImage(frame, refusal);
  if (!image) return pr.Refuse(refusal ? refusal : "the JPEG 2000 data could not be decoded");
  if (image->numcomps < 1) return pr.Refuse("a JPEG 2000 picture without components");
  const opj_image_comp_t& c = image->comps[0];
  if (!c.data || c.w != uint32_t(ctx.Columns) || c.h != uint32_t(ctx.Rows) || c.prec < 1 ||
      c.prec > 16)
    return pr.Refuse("the JPEG 2000 picture's size or precision differs from the data set's");
  const size_t pixels = size_t(c.w) * c.h;
  if (c.prec > 8 || ctx.BitsStored > 8) {
    std::vector<int32_t> stored(c.data, c.data + pixels);
    return FillWide(ctx, bitmap, stored);
  }
  TBytes bytes(pixels);
  for (size_t i = 0; i < pixels; ++i) bytes[i] = static_cast<uint8_t>(c.data[i]);
  FillGrey8(ctx, bitmap, bytes.data(), true);
}

}  // namespace

void DecodeDICOMImage(TDICOMContext& ctx) {
  TProgressRecord& pr = *ctx.Progress;
  TIOParamsVals& params = *ctx.Params;
  params.DicomValueOffset = 0;
  const int index = std::clamp(params.ImageIndex, 0, std::max(ctx.Frames - 1, 0));
  params.SetImageIndex(index);

  const char* reason = nullptr;
  const TSyntaxKind kind = KindOf(ctx.TransferSyntax, reason);
  if (kind == tsRefused) return pr.Refuse(reason);
  if (ctx.Columns <= 0 || ctx.Rows <= 0) return pr.Refuse("no columns or rows");
  if (ctx.SamplesPerPixel != 1 && ctx.SamplesPerPixel != 3) return pr.Refuse("samples per pixel other than 1 or 3");
  if (ctx.BitsAllocated == 1) return pr.Refuse("1-bit pixel data is not read");
  if (ctx.BitsAllocated < 1 || ctx.BitsAllocated > 16 || ctx.BitsStored < 1 || ctx.BitsStored > ctx.BitsAllocated)
    return pr.Refuse("bits allocated or stored outside 1 to 16");

  TStream& s = *ctx.Stream;
  const int64_t start = s.Position();
  uint8_t first[4] = {0, 0, 0, 0};
  const bool peeked = s.Read(first, 4) == 4;
  s.SetPosition(start);
  const bool encapsulated = peeked && first[0] == 0xFE && first[1] == 0xFF && first[2] == 0x00 && first[3] == 0xE0;

  TBytes frame;
  if (encapsulated) {
    if (kind == tsNative) return pr.Refuse("encapsulated pixel data in a transfer syntax the reader does not know");
    if (!ReadEncapsulatedFrame(ctx, index, frame)) return;
  } else if (kind == tsNative) {
    const int64_t frameBits = int64_t(ctx.Columns) * ctx.Rows * ctx.SamplesPerPixel * ctx.BitsAllocated;
    const int64_t frameBytes = (frameBits + 7) / 8;
    const int64_t at = start + int64_t(index) * frameBytes;
    if (at + frameBytes > ctx.StreamSize || frameBytes > ctx.StreamSize) return pr.Refuse("the pixel data reaches past the end");
    s.SetPosition(at);
    frame = s.ReadBytes(frameBytes);
  } else {
    // An old file keeps a compressed picture as a plain value.
    const int64_t length = ctx.PixelDataLength >= 0 ? ctx.PixelDataLength : ctx.StreamSize - start;
    if (start + length > ctx.StreamSize) return pr.Refuse("the pixel data reaches past the end");
    frame = s.ReadBytes(length);
  }

  TIEBitmap& bitmap = *ctx.Bitmap;
  switch (kind) {
    case tsNative: return DecodeNative(ctx, frame, bitmap);
    case tsRLE: return DecodeRLE(ctx, frame, bitmap);
    case tsJpeg: return DecodeJpeg(ctx, frame, bitmap);
    case tsLossless: return DecodeLossless(ctx, frame, bitmap);
    case tsJ2K: return DecodeJ2K(ctx, frame, bitmap);
    case tsRefused: break;
  }
}
