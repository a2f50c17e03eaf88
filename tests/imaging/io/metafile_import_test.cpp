// Metafile import: rendering at a chosen size with the size limit, alpha from
// what the drawing covered, the parameters-only read, and loading by extension
// and by content.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/formats/format_filters.h"
#include "imaging/formats/metafile_probes.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_detect.h"
#include "tests/imaging/io/io_test_support.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "platform/graphics/graphics_metafile.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace {

// A metafile of the given size with its left half filled in one colour.
void LeftHalf(TMetafile& mf, int w, int h, TColor colour) {
  mf.SetWidth(w);
  mf.SetHeight(h);
  TMetafileCanvas canvas(&mf, nullptr);
  canvas.Brush()->SetColor(colour);
  canvas.FillRect(Rect(0, 0, w / 2, h));
}

std::vector<uint8_t> Saved(TMetafile& mf) {
  TMemoryStream s;
  mf.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

struct MetafileImport : ::testing::Test {
  TIEBitmap bitmap;
  std::unique_ptr<TImageLibIO> io = TImageLibIO::CreateForBitmap(&bitmap);
  void SetUp() override {
    if (FormatDescriptors().empty()) qvtest::InstallAllFormats();
    InitImageIO();
    io->SetBackground(0x00FFFFFF);
  }
  // Blue, green, red of a pixel of the working bitmap.
  std::vector<int> Pixel(int x, int y) {
    const uint8_t* p = static_cast<const uint8_t*>(bitmap.ScanLine(y)) + 3 * x;
    return {p[0], p[1], p[2]};
  }
};

TEST_F(MetafileImport, SizesFollowTheRequestAndTheLimit) {
  const struct {
    int mw, mh, w, h, wantW, wantH;
  } cases[] = {
      {16000, 4000, -1, -1, 8000, 2000},  // capped at the limit, keeping the aspect
      {400, 300, 200, -1, 200, 150},      // width given
      {400, 300, -1, 60, 80, 60},         // height given
      {400, 300, 50, 70, 50, 70},         // both given
      {300, 400, -1, -1, 300, 400},       // its own size
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mw) + "x" + std::to_string(c.mh));
    TMetafile mf;
    LeftHalf(mf, c.mw, c.mh, 0x0000FF);
    io->RenderMetafile(&mf, c.w, false, c.h);
    EXPECT_FALSE(io->Aborting());
    EXPECT_EQ(bitmap.Width(), c.wantW);
    EXPECT_EQ(bitmap.Height(), c.wantH);
    EXPECT_EQ(io->Params().Width, c.wantW);
    EXPECT_EQ(io->Params().FileType, ioEMF);
    EXPECT_EQ(io->Params().BitsPerSample, 8);
    EXPECT_EQ(io->Params().SamplesPerPixel, 3);
  }
}

