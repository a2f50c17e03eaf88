#include "imaging/formats/tiff/tiff_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_icc.h"
#include "imaging/core/ie_mask.h"
#include "imaging/core/ie_orientation.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/filter_rows.h"
#include "imaging/formats/jpeg_filter.h"
#include "imaging/formats/tiff/tiff_strips.h"
#include "imaging/io/exif_block.h"
#include "imaging/io/imaging_annot.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "imaging/io/tiff_ifd.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/streams.h"

namespace {

// Bytes one coded byte can become at most: PackBits, Deflate, LZW (and JPEG).
constexpr int64_t kPackBitsFactor = 128, kDeflateFactor = 1032, kLZWFactor = 4096;
// A blank fax row of a 600 dpi page takes one bit for some 620 bytes of pixels.
constexpr int64_t kFaxFactor = 32768;
constexpr int kMaxPlanes = 10;
constexpr int kThumbnailMax = 400;

struct TStop {
  const char* reason;
};

int64_t Clamp32(int64_t v) { return std::clamp<int64_t>(v, 0, 0x7FFFFFFF); }

// The compression parameter the library keeps for a TIFF compression.
uint8_t CompressionParam(int compression, int t4Options) {
  switch (compression) {
    case 1: return 0;
    case 2: return 1;
    case 3: return (t4Options & 1) ? 3 : 2;
    case 4: return 4;
    case 5: return 5;
    case 6: return 6;
    case 7: return 7;
    case 8: return 10;
    case 32773: return 8;
    case 32946: return 9;
    default: return 11;
  }
}

struct TTIFFReader {
  TIEBitmap* bitmap;
  TStream& stream;
  int& pageCount;
  TIOParamsVals& params;
  TProgressRecord& progress;
  bool paramsOnly;
  TIEMaskOut& alphaMask;
  bool fromPosition, noAlpha, exifThumbnail, exifBlock;
  const uint8_t* header;

  TIFFDirectoryContext main{}, exif{}, gps{};
  bool exifIsMain = false;
  TTIFFVars v{};
  int64_t streamSize = 0;

