#include "pictures/png/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "pictures/png/png_image.h"
#include "platform/rtl/rounding.h"

// ---------------------------------------------------------------- errors

std::string PngZlibCodeText(int code) {
  switch (code) {
    case 0: return "(0)";
    case 1: return "stream end (1)";
    case 2: return "need dictionary (2)";
    case -1: return "file error (-1)";
    case -2: return "stream error (-2)";
    case -3: return "data error (-3)";
    case -4: return "insufficient memory (-4)";
    case -5: return "buffer error (-5)";
    case -6: return "incompatible version (-6)";
    default: return "(" + std::to_string(code) + ")";
  }
}

void RaisePngZlibError(int code) {
  throw EPNGZLIBError(std::string(EPNGZLIBError().Message()) + "\r\n Description: " + PngZlibCodeText(code));
}

// ---------------------------------------------------------------- CRC

uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t count) {
  // zlib's crc32 is this very CRC with the pre- and post-complement built in;
  // its table-driven code is several times faster than a byte loop.
  if (count == 0) return crc;
  return ~static_cast<uint32_t>(crc32_z(~crc, static_cast<const Bytef*>(bytes), count));
}

uint32_t ChunkCrc(const char* name, const void* data, size_t count) {
  uint32_t crc = Crc32Update(0xFFFFFFFFu, name, 4);
  return ~Crc32Update(crc, data, count);
}

TChunkName MakeChunkName(const char* text) {
  TChunkName n{};
  std::memcpy(n.data(), text, 4);
  return n;
}

// ---------------------------------------------------------------- buffer

void TPngBuffer::Allocate(size_t size) {
  Release();
  FData = NewSharedBits(size);
  if (!FData) throw EPNGOutMemory();
  FSize = size;
}

void TPngBuffer::Release() {
  FData.reset();
  FSize = 0;
}

uint8_t* TPngBuffer::Own() {
  if (SharedWithOthers(FData)) {
    TSharedBits own = CopySharedBits(FData, FSize);
    if (!own) throw EPNGOutMemory();
    FData = std::move(own);
  }
  return FData.get();
}

// ---------------------------------------------------------------- TChunk

TChunk::TChunk(TPNGImage* owner) : TChunk(owner, "") {}

TChunk::TChunk(TPNGImage* owner, const char* className) : FOwnerImage(owner) {
  if (std::strlen(className) == 4) FChunkName = MakeChunkName(className);
  SetDataSize(0);
}

TChunk::~TChunk() { std::free(FPayload); }

std::unique_ptr<TChunk> TChunk::NewSameClass(TPNGImage* owner) const { return std::make_unique<TChunk>(owner); }

void TChunk::SetDataSize(int32_t n) {
  if (n < 0) n = 0;
  // One spare byte keeps the buffer valid (and a text chunk terminable) when empty.
  auto* p = static_cast<uint8_t*>(std::realloc(FPayload, size_t(n) + 1));
  if (!p) throw EPNGOutMemory();
  FPayload = p;
  FPayloadSize = n;
}

TChunkIHDR* TChunk::OwnerHeader() const { return FOwnerImage ? FOwnerImage->Header() : nullptr; }

void TChunk::Assign(TChunk* source) {
  FChunkName = source->FChunkName;
  SetDataSize(source->FPayloadSize);
  if (FPayloadSize > 0) std::memcpy(FPayload, source->FPayload, size_t(FPayloadSize));
}

bool TChunk::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  // The picture's reader checks the length against the stream; a direct caller
  // gets the same protection here.
  if (length < 0 || int64_t(length) + 4 > stream.Remaining()) throw EPngInvalidCRC();
  SetDataSize(length);
  if (length > 0) stream.ReadBuffer(FPayload, length);
  uint8_t stored[4];
  stream.ReadBuffer(stored, 4);
  if (ReadBE32(stored) != ChunkCrc(name.data(), FPayload, size_t(length))) throw EPngInvalidCRC();
  return true;
}

