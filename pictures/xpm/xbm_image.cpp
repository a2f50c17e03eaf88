#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/toolbox/bitmap_utils.h"
#include "pictures/common/mono_bitmap.h"
#include "pictures/xpm/xpm_image.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"

namespace {

bool IsTokenChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == 'x' || c == 'X';
}

// A token "0x" and hexadecimal digits as a number (its low 16 bits count).
uint16_t TokenValue(const std::string& text, size_t start, size_t end) {
  if (end - start >= 2 && text[start] == '0' && (text[start + 1] == 'x' || text[start + 1] == 'X')) start += 2;
  uint32_t v = 0;
  for (size_t i = start; i < end; ++i) {
    const char c = text[i];
    const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    if (d >= 0 && d < 16) v = v << 4 | static_cast<uint32_t>(d);
  }
  return static_cast<uint16_t>(v);
}

[[noreturn]] void RefuseXbm(const char* message, const char* reason, std::string* refusal) {
  if (refusal) *refusal = reason;
  throw Exception(message);
}

void WriteTextFile(const std::string& fileName, const std::string& text) {
  TFileStream file(fileName, fmCreate);
  file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

}  // namespace

void ReadXbmFile(const std::string& fileName, TBitmap* bitmap, int32_t& hotX, int32_t& hotY, std::string* refusal) {
  std::string text;
  {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = file.Size();
    if (size == 0) RefuseXbm(kXpmZeroFile, "an empty file", refusal);
    text.resize(static_cast<size_t>(size));
    file.ReadBuffer(text.data(), size);
  }
  std::string flat;
  flat.reserve(text.size());
  for (char c : text) {
    if (c == '\t') flat += ' ';
    else if (static_cast<unsigned char>(c) >= 32) flat += c;
  }
  text = RemoveComments(flat);

  auto numberAfter = [&](const char* keyword) -> int64_t {
    const size_t at = text.find(keyword);
    return at == std::string::npos ? 0 : ReadNumberAfter(at + std::strlen(keyword), text);
  };
  const int64_t width = numberAfter("_width "), height = numberAfter("_height ");
  hotX = static_cast<int32_t>(std::min<int64_t>(numberAfter("_x_hot "), INT32_MAX));
  hotY = static_cast<int32_t>(std::min<int64_t>(numberAfter("_y_hot "), INT32_MAX));
  if (height <= 0 || height > 65535 || width <= 0 || width > 65534)
    RefuseXbm(kXpmErr4, "a size missing or outside 1..65534 x 1..65535", refusal);

  const size_t bits = text.find("_bits[]");
  if (bits == std::string::npos) RefuseXbm(kXpmErr4, "no bits array", refusal);
  // The X10 form declares its array of shorts: 16 pixels a value, low byte
  // first, rows padded to whole values.
  size_t typeEnd = bits;
  while (typeEnd > 0 && (std::isalnum(static_cast<unsigned char>(text[typeEnd - 1])) || text[typeEnd - 1] == '_'))
    --typeEnd;
  while (typeEnd > 0 && text[typeEnd - 1] == ' ') --typeEnd;
  const bool x10 = typeEnd >= 5 && text.compare(typeEnd - 5, 5, "short") == 0;
  const int valueBytes = x10 ? 2 : 1;
  const int64_t pixelBytes = (width + 7) / 8;
  const int64_t rowBytes = x10 ? (width + 15) / 16 * 2 : pixelBytes;
  const int64_t needed = rowBytes * height;
  // A value takes at least a digit and a separator: a text that cannot hold
  // them all is refused before the buffer is made.
  if (static_cast<int64_t>(text.size() - bits - 7) / 2 < needed / valueBytes)
    RefuseXbm(kXpmErr4, "the text cannot hold the rows", refusal);

  std::vector<uint8_t> buffer(static_cast<size_t>(needed), 0);
  size_t next = 0;
  size_t start = std::string::npos;
  for (size_t i = bits + 7; i < text.size(); ++i) {
    if (IsTokenChar(text[i])) {
      if (start == std::string::npos) start = i;
      continue;
    }
    if (start == std::string::npos) {
      if (text[i] == '}') break;  // the array ends; what follows is not its data
      continue;
    }
    if (next + valueBytes > buffer.size()) RefuseXbm(kXpmErr5, "more bytes than the rows hold", refusal);
    const uint16_t value = TokenValue(text, start, i);
    for (int k = 0; k < valueBytes; ++k)
      buffer[next++] = ReverseBits8(static_cast<uint8_t>(~(value >> (8 * k))));
    start = std::string::npos;
    if (text[i] == '}') break;
  }
  // Too few values is as wrong as too many: the missing rows are not there.
  if (next < buffer.size()) RefuseXbm(kXpmErr5, "fewer bytes than the rows hold", refusal);

  MakeMonochrome(bitmap);
  ResizeAndFill(bitmap, static_cast<int>(width), static_cast<int>(height), 0);
  for (int y = 0; y < height; ++y)
    std::memcpy(bitmap->ScanLine(y), buffer.data() + static_cast<size_t>(y) * rowBytes, static_cast<size_t>(pixelBytes));
}

