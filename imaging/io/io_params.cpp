#include "imaging/io/io_params.h"

#include <algorithm>
#include <cmath>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/dicom_tags.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/imaging_annot.h"
#include "imaging/io/jpeg_markers.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/sysutils.h"

TIOParamsVals::TIOParamsVals(TImageLibIO* owner)
    : JpegMarkers(std::make_unique<TIEMarkerList>()),
      DicomTags(std::make_unique<TIEDICOMTags>()),
      IptcInfo(std::make_unique<TIEIPTCInfoList>()),
      ExifMakerNote(std::make_unique<TIETagsHandler>()),
      FOwner(owner) {
  ResetDefaults();
}

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::FreePalette() {
  Palette.clear();
  PaletteCount = 0;
}

// ---- grouped setters ----

namespace {
// The single-image view the owner shows its picture in, or nil.
TIEViewLink* ImageViewOf(TImageLibIO* owner) {
  if (owner == nullptr) return nullptr;
  TIEViewLink* view = owner->AttachedImageLib();
  return view != nullptr && (view->ViewKind() == ievkImageView || view->ViewKind() == ievkVectView) ? view : nullptr;
}
}  // namespace

void TIOParamsVals::SetDpiX(int32_t value) {
  DpiX = value;
  ExifXResolution = value;
  if (TIEViewLink* view = ImageViewOf(FOwner)) {
    view->LockUpdate();
    view->SetDpiX(value);
    view->UnlockUpdateNoRefresh();
  }
}

void TIOParamsVals::SetDpiY(int32_t value) {
  DpiY = value;
  ExifYResolution = value;
  if (TIEViewLink* view = ImageViewOf(FOwner)) {
    view->LockUpdate();
    view->SetDpiY(value);
    view->UnlockUpdateNoRefresh();
  }
}

namespace {
// Toward zero, and inside the 32-bit range so a hostile value cannot overflow.
int32_t TruncDpi(double v) {
  if (!(v == v)) return 0;
  return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}
}  // namespace

void TIOParamsVals::SetDpiXFloat(double x) {
  SetDpiX(TruncDpi(x));
  ExifXResolution = x;
}

void TIOParamsVals::SetDpiYFloat(double y) {
  SetDpiY(TruncDpi(y));
  ExifYResolution = y;
}

void TIOParamsVals::SetImageIndex(int32_t value) {
  ImageIndex = value;
  TiffImageIndex = value;
  DcxImageIndex = value;
  GifImageIndex = value;
  IcoImageIndex = value;
  CurImageIndex = value;
}

void TIOParamsVals::SetImageCount(int32_t value) {
  ImageCount = value;
  TiffImageCount = value;
  GifImageCount = value;
  AviFrameCount = value;
  VideoFrameCount = value;
}

void TIOParamsVals::SetOrientation(int32_t value) {
  TiffOrientation = value;
  ExifOrientation = value;
}

void TIOParamsVals::SetEXIFOrientation(int32_t value) {
  ExifOrientation = value;
  TiffOrientation = value;
}

void TIOParamsVals::SetApplyOrientation(bool flag) {
  ApplyOrientation = flag;
  TiffApplyOrientation = flag;
  JpegApplyOrientation = flag;
}

void TIOParamsVals::SetUseEXIFThumbnail(bool flag) {
  GetThumbnail = flag;
  JpegUseExifThumbnail = flag;
}

// ---- holders made on first use ----

TIEICC* TIOParamsVals::GetInputICC() {
  if (!InputICC) InputICC = std::make_unique<TIEICC>();
  return InputICC.get();
}

TIEICC* TIOParamsVals::GetDefaultInputICC() {
  if (!DefaultInputICC) DefaultInputICC = std::make_unique<TIEICC>();
  return DefaultInputICC.get();
}

TIEICC* TIOParamsVals::GetOutputICC() {
  if (!OutputICC) {
    OutputICC = std::make_unique<TIEICC>();
    OutputICC->LoadSRGB();
  }
  return OutputICC.get();
}

TIEImagingAnnot* TIOParamsVals::GetImagingAnnot() {
  if (!ImagingAnnotations) ImagingAnnotations = std::make_unique<TIEImagingAnnot>(this);
  return ImagingAnnotations.get();
}

