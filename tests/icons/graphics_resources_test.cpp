#include "icons/graphics_resources.h"

#include <gtest/gtest.h>

#include <cstring>

#include "icon_test_util.h"
#include "icons/icon_pictures.h"
#include "icons/pe_module.h"
#include "icons/sub_icon.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/exceptions.h"

namespace {

using icontest::DibImage;
using icontest::Get16;
using icontest::Get32;
using icontest::Put16;
using icontest::Put32;

// A container that removes what it deletes, as the PE and RES containers do.
using TListModule = TResourceListOf<TResourceModule>;

std::vector<uint8_t> BytesOf(TResourceDetails* r) {
  return std::vector<uint8_t>(r->Data().Memory(), r->Data().Memory() + r->Data().Size());
}

TResourceDetails* AddTo(TListModule& m, const std::string& type, const std::string& name,
                        const std::vector<uint8_t>& bytes) {
  const int at = m.AddResource(CreateResourceDetailsByType(&m, 1033, name, type, bytes.size(), bytes.data()));
  return m.GetResource(at);
}

std::vector<uint8_t> Group(const std::vector<uint16_t>& ids, uint16_t type = 1) {
  std::vector<uint8_t> g(6 + 14 * ids.size(), 0);
  Put16(g, 2, type);
  Put16(g, 4, uint32_t(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i) Put16(g, 6 + 14 * i + 12, ids[i]);
  return g;
}

// A BMP file around a DIB whose info header is infoSize bytes long.
std::vector<uint8_t> BmpFile(int w, int h, uint32_t infoSize) {
  const size_t rows = icontest::RowBytes(w, 24) * size_t(h);
  std::vector<uint8_t> f(14 + infoSize + rows, 0);
  f[0] = 'B';
  f[1] = 'M';
  Put32(f, 2, uint32_t(f.size()));
  Put32(f, 10, 14 + infoSize);
  Put32(f, 14, infoSize);
  Put32(f, 18, uint32_t(w));
  Put32(f, 22, uint32_t(h));
  Put16(f, 26, 1);
  Put16(f, 28, 24);
  return f;
}

class GraphicsResources : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterGraphicsResourceClasses();
    FSaved = GraphicsResourceDefaults();
  }
  void TearDown() override {
    GraphicsResourceDefaults() = FSaved;
    UnregisterGraphicsResourceClasses();
  }
  TGraphicsResourceDefaults FSaved;
};

TEST_F(GraphicsResources, RegistryPicksTheClassByTypeOrByContent) {
  TListModule m;
  const auto dib = DibImage(16, 16, 4);
  EXPECT_NE(dynamic_cast<TBitmapResourceDetails*>(AddTo(m, "2", "1", {})), nullptr);
  EXPECT_NE(dynamic_cast<TIconGroupResourceDetails*>(AddTo(m, "14", "A", {})), nullptr);
  EXPECT_NE(dynamic_cast<TCursorGroupResourceDetails*>(AddTo(m, "12", "A", {})), nullptr);
  EXPECT_NE(dynamic_cast<TIconResourceDetails*>(AddTo(m, "3", "1", dib)), nullptr);
  EXPECT_NE(dynamic_cast<TCursorResourceDetails*>(AddTo(m, "1", "1", dib)), nullptr);

  // Raw data and named types holding a BMP file: a DIB resource, its width
  // read from the info header behind the file header.
  auto* raw = dynamic_cast<TDIBResourceDetails*>(AddTo(m, "10", "PIC", BmpFile(7, 3, 108)));
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(raw->GetWidth(), 7);
  EXPECT_EQ(raw->GetHeight(), 3);
  EXPECT_EQ(raw->GetPixelFormat(), pf24bit);
  EXPECT_NE(dynamic_cast<TDIBResourceDetails*>(AddTo(m, "MYTYPE", "X", BmpFile(2, 2, 124))), nullptr);

  auto reserved = BmpFile(2, 2, 40);
  reserved[8] = 1;
  const std::vector<uint8_t> refused[] = {BmpFile(2, 2, 12), reserved, {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0}};
  for (const auto& bytes : refused) {
    EXPECT_FALSE(TDIBResourceDetails::ClaimsData(bytes.size(), bytes.data()));
    EXPECT_EQ(dynamic_cast<TDIBResourceDetails*>(AddTo(m, "10", "Y", bytes)), nullptr);
  }

  RegisterGraphicsResourceClasses();  // a second registration adds nothing
  UnregisterGraphicsResourceClasses();
  EXPECT_EQ(dynamic_cast<TIconResourceDetails*>(AddTo(m, "3", "2", dib)), nullptr);
  RegisterGraphicsResourceClasses();
}

