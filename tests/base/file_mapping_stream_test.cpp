#include "base/file_mapping_stream.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/rtl/exceptions.h"
#include "test_support.h"

namespace {

TEST(FileMappingStream, ReadsAndSeeksWithinTheFile) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("a.bin"), {1, 2, 3, 4, 5});
  TFileMappingStream s(dir.File("a.bin"));
  EXPECT_EQ(s.Size(), 5);
  uint8_t buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 5);
  EXPECT_EQ(buf[4], 5);
  s.Seek(3, soBeginning);
  EXPECT_EQ(s.Read(buf, 8), 2);
  EXPECT_EQ(buf[0], 4);
  s.Seek(100, soBeginning);
  EXPECT_EQ(s.Read(buf, 1), 0) << "reads never go past the file";
}

TEST(FileMappingStream, MissingEmptyAndFolderGiveAnEmptyStream) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("empty.bin"), {});
  for (const std::string& name : {dir.File("missing.bin"), dir.File("empty.bin"), dir.Path().string()}) {
    TFileMappingStream s(name);
    EXPECT_EQ(s.Size(), 0) << name;
    uint8_t b = 0;
    EXPECT_EQ(s.Read(&b, 1), 0) << name;
    EXPECT_EQ(s.Memory(), nullptr) << name;
  }
}

size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(FileMappingStream, AFailedMappingHoldsNothing) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("empty.bin"), {});
  const size_t before = OpenDescriptors();
  TFileMappingStream s(dir.File("empty.bin"));  // opens, then cannot map an empty file
  EXPECT_EQ(OpenDescriptors(), before) << "the file is closed again at once";
}

TEST(FileMappingStream, WritesAreRefused) {
  qvtest::TempDir dir;
  qvtest::WriteFileBytes(dir.File("a.bin"), {1, 2});
  TFileMappingStream s(dir.File("a.bin"));
  const uint8_t b = 9;
  EXPECT_EQ(s.Write(&b, 1), -1);
  EXPECT_THROW(s.WriteBuffer(&b, 1), EWriteError);
  EXPECT_EQ(s.Memory()[0], 1);
}

}  // namespace
