#include "imaging/special/dicom/dicom_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/io/dicom_tags.h"
#include "imaging/io/io_params.h"
#include "imaging/io/io_types.h"
#include "imaging/special/dicom/dicom_dictionary.h"
#include "imaging/special/dicom/dicom_pixels.h"
#include "platform/rtl/exceptions.h"

namespace {

constexpr const char* kBigEndianSyntax = "1.2.840.10008.1.2.2";
constexpr const char* kDeflateSyntax = "1.2.840.10008.1.2.1.99";
constexpr uint32_t kUndefinedLength = 0xFFFFFFFF;

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>(v >> 8 | v << 8); }
uint32_t Swap32(uint32_t v) {
  return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

bool ReadExact(TStream& s, void* buffer, int64_t count) { return s.Read(buffer, count) == count; }

// Representations followed by two reserved bytes and a 32-bit length in
// explicit-VR data; the others have a 16-bit length.
bool HasLongLength(const char vr[2]) {
  static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
  for (const char* l : kLong)
    if (vr[0] == l[0] && vr[1] == l[1]) return true;
  return false;
}

std::string Trimmed(const std::vector<uint8_t>& value, size_t length) {
  std::string s(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(std::min(length, value.size())));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t first = 0;
  while (first < s.size() && s[first] == ' ') ++first;
  return s.substr(first);
}

// A decimal string up to its first backslash, a comma taken as a point.
bool ParseDecimal(const std::string& text, double& value) {
  std::string s = text.substr(0, text.find('\\'));
  std::replace(s.begin(), s.end(), ',', '.');
  const char* begin = s.c_str();
  while (*begin == ' ') ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin || !std::isfinite(v)) return false;
  value = v;
  return true;
}

class TElementWalk {
public:
  explicit TElementWalk(TDICOMContext& ctx) : FCtx(ctx), FStream(*ctx.Stream), FTags(*ctx.Params->DicomTags) {}

  // Reads elements up to the end of the data or the pixel data; false when
  // the data cannot be read (the reason given).
  bool Run() {
    while (FStream.Position() + 8 <= FCtx.StreamSize) {
      const TStep step = ReadOne();
      if (step == stRefused) return false;
      if (step == stEnd) break;
    }
    return true;
  }

private:
  enum TStep { stNext, stEnd, stRefused };

  uint16_t Word(const uint8_t* p, bool fileOrder) const {
    const uint16_t v = static_cast<uint16_t>(p[0] | p[1] << 8);
    return fileOrder && !FCtx.LittleEndian ? Swap16(v) : v;
  }
  uint32_t Long(const uint8_t* p, bool fileOrder) const {
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return fileOrder && !FCtx.LittleEndian ? Swap32(v) : v;
  }

  TStep ReadOne() {
    uint8_t h[4];
    if (!ReadExact(FStream, h, 4)) return stEnd;
    uint16_t group = static_cast<uint16_t>(h[0] | h[1] << 8), element = static_cast<uint16_t>(h[2] | h[3] << 8);
    if (group != 2) {
      if (!FLeftMeta) {
        FLeftMeta = true;
        // A deflated data set is one zlib stream after the meta group.
        if (FCtx.TransferSyntax == kDeflateSyntax) {
          FCtx.Progress->Refuse("a deflated data set (transfer syntax 1.2.840.10008.1.2.1.99)");
          return stRefused;
        }
      }
      if (!FCtx.LittleEndian) group = Swap16(group), element = Swap16(element);
    }
    const bool fileOrder = group != 2;
    std::string vr = DICOMElementVR(group, element);
    char two[2];
    if (!ReadExact(FStream, two, 2)) return stEnd;
    uint32_t length = 0;
    uint8_t b[4];
    const bool explicitVR = group == 2 || (std::isupper(static_cast<unsigned char>(two[0])) &&
                                           std::isupper(static_cast<unsigned char>(two[1])));
    if (vr != "!!" && explicitVR) {
      if (vr == "xs") vr.assign(two, 2);
      if (HasLongLength(two)) {
        if (!ReadExact(FStream, b, 2) || !ReadExact(FStream, b, 4)) return stEnd;
        length = Long(b, fileOrder);
      } else {
        if (!ReadExact(FStream, b, 2)) return stEnd;
        length = Word(b, fileOrder);
      }
    } else {
      FStream.Seek(-2, soCurrent);
      if (!ReadExact(FStream, b, 4)) return stEnd;
      length = Long(b, fileOrder);
    }
    const bool nested = !FOpen.empty();
    const int64_t at = FStream.Position();

    if (group == 0xFFFE && (element == 0xE00D || element == 0xE0DD)) {
      // Delimiters close what an undefined length opened: an item, or a
      // sequence with the items still open inside it.
      if (element == 0xE00D) {
        if (!FOpen.empty() && FOpen.back() == 'I') FOpen.pop_back();
      } else {
        while (!FOpen.empty() && FOpen.back() == 'I') FOpen.pop_back();
        if (!FOpen.empty()) FOpen.pop_back();
      }
      FTags.AddTag(group, element, 0, {}, vr);
      return stNext;
    }

    if (length == kUndefinedLength) {
      if (group == 0x7FE0 && element == 0x0010 && !nested) return PixelData(at, -1);
      // Walked element by element: what lies inside only joins the list.
      FOpen.push_back(group == 0xFFFE && element == 0xE000 ? 'I' : 'S');
      FTags.AddTag(group, element, -1, {}, vr);
      return stNext;
    }

    const int64_t left = FCtx.StreamSize - at;
    if (int64_t(length) > left) {
      // A value past the end: listed without its data, and nothing after it
      // can be found.
      FTags.AddTag(group, element, -1, {}, vr);
      return stEnd;
    }

    if (group == 0x7FE0 && element == 0x0010 && !nested) {
      uint8_t first[4] = {0, 0, 0, 0};
      if (length >= 4) {
        ReadExact(FStream, first, 4);
        FStream.SetPosition(at);
      }
      const bool jfif = (first[0] == 0xFF && first[1] == 0xD8 && first[2] == 0xFF && first[3] == 0xE0) ||
                        (first[0] == 0xD8 && first[1] == 0xFF && first[2] == 0xE0 && first[3] == 0xFF);
      if (!jfif) return PixelData(at, length);
      if (FCtx.JpegPixelDataPosition < 0) {
        FCtx.JpegPixelDataPosition = at;
        FCtx.JpegPixelDataLength = length;
      }
    }

    std::vector<uint8_t> value(size_t(length) + 1, 0);
    if (length > 0 && !ReadExact(FStream, value.data(), length)) {
      FTags.AddTag(group, element, -1, {}, vr);
      return stEnd;
    }
    if (!nested) TakeField(group, element, value, length, fileOrder);
    FTags.AddTag(group, element, static_cast<int32_t>(std::min<uint32_t>(length, INT32_MAX)), std::move(value), vr);
    return stNext;
  }

