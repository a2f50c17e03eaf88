#include "imaging/io/io_params.h"

#include <gtest/gtest.h>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/imaging_annot.h"
#include "imaging/io/jpeg_markers.h"
#include "io_test_support.h"

namespace {

TEST(IOParams, DefaultsWithAndWithoutOwner) {
  TIOParamsVals alone(nullptr);
  EXPECT_EQ(alone.DpiX, 0);
  EXPECT_EQ(alone.DpiY, 0);
  TImageLibIO io(nullptr);
  EXPECT_EQ(io.Params().DpiX, gDefaultDPIX);
  EXPECT_EQ(io.Params().DpiY, 300);
  // The EXIF resolution agrees with the DPI after a reset (it was 0 beside 300).
  EXPECT_EQ(io.Params().ExifXResolution, 300.0);
  EXPECT_EQ(io.Params().ExifYResolution, 300.0);

  // Kept as the library has always done: the two orientations differ after a reset.
  EXPECT_EQ(alone.TiffOrientation, 1);
  EXPECT_EQ(alone.ExifOrientation, 0);
  EXPECT_EQ(alone.IcoSizes[0].Width, 64);
  EXPECT_EQ(alone.IcoSizes[1].Width, 0);
  EXPECT_EQ(alone.IcoBitCounts[0], 8);
  EXPECT_EQ(alone.GifDisposal, 2);
  EXPECT_EQ(alone.PsTitle, "No Title");
  EXPECT_EQ(alone.TiffSubIndex, -1);
  EXPECT_EQ(alone.ExifBrightnessValue, -1000.0);
}

TEST(IOParams, ResetDefaultsKeepsSizeWithoutOwnerAndWarnings) {
  TIOParamsVals p(nullptr);
  p.Width = 40;
  p.DpiX = 72;
  p.JpegWarningCount = 3;
  p.JpegQuality = 10;
  p.SetImageIndex(4);
  p.XmpPacket = "x";
  p.GetImagingAnnot()->Add();
  p.ResetDefaults();
  EXPECT_EQ(p.Width, 40);
  EXPECT_EQ(p.DpiX, 72);
  EXPECT_EQ(p.JpegWarningCount, 3);
  EXPECT_EQ(p.JpegQuality, 80);
  EXPECT_EQ(p.CurImageIndex, 0);
  EXPECT_TRUE(p.XmpPacket.empty());
  EXPECT_EQ(p.ImagingAnnotations, nullptr);
}

TEST(IOParams, GroupedSettersMoveTogether) {
  TIOParamsVals p(nullptr);
  p.SetImageIndex(3);
  for (int v : {p.ImageIndex, p.TiffImageIndex, p.DcxImageIndex, p.GifImageIndex, p.IcoImageIndex, p.CurImageIndex})
    EXPECT_EQ(v, 3);
  p.SetImageCount(7);
  for (int v : {p.ImageCount, p.TiffImageCount, p.GifImageCount, p.AviFrameCount, p.VideoFrameCount}) EXPECT_EQ(v, 7);
  p.SetOrientation(6);
  EXPECT_EQ(p.ExifOrientation, 6);
  p.SetEXIFOrientation(8);
  EXPECT_EQ(p.TiffOrientation, 8);
  p.SetApplyOrientation(true);
  EXPECT_TRUE(p.ApplyOrientation && p.TiffApplyOrientation && p.JpegApplyOrientation);
  p.SetUseEXIFThumbnail(true);
  EXPECT_TRUE(p.GetThumbnail && p.JpegUseExifThumbnail);
  p.SetDpiXFloat(72.9);
  EXPECT_EQ(p.DpiX, 72);
  EXPECT_EQ(p.ExifXResolution, 72.9);
  p.SetDpiYFloat(-1e300);  // out of range: clamped, never undefined
  EXPECT_EQ(p.ExifYResolution, -1e300);
}

struct ExifSetterCase {
  const char* name;
  void (*set)(TIOParamsVals&, double);
  int tag;
  double unset;
};

#define QV_CASE(Name, Tag, Unset) \
  {#Name, [](TIOParamsVals& p, double v) { p.SetEXIF##Name(static_cast<decltype(p.Exif##Name)>(v)); }, Tag, Unset}
const ExifSetterCase kExifSetters[] = {
    QV_CASE(ExposureTime, 33434, -1),          QV_CASE(FNumber, 33437, -1),
    QV_CASE(ExposureProgram, 34850, -1),       QV_CASE(CompressedBitsPerPixel, 37122, 0),
    QV_CASE(ShutterSpeedValue, 37377, -1),     QV_CASE(ApertureValue, 37378, -1),
    QV_CASE(BrightnessValue, 37379, -1000),    QV_CASE(ExposureBiasValue, 37380, -1000),
    QV_CASE(MaxApertureValue, 37381, -1000),   QV_CASE(SubjectDistance, 37382, -1),
    QV_CASE(MeteringMode, 37383, -1),          QV_CASE(LightSource, 37384, -1),
    QV_CASE(Flash, 37385, -1),                 QV_CASE(FocalLength, 37386, -1),
    QV_CASE(ColorSpace, 40961, -1),            QV_CASE(PixelXDimension, 40962, 0),
    QV_CASE(PixelYDimension, 40963, 0),        QV_CASE(FocalPlaneXResolution, 41486, -1),
    QV_CASE(FocalPlaneYResolution, 41487, -1), QV_CASE(FocalPlaneResolutionUnit, 41488, -1),
    QV_CASE(ExposureIndex, 41493, -1),         QV_CASE(SensingMethod, 41495, -1),
    QV_CASE(FileSource, 41728, -1),            QV_CASE(SceneType, 41729, -1),
};
#undef QV_CASE

TEST(IOParams, ExifSettersKeepTheTagList) {
  for (const ExifSetterCase& c : kExifSetters) {
    SCOPED_TRACE(c.name);
    TIOParamsVals p(nullptr);
    c.set(p, c.unset);
    EXPECT_FALSE(p.HasEXIFTag(c.tag));
    c.set(p, c.unset == -1 ? -1000 : -1);  // any other value, -1 where it is not the unset one
    EXPECT_TRUE(p.HasEXIFTag(c.tag));
    c.set(p, 5);
    EXPECT_EQ(std::count(p.ExifTags.begin(), p.ExifTags.end(), c.tag), 1);
    c.set(p, c.unset);
    EXPECT_FALSE(p.HasEXIFTag(c.tag));
  }
}

TEST(IOParams, IndexedExifValuesStayInsideTheirFields) {
  TIOParamsVals p(nullptr);
  p.SetEXIFWhitePoint(1, 0.3);
  p.SetEXIFWhitePoint(2, 9);   // one past the end: ignored
  p.SetEXIFWhitePoint(-1, 9);
  EXPECT_EQ(p.GetEXIFWhitePoint(1), 0.3);
  EXPECT_EQ(p.GetEXIFWhitePoint(2), -1);
  EXPECT_EQ(p.ExifYCbCrPositioning, -1);  // the field after the arrays is untouched
  p.SetEXIFISOSpeedRatings(5, 100);
  EXPECT_EQ(p.GetEXIFISOSpeedRatings(5), 0);
  p.SetEXIFReferenceBlackWhite(5, 255);
  EXPECT_EQ(p.GetEXIFReferenceBlackWhite(5), 255);
  EXPECT_EQ(p.GetEXIFPrimaryChromaticities(6), -1);
  EXPECT_EQ(p.GetEXIFYCbCrCoefficients(3), -1);
  EXPECT_TRUE(p.ExifTags.empty());
}

TEST(IOParams, AssignCopiesDeepAndEndsIndexesAtTheCursorIndex) {
  TIOParamsVals s(nullptr), d(nullptr);
  s.TiffImageIndex = 1;
  s.GifImageIndex = 2;
  s.DcxImageIndex = 3;
  s.IcoImageIndex = 4;
  s.CurImageIndex = 5;
  s.JpegMarkers->AddMarker(0xE0, "JFIF", 5);
  s.IptcInfo->AddItem(2, 120, 3, "abc");
  s.GifComments.Add("hello");
  s.Palette = {TRGB{1, 2, 3}};
  s.PaletteCount = 1;
  s.SetEXIFFlash(1);
  s.ExifGPSLatitudeRef = "N";
  s.ExifThumbnail = std::make_unique<TIEBitmap>(2, 2, ie24RGB);
  s.GetImagingAnnot()->Add().SetMarkType(3);
  s.JpegQuality = 33;
  s.SetOrientation(6);
  s.PngCompression = 9;
  d.Assign(&s);
  EXPECT_EQ(d.JpegQuality, 33);
  EXPECT_EQ(d.PngCompression, 9);
  EXPECT_EQ(d.TiffOrientation, 6);
  EXPECT_EQ(d.ExifOrientation, 6);
  for (int v : {d.ImageIndex, d.TiffImageIndex, d.GifImageIndex, d.DcxImageIndex, d.IcoImageIndex, d.CurImageIndex})
    EXPECT_EQ(v, 5);
  EXPECT_EQ(d.JpegMarkers->Count(), 1);
  EXPECT_EQ(d.IptcInfo->Count(), 1);
  EXPECT_EQ(d.GifComments.Count(), 1);
  ASSERT_EQ(d.Palette.size(), 1u);
  EXPECT_EQ(d.Palette[0], (TRGB{1, 2, 3}));
  EXPECT_TRUE(d.HasEXIFTag(37385));
  EXPECT_EQ(d.ExifGPSLatitudeRef, "N");
  ASSERT_NE(d.ExifThumbnail, nullptr);
  EXPECT_NE(d.ExifThumbnail.get(), s.ExifThumbnail.get());
  ASSERT_NE(d.ImagingAnnotations, nullptr);
  EXPECT_EQ(d.ImagingAnnotations->Count(), 1);
  // The copy is its own: changing the source leaves it alone.
  s.JpegMarkers->Clear();
  EXPECT_EQ(d.JpegMarkers->Count(), 1);
  // A source without annotations frees the destination's.
  TIOParamsVals empty(nullptr);
  d.Assign(&empty);
  EXPECT_EQ(d.ImagingAnnotations, nullptr);
}

TEST(IOParams, AssignSaveOptionsCopiesOnlyWriterOptions) {
  TIOParamsVals s(nullptr), d(nullptr);
  s.JpegQuality = 33;
  s.PngCompression = 9;
  s.TiffCompression = 5;
  s.SetOrientation(3);
  s.BmpAlphaChannel = true;
  s.PdfCompression = 0;
  s.Width = 99;
  s.FileType = ioPNG;
  s.GifTransparent = true;
  s.XmpPacket = "x";
  d.AssignSaveOptions(&s);
  EXPECT_EQ(d.JpegQuality, 33);
  EXPECT_EQ(d.PngCompression, 9);
  EXPECT_EQ(d.TiffCompression, 5);
  EXPECT_EQ(d.TiffOrientation, 3);
  EXPECT_EQ(d.ExifOrientation, 3);
  EXPECT_TRUE(d.BmpAlphaChannel);
  EXPECT_EQ(d.PdfCompression, 0);
  EXPECT_EQ(d.Width, 0);
  EXPECT_EQ(d.FileType, ioUnknown);
  EXPECT_FALSE(d.GifTransparent);
  EXPECT_TRUE(d.XmpPacket.empty());
}

TEST(IOParams, ResetEXIFDropsOnlyTheFirstExifMarker) {
  TIOParamsVals p(nullptr);
  p.JpegMarkers->AddMarker(0xE1, "http://ns.adobe.com/xap/1.0/\0x", 30);
  p.JpegMarkers->AddMarker(0xE1, "Exif\0\0one", 9);
  p.JpegMarkers->AddMarker(0xE1, "Exif\0\0two", 9);
  p.SetEXIFFlash(0);
  p.HasExifData = true;
  p.ResetEXIF();
  ASSERT_EQ(p.JpegMarkers->Count(), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.JpegMarkers->MarkerData(1)) + 6, 3), "two");
  EXPECT_TRUE(p.ExifTags.empty());
  EXPECT_FALSE(p.HasExifData);
  EXPECT_EQ(p.ExifFlash, -1);
}

TEST(IOParams, ResetMetadataClearsWhatAReaderFills) {
  TIOParamsVals p(nullptr);
  p.IptcInfo->AddItem(2, 5, 1, "a");
  p.JpegMarkers->AddMarker(0xFE, "c", 1);
  p.PngTextKeys.Add("k");
  p.TiffPageName = "p";
  p.TgaAuthor = "a";
  p.XmpPacket = "x";
  p.GetInputICC();
  p.JpegQuality = 12;
  p.ResetMetadata();
  EXPECT_EQ(p.IptcInfo->Count(), 0);
  EXPECT_EQ(p.JpegMarkers->Count(), 0);
  EXPECT_EQ(p.PngTextKeys.Count(), 0);
  EXPECT_TRUE(p.TiffPageName.empty() && p.TgaAuthor.empty() && p.XmpPacket.empty());
  EXPECT_EQ(p.InputICC, nullptr);
  EXPECT_EQ(p.JpegQuality, 12);
}

}  // namespace
