#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_streams.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/io_params.h"
#include "imaging/io/jpeg_markers.h"
#include "io_fixture.h"

namespace {

using qvtest::Events;
using qvtest::ImageLibIOTest;
using qvtest::StubFilters;

// Which writer ran: each slot leaves its own mark in the file.
void MarkWriters(StubFilters& stub) {
  TIEFilterSlots& f = IEFilters();
  auto mark = [&stub](const char* tag) {
    return [&stub, tag](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord& pr) {
      stub.payload = tag;
      stub.Write(s, b, nullptr, pr);
    };
  };
  f.WriteTIFFStream = [&stub](TStream& s, bool, TIEBitmap* b, TProgressRecord& pr, TIOParamsVals&) {
    stub.payload = "TIFF";
    stub.Write(s, *b, nullptr, pr);
    return 1;
  };
  for (auto [code, tag] : {std::pair{ioJPEG, "JPEG"}, std::pair{ioPCX, "PCX"}, std::pair{ioTGA, "TGA"},
                           std::pair{ioPNG, "PNG"}, std::pair{ioGIF, "GIF"}}) {
    auto write = mark(tag);
    FindFormatDescriptor(code)->Write = [write](TIEFormatWriteArgs& a) {
      write(a.Stream, a.Bitmap, a.Params, a.Progress);
    };
  }
}

TEST_F(ImageLibIOTest, SaveFileChoosesByExtensionAndTypeInOrder) {
  MarkWriters(stub);
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  const struct {
    const char* file;
    TImageFileType type;
    const char* writer;  // nullptr: fails and creates nothing
  } cases[] = {
      {"a.jpg", 2, "JPEG"},     // the earlier extension test wins over the type
      {"a.gif", -1, "GIF"},     {"a.qqq", 2, "GIF"},  {"a.qqq", -1, nullptr}, {"a.cur", -1, nullptr},
      {"a.PNG", -1, "PNG"},     {"a.tif", 3, "JPEG"}, {"a.win", -1, "TGA"},
      {"a.pix", -1, "TGA"},     // a built-in suffix without a rule runs its format's writer
      {"a.xif", -1, "TIFF"},    {"a.raw", 21, nullptr}, {"a.iev", -1, nullptr}, {"a.lyr", -1, nullptr},
      {"a.all", -1, nullptr},   {"a.dcm", -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.type));
    std::filesystem::remove(dir.File(c.file));
    io.SaveFile(File(c.file), c.type);
    if (c.writer != nullptr) {
      EXPECT_FALSE(io.Aborting());
      EXPECT_EQ(Content(c.file), c.writer);
    } else {
      EXPECT_TRUE(io.Aborting());
      EXPECT_FALSE(std::filesystem::exists(dir.File(c.file)));
    }
  }
  io.SetAborting(false);
  io.SaveFile(std::wstring(), 2);  // an empty name does nothing at all
  EXPECT_FALSE(io.Aborting());
}

TEST_F(ImageLibIOTest, SaveFileHandsLayerFilesToTheView) {
  qvtest::FakeView view(ievkImageView);
  io.SetAttachedImageLib(&view);
  io.SaveFile(File("x.lyr"), -1);
  EXPECT_EQ(view.savedLayers, dir.File("x.lyr"));
  EXPECT_THROW(io.SaveFile(File("x.all"), -1), EInvalidCast);
  io.SetAttachedImageLib(nullptr);
}

