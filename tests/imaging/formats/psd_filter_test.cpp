// The PSD filter on hand-made documents: layers, user masks, resources,
// every colour mode the filter reads, the writer's forms and PackBits, and
// hostile sections.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "imaging/core/ie_view_link.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/formats/psd_filter.h"
#include "imaging/io/ie_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/views/image_view_layer.h"
#include "imaging/views/psd_view_layers.h"
#include "platform/rtl/lists.h"
#include "tests/imaging/formats/filter_test_streams.h"
#include "tests/imaging/formats/format_test_util.h"
#include "tests/imaging/io/io_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qvtest::Progress;

void Be16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void Be32(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

Bytes Resource(uint16_t id, const Bytes& data) {
  Bytes b = {'8', 'B', 'I', 'M'};
  Be16(b, id);
  Be16(b, 0);
  Be32(b, uint32_t(data.size()));
  Append(b, data);
  if (data.size() & 1) b.push_back(0);
  return b;
}

struct Channel {
  int id;
  Bytes data;  // compression word and rows, as stored
};

// Raw rows of one channel.
Channel RawChannel(int id, const Bytes& rows) {
  Channel c{id, {0, 0}};
  Append(c.data, rows);
  return c;
}

struct Layer {
  int top = 0, left = 0, bottom = 0, right = 0;
  uint8_t opacity = 255, flags = 0;
  std::string name = "layer";
  std::vector<Channel> channels;
  bool mask = false;
  int maskTop = 0, maskLeft = 0, maskBottom = 0, maskRight = 0;
};

struct Psd {
  int channels = 3, width = 2, height = 1, depth = 8, mode = 3;
  Bytes modeData, resources;
  std::vector<Layer> layers;
  Bytes merged;  // compression word, counts and rows
  Bytes Build() const {
    Bytes b = {'8', 'B', 'P', 'S'};
    Be16(b, 1);
    b.resize(b.size() + 6, 0);
    Be16(b, uint32_t(channels));
    Be32(b, uint32_t(height));
    Be32(b, uint32_t(width));
    Be16(b, uint32_t(depth));
    Be16(b, uint32_t(mode));
    Be32(b, uint32_t(modeData.size()));
    Append(b, modeData);
    Be32(b, uint32_t(resources.size()));
    Append(b, resources);
    Bytes info;
    if (!layers.empty()) {
      Be16(info, uint32_t(layers.size()));
      for (const Layer& l : layers) {
        for (int v : {l.top, l.left, l.bottom, l.right}) Be32(info, uint32_t(v));
        Be16(info, uint32_t(l.channels.size()));
        for (const Channel& c : l.channels) Be16(info, uint32_t(int16_t(c.id))), Be32(info, uint32_t(c.data.size()));
        Append(info, {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', l.opacity, 0, l.flags, 0});
        Bytes extra;
        if (l.mask) {
          Be32(extra, 20);
          for (int v : {l.maskTop, l.maskLeft, l.maskBottom, l.maskRight}) Be32(extra, uint32_t(v));
          Append(extra, {0, 0, 0, 0});
        } else {
          Be32(extra, 0);
        }
        Be32(extra, 0);
        extra.push_back(uint8_t(l.name.size()));
        extra.insert(extra.end(), l.name.begin(), l.name.end());
        while (extra.size() % 4) extra.push_back(0);
        Be32(info, uint32_t(extra.size()));
        Append(info, extra);
      }
      for (const Layer& l : layers)
        for (const Channel& c : l.channels) Append(info, c.data);
    }
    Bytes section;
    if (!info.empty()) {
      Be32(section, uint32_t(info.size()));
      Append(section, info);
      Be32(section, 0);
    }
    Be32(b, uint32_t(section.size()));
    Append(b, section);
    Append(b, merged);
    return b;
  }
};

struct Read {
  TIEBitmap bitmap;
  TIOParamsVals params{nullptr};
  TPSDLayerList layers;
  Progress progress;
};

std::unique_ptr<Read> ReadBytes(const Bytes& bytes, bool loadLayers = false, bool native = false) {
  auto r = std::make_unique<Read>();
  r->params.NativePixelFormat = native;
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  ReadPSDStream(s, &r->bitmap, r->params, &r->layers, loadLayers, r->progress.rec);
  return r;
}

Bytes WriteBytes(TIEBitmap& b, TIOParamsVals& params, const TPSDLayerList* layers = nullptr, bool* aborted = nullptr) {
  TMemoryStream out;
  Progress progress;
  WritePSDStream(out, params, progress.rec, layers, &b);
  if (aborted) *aborted = progress.Aborted();
  return qvtest::StreamBytes(out);
}

using qvtest::Pixels;

// A 2 x 1 RGB document with a raw merged image of red 1 2, green 3 4, blue 5 6.
Psd SmallRgb() {
  Psd p;
  p.merged = {0, 0, 1, 2, 3, 4, 5, 6};
  return p;
}

Layer RgbLayer(int top, int left, uint8_t value, const std::string& name) {
  Layer l;
  l.top = top, l.left = left, l.bottom = top + 1, l.right = left + 2, l.name = name;
  for (int c = 0; c < 3; ++c) l.channels.push_back(RawChannel(c, {uint8_t(value + c), uint8_t(value + c)}));
  return l;
}

TEST(PsdFilter, LayersLoadInStreamOrderInsteadOfTheMergedImage) {
  Psd p = SmallRgb();
  p.layers = {RgbLayer(0, 0, 10, "one"), RgbLayer(3, 4, 20, "two"), RgbLayer(-1, 7, 30, "three")};
  p.layers[1].flags = 2, p.layers[1].opacity = 128;
  const Bytes file = p.Build();
  auto withLayers = ReadBytes(file, true);
  ASSERT_FALSE(withLayers->progress.Aborted());
  ASSERT_EQ(withLayers->layers.size(), 3u);
  EXPECT_TRUE(withLayers->bitmap.IsEmpty());
  const TPSDLayerRecord& two = withLayers->layers[1];
  EXPECT_EQ(two.Name, "two");
  EXPECT_EQ(two.PosX, 4);
  EXPECT_EQ(two.PosY, 3);
  EXPECT_FALSE(two.Visible);
  EXPECT_EQ(two.Transparency, 128);
  EXPECT_EQ(Pixels(*two.Bitmap), "141516 141516|");
  EXPECT_EQ(withLayers->layers[2].PosY, -1);
  auto merged = ReadBytes(file, false);
  ASSERT_FALSE(merged->progress.Aborted());
  EXPECT_TRUE(merged->layers.empty());
  EXPECT_EQ(Pixels(merged->bitmap), "010305 020406|");
}

TEST(PsdFilter, AUserMaskBecomesAnInvisibleMaskLayerAfterItsLayer) {
  Psd p = SmallRgb();
  Layer l = RgbLayer(0, 0, 10, "masked");
  l.mask = true, l.maskTop = 5, l.maskLeft = 6, l.maskBottom = 7, l.maskRight = 9;
  l.channels.push_back(RawChannel(-2, {1, 2, 3, 4, 5, 6}));
  p.layers = {l};
  auto r = ReadBytes(p.Build(), true);
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->layers.size(), 2u);
  const TPSDLayerRecord& mask = r->layers[1];
  EXPECT_TRUE(mask.IsMask);
  EXPECT_FALSE(mask.Visible);
  EXPECT_EQ(mask.PosX, 6);
  EXPECT_EQ(mask.PosY, 5);
  ASSERT_EQ(mask.Bitmap->PixelFormat(), ie8g);
  EXPECT_EQ(mask.Bitmap->Width(), 3);
  EXPECT_EQ(mask.Bitmap->Height(), 2);
  EXPECT_EQ(mask.Bitmap->GetPixel8(2, 1), 6);
}

TEST(PsdFilter, ChannelsWithoutAPlaceAreSkippedByTheirLength) {
  Psd p = SmallRgb();
  Layer l = RgbLayer(0, 0, 10, "extra");
  // A channel id no mode has, and a fourth colour channel an RGB layer lacks,
  // before and between the real ones.
  l.channels.insert(l.channels.begin(), RawChannel(-3, {99, 99, 99, 99, 99}));
  l.channels.insert(l.channels.begin() + 2, RawChannel(7, {98}));
  l.channels.push_back(RawChannel(-1, {200, 100}));
  p.layers = {l, RgbLayer(0, 0, 40, "after")};
  auto r = ReadBytes(p.Build(), true);
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->layers.size(), 2u);
  EXPECT_EQ(Pixels(*r->layers[0].Bitmap), "0a0b0c 0a0b0c|");
  ASSERT_TRUE(r->layers[0].Bitmap->HasAlphaChannel());
  EXPECT_EQ(r->layers[0].Bitmap->GetAlpha(0, 0), 200);
  EXPECT_EQ(Pixels(*r->layers[1].Bitmap), "28292a 28292a|");
}

TEST(PsdFilter, ResolutionAndDefault) {
  Psd p = SmallRgb();
  Bytes res;
  Be32(res, 0x00480000), Be16(res, 1), Be16(res, 1), Be32(res, 0x012C8000), Be16(res, 1), Be16(res, 1);
  p.resources = Resource(1005, res);
  auto r = ReadBytes(p.Build());
  EXPECT_EQ(r->params.DpiX, 72);
  EXPECT_EQ(r->params.DpiY, 300);
  auto plain = ReadBytes(SmallRgb().Build());
  EXPECT_EQ(plain.get()->params.DpiX, gDefaultDPIX);
  EXPECT_EQ(plain.get()->params.DpiY, gDefaultDPIY);
}

Bytes GreyRamp() {
  Bytes pal(768);
  for (int i = 0; i < 256; ++i) pal[size_t(i)] = uint8_t(i), pal[size_t(256 + i)] = uint8_t(255 - i), pal[size_t(512 + i)] = 7;
  return pal;
}

TEST(PsdFilter, IndexedDocumentsTakeTheirPaletteAndTransparencyIndex) {
  Psd p;
  p.mode = 2, p.channels = 1, p.width = 4;
  p.modeData = GreyRamp();
  Bytes index;
  Be16(index, 3);
  p.resources = Resource(1047, index);
  p.merged = {0, 0, 1, 3, 200, 3};
  auto r = ReadBytes(p.Build(), false, true);
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.PixelFormat(), ie8p);
  EXPECT_EQ(Pixels(r->bitmap), "01fe07 03fc07 c83707 03fc07|");
  ASSERT_TRUE(r->bitmap.HasAlphaChannel());
  EXPECT_EQ(r->bitmap.GetAlpha(0, 0), 255);
  EXPECT_EQ(r->bitmap.GetAlpha(1, 0), 0);
  EXPECT_EQ(r->bitmap.GetAlpha(3, 0), 0);
}