  void Read();
  void ReadTags();
  void FillParams();
  void ReadEXIF();
  void ReadGPS();
  void ReadMetadata();
  void ReadResolution();
  void Decode();
  TIEBitmapFormat PixelFormat();
  void CheckDataCanFill(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts);
  // Reads count bytes at offset (bounded by the stream) into buffer.
  void ReadBlock(uint32_t offset, int64_t count, std::vector<uint8_t>& buffer);
  void ReadStrips();
  void ReadPlanarStrips();
  void ReadTiles(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts);
  void ReadOldJpeg();
};

void TTIFFReader::Read() {
  streamSize = stream.Size();
  const int64_t base = fromPosition ? stream.Position() : 0;
  TIFFHeader h;
  uint8_t bytes[8];
  if (header != nullptr) {
    std::memcpy(bytes, header, 8);
  } else if (stream.Read(bytes, 8) != 8) {
    throw TStop{"the header is cut short"};
  }
  if (!ParseTIFFHeader(bytes, h)) throw TStop{"the byte order mark is neither II nor MM"};
  if (h.FirstOffset == 0 && header == nullptr) throw TStop{"the first directory offset is 0"};
  for (TIFFDirectoryContext* c : {&main, &exif, &gps}) {
    c->LittleEndian = h.LittleEndian;
    c->Stream = &stream;
    c->Base = base;
  }
  v.LittleEndian = h.LittleEndian;
  v.Params = &params;
  const int index = params.TiffImageIndex;
  if (!LoadTIFFDirectory(index, h.FirstOffset, main, pageCount)) throw TStop{"the page does not exist"};
  if (params.TiffSubIndex >= 0) {
    const int64_t sub = GetTIFFTagArrayInteger(main, 330, params.TiffSubIndex, 0);
    if (sub != 0) {
      int ignored = 0;
      if (!LoadTIFFDirectory(0, uint32_t(sub), main, ignored)) throw TStop{"the sub-image does not exist"};
    }
  }
  // EXIF and GPS offsets count from the TIFF's base, as the main directory's do.
  const int64_t exifOffset = GetTIFFTagInteger(main, 34665, 0);
  int ignored = 0;
  if (exifOffset != 0 && LoadTIFFDirectory(0, uint32_t(exifOffset), exif, ignored)) {
    params.HasExifData = true;
  } else if (exifBlock) {
    exifIsMain = true;
  }
  const int64_t gpsOffset = GetTIFFTagInteger(main, 34853, 0);
  if (gpsOffset != 0) LoadTIFFDirectory(0, uint32_t(gpsOffset), gps, ignored);
  ReadTags();
  FillParams();
  ReadEXIF();
  ReadGPS();
  ReadMetadata();
  ReadResolution();
  Decode();
}

void TTIFFReader::ReadTags() {
  const auto I = [&](int tag, int64_t def) { return GetTIFFTagInteger(main, tag, def); };
  v.ImageWidth = int32_t(Clamp32(I(256, 0)));
  v.ImageLength = int32_t(Clamp32(I(257, 0)));
  v.SamplesPerPixel = int32_t(Clamp32(I(277, 1)));
  const std::vector<uint32_t> bits = ReadTIFFTagArray(main, 258);
  v.BitsPerSample = bits.empty() ? 1 : int32_t(std::min<uint32_t>(bits[0], 64));
  for (uint32_t b : bits)
    if (b != bits[0]) throw TStop{"the samples differ in depth"};
  // RowsPerStrip absent, 0, negative or beyond the image: one strip.
  const int64_t rps = I(278, v.ImageLength);
  v.RowsPerStrip = rps <= 0 || rps > v.ImageLength ? v.ImageLength : int32_t(rps);
  v.TileWidth = int32_t(FindTIFFTag(322, main) >= 0 ? Clamp32(I(322, 0)) : -1);
  v.TileLength = int32_t(FindTIFFTag(323, main) >= 0 ? Clamp32(I(323, 0)) : -1);
  v.Photometric = uint16_t(I(262, 2));
  v.PlanarConfiguration = uint16_t(I(284, 1));
  v.Orientation = uint16_t(I(274, 1));
  v.Compression = uint16_t(I(259, 1));
  v.Predictor = int32_t(I(317, 1));
  v.T4Options = int32_t(I(292, 0));
  v.T6Options = int32_t(I(293, 0));
  v.FillOrder = int32_t(I(266, 1));
  if (v.FillOrder != 1 && v.FillOrder != 2) v.FillOrder = 1;
  v.Software = GetTIFFTagString(main, 305, true);
  v.JPEGProc = int32_t(I(512, 0));
  v.JPEGInterchangeFormat = int32_t(Clamp32(I(513, 0)));
  v.JPEGInterchangeFormatLength = int32_t(Clamp32(I(514, 0)));
  for (int i = 0; i < 2; ++i) {
    const int64_t s = GetTIFFTagArrayInteger(main, 530, i, 2);
    v.YCbCrSubSampling[i] = s == 0 ? 2 : int32_t(std::clamp<int64_t>(s, 1, 16));
  }
  const std::vector<uint32_t> extras = ReadTIFFTagArray(main, 338);
  v.ExtraSampleCount = int32_t(std::min<size_t>(extras.size(), 10));
  for (int i = 0; i < v.ExtraSampleCount; ++i) v.ExtraSampleValues[i] = int32_t(extras[size_t(i)]);
  v.ExtraSamples = extras.empty() ? 0 : int32_t(extras[0]);
  v.StripOffsets = ReadTIFFTagArray(main, 273);
  v.StripByteCounts = ReadTIFFTagArray(main, 279);
  v.TileOffsets = ReadTIFFTagArray(main, 324);
  v.TileByteCounts = ReadTIFFTagArray(main, 325);
  v.JPEGTables = ReadTIFFTagBlock(main, 347);
  // Colour maps of up to 8 bits: 2^bits entries, red block, green block, blue block.
  if (v.BitsPerSample <= 8) {
    const std::vector<uint32_t> map = ReadTIFFTagArray(main, 320);
    const int n = std::min<int>(1 << v.BitsPerSample, int(map.size() / 3));
    if (n > 0) {
      const uint32_t largest = *std::max_element(map.begin(), map.begin() + 3 * n);
      const int shift = largest < 256 ? 0 : 8;
      v.ColorMap.resize(size_t(n) * 3);
      v.ColorMapCount = n;
      for (int i = 0; i < n; ++i) {
        v.ColorMap[size_t(3 * i)] = uint8_t(map[size_t(2 * n + i)] >> shift);
        v.ColorMap[size_t(3 * i + 1)] = uint8_t(map[size_t(n + i)] >> shift);
        v.ColorMap[size_t(3 * i + 2)] = uint8_t(map[size_t(i)] >> shift);
      }
    }
  }
  // Bilevel images marked RGB: fax codings mean white is zero, the others black.
  if (v.SamplesPerPixel == 1 && v.BitsPerSample == 1 && v.Photometric == 2)
    v.Photometric = v.Compression >= 2 && v.Compression <= 4 ? 0 : 1;
  if (params.TiffTileIndex >= 0) {
    v.ImageWidth = std::max(0, v.TileWidth);
    v.ImageLength = std::max(0, v.TileLength);
    if (v.RowsPerStrip > v.ImageLength) v.RowsPerStrip = v.ImageLength;
  }
}

void TTIFFReader::FillParams() {
  const auto I = [&](int tag, int64_t def) { return GetTIFFTagInteger(main, tag, def); };
  params.BitsPerSample = v.BitsPerSample;
  params.SamplesPerPixel = v.SamplesPerPixel;
  params.Width = params.StoredWidth = v.ImageWidth;
  params.Height = params.StoredHeight = v.ImageLength;
  params.TiffLittleEndian = v.LittleEndian;
  params.SetImageCount(pageCount);
  params.SetOrientation(v.Orientation);
  params.TiffCompression = CompressionParam(v.Compression, v.T4Options);
  if (v.Photometric <= 6) params.TiffPhotometric = uint8_t(v.Photometric);
  else if (v.Photometric == 8) params.TiffPhotometric = 7;
  params.TiffPlanarConfig = v.PlanarConfiguration;
  params.TiffDocumentName = GetTIFFTagString(main, 269, true);
  params.TiffImageDescription = GetTIFFTagString(main, 270, true);
  params.TiffPageName = GetTIFFTagString(main, 285, true);
  params.TiffPageNumber = int32_t(GetTIFFTagArrayInteger(main, 297, 0, 0));
  params.TiffPageCount = int32_t(GetTIFFTagArrayInteger(main, 297, 1, 0));
  params.TiffFillOrder = v.FillOrder;
  params.TiffNewSubfileType = int32_t(I(254, 0));
  params.ExifImageDescription = params.TiffImageDescription;
  params.ExifMake = GetTIFFTagString(main, 271, true);
  params.ExifModel = GetTIFFTagString(main, 272, true);
  params.ExifDateTime = GetTIFFTagString(main, 306, true);
  params.ExifResolutionUnit = int32_t(I(296, 2));
  params.ExifSoftware = v.Software;
  params.ExifArtist = GetTIFFTagString(main, 315, true);
  params.ExifCopyright = GetTIFFTagString(main, 33432, true);
  params.ExifRating = int32_t(I(18246, -1));
  params.ExifXPTitle = GetTIFFTagWideString(main, 40091);
  params.ExifXPComment = GetTIFFTagWideString(main, 40092);
  params.ExifXPAuthor = GetTIFFTagWideString(main, 40093);
  params.ExifXPKeywords = GetTIFFTagWideString(main, 40094);
  params.ExifXPSubject = GetTIFFTagWideString(main, 40095);
  params.ExifYCbCrPositioning = int32_t(I(531, -1));
  for (int i = 0; i < 2; ++i) params.SetEXIFWhitePoint(i, GetTIFFTagRationalAt(main, 318, i, -1));
  for (int i = 0; i < 6; ++i) params.SetEXIFPrimaryChromaticities(i, GetTIFFTagRationalAt(main, 319, i, -1));
  for (int i = 0; i < 3; ++i) params.SetEXIFYCbCrCoefficients(i, GetTIFFTagRationalAt(main, 529, i, -1));
  for (int i = 0; i < 6; ++i) params.SetEXIFReferenceBlackWhite(i, GetTIFFTagRationalAt(main, 532, i, -1));
}

void TTIFFReader::ReadEXIF() {
  const TIFFDirectoryContext& e = exifIsMain ? main : exif;
  if (e.Entries.empty()) return;
  const auto R = [&](int tag, double def) { return GetTIFFTagRational(e, tag, def); };
  const auto I = [&](int tag, int64_t def) { return int32_t(GetTIFFTagInteger(e, tag, def)); };
  const auto S = [&](int tag) { return GetTIFFTagString(e, tag, true); };
  params.SetEXIFExposureTime(R(33434, -1));
  params.SetEXIFFNumber(R(33437, -1));
  params.SetEXIFExposureProgram(I(34850, -1));
  for (int i = 0; i < 2; ++i) params.SetEXIFISOSpeedRatings(i, int32_t(GetTIFFTagArrayInteger(e, 34855, i, 0)));
  params.ExifVersion = GetTIFFTagString(e, 36864, false);
  params.ExifDateTimeOriginal = S(36867);
  params.ExifDateTimeDigitized = S(36868);
  params.SetEXIFCompressedBitsPerPixel(R(37122, 0));
  params.SetEXIFShutterSpeedValue(R(37377, -1));
  params.SetEXIFApertureValue(R(37378, -1));
  params.SetEXIFBrightnessValue(R(37379, -1000));
  params.SetEXIFExposureBiasValue(R(37380, -1000));
  params.SetEXIFMaxApertureValue(R(37381, -1000));
  params.SetEXIFSubjectDistance(R(37382, -1));
  params.SetEXIFMeteringMode(I(37383, -1));
  params.SetEXIFLightSource(I(37384, -1));
  params.SetEXIFFlash(I(37385, -1));
  params.SetEXIFFocalLength(R(37386, -1));
  params.ExifSubsecTime = S(37520);
  params.ExifSubsecTimeOriginal = S(37521);
  params.ExifSubsecTimeDigitized = S(37522);
  params.ExifFlashPixVersion = GetTIFFTagString(e, 40960, false);
  params.SetEXIFColorSpace(I(40961, -1));
  params.SetEXIFPixelXDimension(I(40962, 0));
  params.SetEXIFPixelYDimension(I(40963, 0));
  params.ExifRelatedSoundFile = S(40964);
  params.SetEXIFFocalPlaneXResolution(R(41486, -1));
  params.SetEXIFFocalPlaneYResolution(R(41487, -1));
  params.SetEXIFFocalPlaneResolutionUnit(I(41488, -1));
  params.SetEXIFExposureIndex(R(41493, -1));
  params.SetEXIFSensingMethod(I(41495, -1));
  params.SetEXIFFileSource(I(41728, -1));
  params.SetEXIFSceneType(I(41729, -1));
  params.ExifExposureMode = I(41986, -1);
  params.ExifWhiteBalance = I(41987, -1);
  params.ExifDigitalZoomRatio = R(41988, -1);
  params.ExifFocalLengthIn35mmFilm = I(41989, -1);
  params.ExifSceneCaptureType = I(41990, -1);
  params.ExifGainControl = I(41991, -1);
  params.ExifContrast = I(41992, -1);
  params.ExifSaturation = I(41993, -1);
  params.ExifSharpness = I(41994, -1);
  params.ExifSubjectDistanceRange = I(41996, -1);
  params.ExifImageUniqueID = S(42016);
  DecodeEXIFUserComment(e, params);
  // The maker note is kept as it stands until its own parser reads it.
  params.ExifMakerNote->Clear();
  params.ExifMakerNote->SetRawData(ReadTIFFTagBlock(e, 37500));
}

void TTIFFReader::ReadGPS() {
  if (gps.Entries.empty()) return;
  const auto S = [&](int tag) { return GetTIFFTagString(gps, tag, true); };
  const auto R3 = [&](int tag, double* out) {
    for (int i = 0; i < 3; ++i) out[i] = GetTIFFTagRationalAt(gps, tag, i, 0);
  };
  params.ExifGPSVersionID = GPSVersionToText(ReadTIFFTagBlock(gps, 0));
  params.ExifGPSLatitudeRef = S(1);
  R3(2, params.ExifGPSLatitude);
  params.ExifGPSLongitudeRef = S(3);
  R3(4, params.ExifGPSLongitude);
  if (FindTIFFTag(5, gps) >= 0) params.ExifGPSAltitudeRef = std::to_string(GetTIFFTagInteger(gps, 5, 0));
  params.ExifGPSAltitude = GetTIFFTagRational(gps, 6, 0);
  R3(7, params.ExifGPSTimeStamp);
  params.ExifGPSSatellites = S(8);
  params.ExifGPSStatus = S(9);
  params.ExifGPSMeasureMode = S(10);
  params.ExifGPSDOP = GetTIFFTagRational(gps, 11, 0);
  params.ExifGPSSpeedRef = S(12);
  params.ExifGPSSpeed = GetTIFFTagRational(gps, 13, 0);
  params.ExifGPSTrackRef = S(14);
  params.ExifGPSTrack = GetTIFFTagRational(gps, 15, 0);
  params.ExifGPSImgDirectionRef = S(16);
  params.ExifGPSImgDirection = GetTIFFTagRational(gps, 17, 0);
  params.ExifGPSMapDatum = S(18);
  params.ExifGPSDestLatitudeRef = S(19);
  R3(20, params.ExifGPSDestLatitude);
  params.ExifGPSDestLongitudeRef = S(21);
  R3(22, params.ExifGPSDestLongitude);
  params.ExifGPSDestBearingRef = S(23);
  params.ExifGPSDestBearing = GetTIFFTagRational(gps, 24, 0);
  params.ExifGPSDestDistanceRef = S(25);
  params.ExifGPSDestDistance = GetTIFFTagRational(gps, 26, 0);
  params.ExifGPSDateStamp = S(29);
}

void TTIFFReader::ReadMetadata() {
  const std::vector<uint8_t> iptc = ReadTIFFTagBlock(main, 33723);
  if (iptc.empty()) params.IptcInfo->Clear();
  else params.IptcInfo->LoadFromBuffer(iptc.data(), int64_t(iptc.size()));
  params.XmpPacket.clear();
  const int xmp = FindTIFFTag(700, main);
  if (xmp >= 0 && (main.Entries[size_t(xmp)].Type == ttBYTE || main.Entries[size_t(xmp)].Type == ttUNDEFINED)) {
    const std::vector<uint8_t> packet = ReadTIFFTagBlock(main, 700);
    params.XmpPacket.assign(packet.begin(), packet.end());
  }
  const std::vector<uint8_t> annot = ReadTIFFTagBlock(main, 32932);
  if (!annot.empty()) LoadImagingAnnot(*params.GetImagingAnnot(), annot.data(), int64_t(annot.size()));
  const std::vector<uint8_t> icc = ReadTIFFTagBlock(main, 34675);
  if (!icc.empty()) params.GetInputICC()->LoadFromBuffer(icc.data(), int64_t(icc.size()));
  params.FreePalette();
  if (v.ColorMapCount > 0) {
    params.Palette.resize(size_t(v.ColorMapCount));
    for (int i = 0; i < v.ColorMapCount; ++i)
      params.Palette[size_t(i)] =
          TRGB{v.ColorMap[size_t(3 * i)], v.ColorMap[size_t(3 * i + 1)], v.ColorMap[size_t(3 * i + 2)]};
    params.PaletteCount = v.ColorMapCount;
  }
}

void TTIFFReader::ReadResolution() {
  const int unit = int(GetTIFFTagInteger(main, 296, 2));
  const double f = unit == 3 ? 2.54 : 1.0;
  const double x = GetTIFFTagRational(main, 282, gDefaultDPIX), y = GetTIFFTagRational(main, 283, gDefaultDPIY);
  const auto dpi = [](double value, int32_t def) {
    const double r = std::isfinite(value) ? std::clamp(value, -2e9, 2e9) : 0;
    const int64_t n = Round(r);
    return n == 0 ? def : int32_t(n);
  };
  params.SetDpiX(dpi(x * f, gDefaultDPIX));
  params.SetDpiY(dpi(y * f, gDefaultDPIY));
  params.ExifXResolution = x;
  params.ExifYResolution = y;
  const auto pos = [f](double p) {
    return std::isfinite(p) ? int32_t(std::clamp(std::trunc(p * f), -2e9, 2e9)) : 0;
  };
  params.TiffXPos = pos(GetTIFFTagRational(main, 286, 0));
  params.TiffYPos = pos(GetTIFFTagRational(main, 287, 0));
}

TIEBitmapFormat TTIFFReader::PixelFormat() {
  const int b = v.BitsPerSample, s = v.SamplesPerPixel, p = v.Photometric;
  if (b == 1 && s == 1 && p != 3) return ie1g;
  if (!params.NativePixelFormat) return ie24RGB;
  if (b == 8 && s == 1 && p == 3) return ie8p;
  if (b == 8 && s == 1 && p < 2) return ie8g;
  if ((b == 16 || b == 12) && s == 1 && p < 2) return ie16g;
  if (b == 8 && s > 3 && p == 5) return ieCMYK;
  if (b == 16 && s == 4 && p == 5) return ieCMYK;
  if (b == 16 && s == 3 && p == 2) return ieRGB48;
  return ie24RGB;
}

void TTIFFReader::ReadBlock(uint32_t offset, int64_t count, std::vector<uint8_t>& buffer) {
  const int64_t at = main.Base + offset;
  const int64_t available = std::max<int64_t>(0, streamSize - at);
  count = std::clamp<int64_t>(count, 0, available);
  buffer.resize(size_t(count));
  if (count == 0) return;
  stream.Seek(at, soBeginning);
  buffer.resize(size_t(std::max<int64_t>(0, stream.Read(buffer.data(), count))));
}

// Refuses before allocating when the strips' bytes, however well compressed,
// cannot fill the picture.
void TTIFFReader::CheckDataCanFill(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts) {
  int64_t present = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const int64_t left = std::max<int64_t>(0, streamSize - (main.Base + offsets[i]));
    const int64_t n = i < counts.size() && counts[i] != 0 ? std::min<int64_t>(counts[i], left) : left;
    present = std::min<int64_t>(present + n, int64_t(1) << 50);
  }
  const int64_t rows = v.ImageLength;
  int64_t needed = TIFFRowBytes(v, v.ImageWidth, false) * rows;
  if (v.Photometric == 6 && v.SamplesPerPixel == 3 && v.BitsPerSample == 8) {
    // Subsampled YCbCr: blocks of h x v luma samples and one chroma pair.
    const int64_t h = v.YCbCrSubSampling[0], vs = v.YCbCrSubSampling[1];
    needed = (rows + vs - 1) / vs * ((v.ImageWidth + h - 1) / h) * (h * vs + 2);
  }
  int64_t factor = 1;
  switch (v.Compression) {
    // A file cut short keeps the rows it holds, as long as it holds a good part of them.
    case 1: factor = 2; break;
    case 2:
    case 3:
    case 4:
      // A fax row takes at least one bit, and a blank row of a wide page little more.
      if (!DataCanFill(rows, present, 8)) throw TStop{kRefusedUnfilled};
      factor = kFaxFactor;
      break;
    case 32773: factor = kPackBitsFactor; break;
    case 8:
    case 32946: factor = kDeflateFactor; break;
    default: factor = kLZWFactor; break;
  }
  if (!DataCanFill(needed, present, factor)) throw TStop{kRefusedUnfilled};
}

