#pragma once
// TBitmap: a picture held as one DIB section. Its rows are one contiguous,
// DWORD-aligned, bottom-up block; ScanLine(y) gives row y counted from the top,
// and a ScanLine pointer stays valid until the size or the pixel format changes.
// The canvas draws into the same block through a memory DC.
#include <memory>
#include <vector>

#include "platform/graphics/bmp_codec.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/graphics/shared_bits.h"

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TBitmapHandleType : uint8_t { bmDIB, bmDDB };
enum TTransparentMode : uint8_t { tmAuto, tmFixed };
// How Draw treats the fourth byte of 32-bit pixels: ignored (a plain copy), alpha
// (blended), or alpha over premultiplied colours.
enum TAlphaFormat : uint8_t { afIgnored, afDefined, afPremultiplied };

class TBitmapCanvas;

class TBitmap : public TGraphic {
public:
  TBitmap();
  ~TBitmap() override;

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return FWidth == 0 || FHeight == 0; }
  int GetWidth() override { return FWidth; }
  int GetHeight() override { return FHeight; }
  HPALETTE GetPalette() override;
  void SetPalette(HPALETTE palette) override;
  void SetSize(int width, int height) override;

  // BMP in and out. Loading reads every BMP variant (see bmp_codec.h); an empty
  // stream gives an empty bitmap. Saving writes a 40-byte info header: BI_RGB for
  // every format but pf16bit, which is BI_BITFIELDS 5-6-5; nothing for an empty bitmap.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // The pixels of a DIB already in memory (rows bottom-up, as a BMP file holds
  // them), copied once into a section of their format: what loading the same
  // DIB from a BMP stream gives, without the stream.
  void LoadFromDibView(const bmpcodec::DibView& dib);
  // CF_BITMAP: the data is a bitmap handle, copied; the caller keeps its own.
  // CF_DIB (loading only): a global block holding a packed DIB.
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;

  TCanvas* Canvas();
  // The DIB section; nullptr while the bitmap is empty.
  HBITMAP Handle();
  // Takes over a bitmap handle (the bitmap then owns it).
  void SetHandle(HBITMAP bitmap);
  // Gives the handle away: the caller owns it and the bitmap becomes empty.
  HBITMAP ReleaseHandle();
  bool HandleAllocated() const { return FHandle != nullptr; }
  TBitmapHandleType HandleType() const { return FHandleType; }
  void SetHandleType(TBitmapHandleType value);

  // A 1-bit mask of the size of the picture: 1 (white) where a pixel has the
  // transparent colour, 0 elsewhere. Kept until the picture changes.
  HBITMAP MaskHandle();
  HBITMAP ReleaseMaskHandle();
  // Turns the picture itself into such a mask for the given colour.
  void Mask(TColor transparentColor);

  bool Monochrome();
  void SetMonochrome(bool value);
  TPixelFormat PixelFormat() const;
  // Converts the pixels: colours are kept, matched to the nearest table entry for
  // 1-, 4- and 8-bit formats; a 32-bit result from a format without alpha has
  // alpha 0, as GDI leaves it. pfCustom raises EInvalidGraphic.
  void SetPixelFormat(TPixelFormat value);
  // Row y from the top; EInvalidGraphicOperation "Scan line index out of range"
  // outside the picture.
  void* ScanLine(int row);
  // The bitmap forgets its palette handle; the caller owns it.
  HPALETTE ReleasePalette();

  TColor TransparentColor();
  void SetTransparentColor(TColor value);
  TTransparentMode TransparentMode() const { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode value);
  TAlphaFormat AlphaFormat() const { return FAlphaFormat; }
  void SetAlphaFormat(TAlphaFormat value) { FAlphaFormat = value; }

  // Lets go of the drawing resources (DC, mask) that can be made again; the
  // pixels stay.
  void Dormant();
  void FreeImage();

  // The pixels as a DIB view (bits null when empty), for reading; rows are
  // written through ScanLine, the canvas or the handle.
  bmpcodec::DibView View() const;

  // Takes bottom-up DIB rows of the format and size from a block that a
  // picture keeps, without copying them; table holds the first colours of a
  // palette format (the rest are those SetPixelFormat would give). The rows
  // stay shared until either side changes them: the bitmap takes a copy of its
  // own before it gives out a scan line, its canvas or its handle while the
  // block has another holder. False (the bitmap unchanged) when the block is
  // short of the rows or the format is not one of 1, 4, 8 or 24 bits.
  bool TakeSharedBits(TPixelFormat format, int width, int height, const RGBQUAD* table, int tableCount,
                      const TSharedBits& bits, size_t size);

