// TIcon: ICO files in and out, the image chosen for a size, and icon handles.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_builder.h"

#include "platform/graphics/bmp_codec.h"
#include "pillow_oracle.h"
#include "platform/graphics/graphics.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace {


// A 32-bit icon image of size n: a colour per row, alpha 255, AND mask all 0.
std::vector<uint8_t> IconImage32(int n, uint8_t shade) {
  std::vector<uint8_t> img;
  AppendLE32(img, 40);
  AppendLE32(img, static_cast<uint32_t>(n));
  AppendLE32(img, static_cast<uint32_t>(2 * n));
  AppendLE16(img, 1);
  AppendLE16(img, 32);
  AppendLE32(img, 0);
  AppendLE32(img, static_cast<uint32_t>(n * n * 4 + DibRowBytes(n, 1) * n));
  for (int i = 0; i < 4; ++i) AppendLE32(img, 0);
  for (int y = 0; y < n; ++y)  // bottom-up
    for (int x = 0; x < n; ++x) {
      img.push_back(shade);
      img.push_back(static_cast<uint8_t>(y * 7));
      img.push_back(static_cast<uint8_t>(x * 5));
      img.push_back(255);
    }
  img.resize(img.size() + static_cast<size_t>(DibRowBytes(n, 1) * n), 0);
  return img;
}

std::vector<uint8_t> IcoFile(const std::vector<std::vector<uint8_t>>& images, const std::vector<int>& sizes) {
  std::vector<uint8_t> f;
  AppendLE16(f, 0);
  AppendLE16(f, 1);
  AppendLE16(f, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    f.push_back(static_cast<uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]));
    f.push_back(static_cast<uint8_t>(sizes[i] >= 256 ? 0 : sizes[i]));
    f.push_back(0);
    f.push_back(0);
    AppendLE16(f, 1);
    AppendLE16(f, 32);
    AppendLE32(f, static_cast<uint32_t>(images[i].size()));
    AppendLE32(f, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& img : images) f.insert(f.end(), img.begin(), img.end());
  return f;
}

void Load(TIcon& icon, const std::vector<uint8_t>& bytes) {
  TCustomMemoryStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
  icon.LoadFromStream(s);
}

}  // namespace

TEST(Icon, ChoosesTheImageNearestTheRequestedSizeAndReportsItsOwnSize) {
  const auto file = IcoFile({IconImage32(16, 1), IconImage32(48, 2), IconImage32(32, 3)}, {16, 48, 32});
  TIcon icon;
  Load(icon, file);
  EXPECT_EQ(icon.Width(), 32);  // the system size when nothing else is asked
  EXPECT_EQ(icon.Height(), 32);
  icon.SetRequestedSize(16, 16);
  EXPECT_EQ(icon.Width(), 16);
  TIcon big;
  Load(big, IcoFile({IconImage32(48, 2)}, {48}));
  EXPECT_EQ(big.Width(), 48);
  EXPECT_THROW(big.SetWidth(16), EInvalidGraphicOperation);
  TIcon empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_NO_THROW(empty.SetWidth(16));
}

TEST(Icon, SavesTheFileItLoadedAndStopsAtItsEnd) {
  auto file = IcoFile({IconImage32(16, 1), IconImage32(32, 3)}, {16, 32});
  const size_t size = file.size();
  file.insert(file.end(), 50, 0xAB);
  TCustomMemoryStream s(file.data(), static_cast<int64_t>(file.size()));
  TIcon icon;
  icon.LoadFromStream(s);
  EXPECT_EQ(s.Position(), static_cast<int64_t>(size));
  TMemoryStream out;
  icon.SaveToStream(out);
  EXPECT_EQ(std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size()),
            std::vector<uint8_t>(file.begin(), file.begin() + static_cast<ptrdiff_t>(size)));
}

