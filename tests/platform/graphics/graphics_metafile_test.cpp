// The metafile picture and its handles: header, bounds and frame, description,
// enumeration, Windows metafile sizing, clipboard transfer, registration, and
// damaged or hostile bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "gdi_test_helpers.h"
#include "metafile_test_helpers.h"
#include "platform/graphics/graphics.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "test_support.h"

using gditest::Dib;

namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

std::vector<uint8_t> Bytes(HENHMETAFILE h) {
  std::vector<uint8_t> out(GetEnhMetaFileBits(h, 0, nullptr));
  GetEnhMetaFileBits(h, static_cast<UINT>(out.size()), out.data());
  return out;
}

std::vector<uint8_t> Save(TMetafile& mf) { return metafiletest::SaveBytes(mf); }
void Load(TMetafile& mf, const std::vector<uint8_t>& bytes) { metafiletest::LoadBytes(mf, bytes); }

// A metafile of a red box from (10, 5) to (30, 25), recorded without a frame.
HENHMETAFILE RedBox() {
  HDC rec = CreateEnhMetaFile(nullptr, nullptr, nullptr, "Quorvane\0Red box\0");
  HBRUSH b = CreateSolidBrush(RGB(255, 0, 0));
  SelectObject(rec, b);
  SelectObject(rec, GetStockObject(NULL_PEN));
  Rectangle(rec, 10, 5, 30, 25);
  DeleteObject(b);
  return CloseEnhMetaFile(rec);
}

TEST(Metafile, RecordingKeepsBoundsFrameDescriptionAndRecords) {
  HENHMETAFILE h = RedBox();
  ASSERT_NE(h, nullptr);
  ENHMETAHEADER hd;
  ASSERT_EQ(GetEnhMetaFileHeader(h, sizeof(hd), &hd), sizeof(hd));
  EXPECT_EQ(hd.dSignature, 0x464D4520u);
  // A null pen leaves the last row and column: pixels 10..28 by 5..23 are painted.
  EXPECT_LE(hd.rclBounds.left, 10);
  EXPECT_LE(hd.rclBounds.top, 5);
  EXPECT_GE(hd.rclBounds.right, 28);
  EXPECT_GE(hd.rclBounds.bottom, 23);
  // The frame follows the bounds in hundredths of a millimetre at 96 DPI.
  EXPECT_NEAR(hd.rclFrame.left, hd.rclBounds.left * 2540 / 96, 1);
  EXPECT_EQ(hd.nBytes, Bytes(h).size());
  EXPECT_EQ(hd.nHandles, 2);  // the metafile itself and the brush
  std::vector<char> desc(GetEnhMetaFileDescription(h, 0, nullptr));
  GetEnhMetaFileDescription(h, static_cast<UINT>(desc.size()), desc.data());
  EXPECT_EQ(std::string(desc.data(), desc.size()), std::string("Quorvane\0Red box\0\0", 18));
  TMetafile mf;
  mf.SetHandle(CopyEnhMetaFile(h, nullptr));
  EXPECT_EQ(mf.CreatedBy(), "Quorvane");
  EXPECT_EQ(mf.Description(), "Red box");

  // Every record reaches the enumeration in order; a zero answer stops it.
  std::vector<DWORD> types;
  auto collect = [](HDC, HANDLETABLE*, const ENHMETARECORD* r, int, LPARAM data) -> int {
    reinterpret_cast<std::vector<DWORD>*>(data)->push_back(r->iType);
    return 1;
  };
  Dib target(40, 30, 24);
  RECT r{0, 0, 40, 30};
  EXPECT_TRUE(EnumEnhMetaFile(target.dc(), h, collect, &types, &r));
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), 14u);  // end of file
  EXPECT_NE(std::find(types.begin(), types.end(), 43u), types.end());  // the rectangle
  std::vector<DWORD> first;
  auto stop = [](HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) -> int {
    reinterpret_cast<std::vector<DWORD>*>(data)->push_back(record->iType);
    return 0;
  };
  EnumEnhMetaFile(target.dc(), h, stop, &first, &r);
  EXPECT_EQ(first.size(), 1u);

  HENHMETAFILE copy = CopyEnhMetaFile(h, nullptr);
  EXPECT_EQ(Bytes(copy), Bytes(h));
  EXPECT_TRUE(DeleteEnhMetaFile(copy));
  EXPECT_FALSE(DeleteEnhMetaFile(copy));
  EXPECT_EQ(GetEnhMetaFileBits(copy, 0, nullptr), 0u);
  DeleteEnhMetaFile(h);
}

