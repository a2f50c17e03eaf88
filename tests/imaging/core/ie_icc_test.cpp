#include "imaging/core/ie_icc.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/ie_colorspace.h"
#include "imaging/core/ie_pixel_convert.h"
#include "platform/rtl/streams.h"
#include "tests/support/test_support.h"

namespace {

// A printer profile (CMYK with a Lab connection space) from Ghostscript's data
// package; the tests that need one skip without it.
const char* const kCMYKProfilePath = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

std::vector<uint8_t> SavedProfile(cmsHPROFILE h) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(h, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(h, bytes.data(), &size);
  cmsCloseProfile(h);
  return bytes;
}

// An sRGB profile written by the engine as version 2, whose "desc" and "cprt"
// tags are plain texts.
std::vector<uint8_t> V2SRGBProfile(const char* description, const char* copyright) {
  cmsHPROFILE h = cmsCreate_sRGBProfile();
  cmsSetProfileVersion(h, 2.1);
  cmsMLU* d = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(d, "en", "US", description);
  cmsWriteTag(h, cmsSigProfileDescriptionTag, d);
  cmsMLU* c = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(c, "en", "US", copyright);
  cmsWriteTag(h, cmsSigCopyrightTag, c);
  cmsMLUfree(d);
  cmsMLUfree(c);
  return SavedProfile(h);
}

// A grey profile of gamma 2.2; the profile keeps a copy of the curve.
std::vector<uint8_t> GreyGamma22Profile() {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
  const std::vector<uint8_t> bytes = SavedProfile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  return bytes;
}

void PutBE32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  b[at] = uint8_t(v >> 24);
  b[at + 1] = uint8_t(v >> 16);
  b[at + 2] = uint8_t(v >> 8);
  b[at + 3] = uint8_t(v);
}

// A hand-made profile header with a tag table of the given entries and the tag
// data appended after the table.
struct Tag {
  const char* signature;
  std::string data;
};
// Padding bytes (0xFF: an impossible tag entry) may stand between table and data.
std::vector<uint8_t> HandProfile(const std::vector<Tag>& tags, uint32_t countOverride = 0, size_t padding = 0) {
  std::vector<uint8_t> b(128, 0);
  std::memcpy(&b[36], "acsp", 4);
  PutBE32(b, 128, countOverride ? countOverride : uint32_t(tags.size()));
  b.resize(132 + tags.size() * 12, 0);
  b.resize(b.size() + padding, 0xFF);
  for (size_t i = 0; i < tags.size(); ++i) {
    std::memcpy(&b[132 + i * 12], tags[i].signature, 4);
    PutBE32(b, 132 + i * 12 + 4, uint32_t(b.size()));
    PutBE32(b, 132 + i * 12 + 8, uint32_t(tags[i].data.size()));
    b.insert(b.end(), tags[i].data.begin(), tags[i].data.end());
  }
  PutBE32(b, 0, uint32_t(b.size()));
  return b;
}
std::string DescTag(const std::string& text) { return std::string("desc\0\0\0\0\0\0\0\x10", 12) + text + '\0'; }
std::string TextTag(const std::string& text) { return std::string("text\0\0\0\0", 8) + text + '\0'; }

// The library's CMYK profile for one test, taken away again afterwards.
class CMYKProfileScope {
public:
  explicit CMYKProfileScope(const std::vector<uint8_t>& bytes) { FOk = SetCMYKProfile(bytes.data(), int64_t(bytes.size())); }
  ~CMYKProfileScope() { SetCMYKProfile(nullptr, 0); }
  bool Ok() const { return FOk; }

private:
  bool FOk = false;
};

