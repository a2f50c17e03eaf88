#include "icons/icon_project.h"

#include <gtest/gtest.h>

#include "exception_text.h"

#include <climits>
#include <cstring>
#include <functional>

#include "base/rus_clipboard.h"
#include "base/toolbox/bitmap_utils.h"
#include "icon_png_util.h"
#include "icon_test_util.h"
#include "icons/sub_icon_render.h"
#include "platform/graphics/graphics_picture.h"
#include "test_support.h"

using namespace icontest;

namespace {

// ---- project files written byte by byte from the file layout ----

struct Writer {
  std::vector<uint8_t> b;
  void U8(uint8_t v) { b.push_back(v); }
  void I16(int16_t v) {
    for (int i = 0; i < 2; ++i) b.push_back(uint8_t(uint16_t(v) >> (8 * i)));
  }
  void I32(int64_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
  }
  void Raw(const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); }
};

struct LayerSpec {
  uint8_t version = 0;
  int64_t width = 1, height = 2;
  std::vector<uint32_t> pixels = {0x11223344, 0x55667788};  // bottom row first
  uint8_t transparency = 0, strength = 0;
  int32_t shadowX = 0, shadowY = 0;
  uint8_t radius = 0;
  int32_t x = 0, y = 0;
  std::string name = "Layer";
  std::vector<uint8_t> nameBytes;  // when not empty: written in place of the name
  int32_t tag = 0;
  uint8_t hidden = 0;
};

void WriteLayer(Writer& w, const LayerSpec& l) {
  w.U8(l.version);
  w.U8(32);
  w.I32(l.width);
  w.I32(l.height);
  for (uint32_t p : l.pixels) w.I32(p);
  w.U8(l.transparency);
  w.U8(l.strength);
  if (l.strength) {
    w.I32(l.shadowX);
    w.I32(l.shadowY);
    w.U8(l.radius);
  }
  w.I32(l.x);
  w.I32(l.y);
  if (!l.nameBytes.empty()) {
    w.Raw(l.nameBytes);
  } else {
    w.U8(uint8_t(l.name.size()));
    w.Raw(std::vector<uint8_t>(l.name.begin(), l.name.end()));
  }
  w.I32(l.tag);
  w.U8(l.hidden);
}

struct ImageSpec {
  std::vector<uint8_t> bits;
  int16_t hotspotX = 0, hotspotY = 0;
  int64_t bytesInRes = -1;  // -1: the length of bits
};

struct ProjectSpec {
  std::vector<ImageSpec> images;
  std::vector<std::vector<LayerSpec>> lists;
  bool hotspots = false;
  int64_t imageCount = -1, listCount = -1, layerCount = -1, trailerLength = 4;  // -1: the real ones
};

std::vector<uint8_t> ProjectFile(const ProjectSpec& p) {
  Writer w;
  w.Raw({0xB7, 0x49, 0x43, 0x50});
  w.U8(p.hotspots ? 1 : 0);
  w.I32(p.imageCount >= 0 ? p.imageCount : int64_t(p.images.size()));
  for (const ImageSpec& im : p.images) {
    w.U8(12);
    const auto& d = im.bits;
    // Entry head: width, height, colours, reserved, planes, bit count, bytes.
    w.U8(uint8_t(Get32(d, 4)));
    w.U8(uint8_t(Get32(d, 8) / 2));
    w.U8(0);
    w.U8(0);
    w.I16(1);
    w.I16(int16_t(Get16(d, 14)));
    w.I32(im.bytesInRes >= 0 ? im.bytesInRes : int64_t(d.size()));
    w.Raw(d);
    if (p.hotspots) {
      w.I16(im.hotspotX);
      w.I16(im.hotspotY);
    }
  }
  w.I32(p.listCount >= 0 ? p.listCount : int64_t(p.lists.size()));
  for (const auto& list : p.lists) {
    w.I32(p.layerCount >= 0 ? p.layerCount : int64_t(list.size()));
    for (const LayerSpec& l : list) WriteLayer(w, l);
  }
  if (p.hotspots) {
    w.I32(p.trailerLength);
    for (int i = 0; i < 4; ++i) w.U8(0);
  }
  return w.b;
}

// A project of two images, the first a cursor image with hotspot (3, 4), and
// two layer lists.
ProjectSpec SampleProject() {
  ProjectSpec p;
  p.hotspots = true;
  p.images = {ImageSpec{DibImage(2, 2, 32, 0x40), 3, 4}, ImageSpec{DibImage(4, 4, 8)}};
  LayerSpec shadowed;
  shadowed.name = "Shadow";
  shadowed.transparency = 10;
  shadowed.strength = 9;
  shadowed.shadowX = 250;
  shadowed.shadowY = -100;
  shadowed.radius = 3;
  LayerSpec plain;
  plain.name = "Top";
  plain.x = 5;
  plain.y = -6;
  plain.tag = 77;
  plain.hidden = 1;
  p.lists = {{plain, shadowed}, {}};
  return p;
}

