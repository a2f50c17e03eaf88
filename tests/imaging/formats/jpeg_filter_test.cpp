// The JPEG reader's EXIF paths over the framework's EXIF slot (filled here by
// a stand-in parser): the thumbnail read in place of the picture, the DPI taken
// from EXIF when the JFIF density says nothing, and the upright turn.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/formats/jpeg_filter.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/jpeg_markers.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

// What the stand-in parser reports for an "Exif" APP1 marker.
struct TExifStandIn {
  double x = 0, y = 0;
  int unit = 2;
  int orientation = 1;
  int thumbWidth = 0;  // 0: no thumbnail
};

void InstallExifStandIn(const TExifStandIn& e) {
  IEFilters().ParseEXIFMarker = [e](const uint8_t* data, int64_t length, TIOParamsVals& params) {
    if (length < 6 || std::memcmp(data, "Exif\0\0", 6) != 0) return false;
    params.ExifXResolution = e.x;
    params.ExifYResolution = e.y;
    params.ExifResolutionUnit = e.unit;
    params.ExifOrientation = e.orientation;
    if (e.thumbWidth > 0) {
      params.ExifThumbnail = std::make_unique<TIEBitmap>(e.thumbWidth, 4, ie24RGB);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < e.thumbWidth; ++x) params.ExifThumbnail->SetPixelRGB(x, y, MakeRGB(10, 200, 30));
    }
    return true;
  };
}

// A 32 x 16 JPEG whose JFIF header has the given density, with an "Exif" APP1
// marker when exif is set.
std::vector<uint8_t> MakeJpeg(int unit, int xDensity, int yDensity, bool exif) {
  auto src = qvtest::Gradient(32, 16);
  TIOParamsVals params(nullptr);
  params.JpegMarkers = std::make_unique<TIEMarkerList>();
  if (exif) params.JpegMarkers->AddMarker(0xE1, "Exif\0\0MM\0*", 10);
  TMemoryStream out;
  qvtest::Progress p;
  WriteJpegStream(out, *src, params, p.rec);
  EXPECT_FALSE(p.Aborted());
  std::vector<uint8_t> bytes = qvtest::StreamBytes(out);
  // SOI, then APP0: FF E0, length, "JFIF\0", version, unit, X and Y density.
  EXPECT_EQ(std::memcmp(bytes.data() + 6, "JFIF", 4), 0);
  bytes[13] = uint8_t(unit);
  bytes[14] = uint8_t(xDensity >> 8), bytes[15] = uint8_t(xDensity);
  bytes[16] = uint8_t(yDensity >> 8), bytes[17] = uint8_t(yDensity);
  return bytes;
}

struct TRead {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  qvtest::Progress progress;
  int rows = 0;
};

void Read(TRead& r, TStream& s) {
  r.rows = ReadJpegStream(s, nullptr, &r.bitmap, TJpegReadOptions{}, r.progress.rec, r.params);
}

TEST(JpegExif, ResolutionFromExifWhenTheDensitySaysNothing) {
  qvtest::FilterSlotsScope slots;
  struct Case {
    const char* name;
    int unit, xd, yd;
    bool exif;
    TExifStandIn e;
    int dpiX, dpiY;
  };
  const Case cases[] = {
      {"aspect 1:1, EXIF 72 per inch", 0, 1, 1, true, {72, 72, 2}, 72, 72},
      {"aspect 1:1, EXIF 118.11 per cm", 0, 1, 1, true, {118.11, 118.11, 3}, 299, 299},
      {"1 dpi by 1, EXIF 300 by 150", 1, 1, 1, true, {300, 150, 2}, 300, 150},
      {"JFIF 150 dpi wins over EXIF", 1, 150, 150, true, {72, 72, 2}, 150, 150},
      {"JFIF 100 per cm", 2, 100, 100, true, {72, 72, 2}, 254, 254},
      {"no EXIF marker", 0, 1, 1, false, {72, 72, 2}, 1, 1},
      {"EXIF without a resolution", 0, 1, 1, true, {0, 0, 2}, 1, 1},
  };
  for (const Case& c : cases) {
    InstallExifStandIn(c.e);
    const auto bytes = MakeJpeg(c.unit, c.xd, c.yd, c.exif);
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    TRead r;
    Read(r, s);
    ASSERT_FALSE(r.progress.Aborted()) << c.name;
    EXPECT_EQ(r.params.DpiX, c.dpiX) << c.name;
    EXPECT_EQ(r.params.DpiY, c.dpiY) << c.name;
  }
}

TEST(JpegExif, OrientationTurnsTheDecodedPictureUpright) {
  qvtest::FilterSlotsScope slots;
  TExifStandIn e{72, 72, 2, 6};
  InstallExifStandIn(e);
  const auto bytes = MakeJpeg(1, 96, 96, true);
  for (bool apply : {false, true}) {
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    TRead r;
    r.params.JpegApplyOrientation = apply;
    Read(r, s);
    ASSERT_FALSE(r.progress.Aborted());
    EXPECT_EQ(r.bitmap.Width(), apply ? 16 : 32);
    EXPECT_EQ(r.bitmap.Height(), apply ? 32 : 16);
    EXPECT_EQ(r.params.ExifOrientation, apply ? 1 : 6);
    EXPECT_EQ(r.params.Width, r.bitmap.Width());
  }
}

