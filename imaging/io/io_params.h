#pragma once
// The parameter set of one picture: what a reader learns about a file besides
// its pixels, and what a writer needs beyond them. Each input/output component
// owns one; readers fill it, writers read it.
//
// Fields are public like a record, named as the library names them; where
// several fields must move together (the image index of every multi-image
// format, the image count, the orientation, the resolution and its EXIF copy,
// the EXIF values and their tag list) write them through the setters.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_types.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/io_types.h"
#include "platform/rtl/object.h"
#include "platform/rtl/strings.h"

class TIEBitmap;
class TIEICC;
class TIEMarkerList;
class TIEIPTCInfoList;
class TIEDICOMTags;
class TIETagsHandler;
class TIEImagingAnnot;
class TImageLibIO;

// The JPEG group's coded values; the numbers are what parameter files and the
// option dialogs store.
enum TIOJpegColorSpace : uint8_t { jcsRGB = 0, jcsGrey = 1, jcsYCbCr = 2, jcsCMYK = 3, jcsYCCK = 4 };
// Which inverse (and forward) DCT the codec runs.
enum TIOJpegDctMethod : uint8_t { jdmAccurateInteger = 0, jdmFastInteger = 1, jdmFloatingPoint = 2 };
// The size a JPEG is decoded at: automatic picks the smallest of 1/8, 1/4 and
// 1/2 that still covers the requested Width by Height.
enum TIOJpegScale : uint8_t { jscAuto = 0, jscFull = 1, jscHalf = 2, jscQuarter = 3, jscEighth = 4 };

struct TIOIcoSize {
  int32_t Width = 0;
  int32_t Height = 0;
};

class TIOParamsVals : public TObject {
public:
  explicit TIOParamsVals(TImageLibIO* owner);
  ~TIOParamsVals() override;
  TIOParamsVals(const TIOParamsVals&) = delete;
  TIOParamsVals& operator=(const TIOParamsVals&) = delete;

  TImageLibIO* Owner() const { return FOwner; }

  void ResetDefaults();
  void ResetMetadata();
  void ResetEXIF();
  void FreePalette();
  void Assign(TIOParamsVals* source);
  void AssignSaveOptions(TIOParamsVals* source);

  void SetDpiX(int32_t value);
  void SetDpiY(int32_t value);
  void SetDpiXFloat(double x);
  void SetDpiYFloat(double y);
  void SetImageIndex(int32_t value);
  void SetImageCount(int32_t value);
  void SetOrientation(int32_t value);
  void SetEXIFOrientation(int32_t value);
  void SetApplyOrientation(bool flag);
  void SetUseEXIFThumbnail(bool flag);
  void SetRAWUseThumbnail(bool flag) { RawUseEmbeddedPreview = flag; }

  TIEICC* GetInputICC();
  TIEICC* GetDefaultInputICC();
  TIEICC* GetOutputICC();
  TIEImagingAnnot* GetImagingAnnot();

  void AddEXIFTag(int tag);
  void RemoveEXIFTag(int tag);
  bool HasEXIFTag(int tag) const;

  // Indexed EXIF values. An index outside the field leaves it alone; the getter
  // then gives the field's unset value.
  int32_t GetEXIFISOSpeedRatings(int index) const;
  void SetEXIFISOSpeedRatings(int index, int32_t value);
  double GetEXIFWhitePoint(int index) const;
  void SetEXIFWhitePoint(int index, double value);
  double GetEXIFPrimaryChromaticities(int index) const;
  void SetEXIFPrimaryChromaticities(int index, double value);
  double GetEXIFYCbCrCoefficients(int index) const;
  void SetEXIFYCbCrCoefficients(int index, double value);
  double GetEXIFReferenceBlackWhite(int index) const;
  void SetEXIFReferenceBlackWhite(int index, double value);