std::vector<uint8_t> Saved(TIconProject& project) {
  TMemoryStream s;
  project.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

void Load(TIconProject& project, const std::vector<uint8_t>& bytes) {
  TCustomMemoryStream s(bytes.data(), int64_t(bytes.size()));
  project.LoadFromStream(s);
}

std::unique_ptr<TBitmap> Bitmap32(int w, int h, uint32_t pixel) {
  auto b = std::make_unique<TBitmap>();
  SetSize32AndFill(b.get(), w, h, pixel);
  return b;
}

std::unique_ptr<TSubIcon> ImageOf(TBitmap* bitmap) {
  TAdvancedIcon icon;
  icon.Images().AddBitmap(bitmap, nullptr, 0);
  return icon.Images().RemoveAt(0, false);
}

uint32_t RawPixel(TSubIcon& image, int x, int y) {
  TBitmap raw;
  ExtractBitmaps(image, nullptr, &raw, kNoBackground, nullptr);
  return GetPixel32(&raw, x, y);
}

// ---- the file format ----

TEST(IconProject, EmptyProjectSavesAsBareHeaderAndIsEmpty) {
  TIconProject project;
  EXPECT_TRUE(project.GetEmpty());
  const auto bytes = Saved(project);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xB7, 0x49, 0x43, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  TIconProject back;
  Load(back, bytes);
  EXPECT_TRUE(back.GetEmpty());
}

TEST(IconProject, ReadsEveryFieldAndWritesTheSameBytes) {
  const auto file = ProjectFile(SampleProject());
  TIconProject project;
  Load(project, file);
  ASSERT_EQ(project.Icon().Count(), 2);
  EXPECT_EQ(project.Icon().Images()[0]->HotspotX(), 3);
  EXPECT_EQ(project.Icon().Images()[0]->HotspotY(), 4);
  EXPECT_EQ(project.Icon().Images()[1]->Bits(), DibImage(4, 4, 8));
  ASSERT_EQ(project.LayerListCount(), 2);
  ASSERT_EQ(project.LayerList(0)->Count(), 2);
  EXPECT_EQ(project.LayerList(1)->Count(), 0);

  TIconLayer* top = project.LayerList(0)->GetItem(0);
  EXPECT_EQ(top->Name(), "Top");
  EXPECT_EQ(top->XOffset(), 5);
  EXPECT_EQ(top->YOffset(), -6);
  EXPECT_EQ(top->Tag(), 77);
  EXPECT_TRUE(top->Hidden());
  EXPECT_EQ(top->ShadowStrength(), 0);
  // The first row of the file is the bottom row.
  EXPECT_EQ(top->Bitmap()->PixelFormat(), pf32bit);
  EXPECT_EQ(GetPixel32(top->Bitmap(), 0, 0), 0x55667788u);
  EXPECT_EQ(GetPixel32(top->Bitmap(), 0, 1), 0x11223344u);

  TIconLayer* shadowed = project.LayerList(0)->GetItem(1);
  EXPECT_EQ(shadowed->Transparency(), 10);
  EXPECT_EQ(shadowed->ShadowStrength(), 9);
  EXPECT_EQ(shadowed->ShadowXOffset(), 250);
  EXPECT_EQ(shadowed->ShadowYOffset(), -100);
  EXPECT_EQ(shadowed->ShadowRadius(), 3);
  EXPECT_FALSE(shadowed->Hidden());

  EXPECT_EQ(Saved(project), file);
}

TEST(IconProject, HotspotsSetTheFlagTheHotspotWordsAndTheTrailer) {
  TIconProject project;
  auto bitmap = Bitmap32(2, 2, 0xFF00FF00);
  project.AddImage(ImageOf(bitmap.get()));
  const auto plain = Saved(project);
  EXPECT_EQ(plain[4], 0);

  project.Icon().Images()[0]->SetHotspot(3, 4);
  const auto bytes = Saved(project);
  EXPECT_EQ(bytes[4], 1);
  const size_t record = 1 + 12 + project.Icon().Images()[0]->Bits().size();
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 9 + record, bytes.begin() + 9 + record + 4),
            (std::vector<uint8_t>{3, 0, 4, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 8, bytes.end()), (std::vector<uint8_t>{4, 0, 0, 0, 0, 0, 0, 0}));
  // Apart from the flag, the hotspot words and the trailer, nothing changes.
  EXPECT_EQ(bytes.size(), plain.size() + 4 + 8);

  TIconProject back;
  Load(back, bytes);
  EXPECT_EQ(back.Icon().Images()[0]->HotspotX(), 3);
  EXPECT_EQ(back.Icon().Images()[0]->HotspotY(), 4);
  EXPECT_EQ(Saved(back), bytes);
}

