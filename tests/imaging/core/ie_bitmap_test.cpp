#include "imaging/core/ie_bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "imaging/core/ie_helpers.h"
#include "imaging/core/ie_memory.h"
#include "platform/graphics/graphics_bitmap.h"

// Readable names in failure messages (the enums are bytes).
void PrintTo(TIEBitmapFormat f, std::ostream* os) { *os << "format " << int(f); }
void PrintTo(TIEStorageLocation l, std::ostream* os) { *os << "location " << int(l); }

namespace {

constexpr TIEBitmapFormat kAllFormats[] = {ie1g,    ie8p,  ie8g,   ie16g,    ie24RGB, ie32f,
                                           ieCMYK,  ieRGB48, ieCIELab, ie32RGB};

// The formats a framework bitmap can hold.
constexpr TIEBitmapFormat kFrameworkFormats[] = {ie1g, ie8p, ie8g, ie24RGB, ie32RGB};
bool FrameworkHolds(TIEBitmapFormat f) {
  return f == ie1g || f == ie8p || f == ie8g || f == ie24RGB || f == ie32RGB;
}

// A bitmap pinned to a location: a huge limit keeps it in memory, 0 sends it to
// a temporary file.
std::unique_ptr<TIEBitmap> MakeBitmap(TIEStorageLocation where) {
  auto b = std::make_unique<TIEBitmap>();
  b->SetMemoryLimit(where == ieFile ? 0 : INT64_MAX / 2);
  b->SetLocation(where);
  return b;
}

// Writes a pattern that differs per row and per byte into the used bytes of each row.
void WritePattern(TIEBitmap& b, int seed) {
  const int64_t used = (int64_t(b.Width()) * b.BitCount() + 7) / 8;
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int64_t i = 0; i < used; ++i) row[i] = static_cast<uint8_t>(seed + y * 31 + i * 7);
  }
}

// Compares the used bytes of every row with the pattern; reads each row after
// reading others, so a file-backed row that was not written back shows.
bool HasPattern(TIEBitmap& b, int seed) {
  const int64_t used = (int64_t(b.Width()) * b.BitCount() + 7) / 8;
  for (int y = b.Height() - 1; y >= 0; --y) {
    const uint8_t* row = b.ScanLine(y);
    for (int64_t i = 0; i < used; ++i)
      if (row[i] != static_cast<uint8_t>(seed + y * 31 + i * 7)) return false;
  }
  return true;
}

// Resets the fault hook when a test ends.
struct FaultHookGuard {
  ~FaultHookGuard() { IEAllocationFaultHook = nullptr; }
};

}  // namespace

TEST(IEBitmap, NewBitmapIsEmpty) {
  TIEBitmap b;
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_EQ(b.PixelFormat(), ieNoFormat);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Location(), ieFile);  // automatic until allocation chooses
}

TEST(IEBitmap, RowLengthFollowsAlignment) {
  TIEBitmap b(3, 2, ie24RGB);
  EXPECT_EQ(b.RowLen(), 12);
  b.SetRowAlignment(8);
  EXPECT_EQ(b.RowLen(), 9);
  EXPECT_EQ(AlignedRowLength(3, 24, 32), 12);
  EXPECT_EQ(AlignedRowLength(3, 24, 8), 9);
  EXPECT_EQ(AlignedRowLength(17, 1, 16), 4);
}

class IEBitmapFormatLocation
    : public ::testing::TestWithParam<std::tuple<TIEBitmapFormat, TIEStorageLocation>> {};