TEST(Metafile, PlayedIntoARectangleFramesThePicture) {
  HENHMETAFILE h = RedBox();
  ENHMETAHEADER hd;
  GetEnhMetaFileHeader(h, sizeof(hd), &hd);
  const int w = hd.rclBounds.right - hd.rclBounds.left + 1;
  Dib target(w + 4, 30, 24);
  RECT r{2, 0, 2 + w, hd.rclBounds.bottom - hd.rclBounds.top + 1};
  PatBlt(target.dc(), 0, 0, w + 4, 30, WHITENESS);
  ASSERT_TRUE(PlayEnhMetaFile(target.dc(), h, &r));
  // The frame's top left corner lands on the rectangle's.
  EXPECT_EQ(GetPixel(target.dc(), 2, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(target.dc(), 1, 0), RGB(255, 255, 255));
  DeleteEnhMetaFile(h);
}

// A Windows metafile of a rectangle, optionally with a window extent record first.
std::vector<uint8_t> PlainWmf(bool window) {
  std::vector<uint8_t> v(18, 0);
  Put16(v, 0, 1);
  Put16(v, 2, 9);
  Put16(v, 4, 0x300);
  auto rec = [&](uint16_t fn, std::vector<int16_t> words) {
    size_t at = v.size();
    v.resize(at + 6 + 2 * words.size());
    Put32(v, at, static_cast<uint32_t>(3 + words.size()));
    Put16(v, at + 4, fn);
    for (size_t i = 0; i < words.size(); ++i) Put16(v, at + 6 + 2 * i, static_cast<uint16_t>(words[i]));
  };
  if (window) {
    rec(0x0103, {MM_ANISOTROPIC});
    rec(0x020B, {0, 0});
    rec(0x020C, {100, 200});  // y, x: 200 x 100 units
  }
  rec(0x041B, {60, 150, 20, 40});  // bottom, right, top, left
  rec(0x0000, {});
  Put32(v, 6, static_cast<uint32_t>(v.size() / 2));
  return v;
}

TEST(Metafile, PlainWindowsMetafileIsSizedByItsWindowElseByItsDrawing) {
  TMetafile withWindow;
  Load(withWindow, PlainWmf(true));
  EXPECT_FALSE(withWindow.Enhanced());
  EXPECT_EQ(withWindow.Width(), 200);
  EXPECT_EQ(withWindow.Height(), 100);
  TMetafile drawn;
  Load(drawn, PlainWmf(false));
  // A unit a pixel: the rectangle with its one-pixel pen spans 40..149 by 20..59.
  EXPECT_EQ(drawn.Width(), 110);
  EXPECT_EQ(drawn.Height(), 40);
}

TEST(Metafile, PlaceableHeaderGivesTheSizeAndAWrongChecksumIsAccepted) {
  std::vector<uint8_t> wmf = PlainWmf(true);
  std::vector<uint8_t> file(22, 0);
  Put32(file, 0, 0x9AC6CDD7);
  Put16(file, 10, 400);  // right
  Put16(file, 12, 200);  // bottom
  Put16(file, 14, 192);  // units per inch: half size at 96 DPI
  Put16(file, 20, 0xBEEF);  // not the checksum
  file.insert(file.end(), wmf.begin(), wmf.end());
  TMetafile mf;
  Load(mf, file);
  EXPECT_EQ(mf.Width(), 200);
  EXPECT_EQ(mf.Height(), 100);
  EXPECT_EQ(mf.Inch(), 192);
  EXPECT_EQ(mf.MMWidth(), 5292);  // 400 units at 192 per inch: 52.92 mm
  // Saved again it becomes placeable with a right checksum.
  std::vector<uint8_t> saved = Save(mf);
  ASSERT_GE(saved.size(), 22u);
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= static_cast<uint16_t>(saved[2 * i] | (saved[2 * i + 1] << 8));
  EXPECT_EQ(saved[20] | (saved[21] << 8), sum);
}

TEST(Metafile, SizeAssignAndClear) {
  TMetafile mf;
  EXPECT_TRUE(mf.Empty());
  mf.SetWidth(100);
  mf.SetHeight(50);
  EXPECT_EQ(mf.MMWidth(), 2646);
  EXPECT_EQ(mf.Width(), 100);
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(0x0000FF);
    canvas.FillRect(Rect(0, 0, 10, 10));
  }
  EXPECT_FALSE(mf.Empty());
  EXPECT_EQ(mf.Height(), 50);
  TMetafile copy;
  copy.Assign(&mf);
  EXPECT_EQ(Save(copy), Save(mf));
  EXPECT_NE(copy.Handle(), mf.Handle());
  // Drawn again on a canvas, what it held stays under the new drawing.
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(0x00FF00);
    canvas.FillRect(Rect(20, 0, 30, 10));
  }
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(100, 50);
  b.Canvas()->Draw(0, 0, &mf);
  EXPECT_EQ(b.Canvas()->Pixels(5, 5), TColor(0x0000FF));
  EXPECT_EQ(b.Canvas()->Pixels(25, 5), TColor(0x00FF00));
  mf.Clear();
  EXPECT_TRUE(mf.Empty());
  EXPECT_TRUE(Save(mf).empty());
}

