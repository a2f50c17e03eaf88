#include "imaging/io/exif_block.h"

#include <algorithm>
#include <cstring>

#include "imaging/core/ie_bitmap.h"
#include "imaging/io/io_params.h"
#include "imaging/io/tiff_ifd.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

struct TMakerRow {
  const char* signature;
  size_t length;
  uint8_t offsetMode, headerKind, byteOrderMode;
};

// Searched in this order; the first whose signature the note starts with wins.
constexpr TMakerRow kMakers[] = {
    {"SONY CAM \0\0\0", 12, 0, 0, 0},
    {"SONY DSC \0\0\0", 12, 0, 0, 0},
    {"Nikon\0\x02\x10\0\0", 10, 1, 1, 1},
    {"QVC\0\0\0", 6, 0, 0, 3},
    {"EPSON\0\x01\0", 8, 0, 0, 0},
    {"Nikon\0\x01\0", 8, 0, 0, 0},
    {"Panasonic\0\0\0", 12, 0, 0, 0},
    {"FUJIFILM", 8, 1, 2, 2},
    {"LEICA\0\0\0", 8, 1, 0, 0},
};

constexpr int64_t kMaxNoteBytes = 65000;

}  // namespace

// ---- TIETagsHandler ----

void TIETagsHandler::Clear() {
  FRawData.clear();
  FBigEndian = false;
  FReadStart = -1;
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
  FBigEndian = other->FBigEndian;
  FReadStart = other->FReadStart;
}

void TIETagsHandler::IdentifyMaker() {
  FDevice = TIEEXIFMakerNoteDeviceInfo{};
  for (const TMakerRow& row : kMakers) {
    const size_t n = std::min(FRawData.size(), row.length);
    if (n == 0 || std::memcmp(FRawData.data(), row.signature, n) != 0) continue;
    FDevice.Signature.assign(row.signature, row.length);
    FDevice.OffsetMode = row.offsetMode;
    FDevice.HeaderKind = row.headerKind;
    FDevice.ByteOrderMode = row.byteOrderMode;
    return;
  }
}