TEST_P(IEBitmapFormatLocation, RowsRoundTripAndCopy) {
  const auto [format, where] = GetParam();
  auto b = MakeBitmap(where);
  ASSERT_TRUE(b->Allocate(13, 7, format));
  EXPECT_EQ(b->Location(), where);
  EXPECT_EQ(b->BitCount(), kIEBitsPerPixel[format]);
  EXPECT_EQ(b->ChannelCount(), kIEChannels[format]);
  EXPECT_EQ(b->RowLen(), AlignedRowLength(13, kIEBitsPerPixel[format], 32));
  EXPECT_EQ(b->PaletteLength(), format == ie8p ? 256 : 0);
  WritePattern(*b, 5);
  EXPECT_TRUE(HasPattern(*b, 5));

  // Copies into every location keep every byte.
  for (TIEStorageLocation other : {ieMemory, ieFile, ieTBitmap}) {
    if (other == ieTBitmap && !FrameworkHolds(format)) continue;
    auto c = MakeBitmap(other);
    c->Assign(b.get());
    EXPECT_EQ(c->Width(), 13);
    EXPECT_EQ(c->PixelFormat(), format);
    EXPECT_EQ(c->Location(), other);
    EXPECT_TRUE(HasPattern(*c, 5));
    auto d = MakeBitmap(other);
    d->CopyFromTIEBitmap(*b);
    EXPECT_TRUE(HasPattern(*d, 5));
  }
  // Moving to another location keeps the pixels.
  const TIEStorageLocation other = where == ieFile ? ieMemory : ieFile;
  b->SetMemoryLimit(other == ieFile ? 0 : INT64_MAX / 2);
  ASSERT_TRUE(b->SetLocation(other));
  EXPECT_EQ(b->Location(), other);
  EXPECT_TRUE(HasPattern(*b, 5));
}

TEST_P(IEBitmapFormatLocation, FillSetsFullAndCheckFullAgrees) {
  const auto [format, where] = GetParam();
  auto b = MakeBitmap(where);
  ASSERT_TRUE(b->Allocate(9, 4, format));
  const bool colour = format == ie24RGB || format == ie32RGB || format == ieCMYK || format == ieRGB48 ||
                      format == ieCIELab;
  // White for the colour formats, the largest sample for the others.
  const double top = colour ? 0xFFFFFF : (format == ie16g ? 65535 : (format == ie32f ? 1.0 : 255));
  b->Fill(top);
  EXPECT_TRUE(b->Full());
  // Where the largest value is all bits set, a fresh test agrees with Fill.
  if (format != ie32RGB && format != ieCIELab) {
    b->SetFull(false);
    EXPECT_TRUE(b->CheckFull());
  }
  b->Fill(colour ? 0x000000 : 0);
  EXPECT_FALSE(b->Full());
  EXPECT_FALSE(b->CheckFull());
  if (format != ie32RGB && format != ieCMYK) {
    EXPECT_TRUE(b->IsAllZero());
  }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, IEBitmapFormatLocation,
                         ::testing::Combine(::testing::ValuesIn(kAllFormats), ::testing::Values(ieMemory, ieFile)));
INSTANTIATE_TEST_SUITE_P(FrameworkFormats, IEBitmapFormatLocation,
                         ::testing::Combine(::testing::ValuesIn(kFrameworkFormats), ::testing::Values(ieTBitmap)));

// ---- filling: the bytes of one pixel per format ----

struct FillCase {
  TIEBitmapFormat format;
  double value;
  std::vector<uint8_t> pixel;  // expected bytes of every pixel
  bool full;
};
// How the case reads in the test list and in a failure.
void PrintTo(const FillCase& c, std::ostream* os) { *os << "format " << int(c.format) << " filled with " << c.value; }

class IEBitmapFill : public ::testing::TestWithParam<std::tuple<FillCase, TIEStorageLocation>> {};

TEST_P(IEBitmapFill, EveryPixelHoldsTheValue) {
  const auto& [c, where] = GetParam();
  auto b = MakeBitmap(where);
  ASSERT_TRUE(b->Allocate(5, 3, c.format));
  b->Fill(c.value);
  EXPECT_EQ(b->Full(), c.full);
  const size_t n = c.pixel.size();
  for (int y = 0; y < 3; ++y) {
    const uint8_t* row = b->ScanLine(y);
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(std::vector<uint8_t>(row + x * n, row + x * n + n), c.pixel) << "x " << x << " y " << y;
  }
}