TEST(IEICC, ReadsTextsOfAVersion2Profile) {
  const std::vector<uint8_t> bytes = V2SRGBProfile("Quorvane test sRGB", "No rights reserved");
  TIEICC icc;
  ASSERT_TRUE(icc.LoadFromBuffer(bytes.data(), int64_t(bytes.size())));
  EXPECT_TRUE(icc.IsValid());
  EXPECT_EQ(icc.Description(), "Quorvane test sRGB");
  EXPECT_EQ(icc.Copyright(), "No rights reserved");
  EXPECT_EQ(icc.Raw(), bytes);

  // Saved with and without the length, and copied by Assign.
  TMemoryStream with, without;
  icc.SaveToStream(with);
  icc.SaveToStream(without, true);
  ASSERT_EQ(with.Size(), int64_t(bytes.size()) + 4);
  int32_t length = 0;
  std::memcpy(&length, with.Memory(), 4);
  EXPECT_EQ(length, int32_t(bytes.size()));
  ASSERT_EQ(without.Size(), int64_t(bytes.size()));
  EXPECT_EQ(std::memcmp(without.Memory(), bytes.data(), bytes.size()), 0);
  TIEICC copy;
  copy.Assign(&icc);
  EXPECT_TRUE(copy.IsValid());
  EXPECT_EQ(copy.Description(), "Quorvane test sRGB");

  icc.Clear();
  EXPECT_FALSE(icc.IsValid());
  EXPECT_EQ(icc.RawLength(), 0);
  EXPECT_EQ(icc.Description(), "");
}

// Tag tables and texts that do not fit their profile give no text, never a
// read outside the bytes.
TEST(IEICC, HostileProfilesFailCleanly) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string description;
  };
  std::vector<Case> cases;
  const std::vector<uint8_t> good = HandProfile({{"desc", DescTag("Fine")}, {"cprt", TextTag("Mine")}});
  cases.push_back({"hand-made and sound", good, "Fine"});
  cases.push_back({"truncated inside the header", std::vector<uint8_t>(good.begin(), good.begin() + 100), ""});
  cases.push_back({"truncated inside the tag table", std::vector<uint8_t>(good.begin(), good.begin() + 140), ""});
  cases.push_back({"tag table past the end", HandProfile({{"desc", DescTag("First")}}, 900, 12), "First"});
  cases.push_back({"tag table running into the end of the bytes", HandProfile({{"desc", DescTag("")}}, 900), ""});
  cases.push_back({"count of 1001", HandProfile({{"desc", DescTag("Many")}}, 1001), ""});
  cases.push_back({"count of 2^32 - 1", HandProfile({{"desc", DescTag("Many")}}, 0xFFFFFFFF), ""});
  std::vector<uint8_t> unterminated = HandProfile({{"desc", DescTag("Open")}});
  unterminated.back() = 'x';
  cases.push_back({"unterminated text", unterminated, ""});
  std::vector<uint8_t> pastEnd = HandProfile({{"desc", DescTag("Far")}});
  PutBE32(pastEnd, 132 + 4, 0x7FFFFFF0);
  cases.push_back({"offset past the end", pastEnd, ""});
  std::vector<uint8_t> hugeSize = HandProfile({{"desc", DescTag("Big")}});
  PutBE32(hugeSize, 132 + 8, 0xFFFFFFF0);
  cases.push_back({"size past the end", hugeSize, ""});
  cases.push_back({"text tag of 1000 bytes", HandProfile({{"desc", DescTag(std::string(990, 'a'))}}), ""});
  cases.push_back({"tag shorter than its text offset", HandProfile({{"desc", std::string("desc")}}), ""});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIEICC icc;
    icc.LoadFromBuffer(c.bytes.data(), int64_t(c.bytes.size()));
    EXPECT_EQ(icc.Description(), c.description);
    EXPECT_EQ(icc.RawLength(), int64_t(c.bytes.size()));
    TIEICC srgb;
    srgb.LoadSRGB();
    uint8_t out[3] = {1, 2, 3};
    const uint8_t in[3] = {10, 20, 30};
    EXPECT_FALSE(icc.Transform(srgb, kIccBGR, 1, out, in, 0, 0, kIccBGR));
    EXPECT_EQ(out[0], 1);
  }
  EXPECT_EQ(TIEICC().Description(), "");
  TIEICC empty;
  EXPECT_FALSE(empty.LoadFromBuffer(nullptr, 0));
}

