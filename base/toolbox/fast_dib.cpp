#include "base/toolbox/fast_dib.h"

#include <algorithm>
#include <cstring>

#include "base/toolbox/median_cut.h"
#include "platform/graphics/dib_header.h"

namespace {

// A BMP file's headers: the file header, the DIB header read by the shared
// reader, and up to 256 colours (the rest zero).
struct TBmpHead {
  BITMAPFILEHEADER File;
  TDibHeader Dib;
  RGBQUAD Colors[256] = {};
  int64_t Start = 0;
};

constexpr int kMaxSide = 1 << 15;  // no icon-side picture comes near this

// What these fast bitmaps take on top of what any DIB must be: an info header
// (no core one), a side of at most kMaxSide, and rows uncompressed or in bit
// fields with three masks.
bool ReadBmpHead(TStream& stream, TBmpHead& head) {
  head = TBmpHead{};
  head.Start = stream.Position();
  if (stream.Read(&head.File, sizeof(head.File)) != sizeof(head.File) || head.File.bfType != 0x4D42) return false;
  uint8_t prefix[kDibPrefixBytes];
  const int64_t got = std::max<int64_t>(stream.Read(prefix, sizeof prefix), 0);
  TDibHeader& h = head.Dib;
  if (ReadDibHeader(prefix, static_cast<size_t>(got), h) != drNone || h.core) return false;
  if (h.width <= 0 || h.width > kMaxSide || h.height == 0 || h.height < -kMaxSide || h.height > kMaxSide)
    return false;
  if (h.compression != BI_RGB && h.compression != BI_BITFIELDS) return false;
  if (h.bitCount <= 8) {
    std::vector<RGBQUAD> colours;
    const size_t count = static_cast<size_t>(std::min<uint64_t>(h.tableEntries, 256));
    if (ReadDibColours(prefix, static_cast<size_t>(got), h, count, colours) != drNone) return false;
    std::copy(colours.begin(), colours.end(), head.Colors);
  }
  return true;
}

// Reads the pixel rows of the file and draws them into the section at 1:1.
bool DrawFilePixels(TStream& stream, const TBmpHead& head, HDC dc) {
  const TDibHeader& h = head.Dib;
  const int height = static_cast<int>(h.Rows());
  const int64_t bytes = DibRowBytes(h.width, h.bitCount) * height;
  stream.SetPosition(head.Start + head.File.bfOffBits);
  if (stream.Remaining() < bytes) return false;
  std::vector<uint8_t> pixels(static_cast<size_t>(bytes));
  stream.ReadBuffer(pixels.data(), bytes);
  BITMAPINFOHEADER header;
  header.biWidth = h.width;
  header.biHeight = h.height;
  header.biBitCount = static_cast<WORD>(h.bitCount);
  header.biCompression = h.compression;
  header.biSizeImage = h.sizeImage;
  header.biXPelsPerMeter = h.xPelsPerMeter;
  header.biYPelsPerMeter = h.yPelsPerMeter;
  // At most 256 colours, whatever the file claims.
  header.biClrUsed = std::min<DWORD>(h.clrUsed, 256);
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + sizeof(head.Colors));
  std::memcpy(info.data(), &header, sizeof(header));
  if (h.bitFields)
    std::memcpy(info.data() + sizeof(header), h.masks, 12);
  else
    std::memcpy(info.data() + sizeof(header), head.Colors, sizeof(head.Colors));
  StretchDIBits(dc, 0, 0, h.width, height, 0, 0, h.width, height, pixels.data(),
                reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, SRCCOPY);
  return true;
}

}  // namespace

TFastRGB::TFastRGB(int bitCount) {
  FInfo = {};
  FInfo.Header.biSize = sizeof(BITMAPINFOHEADER);
  FInfo.Header.biPlanes = 1;
  FInfo.Header.biBitCount = static_cast<WORD>(bitCount);
  FInfo.Header.biCompression = BI_RGB;
  FDC = CreateCompatibleDC(nullptr);
}

TFastRGB::~TFastRGB() {
  if (FDC) DeleteDC(FDC);
  if (FSection) DeleteObject(FSection);
}

void TFastRGB::SetSize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  FInfo.Header.biWidth = width;
  FInfo.Header.biHeight = height;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(FDC, reinterpret_cast<const BITMAPINFO*>(&FInfo), DIB_RGB_COLORS, &bits,
                                     nullptr, 0);
  HGDIOBJ old = SelectObject(FDC, section);
  if (FSection && old == FSection) DeleteObject(FSection);
  FSection = section;
  FBits = static_cast<uint8_t*>(bits);
  FWidth = width;
  FHeight = height;
  FStride = static_cast<int>(DibRowBytes(width, FInfo.Header.biBitCount));
  FGap = FStride - width * FInfo.Header.biBitCount / 8;
  FSize = FStride * height;
}

bool TFastBMP::LoadFromBmpStream(TStream& stream) {
  TBmpHead head;
  if (!ReadBmpHead(stream, head)) return false;
  SetSize(head.Dib.width, static_cast<int>(head.Dib.Rows()));
  return FBits && DrawFilePixels(stream, head, FDC);
}

void TFast256::SetSize(int width, int height) {
  TFastRGB::SetSize(width, height);
  ApplyColorTable();
}

void TFast256::ApplyColorTable() {
  if (FSection) SetDIBColorTable(FDC, 0, 256, FInfo.Colors);
}

bool TFast256::LoadFromBmpStream(TStream& stream, int mode, int colourCount) {
  TBmpHead head;
  if (!ReadBmpHead(stream, head)) return false;
  if (head.Dib.bitCount > 8) {
    stream.SetPosition(head.Start);
    TFastBMP full;
    if (!full.LoadFromBmpStream(stream)) return false;
    Quantize(full, mode, colourCount);
    return true;
  }
  SetSize(head.Dib.width, static_cast<int>(head.Dib.Rows()));
  std::memcpy(FInfo.Colors, head.Colors, sizeof(head.Colors));
  ApplyColorTable();
  return FBits && DrawFilePixels(stream, head, FDC);
}

void TFast256::SaveToBmpStream(TStream& stream) {
  BITMAPFILEHEADER file;
  file.bfSize = static_cast<DWORD>(FSize + 1078);
  file.bfOffBits = 1078;
  BITMAPINFOHEADER header = FInfo.Header;
  header.biHeight = std::abs(header.biHeight);
  stream.WriteBuffer(&file, sizeof(file));
  stream.WriteBuffer(&header, sizeof(header));
  stream.WriteBuffer(FInfo.Colors, sizeof(FInfo.Colors));
  if (FBits) stream.WriteBuffer(FBits, FSize);
}

namespace {

TPixelRows MemoryRows(TFastRGB& b) {
  return TPixelRows{b.Bits(), b.Stride(), b.Width(), b.Height()};
}

}  // namespace

void TFast256::LoadGrayFromFastBMP(TFastBMP& source) {
  SetSize(source.Width(), source.Height());
  if (FBits && source.Bits()) GrayQuantize(MemoryRows(source), MemoryRows(*this), FInfo.Colors);
  ApplyColorTable();
}

void TFast256::Quantize(TFastBMP& source, int mode, int colourCount) {
  if (mode == 0) {
    LoadGrayFromFastBMP(source);
    return;
  }
  SetSize(source.Width(), source.Height());
  if (!FBits || !source.Bits()) return;
  // Rows go in memory order, bottom row first, as the error diffusion runs.
  MedianCutQuantize(MemoryRows(source), MemoryRows(*this), FInfo.Colors, mode, colourCount);
  ApplyColorTable();
}
