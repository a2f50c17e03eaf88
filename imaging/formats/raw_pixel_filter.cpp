#include "imaging/formats/raw_pixel_filter.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_utils.h"
#include "imaging/core/ie_version.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"
#include "imaging/io/format_descriptor.h"

namespace {

constexpr int kBufferSize = 8192;
constexpr size_t kMaxSampleChars = 34;

enum TRawDataFormat : uint8_t { rdBinary = 0, rdDecimal = 1, rdHex = 2 };
enum TRawSample { rsByte, rsWord, rsFloat, rsBit };

TRawSample SampleOf(TIEBitmapFormat f) {
  switch (f) {
    case ie16g:
    case ieRGB48: return rsWord;
    case ie32f: return rsFloat;
    case ie1g: return rsBit;
    default: return rsByte;
  }
}

// Samples written as text: runs of digits (decimal) or of 0-9 and A-F
// (hexadecimal); every other character separates them. Float samples also
// take a sign and either decimal separator.
class TTextSamples {
public:
  TTextSamples(TIEBufferedReadStream& in, uint8_t format, TRawSample sample)
      : FIn(in), FHex(format == rdHex), FFloat(sample == rsFloat) {}

  // The next sample as text; false at the end of the data.
  bool Next(std::string& text) {
    text.clear();
    uint8_t c;
    while (FIn.ReadByte(c)) {
      if (Belongs(c)) {
        if (text.size() < kMaxSampleChars) text.push_back(char(c));
      } else if (!text.empty()) {
        return true;
      }
    }
    return !text.empty();
  }

  // The next sample as a number, clamped to 0..maximum (floats as they are).
  bool NextValue(double& value, double maximum) {
    std::string text;
    if (!Next(text)) return false;
    if (FFloat) {
      value = double(StrToFloatAnySeparator(text, 0));
      return true;
    }
    double v = 0;
    if (FHex) {
      for (char ch : text) v = v * 16 + (ch <= '9' ? ch - '0' : ch - 'A' + 10);
    } else {
      v = double(StringToIntDefault(text, 0));
    }
    value = std::min(v, maximum);
    return true;
  }

private:
  bool Belongs(uint8_t c) const {
    if (c >= '0' && c <= '9') return true;
    if (FHex) return c >= 'A' && c <= 'F';
    return FFloat && (c == '.' || c == ',' || c == '-' || c == '+');
  }

  TIEBufferedReadStream& FIn;
  bool FHex, FFloat;
};

struct TRawReader {
  TIEBufferedReadStream& in;
  TIEBitmap& bitmap;
  TIOParamsVals& params;
  TProgressRecord& progress;
  TRawSample sample;
  TTextSamples text;
  int width, height;

  // Stores sample x of a row of n samples (n = width x channels interleaved).
  bool ReadTextSamples(uint8_t* row, int n) {
    double v;
    for (int x = 0; x < n; ++x) {
      switch (sample) {
        case rsByte:
          if (!text.NextValue(v, 255)) return false;
          row[x] = uint8_t(v);
          break;
        case rsWord:
          if (!text.NextValue(v, 65535)) return false;
          reinterpret_cast<uint16_t*>(row)[x] = uint16_t(v);
          break;
        case rsFloat:
          if (!text.NextValue(v, 0)) return false;
          reinterpret_cast<float*>(row)[x] = float(v);
          break;
        case rsBit:
          // One sample a pixel; anything but 0 is white.
          if (!text.NextValue(v, 1)) return false;
          if (v != 0) row[x >> 3] |= kIEBitMask[x & 7];
          else row[x >> 3] &= uint8_t(~kIEBitMask[x & 7]);
          break;
      }
    }
    return true;
  }

  // Stops at row: the data ran short there, or the load was cancelled (which
  // is no refusal of the data).
  bool Fail(int row) {
    ClearBitmapRows(bitmap, row, height);
    if (!progress.Aborted()) progress.Refuse(kRefusedRowsCut);
    return false;
  }

  bool Interleaved() {
    const int64_t rowLen = bitmap.RowLen();
    const int64_t dataRow = AlignedRowLength(width, bitmap.BitCount(), params.RawPixelRowAlign);
    const int64_t take = std::min(rowLen, dataRow);
    const int samples = width * (sample == rsBit ? 1 : bitmap.ChannelCount());
    TFilterRowProgress rp{progress};
    for (int r = 0; r < height; ++r) {
      uint8_t* row = bitmap.ScanLine(r);
      const bool ok = params.RawPixelDataFormat == rdBinary ? in.Read(row, take) == take : ReadTextSamples(row, samples);
      if (!ok) return Fail(r);
      if (dataRow > rowLen) in.Seek(dataRow - rowLen, soCurrent);
      rp.Row(r);
      if (progress.Aborted()) return Fail(r + 1);
    }
    return true;
  }

