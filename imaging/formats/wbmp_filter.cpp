#include "imaging/formats/wbmp_filter.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/streams.h"
#include "imaging/io/format_descriptor.h"

namespace {

// Four groups of seven bits hold any size a picture can have here.
constexpr int kMaxIntBytes = 4;

void ReadBody(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
              bool paramsOnly) {
  const int32_t type = ReadWBMPMultiByteInt(stream);
  const int32_t fixedHeader = ReadWBMPMultiByteInt(stream);
  const int32_t width = ReadWBMPMultiByteInt(stream);
  const int32_t height = ReadWBMPMultiByteInt(stream);
  if (type < 0 || fixedHeader < 0 || width < 0 || height < 0)
    return progress.Refuse("a header number cut short or longer than four bytes");
  if (type != 0) return progress.Refuse("a type other than 0");
  if (fixedHeader != 0) return progress.Refuse("extension headers, which are not read");
  if (width == 0 || height == 0) return progress.Refuse("a side of zero");

  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  params.Width = params.StoredWidth = width;
  params.Height = params.StoredHeight = height;
  params.SetDpiX(gDefaultDPIX);
  params.SetDpiY(gDefaultDPIY);
  params.FreePalette();
  if (paramsOnly) return;

  const int64_t rowBytes = (int64_t(width) + 7) / 8;
  if (!DataCanFill(rowBytes * height, stream.Size() - stream.Position())) return progress.Refuse(kRefusedUnfilled);
  if (!bitmap.Allocate(width, height, ie1g)) return progress.Refuse(kRefusedNoMemory);
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  for (int r = 0; r < height; ++r) {
    if (stream.Read(bitmap.ScanLine(r), rowBytes) != rowBytes) {
      // The rows read stay; the rest of the picture is cleared.
      ClearBitmapRows(bitmap, r, height);
      return progress.Refuse(kRefusedRowsCut);
    }
    rp.Row(r);
    if (progress.Aborted()) return;
  }
}

void WriteBody(TStream& stream, TIEBitmap& source, TProgressRecord& progress) {
  if (source.IsEmpty() || source.Width() <= 0 || source.Height() <= 0) return progress.Abort();
  TIEBitmap* work = &source;
  std::unique_ptr<TIEBitmap> copy;
  if (source.PixelFormat() != ie1g) {
    copy = TIEBitmap::CreateCopy(source);
    copy->SetPixelFormat(ie1g);
    if (copy->PixelFormat() != ie1g) return progress.Abort();
    work = copy.get();
  }
  const int width = work->Width(), height = work->Height();
  uint8_t header[2 + 2 * 5] = {0, 0};
  int n = 2;
  n += WBMPMultiByteInt(uint32_t(width), header + n);
  n += WBMPMultiByteInt(uint32_t(height), header + n);
  TFilterWriter w{stream, progress};
  w.Put(header, n);
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  const int64_t rowBytes = (int64_t(width) + 7) / 8;
  for (int r = 0; r < height && !progress.Aborted(); ++r) {
    w.Put(work->ScanLine(r), rowBytes);
    rp.Row(r);
  }
}

}  // namespace

int32_t ReadWBMPMultiByteInt(TStream& stream) {
  int32_t value = 0;
  for (int i = 0; i < kMaxIntBytes; ++i) {
    uint8_t b = 0;
    if (stream.Read(&b, 1) != 1) return -1;
    value = value * 128 + (b & 0x7F);
    if ((b & 0x80) == 0) return value;
  }
  return -1;
}

int WBMPMultiByteInt(uint32_t value, uint8_t out[5]) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = uint8_t(value & 0x7F);
    value >>= 7;
  } while (value != 0 && n < 5);
  for (int i = 0; i < n; ++i) out[i] = uint8_t(groups[n - 1 - i] | (i + 1 < n ? 0x80 : 0));
  return n;
}

void ReadWBMPStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress,
                    bool paramsOnly) {
  try {
    ReadBody(stream, bitmap, params, progress, paramsOnly);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WriteWBMPStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals&, TProgressRecord& progress) {
  try {
    WriteBody(stream, bitmap, progress);
  } catch (...) {
    progress.Abort();
  }
}

// ---- the format ----

namespace {

void ReadWBMPFormat(TIEFormatReadArgs& a) { ReadWBMPStream(a.Stream, *a.Bitmap, a.Params, a.Progress, a.ParamsOnly); }

void WriteWBMPFormat(TIEFormatWriteArgs& a) { WriteWBMPStream(a.Stream, a.Bitmap, a.Params, a.Progress); }

}  // namespace

TIEFormatDescriptor WBMPFormat() {
  return {
      .FileType = ioWBMP,
      .FullName = "Wireless Bitmap",
      .Suffixes = "WBMP",
      .Access = ieaReadWrite,
      .Read = ReadWBMPFormat,
      .ReadParams = ReadWBMPFormat,
      .Write = WriteWBMPFormat,
      .LoadOptions = {ielFixDPI, ielResetMetadata},
      .SaveOptions = {iesConvert24},
      .SaveOrder = 130,
      .SaveSuffixes = "WBMP",
  };
}