protected:
  void DoSetWidth(int value) override { SetSize(value, FHeight); }
  void DoSetHeight(int value) override { SetSize(FWidth, value); }
  void Changed(TObject* sender) override;

private:
  friend class TBitmapCanvas;
  struct Format {
    int bitCount = 32;
    DWORD compression = BI_RGB;
    DWORD masks[4] = {0, 0, 0, 0};
    std::vector<RGBQUAD> colors;
  };

  Format FormatFor(TPixelFormat pf) const;
  Format CurrentFormat() const;
  // Makes a new DIB section of the size and format and fills it from the old
  // pixels (kept at the top-left) and the canvas brush colour elsewhere.
  void Rebuild(int width, int height, const Format& format);
  void Install(HBITMAP handle, uint8_t* bits, int width, int height, const Format& format);
  void LoadDib(const bmpcodec::DibView& dib);
  void TakeBitmap(HBITMAP bitmap, bool adopt);
  void FreeContext();
  // Rows of its own before they are changed (see TakeSharedBits).
  void OwnBits();
  void DestroyImage();
  void DropMask();
  void ReplacePaletteHandle(HPALETTE palette);
  TColor FillColor();
  // A 1-bit section of the picture's size, 1 where a pixel has the key colour.
  HBITMAP ColorMask(COLORREF key, uint8_t** bits) const;

  HBITMAP FHandle = nullptr;
  uint8_t* FBits = nullptr;
  // The rows may be held by a picture too (TakeSharedBits).
  bool FBitsShared = false;
  int FWidth = 0;
  int FHeight = 0;
  Format FFormat;
  TPixelFormat FPixelFormat = pfDevice;
  TBitmapHandleType FHandleType = bmDDB;
  HPALETTE FPalette = nullptr;
  HBITMAP FMaskHandle = nullptr;
  TColor FTransparentColor = clDefault;
  TTransparentMode FTransparentMode = tmAuto;
  TAlphaFormat FAlphaFormat = afIgnored;
  std::unique_ptr<TBitmapCanvas> FCanvas;
};

// The canvas of a bitmap: its DC is a memory DC with the bitmap selected.
class TBitmapCanvas : public TCanvas {
public:
  explicit TBitmapCanvas(TBitmap* bitmap) : FBitmap(bitmap) {}
  ~TBitmapCanvas() override { FreeContext(); }
  void FreeContext();

protected:
  void CreateHandle() override;

private:
  TBitmap* FBitmap;
  HDC FDC = nullptr;
  HGDIOBJ FOldBitmap = nullptr;
  HPALETTE FOldPalette = nullptr;
};

// The framework's default colour tables: black and white; the 16 VGA colours; a
// 256-entry table of those 16, a 6x6x6 colour cube and greys.
std::vector<RGBQUAD> DefaultColorTable(int bitCount);

// The framework's palette of the 16 VGA colours (DefaultColorTable(4)), made once
// and shared: select it, never delete it.
HPALETTE SystemPalette16();

// Registers the clipboard releasers of the bitmap and palette formats, so that
// the handles the clipboard holds are freed when it lets go of them.
void RegisterBitmapClipboardSupport();
