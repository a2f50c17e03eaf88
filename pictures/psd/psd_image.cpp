#include "pictures/psd/psd_image.h"

#include <algorithm>
#include <cstring>

#include "base/toolbox/bitmap_utils.h"
#include "pictures/common/lab_colour.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

namespace {

// A file the reader will not take: the reason is kept for the caller that
// asks, the user sees the format's own text (or the stream's, for a file that
// ends early).
struct TPsdRefusal {
  std::string reason;
  bool shortStream = false;
};

[[noreturn]] void Refuse(const std::string& reason) { throw TPsdRefusal{reason, false}; }
[[noreturn]] void RefuseShort(const std::string& what) { throw TPsdRefusal{what + " runs past the end of the stream", true}; }

void NeedBytes(TStream& stream, int64_t count, const char* what) {
  if (count < 0 || count > stream.Remaining()) RefuseShort(what);
}

int32_t ReadBE32Signed(TStream& stream) { return static_cast<int32_t>(ReadBE32(stream)); }

// The decoded document, taken over by the picture only when all of it was read.
struct TPsdDocument {
  TPSDFileHeader header;
  uint8_t colorTable[768] = {};
  std::vector<std::unique_ptr<TPSDLayer>> layers;
};

int SampleBytes(int depth) { return depth == 16 ? 2 : 1; }

// Colour channels the merged image and the layers draw from.
int ColourChannels(int mode) {
  switch (mode) {
    case psdRGB:
    case psdLab: return 3;
    case psdCMYK: return 4;
    default: return 1;
  }
}

void CheckHeader(const TPSDFileHeader& h) {
  if (std::memcmp(h.Signature, "8BPS", 4) != 0) Refuse("signature is not 8BPS");
  if (h.Version != 1) Refuse("version " + std::to_string(h.Version) + " is not 1");
  if (h.Channels < 1 || h.Channels > 56) Refuse("channel count " + std::to_string(h.Channels) + " outside 1..56");
  if (h.Width < 1 || h.Width > kPsdMaxSide || h.Height < 1 || h.Height > kPsdMaxSide)
    Refuse("size " + std::to_string(h.Width) + " x " + std::to_string(h.Height) + " outside 1..30000");
  const int mode = h.Mode, depth = h.Depth;
  bool depthOk = false;
  switch (mode) {
    case psdBitmap: depthOk = depth == 1; break;
    case psdIndexed: depthOk = depth == 8; break;
    case psdGray:
    case psdDuotone:
    case psdRGB:
    case psdCMYK:
    case psdLab: depthOk = depth == 8 || depth == 16; break;
    default: Refuse("colour mode " + std::to_string(mode) + " is not read");
  }
  if (!depthOk) Refuse("depth " + std::to_string(depth) + " in colour mode " + std::to_string(mode));
  if (h.Channels < ColourChannels(mode))
    Refuse(std::to_string(h.Channels) + " channels are too few for colour mode " + std::to_string(mode));
}

TPixelFormat PixelFormatFor(const TPSDFileHeader& h) {
  switch (h.Mode) {
    case psdBitmap: return pf1bit;
    case psdRGB: return h.Channels >= 4 ? pf32bit : pf24bit;
    case psdCMYK:
    case psdLab: return pf24bit;
    default: return pf8bit;
  }
}

// Rows of one plane at a time, 8 bits a sample (the high byte of 16-bit
// samples), rowBytes bytes a row as the file stores them.
struct TRowSource {
  TStream& stream;
  int compression;
  std::vector<uint16_t> counts;  // PackBits: packed bytes of each row, in file order
  size_t next = 0;
  std::vector<uint8_t> packed;

