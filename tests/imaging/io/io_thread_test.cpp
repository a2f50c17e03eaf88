// Background loads and saves: every call shape defers to an I/O thread and
// runs there, the component waits for its workers, an exception in a worker
// ends as Aborting, and a component that owns its bitmap never defers.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "imaging/core/ie_bitmap.h"
#include "imaging/core/ie_io_log.h"
#include "imaging/formats/format_filters.h"
#include "imaging/special/special_formats.h"
#include "imaging/io/file_formats.h"
#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "imaging/io/io_params.h"
#include "io_test_support.h"
#include "platform/rtl/streams.h"
#include "test_support.h"

namespace {

constexpr TImageFileType kPlugIn = 777;

// A format added from outside: four marker bytes, read as a 2 x 2 picture.
struct PlugIn {
  std::thread::id readOn, writtenOn;
  void Register() {
    auto e = std::make_unique<TIEFileFormatInfo>();
    e->FileType = kPlugIn;
    e->FullName = "Test plug-in";
    e->Suffix = "QVT";
    e->ReadFunction = [this](TStream& s, TIEBitmap& b, TIOParamsVals&, bool, TProgressRecord& p) {
      readOn = std::this_thread::get_id();
      char m[4] = {};
      if (s.Read(m, 4) != 4 || std::memcmp(m, "QVT!", 4) != 0) return p.Abort();
      b.Allocate(2, 2, ie24RGB);
      b.Fill(0x112233);
    };
    e->WriteFunction = [this](TStream& s, TIEBitmap&, TIOParamsVals&, TProgressRecord&) {
      writtenOn = std::this_thread::get_id();
      s.WriteBuffer("QVT!", 4);
    };
    e->TryFunction = [](TStream& s, TImageFileType) {
      char m[4] = {};
      return s.Read(m, 4) == 4 && std::memcmp(m, "QVT!", 4) == 0;
    };
    RegisterFileFormat(std::move(e));
  }
  ~PlugIn() { UnregisterFileFormat(kPlugIn); }
};

class IOThreadTest : public ::testing::Test {
protected:
  void SetUp() override {
    qvtest::EnsureImageIO();
    RegisterFormatFilters();
    RegisterSpecialFormats();
    plugIn.Register();
    // A borrowed bitmap: only such a component works in the background.
    io.AttachBitmap(&bitmap);
    io.Asynchronous = true;
    io.OnFinishWork = [this](TObject*) {
      std::lock_guard<std::mutex> g(lock);
      finishedOn = std::this_thread::get_id();
      ++finishes;
    };
    Picture(source, 5, 4);
  }
  static void Picture(TIEBitmap& b, int w, int h) {
    b.Allocate(w, h, ie24RGB);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetPixelRGB(x, y, MakeRGB(uint8_t(x * 40), uint8_t(y * 50), 7));
  }
  // The picture as BMP bytes, written by a component of its own in the foreground.
  std::vector<uint8_t> BMPBytes(TIEBitmap& b) {
    TIEBitmap copy;
    copy.Assign(&b);
    auto writer = TImageLibIO::CreateForBitmap(&copy);
    TMemoryStream s;
    writer->SaveBMPStream(s);
    return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
  }
  bool SameAsSource() {
    if (bitmap.Width() != source.Width() || bitmap.Height() != source.Height()) return false;
    for (int y = 0; y < source.Height(); ++y)
      for (int x = 0; x < source.Width(); ++x)
        if (!(bitmap.GetPixelRGB(x, y) == source.GetPixelRGB(x, y))) return false;
    return true;
  }
  std::wstring File(const std::string& name) { return UTF8ToWide(dir.File(name)); }