void TTIFFReader::Decode() {
  if ((params.Width == 0 || params.Height == 0) && !exifThumbnail) throw TStop{"the image has no width or height"};
  v.LZWDecoder = v.Compression == 5 ? params.TiffLZWDecoder : IEFilters().TIFFLZWDecompress;
  if (!v.LZWDecoder) v.LZWDecoder = params.TiffLZWDecoder;
  if (v.Compression == 5 && !v.LZWDecoder) throw TStop{"no LZW decoder is installed"};
  v.NoAlpha = noAlpha;
  if (paramsOnly || bitmap == nullptr) return;
  const int s = v.SamplesPerPixel, b = v.BitsPerSample, p = v.Photometric;
  if (!noAlpha) {
    bool extraAlpha = false;
    for (int i = 0; i < v.ExtraSampleCount; ++i) extraAlpha |= v.ExtraSampleValues[i] == 1 || v.ExtraSampleValues[i] == 2;
    const bool alpha = (s == 4 && v.ExtraSamples == 2) || (s >= 4 && v.ExtraSampleCount > 0) || (s == 2 && b == 8) ||
                       (s >= 2 && v.ExtraSampleCount > 0 && v.ExtraSamples == 1) || (s == 4 && p == 2) ||
                       (s >= 2 && extraAlpha);
    if (alpha && !alphaMask) alphaMask = std::make_unique<TIEMask>();
  }
  if (alphaMask && v.ImageWidth > 0 && v.ImageLength > 0) {
    alphaMask->Allocate(v.ImageWidth, v.ImageLength, 8);
    alphaMask->Fill(255);
    alphaMask->SetFull(true);
  } else {
    v.NoAlpha = true;
  }
  v.AlphaMask = alphaMask.get();
  TIEAccessScope access(*bitmap, 2);
  if (exifThumbnail && (v.ImageWidth > kThumbnailMax || v.ImageLength > kThumbnailMax))
    throw TStop{"the thumbnail is too large"};
  if ((v.Compression == 6 || (v.JPEGInterchangeFormat != 0 && v.Compression != 5)) && v.JPEGProc < 2) {
    ReadOldJpeg();
    return;
  }
  if (v.ImageWidth == 0 || v.ImageLength == 0) throw TStop{"the image has no width or height"};
  if (b == 1 && s == 1 && p == 2) {
    v.Photometric = 1;
    params.TiffPhotometric = 1;
  }
  if (b == 0 || b > 16) throw TStop{"a sample depth that is not read"};
  const char* why = nullptr;
  if (!TIFFLayoutSupported(v, why)) throw TStop{why};
  if (v.PlanarConfiguration == 2 && s > kMaxPlanes) throw TStop{"more planes than are read"};
  const bool tiled = v.TileWidth > 0 || v.TileLength > 0;
  const std::vector<uint32_t>& offsets = tiled && !v.TileOffsets.empty() ? v.TileOffsets : v.StripOffsets;
  const std::vector<uint32_t>& counts = tiled && !v.TileOffsets.empty() ? v.TileByteCounts : v.StripByteCounts;
  if (offsets.empty()) throw TStop{"the image has no strip offsets"};
  if (params.TiffTileIndex < 0) CheckDataCanFill(offsets, counts);
  const TIEBitmapFormat format = PixelFormat();
  if (!bitmap->Allocate(v.ImageWidth, v.ImageLength, format)) throw TStop{kRefusedNoMemory};
  if (format == ie8p) {
    for (int i = 0; i < v.ColorMapCount && i < 256; ++i)
      bitmap->SetPaletteColor(i, TRGB{v.ColorMap[size_t(3 * i)], v.ColorMap[size_t(3 * i + 1)],
                                      v.ColorMap[size_t(3 * i + 2)]});
  }
  if (exifThumbnail) bitmap->Fill(0);
  if (tiled) {
    ReadTiles(offsets, counts);
  } else if (v.PlanarConfiguration == 2) {
    ReadPlanarStrips();
  } else {
    ReadStrips();
  }
  if (params.TiffApplyOrientation && !progress.Aborted()) {
    ApplyExifOrientation(*bitmap, v.Orientation);
    params.SetOrientation(1);
  }
}

