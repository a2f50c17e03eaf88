#pragma once
// TGIFImage: a GIF file as a picture of the framework, held as its block model.
// Registered for "GIF" and the clipboard format "GIF Image"; animated GIFs are
// drawn by TGIFPainter.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pictures/gif/gif_blocks.h"
#include "pictures/gif/gif_extensions.h"
#include "pictures/gif/gif_reduction.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"
#include "platform/rtl/threads.h"

class TGIFPainter;

using TGIFDrawFlags = uint16_t;
inline constexpr TGIFDrawFlags dfThreaded = 1 << 0;
inline constexpr TGIFDrawFlags dfMasked = 1 << 1;
inline constexpr TGIFDrawFlags dfAnimated = 1 << 2;
inline constexpr TGIFDrawFlags dfRepeat = 1 << 3;
inline constexpr TGIFDrawFlags dfRepeatForever = 1 << 4;
inline constexpr TGIFDrawFlags dfCheckCanvas = 1 << 5;
inline constexpr TGIFDrawFlags dfPaintInPlace = 1 << 6;
inline constexpr TGIFDrawFlags dfClearEachPass = 1 << 7;
inline constexpr TGIFDrawFlags dfTiled = 1 << 8;
inline constexpr TGIFDrawFlags dfDithered = 1 << 9;
inline constexpr TGIFDrawFlags dfDitherOnPaletteScreen = 1 << 10;
inline constexpr TGIFDrawFlags kGIFDefaultDrawFlags = 0x060F;

enum TGIFCompressionKind : uint8_t { ckLZW, ckRunLength };

using TGIFOptimizeFlags = uint8_t;
inline constexpr TGIFOptimizeFlags ofCrop = 1 << 0;
inline constexpr TGIFOptimizeFlags ofMerge = 1 << 1;
inline constexpr TGIFOptimizeFlags ofCleanup = 1 << 2;
inline constexpr TGIFOptimizeFlags ofColorTables = 1 << 3;
inline constexpr TGIFOptimizeFlags ofReduceColors = 1 << 4;

using TGIFWarning = std::function<void(TObject* sender, int severity, const std::string& message)>;
using TGIFPainterEvent = TNotifyEvent;

// The paint background value that means "the GIF's own background".
inline constexpr TColor kGIFNoPaintBackground = 0x1FFFFFFF;

class TGIFImage : public TGraphic {
public:
  TGIFImage();
  ~TGIFImage() override;

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool Equals(TGraphic* graphic) override { return graphic == this; }
  bool GetEmpty() override { return FFrames->Count() == 0; }
  int GetWidth() override { return FHeader->ScreenBlock.LogicalWidth; }
  int GetHeight() override { return FHeader->ScreenBlock.LogicalHeight; }
  HPALETTE GetPalette() override;
  void SetPalette(HPALETTE palette) override;
  void LoadFromStream(TStream& stream) override;
  void LoadFromFile(const std::string& fileName) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;
  virtual void Warning(TObject* sender, int severity, const std::string& message);

  void ResetContents();
  TBitmap* RenderedImage();
  int AddFrame(TPersistent* item);
  // Takes a frame made for this image.
  int AddFrame(std::unique_ptr<TGIFSubImage> frame);
  void SetFromBitmapAndMask(TBitmap* bitmap, TBitmap* mask, int transparentIndex);
  void OptimizeFrames(TGIFOptimizeFlags flags, TGIFReductionMethod method, TGIFDitherKind dither, int bits);
  bool GetDitherActive() const;
  void DropCachedBitmap();
  // The highest version the frames need (stopping at the first that needs 2); 0 without frames.
  int NeededVersion();

  // Painters (gif_painter.cpp).
  TGIFPainter* StartPainter(TGIFPainter** slot, TCanvas* canvas, TGIFDrawFlags flags, const TRect& rect);
  void StopActivePainter();
  void StopAllPainters();
  TCriticalSection& PainterLock() { return FPainterLock; }
  std::vector<TGIFPainter*>& PainterList() { return FPainterList; }
  TGIFPainter* ActivePainter() const { return FActivePainter; }