// ---- EXIF tags ----

void TIOParamsVals::AddEXIFTag(int tag) {
  if (!HasEXIFTag(tag)) ExifTags.push_back(tag);
}

void TIOParamsVals::RemoveEXIFTag(int tag) { std::erase(ExifTags, tag); }

bool TIOParamsVals::HasEXIFTag(int tag) const {
  return std::find(ExifTags.begin(), ExifTags.end(), tag) != ExifTags.end();
}

void TIOParamsVals::SetTagged(int tag, bool set) {
  if (set)
    AddEXIFTag(tag);
  else
    RemoveEXIFTag(tag);
}

namespace {
template <class T, size_t N> T GetAt(const T (&a)[N], int i, T unset) {
  return i >= 0 && i < int(N) ? a[i] : unset;
}
template <class T, size_t N> void SetAt(T (&a)[N], int i, T v) {
  if (i >= 0 && i < int(N)) a[i] = v;
}
}  // namespace

int32_t TIOParamsVals::GetEXIFISOSpeedRatings(int i) const { return GetAt(ExifISOSpeedRatings, i, 0); }
void TIOParamsVals::SetEXIFISOSpeedRatings(int i, int32_t v) { SetAt(ExifISOSpeedRatings, i, v); }
double TIOParamsVals::GetEXIFWhitePoint(int i) const { return GetAt(ExifWhitePoint, i, -1.0); }
void TIOParamsVals::SetEXIFWhitePoint(int i, double v) { SetAt(ExifWhitePoint, i, v); }
double TIOParamsVals::GetEXIFPrimaryChromaticities(int i) const { return GetAt(ExifPrimaryChromaticities, i, -1.0); }
void TIOParamsVals::SetEXIFPrimaryChromaticities(int i, double v) { SetAt(ExifPrimaryChromaticities, i, v); }
double TIOParamsVals::GetEXIFYCbCrCoefficients(int i) const { return GetAt(ExifYCbCrCoefficients, i, -1.0); }
void TIOParamsVals::SetEXIFYCbCrCoefficients(int i, double v) { SetAt(ExifYCbCrCoefficients, i, v); }
double TIOParamsVals::GetEXIFReferenceBlackWhite(int i) const { return GetAt(ExifReferenceBlackWhite, i, -1.0); }
void TIOParamsVals::SetEXIFReferenceBlackWhite(int i, double v) { SetAt(ExifReferenceBlackWhite, i, v); }

#define QV_EXIF_SETTER(Name, Type, Field, Tag, Unset) \
  void TIOParamsVals::SetEXIF##Name(Type v) {         \
    Field = v;                                        \
    SetTagged(Tag, v != (Unset));                     \
  }
QV_EXIF_SETTER(ExposureTime, double, ExifExposureTime, 33434, -1)
QV_EXIF_SETTER(FNumber, double, ExifFNumber, 33437, -1)
QV_EXIF_SETTER(ExposureProgram, int32_t, ExifExposureProgram, 34850, -1)
QV_EXIF_SETTER(CompressedBitsPerPixel, double, ExifCompressedBitsPerPixel, 37122, 0)
QV_EXIF_SETTER(ShutterSpeedValue, double, ExifShutterSpeedValue, 37377, -1)
QV_EXIF_SETTER(ApertureValue, double, ExifApertureValue, 37378, -1)
QV_EXIF_SETTER(BrightnessValue, double, ExifBrightnessValue, 37379, -1000)
QV_EXIF_SETTER(ExposureBiasValue, double, ExifExposureBiasValue, 37380, -1000)
QV_EXIF_SETTER(MaxApertureValue, double, ExifMaxApertureValue, 37381, -1000)
QV_EXIF_SETTER(SubjectDistance, double, ExifSubjectDistance, 37382, -1)
QV_EXIF_SETTER(MeteringMode, int32_t, ExifMeteringMode, 37383, -1)
QV_EXIF_SETTER(LightSource, int32_t, ExifLightSource, 37384, -1)
QV_EXIF_SETTER(Flash, int32_t, ExifFlash, 37385, -1)
QV_EXIF_SETTER(FocalLength, double, ExifFocalLength, 37386, -1)
QV_EXIF_SETTER(ColorSpace, int32_t, ExifColorSpace, 40961, -1)
QV_EXIF_SETTER(PixelXDimension, int32_t, ExifPixelXDimension, 40962, 0)
QV_EXIF_SETTER(PixelYDimension, int32_t, ExifPixelYDimension, 40963, 0)
QV_EXIF_SETTER(FocalPlaneXResolution, double, ExifFocalPlaneXResolution, 41486, -1)
QV_EXIF_SETTER(FocalPlaneYResolution, double, ExifFocalPlaneYResolution, 41487, -1)
QV_EXIF_SETTER(FocalPlaneResolutionUnit, int32_t, ExifFocalPlaneResolutionUnit, 41488, -1)
QV_EXIF_SETTER(ExposureIndex, double, ExifExposureIndex, 41493, -1)
QV_EXIF_SETTER(SensingMethod, int32_t, ExifSensingMethod, 41495, -1)
QV_EXIF_SETTER(FileSource, int32_t, ExifFileSource, 41728, -1)
QV_EXIF_SETTER(SceneType, int32_t, ExifSceneType, 41729, -1)
#undef QV_EXIF_SETTER