TEST(IconProject, LayerFieldsRoundTripExceptShadowColourAndEditing) {
  TIconProject project;
  auto bitmap = Bitmap32(3, 2, 0x80102030);
  project.AddImage(ImageOf(bitmap.get()));
  TIconLayer* layer = project.LayerList(0)->GetItem(0);
  layer->SetTransparency(40);
  layer->SetShadowStrength(200);
  layer->SetShadowXOffset(-350);
  layer->SetShadowYOffset(120);
  layer->SetShadowRadius(2);
  layer->SetShadowColor(0x0000FF);
  layer->SetName(std::string(300, 'n'));  // a name longer than a one-byte length
  layer->SetTag(-5);
  layer->SetEdited(true);

  TIconProject back;
  Load(back, Saved(project));
  TIconLayer* read = back.LayerList(0)->GetItem(0);
  EXPECT_EQ(read->Transparency(), 40);
  EXPECT_EQ(read->ShadowStrength(), 200);
  EXPECT_EQ(read->ShadowXOffset(), -350);
  EXPECT_EQ(read->ShadowYOffset(), 120);
  EXPECT_EQ(read->ShadowRadius(), 2);
  EXPECT_EQ(read->ShadowColor(), 0u);
  EXPECT_EQ(read->Name(), std::string(300, 'n'));
  EXPECT_EQ(read->Tag(), -5);
  EXPECT_FALSE(read->Edited());
  EXPECT_TRUE(BitmapsEqual(read->Bitmap(), layer->Bitmap()));
}

TEST(IconProject, IcoAndCurDataLoadWithEmptyLayerLists) {
  TIconProject project;
  Load(project, IcoFile({Entry{DibImage(16, 16, 4)}, Entry{DibImage(32, 32, 8)}}));
  EXPECT_EQ(project.Icon().Count(), 2);
  EXPECT_EQ(project.LayerListCount(), 2);
  EXPECT_EQ(project.LayerList(0)->Count(), 0);

  Entry cursor{DibImage(32, 32, 1)};
  cursor.planes = 5;
  cursor.bitCount = 9;
  Load(project, IcoFile({cursor}, 2));
  ASSERT_EQ(project.Icon().Count(), 1);
  EXPECT_EQ(project.Icon().Images()[0]->HotspotX(), 5);
  EXPECT_EQ(project.Icon().Images()[0]->HotspotY(), 9);
  EXPECT_EQ(project.LayerListCount(), 1);
}

// ---- hostile files ----

struct HostileCase {
  const char* name;
  std::function<void(ProjectSpec&)> spoil;
  const char* message;  // the end of the expected message: the rule that fired
};

TEST(IconProject, HostileFilesAreRefusedAndLeaveTheProjectAsItWas) {
  const HostileCase cases[] = {
      {"layer version", [](ProjectSpec& p) { p.lists[0][1].version = 1; }, "version 1"},
      {"image count huge", [](ProjectSpec& p) { p.imageCount = 0x7FFFFFFF; }, "image count past the end"},
      {"image count negative", [](ProjectSpec& p) { p.imageCount = 0xFFFFFFFF; }, "negative image count"},
      {"image bits past end", [](ProjectSpec& p) { p.images[1].bytesInRes = 0xFFFFFFF0; }, "image past the end"},
      {"list count huge", [](ProjectSpec& p) { p.listCount = 0x7FFFFFFF; }, "layer list count past the end"},
      {"layer count huge", [](ProjectSpec& p) { p.layerCount = 0x10000000; }, "layer count past the end"},
      {"layer count negative", [](ProjectSpec& p) { p.layerCount = 0x80000000; }, "negative layer count"},
      {"layer width huge", [](ProjectSpec& p) { p.lists[0][0].width = 0x7FFFFFFF; }, "layer size 2147483647 x 2"},
      {"layer height negative", [](ProjectSpec& p) { p.lists[0][0].height = 0xFFFFFFFE; }, "layer size 1 x -2"},
      {"layer area past end", [](ProjectSpec& p) { p.lists[0][0].width = p.lists[0][0].height = 30000; },
       "layer pixels past the end"},
      {"empty layer very tall", [](ProjectSpec& p) {
         p.lists[0][0].width = 0;
         p.lists[0][0].height = 0x7FFFFFFF;
         p.lists[0][0].pixels.clear();
       }, "layer size 0 x 2147483647"},
      {"name past end", [](ProjectSpec& p) { p.lists[0][0].nameBytes = {254, 0xFF, 0xFF, 0xFF, 0x7F}; },
       "Stream read error"},
      {"trailer past end", [](ProjectSpec& p) { p.trailerLength = 0x7FFFFFFF; }, "trailing block past the end"},
      {"trailer negative", [](ProjectSpec& p) { p.trailerLength = -4; }, "trailing block past the end"},
  };
  const auto good = ProjectFile(SampleProject());
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProjectSpec spec = SampleProject();
    c.spoil(spec);
    TIconProject project;
    Load(project, good);
    const std::string message = MessageOf([&] { Load(project, ProjectFile(spec)); });
    EXPECT_NE(message, kNothingRaised);
    ASSERT_GE(message.size(), std::strlen(c.message));
    EXPECT_EQ(message.substr(message.size() - std::strlen(c.message)), c.message);
    EXPECT_EQ(Saved(project), good);
  }
}