// The resource ids of a written document, in order.
std::vector<int> ResourceIds(const Bytes& file, Bytes* transparency = nullptr) {
  size_t at = 26;
  at += 4 + ReadBE32(&file[at]);
  const size_t end = at + 4 + ReadBE32(&file[at]);
  at += 4;
  std::vector<int> ids;
  while (at + 12 <= end) {
    const int id = ReadBE16(&file[at + 4]);
    const uint32_t size = ReadBE32(&file[at + 8]);
    ids.push_back(id);
    if (id == 1047 && transparency) *transparency = Bytes(file.begin() + long(at + 12), file.begin() + long(at + 14));
    at += 12 + size + (size & 1);
  }
  return ids;
}

TEST(PsdFilter, TheTransparencyIndexIsWrittenOnlyForAnAlphaThatMarksOneEntry) {
  TIEBitmap indexed(3, 2, ie8p);
  for (int i = 0; i < 256; ++i) indexed.SetPaletteColor(i, MakeRGB(uint8_t(i), 0, 0));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) indexed.ScanLine(y)[x] = uint8_t(x + 250);
  TIOParamsVals params(nullptr);
  EXPECT_EQ(ResourceIds(WriteBytes(indexed, params)), (std::vector<int>{1005}));
  indexed.AlphaChannel()->Fill(255);
  indexed.SetAlpha(1, 0, 0), indexed.SetAlpha(1, 1, 0);
  Bytes entry;
  const Bytes file = WriteBytes(indexed, params);
  EXPECT_EQ(ResourceIds(file, &entry), (std::vector<int>{1005, 1047}));
  EXPECT_EQ(entry, (Bytes{0, 251}));
  auto r = ReadBytes(file, false, true);
  EXPECT_EQ(r->bitmap.GetAlpha(1, 1), 0);
  EXPECT_EQ(r->bitmap.GetAlpha(2, 1), 255);
  // Alpha that is not one entry's (half transparency) writes no index.
  indexed.SetAlpha(2, 0, 128);
  EXPECT_EQ(ResourceIds(WriteBytes(indexed, params)), (std::vector<int>{1005}));
}

