// The block model: colour tables, frame placement, extensions, and the picture's
// own operations (size, assignment, clipboard, palette).
#include <gtest/gtest.h>

#include "exception_text.h"
#include "gif_test_util.h"
#include "pictures/gif/gif_encoders.h"
#include "platform/win/clipboard.h"

using namespace giftest;

namespace {

std::vector<std::string> warnings;

void Watch(TGIFImage& image) {
  warnings.clear();
  image.OnReportWarning = [](TObject*, int, const std::string& m) { warnings.push_back(m); };
}

TEST(GifColorMap, WrittenAsPowersOfTwoAndSearchedFromTheRightEnd) {
  TGIFImage image;
  TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 4, 1, {0, 1, 2, 0}, {0x0000FF, 0x00FF00, 0x0000FF});
  TGIFColorMap& map = f->LocalMap();
  TMemoryStream s;
  map.WriteEntries(s);
  EXPECT_EQ(s.Size(), 12) << "three colours and a black fourth";
  EXPECT_EQ(map.FindColor(0x0000FF), 2) << "unsorted: the last of equal entries";
  TGIFColorMap& one = AddIndexedFrame(image, 0, 0, 1, 1, {0}, {0x123456})->LocalMap();
  TMemoryStream t;
  one.WriteEntries(t);
  EXPECT_EQ(t.Size(), 6);
  EXPECT_EQ(one.IndexBits(), 1);

  for (int i = 3; i < 256; ++i) map.AppendColor(static_cast<uint32_t>(i));
  EXPECT_EQ(MessageOf([&] { map.AppendColor(1); }), "Color table overflow");
  EXPECT_EQ(MessageOf([&] { map.RemoveEntry(256); }), "Invalid color index");
  Watch(image);
  EXPECT_EQ(map.ColorAt(300), 0x0000FFu);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Invalid color index"}));
  map.Reset();
  EXPECT_EQ(MessageOf([&] { map.ColorAt(0); }), "Color table is empty");
}

TEST(GifColorMap, SortByUseOrdersByCountAndKeepsNamedColours) {
  TGIFImage image;
  // Colour 0 unused, 1 used once, 2 used three times, 3 named by the transparent index only.
  TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 4, 1, {1, 2, 2, 2}, {0x111111, 0x222222, 0x333333, 0x444444});
  auto g = std::make_unique<TGIFGraphicControlExtension>(f);
  g->SetTransparentEntry(3);
  g->SetTransparencyFlag(true);
  f->ExtensionBlocks().AppendItem(std::move(g));
  ASSERT_TRUE(f->LocalMap().SortByUse());
  EXPECT_TRUE(f->LocalMap().Sorted());
  EXPECT_EQ(f->LocalMap().EntryCount(), 3) << "the unused colour falls off; the transparent one stays";
  EXPECT_EQ(f->LocalMap().RawColor(0), 0x333333u);
  EXPECT_EQ(f->LocalMap().RawColor(1), 0x222222u);
  EXPECT_EQ(f->LocalMap().RawColor(2), 0x444444u);
  EXPECT_EQ(f->TransparentIndex(), 2);
  EXPECT_EQ(f->PixelAt(0, 0), 1);
  EXPECT_EQ(f->PixelAt(3, 0), 0);
  EXPECT_EQ(f->LocalMap().FindColor(0x333333), 0);

  // Already in order: only the mark changes, unused colours stay.
  TGIFSubImage* h = AddIndexedFrame(image, 0, 0, 3, 1, {0, 0, 1}, {0x10, 0x20, 0x30});
  EXPECT_TRUE(h->LocalMap().SortByUse());
  EXPECT_EQ(h->LocalMap().EntryCount(), 3);

  // The global table keeps and remaps the background colour.
  TGIFImage global;
  for (uint32_t c : {0xAAu, 0xBBu, 0xCCu}) global.GlobalColorMap().AppendColor(c);
  global.Header().ScreenBlock.BackgroundEntry = 0;
  auto frame = std::make_unique<TGIFSubImage>(&global);
  frame->PlaceFrame(0, 0, 2, 1);
  frame->Pixels()[0] = frame->Pixels()[1] = 2;
  global.AddFrame(std::move(frame));
  global.GlobalColorMap().SortByUse();
  EXPECT_EQ(global.GlobalColorMap().EntryCount(), 2);
  EXPECT_EQ(global.GlobalColorMap().RawColor(global.Header().ScreenBlock.BackgroundEntry), 0xAAu);
  EXPECT_EQ(global.Frames()[0]->PixelAt(0, 0), 0);
}

TEST(GifFrame, PlacementGrowsTheScreenWithWarnings) {
  TGIFImage image;
  Watch(image);
  TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 25, 1, std::vector<uint8_t>(25, 1), {0, 0xFFFFFF});
  EXPECT_TRUE(warnings.empty()) << "a screen of no size grows silently";
  EXPECT_EQ(image.Width(), 25);
  f->SetBoundValue(3, 20);
  EXPECT_EQ(f->PixelAt(5, 0), 0) << "a new width means new pixels";
  f->SetBoundValue(1, 10);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Image width too small for contained frames", "Image exceeds Logical Screen size"}));
  EXPECT_EQ(image.Width(), 30);
  EXPECT_EQ(MessageOf([&] { image.SetWidth(29); }), "Image width too small for contained frames");
  EXPECT_EQ(image.Width(), 30);
  EXPECT_EQ(MessageOf([&] { f->PixelAt(20, 0); }), "Invalid pixel coordinates");
}