TEST(IconProject, EveryTruncationIsRefused) {
  const auto good = ProjectFile(SampleProject());
  for (size_t n = 0; n < good.size(); ++n) {
    const std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    TIconProject project;
    EXPECT_THROW(Load(project, cut), Exception) << n;
    EXPECT_TRUE(project.GetEmpty()) << n;
  }
}

TEST(IconProject, DataThatIsNeitherProjectNorIconIsRefused) {
  TIconProject project;
  EXPECT_NE(MessageOf([&] { Load(project, {'G', 'I', 'F', '8', '9', 'a', 0, 0}); }), kNothingRaised);
}

// ---- layers and effects ----

TEST(IconLayer, EffectsAreRenderedIntoTheEffectBitmapOnly) {
  TIconLayer layer;
  SetSize32AndFill(layer.Bitmap(), 1, 1, 0xC8102030);  // alpha 200
  layer.SetModified(true);
  layer.ApplyEffects();
  EXPECT_EQ(layer.EffectBitmap(), nullptr);
  EXPECT_EQ(layer.GetDisplayBitmap(), layer.Bitmap());
  EXPECT_FALSE(layer.Modified());

  layer.SetTransparency(55);  // alpha x 200 / 255
  layer.ApplyEffects();
  ASSERT_NE(layer.EffectBitmap(), nullptr);
  EXPECT_EQ(layer.GetDisplayBitmap(), layer.EffectBitmap());
  EXPECT_EQ(GetPixel32(layer.EffectBitmap(), 0, 0), 0x9C102030u);
  EXPECT_EQ(GetPixel32(layer.Bitmap(), 0, 0), 0xC8102030u);

  // An offset counts as an effect but moves nothing.
  layer.SetTransparency(0);
  layer.SetXOffset(3);
  layer.ApplyEffects();
  ASSERT_NE(layer.EffectBitmap(), nullptr);
  EXPECT_EQ(GetPixel32(layer.EffectBitmap(), 0, 0), 0xC8102030u);
}