TEST_F(GraphicsResources, NewGroupMakesItsImage) {
  TListModule m;
  auto* group = dynamic_cast<TIconGroupResourceDetails*>(
      CreateNewResourceIn(TIconGroupResourceDetails::Class(), m, 1033, "MAINICON"));
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(m.GetResourceCount(), 2);
  TResourceDetails* image = m.FindByTypeAndName("3", "1");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Language(), 1033u);
  EXPECT_EQ(image->Data().Size(), 744);
  auto* details = dynamic_cast<TIconResourceDetails*>(image);
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(details->GetWidth(), 32);
  EXPECT_EQ(details->GetHeight(), 32);
  EXPECT_EQ(details->GetPixelFormat(), pf4bit);
  const auto g = BytesOf(group);
  ASSERT_EQ(g.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(g.begin(), g.begin() + 10), (std::vector<uint8_t>{0, 0, 1, 0, 1, 0, 32, 32, 16, 0}));
  EXPECT_EQ(Get16(g, 10), 1);   // planes
  EXPECT_EQ(Get16(g, 12), 4);   // bit count
  EXPECT_EQ(Get32(g, 14), 744u);
  EXPECT_EQ(Get16(g, 18), 1);   // id
  EXPECT_EQ(group->GetImageResource(0), details);

  // A cursor group: the image begins with the hotspot, the entry holds 16-bit sizes.
  auto* cursors = CreateNewResourceIn(TCursorGroupResourceDetails::Class(), m, 0, "ARROW");
  TResourceDetails* cursor = m.FindByTypeAndName("1", "1");
  ASSERT_NE(cursor, nullptr);
  const auto c = BytesOf(cursor);
  EXPECT_EQ(c.size(), 748u);
  EXPECT_EQ(Get16(c, 0), 16);
  EXPECT_EQ(Get16(c, 2), 16);
  EXPECT_EQ(Get32(c, 4), 40u);
  const auto cg = BytesOf(cursors);
  EXPECT_EQ(Get16(cg, 2), 2);
  EXPECT_EQ(Get16(cg, 6), 32);
  EXPECT_EQ(Get16(cg, 8), 32);
  EXPECT_EQ(Get32(cg, 14), 748u);

  // The default image is a valid icon image.
  TSubIcon parsed;
  TCustomMemoryStream s(image->Data().Memory(), image->Data().Size());
  parsed.LoadFromResourceData(s, false);
  EXPECT_EQ(parsed.GetDescription(), "32x32x16");
}

TEST_F(GraphicsResources, DefaultImagesHaveDwordAlignedMasks) {
  struct Case {
    int w, h;
    TPixelFormat pf;
    size_t size;          // whole image
    uint32_t compression;
  };
  const Case cases[] = {
      {32, 32, pf4bit, 40 + 64 + 512 + 128, 0},
      {16, 16, pf1bit, 40 + 8 + 64 + 64, 0},      // mask rows of 4 bytes, not 2
      {24, 8, pf8bit, 40 + 1024 + 192 + 32, 0},
      {16, 2, pf16bit, 40 + 12 + 64 + 8, 3},
      {3, 1, pf32bit, 40 + 12 + 4, 0},
  };
  for (const Case& k : cases) {
    GraphicsResourceDefaults().IconWidth = k.w;
    GraphicsResourceDefaults().IconHeight = k.h;
    GraphicsResourceDefaults().IconPixelFormat = k.pf;
    auto image = CreateNewResource(TIconResourceDetails::Class(), nullptr, 0, "1");
    const auto bits = BytesOf(image.get());
    ASSERT_EQ(bits.size(), k.size) << k.w << "x" << k.h;
    EXPECT_EQ(Get32(bits, 16), k.compression);
    const size_t maskBytes = icontest::RowBytes(k.w, 1) * size_t(k.h);
    EXPECT_EQ(std::vector<uint8_t>(bits.end() - long(maskBytes), bits.end()), std::vector<uint8_t>(maskBytes, 0xFF));
    TSubIcon parsed;
    TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
    parsed.LoadFromResourceData(s, false);
    EXPECT_EQ(parsed.GetWidth(), k.w);
    EXPECT_EQ(parsed.GetHeight(), k.h);
  }
}

