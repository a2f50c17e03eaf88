#include "app/picture_utils.h"

#include <memory>

#include "app/picture_transfer.h"
#include "app/result_assembly.h"
#include "base/app_messages.h"
#include "base/file_type_sniffer.h"
#include "base/path_utils.h"
#include "base/toolbox/bitmap_fix32.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/geometry_effects.h"
#include "base/toolbox/image_conversion.h"
#include "base/ui_helpers.h"
#include "icons/advanced_icon.h"
#include "icons/icon_project.h"
#include "icons/sub_icon_render.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "pictures/gif/gif_image.h"
#include "pictures/gif/gif_reduction.h"
#include "pictures/png/png_image.h"
#include "platform/rtl/sysutils.h"
#include "platform/ui/file_dialogs.h"
#include "platform/ui/img_list.h"
#include "platform/graphics/bmp_codec.h"
#include "platform/win/resources.h"

namespace {

constexpr TColor kExportBackground = 0xFFFFFF;
constexpr TColor kStripMaskColour = 0xFF00FF;

bool MaskHasWhite(TBitmap* mask) { return mask && mask->Width() > 0 && BitmapHasColor(mask, clWhite); }

// The icon written for ico and icpr: a copy of the caller's, or one holding
// the image alone, which is taken out again (not freed) when it goes.
class TExportIcon {
public:
  TExportIcon(TAdvancedIcon* icon, TSubIcon* image) {
    if (icon) {
      FIcon.Assign(icon);
    } else {
      FIcon.Images().Add(std::unique_ptr<TSubIcon>(image));
      FBorrowed = true;
    }
  }
  ~TExportIcon() {
    if (FBorrowed) (void)FIcon.Images().RemoveAt(0, false).release();
  }
  TAdvancedIcon& Icon() { return FIcon; }

private:
  TAdvancedIcon FIcon;
  bool FBorrowed = false;
};

void CompositeOnWhite(TSubIcon* image, TBitmap& bitmap) { ExtractBitmaps(*image, &bitmap, nullptr, kExportBackground, nullptr); }

}  // namespace

void SaveBitmapAsJPEG(TBitmap* bitmap, int quality, const std::string& fileName) {
  TIEBitmap picture;
  TBitmap flat;
  flat.Assign(bitmap);
  if (flat.PixelFormat() != pf24bit) flat.SetPixelFormat(pf24bit);
  Bitmap32ToIEBitmap(flat, picture);
  picture.RemoveAlphaChannel();
  auto io = TImageLibIO::CreateForBitmap(&picture);
  auto attempt = [&](int q) {
    io->Params().JpegQuality = q;
    io->SaveFile(fileName, ioJPEG);
    return !io->Aborting();
  };
  if (attempt(quality)) return;
  if (!attempt(kJpegFallbackQuality)) throw EInvalidGraphic(Format("Cannot write the JPEG file %s", fileName.c_str()));
}

void RenderSubIconOnBitmap(TSubIcon* image, TBitmap* bitmap, TColor colour) {
  TBitmap mask;
  ExtractBitmaps(*image, nullptr, bitmap, kNoBackground, &mask);
  bool composite = colour == kNoBackground || !MaskHasWhite(&mask);
  if (!composite) {
    const COLORREF rgb = static_cast<COLORREF>(ColorToRGB(colour));
    composite = GetNearestColor(bitmap->Canvas()->Handle(), rgb) == rgb;
  }
  if (composite) {
    ExtractBitmaps(*image, bitmap, nullptr, colour == kNoBackground ? clWhite : colour, nullptr);
    return;
  }
  PaintMaskedWithColor(bitmap, &mask, colour);
}