  // Reads the next stored row into row (rowBytes bytes); a packed row that
  // gives fewer bytes leaves the rest zero.
  void Read(uint8_t* row, int64_t rowBytes) {
    if (compression == 0) {
      stream.ReadBuffer(row, rowBytes);
      return;
    }
    const uint16_t n = counts[next++];
    packed.resize(n);
    stream.ReadBuffer(packed.data(), n);
    std::memset(row, 0, static_cast<size_t>(rowBytes));
    TPackbitsRLE::Unpack(packed.data(), n, row, rowBytes);
  }
};

// Reads a compression word and, for PackBits, the byte counts of rows rows,
// then checks that the stored rows fit in limit bytes from here and can give
// rowBytes each.
TRowSource OpenRows(TStream& stream, int64_t rows, int64_t rowBytes, int64_t limit, const char* what) {
  NeedBytes(stream, 2, what);
  TRowSource source{stream, ReadBE16(stream), {}, 0, {}};
  limit -= 2;
  if (source.compression == 0) {
    if (rows * rowBytes > limit) RefuseShort(what);
    return source;
  }
  if (source.compression != 1) Refuse(std::string(what) + " compression " + std::to_string(source.compression));
  if (rows * 2 > limit) RefuseShort(what);
  source.counts.resize(static_cast<size_t>(rows));
  int64_t total = 0;
  for (auto& count : source.counts) {
    count = ReadBE16(stream);
    // A packed pair gives at most 128 bytes.
    if (rowBytes > int64_t(count) * 64) Refuse(std::string(what) + ": a packed row cannot fill its row");
    total += count;
  }
  if (total > limit - rows * 2) RefuseShort(what);
  return source;
}

// Takes the high bytes of a row of big-endian 16-bit samples in place.
void HighBytes(uint8_t* row, int count) {
  for (int i = 0; i < count; ++i) row[i] = row[2 * i];
}

void ReadChannelImage(TStream& stream, TPSDLayer& layer, int channel, int depth, int64_t sectionEnd) {
  const int64_t start = stream.Position();
  const int64_t length = static_cast<uint32_t>(layer.ChannelLengths[channel]);
  if (length > sectionEnd - start) RefuseShort("a layer channel");
  const int id = layer.ChannelIDs[channel];
  const int w = layer.Width(), h = layer.Height();
  auto& image = layer.ChannelImages[static_cast<size_t>(channel)];
  // User masks (-2 and below) have a rectangle of their own: not part of the
  // layer's image.
  // Channels packed with ZIP (ImageMagick's default for layers) are passed
  // over: the picture shows the merged image, which such files store plainly.
  bool zipped = false;
  if (length >= 2) {
    const int compression = ReadBE16(stream);
    zipped = compression == 2 || compression == 3;
    stream.SetPosition(start);
  }
  if (id >= -1 && int64_t(w) * h > 0 && !zipped) {
    const int s = SampleBytes(depth);
    const int64_t rowBytes = int64_t(w) * s;
    TRowSource rows = OpenRows(stream, h, rowBytes, length, "a layer channel");
    image.assign(static_cast<size_t>(w) * h, 0);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (int y = 0; y < h; ++y) {
      rows.Read(row.data(), rowBytes);
      if (s == 2) HighBytes(row.data(), w);
      std::memcpy(image.data() + static_cast<size_t>(y) * w, row.data(), static_cast<size_t>(w));
    }
  }
  stream.SetPosition(start + length);
}

void ReadLayerSection(TStream& stream, TPsdDocument& doc) {
  NeedBytes(stream, 4, "the layer section");
  const int64_t length = ReadBE32(stream);
  if (length == 0) return;
  NeedBytes(stream, length, "the layer section");
  const int64_t start = stream.Position(), end = start + length;
  if (length < 4) Refuse("layer section shorter than its info length");
  const int64_t infoLength = ReadBE32(stream);
  if (infoLength > length - 4) Refuse("layer info longer than its section");
  if (infoLength >= 2) {
    const int64_t infoEnd = stream.Position() + infoLength;
    const int count = std::abs(static_cast<int16_t>(ReadBE16(stream)));
    // A record takes at least 34 bytes; a count the section cannot hold is
    // refused before any layer is made.
    if (int64_t(count) * 34 > infoEnd - stream.Position()) Refuse("layer count past the section");
    for (int i = 0; i < count && stream.Position() < infoEnd; ++i) {
      auto layer = std::make_unique<TPSDLayer>();
      layer->ReadRecord(stream, infoEnd);
      doc.layers.push_back(std::move(layer));
    }
    for (auto& layer : doc.layers)
      for (int c = 0; c < layer->ChannelCount; ++c) ReadChannelImage(stream, *layer, c, doc.header.Depth, infoEnd);
  }
  stream.SetPosition(end);
}

// The merged image's planes that the picture shows, 8 bits a sample, plane
// after plane.
std::vector<uint8_t> ReadMergedPlanes(TStream& stream, const TPSDFileHeader& h, int64_t rowBytes, int planes) {
  const int64_t rows = int64_t(h.Height) * h.Channels;
  TRowSource source = OpenRows(stream, rows, rowBytes, stream.Remaining(), "the merged image");
  const int outRow = h.Depth == 1 ? static_cast<int>(rowBytes) : static_cast<int>(h.Width);
  std::vector<uint8_t> out(static_cast<size_t>(outRow) * h.Height * planes);
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int p = 0; p < planes; ++p)
    for (uint32_t y = 0; y < h.Height; ++y) {
      source.Read(row.data(), rowBytes);
      if (h.Depth == 16) HighBytes(row.data(), static_cast<int>(h.Width));
      std::memcpy(out.data() + (static_cast<size_t>(p) * h.Height + y) * outRow, row.data(), static_cast<size_t>(outRow));
    }
  return out;
}

