#include "pictures/pcx/pcx_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/byte_order.h"

namespace {


// Plane layouts the reader takes: (planes, bits per plane).
bool LayoutKnown(int planes, int bits) {
  if (bits == 1) return planes >= 1 && planes <= 4;
  if (planes == 1) return bits == 2 || bits == 4 || bits == 8;
  return bits == 8 && (planes == 3 || planes == 4);
}

HPALETTE PaletteOf(const std::vector<RGBQUAD>& colours) {
  std::vector<uint8_t> buffer(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * colours.size());
  auto* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(colours.size());
  for (size_t i = 0; i < colours.size(); ++i)
    lp->palPalEntry[i] = PALETTEENTRY{colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue, 0};
  return CreatePalette(lp);
}

}  // namespace

void TPCXRLEDecoder::Decode(const uint8_t* source, uint8_t* target, int64_t unpackedSize, int64_t packedSize) {
  const uint8_t* end = source + packedSize;
  int64_t written = 0;
  while (written < unpackedSize && source < end) {
    const uint8_t b = *source++;
    if (b < 0xC0) {
      target[written++] = b;
      continue;
    }
    if (source == end) break;
    const int64_t run = std::min<int64_t>(b & 0x3F, unpackedSize - written);
    std::memset(target + written, *source++, static_cast<size_t>(run));
    written += run;
  }
  FWritten = written;
}

void DecodePCXHeader(const uint8_t raw[128], TPCXHeader& h) {
  h.Manufacturer = raw[0], h.Version = raw[1], h.Encoding = raw[2], h.BitsPerPixel = raw[3];
  h.XMin = ReadLE16(raw + 4), h.YMin = ReadLE16(raw + 6), h.XMax = ReadLE16(raw + 8), h.YMax = ReadLE16(raw + 10);
  h.HDpi = ReadLE16(raw + 12), h.VDpi = ReadLE16(raw + 14);
  std::memcpy(h.ColorMap, raw + 16, 48);
  h.Reserved = raw[64], h.Planes = raw[65];
  h.BytesPerLine = ReadLE16(raw + 66), h.PaletteInfo = ReadLE16(raw + 68);
  std::memcpy(h.Filler, raw + 70, 58);
}

void EncodePCXHeader(const TPCXHeader& h, uint8_t raw[128]) {
  raw[0] = h.Manufacturer, raw[1] = h.Version, raw[2] = h.Encoding, raw[3] = h.BitsPerPixel;
  WriteLE16(raw + 4, h.XMin), WriteLE16(raw + 6, h.YMin), WriteLE16(raw + 8, h.XMax), WriteLE16(raw + 10, h.YMax);
  WriteLE16(raw + 12, h.HDpi), WriteLE16(raw + 14, h.VDpi);
  std::memcpy(raw + 16, h.ColorMap, 48);
  raw[64] = h.Reserved, raw[65] = h.Planes;
  WriteLE16(raw + 66, h.BytesPerLine), WriteLE16(raw + 68, h.PaletteInfo);
  std::memcpy(raw + 70, h.Filler, 58);
}

TPCXImage::TPCXImage() : FColorManager(std::make_unique<TColorManager>()) {}
TPCXImage::~TPCXImage() = default;

bool TPCXImage::ReadHeader(TStream& stream) {
  FImageProperties = TImageProperties{};
  uint8_t raw[128];
  stream.ReadBuffer(raw, 128);
  if (raw[0] != 10 && raw[0] != 205) return false;
  TPCXHeader& h = FHeader;
  DecodePCXHeader(raw, h);
  TImageProperties& p = FImageProperties;
  p.Width = int32_t(h.XMax) - h.XMin + 1;
  p.Height = int32_t(h.YMax) - h.YMin + 1;
  p.BitsPerSample = h.BitsPerPixel;
  p.SamplesPerPixel = h.Planes;
  p.BitsPerPixel = static_cast<uint8_t>(h.Planes * h.BitsPerPixel);
  p.ColorScheme = p.BitsPerPixel <= 8 ? rcsIndexed : rcsRGB;
  p.Compression = h.Encoding == 1 ? 2 : 1;
  p.Gamma = 1.0f;
  p.XResolution = h.HDpi;
  p.YResolution = h.VDpi;
  return true;
}

