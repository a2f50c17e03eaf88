#include "imaging/core/ie_virtual_image_list.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_memory.h"

namespace {

// Every pixel byte (rows, palette, alpha, full flag) of a picture as a plain
// model keeps it, padding left out.
struct Model {
  int width = 0, height = 0;
  TIEBitmapFormat format = ieNoFormat;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<TRGB> palette;
  bool hasAlpha = false;
  bool alphaFull = false;
  std::vector<std::vector<uint8_t>> alpha;
};

int64_t UsedBytes(TIEBitmap& b) { return (int64_t(b.Width()) * b.BitCount() + 7) / 8; }

Model Capture(TIEBitmap& b) {
  Model m;
  m.width = b.Width();
  m.height = b.Height();
  m.format = b.PixelFormat();
  for (int y = 0; y < m.height; ++y) {
    const uint8_t* r = b.ScanLine(y);
    m.rows.emplace_back(r, r + UsedBytes(b));
  }
  if (m.format == ie8p)
    for (int i = 0; i < 256; ++i) {
      TRGB c;
      b.GetPaletteColor(i, c);
      m.palette.push_back(c);
    }
  m.hasAlpha = b.HasAlphaChannel();
  if (m.hasAlpha) {
    TIEBitmap* a = b.AlphaChannel();
    m.alphaFull = a->Full();
    for (int y = 0; y < m.height; ++y) {
      const uint8_t* r = a->ScanLine(y);
      m.alpha.emplace_back(r, r + m.width);
    }
  }
  return m;
}

// A picture of random content; with alpha, the channel is opaque in about one
// case of four (then it is stored as such and reads back without alpha).
void Fill(TIEBitmap& b, std::mt19937& rng, int w, int h, TIEBitmapFormat f, bool alpha) {
  ASSERT_TRUE(b.Allocate(w, h, f));
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b.ScanLine(y);
    for (int64_t i = 0; i < b.RowLen(); ++i) r[i] = uint8_t(rng());
  }
  if (f == ie8p)
    for (int i = 0; i < 256; ++i) b.SetPaletteColor(i, MakeRGB(uint8_t(rng()), uint8_t(rng()), uint8_t(rng())));
  if (!alpha) return;
  TIEBitmap* a = b.AlphaChannel();
  const bool opaque = rng() % 4 == 0;
  for (int y = 0; y < h; ++y) {
    uint8_t* r = a->ScanLine(y);
    for (int x = 0; x < w; ++x) r[x] = opaque ? 255 : uint8_t(rng());
  }
  a->SetFull(opaque);
}

void ExpectSame(const Model& want, const Model& got, const char* where) {
  ASSERT_EQ(got.width, want.width) << where;
  ASSERT_EQ(got.height, want.height) << where;
  ASSERT_EQ(got.format, want.format) << where;
  EXPECT_TRUE(got.rows == want.rows) << where;
  if (want.format == ie8p) {
    ASSERT_EQ(got.palette.size(), want.palette.size()) << where;
    for (size_t i = 0; i < want.palette.size(); ++i)
      ASSERT_TRUE(got.palette[i].r == want.palette[i].r && got.palette[i].g == want.palette[i].g &&
                  got.palette[i].b == want.palette[i].b)
          << where << " palette " << i;
  }
  // An opaque channel is kept as its flag only and reads back as no channel.
  const bool wantAlpha = want.hasAlpha && !want.alphaFull;
  ASSERT_EQ(got.hasAlpha, wantAlpha) << where;
  if (wantAlpha) {
    EXPECT_TRUE(got.alpha == want.alpha) << where;
  }
}

Model ReadBack(TIEVirtualImageList& list, TIEVirtualImageHandle h) {
  TIEBitmap b;
  EXPECT_TRUE(list.ReadBitmap(h, &b));
  return Capture(b);
}

class VirtualImageList : public ::testing::TestWithParam<bool> {};

}  // namespace

TEST(VirtualImageListLayout, ReservedSizes) {
  TIEVirtualImageList list("ILIST", false);
  TIEVirtualImageHandle a = list.AddImage(100, 100, 24, ie24RGB, false);
  TIEVirtualImageHandle b = list.AddImage(100, 100, 24, ie24RGB, true);
  TIEVirtualImageHandle c = list.AddImage(100, 100, 8, ie8p, false);
  TIEVirtualImageHandle d = list.AddImage(3, 2, 1, ie1g, true);
  ASSERT_TRUE(a && b && c && d);
  EXPECT_EQ(a->size, 100 * 300);
  EXPECT_EQ(b->size, 100 * 300 + 1 + 100 * 100);
  EXPECT_EQ(c->size, 100 * 100 + 768);
  EXPECT_EQ(d->size, 2 * 4 + 1 + 2 * 4);  // rows padded to 32 bits
  EXPECT_EQ(a->offset, 0);
  EXPECT_EQ(b->offset, a->size);
  EXPECT_EQ(list.AllocationEnd(), d->offset + d->size);
}