TEST_F(ImageLibIOTest, LoadFileDispatch) {
  Touch("a.jpg");
  Touch("a.win");
  Touch("a.zzz");
  Touch("a.ps");
  const struct {
    const char* file;
    TImageFileType type;
    bool aborts;
    TImageFileType fileType;
  } cases[] = {
      {"a.jpg", -1, false, ioJPEG}, {"a.win", -1, false, ioTGA},   {"a.zzz", -1, true, ioUnknown},
      {"a.zzz", ioPNG, false, ioPNG}, {"a.ps", -1, true, ioUnknown}, {"a.avi", -1, true, ioUnknown},
      {"a.mpg", -1, true, ioUnknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    io.Params().FileType = ioUnknown;
    events.list.clear();
    io.LoadFile(File(c.file), c.type);
    EXPECT_EQ(io.Aborting(), c.aborts);
    EXPECT_EQ(io.Params().FileType, c.fileType);
    EXPECT_EQ(events.Finishes(), 1);
  }
  // Addresses go to the URL loader; no file is opened (nothing listens on port 1).
  const int reads = stub.reads;
  io.LoadFile(std::string("HTTPS://127.0.0.1:1/a.png"));
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(stub.reads, reads);
  // No bitmap: nothing at all.
  io.AttachBitmap(nullptr);
  events.list.clear();
  io.LoadFile(File("a.jpg"));
  EXPECT_TRUE(events.list.empty());
}

TEST_F(ImageLibIOTest, LoadStreamAndBuffers) {
  events.list.clear();
  io.LoadBuffer(nullptr, 10, 0);
  EXPECT_TRUE(io.Aborting());
  EXPECT_TRUE(events.list.empty());

  const char gif[] = "GIF89a..........";
  io.LoadBuffer(gif, sizeof gif, 0);
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(io.Params().FileType, ioGIF);
  io.LoadBuffer(gif, sizeof gif, ioPNG);
  EXPECT_EQ(io.Params().FileType, ioPNG);

  const char avi[] = "RIFF\x10\0\0\0AVI LIST....";
  TIEMemStream aviStream(avi, sizeof avi);
  events.list.clear();
  io.LoadStream(aviStream);
  EXPECT_TRUE(io.Aborting());
  EXPECT_TRUE(events.list.empty());

  // The position is where detection found it.
  TMemoryStream s;
  s.WriteBuffer("junk", 4);
  s.WriteBuffer(gif, sizeof gif);
  s.SetPosition(4);
  int64_t seenAt = -1;
  FindFormatDescriptor(ioGIF)->Read = [&](TIEFormatReadArgs& a) {
    seenAt = a.Stream.Position();
    stub.Read(a.Bitmap, a.Params, a.Progress, nullptr, false);
  };
  io.LoadStream(s);
  EXPECT_EQ(seenAt, 4);
}

TEST_F(ImageLibIOTest, ReadParamsNeverRaise) {
  const char gif[] = "GIF89a..........";
  EXPECT_EQ(io.ReadParamsFromBuffer(gif, sizeof gif, 0), ioGIF);
  EXPECT_TRUE(stub.lastParamsOnly);
  EXPECT_EQ(io.IEBitmap()->Width(), 0);  // the working picture is not touched
  EXPECT_EQ(io.ReadParamsFromFile(File("missing.gif")), ioUnknown);
  stub.mode = StubFilters::Throw;
  EXPECT_EQ(io.ReadParamsFromBuffer(gif, sizeof gif, 0), ioUnknown);
  stub.mode = StubFilters::Abort;
  Touch("p.gif", "GIF89a..........");
  EXPECT_EQ(io.ReadParamsFromFileAsType(File("p.gif"), ioGIF), ioUnknown);
  EXPECT_EQ(io.Params().FileName, File("p.gif"));
  stub.mode = StubFilters::Succeed;
  EXPECT_EQ(io.ReadParamsFromFileAsType(File("p.gif"), ioGIF), ioGIF);
  EXPECT_EQ(io.Params().Width, stub.width);
}

TEST_F(ImageLibIOTest, SeekPage) {
  Touch("m.tif");
  io.LoadTIFFFile(File("m.tif"));
  io.Params().SetImageCount(3);
  io.Params().SetImageIndex(2);
  const int reads = stub.reads;
  EXPECT_EQ(io.SeekPage(2, L""), 2);  // already the last page: nothing reloaded
  EXPECT_EQ(stub.reads, reads);
  EXPECT_EQ(io.SeekPage(1, L""), 1);
  EXPECT_EQ(stub.reads, reads + 1);
  EXPECT_EQ(io.Params().GifImageIndex, 1);
}

// ---- stream headers ----

TEST_F(ImageLibIOTest, HeadedJPEGStreamsReadBackToBack) {
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  io.StreamHeaders = true;
  TMemoryStream s;
  io.SaveJPEGStream(s);
  io.SaveJPEGStream(s);
  ASSERT_EQ(s.Size(), 2 * (12 + 7));
  const uint8_t* m = reinterpret_cast<const uint8_t*>(s.Memory());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m), 4), "JFIF");
  EXPECT_EQ(m[8], 7);
  io.StreamHeaders = false;
  s.SetPosition(0);
  io.LoadJPEGStream(s);
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(s.Position(), 19);
  io.LoadJPEGStream(s);
  EXPECT_EQ(s.Position(), 38);
}