void TChunk::WriteChunk(TStream& stream, const void* data, int32_t count) {
  uint8_t head[8];
  WriteBE32(head, uint32_t(count));
  std::memcpy(head + 4, FChunkName.data(), 4);
  stream.WriteBuffer(head, 8);
  if (count > 0) stream.WriteBuffer(data, count);
  uint8_t crc[4];
  WriteBE32(crc, ChunkCrc(FChunkName.data(), data, size_t(count)));
  stream.WriteBuffer(crc, 4);
}

bool TChunk::SaveToStream(TStream& stream) {
  WriteChunk(stream, FPayload, FPayloadSize);
  return true;
}

// ---------------------------------------------------------------- IHDR

int TChunkIHDR::DibBitsFor(uint8_t colorType, uint8_t bitDepth) {
  switch (colorType) {
    case 0:
    case 3:
    case 4:
      switch (bitDepth) {
        case 1: return 1;
        case 2:
        case 4: return 4;  // 2-bit samples live in 4-bit pixels
        case 8:
        case 16: return 8;  // 16-bit samples keep their high byte
        default: return 0;
      }
    case 2:
    case 6: return (bitDepth == 8 || bitDepth == 16) ? 24 : 0;
    default: return 0;
  }
}

bool TChunkIHDR::ValidColorAndDepth(uint8_t colorType, uint8_t bitDepth) {
  switch (colorType) {
    case 0: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case 3: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case 2:
    case 4:
    case 6: return bitDepth == 8 || bitDepth == 16;
    default: return false;
  }
}

void TChunkIHDR::FreeImage() {
  FImage.Release();
  FAlpha.Release();
}

void TChunkIHDR::PrepareImage() {
  FBitmapInfo = TPngBitmapInfo{};
  FBitmapInfo.bmiHeader.biSize = 0;
  FBitmapInfo.bmiHeader.biPlanes = 0;
  FreeImage();
  FBytesPerRow = 0;
  FHasPalette = false;
  const int bits = DibBitsFor(FColorType, FBitDepth);
  if (bits == 0 || FWidth < 0 || FHeight < 0) return;

  const int64_t rowBytes = DibRowBytes(FWidth, bits);
  const bool hasAlpha = FColorType == 4 || FColorType == 6;
  const int64_t total = rowBytes * FHeight + (hasAlpha ? int64_t(FWidth) * FHeight : 0);
  if (rowBytes > INT32_MAX || total > kPngMaxImageBytes) throw EPNGOutMemory();

  BITMAPINFOHEADER& h = FBitmapInfo.bmiHeader;
  h.biSize = 40;
  h.biWidth = FWidth;
  h.biHeight = FHeight;  // positive: the DIB is bottom-up
  h.biPlanes = 1;
  h.biBitCount = WORD(bits);
  h.biCompression = BI_RGB;
  FHasPalette = FColorType == 0 || FColorType == 3 || FColorType == 4;
  FBytesPerRow = int32_t(rowBytes);
  if (hasAlpha) FAlpha.Allocate(size_t(FWidth) * size_t(FHeight));
  FImage.Allocate(size_t(rowBytes) * size_t(FHeight));
}

void TChunkIHDR::NewAlphaPlane() { FAlpha.Allocate(size_t(FWidth) * size_t(FHeight)); }

bool TChunkIHDR::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunk::LoadFromStream(stream, name, length);
  if (PayloadSize() < 13) throw EPngInvalidIHDR();
  const uint8_t* p = Payload();
  const uint32_t width = ReadBE32(p);
  const uint32_t height = ReadBE32(p + 4);
  if (width > 65535 || height > 65535) throw EPNGSizeExceeds();
  FWidth = int32_t(width);
  FHeight = int32_t(height);
  FBitDepth = p[8];
  FColorType = p[9];
  FCompressionMethod = p[10];
  FFilterMethod = p[11];
  FInterlaceMethod = p[12];
  if (FCompressionMethod != 0) throw EPNGUnknownCompression();
  if (FInterlaceMethod > 1) throw EPNGUnknownInterlace();
  // An empty image, or a colour type and depth the format does not define,
  // has no pixels to decode.
  if (FWidth == 0 || FHeight == 0 || !ValidColorAndDepth(FColorType, FBitDepth)) throw EPngInvalidIHDR();
  if (OwnerImage()) OwnerImage()->SetInterlaceMode(FInterlaceMethod);
  PrepareImage();
  return true;
}

