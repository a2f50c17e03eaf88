#include "imaging/io/picture_adapters.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_dib_exchange.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/byte_order.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

// The framework's wording for a picture its reader refused.
std::string InvalidText(TImageFileType type) {
  switch (type) {
    case ioTIFF: return "TIFF image is not valid";
    case ioGIF: return "GIF image is not valid";
    case ioJPEG: return "JPEG image is not valid";
    case ioPCX: return "PCX image is not valid";
    case ioBMP: return "Bitmap image is not valid";
    case ioICO: return "Icon image is not valid";
    case ioPNG: return "PNG image is not valid";
    case ioTGA: return "TGA image is not valid";
    case ioPXM: return "PXM image is not valid";
    case ioJP2:
    case ioJ2K: return "JPEG2000 image is not valid";
    case ioPSD: return "PSD image is not valid";
    default: return "Image is not valid";
  }
}

[[noreturn]] void Invalid(TImageFileType type) { throw EInvalidGraphic(InvalidText(type)); }

// Loads through the component into a bitmap of its own, which the caller
// takes over only when the load worked.
std::unique_ptr<TIEBitmap> LoadAside(TImageLibIO& io, TIEBitmap* home, TStream& stream, TImageFileType type) {
  auto aside = std::make_unique<TIEBitmap>();
  io.AttachBitmap(aside.get());
  io.SetAborting(false);
  try {
    io.LoadStreamAsType(stream, type);
  } catch (...) {
    io.AttachBitmap(home);
    throw;
  }
  io.AttachBitmap(home);
  if (io.Aborting() || aside->IsEmpty()) return nullptr;
  return aside;
}

}  // namespace

// ---- TIEGraphicBase ----

TIEGraphicBase::TIEGraphicBase(TImageFileType fileType)
    : FBitmap(std::make_unique<TIEBitmap>()), FFileType(fileType) {
  FIO = TImageLibIO::CreateForBitmap(FBitmap.get());
}

TIEGraphicBase::~TIEGraphicBase() {
  FIO.reset();
  FBitmap.reset();
}

int TIEGraphicBase::GetWidth() { return FBitmap->Width(); }
int TIEGraphicBase::GetHeight() { return FBitmap->Height(); }

void TIEGraphicBase::DoSetWidth(int value) {
  FBitmap->SetWidth(value);
  Changed(this);
}

void TIEGraphicBase::DoSetHeight(int value) {
  FBitmap->SetHeight(value);
  Changed(this);
}

void TIEGraphicBase::Draw(TCanvas* canvas, const TRect& rect) {
  if (canvas == nullptr || FBitmap->IsEmpty()) return;
  FBitmap->RenderToCanvas(*canvas, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, Filter, 1.0);
}

void TIEGraphicBase::LoadFromStream(TStream& stream) {
  if (!FIO) return;
  std::unique_ptr<TIEBitmap> loaded = LoadAside(*FIO, FBitmap.get(), stream, FFileType);
  if (!loaded) Invalid(FFileType);
  FBitmap->Assign(loaded.get());
  Changed(this);
}

void TIEGraphicBase::SaveToStream(TStream& stream) {
  if (!FIO) return;
  // The base class writes the format it last read.
  const TImageFileType type = FFileType != ioUnknown ? FFileType : FIO->Params().FileType;
  FIO->SaveStream(stream, type);
  if (FIO->Aborting()) throw EInvalidGraphic("Error on saving the picture");
}

void TIEGraphicBase::Assign(TPersistent* source) {
  if (auto* other = dynamic_cast<TIEGraphicBase*>(source)) {
    FBitmap->Assign(other->FBitmap.get());
    Changed(this);
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    // A bitmap of another depth is converted in a copy: the caller's keeps its format.
    const TPixelFormat format = bitmap->PixelFormat();
    if (format != pf24bit && format != pf1bit) {
      TBitmap copy;
      copy.Assign(bitmap);
      copy.SetPixelFormat(pf24bit);
      FBitmap->CopyFromTBitmap(copy);
    } else {
      FBitmap->CopyFromTBitmap(*bitmap);
    }
    Changed(this);
    return;
  }
  TGraphic::Assign(source);
}

void TIEGraphicBase::AssignTo(TPersistent* dest) {
  if (auto* other = dynamic_cast<TIEGraphicBase*>(dest)) {
    other->FBitmap->Assign(FBitmap.get());
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    FBitmap->CopyToTBitmap(*bitmap);
    return;
  }
  TGraphic::AssignTo(dest);
}