void TPCXImage::LoadFromStream(TStream& stream) {
  FLastRefusal.clear();
  auto refuse = [this](const char* message, const char* reason) {
    FLastRefusal = reason;
    throw EInvalidGraphic(message);
  };
  const int64_t start = stream.Position();
  if (!ReadHeader(stream)) refuse(kPcxInvalidImage, "the manufacturer byte is not 10 or 205");
  Progress(this, psStarting, 0, false, TRect{}, "Preparing...");
  const TPCXHeader& h = FHeader;
  const TImageProperties& p = FImageProperties;
  if (h.XMax < h.XMin || h.YMax < h.YMin) refuse(kPcxInvalidImage, "the window is upside down");
  const int planes = h.Planes, bits = h.BitsPerPixel;
  if (!LayoutKnown(planes, bits)) refuse(kPcxInvalidColorFormat, "a plane layout that is not read");
  const int width = p.Width, height = p.Height;
  if (int64_t(h.BytesPerLine) * 8 < int64_t(width) * bits) refuse(kPcxInvalidImage, "rows wider than their bytes per line");

  // Planes of single bits are combined here; everything else goes through the
  // colour manager.
  const bool bitPlanes = bits == 1 && planes > 1;
  TColorManager& cm = *FColorManager;
  const bool alpha = planes == 4 && bits == 8;
  cm.SetSourceScheme(alpha ? rcsRGBA : p.ColorScheme);
  cm.SetTargetScheme(alpha ? rcsBGRA : p.ColorScheme == rcsIndexed ? rcsIndexed : rcsBGR);
  cm.SetSourceSampleBits(bits);
  cm.SetSourceSampleCount(planes);
  cm.SetTargetSampleBits(bits == 2 && planes == 1 ? 4 : bits);
  cm.SetTargetSampleCount(planes);
  const TPixelFormat format = bitPlanes ? pf4bit : cm.PixelFormatForSide(1);

  // The 256-colour trailer sits at the very end, after the byte 12.
  const int64_t end = stream.Size();
  const int64_t dataStart = start + 128;
  bool trailer = false;
  uint8_t trailerColours[768];
  if (format == pf8bit && end - dataStart >= 769) {
    stream.SetPosition(end - 769);
    uint8_t marker = 0;
    stream.ReadBuffer(&marker, 1);
    if (marker == 12) {
      trailer = true;
      stream.ReadBuffer(trailerColours, 768);
    }
    stream.SetPosition(dataStart);
  }
  const int64_t dataSize = std::max<int64_t>(end - dataStart - (trailer ? 769 : 0), 0);
  const int64_t lineSize = int64_t(planes) * h.BytesPerLine;
  const int64_t total = lineSize * height;
  const bool encoded = h.Encoding == 1;
  // Two bytes of a run give at most 63; stored data gives what it is.
  const int64_t reachable = encoded ? dataSize / 2 * 63 + dataSize % 2 : dataSize;
  if (total > reachable) refuse(kPcxInvalidImage, "the data cannot fill the rows");

  std::vector<uint8_t> data(static_cast<size_t>(dataSize));
  stream.ReadBuffer(data.data(), dataSize);
  std::vector<uint8_t> buffer(static_cast<size_t>(total), 0);
  if (encoded) {
    // A file cut short leaves rows the runs never reached: not a picture.
    TPCXRLEDecoder decoder;
    decoder.Decode(data.data(), buffer.data(), total, dataSize);
    if (decoder.Written() < total) refuse(kPcxInvalidImage, "the rows are cut short");
  } else std::memcpy(buffer.data(), data.data(), static_cast<size_t>(total));

  TBitmap work;
  work.SetPixelFormat(format);
  work.SetSize(width, height);
  if (format != pf24bit && format != pf32bit) {
    HPALETTE palette = nullptr;
    if (h.Version == 3 && format != pf1bit) palette = PaletteOf(DefaultColorTable(4));
    else if (format == pf1bit) palette = cm.MakeGrayPalette(false);
    else if (format == pf4bit && h.PaletteInfo != 2) palette = cm.MakeColorPalette({h.ColorMap}, 0, false, 16);
    else if (format == pf4bit) palette = cm.MakeGrayPalette(false);
    else if (trailer) palette = cm.MakeColorPalette({trailerColours}, 0, false, 256);
    else if (h.PaletteInfo == 2) palette = cm.MakeGrayPalette(false);
    if (palette) work.SetPalette(palette);
  }

  Progress(this, psEnding, 0, false, TRect{}, "");
  Progress(this, psStarting, 0, false, TRect{}, "Transfering...");
  const int bpl = h.BytesPerLine;
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = buffer.data() + static_cast<size_t>(y) * lineSize;
    auto* row = static_cast<uint8_t*>(work.ScanLine(y));
    if (bitPlanes) {
      // Plane k gives bit k of the pixel's index.
      std::memset(row, 0, static_cast<size_t>((width * 4 + 7) / 8));
      for (int x = 0; x < width; ++x) {
        int v = 0;
        for (int k = planes - 1; k >= 0; --k) v = v << 1 | ((line[k * bpl + x / 8] >> (7 - x % 8)) & 1);
        row[x / 2] |= static_cast<uint8_t>(x % 2 ? v : v << 4);
      }
    } else if (format == pf24bit || format == pf32bit) {
      std::vector<const void*> planePointers;
      for (int k = 0; k < planes; ++k) planePointers.push_back(line + k * bpl);
      cm.ConvertRow(planePointers, row, width, 0xFF);
    } else {
      cm.ConvertRow({line}, row, width, 0xFF);
    }
    Progress(this, psRunning, static_cast<uint8_t>(int64_t(y) * 100 / height), true, TRect{0, y, width, y + 1}, "");
  }
  TBitmap::Assign(&work);
  Progress(this, psEnding, 100, false, TRect{}, "");
}

void TPCXImage::SaveToStream(TStream& stream) { throw EInvalidGraphic(kPcxCannotSave); }

// Opening a .pcx file through the picture registry makes this class; the
// registration is taken back when the program ends.
namespace {
struct TPcxRegistration {
  TPcxRegistration() { TPicture::RegisterFileFormat("pcx", "PCX Image", TGraphicClass::Of<TPCXImage>()); }
  ~TPcxRegistration() { TPicture::UnregisterGraphicClass(TGraphicClass::Of<TPCXImage>()); }
} pcxRegistration;
}  // namespace
