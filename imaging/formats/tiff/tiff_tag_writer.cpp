#include "imaging/formats/tiff/tiff_tag_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_utils.h"
#include "imaging/formats/tiff/exif_io.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/imaging_annot.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/tiff_handler.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/sysutils.h"

namespace {

TIFFTagEntry Entry(int tag, int type, uint32_t count) {
  TIFFTagEntry e;
  e.Tag = uint16_t(tag);
  e.Type = uint16_t(type);
  e.Count = count;
  return e;
}

// Places count values of type: inline when they fit, else at an even position.
void AddValues(TTIFFTagList& tags, TFilterWriter& w, int tag, int type, const uint8_t* data, uint32_t count) {
  TIFFTagEntry e = Entry(tag, type, count);
  const int64_t bytes = int64_t(count) * TIFFTypeSize(type);
  if (bytes <= 4) {
    if (bytes > 0) std::memcpy(e.Value, data, size_t(bytes));
  } else {
    const int64_t at = AlignTIFFStream(w);
    w.Put(data, bytes);
    TIFFPut32(e.Value, uint32_t(at), true);
  }
  tags.push_back(e);
}

void PutRational(std::vector<uint8_t>& out, double value, bool isSigned) {
  int64_t num = 0, den = 1;
  if (!std::isfinite(value)) value = 0;
  FloatToFraction(value, 5e-9, num, den);
  if (den < 0) num = -num, den = -den;
  // Fractions that do not fit 32 bits are scaled down until they do.
  const int64_t limit = isSigned ? 0x7FFFFFFF : 0xFFFFFFFF;
  while ((std::llabs(num) > limit || den > limit) && den > 1) num /= 2, den /= 2;
  if (!isSigned && num < 0) num = 0;
  num = std::clamp<int64_t>(num, isSigned ? -0x7FFFFFFF : 0, limit);
  uint8_t b[8];
  TIFFPut32(b, uint32_t(num), true);
  TIFFPut32(b + 4, uint32_t(std::max<int64_t>(den, 1)), true);
  out.insert(out.end(), b, b + 8);
}

std::vector<uint8_t> WideBytes(const std::wstring& text) {
  std::vector<uint8_t> out;
  for (wchar_t c : text) {
    const uint32_t u = uint32_t(c);
    if (u > 0xFFFF) {
      const uint32_t v = u - 0x10000;
      const uint16_t hi = uint16_t(0xD800 + (v >> 10)), lo = uint16_t(0xDC00 + (v & 0x3FF));
      out.push_back(uint8_t(hi)), out.push_back(uint8_t(hi >> 8));
      out.push_back(uint8_t(lo)), out.push_back(uint8_t(lo >> 8));
    } else {
      out.push_back(uint8_t(u)), out.push_back(uint8_t(u >> 8));
    }
  }
  return out;
}

bool AnyNot(const double* v, int n, double unset) {
  for (int i = 0; i < n; ++i)
    if (v[i] != unset) return true;
  return false;
}

}  // namespace

int64_t AlignTIFFStream(TFilterWriter& w) {
  int64_t p = w.stream.Position();
  if (p & 1) {
    const uint8_t zero = 0;
    w.Put(&zero, 1);
    ++p;
  }
  return p;
}

void SortTIFFTags(TTIFFTagList& tags) {
  std::stable_sort(tags.begin(), tags.end(), [](const TIFFTagEntry& a, const TIFFTagEntry& b) { return a.Tag < b.Tag; });
}

void WriteTIFFDirectory(TFilterWriter& w, TTIFFTagList& tags, uint32_t nextOffset) {
  SortTIFFTags(tags);
  std::vector<uint8_t> out(2 + 12 * tags.size() + 4);
  TIFFPut16(out.data(), uint16_t(tags.size()), true);
  for (size_t i = 0; i < tags.size(); ++i) {
    uint8_t* p = out.data() + 2 + 12 * i;
    TIFFPut16(p, tags[i].Tag, true);
    TIFFPut16(p + 2, tags[i].Type, true);
    TIFFPut32(p + 4, tags[i].Count, true);
    std::memcpy(p + 8, tags[i].Value, 4);
  }
  TIFFPut32(out.data() + out.size() - 4, nextOffset, true);
  w.Put(out.data(), int64_t(out.size()));
}