// ---- resets ----

void TIOParamsVals::ResetDefaults() {
  // 1
  FreePalette();
  FileName.clear();
  FileType = ioUnknown;
  BitsPerSample = 8;
  SamplesPerPixel = 3;
  NativePixelFormat = false;
  // 2
  if (FOwner != nullptr) {
    if (TBitmap* vcl = FOwner->GetVclBitmap()) {
      Width = vcl->Width();
      Height = vcl->Height();
    }
    SetDpiX(gDefaultDPIX);
    SetDpiY(gDefaultDPIY);
  }
  // 3
  ImageIndex = 0;
  ImageCount = 0;
  GetThumbnail = false;
  HeaderlessImage = false;
  ApplyOrientation = false;
  // 4
  const TIEFilterSlots& slots = IEFilters();
  GifVersion = "GIF89a";
  SetImageIndex(0);
  GifXPos = GifYPos = GifDelay = 0;
  GifWinWidth = GifWinHeight = 0;
  GifAspectRatio = 0;
  GifTransparent = false;
  GifTransparentColor = TRGB{};
  GifBackground = TRGB{};
  GifInterlaced = false;
  GifLZWDecoder = slots.GIFLZWDecompress;
  GifLZWEncoder = slots.GIFLZWCompress;
  GifImageCount = 0;
  GifComments.Clear();
  GifDisposal = 2;
  // 5
  SetImageIndex(0);
  TiffCompression = 0;
  TiffPhotometric = 2;
  TiffPlanarConfig = 1;
  SetImageIndex(0);
  TiffSubIndex = -1;
  TiffNewSubfileType = 0;
  TiffXPos = TiffYPos = 0;
  TiffTileIndex = -1;
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  TiffPageNumber = -1;
  TiffPageCount = -1;
  SetOrientation(1);
  TiffLZWDecoder = slots.TIFFLZWDecompress;
  TiffLZWEncoder = slots.TIFFLZWCompress;
  TiffImageCount = 0;
  TiffApplyOrientation = false;
  TiffJpegQuality = 80;
  TiffJpegColorSpace = jcsYCbCr;
  TiffFillOrder = 1;
  TiffZipLevel = 1;
  TiffLittleEndian = true;
  TiffStripCount = 0;
  // 6
  JpegColorSpace = jcsYCbCr;
  JpegQuality = 80;
  JpegDctMethod = jdmAccurateInteger;
  JpegChromaSubsampling = 1;
  JpegOptimalHuffman = false;
  JpegSmoothing = 0;
  JpegProgressive = false;
  JpegScale = jscFull;
  JpegMarkers->Clear();
  JpegScaleUsed = 1;
  StoredWidth = StoredHeight = 0;
  JpegApplyOrientation = false;
  SetUseEXIFThumbnail(false);
  // 7
  J2000ColorSpace = 1;
  J2000Rate = 0.07;
  J2000Progression = 0;
  BmpCompression = 0;
  BmpVersion = 1;
  BmpAlphaChannel = false;
  PcxVersion = 5;
  PcxCompression = true;
  // 8
  SetImageIndex(0);
  IcoBackground = TRGB{255, 255, 255};
  for (TIOIcoSize& s : IcoSizes) s = TIOIcoSize{};
  IcoSizes[0] = TIOIcoSize{64, 64};
  std::fill(std::begin(IcoBitCounts), std::end(IcoBitCounts), 0);
  IcoBitCounts[0] = 8;
  SetImageIndex(0);
  CurHotSpotX = CurHotSpotY = 0;
  CurBackground = TRGB{255, 255, 255};
  // 9
  PngInterlaced = false;
  PngBackground = TRGB{};
  PngFilter = 0;
  PngCompression = 5;
  PngTextKeys.Clear();
  PngTextValues.Clear();
  DicomTags->Clear();
  DicomValueOffset = 0;
  DicomRange = 0;
  PsdLoadLayers = false;
  PsdReplaceLayers = true;
  PsdSpareFlag = false;
  HdpQuality = 0.9;
  HdpLossless = false;
  // 10
  TgaXPos = TgaYPos = 0;
  TgaCompressed = true;
  TgaImageID.clear();
  TgaAuthor.clear();
  TgaDateTime = Date();
  TgaJobName.clear();
  TgaKeyColor = TRGB{};
  TgaAspectRatio = 1.0;
  TgaGamma = 2.2;
  TgaGrayscale = false;
  // 11
  SetImageCount(0);
  AviFrameDelay = 0;
  IptcInfo->Reset();
  PxmComments.Clear();
  ResetEXIF();
  // 12
  PsPaperWidth = 595;
  PsPaperHeight = 842;
  PsCompression = 1;
  PsTitle = "No Title";
  PdfPaperWidth = 595;
  PdfPaperHeight = 842;
  PdfCompression = 2;
  PdfTitle.clear();
  PdfAuthor.clear();
  PdfSubject.clear();
  PdfKeywords.clear();
  PdfCreator.clear();
  PdfProducer.clear();
  // 13
  ImagingAnnotations.reset();
  InputICC.reset();
  OutputICC.reset();
  DefaultInputICC.reset();
  // 14
  RawHalfSize = false;
  RawGamma = 0.6;
  RawBrightness = RawRedScale = RawBlueScale = 1.0;
  RawQuickInterpolate = true;
  RawAutoWhiteBalance = RawCameraWhiteBalance = false;
  RawFourColor = false;
  RawCamera.clear();
  RawUseEmbeddedPreview = false;
  RawMatchThumbnailColors = false;
  RawSpareText.clear();
  RawPixelChannelOrder = 0;
  RawPixelPlanar = 0;
  RawPixelRowAlign = 8;
  RawPixelHeaderSize = 0;
  RawPixelDataFormat = 0;
  XmpPacket.clear();
}