// Golden bytes: red is 0x0000FF in the 0x00BBGGRR layout. CIE L*a*b* of sRGB red
// is (53.24, 80.09, 67.20) in the published tables: L byte trunc(53.24 * 2.55).
const FillCase kFillCases[] = {
    {ie8g, 200, {200}, false},
    {ie8g, 255, {255}, true},
    {ie8p, 7.9, {7}, false},
    {ie16g, 65535, {0xFF, 0xFF}, true},
    {ie16g, 0x1234, {0x34, 0x12}, false},
    {ie24RGB, 0x0000FF, {0, 0, 255}, false},
    {ie24RGB, 0xFFFFFF, {255, 255, 255}, true},
    {ieRGB48, 0x0000FF, {0xFF, 0xFF, 0, 0, 0, 0}, false},
    {ieCMYK, 0x0000FF, {255, 0, 0, 255}, false},
    {ieCMYK, 0x000000, {255, 255, 255, 0}, false},
    {ieCIELab, 0x0000FF, {135, 80, 67}, false},
};

INSTANTIATE_TEST_SUITE_P(Table, IEBitmapFill,
                         ::testing::Combine(::testing::ValuesIn(kFillCases), ::testing::Values(ieMemory, ieFile)));
const FillCase kFrameworkFillCases[] = {
    {ie8g, 200, {200}, false},
    {ie8p, 7.9, {7}, false},
    {ie24RGB, 0x0000FF, {0, 0, 255}, false},
    {ie24RGB, 0xFFFFFF, {255, 255, 255}, true},
};
INSTANTIATE_TEST_SUITE_P(FrameworkTable, IEBitmapFill,
                         ::testing::Combine(::testing::ValuesIn(kFrameworkFillCases), ::testing::Values(ieTBitmap)));

TEST(IEBitmapFillExtra, FloatAndBitFormats) {
  for (TIEStorageLocation where : {ieMemory, ieFile}) {
    auto f = MakeBitmap(where);
    f->Allocate(3, 2, ie32f);
    f->Fill(1.0);
    EXPECT_TRUE(f->Full());
    f->Fill(0.5);
    EXPECT_FALSE(f->Full());
    EXPECT_EQ(f->GetPixelFloat(2, 1), 0.5f);

    auto g = MakeBitmap(where);
    g->Allocate(11, 2, ie1g);
    g->Fill(3);
    EXPECT_TRUE(g->Full());
    EXPECT_EQ(g->ScanLine(1)[0], 0xFF);
    g->Fill(0);
    EXPECT_EQ(g->ScanLine(0)[1], 0x00);
  }
}

// The fourth byte of ie32RGB is not part of the colour: Fill keeps it, also
// when rows come from a temporary file.
TEST(IEBitmapFillExtra, Fill32RGBKeepsFourthByteInEveryLocation) {
  for (TIEStorageLocation where : {ieMemory, ieFile, ieTBitmap}) {
    auto b = MakeBitmap(where);
    ASSERT_TRUE(b->Allocate(4, 3, ie32RGB));
    for (int y = 0; y < 3; ++y) {
      uint8_t* row = b->ScanLine(y);
      for (int x = 0; x < 4; ++x) std::memcpy(row + 4 * x, std::vector<uint8_t>{1, 2, 3, uint8_t(40 + x + y)}.data(), 4);
    }
    b->Fill(0x0000FF);
    for (int y = 0; y < 3; ++y) {
      const uint8_t* row = b->ScanLine(y);
      for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(row[4 * x + 2], 255);
        EXPECT_EQ(row[4 * x + 0], 0);
        EXPECT_EQ(row[4 * x + 3], 40 + x + y) << "location " << int(where);
      }
    }
  }
}

TEST(IEBitmapFillExtra, FillRectClipsToTheImage) {
  TIEBitmap b(6, 5, ie8g);
  b.Fill(0);
  b.FillRect(-5, -5, 2, 2, 255);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(b.GetPixel8(x, y), (x <= 2 && y <= 2) ? 255 : 0) << x << "," << y;
  b.FillRect(4, 4, 2, 2, 9);  // empty range
  EXPECT_EQ(b.GetPixel8(3, 3), 0);

  TIEBitmap bits(12, 1, ie1g);
  bits.Fill(1);
  bits.FillRect(3, 0, 9, 0, 0);
  EXPECT_EQ(bits.ScanLine(0)[0], 0xE0);
  EXPECT_EQ(bits.ScanLine(0)[1], 0x3F);
}