TEST(IEICC, TransformCachesPerKeyAndMarksTheProfileApplied) {
  TIEICC a, b;
  a.LoadSRGB();
  b.LoadSRGB();
  ASSERT_TRUE(a.IsValid());
  std::vector<uint8_t> rgb = {0, 0, 0, 255, 255, 255, 10, 128, 240};
  std::vector<uint8_t> out(9, 0);
  ASSERT_TRUE(a.Transform(b, kIccBGR, 3, out.data(), rgb.data(), 0, 0, kIccBGR));
  for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], rgb[i], 1) << i;
  EXPECT_TRUE(a.HasTransform());
  EXPECT_FALSE(a.Applied());
  // Red, green, blue order in, the library's order out.
  const uint8_t red[3] = {255, 0, 0};
  ASSERT_TRUE(a.Transform(b, kIccRGB, 1, out.data(), red, 0, 0, kIccBGR));
  EXPECT_LE(out[0], 1);
  EXPECT_GE(out[2], 254);
  // Big-endian 48-bit words.
  const uint8_t words[6] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  ASSERT_TRUE(a.Transform(b, kIccRGB48BE, 1, out.data(), words, 0, 0, kIccBGR));
  EXPECT_GE(out[1], 254);
  EXPECT_LE(out[0] + out[2], 2);
  // No output but colour and CMYK; a grey record into an RGB profile has no transform.
  EXPECT_FALSE(a.Transform(b, kIccBGR, 1, out.data(), red, 0, 0, kIccLab));
  EXPECT_FALSE(a.Transform(b, kIccGray, 1, out.data(), red, 0, 0, kIccBGR));
  a.FreeTransform();
  EXPECT_FALSE(a.HasTransform());
  EXPECT_TRUE(a.Applied());
  a.Clear();
  EXPECT_FALSE(a.Applied());
}

TEST(IEICC, LabRecordsKeepTheSignOfAAndB) {
  TIEICC lab, srgb;
  const std::vector<uint8_t> bytes = SavedProfile(cmsCreateLab4Profile(nullptr));
  ASSERT_TRUE(lab.LoadFromBuffer(bytes.data(), int64_t(bytes.size())));
  srgb.LoadSRGB();
  // L 50, a +60 (red side) and a -60 (green side).
  const uint8_t pixels[6] = {128, 60, 0, 128, uint8_t(int8_t(-60)), 0};
  TRGB out[2];
  ASSERT_TRUE(lab.Transform(srgb, kIccLab, 2, out, pixels, 0, 0, kIccBGR));
  EXPECT_GT(out[0].r, out[0].g + 60);
  EXPECT_GT(out[1].g, out[1].r + 60);
}

TEST(IEICC, ConvertBitmapKeepsAlphaAndRefusesOtherFormats) {
  TIEICC a, b;
  a.LoadSRGB();
  b.LoadSRGB();
  TIEBitmap bmp(4, 2, ie24RGB);
  bmp.Fill(0x204060);
  bmp.AlphaChannel()->SetPixel8(1, 1, 9);
  EXPECT_FALSE(a.ConvertBitmap(bmp, ie1g, b));
  EXPECT_FALSE(a.ConvertBitmap(bmp, ie8g, b));
  EXPECT_EQ(bmp.PixelFormat(), ie24RGB);
  ASSERT_TRUE(a.ConvertBitmap(bmp, ie24RGB, b));
  EXPECT_FALSE(a.HasTransform());
  EXPECT_TRUE(a.Applied());
  EXPECT_NEAR(bmp.GetPixelRGB(3, 1).r, 0x60, 1);
  EXPECT_NEAR(bmp.GetPixelRGB(3, 1).b, 0x20, 1);
  EXPECT_EQ(bmp.AlphaChannel()->GetPixel8(1, 1), 9);
  TIEBitmap grey(2, 1, ie8g);
  grey.Fill(128);
  TIEICC g;
  const std::vector<uint8_t> gbytes = GreyGamma22Profile();
  ASSERT_TRUE(g.LoadFromBuffer(gbytes.data(), int64_t(gbytes.size())));
  ASSERT_TRUE(g.ConvertBitmap(grey, ie24RGB, b));
  const TRGB p = grey.GetPixelRGB(1, 0);
  EXPECT_NEAR(p.r, p.g, 1);
  EXPECT_NEAR(p.r, p.b, 1);
}