void TIOParamsVals::ResetEXIF() {
  ExifTags.clear();
  HasExifData = false;
  ExifThumbnail.reset();
  ExifOrientation = 0;
  // The EXIF resolution mirrors the DPI (SetDpiX sets both): a reset keeps
  // them agreeing instead of leaving 0 beside 300.
  ExifXResolution = DpiX;
  ExifYResolution = DpiY;
  ExifResolutionUnit = 0;
  for (std::string* s : {&ExifImageDescription, &ExifMake, &ExifModel, &ExifSoftware, &ExifArtist, &ExifDateTime,
                         &ExifCopyright, &ExifVersion, &ExifDateTimeOriginal, &ExifDateTimeDigitized, &ExifSubsecTime,
                         &ExifSubsecTimeOriginal, &ExifSubsecTimeDigitized, &ExifFlashPixVersion,
                         &ExifRelatedSoundFile, &ExifUserCommentCode, &ExifImageUniqueID})
    s->clear();
  for (std::wstring* s : {&ExifUserComment, &ExifXPTitle, &ExifXPComment, &ExifXPAuthor, &ExifXPKeywords, &ExifXPSubject})
    s->clear();
  std::fill(std::begin(ExifWhitePoint), std::end(ExifWhitePoint), -1.0);
  std::fill(std::begin(ExifPrimaryChromaticities), std::end(ExifPrimaryChromaticities), -1.0);
  std::fill(std::begin(ExifYCbCrCoefficients), std::end(ExifYCbCrCoefficients), -1.0);
  std::fill(std::begin(ExifReferenceBlackWhite), std::end(ExifReferenceBlackWhite), -1.0);
  ExifYCbCrPositioning = -1;
  ExifExposureTime = ExifFNumber = -1;
  ExifExposureProgram = -1;
  ExifISOSpeedRatings[0] = ExifISOSpeedRatings[1] = 0;
  ExifCompressedBitsPerPixel = 0;
  ExifShutterSpeedValue = ExifApertureValue = -1;
  ExifBrightnessValue = ExifExposureBiasValue = ExifMaxApertureValue = -1000;
  ExifSubjectDistance = -1;
  ExifMeteringMode = ExifLightSource = ExifFlash = -1;
  ExifFocalLength = -1;
  ExifColorSpace = -1;
  ExifPixelXDimension = ExifPixelYDimension = 0;
  ExifFocalPlaneXResolution = ExifFocalPlaneYResolution = -1;
  ExifFocalPlaneResolutionUnit = -1;
  ExifExposureIndex = -1;
  ExifSensingMethod = ExifFileSource = ExifSceneType = -1;
  ExifExposureMode = ExifWhiteBalance = -1;
  ExifDigitalZoomRatio = -1;
  ExifFocalLengthIn35mmFilm = ExifSceneCaptureType = ExifGainControl = -1;
  ExifContrast = ExifSaturation = ExifSharpness = ExifSubjectDistanceRange = -1;
  ExifMakerNote->Clear();
  ExifRating = -1;
  for (std::string* s : {&ExifGPSVersionID, &ExifGPSLatitudeRef, &ExifGPSLongitudeRef, &ExifGPSAltitudeRef,
                         &ExifGPSSatellites, &ExifGPSStatus, &ExifGPSMeasureMode, &ExifGPSSpeedRef, &ExifGPSTrackRef,
                         &ExifGPSImgDirectionRef, &ExifGPSMapDatum, &ExifGPSDestLatitudeRef,
                         &ExifGPSDestLongitudeRef, &ExifGPSDestBearingRef, &ExifGPSDestDistanceRef,
                         &ExifGPSDateStamp})
    s->clear();
  for (double* a : {ExifGPSLatitude, ExifGPSLongitude, ExifGPSTimeStamp, ExifGPSDestLatitude, ExifGPSDestLongitude})
    std::fill(a, a + 3, 0.0);
  ExifGPSAltitude = ExifGPSDOP = ExifGPSSpeed = ExifGPSTrack = ExifGPSImgDirection = 0;
  ExifGPSDestBearing = ExifGPSDestDistance = 0;
  for (int i = 0; i < JpegMarkers->Count(); ++i) {
    if (JpegMarkers->MarkerType(i) == 0xE1 && IsEXIFMarker(JpegMarkers->MarkerData(i), JpegMarkers->MarkerLength(i))) {
      JpegMarkers->DeleteMarker(i);
      break;
    }
  }
}