uint8_t MulDiv255(int a, int b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// Stored CMYK bytes are 255 minus the ink.
void CmykToBgr(uint8_t c, uint8_t m, uint8_t y, uint8_t k, uint8_t* bgr) {
  const int C = 255 - c, M = 255 - m, Y = 255 - y, K = 255 - k;
  auto channel = [K](int ink) { return static_cast<uint8_t>(std::clamp(255 - (ink - MulDiv255(ink, K) + K), 0, 255)); };
  bgr[0] = channel(Y);
  bgr[1] = channel(M);
  bgr[2] = channel(C);
}

void LabBytesToBgr(uint8_t l, uint8_t a, uint8_t b, uint8_t* bgr) {
  LabToBgr(l / 2.55, static_cast<int>(a) - 128, static_cast<int>(b) - 128, bgr);
}

// One pixel of colour samples (channel order of the mode) to blue, green, red.
void SamplesToBgr(int mode, const uint8_t* s, uint8_t* bgr) {
  switch (mode) {
    case psdCMYK: CmykToBgr(s[0], s[1], s[2], s[3], bgr); break;
    case psdLab: LabBytesToBgr(s[0], s[1], s[2], bgr); break;
    default:
      bgr[0] = s[2];
      bgr[1] = s[1];
      bgr[2] = s[0];
  }
}

void DrawMerged(TBitmap& bitmap, const TPSDFileHeader& h, const std::vector<uint8_t>& planes, int count) {
  const int w = static_cast<int>(h.Width), ht = static_cast<int>(h.Height);
  const TPixelFormat pf = PixelFormatFor(h);
  if (pf == pf1bit || pf == pf8bit) {
    const size_t rowBytes = pf == pf1bit ? static_cast<size_t>((w + 7) / 8) : static_cast<size_t>(w);
    for (int y = 0; y < ht; ++y)
      std::memcpy(bitmap.ScanLine(y), planes.data() + static_cast<size_t>(y) * rowBytes, rowBytes);
    return;
  }
  const size_t plane = static_cast<size_t>(w) * ht;
  const int pixelBytes = pf == pf32bit ? 4 : 3;
  uint8_t s[4] = {};
  for (int y = 0; y < ht; ++y) {
    auto* out = static_cast<uint8_t*>(bitmap.ScanLine(y));
    const size_t at = static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x, out += pixelBytes) {
      for (int c = 0; c < count; ++c) s[c] = planes[c * plane + at + x];
      SamplesToBgr(h.Mode, s, out);
      if (pixelBytes == 4) out[3] = planes[3 * plane + at + x];
    }
  }
}

std::vector<int32_t> PaletteOf(int depth, int mode, const uint8_t* colorTable) {
  const int n = depth == 1 ? 2 : depth == 4 ? 16 : 256;
  std::vector<int32_t> colours(static_cast<size_t>(n));
  if (depth == 1) {
    colours[0] = 0xFFFFFF;
    colours[1] = 0;
    return colours;
  }
  for (int i = 0; i < n; ++i)
    colours[static_cast<size_t>(i)] = mode == psdGray || mode == psdDuotone
                                          ? i * 0x010101
                                          : colorTable[i] | colorTable[256 + i] << 8 | colorTable[512 + i] << 16;
  return colours;
}

}  // namespace