TEST_F(MetafileImport, WithoutAlphaUncoveredAreasHaveTheBackground) {
  TMetafile mf;
  LeftHalf(mf, 20, 10, 0x0000FF);
  io->SetBackground(0x00336699);
  io->RenderMetafile(&mf, -1, false, -1);
  ASSERT_FALSE(io->Aborting());
  EXPECT_FALSE(bitmap.HasAlphaChannel());
  EXPECT_EQ(Pixel(2, 2), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(Pixel(15, 2), (std::vector<int>{0x33, 0x66, 0x99}));
}

TEST_F(MetafileImport, AlphaMarksWhatTheDrawingCovered) {
  TMetafile mf;
  mf.SetWidth(20);
  mf.SetHeight(10);
  {
    TMetafileCanvas canvas(&mf, nullptr);
    canvas.Brush()->SetColor(0x0000FF);
    canvas.FillRect(Rect(0, 0, 8, 10));
    // The marker colour itself, drawn: it cannot be told from the background.
    canvas.Brush()->SetColor(0x010203);
    canvas.FillRect(Rect(8, 0, 12, 10));
  }
  io->RenderMetafile(&mf, -1, true, -1);
  ASSERT_FALSE(io->Aborting());
  ASSERT_TRUE(bitmap.HasAlphaChannel());
  TIEBitmap* alpha = bitmap.AlphaChannel();
  auto a = [&](int x, int y) { return static_cast<const uint8_t*>(alpha->ScanLine(y))[x]; };
  EXPECT_EQ(a(2, 5), 255);
  EXPECT_EQ(a(9, 5), 0);
  EXPECT_EQ(a(15, 5), 0);
  EXPECT_FALSE(alpha->Full());
  // A picture that covers everything is wholly opaque.
  TMetafile full;
  full.SetWidth(2);
  full.SetHeight(4);
  {
    TMetafileCanvas canvas(&full, nullptr);
    canvas.Brush()->SetColor(0x00FF00);
    canvas.FillRect(Rect(0, 0, 2, 4));
  }
  io->RenderMetafile(&full, -1, true, -1);
  EXPECT_TRUE(bitmap.AlphaChannel()->Full());
}

TEST_F(MetafileImport, NothingToDrawSetsAborting) {
  TMetafile mf;
  LeftHalf(mf, 20, 10, 0x0000FF);
  io->RenderMetafile(&mf, 0, false, 10);  // a size of 0 is a failure, not an empty success
  EXPECT_TRUE(io->Aborting());
  io->RenderMetafile(&mf, 10, false, 0);
  EXPECT_TRUE(io->Aborting());
  TMetafile empty;
  io->RenderMetafile(&empty, -1, false, -1);
  EXPECT_TRUE(io->Aborting());
}

TEST_F(MetafileImport, LoadsByExtensionAndContentAndReadsParams) {
  qvtest::TempDir dir;
  TMetafile mf;
  LeftHalf(mf, 40, 30, 0x00FF00);
  std::vector<uint8_t> emf = Saved(mf);
  mf.SetEnhanced(false);
  std::vector<uint8_t> wmf = Saved(mf);
  qvtest::WriteFileBytes(dir.File("a.emf"), emf);
  qvtest::WriteFileBytes(dir.File("a.wmf"), wmf);
  qvtest::WriteFileBytes(dir.File("emf.bin"), emf);

  io->LoadFile(dir.File("a.wmf"));
  EXPECT_FALSE(io->Aborting());
  EXPECT_EQ(io->Params().FileType, ioWMF);
  EXPECT_EQ(bitmap.Width(), 40);
  EXPECT_TRUE(bitmap.HasAlphaChannel());  // the dispatch asks for alpha
  io->LoadFile(dir.File("a.emf"));
  EXPECT_EQ(io->Params().FileType, ioEMF);
  EXPECT_EQ(bitmap.Height(), 30);

  TIEMemStream byContent(emf.data(), static_cast<int64_t>(emf.size()));
  EXPECT_EQ(DetectStreamFileType(byContent), ioEMF);
  TIEMemStream wmfContent(wmf.data(), static_cast<int64_t>(wmf.size()));
  EXPECT_EQ(DetectStreamFileType(wmfContent), ioWMF);

  for (auto [bytes, type] : {std::pair{&emf, ioEMF}, std::pair{&wmf, ioWMF}}) {
    TIEMemStream s(bytes->data(), static_cast<int64_t>(bytes->size()));
    EXPECT_EQ(io->ReadParamsFromStream(s), type);
    EXPECT_EQ(io->Params().Width, 40);
    EXPECT_EQ(io->Params().Height, 30);
    EXPECT_EQ(io->Params().DpiX, gDefaultDPIX);
  }
  std::vector<uint8_t> junk(200, 7);
  TIEMemStream bad(junk.data(), static_cast<int64_t>(junk.size()));
  io->LoadMetafileStream(bad, -1, true, -1);
  EXPECT_TRUE(io->Aborting());
}

}  // namespace
