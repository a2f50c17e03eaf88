#include "icons/icon_resources.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/rus_clipboard.h"
#include "icon_test_util.h"
#include "icons/advanced_icon.h"
#include "icons/pe_module.h"
#include "icons/resource_model.h"
#include "pictures/png/png_image.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/filer.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/resources.h"

namespace {

using icontest::DibImage;
using icontest::Put16;
using icontest::Put32;
using icontest::RowBytes;

// A group directory: header, then per image its 12-byte head and id.
std::vector<uint8_t> GroupData(const std::vector<std::pair<std::vector<uint8_t>, uint16_t>>& images,
                               uint16_t type = 1, int count = -1) {
  std::vector<uint8_t> g(6 + 14 * images.size(), 0);
  Put16(g, 2, type);
  Put16(g, 4, uint32_t(count >= 0 ? count : int(images.size())));
  for (size_t i = 0; i < images.size(); ++i) {
    const size_t at = 6 + 14 * i;
    Put16(g, at + 4, 1);
    Put16(g, at + 6, 32);
    Put32(g, at + 8, uint32_t(images[i].first.size()));
    Put16(g, at + 12, images[i].second);
  }
  return g;
}

struct TModuleGuard {
  explicit TModuleGuard(std::unique_ptr<TResourceTable> table) : Handle(RegisterResourceModule(std::move(table))) {}
  ~TModuleGuard() { FreeLibrary(Handle); }
  HMODULE Handle;
};

TEST(IconResources, GroupsByNumberAndByName) {
  const auto a = DibImage(16, 16, 4), b = DibImage(32, 32, 8);
  auto table = std::make_unique<TResourceTable>();
  table->Add(TResourceId::FromInteger(3), TResourceId::FromInteger(5), 0, a);
  table->Add(TResourceId::FromInteger(3), TResourceId::FromInteger(6), 0, b);
  table->Add(TResourceId::FromInteger(14), TResourceId::FromInteger(1), 0, GroupData({{a, 5}, {b, 6}}));
  table->Add(TResourceId::FromInteger(14), TResourceId::From("MAINICON"), 0, GroupData({{b, 6}}));
  table->Add(TResourceId::FromInteger(14), TResourceId::From("BADHEAD"), 0, GroupData({{a, 5}}, 7));
  table->Add(TResourceId::FromInteger(14), TResourceId::From("NOIMAGE"), 0, GroupData({{a, 5}, {b, 9}}));
  TModuleGuard module(std::move(table));

  TAdvancedIcon byId;
  EXPECT_TRUE(byId.LoadFromModuleResource(module.Handle, MAKEINTRESOURCE(1)));
  ASSERT_EQ(byId.Count(), 2);
  EXPECT_EQ(byId.Images()[0]->Bits(), a);
  EXPECT_EQ(byId.Images()[1]->GetDescription(), "32x32x256");
  EXPECT_NE(dynamic_cast<TResourceIconImage*>(byId.Images()[1]), nullptr);

  // Not cleared first: the named group is appended.
  EXPECT_TRUE(byId.LoadFromModuleResource(module.Handle, "MAINICON"));
  EXPECT_EQ(byId.Count(), 3);

  TAdvancedIcon other;
  EXPECT_FALSE(other.LoadFromModuleResource(module.Handle, "BADHEAD"));
  EXPECT_EQ(other.Count(), 0);
  EXPECT_THROW(other.LoadFromModuleResource(module.Handle, MAKEINTRESOURCE(2)), EResNotFound);
  // The missing image ends the load; the one before it stays.
  EXPECT_THROW(other.LoadFromModuleResource(module.Handle, "NOIMAGE"), EResNotFound);
  EXPECT_EQ(other.Count(), 1);
}

TEST(IconResources, CursorGroupsCarryHotspots) {
  auto bits = DibImage(32, 32, 1);
  bits.insert(bits.begin(), {7, 0, 11, 0});
  auto table = std::make_unique<TResourceTable>();
  table->Add(TResourceId::FromInteger(1), TResourceId::FromInteger(2), 0, bits);
  table->Add(TResourceId::FromInteger(12), TResourceId::From("ARROW"), 0, GroupData({{bits, 2}}, 2));
  auto shorter = bits;
  shorter.pop_back();
  table->Add(TResourceId::FromInteger(12), TResourceId::From("WRONG"), 0, GroupData({{shorter, 2}}, 2));
  TModuleGuard module(std::move(table));

  TAdvancedCursor cursor;
  EXPECT_TRUE(cursor.LoadCursorFromModuleResource(module.Handle, "ARROW"));
  ASSERT_EQ(cursor.Count(), 1);
  EXPECT_NE(dynamic_cast<TResourceCursorImage*>(cursor.Images()[0]), nullptr);
  EXPECT_EQ(cursor.Images()[0]->HotspotX(), 7);
  EXPECT_EQ(cursor.Images()[0]->HotspotY(), 11);
  try {
    cursor.LoadCursorFromModuleResource(module.Handle, "WRONG");
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid resource size");
  }
}

// A container that keeps its resources in a list, as the PE and RES containers do.
class TListModule : public TResourceListOf<TResourceModule> {
public:
  void Add(const std::string& type, const std::string& name, const std::vector<uint8_t>& bytes) {
    AddResource(std::make_unique<TResourceDetails>(this, 1033, name, type, bytes.size(), bytes.data()));
  }
};

TEST(IconResources, PEGroupsSkipMissingImagesAndTruncatedEntries) {
  const auto a = DibImage(16, 16, 4), b = DibImage(48, 48, 24);
  TListModule m;
  m.Add("3", "1", a);
  m.Add("3", "2", b);
  m.Add("3", "2", a);  // a second image of that name: the first one counts
  m.Add("14", "MAINICON", GroupData({{a, 1}, {b, 7}, {b, 2}}));
  auto truncated = GroupData({{a, 1}, {b, 2}}, 1, 40000);  // says 40000 entries, holds two
  truncated.resize(truncated.size() - 3);                   // and the second is cut short
  m.Add("14", "CUT", truncated);
  auto reserved = GroupData({{a, 1}});
  reserved[0] = 1;
  m.Add("14", "BAD", reserved);

  TAdvancedIcon icon;
  EXPECT_TRUE(icon.LoadFromPEResource(m, "MAINICON"));
  ASSERT_EQ(icon.Count(), 2);  // id 7 does not exist
  EXPECT_EQ(icon.Images()[0]->Bits(), a);
  EXPECT_EQ(icon.Images()[1]->Bits(), b);
  EXPECT_EQ(m.FindByTypeAndName("14", "MAINICON")->Data().Position(), 0);

  TAdvancedIcon cut;
  EXPECT_TRUE(cut.LoadFromPEResource(m, "CUT"));
  EXPECT_EQ(cut.Count(), 1);
  TAdvancedIcon none;
  EXPECT_FALSE(none.LoadFromPEResource(m, "mainicon"));
  EXPECT_FALSE(none.LoadFromPEResource(m, "ABSENT"));
  EXPECT_FALSE(none.LoadFromPEResource(m, "BAD"));
  EXPECT_EQ(none.Count(), 0);
}

// ---------------------------------------------------------------- component streams

// Gives the icon one 8 by 8 image.
void AddOneImage(TAdvancedIcon& icon) {
  auto dib = DibImage(8, 8, 4);
  TCustomMemoryStream s(dib.data(), int64_t(dib.size()));
  icon.Images().Add(TSubIcon::CreateFromBitsStream<TFileIconImage>(s));
}


TEST(IconStreaming, RecordsRoundTripWithHotspotsAndWithoutTheFlag) {
  TAdvancedIcon icon;
  AddOneImage(icon);
  auto dib = DibImage(32, 32, 32);
  TCustomMemoryStream dibStream(dib.data(), int64_t(dib.size()));
  icon.Images().Add(TSubIcon::CreateFromBitsStream<TFileCursorImage>(dibStream));
  icon.Images()[1]->SetHotspot(-3, 1234);
  icon.Images()[1]->SetStoreAsPNG(true);
  icon.Images().Add(std::make_unique<TSubIcon>());  // no bits: marker 0 only
  ASSERT_NE(icon.Images()[0]->GetHandle(), nullptr);

  TMemoryStream stream;
  {
    TWriter writer(&stream);
    icon.WriteToFiler(writer);
  }
  // The count in the writer's integer encoding, then the records.
  ASSERT_GT(stream.Size(), 2);
  EXPECT_EQ(stream.Memory()[0], vaInt8);
  EXPECT_EQ(stream.Memory()[1], 3);
  EXPECT_EQ(stream.Memory()[2], 12);
  EXPECT_EQ(stream.Memory()[stream.Size() - 1], 0);

  stream.SetPosition(0);
  TAdvancedIcon back;
  back.Images().Add(std::make_unique<TSubIcon>());  // cleared by the read
  TReader reader(&stream);
  back.ReadFromFiler(reader);
  EXPECT_EQ(stream.Position(), stream.Size());
  ASSERT_EQ(back.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back.Images()[i]->Bits(), icon.Images()[i]->Bits()) << i;
    EXPECT_EQ(std::memcmp(&back.Images()[i]->Head(), &icon.Images()[i]->Head(), sizeof(TIconEntryHead)), 0) << i;
    EXPECT_EQ(back.Images()[i]->HotspotX(), icon.Images()[i]->HotspotX()) << i;
    EXPECT_EQ(back.Images()[i]->HotspotY(), icon.Images()[i]->HotspotY()) << i;
  }
  EXPECT_FALSE(back.Images()[1]->StoreAsPNG());
  EXPECT_FALSE(back.Images()[2]->HasBits());
}

