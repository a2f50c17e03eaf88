#include <gtest/gtest.h>

#include "icon_test_util.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_bitmap.h"
#include "test_support.h"

using namespace icontest;

namespace {

std::unique_ptr<TSubIcon> Image(int w, int h, int bpp, uint8_t fill = 0x11) {
  const auto bits = DibImage(w, h, bpp, fill);
  TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
  return TSubIcon::CreateFromBitsStream<TFileIconImage>(s);
}

std::vector<uint8_t> Saved(TAdvancedIcon& icon, bool cursor = false) {
  TMemoryStream s;
  if (cursor)
    icon.SaveCursorToStream(s);
  else
    icon.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

bool Load(TAdvancedIcon& icon, const std::vector<uint8_t>& file) {
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  return icon.LoadFromStream(s);
}

TEST(IcoWriter, ImagesFollowTheDirectoryInListOrder) {
  TAdvancedIcon icon;
  for (int size : {48, 32, 16}) icon.Images().Add(Image(size, size, 8));
  const auto f = Saved(icon);
  EXPECT_EQ(Get16(f, 0), 0);
  EXPECT_EQ(Get16(f, 2), 1);
  EXPECT_EQ(Get16(f, 4), 3);
  size_t expect = 54;
  for (int i = 0; i < 3; ++i) {
    const size_t e = 6 + 16 * size_t(i);
    EXPECT_EQ(f[e], icon.Images()[i]->GetWidth());
    EXPECT_EQ(Get16(f, e + 4), 1);
    EXPECT_EQ(Get16(f, e + 6), 8);
    EXPECT_EQ(Get32(f, e + 8), icon.Images()[i]->BytesInRes());
    EXPECT_EQ(Get32(f, e + 12), expect);
    expect += icon.Images()[i]->BytesInRes();
  }
  EXPECT_EQ(f.size(), expect);
}

// The icon maker's result: 8-bit images first, then 32-bit ones, each from
// the largest size down, masks from alpha at 80.
TEST(IcoWriter, IconMakerResultLayout) {
  TAdvancedIcon icon;
  for (int bpp : {8, 32})
    for (int size : {48, 32, 16}) {
      TBitmap b;
      b.SetPixelFormat(bpp == 8 ? pf8bit : pf32bit);
      b.SetSize(size, size);
      icon.Images().AddBitmap(&b, nullptr, 80);
    }
  const auto f = Saved(icon);
  ASSERT_EQ(Get16(f, 4), 6);
  EXPECT_EQ(Get32(f, 6 + 12), 102u);
  const int want[6][2] = {{48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 32}, {16, 32}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(f[6 + 16 * i], want[i][0]);
    EXPECT_EQ(Get16(f, 6 + 16 * i + 6), want[i][1]);
  }
  TAdvancedIcon back;
  ASSERT_TRUE(Load(back, f));
  EXPECT_EQ(back.Count(), 6);
  EXPECT_EQ(back.Images()[3]->Bits(), icon.Images()[3]->Bits());
}

TEST(IcoWriter, EmbeddedDirectoryCountsFromItsStart) {
  TAdvancedIcon icon;
  icon.Images().Add(Image(32, 32, 4));
  icon.Images().Add(Image(16, 16, 4));
  TMemoryStream s;
  std::vector<uint8_t> lead(100, 0xEE);
  s.WriteBuffer(lead.data(), 100);
  icon.SaveToStream(s);
  EXPECT_EQ(Get32(std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()), 100 + 6 + 12), 38u);
  s.SetPosition(100);
  TAdvancedIcon back;
  back.Images().Add(Image(8, 8, 1));
  ASSERT_TRUE(back.ReadEmbeddedIcon(s));
  ASSERT_EQ(back.Count(), 3);  // appended, not cleared
  EXPECT_EQ(back.Images()[1]->Bits(), icon.Images()[0]->Bits());
  EXPECT_EQ(back.Images()[2]->Bits(), icon.Images()[1]->Bits());
}

TEST(IcoWriter, SidesOf256AreWrittenAsZeroAndReadBack) {
  TAdvancedIcon icon;
  icon.Images().Add(Image(256, 256, 32));
  const auto png = PngHeaderOnly(256, 256);
  TCustomMemoryStream ps(png.data(), int64_t(png.size()));
  icon.Images().Add(TSubIcon::CreateFromBitsStream<TFileIconImage>(ps));
  const auto f = Saved(icon);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(f[6 + 16 * i], 0);
    EXPECT_EQ(f[6 + 16 * i + 1], 0);
  }
  TAdvancedIcon back;
  ASSERT_TRUE(Load(back, f));
  ASSERT_EQ(back.Count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(back.Images()[i]->GetWidth(), 256);
    EXPECT_EQ(back.Images()[i]->GetHeight(), 256);
  }
  EXPECT_TRUE(back.Images()[1]->HasPNGBits());
  EXPECT_EQ(back.Images()[1]->Bits(), png);
}