void AddTIFFLongTag(TTIFFTagList& tags, int tag, uint32_t value) {
  TIFFTagEntry e = Entry(tag, ttLONG, 1);
  TIFFPut32(e.Value, value, true);
  tags.push_back(e);
}

void AddTIFFShortTag(TTIFFTagList& tags, int tag, uint16_t value) {
  TIFFTagEntry e = Entry(tag, ttSHORT, 1);
  TIFFPut16(e.Value, value, true);
  tags.push_back(e);
}

void AddTIFFByteTag(TTIFFTagList& tags, int tag, uint8_t value) {
  TIFFTagEntry e = Entry(tag, ttBYTE, 1);
  e.Value[0] = value;
  tags.push_back(e);
}

void AddTIFFUndefinedTag(TTIFFTagList& tags, int tag, uint8_t value) {
  TIFFTagEntry e = Entry(tag, ttUNDEFINED, 1);
  e.Value[0] = value;
  tags.push_back(e);
}

void AddTIFFInlineByteTag(TTIFFTagList& tags, int tag, const std::vector<uint8_t>& bytes) {
  const uint32_t n = uint32_t(std::min<size_t>(bytes.size(), 4));
  TIFFTagEntry e = Entry(tag, ttBYTE, n);
  if (n > 0) std::memcpy(e.Value, bytes.data(), n);
  tags.push_back(e);
}

void AddTIFFVersionTag(TTIFFTagList& tags, int tag, const std::string& text) {
  TIFFTagEntry e = Entry(tag, ttUNDEFINED, 4);
  for (size_t i = 0; i < 4; ++i) e.Value[i] = i < text.size() && text[i] != 0 ? uint8_t(text[i]) : uint8_t('0');
  tags.push_back(e);
}

void AddTIFFASCIITag(TTIFFTagList& tags, TFilterWriter& w, int tag, const std::string& text) {
  const std::string s = text.substr(0, std::min(text.find('\0'), size_t(0x7FFFFFF0)));
  if (s.empty()) return;
  AddValues(tags, w, tag, ttASCII, reinterpret_cast<const uint8_t*>(s.c_str()), uint32_t(s.size() + 1));
}

void AddTIFFWideStringTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const std::wstring& text) {
  if (text.empty()) return;
  std::vector<uint8_t> b = WideBytes(text);
  b.push_back(0), b.push_back(0);
  AddValues(tags, w, tag, ttBYTE, b.data(), uint32_t(b.size()));
}

void AddTIFFRationalTag(TTIFFTagList& tags, TFilterWriter& w, int tag, double value, bool isSigned) {
  AddTIFFRationalArrayTag(tags, w, tag, &value, 1, isSigned);
}

void AddTIFFRationalArrayTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const double* values, int n,
                             bool isSigned) {
  std::vector<uint8_t> b;
  for (int i = 0; i < n; ++i) PutRational(b, values[i], isSigned);
  AddValues(tags, w, tag, isSigned ? ttSRATIONAL : ttRATIONAL, b.data(), uint32_t(n));
}

void AddTIFFShortArrayTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const uint16_t* values, int n) {
  std::vector<uint8_t> b(size_t(n) * 2);
  for (int i = 0; i < n; ++i) TIFFPut16(b.data() + 2 * i, values[i], true);
  AddValues(tags, w, tag, ttSHORT, b.data(), uint32_t(n));
}

void AddTIFFLongArrayTag(TTIFFTagList& tags, TFilterWriter& w, int tag, const uint32_t* values, int n) {
  std::vector<uint8_t> b(size_t(n) * 4);
  for (int i = 0; i < n; ++i) TIFFPut32(b.data() + 4 * i, values[i], true);
  AddValues(tags, w, tag, ttLONG, b.data(), uint32_t(n));
}

void AddTIFFBytesTag(TTIFFTagList& tags, TFilterWriter& w, int tag, int type, const uint8_t* data, uint32_t count) {
  AddValues(tags, w, tag, type, data, count);
}

