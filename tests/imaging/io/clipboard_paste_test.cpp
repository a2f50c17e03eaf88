// Paste through the processing component with the input and output layer's
// readers in place: the first of the library's raw format, PNG, CF_DIB and
// an enhanced metafile that is on the clipboard decides.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/core/ie_proc.h"
#include "imaging/core/ie_proc_filters.h"
#include "imaging/core/ie_raw_stream.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/image_lib_io.h"
#include "io_test_support.h"
#include "platform/graphics/gdi.h"
#include "platform/graphics/gdi_metafile.h"
#include "platform/rtl/streams.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"

namespace {

std::unique_ptr<TIEBitmap> Filled(int w, int h, TRGB colour, bool alpha) {
  auto b = std::make_unique<TIEBitmap>(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetPixelRGB(x, y, colour);
  if (alpha) {
    b->AlphaChannel()->Fill(200);
    b->SetFull(false);
  }
  return b;
}

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.Size());
}

void PutBlock(UINT format, const std::vector<uint8_t>& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  GlobalUnlock(h);
  SetClipboardData(format, h);
}

// A 30 x 20 pixel metafile holding a red rectangle.
HENHMETAFILE RedMetafile() {
  HDC dc = CreateEnhMetaFile(nullptr, nullptr, nullptr, nullptr);
  HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
  const RECT r{0, 0, 30, 20};
  FillRect(dc, &r, brush);
  DeleteObject(brush);
  return CloseEnhMetaFile(dc);
}

class ClipboardPaste : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterFormatFilters();
    RegisterSpecialFormats();
    qvtest::EnsureImageIO();
    InitImageIO();
    TMemoryStream raw;
    SaveRawToStream(*Filled(2, 2, MakeRGB(0, 0, 255), false), raw);
    FRaw = Bytes(raw);
    TMemoryStream png;
    auto pngSource = Filled(3, 3, MakeRGB(0, 255, 0), true);
    TImageLibIO::CreateForBitmap(pngSource.get())->SaveStream(png, ioPNG);
    FPng = Bytes(png);
    auto dibSource = Filled(4, 4, MakeRGB(40, 50, 60), false);
    ASSERT_TRUE(TImageLibProc::CreateForBitmap(dibSource.get())->CopyImageToClipboard(false));
    ASSERT_TRUE(OpenClipboard(nullptr));
    auto dib = static_cast<HGLOBAL>(GetClipboardData(CF_DIB));
    ASSERT_NE(dib, nullptr);
    const auto* p = static_cast<const uint8_t*>(GlobalLock(dib));
    FDib.assign(p, p + GlobalSize(dib));
    GlobalUnlock(dib);
    CloseClipboard();
  }
  void TearDown() override {
    if (OpenClipboard(nullptr)) {
      EmptyClipboard();
      CloseClipboard();
    }
  }

  enum : unsigned { kRaw = 1, kPng = 2, kDib = 4, kEmf = 8 };
  void Fill(unsigned formats) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    if (formats & kRaw) PutBlock(ImageLibRawClipboardFormat(), FRaw);
    if (formats & kPng) PutBlock(RegisterClipboardFormat("PNG"), FPng);
    if (formats & kDib) PutBlock(CF_DIB, FDib);
    if (formats & kEmf) SetClipboardData(CF_ENHMETAFILE, RedMetafile());
    CloseClipboard();
  }

  // Pastes over a new 9 x 9 picture of grey 7; returns the undo entries made.
  int PasteInto(std::unique_ptr<TIEBitmap>& target) {
    target = Filled(9, 9, MakeRGB(7, 7, 7), false);
    auto proc = TImageLibProc::CreateForBitmap(target.get());
    proc->SetAutoUndo(true);
    proc->PasteFromClipboard();
    return proc->UndoCount();
  }

  qvtest::FilterSlotsScope FSlots;
  std::vector<uint8_t> FRaw, FPng, FDib;
};

TEST_F(ClipboardPaste, FirstFormatPresentDecidesInTheLibrarysOrder) {
  struct Case {
    unsigned formats;
    int width;  // 0: the metafile, 9: nothing pasted
    TRGB pixel;
  } cases[] = {
      {kRaw | kPng | kDib | kEmf, 2, MakeRGB(0, 0, 255)},
      {kPng | kDib | kEmf, 3, MakeRGB(0, 255, 0)},
      {kDib | kEmf, 4, MakeRGB(40, 50, 60)},
      {kEmf, 0, MakeRGB(255, 0, 0)},
      {kPng, 3, MakeRGB(0, 255, 0)},
  };
  for (const Case& c : cases) {
    Fill(c.formats);
    std::unique_ptr<TIEBitmap> target;
    const int undo = PasteInto(target);
    SCOPED_TRACE(c.formats);
    if (c.width == 0) {
      EXPECT_NE(target->Width(), 9);
      EXPECT_GT(target->Width(), 4);
    } else {
      EXPECT_EQ(target->Width(), c.width);
    }
    EXPECT_EQ(target->GetPixelRGB(1, 1), c.pixel);
    EXPECT_EQ(undo, 1);
    // PNG keeps its alpha; the raw format and the DIB had none.
    if (c.width == 3) {
      ASSERT_TRUE(target->HasAlphaChannel());
      EXPECT_EQ(target->GetAlpha(1, 1), 200);
    }
    if (c.width == 2 || c.width == 4) { EXPECT_FALSE(target->HasAlphaChannel()); }
  }
  // The pasted metafile is drawn from a copy: the clipboard still holds its own.
  Fill(kEmf);
  auto target = Filled(9, 9, MakeRGB(7, 7, 7), false);
  TImageLibProc::CreateForBitmap(target.get())->PasteFromClipboard();
  ASSERT_TRUE(OpenClipboard(nullptr));
  auto emf = static_cast<HENHMETAFILE>(GetClipboardData(CF_ENHMETAFILE));
  EXPECT_NE(emf, nullptr);
  HENHMETAFILE copy = CopyEnhMetaFile(emf, nullptr);
  EXPECT_NE(copy, nullptr);
  if (copy) DeleteEnhMetaFile(copy);
  CloseClipboard();
}

TEST_F(ClipboardPaste, WithoutTheReadersPngAndMetafilesArePassedOver) {
  DoneImageIO();
  struct Case {
    unsigned formats;
    int width;
  } cases[] = {{kPng | kDib, 4}, {kPng, 9}, {kEmf, 9}};
  for (const Case& c : cases) {
    Fill(c.formats);
    std::unique_ptr<TIEBitmap> target;
    EXPECT_EQ(PasteInto(target), c.width == 9 ? 0 : 1) << c.formats;
    EXPECT_EQ(target->Width(), c.width) << c.formats;
  }
  InitImageIO();
}

TEST_F(ClipboardPaste, BrokenPngPastesNothingEvenWithADibBeside) {
  FPng.resize(FPng.size() / 2);
  Fill(kPng | kDib);
  std::unique_ptr<TIEBitmap> target;
  EXPECT_EQ(PasteInto(target), 0);
  EXPECT_EQ(target->Width(), 9);
  EXPECT_EQ(target->GetPixelRGB(1, 1), MakeRGB(7, 7, 7));
}

}  // namespace
