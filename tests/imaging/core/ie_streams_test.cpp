#include "imaging/core/ie_streams.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "imaging/core/ie_helpers.h"
#include "platform/rtl/exceptions.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> Bytes(int n) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

// A target that takes at most a fixed number of bytes, like a full disk.
class TShortStream : public TMemoryStream {
public:
  explicit TShortStream(int64_t room) : FRoom(room) {}
  int64_t Write(const void* buffer, int64_t count) override {
    const int64_t n = std::min(count, FRoom - Size());
    return n > 0 ? TMemoryStream::Write(buffer, n) : 0;
  }

private:
  int64_t FRoom;
};

}  // namespace

TEST(IEBufferedReadStream, RelativeBaseAndSeeks) {
  const auto data = Bytes(300);
  TIEMemStream source(data.data(), 300);
  source.SetPosition(100);
  TIEBufferedReadStream s(&source, 16, true);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Seek(10, soBeginning), 10);
  uint8_t b = 0;
  ASSERT_EQ(s.Read(&b, 1), 1);
  EXPECT_EQ(b, data[110]);
  // From the end adds the offset to the size, as for every stream.
  EXPECT_EQ(s.Seek(-4, soEnd), 196);
  ASSERT_EQ(s.Read(&b, 1), 1);
  EXPECT_EQ(b, data[296]);
}

TEST(IEBufferedReadStream, EndFlag) {
  const auto data = Bytes(100);
  TIEMemStream source(data.data(), 100);
  TIEBufferedReadStream s(&source, 8);
  EXPECT_EQ(s.Seek(-4, soEnd), 96);
  EXPECT_FALSE(s.AtEnd());
  uint8_t buf[10] = {};
  EXPECT_EQ(s.Read(buf, 10), 4);
  EXPECT_TRUE(s.AtEnd());
  EXPECT_EQ(buf[3], data[99]);
  s.Seek(0, soBeginning);
  EXPECT_FALSE(s.AtEnd());
  s.Seek(100, soBeginning);
  EXPECT_TRUE(s.AtEnd());
  s.Seek(-500, soCurrent);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_THROW(s.Write(buf, 1), Exception);
}

// Reads of every size across buffer boundaries give the source's bytes in order.
TEST(IEBufferedReadStream, ReadsAcrossBuffersMatchTheSource) {
  const auto data = Bytes(1000);
  for (int bufferSize : {1, 3, 64, 4096}) {
    for (int chunk : {1, 2, 7, 100}) {
      TIEMemStream source(data.data(), 1000);
      TIEBufferedReadStream s(&source, bufferSize);
      std::vector<uint8_t> got;
      std::vector<uint8_t> buf(static_cast<size_t>(chunk));
      for (;;) {
        const int64_t n = s.Read(buf.data(), chunk);
        got.insert(got.end(), buf.begin(), buf.begin() + n);
        if (n < chunk) break;
      }
      EXPECT_EQ(got, data) << bufferSize << "/" << chunk;
      uint8_t b;
      EXPECT_FALSE(s.ReadByte(b));
    }
  }
}

TEST(IEBufferedWriteStream, HoldsBytesUntilFlushed) {
  const auto data = Bytes(10);
  TMemoryStream target;
  {
    TIEBufferedWriteStream s(&target, 4);
    EXPECT_EQ(s.Write(data.data(), 10), 10);
    EXPECT_EQ(target.Size(), 8);
    s.Flush();
    EXPECT_EQ(target.Size(), 10);
    s.Write(data.data(), 1);
    EXPECT_EQ(s.Seek(0, soCurrent), 11);  // a seek flushes first
    s.Write(data.data(), 2);
    EXPECT_THROW(s.Read(nullptr, 1), Exception);
  }
  EXPECT_EQ(target.Size(), 13);  // the destructor flushed the rest
}