void AddTIFFUserCommentTag(TTIFFTagList& tags, TFilterWriter& w, const std::string& codeIn, const std::wstring& text) {
  std::string code = codeIn.empty() ? std::string("UNICODE\0", 8) : codeIn;
  if (text.empty() || code.size() != 8) return;
  std::vector<uint8_t> b(code.begin(), code.end());
  if (code.compare(0, 7, "UNICODE") == 0) {
    const std::vector<uint8_t> t = WideBytes(text);
    b.insert(b.end(), t.begin(), t.end());
    b.push_back(0), b.push_back(0);
  } else if (code.compare(0, 5, "ASCII") == 0) {
    for (wchar_t c : text) b.push_back(uint8_t(c));
    b.push_back(0);
  } else {
    const std::vector<uint8_t> t = WideBytes(text);
    b.insert(b.end(), t.begin(), t.end());
  }
  AddValues(tags, w, 37510, ttUNDEFINED, b.data(), uint32_t(b.size()));
}

void AddTIFFMakerNoteTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params) {
  TIETagsHandler* note = params.ExifMakerNote.get();
  if (note == nullptr || note->NormalizedNote().size() <= 12) return;
  const int64_t at = AlignTIFFStream(w);
  if (w.Failed()) return;
  int64_t n = 0;
  try {
    n = WriteMakerNote(*note, w.stream);
  } catch (const Exception&) {
    w.error = true;
    w.progress.Abort();
    return;
  }
  if (n <= 0) return;
  TIFFTagEntry e = Entry(37500, ttUNDEFINED, uint32_t(n));
  TIFFPut32(e.Value, uint32_t(at), true);
  tags.push_back(e);
}

void AddTIFFIPTCTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params) {
  if (!params.IptcInfo) return;
  std::vector<uint8_t> block = params.IptcInfo->SaveToBuffer(false);
  if (block.empty()) return;
  // The LONG count covers whole words: the block is padded to them.
  const size_t words = (block.size() + 3) / 4;
  block.resize(words * 4, 0);
  AddValues(tags, w, 33723, ttLONG, block.data(), uint32_t(words));
}

void AddTIFFXMPTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params) {
  if (params.XmpPacket.empty()) return;
  AddValues(tags, w, 700, ttBYTE, reinterpret_cast<const uint8_t*>(params.XmpPacket.data()),
            uint32_t(params.XmpPacket.size()));
}

void AddTIFFAnnotationTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params) {
  if (!params.ImagingAnnotations) return;
  const std::vector<uint8_t> block = SaveImagingAnnot(*params.ImagingAnnotations);
  if (block.empty()) return;
  AddValues(tags, w, 32932, ttBYTE, block.data(), uint32_t(block.size()));
}

void AddTIFFICCTag(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& params) {
  if (!params.InputICC) return;
  const TIEICC& icc = *params.InputICC;
  if (!icc.IsValid() || icc.Applied() || icc.Raw().empty()) return;
  AddValues(tags, w, 34675, ttUNDEFINED, icc.Raw().data(), uint32_t(icc.Raw().size()));
}

std::vector<uint8_t> TextToGPSVersion(const std::string& text) {
  std::vector<uint8_t> out;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    int v = 0;
    bool ok = !part.empty();
    for (char c : part) {
      if (c < '0' || c > '9') {
        ok = false;
        break;
      }
      v = std::min(v * 10 + (c - '0'), 255);
    }
    out.push_back(ok ? uint8_t(v) : 0);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return out;
}

void AddTIFFCarriedTags(TTIFFTagList& tags, TFilterWriter& w, const std::vector<TTIFFCarriedEntry>& carried) {
  for (const TTIFFCarriedEntry& c : carried) {
    if (std::any_of(tags.begin(), tags.end(), [&](const TIFFTagEntry& e) { return e.Tag == c.Tag; })) continue;
    if (c.IsDirectory) {
      TTIFFTagList sub;
      AddTIFFCarriedTags(sub, w, c.Sub);
      const int64_t at = AlignTIFFStream(w);
      WriteTIFFDirectory(w, sub, 0);
      AddTIFFLongTag(tags, c.Tag, uint32_t(at));
    } else {
      AddValues(tags, w, c.Tag, c.Type, c.Data.data(), c.Count);
    }
  }
}

bool HasGPSData(TIOParamsVals& p) {
  return !p.ExifGPSVersionID.empty() || !p.ExifGPSLatitudeRef.empty() || !p.ExifGPSLongitudeRef.empty() ||
         AnyNot(p.ExifGPSLatitude, 3, 0) || AnyNot(p.ExifGPSLongitude, 3, 0) || !p.ExifGPSDateStamp.empty() ||
         !p.ExifGPSMapDatum.empty() || p.ExifGPSAltitude != 0;
}