// Without a CMYK profile the formulas hold, as worked out by hand.
TEST(IEICC, CMYKFormulasWithoutAProfile) {
  ASSERT_FALSE(EnsureCMYKProfiles());
  TRGB p;
  CMYKToRGBPixel(TCMYK{255, 255, 255, 255}, p);
  EXPECT_EQ(p, MakeRGB(255, 255, 255));
  CMYKToRGBPixel(TCMYK{255, 255, 255, 0}, p);
  EXPECT_EQ(p, MakeRGB(0, 0, 0));
  CMYKToRGBPixel(TCMYK{200, 100, 50, 128}, p);
  EXPECT_EQ(p, MakeRGB(100, 50, 25));
  EXPECT_EQ(RGBToCMYKColor(0xFF0000), (TCMYK{255, 0, 0, 255}));  // pure red
  EXPECT_EQ(RGBToCMYKColor(0), (TCMYK{255, 255, 255, 0}));       // full black ink
  CMYKToRGBPixel(RGBToCMYKColor(0), p);
  EXPECT_EQ(p, MakeRGB(0, 0, 0));
  // Weights of 18 fraction bits move the destination part of the way.
  const TCMYK white{255, 255, 255, 255};
  TRGB dest[2] = {MakeRGB(0, 100, 200), MakeRGB(0, 100, 200)};
  const TCMYK row[2] = {white, white};
  const int32_t weights[2] = {1 << 17, 1 << 18};
  CMYKRowToRGB(row, dest, 2, weights);
  EXPECT_EQ(dest[0], MakeRGB(127, 177, 227));
  EXPECT_EQ(dest[1], MakeRGB(255, 255, 255));
}

TEST(IEICC, CMYKThroughAProfileReplacesTheFormula) {
  if (!std::filesystem::exists(kCMYKProfilePath)) GTEST_SKIP() << "no CMYK profile installed";
  const CMYKProfileScope scope(qvtest::ReadFileBytes(kCMYKProfilePath));
  ASSERT_TRUE(scope.Ok());
  ASSERT_TRUE(EnsureCMYKProfiles());
  // Black ink alone: the formula gives pure black, a press a dark grey.
  TRGB p;
  CMYKToRGBPixel(TCMYK{255, 255, 255, 0}, p);
  EXPECT_GT(p.r, 10);
  EXPECT_NEAR(p.r, p.g, 8);
  // The pixel converter's hooks use it too, and turning it off restores the formula.
  TIEBitmap b(1, 1, ieCMYK);
  b.SetPixelCMYK(0, 0, TCMYK{255, 255, 255, 0});
  EXPECT_EQ(b.GetPixelAsRGB(0, 0), p);
  // Filling with a colour takes the profile's inks as well.
  TIEBitmap filled(3, 2, ieCMYK);
  filled.Fill(0x00336699);  // red 0x99, green 0x66, blue 0x33
  const TCMYK inks = RGBToCMYKColor(0x996633);
  EXPECT_NE(inks, RGBToCMYKPlain(MakeRGB(0x99, 0x66, 0x33)));
  EXPECT_EQ(filled.GetPixelCMYK(0, 0), inks);
  EXPECT_EQ(filled.GetPixelCMYK(2, 1), inks);
  filled.FillRect(1, 0, 1, 0, 0x00FFFFFF);
  EXPECT_EQ(filled.GetPixelCMYK(1, 0), RGBToCMYKColor(0xFFFFFF));
  CMYKProfileConversion = false;
  EXPECT_EQ(b.GetPixelAsRGB(0, 0), MakeRGB(0, 0, 0));
  filled.Fill(0x00336699);
  EXPECT_EQ(filled.GetPixelCMYK(0, 0), RGBToCMYKPlain(MakeRGB(0x99, 0x66, 0x33)));
  CMYKProfileConversion = true;
  // A profile that does not open leaves the formulas in place.
  const std::vector<uint8_t> junk(300, 7);
  EXPECT_FALSE(SetCMYKProfile(junk.data(), int64_t(junk.size())));
  EXPECT_FALSE(EnsureCMYKProfiles());
}

