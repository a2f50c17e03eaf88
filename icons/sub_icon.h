#pragma once
// TSubIcon: one image of an icon or cursor, held as the raw bytes that an ICO
// file or an RT_ICON resource stores (a packed DIB with its AND mask, or a whole
// PNG stream), with the head of its directory entry, the cursor hotspot and a
// Windows icon handle made on first use.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/icon_directory.h"
#include "platform/graphics/png_header.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/object.h"
#include "platform/rtl/streams.h"
#include "platform/win/win_types.h"
#include "platform/rtl/byte_order.h"

QV_ASSERT_LITTLE_ENDIAN_HOST();

class TResourceModule;
class TReader;
class TWriter;

// The directory structures (TIconDirHeader, TIconDirEntry, TIconGroupEntry)
// are platform/graphics/icon_directory.h's.

// Hotspot words that mark images taken from Mac icons.
inline constexpr int16_t kMacImageMarker = static_cast<int16_t>(0xFC17);
inline constexpr int16_t kMacHiResMarker = static_cast<int16_t>(0xFC16);
// The largest side an image may have; larger ones are refused as "Invalid image".
inline constexpr uint32_t kMaxIconSide = 5999;
inline constexpr const char* kInvalidImage = "Invalid image";

// What a refused image raises: the user sees kInvalidImage, a reader or a
// test asks which rule refused it.
class EIconImageRefused : public ERefused<Exception> {
public:
  explicit EIconImageRefused(const char* reason) : ERefused(kInvalidImage, reason) {}
};

// Where the parts of a DIB icon image lie in its bytes: the info header (its
// height counts colour rows and mask rows), the colour table or bit-field
// masks, the colour rows, then the AND mask, which may be cut short (what is
// missing reads as opaque).
struct TIconDibLayout {
  BITMAPINFOHEADER header{};
  int width = 0;
  int height = 0;  // of the image: half the header's
  int bpp = 0;
  size_t headerBytes = 0;  // header and colour table (or bit-field masks)
  size_t colourBytes = 0;
  size_t maskBytes = 0;
  size_t maskPresent = 0;  // mask bytes the data really holds
};
// The one reading of an icon DIB that the icon model, the icon picture
// classes and the renderer share: the header and colour rows must be held by
// the data, the sides within kMaxIconSide, the depth one with pixels and the
// compression plain (or bit fields at 16 and 32 bits). Returns nullptr when
// the image is sound, else why it is refused.
const char* ReadIconDibLayout(const uint8_t* bytes, size_t size, TIconDibLayout& layout);

class TSubIcon : public TPersistent {
public:
  TSubIcon() = default;
  ~TSubIcon() override;
  TSubIcon(const TSubIcon&) = delete;
  TSubIcon& operator=(const TSubIcon&) = delete;

  // A deep copy of the same class: head, bits, hotspot, a copy of the handle and
  // the store-as-PNG flag.
  virtual std::unique_ptr<TSubIcon> CreateCopy() const;

  // The loaders behind the constructors that read a stream, a directory entry
  // or a module's resource. Each starts from the empty state and ends with
  // ParseBits, whose exception reaches the caller. Every size read from the
  // stream is checked against what the stream holds before anything is
  // allocated.
  void LoadBitsStream(TStream& stream);
  void LoadDirEntry(TStream& stream, int64_t base);
  void LoadEntryAndStream(TStream& stream, const TIconEntryHead& head);
  void LoadEntryKeepPosition(TStream& stream, const TIconEntryHead& head);
  void LoadCursorDirEntry(TStream& stream, const TIconDirHeader& header, int64_t base);
  // From a 14-byte group entry and the RT_ICON or RT_CURSOR resource it names.
  void LoadModuleResource(TStream& groupStream, HMODULE module);
  void LoadResourceModuleEntry(TStream& groupStream, const TResourceModule& resourceModule);
  void LoadCursorResource(TStream& groupStream, HMODULE module);