bool TChunkIHDR::SaveToStream(TStream& stream) {
  // 2-bit samples are held as 4-bit DIB pixels and written as 4-bit samples.
  if (FBitDepth == 2) FBitDepth = 4;
  uint8_t d[13];
  WriteBE32(d, uint32_t(FWidth));
  WriteBE32(d + 4, uint32_t(FHeight));
  d[8] = FBitDepth;
  d[9] = FColorType;
  d[10] = FCompressionMethod;
  d[11] = FFilterMethod;
  d[12] = OwnerImage() ? OwnerImage()->InterlaceMode() : FInterlaceMethod;
  WriteChunk(stream, d, 13);
  return true;
}

void TChunkIHDR::Assign(TChunk* source) {
  auto* src = dynamic_cast<TChunkIHDR*>(source);
  if (!src) throw EPngError();
  TChunk::Assign(source);
  FWidth = src->FWidth;
  FHeight = src->FHeight;
  FBitDepth = src->FBitDepth;
  FColorType = src->FColorType;
  FCompressionMethod = src->FCompressionMethod;
  FFilterMethod = src->FFilterMethod;
  FInterlaceMethod = src->FInterlaceMethod;
  PrepareImage();
  if (FImage.Data() && src->FImage.Data())
    std::memcpy(FImage.Own(), src->FImage.Data(), std::min(FImage.Size(), src->FImage.Size()));
  if (FAlpha.Data() && src->FAlpha.Data())
    std::memcpy(FAlpha.Own(), src->FAlpha.Data(), std::min(FAlpha.Size(), src->FAlpha.Size()));
  std::memcpy(FBitmapInfo.bmiColors, src->FBitmapInfo.bmiColors, sizeof(FBitmapInfo.bmiColors));
}

// ---------------------------------------------------------------- PLTE

bool TChunkPLTE::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunk::LoadFromStream(stream, name, length);
  if (PayloadSize() % 3 != 0 || PayloadSize() / 3 > 256) throw EPNGInvalidPalette();
  FCount = PayloadSize() / 3;
  TChunkIHDR* header = OwnerHeader();
  if (!header) return true;
  const uint8_t* p = Payload();
  for (int i = 0; i < FCount; i++) {
    RGBQUAD& c = header->BitmapInfo().bmiColors[i];
    c.rgbRed = p[i * 3];
    c.rgbGreen = p[i * 3 + 1];
    c.rgbBlue = p[i * 3 + 2];
    c.rgbReserved = 0;
  }
  return true;
}

bool TChunkPLTE::SaveToStream(TStream& stream) {
  uint8_t d[768];
  TChunkIHDR* header = OwnerHeader();
  const int count = std::clamp(FCount, 0, 256);
  for (int i = 0; i < count; i++) {
    const RGBQUAD c = header ? header->BitmapInfo().bmiColors[i] : RGBQUAD{};
    d[i * 3] = c.rgbRed;
    d[i * 3 + 1] = c.rgbGreen;
    d[i * 3 + 2] = c.rgbBlue;
  }
  WriteChunk(stream, d, count * 3);
  return true;
}

void TChunkPLTE::Assign(TChunk* source) {
  auto* src = dynamic_cast<TChunkPLTE*>(source);
  if (!src) throw EPngError();
  FCount = src->FCount;
}

uint32_t TChunkPLTE::PaletteEntry(int index) const {
  TChunkIHDR* header = OwnerHeader();
  if (index < 0 || index > FCount - 1 || index > 255 || !header) throw EPngError(kPngNoPaletteEntryText);
  const RGBQUAD& c = header->BitmapInfo().bmiColors[index];
  return uint32_t(c.rgbBlue) | (uint32_t(c.rgbGreen) << 8) | (uint32_t(c.rgbRed) << 16);
}

// ---------------------------------------------------------------- gAMA

