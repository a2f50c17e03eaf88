#include "imaging/formats/psd_filter.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/io/jpeg_markers.h"
#include "pictures/psd/psd_image.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/streams.h"
#include "imaging/io/ie_filters.h"

namespace {

constexpr int kHeaderSize = 26;
// The largest side a version 1 document may have.
constexpr int64_t kMaxSide = 30000;
// A PackBits pair gives at most 128 bytes.
constexpr int kPackBitsFactor = 128;
constexpr int kThumbnailHeader = 28;

enum : uint16_t {
  resResolution = 1005,
  resIPTC = 1028,
  resThumbnail = 1036,
  resICC = 1039,
  resTransparencyIndex = 1047,
  resXMP = 1060
};

// ---- reading ----

// Thrown inside the reader when the data ends early or is not what it says;
// caught at the filter's edge and turned into the abort flag and its reason.
struct TPSDStop {
  const char* reason;
};
constexpr const char* kPsdCut = "the data ends early";
constexpr const char* kLayerCut = "a layer record runs past its section";

int64_t Remaining(TStream& s) { return s.Size() - s.Position(); }

void ReadExact(TStream& s, void* buffer, int64_t count) {
  if (count < 0 || s.Read(buffer, count) != count) throw TPSDStop{kPsdCut};
}
uint8_t ReadU8(TStream& s) {
  uint8_t b;
  ReadExact(s, &b, 1);
  return b;
}
uint16_t ReadU16(TStream& s) {
  uint8_t b[2];
  ReadExact(s, b, 2);
  return ReadBE16(b);
}
uint32_t ReadU32(TStream& s) {
  uint8_t b[4];
  ReadExact(s, b, 4);
  return ReadBE32(b);
}
int32_t ReadI32(TStream& s) { return int32_t(ReadU32(s)); }

bool HeaderIsGood(const TPSDFileHeader& h) {
  return std::memcmp(h.Signature, "8BPS", 4) == 0 && h.Version == 1 && h.Channels >= 1 && h.Channels <= 24 &&
         h.Depth >= 1 && h.Depth <= 16 && h.Mode < 10;
}

int64_t ChannelRowBytes(int width, int depth) {
  return depth == 1 ? (int64_t(width) + 7) / 8 : int64_t(width) * (depth == 16 ? 2 : 1);
}

// The bitmap format a document of this mode and depth reads into (ieNoFormat: none).
TIEBitmapFormat ReadFormat(int mode, int depth) {
  if (depth == 1) return mode == psdModeBitmap ? ie1g : ieNoFormat;
  if (depth == 8) {
    switch (mode) {
      case psdModeGray:
      case psdModeMultichannel:
      case psdModeDuotone: return ie8g;
      case psdModeIndexed: return ie8p;
      case psdModeRGB: return ie24RGB;
      case psdModeCMYK: return ieCMYK;
      case psdModeLab: return ieCIELab;
      default: return ieNoFormat;
    }
  }
  if (depth == 16) {
    switch (mode) {
      case psdModeGray:
      case psdModeDuotone: return ie16g;
      case psdModeRGB: return ieRGB48;
      case psdModeCMYK: return ieCMYK;
      case psdModeLab: return ieCIELab;
      default: return ieNoFormat;
    }
  }
  return ieNoFormat;
}

// Colour channels of a format as the file stores them.
int ColourChannels(TIEBitmapFormat f) {
  switch (f) {
    case ie24RGB:
    case ieRGB48:
    case ieCIELab: return 3;
    case ieCMYK: return 4;
    default: return 1;
  }
}

// Rows of one channel (or, for the merged image, of all channels in turn):
// the compression word and, for PackBits, the byte count of every row.
struct TPSDRows {
  TStream& stream;
  int compression = 0;
  std::vector<uint16_t> counts{};
  size_t next = 0;
  std::vector<uint8_t> packed{};

  // Reads the next row into row (rowBytes bytes); false when the data ends first.
  bool Row(uint8_t* row, int64_t rowBytes) {
    if (compression == 0) return stream.Read(row, rowBytes) == rowBytes;
    if (next >= counts.size()) return false;
    const uint16_t n = counts[next++];
    packed.resize(n);
    if (stream.Read(packed.data(), n) != n) return false;
    // Runs and literals stop at the row's end; what the row lacks stays 0.
    std::memset(row, 0, size_t(rowBytes));
    TPackbitsRLE::Unpack(packed.data(), n, row, rowBytes);
    return true;
  }
};

// Opens rows rows of rowBytes each within limit bytes from the position; false
// (nothing allocated) for a compression not read or data that cannot fill them.
// Null when the rows can be read, else why not.
const char* OpenRows(TPSDRows& rows, int64_t count, int64_t rowBytes, int64_t limit) {
  if (limit < 2) return kPsdCut;
  rows.compression = ReadU16(rows.stream);
  limit -= 2;
  if (rows.compression == 0) return DataCanFill(count * rowBytes, limit) ? nullptr : kRefusedUnfilled;
  if (rows.compression != 1) return "a compression that is not read";
  if (count * 2 > limit) return "the row lengths run past the end";
  rows.counts.resize(size_t(count));
  for (auto& c : rows.counts) c = ReadU16(rows.stream);
  return DataCanFill(count * rowBytes, limit - count * 2, kPackBitsFactor) ? nullptr : kRefusedUnfilled;
}

struct TPSDReader {
  TStream& stream;
  TIOParamsVals& params;
  TIEBitmap* bitmap;  // the working bitmap: the target, or a temporary one beside a framework bitmap
  TPSDLayerList* layers;
  bool loadLayers;
  TProgressRecord& progress;
  TPSDFileHeader header{};
  std::vector<uint8_t> palette{};  // 768 bytes: reds, greens, blues; empty for none
  int transparencyIndex = -1;
  bool thumbnailTaken = false;
  bool iccRead = false;
  bool mergedRead = false;
  TIEBitmapFormat format = ieNoFormat;