  bool Planar(int planes) {
    const int sampleBytes = sample == rsWord ? 2 : 1;
    const int64_t dataRow = AlignedRowLength(width, 8 * sampleBytes, params.RawPixelRowAlign);
    std::vector<uint8_t> plane(size_t(std::max<int64_t>(dataRow, int64_t(width) * sampleBytes)));
    const int pixelBytes = planes * sampleBytes;
    int last = -1;
    auto report = [&](int per) {
      if (per != last) progress.Report(last = per);
    };
    report(0);
    for (int k = 0; k < planes; ++k) {
      if (k > 0) report(k * 100 / planes);
      for (int r = 0; r < height; ++r) {
        const bool ok = params.RawPixelDataFormat == rdBinary ? in.Read(plane.data(), dataRow) == dataRow
                                                              : ReadTextSamples(plane.data(), width);
        // A plane that ends early leaves the planes before it whole; the
        // picture is incomplete all the same.
        if (!ok) return Fail(k == 0 ? r : height);
        uint8_t* row = bitmap.ScanLine(r);
        for (int x = 0; x < width; ++x)
          std::memcpy(row + int64_t(x) * pixelBytes + k * sampleBytes, plane.data() + int64_t(x) * sampleBytes,
                      size_t(sampleBytes));
        if (progress.Aborted()) return Fail(height);
      }
    }
    report(100);
    return true;
  }
};

void ReadBody(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  const TIEBitmapFormat format = bitmap.PixelFormat();
  if (bitmap.IsEmpty()) return progress.Refuse("no picture size given");
  const TRawSample sample = SampleOf(format);
  // Floats are not written in hexadecimal.
  if (sample == rsFloat && params.RawPixelDataFormat == rdHex) return progress.Refuse("floats in hexadecimal");
  if (params.RawPixelDataFormat > rdHex) return progress.Refuse("a data format that is not read");
  TIEBufferedReadStream in(&stream, kBufferSize, true);
  progress.Step = 100.0 / bitmap.Height();
  if (params.RawPixelHeaderSize < 0 || params.RawPixelHeaderSize > in.Size()) {
    ClearBitmapRows(bitmap, 0, bitmap.Height());
    return progress.Refuse("the header lies past the end");
  }
  in.Seek(params.RawPixelHeaderSize, soBeginning);
  TRawReader reader{in, bitmap, params, progress, sample, TTextSamples(in, params.RawPixelDataFormat, sample),
                    bitmap.Width(), bitmap.Height()};
  const bool planar = params.RawPixelPlanar != 0;
  bool ok = false;
  switch (format) {
    case ie1g:
    case ie8p:
    case ie8g:
    case ie16g:
    case ie32f: ok = reader.Interleaved(); break;
    case ie24RGB:
      ok = planar ? reader.Planar(3) : reader.Interleaved();
      // Red first in the data: the bitmap keeps blue first.
      if (ok && params.RawPixelChannelOrder == 0)
        for (int r = 0; r < bitmap.Height(); ++r) SwapRedBlue24(bitmap.ScanLine(r), bitmap.Width());
      break;
    case ieCMYK: ok = planar ? reader.Planar(4) : reader.Interleaved(); break;
    case ieRGB48:
      ok = planar ? reader.Planar(3) : reader.Interleaved();
      // The bitmap's words are red, green, blue already: only blue-first data turns.
      if (ok && params.RawPixelChannelOrder == 1)
        for (int r = 0; r < bitmap.Height(); ++r) SwapRedBlue48(bitmap.ScanLine(r), bitmap.Width());
      break;
    default:
      // No layout of raw data is defined for the other formats.
      progress.Refuse("a pixel format without a raw layout");
      break;
  }
}

}  // namespace

void ReadRawPixelStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  try {
    ReadBody(stream, bitmap, params, progress);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

// ---- the format ----

namespace {

void ReadRawPixelFormat(TIEFormatReadArgs& a) { ReadRawPixelStream(a.Stream, *a.Bitmap, a.Params, a.Progress); }

}  // namespace

TIEFormatDescriptor RawPixelFormat() {
  return {
      .FileType = ioBMPRAW,
      .FullName = "Raw Bitmap",
      .Access = ieaReadWrite,
      .Read = ReadRawPixelFormat,
      .LoadOptions = {ielResetMetadata},
      .LoadOpenFailure = ieofKeepFlag,
  };
}