TEST(VirtualImageListLayout, StoredBytesAreBottomRowFirstThenPaletteThenFlagAndAlpha) {
  TIEVirtualImageList list("ILIST", true);
  TIEBitmap b(2, 2, ie8p);
  b.ScanLine(0)[0] = 1, b.ScanLine(0)[1] = 2;  // top row
  b.ScanLine(1)[0] = 3, b.ScanLine(1)[1] = 4;
  b.SetPaletteColor(1, MakeRGB(10, 20, 30));
  TIEBitmap* a = b.AlphaChannel();
  a->SetPixel8(0, 0, 7);
  a->SetPixel8(0, 1, 9);
  a->SetFull(false);
  TIEVirtualImageHandle h = list.AddBitmap(&b);
  ASSERT_NE(h, nullptr);
  const uint8_t* p = list.ImageBits(h);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 3);  // bottom row first
  EXPECT_EQ(p[4], 1);
  const uint8_t* pal = list.ImagePalette(h);
  ASSERT_EQ(pal, p + 8);
  EXPECT_EQ(pal[3], 30);  // blue, green, red
  EXPECT_EQ(pal[5], 10);
  EXPECT_EQ(pal[768], 0);  // full flag
  const uint8_t* alpha = list.ImageAlphaBits(h);
  ASSERT_EQ(alpha, pal + 769);
  EXPECT_EQ(alpha[0], 9);
  EXPECT_EQ(alpha[4], 7);
}

TEST_P(VirtualImageList, AtMostElevenWindowsAndLeastRecentlyUsedGoesFirst) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::vector<TIEVirtualImageHandle> h;
  for (int i = 0; i < 12; ++i) {
    h.push_back(list.AddImage(10, 10, 24, ie24RGB, false));
    ASSERT_NE(h.back(), nullptr);
    std::memset(list.ImageBits(h.back()), i + 1, 300);
    EXPECT_LE(list.MappedCount(), 11);
  }
  EXPECT_EQ(list.MappedCount(), 11);
  EXPECT_EQ(h[0]->mapped, nullptr);  // the first one went when the twelfth came
  // Reading the first again maps it and evicts the least recently used (the second).
  ASSERT_NE(list.ImageBits(h[0]), nullptr);
  EXPECT_EQ(list.ImageBits(h[0])[299], 1);
  EXPECT_EQ(h[1]->mapped, nullptr);
  EXPECT_EQ(list.MappedCount(), 11);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(list.ImageBits(h[i])[0], i + 1) << i;
}

TEST_P(VirtualImageList, CheckoutIsSharedAndCounted) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::mt19937 rng(5);
  TIEBitmap src;
  Fill(src, rng, 7, 5, ie24RGB, false);
  TIEVirtualImageHandle h = list.AddBitmap(&src);
  TIEBitmap* b1 = list.GetBitmap(h);
  TIEBitmap* b2 = list.GetBitmap(h);
  ASSERT_NE(b1, nullptr);
  EXPECT_EQ(b1, b2);
  EXPECT_EQ(list.CheckedOutCount(h), 2);
  // Checked out, the image's bits are the bitmap's single block.
  EXPECT_EQ(list.ImageBits(h), b1->ScanLine(4));
  EXPECT_EQ(b1->ScanLine(0), b1->ScanLine(4) + 4 * b1->RowLen());
  list.ReleaseBitmap(b1, false);
  EXPECT_EQ(list.FindCheckedOut(h), 0);
  list.ReleaseBitmap(b2, false);
  EXPECT_EQ(list.FindCheckedOut(h), -1);
  EXPECT_EQ(h->checkedOut, 0);
  list.ReleaseBitmap(nullptr, true);  // nothing
  ExpectSame(Capture(src), ReadBack(list, h), "after release");
}