// ---- alpha channel ----

TEST(IEBitmapAlpha, CreatedOpaqueAndFullFlagFollows) {
  TIEBitmap b(4, 4, ie24RGB);
  EXPECT_FALSE(b.HasAlphaChannel());
  TIEBitmap* a = b.AlphaChannel();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Width(), 4);
  EXPECT_EQ(a->PixelFormat(), ie8g);
  EXPECT_TRUE(a->IsAlphaChannel());
  EXPECT_TRUE(a->Full());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(a->GetPixel8(x, y), 255);
  EXPECT_EQ(a->AlphaChannel(), nullptr);
  b.SetAlpha(0, 0, 128);
  EXPECT_FALSE(a->Full());
  EXPECT_EQ(b.GetAlpha(0, 0), 128);
  b.SetAlpha(0, 0, 255);
  EXPECT_TRUE(a->CheckFull());
}

TEST(IEBitmapAlpha, RemoveWithMergeBlendsOntoBackground) {
  TIEBitmap b(2, 1, ie24RGB);
  b.Fill(0x000000);
  b.SetAlpha(0, 0, 0);
  b.SetAlpha(1, 0, 255);
  b.RemoveAlphaChannel(true, 0xFFFFFF);
  EXPECT_FALSE(b.HasAlphaChannel());
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(0, 0, 0));
}

// An opaque pixel keeps its colour exactly: white over black stays 255, not 254.
TEST(IEBitmapAlpha, RemoveWithMergeKeepsOpaqueColours) {
  TIEBitmap b(3, 1, ie24RGB);
  b.Fill(0xFFFFFF);
  b.SetAlpha(0, 0, 255);
  b.SetAlpha(1, 0, 128);
  b.SetAlpha(2, 0, 0);
  b.RemoveAlphaChannel(true, 0x000000);
  EXPECT_EQ(b.GetPixelRGB(0, 0), MakeRGB(255, 255, 255));
  EXPECT_EQ(b.GetPixelRGB(1, 0), MakeRGB(127, 127, 127));
  EXPECT_EQ(b.GetPixelRGB(2, 0), MakeRGB(0, 0, 0));
}

TEST(IEBitmapAlpha, AssignCopiesOrRemovesAlpha) {
  TIEBitmap withAlpha(3, 3, ie24RGB);
  withAlpha.SetAlpha(1, 1, 7);
  TIEBitmap plain(3, 3, ie24RGB);

  TIEBitmap dest(2, 2, ie24RGB);
  dest.Assign(&withAlpha);
  ASSERT_TRUE(dest.HasAlphaChannel());
  EXPECT_EQ(dest.GetAlpha(1, 1), 7);
  dest.Assign(&plain);
  EXPECT_FALSE(dest.HasAlphaChannel());

  // An alpha channel takes pixels, never an alpha of its own.
  TIEBitmap* a = dest.AlphaChannel();
  a->Assign(&withAlpha);
  EXPECT_FALSE(a->HasAlphaChannel());
  EXPECT_EQ(a->AlphaChannel(), nullptr);
}

TEST(IEBitmapAlpha, AttachHandsBackThePreviousChannel) {
  TIEBitmap b(2, 2, ie24RGB);
  b.SetAlpha(0, 0, 1);
  auto mine = std::make_unique<TIEBitmap>(2, 2, ie8g);
  mine->Fill(9);
  auto previous = AttachAlphaChannel(b, std::move(mine));
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(previous->GetPixel8(0, 0), 1);
  EXPECT_EQ(b.GetAlpha(1, 1), 9);
  EXPECT_TRUE(b.AlphaChannel()->IsAlphaChannel());
}

// ---- allocation and storage ----

