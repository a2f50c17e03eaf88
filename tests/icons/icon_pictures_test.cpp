#include "icons/icon_pictures.h"

#include <gtest/gtest.h>

#include "exception_text.h"

#include <cstring>
#include <functional>

#include "icon_test_util.h"
#include "icons/advanced_icon.h"
#include "platform/graphics/graphics_icon.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "test_support.h"

using namespace icontest;

namespace {

std::vector<uint8_t> Bytes(TMemoryStream& s) { return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size()); }

TEST(IconPictures, IcoStreamRoundTripsAndCursorRefusesIcons) {
  const auto file = IcoFile({Entry{DibImage(16, 16, 4)}, Entry{DibImage(32, 32, 8)}});
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TExIcon icon;
  icon.LoadFromStream(s);
  EXPECT_EQ(icon.ImageCount(), 2);
  EXPECT_EQ(icon.GetWidth(), 16);
  EXPECT_EQ(icon.PixelFormat(), pf4bit);
  icon.SetCurrentIndex(1);
  EXPECT_EQ(icon.GetWidth(), 32);
  EXPECT_EQ(icon.PixelFormat(), pf8bit);
  TMemoryStream out;
  icon.SaveToStream(out);
  const auto saved = Bytes(out);
  EXPECT_EQ(Get16(saved, 4), 2);
  EXPECT_EQ(saved[6 + 2], 16);  // colour count of a 4-bit image
  EXPECT_EQ(Get16(saved, 6 + 6), 0);
  EXPECT_EQ(Get16(saved, 22 + 6), 8);

  s.SetPosition(0);
  TExCursor cursor;
  EXPECT_EQ(MessageOf([&] { cursor.LoadFromStream(s); }), "Invalid Icon or Cursor");
}

TEST(IconPictures, CursorFilesKeepTheirHotspots) {
  Entry e{DibImage(32, 32, 1)};
  e.planes = 5;
  e.bitCount = 9;
  const auto file = IcoFile({e}, 2);
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("a.cur"), file);
  TExCursor cursor;
  cursor.LoadFromFile(dir.File("a.cur"));
  EXPECT_EQ(cursor.GetWidth(), 32);
  cursor.SaveToFile(dir.File("b.cur"));
  const auto again = qvtest::ReadFileBytes(dir.File("b.cur"));
  EXPECT_EQ(Get16(again, 2), 2);
  EXPECT_EQ(Get16(again, 6 + 4), 5);
  EXPECT_EQ(Get16(again, 6 + 6), 9);
  EXPECT_EQ(Get32(again, 6 + 8), e.bits.size());

  qvtest::WriteFileBytes(dir.File("i.ico"), IcoFile({e}, 1));
  EXPECT_EQ(MessageOf([&] { TExCursor().LoadFromFile(dir.File("i.ico")); }), "Invalid Icon or Cursor");
}

TEST(IconPictures, SidesOf256AreZeroInTheEntryAndLargerOnesARangeError) {
  const auto png = PngHeaderOnly(256, 256);
  Entry e{png};
  const auto file = IcoFile({e});
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TExIcon icon;
  icon.LoadFromStream(s);
  EXPECT_EQ(icon.GetWidth(), 256);
  EXPECT_EQ(icon.GetHeight(), 256);
  TMemoryStream out;
  icon.SaveToStream(out);
  const auto saved = Bytes(out);
  EXPECT_EQ(saved[6], 0);
  EXPECT_EQ(saved[7], 0);
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 22, saved.end()), png);
}