TEST(IconStreaming, HostileRecordsAreBounded) {
  // A record that claims 4 GB of bits in a short stream: no bits, no huge allocation.
  TMemoryStream stream;
  {
    TWriter writer(&stream);
    writer.WriteInteger(int32_t(2));
    const uint8_t marker = 12;
    writer.Write(&marker, 1);
    TIconEntryHead head;
    head.dwBytesInRes = 0xFFFFFFF0u;
    writer.Write(&head, sizeof head);
    const int16_t hotspot[2] = {1, 2};
    writer.Write(hotspot, sizeof hotspot);
    writer.Write("abc", 3);
  }
  stream.SetPosition(0);
  TAdvancedIcon icon;
  TReader reader(&stream);
  icon.ReadFromFiler(reader);
  ASSERT_EQ(icon.Count(), 2);
  EXPECT_FALSE(icon.Images()[0]->HasBits());
  EXPECT_EQ(icon.Images()[0]->BytesInRes(), 0u);

  // Counts beyond what the stream can hold, or negative, are refused.
  for (int32_t count : {-1, 1000, 70000}) {
    TMemoryStream s;
    {
      TWriter w(&s);
      w.WriteInteger(count);
      w.Write("\0\0\0", 3);
    }
    s.SetPosition(0);
    TReader r(&s);
    TAdvancedIcon target;
    EXPECT_THROW(target.ReadFromFiler(r), EReadError) << count;
    EXPECT_EQ(target.Count(), 0);
  }
}