void TIETagsHandler::ReadMakerNote(TStream& stream, int64_t size, bool littleEndian, int64_t base) {
  Clear();
  if (size <= 1) return;
  try {
    const int64_t start = stream.Position() - base;
    if (size > stream.Size() - stream.Position()) return;
    std::vector<uint8_t> raw(static_cast<size_t>(size));
    stream.ReadBuffer(raw.data(), size);
    FRawData = std::move(raw);
    IdentifyMaker();
    const size_t sigLen = FDevice.Signature.size();
    int64_t b = int64_t(sigLen), noteBase = 0;
    if (FDevice.HeaderKind == 1) {
      if (b + 8 > size) return Clear();
      std::memcpy(FDevice.Header, FRawData.data() + b, 8);
      noteBase = b;
      b += 8;
    } else if (FDevice.HeaderKind == 2) {
      if (b + 4 > size) return Clear();
      b = TIFFGet32(FRawData.data() + b, true);
    }
    bool le = littleEndian;
    switch (FDevice.ByteOrderMode) {
      case 1: le = FDevice.Header[0] == 'I'; break;
      case 2: le = true; break;
      case 3: le = false; break;
      default: break;
    }
    if (b < 0 || b + 2 > size) return Clear();
    const uint16_t count = TIFFGet16(FRawData.data() + b, le);
    if (count > 256 || int64_t(count) * 12 > size || b + 2 + int64_t(count) * 12 > size) return Clear();
    FBigEndian = !le;
    std::vector<uint8_t> table, values;
    uint16_t taken = 0;
    for (int i = 0; i < count; ++i) {
      const int64_t at = b + 2 + int64_t(i) * 12;
      const uint8_t* e = FRawData.data() + at;
      uint8_t out[12];
      const uint16_t type = TIFFGet16(e + 2, le);
      uint32_t n = TIFFGet32(e + 4, le);
      TIFFPut16(out, TIFFGet16(e, le), true);
      TIFFPut16(out + 2, type, true);
      std::memcpy(out + 8, e + 8, 4);
      const int64_t bytes = int64_t(n) * TIFFTypeSize(type);
      if (bytes <= 4) {
        TIFFSwapValues(out + 8, le ? 1 : type, n);
      } else {
        const int64_t offset = TIFFGet32(e + 8, le);
        const int64_t pos = FDevice.OffsetMode == 0 ? offset - start : offset + noteBase;
        if (pos < 0 || pos + bytes > size) {
          n = 0;
          TIFFPut32(out + 8, 0, true);
        } else {
          const size_t where = values.size();
          values.insert(values.end(), FRawData.begin() + pos, FRawData.begin() + pos + bytes);
          if (!le) TIFFSwapValues(values.data() + where, type, n);
          if (values.size() & 1) values.push_back(0);
          TIFFPut32(out + 8, uint32_t(where), true);  // made absolute below
        }
      }
      TIFFPut32(out + 4, n, true);
      table.insert(table.end(), out, out + 12);
      ++taken;
    }
    // Out-of-line values follow the entry table in the normalised note.
    const uint32_t valuesAt = uint32_t(2 + table.size());
    for (uint16_t i = 0; i < taken; ++i) {
      uint8_t* e = table.data() + 12 * i;
      const int64_t bytes = int64_t(TIFFGet32(e + 4, true)) * TIFFTypeSize(TIFFGet16(e + 2, true));
      if (bytes > 4) TIFFPut32(e + 8, TIFFGet32(e + 8, true) + valuesAt, true);
    }
    FNormalized.resize(2);
    TIFFPut16(FNormalized.data(), taken, true);
    FNormalized.insert(FNormalized.end(), table.begin(), table.end());
    FNormalized.insert(FNormalized.end(), values.begin(), values.end());
    IndexEntries();
    FReadStart = start;
  } catch (const Exception&) {
    Clear();
  }
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

int64_t WriteMakerNote(TIETagsHandler& h, TStream& stream, int64_t base) {
  const std::vector<uint8_t>& norm = h.FNormalized;
  if (norm.size() < 2) return 0;
  const int64_t start = stream.Position() - base;
  const TIEEXIFMakerNoteDeviceInfo& d = h.FDevice;
  // A note going back where it was read, as it was read, keeps its bytes;
  // offsets relative to the note itself survive any move.
  if (!h.FRawData.empty() && (start == h.FReadStart || d.OffsetMode == 1) &&
      int64_t(h.FRawData.size()) <= kMaxNoteBytes) {
    TIETagsHandler again;
    TCustomMemoryStream raw(h.FRawData.data(), int64_t(h.FRawData.size()));
    again.ReadMakerNote(raw, int64_t(h.FRawData.size()), !h.FBigEndian, -h.FReadStart);
    if (again.FNormalized == norm) {
      stream.WriteBuffer(h.FRawData.data(), int64_t(h.FRawData.size()));
      return int64_t(h.FRawData.size());
    }
  }
  const bool le = !h.FBigEndian;
  const size_t sigLen = d.Signature.size();
  std::vector<uint8_t> out(d.Signature.begin(), d.Signature.end());
  int64_t noteBase = 0;
  if (d.HeaderKind == 1) {
    uint8_t header[8];
    std::memcpy(header, d.Header, 8);
    const bool headerLE = header[0] == 'I';
    TIFFPut32(header + 4, d.OffsetMode == 1 ? 8u : uint32_t(start + int64_t(sigLen) + 8), headerLE);
    out.insert(out.end(), header, header + 8);
    noteBase = int64_t(sigLen);
  } else if (d.HeaderKind == 2) {
    uint8_t off[4];
    TIFFPut32(off, uint32_t(sigLen + 4), true);
    out.insert(out.end(), off, off + 4);
  }
  const uint16_t count = TIFFGet16(norm.data(), true);
  const size_t n = std::min<size_t>(count, (norm.size() - 2) / 12);
  const size_t tableAt = out.size();
  out.resize(tableAt + 2 + 12 * n + 4, 0);
  TIFFPut16(out.data() + tableAt, uint16_t(n), le);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* e = norm.data() + 2 + 12 * i;
    const uint16_t type = TIFFGet16(e + 2, true);
    const uint32_t cnt = TIFFGet32(e + 4, true);
    const int64_t bytes = int64_t(cnt) * TIFFTypeSize(type);
    uint8_t entry[12];
    TIFFPut16(entry, TIFFGet16(e, true), le);
    TIFFPut16(entry + 2, type, le);
    TIFFPut32(entry + 4, cnt, le);
    std::memcpy(entry + 8, e + 8, 4);
    if (bytes <= 4) {
      if (!le) TIFFSwapValues(entry + 8, type, cnt);
    } else {
      const int64_t from = TIFFGet32(e + 8, true);
      if (from < 0 || from + bytes > int64_t(norm.size())) {
        TIFFPut32(entry + 4, 0, le);
        TIFFPut32(entry + 8, 0, le);
      } else {
        if (out.size() & 1) out.push_back(0);
        const size_t where = out.size();
        out.insert(out.end(), norm.begin() + from, norm.begin() + from + bytes);
        if (!le) TIFFSwapValues(out.data() + where, type, cnt);
        const int64_t offset = d.OffsetMode == 0 ? start + int64_t(where) : int64_t(where) - noteBase;
        TIFFPut32(entry + 8, uint32_t(offset), le);
      }
    }
    std::memcpy(out.data() + tableAt + 2 + 12 * i, entry, 12);
    if (int64_t(out.size()) > kMaxNoteBytes) return 0;
  }
  if (int64_t(out.size()) > kMaxNoteBytes) return 0;
  stream.WriteBuffer(out.data(), int64_t(out.size()));
  return int64_t(out.size());
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