TEST(IconLayer, DropShadowFallsAtItsOffsetInItsColour) {
  TIconLayer layer;
  SetSize32AndFill(layer.Bitmap(), 6, 6, 0);
  FillRect32(layer.Bitmap(), 0xFFFFFFFF, Rect(1, 1, 2, 2));
  layer.SetShadowStrength(255);
  layer.SetShadowXOffset(250);  // whole pixels: 2
  layer.SetShadowYOffset(199);  // 1
  layer.SetShadowRadius(1);
  layer.SetShadowColor(0x0000FF);  // red
  layer.ApplyEffects();
  TBitmap* shown = layer.GetDisplayBitmap();
  EXPECT_EQ(GetPixel32(shown, 1, 1), 0xFFFFFFFFu);
  const uint32_t shadow = GetPixel32(shown, 3, 2);
  EXPECT_GT(shadow >> 24, 0u);
  EXPECT_EQ(shadow & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(GetPixel32(shown, 5, 5) >> 24, 0u);
}

TEST(IconLayer, ImageWithoutAlphaTakesAlphaFromItsMask) {
  auto bits = DibImage(2, 2, 8, 0x11);
  bits[40 + 256 * 4 + RowBytes(2, 8) * 2] = 0x80;  // bottom-left pixel transparent
  TSubIcon image;
  image.SetBits(bits);
  image.ParseBits();
  TIconLayer layer;
  layer.Assign(&image);
  EXPECT_EQ(layer.Bitmap()->PixelFormat(), pf32bit);
  EXPECT_EQ(GetPixel32(layer.Bitmap(), 0, 1) >> 24, 0u);
  EXPECT_EQ(GetPixel32(layer.Bitmap(), 1, 1), 0xFF111111u);
  EXPECT_EQ(GetPixel32(layer.Bitmap(), 0, 0), 0xFF111111u);
}

// Negative offsets shorten the area the effects are rendered in: rows off the
// bottom for y, columns off the right for x (only under a shadow). The effect
// picture keeps the layer's size, transparent where the area no longer reaches.
struct OffsetCase {
  const char* name;
  int32_t x, y;
  uint8_t strength;
  int visibleWidth, visibleHeight;
};

TEST(IconLayer, NegativeOffsetsShortenTheRenderedArea) {
  const OffsetCase cases[] = {
      {"y -1", 0, -1, 0, 4, 2},
      {"x -1 without shadow", -1, 0, 0, 4, 3},
      {"x -1 under a shadow", -1, 0, 255, 3, 3},
      {"both under a shadow", -3, -2, 255, 1, 1},
      {"positive offsets", 7, 9, 255, 4, 3},
      {"y beyond the layer", 0, -100000, 0, 0, 0},
      {"x at the lowest value", INT32_MIN, 0, 255, 0, 3},
      {"y at the lowest value", 0, INT32_MIN, 255, 4, 0},
  };
  for (const OffsetCase& c : cases) {
    SCOPED_TRACE(c.name);
    TIconLayer layer;
    SetSize32AndFill(layer.Bitmap(), 4, 3, 0xFF204060);
    // Rendered once without offsets first: nothing of it may linger.
    layer.SetTransparency(1);
    layer.ApplyEffects();
    layer.SetTransparency(0);
    layer.SetXOffset(c.x);
    layer.SetYOffset(c.y);
    layer.SetShadowStrength(c.strength);
    layer.ApplyEffects();
    TBitmap* shown = layer.GetDisplayBitmap();
    ASSERT_EQ(shown, layer.EffectBitmap());
    ASSERT_EQ(shown->GetWidth(), 4);
    ASSERT_EQ(shown->GetHeight(), 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        const bool visible = x < c.visibleWidth && y < c.visibleHeight;
        EXPECT_EQ(GetPixel32(shown, x, y), visible ? 0xFF204060u : 0u) << x << "," << y;
      }
  }
  // Flattening shows the same: the cut rows are transparent in the image.
  TIconLayersList list;
  auto layer = std::make_unique<TIconLayer>();
  SetSize32AndFill(layer->Bitmap(), 2, 2, 0xFF0000FF);
  layer->SetYOffset(-1);
  list.Add(std::move(layer));
  TBitmap flat;
  list.Flatten(&flat, kNoBackground);
  EXPECT_EQ(GetPixel32(&flat, 1, 0), 0xFF0000FFu);
  EXPECT_EQ(GetPixel32(&flat, 1, 1), 0u);
}

// A palette PNG whose entries are partly see-through, written by libpng.
std::vector<uint8_t> SoftPalettePng(int w, int h, const std::vector<uint8_t>& rgbaEntries) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = uint32_t(w);
  p.height = uint32_t(h);
  p.format = PNG_FORMAT_RGBA_COLORMAP;
  p.colormap_entries = uint32_t(rgbaEntries.size() / 4);
  std::vector<uint8_t> indices(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) indices[size_t(y) * w + x] = uint8_t((x + y) % p.colormap_entries);
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&p, nullptr, &size, 0, indices.data(), 0, rgbaEntries.data())) return {};
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&p, out.data(), &size, 0, indices.data(), 0, rgbaEntries.data())) return {};
  out.resize(size);
  return out;
}

// Compressed images give a layer with the alpha they decode to, whatever depth
// their head or their PNG header claims.
TEST(IconLayer, CompressedImagesKeepTheAlphaTheyDecodeTo) {
  const std::vector<uint8_t> entries = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 9, 9, 9, 60};
  Rgba hard;
  hard.w = 3;
  hard.h = 2;
  hard.px = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 255, 1, 2, 3, 0, 4, 5, 6, 255, 7, 8, 9, 255};
  struct Case {
    const char* name;
    std::vector<uint8_t> png;
    int16_t headBitCount;  // 0: taken from the PNG
    Rgba expected;
  };
  Rgba soft;
  soft.w = 3;
  soft.h = 2;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint8_t* e = &entries[size_t((x + y) % 4) * 4];
      soft.px.insert(soft.px.end(), e, e + 4);
    }
  const Case cases[] = {
      {"palette with soft alpha", SoftPalettePng(3, 2, entries), 0, soft},
      {"palette with soft alpha under a 32-bit head", SoftPalettePng(3, 2, entries), 32, soft},
      {"RGBA under an 8-bit head", EncodeRgbaPng(hard), 8, hard},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.png.empty());
    TSubIcon image;
    image.Head().wBitCount = c.headBitCount;
    image.SetBits(c.png);
    image.ParseBits();
    TIconLayer layer;
    layer.Assign(&image);
    ASSERT_EQ(layer.Bitmap()->PixelFormat(), pf32bit);
    ASSERT_EQ(layer.Bitmap()->GetWidth(), 3);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const uint8_t* e = c.expected.At(x, y);
        const uint32_t got = GetPixel32(layer.Bitmap(), x, y);
        EXPECT_EQ(got >> 24, e[3]) << x << "," << y;
        if (e[3] != 0) {
          EXPECT_EQ(got & 0xFFFFFF, uint32_t(e[0]) << 16 | uint32_t(e[1]) << 8 | e[2]) << x << "," << y;
        }
      }
  }
}