// A full disk is an error, never a successful save.
TEST(IEBufferedWriteStream, ShortWritesAreReported) {
  const auto data = Bytes(100);
  TShortStream target(50);
  TIEBufferedWriteStream s(&target, 16);
  bool error = false;
  StreamWriteChecked(s, error, data.data(), 40);
  EXPECT_FALSE(error);
  StreamWriteChecked(s, error, data.data(), 40);  // the second buffer does not fit
  EXPECT_TRUE(error);
  EXPECT_TRUE(s.WriteFailed());
  EXPECT_THROW(s.Flush(), EWriteError);
  bool again = false;
  StreamWriteChecked(s, again, data.data(), 1);
  EXPECT_TRUE(again);
}

TEST(IEStreams, CopyStreamBoundsTheCount) {
  const auto data = Bytes(500);
  TIEMemStream source(data.data(), 500);
  source.SetPosition(123);
  TMemoryStream all;
  EXPECT_EQ(CopyStream(all, source, 0), 500);  // 0: everything from the start
  EXPECT_EQ(std::vector<uint8_t>(all.Memory(), all.Memory() + 500), data);
  source.SetPosition(450);
  TMemoryStream rest;
  EXPECT_EQ(CopyStream(rest, source, 1000000000000LL), 50);  // never more than what is left
  EXPECT_EQ(rest.Memory()[0], data[450]);
}

TEST(IEStreams, MemStreamWritesNothing) {
  const auto data = Bytes(4);
  TIEMemStream s(data.data(), 4);
  EXPECT_EQ(s.Write(data.data(), 4), 0);
  s.SetSize(100);
  EXPECT_EQ(s.Size(), 4);
  uint8_t b[4];
  EXPECT_EQ(s.Read(b, 4), 4);
}

TEST(IEStreams, TempFileNamesAreTakenAtomically) {
  qvtest::TempDir dir;
  const std::string folder = dir.Path().string() + "/";
  std::string a, b;
  ASSERT_TRUE(MakeTempFileName("IMG", folder, a));
  ASSERT_TRUE(MakeTempFileName("IMG", folder, b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(std::regex_match(a, std::regex(std::regex_replace(folder, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "IMG-[0-9A-F]{8}\\.tmp")));
  // The name is ours the moment it is returned: the file exists and is empty.
  EXPECT_TRUE(std::filesystem::exists(a));
  EXPECT_EQ(std::filesystem::file_size(a), 0u);
  std::string c;
  EXPECT_FALSE(MakeTempFileName("IMG", folder + "missing/", c));
}

TEST(IEStreams, WideFileStream) {
  qvtest::TempDir dir;
  const std::wstring name = std::filesystem::path(dir.File("")).wstring() + L"bild-\u00fc\u4e2d.bin";
  {
    TIEWideFileStream out(name, 0xFFFF);
    out.WriteBuffer("abc", 3);
  }
  EXPECT_TRUE(std::filesystem::exists(dir.File("bild-\xc3\xbc\xe4\xb8\xad.bin")));
  EXPECT_TRUE(FileExistsW(name));
  TIEWideFileStream in(name, 0);
  EXPECT_EQ(in.Size(), 3);
  try {
    TIEWideFileStream bad(name, 3);
    FAIL() << "mode 3 was accepted";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open file \"", 0), 0u);
  }
  EXPECT_THROW(TIEWideFileStream(name + L"x", 0), EFOpenError);
  EXPECT_FALSE(FileExistsA(dir.Path().string()));  // a folder is not a file
}

TEST(IEStreams, NulStreamMeasures) {
  TNulStream s;
  WriteStringToStream(s, "hello");
  EXPECT_EQ(s.Size(), 9);
  EXPECT_EQ(s.Seek(-2, soEnd), 7);
}

TEST(IEStreams, StringRecordsRefuseLengthsBeyondTheStream) {
  TMemoryStream m;
  WriteStringToStream(m, "abc");
  m.SetPosition(0);
  std::string s;
  ReadStringFromStream(m, s);
  EXPECT_EQ(s, "abc");
  TMemoryStream bad;
  bad.WriteValue<int32_t>(0x7FFFFFFF);
  bad.SetPosition(0);
  EXPECT_THROW(ReadStringFromStream(bad, s), EReadError);
}