TEST(IconPictures, HostileStreamsAreRefused) {
  auto cut = IcoFile({Entry{DibImage(16, 16, 4)}});
  cut.resize(cut.size() - 50);
  auto hugeCount = IcoFile({Entry{DibImage(16, 16, 4)}}, 1, 60000);
  auto deep = DibImage(16, 16, 4);
  Put16(deep, 14, 7);
  auto badDepth = IcoFile({Entry{deep}});
  auto tiny = IcoFile({Entry{std::vector<uint8_t>(10, 0)}});
  // A compression word of garbage, and a header that claims 233 x 4.5 million
  // pixels: refused when read, as the icon model refuses them, not when drawn.
  auto packed = DibImage(16, 16, 4);
  Put32(packed, 16, 0xDE00);
  auto garbageCompression = IcoFile({Entry{packed}});
  auto tall = DibImage(16, 16, 4);
  Put32(tall, 4, 233);
  Put32(tall, 8, 9000000);
  auto claimsTooMuch = IcoFile({Entry{tall}});
  const auto good = IcoFile({Entry{DibImage(8, 8, 1)}});
  const struct {
    const std::vector<uint8_t>* file;
    const char* reason;  // the rule that fired, as LastRefusal names it
  } cases[] = {{&cut, "an image runs past the end"},
               {&hugeCount, "the directory runs past the end"},
               {&badDepth, "depth without pixels"},
               {&tiny, "header cut short"},
               {&garbageCompression, "unknown compression"},
               {&claimsTooMuch, "side above the limit"}};
  for (const auto& [f, reason] : cases) {
    TCustomMemoryStream s(f->data(), int64_t(f->size()));
    TExIcon icon;
    EXPECT_THROW(icon.LoadFromStream(s), EInvalidGraphic);
    EXPECT_EQ(icon.LastRefusal(), reason);
    // A picture that held an icon keeps it, and saves the same bytes.
    TCustomMemoryStream g(good.data(), int64_t(good.size()));
    icon.LoadFromStream(g);
    TMemoryStream before;
    icon.SaveToStream(before);
    s.SetPosition(0);
    EXPECT_THROW(icon.LoadFromStream(s), EInvalidGraphic);
    EXPECT_EQ(icon.GetWidth(), 8);
    TMemoryStream after;
    icon.SaveToStream(after);
    EXPECT_EQ(Bytes(after), Bytes(before));
  }
  // A cursor picture reading a stream whose image is shorter than the hotspot
  // words it expects in front.
  const auto shortCursorImage = IcoFile({Entry{std::vector<uint8_t>{1, 2}}}, 2);
  {
    TCustomMemoryStream s(shortCursorImage.data(), int64_t(shortCursorImage.size()));
    TExCursor cursor;
    EXPECT_THROW(cursor.LoadFromStream(s), EInvalidGraphic);
    EXPECT_EQ(cursor.LastRefusal(), "an image shorter than its hotspot words");
  }
  // The icon model refuses the same images.
  for (const auto* f : {&badDepth, &garbageCompression, &claimsTooMuch}) {
    TCustomMemoryStream s(f->data(), int64_t(f->size()));
    TAdvancedIcon model;
    model.LoadFromStream(s);
    EXPECT_EQ(model.Count(), 0);
  }
}

// The one reading of icon DIBs says why it refuses one.
TEST(IconDibLayout, ReasonsForRefusal) {
  struct Case {
    const char* reason;
    std::function<void(std::vector<uint8_t>&)> change;
  };
  const Case cases[] = {
      {nullptr, [](std::vector<uint8_t>&) {}},
      {nullptr, [](std::vector<uint8_t>& d) { d.resize(d.size() - 1); }},  // mask cut short
      {"header cut short", [](std::vector<uint8_t>& d) { d.resize(39); }},
      {"header size outside the data", [](std::vector<uint8_t>& d) { Put32(d, 0, 100000); }},
      {"negative side", [](std::vector<uint8_t>& d) { Put32(d, 8, uint32_t(-32)); }},
      {"side above the limit", [](std::vector<uint8_t>& d) { Put32(d, 4, 6000); }},
      {"depth without pixels", [](std::vector<uint8_t>& d) { Put16(d, 14, 0); }},
      {"depth without pixels", [](std::vector<uint8_t>& d) { Put16(d, 12, 3); }},
      {"depth without pixels", [](std::vector<uint8_t>& d) { Put16(d, 12, 0xFFFF); Put16(d, 14, 0xFFFF); }},
      {"unknown compression", [](std::vector<uint8_t>& d) { Put32(d, 16, 0xDE00); }},
      {"unknown compression", [](std::vector<uint8_t>& d) { Put32(d, 16, 3); }},  // bit fields at 4 bits
      {"colour rows missing", [](std::vector<uint8_t>& d) { Put32(d, 8, 64); }},
      {"colour rows missing", [](std::vector<uint8_t>& d) { Put32(d, 32, 0x40000000); }},
  };
  for (const Case& c : cases) {
    auto d = DibImage(16, 16, 4);
    c.change(d);
    TIconDibLayout l;
    const char* reason = ReadIconDibLayout(d.data(), d.size(), l);
    EXPECT_STREQ(reason, c.reason) << (c.reason ? c.reason : "sound");
    if (!c.reason) {
      EXPECT_EQ(l.width, 16);
      EXPECT_EQ(l.height, 16);
      EXPECT_EQ(l.headerBytes, 40u + 64u);
      EXPECT_EQ(l.colourBytes, 8u * 16u);
    }
  }
}

