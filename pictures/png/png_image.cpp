#include "pictures/png/png_image.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "platform/graphics/graphics_picture.h"

TPNGImage::TPNGImage() : FChunkList(std::make_unique<TPNGList>(this)) {}

TPNGImage::~TPNGImage() { ClearChunks(); }

namespace {

// Every picture starts with identity tables, twice on loading: copied whole,
// not built a byte at a time.
struct TIdentityTable {
  uint8_t values[256];
  constexpr TIdentityTable() : values() {
    for (int i = 0; i < 256; i++) values[i] = uint8_t(i);
  }
};
constexpr TIdentityTable kIdentityGamma;

}  // namespace

void TPNGImage::ResetGammaTables() {
  std::memcpy(DecodeGamma, kIdentityGamma.values, 256);
  std::memcpy(EncodeGamma, kIdentityGamma.values, 256);
}

void TPNGImage::ClearChunks() {
  ResetGammaTables();
  FChunkList->SetCount(0);
}

TChunkIHDR* TPNGImage::Header() const { return dynamic_cast<TChunkIHDR*>(FChunkList->GetItem(0)); }

int TPNGImage::GetWidth() {
  TChunkIHDR* h = Header();
  return h ? h->Width() : 0;
}

int TPNGImage::GetHeight() {
  TChunkIHDR* h = Header();
  return h ? h->Height() : 0;
}

void TPNGImage::DoSetWidth(int) { throw EPngError(kPngCannotResizeText); }
void TPNGImage::DoSetHeight(int) { throw EPngError(kPngCannotResizeText); }

void TPNGImage::SetIdatBlockSize(uint32_t v) {
  FIdatBlockSize = std::clamp<uint32_t>(v, 65535u, uint32_t(kPngMaxChunkLength));
}

bool TPNGImage::HasAlphaData() const {
  TChunkIHDR* h = Header();
  if (!h) return false;
  switch (h->ColorType()) {
    case 3: {
      TChunktRNS* trns = FChunkList->FirstOfClass<TChunktRNS>();
      return trns && trns->HasTransparentEntry();
    }
    case 4:
    case 6: return true;
    default: return false;
  }
}

uint8_t* TPNGImage::AlphaRow(int row) const {
  TChunkIHDR* h = Header();
  if (!h || (h->ColorType() != 4 && h->ColorType() != 6) || row < 0 || row >= h->Height()) return nullptr;
  return h->AlphaRowOf(row);
}

namespace {

bool IsCritical(const TChunkName& name) { return (name[0] & 0x20) == 0; }

// A chunk whose data and CRC would run past the end of the stream is cut off:
// image data is then missing, any other chunk has lost its CRC.
void CheckChunkFits(TStream& stream, const TChunkName& name, int64_t length) {
  if (length > kPngMaxChunkLength || length + 4 > stream.Remaining()) {
    if (std::memcmp(name.data(), "IDAT", 4) == 0) throw EPNGMissingMultipleIDAT();
    throw EPngInvalidCRC();
  }
}

}  // namespace

void TPNGImage::LoadFromStream(TStream& stream) {
  // Parsed into a picture of its own: a stream that fails half way leaves this
  // one as it was.
  TPNGImage loaded;
  loaded.ReadChunks(stream);
  FChunkList->TakeOver(*loaded.FChunkList);
  std::memcpy(DecodeGamma, loaded.DecodeGamma, 256);
  std::memcpy(EncodeGamma, loaded.EncodeGamma, 256);
  FInterlaceMode = loaded.FInterlaceMode;
  Changed(this);
}