TEST(Metafile, RegisteredForFilesAndClipboardFormats) {
  EXPECT_TRUE(FileFormatClass("emf") == TGraphicClass::Of<TMetafile>());
  EXPECT_TRUE(FileFormatClass(".WMF") == TGraphicClass::Of<TMetafile>());
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(CF_ENHMETAFILE));
  EXPECT_TRUE(TPicture::SupportsClipboardFormat(CF_METAFILEPICT));
  qvtest::TempDir dir;
  TMetafile mf;
  mf.SetHandle(RedBox());
  mf.SaveToFile(dir.File("box.emf"));
  TPicture picture;
  picture.LoadFromFile(dir.File("box.emf"));
  ASSERT_NE(dynamic_cast<TMetafile*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), mf.Width());
}

class MetafileClipboard : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
  }
  void TearDown() override { SetUp(); }
  void Put(TMetafile& mf) {
    WORD format;
    HANDLE data;
    HPALETTE palette;
    mf.SaveToClipboardFormat(format, data, palette);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    ASSERT_NE(SetClipboardData(format, data), nullptr);
    CloseClipboard();
  }
};

TEST_F(MetafileClipboard, CopiedAndPastedIntoAPictureKeepsItsBytes) {
  TMetafile mf;
  mf.SetHandle(RedBox());
  Put(mf);
  ASSERT_TRUE(OpenClipboard(nullptr));
  TPicture picture;
  picture.LoadFromClipboardFormat(CF_ENHMETAFILE, GetClipboardData(CF_ENHMETAFILE), nullptr);
  CloseClipboard();
  auto* pasted = dynamic_cast<TMetafile*>(picture.Graphic());
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(Save(*pasted), Save(mf));
}

TEST_F(MetafileClipboard, EachFormatIsOfferedForTheOther) {
  TMetafile mf;
  mf.SetWidth(40);
  mf.SetHeight(30);
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(0x00FF00);
    canvas.FillRect(Rect(0, 0, 20, 30));
  }
  Put(mf);  // enhanced
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_METAFILEPICT));
  HANDLE pict = GetClipboardData(CF_METAFILEPICT);
  ASSERT_NE(pict, nullptr);
  TMetafile fromPict;
  fromPict.LoadFromClipboardFormat(CF_METAFILEPICT, pict, nullptr);
  CloseClipboard();
  EXPECT_EQ(fromPict.Width(), 40);
  EXPECT_EQ(fromPict.Height(), 30);

  mf.SetEnhanced(false);
  Put(mf);  // a Windows metafile picture
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_ENHMETAFILE));
  TMetafile fromEmf;
  fromEmf.LoadFromClipboardFormat(CF_ENHMETAFILE, GetClipboardData(CF_ENHMETAFILE), nullptr);
  CloseClipboard();
  EXPECT_EQ(fromEmf.Width(), 40);
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(40, 30);
  b.Canvas()->Draw(0, 0, &fromEmf);
  EXPECT_EQ(b.Canvas()->Pixels(5, 5), TColor(0x00FF00));
  EXPECT_EQ(b.Canvas()->Pixels(30, 5), TColor(0xFFFFFF));
}