  // EXIF values that keep ExifTags: the tag is listed while the value differs
  // from the field's unset value.
  void SetEXIFExposureTime(double v);
  void SetEXIFFNumber(double v);
  void SetEXIFExposureProgram(int32_t v);
  void SetEXIFCompressedBitsPerPixel(double v);
  void SetEXIFShutterSpeedValue(double v);
  void SetEXIFApertureValue(double v);
  void SetEXIFBrightnessValue(double v);
  void SetEXIFExposureBiasValue(double v);
  void SetEXIFMaxApertureValue(double v);
  void SetEXIFSubjectDistance(double v);
  void SetEXIFMeteringMode(int32_t v);
  void SetEXIFLightSource(int32_t v);
  void SetEXIFFlash(int32_t v);
  void SetEXIFFocalLength(double v);
  void SetEXIFColorSpace(int32_t v);
  void SetEXIFPixelXDimension(int32_t v);
  void SetEXIFPixelYDimension(int32_t v);
  void SetEXIFFocalPlaneXResolution(double v);
  void SetEXIFFocalPlaneYResolution(double v);
  void SetEXIFFocalPlaneResolutionUnit(int32_t v);
  void SetEXIFExposureIndex(double v);
  void SetEXIFSensingMethod(int32_t v);
  void SetEXIFFileSource(int32_t v);
  void SetEXIFSceneType(int32_t v);