TEST(IconLayer, CopyTakesFieldsButNotColourEditingOrModified) {
  TIconLayer a;
  SetSize32AndFill(a.Bitmap(), 2, 2, 0xFF0000FF);
  a.SetName("x");
  a.SetTransparency(128);
  a.SetHidden(true);
  a.SetTag(9);
  a.SetShadowColor(0x123456);
  a.SetEdited(true);
  TIconLayer b;
  b.Assign(&a);
  EXPECT_EQ(b.Name(), "x");
  EXPECT_EQ(b.Transparency(), 128);
  EXPECT_TRUE(b.Hidden());
  EXPECT_EQ(b.Tag(), 9);
  EXPECT_EQ(b.ShadowColor(), 0u);
  EXPECT_FALSE(b.Edited());
  ASSERT_NE(b.EffectBitmap(), nullptr);  // rendered by the copy
  EXPECT_EQ(GetPixel32(b.EffectBitmap(), 0, 0) >> 24, 127u);
}

// ---- flattening ----

TEST(IconLayersList, FlattenCompositesVisibleLayersBottomUp) {
  TIconLayersList list;
  auto top = std::make_unique<TIconLayer>();
  SetSize32AndFill(top->Bitmap(), 2, 2, 0x80FF0000);  // half-transparent red
  auto bottom = std::make_unique<TIconLayer>();
  SetSize32AndFill(bottom->Bitmap(), 2, 2, 0xFF0000FF);  // opaque blue
  list.Add(std::move(top));
  list.Add(std::move(bottom));

  TBitmap result;
  list.Flatten(&result, kNoBackground);
  ASSERT_EQ(result.PixelFormat(), pf32bit);
  ASSERT_EQ(result.GetWidth(), 2);
  const uint32_t p = GetPixel32(&result, 1, 1);
  EXPECT_EQ(p >> 24, 255u);
  EXPECT_NEAR(int((p >> 16) & 0xFF), 128, 1);
  EXPECT_EQ((p >> 8) & 0xFF, 0u);
  EXPECT_NEAR(int(p & 0xFF), 127, 1);

  list[0]->SetHidden(true);
  TBitmap onlyBottom;
  list.Flatten(&onlyBottom, kNoBackground);
  EXPECT_EQ(GetPixel32(&onlyBottom, 0, 0), 0xFF0000FFu);

  // Onto a colour the result is opaque, the colour showing where nothing covers.
  list[1]->SetTransparency(255);
  TBitmap onColour;
  list.Flatten(&onColour, 0x00FF00);
  EXPECT_EQ(GetPixel32(&onColour, 0, 0), 0xFF00FF00u);
}

TEST(IconLayersList, FlattenOfOnlyHiddenLayersLeavesTheTarget) {
  TIconLayersList list;
  auto layer = std::make_unique<TIconLayer>();
  SetSize32AndFill(layer->Bitmap(), 3, 2, 0xFFFFFFFF);
  layer->SetHidden(true);
  list.Add(std::move(layer));
  TBitmap fresh;
  list.Flatten(&fresh, kNoBackground);
  EXPECT_EQ(fresh.PixelFormat(), pf32bit);
  EXPECT_EQ(fresh.GetWidth(), 3);
  EXPECT_EQ(fresh.GetHeight(), 2);
  EXPECT_EQ(GetPixel32(&fresh, 2, 1), 0u);

  auto kept = Bitmap32(3, 2, 0x12345678);
  list.Flatten(kept.get(), kNoBackground);
  EXPECT_EQ(GetPixel32(kept.get(), 2, 1), 0x12345678u);
}

TEST(IconProject, FlattenLayersRebuildsModifiedListsAndKeepsHotspots) {
  TIconProject project;
  auto bitmap = Bitmap32(2, 2, 0xFF0000FF);
  project.AddImage(ImageOf(bitmap.get()));
  project.AddImage(ImageOf(bitmap.get()));
  project.Icon().Images()[0]->SetHotspot(1, 1);
  for (int i = 0; i < 2; ++i) Fill32(project.LayerList(i)->GetItem(0)->Bitmap(), 0xFFFF0000);
  project.LayerList(0)->GetItem(0)->SetModified(true);

  TAdvancedIcon icon;
  icon.Assign(&project);  // flattens what is modified
  EXPECT_EQ(RawPixel(*icon.Images()[0], 0, 0), 0xFFFF0000u);
  EXPECT_EQ(RawPixel(*icon.Images()[1], 0, 0), 0xFF0000FFu);
  EXPECT_EQ(icon.Images()[0]->HotspotX(), 1);
  EXPECT_FALSE(project.LayerList(0)->IsModified());

  project.FlattenLayers(true);
  EXPECT_EQ(RawPixel(*project.Icon().Images()[1], 0, 0), 0xFFFF0000u);
}

// ---- project operations ----

