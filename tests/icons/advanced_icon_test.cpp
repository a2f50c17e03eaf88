#include "icons/advanced_icon.h"
#include "icons/sub_icon_render.h"

#include <gtest/gtest.h>

#include "icon_test_util.h"
#include "platform/graphics/graphics_bitmap.h"

using namespace icontest;

namespace {

std::unique_ptr<TSubIcon> Image(int w, int h, int bpp) {
  const auto bits = DibImage(w, h, bpp);
  TCustomMemoryStream s(bits.data(), int64_t(bits.size()));
  return TSubIcon::CreateFromBitsStream<TFileIconImage>(s);
}

struct Size3 {
  int w, h, bpp;
};

void Fill(TAdvancedIcon& icon, std::initializer_list<Size3> sizes) {
  for (const auto& s : sizes) icon.Images().Add(Image(s.w, s.h, s.bpp));
}

std::vector<std::string> Descriptions(TAdvancedIcon& icon) {
  std::vector<std::string> out;
  for (int i = 0; i < icon.Count(); ++i) out.push_back(icon.Images()[i]->GetDescription());
  return out;
}

struct BestCase {
  int w, h, d;
  int want;
};

TEST(BestImage, ScoresSizeBeforeDepth) {
  TAdvancedIcon icon;
  Fill(icon, {{16, 16, 4}, {32, 32, 8}, {48, 48, 32}});
  const BestCase cases[] = {
      {32, 32, 32, 1},  // size score 0 beats depth
      {40, 40, 0, 2},   // the 32-pixel image is more than an eighth smaller
      {0, 0, 32, 2},    {16, 16, 0, 0}, {0, 0, 0, 0}, {17, 17, 4, 0},  // an eighth larger still fits
      {48, 48, 4, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(icon.Images().FindBestIndex(c.w, c.h, c.d), c.want) << c.w << "x" << c.h << "x" << c.d;
    EXPECT_EQ(icon.GetBestImage(c.w, c.h, c.d), icon.Images()[c.want]);
  }
}

TEST(BestImage, SixteenBitRequestPenalisesFewColours) {
  TAdvancedIcon icon;
  Fill(icon, {{32, 32, 4}, {32, 32, 32}});
  EXPECT_EQ(icon.Images().FindBestIndex(32, 32, 16), 1);  // 12 + 8 against 16
  TAdvancedIcon one;
  Fill(one, {{16, 16, 4}});
  EXPECT_EQ(one.GetBestImage(256, 256, 32), one.Images()[0]);
  TAdvancedIcon empty;
  EXPECT_EQ(empty.GetBestImage(32, 32, 32), nullptr);
  EXPECT_EQ(empty.GetBestHandle(32, 32, 32), nullptr);
}

TEST(BestImage, FindImageExactOrSimilarDepth) {
  TAdvancedIcon icon;
  Fill(icon, {{32, 32, 8}});
  EXPECT_EQ(icon.FindImage(32, 32, 24), icon.Images()[0]);
  EXPECT_EQ(icon.FindImage(32, 32, 32), nullptr);
  EXPECT_EQ(icon.FindImage(16, 16, 8), nullptr);
  EXPECT_EQ(icon.Images().IndexOfImage(32, 32, 8), 0);
  EXPECT_EQ(icon.Images().IndexOfImage(32, 32, 4), -1);
  int w, h, d;
  Fill(icon, {{16, 64, 4}});
  icon.GetMaxDimensions(w, h, d);
  EXPECT_EQ(w, 32);
  EXPECT_EQ(h, 64);
  EXPECT_EQ(d, 8);
}

TEST(ImageList, SortPutsDeepAndLargeFirstAndIsStable) {
  TAdvancedIcon icon;
  Fill(icon, {{32, 32, 8}, {128, 128, 32}, {32, 32, 32}});
  icon.Images().Sort();
  EXPECT_EQ(Descriptions(icon), (std::vector<std::string>{"128x128x32bpp", "32x32x32bpp", "32x32x256"}));

  TAdvancedIcon mac;
  Fill(mac, {{32, 32, 32}, {32, 32, 32}, {16, 16, 8}, {48, 48, 8}});
  TSubIcon* plain = mac.Images()[0];
  mac.Images()[1]->MarkAsMacHiResElement(true);
  mac.Images().Sort();
  EXPECT_EQ(mac.Images()[0], plain);  // a plain image before a high-resolution one of equal width
  EXPECT_TRUE(mac.Images()[1]->IsMacHiResElement());
  EXPECT_EQ(mac.Images()[2]->GetWidth(), 48);

  // The high-resolution element added first still sorts behind the plain one.
  TAdvancedIcon hiResFirst;
  Fill(hiResFirst, {{16, 16, 8}, {32, 32, 32}, {32, 32, 32}});
  TSubIcon* hiRes = hiResFirst.Images()[1];
  hiRes->MarkAsMacHiResElement(true);
  TSubIcon* plainLast = hiResFirst.Images()[2];
  hiResFirst.Images().Sort();
  EXPECT_EQ(hiResFirst.Images()[0], plainLast);
  EXPECT_EQ(hiResFirst.Images()[1], hiRes);

  // A longer list in no order: every depth and size lands in its place.
  TAdvancedIcon many;
  Fill(many, {{16, 16, 4}, {48, 48, 8}, {24, 24, 32}, {16, 16, 32}, {256, 256, 32}, {32, 32, 4},
              {32, 32, 8}, {48, 48, 32}, {16, 16, 8}, {48, 48, 4}, {32, 32, 32}});
  many.Images().Sort();
  EXPECT_EQ(Descriptions(many),
            (std::vector<std::string>{"256x256x32bpp", "48x48x32bpp", "32x32x32bpp", "24x24x32bpp", "16x16x32bpp",
                                      "48x48x256", "32x32x256", "16x16x256", "48x48x16", "32x32x16", "16x16x16"}));
}

TEST(ImageList, InsertMoveRemoveTake) {
  TAdvancedIcon icon;
  Fill(icon, {{16, 16, 4}, {32, 32, 4}});
  icon.Images().Insert(1, Image(24, 24, 4));
  icon.Images().Insert(99, Image(48, 48, 4));
  EXPECT_EQ(Descriptions(icon),
            (std::vector<std::string>{"16x16x16", "24x24x16", "32x32x16", "48x48x16"}));
  icon.Images().Move(3, 0);
  EXPECT_EQ(icon.Images()[0]->GetWidth(), 48);
  EXPECT_EQ(icon.Images()[1]->GetWidth(), 16);
  icon.Images().Delete(0);
  icon.Images().RemoveAt(7, true);  // nothing
  EXPECT_EQ(icon.Count(), 3);
  EXPECT_EQ(icon.Images().GetItem(3), nullptr);
  EXPECT_GE(icon.Images().Capacity(), icon.Count());

  TAdvancedIcon other;
  Fill(other, {{64, 64, 8}, {20, 20, 8}});
  icon.Images().TakeImage(&other, 1);
  icon.Images().TakeImage(&other, 5);
  icon.Images().TakeImage(nullptr, 0);
  EXPECT_EQ(other.Count(), 1);
  EXPECT_EQ(icon.Images()[3]->GetWidth(), 20);
  icon.Images().TakeAllImages(&other);
  EXPECT_EQ(other.Count(), 0);
  EXPECT_EQ(icon.Images()[4]->GetWidth(), 64);

  TAdvancedIcon copy;
  copy.Assign(&icon);
  ASSERT_EQ(copy.Count(), 5);
  EXPECT_NE(copy.Images()[0], icon.Images()[0]);
  EXPECT_EQ(copy.Images()[0]->Bits(), icon.Images()[0]->Bits());
}

// A pf32bit bitmap whose alpha runs 0..255 along each row.
std::unique_ptr<TBitmap> AlphaRamp(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf32bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    auto* px = static_cast<uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < w; ++x) {
      px[x * 4] = 10;
      px[x * 4 + 1] = 20;
      px[x * 4 + 2] = 30;
      px[x * 4 + 3] = uint8_t(x * 255 / (w - 1));
    }
  }
  return b;
}