// ---------------------------------------------------------------- clipboard

HGLOBAL Block(const std::vector<uint8_t>& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
  GlobalUnlock(block);
  return block;
}

void SetClipboard(const std::vector<std::pair<UINT, std::vector<uint8_t>>>& items) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  for (const auto& [format, bytes] : items) SetClipboardData(format, Block(bytes));
  CloseClipboard();
}

void SetClipboardBitmap(TBitmap& bitmap) {
  SharedClipboard().Clear();
  SharedClipboard().Assign(&bitmap);
}

// The AND-mask rows of a DIB image and its 32-bit colour rows.
std::vector<uint8_t> MaskOf(const TSubIcon& image, int w, int h, int bpp) {
  const auto& bits = image.Bits();
  const size_t at = 40 + RowBytes(w, bpp) * size_t(h);
  return {bits.begin() + at, bits.begin() + at + RowBytes(w, 1) * size_t(h)};
}

class IconClipboard : public ::testing::Test {
protected:
  void TearDown() override { SharedClipboard().Clear(); }
};

TEST_F(IconClipboard, PrivateFormatComesFirstAndBadDataFallsThrough) {
  EXPECT_NE(IconClipboardFormat(), 0u);
  EXPECT_EQ(IconClipboardFormat(), RegisterClipboardFormat(kIconClipboardFormatName));
  const auto ico = icontest::IcoFile({{DibImage(16, 16, 8)}, {DibImage(32, 32, 4)}});
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(5, 3);
  SetClipboardBitmap(bitmap);
  SharedClipboard().Open();
  SetClipboardData(IconClipboardFormat(), Block(ico));
  SharedClipboard().Close();

  TAdvancedIcon icon;
  AddOneImage(icon);
  icon.PasteFromClipboard();
  ASSERT_EQ(icon.Count(), 2);
  EXPECT_EQ(icon.Images()[1]->GetWidth(), 32);
  EXPECT_EQ(GetOpenClipboardWindow(), nullptr);

  // Icon data that does not load: the bitmap is taken instead.
  SetClipboardBitmap(bitmap);
  SharedClipboard().Open();
  SetClipboardData(IconClipboardFormat(), Block({0, 0, 9, 9, 1, 0}));
  SharedClipboard().Close();
  EXPECT_FALSE(icon.PasteIconFormat());
  EXPECT_EQ(icon.Count(), 2);
  icon.PasteFromClipboard();
  ASSERT_EQ(icon.Count(), 1);
  EXPECT_EQ(icon.Images()[0]->GetWidth(), 5);
}