bool DecodePngToBgra(TStream& stream, const TBgraRowsFor& rowsFor) {
  // The kind is in the header, the first chunk: signature, length, "IHDR",
  // width, height, bit depth, colour type.
  const int64_t start = stream.Position();
  uint8_t head[26];
  const bool whole = stream.Read(head, sizeof head) == int64_t(sizeof head);
  stream.SetPosition(start);
  if (!whole || std::memcmp(head, kPngSignature, 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0) return false;
  const uint8_t depth = head[24], colorType = head[25];
  if ((colorType != 2 && colorType != 6) || (depth != 8 && depth != 16)) return false;
  TPNGImage loaded;
  loaded.FBgraRows = &rowsFor;
  try {
    loaded.ReadChunks(stream);
  } catch (const EPngBgraDeclined&) {
    stream.SetPosition(start);
    return false;
  }
  return true;
}

void TPNGImage::ReadChunks(TStream& stream) {
  ClearChunks();
  uint8_t signature[8];
  if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kPngSignature, 8) != 0)
    throw EPNGInvalidFileHeader();

  bool haveImageData = false;
  bool first = true;
  for (;;) {
    uint8_t head[8];
    const int64_t got = stream.Read(head, 8);
    if (got == 0) break;  // a stream may end without IEND
    if (got != 8) throw EPngInvalidCRC();
    const int64_t length = ReadBE32(head);
    TChunkName name;
    std::memcpy(name.data(), head + 4, 4);
    const bool isIdat = std::memcmp(name.data(), "IDAT", 4) == 0;
    const bool isIhdr = std::memcmp(name.data(), "IHDR", 4) == 0;
    if (first && !isIhdr) throw EPNGIHDRNotFirst();
    // A second header would decode against a different image than the first.
    if (!first && isIhdr) throw EPngInvalidIHDR();
    first = false;
    CheckChunkFits(stream, name, length);

    // The first IDAT chunk reads all the image data; later ones are done with.
    if (std::memcmp(name.data(), "cHRM", 4) == 0 || (isIdat && haveImageData)) {
      stream.Seek(length + 4, soCurrent);
    } else {
      if (isIdat) haveImageData = true;
      TChunk* chunk = FChunkList->Append(NewChunkForName(this, name));
      if (typeid(*chunk) == typeid(TChunk) && IsCritical(name)) throw EPNGUnknownCriticalChunk();
      chunk->LoadFromStream(stream, name, int32_t(length));
    }
    if (std::memcmp(name.data(), "IEND", 4) == 0) break;
  }
  if (!haveImageData) throw EPNGNoImageData();
  // A palette image without its palette has no colours to show.
  TChunkIHDR* header = Header();
  if (header && header->ColorType() == 3 && !FChunkList->FirstOfClass<TChunkPLTE>()) throw EPNGInvalidPalette();
}

void TPNGImage::SaveToStream(TStream& stream) {
  stream.WriteBuffer(kPngSignature, 8);
  for (int32_t i = 0; i < FChunkList->Count(); i++)
    if (TChunk* chunk = FChunkList->GetItem(uint32_t(i))) chunk->SaveToStream(stream);
}

void TPNGImage::CopyFromPNG(const TPNGImage& source) {
  if (&source == this) return;
  FInterlaceMode = source.FInterlaceMode;
  SetIdatBlockSize(source.FIdatBlockSize);
  FDeflateLevel = source.FDeflateLevel;
  FRowFilters = source.FRowFilters;
  ClearChunks();
  // The samples are the file's own, so the gamma description goes along with them.
  std::memcpy(DecodeGamma, source.DecodeGamma, 256);
  std::memcpy(EncodeGamma, source.EncodeGamma, 256);
  for (int32_t i = 0; i < source.FChunkList->Count(); i++) {
    TChunk* src = source.FChunkList->GetItem(uint32_t(i));
    if (!src) continue;
    TChunk* chunk = FChunkList->Append(src->NewSameClass(this));
    chunk->Assign(src);
  }
}

void TPNGImage::Assign(TPersistent* source) {
  if (auto* png = dynamic_cast<TPNGImage*>(source)) {
    CopyFromPNG(*png);
  } else if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    AssignFromBitmap(bitmap);
  } else {
    TGraphic::Assign(source);
    return;
  }
  Changed(this);
}

void TPNGImage::AssignTo(TPersistent* dest) {
  if (auto* png = dynamic_cast<TPNGImage*>(dest)) {
    png->CopyFromPNG(*this);
  } else if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    AssignToBitmap(bitmap);
  } else {
    TGraphic::AssignTo(dest);
  }
}

// The picture registry knows PNG files from the start.
namespace {
struct TPngRegistration {
  TPngRegistration() {
    RegisterStandardChunkClasses();
    TPicture::RegisterFileFormat("png", "Portable Network Graphics", TGraphicClass::Of<TPNGImage>());
  }
} pngRegistration;
}  // namespace