TEST(IconPictures, SharedImagesAndResizing) {
  const auto file = IcoFile({Entry{DibImage(16, 16, 24, 0x40)}});
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TExIcon a;
  a.LoadFromStream(s);
  TExIcon b;
  b.Assign(&a);
  EXPECT_EQ(a.CurrentImage(), b.CurrentImage());
  b.SetWidth(32);
  EXPECT_NE(a.CurrentImage(), b.CurrentImage());
  EXPECT_EQ(a.GetWidth(), 16);
  EXPECT_EQ(b.GetWidth(), 32);
  EXPECT_FALSE(b.GetEmpty());
  // The rendered image is a sound icon DIB: our icon reader takes it.
  TMemoryStream out;
  b.SaveToStream(out);
  out.SetPosition(0);
  TAdvancedIcon check;
  ASSERT_TRUE(check.LoadFromStream(out));
  EXPECT_EQ(check.Images()[0]->GetWidth(), 32);
  EXPECT_EQ(check.Images()[0]->GetHeight(), 16);

  TExIcon fresh;
  EXPECT_TRUE(fresh.GetEmpty());
  TBitmap canvasHolder;
  canvasHolder.SetSize(8, 8);
  fresh.Draw(canvasHolder.Canvas(), Rect(0, 0, 8, 8));  // draws nothing, raises nothing
  TMemoryStream none;
  EXPECT_EQ(MessageOf([&] { fresh.SaveToStream(none); }), "Invalid Icon or Cursor");
}

TEST(IconPictures, DrawShowsTheColoursThroughTheMask) {
  auto dib = DibImage(8, 8, 24, 0x80);
  // The AND mask marks the left half transparent; those colour pixels are 0.
  const size_t colourAt = 40, maskAt = 40 + RowBytes(8, 24) * 8;
  for (int y = 0; y < 8; ++y) {
    dib[maskAt + size_t(y) * 4] = 0xF0;
    for (int x = 0; x < 4; ++x) std::fill_n(dib.begin() + long(colourAt + size_t(y) * RowBytes(8, 24) + size_t(x) * 3), 3, 0);
  }
  const auto file = IcoFile({Entry{dib}});
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TExIcon icon;
  icon.LoadFromStream(s);
  TBitmap bmp;
  bmp.Assign(&icon);
  EXPECT_EQ(bmp.Canvas()->Pixels(1, 1), icon.TransparentColor());
  EXPECT_EQ(bmp.Canvas()->Pixels(6, 6), TColor(0x808080));
}

TEST(IconPictures, ClipboardDibHasDwordAlignedMaskRows) {
  const auto file = IcoFile({Entry{DibImage(20, 3, 8)}});
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TExIcon icon;
  icon.LoadFromStream(s);
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  icon.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_DIB);
  // header, 256 colours, rows of 20 bytes, mask rows of 4 bytes
  EXPECT_EQ(GlobalSize(data), size_t(40 + 1024 + 20 * 3 + 4 * 3));
  TExIcon back;
  back.LoadFromClipboardFormat(CF_DIB, data, nullptr);
  EXPECT_EQ(back.GetWidth(), 20);
  EXPECT_EQ(back.GetHeight(), 3);
  TMemoryStream a, b;
  icon.SaveToStream(a);
  back.SaveToStream(b);
  EXPECT_EQ(Bytes(a), Bytes(b));
  GlobalFree(data);
}