  void Read();
  void ReadResources();
  void HandleResource(uint16_t id, const std::vector<uint8_t>& data);
  void ReadLayers();
  void ReadMerged();
  void PrepareBitmap(TIEBitmap& b, int width, int height);
  // Reads one channel's rows into b (allocated by PrepareBitmap); false when the data ended early.
  bool ReadChannel(TIEBitmap& b, int id, TPSDRows& rows);
  void ToDisplayFormat(TIEBitmap& b);
};

void TPSDReader::Read() {
  progress.Report(0);
  uint8_t raw[kHeaderSize];
  ReadExact(stream, raw, kHeaderSize);
  DecodePSDFileHeader(raw, header);
  if (!HeaderIsGood(header)) throw TPSDStop{"a header field outside what the reader takes"};
  if (header.Width == 0 || header.Height == 0 || header.Width > kMaxSide || header.Height > kMaxSide)
    throw TPSDStop{"a side of zero or above the limit"};
  format = ReadFormat(header.Mode, header.Depth);

  params.SetImageCount(1);
  params.Width = params.StoredWidth = int(header.Width);
  params.Height = params.StoredHeight = int(header.Height);
  params.BitsPerSample = header.Depth;
  params.SamplesPerPixel = header.Channels;
  params.SetDpiX(gDefaultDPIX);
  params.SetDpiY(gDefaultDPIY);

  const uint32_t modeData = ReadU32(stream);
  if (modeData > Remaining(stream)) throw TPSDStop{"the colour mode data runs past the end"};
  if (modeData == 768) {
    palette.resize(768);
    ReadExact(stream, palette.data(), 768);
  } else {
    stream.Seek(modeData, soCurrent);
  }
  ReadResources();
  ReadLayers();
  const bool haveLayers = layers && !layers->empty();
  if (bitmap && !(loadLayers && haveLayers) && !(params.GetThumbnail && thumbnailTaken)) ReadMerged();

  if (!params.NativePixelFormat) {
    if (layers)
      for (TPSDLayerRecord& l : *layers)
        if (!l.IsMask && l.Bitmap) ToDisplayFormat(*l.Bitmap);
    if (bitmap && mergedRead) ToDisplayFormat(*bitmap);
  }
}

void TPSDReader::ReadResources() {
  const uint32_t length = ReadU32(stream);
  if (length > Remaining(stream)) throw TPSDStop{"the image resources run past the end"};
  const int64_t end = stream.Position() + length;
  while (stream.Position() < end) {
    if (stream.Position() & 1) stream.Seek(1, soCurrent);
    if (end - stream.Position() < 12) break;
    char signature[4];
    ReadExact(stream, signature, 4);
    if (std::memcmp(signature, "8BIM", 4) != 0) break;
    const uint16_t id = ReadU16(stream);
    const uint8_t nameLength = ReadU8(stream);
    // The name and its length byte take an even number of bytes.
    stream.Seek(nameLength + ((nameLength & 1) ? 0 : 1), soCurrent);
    if (end - stream.Position() < 4) break;
    const uint32_t size = ReadU32(stream);
    if (size == 0 || size > end - stream.Position()) break;
    std::vector<uint8_t> data(size);
    ReadExact(stream, data.data(), size);
    HandleResource(id, data);
  }
  stream.SetPosition(end);
}

void TPSDReader::HandleResource(uint16_t id, const std::vector<uint8_t>& data) {
  const int64_t size = int64_t(data.size());
  switch (id) {
    case resResolution:
      if (size >= 16) {
        // 16.16 fixed point; the units do not change the number.
        const int32_t x = int32_t(ReadBE32(data.data()) / 65536), y = int32_t(ReadBE32(data.data() + 8) / 65536);
        if (x > 0) params.SetDpiX(x);
        if (y > 0) params.SetDpiY(y);
      }
      break;
    case resIPTC:
      if (!params.IptcInfo) params.IptcInfo = std::make_unique<TIEIPTCInfoList>();
      params.IptcInfo->LoadFromBuffer(data.data(), size);
      break;
    case resThumbnail: {
      if (size < kThumbnailHeader) break;
      TCustomMemoryStream jpeg(data.data() + kThumbnailHeader, size - kThumbnailHeader);
      TIOParamsVals scratch(nullptr);
      std::atomic<bool> abort{false};
      TProgressRecord thumbProgress;
      thumbProgress.AbortFlag = &abort;
      auto thumbnail = std::make_unique<TIEBitmap>();
      TJpegReadOptions options;
      options.ReadMetadata = false;
      ReadJpegStream(jpeg, nullptr, thumbnail.get(), options, thumbProgress, scratch);
      // A thumbnail that does not decode is left out; the document still reads.
      if (abort.load() || thumbnail->IsEmpty()) break;
      params.ExifThumbnail = std::move(thumbnail);
      if (params.GetThumbnail && bitmap) {
        bitmap->Assign(params.ExifThumbnail.get());
        loadLayers = false;
        thumbnailTaken = true;
      }
      break;
    }
    case resICC:
      params.GetInputICC()->LoadFromBuffer(data.data(), size);
      iccRead = true;
      break;
    case resTransparencyIndex:
      if (size >= 2) transparencyIndex = ReadBE16(data.data());
      break;
    case resXMP: params.XmpPacket.assign(reinterpret_cast<const char*>(data.data()), data.size()); break;
    default: break;
  }
}

struct TLayerHeader {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<std::pair<int16_t, uint32_t>> channels;  // id and data length
  uint8_t opacity = 255, clipping = 0, flags = 0;
  bool hasMask = false;
  int32_t maskTop = 0, maskLeft = 0, maskBottom = 0, maskRight = 0;
  std::string name;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// A rectangle this reader can allocate: sides from 0 to the format's limit.
bool RectIsGood(int32_t top, int32_t left, int32_t bottom, int32_t right) {
  const int64_t w = int64_t(right) - left, h = int64_t(bottom) - top;
  return w >= 0 && h >= 0 && w <= kMaxSide && h <= kMaxSide;
}

TLayerHeader ReadLayerRecord(TStream& s, int64_t end) {
  TLayerHeader l;
  if (end - s.Position() < 18) throw TPSDStop{kLayerCut};
  l.top = ReadI32(s), l.left = ReadI32(s), l.bottom = ReadI32(s), l.right = ReadI32(s);
  if (!RectIsGood(l.top, l.left, l.bottom, l.right)) throw TPSDStop{"a layer rectangle upside down or too large"};
  const uint16_t count = ReadU16(s);
  if (int64_t(count) * 6 + 16 > end - s.Position()) throw TPSDStop{kLayerCut};
  for (int c = 0; c < count; ++c) {
    const int16_t id = int16_t(ReadU16(s));
    l.channels.emplace_back(id, ReadU32(s));
  }
  char signature[4];
  ReadExact(s, signature, 4);
  if (std::memcmp(signature, "8BIM", 4) != 0) throw TPSDStop{"a layer blend signature other than 8BIM"};
  s.Seek(4, soCurrent);  // blend mode
  l.opacity = ReadU8(s), l.clipping = ReadU8(s), l.flags = ReadU8(s);
  s.Seek(1, soCurrent);
  const uint32_t extra = ReadU32(s);
  if (extra > end - s.Position()) throw TPSDStop{kLayerCut};
  const int64_t extraEnd = s.Position() + extra;
  auto block = [&]() {
    if (extraEnd - s.Position() < 4) throw TPSDStop{kLayerCut};
    const uint32_t n = ReadU32(s);
    if (n > extraEnd - s.Position()) throw TPSDStop{kLayerCut};
    return int64_t(n);
  };
  const int64_t maskLength = block();
  const int64_t maskEnd = s.Position() + maskLength;
  if (maskLength >= 18) {
    l.maskTop = ReadI32(s), l.maskLeft = ReadI32(s), l.maskBottom = ReadI32(s), l.maskRight = ReadI32(s);
    l.hasMask = RectIsGood(l.maskTop, l.maskLeft, l.maskBottom, l.maskRight);
  }
  s.SetPosition(maskEnd);
  s.Seek(block(), soCurrent);  // blending ranges
  if (extraEnd - s.Position() >= 1) {
    const uint8_t n = ReadU8(s);
    if (n > extraEnd - s.Position()) throw TPSDStop{kLayerCut};
    l.name.resize(n);
    ReadExact(s, l.name.data(), n);
  }
  // Additional information blocks are not read.
  s.SetPosition(extraEnd);
  return l;
}

void TPSDReader::ReadLayers() {
  const uint32_t length = ReadU32(stream);
  if (length > Remaining(stream)) throw TPSDStop{"the layer section runs past the end"};
  const int64_t sectionEnd = stream.Position() + length;
  if (length == 0) return;
  if (!(loadLayers && layers)) return stream.SetPosition(sectionEnd);
  if (length < 4) throw TPSDStop{"the layer section is shorter than its info length"};
  const uint32_t infoLength = ReadU32(stream);
  if (infoLength > sectionEnd - stream.Position()) throw TPSDStop{"the layer info runs past its section"};
  const int64_t infoEnd = stream.Position() + infoLength;
  if (infoLength < 2) return stream.SetPosition(sectionEnd);
  const int count = std::abs(int(int16_t(ReadU16(stream))));
  std::vector<TLayerHeader> headers;
  for (int i = 0; i < count; ++i) headers.push_back(ReadLayerRecord(stream, infoEnd));

  TPSDLayerList read;
  for (int i = 0; i < count; ++i) {
    const TLayerHeader& h = headers[size_t(i)];
    TPSDLayerRecord layer;
    layer.Owned = std::make_unique<TIEBitmap>();
    layer.Bitmap = layer.Owned.get();
    layer.PosX = h.left, layer.PosY = h.top;
    layer.Transparency = h.opacity;
    layer.Visible = (h.flags & 2) == 0;
    layer.Cropped = h.clipping == 0;
    layer.Name = h.name;
    TPSDLayerRecord mask;
    for (const auto& [id, dataLength] : h.channels) {
      const int64_t start = stream.Position();
      if (dataLength > infoEnd - start) throw TPSDStop{"a layer channel runs past the layer info"};
      const bool isMask = id == -2;
      const int w = isMask ? h.maskRight - h.maskLeft : h.Width(), ht = isMask ? h.maskBottom - h.maskTop : h.Height();
      TPSDRows rows{stream};
      // Channels this reader has no place for are passed over by their length.
      const bool known = isMask ? h.hasMask : (id >= -1 && id < ColourChannels(format)) || id == ColourChannels(format);
      if (known && format != ieNoFormat && w > 0 && ht > 0 &&
          OpenRows(rows, ht, ChannelRowBytes(w, header.Depth), dataLength) == nullptr) {
        if (isMask) {
          mask.Owned = std::make_unique<TIEBitmap>(w, ht, ie8g);
          mask.Bitmap = mask.Owned.get();
          mask.IsMask = true, mask.Visible = false;
          mask.PosX = h.maskLeft, mask.PosY = h.maskTop;
          mask.Name = h.name;
          if (!ReadChannel(*mask.Bitmap, -3, rows)) throw TPSDStop{kRefusedRowsCut};
        } else {
          PrepareBitmap(*layer.Bitmap, w, ht);
          if (!ReadChannel(*layer.Bitmap, id, rows)) throw TPSDStop{kRefusedRowsCut};
        }
      }
      stream.SetPosition(start + dataLength);
    }
    read.push_back(std::move(layer));
    if (mask.Bitmap) read.push_back(std::move(mask));
    progress.Report(int(int64_t(i) * 100 / count));
  }
  stream.SetPosition(sectionEnd);
  // Layers without pixels are dropped, with the mask that follows them.
  for (size_t i = 0; i < read.size(); ++i) {
    TPSDLayerRecord& l = read[i];
    if (l.IsMask) continue;
    if (l.Bitmap->IsEmpty()) {
      if (i + 1 < read.size() && read[i + 1].IsMask) read[i + 1].Bitmap = nullptr;
      l.Bitmap = nullptr;
    }
  }
  for (TPSDLayerRecord& l : read)
    if (l.Bitmap) layers->push_back(std::move(l));
}

void TPSDReader::PrepareBitmap(TIEBitmap& b, int width, int height) {
  if (!b.IsEmpty() && b.Width() == width && b.Height() == height && b.PixelFormat() == format) return;
  if (!b.Allocate(width, height, format)) throw TPSDStop{kRefusedNoMemory};
  const int64_t rowLen = b.RowLen();
  for (int y = 0; y < height; ++y) std::memset(b.ScanLine(y), 0, size_t(rowLen));
  if (format == ie8p) {
    for (int i = 0; i < 256; ++i)
      b.SetPaletteColor(i, palette.empty() ? MakeRGB(uint8_t(i), uint8_t(i), uint8_t(i))
                                           : MakeRGB(palette[size_t(i)], palette[size_t(256 + i)],
                                                     palette[size_t(512 + i)]));
  }
}

bool TPSDReader::ReadChannel(TIEBitmap& b, int id, TPSDRows& rows) {
  const int width = b.Width(), height = b.Height(), depth = header.Depth;
  const int colours = ColourChannels(format);
  const int64_t rowBytes = ChannelRowBytes(width, depth);
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  // id -3: a user mask, read as grey into its own ie8g bitmap.
  const bool alpha = id == -1 || (id == colours && id != 0);
  TIEBitmap* target = alpha ? b.AlphaChannel() : &b;
  const bool indexedAlpha = !alpha && format == ie8p && transparencyIndex >= 0 && transparencyIndex < 256;
  TIEBitmap* indexAlpha = indexedAlpha ? b.AlphaChannel() : nullptr;
  for (int y = 0; y < height; ++y) {
    if (!rows.Row(row.data(), rowBytes)) {
      // The rows read stay; the rest of the picture is cleared.
      ClearBitmapRows(b, y, height);
      return false;
    }
    uint8_t* out = target->ScanLine(y);
    const uint8_t* in = row.data();
    if (alpha || id == -3 || b.PixelFormat() == ie8g || b.PixelFormat() == ie8p) {
      if (depth == 16)
        for (int x = 0; x < width; ++x) out[x] = in[2 * x];
      else
        std::memcpy(out, in, size_t(width));
      if (indexAlpha) {
        uint8_t* a = indexAlpha->ScanLine(y);
        for (int x = 0; x < width; ++x) a[x] = in[x] == transparencyIndex ? 0 : 255;
      }
      continue;
    }
    switch (b.PixelFormat()) {
      case ie1g:
        // 1 is black in the file and white in the bitmap.
        for (int64_t i = 0; i < rowBytes; ++i) out[i] = uint8_t(~in[i]);
        break;
      case ie16g:
        for (int x = 0; x < width; ++x) reinterpret_cast<uint16_t*>(out)[x] = ReadBE16(in + 2 * x);
        break;
      case ie24RGB:
        for (int x = 0; x < width; ++x) out[3 * x + 2 - id] = in[x];
        break;
      case ieRGB48:
        for (int x = 0; x < width; ++x) reinterpret_cast<uint16_t*>(out)[3 * x + id] = ReadBE16(in + 2 * x);
        break;
      case ieCMYK:
        for (int x = 0; x < width; ++x) out[4 * x + id] = in[depth == 16 ? 2 * x : x];
        break;
      case ieCIELab:
        for (int x = 0; x < width; ++x) {
          const uint8_t v = in[depth == 16 ? 2 * x : x];
          out[3 * x + id] = id == 0 ? v : uint8_t(v - 128);
        }
        break;
      default: break;
    }
  }
  return true;
}

void TPSDReader::ReadMerged() {
  if (format == ieNoFormat) throw TPSDStop{"a colour mode and depth that are not read"};
  const int width = int(header.Width), height = int(header.Height);
  const int colours = ColourChannels(format);
  // Colour channels and one alpha channel are read; more are extra channels.
  const int channels = std::min<int>(header.Channels, colours + (format == ie1g ? 0 : 1));
  if (header.Channels < colours) throw TPSDStop{"fewer channels than the colour mode has"};
  const int64_t rowBytes = ChannelRowBytes(width, header.Depth);
  TPSDRows rows{stream};
  if (const char* refusal = OpenRows(rows, int64_t(height) * header.Channels, rowBytes, Remaining(stream)))
    throw TPSDStop{refusal};
  bitmap->RemoveAlphaChannel();
  PrepareBitmap(*bitmap, width, height);
  mergedRead = true;
  for (int c = 0; c < channels; ++c) {
    if (!ReadChannel(*bitmap, c, rows)) throw TPSDStop{kRefusedRowsCut};
    progress.Report(c * 100 / channels);
  }
}

void TPSDReader::ToDisplayFormat(TIEBitmap& b) {
  if (b.IsEmpty() || b.PixelFormat() == ie1g || b.PixelFormat() == ie24RGB) return;
  TIEICC* input = params.InputICC.get();
  TIEICC* output = params.GetOutputICC();
  if (iccRead && ReaderProfileManagement && input && input->IsValid() && !input->Applied() && output &&
      output->IsValid() && input->ConvertBitmap(b, ie24RGB, *output))
    return;
  b.SetPixelFormat(ie24RGB);
}

// ---- writing ----

// The colour mode a format is written in; false for formats not written.
bool ModeOf(TIEBitmapFormat f, int& mode, int& depth) {
  switch (f) {
    case ie1g: mode = psdModeBitmap, depth = 1; return true;
    case ie8p: mode = psdModeIndexed, depth = 8; return true;
    case ie8g: mode = psdModeGray, depth = 8; return true;
    case ie16g: mode = psdModeGray, depth = 16; return true;
    case ie24RGB:
    case ie32RGB: mode = psdModeRGB, depth = 8; return true;
    case ieCMYK: mode = psdModeCMYK, depth = 8; return true;
    case ieRGB48: mode = psdModeRGB, depth = 16; return true;
    case ieCIELab: mode = psdModeLab, depth = 8; return true;
    default: return false;
  }
}

TIEBitmapFormat FormatOfMode(int mode, int depth) {
  switch (mode) {
    case psdModeBitmap: return ie1g;
    case psdModeGray: return depth == 16 ? ie16g : ie8g;
    case psdModeIndexed: return ie8p;
    case psdModeRGB: return depth == 16 ? ieRGB48 : ie24RGB;
    case psdModeCMYK: return ieCMYK;
    case psdModeLab: return ieCIELab;
    default: return ieNoFormat;
  }
}

// The layer's colours as indices of the document's palette (nearest entry), so
// that an indexed document's layers show the colours they had.
void MapToPalette(TIEBitmap& layer, TIEBitmap& document) {
  std::vector<TRGB> palette(256);
  for (int i = 0; i < 256; ++i) document.GetPaletteColor(i, palette[size_t(i)]);
  TIEBitmap mapped(layer.Width(), layer.Height(), ie8p);
  for (int i = 0; i < 256; ++i) mapped.SetPaletteColor(i, palette[size_t(i)]);
  std::unordered_map<uint32_t, uint8_t> cache;
  for (int y = 0; y < layer.Height(); ++y) {
    uint8_t* out = mapped.ScanLine(y);
    for (int x = 0; x < layer.Width(); ++x) {
      const TRGB c = layer.GetPixelAsRGB(x, y);
      const uint32_t key = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
      auto it = cache.find(key);
      if (it == cache.end()) {
        int best = 0, bestDistance = 1 << 30;
        for (int i = 0; i < 256; ++i) {
          const TRGB& p = palette[size_t(i)];
          const int d = (p.r - c.r) * (p.r - c.r) + (p.g - c.g) * (p.g - c.g) + (p.b - c.b) * (p.b - c.b);
          if (d < bestDistance) best = i, bestDistance = d;
        }
        it = cache.emplace(key, uint8_t(best)).first;
      }
      out[x] = it->second;
    }
  }
  if (layer.HasAlphaChannel()) {
    auto alpha = std::make_unique<TIEBitmap>();
    alpha->Assign(layer.AlphaChannel());
    AttachAlphaChannel(mapped, std::move(alpha));
  }
  layer.Assign(&mapped);
}

// The one palette entry the alpha channel makes transparent: every pixel of
// that index has alpha 0 and every other pixel is opaque. -1 when there is none.
int TransparentIndex(TIEBitmap& b) {
  if (b.PixelFormat() != ie8p || !b.HasAlphaChannel()) return -1;
  TIEBitmap* alpha = b.AlphaChannel();
  int index = -1;
  bool opaque[256] = {};
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    const uint8_t* a = alpha->ScanLine(y);
    for (int x = 0; x < b.Width(); ++x) {
      if (a[x] == 255) {
        opaque[row[x]] = true;
      } else if (a[x] == 0 && (index == -1 || index == row[x])) {
        index = row[x];
      } else {
        return -1;
      }
    }
  }
  return index >= 0 && !opaque[index] ? index : -1;
}

struct TPSDWriter {
  TFilterWriter out;
  int depth = 8;

