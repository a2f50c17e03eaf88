// Bitmap-level compositing, drop shadows, drawn pictures, the 32-bit BMP
// picture and the fast 8-bit bitmap.
#include <gtest/gtest.h>

#include <cstring>

#include "base/toolbox/bitmap_fix32.h"
#include "base/toolbox/bitmap_utils.h"
#include "base/toolbox/blend.h"
#include "base/toolbox/fast_dib.h"
#include "base/toolbox/shadows_metafile.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"

namespace {

// File fields lie at any byte offset: read and written through memcpy, since a
// uint32_t access there is misaligned.
uint32_t Le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void PutLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// A drawn picture of known shapes: the left half of its area filled in one
// colour, the rest left untouched.
class THalfGraphic : public TGraphic {
public:
  void Draw(TCanvas* canvas, const TRect& rect) override {
    canvas->Brush()->SetColor(0x204060);
    canvas->FillRect(TRect{rect.left, rect.top, rect.left + (rect.right - rect.left) / 2, rect.bottom});
  }
  bool GetEmpty() override { return false; }
  int GetWidth() override { return 4; }
  int GetHeight() override { return 2; }
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream&) override {}

protected:
  void DoSetWidth(int) override {}
  void DoSetHeight(int) override {}
};

TEST(MetafileToBitmap32, CoverageAndEmptyAreas) {
  THalfGraphic g;
  TBitmap out;
  MetafileToBitmap32(&g, &out, 4, 2);
  ASSERT_EQ(out.PixelFormat(), pf32bit);
  ASSERT_EQ(out.Width(), 4);
  EXPECT_EQ(GetPixel32(&out, 0, 0), 0xFF604020u);
  EXPECT_EQ(GetPixel32(&out, 3, 1), 0u);
  // Odd width: the middle pixel's block is half covered.
  TBitmap odd;
  MetafileToBitmap32(&g, &odd, 3, 1);
  EXPECT_EQ(GetPixel32(&odd, 1, 0), 0x80604020u);
  // A far enlargement goes through the middle-size drawing and stays in budget.
  TBitmap big;
  MetafileToBitmap32(&g, &big, 400, 200);
  EXPECT_EQ(GetPixel32(&big, 10, 100) >> 24, 255u);
  EXPECT_EQ(GetPixel32(&big, 390, 100), 0u);
  TBitmap refused;
  MetafileToBitmap32(&g, &refused, 40000, 2);
  EXPECT_EQ(refused.Width(), 0);
}

TEST(MetafileToBitmap32, RealMetafileGivesCoverageAsAlphaWithinBudget) {
  // Left half of a 4 x 2 picture filled: drawn at 3 x 1, the middle pixel's
  // 8 x 8 block is half covered.
  TMetafile half;
  half.SetWidth(4);
  half.SetHeight(2);
  {
    TMetafileCanvas canvas(&half, nullptr);
    canvas.Brush()->SetColor(0x204060);
    canvas.FillRect(TRect{0, 0, 2, 2});
  }
  TBitmap odd;
  MetafileToBitmap32(&half, &odd, 3, 1);
  EXPECT_EQ(GetPixel32(&odd, 0, 0), 0xFF604020u);
  EXPECT_EQ(GetPixel32(&odd, 1, 0), 0x80604020u);
  EXPECT_EQ(GetPixel32(&odd, 2, 0), 0u);  // nothing drawn: transparent
  // A 1,000-pixel picture at its own size is read in bands of the budget.
  TMetafile big;
  big.SetWidth(1000);
  big.SetHeight(1000);
  {
    TMetafileCanvas canvas(&big, nullptr);
    canvas.Brush()->SetColor(0x0000FF);
    canvas.Pen()->SetStyle(psClear);
    canvas.Ellipse(0, 0, 1000, 1000);
  }
  TBitmap out;
  MetafileToBitmap32(&big, &out, 0, 0);
  ASSERT_EQ(out.Width(), 1000);
  ASSERT_EQ(out.Height(), 1000);
  EXPECT_EQ(GetPixel32(&out, 500, 500), 0xFFFF0000u);
  EXPECT_EQ(GetPixel32(&out, 2, 2), 0u);
  EXPECT_GT(GetPixel32(&out, 500, 0) >> 24, 0u);  // the top edge of the disc, partly covered
}

TEST(MakeDropShadow, HardShadowUnderThePicture) {
  auto src = NewBitmap32(6, 6);
  std::fill(Block32(src.get()), Block32(src.get()) + 36, 0u);
  reinterpret_cast<uint32_t*>(BitmapRows(src.get()).Row(1))[1] = 0xFF0000FF;
  TBitmap out;
  MakeDropShadow(src.get(), &out, 0, 2, 2, 200, 0x00FF00);
  EXPECT_EQ(GetPixel32(&out, 3, 3), 0xC800FF00u);  // green shadow at alpha 200
  EXPECT_EQ(GetPixel32(&out, 1, 1), 0xFF0000FFu);
}