TChunkgAMA::TChunkgAMA(TPNGImage* owner) : TChunk(owner, "gAMA") { SetGammaValue(1); }

uint32_t TChunkgAMA::GammaValue() {
  if (PayloadSize() != 4) {
    SetGammaValue(1);
    return 1;
  }
  return ReadBE32(Payload());
}

void TChunkgAMA::SetGammaValue(uint32_t v) {
  SetDataSize(4);
  WriteBE32(Payload(), v);
}

bool TChunkgAMA::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunk::LoadFromStream(stream, name, length);
  const uint32_t value = GammaValue();
  TPNGImage* owner = OwnerImage();
  if (value == 0 || !owner) return true;
  const double exponent = 1.0 / (value / 100000.0 * 2.2);
  for (int i = 0; i < 256; i++) {
    const int g = int(Round(255.0 * std::pow(i / 255.0, exponent)));
    const uint8_t gb = uint8_t(std::clamp(g, 0, 255));
    owner->DecodeGamma[i] = gb;
    owner->EncodeGamma[gb] = uint8_t(i);
  }
  return true;
}

void TChunkgAMA::Assign(TChunk* source) {
  auto* src = dynamic_cast<TChunkgAMA*>(source);
  if (!src) throw EPngError();
  SetGammaValue(src->GammaValue());
}

// ---------------------------------------------------------------- tRNS

TChunktRNS::TChunktRNS(TPNGImage* owner) : TChunk(owner, "tRNS") { std::memset(FAlpha, 255, sizeof(FAlpha)); }

bool TChunktRNS::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunk::LoadFromStream(stream, name, length);
  TChunkIHDR* header = OwnerHeader();
  if (header && header->ColorType() == 3) {
    std::memset(FAlpha, 255, sizeof(FAlpha));
    FCount = std::min(PayloadSize(), 256);
    std::memcpy(FAlpha, Payload(), size_t(FCount));
  }
  return true;
}

bool TChunktRNS::SaveToStream(TStream& stream) {
  TChunkIHDR* header = OwnerHeader();
  if (header && header->ColorType() == 3) {
    const int count = std::clamp(FCount, 0, 256);
    SetDataSize(count);
    std::memcpy(Payload(), FAlpha, size_t(count));
  }
  return TChunk::SaveToStream(stream);
}

void TChunktRNS::Assign(TChunk* source) {
  TChunk::Assign(source);
  if (auto* src = dynamic_cast<TChunktRNS*>(source)) {
    FCount = src->FCount;
    std::memcpy(FAlpha, src->FAlpha, sizeof(FAlpha));
  }
}

bool TChunktRNS::HasTransparentEntry() const {
  for (uint8_t a : FAlpha)
    if (a != 255) return true;
  return false;
}

// ---------------------------------------------------------------- tIME

bool TChunktIME::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunk::LoadFromStream(stream, name, length);
  if (PayloadSize() == 7) {
    const uint8_t* p = Payload();
    std::memcpy(&Year, p, 2);
    Month = p[2];
    Day = p[3];
    Hour = p[4];
    Minute = p[5];
    Second = p[6];
  }
  return true;
}

bool TChunktIME::SaveToStream(TStream& stream) {
  SetDataSize(7);
  uint8_t* p = Payload();
  std::memcpy(p, &Year, 2);
  p[2] = Month;
  p[3] = Day;
  p[4] = Hour;
  p[5] = Minute;
  p[6] = Second;
  return TChunk::SaveToStream(stream);
}

// ---------------------------------------------------------------- tEXt

bool TChunktEXt::LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) {
  TChunk::LoadFromStream(stream, name, length);
  FKeyword.clear();
  FText.clear();
  if (PayloadSize() > 2) {
    const char* p = reinterpret_cast<const char*>(Payload());
    const size_t n = size_t(PayloadSize());
    const void* zero = std::memchr(p, 0, n);
    const size_t k = zero ? size_t(static_cast<const char*>(zero) - p) : n;
    FKeyword.assign(p, k);
    if (k < n) FText.assign(p + k + 1, n - k - 1);
  }
  return true;
}