TEST(GifExtensions, BlocksReadAndWriteByTheirRules) {
  TGIFImage image;
  TGIFSubImage* f = AddIndexedFrame(image, 0, 0, 2, 1, {0, 1}, {0, 0xFFFFFF});
  // A comment line of 300 characters comes back as 255 and 45.
  auto c = std::make_unique<TGIFCommentExtension>(f);
  c->CommentLines.Add(std::string(300, 'c'));
  TMemoryStream s;
  c->SaveToStream(s);
  s.SetPosition(0);
  TGIFCommentExtension back(f);
  back.LoadFromStream(s);
  ASSERT_EQ(back.CommentLines.Count(), 2);
  EXPECT_EQ(back.CommentLines[0].size(), 255u);
  EXPECT_EQ(back.CommentLines[1].size(), 45u);

  auto g = std::make_unique<TGIFGraphicControlExtension>(f);
  g->ControlBlock.Flags = 0x01;
  g->SetDisposalMethod(2);
  EXPECT_EQ(g->ControlBlock.Flags, 0x09);
  Watch(image);
  g->SetTransparentEntry(7);
  EXPECT_EQ(g->TransparentEntry(), 0);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Invalid color index"}));
  g->SetTransparentEntry(1);
  g->SetTransparencyFlag(true);
  TGIFGraphicControlExtension* raw = g.get();
  f->ExtensionBlocks().AppendItem(std::move(g));
  EXPECT_EQ(f->ControlExtension(), raw);
  EXPECT_TRUE(f->IsTransparent());
  f->ExtensionBlocks().DeleteItem(0);
  EXPECT_FALSE(f->IsTransparent()) << "freeing the control extension makes the frame opaque";
  EXPECT_EQ(f->ControlExtension(), nullptr);

  TMemoryStream target;
  TGIFStream bare(target);
  uint8_t b = 0;
  EXPECT_EQ(MessageOf([&] { bare.Read(&b, 1); }), "Invalid stream operation");
  EXPECT_EQ(MessageOf([&] { bare.Write(&b, 1); }), "Invalid stream operation");
}

TEST(GifImage, AssignCopiesFramesAndSettingsButKeepsItsOwnHandlersAndEncodingChoices) {
  TGIFImage source;
  AddIndexedFrame(source, 1, 2, 3, 1, {0, 1, 1}, {0x010203, 0x040506});
  auto comment = std::make_unique<TGIFCommentExtension>(source.Frames()[0]);
  comment->CommentLines.Add("kept");
  source.Frames()[0]->ExtensionBlocks().AppendItem(std::move(comment));
  source.SetDrawFlags(dfMasked);
  source.SetQuantizeBits(3);
  source.SetSpeedPercent(50);
  bool sourceWarned = false;
  source.OnReportWarning = [&](TObject*, int, const std::string&) { sourceWarned = true; };
  TGIFImage target;
  bool ownWarned = false;
  target.OnReportWarning = [&](TObject*, int, const std::string&) { ownWarned = true; };
  target.SetCompressionKind(ckRunLength);
  target.Assign(&source);
  ASSERT_EQ(target.Frames().Count(), 1);
  EXPECT_NE(target.Frames()[0], source.Frames()[0]);
  EXPECT_EQ(target.Frames()[0]->Left(), 1);
  EXPECT_EQ(target.Frames()[0]->ExtensionBlocks().Count(), 1);
  EXPECT_EQ(target.DrawFlags(), dfMasked);
  EXPECT_EQ(target.QuantizeBits(), 8);
  EXPECT_EQ(target.SpeedPercent(), 100);
  EXPECT_EQ(target.CompressionKind(), ckRunLength);
  target.Warning(&target, 1, "x");
  EXPECT_TRUE(ownWarned);
  EXPECT_FALSE(sourceWarned);
  EXPECT_EQ(MessageOf([&] { target.AddFrame(&target.Header()); }), "Object type not supported for operation");
}

TEST(GifImage, ClipboardRoundTripGivesTheSameStream) {
  TGIFImage image;
  AddIndexedFrame(image, 0, 0, 3, 2, {0, 1, 2, 2, 1, 0}, {0xFF, 0xFF00, 0xFF0000});
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  image.SaveToClipboardFormat(format, data, palette);
  CloseClipboard();
  ASSERT_TRUE(OpenClipboard(nullptr));
  TGIFImage back;
  back.LoadFromClipboardFormat(static_cast<WORD>(TGIFImage::ClipboardFormat()), nullptr, nullptr);
  CloseClipboard();
  EXPECT_EQ(SaveToBytes(back), SaveToBytes(image));
  EXPECT_EQ(MessageOf([&] { back.LoadFromClipboardFormat(CF_TEXT, nullptr, nullptr); }), "Unsupported clipboard format");
}

TEST(GifImage, WithoutAnyColourTableIndexIDrawsAsGreyI) {
  GifBytes g;
  g.Raw({'G', 'I', 'F', '8', '9', 'a', 3, 0, 1, 0, 0, 0, 0});
  g.Image(0, 0, 3, 1).Codes(2, {{4, 3}, {0, 3}, {1, 3}, {3, 3}, {5, 4}}).Trailer();
  TGIFImage image;
  LoadFromBytes(image, g.b);
  TBitmap b;
  b.Assign(&image);
  b.SetPixelFormat(pf24bit);
  EXPECT_EQ(b.Canvas()->Pixels(0, 0), TColor(0x000000));
  EXPECT_EQ(b.Canvas()->Pixels(1, 0), TColor(0x010101));
  EXPECT_EQ(b.Canvas()->Pixels(2, 0), TColor(0x030303));
}

}  // namespace