  void U8(uint8_t v) { out.Put(&v, 1); }
  void U16(uint32_t v) {
    uint8_t b[2];
    WriteBE16(b, v);
    out.Put(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    WriteBE32(b, v);
    out.Put(b, 4);
  }
  // Writes value at an earlier position and comes back.
  void PatchU32(int64_t at, uint32_t v) {
    if (out.Failed()) return;
    const int64_t here = out.stream.Position();
    out.stream.SetPosition(at);
    U32(v);
    out.stream.SetPosition(here);
  }

  void Resource(uint16_t id, const uint8_t* data, int64_t size) {
    out.Put("8BIM", 4);
    U16(id);
    U16(0);  // an empty name and its pad byte
    U32(uint32_t(size));
    out.Put(data, size);
    if (size & 1) U8(0);
  }
  void Resource(uint16_t id, const std::vector<uint8_t>& data) { Resource(id, data.data(), int64_t(data.size())); }

  // The rows of one channel in file form; kind: a colour channel index, -1 alpha, -2 mask.
  void ChannelRow(TIEBitmap& b, int kind, int y, std::vector<uint8_t>& row) {
    const int w = b.Width();
    row.assign(size_t(ChannelRowBytes(w, depth)), 0);
    if (kind < 0) {
      const uint8_t* a = (kind == -1 ? b.AlphaChannel() : &b)->ScanLine(y);
      for (int x = 0; x < w; ++x) {
        if (depth == 16) WriteBE16(&row[size_t(2 * x)], a[x] * 257u);
        else row[size_t(x)] = a[x];
      }
      return;
    }
    const uint8_t* in = b.ScanLine(y);
    switch (b.PixelFormat()) {
      case ie1g:
        for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(~in[i]);
        break;
      case ie8g:
      case ie8p: std::memcpy(row.data(), in, size_t(w)); break;
      case ie16g:
        for (int x = 0; x < w; ++x) WriteBE16(&row[size_t(2 * x)], reinterpret_cast<const uint16_t*>(in)[x]);
        break;
      case ie24RGB:
        for (int x = 0; x < w; ++x) row[size_t(x)] = in[3 * x + 2 - kind];
        break;
      case ieRGB48:
        for (int x = 0; x < w; ++x) WriteBE16(&row[size_t(2 * x)], reinterpret_cast<const uint16_t*>(in)[3 * x + kind]);
        break;
      case ieCMYK:
        for (int x = 0; x < w; ++x) row[size_t(x)] = in[4 * x + kind];
        break;
      case ieCIELab:
        for (int x = 0; x < w; ++x) row[size_t(x)] = uint8_t(in[3 * x + kind] + (kind == 0 ? 0 : 128));
        break;
      default: break;
    }
  }

  // Every channel in kinds, PackBits coded. A layer channel (merged false) has
  // its own compression word and counts, and its length goes into lengths;
  // the merged image has one word and one table for all.
  void Channels(TIEBitmap& b, TIEBitmap* mask, const std::vector<int>& kinds, bool merged,
                std::vector<uint32_t>* lengths, TProgressRecord& progress) {
    std::vector<uint8_t> row, packed;
    auto rowsOf = [&](int kind) { return kind == -2 ? mask : &b; };
    int64_t tableAt = 0;
    if (merged) {
      U16(1);
      tableAt = out.stream.Position();
      for (int kind : kinds) {
        std::vector<uint8_t> zeros(size_t(rowsOf(kind)->Height()) * 2, 0);
        out.Put(zeros.data(), int64_t(zeros.size()));
      }
    }
    int rowIndex = 0;
    for (size_t k = 0; k < kinds.size(); ++k) {
      TIEBitmap& source = *rowsOf(kinds[k]);
      const int h = source.Height();
      const int64_t start = out.stream.Position();
      if (!merged) {
        U16(1);
        tableAt = out.stream.Position();
        rowIndex = 0;
        std::vector<uint8_t> zeros(size_t(h) * 2, 0);
        out.Put(zeros.data(), int64_t(zeros.size()));
      }
      std::vector<uint8_t> counts(size_t(h) * 2);
      for (int y = 0; y < h; ++y) {
        ChannelRow(source, kinds[k], y, row);
        packed.resize(row.size() + row.size() / 128 + 2);
        const int n = PackBitsEncodeRow(row.data(), int(row.size()), packed.data());
        out.Put(packed.data(), n);
        WriteBE16(&counts[size_t(2 * y)], uint32_t(n));
      }
      if (!out.Failed()) {
        const int64_t here = out.stream.Position();
        out.stream.SetPosition(tableAt + 2 * int64_t(rowIndex));
        out.Put(counts.data(), int64_t(counts.size()));
        out.stream.SetPosition(here);
      }
      rowIndex += h;
      if (lengths) lengths->push_back(uint32_t(out.stream.Position() - start));
      if (merged && kinds.size() > 1) progress.Report(int((k + 1) * 100 / kinds.size()));
    }
  }
};

std::vector<int> ChannelKinds(TIEBitmap& b, bool withAlpha, bool withMask) {
  std::vector<int> kinds;
  if (withAlpha) kinds.push_back(-1);
  const int colours = ColourChannels(b.PixelFormat());
  for (int c = 0; c < colours; ++c) kinds.push_back(c);
  if (withMask) kinds.push_back(-2);
  return kinds;
}

void WriteLayerSection(TPSDWriter& w, TPSDLayerList& layers, TProgressRecord& progress) {
  const int64_t sectionAt = w.out.stream.Position();
  w.U32(0);
  if (layers.empty()) return;
  const int64_t infoAt = w.out.stream.Position();
  w.U32(0);
  int count = 0;
  for (const TPSDLayerRecord& l : layers) count += l.IsMask ? 0 : 1;
  w.U16(uint32_t(count));
  struct TSlots {
    TPSDLayerRecord* layer;
    TPSDLayerRecord* mask;
    std::vector<int> kinds;
    int64_t lengthsAt;
  };
  std::vector<TSlots> slots;
  for (size_t i = 0; i < layers.size(); ++i) {
    TPSDLayerRecord& l = layers[i];
    if (l.IsMask) continue;
    TPSDLayerRecord* mask = i + 1 < layers.size() && layers[i + 1].IsMask && layers[i + 1].Bitmap ? &layers[i + 1]
                                                                                                   : nullptr;
    TIEBitmap& b = *l.Bitmap;
    std::vector<int> kinds = ChannelKinds(b, b.HasAlphaChannel(), mask != nullptr);
    w.U32(uint32_t(l.PosY)), w.U32(uint32_t(l.PosX));
    w.U32(uint32_t(l.PosY + b.Height())), w.U32(uint32_t(l.PosX + b.Width()));
    w.U16(uint32_t(kinds.size()));
    const int64_t lengthsAt = w.out.stream.Position();
    for (int kind : kinds) w.U16(uint32_t(int16_t(kind))), w.U32(0);
    w.out.Put("8BIMnorm", 8);
    w.U8(uint8_t(std::clamp(l.Transparency, 0, 255)));
    w.U8(0);
    w.U8(l.Visible ? 0 : 2);
    w.U8(0);
    const std::string name = l.Name.substr(0, 255);
    // The name and its length byte padded to a multiple of 4.
    const int nameBytes = int((name.size() + 1 + 3) / 4 * 4);
    w.U32(uint32_t((mask ? 24 : 4) + 4 + nameBytes));
    if (mask) {
      TIEBitmap& m = *mask->Bitmap;
      w.U32(20);
      w.U32(uint32_t(mask->PosY)), w.U32(uint32_t(mask->PosX));
      w.U32(uint32_t(mask->PosY + m.Height())), w.U32(uint32_t(mask->PosX + m.Width()));
      w.U8(0), w.U8(0), w.U16(0);
    } else {
      w.U32(0);
    }
    w.U32(0);  // blending ranges
    std::vector<uint8_t> nameField(size_t(nameBytes), 0);
    nameField[0] = uint8_t(name.size());
    std::memcpy(nameField.data() + 1, name.data(), name.size());
    w.out.Put(nameField.data(), nameBytes);
    slots.push_back({&l, mask, std::move(kinds), lengthsAt});
  }
  for (size_t i = 0; i < slots.size(); ++i) {
    std::vector<uint32_t> lengths;
    w.Channels(*slots[i].layer->Bitmap, slots[i].mask ? slots[i].mask->Bitmap : nullptr, slots[i].kinds, false,
               &lengths, progress);
    for (size_t k = 0; k < lengths.size(); ++k) w.PatchU32(slots[i].lengthsAt + int64_t(k) * 6 + 2, lengths[k]);
    progress.Report(int(int64_t(i) * 100 / int64_t(slots.size())));
  }
  // The layer information keeps an even length.
  if ((w.out.stream.Position() - infoAt) & 1) w.U8(0);
  w.PatchU32(infoAt, uint32_t(w.out.stream.Position() - infoAt - 4));
  w.U32(0);  // global layer mask information
  w.PatchU32(sectionAt, uint32_t(w.out.stream.Position() - sectionAt - 4));
}

std::vector<uint8_t> ThumbnailResource(TIEBitmap& thumbnail, TProgressRecord& progress) {
  TIEBitmap rgb;
  rgb.Assign(&thumbnail);
  if (rgb.PixelFormat() != ie24RGB) rgb.SetPixelFormat(ie24RGB);
  TMemoryStream jpeg;
  TIOParamsVals jpegParams(nullptr);
  std::atomic<bool> abort{false};
  TProgressRecord jpegProgress;
  jpegProgress.AbortFlag = &abort;
  WriteJpegStream(jpeg, rgb, jpegParams, jpegProgress);
  if (abort.load()) return {};
  const uint32_t w = uint32_t(rgb.Width()), h = uint32_t(rgb.Height());
  std::vector<uint8_t> data(kThumbnailHeader);
  WriteBE32(&data[0], 1);
  WriteBE32(&data[4], w);
  WriteBE32(&data[8], w * 3);
  WriteBE32(&data[12], w * h * 3);
  WriteBE32(&data[16], uint32_t(jpeg.Size()));
  WriteBE16(&data[20], 24);
  WriteBE16(&data[22], 1);
  data.insert(data.end(), jpeg.Memory(), jpeg.Memory() + jpeg.Size());
  return data;
}

void WriteResources(TPSDWriter& w, TIOParamsVals& params, TIEBitmap& b, TProgressRecord& progress) {
  const int64_t at = w.out.stream.Position();
  w.U32(0);
  uint8_t resolution[16] = {};
  // A picture that never had a resolution is written with the library's default.
  const uint32_t dpiX = uint32_t(params.DpiX > 0 ? params.DpiX : gDefaultDPIX);
  const uint32_t dpiY = uint32_t(params.DpiY > 0 ? params.DpiY : gDefaultDPIY);
  WriteBE32(resolution, dpiX * 65536u);
  WriteBE16(resolution + 4, 1), WriteBE16(resolution + 6, 1);
  WriteBE32(resolution + 8, dpiY * 65536u);
  WriteBE16(resolution + 12, 1), WriteBE16(resolution + 14, 1);
  w.Resource(resResolution, resolution, 16);
  const int transparent = TransparentIndex(b);
  if (transparent >= 0) {
    uint8_t index[2];
    WriteBE16(index, uint32_t(transparent));
    w.Resource(resTransparencyIndex, index, 2);
  }
  if (params.IptcInfo && params.IptcInfo->Count() > 0) w.Resource(resIPTC, params.IptcInfo->SaveToBuffer(false));
  if (params.InputICC && params.InputICC->RawLength() > 0) w.Resource(resICC, params.InputICC->Raw());
  if (params.ExifThumbnail && !params.ExifThumbnail->IsEmpty()) {
    const std::vector<uint8_t> thumbnail = ThumbnailResource(*params.ExifThumbnail, progress);
    if (!thumbnail.empty()) w.Resource(resThumbnail, thumbnail);
  }
  if (!params.XmpPacket.empty())
    w.Resource(resXMP, reinterpret_cast<const uint8_t*>(params.XmpPacket.data()), int64_t(params.XmpPacket.size()));
  w.PatchU32(at, uint32_t(w.out.stream.Position() - at - 4));
}

void WriteBody(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, const TPSDLayerList* layers,
               TIEBitmap* source) {
  int mode = 0, depth = 0;
  if (!source || source->IsEmpty() || !ModeOf(source->PixelFormat(), mode, depth)) return progress.Abort();
  TPSDLayerList prepared = layers ? PreparePSDLayers(source, *layers) : TPSDLayerList{};
  // The merged image carries its colour channels only; ie32RGB's fourth byte is not one.
  TIEBitmap merged;
  merged.Assign(source);
  merged.RemoveAlphaChannel();
  if (merged.PixelFormat() == ie32RGB) merged.SetPixelFormat(ie24RGB);
  if (merged.PixelFormat() == ie8p) {
    // The transparency index comes from the source's alpha.
    if (source->HasAlphaChannel()) {
      auto alpha = std::make_unique<TIEBitmap>();
      alpha->Assign(source->AlphaChannel());
      AttachAlphaChannel(merged, std::move(alpha));
    }
  }
  TPSDWriter w{{stream, progress}, depth};
  TPSDFileHeader header{};
  header.Channels = uint16_t(ColourChannels(merged.PixelFormat()));
  header.Height = uint32_t(merged.Height());
  header.Width = uint32_t(merged.Width());
  header.Depth = uint16_t(depth);
  header.Mode = uint16_t(mode);
  uint8_t raw[kHeaderSize];
  EncodePSDFileHeader(header, raw);
  w.out.Put(raw, kHeaderSize);
  if (merged.PixelFormat() == ie8p) {
    uint8_t palette[768] = {};
    for (int i = 0; i < 256; ++i) {
      TRGB c;
      merged.GetPaletteColor(i, c);
      palette[i] = c.r, palette[256 + i] = c.g, palette[512 + i] = c.b;
    }
    w.U32(768);
    w.out.Put(palette, 768);
  } else {
    w.U32(0);
  }
  WriteResources(w, params, merged, progress);
  WriteLayerSection(w, prepared, progress);
  merged.RemoveAlphaChannel();
  w.Channels(merged, nullptr, ChannelKinds(merged, false, false), true, nullptr, progress);
}

}  // namespace

bool IsPSDStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t raw[kHeaderSize];
  bool ok = false;
  try {
    if (stream.Read(raw, kHeaderSize) == kHeaderSize) {
      TPSDFileHeader h;
      DecodePSDFileHeader(raw, h);
      ok = HeaderIsGood(h);
    }
  } catch (...) {
  }
  stream.SetPosition(start);
  return ok;
}