TEST_F(GraphicsResources, DefaultBitmapsAndTheirPictures) {
  auto bitmap = CreateNewResource(TBitmapResourceDetails::Class(), nullptr, 0, "1");
  const auto b = BytesOf(bitmap.get());
  ASSERT_EQ(b.size(), 40u + 36864u);
  EXPECT_EQ(Get32(b, 4), 128u);
  EXPECT_EQ(Get32(b, 8), 96u);
  EXPECT_EQ(Get16(b, 14), 24);
  EXPECT_EQ(Get32(b, 20), 36864u);

  auto dib = CreateNewResource(TDIBResourceDetails::Class(), nullptr, 0, "1");
  const auto d = BytesOf(dib.get());
  ASSERT_EQ(d.size(), 14u + 40u + 36864u);
  EXPECT_EQ(d[0], 'B');
  EXPECT_EQ(Get32(d, 2), d.size());
  EXPECT_EQ(Get32(d, 10), 54u);
  EXPECT_EQ(std::vector<uint8_t>(d.begin() + 14, d.end()), b);
  EXPECT_TRUE(TDIBResourceDetails::ClaimsData(d.size(), d.data()));

  // A picture in and out: the data is the BMP file without (bitmap) or with
  // (DIB) its file header, and reads back as the same picture.
  TBitmap source;
  source.SetPixelFormat(pf24bit);
  source.SetSize(5, 4);
  source.Canvas()->Brush()->SetColor(0x00204080);
  source.Canvas()->FillRect(Rect(0, 0, 5, 4));
  source.Canvas()->SetPixels(1, 2, 0x000000FF);
  TPicture picture;
  picture.Assign(&source);
  auto* bd = dynamic_cast<TBitmapResourceDetails*>(bitmap.get());
  auto* dd = dynamic_cast<TDIBResourceDetails*>(dib.get());
  bd->SetImage(&picture);
  dd->SetImage(&picture);
  EXPECT_EQ(Get32(BytesOf(bd), 0), 40u);
  EXPECT_EQ(BytesOf(dd)[0], 'B');
  for (TGraphicsResourceDetails* r : {static_cast<TGraphicsResourceDetails*>(bd), static_cast<TGraphicsResourceDetails*>(dd)}) {
    EXPECT_EQ(r->GetWidth(), 5);
    EXPECT_EQ(r->GetHeight(), 4);
    TPicture back;
    r->GetImage(&back);
    ASSERT_EQ(back.Width(), 5);
    EXPECT_EQ(back.Bitmap()->Canvas()->Pixels(1, 2), 0x000000FFu);
    EXPECT_EQ(back.Bitmap()->Canvas()->Pixels(4, 3), 0x00204080u);
  }
}

// An RLE8 bitmap 4 by 2 with colours entries: a run of 4 of index 1, then of index 2.
std::vector<uint8_t> Rle8Bitmap(uint32_t colours) {
  std::vector<uint8_t> d(40 + 4 * colours, 0);
  Put32(d, 0, 40);
  Put32(d, 4, 4);
  Put32(d, 8, 2);
  Put16(d, 12, 1);
  Put16(d, 14, 8);
  Put32(d, 16, 1);  // BI_RLE8
  Put32(d, 32, colours == 256 ? 0 : colours);
  d[40 + 4 + 2] = 0xFF;  // entry 1 red
  d[40 + 8 + 1] = 0xFF;  // entry 2 green
  const uint8_t runs[] = {4, 1, 0, 0, 4, 2, 0, 1};
  d.insert(d.end(), std::begin(runs), std::end(runs));
  Put32(d, 20, sizeof runs);
  return d;
}