TEST(IEICC, RowConversionsByFormula) {
  // Every row conversion from one colour, without profiles.
  const uint8_t rgb[3] = {200, 150, 100};  // red, green, blue
  const uint8_t bgr[3] = {100, 150, 200};
  TRGB out[1];
  ConvertRowColorSpace(rgb, kIccRGB, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(200, 150, 100));
  ConvertRowColorSpace(bgr, kIccBGR, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(200, 150, 100));
  uint8_t grey = 0;
  ConvertRowColorSpace(bgr, kIccBGR, &grey, nullptr, 1, kIccGray);
  EXPECT_EQ(grey, (200 * 21 + 150 * 71 + 100 * 8) / 100);
  TCMYK inks;
  ConvertRowColorSpace(bgr, kIccBGR, &inks, nullptr, 1, kIccInvCMYK);
  EXPECT_EQ(inks, (TCMYK{255, 191, 127, 200}));
  TCIELab lab;
  ConvertRowColorSpace(bgr, kIccBGR, &lab, nullptr, 1, kIccLab);
  EXPECT_EQ(lab, CIELabOf(MakeRGB(200, 150, 100)));
  ConvertRowColorSpace(&lab, kIccLab, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], ConvertCIELabToRGB(lab.l, lab.a, lab.b));
  const uint8_t le48[6] = {0x11, 200, 0x22, 150, 0x33, 100};
  ConvertRowColorSpace(le48, kIccRGB48, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(200, 150, 100));
  const uint8_t be48[6] = {200, 0x11, 150, 0x22, 100, 0x33};
  ConvertRowColorSpace(be48, kIccRGB48BE, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(200, 150, 100));
  const uint8_t ycc[3] = {128, 128, 128};
  ConvertRowColorSpace(ycc, kIccYCbCr, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(128, 128, 128));
  const TCMYK inverted{200, 100, 50, 128};
  ConvertRowColorSpace(&inverted, kIccInvCMYK, out, nullptr, 1, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(100, 50, 25));
  // Ink amounts in 6-byte pixels: the caller's row is left as it was.
  uint8_t amounts[12] = {55, 155, 205, 127, 9, 9, 0, 0, 0, 0, 9, 9};
  const std::vector<uint8_t> before(amounts, amounts + 12);
  TRGB two[2];
  ConvertRowColorSpace(amounts, kIccCMYK6, two, nullptr, 2, kIccBGR);
  EXPECT_EQ(two[0], MakeRGB(100, 50, 25));
  EXPECT_EQ(two[1], MakeRGB(255, 255, 255));
  EXPECT_EQ(std::vector<uint8_t>(amounts, amounts + 12), before);
  // Pairs without a rule write nothing.
  out[0] = MakeRGB(1, 2, 3);
  ConvertRowColorSpace(ycc, kIccYCbCr, out, nullptr, 1, kIccLab);
  EXPECT_EQ(out[0], MakeRGB(1, 2, 3));
}

TEST(IEICC, RowConversionThroughThePictureProfile) {
  // A grey picture profile turns the grey row into neutral colour; with profile
  // management off the formula (none for grey to colour) writes nothing.
  TIEICC input, defaultInput, output;
  const std::vector<uint8_t> gbytes = GreyGamma22Profile();
  ASSERT_TRUE(defaultInput.LoadFromBuffer(gbytes.data(), int64_t(gbytes.size())));
  output.LoadSRGB();
  TIERowProfiles profiles;
  profiles.InputICC = &input;  // not valid: the default one is used
  profiles.DefaultInputICC = &defaultInput;
  profiles.OutputICC = &output;
  const uint8_t greys[2] = {0, 255};
  TRGB out[2] = {MakeRGB(1, 2, 3), MakeRGB(1, 2, 3)};
  ConvertRowColorSpace(greys, kIccGray, out, &profiles, 2, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(1, 2, 3));
  ReaderProfileManagement = true;
  ConvertRowColorSpace(greys, kIccGray, out, &profiles, 2, kIccBGR);
  EXPECT_LE(out[0].g, 1);
  EXPECT_GE(out[1].g, 254);
  // Once the profile has been applied to the picture it is not applied again.
  defaultInput.FreeTransform();
  out[0] = MakeRGB(1, 2, 3);
  ConvertRowColorSpace(greys, kIccGray, out, &profiles, 2, kIccBGR);
  EXPECT_EQ(out[0], MakeRGB(1, 2, 3));
  ReaderProfileManagement = false;
}