TEST(IconProject, PutEditedLayerAddsANumberedTopLayerThenReusesIt) {
  TIconProject project;
  auto bitmap = Bitmap32(2, 2, 0xFF0000FF);
  project.AddImage(ImageOf(bitmap.get()));
  TIconLayersList& list = *project.LayerList(0);
  list[0]->SetName("1");

  auto red = Bitmap32(2, 2, 0xFFFF0000);
  auto picture = ImageOf(red.get());
  project.PutEditedLayer(0, picture.get(), "");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0]->Name(), "2");
  EXPECT_TRUE(list[0]->Edited());
  EXPECT_FALSE(list[0]->Hidden());
  EXPECT_TRUE(list[1]->Hidden());
  EXPECT_EQ(GetPixel32(list[0]->Bitmap(), 0, 0), 0xFFFF0000u);

  auto green = Bitmap32(2, 2, 0xFF00FF00);
  picture = ImageOf(green.get());
  project.PutEditedLayer(0, picture.get(), "Paint");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0]->Name(), "Paint");
  EXPECT_EQ(GetPixel32(list[0]->Bitmap(), 0, 0), 0xFF00FF00u);
}

TEST(IconProject, ImageOperationsKeepOneLayerListPerImage) {
  TIconProject project;
  std::vector<std::unique_ptr<TBitmap>> bitmaps;
  for (int side : {16, 24, 32}) bitmaps.push_back(Bitmap32(side, side, 0xFF000000u | side));
  for (auto& b : bitmaps) project.AddImage(ImageOf(b.get()));
  EXPECT_EQ(project.LayerListCount(), 3);
  auto widthOfList = [&](int i) { return project.LayerList(i)->GetItem(0)->Bitmap()->GetWidth(); };

  project.MoveImage(0, 2);  // 24 32 16
  EXPECT_EQ(project.Icon().Images()[2]->GetWidth(), 16);
  EXPECT_EQ(widthOfList(2), 16);
  project.DeleteImage(0);  // 32 16
  EXPECT_EQ(widthOfList(0), 32);
  EXPECT_EQ(project.LayerListCount(), 2);

  project.InsertImage(1, ImageOf(bitmaps[1].get()));  // 32 24 16
  EXPECT_EQ(project.Icon().Images()[1]->GetWidth(), 24);
  EXPECT_EQ(project.LayerList(1)->Count(), 0);
  EXPECT_EQ(widthOfList(2), 16);

  project.AddBitmap(bitmaps[0].get(), nullptr, 0);
  TAdvancedIcon other;
  other.Images().AddBitmap(bitmaps[0].get(), nullptr, 0);
  project.TakeImagesFrom(&other);
  EXPECT_EQ(other.Count(), 0);
  EXPECT_EQ(project.Icon().Count(), 5);
  EXPECT_EQ(project.LayerListCount(), 5);

  project.AppendProject(&project);
  EXPECT_EQ(project.Icon().Count(), 10);
  EXPECT_EQ(project.LayerListCount(), 10);
  EXPECT_EQ(widthOfList(7), 16);
}

TEST(IconProject, AssignFromIconAndToProject) {
  TAdvancedIcon icon;
  auto bitmap = Bitmap32(8, 8, 0xFF000000);
  icon.Images().AddBitmap(bitmap.get(), nullptr, 0);
  icon.Images().AddBitmap(bitmap.get(), nullptr, 0);
  TIconProject project;
  project.Assign(&icon);
  EXPECT_EQ(project.Icon().Count(), 2);
  EXPECT_EQ(project.LayerListCount(), 2);
  EXPECT_EQ(project.LayerList(0)->Count(), 0);
  EXPECT_FALSE(project.GetEmpty());
  EXPECT_EQ(project.GetWidth(), 8);

  project.LayerList(1)->Assign(project.Icon().Images()[1]);
  TIconProject copy;
  copy.Assign(&project);
  EXPECT_EQ(Saved(copy), Saved(project));
}

TEST(IconProject, LoadProjectIconTakesStoredImagesWithoutFlattening) {
  qvtest::TempDir dir;
  const auto file = ProjectFile(SampleProject());
  qvtest::WriteFileBytes(dir.File("a.icpr"), file);
  TAdvancedIcon icon;
  LoadProjectIcon(&icon, dir.File("a.icpr"));
  ASSERT_EQ(icon.Count(), 2);
  EXPECT_EQ(icon.Images()[0]->Bits(), DibImage(2, 2, 32, 0x40));
  EXPECT_EQ(icon.Images()[0]->HotspotX(), 3);
}