std::string XbmText(TBitmap* bitmap, const std::string& name, bool mask, int32_t hotX, int32_t hotY,
                    bool* transparent) {
  std::unique_ptr<TBitmap> mono = BlackAndWhiteCopy(bitmap);
  const int w = mono->Width(), h = mono->Height();
  std::string text = "#define " + name + "_width " + std::to_string(w) + "\n#define " + name + "_height " +
                     std::to_string(h);
  if (hotX != -1)
    text += "\n#define " + name + "_x_hot " + std::to_string(hotX) + "\n#define " + name + "_y_hot " +
            std::to_string(hotY);
  text += "\nstatic char " + name + (mask ? "_mask_bits" : "_bits") + "[] = {\n  ";
  if (transparent) *transparent = false;
  const int rowBytes = (w + 7) / 8;
  // Bits past the width are left clear (white, or transparent in a mask).
  const uint8_t lastMask = static_cast<uint8_t>(w % 8 ? 0xFF << (8 - w % 8) : 0xFF);
  int count = 0;
  char buffer[8];
  for (int y = 0; y < h; ++y) {
    const auto* row = static_cast<const uint8_t*>(mono->ScanLine(y));
    for (int i = 0; i < rowBytes; ++i) {
      const uint8_t keep = i == rowBytes - 1 ? lastMask : 0xFF;
      const uint8_t value = ReverseBits8(static_cast<uint8_t>(~row[i] & keep));
      if (transparent && value != ReverseBits8(keep)) *transparent = true;
      if (count > 0 && count % 12 == 0) text += "\n  ";
      std::snprintf(buffer, sizeof buffer, "0x%.2x,", value);
      text += buffer;
      ++count;
    }
  }
  if (count > 0) text.back() = '\n';
  else text += '\n';
  text += "};";
  return text;
}

TXBMImage::TXBMImage() { MakeMonochrome(this); }
TXBMImage::~TXBMImage() = default;

void TXBMImage::Assign(TPersistent* source) {
  if (auto* xbm = dynamic_cast<TXBMImage*>(source)) {
    if (xbm->MaskBitmap) {
      auto mask = NewMonoBitmap();
      mask->Assign(xbm->MaskBitmap.get());
      MaskBitmap = std::move(mask);
    } else {
      MaskBitmap.reset();
    }
    XbmName = xbm->XbmName;
    HotSpotX = xbm->HotSpotX;
    HotSpotY = xbm->HotSpotY;
  }
  TBitmap::Assign(source);
}

void TXBMImage::Draw(TCanvas* canvas, const TRect& rect) {
  if (!MaskBitmap) {
    TBitmap::Draw(canvas, rect);
    return;
  }
  if (!canvas || Empty()) return;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  StretchBlt(canvas->Handle(), rect.left, rect.top, w, h, MaskBitmap->Canvas()->Handle(), 0, 0, MaskBitmap->Width(),
             MaskBitmap->Height(), SRCAND);
  StretchBlt(canvas->Handle(), rect.left, rect.top, w, h, Canvas()->Handle(), 0, 0, Width(), Height(), SRCINVERT);
}

namespace {
void InvertUnderMask(TBitmap* picture, TBitmap* mask) {
  TMaskPixels m(mask), p(picture);
  const int w = std::min(picture->Width(), mask->Width()), h = std::min(picture->Height(), mask->Height());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (m.IsWhite(x, y)) p.Set(x, y, !p.IsWhite(x, y));
}
}  // namespace

void TXBMImage::ApplyMaskInversion() {
  if (MaskBitmap) InvertUnderMask(this, MaskBitmap.get());
}

void TXBMImage::LoadFromFile(const std::string& fileName) {
  const std::string maskName = fileName + ".mask";
  std::unique_ptr<TBitmap> picture = NewMonoBitmap(), mask;
  int32_t hotX = 0, hotY = 0;
  FLastRefusal.clear();
  if (FileExists(maskName)) {
    mask = NewMonoBitmap();
    int32_t maskX = 0, maskY = 0;
    ReadXbmFile(maskName, mask.get(), maskX, maskY, &FLastRefusal);
    ReadXbmFile(fileName, picture.get(), hotX, hotY, &FLastRefusal);
    InvertUnderMask(picture.get(), mask.get());
  } else {
    ReadXbmFile(fileName, picture.get(), hotX, hotY, &FLastRefusal);
  }
  TBitmap::Assign(picture.get());
  MaskBitmap = std::move(mask);
  HotSpotX = hotX;
  HotSpotY = hotY;
}

void TXBMImage::SaveToFile(const std::string& fileName) {
  const std::string maskName = fileName + ".mask";
  XbmName = MakeCIdentifier(XbmName);
  // The picture itself is never changed: the masked pixels are inverted in a copy.
  std::unique_ptr<TBitmap> picture = BlackAndWhiteCopy(this);
  bool transparent = false;
  if (MaskBitmap) {
    InvertUnderMask(picture.get(), MaskBitmap.get());
    const std::string maskText = XbmText(MaskBitmap.get(), XbmName, true, HotSpotX, HotSpotY, &transparent);
    if (transparent) WriteTextFile(maskName, maskText);
  }
  WriteTextFile(fileName, XbmText(picture.get(), XbmName, false, HotSpotX, HotSpotY));
  if (!transparent && FileExists(maskName)) DeleteFile(maskName);
}

// The registry opens .xbm files with TXBMImage and .xpm files with TXPMImage;
// both are taken back when the program ends.
namespace {
struct TXpmRegistration {
  TXpmRegistration() {
    TPicture::RegisterFileFormat("xbm", "X Bitmap", TGraphicClass::Of<TXBMImage>());
    TPicture::RegisterFileFormat("xpm", "X Pixmap", TGraphicClass::Of<TXPMImage>());
  }
  ~TXpmRegistration() {
    TPicture::UnregisterGraphicClass(TGraphicClass::Of<TXPMImage>());
    TPicture::UnregisterGraphicClass(TGraphicClass::Of<TXBMImage>());
  }
} xpmRegistration;
}  // namespace