TEST(PsdFilter, BilevelDocumentsKeepTheNinthPixelAndTheirInk) {
  Psd p;
  p.mode = 0, p.depth = 1, p.channels = 1, p.width = 9, p.height = 1;
  // In the file 1 is black: pixels 0 and 8 black.
  p.merged = {0, 0, 0x80, 0x80};
  auto r = ReadBytes(p.Build());
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->bitmap.PixelFormat(), ie1g);
  EXPECT_EQ(r->bitmap.ScanLine(0)[0], 0x7F);
  EXPECT_EQ(r->bitmap.ScanLine(0)[1] & 0x80, 0);
  TIOParamsVals params(nullptr);
  const Bytes written = WriteBytes(r->bitmap, params);
  auto back = ReadBytes(written);
  EXPECT_EQ(back->bitmap.ScanLine(0)[0], 0x7F);
  EXPECT_EQ(back->bitmap.ScanLine(0)[1] & 0x80, 0);
  EXPECT_EQ(back->bitmap.ScanLine(0)[1] & 0x40, 0x40 & r->bitmap.ScanLine(0)[1]);
}

TEST(PsdFilter, EveryWrittenFormatReadsBack) {
  struct Case {
    TIEBitmapFormat format;
    int mode, depth, channels;
  } cases[] = {{ie8g, 1, 8, 1},   {ie16g, 1, 16, 1},   {ie24RGB, 3, 8, 3},  {ieRGB48, 3, 16, 3},
               {ieCMYK, 4, 8, 4}, {ieCIELab, 9, 8, 3}, {ie32RGB, 3, 8, 3}, {ie8p, 2, 8, 1}};
  auto picture = qvtest::Gradient(7, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    TIEBitmap source;
    source.Assign(picture.get());
    source.SetPixelFormat(c.format);
    ASSERT_EQ(source.PixelFormat(), c.format);
    TIOParamsVals params(nullptr);
    params.DpiX = 150, params.DpiY = 75;
    bool aborted = true;
    const Bytes file = WriteBytes(source, params, nullptr, &aborted);
    ASSERT_FALSE(aborted);
    EXPECT_EQ(ReadBE16(&file[12]), c.channels);
    EXPECT_EQ(ReadBE16(&file[22]), c.depth);
    EXPECT_EQ(ReadBE16(&file[24]), c.mode);
    auto r = ReadBytes(file, false, true);
    ASSERT_FALSE(r->progress.Aborted());
    EXPECT_EQ(r->params.DpiX, 150);
    EXPECT_EQ(r->params.DpiY, 75);
    TIEBitmap expected;
    expected.Assign(&source);
    if (c.format == ie32RGB) expected.SetPixelFormat(ie24RGB);
    ASSERT_EQ(r->bitmap.PixelFormat(), expected.PixelFormat());
    const int used = 7 * IEBitsPerPixel(expected.PixelFormat()) / 8;  // row padding is no pixel
    for (int y = 0; y < 3; ++y)
      EXPECT_EQ(Bytes(r->bitmap.ScanLine(y), r->bitmap.ScanLine(y) + used),
                Bytes(expected.ScanLine(y), expected.ScanLine(y) + used))
          << "row " << y;
  }
  // ie32f has no colour mode.
  TIEBitmap floats(2, 2, ie32f);
  TIOParamsVals params(nullptr);
  bool aborted = false;
  EXPECT_TRUE(WriteBytes(floats, params, nullptr, &aborted).empty());
  EXPECT_TRUE(aborted);
}