void TIEGraphicBase::WriteData(TStream& stream) {
  TMemoryStream data;
  SaveToStream(data);
  uint8_t length[4];
  WriteLE32(length, uint32_t(data.Size()));
  stream.WriteBuffer(length, 4);
  if (data.Size() > 0) stream.WriteBuffer(data.Memory(), data.Size());
}

void TIEGraphicBase::ReadData(TStream& stream) {
  uint8_t length[4];
  if (stream.Read(length, 4) != 4) return;
  const int64_t size = int64_t(ReadLE32(length));
  if (size <= 0) return;
  // The picture's bytes alone: a reader that looks further must not see what follows.
  if (size > stream.Size() - stream.Position()) Invalid(FFileType);
  TMemoryStream data;
  data.CopyFrom(stream, size);
  data.SetPosition(0);
  LoadFromStream(data);
}

void TIEGraphicBase::LoadFromClipboardFormat(WORD format, HANDLE data, HPALETTE) {
  if (format != CF_DIB) return;
  TIEBitmap loaded;
  if (DIBToIEBitmap(static_cast<HGLOBAL>(data), loaded) == 0) Invalid(ioBMP);
  FBitmap->Assign(&loaded);
  Changed(this);
}

void TIEGraphicBase::SaveToClipboardFormat(WORD& format, HANDLE& data, HPALETTE&) {
  data = CopyBitmaptoDIBEx(*FBitmap, 0, 0, 0, 0, 200, 200);
  format = CF_DIB;
}

// ---- TTGAImage ----

TTGAImage::TTGAImage() : FIO(std::make_unique<TImageLibIO>(nullptr)) {}
TTGAImage::~TTGAImage() = default;

void TTGAImage::LoadFromStream(TStream& stream) {
  FIO->SetAborting(false);
  FIO->LoadTGAStream(stream);
  if (FIO->Aborting() || FIO->IEBitmap()->IsEmpty()) Invalid(ioTGA);
  TMemoryStream png;
  FIO->SavePNGStream(png);
  if (FIO->Aborting()) Invalid(ioTGA);
  png.SetPosition(0);
  TPNGImage::LoadFromStream(png);
}

void TTGAImage::SaveToStream(TStream& stream) {
  // The picture as it stands now, which may have changed since the last load.
  TMemoryStream png;
  TPNGImage::SaveToStream(png);
  png.SetPosition(0);
  FIO->SetAborting(false);
  FIO->LoadPNGStream(png);
  if (FIO->Aborting()) throw EInvalidGraphic("Error on saving TGA image");
  FIO->SaveTGAStream(stream);
  if (FIO->Aborting()) throw EInvalidGraphic("Error on saving TGA image");
}

// ---- TTIFFImage ----

TTIFFImage::TTIFFImage() : FIO(std::make_unique<TImageLibIO>(nullptr)) {}
TTIFFImage::~TTIFFImage() = default;

void TTIFFImage::LoadFromStream(TStream& stream) {
  FIO->SetAborting(false);
  FIO->LoadTIFFStream(stream);
  if (FIO->Aborting() || FIO->IEBitmap()->IsEmpty()) Invalid(ioTIFF);
  FIO->IEBitmap()->CopyToTBitmap(*this);
  Changed(this);
}

void TTIFFImage::SaveToStream(TStream& stream) {
  FIO->IEBitmap()->CopyFromTBitmap(*this);
  FIO->SetAborting(false);
  FIO->SaveTIFFStream(stream);
  if (FIO->Aborting()) throw EInvalidGraphic("Error on saving TIFF image");
}

void RegisterPictureAdapters() {
  // Once only, also when the library starts again.
  UnregisterPictureAdapters();
  TPicture::RegisterFileFormat("tga", "TGA Image", TGraphicClass::Of<TTGAImage>());
  TPicture::RegisterFileFormat("tiff", "TIFF Image", TGraphicClass::Of<TTIFFImage>());
  TPicture::RegisterFileFormat("tif", "TIFF Image", TGraphicClass::Of<TTIFFImage>());
}

void UnregisterPictureAdapters() {
  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TTGAImage>());
  TPicture::UnregisterGraphicClass(TGraphicClass::Of<TTIFFImage>());
}
