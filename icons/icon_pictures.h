#pragma once
// TExIcon and TExCursor: picture classes of the framework for icons and cursors
// that keep each image's raw resource bytes. Registered for "ICO" and "CUR" in
// place of the framework's own icon class.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/dib_types.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/rtl/streams.h"

inline constexpr const char* kInvalidIconOrCursor = "Invalid Icon or Cursor";

// One image, shared between pictures assigned from each other.
struct TExIconImage {
  TExIconImage() = default;
  ~TExIconImage();
  TExIconImage(const TExIconImage&) = delete;
  TExIconImage& operator=(const TExIconImage&) = delete;

  bool isIcon = true;
  HPALETTE palette = nullptr;
  // Icon: header (height doubled), colour table, colour rows, mask rows. Cursor:
  // the same behind the hotspot (two 16-bit values). PNG images: the PNG data.
  std::vector<uint8_t> bytes;
  bool paletteMade = false;
  int32_t width = 0;
  int32_t height = 0;
  TPixelFormat pixelFormat = pfDevice;
  bool isPNG = false;
  uint16_t entryWord1 = 0;  // planes or hotspot x of a PNG image's entry
  uint16_t entryWord2 = 0;  // bit count or hotspot y
};

class TExIconCursor : public TGraphic {
public:
  TExIconCursor();
  ~TExIconCursor() override;

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override;
  int GetWidth() override;
  int GetHeight() override;
  HPALETTE GetPalette() override;
  void SetPalette(HPALETTE palette) override;
  bool GetTransparent() override { return true; }
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;

  int ImageCount() const { return static_cast<int>(FImages.size()); }
  int CurrentIndex() const { return FCurrent; }
  void SetCurrentIndex(int index);
  TPixelFormat PixelFormat();
  TColor TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(TColor value) { FTransparentColor = value; }
  // The current image, shared: two pictures assigned from each other hold the same one.
  const TExIconImage* CurrentImage() const { return FImages[static_cast<size_t>(FCurrent)].get(); }
  bool IsCursor() const { return FIsCursor; }
  // Why the last load refused the stream ("" after a good load).
  const std::string& LastRefusal() const { return FLastRefusal; }

protected:
  explicit TExIconCursor(bool isCursor);
  void AssignTo(TPersistent* dest) override;
  void DoSetWidth(int value) override;
  void DoSetHeight(int value) override;
  TExIconImage& Current() { return *FImages[static_cast<size_t>(FCurrent)]; }
  void NewImage(int width, int height, TPixelFormat pf);
  // Renders a graphic into a new current image of that size and format; the
  // image takes the palette.
  void RenderGraphic(TGraphic* source, HPALETTE palette, int width, int height, TPixelFormat pf);
  void Resize(int width, int height);
  // Header and colour part of the current image as bitmaps (nil results when it has none).
  void CurrentBitmaps(TBitmap* colour, TBitmap* mask);
  void WriteDirectory(TStream& stream, bool cursorFile);
  // Reads a whole directory; on a refusal LastRefusal says which rule fired.
  void ReadImages(TStream& stream, bool cursorFile);

  std::vector<std::shared_ptr<TExIconImage>> FImages;
  int FCurrent = 0;
  TColor FTransparentColor;
  bool FIsCursor = false;

private:
  void ReadDirectoryImages(TStream& stream, bool cursorFile);
  std::string FLastRefusal;
};

class TExIcon : public TExIconCursor {
public:
  TExIcon();
};

class TExCursor : public TExIconCursor {
public:
  TExCursor();
  void LoadFromFile(const std::string& fileName) override;
  void SaveToFile(const std::string& fileName) override;
};

// DIB header helpers shared with the graphics resources.
int ColorCountOfPixelFormat(TPixelFormat pf);
int BitsOfPixelFormat(TPixelFormat pf);
// EInvalidGraphic "Pixel Format Not Valid for Icons or Cursors" for depths icons cannot hold.
TPixelFormat PixelFormatOfHeader(const BITMAPINFOHEADER& header);
int HeaderColorCount(const BITMAPINFOHEADER& header);
// Header-and-colour-table size and colour-rows size; halve for icon headers.
void DIBSizes(const BITMAPINFOHEADER& header, bool halve, uint32_t& headerSize, uint32_t& imageSize);

// The two palettes made at start-up: black and white; the 216-colour cube, 24
// greys and the 16 system colours.
HPALETTE SharedTwoColourPalette();
HPALETTE Shared256ColourPalette();

// Registers "ICO" and "CUR" for these classes in place of the framework's icon
// class; the unregistration puts the framework's class back for "ICO".
void RegisterIconPictureClasses();
void UnregisterIconPictureClasses();