void TIOParamsVals::ResetMetadata() {
  IptcInfo->Reset();
  ImagingAnnotations.reset();
  JpegMarkers->Clear();
  ResetEXIF();
  GifComments.Clear();
  DicomTags->Clear();
  PngTextKeys.Clear();
  PngTextValues.Clear();
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  TgaImageID.clear();
  TgaAuthor.clear();
  TgaJobName.clear();
  PxmComments.Clear();
  XmpPacket.clear();
  InputICC.reset();
}

// ---- copies ----

namespace {
void CopyICC(std::unique_ptr<TIEICC>& source, std::unique_ptr<TIEICC>& destination, TIEICC* (TIOParamsVals::*getter)(),
             TIOParamsVals& owner) {
  if (source)
    (owner.*getter)()->Assign(source.get());
  else
    destination.reset();
}
}  // namespace

void TIOParamsVals::Assign(TIOParamsVals* s) {
  if (s == nullptr || s == this) return;
  // The writer's options first (the orientation through its setter), then the rest.
  AssignSaveOptions(s);
  FileName = s->FileName;
  Width = s->Width;
  Height = s->Height;
  SetDpiX(s->DpiX);
  SetDpiY(s->DpiY);
  FileType = s->FileType;
  GetThumbnail = s->GetThumbnail;
  HeaderlessImage = s->HeaderlessImage;
  ApplyOrientation = s->ApplyOrientation;
  StoredWidth = s->StoredWidth;
  StoredHeight = s->StoredHeight;
  // TIFF; every image index goes through the one setter, so they all end at
  // the source's last one (the cursor index).
  SetImageIndex(s->TiffImageIndex);
  TiffSubIndex = s->TiffSubIndex;
  TiffNewSubfileType = s->TiffNewSubfileType;
  TiffXPos = s->TiffXPos;
  TiffYPos = s->TiffYPos;
  TiffTileIndex = s->TiffTileIndex;
  TiffDocumentName = s->TiffDocumentName;
  TiffImageDescription = s->TiffImageDescription;
  TiffPageName = s->TiffPageName;
  TiffPageNumber = s->TiffPageNumber;
  TiffPageCount = s->TiffPageCount;
  TiffLittleEndian = s->TiffLittleEndian;
  SetImageIndex(s->DcxImageIndex);
  // GIF
  GifVersion = s->GifVersion;
  SetImageIndex(s->GifImageIndex);
  GifXPos = s->GifXPos;
  GifYPos = s->GifYPos;
  GifDelay = s->GifDelay;
  GifTransparent = s->GifTransparent;
  GifTransparentColor = s->GifTransparentColor;
  GifWinWidth = s->GifWinWidth;
  GifWinHeight = s->GifWinHeight;
  GifBackground = s->GifBackground;
  GifAspectRatio = s->GifAspectRatio;
  GifComments.Assign(&s->GifComments);
  GifDisposal = s->GifDisposal;
  // JPEG
  JpegScale = s->JpegScale;
  JpegMarkers->Assign(s->JpegMarkers.get());
  JpegScaleUsed = s->JpegScaleUsed;
  JpegApplyOrientation = s->JpegApplyOrientation;
  SetUseEXIFThumbnail(s->JpegUseExifThumbnail);
  GetThumbnail = s->GetThumbnail;
  SetImageIndex(s->IcoImageIndex);
  IcoBackground = s->IcoBackground;
  SetImageIndex(s->CurImageIndex);
  CurHotSpotX = s->CurHotSpotX;
  CurHotSpotY = s->CurHotSpotY;
  CurBackground = s->CurBackground;
  PngBackground = s->PngBackground;
  PngTextKeys.Assign(&s->PngTextKeys);
  PngTextValues.Assign(&s->PngTextValues);
  DicomTags->Assign(s->DicomTags.get());
  DicomValueOffset = s->DicomValueOffset;
  DicomRange = s->DicomRange;
  TgaXPos = s->TgaXPos;
  TgaYPos = s->TgaYPos;
  TgaImageID = s->TgaImageID;
  TgaAuthor = s->TgaAuthor;
  TgaDateTime = s->TgaDateTime;
  TgaJobName = s->TgaJobName;
  TgaKeyColor = s->TgaKeyColor;
  TgaAspectRatio = s->TgaAspectRatio;
  TgaGamma = s->TgaGamma;
  IptcInfo->Assign(s->IptcInfo.get());
  if (s->ImagingAnnotations)
    GetImagingAnnot()->Assign(s->ImagingAnnotations.get());
  else
    ImagingAnnotations.reset();
  PxmComments.Assign(&s->PxmComments);
  CopyEXIFParams(*s, *this, true);
  SetImageCount(s->AviFrameCount);
  AviFrameDelay = s->AviFrameDelay;
  PsPaperWidth = s->PsPaperWidth;
  PsPaperHeight = s->PsPaperHeight;
  PsTitle = s->PsTitle;
  PdfPaperWidth = s->PdfPaperWidth;
  PdfPaperHeight = s->PdfPaperHeight;
  PdfTitle = s->PdfTitle;
  PdfAuthor = s->PdfAuthor;
  PdfSubject = s->PdfSubject;
  PdfKeywords = s->PdfKeywords;
  PdfCreator = s->PdfCreator;
  PdfProducer = s->PdfProducer;
  RawHalfSize = s->RawHalfSize;
  RawGamma = s->RawGamma;
  RawBrightness = s->RawBrightness;
  RawRedScale = s->RawRedScale;
  RawBlueScale = s->RawBlueScale;
  RawQuickInterpolate = s->RawQuickInterpolate;
  RawAutoWhiteBalance = s->RawAutoWhiteBalance;
  RawCameraWhiteBalance = s->RawCameraWhiteBalance;
  RawFourColor = s->RawFourColor;
  RawCamera = s->RawCamera;
  RawUseEmbeddedPreview = s->RawUseEmbeddedPreview;
  RawMatchThumbnailColors = s->RawMatchThumbnailColors;
  RawSpareText = s->RawSpareText;
  RawPixelChannelOrder = s->RawPixelChannelOrder;
  RawPixelPlanar = s->RawPixelPlanar;
  RawPixelRowAlign = s->RawPixelRowAlign;
  RawPixelHeaderSize = s->RawPixelHeaderSize;
  RawPixelDataFormat = s->RawPixelDataFormat;
  PsdLoadLayers = s->PsdLoadLayers;
  PsdReplaceLayers = s->PsdReplaceLayers;
  PsdSpareFlag = s->PsdSpareFlag;
  HdpQuality = s->HdpQuality;
  HdpLossless = s->HdpLossless;
  XmpPacket = s->XmpPacket;
  NativePixelFormat = s->NativePixelFormat;
  FreePalette();
  Palette = s->Palette;
  PaletteCount = s->PaletteCount;
  std::copy(std::begin(s->IcoSizes), std::end(s->IcoSizes), std::begin(IcoSizes));
  std::copy(std::begin(s->IcoBitCounts), std::end(s->IcoBitCounts), std::begin(IcoBitCounts));
  CopyICC(s->InputICC, InputICC, &TIOParamsVals::GetInputICC, *this);
  CopyICC(s->OutputICC, OutputICC, &TIOParamsVals::GetOutputICC, *this);
  CopyICC(s->DefaultInputICC, DefaultInputICC, &TIOParamsVals::GetDefaultInputICC, *this);
  // The orientation setter above ran before the EXIF copy; the TIFF value wins.
  TiffOrientation = s->TiffOrientation;
}

