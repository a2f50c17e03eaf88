#include "imaging/io/image_lib_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "io_fixture.h"

namespace {

using qvtest::Events;
using qvtest::ImageLibIOTest;
using qvtest::StubFilters;

// ---- loads ----

struct LoadRow {
  const char* name;
  TImageFileType code;
  void (*byName)(TImageLibIO&, const std::wstring&);
  void (*byStream)(TImageLibIO&, TStream&);
  bool alpha, fixDpi, adjustDpi, syncView, syncByNameOnly, resetMeta;
  char open;
};

#define QV_L(Name, Code, A, D, J, V, VN, M, O)                                                                 \
  LoadRow {                                                                                                    \
    #Name, Code, [](TImageLibIO& io, const std::wstring& n) { io.Load##Name##File(n); },                       \
        [](TImageLibIO& io, TStream& s) { io.Load##Name##Stream(s); }, A, D, J, V, VN, M, O                     \
  }
const LoadRow kLoads[] = {
    QV_L(TIFF, 1, true, true, true, true, false, true, 'c'),
    QV_L(GIF, 2, true, true, true, false, false, true, 'c'),
    QV_L(JPEG, 3, false, true, true, true, false, true, 'a'),
    QV_L(PCX, 4, false, true, true, true, false, true, 'c'),
    QV_L(BMP, 5, true, true, true, true, false, true, 'c'),
    QV_L(ICO, 6, true, true, true, true, false, true, 'b'),
    QV_L(CUR, 7, true, true, true, true, false, true, 'b'),
    QV_L(PNG, 8, false, true, true, true, false, true, 'a'),
    QV_L(TGA, 11, true, true, true, true, true, true, 'a'),
    QV_L(PXM, 12, false, true, true, false, false, true, 'a'),
    QV_L(JP2, 13, false, true, true, true, false, true, 'a'),
    QV_L(J2K, 14, false, true, true, true, false, true, 'a'),
    QV_L(WBMP, 16, false, true, false, false, false, true, 'a'),
    QV_L(DCX, 19, false, true, true, true, false, true, 'c'),
    QV_L(RAW, 20, false, true, true, true, false, true, 'c'),
    QV_L(RawBitmap, 21, false, false, false, false, false, true, 'c'),
    QV_L(PSD, 24, false, true, true, true, false, true, 'c'),
    QV_L(DICOM, 28, false, false, false, false, false, true, 'a'),
    QV_L(HDP, 29, false, true, true, true, false, true, 'c'),
};
#undef QV_L

// Runs a row's load on the file "in.dat" or on a stream of 20 bytes.
class LoadTableTest : public ImageLibIOTest {
protected:
  void Run(const LoadRow& row, bool byName) {
    if (byName) {
      row.byName(io, File("in.dat"));
      return;
    }
    TMemoryStream s;
    s.WriteBuffer("xxxxxxxxxxxxxxxxxxxx", 20);
    s.SetPosition(0);
    row.byStream(io, s);
  }
};

TEST_F(LoadTableTest, LoadOutcomesByFormat) {
  Touch("in.dat");
  for (const LoadRow& row : kLoads) {
    for (bool byName : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (byName ? " by name" : " from stream"));
      qvtest::FakeView view;
      io.SetAttachedImageLib(&view);
      io.Params().XmpPacket = "before";
      io.Params().SetDpiX(1);
      events.list.clear();
      stub.readDpiX = 0;
      stub.readDpiY = 150;
      Run(row, byName);
      EXPECT_FALSE(io.Aborting());
      EXPECT_EQ(events.Finishes(), 1);
      EXPECT_TRUE(events.HundredBeforeFinish());
      EXPECT_EQ(io.Params().FileType, row.code);
      EXPECT_EQ(io.Params().FileName, byName ? File("in.dat") : std::wstring());
      EXPECT_EQ(io.IEBitmap()->Width(), stub.width);
      // M: the metadata was cleared before the read, which wrote its own.
      EXPECT_EQ(io.Params().XmpPacket, "read");
      EXPECT_EQ(io.Params().DpiX, row.fixDpi ? 300 : 0);
      EXPECT_EQ(io.IEBitmap()->HasAlphaChannel(), row.alpha);
      // V: only the frame's sync hands the reader's vertical resolution to the view.
      const bool synced = row.syncView && (!row.syncByNameOnly || byName);
      EXPECT_EQ(view.DpiY() == 150, synced);
      EXPECT_GE(view.updates, 1);
      EXPECT_EQ(view.locks, 0);
      io.SetAttachedImageLib(nullptr);
    }
  }
}

TEST_F(LoadTableTest, LoadFailuresByFormat) {
  Touch("in.dat");
  const std::wstring missing = File("missing.dat");
  for (const LoadRow& row : kLoads) {
    SCOPED_TRACE(row.name);
    for (StubFilters::Mode mode : {StubFilters::Abort, StubFilters::Throw}) {
      for (bool byName : {false, true}) {
        stub.mode = mode;
        events.list.clear();
        Run(row, byName);
        EXPECT_TRUE(io.Aborting()) << mode << byName;
        EXPECT_EQ(events.Finishes(), 1) << mode << byName;
        EXPECT_EQ(io.Params().FileType, row.code);
      }
    }
    stub.mode = StubFilters::Succeed;

    // A file that cannot be opened: the exception passes; what Aborting and the
    // finish notification are depends on where the format opens it.
    io.SetAborting(false);
    events.list.clear();
    EXPECT_THROW(row.byName(io, missing), EFOpenError);
    EXPECT_EQ(io.Aborting(), row.open != 'c');
    EXPECT_EQ(events.Finishes(), row.open == 'a' ? 1 : 0);

    // An empty slot (or a format without a reader) fails the load.
    {
      qvtest::FilterSlotsScope inner;
      IEFilters() = TIEFilterSlots{};
      for (TIEFormatDescriptor& d : FormatDescriptors()) d.Read = nullptr;
      Run(row, false);
      EXPECT_TRUE(io.Aborting());
    }
  }
}

TEST_F(ImageLibIOTest, LoadsWithoutABitmap) {
  Touch("in.dat");
  io.AttachBitmap(nullptr);
  for (const LoadRow& row : kLoads) {
    SCOPED_TRACE(row.name);
    events.list.clear();
    TMemoryStream s;
    row.byStream(io, s);
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(events.Finishes(), 1);
    // By name: formats that run the frame on the file stop before opening it.
    events.list.clear();
    if (row.open == 'a') {
      row.byName(io, File("missing.dat"));
      EXPECT_TRUE(io.Aborting());
    } else {
      row.byName(io, File("in.dat"));
      EXPECT_FALSE(io.Aborting());
    }
    EXPECT_EQ(events.Finishes(), 1);
  }
  EXPECT_EQ(stub.reads, 0);
}

// ---- saves ----

struct SaveRow {
  const char* name;
  TImageFileType code;
  void (*byName)(TImageLibIO&, const std::wstring&);
  void (*byStream)(TImageLibIO&, TStream&);
  bool convert, alpha;
  char open;
};

#define QV_S(Name, Code, C, A, O)                                                                               \
  SaveRow {                                                                                                     \
    #Name, Code, [](TImageLibIO& io, const std::wstring& n) { io.Save##Name##File(n); },                        \
        [](TImageLibIO& io, TStream& s) { io.Save##Name##Stream(s); }, C, A, O                                   \
  }
const SaveRow kSaves[] = {
    QV_S(TIFF, 1, false, false, 'a'), QV_S(GIF, 2, false, false, 'a'), QV_S(JPEG, 3, true, false, 'd'),
    QV_S(PCX, 4, true, false, 'a'),   QV_S(BMP, 5, false, false, 'b'), QV_S(ICO, 6, true, false, 'a'),
    QV_S(PNG, 8, false, true, 'a'),   QV_S(TGA, 11, true, true, 'a'),  QV_S(PXM, 12, true, false, 'a'),
    QV_S(JP2, 13, true, false, 'a'),  QV_S(J2K, 14, true, false, 'a'), QV_S(WBMP, 16, true, false, 'a'),
    QV_S(PS, 17, true, false, 'c'),   QV_S(PDF, 18, true, false, 'c'), QV_S(DCX, 19, false, false, 'b'),
    QV_S(PSD, 24, false, false, 'b'), QV_S(HDP, 29, false, false, 'b'),
};
#undef QV_S

TEST_F(ImageLibIOTest, SaveOutcomesByFormat) {
  for (const SaveRow& row : kSaves) {
    SCOPED_TRACE(row.name);
    // The working picture is 16-bit grey with alpha; converting formats write a
    // 24-bit copy and leave it as it is.
    io.IEBitmap()->Allocate(3, 2, ie16g);
    io.IEBitmap()->AlphaChannel()->Fill(100);
    io.Params().FileName.clear();
    io.Params().FileType = ioUnknown;

    events.list.clear();
    TMemoryStream s;
    s.WriteBuffer("head", 4);
    row.byStream(io, s);
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(events.Finishes(), 1);
    EXPECT_TRUE(events.HundredBeforeFinish());
    EXPECT_EQ(stub.writtenFormat, row.convert ? ie24RGB : ie16g);
    EXPECT_EQ(io.IEBitmap()->PixelFormat(), ie16g);
    EXPECT_EQ(stub.writtenMask, row.alpha);
    EXPECT_EQ(io.Params().FileType, ioUnknown);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size())), "headPAYLOAD");

