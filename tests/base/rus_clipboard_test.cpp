#include "base/rus_clipboard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exception_text.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/rtl/streams.h"
#include "platform/rtl/exceptions.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

HGLOBAL Block(const std::string& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
}


bool HasFormat(UINT format) {
  for (const auto& item : ClipboardSnapshot())
    if (item.Format == format) return true;
  return false;
}

class RusClipboard : public ::testing::Test {
protected:
  void SetUp() override {
    SetClipboardHeldByOtherWindow(false);
    ASSERT_TRUE(ReplaceClipboardContents({{CF_TEXT, {'h', 'i', 0}}}));
  }
  void TearDown() override { SetClipboardHeldByOtherWindow(false); }
};

TEST_F(RusClipboard, NestedOpenAndClose) {
  TRusClipboard clip;
  clip.Open();
  clip.Open();
  clip.Close();
  EXPECT_EQ(clip.OpenCount(), 1);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_TEXT));
  HGLOBAL probe = GlobalAlloc(GMEM_MOVEABLE, 1);
  EXPECT_NE(SetClipboardData(CF_RIFF, probe), nullptr) << "still open after the inner Close";
  clip.Close();
  EXPECT_EQ(clip.OpenCount(), 0);
  EXPECT_FALSE(EmptyClipboard()) << "closed after the outer Close";
  clip.Close();  // one too many does nothing
  EXPECT_EQ(clip.OpenCount(), 0);
}

TEST_F(RusClipboard, ReadingLeavesOtherProgramsDataAlone) {
  const auto before = ClipboardSnapshot();
  const DWORD sequence = GetClipboardSequenceNumber();
  TRusClipboard clip;
  clip.OpenWithRetries(5);
  EXPECT_NE(GetClipboardData(CF_TEXT), nullptr);
  clip.Close();
  clip.Close();
  EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
  EXPECT_FALSE(HasFormat(CF_LOCALE));
  ASSERT_EQ(ClipboardSnapshot().size(), before.size());
}

TEST_F(RusClipboard, FormatsAddedUnderOneOpenAreEmptiedOnceAndStamped) {
  TRusClipboard clip;
  clip.Open();
  clip.EmptyBeforeAdd();
  ASSERT_NE(SetClipboardData(CF_DIB, Block("dib")), nullptr);
  clip.EmptyBeforeAdd();  // a second picture format must not remove the first
  ASSERT_NE(SetClipboardData(CF_RIFF, Block("riff")), nullptr);
  clip.Close();
  EXPECT_TRUE(HasFormat(CF_DIB));
  EXPECT_TRUE(HasFormat(CF_RIFF));
  EXPECT_FALSE(HasFormat(CF_TEXT)) << "the old contents were emptied";
  bool stamped = false;
  for (const auto& item : ClipboardSnapshot())
    if (item.Format == CF_LOCALE) {
      ASSERT_EQ(item.Data.size(), 4u);
      uint32_t id = 0;
      std::memcpy(&id, item.Data.data(), 4);
      EXPECT_EQ(id, 1049u);
      stamped = true;
    }
  EXPECT_TRUE(stamped);
  // The next outermost Open empties again.
  clip.Open();
  clip.EmptyBeforeAdd();
  clip.Close();
  EXPECT_FALSE(HasFormat(CF_DIB));
}

TEST_F(RusClipboard, HeldClipboardRaisesAfterTheRetries) {
  SetClipboardHeldByOtherWindow(true);
  TRusClipboard clip;
  EXPECT_EQ(MessageOf([&] { clip.Open(); }), "Cannot open clipboard");
  EXPECT_EQ(MessageOf([&] { clip.OpenWithRetries(2); }), "Can not open Clipboard, times: 2");
  EXPECT_EQ(clip.OpenCount(), 0);
  EXPECT_THROW(clip.Clear(), EClipboardException);
}

TEST_F(RusClipboard, RefusedLocaleBlockIsFreed) {
  const size_t blocks = GlobalBlockCount();
  TRusClipboard clip;
  clip.SetLocale(1049);  // the clipboard is not open, so it is refused
  EXPECT_EQ(GlobalBlockCount(), blocks);
  EXPECT_FALSE(HasFormat(CF_LOCALE));
}

}  // namespace

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_canvas.h"
#include "platform/graphics/graphics_picture.h"

namespace {

TEST_F(RusClipboard, PicturesTravelThroughTheClipboard) {
  TBitmap source;
  source.SetSize(3, 2);
  source.Canvas()->SetPixels(2, 1, 0x123456);
  TRusClipboard clip;
  clip.Assign(&source);
  EXPECT_EQ(clip.OpenCount(), 0);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_BITMAP));
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_TEXT)) << "putting a picture empties the clipboard first";

  TBitmap back;
  back.Assign(&clip);
  EXPECT_EQ(back.GetWidth(), 3);
  EXPECT_EQ(back.GetHeight(), 2);
  EXPECT_EQ(back.Canvas()->Pixels(2, 1), 0x123456);

  TPicture picture;
  picture.Assign(&clip);
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Width(), 3);
  EXPECT_EQ(clip.OpenCount(), 0);
}

TEST_F(RusClipboard, NoPictureOnTheClipboard) {
  TRusClipboard clip;
  TPicture picture;
  try {
    picture.Assign(&clip);
    ADD_FAILURE() << "text is no picture";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Invalid clipboard format");
  }
  EXPECT_EQ(clip.OpenCount(), 0) << "closed also when reading fails";
  TBitmap bitmap;
  EXPECT_THROW(bitmap.Assign(&clip), EInvalidGraphic);
  EXPECT_EQ(clip.OpenCount(), 0);
  TRusClipboard other;
  EXPECT_THROW(clip.Assign(&other), EConvertError);
}

}  // namespace

namespace {

TEST_F(RusClipboard, MetafileGoesToAMetafileAndAPicture) {
  TMetafile mf;
  mf.SetWidth(30);
  mf.SetHeight(20);
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(0x00FF00);
    canvas.FillRect(Rect(0, 0, 15, 20));
  }
  SharedClipboard().Assign(&mf);
  EXPECT_TRUE(HasFormat(CF_ENHMETAFILE) || IsClipboardFormatAvailable(CF_ENHMETAFILE));
  // Into a metafile: the Windows metafile picture, made from the enhanced one.
  TMetafile back;
  back.Assign(&SharedClipboard());
  EXPECT_EQ(back.Width(), 30);
  EXPECT_EQ(back.Height(), 20);
  EXPECT_FALSE(back.Enhanced());
  // Into a picture: the first format it knows, the enhanced metafile, byte for byte.
  TPicture picture;
  picture.Assign(&SharedClipboard());
  auto* pasted = dynamic_cast<TMetafile*>(picture.Graphic());
  ASSERT_NE(pasted, nullptr);
  TMemoryStream a, b;
  mf.SaveToStream(a);
  pasted->SaveToStream(b);
  ASSERT_EQ(a.Size(), b.Size());
  EXPECT_EQ(std::memcmp(a.Memory(), b.Memory(), static_cast<size_t>(a.Size())), 0);
}

}  // namespace