TEST(CompositingBitmaps, OverTwentyFourBitAndColour) {
  auto src = NewBitmap32(2, 1);
  Block32(src.get())[0] = 0x80FF0000;
  Block32(src.get())[1] = 0xFF00FF00;
  auto t = NewBitmap(pf24bit, 2, 1, clWhite);
  DrawAlphaOver(src.get(), t.get());
  // 255 + 128 x 255 div 255 - 128 x 255 div 255 = 255 for red; 255 - 128 for the others.
  EXPECT_EQ(t->Canvas()->Pixels(0, 0), 0x7F7FFF);
  EXPECT_EQ(t->Canvas()->Pixels(1, 0), 0x00FF00);
  FillRectAlpha(0xFF102030, t.get(), TRect{0, 0, 1, 1});
  EXPECT_EQ(t->Canvas()->Pixels(0, 0), 0x302010);
  auto fade = NewBitmap32(1, 1);
  Block32(fade.get())[0] = 0xC8123456;
  FadeAlpha(fade.get(), 255);
  EXPECT_EQ(Block32(fade.get())[0], 0x00123456u);
  auto adj = NewBitmap32(2, 1);
  Block32(adj.get())[0] = 0x01123456;
  Block32(adj.get())[1] = 0;
  auto mask = NewMonoBitmap();
  mask->SetSize(2, 1);
  AdjustAlpha(adj.get(), adj.get(), mask.get(), 255, true);
  EXPECT_EQ(Block32(adj.get())[0], 0xFF123456u);
  EXPECT_EQ(Block32(adj.get())[1], 0u);
  EXPECT_TRUE(TMaskPixels(mask.get()).IsWhite(1, 0));
}

std::vector<uint8_t> Bmp32(int w, int h, uint32_t imageSizeField, const std::vector<uint32_t>& px) {
  TMemoryStream s;
  BITMAPFILEHEADER f;
  f.bfSize = 54 + w * h * 4;
  f.bfOffBits = 54;
  BITMAPINFOHEADER i;
  i.biWidth = w;
  i.biHeight = h;
  i.biBitCount = 32;
  i.biSizeImage = imageSizeField;
  s.WriteBuffer(&f, 14);
  s.WriteBuffer(&i, 40);
  s.WriteBuffer(px.data(), static_cast<int64_t>(px.size() * 4));
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

TEST(TBitmapFix32, SavesAlphaAndLoadsTrailingData) {
  TBitmapFix32 b;
  b.SetPixelFormat(pf32bit);
  b.SetSize(2, 2);
  std::fill(Block32(&b), Block32(&b) + 4, 0x80112233u);
  TMemoryStream out;
  b.SaveToStream(out);
  ASSERT_EQ(out.Size(), 70);
  EXPECT_EQ(Le32(out.Memory() + 2), 70u);
  EXPECT_EQ(Le32(out.Memory() + 34), 16u);

  auto bytes = Bmp32(2, 1, 0, {0x80010203, 0x00040506});
  const size_t declared = bytes.size();
  bytes.insert(bytes.end(), 100, 0xAB);
  TCustomMemoryStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TBitmapFix32 loaded;
  loaded.LoadFromStream(in);
  EXPECT_EQ(in.Position(), static_cast<int64_t>(declared));
  ASSERT_EQ(loaded.PixelFormat(), pf32bit);
  EXPECT_EQ(GetPixel32(&loaded, 0, 0), 0x80010203u);

  auto zero = Bmp32(1, 1, 4, {0x00090807});
  TCustomMemoryStream zin(zero.data(), static_cast<int64_t>(zero.size()));
  TBitmapFix32 opaque;
  opaque.LoadFromStream(zin);
  EXPECT_EQ(GetPixel32(&opaque, 0, 0), 0xFF090807u);

  std::vector<uint8_t> junk(60, 0);
  TCustomMemoryStream jin(junk.data(), 60);
  EXPECT_THROW(opaque.LoadFromStream(jin), EInvalidGraphic);
  auto hostile = Bmp32(1, 1, 4, {0});
  PutLe32(hostile.data() + 14, 0x7FFFFFF0);  // header size
  TCustomMemoryStream hin(hostile.data(), static_cast<int64_t>(hostile.size()));
  EXPECT_THROW(opaque.LoadFromStream(hin), EInvalidGraphic);
}

TEST(TFast256, StreamRoundTripAndSizes) {
  TBitmap src;
  src.SetPixelFormat(pf24bit);
  src.SetSize(2, 1);
  src.Canvas()->SetPixels(0, 0, 0x0000FF);
  src.Canvas()->SetPixels(1, 0, 0xFF0000);
  TMemoryStream in;
  src.SaveToStream(in);
  in.SetPosition(0);
  TFast256 fast;
  ASSERT_TRUE(fast.LoadFromBmpStream(in, 1, 256));
  TMemoryStream out;
  fast.SaveToBmpStream(out);
  EXPECT_EQ(out.Size(), 1078 + 4);
  EXPECT_EQ(Le32(out.Memory() + 10), 1078u);
  out.SetPosition(0);
  TBitmap back;
  back.LoadFromStream(out);
  EXPECT_EQ(back.PixelFormat(), pf8bit);
  EXPECT_EQ(back.Canvas()->Pixels(0, 0), 0x0000F8);  // the middle of red cell 31
  EXPECT_EQ(back.Canvas()->Pixels(1, 0), 0xF80000);
  // Truncated and hostile streams are refused without reading past them.
  std::vector<uint8_t> shortBmp(in.Memory(), in.Memory() + 20);
  TCustomMemoryStream sin(shortBmp.data(), 20);
  EXPECT_FALSE(fast.LoadFromBmpStream(sin, 1, 256));
}

}  // namespace
