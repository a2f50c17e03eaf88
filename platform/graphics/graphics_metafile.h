#pragma once
// TMetafile, the framework's vector picture: an enhanced metafile handle with its
// size in hundredths of a millimetre. It loads enhanced metafiles and Windows
// metafiles with or without the placeable header (a Windows metafile becomes an
// enhanced one on loading), and saves either an enhanced metafile or, with
// Enhanced off, a placeable Windows metafile. TMetafileCanvas records drawing
// into a metafile; the recording becomes the metafile's picture when the canvas
// is destroyed.
#include <string>

#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_graphic.h"

class TMetafile : public TGraphic {
public:
  TMetafile();
  ~TMetafile() override;

  void Assign(TPersistent* source) override;
  // Plays the picture stretched into the rectangle.
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return FHandle == nullptr; }
  // In pixels at 96 DPI.
  int GetWidth() override;
  int GetHeight() override;

  // EInvalidGraphic "Metafile is not valid" for bytes that hold no metafile or a
  // damaged header; the metafile is then unchanged.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // CF_ENHMETAFILE: the data is a metafile handle, copied. CF_METAFILEPICT: a
  // global block holding a METAFILEPICT, whose metafile is converted.
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;

  // The metafile handle (nullptr while empty); it stays the metafile's.
  HENHMETAFILE Handle() const { return FHandle; }
  // Takes over a handle; the size comes from its frame.
  void SetHandle(HENHMETAFILE value);
  // Gives the handle away; the metafile becomes empty.
  HENHMETAFILE ReleaseHandle();
  void Clear();

  bool Enhanced() const { return FEnhanced; }
  void SetEnhanced(bool value) { FEnhanced = value; }
  // Size in hundredths of a millimetre.
  int MMWidth() const { return FMMWidth; }
  int MMHeight() const { return FMMHeight; }
  void SetMMWidth(int value);
  void SetMMHeight(int value);
  // Units per inch of a placeable Windows metafile (0: none was loaded).
  int Inch() const { return FInch; }
  void SetInch(int value) { FInch = value; }
  std::string CreatedBy();
  std::string Description();

protected:
  void DoSetWidth(int value) override;
  void DoSetHeight(int value) override;

private:
  friend class TMetafileCanvas;
  void TakeHandle(HENHMETAFILE handle, int mmWidth, int mmHeight, int inch);

  HENHMETAFILE FHandle = nullptr;
  int FMMWidth = 0;
  int FMMHeight = 0;
  int FInch = 0;
  bool FEnhanced = true;
};

class TMetafileCanvas : public TCanvas {
public:
  // Records on a DC made for the reference device (nullptr: the screen); the
  // picture is framed by the metafile's size when it has one, else by what is drawn.
  TMetafileCanvas(TMetafile* metafile, HDC referenceDevice);
  TMetafileCanvas(TMetafile* metafile, HDC referenceDevice, const std::string& createdBy,
                  const std::string& description);
  ~TMetafileCanvas() override;

private:
  TMetafile* FMetafile;
  HDC FDC = nullptr;
};

// Registers the clipboard releasers of the metafile formats and the conversions
// between them; done once, on first use of the picture registry or a metafile.
void RegisterMetafileClipboardSupport();