TEST(IconProject, RegisteredForIcprFilesAndRemovedAgain) {
  RegisterIconProjectClass();
  EXPECT_TRUE(FileFormatClass("icpr") == TGraphicClass::Of<TIconProject>());
  bool described = false;
  for (const TFileFormat& f : RegisteredFileFormats())
    if (f.extension == "icpr") described = f.description == "Icon Project";
  EXPECT_TRUE(described);

  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("b.ICPR"), ProjectFile(SampleProject()));
  TPicture picture;
  picture.LoadFromFile(dir.File("b.ICPR"));
  auto* project = dynamic_cast<TIconProject*>(picture.Graphic());
  ASSERT_NE(project, nullptr);
  EXPECT_EQ(project->LayerListCount(), 2);
  EXPECT_EQ(picture.Width(), 4);

  UnregisterIconProjectClass();
  EXPECT_FALSE(FileFormatClass("icpr"));
}

TEST(IconProject, DrawStretchesTheImageNearest32) {
  TIconProject project;
  auto small = Bitmap32(2, 2, 0xFFFF0000);
  auto large = Bitmap32(30, 30, 0xFF0000FF);
  project.AddImage(ImageOf(small.get()));
  project.AddImage(ImageOf(large.get()));
  TBitmap canvas;
  canvas.SetPixelFormat(pf24bit);
  canvas.SetSize(8, 8);
  FillBitmap(&canvas, clWhite);
  project.Draw(canvas.Canvas(), Rect(2, 2, 6, 6));
  EXPECT_EQ(canvas.Canvas()->Pixels(3, 3), TColor(0xFF0000));  // blue
  EXPECT_EQ(canvas.Canvas()->Pixels(0, 0), clWhite);

  // An image without alpha goes through its mask.
  TSubIcon grey;
  grey.SetBits(DibImage(2, 2, 8, 0x11));
  grey.ParseBits();
  DrawSubIconStretched(canvas.Canvas(), 0, 0, 4, 4, grey, kNoBackground);
  EXPECT_EQ(canvas.Canvas()->Pixels(3, 3), TColor(0x111111));

  // A palette PNG with a half-transparent entry, under a head that claims 8
  // bits, is still blended by its alpha.
  TSubIcon soft;
  soft.Head().wBitCount = 8;
  soft.SetBits(SoftPalettePng(1, 1, {0, 0, 0, 128}));
  soft.ParseBits();
  FillBitmap(&canvas, clWhite);
  DrawSubIconStretched(canvas.Canvas(), 0, 0, 4, 4, soft, kNoBackground);
  const TColor blended = canvas.Canvas()->Pixels(2, 2);
  EXPECT_NEAR(int(blended & 0xFF), 127, 2);
  EXPECT_EQ(blended, (blended & 0xFF) * 0x010101u);
}

TEST(IconProject, PastedPictureIsAnImageWithALayerList) {
  TIconProject project;
  auto kept = Bitmap32(4, 4, 0xFF0000FF);
  project.AddImage(ImageOf(kept.get()));

  // Nothing usable on the clipboard: the project, layers and all, stays.
  SharedClipboard().Clear();
  project.Assign(&SharedClipboard());
  EXPECT_EQ(project.Icon().Count(), 1);
  EXPECT_EQ(project.LayerList(0)->Count(), 1);

  TBitmap pasted;
  pasted.SetPixelFormat(pf24bit);
  pasted.SetSize(6, 5);
  FillBitmap(&pasted, clRed);
  SharedClipboard().Assign(&pasted);
  project.Assign(&SharedClipboard());
  SharedClipboard().Clear();
  ASSERT_EQ(project.Icon().Count(), 1);
  EXPECT_EQ(project.Icon().Images()[0]->GetWidth(), 6);
  EXPECT_FALSE(project.GetEmpty());
  ASSERT_EQ(project.LayerListCount(), 1);
  EXPECT_EQ(project.LayerList(0)->Count(), 0);
}

TEST(IconProject, CompressedImagesAreStoredAsPngAndLayeredFromTheirPixels) {
  auto bitmap = Bitmap32(5, 3, 0x80336699);
  FillRect32(bitmap.get(), 0xFF102030, Rect(0, 0, 2, 1));
  TIconProject project;
  project.AddImage(ImageOf(bitmap.get()));
  project.Icon().Images()[0]->SetStoreAsPNG(true);

  TIconProject back;
  Load(back, Saved(project));
  TSubIcon* image = back.Icon().Images()[0];
  ASSERT_TRUE(image->HasPNGBits());
  EXPECT_TRUE(image->StoreAsPNG());
  EXPECT_EQ(image->GetWidth(), 5);

  TIconLayer layer;
  layer.Assign(image);
  EXPECT_TRUE(BitmapsEqual(layer.Bitmap(), bitmap.get()));

  // Flattened, the image holds a DIB again but is still stored compressed.
  back.FlattenLayers(true);
  EXPECT_FALSE(back.Icon().Images()[0]->HasPNGBits());
  TIconProject again;
  Load(again, Saved(back));
  EXPECT_TRUE(again.Icon().Images()[0]->HasPNGBits());
}

}  // namespace