TEST(CurFiles, HotspotsTravelInTheEntry) {
  TAdvancedIcon cursor;
  auto im = Image(32, 32, 1);
  im->SetHotspot(5, 7);
  cursor.Images().Add(std::move(im));
  const auto f = Saved(cursor, true);
  EXPECT_EQ(Get16(f, 2), 2);
  EXPECT_EQ(Get16(f, 6 + 4), 5);
  EXPECT_EQ(Get16(f, 6 + 6), 7);
  for (bool embedded : {false, true}) {
    TAdvancedCursor back;
    TCustomMemoryStream s(f.data(), int64_t(f.size()));
    ASSERT_TRUE(embedded ? back.ReadEmbeddedCursor(s) : back.LoadCursorFromStream(s));
    ASSERT_EQ(back.Count(), 1);
    EXPECT_NE(dynamic_cast<TFileCursorImage*>(back.Images()[0]), nullptr);
    EXPECT_EQ(back.Images()[0]->HotspotX(), 5);
    EXPECT_EQ(back.Images()[0]->HotspotY(), 7);
  }
  // The icon reader takes a cursor file too, without hotspots.
  TAdvancedIcon asIcon;
  ASSERT_TRUE(Load(asIcon, f));
  EXPECT_EQ(asIcon.Images()[0]->HotspotX(), 0);
}

TEST(CurFiles, HotspotsThatNoWordHoldsAreRefusedBeforeWriting) {
  for (const auto& [x, y] : {std::pair<int16_t, int16_t>{-1, 3}, {4, -32768}, {kMacImageMarker, 0}}) {
    TAdvancedIcon cursor;
    cursor.Images().Add(Image(16, 16, 1));
    auto im = Image(32, 32, 1);
    im->SetHotspot(x, y);
    cursor.Images().Add(std::move(im));
    TMemoryStream s;
    EXPECT_THROW(cursor.SaveCursorToStream(s), Exception) << x << "," << y;
    EXPECT_EQ(s.Size(), 0);
    // As an icon the words are planes and depth, not the hotspot.
    EXPECT_NO_THROW(cursor.SaveToStream(s));
  }
}

// In a cursor file the planes and bit-count words are the hotspot; a PNG
// image must not keep them as its depth, or saving it as an icon would write
// the hotspot into its entry.
TEST(CurFiles, PngImagesTakeTheirDepthFromThePngNotFromTheHotspot) {
  Entry e{PngHeaderOnly(16, 16)};
  e.planes = 5;
  e.bitCount = 7;
  const auto f = IcoFile({e}, 2);
  for (bool embedded : {false, true}) {
    TAdvancedCursor cursor;
    TCustomMemoryStream s(f.data(), int64_t(f.size()));
    ASSERT_TRUE(embedded ? cursor.ReadEmbeddedCursor(s) : cursor.LoadCursorFromStream(s));
    ASSERT_EQ(cursor.Count(), 1);
    TSubIcon* im = cursor.Images()[0];
    EXPECT_EQ(im->HotspotX(), 5);
    EXPECT_EQ(im->HotspotY(), 7);
    EXPECT_EQ(im->Head().wPlanes, 1);
    EXPECT_EQ(im->Head().wBitCount, 32);
    const auto asIcon = Saved(cursor);
    EXPECT_EQ(Get16(asIcon, 6 + 4), 1);
    EXPECT_EQ(Get16(asIcon, 6 + 6), 32);
    const auto asCursor = Saved(cursor, true);
    EXPECT_EQ(Get16(asCursor, 6 + 4), 5);
    EXPECT_EQ(Get16(asCursor, 6 + 6), 7);
  }
}