TEST(Icon, MalformedFilesRaiseInvalidGraphic) {
  const auto good = IcoFile({IconImage32(16, 1)}, {16});
  auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
    auto f = good;
    std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<ptrdiff_t>(at));
    return f;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"cursor type", patched(2, {2, 0})},
      {"no images", patched(4, {0, 0})},
      {"65535 images", patched(4, {0xFF, 0xFF})},
      {"directory cut", std::vector<uint8_t>(good.begin(), good.begin() + 12)},
      {"image past the end", patched(14, {0xFF, 0xFF, 0, 0})},
      {"offset past the end", patched(18, {0, 0, 0, 1})},
      {"offset inside the directory", patched(18, {2, 0, 0, 0})},
      {"image cut", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"image header not a DIB", patched(22, {7, 0, 0, 0})},
      {"image width 0", patched(26, {0, 0, 0, 0})},
      {"image height negative", patched(30, {0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& c : cases) {
    TIcon icon;
    try {
      Load(icon, c.bytes);
      ADD_FAILURE() << c.name << ": no exception";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), "Icon image is not valid") << c.name;
    }
    EXPECT_TRUE(icon.Empty()) << c.name;
  }
}

TEST(Icon, HandleDrawsTheChosenImage) {
  TIcon icon;
  Load(icon, IcoFile({IconImage32(16, 1), IconImage32(32, 200)}, {16, 32}));
  ASSERT_NE(icon.Handle(), nullptr);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(40, 40);
  target.Canvas()->Draw(4, 4, &icon);
  const bmpcodec::Rgba p = bmpcodec::PixelAt(target.View(), 4 + 10, 4 + 31 - 3);  // icon row 31-3 from the top
  EXPECT_EQ(p.b, 200);
  EXPECT_EQ(p.r, 50);
  EXPECT_EQ(p.g, 21);
}

TEST(Icon, IconMadeFromAHandleSavesAnIcoThatPillowReadsOracle) {
  // Colour: a 32-bit bitmap; mask: opaque everywhere.
  TBitmap color;
  color.SetPixelFormat(pf32bit);
  color.SetSize(24, 24);
  for (int y = 0; y < 24; ++y) {
    auto* row = static_cast<uint8_t*>(color.ScanLine(y));
    for (int x = 0; x < 24; ++x) {
      row[x * 4] = static_cast<uint8_t>(x * 10);
      row[x * 4 + 1] = static_cast<uint8_t>(y * 10);
      row[x * 4 + 2] = 77;
      row[x * 4 + 3] = 255;
    }
  }
  TBitmap mask;
  mask.SetMonochrome(true);
  mask.SetSize(24, 24);
  mask.Canvas()->Brush()->SetColor(clBlack);
  mask.Canvas()->FillRect(Rect(0, 0, 24, 24));
  ICONINFO ii;
  ii.hbmColor = color.Handle();
  ii.hbmMask = mask.Handle();
  TIcon icon;
  icon.SetHandle(CreateIconIndirect(&ii));
  ASSERT_FALSE(icon.Empty());
  EXPECT_EQ(icon.Width(), 24);
  TMemoryStream s;
  icon.SaveToStream(s);
  s.SetPosition(0);
  TIcon back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.Width(), 24);

  if (!qvtest::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
  qvtest::TempDir dir;
  const std::string path = dir.File("made.ico");
  s.SaveToFile(path);
  int w = 0, h = 0;
  const auto pil = qvtest::PillowPixels(path, &w, &h);
  ASSERT_EQ(w, 24);
  ASSERT_EQ(h, 24);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) {
      const uint8_t* q = &pil[(static_cast<size_t>(y) * 24 + x) * 4];
      ASSERT_EQ(q[0], 77);
      ASSERT_EQ(q[1], y * 10);
      ASSERT_EQ(q[2], x * 10);
      ASSERT_EQ(q[3], 255);
    }
}

TEST(Picture, LoadsByExtensionAndSwitchesClassOnDemand) {
  qvtest::TempDir dir;
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(3, 2);
  const std::string path = dir.File("pic.Bmp");
  b.SaveToFile(path);
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TObject*) { ++changes; };
  picture.LoadFromFile(path);
  ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 3);
  EXPECT_GT(changes, 0);
  picture.Bitmap()->SetSize(5, 5);  // changes of the graphic reach the picture
  EXPECT_EQ(picture.Height(), 5);
  TIcon* icon = picture.Icon();
  EXPECT_TRUE(icon->Empty());
  TPicture copy;
  picture.Bitmap()->SetSize(2, 2);
  copy.Assign(&picture);
  ASSERT_NE(copy.Graphic(), picture.Graphic());
  EXPECT_EQ(copy.Width(), 2);
}