  qvtest::FilterSlotsScope slots;
  qvtest::TempDir dir;
  PlugIn plugIn;
  TIEBitmap bitmap, source;
  TImageLibIO io{nullptr};
  std::mutex lock;
  std::thread::id finishedOn;
  int finishes = 0;
};

// Each call shape, made on an asynchronous component, returns before it ran
// and runs on a worker; the worker's events run there (no view to post to).
TEST_F(IOThreadTest, EveryShapeDefersItsCallAndRunsItOnAWorker) {
  const std::vector<uint8_t> bmp = BMPBytes(source);
  qvtest::WriteFileBytes(dir.File("in.bmp"), bmp);
  qvtest::WriteFileBytes(dir.File("in.qvt"), {'Q', 'V', 'T', '!'});
  TMemoryStream bmpStream, plugStream, out;
  bmpStream.WriteBuffer(bmp.data(), int64_t(bmp.size()));
  plugStream.WriteBuffer("QVT!", 4);
  const std::thread::id self = std::this_thread::get_id();

  struct Case {
    const char* name;
    std::function<void()> call;
    std::function<bool()> done;
    bool save = false;  // saves start from the source picture, loads from a 1 x 1 one
  };
  const std::vector<Case> cases = {
      {"0 load by name", [&] { io.LoadBMPFile(File("in.bmp")); }, [&] { return SameAsSource(); }},
      {"0 save by name", [&] { io.SaveBMPFile(File("out.bmp")); },
       [&] { return qvtest::ReadFileBytes(dir.File("out.bmp")) == bmp; }, true},
      {"2 load from stream", [&] { bmpStream.SetPosition(0); io.LoadBMPStream(bmpStream); },
       [&] { return SameAsSource(); }},
      {"2 save to stream", [&] { out.Clear(); io.SaveBMPStream(out); },
       [&] { return std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size()) == bmp; }, true},
      {"LoadFile by extension", [&] { io.LoadFile(File("in.bmp")); }, [&] { return SameAsSource(); }},
      {"SaveFile by extension", [&] { io.SaveFile(File("out2.bmp")); },
       [&] { return qvtest::ReadFileBytes(dir.File("out2.bmp")) == bmp; }, true},
      {"1 LoadFile hook", [&] { io.LoadFile(File("in.qvt")); }, [&] { return bitmap.Width() == 2; }},
      {"1 SaveFile hook", [&] { io.SaveFile(File("out.qvt")); },
       [&] { return qvtest::ReadFileBytes(dir.File("out.qvt")).size() == 4; }, true},
      {"6 LoadFileAsType hook", [&] { io.LoadFileAsType(File("in.qvt"), kPlugIn); },
       [&] { return bitmap.Width() == 2; }},
      {"2 LoadStream hook", [&] { plugStream.SetPosition(0); io.LoadStream(plugStream); },
       [&] { return bitmap.Width() == 2; }},
      {"7 LoadStreamAsType hook", [&] { plugStream.SetPosition(0); io.LoadStreamAsType(plugStream, kPlugIn); },
       [&] { return bitmap.Width() == 2; }},
      {"7 SaveStream hook", [&] { out.Clear(); io.SaveStream(out, kPlugIn); }, [&] { return out.Size() == 4; }, true},
  };
  for (const Case& c : cases) {
    if (c.save)
      bitmap.Assign(&source);
    else
      bitmap.Allocate(1, 1, ie24RGB);
    finishes = 0;
    // Waiting for the worker is the only way to see the work done.
    {
      std::unique_lock<std::mutex> g(lock);  // the worker's finish waits for us to have asked
      c.call();
      EXPECT_EQ(finishes, 0) << c.name;
    }
    io.WaitThreads(false);
    EXPECT_TRUE(c.done()) << c.name;
    EXPECT_FALSE(io.Aborting()) << c.name;
    EXPECT_EQ(finishes, 1) << c.name;
    EXPECT_NE(finishedOn, self) << c.name;
  }
}

TEST_F(IOThreadTest, GifAndTiffLoadsReturnMinusOneWhenDeferred) {
  qvtest::WriteFileBytes(dir.File("a.gif"), {'G', 'I', 'F'});
  qvtest::WriteFileBytes(dir.File("a.tif"), {'I', 'I', '*', 0});
  TMemoryStream s;
  // One at a time: workers of one component share its bitmap.
  EXPECT_EQ(io.LoadGIFFile(File("a.gif")), -1);
  io.WaitThreads(false);
  EXPECT_EQ(io.LoadTIFFFile(File("a.tif")), -1);
  io.WaitThreads(false);
  EXPECT_EQ(io.LoadGIFStream(s), -1);
  io.WaitThreads(false);
  EXPECT_EQ(io.LoadTIFFStream(s), -1);
  io.WaitThreads(false);
  EXPECT_EQ(finishes, 4);
}

TEST_F(IOThreadTest, AComponentOwningItsBitmapIgnoresAsynchronous) {
  TImageLibIO own(nullptr);
  own.Asynchronous = true;
  ASSERT_TRUE(own.OwnsBitmap());
  const std::vector<uint8_t> bmp = BMPBytes(source);
  TMemoryStream s;
  s.WriteBuffer(bmp.data(), int64_t(bmp.size()));
  s.SetPosition(0);
  own.LoadBMPStream(s);
  // Loaded before the call returned, on this thread.
  EXPECT_EQ(own.IEBitmap()->Width(), 5);
  EXPECT_FALSE(own.InIOThread());
}

