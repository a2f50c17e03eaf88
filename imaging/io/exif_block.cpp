#include "imaging/io/exif_block.h"

#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"

// ---- TIETagsHandler ----

void TIETagsHandler::Clear() {
  FRawData.clear();
  FEntries.clear();
  FDevice = TIEEXIFMakerNoteDeviceInfo{};
  FNormalized.clear();
}

void TIETagsHandler::Assign(const TIETagsHandler* other) {
  if (other == nullptr || other == this) return;
  Clear();
  FNormalized = other->FNormalized;
  IndexEntries();
  FRawData = other->FRawData;
  FDevice = other->FDevice;
}

void TIETagsHandler::IndexEntries() {
  FEntries.clear();
  if (FNormalized.size() < 2) return;
  const size_t count = size_t(FNormalized[0]) | (size_t(FNormalized[1]) << 8);
  // Only whole entries that the note really holds.
  const size_t available = (FNormalized.size() - 2) / 12;
  const size_t n = count < available ? count : available;
  FEntries.assign(FNormalized.begin() + 2, FNormalized.begin() + 2 + std::ptrdiff_t(n * 12));
}

// ---- the EXIF block ----

bool IsEXIFMarker(const uint8_t* data, int64_t length) {
  return data != nullptr && length >= 5 && std::memcmp(data, "Exif", 5) == 0;
}