TEST_P(VirtualImageList, WriteBackOfAResizedBitmapMovesTheImageAndFreesItsSpace) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::mt19937 rng(7);
  TIEBitmap src;
  Fill(src, rng, 20, 10, ie24RGB, false);
  TIEVirtualImageHandle h = list.AddBitmap(&src);
  h->originalWidth = 2000;
  TIEBitmap* b = list.GetBitmap(h);
  Fill(*b, rng, 30, 12, ie24RGB, true);
  const Model want = Capture(*b);
  const int64_t oldOffset = h->offset, oldSize = h->size;
  list.ReleaseBitmap(b, true);
  EXPECT_EQ(list.ImageWidth(h), 30);
  EXPECT_EQ(list.ImageHeight(h), 12);
  EXPECT_EQ(h->originalWidth, 2000);
  EXPECT_NE(h->offset, oldOffset);
  ExpectSame(want, ReadBack(list, h), "resized");
  // The old space is free again: an image that fits takes it.
  TIEVirtualImageHandle again = list.AddImage(20, 10, 24, ie24RGB, false);
  EXPECT_EQ(again->offset, oldOffset);
  EXPECT_EQ(again->size, oldSize);
}

TEST_P(VirtualImageList, PaletteImageRewrittenAsGreyDoesNotLeakItsPaletteIntoTheNextImage) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::mt19937 rng(9);
  TIEBitmap grey, pal, next;
  Fill(grey, rng, 16, 16, ie8g, false);
  Fill(pal, rng, 16, 16, ie8p, false);
  Fill(next, rng, 16, 16, ie8g, false);
  TIEVirtualImageHandle h = list.AddBitmap(&grey);
  TIEVirtualImageHandle n = list.AddBitmap(&next);
  ASSERT_TRUE(list.WriteBitmap(h, &pal));
  EXPECT_EQ(list.ImagePixelFormat(h), ie8p);
  ExpectSame(Capture(pal), ReadBack(list, h), "palette image");
  ExpectSame(Capture(next), ReadBack(list, n), "next image untouched");
}

TEST_P(VirtualImageList, OpaqueAlphaReadsBackWithoutAChannel) {
  TIEVirtualImageList list("ILIST", GetParam());
  TIEBitmap b(4, 4, ie24RGB);
  b.Fill(0x123456);
  b.AlphaChannel()->Fill(255);
  b.AlphaChannel()->SetFull(true);
  TIEVirtualImageHandle h = list.AddBitmap(&b);
  EXPECT_TRUE(list.ImageHasAlpha(h));
  EXPECT_EQ(list.ImageAlphaBits(h), nullptr);
  TIEBitmap out;
  out.AlphaChannel();
  ASSERT_TRUE(list.ReadBitmap(h, &out));
  EXPECT_FALSE(out.HasAlphaChannel());
}

TEST_P(VirtualImageList, DeletingTheLastImageShrinksTheStore) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::vector<TIEVirtualImageHandle> h;
  for (int i = 0; i < 5; ++i) h.push_back(list.AddImage(200, 200, 24, ie24RGB, false));
  EXPECT_GT(list.StoreSize(), 262144);
  for (auto x : h) list.DeleteImage(x);
  EXPECT_EQ(list.StoreSize(), 262144);
  EXPECT_EQ(list.AllocationEnd(), 0);
  TIEVirtualImageHandle n = list.AddImage(10, 10, 24, ie24RGB, false);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->offset, 0);
}

TEST_P(VirtualImageList, FreedNeighboursMergeAndFirstFitTakesThem) {
  TIEVirtualImageList list("ILIST", GetParam());
  auto a = list.AddImage(10, 10, 32, ie32RGB, false);  // 400 bytes each
  auto b = list.AddImage(10, 10, 32, ie32RGB, false);
  auto c = list.AddImage(10, 10, 32, ie32RGB, false);
  auto keep = list.AddImage(10, 10, 32, ie32RGB, false);
  ASSERT_TRUE(keep);
  list.DeleteImage(a);
  list.DeleteImage(b);
  list.DeleteImage(c);
  // a, b and c freed in store order join into one hole of 1200 bytes.
  auto big = list.AddImage(20, 15, 32, ie32RGB, false);  // 1200 bytes
  EXPECT_EQ(big->offset, 0);
  EXPECT_EQ(list.FreeBlockCount(), 0);
}

