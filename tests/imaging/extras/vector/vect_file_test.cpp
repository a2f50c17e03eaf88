// Vector-object and layers-and-objects files opened through the input/output
// component: drawn into a picture that holds everything the objects touch;
// damaged files change nothing.
#include "imaging/io/ie_filters.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/rtl/streams.h"
#include "platform/ui/picture_file.h"
#include "support/test_support.h"
#include "vect_test_support.h"

std::string VectTestOutput(const std::string& name);

namespace {

TEST_F(VectTest, AnObjectFileOpensAsAPictureGrownToWhatItsObjectsTouch) {
  // A thick line with arrow heads reaches past its corners on every side.
  auto line = Obj(ievkLine, 10, 10, 60, 10);
  line->PenWidth = 9;
  line->BeginShape = 2;
  line->EndShape = 2;
  line->ShapeWidth = 30;
  line->ShapeHeight = 20;
  line->PenColor = 0xFF0000;
  Add(*line);
  qvtest::TempDir dir;
  ASSERT_TRUE(vect->SaveObjectsToFile(dir.File("thick.iev")));
  TIEBitmap picture;
  auto io = TImageLibIO::CreateForBitmap(&picture);
  io->LoadFile(dir.File("thick.iev"));
  ASSERT_FALSE(io->Aborting());
  EXPECT_EQ(io->Params().FileType, ioIEV);
  // The corners alone would give 61 x 11.
  EXPECT_GT(picture.Height(), 25);
  EXPECT_GE(picture.Width(), 61);
  ASSERT_TRUE(picture.HasAlphaChannel());
  // The line is there, opaque and blue; the corner of the picture is clear.
  int opaqueBlue = 0;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      if (picture.AlphaChannel()->GetPixel8(x, y) == 255 && picture.GetPixelAsRGB(x, y) == (TRGB{255, 0, 0}))
        ++opaqueBlue;
  EXPECT_GT(opaqueBlue, 300);
  EXPECT_EQ(picture.AlphaChannel()->GetPixel8(picture.Width() - 1, picture.Height() - 1), 0);
  {
    TIEBitmap shown(picture.Width(), picture.Height(), ie24RGB);
    shown.Fill(0xC0C0C0);
    picture.RenderToTIEBitmap(shown, 0, 0, picture.Width(), picture.Height(), 0, 0, picture.Width(), picture.Height(),
                              rfNone);
    TBitmap out;
    shown.CopyToTBitmap(out);
    SavePicturePng(&out, VectTestOutput("vector_file_thick_line.png"));
  }
  // Every touched pixel lies inside: no opaque pixel on the outer rows.
  for (int x = 0; x < picture.Width(); ++x) {
    EXPECT_LT(picture.AlphaChannel()->GetPixel8(x, 0), 255) << x;
    EXPECT_LT(picture.AlphaChannel()->GetPixel8(x, picture.Height() - 1), 255) << x;
  }
}

TEST_F(VectTest, AnAllFileOpensThroughTheComponentToo) {
  AddEveryKind();
  qvtest::TempDir dir;
  ASSERT_TRUE(vect->SaveAllToFileChecked(dir.File("every.all")));
  TIEBitmap picture;
  auto io = TImageLibIO::CreateForBitmap(&picture);
  io->LoadFile(dir.File("every.all"));
  ASSERT_FALSE(io->Aborting());
  EXPECT_EQ(io->Params().FileType, ioALL);
  EXPECT_GE(picture.Width(), 280);
}

TEST_F(VectTest, DamagedObjectFilesSetAbortingAndLeaveThePicture) {
  AddEveryKind();
  qvtest::TempDir dir;
  ASSERT_TRUE(vect->SaveObjectsToFile(dir.File("every.iev")));
  std::vector<uint8_t> bytes = qvtest::ReadFileBytes(dir.File("every.iev"));
  const std::vector<std::vector<uint8_t>> damaged = {
      std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(bytes.size() / 2)),
      std::vector<uint8_t>(bytes.begin(), bytes.end() - 3),
      std::vector<uint8_t>{'I', 'E', 'V', 'S', 0, 0, 0, 0, 0}};
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    qvtest::WriteFileBytes(dir.File("bad.iev"), damaged[i]);
    TIEBitmap picture(7, 5, ie24RGB);
    picture.Fill(0x123456);
    auto io = TImageLibIO::CreateForBitmap(&picture);
    io->LoadFile(dir.File("bad.iev"));
    EXPECT_TRUE(io->Aborting());
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(picture.GetPixelAsRGB(3, 3), picture.GetPixelAsRGB(0, 0));
  }
}

TEST_F(VectTest, ObjectStreamsAreRecognisedByTheirContent) {
  AddEveryKind();
  TMemoryStream s;
  vect->SaveObjectsToStream(s, IEV_ALL_OBJECTS);
  s.SetPosition(0);
  EXPECT_TRUE(IEFilters().IsIEVStream(s));
  TMemoryStream all;
  vect->SaveAllToStream(all, -1);
  all.SetPosition(0);
  EXPECT_TRUE(IEFilters().IsALLStream(all));
  EXPECT_FALSE(IEFilters().IsIEVStream(all));
}

}  // namespace