// ---- numbers ----

uint16_t ReadBE16(TStream& stream) {
  uint8_t b[2];
  stream.ReadBuffer(b, 2);
  return ReadBE16(b);
}

uint32_t ReadBE32(TStream& stream) {
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  return ReadBE32(b);
}

void WriteBE16(TStream& stream, uint16_t value) {
  uint8_t b[2];
  WriteBE16(b, value);
  stream.WriteBuffer(b, 2);
}

void WriteBE32(TStream& stream, uint32_t value) {
  uint8_t b[4];
  WriteBE32(b, value);
  stream.WriteBuffer(b, 4);
}

// ---- the file header ----

void DecodePSDFileHeader(const uint8_t raw[26], TPSDFileHeader& h) {
  std::memcpy(h.Signature, raw, 4);
  h.Version = ReadBE16(raw + 4);
  std::memcpy(h.Reserved, raw + 6, 6);
  h.Channels = ReadBE16(raw + 12);
  h.Height = ReadBE32(raw + 14);
  h.Width = ReadBE32(raw + 18);
  h.Depth = ReadBE16(raw + 22);
  h.Mode = ReadBE16(raw + 24);
}

void EncodePSDFileHeader(const TPSDFileHeader& h, uint8_t raw[26]) {
  std::memcpy(raw, h.Signature, 4);
  WriteBE16(raw + 4, h.Version);
  std::memcpy(raw + 6, h.Reserved, 6);
  WriteBE16(raw + 12, h.Channels);
  WriteBE32(raw + 14, h.Height);
  WriteBE32(raw + 18, h.Width);
  WriteBE16(raw + 22, h.Depth);
  WriteBE16(raw + 24, h.Mode);
}

// ---- PackBits ----

int64_t TPackbitsRLE::Unpack(const uint8_t* source, int64_t sourceCount, uint8_t* dest, int64_t destCount) {
  const uint8_t* end = source + sourceCount;
  int64_t written = 0;
  while (source < end && written < destCount) {
    const int h = static_cast<int8_t>(*source++);
    if (h >= 0) {
      const int64_t n = std::min<int64_t>({h + 1, end - source, destCount - written});
      std::memcpy(dest + written, source, static_cast<size_t>(n));
      written += n;
      source += h + 1 <= end - source ? h + 1 : end - source;
    } else if (h != -128) {
      if (source == end) break;
      const int64_t n = std::min<int64_t>(1 - h, destCount - written);
      std::memset(dest + written, *source++, static_cast<size_t>(n));
      written += n;
    }
  }
  return written;
}

// ---- layers ----

TPSDLayer::TPSDLayer() = default;
TPSDLayer::~TPSDLayer() = default;

bool TPSDLayer::Whole() const {
  for (int i = 0; i < ChannelIDs.Count(); ++i)
    if (ChannelIDs[i] < -1) return false;
  return true;
}

void TPSDLayer::ReadRecord(TStream& stream, int64_t sectionEnd) {
  auto need = [&](int64_t n) {
    if (n > sectionEnd - stream.Position()) Refuse("a layer record runs past its section");
  };
  need(18);
  Top = ReadBE32Signed(stream);
  Left = ReadBE32Signed(stream);
  Bottom = ReadBE32Signed(stream);
  Right = ReadBE32Signed(stream);
  if (Right < Left || Bottom < Top) Refuse("a layer rectangle is upside down");
  if (int64_t(Right) - Left > kPsdMaxSide || int64_t(Bottom) - Top > kPsdMaxSide) Refuse("a layer is too large");
  ChannelCount = static_cast<int16_t>(ReadBE16(stream));
  if (ChannelCount < 0 || ChannelCount > 56) Refuse("a layer has " + std::to_string(ChannelCount) + " channels");
  need(int64_t(ChannelCount) * 6 + 16);
  for (int i = 0; i < ChannelCount; ++i) {
    ChannelIDs.Add(static_cast<int16_t>(ReadBE16(stream)));
    ChannelLengths.Add(static_cast<int32_t>(ReadBE32(stream)));
  }
  char signature[4];
  stream.ReadBuffer(signature, 4);
  if (std::memcmp(signature, "8BIM", 4) != 0) throw TPsdRefusal{"a layer's blend signature is not 8BIM", false};
  stream.ReadBuffer(BlendModeKey, 4);
  uint8_t bytes[4];
  stream.ReadBuffer(bytes, 4);
  Opacity = bytes[0];
  Clipping = bytes[1];
  Flags = bytes[2];
  const int64_t extra = ReadBE32(stream);
  need(extra);
  ExtraData = stream.ReadBytes(extra);
  ChannelImages.assign(static_cast<size_t>(ChannelCount), {});
}