TEST(IEBitmapStorage, AllocateKeepsPixelsUntilAssignAsksForNewStorage) {
  TIEBitmap b;
  b.SetMemoryLimit(INT64_MAX / 2);
  ASSERT_TRUE(b.Allocate(10, 10, ie24RGB));
  const uint8_t* first = b.ScanLine(0);
  b.ScanLine(0)[0] = 77;
  ASSERT_TRUE(b.Allocate(10, 10, ie24RGB));
  EXPECT_EQ(b.ScanLine(0), first);
  EXPECT_EQ(b.ScanLine(0)[0], 77);
  TIEBitmap other(10, 10, ie24RGB);
  other.Fill(0x010203);
  b.Assign(&other);
  EXPECT_TRUE(b.NeedsReallocation() == false);
  b.SetNeedsReallocation(true);
  ASSERT_TRUE(b.Allocate(10, 10, ie24RGB));
}

TEST(IEBitmapStorage, MemoryLimitChoosesTheLocation) {
  TIEBitmap small;
  small.SetMemoryLimit(1000);
  ASSERT_TRUE(small.Allocate(10, 10, ie8g));
  EXPECT_EQ(small.Location(), ieMemory);
  TIEBitmap big;
  big.SetMemoryLimit(0);
  big.SetLocation(ieMemory);
  ASSERT_TRUE(big.Allocate(10, 10, ie8g));
  EXPECT_EQ(big.Location(), ieFile);
  EXPECT_FALSE(big.FileBuffer()->FileName().empty());
  // The store's name is gone from the folder as soon as it is open.
  EXPECT_FALSE(std::filesystem::exists(big.FileBuffer()->FileName()));
  // Too big for the limit: asking for memory keeps it in the file, pixels intact.
  WritePattern(big, 3);
  EXPECT_TRUE(big.SetLocation(ieMemory));
  EXPECT_EQ(big.Location(), ieFile);
  EXPECT_TRUE(HasPattern(big, 3));
}

TEST(IEBitmapStorage, FileRowsAreWindows) {
  auto b = MakeBitmap(ieFile);
  ASSERT_TRUE(b->Allocate(8, 3, ie8g));
  b->Fill(0);
  uint8_t* r0 = b->AcquireRow(0);
  uint8_t* r1 = b->AcquireRow(1);
  ASSERT_NE(r0, r1);
  r0[0] = 10;
  r1[0] = 11;
  b->ReleaseRow(0);
  b->ReleaseRow(1);
  EXPECT_EQ(b->ScanLine(0)[0], 10);
  EXPECT_EQ(b->ScanLine(1)[0], 11);
  // A row written through ScanLine survives the next ScanLine of another row.
  b->ScanLine(2)[7] = 99;
  b->ScanLine(0);
  EXPECT_EQ(b->ScanLine(2)[7], 99);
}

TEST(IEBitmapStorage, RowAlignmentChangesOnlyInMemory) {
  auto f = MakeBitmap(ieFile);
  f->Allocate(3, 2, ie24RGB);
  f->SetRowAlignment(8);
  EXPECT_EQ(f->RowAlignment(), 32);
  EXPECT_EQ(f->RowLen(), 12);

  auto m = MakeBitmap(ieMemory);
  m->Allocate(3, 2, ie8p);
  WritePattern(*m, 1);
  m->SetPaletteColor(5, MakeRGB(1, 2, 3));
  m->SetAlpha(2, 1, 42);
  m->SetRowAlignment(8);
  EXPECT_EQ(m->RowAlignment(), 8);
  EXPECT_EQ(m->RowLen(), 3);
  EXPECT_TRUE(HasPattern(*m, 1));
  TRGB c;
  m->GetPaletteColor(5, c);
  EXPECT_EQ(c, MakeRGB(1, 2, 3));
  EXPECT_EQ(m->GetAlpha(2, 1), 42);
}

TEST(IEBitmapStorage, EncapsulateMemoryRowOrder) {
  std::vector<uint8_t> buf(4 * 3, 0);
  TIEBitmap b;
  b.EncapsulateMemory(buf.data(), 4, 3, ie8g, true, true);
  EXPECT_EQ(b.ScanLine(0), buf.data());
  b.EncapsulateMemory(buf.data(), 4, 3, ie8g, false, true);
  EXPECT_EQ(b.ScanLine(0), buf.data() + 2 * 4);
  b.FreeImage(true);
  EXPECT_EQ(buf.size(), 12u);  // the caller's buffer was not freed (sanitizers would tell)
}

