#pragma once
// The chunk model of the PNG picture: one object per chunk of the file, chosen
// by the chunk's name through a registry of chunk classes. The header chunk also
// holds the decoded image as a bottom-up DIB with a separate top-down alpha plane.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/dib_types.h"
#include "platform/graphics/shared_bits.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"
#include "pictures/png/png_errors.h"
#include "platform/rtl/byte_order.h"

class TPNGImage;
class TChunkIHDR;

// The 8-byte signature every PNG stream starts with.
inline constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// The CRC-32 of the PNG format (reflected ISO 3309 polynomial). The register is
// preset to all ones by the caller and the stored value is its complement.
uint32_t Crc32Update(uint32_t crc, const void* bytes, size_t count);
// The stored CRC of a chunk: over the 4 name bytes, then the data.
uint32_t ChunkCrc(const char* name, const void* data, size_t count);


// The longest chunk the format allows.
inline constexpr int64_t kPngMaxChunkLength = 0x7FFFFFFF;
// The most bytes one decoded image (DIB plus alpha plane) may take. Width and
// height up to 65,535 would allow 16 GB from a few bytes of header; an icon
// maker never needs that much, and a clear error beats running out of memory.
inline constexpr int64_t kPngMaxImageBytes = int64_t(1) << 30;

// Four bytes of a chunk name.
using TChunkName = std::array<char, 4>;
TChunkName MakeChunkName(const char* text);
inline std::string ChunkNameText(const TChunkName& n) { return std::string(n.data(), 4); }

class TChunk : public TObject {
public:
  explicit TChunk(TPNGImage* owner);
  ~TChunk() override;

  // The name a chunk class stands for; empty for the plain class, which holds
  // any chunk it does not understand and writes it back unchanged.
  static std::string GetChunkName() { return ""; }
  // A new chunk of this object's own class, for copying a picture.
  virtual std::unique_ptr<TChunk> NewSameClass(TPNGImage* owner) const;

  virtual void Assign(TChunk* source);
  // Reads length data bytes and the CRC that follows (the name has already been
  // read); the caller has checked that length and CRC are within the stream.
  virtual bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length);
  virtual bool SaveToStream(TStream& stream);

  void SetDataSize(int32_t n);
  TChunkIHDR* OwnerHeader() const;

  uint8_t* Payload() const { return FPayload; }
  int32_t PayloadSize() const { return FPayloadSize; }
  TPNGImage* OwnerImage() const { return FOwnerImage; }
  // Moves the chunk to another picture's list (a load parses into a picture of
  // its own and hands the chunks over only when the whole stream was good).
  void SetOwnerImage(TPNGImage* owner) { FOwnerImage = owner; }
  const TChunkName& ChunkName() const { return FChunkName; }
  void SetChunkName(const TChunkName& name) { FChunkName = name; }

protected:
  TChunk(TPNGImage* owner, const char* className);
  // Writes a whole chunk of this object's name with the given data.
  void WriteChunk(TStream& stream, const void* data, int32_t count);

private:
  uint8_t* FPayload = nullptr;
  int32_t FPayloadSize = 0;
  TPNGImage* FOwnerImage = nullptr;
  TChunkName FChunkName{};
};

// Defines GetChunkName and NewSameClass for a chunk class.
#define QV_PNG_CHUNK_CLASS(Class, Name)                                                 \
  static std::string GetChunkName() { return Name; }                                  \
  std::unique_ptr<TChunk> NewSameClass(TPNGImage* owner) const override {             \
    return std::make_unique<Class>(owner);                                            \
  }

class TChunkIEND : public TChunk {
public:
  explicit TChunkIEND(TPNGImage* owner) : TChunk(owner, "IEND") {}
  QV_PNG_CHUNK_CLASS(TChunkIEND, "IEND")
};

// A zeroed block from calloc: large images cost no memory for rows that are
// never written, and a failed allocation is seen rather than thrown past us.
// The image rows may be held by a bitmap the picture was assigned to as well
// (TBitmap::TakeSharedBits); whoever writes them goes through Own(), which
// first takes a copy of its own while the bitmap still holds them.
class TPngBuffer {
public:
  TPngBuffer() = default;
  TPngBuffer(const TPngBuffer&) = delete;
  TPngBuffer& operator=(const TPngBuffer&) = delete;
  // Raises EPNGOutMemory when the block cannot be had.
  void Allocate(size_t size);
  void Release();
  const uint8_t* Data() const { return FData.get(); }
  // The block to write into; raises EPNGOutMemory when a copy is needed and
  // cannot be had.
  uint8_t* Own();
  const TSharedBits& Block() const { return FData; }
  size_t Size() const { return FSize; }

private:
  TSharedBits FData;
  size_t FSize = 0;
};