void SubIconToGIF(TSubIcon* image, int alphaThreshold, TGIFImage* gif) {
  TBitmap raw, mask;
  if (image->GetBitsPerPixel() == 32) {
    TBitmap bits32;
    ExtractBitmaps(*image, nullptr, &bits32, kNoBackground, nullptr);
    AlphaToMask(&bits32, &raw, &mask, alphaThreshold, false);
  } else {
    ExtractBitmaps(*image, nullptr, &raw, kNoBackground, &mask);
    const TPixelFormat f = raw.PixelFormat();
    if (f == pf15bit || f == pf16bit || f == pfCustom || f == pfDevice) raw.SetPixelFormat(pf24bit);
  }
  const bool masked = MaskHasWhite(&mask);
  const TPixelFormat f = raw.PixelFormat();
  const bool lowDepth = f == pf1bit || f == pf4bit;
  if (masked) {
    if (lowDepth) {
      gif->SetFromBitmapAndMask(&raw, &mask, -1);
    } else if (f == pf8bit) {
      TBitmap copy;
      copy.Assign(&raw);
      int index = 0;
      ReserveTransparentIndex(&copy, &mask, index, clWhite);
      gif->SetFromBitmapAndMask(&copy, &mask, index);
    } else {
      TBitmap reduced;
      ReduceToPalette(&raw, &reduced, true, false, nullptr, 255, alphaThreshold);
      gif->SetFromBitmapAndMask(&reduced, &mask, -1);
    }
  } else if (!lowDepth && f != pf8bit) {
    TBitmap reduced;
    ReduceToPalette(&raw, &reduced, true, false, nullptr, 256, alphaThreshold);
    gif->Assign(&reduced);
  } else {
    gif->Assign(&raw);
  }
  gif->OptimizeFrames(ofMerge | ofCleanup | ofColorTables, rdNone, dkNearest, 0);
}

void ExportSubIconAs(TAdvancedIcon* icon, TSubIcon* image, const std::string& pattern, std::string& fileName) {
  if (!image && icon && icon->Count() > 0) image = icon->Images().GetItem(0);
  if (!image) throw Exception(AppMessages.InvalidIconCannotSave);
  const std::string ext = LowerCase(pattern);
  static const char* const kKnown[] = {"ico", "bmp", "jpg", "jpeg", "png", "icpr", "gif"};
  bool known = false;
  for (const char* k : kKnown) known = known || ext == k;
  // Nothing is written for another extension, and the caller must not take the
  // name for a saved file.
  if (!known) throw Exception(Format("Cannot save an icon image as \"%s\": choose ico, bmp, jpg, png, icpr or gif",
                                     ext.c_str()));
  fileName = AppendExtension(fileName, ext);
  TExportIcon whole(icon, image);
  if (ext == "ico") {
    whole.Icon().SaveToFile(fileName);
  } else if (ext == "bmp") {
    TBitmapFix32 bitmap;
    if (image->GetBitsPerPixel() == 32) ExtractBitmaps(*image, nullptr, &bitmap, kNoBackground, nullptr);
    else if (image->GetBitsPerPixel() == 8) RenderSubIconOnBitmap(image, &bitmap, kExportBackground);
    else CompositeOnWhite(image, bitmap);
    bitmap.SaveToFile(fileName);
  } else if (ext == "jpg" || ext == "jpeg") {
    TBitmapFix32 bitmap;
    CompositeOnWhite(image, bitmap);
    SaveBitmapAsJPEG(&bitmap, 100, fileName);
  } else if (ext == "png") {
    TPNGImage png;
    AssignToPNG(*image, png);
    png.SaveToFile(fileName);
  } else if (ext == "icpr") {
    TIconProject project;
    project.Assign(&whole.Icon());
    project.SaveToFile(fileName);
  } else {
    TGIFImage gif;
    SubIconToGIF(image, 80, &gif);
    gif.SaveToFile(fileName);
  }
}

void ExportSubIcon(TAdvancedIcon* icon, TSubIcon* image, TOpenDialog* dialog, std::string& fileName) {
  ExportSubIconAs(icon, image, GetFilterExt(dialog->Filter(), dialog->FilterIndex()), fileName);
}

void ColorizeSubIcon(TSubIcon* image, TColor colour) {
  TBitmap bitmap, mask;
  ExtractBitmaps(*image, nullptr, &bitmap, kNoBackground, &mask);
  ColorizeBitmap(&bitmap, colour);
  TAdvancedIcon temporary;
  TSubIcon* made = temporary.Images().AddBitmap(&bitmap, &mask, 0);
  image->Assign(made);
}