void TTIFFReader::ReadStrips() {
  const int64_t rowBytes = TIFFRowBytes(v, v.ImageWidth, false);
  const int strips = int(v.StripOffsets.size());
  v.StripCount = strips;
  progress.Step = 100.0 / v.ImageLength;
  progress.Step2 = 100.0 / strips;
  progress.Counter = 0;
  std::vector<uint8_t> buffer;
  int y = 0;
  for (int i = 0; i < strips && y < v.ImageLength && !progress.Aborted(); ++i) {
    const int rows = std::min(v.RowsPerStrip, v.ImageLength - y);
    int64_t size = i < int(v.StripByteCounts.size()) ? v.StripByteCounts[size_t(i)] : 0;
    if (size == 0) size = streamSize - (main.Base + v.StripOffsets[size_t(i)]);
    if (v.Compression == 1 && v.Photometric != 6) {
      // Uncompressed strips are read a band of rows at a time (subsampled YCbCr whole).
      const int band = int(std::clamp<int64_t>((int64_t(1) << 22) / std::max<int64_t>(1, rowBytes), 1, rows));
      for (int r = 0; r < rows && !progress.Aborted(); r += band) {
        const int n = std::min(band, rows - r);
        ReadBlock(uint32_t(v.StripOffsets[size_t(i)] + r * rowBytes), n * rowBytes, buffer);
        if (v.StripOffsets[size_t(i)] + int64_t(r) * rowBytes > 0xFFFFFFFFLL) buffer.clear();
        DecodeTIFFImage(v, *bitmap, y + r, progress, n, v.ImageWidth, int64_t(buffer.size()), buffer.data(), 0);
      }
    } else {
      ReadBlock(v.StripOffsets[size_t(i)], size, buffer);
      DecodeTIFFImage(v, *bitmap, y, progress, rows, v.ImageWidth, int64_t(buffer.size()), buffer.data(), 0);
    }
    y += rows;
  }
  if (y < v.ImageLength && !progress.Aborted()) {
    ClearBitmapRows(*bitmap, y, v.ImageLength);
    throw TStop{"the strips do not cover the image"};
  }
}