TEST(IEBitmapStorage, FreeImageKeepsTheFormatField) {
  TIEBitmap b(2, 2, ie16g);
  b.FreeImage(true);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.PixelFormat(), ie16g);
}

TEST(IEBitmapStorage, ImpossibleSizesFailWithoutAllocating) {
  TIEBitmap b;
  EXPECT_FALSE(b.Allocate(0, 5, ie8g));
  EXPECT_FALSE(b.Allocate(-1, 5, ie8g));
  EXPECT_FALSE(b.Allocate(5, 5, ieNoFormat));
  // Row length times height beyond 64 bits.
  EXPECT_FALSE(b.Allocate(INT32_MAX, INT32_MAX, ieRGB48));
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Width(), 0);
}

TEST(IEBitmapStorage, SegmentsWhenOneBlockCannotBeHad) {
  FaultHookGuard guard;
  TIEBitmap b;
  b.SetMemoryLimit(INT64_MAX / 2);
  IEAllocationFaultHook = [](int64_t size) { return size > 20000; };
  ASSERT_TRUE(b.Allocate(100, 100, ie24RGB));
  EXPECT_EQ(b.Location(), ieMemory);
  EXPECT_EQ(b.SegmentCount(), 4);
  WritePattern(b, 9);
  EXPECT_TRUE(HasPattern(b, 9));
}

TEST(IEBitmapStorage, FileWhenMemoryCannotBeHad) {
  FaultHookGuard guard;
  TIEBitmap b;
  b.SetMemoryLimit(INT64_MAX / 2);
  // Every block but the 30000-byte store is refused.
  IEAllocationFaultHook = [](int64_t size) { return size > 1000 && size != 30000; };
  ASSERT_TRUE(b.Allocate(100, 100, ie24RGB));
  EXPECT_EQ(b.Location(), ieFile);
  WritePattern(b, 2);
  EXPECT_TRUE(HasPattern(b, 2));
}

// A failed allocation never costs the picture that was there.
TEST(IEBitmapStorage, FailedCopyLeavesThePictureAsItWas) {
  FaultHookGuard guard;
  for (TIEStorageLocation where : {ieMemory, ieFile}) {
    auto b = MakeBitmap(where);
    ASSERT_TRUE(b->Allocate(6, 4, ie24RGB));
    WritePattern(*b, 4);
    b->SetAlpha(1, 1, 5);
    TIEBitmap source(50, 50, ie8g);
    IEAllocationFaultHook = [](int64_t) { return true; };
    b->Assign(&source);
    b->CopyFromTIEBitmap(source);
    EXPECT_FALSE(b->SetLocation(where == ieFile ? ieMemory : ieFile));
    IEAllocationFaultHook = nullptr;
    EXPECT_EQ(b->Location(), where);
    EXPECT_EQ(b->Width(), 6);
    EXPECT_EQ(b->PixelFormat(), ie24RGB);
    EXPECT_TRUE(HasPattern(*b, 4));
    EXPECT_EQ(b->GetAlpha(1, 1), 5);
  }
}

TEST(IEBitmapStorage, UnsupportedFrameworkLocationKeepsThePicture) {
  TIEBitmap b(3, 3, ie32f);
  b.Fill(0.25);
  EXPECT_FALSE(b.SetLocation(ieTBitmap));
  EXPECT_EQ(b.Location(), ieMemory);
  EXPECT_EQ(b.GetPixelFloat(2, 2), 0.25f);
}

TEST(IEBitmap, GreyTestsPerFormat) {
  TIEBitmap cmyk(2, 2, ieCMYK);
  cmyk.Fill(0x0000FF);
  EXPECT_TRUE(IsGrayBitmap(cmyk));
  TIEBitmap rgb(2, 2, ie24RGB);
  rgb.Fill(0x808080);
  EXPECT_TRUE(IsGrayBitmap(rgb));
  rgb.SetPixelRGB(1, 1, MakeRGB(1, 2, 3));
  EXPECT_FALSE(IsGrayBitmap(rgb));
  TIEBitmap pal(2, 2, ie8p);
  for (int i = 0; i < 256; ++i) pal.SetPaletteColor(i, MakeRGB(i, i, i));
  EXPECT_TRUE(IsGrayBitmap(pal));
  pal.SetPaletteColor(200, MakeRGB(1, 0, 0));
  EXPECT_FALSE(IsGrayBitmap(pal));
}

