#include "imaging/formats/pcx_filter.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/core/ie_bilevel.h"
#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_quantizer.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "pictures/pcx/pcx_image.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/streams.h"
#include "imaging/io/format_descriptor.h"

namespace {

constexpr int kHeaderSize = 128;
constexpr int kEndPaletteSize = 768;
// A run byte repeats its value at most 63 times.
constexpr int kMaxRun = 63;

// The plane layouts the reader decodes.
enum TPCXLayout { plOther, pl1Bit, pl4Bit, pl8Bit, pl16Planes, pl24Bit };

TPCXLayout LayoutOf(const TPCXHeader& h) {
  if (h.Planes == 1 && h.BitsPerPixel == 1) return pl1Bit;
  if (h.Planes == 1 && h.BitsPerPixel == 4) return pl4Bit;
  if (h.Planes == 1 && h.BitsPerPixel == 8) return pl8Bit;
  if (h.Planes == 4 && h.BitsPerPixel == 1) return pl16Planes;
  if (h.Planes == 3 && h.BitsPerPixel == 8) return pl24Bit;
  return plOther;
}

// Lines of bytes from the picture's data, stored or run-length coded. A run
// may cross the end of a line (and of a plane): what it still owes is kept for
// the next line.
struct TPCXLineDecoder {
  const uint8_t* data;
  int64_t size;
  bool coded;
  int64_t pos = 0;
  int pendingCount = 0;
  uint8_t pendingValue = 0;

