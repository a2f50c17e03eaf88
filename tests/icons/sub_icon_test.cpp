#include "icons/sub_icon.h"

#include <gtest/gtest.h>

#include "icon_test_util.h"

using namespace icontest;

namespace {

std::unique_ptr<TSubIcon> FromBits(const std::vector<uint8_t>& bits) {
  TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
  return TSubIcon::CreateFromBitsStream<TFileIconImage>(s);
}

std::string ErrorOf(const std::vector<uint8_t>& bits) {
  try {
    FromBits(bits);
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// The rule that refused the bits, as the refusal names it.
std::string ReasonOf(const std::vector<uint8_t>& bits) {
  try {
    FromBits(bits);
  } catch (const EIconImageRefused& e) {
    return e.Reason();
  }
  return "";
}

struct ParseCase {
  const char* name;
  int w, h, bpp;
  int64_t headerWidth, headerHeight;
  int wantWidthByte, wantHeightByte, wantColours;
  bool valid;
};
// How the case reads in the test list and in a failure.
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ParseBitsTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseBitsTest, HeadFollowsTheHeaderAndSizesAreLimited) {
  const ParseCase& c = GetParam();
  const auto bits = DibImage(c.w, c.h, c.bpp, 0x11, c.headerWidth, c.headerHeight);
  if (!c.valid) {
    EXPECT_EQ(ErrorOf(bits), "Invalid image");
    return;
  }
  auto im = FromBits(bits);
  EXPECT_EQ(im->Head().bWidth, c.wantWidthByte);
  EXPECT_EQ(im->Head().bHeight, c.wantHeightByte);
  EXPECT_EQ(im->Head().bColorCount, c.wantColours);
  EXPECT_EQ(im->Head().wPlanes, 1);
  EXPECT_EQ(im->Head().wBitCount, c.bpp);
  EXPECT_EQ(im->Head().dwBytesInRes, bits.size());
  EXPECT_EQ(im->GetBitsPerPixel(), c.bpp);
  EXPECT_FALSE(im->StoreAsPNG());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseBitsTest,
    ::testing::Values(ParseCase{"w16_4bit", 16, 16, 4, kKeep, kKeep, 16, 16, 16, true},
                      ParseCase{"w32_8bit", 32, 32, 8, kKeep, kKeep, 32, 32, 0, true},
                      ParseCase{"w32_1bit", 32, 32, 1, kKeep, kKeep, 32, 32, 2, true},
                      ParseCase{"w256", 256, 256, 1, kKeep, kKeep, 0, 0, 2, true},
                      ParseCase{"w5999", 5999, 5999, 1, kKeep, kKeep, 0, 0, 2, true},
                      ParseCase{"w6000", 6000, 6000, 1, kKeep, kKeep, 0, 0, 0, false},
                      // width 0 takes the halved height; height 0 or 1 takes the width
                      ParseCase{"width0", 24, 24, 8, 0, 48, 24, 24, 0, true},
                      ParseCase{"height0", 24, 24, 8, 24, 0, 24, 24, 0, true},
                      ParseCase{"height1", 24, 24, 8, 24, 1, 24, 24, 0, true},
                      // a negative height reads as a huge one
                      ParseCase{"negative_height", 4, 4, 8, 4, -8, 0, 0, 0, false}),
    [](const ::testing::TestParamInfo<ParseCase>& p) { return std::string(p.param.name); });

TEST(SubIconParse, RefusesBitsThatDoNotHoldWhatTheHeaderSays) {
  auto deep = DibImage(8, 8, 32);
  Put16(deep, 14, 64);  // 64 bits per pixel
  auto shortHeader = DibImage(8, 8, 32);
  shortHeader.resize(30);
  auto truncatedRows = DibImage(16, 16, 24);
  truncatedRows.resize(40 + 100);
  auto hugeHeaderSize = DibImage(8, 8, 32);
  Put32(hugeHeaderSize, 0, 0x7FFFFFFF);
  auto pngTooWide = PngHeaderOnly(100000, 16);
  auto pngCut = PngHeaderOnly(16, 16);
  pngCut.resize(20);
  auto pngJustTooTall = PngHeaderOnly(16, 6000);
  const struct {
    const std::vector<uint8_t>* bits;
    const char* reason;
  } cases[] = {{&deep, "depth without pixels"},
               {&shortHeader, "header cut short"},
               {&truncatedRows, "colour rows missing"},
               {&hugeHeaderSize, "header size outside the data"},
               {&pngTooWide, "side above the limit"},
               {&pngCut, "PNG header unreadable"},
               {&pngJustTooTall, "side above the limit"}};
  for (const auto& [bits, reason] : cases) {
    EXPECT_EQ(ErrorOf(*bits), "Invalid image") << reason;
    EXPECT_EQ(ReasonOf(*bits), reason);
  }
  // PNG images obey the same largest side as DIBs.
  EXPECT_EQ(FromBits(PngHeaderOnly(5999, 16))->GetWidth(), 5999);
}

TEST(SubIconParse, PngBitsStayCompressedAndAreFlagged) {
  const auto png = PngHeaderOnly(256, 256);
  auto im = FromBits(png);
  EXPECT_TRUE(im->HasPNGBits());
  EXPECT_TRUE(im->StoreAsPNG());
  EXPECT_EQ(im->Bits(), png);
  EXPECT_EQ(im->GetWidth(), 256);
  EXPECT_EQ(im->GetHeight(), 256);
  EXPECT_EQ(im->GetBitsPerPixel(), 32);
  EXPECT_EQ(im->Head().bWidth, 0);
}

TEST(SubIconQueries, DescriptionAndEmptyImage) {
  EXPECT_EQ(FromBits(DibImage(16, 16, 4))->GetDescription(), "16x16x16");
  EXPECT_EQ(FromBits(DibImage(48, 48, 24))->GetDescription(), "48x48x16M");
  EXPECT_EQ(FromBits(DibImage(48, 48, 32))->GetDescription(), "48x48x32bpp");
  TSubIcon empty;
  EXPECT_EQ(empty.GetWidth(), 0);
  EXPECT_EQ(empty.GetHeight(), 0);
  EXPECT_EQ(empty.GetBitsPerPixel(), 0);
  EXPECT_EQ(empty.GetHandle(), nullptr);
}

TEST(SubIconRecords, RoundTripAndEmptyMarker) {
  auto im = FromBits(DibImage(16, 16, 8));
  TMemoryStream s;
  im->SaveToStream(s);
  TSubIcon().SaveToStream(s);
  EXPECT_EQ(s.Size(), 1 + 12 + int64_t(im->Bits().size()) + 1);
  s.SetPosition(0);
  TSubIcon back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.Bits(), im->Bits());
  EXPECT_EQ(back.GetWidth(), 16);
  TSubIcon empty;
  empty.LoadFromStream(s);
  EXPECT_FALSE(empty.HasBits());
  EXPECT_EQ(s.Position(), s.Size());

  // A record of a PNG stream keeps the PNG and sets the flag.
  const auto png = PngHeaderOnly(20, 10);
  TMemoryStream p;
  p.WriteValue<uint8_t>(12);
  TIconEntryHead head;
  head.dwBytesInRes = uint32_t(png.size());
  p.WriteBuffer(&head, sizeof head);
  p.WriteBuffer(png.data(), int64_t(png.size()));
  p.SetPosition(0);
  TSubIcon fromPng;
  fromPng.LoadFromStream(p);
  EXPECT_TRUE(fromPng.StoreAsPNG());
  EXPECT_EQ(fromPng.GetWidth(), 20);
  EXPECT_EQ(fromPng.GetHeight(), 10);
}

TEST(SubIconRecords, RecordClaimingMoreThanTheStreamHoldsLeavesNoBits) {
  TMemoryStream s;
  s.WriteValue<uint8_t>(12);
  TIconEntryHead head;
  head.dwBytesInRes = 0xFFFFFFF0u;
  s.WriteBuffer(&head, sizeof head);
  s.WriteValue<uint32_t>(0);
  s.SetPosition(0);
  TSubIcon im;
  im.LoadFromStream(s);
  EXPECT_FALSE(im.HasBits());
  EXPECT_EQ(im.BytesInRes(), 0u);
}

TEST(SubIconMarkers, MacMarkersKeepTheHiResWord) {
  TSubIcon im;
  im.MarkAsMacHiResElement(true);
  EXPECT_TRUE(im.IsMacHiResElement());
  EXPECT_EQ(im.HotspotX(), -1001);
  im.MarkAsMacImage(false);
  EXPECT_EQ(im.HotspotX(), 0);
  EXPECT_EQ(im.HotspotY(), -1002);
  im.MarkAsMacHiResElement(false);
  EXPECT_EQ(im.HotspotY(), 0);
  im.SetHotspot(3, 4);
  im.MarkAsMacImage(true);
  EXPECT_EQ(im.HotspotX(), -1001);
  EXPECT_EQ(im.HotspotY(), 0);
}

TEST(SubIconCopy, CopyKeepsClassHeadBitsHotspotAndFlag) {
  auto bits = DibImage(16, 16, 8);
  TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
  auto im = TSubIcon::CreateFromBitsStream<TFileCursorImage>(s);
  im->SetHotspot(5, 7);
  im->SetStoreAsPNG(true);
  auto copy = im->CreateCopy();
  EXPECT_NE(dynamic_cast<TFileCursorImage*>(copy.get()), nullptr);
  EXPECT_EQ(copy->Bits(), bits);
  EXPECT_EQ(copy->HotspotX(), 5);
  EXPECT_EQ(copy->HotspotY(), 7);
  EXPECT_TRUE(copy->StoreAsPNG());

  TSubIcon dest;
  dest.Assign(im.get());
  EXPECT_EQ(dest.Bits(), bits);
  EXPECT_EQ(dest.HotspotY(), 7);
}

TEST(SubIconConstructors, DirectoryEntryReadsAtTheOffsetAndRestoresPosition) {
  const auto bits = DibImage(16, 16, 4);
  Entry e;
  e.bits = bits;
  e.planes = 5;
  e.bitCount = 7;
  const auto file = IcoFile({e}, 2);
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  s.SetPosition(6);
  TIconDirHeader header;
  header.idType = 2;
  auto cur = TSubIcon::CreateFromCursorDirEntry<TFileCursorImage>(s, header);
  EXPECT_EQ(s.Position(), 22);
  EXPECT_EQ(cur->HotspotX(), 5);
  EXPECT_EQ(cur->HotspotY(), 7);
  EXPECT_EQ(cur->Bits(), bits);
  // The head comes from the bits, not from the hotspot words.
  EXPECT_EQ(cur->Head().wBitCount, 4);

  // An entry whose size runs past the data is refused before anything is read.
  auto bad = file;
  Put32(bad, 6 + 8, 0x7FFFFFFF);
  TCustomMemoryStream b(bad.data(), int64_t(bad.size()));
  b.SetPosition(6);
  EXPECT_THROW(TSubIcon::CreateFromDirEntry<TFileIconImage>(b), Exception);
  EXPECT_EQ(b.Position(), 22);
}

}  // namespace