  template <class T = TSubIcon> static std::unique_ptr<T> CreateFromBitsStream(TStream& stream) {
    auto p = std::make_unique<T>();
    p->LoadBitsStream(stream);
    return p;
  }
  template <class T = TSubIcon> static std::unique_ptr<T> CreateFromDirEntry(TStream& stream) {
    auto p = std::make_unique<T>();
    p->LoadDirEntry(stream, 0);
    return p;
  }
  template <class T = TSubIcon> static std::unique_ptr<T> CreateFromDirEntryAt(TStream& stream, int64_t base) {
    auto p = std::make_unique<T>();
    p->LoadDirEntry(stream, base);
    return p;
  }
  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromEntryAndStream(TStream& stream, const TIconEntryHead& head) {
    auto p = std::make_unique<T>();
    p->LoadEntryAndStream(stream, head);
    return p;
  }
  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromEntryKeepPosition(TStream& stream, const TIconEntryHead& head) {
    auto p = std::make_unique<T>();
    p->LoadEntryKeepPosition(stream, head);
    return p;
  }
  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromCursorDirEntry(TStream& stream, const TIconDirHeader& header) {
    auto p = std::make_unique<T>();
    p->LoadCursorDirEntry(stream, header, 0);
    return p;
  }
  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromCursorDirEntryAt(TStream& stream, const TIconDirHeader& header,
                                                        int64_t base) {
    auto p = std::make_unique<T>();
    p->LoadCursorDirEntry(stream, header, base);
    return p;
  }

  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromModuleResource(TStream& groupStream, HMODULE module) {
    auto p = std::make_unique<T>();
    p->LoadModuleResource(groupStream, module);
    return p;
  }
  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromResourceModule(TStream& groupStream, const TResourceModule& resourceModule) {
    auto p = std::make_unique<T>();
    p->LoadResourceModuleEntry(groupStream, resourceModule);
    return p;
  }
  template <class T = TSubIcon>
  static std::unique_ptr<T> CreateFromCursorResource(TStream& groupStream, HMODULE module) {
    auto p = std::make_unique<T>();
    p->LoadCursorResource(groupStream, module);
    return p;
  }

  // Fills the head from the bits and validates them ("Invalid image").
  void ParseBits();

  int GetWidth() const;
  int GetHeight() const;
  int GetBitsPerPixel();
  bool HasPNGBits() const;
  std::string GetDescription();

  HICON GetHandle();
  void ReleaseHandle();
  void DetachHandle() { FHandle = nullptr; }
  void Draw(TCanvas* canvas, int x, int y);

  // Image records of project files, and the same with the hotspot for the
  // component streaming.
  void SaveToStream(TStream& stream);
  void LoadFromStream(TStream& stream);
  static void SkipRecord(TStream& stream);
  void WriteBits(TStream& stream) const;
  void LoadFromResourceData(TStream& stream, bool isCursor);
  void LoadFromSingleEntryFile(TStream& stream);
  // The record of component streams: the image record with the hotspot words
  // between head and bits (icon_resources.cpp).
  void WriteToFiler(TWriter& writer) const;
  void ReadFromFiler(TReader& reader);

  bool IsMacHiResElement() const { return FHotspotY == kMacHiResMarker; }
  void MarkAsMacImage(bool on);
  void MarkAsMacHiResElement(bool on);

  // Direct access for the containers of the icon model.
  const TIconEntryHead& Head() const { return FHead; }
  TIconEntryHead& Head() { return FHead; }
  const std::vector<uint8_t>& Bits() const { return FBits; }
  bool HasBits() const { return !FBits.empty(); }
  uint32_t BytesInRes() const { return FHead.dwBytesInRes; }
  // Replaces the bits (and bytes in resource) without parsing them.
  void SetBits(std::vector<uint8_t> bits);
  void ClearBits();
  int16_t HotspotX() const { return FHotspotX; }
  int16_t HotspotY() const { return FHotspotY; }
  void SetHotspot(int16_t x, int16_t y) {
    FHotspotX = x;
    FHotspotY = y;
  }
  bool StoreAsPNG() const { return FStoreAsPNG; }
  void SetStoreAsPNG(bool value) { FStoreAsPNG = value; }
  void ClearBitsPerPixelCache() { FBitsPerPixel = 0; }

protected:
  void AssignTo(TPersistent* dest) override;
  void ResetState();
  // Reads count bytes of bits from the stream's position after checking that
  // the stream holds them.
  void ReadBitsFrom(TStream& stream, uint32_t count);
  // Reads an entry's bits at an absolute position, returns to after and parses.
  void ReadEntryBits(TStream& stream, int64_t at, uint32_t count, int64_t after);

private:
  void UpdateBitsPerPixel();

  int32_t FBitsPerPixel = 0;
  HICON FHandle = nullptr;
  TIconEntryHead FHead;
  std::vector<uint8_t> FBits;
  int16_t FHotspotX = 0;
  int16_t FHotspotY = 0;
  bool FStoreAsPNG = false;
};
void CopySubIconInto(const TSubIcon& source, TSubIcon& target);  // head, bits, hotspot and flag, reparsed

// The subclasses record where an image came from; none adds anything.
class TFileIconImage : public TSubIcon {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};
class TResourceIconImage : public TSubIcon {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};
class TSubCursor : public TSubIcon {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};
class TFileCursorImage : public TSubCursor {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};
class TResourceCursorImage : public TSubCursor {
public:
  std::unique_ptr<TSubIcon> CreateCopy() const override;
};