  // Fills count bytes; false when the data ends first.
  bool Line(uint8_t* out, int64_t count) {
    if (!coded) {
      if (size - pos < count) return false;
      std::memcpy(out, data + pos, size_t(count));
      pos += count;
      return true;
    }
    int64_t k = 0;
    while (k < count) {
      if (pendingCount > 0) {
        const int64_t n = std::min<int64_t>(pendingCount, count - k);
        std::memset(out + k, pendingValue, size_t(n));
        k += n;
        pendingCount -= int(n);
        continue;
      }
      if (pos >= size) return false;
      const uint8_t b = data[pos++];
      if (b < 0xC0) {
        out[k++] = b;
        continue;
      }
      if (pos >= size) return false;
      pendingCount = b - 0xC0;
      pendingValue = data[pos++];
    }
    return true;
  }
};

TRGB PaletteEntry(const uint8_t* rgb, int index) { return MakeRGB(rgb[3 * index], rgb[3 * index + 1], rgb[3 * index + 2]); }

void SetPalette(TIOParamsVals& params, const uint8_t* rgb, int count) {
  params.FreePalette();
  params.Palette.resize(size_t(count));
  for (int i = 0; i < count; ++i) params.Palette[size_t(i)] = PaletteEntry(rgb, i);
  params.PaletteCount = count;
}

// The 256-colour palette that ends 8-bit pictures, when the data holds one;
// a grey ramp otherwise.
void ReadEndPalette(TStream& stream, int64_t start, int64_t size, uint8_t out[kEndPaletteSize]) {
  for (int i = 0; i < 256; ++i) out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = uint8_t(i);
  if (size - kHeaderSize < kEndPaletteSize) return;
  stream.SetPosition(start + size - kEndPaletteSize);
  uint8_t buffer[kEndPaletteSize];
  if (stream.Read(buffer, kEndPaletteSize) == kEndPaletteSize) std::memcpy(out, buffer, kEndPaletteSize);
}

void DecodeRow(TPCXLayout layout, const uint8_t* line, int bytesPerLine, int width, const uint8_t* header16,
               const uint8_t* palette256, uint8_t* row) {
  switch (layout) {
    case pl1Bit: std::memcpy(row, line, size_t((width + 7) / 8)); break;
    case pl8Bit:
      for (int x = 0; x < width; ++x) {
        const uint8_t* c = palette256 + 3 * line[x];
        row[3 * x] = c[2], row[3 * x + 1] = c[1], row[3 * x + 2] = c[0];
      }
      break;
    case pl4Bit:
      for (int x = 0; x < width; ++x) {
        const uint8_t* c = header16 + 3 * ((x & 1) ? line[x / 2] & 0x0F : line[x / 2] >> 4);
        row[3 * x] = c[2], row[3 * x + 1] = c[1], row[3 * x + 2] = c[0];
      }
      break;
    case pl24Bit:
      for (int x = 0; x < width; ++x) {
        row[3 * x + 2] = line[x];
        row[3 * x + 1] = line[bytesPerLine + x];
        row[3 * x] = line[2 * bytesPerLine + x];
      }
      break;
    case pl16Planes:
      for (int x = 0; x < width; ++x) {
        const uint8_t mask = kIEBitMask[x & 7];
        int index = 0;
        for (int p = 0; p < 4; ++p)
          if (line[p * bytesPerLine + x / 8] & mask) index |= 1 << p;
        const uint8_t* c = header16 + 3 * index;
        row[3 * x] = c[2], row[3 * x + 1] = c[1], row[3 * x + 2] = c[0];
      }
      break;
    case plOther: break;
  }
}

void ReadBody(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly, TProgressRecord& progress,
              int64_t size) {
  const int64_t start = stream.Position();
  size = std::min(size, stream.Size() - start);
  uint8_t raw[kHeaderSize];
  if (size < kHeaderSize || stream.Read(raw, kHeaderSize) != kHeaderSize)
    return progress.Refuse("the header is cut short");
  TPCXHeader h;
  DecodePCXHeader(raw, h);
  if (h.Manufacturer != 10) return progress.Refuse("the manufacturer byte is not 10");
  if (h.BitsPerPixel > 8) return progress.Refuse("more than 8 bits a plane");
  if (h.Encoding > 1) return progress.Refuse("an encoding other than 0 or 1");
  // An upside-down window has no pixels, and lines shorter than their pixels
  // would be read past their end.
  if (h.XMax < h.XMin || h.YMax < h.YMin) return progress.Refuse("the window is upside down");
  if (h.Planes == 0 || h.BitsPerPixel == 0) return progress.Refuse("no planes or no bits");
  const int width = int(h.XMax) - h.XMin + 1, height = int(h.YMax) - h.YMin + 1;
  if (int64_t(h.BytesPerLine) * 8 < int64_t(width) * h.BitsPerPixel)
    return progress.Refuse("rows wider than their bytes per line");

  params.SetImageCount(1);
  if (h.HDpi == 0 || h.VDpi == 0) {
    params.SetDpiX(gDefaultDPIX);
    params.SetDpiY(gDefaultDPIY);
  } else {
    params.SetDpiX(h.HDpi);
    params.SetDpiY(h.VDpi);
  }
  uint8_t palette256[kEndPaletteSize];
  const bool endPalette = h.Planes == 1 && h.BitsPerPixel > 4;
  if (endPalette) {
    ReadEndPalette(stream, start, size, palette256);
    stream.SetPosition(start + kHeaderSize);
  }
  params.BitsPerSample = h.BitsPerPixel;
  params.SamplesPerPixel = h.Planes;
  params.Width = params.StoredWidth = width;
  params.Height = params.StoredHeight = height;
  params.PcxVersion = h.Version;
  params.FreePalette();
  if (endPalette) {
    SetPalette(params, palette256, 256);
  } else if (h.BitsPerPixel == 1 && h.Planes == 4) {
    SetPalette(params, h.ColorMap, 16);
    params.BitsPerSample = 4;
    params.SamplesPerPixel = 1;
  } else if (h.BitsPerPixel < 8) {
    SetPalette(params, h.ColorMap, std::min(16, 1 << h.BitsPerPixel));
  }
  if (paramsOnly) return;

  const TPCXLayout layout = LayoutOf(h);
  if (layout == plOther) return progress.Refuse("a plane layout that is not read");
  const int64_t lineBytes = int64_t(h.BytesPerLine) * h.Planes;
  std::vector<uint8_t> data(size_t(size - kHeaderSize));
  if (stream.Read(data.data(), int64_t(data.size())) != int64_t(data.size()))
    return progress.Refuse(kRefusedStreamFailed);
  if (!DataCanFill(lineBytes * height, int64_t(data.size()), h.Encoding == 1 ? kMaxRun : 1))
    return progress.Refuse(kRefusedUnfilled);
  if (!bitmap.Allocate(width, height, layout == pl1Bit ? ie1g : ie24RGB)) return progress.Refuse(kRefusedNoMemory);

  std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
  TPCXLineDecoder decoder{data.data(), int64_t(data.size()), h.Encoding == 1};
  progress.Step = 100.0 / height;
  TFilterRowProgress rp{progress};
  for (int y = 0; y < height; ++y) {
    rp.Row(y);
    if (progress.Aborted()) return ClearBitmapRows(bitmap, y, height);
    if (!decoder.Line(line.data(), lineBytes)) {
      // The rows read stay; the rest of the picture is cleared.
      ClearBitmapRows(bitmap, y, height);
      return progress.Refuse(kRefusedRowsCut);
    }
    DecodeRow(layout, line.data(), h.BytesPerLine, width, h.ColorMap, palette256, bitmap.ScanLine(y));
  }
}

// ---- writing ----

// The darker of two colours first.
int Grey(TRGB c) { return 21 * c.r + 71 * c.g + 8 * c.b; }

void WriteBody(TStream& stream, TIEBitmap& source, TIOParamsVals& params, TProgressRecord& progress) {
  if (source.IsEmpty() || source.Width() > 65536 || source.Height() > 65536) return progress.Abort();
  const int samples = std::min(params.SamplesPerPixel, 3);
  std::unique_ptr<TIEBitmap> copy;
  TIEBitmap* work = &source;
  int totalBits;
  TRGB c1 = MakeRGB(0, 0, 0), c2 = MakeRGB(255, 255, 255);
  if (params.BitsPerSample == 1) {
    totalBits = 1;
    if (source.PixelFormat() != ie1g) {
      copy = ConvertTwoColorTo1Bit(source, c1, c2);
      if (!copy) {
        copy = std::make_unique<TIEBitmap>(source.Width(), source.Height(), ie1g);
        copy->ConvertFrom(source);
      }
      work = copy.get();
    }
    if (Grey(c2) < Grey(c1)) std::swap(c1, c2);
  } else {
    totalBits = params.BitsPerSample * samples;
    // Only these forms exist in PCX; a header for another would describe no
    // picture, so nothing is written.
    if (totalBits != 4 && totalBits != 8 && totalBits != 24) return progress.Abort();
    if (source.PixelFormat() != ie24RGB) {
      copy = std::make_unique<TIEBitmap>(source.Width(), source.Height(), ie24RGB);
      copy->ConvertFrom(source);
      work = copy.get();
    }
  }
  if (work->IsEmpty()) return progress.Abort();
  const int width = work->Width(), height = work->Height();

  TPCXHeader h{};
  h.Manufacturer = 10;
  h.Version = uint8_t(params.PcxVersion);
  h.Encoding = params.PcxCompression ? 1 : 0;
  h.XMax = uint16_t(width - 1);
  h.YMax = uint16_t(height - 1);
  // A picture that never had a resolution is written with the library's default.
  h.HDpi = uint16_t(params.DpiX > 0 ? params.DpiX : gDefaultDPIX);
  h.VDpi = uint16_t(params.DpiY > 0 ? params.DpiY : gDefaultDPIY);
  h.PaletteInfo = 1;
  std::unique_ptr<TIEQuantizer> quantizer;
  std::vector<TRGB> palette;
  int bytesPerLine = width;
  switch (totalBits) {
    case 1:
      h.BitsPerPixel = 1, h.Planes = 1, bytesPerLine = (width + 7) / 8;
      h.ColorMap[0] = c1.r, h.ColorMap[1] = c1.g, h.ColorMap[2] = c1.b;
      h.ColorMap[3] = c2.r, h.ColorMap[4] = c2.g, h.ColorMap[5] = c2.b;
      break;
    case 4:
      h.BitsPerPixel = 4, h.Planes = 1, bytesPerLine = (width + 1) / 2;
      palette.resize(16);
      quantizer = std::make_unique<TIEQuantizer>(*work, 16, palette.data());
      for (int i = 0; i < 16; ++i)
        h.ColorMap[3 * i] = palette[size_t(i)].r, h.ColorMap[3 * i + 1] = palette[size_t(i)].g,
                      h.ColorMap[3 * i + 2] = palette[size_t(i)].b;
      break;
    case 8:
      h.BitsPerPixel = 8, h.Planes = 1;
      palette.resize(256);
      quantizer = std::make_unique<TIEQuantizer>(*work, 256, palette.data());
      break;
    default: h.BitsPerPixel = 8, h.Planes = 3, h.PaletteInfo = 0; break;
  }
  bytesPerLine += bytesPerLine & 1;
  h.BytesPerLine = uint16_t(bytesPerLine);
  uint8_t raw[kHeaderSize];
  EncodePCXHeader(h, raw);
  TFilterWriter w{stream, progress};
  w.Put(raw, kHeaderSize);

  // One plane line of the row in file form, raw bytes-per-line long.
  std::vector<uint8_t> plane(size_t(bytesPerLine) + 1, 0);
  std::vector<uint8_t> coded(size_t(2 * bytesPerLine + 2));
  auto putLine = [&](const uint8_t* bytes, int count, int stride, int offset) {
    if (h.Encoding == 1) {
      w.Put(coded.data(), EncodePCXLine(coded.data(), bytes, count, stride, offset));
      return;
    }
    std::fill(plane.begin(), plane.end(), 0);
    for (int i = 0; i < count; ++i) plane[size_t(i)] = bytes[int64_t(i) * stride + offset];
    w.Put(plane.data(), bytesPerLine);
  };
  std::vector<uint8_t> indices(size_t(bytesPerLine) + 1, 0);
  progress.Step = 100.0 / height;
  for (int y = 0; y < height && !progress.Aborted(); ++y) {
    progress.Report(int(y * 100 / height));
    const uint8_t* row = work->ScanLine(y);
    switch (totalBits) {
      case 1: putLine(row, (width + 7) / 8, 1, 0); break;
      case 4: {
        std::fill(indices.begin(), indices.end(), 0);
        for (int x = 0; x < width; ++x) {
          const int index = quantizer->GetIndex(reinterpret_cast<const TRGB*>(row)[x]) & 0x0F;
          indices[size_t(x / 2)] |= uint8_t((x & 1) ? index : index << 4);
        }
        putLine(indices.data(), (width + 1) / 2, 1, 0);
        break;
      }
      case 8:
        for (int x = 0; x < width; ++x)
          indices[size_t(x)] = uint8_t(quantizer->GetIndex(reinterpret_cast<const TRGB*>(row)[x]));
        putLine(indices.data(), width, 1, 0);
        break;
      default:
        for (int k = 0; k < 3; ++k) putLine(row, width, 3, 2 - k);
        break;
    }
  }
  if (totalBits == 8 && !progress.Aborted()) {
    uint8_t end[1 + kEndPaletteSize];
    end[0] = 12;
    for (int i = 0; i < 256; ++i)
      end[1 + 3 * i] = palette[size_t(i)].r, end[2 + 3 * i] = palette[size_t(i)].g,
                  end[3 + 3 * i] = palette[size_t(i)].b;
    w.Put(end, sizeof end);
  }
}

}  // namespace