// Little CMS's own command-line tool converts the same colours through the same
// profiles in floating point; the library's 16-bit records agree within one step.
// (Its bounded mode -s clips colour output to 0..255 but CMYK output to 0..1, so
// only the way to colour uses it.)
TEST(IEICCOracle, CMYKMatchesTransicc) {
  if (!qvtest::HaveProgram("transicc")) GTEST_SKIP() << "transicc missing";
  if (!std::filesystem::exists(kCMYKProfilePath)) GTEST_SKIP() << "no CMYK profile installed";
  const CMYKProfileScope scope(qvtest::ReadFileBytes(kCMYKProfilePath));
  ASSERT_TRUE(scope.Ok());
  std::vector<TCMYK> inks;
  for (int c = 0; c < 256; c += 85)
    for (int m = 0; m < 256; m += 85)
      for (int y = 0; y < 256; y += 127)
        for (int k = 0; k < 256; k += 127) inks.push_back(TCMYK{uint8_t(c), uint8_t(m), uint8_t(y), uint8_t(k)});
  std::vector<TRGB> colours;
  for (int r = 0; r < 256; r += 85)
    for (int g = 0; g < 256; g += 85)
      for (int b = 0; b < 256; b += 85) colours.push_back(MakeRGB(uint8_t(r), uint8_t(g), uint8_t(b)));
  qvtest::TempDir dir;
  const auto run = [&](const std::string& args, const std::string& input) {
    const std::string in = dir.File("in.txt");
    qvtest::WriteFileBytes(in, std::vector<uint8_t>(input.begin(), input.end()));
    std::string out;
    EXPECT_EQ(qvtest::RunCommand("transicc -n " + args + " < " + in + " 2>/dev/null", &out), 0);
    return out;
  };
  // CMYK to colour: the tool takes ink amounts, the library stores them inverted.
  std::ostringstream cmykIn;
  for (const TCMYK& i : inks)
    cmykIn << (255 - i.c) / 2.55 << " " << (255 - i.m) / 2.55 << " " << (255 - i.y) / 2.55 << " "
           << (255 - i.k) / 2.55 << "\n";
  std::istringstream rgbOut(run(std::string("-s -i") + kCMYKProfilePath + " -o*sRGB", cmykIn.str()));
  TIEBitmap cmyk(int(inks.size()), 1, ieCMYK);
  for (size_t i = 0; i < inks.size(); ++i) cmyk.SetPixelCMYK(int(i), 0, inks[i]);
  ASSERT_TRUE(cmyk.ConvertToPixelFormat(ie24RGB));
  for (size_t i = 0; i < inks.size(); ++i) {
    double r, g, b;
    ASSERT_TRUE(rgbOut >> r >> g >> b);
    const TRGB p = cmyk.GetPixelRGB(int(i), 0);
    EXPECT_NEAR(p.r, r, 1) << i;
    EXPECT_NEAR(p.g, g, 1) << i;
    EXPECT_NEAR(p.b, b, 1) << i;
  }
  // Colour to CMYK.
  std::ostringstream rgbIn;
  for (const TRGB& p : colours) rgbIn << int(p.r) << " " << int(p.g) << " " << int(p.b) << "\n";
  std::istringstream cmykOut(run(std::string("-i*sRGB -o") + kCMYKProfilePath, rgbIn.str()));
  TIEBitmap rgb(int(colours.size()), 1, ie24RGB);
  for (size_t i = 0; i < colours.size(); ++i) rgb.SetPixelRGB(int(i), 0, colours[i]);
  ASSERT_TRUE(rgb.ConvertToPixelFormat(ieCMYK));
  for (size_t i = 0; i < colours.size(); ++i) {
    double c, m, y, k;
    ASSERT_TRUE(cmykOut >> c >> m >> y >> k);
    const TCMYK p = rgb.GetPixelCMYK(int(i), 0);
    EXPECT_NEAR(255 - p.c, c * 2.55, 1) << i;
    EXPECT_NEAR(255 - p.m, m * 2.55, 1) << i;
    EXPECT_NEAR(255 - p.y, y * 2.55, 1) << i;
    EXPECT_NEAR(255 - p.k, k * 2.55, 1) << i;
  }
}

}  // namespace