void WriteTIFFMetadataTags(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& p, const TEXIFCarried* carried) {
  AddTIFFASCIITag(tags, w, 270, p.ExifImageDescription);
  // The resolution is held in dots per inch; a block read in centimetres is
  // written back in them.
  const bool cm = p.ExifResolutionUnit == 3;
  if (p.ExifXResolution != 0) AddTIFFRationalTag(tags, w, 282, cm ? p.ExifXResolution / 2.54 : p.ExifXResolution);
  if (p.ExifYResolution != 0) AddTIFFRationalTag(tags, w, 283, cm ? p.ExifYResolution / 2.54 : p.ExifYResolution);
  AddTIFFShortTag(tags, 274, uint16_t(p.TiffOrientation));
  AddTIFFShortTag(tags, 296, cm ? 3 : 2);
  AddTIFFASCIITag(tags, w, 305, p.ExifSoftware);
  if (p.ExifRating >= 0) AddTIFFShortTag(tags, 18246, uint16_t(p.ExifRating));
  AddTIFFWideStringTag(tags, w, 40091, p.ExifXPTitle);
  AddTIFFWideStringTag(tags, w, 40092, p.ExifXPComment);
  AddTIFFWideStringTag(tags, w, 40093, p.ExifXPAuthor);
  AddTIFFWideStringTag(tags, w, 40094, p.ExifXPKeywords);
  AddTIFFWideStringTag(tags, w, 40095, p.ExifXPSubject);
  AddTIFFASCIITag(tags, w, 315, p.ExifArtist);
  AddTIFFASCIITag(tags, w, 271, p.ExifMake);
  AddTIFFASCIITag(tags, w, 272, p.ExifModel);
  AddTIFFASCIITag(tags, w, 306, p.ExifDateTime);
  if (AnyNot(p.ExifWhitePoint, 2, -1)) AddTIFFRationalArrayTag(tags, w, 318, p.ExifWhitePoint, 2);
  if (p.ExifYCbCrPositioning != 0 && p.ExifYCbCrPositioning != -1)
    AddTIFFShortTag(tags, 531, uint16_t(p.ExifYCbCrPositioning));
  if (AnyNot(p.ExifPrimaryChromaticities, 6, -1)) AddTIFFRationalArrayTag(tags, w, 319, p.ExifPrimaryChromaticities, 6);
  if (AnyNot(p.ExifYCbCrCoefficients, 3, -1)) AddTIFFRationalArrayTag(tags, w, 529, p.ExifYCbCrCoefficients, 3);
  if (AnyNot(p.ExifReferenceBlackWhite, 6, -1)) AddTIFFRationalArrayTag(tags, w, 532, p.ExifReferenceBlackWhite, 6);
  AddTIFFASCIITag(tags, w, 33432, p.ExifCopyright);

  TTIFFTagList e;
  const auto has = [&](int tag) { return p.HasEXIFTag(tag); };
  const auto rat = [&](int tag, double v, bool isSigned = false) {
    if (has(tag)) AddTIFFRationalTag(e, w, tag, v, isSigned);
  };
  const auto shortTag = [&](int tag, int32_t v) {
    if (has(tag)) AddTIFFShortTag(e, tag, uint16_t(v));
  };
  const auto shortSet = [&](int tag, int32_t v) {
    if (v != -1) AddTIFFShortTag(e, tag, uint16_t(v));
  };
  rat(33434, p.ExifExposureTime);
  rat(33437, p.ExifFNumber);
  shortTag(34850, p.ExifExposureProgram);
  if (p.ExifISOSpeedRatings[1] != 0) {
    const uint16_t iso[2] = {uint16_t(p.ExifISOSpeedRatings[0]), uint16_t(p.ExifISOSpeedRatings[1])};
    AddTIFFShortArrayTag(e, w, 34855, iso, 2);
  } else if (p.ExifISOSpeedRatings[0] != 0) {
    AddTIFFShortTag(e, 34855, uint16_t(p.ExifISOSpeedRatings[0]));
  }
  AddTIFFVersionTag(e, 36864, p.ExifVersion.empty() ? std::string("0220") : p.ExifVersion);
  AddTIFFASCIITag(e, w, 36867, p.ExifDateTimeOriginal);
  AddTIFFASCIITag(e, w, 36868, p.ExifDateTimeDigitized);
  rat(37122, p.ExifCompressedBitsPerPixel);
  rat(37377, p.ExifShutterSpeedValue, true);
  rat(37378, p.ExifApertureValue);
  rat(37379, p.ExifBrightnessValue, true);
  rat(37380, p.ExifExposureBiasValue, true);
  rat(37381, p.ExifMaxApertureValue);
  rat(37382, p.ExifSubjectDistance);
  shortTag(37383, p.ExifMeteringMode);
  shortTag(37384, p.ExifLightSource);
  shortTag(37385, p.ExifFlash);
  rat(37386, p.ExifFocalLength);
  AddTIFFASCIITag(e, w, 37520, p.ExifSubsecTime);
  AddTIFFASCIITag(e, w, 37521, p.ExifSubsecTimeOriginal);
  AddTIFFASCIITag(e, w, 37522, p.ExifSubsecTimeDigitized);
  if (!p.ExifFlashPixVersion.empty()) AddTIFFVersionTag(e, 40960, p.ExifFlashPixVersion);
  shortTag(40961, p.ExifColorSpace);
  for (int tag : {40962, 40963}) {
    if (!has(tag)) continue;
    const int32_t v = tag == 40962 ? p.ExifPixelXDimension : p.ExifPixelYDimension;
    if (v >= 0 && v <= 0xFFFF) AddTIFFShortTag(e, tag, uint16_t(v));
    else AddTIFFLongTag(e, tag, uint32_t(v));
  }
  AddTIFFASCIITag(e, w, 40964, p.ExifRelatedSoundFile);
  rat(41486, p.ExifFocalPlaneXResolution);
  rat(41487, p.ExifFocalPlaneYResolution);
  shortTag(41488, p.ExifFocalPlaneResolutionUnit);
  rat(41493, p.ExifExposureIndex);
  shortTag(41495, p.ExifSensingMethod);
  if (has(41728)) AddTIFFUndefinedTag(e, 41728, uint8_t(p.ExifFileSource));
  if (has(41729)) AddTIFFUndefinedTag(e, 41729, uint8_t(p.ExifSceneType));
  shortSet(41986, p.ExifExposureMode);
  shortSet(41987, p.ExifWhiteBalance);
  if (p.ExifDigitalZoomRatio != -1) AddTIFFRationalTag(e, w, 41988, p.ExifDigitalZoomRatio);
  shortSet(41989, p.ExifFocalLengthIn35mmFilm);
  shortSet(41990, p.ExifSceneCaptureType);
  shortSet(41991, p.ExifGainControl);
  shortSet(41992, p.ExifContrast);
  shortSet(41993, p.ExifSaturation);
  shortSet(41994, p.ExifSharpness);
  shortSet(41996, p.ExifSubjectDistanceRange);
  AddTIFFASCIITag(e, w, 42016, p.ExifImageUniqueID);
  AddTIFFUserCommentTag(e, w, p.ExifUserCommentCode, p.ExifUserComment);
  AddTIFFMakerNoteTag(e, w, p);
  if (carried != nullptr) AddTIFFCarriedTags(e, w, carried->Exif);

  const int64_t at = AlignTIFFStream(w);
  WriteTIFFDirectory(w, e, 0);
  AddTIFFLongTag(tags, 34665, uint32_t(at));
  uint8_t b[4];
  TIFFPut32(b, uint32_t(at), true);
  w.Put(b, 4);
  if (HasGPSData(p) || (carried != nullptr && !carried->Gps.empty())) WriteTIFFGPSDirectory(tags, w, p, carried != nullptr ? &carried->Gps : nullptr);
  if (carried != nullptr) AddTIFFCarriedTags(tags, w, carried->Main);
}

