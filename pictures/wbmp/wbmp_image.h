#pragma once
// TWapBitmap: wireless bitmaps (WBMP type 0), black-and-white pictures with a
// tiny header, held in a 1-bit bitmap of their own.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"

inline constexpr const char* kWbmpInvalidHeader = "Invalid file header";
// Larger sides are refused as an invalid header: no phone shows them, and a
// few bytes must not be able to ask for gigabytes.
inline constexpr uint32_t kWbmpMaxSide = 65535;

// The standard's multi-byte integers: 7 bits a byte, most significant first,
// the top bit set on every byte but the last. False when the value runs past
// four bytes or the stream.
bool ReadWbmpInteger(TStream& stream, uint32_t& value);
void WriteWbmpInteger(TStream& stream, uint32_t value);

class TWapBitmap : public TGraphic {
public:
  TWapBitmap();
  ~TWapBitmap() override;

  // From another WAP bitmap or from a 1-bit bitmap; anything else is the
  // framework's assignment error.
  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return FBitmap->Empty(); }
  int GetWidth() override { return FBitmap->Width(); }
  int GetHeight() override { return FBitmap->Height(); }
  HPALETTE GetPalette() override { return FBitmap->GetPalette(); }
  bool GetTransparent() override { return FBitmap->Transparent(); }

  // A bad header raises "Invalid file header", rows the stream cannot hold the
  // stream's read error; the picture stays as it was.
  void LoadFromStream(TStream& stream) override;
  // A picture that is not black and white is made so first.
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;

  TBitmap* Bitmap() const { return FBitmap.get(); }
  // Why the last load refused the file ("" after a good load).
  const std::string& LastRefusal() const { return FLastRefusal; }

protected:
  void AssignTo(TPersistent* dest) override;
  void DoSetWidth(int value) override { FBitmap->SetWidth(value); }
  void DoSetHeight(int value) override { FBitmap->SetHeight(value); }

private:
  void MakeBlackAndWhite();
  std::unique_ptr<TBitmap> FBitmap;
  std::string FLastRefusal;
};