  // ---- General ----
  int32_t BitsPerSample = 8;
  std::wstring FileName;
  int32_t SamplesPerPixel = 3;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t DpiX = 0;  // SetDpiX
  int32_t DpiY = 0;  // SetDpiY
  TImageFileType FileType = ioUnknown;
  int32_t ImageIndex = 0;  // SetImageIndex
  int32_t ImageCount = 0;  // SetImageCount
  bool GetThumbnail = false;
  bool HeaderlessImage = false;
  bool ApplyOrientation = false;
  int32_t StoredWidth = 0;
  int32_t StoredHeight = 0;
  // ---- TIFF ----
  uint8_t TiffCompression = 0;
  int32_t TiffImageIndex = 0;
  int32_t TiffSubIndex = -1;
  int32_t TiffNewSubfileType = 0;
  uint8_t TiffPhotometric = 2;
  int32_t TiffPlanarConfig = 1;
  int32_t TiffXPos = 0;
  int32_t TiffYPos = 0;
  int32_t TiffTileIndex = -1;
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  int32_t TiffPageNumber = -1;
  int32_t TiffPageCount = -1;
  int32_t TiffOrientation = 1;  // SetOrientation
  TIFFLZWDecoderProc TiffLZWDecoder;
  TIFFLZWEncoderProc TiffLZWEncoder;
  bool TiffApplyOrientation = false;
  int32_t TiffJpegQuality = 80;
  TIOJpegColorSpace TiffJpegColorSpace = jcsYCbCr;
  int32_t TiffZipLevel = 1;
  int32_t TiffStripCount = 0;
  int32_t TiffImageCount = 0;
  int32_t TiffFillOrder = 1;
  bool TiffLittleEndian = true;
  // ---- DCX ----
  int32_t DcxImageIndex = 0;
  // ---- GIF ----
  std::string GifVersion = "GIF89a";
  int32_t GifImageIndex = 0;
  int32_t GifXPos = 0;
  int32_t GifYPos = 0;
  int32_t GifDelay = 0;
  bool GifTransparent = false;
  TRGB GifTransparentColor;
  bool GifInterlaced = false;
  int32_t GifWinWidth = 0;
  int32_t GifWinHeight = 0;
  TRGB GifBackground;
  int32_t GifAspectRatio = 0;
  TStringList GifComments;
  uint8_t GifDisposal = 2;
  GIFLZWDecoderProc GifLZWDecoder;
  GIFLZWEncoderProc GifLZWEncoder;
  int32_t GifImageCount = 0;
  // ---- JPEG ----
  TIOJpegColorSpace JpegColorSpace = jcsYCbCr;
  int32_t JpegQuality = 80;
  TIOJpegDctMethod JpegDctMethod = jdmAccurateInteger;
  uint8_t JpegChromaSubsampling = 1;
  bool JpegOptimalHuffman = false;
  int32_t JpegSmoothing = 0;
  bool JpegProgressive = false;
  TIOJpegScale JpegScale = jscFull;
  std::unique_ptr<TIEMarkerList> JpegMarkers;
  int32_t JpegScaleUsed = 1;
  int32_t JpegWarningCount = 0;
  int32_t JpegLastWarning = 0;
  bool JpegApplyOrientation = false;
  bool JpegUseExifThumbnail = false;
  // ---- JPEG 2000 ----
  uint8_t J2000ColorSpace = 1;
  double J2000Rate = 0.07;
  uint8_t J2000Progression = 0;
  // ---- PCX ----
  int32_t PcxVersion = 5;
  bool PcxCompression = true;
  // ---- BMP ----
  uint8_t BmpVersion = 1;
  uint8_t BmpCompression = 0;
  bool BmpAlphaChannel = false;
  // ---- ICO and CUR ----
  int32_t IcoImageIndex = 0;
  TRGB IcoBackground{255, 255, 255};
  int32_t CurImageIndex = 0;
  int32_t CurHotSpotX = 0;
  int32_t CurHotSpotY = 0;
  TRGB CurBackground{255, 255, 255};
  // ---- PNG ----
  bool PngInterlaced = false;
  TRGB PngBackground;
  uint8_t PngFilter = 0;
  int32_t PngCompression = 5;
  TStringList PngTextKeys;
  TStringList PngTextValues;
  // ---- DICOM ----
  std::unique_ptr<TIEDICOMTags> DicomTags;
  double DicomValueOffset = 0;
  uint8_t DicomRange = 0;
  // ---- TGA ----
  int32_t TgaXPos = 0;
  int32_t TgaYPos = 0;
  bool TgaCompressed = true;
  std::string TgaImageID;
  std::string TgaAuthor;
  double TgaDateTime = 0;
  std::string TgaJobName;
  TRGB TgaKeyColor;
  double TgaAspectRatio = 1.0;
  double TgaGamma = 2.2;
  bool TgaGrayscale = false;
  // ---- Metadata ----
  std::unique_ptr<TIEIPTCInfoList> IptcInfo;
  std::unique_ptr<TIEImagingAnnot> ImagingAnnotations;  // GetImagingAnnot
  TStringList PxmComments;
  // ---- EXIF ----
  std::vector<int> ExifTags;
  bool HasExifData = false;
  int32_t ExifOrientation = 0;  // SetEXIFOrientation
  std::unique_ptr<TIEBitmap> ExifThumbnail;
  std::string ExifImageDescription;
  std::string ExifMake;
  std::string ExifModel;
  double ExifXResolution = 0;
  double ExifYResolution = 0;
  int32_t ExifResolutionUnit = 0;
  std::string ExifSoftware;
  std::string ExifArtist;
  std::string ExifDateTime;
  double ExifWhitePoint[2] = {-1, -1};
  double ExifPrimaryChromaticities[6] = {-1, -1, -1, -1, -1, -1};
  double ExifYCbCrCoefficients[3] = {-1, -1, -1};
  int32_t ExifYCbCrPositioning = -1;
  double ExifReferenceBlackWhite[6] = {-1, -1, -1, -1, -1, -1};
  std::string ExifCopyright;
  double ExifExposureTime = -1;
  double ExifFNumber = -1;
  int32_t ExifExposureProgram = -1;
  int32_t ExifISOSpeedRatings[2] = {0, 0};
  std::string ExifVersion;
  std::string ExifDateTimeOriginal;
  std::string ExifDateTimeDigitized;
  double ExifCompressedBitsPerPixel = 0;
  double ExifShutterSpeedValue = -1;
  double ExifApertureValue = -1;
  double ExifBrightnessValue = -1000;
  double ExifExposureBiasValue = -1000;
  double ExifMaxApertureValue = -1000;
  double ExifSubjectDistance = -1;
  int32_t ExifMeteringMode = -1;
  int32_t ExifLightSource = -1;
  int32_t ExifFlash = -1;
  double ExifFocalLength = -1;
  std::string ExifSubsecTime;
  std::string ExifSubsecTimeOriginal;
  std::string ExifSubsecTimeDigitized;
  std::string ExifFlashPixVersion;
  int32_t ExifColorSpace = -1;
  int32_t ExifPixelXDimension = 0;
  int32_t ExifPixelYDimension = 0;
  std::string ExifRelatedSoundFile;
  double ExifFocalPlaneXResolution = -1;
  double ExifFocalPlaneYResolution = -1;
  int32_t ExifFocalPlaneResolutionUnit = -1;
  double ExifExposureIndex = -1;
  int32_t ExifSensingMethod = -1;
  int32_t ExifFileSource = -1;
  int32_t ExifSceneType = -1;
  std::wstring ExifUserComment;
  std::string ExifUserCommentCode;
  std::unique_ptr<TIETagsHandler> ExifMakerNote;
  int32_t ExifRating = -1;
  std::wstring ExifXPTitle;
  std::wstring ExifXPComment;
  std::wstring ExifXPAuthor;
  std::wstring ExifXPKeywords;
  std::wstring ExifXPSubject;
  int32_t ExifExposureMode = -1;
  int32_t ExifWhiteBalance = -1;
  double ExifDigitalZoomRatio = -1;
  int32_t ExifFocalLengthIn35mmFilm = -1;
  int32_t ExifSceneCaptureType = -1;
  int32_t ExifGainControl = -1;
  int32_t ExifContrast = -1;
  int32_t ExifSaturation = -1;
  int32_t ExifSharpness = -1;
  int32_t ExifSubjectDistanceRange = -1;
  std::string ExifImageUniqueID;
  // ---- GPS ----
  std::string ExifGPSVersionID;
  std::string ExifGPSLatitudeRef;
  double ExifGPSLatitude[3] = {0, 0, 0};
  std::string ExifGPSLongitudeRef;
  double ExifGPSLongitude[3] = {0, 0, 0};
  std::string ExifGPSAltitudeRef;
  double ExifGPSAltitude = 0;
  double ExifGPSTimeStamp[3] = {0, 0, 0};
  std::string ExifGPSSatellites;
  std::string ExifGPSStatus;
  std::string ExifGPSMeasureMode;
  double ExifGPSDOP = 0;
  std::string ExifGPSSpeedRef;
  double ExifGPSSpeed = 0;
  std::string ExifGPSTrackRef;
  double ExifGPSTrack = 0;
  std::string ExifGPSImgDirectionRef;
  double ExifGPSImgDirection = 0;
  std::string ExifGPSMapDatum;
  std::string ExifGPSDestLatitudeRef;
  double ExifGPSDestLatitude[3] = {0, 0, 0};
  std::string ExifGPSDestLongitudeRef;
  double ExifGPSDestLongitude[3] = {0, 0, 0};
  std::string ExifGPSDestBearingRef;
  double ExifGPSDestBearing = 0;
  std::string ExifGPSDestDistanceRef;
  double ExifGPSDestDistance = 0;
  std::string ExifGPSDateStamp;
  // ---- Video ----
  int32_t AviFrameCount = 0;
  double AviFrameDelay = 0;
  int32_t VideoFrameCount = 0;
  double VideoFrameDelay = 0;
  // ---- PostScript and PDF ----
  int32_t PsPaperWidth = 595;
  int32_t PsPaperHeight = 842;
  uint8_t PsCompression = 1;
  std::string PsTitle = "No Title";
  int32_t PdfPaperWidth = 595;
  int32_t PdfPaperHeight = 842;
  uint8_t PdfCompression = 2;
  std::string PdfTitle;
  std::string PdfAuthor;
  std::string PdfSubject;
  std::string PdfKeywords;
  std::string PdfCreator;
  std::string PdfProducer;
  // ---- Camera RAW ----
  bool RawHalfSize = false;
  double RawGamma = 0.6;
  double RawBrightness = 1.0;
  double RawRedScale = 1.0;
  double RawBlueScale = 1.0;
  bool RawQuickInterpolate = true;
  bool RawAutoWhiteBalance = false;
  bool RawCameraWhiteBalance = false;
  bool RawFourColor = false;
  std::string RawCamera;
  bool RawUseEmbeddedPreview = false;
  bool RawMatchThumbnailColors = false;
  std::string RawSpareText;
  // ---- Raw pixels ----
  uint8_t RawPixelChannelOrder = 0;
  uint8_t RawPixelPlanar = 0;
  int32_t RawPixelRowAlign = 8;
  int32_t RawPixelHeaderSize = 0;
  uint8_t RawPixelDataFormat = 0;
  // ---- PSD ----
  bool PsdLoadLayers = false;
  bool PsdReplaceLayers = true;
  bool PsdSpareFlag = false;
  // ---- HD Photo ----
  double HdpQuality = 0.9;
  bool HdpLossless = false;
  // ---- General ----
  std::string XmpPacket;
  bool NativePixelFormat = false;
  std::vector<TRGB> Palette;  // FreePalette
  int32_t PaletteCount = 0;
  TIOIcoSize IcoSizes[16];
  int32_t IcoBitCounts[16] = {};
  std::unique_ptr<TIEICC> InputICC;         // GetInputICC
  std::unique_ptr<TIEICC> OutputICC;        // GetOutputICC
  std::unique_ptr<TIEICC> DefaultInputICC;  // GetDefaultInputICC

private:
  void SetTagged(int tag, bool set);
  TImageLibIO* FOwner;
};