// Clipboard DIBs come from other programs: a header size below the header or
// past the data is refused, and the picture keeps its image.
TEST(IconPictures, ClipboardDibWithAnUntrueHeaderSizeIsRefused) {
  struct Case {
    const char* what;
    uint32_t headerSize;
  };
  for (const Case c : {Case{"zero", 0}, Case{"short", 12}, Case{"past the data", 1000},
                       Case{"wrapping", 0xFFFFFFF0u}}) {
    auto dib = DibImage(1, 1, 24);
    dib.resize(40 + 4);  // header and one colour row, no mask
    Put32(dib, 8, 1);
    Put32(dib, 0, c.headerSize);
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, dib.size());
    std::memcpy(GlobalLock(mem), dib.data(), dib.size());
    GlobalUnlock(mem);
    TExIcon icon;
    const TExIconImage* before = icon.CurrentImage();
    EXPECT_EQ(MessageOf([&] { icon.LoadFromClipboardFormat(CF_DIB, mem, nullptr); }), kInvalidIconOrCursor)
        << c.what;
    EXPECT_EQ(icon.CurrentImage(), before) << c.what;
    GlobalFree(mem);
    // The same header inside an ICO stream is refused when it is read.
    auto full = DibImage(16, 16, 4);
    Put32(full, 0, c.headerSize);
    const auto file = IcoFile({Entry{full}});
    TCustomMemoryStream s(file.data(), int64_t(file.size()));
    TExIcon fromFile;
    EXPECT_THROW(fromFile.LoadFromStream(s), EInvalidGraphic) << c.what;
  }
}

TEST(IconPictures, HeaderHelpers) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = 10;
  h.biHeight = 20;
  h.biBitCount = 16;
  h.biCompression = BI_RGB;
  EXPECT_EQ(PixelFormatOfHeader(h), pf15bit);
  h.biCompression = BI_BITFIELDS;
  EXPECT_EQ(PixelFormatOfHeader(h), pf16bit);
  uint32_t hs, is;
  DIBSizes(h, true, hs, is);
  EXPECT_EQ(hs, 52u);
  EXPECT_EQ(is, 20u * 10u);
  h.biCompression = 2;
  EXPECT_EQ(MessageOf([&] { PixelFormatOfHeader(h); }), "Pixel Format Not Valid for Icons or Cursors");
  h.biBitCount = 4;
  h.biClrUsed = 0;
  EXPECT_EQ(HeaderColorCount(h), 16);
  EXPECT_EQ(BitsOfPixelFormat(pf15bit), 16);
  EXPECT_EQ(ColorCountOfPixelFormat(pf4bit), 16);
  PALETTEENTRY e[256];
  ASSERT_EQ(GetPaletteEntries(Shared256ColourPalette(), 0, 256, e), 256u);
  EXPECT_EQ(e[1 * 36 + 2 * 6 + 3].peRed, 51);
  EXPECT_EQ(e[1 * 36 + 2 * 6 + 3].peGreen, 102);
  EXPECT_EQ(e[1 * 36 + 2 * 6 + 3].peBlue, 153);
  EXPECT_EQ(e[216].peRed, 10);
  EXPECT_EQ(e[239].peRed, 240);
}

TEST(IconPictures, RegistrationReplacesTheFrameworkIconClass) {
  RegisterIconPictureClasses();
  EXPECT_TRUE(FileFormatClass("ico") == TGraphicClass::Of<TExIcon>());
  EXPECT_TRUE(FileFormatClass("CUR") == TGraphicClass::Of<TExCursor>());
  UnregisterIconPictureClasses();
  EXPECT_TRUE(FileFormatClass("ico") == TGraphicClass::Of<TIcon>());
  EXPECT_FALSE(FileFormatClass("cur"));
}

}  // namespace