TEST(IcoFiles, SaveToFileRefusesEmptyIconsAndImagesWithoutBits) {
  qvtest::TempDir dir;
  TAdvancedIcon icon;
  try {
    icon.SaveToFile(dir.File("a.ico"));
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "No images in icon");
  }
  try {
    icon.SaveCursorToFile(dir.File("a.cur"));
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "No images in cursor");
  }
  icon.Images().Add(std::make_unique<TSubIcon>());
  EXPECT_THROW(icon.SaveToFile(dir.File("b.ico")), Exception);
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.ico")));
  TMemoryStream empty;
  TAdvancedIcon().SaveToStream(empty);
  EXPECT_EQ(empty.Size(), 0);
}

TEST(IcoFiles, OneImageVariantIsReadAndReported) {
  // Count 1 at offset 0, the image length at 10, the DIB at 18.
  const auto dib = DibImage(16, 16, 4);
  std::vector<uint8_t> f(18, 0);
  Put16(f, 0, 1);
  Put32(f, 10, uint32_t(dib.size()));
  f.insert(f.end(), dib.begin(), dib.end());
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("one.ico"), f);
  TAdvancedIcon icon;
  EXPECT_TRUE(icon.LoadFromFile(dir.File("one.ico")));
  ASSERT_EQ(icon.Count(), 1);
  EXPECT_EQ(icon.Images()[0]->GetDescription(), "16x16x16");
}

// Hostile and broken directories: each gives the images it can and never more.
struct HostileCase {
  const char* name;
  std::vector<uint8_t> file;
  bool result;
  int images;
  const char* reason;  // the first rule that fired, as LastRefusal names it
};
// How the case reads in the test list and in a failure.
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

std::vector<HostileCase> HostileCases() {
  const auto a = DibImage(16, 16, 4), b = DibImage(32, 32, 8);
  std::vector<HostileCase> cases;
  auto add = [&](const char* name, std::vector<uint8_t> f, bool result, int images, const char* reason) {
    cases.push_back({name, std::move(f), result, images, reason});
  };
  const char* cut = "the directory header is cut short";
  add("empty", {}, false, 0, cut);
  add("short_header", {0, 0, 1}, false, 0, cut);
  add("bad_type", IcoFile({Entry{a}}, 3), false, 0, "a directory that is neither an icon's nor a cursor's");
  add("zero_count", IcoFile({}, 1), false, 0, "a directory without images");
  // The second entry is the first image's bytes, pointing past the end.
  add("huge_count", IcoFile({Entry{a}}, 1, 65535), true, 1, "an image starts past the end");
  {
    Entry e{a};
    e.offset = 1 << 30;
    add("offset_past_end", IcoFile({e, Entry{b}}), false, 0, "an image starts past the end");
  }
  {
    Entry second{b};
    second.offset = 10;  // inside the directory
    add("offset_into_directory", IcoFile({Entry{a}, second, Entry{b}}), true, 1, "an image starts inside the directory");
  }
  {
    Entry e{a};
    e.size = 0x7FFFFFFF;
    add("size_past_end", IcoFile({e, Entry{b}}), true, 1, "an image runs past the end");
  }
  {
    Entry e{a};
    e.size = 40;
    add("forty_bytes_skipped", IcoFile({e, Entry{b}}), true, 1, "an image too small to be one");
  }
  {
    auto cutDib = b;
    cutDib.resize(300);
    add("truncated_dib", IcoFile({Entry{cutDib}, Entry{a}}), true, 1, "colour rows missing");
  }
  {
    auto png = PngHeaderOnly(70000, 70000);
    add("png_enormous", IcoFile({Entry{png}, Entry{a}}), true, 1, "side above the limit");
    // Twenty bytes are too few for any image; a longer PNG whose header chunk
    // is broken is refused by the PNG rule.
    auto cutPng = PngHeaderOnly(16, 16);
    cutPng.resize(20);
    add("png_truncated", IcoFile({Entry{cutPng}}), false, 0, "an image too small to be one");
    auto brokenPng = PngHeaderOnly(16, 16);
    brokenPng[15] = 'X';  // "IHDX"
    add("png_header_broken", IcoFile({Entry{brokenPng}}), false, 0, "PNG header unreadable");
  }
  {
    auto f = IcoFile({Entry{a}, Entry{b}});
    f.resize(f.size() - 10);
    add("file_cut_in_last_image", f, true, 1, "an image runs past the end");
  }
  {
    auto deep = a;
    Put16(deep, 14, 200);
    add("depth_200", IcoFile({Entry{deep}}), false, 0, "depth without pixels");
  }
  add("every_image_read", IcoFile({Entry{a}, Entry{b}}), true, 2, "");
  return cases;
}