void CopyEXIFParams(TIOParamsVals& s, TIOParamsVals& d, bool withThumbnail) {
  if (&s == &d) return;
  d.ExifTags = s.ExifTags;
  if (withThumbnail) {
    d.ExifThumbnail.reset();
    if (s.ExifThumbnail) d.ExifThumbnail = TIEBitmap::CreateCopy(*s.ExifThumbnail);
  }
  d.HasExifData = s.HasExifData;
  d.ExifImageDescription = s.TiffImageDescription;
  d.ExifMake = s.ExifMake;
  d.ExifModel = s.ExifModel;
  d.SetEXIFOrientation(s.ExifOrientation);
  d.SetDpiXFloat(s.ExifXResolution);
  d.SetDpiYFloat(s.ExifYResolution);
  d.ExifResolutionUnit = s.ExifResolutionUnit;
  d.ExifSoftware = s.ExifSoftware;
  d.ExifRating = s.ExifRating;
  d.ExifXPTitle = s.ExifXPTitle;
  d.ExifXPComment = s.ExifXPComment;
  d.ExifXPAuthor = s.ExifXPAuthor;
  d.ExifXPKeywords = s.ExifXPKeywords;
  d.ExifXPSubject = s.ExifXPSubject;
  d.ExifArtist = s.ExifArtist;
  d.ExifDateTime = s.ExifDateTime;
  std::memcpy(d.ExifWhitePoint, s.ExifWhitePoint, sizeof d.ExifWhitePoint);
  std::memcpy(d.ExifPrimaryChromaticities, s.ExifPrimaryChromaticities, sizeof d.ExifPrimaryChromaticities);
  std::memcpy(d.ExifYCbCrCoefficients, s.ExifYCbCrCoefficients, sizeof d.ExifYCbCrCoefficients);
  d.ExifYCbCrPositioning = s.ExifYCbCrPositioning;
  std::memcpy(d.ExifReferenceBlackWhite, s.ExifReferenceBlackWhite, sizeof d.ExifReferenceBlackWhite);
  d.ExifCopyright = s.ExifCopyright;
  d.SetEXIFExposureTime(s.ExifExposureTime);
  d.SetEXIFFNumber(s.ExifFNumber);
  d.SetEXIFExposureProgram(s.ExifExposureProgram);
  d.ExifISOSpeedRatings[0] = s.ExifISOSpeedRatings[0];
  d.ExifISOSpeedRatings[1] = s.ExifISOSpeedRatings[1];
  d.ExifVersion = s.ExifVersion;
  d.ExifDateTimeOriginal = s.ExifDateTimeOriginal;
  d.ExifDateTimeDigitized = s.ExifDateTimeDigitized;
  d.SetEXIFCompressedBitsPerPixel(s.ExifCompressedBitsPerPixel);
  d.SetEXIFShutterSpeedValue(s.ExifShutterSpeedValue);
  d.SetEXIFApertureValue(s.ExifApertureValue);
  d.SetEXIFBrightnessValue(s.ExifBrightnessValue);
  d.SetEXIFExposureBiasValue(s.ExifExposureBiasValue);
  d.SetEXIFMaxApertureValue(s.ExifMaxApertureValue);
  d.SetEXIFSubjectDistance(s.ExifSubjectDistance);
  d.SetEXIFMeteringMode(s.ExifMeteringMode);
  d.SetEXIFLightSource(s.ExifLightSource);
  d.SetEXIFFlash(s.ExifFlash);
  d.SetEXIFFocalLength(s.ExifFocalLength);
  d.ExifSubsecTime = s.ExifSubsecTime;
  d.ExifSubsecTimeOriginal = s.ExifSubsecTimeOriginal;
  d.ExifSubsecTimeDigitized = s.ExifSubsecTimeDigitized;
  d.ExifFlashPixVersion = s.ExifFlashPixVersion;
  d.SetEXIFColorSpace(s.ExifColorSpace);
  d.SetEXIFPixelXDimension(s.ExifPixelXDimension);
  d.SetEXIFPixelYDimension(s.ExifPixelYDimension);
  d.ExifRelatedSoundFile = s.ExifRelatedSoundFile;
  d.SetEXIFFocalPlaneXResolution(s.ExifFocalPlaneXResolution);
  d.SetEXIFFocalPlaneYResolution(s.ExifFocalPlaneYResolution);
  d.SetEXIFFocalPlaneResolutionUnit(s.ExifFocalPlaneResolutionUnit);
  d.SetEXIFExposureIndex(s.ExifExposureIndex);
  d.SetEXIFSensingMethod(s.ExifSensingMethod);
  d.SetEXIFFileSource(s.ExifFileSource);
  d.SetEXIFSceneType(s.ExifSceneType);
  d.ExifUserComment = s.ExifUserComment;
  d.ExifUserCommentCode = s.ExifUserCommentCode;
  d.ExifMakerNote->Assign(s.ExifMakerNote.get());
  d.ExifExposureMode = s.ExifExposureMode;
  d.ExifWhiteBalance = s.ExifWhiteBalance;
  d.ExifDigitalZoomRatio = s.ExifDigitalZoomRatio;
  d.ExifFocalLengthIn35mmFilm = s.ExifFocalLengthIn35mmFilm;
  d.ExifSceneCaptureType = s.ExifSceneCaptureType;
  d.ExifGainControl = s.ExifGainControl;
  d.ExifContrast = s.ExifContrast;
  d.ExifSaturation = s.ExifSaturation;
  d.ExifSharpness = s.ExifSharpness;
  d.ExifSubjectDistanceRange = s.ExifSubjectDistanceRange;
  d.ExifImageUniqueID = s.ExifImageUniqueID;
  d.ExifGPSVersionID = s.ExifGPSVersionID;
  d.ExifGPSLatitudeRef = s.ExifGPSLatitudeRef;
  std::memcpy(d.ExifGPSLatitude, s.ExifGPSLatitude, sizeof d.ExifGPSLatitude);
  d.ExifGPSLongitudeRef = s.ExifGPSLongitudeRef;
  std::memcpy(d.ExifGPSLongitude, s.ExifGPSLongitude, sizeof d.ExifGPSLongitude);
  d.ExifGPSAltitudeRef = s.ExifGPSAltitudeRef;
  d.ExifGPSAltitude = s.ExifGPSAltitude;
  std::memcpy(d.ExifGPSTimeStamp, s.ExifGPSTimeStamp, sizeof d.ExifGPSTimeStamp);
  d.ExifGPSSatellites = s.ExifGPSSatellites;
  d.ExifGPSStatus = s.ExifGPSStatus;
  d.ExifGPSMeasureMode = s.ExifGPSMeasureMode;
  d.ExifGPSDOP = s.ExifGPSDOP;
  d.ExifGPSSpeedRef = s.ExifGPSSpeedRef;
  d.ExifGPSSpeed = s.ExifGPSSpeed;
  d.ExifGPSTrackRef = s.ExifGPSTrackRef;
  d.ExifGPSTrack = s.ExifGPSTrack;
  d.ExifGPSImgDirectionRef = s.ExifGPSImgDirectionRef;
  d.ExifGPSImgDirection = s.ExifGPSImgDirection;
  d.ExifGPSMapDatum = s.ExifGPSMapDatum;
  d.ExifGPSDestLatitudeRef = s.ExifGPSDestLatitudeRef;
  std::memcpy(d.ExifGPSDestLatitude, s.ExifGPSDestLatitude, sizeof d.ExifGPSDestLatitude);
  d.ExifGPSDestLongitudeRef = s.ExifGPSDestLongitudeRef;
  std::memcpy(d.ExifGPSDestLongitude, s.ExifGPSDestLongitude, sizeof d.ExifGPSDestLongitude);
  d.ExifGPSDestBearingRef = s.ExifGPSDestBearingRef;
  d.ExifGPSDestBearing = s.ExifGPSDestBearing;
  d.ExifGPSDestDistanceRef = s.ExifGPSDestDistanceRef;
  d.ExifGPSDestDistance = s.ExifGPSDestDistance;
  d.ExifGPSDateStamp = s.ExifGPSDateStamp;
}