  TStep PixelData(int64_t at, int64_t length) {
    FCtx.PixelDataPosition = at;
    FCtx.PixelDataLength = length;
    FTags.AddTag(0x7FE0, 0x0010, length < 0 ? -1 : static_cast<int32_t>(length), {}, DICOMElementVR(0x7FE0, 0x0010));
    return stEnd;
  }

  void TakeField(uint16_t group, uint16_t element, const std::vector<uint8_t>& value, uint32_t length,
                 bool fileOrder) {
    if (group == 2 && element == 0x0010) {
      FCtx.TransferSyntax = Trimmed(value, length);
      if (FCtx.TransferSyntax == kBigEndianSyntax) FCtx.LittleEndian = false;
      return;
    }
    if (group != 0x0028) return;
    auto us = [&](int& field) {
      if (length >= 2) field = Word(value.data(), fileOrder);
    };
    auto ds = [&](double& field, bool* seen) {
      double v;
      if (ParseDecimal(Trimmed(value, length), v)) {
        field = v;
        if (seen) *seen = true;
      }
    };
    switch (element) {
      case 0x0002: us(FCtx.SamplesPerPixel); break;
      case 0x0004: {
        std::string p = Trimmed(value, length);
        for (char& c : p) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        FCtx.Photometric = p;
        break;
      }
      case 0x0006: us(FCtx.PlanarConfiguration); break;
      case 0x0008: {
        const std::string t = Trimmed(value, length);
        char* end = nullptr;
        const long long n = std::strtoll(t.c_str(), &end, 10);
        FCtx.Frames = end != t.c_str() && n >= 1 ? static_cast<int>(std::min<long long>(n, INT32_MAX)) : 1;
        break;
      }
      case 0x0010: us(FCtx.Rows); break;
      case 0x0011: us(FCtx.Columns); break;
      case 0x0100:
      case 0x0101: {
        int bits = 0;
        us(bits);
        int& mine = element == 0x0100 ? FCtx.BitsAllocated : FCtx.BitsStored;
        int& other = element == 0x0100 ? FCtx.BitsStored : FCtx.BitsAllocated;
        mine = bits;
        if (other == 0) other = bits;
        FCtx.BytesPerSample = std::max(FCtx.BytesPerSample, (bits + 7) / 8);
        break;
      }
      case 0x0103: us(FCtx.PixelRepresentation); break;
      case 0x1050: ds(FCtx.WindowCentre, &FCtx.HasWindowCentre); break;
      case 0x1051: ds(FCtx.WindowWidth, &FCtx.HasWindowWidth); break;
      case 0x1052: ds(FCtx.RescaleIntercept, nullptr); break;
      case 0x1053: ds(FCtx.RescaleSlope, nullptr); break;
      case 0x1201: Palette(FCtx.Red, value, length, fileOrder); break;
      case 0x1202: Palette(FCtx.Green, value, length, fileOrder); break;
      case 0x1203: Palette(FCtx.Blue, value, length, fileOrder); break;
      default: break;
    }
  }