TEST_P(VirtualImageList, RandomAddsRewritesAndDeletesReadBackAsAModel) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::mt19937 rng(GetParam() ? 11 : 12);
  const TIEBitmapFormat formats[] = {ie1g, ie8p, ie8g, ie16g, ie24RGB, ie32f, ieCMYK, ieRGB48, ieCIELab, ie32RGB};
  std::map<TIEVirtualImageHandle, Model> model;
  std::vector<TIEVirtualImageHandle> live;
  for (int op = 0; op < 2000; ++op) {
    const unsigned kind = rng() % 10;
    TIEBitmap b;
    const TIEBitmapFormat f = formats[rng() % 10];
    const int w = 1 + int(rng() % 40), hgt = 1 + int(rng() % 30);
    if (kind < 4 || live.empty()) {
      Fill(b, rng, w, hgt, f, rng() % 2 == 0);
      TIEVirtualImageHandle h = list.AddBitmap(&b);
      ASSERT_NE(h, nullptr);
      model[h] = Capture(b);
      live.push_back(h);
    } else if (kind < 7) {
      TIEVirtualImageHandle h = live[rng() % live.size()];
      Fill(b, rng, rng() % 2 ? w : model[h].width, rng() % 2 ? hgt : model[h].height, f, rng() % 2 == 0);
      if (rng() % 2) {
        ASSERT_TRUE(list.WriteBitmap(h, &b));
      } else {
        TIEBitmap* c = list.GetBitmap(h);
        ASSERT_NE(c, nullptr);
        c->Assign(&b);
        list.ReleaseBitmap(c, true);
      }
      model[h] = Capture(b);
    } else if (kind < 9) {
      const size_t i = rng() % live.size();
      list.DeleteImage(live[i]);
      model.erase(live[i]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      TIEVirtualImageHandle h = live[rng() % live.size()];
      ExpectSame(model[h], ReadBack(list, h), "spot check");
    }
    ASSERT_LE(list.MappedCount(), 11);
  }
  for (auto h : live) ExpectSame(model[h], ReadBack(list, h), "final");
}

TEST_P(VirtualImageList, AStoreThatCannotGrowGivesNilAndKeepsWhatItHas) {
  TIEVirtualImageList list("ILIST", GetParam());
  std::mt19937 rng(3);
  TIEBitmap b;
  Fill(b, rng, 50, 50, ie24RGB, false);
  TIEVirtualImageHandle h = list.AddBitmap(&b);
  ASSERT_NE(h, nullptr);
  IEAllocationFaultHook = [](int64_t size) { return size > 262144; };
  TIEBitmap large;
  Fill(large, rng, 400, 400, ie24RGB, false);
  EXPECT_EQ(list.AddBitmap(&large), nullptr);
  // A rewrite that needs more room fails and leaves the image as it was.
  EXPECT_FALSE(list.WriteBitmap(h, &large));
  IEAllocationFaultHook = nullptr;
  EXPECT_EQ(list.ImageCount(), 1);
  ExpectSame(Capture(b), ReadBack(list, h), "kept");
  EXPECT_NE(list.AddBitmap(&large), nullptr);
}

TEST(VirtualImageListFile, AFileSizeLimitGivesNil) {
  // The store's file may not grow past 1 MB; writing beyond it must fail
  // cleanly instead of killing the process.
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = 1 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::vector<Model> want;
  std::vector<TIEVirtualImageHandle> handles;
  int refused = 0;
  {
    TIEVirtualImageList list("ILIST", true);
    std::mt19937 rng(4);
    for (int i = 0; i < 20; ++i) {
      TIEBitmap b;
      Fill(b, rng, 200, 200, ie24RGB, false);
      TIEVirtualImageHandle h = list.AddBitmap(&b);
      if (!h) {
        ++refused;
        continue;
      }
      handles.push_back(h);
      want.push_back(Capture(b));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    for (size_t i = 0; i < handles.size(); ++i) ExpectSame(want[i], ReadBack(list, handles[i]), "kept");
  }
  std::signal(SIGXFSZ, previous);
  EXPECT_GT(refused, 0);
  EXPECT_GT(handles.size(), 0u);
}

TEST(VirtualImageListFile, AStoreThatCannotOpenKeepsNothingAndSaysSo) {
  TIEBitmap b(5, 5, ie24RGB);
  IEAllocationFaultHook = [](int64_t) { return true; };
  TIEVirtualImageList list("ILIST", false);
  EXPECT_FALSE(list.StoreOpen());
  EXPECT_EQ(list.AddBitmap(&b), nullptr);
  IEAllocationFaultHook = nullptr;
  // Once the memory is there again the store opens on the next add.
  EXPECT_NE(list.AddBitmap(&b), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Store, VirtualImageList, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "File" : "Memory"; });