TEST_F(IOThreadTest, AnExceptionInAWorkerEndsAsAbortingWithItsReasonLoggedAndTheComponentGoesOn) {
  SetIOLogFileName(dir.File("io.log"));
  // A missing file raises from the load; the worker catches it.
  io.LoadBMPFile(File("missing.bmp"));
  io.WaitThreads(false);
  SetIOLogFileName("");
  EXPECT_TRUE(io.Aborting());
  std::ifstream log(dir.File("io.log"));
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_NE(line.find(" : TIEIOThread: "), std::string::npos) << line;
  // The component is usable: the next deferred load works.
  const std::vector<uint8_t> bmp = BMPBytes(source);
  qvtest::WriteFileBytes(dir.File("in.bmp"), bmp);
  io.LoadBMPFile(File("in.bmp"));
  io.WaitThreads(false);
  EXPECT_FALSE(io.Aborting());
  EXPECT_TRUE(SameAsSource());
}

TEST_F(IOThreadTest, WaitThreadsWithNoneRunningReturnsAtOnce) {
  io.WaitThreads(false);
  io.WaitThreads(true);
  EXPECT_FALSE(io.Aborting());  // nothing ran, nothing to abort
}

// A stream that hands out its first bytes, then holds every read until it is
// let go (by the test, or when the component is aborting).
class GateStream : public TMemoryStream {
public:
  std::function<bool()> open;
  std::atomic<bool> waited{false};
  int64_t Read(void* buffer, int64_t count) override {
    if (Position() > 256) {
      waited = true;
      while (!open()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return TMemoryStream::Read(buffer, count);
  }
};

TEST_F(IOThreadTest, WaitThreadsWithAbortStopsARunningLoad) {
  TIEBitmap big;
  Picture(big, 64, 600);
  const std::vector<uint8_t> bmp = BMPBytes(big);
  GateStream s;
  s.open = [this] { return io.Aborting(); };
  s.WriteBuffer(bmp.data(), int64_t(bmp.size()));
  s.SetPosition(0);
  io.LoadBMPStream(s);
  io.WaitThreads(true);
  EXPECT_TRUE(io.Aborting());
  EXPECT_EQ(finishes, 1);
}

TEST_F(IOThreadTest, DestructionWaitsForARunningLoad) {
  Picture(source, 64, 100);  // large enough to reach the gate
  const std::vector<uint8_t> bmp = BMPBytes(source);
  GateStream s;
  std::atomic<bool> release{false};
  s.open = [&] { return release.load(); };
  s.WriteBuffer(bmp.data(), int64_t(bmp.size()));
  s.SetPosition(0);
  std::atomic<bool> finished{false};
  std::thread opener;
  {
    TImageLibIO other(nullptr);
    other.AttachBitmap(&bitmap);
    other.Asynchronous = true;
    other.OnFinishWork = [&](TObject*) { finished = true; };
    other.LoadBMPStream(s);
    // Let the worker go only once this thread is well on its way out.
    opener = std::thread([&] {
      while (!s.waited) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      release = true;
    });
  }  // the destructor waits for the load
  opener.join();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(SameAsSource());
}

TEST(IOLog, LinesOfTwoThreadsStayWhole) {
  qvtest::TempDir dir;
  SetIOLogFileName(dir.File("two.log"));
  auto writer = [](char c) {
    for (int i = 0; i < 500; ++i) WriteIOLog(std::string(200, c));
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  SetIOLogFileName("");
  std::ifstream in(dir.File("two.log"));
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    const size_t at = line.find(" : ");
    ASSERT_NE(at, std::string::npos);
    const std::string body = line.substr(at + 3);
    ASSERT_TRUE(body == std::string(200, 'a') || body == std::string(200, 'b')) << line;
    // "yyyy-mm-dd hh:nn:ss"
    EXPECT_EQ(at, 19u) << line;
  }
  EXPECT_EQ(lines, 1000);
}

TEST(IOLog, NothingIsWrittenWithoutAName) {
  qvtest::TempDir dir;
  SetIOLogFileName("");
  WriteIOLog("lost");
  EXPECT_EQ(IOLogFileName(), "");
}

}  // namespace