TEST_F(ImageLibIOTest, FailedHeadedWritesKeepThePlaceholder) {
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  io.StreamHeaders = true;
  stub.mode = StubFilters::Abort;
  for (auto save : {&TImageLibIO::SavePCXStream, &TImageLibIO::SaveTIFFStream, &TImageLibIO::SaveJPEGStream}) {
    TMemoryStream s;
    (io.*save)(s);
    EXPECT_TRUE(io.Aborting());
    ASSERT_GE(s.Size(), 12);
    EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t*>(s.Memory()), reinterpret_cast<uint8_t*>(s.Memory()) + 12),
              std::vector<uint8_t>(12, 0));
  }
  stub.mode = StubFilters::Succeed;
  TMemoryStream s;
  s.WriteBuffer(std::vector<uint8_t>(20, 0).data(), 20);
  s.SetPosition(0);
  const int reads = stub.reads;
  io.LoadPCXStream(s);
  EXPECT_TRUE(io.Aborting());
  s.SetPosition(0);
  io.LoadTIFFStream(s);
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(stub.reads, reads);
}

TEST_F(ImageLibIOTest, PCXHeaderFormsAndLengthBound) {
  io.StreamHeaders = true;
  TMemoryStream s;
  // "PCX2" with a length far beyond the data: the reader gets what is there.
  const uint8_t head[12] = {'P', 'C', 'X', '2', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  s.WriteBuffer(head, 12);
  s.WriteBuffer("0123456789", 10);
  s.SetPosition(0);
  io.LoadPCXStream(s);
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(stub.pcxLength, 10);
  EXPECT_EQ(s.Position(), 22);
  // The older four-byte form runs to the end.
  TMemoryStream old;
  old.WriteBuffer("PCX\0", 4);
  old.WriteBuffer("0123456789abcdef", 16);
  old.SetPosition(0);
  io.LoadPCXStream(old);
  EXPECT_EQ(stub.pcxLength, 16);
}

TEST_F(ImageLibIOTest, DCXStreamIsTruncatedWhereItStarts) {
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  TMemoryStream s;
  s.WriteBuffer("keep", 4);
  s.WriteBuffer("an older DCX that was longer", 28);
  s.SetPosition(4);
  io.SaveDCXStream(s);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size())), "keepPAYLOAD");
}

TEST_F(ImageLibIOTest, IconSizesUpToTheFirstEmptyEntry) {
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  TIOParamsVals& p = io.Params();
  p.IcoSizes[0] = {48, 48};
  p.IcoSizes[1] = {32, 32};
  p.IcoSizes[2] = {0, 0};
  p.IcoSizes[3] = {16, 16};
  TMemoryStream s;
  io.SaveICOStream(s);
  EXPECT_EQ(stub.icoSizes, (std::vector<std::pair<int, int>>{{48, 48}, {32, 32}}));
  p.IcoSizes[0].Width = 0;
  io.SaveICOStream(s);
  EXPECT_TRUE(stub.icoSizes.empty());
}

// ---- JPEG metadata before a save ----

std::vector<uint8_t> ResolutionResource(uint8_t nameLength) {
  std::vector<uint8_t> r = {'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0,
                            '8', 'B', 'I', 'M', 0x03, 0xED, nameLength};
  for (int i = 0; i < nameLength; ++i) r.push_back('n');
  if ((1 + nameLength) % 2 != 0) r.push_back(0);
  for (uint8_t b : {0, 0, 0, 16}) r.push_back(b);
  for (int i = 0; i < 16; ++i) r.push_back(0xAA);
  return r;
}