void TTIFFReader::ReadPlanarStrips() {
  const int s = v.SamplesPerPixel;
  const int perPlane = int(v.StripOffsets.size()) / s;
  v.StripCount = perPlane;
  progress.Step = 100.0 / v.ImageLength;
  progress.Step2 = 100.0 / std::max(1, perPlane);
  progress.Counter = 0;
  std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(s));
  int y = 0;
  for (int d = 0; d < perPlane && y < v.ImageLength && !progress.Aborted(); ++d) {
    const int rows = std::min(v.RowsPerStrip, v.ImageLength - y);
    for (int p = 0; p < s; ++p) {
      const size_t i = size_t(p) * size_t(perPlane) + size_t(d);
      int64_t size = i < v.StripByteCounts.size() ? v.StripByteCounts[i] : 0;
      if (size == 0) size = streamSize - (main.Base + v.StripOffsets[i]);
      ReadBlock(v.StripOffsets[i], size, planes[size_t(p)]);
    }
    DecodeTIFFPlanes(v, *bitmap, y, progress, rows, v.ImageWidth, planes, 0);
    y += rows;
  }
  if (y < v.ImageLength && !progress.Aborted()) {
    ClearBitmapRows(*bitmap, y, v.ImageLength);
    throw TStop{"the strips do not cover the image"};
  }
}