    const std::string name = std::string("out_") + row.name;
    events.list.clear();
    row.byName(io, File(name));
    EXPECT_FALSE(io.Aborting());
    EXPECT_EQ(events.Finishes(), 1);
    EXPECT_EQ(Content(name), "PAYLOAD");
    EXPECT_EQ(io.Params().FileName, File(name));
    EXPECT_EQ(io.Params().FileType, row.code);
  }
}

TEST_F(ImageLibIOTest, FailedSavesKeepTheFileTheyWouldReplace) {
  io.IEBitmap()->Allocate(3, 2, ie24RGB);
  for (const SaveRow& row : kSaves) {
    SCOPED_TRACE(row.name);
    Touch("keep.dat");
    const size_t files = FileCount();
    for (StubFilters::Mode mode : {StubFilters::Abort, StubFilters::Throw}) {
      stub.mode = mode;
      events.list.clear();
      row.byName(io, File("keep.dat"));
      EXPECT_TRUE(io.Aborting());
      EXPECT_EQ(events.Finishes(), 1);
      EXPECT_EQ(Content("keep.dat"), "old content");
      EXPECT_EQ(FileCount(), files);
    }
    stub.mode = StubFilters::Succeed;

    // A folder that takes no file: the exception passes, nothing is left behind.
    io.SetAborting(false);
    events.list.clear();
    EXPECT_THROW(row.byName(io, File("no/such/folder/x.dat")), EFCreateError);
    EXPECT_EQ(io.Aborting(), row.open != 'd');
    EXPECT_EQ(events.Finishes(), row.open == 'a' || row.open == 'd' ? 1 : 0);

    // Without a picture nothing is written or replaced.
    TImageLibIO empty(nullptr);
    empty.AttachBitmap(nullptr);
    Events e;
    e.Attach(empty);
    row.byName(empty, File("keep.dat"));
    EXPECT_TRUE(empty.Aborting());
    EXPECT_EQ(e.Finishes(), 1);
    EXPECT_EQ(Content("keep.dat"), "old content");
    TMemoryStream s;
    row.byStream(empty, s);
    EXPECT_FALSE(empty.Aborting());
    EXPECT_EQ(e.Finishes(), 2);
    EXPECT_EQ(s.Size(), 0);
  }
}

}  // namespace