// The AND bit of pixel (x, y from the top) of a DIB icon image.
bool AndBit(const TSubIcon& im, int x, int y) {
  const auto& bits = im.Bits();
  const int w = int(Get32(bits, 4)), h = int(Get32(bits, 8)) / 2, bpp = Get16(bits, 14);
  const size_t colours = bpp <= 8 ? (size_t(1) << bpp) : 0;
  const size_t andAt = 40 + colours * 4 + RowBytes(w, bpp) * h;
  const uint8_t byte = bits[andAt + RowBytes(w, 1) * size_t(h - 1 - y) + size_t(x / 8)];
  return (byte >> (7 - x % 8)) & 1;
}

TEST(AddBitmap, MasksFromAlphaAtTheThreshold) {
  auto ramp = AlphaRamp(256, 2);  // alpha equals x
  struct Case {
    uint8_t threshold;
    bool emptyMaskObject;
  };
  for (const Case c : {Case{80, false}, Case{80, true}, Case{0, false}, Case{200, true}}) {
    TAdvancedIcon icon;
    TBitmap emptyMask;
    TSubIcon* im = icon.Images().AddBitmap(ramp.get(), c.emptyMaskObject ? &emptyMask : nullptr, c.threshold);
    ASSERT_NE(im, nullptr);
    EXPECT_EQ(im->GetBitsPerPixel(), 32);
    EXPECT_EQ(im->Head().bWidth, 0);  // 256 pixels wide
    for (int x : {0, int(c.threshold) - 1, int(c.threshold), int(c.threshold) + 1, 255}) {
      if (x < 0) continue;
      EXPECT_EQ(AndBit(*im, x, 0), x <= c.threshold) << "x " << x << " threshold " << int(c.threshold);
    }
  }
}

