#include "base/toolbox/fast_dib.h"

#include <algorithm>
#include <cstring>

#include "base/toolbox/median_cut.h"

namespace {

// The BMP headers as one block: the file header and the 1,064-byte info block
// (header and 256 colour entries). Short streams leave the rest zero.
struct TBmpHead {
  BITMAPFILEHEADER File;
  BITMAPINFOHEADER Info;
  RGBQUAD Colors[256];
  int64_t Start = 0;
};

constexpr int kMaxSide = 1 << 15;  // no icon-side picture comes near this

bool ReadBmpHead(TStream& stream, TBmpHead& head) {
  head.File = {};
  head.Info = {};
  std::fill(std::begin(head.Colors), std::end(head.Colors), RGBQUAD{});
  head.Start = stream.Position();
  if (stream.Read(&head.File, sizeof(head.File)) != sizeof(head.File) || head.File.bfType != 0x4D42) return false;
  const int64_t afterFile = stream.Position();
  const int64_t got = stream.Read(&head.Info, sizeof(head.Info) + sizeof(head.Colors));
  if (got < static_cast<int64_t>(sizeof(head.Info)) || head.Info.biSize < sizeof(head.Info)) return false;
  const BITMAPINFOHEADER& h = head.Info;
  if (h.biWidth <= 0 || h.biWidth > kMaxSide || h.biHeight == 0 || h.biHeight < -kMaxSide || h.biHeight > kMaxSide)
    return false;
  if (h.biPlanes != 1 || (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS)) return false;
  switch (h.biBitCount) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return false;
  }
  // The colour table sits right behind a header of biSize bytes.
  if (h.biSize != sizeof(BITMAPINFOHEADER) && h.biBitCount <= 8) {
    std::fill(std::begin(head.Colors), std::end(head.Colors), RGBQUAD{});
    stream.SetPosition(afterFile + h.biSize);
    const int colours = h.biClrUsed ? static_cast<int>(std::min<DWORD>(h.biClrUsed, 256)) : (1 << h.biBitCount);
    stream.Read(head.Colors, colours * 4);
  }
  return true;
}

// Reads the pixel rows of the file and draws them into the section at 1:1.
bool DrawFilePixels(TStream& stream, const TBmpHead& head, HDC dc) {
  const BITMAPINFOHEADER& h = head.Info;
  const int height = std::abs(h.biHeight);
  const int64_t bytes = DibRowBytes(h.biWidth, h.biBitCount) * height;
  stream.SetPosition(head.Start + head.File.bfOffBits);
  if (stream.Remaining() < bytes) return false;
  std::vector<uint8_t> pixels(static_cast<size_t>(bytes));
  stream.ReadBuffer(pixels.data(), bytes);
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + sizeof(head.Colors));
  BITMAPINFOHEADER header = h;
  header.biSize = sizeof(BITMAPINFOHEADER);
  // At most 256 colours, whatever the file claims.
  if (header.biClrUsed > 256) header.biClrUsed = 256;
  std::memcpy(info.data(), &header, sizeof(header));
  std::memcpy(info.data() + sizeof(header), head.Colors, sizeof(head.Colors));
  StretchDIBits(dc, 0, 0, h.biWidth, height, 0, 0, h.biWidth, height, pixels.data(),
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
  SetSize(head.Info.biWidth, std::abs(head.Info.biHeight));
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
  if (head.Info.biBitCount > 8) {
    stream.SetPosition(head.Start);
    TFastBMP full;
    if (!full.LoadFromBmpStream(stream)) return false;
    Quantize(full, mode, colourCount);
    return true;
  }
  SetSize(head.Info.biWidth, std::abs(head.Info.biHeight));
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