bool TChunktEXt::SaveToStream(TStream& stream) {
  const std::string data = FKeyword + std::string(1, '\0') + FText;
  if (data.size() > size_t(kPngMaxChunkLength)) throw EPNGOutMemory();
  SetDataSize(int32_t(data.size()));
  std::memcpy(Payload(), data.data(), data.size());
  return TChunk::SaveToStream(stream);
}

void TChunktEXt::Assign(TChunk* source) {
  TChunk::Assign(source);
  if (auto* src = dynamic_cast<TChunktEXt*>(source)) {
    FKeyword = src->FKeyword;
    FText = src->FText;
  }
}

// ---------------------------------------------------------------- list

TChunk* TPNGPointerList::Append(std::unique_ptr<TChunk> chunk) {
  FItems.push_back(std::move(chunk));
  return FItems.back().get();
}

TChunk* TPNGPointerList::GetItem(uint32_t index) const {
  return index < FItems.size() ? FItems[index].get() : nullptr;
}

void TPNGPointerList::SetItem(uint32_t index, std::unique_ptr<TChunk> chunk) {
  if (index < FItems.size()) FItems[index] = std::move(chunk);
}

void TPNGPointerList::TakeOver(TPNGPointerList& other) {
  if (&other == this) return;
  SetCount(0);
  FItems = std::move(other.FItems);
  other.FItems.clear();
  for (auto& chunk : FItems)
    if (chunk) chunk->SetOwnerImage(FOwner);
}

void TPNGPointerList::SetCount(int32_t n) {
  if (n <= 0) {
    // Free from the back: later chunks may look at the header while going.
    while (!FItems.empty()) FItems.pop_back();
    return;
  }
  while (FItems.size() > size_t(n)) FItems.pop_back();
  FItems.resize(size_t(n));
}

// ---------------------------------------------------------------- registry

namespace {

struct TChunkClassEntry {
  std::string name;
  TChunkFactory factory;
};

struct TChunkRegistry {
  std::mutex lock;
  std::vector<TChunkClassEntry> classes;
  bool standardDone = false;
};

TChunkRegistry& Registry() {
  static TChunkRegistry registry;
  return registry;
}

void EnsureStandardClasses() {
  bool needed;
  {
    std::lock_guard<std::mutex> guard(Registry().lock);
    needed = !Registry().standardDone;
    Registry().standardDone = true;
  }
  if (needed) RegisterStandardChunkClasses();
}

}  // namespace

void RegisterChunkClass(const std::string& name, TChunkFactory factory) {
  std::lock_guard<std::mutex> guard(Registry().lock);
  Registry().classes.push_back({name, std::move(factory)});
}

void RegisterStandardChunkClasses() {
  {
    std::lock_guard<std::mutex> guard(Registry().lock);
    Registry().standardDone = true;
  }
  RegisterChunkClass<TChunkIEND>();
  RegisterChunkClass<TChunkIHDR>();
  RegisterChunkClass<TChunkIDAT>();
  RegisterChunkClass<TChunkPLTE>();
  RegisterChunkClass<TChunkgAMA>();
  RegisterChunkClass<TChunktRNS>();
  RegisterChunkClass<TChunktIME>();
  RegisterChunkClass<TChunktEXt>();
}

void ReleaseChunkClasses() {
  std::lock_guard<std::mutex> guard(Registry().lock);
  Registry().classes.clear();
  Registry().standardDone = false;
}

std::unique_ptr<TChunk> NewChunkForName(TPNGImage* owner, const TChunkName& name) {
  EnsureStandardClasses();
  const std::string text = ChunkNameText(name);
  TChunkFactory factory;
  {
    std::lock_guard<std::mutex> guard(Registry().lock);
    for (const auto& entry : Registry().classes)
      if (entry.name == text) {
        factory = entry.factory;
        break;
      }
  }
  std::unique_ptr<TChunk> chunk = factory ? factory(owner) : std::make_unique<TChunk>(owner);
  chunk->SetChunkName(name);
  return chunk;
}
