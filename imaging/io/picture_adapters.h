#pragma once
// Pictures of the framework's registry that read and write through the
// input/output component: TIEGraphicBase (a library bitmap with its own
// component; each subclass fixes the file format), TTGAImage (a Targa picture
// held as a PNG picture) and TTIFFImage (a TIFF picture held as a bitmap).
// A load that fails raises EInvalidGraphic ("TIFF image is not valid", ...)
// and leaves the picture as it was.
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/core/ie_resample.h"
#include "imaging/io/io_types.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_graphic.h"

class TIEBitmap;
class TImageLibIO;

class TIEGraphicBase : public TGraphic {
public:
  TIEGraphicBase() : TIEGraphicBase(ioUnknown) {}
  ~TIEGraphicBase() override;

  void Assign(TPersistent* source) override;
  void Draw(TCanvas* canvas, const TRect& rect) override;
  bool GetEmpty() override { return false; }
  int GetWidth() override;
  int GetHeight() override;
  // Code 0 (the base class) finds the format by the content.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // CF_DIB only; other formats are ignored.
  void LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE palette) override;
  // A CF_DIB of the whole picture at 200 dots per inch.
  void SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE& palette) override;
  // The form-file property: a 32-bit little-endian length, then the picture
  // as SaveToStream writes it. ReadData reads that length and no more.
  void ReadData(TStream& stream);
  void WriteData(TStream& stream);

  TImageLibIO* IO() const { return FIO.get(); }
  TIEBitmap* Bitmap() const { return FBitmap.get(); }
  TImageFileType FileType() const { return FFileType; }
  TResampleFilter Filter = rfNone;

protected:
  explicit TIEGraphicBase(TImageFileType fileType);
  void AssignTo(TPersistent* dest) override;
  void DoSetWidth(int value) override;
  void DoSetHeight(int value) override;

private:
  std::unique_ptr<TIEBitmap> FBitmap;
  std::unique_ptr<TImageLibIO> FIO;
  TImageFileType FFileType;
};

// The subclasses add nothing but their format.
#define QV_IE_GRAPHIC(Name, Code)                     \
  class Name : public TIEGraphicBase {                \
  public:                                             \
    Name() : TIEGraphicBase(Code) {}                  \
  }
QV_IE_GRAPHIC(TIETIFFImage, ioTIFF);
QV_IE_GRAPHIC(TIEGIFImage, ioGIF);
QV_IE_GRAPHIC(TIEJpegImage, ioJPEG);
QV_IE_GRAPHIC(TIEPCXImage, ioPCX);
QV_IE_GRAPHIC(TIEBMPImage, ioBMP);
QV_IE_GRAPHIC(TIEICOImage, ioICO);
QV_IE_GRAPHIC(TIEPNGImage, ioPNG);
QV_IE_GRAPHIC(TIETGAImage, ioTGA);
QV_IE_GRAPHIC(TIEPXMImage, ioPXM);
QV_IE_GRAPHIC(TIEJP2Image, ioJP2);
QV_IE_GRAPHIC(TIEJ2KImage, ioJ2K);
QV_IE_GRAPHIC(TIEPSDImage, ioPSD);
#undef QV_IE_GRAPHIC

// A Targa picture: what the library reads (alpha included) as a PNG picture.
class TTGAImage : public TPNGImage {
public:
  TTGAImage();
  ~TTGAImage() override;
  void LoadFromStream(TStream& stream) override;
  // Writes what the picture holds now.
  void SaveToStream(TStream& stream) override;

private:
  std::unique_ptr<TImageLibIO> FIO;
};

// A TIFF picture (its first page) as a bitmap.
class TTIFFImage : public TBitmap {
public:
  TTIFFImage();
  ~TTIFFImage() override;
  void LoadFromStream(TStream& stream) override;
  // Writes what the picture holds now.
  void SaveToStream(TStream& stream) override;

private:
  std::unique_ptr<TImageLibIO> FIO;
};

// "TGA", "TIF" and "TIFF" in the picture registry, and out again.
void RegisterPictureAdapters();
void UnregisterPictureAdapters();