TEST_F(ImageLibIOTest, PhotoshopResolutionIsRewritten) {
  for (uint8_t nameLength : {0, 3}) {
    TIOParamsVals& p = io.Params();
    p.JpegMarkers->Clear();
    std::vector<uint8_t> r = ResolutionResource(nameLength);
    p.JpegMarkers->AddMarker(0xED, r.data(), int64_t(r.size()));
    p.SetDpiX(300);
    p.SetDpiY(72);
    io.UpdateJPEGResolutionResource();
    const uint8_t* d = p.JpegMarkers->MarkerData(0);
    const size_t at = r.size() - 16;
    EXPECT_EQ(std::vector<uint8_t>(d + at, d + at + 16),
              (std::vector<uint8_t>{0x01, 0x2C, 0, 0, 0, 1, 0, 1, 0x00, 0x48, 0, 0, 0, 1, 0, 1}));
  }
  // A name that runs past the payload, or a data block cut short: nothing changes.
  for (auto cut : {std::vector<uint8_t>{'8', 'B', 'I', 'M', 0x03, 0xED, 200, 'x'}, ResolutionResource(0)}) {
    if (cut.size() > 20) cut.resize(cut.size() - 1);
    io.Params().JpegMarkers->Clear();
    io.Params().JpegMarkers->AddMarker(0xED, cut.data(), int64_t(cut.size()));
    io.UpdateJPEGResolutionResource();
    const uint8_t* d = io.Params().JpegMarkers->MarkerData(0);
    EXPECT_EQ(std::vector<uint8_t>(d, d + cut.size()), cut);
  }
}

TEST_F(ImageLibIOTest, JPEGSaveRebuildsIPTCAndXMPAndKeepsExif) {
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  TIOParamsVals& p = io.Params();
  const std::string exif("Exif\0\0MM\0*rest", 14);
  const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + "<old/>";
  p.JpegMarkers->AddMarker(0xE1, exif.data(), int64_t(exif.size()));
  p.JpegMarkers->AddMarker(0xE1, xmp.data(), int64_t(xmp.size()));
  p.HasExifData = true;
  p.XmpPacket = "<new/>";
  p.IptcInfo->AddItem(2, 120, 7, "caption");
  TMemoryStream s;
  io.SaveJPEGStream(s);
  TIEMarkerList& m = *p.JpegMarkers;
  ASSERT_EQ(m.Count(), 3);
  // EXIF passes as it came while nothing can build it.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.MarkerData(0)), size_t(m.MarkerLength(0))), exif);
  EXPECT_EQ(m.MarkerType(1), 0xED);
  TIEIPTCInfoList back;
  ASSERT_TRUE(back.LoadFromBuffer(m.MarkerData(1), m.MarkerLength(1)));
  EXPECT_EQ(back.ItemData(0), (std::vector<uint8_t>{'c', 'a', 'p', 't', 'i', 'o', 'n'}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.MarkerData(2)) + 29, 6), "<new/>");
  // An emptied IPTC list removes the marker.
  p.IptcInfo->Clear();
  io.SaveJPEGStream(s);
  EXPECT_EQ(m.IndexOfType(0xED), -1);
}

// ---- resolution ----

TEST_F(ImageLibIOTest, AutoAdjustDPIMakesSquarePixels) {
  for (bool filtered : {false, true}) {
    stub.width = 100;
    stub.height = 60;
    stub.readDpiX = 72;
    stub.readDpiY = 100;
    io.AutoAdjustDPI = true;
    io.FilteredAdjustDPI = filtered;
    io.IEBitmap()->RemoveAlphaChannel();
    TMemoryStream s;
    s.WriteBuffer("BM............", 14);
    s.SetPosition(0);
    io.LoadBMPStream(s);
    EXPECT_EQ(io.IEBitmap()->Width(), 100);
    EXPECT_EQ(io.IEBitmap()->Height(), 43);
    EXPECT_EQ(io.Params().Height, 43);
    EXPECT_EQ(io.Params().DpiX, 72);
    EXPECT_EQ(io.Params().DpiY, 72);
    ASSERT_TRUE(io.IEBitmap()->HasAlphaChannel());
    EXPECT_EQ(io.IEBitmap()->AlphaChannel()->Height(), 43);
    EXPECT_EQ(io.IEBitmap()->AlphaChannel()->GetPixel8(99, 42), 128);
  }
  // The taller side: width shrinks to the horizontal resolution.
  stub.width = 60;
  stub.height = 100;
  stub.readDpiX = 100;
  stub.readDpiY = 72;
  TMemoryStream s;
  s.WriteBuffer("BM............", 14);
  s.SetPosition(0);
  io.LoadBMPStream(s);
  EXPECT_EQ(io.IEBitmap()->Width(), 43);
  EXPECT_EQ(io.IEBitmap()->Height(), 100);
}