TEST(PsdFilter, AFrameworkBitmapTargetGetsTheDocumentInItsDisplayFormat) {
  auto picture = qvtest::Gradient(5, 3);
  TIEBitmap cmyk;
  cmyk.Assign(picture.get());
  cmyk.SetPixelFormat(ieCMYK);
  TIOParamsVals params(nullptr);
  const Bytes file = WriteBytes(cmyk, params);
  TIEBitmap target;
  target.SetLocation(ieTBitmap);
  target.Allocate(2, 2, ie24RGB);
  TIOParamsVals readParams(nullptr);
  Progress progress;
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  ReadPSDStream(s, &target, readParams, nullptr, false, progress.rec);
  ASSERT_FALSE(progress.Aborted());
  EXPECT_EQ(target.PixelFormat(), ie24RGB);
  EXPECT_EQ(target.Width(), 5);
  TIEBitmap expected;
  expected.Assign(&cmyk);
  expected.SetPixelFormat(ie24RGB);
  EXPECT_EQ(Pixels(target), Pixels(expected));
}

TEST(PsdFilter, LabIsStoredOffsetBy128) {
  TIEBitmap lab(1, 1, ieCIELab);
  auto* px = reinterpret_cast<TCIELab*>(lab.ScanLine(0));
  *px = TCIELab{200, -20, 35};
  TIOParamsVals params(nullptr);
  const Bytes file = WriteBytes(lab, params);
  // The merged image's last bytes are the rows of L, a and b, one byte each
  // (PackBits literal packets of 1).
  const Bytes tail(file.end() - 6, file.end());
  EXPECT_EQ(tail, (Bytes{0, 200, 0, 108, 0, 163}));
  auto r = ReadBytes(file, false, true);
  EXPECT_EQ(*reinterpret_cast<TCIELab*>(r->bitmap.ScanLine(0)), (TCIELab{200, -20, 35}));
}

