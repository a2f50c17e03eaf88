#include "pictures/wbmp/wbmp_image.h"

#include <cstring>
#include <vector>

#include "base/toolbox/bitmap_utils.h"
#include "pictures/common/mono_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"

bool ReadWbmpInteger(TStream& stream, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t b;
    if (stream.Read(&b, 1) != 1) return false;
    value = value << 7 | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return false;
}

void WriteWbmpInteger(TStream& stream, uint32_t value) {
  uint8_t bytes[5];
  int n = 0;
  do {
    bytes[n++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  for (int i = n - 1; i >= 0; --i) {
    const uint8_t b = static_cast<uint8_t>(bytes[i] | (i > 0 ? 0x80 : 0));
    stream.WriteBuffer(&b, 1);
  }
}

TWapBitmap::TWapBitmap() : FBitmap(NewMonoBitmap()) {}
TWapBitmap::~TWapBitmap() = default;

void TWapBitmap::Assign(TPersistent* source) {
  if (auto* wap = dynamic_cast<TWapBitmap*>(source)) {
    FBitmap->Assign(wap->FBitmap.get());
    Changed(this);
    return;
  }
  if (!source) {
    FBitmap->Assign(nullptr);
    Changed(this);
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(source); bitmap && bitmap->PixelFormat() == pf1bit) {
    FBitmap->Assign(bitmap);
    Changed(this);
    return;
  }
  TGraphic::Assign(source);
}

void TWapBitmap::AssignTo(TPersistent* dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    bitmap->Assign(FBitmap.get());
    return;
  }
  TGraphic::AssignTo(dest);
}

void TWapBitmap::Draw(TCanvas* canvas, const TRect& rect) {
  if (!canvas || FBitmap->Empty()) return;
  StretchBlt(canvas->Handle(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
             FBitmap->Canvas()->Handle(), 0, 0, FBitmap->Width(), FBitmap->Height(), SRCCOPY);
}

void TWapBitmap::LoadFromStream(TStream& stream) {
  FLastRefusal.clear();
  auto refuse = [this](const char* reason, bool header) {
    FLastRefusal = reason;
    if (header) throw Exception(kWbmpInvalidHeader);
    throw EReadError("Stream read error");
  };
  uint8_t header[2];
  if (stream.Read(header, 2) != 2) refuse("the header is cut short", false);
  if (header[0] != 0) refuse("a type other than 0", true);
  if (header[1] != 0) refuse("extension headers, which are not read", true);
  uint32_t width = 0, height = 0;
  if (!ReadWbmpInteger(stream, width) || !ReadWbmpInteger(stream, height))
    refuse("a size cut short or longer than four bytes", true);
  if (width > kWbmpMaxSide || height > kWbmpMaxSide) refuse("a side above the limit", true);
  const int64_t rowBytes = (int64_t(width) + 7) / 8;
  // Every row must be there before anything is sized: a picture is all or nothing.
  if (rowBytes * height > stream.Remaining()) refuse("the data cannot fill the rows", false);
  std::unique_ptr<TBitmap> bitmap = NewMonoBitmap();
  bitmap->SetSize(static_cast<int>(width), static_cast<int>(height));
  for (uint32_t y = 0; y < height; ++y) stream.ReadBuffer(bitmap->ScanLine(static_cast<int>(y)), rowBytes);
  FBitmap = std::move(bitmap);
  Changed(this);
}

void TWapBitmap::MakeBlackAndWhite() {
  if (!IsBlackAndWhite(FBitmap.get())) FBitmap = BlackAndWhiteCopy(FBitmap.get());
}

void TWapBitmap::SaveToStream(TStream& stream) {
  MakeBlackAndWhite();
  const uint8_t header[2] = {0, 0};
  stream.WriteBuffer(header, 2);
  const int width = FBitmap->Width(), height = FBitmap->Height();
  WriteWbmpInteger(stream, static_cast<uint32_t>(width));
  WriteWbmpInteger(stream, static_cast<uint32_t>(height));
  const int64_t rowBytes = (int64_t(width) + 7) / 8;
  for (int y = 0; y < height; ++y) stream.WriteBuffer(FBitmap->ScanLine(y), rowBytes);
}

void TWapBitmap::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  FBitmap->LoadFromClipboardFormat(format, data, palette);
  Changed(this);
}

void TWapBitmap::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  FBitmap->SaveToClipboardFormat(format, data, palette);
}

// Opening a .wbmp file through the picture registry makes this class; the
// registration is taken back when the program ends.
namespace {
struct TWbmpRegistration {
  TWbmpRegistration() { TPicture::RegisterFileFormat("wbmp", "WAP Bitmap", TGraphicClass::Of<TWapBitmap>()); }
  ~TWbmpRegistration() { TPicture::UnregisterGraphicClass(TGraphicClass::Of<TWapBitmap>()); }
} wbmpRegistration;
}  // namespace