void TTIFFReader::ReadTiles(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& counts) {
  const int tw = v.TileWidth, tl = v.TileLength;
  if (tw <= 0 || tl <= 0) throw TStop{"a tile has no width or length"};
  // Tiles overhang the picture by less than a tile of it; far larger ones are damage.
  if (int64_t(tw) > int64_t(v.ImageWidth) + 4096 || int64_t(tl) > int64_t(v.ImageLength) + 4096)
    throw TStop{"a tile larger than the picture"};
  if (bitmap->PixelFormat() == ie1g && tw % 8 != 0) throw TStop{"a bilevel tile width that is not a whole byte"};
  const int s = v.SamplesPerPixel;
  const bool planar = v.PlanarConfiguration == 2;
  const int64_t perPlane = planar ? int64_t(offsets.size()) / s : int64_t(offsets.size());
  // The grid of the whole image, also when one tile is asked for.
  const int imageWidth = int(Clamp32(GetTIFFTagInteger(main, 256, 0)));
  const int imageLength = int(Clamp32(GetTIFFTagInteger(main, 257, 0)));
  const int64_t across = std::max<int64_t>(1, (int64_t(imageWidth) + tw - 1) / tw);
  const int64_t down = std::max<int64_t>(1, (int64_t(imageLength) + tl - 1) / tl);
  const bool one = params.TiffTileIndex >= 0;
  v.StripCount = int(std::min<int64_t>(perPlane, across * down));
  progress.Step = 100.0 / std::max(1, v.ImageLength);
  progress.Step2 = 100.0 / std::max(1, v.StripCount);
  progress.Counter = 0;
  std::vector<uint8_t> buffer;
  std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(s));
  const int64_t first = one ? params.TiffTileIndex : 0;
  const int64_t last = one ? first + 1 : std::min<int64_t>(perPlane, across * down);
  if (first >= perPlane) throw TStop{"the tile does not exist"};
  const auto sizeOf = [&](size_t i) {
    int64_t size = i < counts.size() ? counts[i] : 0;
    return size == 0 ? streamSize - (main.Base + offsets[i]) : size;
  };
  for (int64_t t = first; t < last && !progress.Aborted(); ++t) {
    const int x = one ? 0 : int((t % across) * tw);
    const int y = one ? 0 : int((t / across) * tl);
    if (planar) {
      for (int p = 0; p < s; ++p) {
        const size_t i = size_t(p * perPlane + t);
        ReadBlock(offsets[i], sizeOf(i), planes[size_t(p)]);
      }
      DecodeTIFFPlanes(v, *bitmap, y, progress, tl, tw, planes, x);
    } else {
      ReadBlock(offsets[size_t(t)], sizeOf(size_t(t)), buffer);
      DecodeTIFFImage(v, *bitmap, y, progress, tl, tw, int64_t(buffer.size()), buffer.data(), x);
    }
  }
  if (!one && last < across * down && !progress.Aborted()) throw TStop{"the tiles do not cover the image"};
}