TEST(IEBitmap, ValueRange) {
  TIEBitmap g(3, 1, ie16g);
  g.SetPixel16(0, 0, 5);
  g.SetPixel16(1, 0, 900);
  g.SetPixel16(2, 0, 17);
  ComputeValueRange(g);
  EXPECT_EQ(g.RangeMin(), 5);
  EXPECT_EQ(g.RangeMax(), 900);
}

TEST(IEBitmap, VirtualRowsComeFromTheCallback) {
  TIEBitmap b;
  b.SetRowCallback([](TIEBitmap*, int x, TRGB* p, int y) { *p = MakeRGB(uint8_t(x), uint8_t(y), 7); });
  ASSERT_TRUE(b.Allocate(4, 3, ie24RGB));
  EXPECT_TRUE(b.IsVirtual());
  const uint8_t* row = b.ScanLine(2);
  EXPECT_EQ(row[3 * 3 + 2], 3);  // red of x = 3
  EXPECT_EQ(row[3 * 3 + 1], 2);  // green = y
}

// ---- the framework bitmap location ----

TEST(IEBitmapFramework, FormatsItCannotHold) {
  for (TIEBitmapFormat f : {ie32f, ieCMYK, ieRGB48, ieCIELab}) {
    auto b = MakeBitmap(ieTBitmap);
    EXPECT_FALSE(b->Allocate(4, 4, f));
    EXPECT_TRUE(b->IsEmpty());
  }
  auto g = MakeBitmap(ieTBitmap);
  ASSERT_TRUE(g->Allocate(4, 4, ie16g));
  EXPECT_EQ(g->PixelFormat(), ie8g);
  EXPECT_EQ(g->BitCount(), 8);
}

// Asking for the framework bitmap of a picture it cannot hold must not lose it.
TEST(IEBitmapFramework, VclBitmapOfAFloatPictureKeepsThePicture) {
  TIEBitmap b(5, 4, ie32f);
  b.Fill(0.75);
  EXPECT_EQ(b.VclBitmap(), nullptr);
  EXPECT_EQ(b.Canvas(), nullptr);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.PixelFormat(), ie32f);
  EXPECT_EQ(b.GetPixelFloat(4, 3), 0.75f);
}

TEST(IEBitmapFramework, CanvasDrawingIsSeenThroughScanLine) {
  TIEBitmap b(6, 5, ie24RGB);
  b.Fill(0x000000);
  b.SetAlpha(1, 1, 9);
  TCanvas* c = b.Canvas();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(b.Location(), ieTBitmap);
  c->SetPixels(2, 3, TColorOf(0x0000FF));
  EXPECT_EQ(b.GetPixelRGB(2, 3), MakeRGB(255, 0, 0));
  EXPECT_EQ(b.GetPixelRGB(3, 3), MakeRGB(0, 0, 0));
  EXPECT_EQ(b.GetAlpha(1, 1), 9);
}

// The framework bitmap grown through its own interface: the geometry follows,
// and the alpha channel is resized with new pixels opaque.
TEST(IEBitmapFramework, ResizedFrameworkBitmapGivesOpaqueNewAlpha) {
  TIEBitmap b(4, 4, ie24RGB);
  b.SetAlpha(0, 0, 0);
  TBitmap* t = b.VclBitmap();
  ASSERT_NE(t, nullptr);
  t->SetSize(8, 6);
  EXPECT_EQ(b.Width(), 8);
  EXPECT_EQ(b.Height(), 6);
  ASSERT_TRUE(b.HasAlphaChannel());
  TIEBitmap* a = b.AlphaChannel();
  EXPECT_EQ(a->Width(), 8);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(a->GetPixel8(x, y), 255) << x << "," << y;
}