TEST_F(ImageLibIOTest, ResampleToSquareDPI) {
  TIEBitmap b(100, 60, ie24RGB);
  TIOParamsVals p(nullptr);
  p.DpiX = 72;
  p.DpiY = 100;
  auto r = ResampleToSquareDPI(b, p, true);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Height(), 43);
  EXPECT_EQ(p.DpiY, 72);
  EXPECT_EQ(ResampleToSquareDPI(b, p, false), nullptr);  // now square
}

// ---- attachment ----

TEST_F(ImageLibIOTest, ViewAttachment) {
  auto view = std::make_unique<qvtest::FakeView>(ievkImageView);
  io.SetBackground(0x0000FF);
  EXPECT_EQ(io.Background(), 0x0000FFu);
  io.SetAttachedImageLib(view.get());
  EXPECT_EQ(io.IEBitmap(), view->GetIEBitmap());
  EXPECT_EQ(io.Background(), 0x00112233u);
  io.SetBackground(0x00FFFFFF);  // a view keeps its own background
  EXPECT_EQ(view->Background(), 0x00112233u);
  io.Params().SetDpiX(150);  // the parameter set passes resolution to the view, without a repaint
  EXPECT_EQ(view->DpiX(), 150);
  EXPECT_EQ(view->locks, 0);
  view->ChangeBitmap();
  EXPECT_EQ(io.IEBitmap(), view->GetIEBitmap());
  view.reset();  // the view's end reaches the component first
  EXPECT_EQ(io.AttachedImageLib(), nullptr);
  EXPECT_EQ(io.IEBitmap(), nullptr);
  io.SetAttachedImageLib(nullptr);
  EXPECT_NE(io.IEBitmap(), nullptr);
  EXPECT_EQ(io.ImageLibVersion(), "4.3.0");
  io.SetImageLibVersion("9");
  EXPECT_EQ(io.ImageLibVersion(), "4.3.0");
}

// ---- a format from outside ----

TEST_F(ImageLibIOTest, OutsideFormatLoadsSavesAndIsDetected) {
  auto entry = std::make_unique<TIEFileFormatInfo>();
  entry->FileType = 41;
  entry->FullName = "Outside";
  entry->Suffix = "OUT";
  int reads = 0, writes = 0;
  entry->ReadFunction = [&](TStream&, TIEBitmap& b, TIOParamsVals&, bool, TProgressRecord&) {
    ++reads;
    b.Allocate(5, 5, ie8g);
  };
  entry->WriteFunction = [&](TStream& s, TIEBitmap& b, TIOParamsVals&, TProgressRecord&) {
    ++writes;
    EXPECT_EQ(b.PixelFormat(), ie24RGB);
    s.WriteBuffer("OUT!", 4);
  };
  entry->TryFunction = [](TStream& s, TImageFileType code) {
    char b[4] = {};
    return code == 41 && s.Read(b, 4) == 4 && std::string(b, 4) == "OUT!";
  };
  RegisterFileFormat(std::move(entry));

  io.IEBitmap()->Allocate(2, 2, ie8g);
  io.SaveFile(File("x.out"));
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(Content("x.out"), "OUT!");
  EXPECT_EQ(io.IEBitmap()->PixelFormat(), ie8g);
  events.list.clear();
  io.LoadFile(File("x.out"));
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(io.IEBitmap()->Width(), 5);
  EXPECT_EQ(io.Params().FileType, 41);
  EXPECT_EQ(events.Finishes(), 1);
  EXPECT_EQ(DetectFileTypeByName(File("x.out"), true), 41);
  TIEMemStream s("OUT!", 4);
  EXPECT_EQ(DetectStreamFileType(s), 41);
  TMemoryStream out;
  io.SaveStream(out, 41);
  EXPECT_EQ(out.Size(), 4);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(writes, 2);

  UnregisterFileFormat(41);
  io.LoadFile(File("x.out"));
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(DetectStreamFileType(s), ioUnknown);
  io.SaveStream(out, 41);
  EXPECT_TRUE(io.Aborting());
}

}  // namespace