TEST_F(IconClipboard, PlainBitmapsArePastedOpaque) {
  // A 24-bit picture, and a 32-bit one whose alpha was never written (as GDI
  // drawing leaves it): both become wholly opaque images.
  for (TPixelFormat pf : {pf24bit, pf32bit}) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf);
    bitmap.SetSize(9, 4);
    bitmap.Canvas()->Brush()->SetColor(0x00336699);
    bitmap.Canvas()->FillRect(Rect(0, 0, 9, 4));
    SetClipboardBitmap(bitmap);
    TAdvancedIcon icon;
    AddOneImage(icon);
    icon.PasteFromClipboard();
    ASSERT_EQ(icon.Count(), 1) << pf;
    TSubIcon& image = *icon.Images()[0];
    const int bpp = image.GetBitsPerPixel();
    EXPECT_EQ(image.GetWidth(), 9);
    EXPECT_EQ(MaskOf(image, 9, 4, bpp), std::vector<uint8_t>(RowBytes(9, 1) * 4, 0)) << pf;
    if (bpp == 32) {
      for (int p = 0; p < 9 * 4; ++p) EXPECT_EQ(image.Bits()[40 + 4 * p + 3], 255) << p;
    }
  }
}

TEST_F(IconClipboard, EnhancedMetafileBecomesA32BitImageWithAlpha) {
  TMetafile mf;
  mf.SetWidth(16);
  mf.SetHeight(16);
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(0x0000FF);
    canvas.Pen()->SetStyle(psClear);
    canvas.Ellipse(0, 0, 16, 16);
  }
  SharedClipboard().Clear();
  SharedClipboard().Assign(&mf);
  TAdvancedIcon icon;
  AddOneImage(icon);
  icon.PasteFromClipboard();
  ASSERT_EQ(icon.Count(), 1);
  TSubIcon& image = *icon.Images()[0];
  ASSERT_EQ(image.GetWidth(), 16);
  ASSERT_EQ(image.GetBitsPerPixel(), 32);
  // Bottom-up rows after the 40-byte header: the corner is clear, the middle opaque red.
  auto alphaAt = [&](int x, int y) { return image.Bits()[40 + 4 * ((15 - y) * 16 + x) + 3]; };
  EXPECT_EQ(alphaAt(0, 0), 0);
  EXPECT_EQ(alphaAt(8, 8), 255);
  EXPECT_EQ(image.Bits()[40 + 4 * ((15 - 8) * 16 + 8) + 2], 255);
  // The clipboard keeps its metafile.
  SharedClipboard().Open();
  auto h = static_cast<HENHMETAFILE>(GetClipboardData(CF_ENHMETAFILE));
  EXPECT_GT(GetEnhMetaFileBits(h, 0, nullptr), 0u);
  SharedClipboard().Close();
}

TEST_F(IconClipboard, AssigningTheClipboardPastes) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetSize(7, 3);
  SetClipboardBitmap(bitmap);
  TAdvancedIcon icon;
  AddOneImage(icon);
  icon.Assign(&SharedClipboard());
  ASSERT_EQ(icon.Count(), 1);
  EXPECT_EQ(icon.Images()[0]->GetWidth(), 7);
}

TEST_F(IconClipboard, PngDataGivesColourAndMask) {
  // A truecolour PNG with alpha 0, 79, 80 and 255 across one row: the mask is
  // transparent where alpha is 0, the 32-bit image keeps the partial alphas.
  TBitmap source;
  source.SetPixelFormat(pf32bit);
  source.SetSize(4, 1);
  const uint8_t alphas[4] = {0, 79, 80, 255};
  auto* px = static_cast<uint8_t*>(source.ScanLine(0));
  for (int x = 0; x < 4; ++x) {
    px[4 * x] = 10;
    px[4 * x + 1] = 20;
    px[4 * x + 2] = 30;
    px[4 * x + 3] = alphas[x];
  }
  TPNGImage png;
  png.Assign(&source);
  TMemoryStream pngBytes;
  png.SaveToStream(pngBytes);
  SetClipboard({{RegisterClipboardFormat("PNG"),
                 std::vector<uint8_t>(pngBytes.Memory(), pngBytes.Memory() + pngBytes.Size())}});

  TAdvancedIcon icon;
  AddOneImage(icon);
  icon.PasteFromClipboard();
  ASSERT_EQ(icon.Count(), 1);
  TSubIcon& image = *icon.Images()[0];
  ASSERT_EQ(image.GetWidth(), 4);
  ASSERT_EQ(image.GetBitsPerPixel(), 32);
  EXPECT_EQ(MaskOf(image, 4, 1, 32)[0] & 0xF0, 0x80);
  for (int x = 1; x < 4; ++x) EXPECT_EQ(image.Bits()[40 + 4 * x + 3], alphas[x]) << x;
  EXPECT_EQ(image.Bits()[40 + 4 + 2], 30);

  // Nothing usable on the clipboard: the icon stays as it was.
  SetClipboard({{CF_TEXT, {'h', 'i', 0}}});
  icon.PasteFromClipboard();
  ASSERT_EQ(icon.Count(), 1);
  EXPECT_EQ(icon.Images()[0]->GetWidth(), 4);
}

}  // namespace