void ReadPSDStream(TStream& stream, TIEBitmap* bitmap, TIOParamsVals& params, TPSDLayerList* layers, bool loadLayers,
                   TProgressRecord& progress) {
  // A bitmap kept in a framework bitmap cannot take every format: the document
  // is read beside it and handed over at the end, also the rows of a short one.
  std::unique_ptr<TIEBitmap> temp;
  if (bitmap && bitmap->Location() == ieTBitmap) temp = std::make_unique<TIEBitmap>();
  TPSDReader reader{stream, params, temp ? temp.get() : bitmap, layers, loadLayers, progress};
  try {
    reader.Read();
  } catch (const TPSDStop& stop) {
    progress.Refuse(stop.reason);
  } catch (...) {
    progress.Refuse(kRefusedStreamFailed);
  }
  try {
    if (temp && (reader.mergedRead || reader.thumbnailTaken)) bitmap->Assign(temp.get());
  } catch (...) {
    progress.Abort();
  }
}

void WritePSDStream(TStream& stream, TIOParamsVals& params, TProgressRecord& progress, const TPSDLayerList* layers,
                    TIEBitmap* bitmap) {
  try {
    WriteBody(stream, params, progress, layers, bitmap);
  } catch (...) {
    progress.Abort();
  }
}

TPSDLayerList PreparePSDLayers(TIEBitmap* bitmap, const TPSDLayerList& layers) {
  TPSDLayerList out;
  TIEBitmap* model = bitmap;
  if (!model && !layers.empty()) model = layers.front().Bitmap;
  int mode = 0, depth = 0;
  if (!model || !ModeOf(model->PixelFormat(), mode, depth)) return out;
  const TIEBitmapFormat format = FormatOfMode(mode, depth);
  for (const TPSDLayerRecord& l : layers) {
    TPSDLayerRecord copy;
    copy.PosX = l.PosX, copy.PosY = l.PosY, copy.Transparency = l.Transparency, copy.Visible = l.Visible;
    copy.Cropped = l.Cropped, copy.IsMask = l.IsMask, copy.Name = l.Name;
    copy.ResampleFilter = l.ResampleFilter, copy.UseResampleFilter = l.UseResampleFilter;
    copy.Owned = std::make_unique<TIEBitmap>();
    copy.Bitmap = copy.Owned.get();
    if (l.Bitmap) {
      const int w = l.DisplayWidth > 0 ? l.DisplayWidth : l.Bitmap->Width();
      const int h = l.DisplayHeight > 0 ? l.DisplayHeight : l.Bitmap->Height();
      if (!l.IsMask && (w != l.Bitmap->Width() || h != l.Bitmap->Height()) && w > 0 && h > 0) {
        copy.Owned->Allocate(w, h, l.Bitmap->PixelFormat());
        ResampleIEBitmap(l.Bitmap, copy.Bitmap, l.UseResampleFilter ? l.ResampleFilter : rfNone);
      } else {
        copy.Owned->Assign(l.Bitmap);
      }
    }
    if (!l.IsMask && !copy.Bitmap->IsEmpty() && copy.Bitmap->PixelFormat() != format) {
      if (format == ie8p && model->PixelFormat() == ie8p) MapToPalette(*copy.Bitmap, *model);
      else copy.Bitmap->SetPixelFormat(format);
    }
    if (l.IsMask && !copy.Bitmap->IsEmpty() && copy.Bitmap->PixelFormat() != ie8g) copy.Bitmap->SetPixelFormat(ie8g);
    out.push_back(std::move(copy));
  }
  return out;
}