// ---- damaged and hostile metafiles ----

std::vector<uint8_t> GoodEmf() {
  HENHMETAFILE h = RedBox();
  std::vector<uint8_t> v = Bytes(h);
  DeleteEnhMetaFile(h);
  return v;
}

// Appends one record before the end record and fixes the header's counts.
std::vector<uint8_t> WithRecord(std::vector<uint8_t> v, const std::vector<uint32_t>& words) {
  size_t eof = v.size() - 20;
  std::vector<uint8_t> rec(words.size() * 4);
  for (size_t i = 0; i < words.size(); ++i) Put32(rec, 4 * i, words[i]);
  v.insert(v.begin() + static_cast<std::ptrdiff_t>(eof), rec.begin(), rec.end());
  Put32(v, 48, static_cast<uint32_t>(v.size()));
  return v;
}

struct Hostile {
  const char* name;
  std::vector<uint8_t> bytes;
  bool loads;  // the header is sound: the picture loads and damaged records are skipped
};

std::vector<Hostile> HostileCases() {
  std::vector<Hostile> out;
  std::vector<uint8_t> good = GoodEmf();
  out.push_back({"empty", {}, false});
  out.push_back({"truncated header", std::vector<uint8_t>(good.begin(), good.begin() + 60), false});
  auto longer = good;
  Put32(longer, 48, static_cast<uint32_t>(good.size() + 1000));
  out.push_back({"nBytes past the end", longer, false});
  auto headerSize = good;
  Put32(headerSize, 4, 0x7FFFFFF0);
  out.push_back({"header size past the end", headerSize, false});
  auto truncated = good;
  truncated.resize(good.size() - 12);
  Put32(truncated, 48, static_cast<uint32_t>(truncated.size()));
  out.push_back({"truncated records", truncated, true});
  out.push_back({"record size past the end", WithRecord(good, {43, 0x7FFFFFF8, 0, 0, 0, 0}), true});
  out.push_back({"record size zero", WithRecord(good, {43, 0, 0, 0}), true});
  out.push_back({"point count past the record", WithRecord(good, {86, 28, 0, 0, 0, 0, 0x40000000}), true});
  out.push_back({"polygon counts past the record", WithRecord(good, {91, 32, 0, 0, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF}), true});
  out.push_back({"polypolygon counts that disagree", WithRecord(good, {91, 44, 0, 0, 0, 0, 2, 3, 1, 1, 0}), true});
  out.push_back({"bad object index", WithRecord(good, {37, 12, 0x12345}), true});
  out.push_back({"delete of a bad index", WithRecord(good, {40, 12, 0xFFFF}), true});
  out.push_back({"stock index out of range", WithRecord(good, {37, 12, 0x800000FF}), true});
  out.push_back({"text offsets past the record",
                 WithRecord(good, {84, 76, 0, 0, 0, 0, 1, 0, 0, 5, 5, 0x10000, 0x7FFFFFF0, 0, 0, 0, 0, 0, 0x7FFFFFF0}),
                 true});
  out.push_back({"DIB offsets past the record",
                 WithRecord(good, {81, 80, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 0xFFFFFF00, 40, 200, 0x7FFFFFFF, 0,
                                   SRCCOPY, 10, 10}),
                 true});
  std::vector<uint32_t> dibHeader = {81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 80, 40, 120, 0, 0, SRCCOPY, 10, 10,
                                     // BITMAPINFOHEADER of a 60000 x 60000 32-bit DIB with no bits behind it
                                     40, 60000, 60000, 0x00200001, 0, 0, 0, 0, 0, 0};
  dibHeader[1] = static_cast<uint32_t>(dibHeader.size() * 4);
  out.push_back({"DIB larger than its bits", WithRecord(good, dibHeader), true});
  out.push_back({"region count past the data", WithRecord(good, {71, 40, 0, 0, 10, 10, 48, 1, 32, 1, 0x10000000, 16}),
                 true});
  auto frame = good;
  Put32(frame, 24, 0x80000000);
  Put32(frame, 32, 0x7FFFFFFF);
  out.push_back({"huge frame", frame, false});
  std::vector<uint32_t> hugeMap = {9, 16, 1, 0x7FFFFFFF};  // a window extent of 1 x huge
  auto mapped = WithRecord(WithRecord(WithRecord(good, {17, 12, MM_ANISOTROPIC}), hugeMap), {11, 16, 0x7FFFFFFF, 1});
  out.push_back({"extreme extents", mapped, true});
  // Masked, parallelogram and transparent blits whose DIBs lie outside their records.
  std::vector<uint32_t> maskBlt = {78, 128, 0, 0, 10, 10, 0, 0, 10, 10, SRCCOPY, 0, 0, 0x3F800000, 0, 0, 0x3F800000,
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFFFFFF00, 40, 0xFFFFFF40, 0x7FFFFFFF};
  out.push_back({"mask DIB past the record", WithRecord(good, maskBlt), true});
  std::vector<uint32_t> plgBlt = {79, 140, 0, 0, 10, 10, 0, 0, 10, 0, 0, 10, 0, 0, 4, 4, 0x3F800000, 0, 0,
                                  0x3F800000, 0, 0, 0, 0, 140, 0x7FFFFFFF, 180, 64, 0, 0, 0, 0, 0, 0, 0};
  out.push_back({"parallelogram source past the record", WithRecord(good, plgBlt), true});
  std::vector<uint32_t> transparent = {116, 108, 0, 0, 10, 10, 0, 0, 10, 10, 0, 0, 0, 0x3F800000, 0, 0,
                                       0x3F800000, 0, 0, 0, 0, 100, 0x7FFFFF00, 140, 64, 4, 4};
  out.push_back({"transparent blit DIB past the record", WithRecord(good, transparent), true});
  out.push_back({"gradient vertex count past the record",
                 WithRecord(good, {118, 52, 0, 0, 10, 10, 0x10000000, 1, 2, 0, 0, 0xFF00FF00, 0}), true});
  out.push_back({"gradient mesh naming missing vertices",
                 WithRecord(good, {118, 64, 0, 0, 10, 10, 1, 1, 2, 5, 5, 0xFF00FF00, 0, 5, 6, 7}), true});
  out.push_back({"gradient mesh count past the record",
                 WithRecord(good, {118, 52, 0, 0, 10, 10, 1, 0x40000000, 0, 5, 5, 0xFF00FF00, 0}), true});
  // Paths used without being made, clip modes out of range, and a path far larger than any device.
  out.push_back({"path used before it was made",
                 WithRecord(WithRecord(WithRecord(good, {62, 24, 0, 0, 1, 1}), {64, 24, 0, 0, 1, 1}), {67, 12, RGN_AND}),
                 true});
  out.push_back({"clip path mode out of range",
                 WithRecord(WithRecord(WithRecord(good, {59, 8}), {60, 8}), {67, 12, 99}), true});
  std::vector<uint32_t> farPolygon = {3, 52, 0, 0, 0, 0, 3, 0xE0000000, 0xE0000000, 0x20000000, 0, 0, 0x20000000};
  auto farPath = WithRecord(WithRecord(WithRecord(WithRecord(good, {59, 8}), farPolygon), {60, 8}), {67, 12, RGN_COPY});
  farPath = WithRecord(WithRecord(WithRecord(farPath, {59, 8}), farPolygon), {60, 8});
  out.push_back({"path far larger than the device", WithRecord(farPath, {63, 24, 0, 0, 1, 1}), true});
  std::vector<uint32_t> turn = {35, 32, 0x3F5DB3D7, 0x3F000000, 0xBF000000, 0x3F5DB3D7, 0, 0};  // 30 degrees
  std::vector<uint32_t> hugeEllipse = {42, 24, 0xE0000000, 0xE0000000, 0x20000000, 0x20000000};
  out.push_back({"huge shapes under a turned world", WithRecord(WithRecord(good, turn), hugeEllipse), true});
  std::vector<uint32_t> world = {35, 32, 0x7F7FFFFF, 0, 0, 0x7F7FFFFF, 0x7F800000, 0xFF800000};
  out.push_back({"overflowing world transform", WithRecord(good, world), true});
  // A million tiny records.
  std::vector<uint8_t> many = good;
  size_t eof = many.size() - 20;
  std::vector<uint8_t> tiny(12 * 1000000);
  for (size_t i = 0; i < 1000000; ++i) {
    Put32(tiny, 12 * i, 24);  // set text colour
    Put32(tiny, 12 * i + 4, 12);
    Put32(tiny, 12 * i + 8, static_cast<uint32_t>(i));
  }
  many.insert(many.begin() + static_cast<std::ptrdiff_t>(eof), tiny.begin(), tiny.end());
  Put32(many, 48, static_cast<uint32_t>(many.size()));
  out.push_back({"a million tiny records", many, true});
  std::vector<uint8_t> wmf = PlainWmf(false);
  auto wmfBig = wmf;
  Put32(wmfBig, 18, 0x7FFFFFFF);  // first record's size
  out.push_back({"Windows record size past the end", wmfBig, true});
  auto wmfCount = wmf;
  wmfCount.insert(wmfCount.end() - 6, {5, 0, 0, 0, 0x24, 0x03, 0xFF, 0x7F});  // polygon of 32767 points
  out.push_back({"Windows point count past the record", wmfCount, true});
  std::vector<uint8_t> placeable(22, 0);
  Put32(placeable, 0, 0x9AC6CDD7);
  out.push_back({"placeable header alone", placeable, false});
  auto badBox = placeable;
  badBox.insert(badBox.end(), wmf.begin(), wmf.end());
  out.push_back({"placeable with an empty box", badBox, false});
  return out;
}

