// The PNG picture and the clipboard: a DIB and the PNG stream itself go out;
// a bitmap or any format holding PNG data comes in.
#include <cstring>
#include <vector>

#include "base/rus_clipboard.h"
#include "pictures/png/png_image.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

// The name other programs use for PNG data on the clipboard.
constexpr const char* kPngClipboardFormatName = "PNG";

// Copies bytes into a new moveable global block; null when none can be had.
HGLOBAL NewGlobalBlock(const void* bytes, size_t count) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, count);
  if (!block) return nullptr;
  void* p = GlobalLock(block);
  if (!p) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(p, bytes, count);
  GlobalUnlock(block);
  return block;
}

// Closes the shared clipboard when the scope ends.
struct TClipboardSession {
  explicit TClipboardSession(int tries) { SharedClipboard().OpenWithRetries(tries); }
  ~TClipboardSession() { SharedClipboard().Close(); }
  TClipboardSession(const TClipboardSession&) = delete;
  TClipboardSession& operator=(const TClipboardSession&) = delete;
};

// The data of a format on the open clipboard, or nothing.
bool ClipboardBytes(UINT format, size_t atMost, std::vector<uint8_t>& out) {
  HANDLE data = GetClipboardData(format);
  if (!data) return false;
  const size_t size = GlobalSize(data);
  const void* p = GlobalLock(data);
  if (!p) return false;
  const size_t n = std::min(size, atMost);
  out.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  GlobalUnlock(data);
  return true;
}

bool BeginsWithSignature(const std::vector<uint8_t>& bytes) {
  return bytes.size() > 16 && std::memcmp(bytes.data(), kPngSignature, 8) == 0;
}

UINT gRememberedPngFormat = 0;

}  // namespace

void TPNGImage::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) {
  if (format != CF_BITMAP) return;
  TBitmap bitmap;
  bitmap.LoadFromClipboardFormat(format, data, palette);
  Assign(&bitmap);
}

HANDLE TPNGImage::MakePackedDib() {
  const TChunkIHDR* header = Header();
  if (!header || !header->ImageBits()) return nullptr;
  const int width = header->Width(), height = header->Height();
  std::vector<uint8_t> dib;
  if (!HasAlphaData()) {
    const int bits = header->BitmapInfo().bmiHeader.biBitCount;
    const int colors = bits <= 8 ? 1 << bits : 0;
    const size_t image = size_t(header->BytesPerRow()) * size_t(height);
    dib.resize(sizeof(BITMAPINFOHEADER) + size_t(colors) * 4 + image);
    BITMAPINFOHEADER h = header->BitmapInfo().bmiHeader;
    h.biSizeImage = DWORD(image);
    std::memcpy(dib.data(), &h, sizeof(h));
    std::memcpy(dib.data() + sizeof(h), header->BitmapInfo().bmiColors, size_t(colors) * 4);
    std::memcpy(dib.data() + sizeof(h) + size_t(colors) * 4, header->ImageBits(), image);
  } else {
    // Alpha goes out as 32-bit pixels with straight alpha in the fourth byte.
    TBitmap bitmap;
    AssignToBitmap(&bitmap);
    if (bitmap.PixelFormat() != pf32bit) {
      ExtractBitmapAndMask(&bitmap, nullptr, 0);
      if (bitmap.PixelFormat() != pf32bit) bitmap.SetPixelFormat(pf32bit);
    }
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = 32;
    h.biSizeImage = DWORD(size_t(width) * height * 4);
    dib.resize(sizeof(h) + h.biSizeImage);
    std::memcpy(dib.data(), &h, sizeof(h));
    for (int y = 0; y < height; y++)
      std::memcpy(dib.data() + sizeof(h) + size_t(height - 1 - y) * width * 4, bitmap.ScanLine(y),
                  size_t(width) * 4);
  }
  return NewGlobalBlock(dib.data(), dib.size());
}

void TPNGImage::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) {
  format = CF_DIB;
  palette = nullptr;
  data = MakePackedDib();
  if (!data) return;
  // The PNG stream keeps what a DIB cannot carry for every reader (alpha, the
  // palette's transparency); it can only go straight onto an open clipboard.
  TMemoryStream stream;
  SaveToStream(stream);
  HGLOBAL png = NewGlobalBlock(stream.Memory(), size_t(stream.Size()));
  if (png && !SetClipboardData(RegisterClipboardFormat(kPngClipboardFormatName), png)) GlobalFree(png);
}

UINT FindClipboardPNGFormat() {
  if (gRememberedPngFormat != 0 && IsClipboardFormatAvailable(gRememberedPngFormat)) {
    TClipboardSession session(5);
    std::vector<uint8_t> head;
    if (ClipboardBytes(gRememberedPngFormat, 17, head) && BeginsWithSignature(head)) return gRememberedPngFormat;
  }
  std::vector<UINT> formats;
  {
    TClipboardSession session(5);
    for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) formats.push_back(f);
  }
  for (UINT f : formats) {
    if (!IsClipboardFormatAvailable(f)) continue;
    TClipboardSession session(4);
    std::vector<uint8_t> head;
    if (ClipboardBytes(f, 17, head) && BeginsWithSignature(head)) {
      gRememberedPngFormat = f;
      return f;
    }
  }
  return 0;
}

bool LoadPNGFromClipboard(TPNGImage& picture) {
  try {
    const UINT format = FindClipboardPNGFormat();
    if (format == 0) return false;
    std::vector<uint8_t> bytes;
    {
      TClipboardSession session(5);
      if (!ClipboardBytes(format, SIZE_MAX, bytes)) return false;
    }
    if (bytes.size() < 17) return false;
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    picture.LoadFromStream(stream);
    return true;
  } catch (const Exception&) {
    return false;
  }
}