void WriteTIFFGPSDirectory(TTIFFTagList& tags, TFilterWriter& w, TIOParamsVals& p,
                           const std::vector<TTIFFCarriedEntry>* carried) {
  TTIFFTagList g;
  // A reference is written when it has a text; the values beside it when they
  // are set (the GPS directory holds what the picture had or a caller set).
  const auto ref = [&](int tag, const std::string& text) { AddTIFFASCIITag(g, w, tag, text); };
  const auto triple = [&](int tag, const double* v) {
    if (AnyNot(v, 3, 0)) AddTIFFRationalArrayTag(g, w, tag, v, 3);
  };
  const auto single = [&](int tag, double v) {
    if (v != 0) AddTIFFRationalTag(g, w, tag, v);
  };
  if (!p.ExifGPSVersionID.empty()) AddTIFFInlineByteTag(g, 0, TextToGPSVersion(p.ExifGPSVersionID));
  ref(1, p.ExifGPSLatitudeRef);
  triple(2, p.ExifGPSLatitude);
  ref(3, p.ExifGPSLongitudeRef);
  triple(4, p.ExifGPSLongitude);
  if (!p.ExifGPSAltitudeRef.empty()) AddTIFFByteTag(g, 5, uint8_t(StrToIntDef(p.ExifGPSAltitudeRef, 0)));
  single(6, p.ExifGPSAltitude);
  // A time stamp of midnight is a time all the same when its date is there.
  if (AnyNot(p.ExifGPSTimeStamp, 3, 0) || !p.ExifGPSDateStamp.empty())
    AddTIFFRationalArrayTag(g, w, 7, p.ExifGPSTimeStamp, 3);
  AddTIFFASCIITag(g, w, 8, p.ExifGPSSatellites);
  ref(9, p.ExifGPSStatus);
  ref(10, p.ExifGPSMeasureMode);
  single(11, p.ExifGPSDOP);
  ref(12, p.ExifGPSSpeedRef);
  single(13, p.ExifGPSSpeed);
  ref(14, p.ExifGPSTrackRef);
  single(15, p.ExifGPSTrack);
  ref(16, p.ExifGPSImgDirectionRef);
  single(17, p.ExifGPSImgDirection);
  AddTIFFASCIITag(g, w, 18, p.ExifGPSMapDatum);
  ref(19, p.ExifGPSDestLatitudeRef);
  triple(20, p.ExifGPSDestLatitude);
  ref(21, p.ExifGPSDestLongitudeRef);
  triple(22, p.ExifGPSDestLongitude);
  ref(23, p.ExifGPSDestBearingRef);
  single(24, p.ExifGPSDestBearing);
  ref(25, p.ExifGPSDestDistanceRef);
  single(26, p.ExifGPSDestDistance);
  AddTIFFASCIITag(g, w, 29, p.ExifGPSDateStamp);
  if (carried != nullptr) AddTIFFCarriedTags(g, w, *carried);
  const int64_t at = AlignTIFFStream(w);
  WriteTIFFDirectory(w, g, 0);
  AddTIFFLongTag(tags, 34853, uint32_t(at));
  uint8_t b[4];
  TIFFPut32(b, uint32_t(at), true);
  w.Put(b, 4);
}