TEST(PsdFilter, LayersWriteWithMasksAndReadBack) {
  auto merged = qvtest::Gradient(6, 4);
  TPSDLayerList layers(3);
  auto first = qvtest::Gradient(3, 2);
  first->AlphaChannel()->Fill(255);
  first->SetAlpha(0, 0, 10);
  layers[0].Bitmap = first.get();
  layers[0].PosX = 2, layers[0].PosY = 1, layers[0].Name = "first", layers[0].Transparency = 77;
  TIEBitmap mask(2, 2, ie8g);
  mask.Fill(60);
  layers[1].Bitmap = &mask, layers[1].IsMask = true, layers[1].PosX = 1, layers[1].PosY = 1;
  // Shown at twice its size: written resampled to it.
  TIEBitmap grey(2, 1, ie8g);
  grey.Fill(90);
  layers[2].Bitmap = &grey, layers[2].DisplayWidth = 4, layers[2].DisplayHeight = 2, layers[2].Visible = false;
  TIOParamsVals params(nullptr);
  bool aborted = true;
  const Bytes file = WriteBytes(*merged, params, &layers, &aborted);
  ASSERT_FALSE(aborted);
  auto r = ReadBytes(file, true);
  ASSERT_FALSE(r->progress.Aborted());
  ASSERT_EQ(r->layers.size(), 3u);
  EXPECT_EQ(r->layers[0].Name, "first");
  EXPECT_EQ(r->layers[0].Transparency, 77);
  EXPECT_EQ(Pixels(*r->layers[0].Bitmap), Pixels(*first));
  EXPECT_EQ(r->layers[0].Bitmap->GetAlpha(0, 0), 10);
  EXPECT_TRUE(r->layers[1].IsMask);
  EXPECT_EQ(r->layers[1].Bitmap->GetPixel8(1, 1), 60);
  EXPECT_EQ(r->layers[2].Bitmap->Width(), 4);
  EXPECT_EQ(r->layers[2].Bitmap->Height(), 2);
  EXPECT_EQ(Pixels(*r->layers[2].Bitmap), "5a5a5a 5a5a5a 5a5a5a 5a5a5a|5a5a5a 5a5a5a 5a5a5a 5a5a5a|");
  EXPECT_FALSE(r->layers[2].Visible);
  // The caller's layers are left as they were.
  EXPECT_EQ(grey.Width(), 2);
  EXPECT_EQ(grey.PixelFormat(), ie8g);
  auto flat = ReadBytes(file, false);
  EXPECT_EQ(Pixels(flat->bitmap), Pixels(*merged));
}