// Old-style JPEG: each strip (or the interchange data as a whole) is a JPEG
// stream of its own, led by the interchange format's tables.
void TTIFFReader::ReadOldJpeg() {
  if (v.ImageWidth == 0 || v.ImageLength == 0) throw TStop{"the image has no width or height"};
  // However well the JPEG data compresses, the bytes after the directory bound the picture.
  if (!DataCanFill(int64_t(v.ImageWidth) * v.ImageLength * 3, streamSize - main.Base, kLZWFactor))
    throw TStop{kRefusedUnfilled};
  if (!bitmap->Allocate(v.ImageWidth, v.ImageLength, ie24RGB)) throw TStop{kRefusedNoMemory};
  TIOParamsVals scratch(nullptr);
  TMemoryStream jpeg;
  std::vector<uint8_t> block;
  const auto decodeInto = [&](TIEBitmap& target, int lines, TProgressRecord& pr) {
    jpeg.SetPosition(0);
    TJpegReadOptions options;
    options.LinesToRead = lines;
    options.ReadICC = false;
    options.ReadMetadata = false;
    return ReadJpegStream(jpeg, nullptr, &target, options, pr, scratch);
  };
  if (!v.StripByteCounts.empty() && !v.StripOffsets.empty()) {
    const int strips = int(std::min(v.StripOffsets.size(), v.StripByteCounts.size()));
    TIEBitmap temp;
    int y = 0;
    for (int r = 0; r < strips && y < v.ImageLength && !progress.Aborted(); ++r) {
      // The strip's real rows: the last one holds what is left of the image.
      const int rows = std::min(v.RowsPerStrip, v.ImageLength - y);
      jpeg.Clear();
      if (v.JPEGInterchangeFormat != 0) {
        ReadBlock(uint32_t(v.JPEGInterchangeFormat), v.JPEGInterchangeFormatLength, block);
        if (!block.empty()) jpeg.WriteBuffer(block.data(), int64_t(block.size()));
      }
      ReadBlock(v.StripOffsets[size_t(r)], v.StripByteCounts[size_t(r)], block);
      if (!block.empty()) jpeg.WriteBuffer(block.data(), int64_t(block.size()));
      std::atomic<bool> stripAbort{false};
      TProgressRecord local;
      local.AbortFlag = &stripAbort;
      decodeInto(temp, rows, strips == 1 ? progress : local);
      // A damaged strip keeps what it decoded and stops the read.
      if (stripAbort.load()) progress.Refuse(local.Refusal ? local.Refusal : "the JPEG data is damaged");
      if (!temp.IsEmpty()) {
        if (temp.PixelFormat() != ie24RGB) temp.SetPixelFormat(ie24RGB);
        const int h = std::min(rows, temp.Height()), w = std::min(v.ImageWidth, temp.Width());
        if (h > 0 && w > 0) temp.CopyRectTo(*bitmap, 0, 0, w, h, 0, y);
      }
      y += rows;
      progress.Report(int(double(r + 1) / strips * 100));
    }
    return;
  }
  const uint32_t start = v.JPEGInterchangeFormat != 0 || v.StripOffsets.empty() ? uint32_t(v.JPEGInterchangeFormat)
                                                                                 : v.StripOffsets[0];
  stream.Seek(main.Base + start, soBeginning);
  const int64_t length = GetJpegStreamLength(stream);
  if (length <= 0 || main.Base + start + length > streamSize) throw TStop{"the JPEG data lies outside the file"};
  ReadBlock(start, length, block);
  jpeg.WriteBuffer(block.data(), int64_t(block.size()));
  TIEBitmap temp;
  decodeInto(temp, -1, progress);
  if (!temp.IsEmpty()) {
    if (temp.PixelFormat() != ie24RGB) temp.SetPixelFormat(ie24RGB);
    temp.CopyRectTo(*bitmap, 0, 0, std::min(temp.Width(), v.ImageWidth), std::min(temp.Height(), v.ImageLength), 0, 0);
  }
}