void ColorizeIcon(TAdvancedIcon* icon, TColor colour) {
  for (int i = 0; i < icon->Count(); ++i) ColorizeSubIcon(icon->Images().GetItem(i), colour);
}

void BlendBitmap32OnColor(TBitmap* source32, TBitmap* target24, TColor colour, TColor transparentColour) {
  const uint32_t c = static_cast<uint32_t>(colour);
  const int cc[3] = {int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)};  // blue, green, red
  const uint32_t t = static_cast<uint32_t>(transparentColour);
  const uint8_t tt[3] = {uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t)};
  const int w = std::min(source32->Width(), target24->Width()), h = std::min(source32->Height(), target24->Height());
  for (int y = 0; y < h; ++y) {
    const auto* s = static_cast<const uint8_t*>(source32->ScanLine(y));
    auto* d = static_cast<uint8_t*>(target24->ScanLine(y));
    for (int x = 0; x < w; ++x, s += 4, d += 3) {
      const int a = s[3];
      for (int k = 0; k < 3; ++k) d[k] = a == 0 ? tt[k] : uint8_t(cc[k] + a * s[k] / 255 - a * cc[k] / 255);
    }
  }
}

bool LoadImageListEx(const std::string& fileName, TCustomImageList* list, TCustomImageList* disabledList,
                     TColor background) {
  if (!FileExists(fileName)) return list->Count() > 0;
  TBitmapFix32 bitmap;
  try {
    TSniffedFileType type = sftUnknown;
    int32_t sub = 0;
    DetectFileType(fileName, type, sub);
    if (type == sftBmp) {
      bitmap.LoadFromFile(fileName);
    } else if (type == sftPng) {
      TPNGImage png;
      png.LoadFromFile(fileName);
      bitmap.Assign(&png);
    }
  } catch (const std::exception&) {
    bitmap.SetSize(0, 0);
  }
  if (bitmap.Width() == 0) return list->Count() > 0;
  try {
    if (bitmap.PixelFormat() == pf32bit) {
      const TColor bg = ColorToRGB(background);
      TBitmap image;
      image.SetPixelFormat(pf24bit);
      image.SetSize(bitmap.Width(), bitmap.Height());
      BlendBitmap32OnColor(&bitmap, &image, bg, kStripMaskColour);
      list->AddMasked(&image, kStripMaskColour);
      if (disabledList) {
        GrayscaleRangeBitmap(&bitmap, kNoBackground);
        const uint32_t b = static_cast<uint32_t>(bg);
        const bool grey = (b & 0xFF) == ((b >> 8) & 0xFF) && (b & 0xFF) == ((b >> 16) & 0xFF);
        if (!grey) ColorizeBitmap(&bitmap, ColorToRGB(clBtnShadow));
        ReplaceColor32(&bitmap, 0, 0xFFFF00FFu, false);
        FlattenOnColor(&bitmap, &image, static_cast<uint32_t>(bg));
        disabledList->AddMasked(&image, kStripMaskColour);
      }
    } else {
      list->AddMasked(&bitmap, kStripMaskColour);
      if (disabledList) {
        GrayscaleRangeBitmap(&bitmap, kStripMaskColour);
        disabledList->AddMasked(&bitmap, kStripMaskColour);
      }
    }
  } catch (const std::exception&) {
  }
  return list->Count() > 0;
}

bool LoadImageList(const std::string& fileName, TCustomImageList* list, TCustomImageList* disabledList) {
  return LoadImageListEx(fileName, list, disabledList, clBtnFace);
}

bool LoadBitmapResource(TBitmap* bitmap, const char* name) {
  HRSRC found = FindResource(HInstance, name, RT_BITMAP);
  if (!found) return false;
  HGLOBAL data = LoadResource(HInstance, found);
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) return false;
  try {
    // The resource holds a packed DIB; the bitmap reads it as a BMP file.
    const bmpcodec::Dib dib = bmpcodec::ReadPackedDib(bytes, SizeofResource(HInstance, found));
    TMemoryStream stream;
    bmpcodec::WriteBmp(stream, dib);
    stream.SetPosition(0);
    bitmap->LoadFromStream(stream);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