TEST(PsdFilter, ThumbnailResourceAndGetThumbnail) {
  auto merged = qvtest::Gradient(8, 6);
  TIOParamsVals params(nullptr);
  params.ExifThumbnail = qvtest::Gradient(160, 120);
  const Bytes file = WriteBytes(*merged, params);
  size_t at = 26 + 4;
  const size_t end = at + 4 + ReadBE32(&file[at]);
  at += 4;
  bool found = false;
  while (at + 12 <= end) {
    const uint32_t size = ReadBE32(&file[at + 8]);
    if (ReadBE16(&file[at + 4]) == 1036) {
      const uint8_t* d = &file[at + 12];
      EXPECT_EQ(ReadBE32(d), 1u);
      EXPECT_EQ(ReadBE32(d + 4), 160u);
      EXPECT_EQ(ReadBE32(d + 8), 480u);
      EXPECT_EQ(ReadBE32(d + 12), 57600u);
      EXPECT_EQ(ReadBE32(d + 16), size - 28);
      EXPECT_EQ(Bytes(d + 20, d + 24), (Bytes{0, 24, 0, 1}));
      EXPECT_EQ(Bytes(d + 28, d + 30), (Bytes{0xFF, 0xD8}));
      found = true;
    }
    at += 12 + size + (size & 1);
  }
  EXPECT_TRUE(found);
  auto r = ReadBytes(file);
  ASSERT_NE(r->params.ExifThumbnail, nullptr);
  EXPECT_EQ(r->params.ExifThumbnail->Width(), 160);
  EXPECT_EQ(r->bitmap.Width(), 8);
  // With GetThumbnail the thumbnail is the picture and no layers are read.
  auto t = std::make_unique<Read>();
  t->params.GetThumbnail = true;
  TCustomMemoryStream s(file.data(), int64_t(file.size()));
  ReadPSDStream(s, &t->bitmap, t->params, &t->layers, true, t->progress.rec);
  ASSERT_FALSE(t->progress.Aborted());
  EXPECT_EQ(t->bitmap.Width(), 160);
  EXPECT_TRUE(t->layers.empty());
}

TEST(PsdFilter, PackBitsRowsAndTheirBounds) {
  struct Case {
    Bytes row, packed;
  } cases[] = {
      {{1, 2, 3}, {2, 1, 2, 3}},
      {{5, 5, 5, 5}, {0xFD, 5}},
      {{5, 5, 5, 1}, {3, 5, 5, 5, 1}},
      {{1, 7, 7, 7, 7, 7, 2}, {0, 1, 0xFC, 7, 0, 2}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    uint8_t out[64];
    const int n = PackBitsEncodeRow(c.row.data(), int(c.row.size()), out);
    EXPECT_EQ(Bytes(out, out + n), c.packed);
  }
  Bytes big(300, 9);
  big[150] = 1;
  std::vector<uint8_t> out(400);
  const int n = PackBitsEncodeRow(big.data(), 300, out.data());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + n), (Bytes{0x81, 9, 0xEB, 9, 0, 1, 0x81, 9, 0xEC, 9}));
  // Reading: a run past the row stops at its end, -128 is no packet.
  Psd p;
  p.mode = 1, p.channels = 1, p.width = 3, p.height = 2;
  p.merged = {0, 1, 0, 3, 0, 5, 0x80, 0xF0, 7, 0x80, 2, 1, 2, 3};
  auto r = ReadBytes(p.Build(), false, true);
  ASSERT_FALSE(r->progress.Aborted());
  EXPECT_EQ(Bytes(r->bitmap.ScanLine(0), r->bitmap.ScanLine(0) + 3), (Bytes{7, 7, 7}));
  EXPECT_EQ(Bytes(r->bitmap.ScanLine(1), r->bitmap.ScanLine(1) + 3), (Bytes{1, 2, 3}));
}