bool WriteTIFFTagBlock(TStream* input, TStream* output, const std::string& inputFileName, TIOParamsVals& params,
                       int pageIndex, const std::string& outputFileName) {
  static constexpr int kTags[] = {271,   272,   306,   274,   282,   283,   296,   305,
                                  315,   318,   531,   319,   529,   532,   33432, 18246,
                                  40091, 40092, 40093, 40094, 40095, 34665, 34853};
  try {
    const std::vector<uint8_t> block = BuildEXIFBlock(params, false);
    if (block.empty()) return false;
    TCustomMemoryStream built(block.data(), int64_t(block.size()));
    TIETIFFHandler source;
    if (!source.ReadStream(built)) return false;
    TIETIFFHandler target;
    const int64_t remembered = input != nullptr ? input->Position() : 0;
    const bool read = input != nullptr ? target.ReadStream(*input) : target.ReadFile(inputFileName);
    if (!read || target.BigEndian() || target.Page(pageIndex) == nullptr) return false;
    for (int tag : kTags) {
      const int i = source.FindTag(0, tag);
      if (i >= 0) target.CopyTag(0, i, pageIndex, source);
    }
    if (output != nullptr) {
      if (output == input) output->Seek(remembered, soBeginning);
      target.WriteStream(*output, -1);
      return true;
    }
    return target.WriteFile(outputFileName, -1);
  } catch (const Exception&) {
    return false;
  }
}