bool ProbeDirectory(TStream& s, bool hdPhoto, const std::vector<int>& tags) {
  const int64_t start = s.Position();
  bool result = false;
  try {
    TIEBufferedReadStream buffered(&s, 1024, true);
    if (buffered.Size() > 8) {
      TIFFHeader h;
      uint8_t b[8];
      if (buffered.Read(b, 8) == 8 && ParseTIFFHeader(b, h) && (!hdPhoto || h.LittleEndian) &&
          int64_t(h.FirstOffset) < buffered.Size()) {
        // Some other formats start "MM" with 0xBA at byte 8.
        uint8_t ninth = 0;
        buffered.Seek(8, soBeginning);
        const bool bad = !h.LittleEndian && buffered.Read(&ninth, 1) == 1 && ninth == 0xBA && !hdPhoto;
        TIFFDirectoryContext c;
        c.LittleEndian = h.LittleEndian;
        c.Stream = &buffered;
        int count = 0;
        if (!bad && LoadTIFFDirectory(0, h.FirstOffset, c, count)) {
          result = true;
          for (int tag : tags) result = result && FindTIFFTag(tag, c) >= 0;
        }
      }
    }
  } catch (const Exception&) {
    result = false;
  }
  s.Seek(start, soBeginning);
  return result;
}

}  // namespace

void ReadTIFFStream(TIEBitmap* bitmap, TStream& stream, int& pageCount, TIOParamsVals& params,
                    TProgressRecord& progress, bool paramsOnly, TIEMaskOut& alphaMask, bool fromPosition,
                    bool noAlpha, bool exifThumbnail, bool exifBlock, const uint8_t* header) {
  pageCount = 0;
  TTIFFReader r{bitmap, stream, pageCount, params, progress, paramsOnly, alphaMask, fromPosition,
                noAlpha, exifThumbnail, exifBlock, header};
  try {
    r.Read();
  } catch (const TStop& stop) {
    progress.Refuse(stop.reason);
  } catch (const std::bad_alloc&) {
    progress.Refuse(kRefusedNoMemory);
  } catch (const Exception&) {
    progress.Refuse(kRefusedStreamFailed);
  }
}

bool IsTIFFStream(TStream& stream) { return ProbeDirectory(stream, false, {256, 257}); }

bool IsHDPhotoStream(TStream& stream) { return ProbeDirectory(stream, true, {48256, 48257, 48129, 48320, 48321}); }

bool IsRawTIFFStream(TStream& stream) {
  const int64_t start = stream.Position();
  bool result = false;
  try {
    TIFFHeader h;
    if (ReadTIFFHeader(stream, h)) {
      TIFFDirectoryContext c;
      c.LittleEndian = h.LittleEndian;
      c.Stream = &stream;
      int count = 0;
      if (LoadTIFFDirectory(0, h.FirstOffset, c, count)) {
        const int dng = FindTIFFTag(50706, c);
        const int photometric = FindTIFFTag(262, c);
        if (dng >= 0 && c.Entries[size_t(dng)].Type == ttBYTE && c.Entries[size_t(dng)].Count == 4) result = true;
        if (photometric >= 0 && c.Entries[size_t(photometric)].Type == ttSHORT &&
            c.Entries[size_t(photometric)].Count == 1) {
          const int64_t p = GetTIFFTagInteger(c, 262, 0);
          result = result || p == 32803 || p == 34892;
        }
        if (FindTIFFTag(330, c) >= 0 && FindTIFFTag(37398, c) >= 0 && uint32_t(GetTIFFTagInteger(c, 256, 0)) <= 199 &&
            uint32_t(GetTIFFTagInteger(c, 257, 0)) <= 199)
          result = true;
      }
    }
  } catch (const Exception&) {
    result = false;
  }
  stream.Seek(start, soBeginning);
  return result;
}

std::string GPSVersionToText(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(bytes[i]);
  }
  return text;
}

void DecodeEXIFUserComment(const TIFFDirectoryContext& context, TIOParamsVals& params) {
  const std::vector<uint8_t> bytes = ReadTIFFTagBlock(context, 37510);
  if (FindTIFFTag(37510, context) < 0) return;
  if (bytes.size() <= 8) {
    params.ExifUserCommentCode = std::string("UNICODE\0", 8);
    params.ExifUserComment.clear();
    return;
  }
  params.ExifUserCommentCode.assign(bytes.begin(), bytes.begin() + 8);
  params.ExifUserComment.clear();
  if (params.ExifUserCommentCode == std::string("UNICODE\0", 8)) {
    for (size_t i = 8; i < bytes.size(); i += 2) {
      const uint8_t pair[2] = {bytes[i], i + 1 < bytes.size() ? bytes[i + 1] : uint8_t(0)};
      const uint16_t ch = TIFFGet16(pair, context.LittleEndian);
      params.ExifUserComment.push_back(wchar_t(ch));
    }
  } else {
    for (size_t i = 8; i < bytes.size(); ++i) params.ExifUserComment.push_back(wchar_t(bytes[i]));
  }
}