TEST(AddBitmap, OtherBitmapsGetTheFillByteAndEmptyBitmapsOnePixel) {
  TBitmap rgb;
  rgb.SetPixelFormat(pf24bit);
  rgb.SetSize(9, 3);
  TAdvancedIcon icon;
  TSubIcon* opaque = icon.Images().AddBitmap(&rgb, nullptr, 0);
  for (int x = 0; x < 9; ++x) EXPECT_FALSE(AndBit(*opaque, x, 1));
  TSubIcon* filled = icon.Images().AddBitmap(&rgb, nullptr, 0xFF);
  EXPECT_TRUE(AndBit(*filled, 8, 2));
  TBitmap empty;
  TSubIcon* dot = icon.Images().AddBitmap(&empty, nullptr, 0);
  EXPECT_EQ(dot->GetWidth(), 1);
  EXPECT_EQ(dot->GetHeight(), 1);
  EXPECT_EQ(dot->GetBitsPerPixel(), 24);

  // A mask bitmap given by the caller becomes the AND mask.
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(9, 3);
  mask.Canvas()->Brush()->SetColor(clBlack);
  mask.Canvas()->FillRect(Rect(0, 0, 9, 3));
  mask.Canvas()->SetPixels(4, 1, clWhite);
  TSubIcon* masked = icon.Images().AddBitmap(&rgb, &mask, 0);
  EXPECT_TRUE(AndBit(*masked, 4, 1));
  EXPECT_FALSE(AndBit(*masked, 3, 1));
}

TEST(AddBitmap, ReplaceKeepsOneImageInItsPlace) {
  auto ramp = AlphaRamp(16, 16);
  TAdvancedIcon one;
  Fill(one, {{32, 32, 8}});
  one.Images().ReplaceWithBitmap(ramp.get(), nullptr, 0, 80);
  ASSERT_EQ(one.Count(), 1);
  EXPECT_EQ(one.Images()[0]->GetDescription(), "16x16x32bpp");
  TAdvancedIcon empty;
  empty.Images().ReplaceWithBitmap(ramp.get(), nullptr, 0, 80);
  ASSERT_EQ(empty.Count(), 1);
  TAdvancedIcon three;
  Fill(three, {{32, 32, 8}, {24, 24, 8}, {48, 48, 8}});
  three.Images().ReplaceWithBitmap(ramp.get(), nullptr, 1, 80);
  EXPECT_EQ(Descriptions(three), (std::vector<std::string>{"32x32x256", "16x16x32bpp", "48x48x256"}));
  // No bitmap: no image is made, and none is lost.
  three.Images().ReplaceWithBitmap(nullptr, nullptr, 0, 80);
  EXPECT_EQ(Descriptions(three), (std::vector<std::string>{"32x32x256", "16x16x32bpp", "48x48x256"}));
}

TEST(AddDIB, HeaderFieldsAreCheckedAgainstTheData) {
  // A plain 24-bit DIB of 4 by 2 without mask rows.
  auto make = [] {
    std::vector<uint8_t> d(40 + 16 * 2, 0x33);
    std::fill(d.begin(), d.begin() + 40, 0);
    Put32(d, 0, 40);
    Put32(d, 4, 4);
    Put32(d, 8, 2);
    Put16(d, 12, 1);
    Put16(d, 14, 24);
    return d;
  };
  {
    auto d = make();
    TCustomMemoryStream s(d.data(), int64_t(d.size()));
    TSubIconList list;
    TSubIcon* im = list.AddDIB(s, nullptr, 0, int64_t(d.size()));
    EXPECT_EQ(im->GetDescription(), "4x2x16M");
    EXPECT_EQ(im->BytesInRes(), 40u + 24u + 8u);  // rows of 12 bytes, mask rows of 4
    EXPECT_EQ(Get32(im->Bits(), 8), 4u);  // height doubled
  }
  struct Bad {
    const char* what;
    size_t at;
    uint32_t value;
    bool word;
  };
  const Bad bads[] = {
      {"planes", 12, 2, true},          {"header size", 0, 4000, false}, {"colours used", 32, 300, false},
      {"bit count", 14, 7, true},       {"width", 4, 0x7FFFFFFF, false}, {"top-down", 8, 0xFFFFFFFE, false},
      {"rows missing", 8, 50, false},
  };
  for (const auto& b : bads) {
    auto d = make();
    if (b.word)
      Put16(d, b.at, b.value);
    else
      Put32(d, b.at, b.value);
    TCustomMemoryStream s(d.data(), int64_t(d.size()));
    TSubIconList list;
    EXPECT_THROW(list.AddDIB(s, nullptr, 0, int64_t(d.size())), Exception) << b.what;
    EXPECT_EQ(list.Count(), 0) << b.what;
  }
  // An image size field that lies is ignored: the rows are what width and height say.
  auto d = make();
  Put32(d, 20, 0xFFFFFF00u);
  TCustomMemoryStream s(d.data(), int64_t(d.size()));
  TSubIconList list;
  EXPECT_EQ(list.AddDIB(s, nullptr, 0, int64_t(d.size()))->BytesInRes(), 72u);
}