struct TPngBitmapInfo {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[256];
};

class TChunkIHDR : public TChunk {
public:
  explicit TChunkIHDR(TPNGImage* owner) : TChunk(owner, "IHDR") {}
  QV_PNG_CHUNK_CLASS(TChunkIHDR, "IHDR")

  void Assign(TChunk* source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  bool SaveToStream(TStream& stream) override;

  // Sets up the DIB and alpha plane for the header fields, all zero.
  void PrepareImage();
  void FreeImage();

  // DIB bits per pixel for a colour type and bit depth; 0 when there is none.
  static int DibBitsFor(uint8_t colorType, uint8_t bitDepth);
  // True for the colour type and bit depth pairs the PNG format allows.
  static bool ValidColorAndDepth(uint8_t colorType, uint8_t bitDepth);

  // The DIB rows and the alpha plane: read through a const header, written
  // through a header that is not (see TPngBuffer).
  const uint8_t* ImageBits() const { return FImage.Data(); }
  uint8_t* ImageBits() { return FImage.Own(); }
  const uint8_t* AlphaPlane() const { return FAlpha.Data(); }
  uint8_t* AlphaPlane() { return FAlpha.Own(); }
  // The DIB row of image row y (row 0 is the top, the last row in memory).
  const uint8_t* DibRow(int y) const { return FImage.Data() + RowOffset(y); }
  uint8_t* DibRow(int y) { return FImage.Own() + RowOffset(y); }
  const uint8_t* AlphaRowOf(int y) const {
    return FAlpha.Data() ? FAlpha.Data() + size_t(y) * size_t(FWidth) : nullptr;
  }
  uint8_t* AlphaRowOf(int y) { return FAlpha.Data() ? FAlpha.Own() + size_t(y) * size_t(FWidth) : nullptr; }
  // The block of the DIB rows, for a bitmap to hold instead of a copy.
  const TSharedBits& SharedImage() const { return FImage.Block(); }
  bool HasPalette() const { return FHasPalette; }
  int32_t BytesPerRow() const { return FBytesPerRow; }
  TPngBitmapInfo& BitmapInfo() { return FBitmapInfo; }
  const TPngBitmapInfo& BitmapInfo() const { return FBitmapInfo; }

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  uint8_t BitDepth() const { return FBitDepth; }
  uint8_t ColorType() const { return FColorType; }
  uint8_t CompressionMethod() const { return FCompressionMethod; }
  uint8_t FilterMethod() const { return FFilterMethod; }
  uint8_t InterlaceMethod() const { return FInterlaceMethod; }
  void SetWidth(int32_t v) { FWidth = v; }
  void SetHeight(int32_t v) { FHeight = v; }
  void SetBitDepth(uint8_t v) { FBitDepth = v; }
  void SetColorType(uint8_t v) { FColorType = v; }
  void SetCompressionMethod(uint8_t v) { FCompressionMethod = v; }
  void SetFilterMethod(uint8_t v) { FFilterMethod = v; }
  void SetInterlaceMethod(uint8_t v) { FInterlaceMethod = v; }
  // Replaces the alpha plane with a zeroed one of width x height bytes.
  void NewAlphaPlane();

private:
  size_t RowOffset(int y) const { return size_t(FHeight - 1 - y) * size_t(FBytesPerRow); }

  TPngBuffer FImage;
  TPngBuffer FAlpha;
  bool FHasPalette = false;
  int32_t FBytesPerRow = 0;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  uint8_t FBitDepth = 0;
  uint8_t FColorType = 0;
  uint8_t FCompressionMethod = 0;
  uint8_t FFilterMethod = 0;
  uint8_t FInterlaceMethod = 0;
  TPngBitmapInfo FBitmapInfo{};
};

// The image data. The first IDAT chunk of a file decodes the whole image into
// the header's DIB (and reads every IDAT chunk that follows it); on saving it
// writes the whole image as a run of IDAT chunks.
class TChunkIDAT : public TChunk {
public:
  explicit TChunkIDAT(TPNGImage* owner) : TChunk(owner, "IDAT") {}
  QV_PNG_CHUNK_CLASS(TChunkIDAT, "IDAT")
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  bool SaveToStream(TStream& stream) override;
};

class TChunkPLTE : public TChunk {
public:
  explicit TChunkPLTE(TPNGImage* owner) : TChunk(owner, "PLTE") {}
  QV_PNG_CHUNK_CLASS(TChunkPLTE, "PLTE")
  void Assign(TChunk* source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  bool SaveToStream(TStream& stream) override;
  // The colour of an entry, blue in the low byte; raises EPngError past Count.
  uint32_t PaletteEntry(int index) const;
  int32_t Count() const { return FCount; }
  void SetCount(int32_t n) { FCount = n; }

private:
  int32_t FCount = 0;
};

class TChunkgAMA : public TChunk {
public:
  explicit TChunkgAMA(TPNGImage* owner);
  QV_PNG_CHUNK_CLASS(TChunkgAMA, "gAMA")
  void Assign(TChunk* source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  // Gamma x 100,000 as stored.
  uint32_t GammaValue();
  void SetGammaValue(uint32_t v);
};

class TChunktRNS : public TChunk {
public:
  explicit TChunktRNS(TPNGImage* owner);
  QV_PNG_CHUNK_CLASS(TChunktRNS, "tRNS")
  void Assign(TChunk* source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  bool SaveToStream(TStream& stream) override;
  bool HasTransparentEntry() const;
  int32_t Count() const { return FCount; }
  void SetCount(int32_t n) { FCount = n; }
  uint8_t* Alpha() { return FAlpha; }
  const uint8_t* Alpha() const { return FAlpha; }

private:
  int32_t FCount = 0;
  uint8_t FAlpha[256];
};

class TChunktIME : public TChunk {
public:
  explicit TChunktIME(TPNGImage* owner) : TChunk(owner, "tIME") {}
  QV_PNG_CHUNK_CLASS(TChunktIME, "tIME")
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  bool SaveToStream(TStream& stream) override;
  // The year's two bytes in the order stored.
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
public:
  explicit TChunktEXt(TPNGImage* owner) : TChunk(owner, "tEXt") {}
  QV_PNG_CHUNK_CLASS(TChunktEXt, "tEXt")
  void Assign(TChunk* source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& name, int32_t length) override;
  bool SaveToStream(TStream& stream) override;
  const std::string& Keyword() const { return FKeyword; }
  const std::string& Text() const { return FText; }
  void SetKeyword(std::string v) { FKeyword = std::move(v); }
  void SetText(std::string v) { FText = std::move(v); }

private:
  std::string FKeyword;
  std::string FText;
};

// The picture's chunk list. It owns its chunks: clearing it frees them.
class TPNGPointerList : public TObject {
public:
  explicit TPNGPointerList(TPNGImage* owner) : FOwner(owner) {}
  TPNGImage* Owner() const { return FOwner; }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TChunk* Append(std::unique_ptr<TChunk> chunk);
  // nil for an index outside the list.
  TChunk* GetItem(uint32_t index) const;
  TChunk* Item(uint32_t index) const { return GetItem(index); }
  // Ignored for an index outside the list.
  void SetItem(uint32_t index, std::unique_ptr<TChunk> chunk);
  // Shrinking frees the chunks past n; growing adds empty slots.
  void SetCount(int32_t n);
  // Frees this list's chunks and takes over every chunk of other, which ends
  // empty; the chunks then belong to this list's picture.
  void TakeOver(TPNGPointerList& other);
  template <class T> T* FirstOfClass() const {
    for (const auto& c : FItems)
      if (auto* t = dynamic_cast<T*>(c.get())) return t;
    return nullptr;
  }

private:
  TPNGImage* FOwner;
  std::vector<std::unique_ptr<TChunk>> FItems;
};

class TPNGList : public TPNGPointerList {
public:
  using TPNGPointerList::TPNGPointerList;
};

// The registry of chunk classes, walked in registration order.
using TChunkFactory = std::function<std::unique_ptr<TChunk>(TPNGImage* owner)>;
void RegisterChunkClass(const std::string& name, TChunkFactory factory);
template <class T> void RegisterChunkClass() {
  RegisterChunkClass(T::GetChunkName(), [](TPNGImage* owner) { return std::make_unique<T>(owner); });
}
// Registers the chunk classes the picture understands (done once, on first use).
void RegisterStandardChunkClasses();
void ReleaseChunkClasses();
// A chunk of the first registered class of that name, or a plain TChunk.
std::unique_ptr<TChunk> NewChunkForName(TPNGImage* owner, const TChunkName& name);