TEST_F(GraphicsResources, RunLengthBitmapsKeepTheirDepth) {
  for (uint32_t colours : {256u, 3u}) {
    TListModule m;
    auto* r = dynamic_cast<TBitmapResourceDetails*>(AddTo(m, "2", "1", Rle8Bitmap(colours)));
    ASSERT_NE(r, nullptr);
    TPicture picture;
    r->GetImage(&picture);
    ASSERT_EQ(picture.Width(), 4) << colours;
    EXPECT_EQ(picture.Bitmap()->PixelFormat(), pf8bit) << colours;
    EXPECT_EQ(picture.Bitmap()->Canvas()->Pixels(0, 1), 0x000000FFu) << colours;  // bottom row first
    EXPECT_EQ(picture.Bitmap()->Canvas()->Pixels(3, 0), 0x0000FF00u) << colours;
  }
}

// Bitmaps of the 12-byte OS/2 header: 16-bit sizes and a table of 3-byte
// entries, read as the BMP reader reads the same bytes.
TEST_F(GraphicsResources, CoreHeaderBitmapsAreReadAsSuch) {
  std::vector<uint8_t> d(12 + 2 * 3 + 4 * 2, 0);
  Put32(d, 0, 12);
  Put16(d, 4, 3);  // width
  Put16(d, 6, 2);  // height
  Put16(d, 8, 1);
  Put16(d, 10, 1);
  const uint8_t table[] = {0, 0, 0xFF, 0xFF, 0, 0};  // red, blue (blue, green, red order)
  std::memcpy(d.data() + 12, table, sizeof table);
  d[18] = 0x40;  // bottom row: 0 1 0
  d[22] = 0xA0;  // top row: 1 0 1
  TListModule m;
  auto* r = dynamic_cast<TBitmapResourceDetails*>(AddTo(m, "2", "1", d));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GetWidth(), 3);
  EXPECT_EQ(r->GetHeight(), 2);
  EXPECT_EQ(r->GetPixelFormat(), pf1bit);
  TPicture picture;
  r->GetImage(&picture);
  ASSERT_EQ(picture.Width(), 3);
  ASSERT_EQ(picture.Height(), 2);
  // The same bytes as a BMP file.
  std::vector<uint8_t> file(14, 0);
  file[0] = 'B';
  file[1] = 'M';
  Put32(file, 2, uint32_t(14 + d.size()));
  Put32(file, 10, 14 + 12 + 6);
  file.insert(file.end(), d.begin(), d.end());
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  TBitmap bmp;
  bmp.LoadFromStream(s);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint32_t expected = ((y == 0) == (x != 1)) ? 0x00FF0000u : 0x000000FFu;
      EXPECT_EQ(picture.Bitmap()->Canvas()->Pixels(x, y), expected) << x << "," << y;
      EXPECT_EQ(bmp.Canvas()->Pixels(x, y), expected) << x << "," << y;
    }
}