  TGIFImageList& Frames() { return *FFrames; }
  TGIFHeader& Header() { return *FHeader; }
  TGIFColorMap& GlobalColorMap() { return FHeader->GlobalMap(); }
  TColor BackgroundColor() { return static_cast<TColor>(FHeader->BackgroundColor()); }

  TGIFDrawFlags DrawFlags() const { return FDrawFlags; }
  void SetDrawFlags(TGIFDrawFlags value) { FDrawFlags = value; }
  TGIFReductionMethod ReductionMethod() const { return FReductionMethod; }
  void SetReductionMethod(TGIFReductionMethod value) { FReductionMethod = value; }
  int QuantizeBits() const { return FQuantizeBits; }
  void SetQuantizeBits(int value) { FQuantizeBits = value; }
  TGIFDitherKind DitherKind() const { return FDitherKind; }
  void SetDitherKind(TGIFDitherKind value) { FDitherKind = value; }
  TGIFCompressionKind CompressionKind() const { return FCompressionKind; }
  void SetCompressionKind(TGIFCompressionKind value) { FCompressionKind = value; }
  TThreadPriority PainterPriority() const { return FPainterPriority; }
  void SetPainterPriority(TThreadPriority value) { FPainterPriority = value; }
  int SpeedPercent() const { return FSpeedPercent; }
  void SetSpeedPercent(int value) { FSpeedPercent = value; }
  TColor PaintBackground() const { return FPaintBackground; }
  void SetPaintBackground(TColor value) { FPaintBackground = value; }

  // Reports of long operations, as the framework's progress event.
  void ReportProgress(TObject* sender, TProgressStage stage, int percent, bool redrawNow, const std::string& msg);
  // The change notification with a sender of our choice.
  void NotifyChanged(TObject* sender) { Changed(sender); }

  TGIFWarning OnReportWarning;
  TGIFPainterEvent OnPaintStart;
  TGIFPainterEvent OnBeforeFrame;
  TGIFPainterEvent OnAfterFrame;
  TGIFPainterEvent OnPassStart;
  TGIFPainterEvent OnPaintEnd;

  // The registered clipboard format "GIF Image".
  static UINT ClipboardFormat();
  // Whether the screen has a palette (below 9 bits per pixel); tests may pretend.
  static bool PaletteScreen();
  static void SetPaletteScreen(bool value);
  // Why the last load refused the stream ("" after a good load): the rule that
  // fired where one message stands for several.
  const std::string& LastRefusal() const { return FLastRefusal; }

protected:
  void AssignTo(TPersistent* dest) override;
  void DoSetWidth(int value) override;
  void DoSetHeight(int value) override;

private:
  void DrawRendered(TCanvas* canvas, const TRect& rect);
  void SetLogicalSize(bool width, int value);

  bool FDrawBusy = false;
  bool FPaletteBusy = false;
  std::unique_ptr<TGIFImageList> FFrames;
  std::unique_ptr<TGIFHeader> FHeader;
  HPALETTE FPaletteCache = nullptr;
  TCriticalSection FPainterLock;
  std::vector<TGIFPainter*> FPainterList;
  TGIFDrawFlags FDrawFlags = kGIFDefaultDrawFlags;
  TGIFReductionMethod FReductionMethod = rdCube216;
  int FQuantizeBits = 8;
  TGIFDitherKind FDitherKind = dkNearest;
  TGIFCompressionKind FCompressionKind = ckLZW;
  std::unique_ptr<TBitmap> FCachedBitmap;
  std::string FLastRefusal;
  TGIFPainter* FActivePainter = nullptr;
  TThreadPriority FPainterPriority = tpNormal;
  int FSpeedPercent = 100;
  TColor FPaintBackground = kGIFNoPaintBackground;
};

// Draws source through a 1-bit mask (set bits transparent) stretched into the
// destination: the source where the mask is clear, the destination kept where it
// is set. Always true.
bool TransparentStretchBlt(HDC dest, int destX, int destY, int destWidth, int destHeight, HDC source, int srcX,
                           int srcY, int srcWidth, int srcHeight, HDC mask, int maskX, int maskY);