int EncodePCXLine(uint8_t* destination, const uint8_t* source, int count, int stride, int offset) {
  int out = 0;
  auto at = [&](int i) { return source[int64_t(i) * stride + offset]; };
  for (int i = 0; i < count;) {
    const uint8_t b = at(i);
    int run = 1;
    while (i + run < count && run < kMaxRun && at(i + run) == b) ++run;
    if (run > 1 || b >= 0xC0) destination[out++] = uint8_t(0xC0 + run);
    destination[out++] = b;
    i += run;
  }
  if (count & 1) destination[out++] = 0;
  return out;
}

void ReadPCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress, int64_t size) {
  try {
    ReadBody(stream, bitmap, params, paramsOnly, progress, size);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WritePCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  try {
    WriteBody(stream, bitmap, params, progress);
  } catch (...) {
    progress.Abort();
  }
}

// ---- DCX ----
// Page offsets count from the first byte of the DCX, which is the start of
// the stream for a file and the position of the DCX inside a larger stream.

namespace {

// The magic at the position and every page inside the stream; the table is
// read. Null when it is sound, else why it is refused.
const char* ReadDCXTable(TStream& stream, std::vector<uint32_t>& offsets) {
  const int64_t start = stream.Position();
  uint8_t b[4];
  if (stream.Read(b, 4) != 4 || ReadLE32(b) != kDCXMagic) return "the DCX magic is missing";
  offsets = ReadDCXPageTable(stream);
  for (uint32_t offset : offsets)
    if (start + offset >= stream.Size()) return "a DCX page lies past the end";
  return nullptr;
}

void ReadDCXBody(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                 TProgressRecord& progress) {
  const int64_t start = stream.Position();
  std::vector<uint32_t> offsets;
  if (const char* refusal = ReadDCXTable(stream, offsets)) return progress.Refuse(refusal);
  // A DCX without pages has no picture to give.
  if (offsets.empty()) return progress.Refuse("a DCX without pages");
  const std::vector<int64_t> sizes = GetDCXPageSizes(stream, offsets, start);
  const int index = std::clamp(params.DcxImageIndex, 0, int(offsets.size()) - 1);
  params.SetImageIndex(index);
  stream.SetPosition(start + offsets[size_t(index)]);
  ReadPCXStream(stream, bitmap, params, paramsOnly, progress, sizes[size_t(index)]);
  params.SetImageCount(int(offsets.size()));
}

void WriteDCXBody(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  const int64_t start = stream.Position();
  std::vector<uint32_t> offsets;
  std::vector<int64_t> sizes;
  if (stream.Size() > start) {
    if (ReadDCXTable(stream, offsets)) return progress.Abort();
    sizes = GetDCXPageSizes(stream, offsets, start);
  }
  const int count = int(offsets.size());
  // The table holds at most kDCXMaxPages offsets and its ending 0.
  if (count >= kDCXMaxPages) return progress.Abort();
  // A page asked past the pages there are goes last, not nowhere.
  const int insertAt = std::clamp(params.DcxImageIndex, 0, count);
  TMemoryStream out;
  // The magic, an offset for every page (the new one too) and the ending 0.
  std::vector<uint8_t> table(size_t(4 * (count + 3)), 0);
  WriteLE32(table.data(), kDCXMagic);
  out.WriteBuffer(table.data(), int64_t(table.size()));
  std::vector<uint32_t> newOffsets;
  for (int k = 0;; ++k) {
    if (k == insertAt) {
      newOffsets.push_back(uint32_t(out.Position()));
      WritePCXStream(out, bitmap, params, progress);
      if (progress.Aborted()) return;
    }
    if (k >= count) break;
    newOffsets.push_back(uint32_t(out.Position()));
    stream.SetPosition(start + offsets[size_t(k)]);
    if (CopyStream(out, stream, sizes[size_t(k)]) != sizes[size_t(k)]) return progress.Abort();
  }
  for (size_t i = 0; i < newOffsets.size(); ++i) WriteLE32(table.data() + 4 * (i + 1), newOffsets[i]);
  out.SetPosition(0);
  out.WriteBuffer(table.data(), int64_t(table.size()));
  stream.SetSize(start);
  stream.SetPosition(start);
  TFilterWriter w{stream, progress};
  w.Put(out.Memory(), out.Size());
}

}  // namespace

bool IsDCXStream(TStream& stream) {
  const int64_t start = stream.Position();
  std::vector<uint32_t> offsets;
  bool ok = false;
  try {
    ok = ReadDCXTable(stream, offsets) == nullptr;
  } catch (...) {
  }
  stream.SetPosition(start);
  return ok;
}

std::vector<uint32_t> ReadDCXPageTable(TStream& stream) {
  std::vector<uint32_t> offsets;
  uint8_t b[4];
  while (int(offsets.size()) < kDCXMaxPages && stream.Read(b, 4) == 4) {
    const uint32_t offset = ReadLE32(b);
    if (offset == 0) break;
    offsets.push_back(offset);
  }
  return offsets;
}

std::vector<int64_t> GetDCXPageSizes(TStream& stream, const std::vector<uint32_t>& offsets, int64_t start) {
  const int64_t end = stream.Size() - start;
  std::vector<int64_t> sizes;
  for (uint32_t offset : offsets) {
    int64_t next = end;
    for (uint32_t other : offsets)
      if (other > offset && other < next) next = other;
    sizes.push_back(std::max<int64_t>(0, next - offset));
  }
  return sizes;
}

void ReadDCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool paramsOnly,
                   TProgressRecord& progress) {
  try {
    ReadDCXBody(stream, bitmap, params, paramsOnly, progress);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

void WriteDCXStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRecord& progress) {
  try {
    WriteDCXBody(stream, bitmap, params, progress);
  } catch (...) {
    progress.Abort();
  }
}

// ---- the formats ----

namespace {

void ReadPCXFormat(TIEFormatReadArgs& a) {
  ReadPCXStream(a.Stream, *a.Bitmap, a.Params, a.ParamsOnly, a.Progress, a.Size);
}

void WritePCXFormat(TIEFormatWriteArgs& a) { WritePCXStream(a.Stream, a.Bitmap, a.Params, a.Progress); }

void ReadDCXFormat(TIEFormatReadArgs& a) { ReadDCXStream(a.Stream, *a.Bitmap, a.Params, a.ParamsOnly, a.Progress); }

void WriteDCXFormat(TIEFormatWriteArgs& a) { WriteDCXStream(a.Stream, a.Bitmap, a.Params, a.Progress); }

}  // namespace

TIEFormatDescriptor PCXFormat() {
  return {
      .FileType = ioPCX,
      .FullName = "PaintBrush",
      .Suffixes = "PCX",
      .Access = ieaReadWrite,
      .DialogPage = iedpPCX,
      .Read = ReadPCXFormat,
      .ReadParams = ReadPCXFormat,
      .Write = WritePCXFormat,
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOptions = {iesConvert24},
      .SaveOrder = 40,
      .SaveSuffixes = "PCX",
      .StreamTag = "PCX2",
      .ShortStreamTag = "PCX",
  };
}

TIEFormatDescriptor DCXFormat() {
  return {
      .FileType = ioDCX,
      .FullName = "Multipage PCX",
      .Suffixes = "DCX",
      .Access = ieaReadWrite,
      .Probe = IsDCXStream,
      .ProbeOrder = 110,
      .Read = ReadDCXFormat,
      .ReadParams = ReadDCXFormat,
      .Write = WriteDCXFormat,
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOptions = {iesTruncateStream},
      .SaveOpenFailure = ieofAbortQuietly,
      .SaveOrder = 50,
      .SaveSuffixes = "DCX",
  };
}