int PackBitsEncodeRow(const uint8_t* row, int count, uint8_t* out) {
  int n = 0, i = 0;
  int literalStart = 0;
  auto flushLiterals = [&](int end) {
    while (literalStart < end) {
      const int len = std::min(128, end - literalStart);
      out[n++] = uint8_t(len - 1);
      std::memcpy(out + n, row + literalStart, size_t(len));
      n += len;
      literalStart += len;
    }
  };
  while (i < count) {
    int run = 1;
    while (i + run < count && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 4) {
      flushLiterals(i);
      out[n++] = uint8_t(1 - run);
      out[n++] = row[i];
      i += run;
      literalStart = i;
    } else {
      i += run;
    }
  }
  flushLiterals(count);
  return n;
}

// ---- the format ----

namespace {

void ReadPSDFormat(TIEFormatReadArgs& a) {
  const auto& read = IEFilters().ReadPSDStream;
  if (!read) return a.Progress.Abort();
  // Layers go to a view's layer list; without one the merged picture is read.
  read(a.Stream, a.ParamsOnly ? nullptr : a.Bitmap, a.Params, nullptr, false, a.Progress);
}

void WritePSDFormat(TIEFormatWriteArgs& a) {
  const auto& write = IEFilters().WritePSDStream;
  if (!write) return a.Progress.Abort();
  write(a.Stream, a.Params, a.Progress, nullptr, &a.Bitmap);
}

}  // namespace

TIEFormatDescriptor PSDFormat() {
  return {
      .FileType = ioPSD,
      .FullName = "Photoshop PSD",
      .Suffixes = "PSD",
      .Access = ieaReadWrite,
      .Probe = IsPSDStream,
      .ProbeOrder = 140,
      .Read = ReadPSDFormat,
      .ReadParams = ReadPSDFormat,
      .Write = WritePSDFormat,
      .LoadOpenFailure = ieofKeepFlag,
      .SaveOpenFailure = ieofAbortQuietly,
      .SaveOrder = 160,
      .SaveSuffixes = "PSD",
  };
}