  // 2^(bits allocated) entries (at most 65536); those past the value stay 0.
  void Palette(std::vector<uint16_t>& table, const std::vector<uint8_t>& value, uint32_t length, bool fileOrder) {
    const int bits = FCtx.BitsAllocated >= 1 && FCtx.BitsAllocated <= 16 ? FCtx.BitsAllocated : 16;
    table.assign(size_t(1) << bits, 0);
    const size_t have = std::min<size_t>(table.size(), length / 2);
    for (size_t i = 0; i < have; ++i) table[i] = Word(value.data() + 2 * i, fileOrder);
  }

  TDICOMContext& FCtx;
  TStream& FStream;
  TIEDICOMTags& FTags;
  // What undefined lengths opened: 'S' a sequence (or other element), 'I' an item.
  std::vector<char> FOpen;
  bool FLeftMeta = false;
};

void StoreImageFields(TDICOMContext& ctx) {
  TIOParamsVals& p = *ctx.Params;
  p.BitsPerSample = ctx.BitsStored;
  p.SamplesPerPixel = ctx.SamplesPerPixel;
  p.Width = p.StoredWidth = ctx.Columns;
  p.Height = p.StoredHeight = ctx.Rows;
  p.SetImageCount(ctx.Frames);
}

}  // namespace

bool IsDICOMStream(TStream& stream) {
  const int64_t start = stream.Position();
  bool found = false;
  if (stream.Size() - start >= 132) {
    char magic[4];
    stream.Seek(128, soCurrent);
    found = ReadExact(stream, magic, 4) && std::memcmp(magic, "DICM", 4) == 0;
  }
  stream.SetPosition(start);
  return found;
}

void ReadDICOMStream(TStream& stream, TIOParamsVals& params, TIEBitmap* bitmap, bool paramsOnly,
                     TProgressRecord& progress) {
  try {
    TIEBufferedReadStream buffered(&stream, 65536, true);
    TDICOMContext ctx;
    ctx.Params = &params;
    ctx.Progress = &progress;
    ctx.Stream = &buffered;
    ctx.StreamSize = buffered.Size();
    if (!params.DicomTags) params.DicomTags = std::make_unique<TIEDICOMTags>();
    params.DicomTags->Clear();
    params.DicomValueOffset = 0;

    ctx.NoPreamble = !IsDICOMStream(buffered);
    buffered.SetPosition(ctx.NoPreamble ? 0 : 132);
    TElementWalk walk(ctx);
    if (!walk.Run()) return;

    if (ctx.PixelDataPosition < 0 && ctx.JpegPixelDataPosition >= 0) {
      ctx.PixelDataPosition = ctx.JpegPixelDataPosition;
      ctx.PixelDataLength = ctx.JpegPixelDataLength;
    }
    if (ctx.PixelDataPosition < 0) {
      params.SetImageCount(ctx.Frames);
      if (!paramsOnly && bitmap) progress.Refuse("no pixel data");
      return;
    }
    StoreImageFields(ctx);
    if (paramsOnly || !bitmap) return;

    TIEBitmap work;
    ctx.Bitmap = &work;
    buffered.SetPosition(ctx.PixelDataPosition);
    DecodeDICOMImage(ctx);
    params.SetImageCount(ctx.Frames);
    if (progress.Aborted()) return;
    if (work.IsEmpty()) return progress.Refuse("no picture was decoded");
    // A framework bitmap holds 24-bit colour (and 1 bit); the rest converts.
    if (bitmap->Location() == ieTBitmap && work.PixelFormat() != ie1g && work.PixelFormat() != ie24RGB &&
        !work.ConvertToPixelFormat(ie24RGB))
      return progress.Refuse("no memory for the picture");
    const double lo = work.RangeMin(), hi = work.RangeMax();
    bitmap->Assign(&work);
    bitmap->SetRange(lo, hi);
  } catch (const std::bad_alloc&) {
    progress.Refuse("out of memory");
  } catch (const Exception&) {
    progress.Refuse("the DICOM data could not be read");
  }
}

namespace {

void ReadDICOMFormat(TIEFormatReadArgs& a) {
  ReadDICOMStream(a.Stream, a.Params, a.ParamsOnly ? nullptr : a.Bitmap, a.ParamsOnly, a.Progress);
}

}  // namespace

TIEFormatDescriptor DICOMFormat() {
  return {
      .FileType = ioDICOM,
      .FullName = "DICOM Bitmap",
      .Suffixes = "DCM;DIC;DICOM;V2",
      .Access = ieaRead,
      .Probe = IsDICOMStream,
      .ProbeOrder = 40,
      .Read = ReadDICOMFormat,
      .ReadParams = ReadDICOMFormat,
      .LoadOptions = {ielResetMetadata},
  };
}