void TPSDLayer::WriteRecord(TStream& stream) const {
  for (int32_t v : {Top, Left, Bottom, Right}) WriteBE32(stream, static_cast<uint32_t>(v));
  WriteBE16(stream, static_cast<uint16_t>(ChannelCount));
  const uint32_t channelBytes = 2 + static_cast<uint32_t>(Width()) * static_cast<uint32_t>(Height());
  for (int i = 0; i < ChannelCount; ++i) {
    WriteBE16(stream, static_cast<uint16_t>(ChannelIDs[i]));
    WriteBE32(stream, channelBytes);
  }
  stream.WriteBuffer("8BIM", 4);
  stream.WriteBuffer(BlendModeKey, 4);
  const uint8_t bytes[4] = {Opacity, Clipping, Flags, 0};
  stream.WriteBuffer(bytes, 4);
  WriteBE32(stream, static_cast<uint32_t>(ExtraData.size()));
  if (!ExtraData.empty()) stream.WriteBuffer(ExtraData.data(), static_cast<int64_t>(ExtraData.size()));
}

// ---- the picture ----

TPSDImage::TPSDImage() = default;
TPSDImage::~TPSDImage() = default;

void TPSDImage::Assign(TPersistent* source) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    FileHeader.Height = static_cast<uint32_t>(bitmap->Height());
    FileHeader.Width = static_cast<uint32_t>(bitmap->Width());
  }
  Layers.clear();
  TBitmap::Assign(source);
}

void TPSDImage::SetupPalette(int depth, int colorMode) {
  const std::vector<int32_t> colours = PaletteOf(depth, colorMode, ColorTable);
  WritePaletteColours(this, colours.data(), static_cast<int>(colours.size()));
}

void TPSDImage::LoadFromStream(TStream& stream) {
  try {
    TPsdDocument doc;
    TPSDFileHeader& h = doc.header;
    uint8_t raw[26];
    stream.ReadBuffer(raw, 26);
    DecodePSDFileHeader(raw, h);
    if (std::memcmp(h.Signature, "8BPS", 4) != 0) Refuse("signature is not 8BPS");
    CheckHeader(h);

    NeedBytes(stream, 4, "the colour mode data");
    const int64_t modeData = ReadBE32(stream);
    NeedBytes(stream, modeData, "the colour mode data");
    const int64_t taken = h.Mode == psdIndexed ? std::min<int64_t>(modeData, 768) : 0;
    stream.ReadBuffer(doc.colorTable, taken);
    stream.Seek(modeData - taken, soCurrent);

    NeedBytes(stream, 4, "the image resources");
    const int64_t resources = ReadBE32(stream);
    NeedBytes(stream, resources, "the image resources");
    stream.Seek(resources, soCurrent);

    ReadLayerSection(stream, doc);

    const TPixelFormat pf = PixelFormatFor(h);
    const int colours = ColourChannels(h.Mode);
    const int planes = pf == pf32bit ? 4 : colours;
    const int64_t rowBytes = (int64_t(h.Width) * h.Depth + 7) / 8;
    const std::vector<uint8_t> merged = ReadMergedPlanes(stream, h, rowBytes, planes);

    TBitmap work;
    work.SetPixelFormat(pf);
    work.SetSize(static_cast<int>(h.Width), static_cast<int>(h.Height));
    if (pf == pf1bit || pf == pf8bit) {
      const std::vector<int32_t> palette = PaletteOf(h.Depth, h.Mode, doc.colorTable);
      WritePaletteColours(&work, palette.data(), static_cast<int>(palette.size()));
    }
    DrawMerged(work, h, merged, colours);

    TBitmap::Assign(&work);
    FileHeader = h;
    std::memcpy(ColorTable, doc.colorTable, sizeof ColorTable);
    Layers = std::move(doc.layers);
    FLastRefusal.clear();
  } catch (const TPsdRefusal& refusal) {
    FLastRefusal = refusal.reason;
    if (refusal.shortStream) throw EReadError("Stream read error");
    throw Exception(kPsdInvalidStream);
  } catch (const EReadError&) {
    FLastRefusal = "the stream ends early";
    throw;
  }
}