class HostileIco : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileIco, ReadersKeepWhatIsSoundAndRaiseNothing) {
  const HostileCase& c = GetParam();
  TAdvancedIcon icon;
  EXPECT_EQ(Load(icon, c.file), c.result);
  EXPECT_EQ(icon.Count(), c.images);
  EXPECT_EQ(icon.LastRefusal(), c.reason);
  TAdvancedIcon embedded;
  TCustomMemoryStream s(c.file.data(), int64_t(c.file.size()));
  try {
    embedded.ReadEmbeddedIcon(s);
  } catch (const EReadError&) {
  }
  EXPECT_EQ(embedded.Count(), c.images);
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("h.ico"), c.file);
  TAdvancedIcon fromFile;
  EXPECT_EQ(fromFile.LoadFromFile(dir.File("h.ico")), c.result);
  EXPECT_EQ(fromFile.Count(), c.images);
  EXPECT_EQ(fromFile.LastRefusal(), c.reason);
  // An icon that held images keeps them when the stream is refused.
  if (!c.result) {
    TAdvancedIcon held;
    held.Images().Add(Image(48, 48, 8));
    EXPECT_FALSE(Load(held, c.file));
    ASSERT_EQ(held.Count(), 1);
    EXPECT_EQ(held.Images()[0]->GetWidth(), 48);
    EXPECT_FALSE(held.LoadFromFile(dir.File("h.ico")));
    EXPECT_EQ(held.Count(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileIco, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& p) { return std::string(p.param.name); });

TEST(CurFiles, CursorReaderRaisesTheFirstBadImage) {
  auto deep = DibImage(16, 16, 4);
  Put16(deep, 14, 200);
  const auto f = IcoFile({Entry{DibImage(8, 8, 1)}, Entry{deep}}, 2);
  TCustomMemoryStream s(f.data(), int64_t(f.size()));
  TAdvancedCursor cursor;
  try {
    cursor.LoadCursorFromStream(s);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid image");
  }
  const auto none = IcoFile({}, 2);
  TCustomMemoryStream n(none.data(), int64_t(none.size()));
  EXPECT_TRUE(cursor.LoadCursorFromStream(n));
  EXPECT_EQ(cursor.Count(), 0);
}

}  // namespace

namespace {

// A load and save of an unchanged file gives its bytes back: icons of every
// depth, one with a PNG image, and a cursor, as this writer wrote them (the
// test builder leaves entry fields such as the colour count at 0, which the
// writer fills from the image).
TEST(IcoFiles, LoadAndSaveGiveTheSameBytes) {
  std::vector<uint8_t> png;
  {
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetSize(16, 16);
    auto bits = DibImage(16, 16, 32);
    TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
    auto im = TSubIcon::CreateFromBitsStream<TFileIconImage>(s);
    im->SetStoreAsPNG(true);
    TAdvancedIcon icon;
    icon.Images().Add(std::move(im));
    png = Saved(icon);
  }
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool cursor;
  } cases[] = {
      {"depths", IcoFile({Entry{DibImage(16, 16, 1)}, Entry{DibImage(16, 16, 4)}, Entry{DibImage(32, 32, 8)},
                          Entry{DibImage(32, 32, 24)}, Entry{DibImage(48, 48, 32)}}),
       false},
      {"png", png, false},
      {"cursor", IcoFile({{DibImage(32, 32, 1), 0, 0, 3, 4}}, 2), true},
  };
  auto resaved = [](const std::vector<uint8_t>& file, bool cursor) {
    TAdvancedIcon icon;
    TCustomMemoryStream s(file.data(), int64_t(file.size()));
    EXPECT_TRUE(cursor ? icon.LoadCursorFromStream(s) : icon.LoadFromStream(s));
    return Saved(icon, cursor);
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> written = resaved(c.file, c.cursor);
    EXPECT_EQ(written.size(), c.file.size()) << c.name;
    EXPECT_EQ(resaved(written, c.cursor), written) << c.name;
  }
}

}  // namespace