void TIOParamsVals::AssignSaveOptions(TIOParamsVals* s) {
  if (s == nullptr || s == this) return;
  BitsPerSample = s->BitsPerSample;
  SamplesPerPixel = s->SamplesPerPixel;
  TiffCompression = s->TiffCompression;
  TiffPhotometric = s->TiffPhotometric;
  TiffPlanarConfig = s->TiffPlanarConfig;
  SetOrientation(s->TiffOrientation);
  TiffLZWDecoder = s->TiffLZWDecoder;
  TiffLZWEncoder = s->TiffLZWEncoder;
  TiffApplyOrientation = s->TiffApplyOrientation;
  TiffJpegQuality = s->TiffJpegQuality;
  TiffJpegColorSpace = s->TiffJpegColorSpace;
  TiffFillOrder = s->TiffFillOrder;
  TiffZipLevel = s->TiffZipLevel;
  TiffStripCount = s->TiffStripCount;
  GifInterlaced = s->GifInterlaced;
  GifLZWDecoder = s->GifLZWDecoder;
  GifLZWEncoder = s->GifLZWEncoder;
  JpegColorSpace = s->JpegColorSpace;
  JpegQuality = s->JpegQuality;
  JpegDctMethod = s->JpegDctMethod;
  JpegChromaSubsampling = s->JpegChromaSubsampling;
  JpegOptimalHuffman = s->JpegOptimalHuffman;
  JpegSmoothing = s->JpegSmoothing;
  JpegProgressive = s->JpegProgressive;
  J2000ColorSpace = s->J2000ColorSpace;
  J2000Rate = s->J2000Rate;
  J2000Progression = s->J2000Progression;
  PcxVersion = s->PcxVersion;
  PcxCompression = s->PcxCompression;
  BmpVersion = s->BmpVersion;
  BmpCompression = s->BmpCompression;
  BmpAlphaChannel = s->BmpAlphaChannel;
  PngInterlaced = s->PngInterlaced;
  PngFilter = s->PngFilter;
  PngCompression = s->PngCompression;
  TgaCompressed = s->TgaCompressed;
  TgaGrayscale = s->TgaGrayscale;
  PsCompression = s->PsCompression;
  PdfCompression = s->PdfCompression;
}