TEST(JpegExif, ThumbnailReadInPlaceAndTheStreamGoesBackToWhereTheReadBegan) {
  qvtest::FilterSlotsScope slots;
  // The JPEG stands 200 bytes into the stream, past the start search's reach
  // from the stream's beginning.
  const auto jpeg = MakeJpeg(1, 96, 96, true);
  std::vector<uint8_t> bytes(200 + jpeg.size(), 0x55);
  std::copy(jpeg.begin(), jpeg.end(), bytes.begin() + 200);
  for (int thumbWidth : {6, 0}) {
    TExifStandIn e{72, 72, 2, 1, thumbWidth};
    InstallExifStandIn(e);
    TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
    s.SetPosition(200);
    TRead r;
    r.params.SetUseEXIFThumbnail(true);
    r.params.Width = 8;  // the asked size goes back when there is no thumbnail
    r.params.Height = 8;
    r.params.JpegScale = jscAuto;
    Read(r, s);
    ASSERT_FALSE(r.progress.Aborted()) << thumbWidth;
    EXPECT_TRUE(r.params.JpegUseExifThumbnail);
    if (thumbWidth > 0) {
      EXPECT_EQ(r.rows, 0);
      EXPECT_EQ(r.bitmap.Width(), 6);
      EXPECT_EQ(r.bitmap.Height(), 4);
      EXPECT_EQ(r.bitmap.GetPixelRGB(5, 3).g, 200);
      EXPECT_EQ(s.Position(), 200);
    } else {
      // The whole picture, scaled from the asked 8 x 8: 32 x 16 at 1/2.
      EXPECT_EQ(r.params.JpegScaleUsed, 2);
      EXPECT_EQ(r.bitmap.Width(), 16);
      EXPECT_EQ(r.bitmap.Height(), 8);
      EXPECT_EQ(r.rows, 8);
      EXPECT_EQ(s.Position(), int64_t(bytes.size()));
    }
  }
}

TEST(JpegWrite, CodecRefusalsRaiseTheCodecsTextAfterFreeing) {
  struct Case {
    const char* name;
    int width;
    int64_t markerBytes;
    const char* text;
  };
  // libjpeg-turbo's own messages, their placeholders as "?".
  const Case cases[] = {
      {"a marker longer than a segment", 8, 70000, "Bogus marker length"},
      {"wider than the codec takes", 70000, 0, "Maximum supported image dimension is ? pixels"},
  };
  for (const Case& c : cases) {
    TIEBitmap bitmap(c.width, 2, ie24RGB);
    TIOParamsVals params(nullptr);
    params.JpegMarkers = std::make_unique<TIEMarkerList>();
    if (c.markerBytes > 0) {
      const std::vector<uint8_t> big(size_t(c.markerBytes), 'x');
      params.JpegMarkers->AddMarker(0xFE, big.data(), c.markerBytes);
    }
    TMemoryStream out;
    qvtest::Progress p;
    std::string message = "(nothing raised)";
    try {
      WriteJpegStream(out, bitmap, params, p.rec);
    } catch (const EIEJpegException& e) {
      message = e.Message();
    }
    EXPECT_EQ(message, c.text) << c.name;
    EXPECT_TRUE(p.Aborted()) << c.name;
  }
}

TEST(JpegRead, HostileStreamsSayWhyAndAllocateNothingHuge) {
  const std::vector<uint8_t> good = MakeJpeg(1, 72, 72, false);
  auto sofAt = [](const std::vector<uint8_t>& b) {
    for (size_t i = 2; i + 9 < b.size(); ++i)
      if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) return i;
    return size_t(0);
  };
  // 1,400 bytes claiming 64,250 x 64,250 pixels (gdk-pixbuf's issue205.jpg):
  // a JPEG codes at least a bit per 8 x 8 block, so at most 512 pixels a byte.
  std::vector<uint8_t> bomb = good;
  const size_t sof = sofAt(bomb);
  ASSERT_GT(sof, 0u);
  bomb[sof + 5] = 0xFA, bomb[sof + 6] = 0xFA, bomb[sof + 7] = 0xFA, bomb[sof + 8] = 0xFA;
  // Cut inside the scan: the rows after the cut are not made up.
  std::vector<uint8_t> cut(good.begin(), good.end() - 12);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
  } cases[] = {
      {"claim beyond the data", bomb, "the data cannot fill the rows"},
      {"cut inside the scan", cut, "the rows are cut short"},
      {"no start of image", {1, 2, 3, 4}, "no start of image"},
      {"garbage after the start", {0xFF, 0xD8, 0xFF, 0x01, 0x02, 0x03}, "the codec found the data corrupt"},
  };
  for (const Case& c : cases) {
    TCustomMemoryStream s(c.bytes.data(), int64_t(c.bytes.size()));
    TIEBitmap bitmap;
    TIOParamsVals params(nullptr);
    qvtest::Progress p;
    TJpegReadOptions options;
    options.ReadICC = options.ApplyICC = options.ReadMetadata = false;
    options.InvertCMYK = true;
    ReadJpegStream(s, nullptr, &bitmap, options, p.rec, params);
    EXPECT_TRUE(p.Aborted()) << c.name;
    EXPECT_STREQ(p.rec.Refusal, c.reason) << c.name;
    EXPECT_LE(int64_t(bitmap.Width()) * bitmap.Height(), 32 * 16) << c.name;
  }
  TCustomMemoryStream s(good.data(), int64_t(good.size()));
  TIEBitmap bitmap;
  TIOParamsVals params(nullptr);
  qvtest::Progress p;
  TJpegReadOptions options;
  options.ReadICC = options.ApplyICC = options.ReadMetadata = false;
  options.InvertCMYK = true;
  ReadJpegStream(s, nullptr, &bitmap, options, p.rec, params);
  EXPECT_FALSE(p.Aborted());
}

}  // namespace