// A 124-byte header carries its bit-field masks inside itself; the image it
// makes draws its own pixels, not ones shifted by a second set of masks.
TEST(AddDIB, LongHeadersKeepTheirMasksInside) {
  const int w = 2, h = 2;
  std::vector<uint8_t> d(124 + 4 * w * h, 0);
  Put32(d, 0, 124);
  Put32(d, 4, w);
  Put32(d, 8, h);
  Put16(d, 12, 1);
  Put16(d, 14, 32);
  Put32(d, 16, 3);  // bit fields
  Put32(d, 40, 0x00FF0000);
  Put32(d, 44, 0x0000FF00);
  Put32(d, 48, 0x000000FF);
  Put32(d, 52, 0xFF000000);
  const uint32_t pixels[4] = {0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0};  // bottom row first
  for (int i = 0; i < 4; ++i) Put32(d, 124 + 4 * size_t(i), pixels[i]);
  TCustomMemoryStream s(d.data(), int64_t(d.size()));
  TSubIconList list;
  TSubIcon* im = list.AddDIB(s, nullptr, 0, int64_t(d.size()));
  ASSERT_NE(im, nullptr);
  EXPECT_EQ(im->BytesInRes(), 124u + 16u + 8u);
  TBitmap raw;
  ExtractBitmaps(*im, nullptr, &raw, kNoBackground, nullptr);
  ASSERT_EQ(raw.GetWidth(), 2);
  EXPECT_EQ(raw.Canvas()->Pixels(0, 1), TColor(0x302010));  // bottom left
  EXPECT_EQ(raw.Canvas()->Pixels(1, 0), TColor(0xC0B0A0));  // top right
}


// A bitmap becomes the image its bitmap file gives through AddDIB: its header,
// colour table and rows, with the mask's rows behind.
TEST(AddBitmap, ImageIsTheDibOfTheBitmapFile) {
  for (TPixelFormat pf : {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit})
    for (int maskKind = 0; maskKind < 3; ++maskKind) {
      TBitmap b;
      b.SetPixelFormat(pf);
      b.SetSize(13, 9);
      for (int y = 0; y < 9; ++y) {
        auto* row = static_cast<uint8_t*>(b.ScanLine(y));
        for (int i = 0; i < DibRowBytes(13, b.View().bitCount); ++i) row[i] = uint8_t(y * 31 + i * 7);
      }
      TBitmap mask;
      mask.SetPixelFormat(maskKind == 1 ? pf1bit : pf24bit);  // 2: a colour mask of another size
      mask.SetSize(maskKind == 1 ? 13 : 20, maskKind == 1 ? 9 : 5);
      mask.Canvas()->Brush()->SetColor(clWhite);
      mask.Canvas()->FillRect(Rect(0, 0, 6, 4));
      TBitmap* m = maskKind == 0 ? nullptr : &mask;

      TSubIconList list;
      TSubIcon* got = list.AddBitmap(&b, m, 0x40);
      // The same through bitmap files.
      TMemoryStream colour, maskRows;
      b.SaveToStream(colour);
      colour.SetPosition(14);
      bool haveMask = false;
      if (m) {
        TBitmap mono;
        mono.Assign(m);
        mono.SetPixelFormat(pf1bit);
        mono.SetSize(13, 9);
        TMemoryStream file;
        mono.SaveToStream(file);
        file.SetPosition(10);
        const uint32_t offBits = file.ReadValue<uint32_t>();
        file.SetPosition(offBits);
        maskRows.CopyFrom(file, file.Size() - offBits);
        maskRows.SetPosition(0);
        haveMask = true;
      } else if (pf == pf32bit) {
        continue;  // the mask comes from alpha: MasksFromAlphaAtTheThreshold
      }
      TSubIconList viaFiles;
      TSubIcon* want = viaFiles.AddDIB(colour, haveMask ? &maskRows : nullptr, 0x40, colour.Size() - 14);
      EXPECT_EQ(got->Bits(), want->Bits()) << "format " << int(pf) << " mask " << maskKind;
      EXPECT_EQ(got->GetBitsPerPixel(), want->GetBitsPerPixel());
    }
}

}  // namespace