namespace {

TEST_F(ImageLibIOTest, NamesOutsideASCIIInBothSpellings) {
  io.IEBitmap()->Allocate(2, 2, ie24RGB);
  const std::string utf8 = dir.File("bild-\xC3\xA4\xE2\x82\xAC.png");
  io.SaveFile(utf8);
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(qvtest::ReadFileBytes(utf8).size(), stub.payload.size());
  io.LoadFile(UTF8ToWide(utf8));
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(io.Params().FileName, UTF8ToWide(utf8));
  EXPECT_EQ(WideToUTF8(io.Params().FileName), utf8);
}

TEST_F(ImageLibIOTest, AbortFromAnotherThreadStopsTheFilter) {
  std::atomic<bool> started{false};
  FindFormatDescriptor(ioPNG)->Read = [&](TIEFormatReadArgs& a) {
    TProgressRecord& pr = a.Progress;
    a.Bitmap->Allocate(1, 1, ie24RGB);
    started = true;
    while (!pr.Aborted()) std::this_thread::yield();
  };
  std::thread canceller([&] {
    while (!started) std::this_thread::yield();
    io.SetAborting(true);
  });
  TMemoryStream s;
  io.LoadPNGStream(s);
  canceller.join();
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(io.AcquireParams()->Aborting, 1);
  EXPECT_EQ(io.DcimAcquire()->Aborting, 1);
}

}  // namespace

#include "platform/graphics/graphics_bitmap.h"
#include "platform/graphics/graphics_picture.h"
#include "platform/ui/ext_ctrls.h"

namespace {

TEST_F(ImageLibIOTest, ImageControlShowsWhatIsLoaded) {
  auto image = std::make_unique<TImage>(nullptr);
  image->Picture()->Bitmap()->SetSize(5, 4);
  int changes = 0;
  image->Picture()->Bitmap()->OnChange = [&](TObject*) { ++changes; };
  TIEBitmap callers(1, 1, ie24RGB);
  io.AttachBitmap(&callers);
  io.SetAttachedTImage(image.get());
  EXPECT_EQ(io.AttachedTImage(), image.get());
  EXPECT_NE(io.IEBitmap(), &callers);  // the caller's bitmap is not laid over the control's
  EXPECT_EQ(io.IEBitmap()->Width(), 5);
  EXPECT_EQ(io.GetVclBitmap(), image->Picture()->Bitmap());
  TMemoryStream s;
  io.LoadPNGStream(s);
  EXPECT_FALSE(io.Aborting());
  EXPECT_EQ(image->Picture()->Bitmap()->Width(), stub.width);
  EXPECT_EQ(image->Picture()->Bitmap()->Height(), stub.height);
  EXPECT_GE(changes, 1);
  EXPECT_EQ(io.IEBitmap()->Location(), ieTBitmap);
  EXPECT_EQ(io.IEBitmap()->VclBitmap(), image->Picture()->Bitmap());
  EXPECT_EQ(io.IEBitmap()->GetPixelRGB(3, 2), MakeRGB(0x40, 0x40, 0x40));
  EXPECT_FALSE(io.IEBitmap()->HasAlphaChannel());
  // The control going away leaves the component safe to use.
  image.reset();
  EXPECT_EQ(io.AttachedTImage(), nullptr);
  io.LoadPNGStream(s);
  EXPECT_EQ(io.IEBitmap()->Width(), stub.width);
}

}  // namespace