// Every depth of a framework bitmap is readable once encapsulated.
TEST(IEBitmapFramework, EncapsulatedBitmapsOfEveryDepth) {
  struct Case {
    TPixelFormat pf;
    TIEBitmapFormat expected;
  };
  const Case cases[] = {{pf1bit, ie1g},   {pf4bit, ie24RGB},  {pf8bit, ie8p},   {pf15bit, ie24RGB},
                        {pf16bit, ie24RGB}, {pf24bit, ie24RGB}, {pf32bit, ie32RGB}};
  for (const auto& c : cases) {
    TBitmap t;
    t.SetPixelFormat(c.pf);
    t.SetSize(5, 3);
    t.Canvas()->SetPixels(1, 2, TColorOf(0xFFFFFF));
    TIEBitmap b;
    b.EncapsulateTBitmap(&t, true);
    EXPECT_EQ(b.PixelFormat(), c.expected) << int(c.pf);
    EXPECT_EQ(b.Location(), ieTBitmap);
    EXPECT_EQ(b.Width(), 5);
    if (c.expected == ie24RGB) {
      EXPECT_EQ(b.GetPixelRGB(1, 2), MakeRGB(255, 255, 255)) << int(c.pf);
    }
    b.FreeImage(true);
    EXPECT_EQ(t.GetWidth(), 5);  // the caller's bitmap stays the caller's
  }
}

TEST(IEBitmapFramework, AssignWritesIntoTheEncapsulatedBitmap) {
  TBitmap t;
  t.SetPixelFormat(pf24bit);
  t.SetSize(2, 2);
  TIEBitmap b;
  b.EncapsulateTBitmap(&t, true);
  TIEBitmap src(3, 4, ie8p);
  src.SetPaletteColor(1, MakeRGB(10, 20, 30));
  src.Fill(1);
  b.Assign(&src);
  EXPECT_EQ(t.GetWidth(), 3);
  EXPECT_EQ(t.GetHeight(), 4);
  EXPECT_EQ(t.PixelFormat(), pf8bit);
  EXPECT_EQ(t.Canvas()->Pixels(2, 3), TColorOf(0x1E140A));
  // A float picture cannot go there: the bitmap stays as it was.
  TIEBitmap f(2, 2, ie32f);
  b.Assign(&f);
  EXPECT_EQ(b.PixelFormat(), ie8p);
  EXPECT_EQ(t.GetWidth(), 3);
}

TEST(IEBitmapFramework, AssignFromAFrameworkBitmap) {
  TBitmap t;
  t.SetPixelFormat(pf24bit);
  t.SetSize(3, 2);
  t.Canvas()->SetPixels(2, 1, TColorOf(0x00FF00));
  TIEBitmap b;
  b.Assign(&t);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.PixelFormat(), ie24RGB);
  EXPECT_NE(b.Location(), ieTBitmap);  // a copy, not the caller's pixels
  EXPECT_EQ(b.GetPixelRGB(2, 1), MakeRGB(0, 255, 0));
}

// Pictures beyond 2 GB: row offsets into the paging file are 64-bit.
TEST(IEBitmapStorage, FileBackedPictureBeyondTwoGigabytes) {
  TIEBitmap b;
  b.SetMemoryLimit(0);
  if (!b.Allocate(40000, 20000, ie32RGB)) GTEST_SKIP() << "no room for a 3.2 GB paging file";
  ASSERT_EQ(b.Location(), ieFile);
  ASSERT_GT(b.RowLen() * b.Height(), int64_t(1) << 31);
  b.ScanLine(0)[0] = 11;
  b.ScanLine(19999)[159999] = 22;
  b.ScanLine(13500)[5] = 33;  // beyond the 2 GB mark
  EXPECT_EQ(b.ScanLine(0)[0], 11);
  EXPECT_EQ(b.ScanLine(19999)[159999], 22);
  EXPECT_EQ(b.ScanLine(13500)[5], 33);
  EXPECT_FALSE(b.FileBuffer()->WriteFailed());
}