void TPSDImage::GetLayerBitmap(int index, TBitmap* bitmap) {
  if (!bitmap || index < 0 || index >= static_cast<int>(Layers.size())) return;
  const TPSDLayer& layer = *Layers[static_cast<size_t>(index)];
  const int n = layer.ChannelCount;
  if (n <= 1) {
    bitmap->Assign(nullptr);
    return;
  }
  const bool withAlpha = n != 3;
  const int docW = Width(), docH = Height();
  bitmap->SetPixelFormat(withAlpha ? pf32bit : pf24bit);
  bitmap->SetSize(docW, docH);
  const int pixelBytes = withAlpha ? 4 : 3;
  for (int y = 0; y < docH; ++y) std::memset(bitmap->ScanLine(y), 0, static_cast<size_t>(docW) * pixelBytes);

  // The channel of each ID (the last one when an ID repeats).
  const std::vector<uint8_t>* byId[5] = {};  // 0..3 colour, 4 transparency
  for (int c = 0; c < n; ++c) {
    const int id = layer.ChannelIDs[c];
    const auto& image = layer.ChannelImages[static_cast<size_t>(c)];
    if (image.empty()) continue;
    if (id >= 0 && id <= 3) byId[id] = &image;
    if (id == -1) byId[4] = &image;
  }
  const int mode = FileHeader.Mode;
  int needed = ColourChannels(mode);
  if (needed == 1 || (mode != psdCMYK && mode != psdLab && !byId[1] && !byId[2])) {
    // A grey layer: green and blue are the grey channel.
    byId[1] = byId[2] = byId[0];
    needed = 3;
  }
  for (int c = 0; c < needed; ++c)
    if (!byId[c]) return;
  const int drawMode = needed == 4 ? psdCMYK : mode == psdLab ? psdLab : psdRGB;
  const int w = layer.Width();
  for (int y = 0; y < layer.Height(); ++y) {
    const int docY = layer.Top + y;
    if (docY < 0 || docY >= docH) continue;
    auto* row = static_cast<uint8_t*>(bitmap->ScanLine(docY));
    for (int x = 0; x < w; ++x) {
      const int docX = layer.Left + x;
      if (docX < 0 || docX >= docW) continue;
      const size_t at = static_cast<size_t>(y) * w + x;
      uint8_t s[4] = {};
      for (int c = 0; c < needed; ++c) s[c] = (*byId[c])[at];
      uint8_t* out = row + static_cast<size_t>(docX) * pixelBytes;
      SamplesToBgr(drawMode, s, out);
      if (withAlpha) out[3] = byId[4] ? (*byId[4])[at] : 255;
    }
  }
}