TEST(MetafileHostile, DamagedBytesFailCleanlyOrPlayWithoutHarm) {
  for (const Hostile& c : HostileCases()) {
    SCOPED_TRACE(c.name);
    TMetafile mf;
    mf.SetHandle(RedBox());
    const std::vector<uint8_t> before = Save(mf);
    auto start = std::chrono::steady_clock::now();
    bool loaded = true;
    try {
      Load(mf, c.bytes);
    } catch (const EInvalidGraphic&) {
      loaded = false;
    }
    EXPECT_EQ(loaded, c.loads);
    if (!loaded) {
      EXPECT_EQ(Save(mf), before);  // a failed load leaves the picture as it was
      continue;
    }
    Dib target(256, 256, 24);
    RECT r{0, 0, 256, 256};
    PlayEnhMetaFile(target.dc(), mf.Handle(), &r);
    TBitmap b;
    b.SetPixelFormat(pf24bit);
    b.SetSize(16, 16);
    b.Canvas()->StretchDraw(Rect(0, 0, 16, 16), &mf);
    mf.SetEnhanced(false);
    Save(mf);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }
}

TEST(MetafileHostile, SetBitsRefusesDamagedHeaders) {
  std::vector<uint8_t> good = GoodEmf();
  EXPECT_EQ(SetEnhMetaFileBits(40, good.data()), nullptr);
  auto sig = good;
  sig[40] = 'X';
  EXPECT_EQ(SetEnhMetaFileBits(static_cast<UINT>(sig.size()), sig.data()), nullptr);
  auto type = good;
  type[0] = 2;
  EXPECT_EQ(SetEnhMetaFileBits(static_cast<UINT>(type.size()), type.data()), nullptr);
  std::vector<uint8_t> disk = PlainWmf(true);
  disk[0] = 3;
  EXPECT_EQ(SetMetaFileBitsEx(static_cast<UINT>(disk.size()), disk.data()), nullptr);
}

}  // namespace