TEST(PsdFilter, HostileDocumentsFailCleanly) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* reason;  // the rule that fired, as the progress record names it
  } cases[] = {
      {"empty", {}, "the data ends early"},
      {"truncated header", [] {
         Bytes b = SmallRgb().Build();
         b.resize(20);
         return b;
       }(), "the data ends early"},
      {"version 2", [] {
         Bytes b = SmallRgb().Build();
         b[5] = 2;
         return b;
       }(), "a header field outside what the reader takes"},
      {"zero width", [] {
         Psd p = SmallRgb();
         p.width = 0;
         return p.Build();
       }(), "a side of zero or above the limit"},
      {"huge size, little data", [] {
         Psd p = SmallRgb();
         p.width = 30000, p.height = 30000;
         return p.Build();
       }(), "the data cannot fill the rows"},
      {"packed rows that cannot fill", [] {
         Psd p = SmallRgb();
         p.width = 30000, p.height = 300;
         p.merged = {0, 1};
         for (int i = 0; i < 900; ++i) Be16(p.merged, 2);
         for (int i = 0; i < 900; ++i) Append(p.merged, {0x81, 1});
         return p.Build();
       }(), "the data cannot fill the rows"},
      {"mode data past the end", [] {
         Psd p = SmallRgb();
         p.modeData = Bytes(10, 0);
         Bytes b = p.Build();
         WriteBE32(&b[26], 5000);
         return b;
       }(), "the colour mode data runs past the end"},
      {"merged short", [] {
         Psd p = SmallRgb();
         p.merged.resize(5);
         return p.Build();
       }(), "the data cannot fill the rows"},
      {"compression 7", [] {
         Psd p = SmallRgb();
         p.merged[1] = 7;
         return p.Build();
       }(), "a compression that is not read"},
      {"unknown mode 9 at depth 1", [] {
         Psd p = SmallRgb();
         p.mode = 9, p.depth = 1;
         return p.Build();
       }(), "a colour mode and depth that are not read"},
  };
  for (const Case& c : cases) {
    auto r = ReadBytes(c.bytes);
    EXPECT_TRUE(r->progress.Aborted()) << c.name;
    EXPECT_STREQ(r->progress.rec.Refusal, c.reason) << c.name;
  }
  auto layerCase = [](const std::function<void(Layer&)>& spoil) {
    Psd p = SmallRgb();
    Layer l = RgbLayer(0, 0, 10, "l");
    spoil(l);
    p.layers = {l};
    return ReadBytes(p.Build(), true);
  };
  // A rectangle larger than any document, or upside down.
  for (auto spoil : {+[](Layer& l) { l.right = 2000000; }, +[](Layer& l) { l.bottom = -5; }}) {
    auto r = layerCase(spoil);
    EXPECT_TRUE(r->progress.Aborted());
    EXPECT_STREQ(r->progress.rec.Refusal, "a layer rectangle upside down or too large");
  }
  // A channel claiming more bytes than the section holds.
  {
    Psd p = SmallRgb();
    p.layers = {RgbLayer(0, 0, 10, "l")};
    Bytes b = p.Build();
    // The first channel's length follows the rectangle and channel count.
    const size_t at = 26 + 4 + 4 + 4 + 4 + 2 + 16 + 2 + 2;
    ASSERT_EQ(ReadBE32(&b[at]), 4u);
    WriteBE32(&b[at], 0x7FFFFFF0);
    auto r = ReadBytes(b, true);
    EXPECT_TRUE(r->progress.Aborted());
    EXPECT_STREQ(r->progress.rec.Refusal, "a layer channel runs past the layer info");
  }
  // A layer whose rows hold less than its rectangle: refused before allocating.
  auto big = layerCase([](Layer& l) { l.right = 30000, l.bottom = 30000; });
  EXPECT_FALSE(big->progress.Aborted());
  EXPECT_TRUE(big->layers.empty());
  // A short merged image keeps the rows read and clears the rest.
  Psd p;
  p.mode = 1, p.channels = 1, p.width = 2, p.height = 3;
  p.merged = {0, 0, 5, 6, 7, 8};
  Bytes b = p.Build();
  TIEBitmap bitmap;
  TIOParamsVals params(nullptr);
  params.NativePixelFormat = true;
  Progress progress;
  qvtest::TShrunkStream s(b, int64_t(b.size()) + 2);
  ReadPSDStream(s, &bitmap, params, nullptr, false, progress.rec);
  EXPECT_TRUE(progress.Aborted());
  EXPECT_STREQ(progress.rec.Refusal, "the rows are cut short");
  ASSERT_EQ(bitmap.Height(), 3);
  EXPECT_EQ(bitmap.GetPixel8(1, 1), 8);
  EXPECT_EQ(bitmap.GetPixel8(1, 2), 0);
}