void TPSDImage::SaveToStream(TStream& stream) {
  // The source as one of the three layouts written: indexed, RGB, RGB with alpha.
  std::unique_ptr<TBitmap> temp;
  TBitmap* source = this;
  const TPixelFormat own = PixelFormat();
  if (own == pf1bit || own == pf4bit) {
    temp = std::make_unique<TBitmap>();
    temp->Assign(this);
    temp->SetPixelFormat(pf8bit);  // colours are kept: the palette carries over
    source = temp.get();
  } else if (own != pf8bit && own != pf24bit && own != pf32bit) {
    temp = std::make_unique<TBitmap>();
    temp->Assign(this);
    temp->SetPixelFormat(pf24bit);
    source = temp.get();
  }
  const TPixelFormat pf = source->PixelFormat();
  const int w = source->Width(), h = source->Height();

  TPSDFileHeader header;
  header.Channels = pf == pf8bit ? 1 : pf == pf32bit ? 4 : 3;
  header.Height = static_cast<uint32_t>(h);
  header.Width = static_cast<uint32_t>(w);
  header.Depth = 8;
  header.Mode = pf == pf8bit ? psdIndexed : psdRGB;
  uint8_t raw[26];
  EncodePSDFileHeader(header, raw);
  stream.WriteBuffer(raw, 26);
  FileHeader = header;

  if (pf == pf8bit) {
    int32_t colours[256];
    ReadPaletteColours(source, colours, 256);
    for (int i = 0; i < 256; ++i) {
      ColorTable[i] = static_cast<uint8_t>(colours[i]);
      ColorTable[256 + i] = static_cast<uint8_t>(colours[i] >> 8);
      ColorTable[512 + i] = static_cast<uint8_t>(colours[i] >> 16);
    }
    WriteBE32(stream, 768);
    stream.WriteBuffer(ColorTable, 768);
  } else {
    WriteBE32(stream, 0);
  }
  WriteBE32(stream, 0);  // image resources

  // Layers: only those read whole can be written back as they were.
  std::vector<const TPSDLayer*> written;
  for (const auto& layer : Layers)
    if (layer->Whole()) written.push_back(layer.get());
  if (written.empty()) {
    WriteBE32(stream, 0);
  } else {
    const int64_t sectionAt = stream.Position();
    WriteBE32(stream, 0);
    WriteBE32(stream, 0);
    // A negative count says the first extra channel is the merged image's
    // transparency; without it readers take that channel for a spot colour.
    const int count = static_cast<int>(written.size());
    WriteBE16(stream, static_cast<uint16_t>(pf == pf32bit ? -count : count));
    for (const TPSDLayer* layer : written) layer->WriteRecord(stream);
    for (const TPSDLayer* layer : written)
      for (const auto& image : layer->ChannelImages) {
        WriteBE16(stream, 0);
        if (!image.empty()) stream.WriteBuffer(image.data(), static_cast<int64_t>(image.size()));
      }
    int64_t infoLength = stream.Position() - sectionAt - 8;
    if (infoLength % 2 != 0) {
      const uint8_t pad = 0;
      stream.WriteBuffer(&pad, 1);
      ++infoLength;
    }
    WriteBE32(stream, 0);  // no global layer mask
    const int64_t end = stream.Position();
    stream.SetPosition(sectionAt);
    WriteBE32(stream, static_cast<uint32_t>(end - sectionAt - 4));
    WriteBE32(stream, static_cast<uint32_t>(infoLength));
    stream.SetPosition(end);
  }

  WriteBE16(stream, 0);  // raw image data
  std::vector<uint8_t> plane(static_cast<size_t>(w));
  if (pf == pf8bit) {
    for (int y = 0; y < h; ++y) stream.WriteBuffer(source->ScanLine(y), w);
    return;
  }
  const int pixelBytes = pf == pf32bit ? 4 : 3;
  static const int kByteOfChannel[4] = {2, 1, 0, 3};  // red, green, blue, alpha
  for (int c = 0; c < header.Channels; ++c)
    for (int y = 0; y < h; ++y) {
      const auto* row = static_cast<const uint8_t*>(source->ScanLine(y));
      for (int x = 0; x < w; ++x) plane[static_cast<size_t>(x)] = row[x * pixelBytes + kByteOfChannel[c]];
      stream.WriteBuffer(plane.data(), w);
    }
}

// Opening a .psd or .pdd file through the picture registry makes this class;
// the registration is taken back when the program ends.
namespace {
struct TPsdRegistration {
  TPsdRegistration() {
    const TGraphicClass cls = TGraphicClass::Of<TPSDImage>();
    TPicture::RegisterFileFormat("psd", "Photoshop Image", cls);
    TPicture::RegisterFileFormat("pdd", "Photoshop Image", cls);
  }
  ~TPsdRegistration() { TPicture::UnregisterGraphicClass(TGraphicClass::Of<TPSDImage>()); }
} psdRegistration;
}  // namespace