TEST_F(GraphicsResources, IconAndCursorImagesAsPictures) {
  TListModule m;
  const auto dib = DibImage(16, 16, 8);
  auto cursorBits = dib;
  cursorBits.insert(cursorBits.begin(), {5, 0, 6, 0});
  auto* icon = dynamic_cast<TIconResourceDetails*>(AddTo(m, "3", "1", dib));
  auto* cursor = dynamic_cast<TCursorResourceDetails*>(AddTo(m, "1", "1", cursorBits));
  ASSERT_TRUE(icon && cursor);
  EXPECT_EQ(cursor->GetWidth(), 16);
  EXPECT_EQ(cursor->GetHeight(), 16);
  EXPECT_EQ(cursor->GetPixelFormat(), pf8bit);

  TPicture iconPicture, cursorPicture;
  icon->GetImage(&iconPicture);
  cursor->GetImage(&cursorPicture);
  ASSERT_NE(dynamic_cast<TExIcon*>(iconPicture.Graphic()), nullptr);
  ASSERT_NE(dynamic_cast<TExCursor*>(cursorPicture.Graphic()), nullptr);
  EXPECT_EQ(iconPicture.Width(), 16);

  // Back again: the current image's bytes, the cursor's hotspot in front.
  auto* otherIcon = dynamic_cast<TIconResourceDetails*>(AddTo(m, "3", "2", {}));
  auto* otherCursor = dynamic_cast<TCursorResourceDetails*>(AddTo(m, "1", "2", {}));
  otherIcon->SetImage(&iconPicture);
  otherCursor->SetImage(&cursorPicture);
  EXPECT_EQ(Get32(BytesOf(otherIcon), 0), 40u);
  EXPECT_EQ(BytesOf(otherIcon).size(), dib.size());
  const auto written = BytesOf(otherCursor);
  EXPECT_EQ(written.size(), cursorBits.size());
  EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.begin() + 8),
            std::vector<uint8_t>(cursorBits.begin(), cursorBits.begin() + 8));
  // An icon given to a cursor resource gets the hotspot 0, 0; a cursor given
  // to an icon resource loses its hotspot.
  otherCursor->SetImage(&iconPicture);
  EXPECT_EQ(BytesOf(otherCursor).size(), dib.size() + 4);
  EXPECT_EQ(Get32(BytesOf(otherCursor), 0), 0u);
  otherIcon->SetImage(&cursorPicture);
  EXPECT_EQ(Get32(BytesOf(otherIcon), 0), 40u);

  TPicture plain;
  plain.Bitmap()->SetSize(2, 2);
  EXPECT_THROW(otherIcon->SetImage(&plain), EInvalidGraphic);
  // An empty resource leaves the picture as it was.
  otherIcon->Data().Clear();
  otherIcon->GetImage(&plain);
  EXPECT_EQ(plain.Width(), 2);
}

TEST_F(GraphicsResources, DeletingKeepsGroupsAndImagesInStep) {
  const auto dib = DibImage(16, 16, 4);
  {
    TListModule m;
    AddTo(m, "3", "1", dib);
    AddTo(m, "3", "2", dib);
    auto* group = dynamic_cast<TIconGroupResourceDetails*>(AddTo(m, "14", "G", Group({1, 2})));
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->ContainsImage(dynamic_cast<TIconCursorResourceDetails*>(m.GetResource(0))));
    m.DeleteResource(0);
    ASSERT_EQ(group->GetImageCount(), 1);
    EXPECT_EQ(Get16(BytesOf(group), 4 + 2 + 12), 2);
    EXPECT_EQ(group->Data().Size(), 6 + 14);
    m.DeleteResource(m.IndexOfResource(m.FindByTypeAndName("3", "2")));
    EXPECT_EQ(m.GetResourceCount(), 0);
  }
  {
    TListModule m;
    AddTo(m, "3", "1", dib);
    AddTo(m, "14", "G", Group({1, 2}));
    AddTo(m, "3", "2", dib);
    AddTo(m, "3", "3", dib);  // in no group
    m.DeleteResource(1);
    ASSERT_EQ(m.GetResourceCount(), 1);
    EXPECT_EQ(m.GetResource(0)->Name(), "3");
  }
  {
    // A group naming a missing image, and one whose image another group lists
    // first: both can still be deleted, and the deletion ends.
    TListModule m;
    AddTo(m, "3", "1", dib);
    AddTo(m, "14", "A", Group({1}));
    auto* b = dynamic_cast<TIconGroupResourceDetails*>(AddTo(m, "14", "B", Group({9, 1, 1})));
    m.DeleteResource(m.IndexOfResource(b));
    EXPECT_EQ(m.GetResourceCount(), 0);  // image 1 went with B, and group A with its last image
  }
  {
    // A head that promises more entries than the data holds.
    TListModule m;
    auto cut = Group({1, 2});
    Put16(cut, 4, 5000);
    cut.resize(cut.size() - 1);
    auto* group = dynamic_cast<TIconGroupResourceDetails*>(AddTo(m, "14", "G", cut));
    EXPECT_EQ(group->GetImageCount(), 1);
    EXPECT_EQ(group->GetImageResource(1), nullptr);
  }
}

}  // namespace