TEST(PsdFilter, ProbeChecksTheHeaderAndRestoresThePosition) {
  const Bytes good = SmallRgb().Build();
  TCustomMemoryStream s(good.data(), int64_t(good.size()));
  EXPECT_TRUE(IsPSDStream(s));
  EXPECT_EQ(s.Position(), 0);
  struct Spoil {
    size_t at;
    uint8_t value;
  } spoils[] = {{0, '7'}, {5, 2}, {13, 0}, {13, 25}, {23, 0}, {23, 17}, {25, 10}};
  for (const Spoil& sp : spoils) {
    Bytes b = good;
    b[sp.at] = sp.value;
    TCustomMemoryStream t(b.data(), int64_t(b.size()));
    EXPECT_FALSE(IsPSDStream(t)) << sp.at;
  }
}

}  // namespace

TEST(PsdFilter, TheComponentAndTheViewsLayers) {
  qvtest::EnsureImageIO();
  qvtest::FilterSlotsScope slots;
  RegisterFormatFilters();
  RegisterSpecialFormats();
  auto picture = qvtest::Gradient(12, 9);
  TIEBitmap source;
  source.Assign(picture.get());
  auto io = TImageLibIO::CreateForBitmap(&source);
  TMemoryStream stream;
  io->SaveStream(stream, ioPSD);
  ASSERT_FALSE(io->Aborting());
  stream.SetPosition(0);
  TIEBitmap loaded;
  auto in = TImageLibIO::CreateForBitmap(&loaded);
  in->LoadStream(stream);
  ASSERT_FALSE(in->Aborting());
  EXPECT_EQ(in->Params().FileType, ioPSD);
  EXPECT_EQ(Pixels(loaded), Pixels(*picture));

  // The views' slots carry TIELayer objects both ways.
  RegisterPSDViewLayers();
  TList layers;
  auto layerBitmap = qvtest::Gradient(4, 3);
  TIELayer layer(nullptr, false, layerBitmap.get());
  layer.Bitmap()->Assign(layerBitmap.get());
  layer.PosX = 5, layer.Name = "view layer";
  layers.Add(&layer);
  TMemoryStream withLayers;
  TIOParamsVals params(nullptr);
  Progress progress;
  IEFilters().WritePSDStream(withLayers, params, progress.rec, &layers, picture.get());
  ASSERT_FALSE(progress.Aborted());
  withLayers.SetPosition(0);
  TList read;
  TIEBitmap merged;
  IEFilters().ReadPSDStream(withLayers, &merged, params, &read, true, progress.rec);
  ASSERT_EQ(read.Count(), 1);
  std::unique_ptr<TIELayer> got(static_cast<TIELayer*>(read.Get(0)));
  EXPECT_EQ(got->Name, "view layer");
  EXPECT_EQ(got->PosX, 5);
  EXPECT_EQ(Pixels(*got->Bitmap()), Pixels(*layerBitmap));
}
