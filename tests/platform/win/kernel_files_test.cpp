#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "model_root.h"
#include "platform/win/kernel_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

class KernelFiles : public ModelRootTest {
protected:
  // A file in the model, reached by its Windows name.
  std::string ModelFile(const std::string& relative, const Bytes& content) {
    std::filesystem::create_directories(std::filesystem::path(Root() + "/" + relative).parent_path());
    qvtest::WriteFileBytes(Root() + "/" + relative, content);
    std::string name = "C:\\" + relative;
    for (char& c : name)
      if (c == '/') c = '\\';
    return name;
  }
};

HANDLE OpenRead(const std::string& name) {
  return CreateFile(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
}

}  // namespace

// The way a read-only stream over a whole file maps it.
TEST_F(KernelFiles, ReadOnlyViewOfAWholeFile) {
  Bytes content(100000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 13);
  HANDLE file = OpenRead(ModelFile("data/big.bin", content));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 100000u);
  EXPECT_EQ(high, 0u);
  HANDLE mapping = CreateFileMapping(file, nullptr, PAGE_READONLY | SEC_COMMIT, 0, 0, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_TRUE(CloseHandle(file));  // the mapping keeps the file
  const auto* view = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(Bytes(view, view + content.size()), content);
  // A second view from the 64 KB boundary.
  const auto* tail = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0x10000, 0));
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail[0], content[0x10000]);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 100, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 100001), nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 1, 0, 0), nullptr);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(UnmapViewOfFile(tail));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_FALSE(CloseHandle(mapping));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(KernelFiles, MissingAndEmptyFilesGiveNoMapping) {
  EXPECT_EQ(OpenRead("C:\\data\\missing.bin"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  std::filesystem::create_directories(Root() + "/data");
  EXPECT_EQ(OpenRead("C:\\data\\missing.bin"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenRead("C:\\data"), INVALID_HANDLE_VALUE);  // a folder
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenRead(""), INVALID_HANDLE_VALUE);

  HANDLE empty = OpenRead(ModelFile("data/empty.bin", {}));
  ASSERT_NE(empty, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(empty, nullptr), 0u);
  EXPECT_EQ(CreateFileMapping(empty, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
  // A read-only handle neither grows its file nor maps it for writing.
  HANDLE small = OpenRead(ModelFile("data/small.bin", {1, 2, 3}));
  EXPECT_EQ(CreateFileMapping(small, nullptr, PAGE_READONLY, 0, 10, nullptr), nullptr);
  EXPECT_EQ(CreateFileMapping(small, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileSize(small, nullptr), 3u);
  CloseHandle(empty);
  CloseHandle(small);
}

TEST_F(KernelFiles, CreationDispositions) {
  std::string name = ModelFile("d/f.txt", {'a', 'b', 'c'});
  struct Case {
    DWORD disposition;
    bool opens;
    DWORD error;
    DWORD sizeAfter;
  };
  const Case cases[] = {
      {CREATE_NEW, false, ERROR_FILE_EXISTS, 3},
      {OPEN_EXISTING, true, ERROR_SUCCESS, 3},
      {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, 3},
      {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, 0},
  };
  for (const auto& c : cases) {
    qvtest::WriteFileBytes(Root() + "/d/f.txt", {'a', 'b', 'c'});
    HANDLE h = CreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, c.disposition, 0, nullptr);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.disposition;
    EXPECT_EQ(GetLastError(), c.error) << c.disposition;
    EXPECT_EQ(std::filesystem::file_size(Root() + "/d/f.txt"), c.sizeAfter) << c.disposition;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  HANDLE fresh = CreateFile("C:\\d\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(fresh);
  EXPECT_TRUE(std::filesystem::exists(Root() + "/d/new.txt"));
  EXPECT_EQ(CreateFile("C:\\d\\none.txt", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(KernelFiles, ReadWriteSeekAndDeleteOnClose) {
  HANDLE h = CreateFile("C:\\tmp.dat", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));  // at the end: success, nothing read
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  EXPECT_TRUE(std::filesystem::exists(Root() + "/tmp.dat"));
  CloseHandle(h);
  EXPECT_FALSE(std::filesystem::exists(Root() + "/tmp.dat"));

  HANDLE readOnly = OpenRead(ModelFile("ro.dat", {1}));
  EXPECT_FALSE(WriteFile(readOnly, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(uintptr_t{12345}), buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(readOnly);
}

TEST_F(KernelFiles, WritableAndMemoryBackedMappings) {
  HANDLE file = CreateFile("C:\\rw.dat", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE mapping = CreateFileMapping(file, nullptr, PAGE_READWRITE, 0, 4096, nullptr);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetFileSize(file, nullptr), 4096u);  // grown to the mapping's size
  auto* view = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  std::memcpy(view, "mapped", 6);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(file);
  Bytes onDisk = qvtest::ReadFileBytes(Root() + "/rw.dat");
  EXPECT_EQ(std::string(onDisk.begin(), onDisk.begin() + 6), "mapped");

  HANDLE memory = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 70000, nullptr);
  ASSERT_NE(memory, nullptr);
  auto* a = static_cast<uint8_t*>(MapViewOfFile(memory, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* b = static_cast<uint8_t*>(MapViewOfFile(memory, FILE_MAP_READ, 0, 0x10000, 0));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a[69999], 0);
  a[0x10000] = 42;
  EXPECT_EQ(b[0], 42);  // both views see the same memory
  UnmapViewOfFile(a);
  UnmapViewOfFile(b);
  CloseHandle(memory);
  EXPECT_EQ(CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
}

// A folder customised by the shell: desktop.ini hidden and system, the folder
// marked read-only, which must not stop files being made inside it.
TEST_F(KernelFiles, AttributesOfFilesAndFolders) {
  std::string ini = ModelFile("Photos/desktop.ini", {'[', ']'});
  EXPECT_EQ(GetFileAttributes(ini.c_str()), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributes("C:\\Photos"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributes("C:\\Photos\\none.ini"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributes("C:\\Nowhere\\none.ini"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  ASSERT_TRUE(SetFileAttributes(ini.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributesA(ini.c_str()), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(CreateFile(ini.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE reader = OpenRead(ini);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  ASSERT_TRUE(SetFileAttributes(ini.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributes(ini.c_str()), FILE_ATTRIBUTE_NORMAL);
  HANDLE writer = CreateFile(ini.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  CloseHandle(writer);

  ASSERT_TRUE(SetFileAttributes("C:\\Photos", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetFileAttributes("C:\\Photos"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  HANDLE inside = CreateFile("C:\\Photos\\icon.ico", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  EXPECT_NE(inside, INVALID_HANDLE_VALUE);
  CloseHandle(inside);
  EXPECT_FALSE(SetFileAttributes("C:\\Photos\\none.ini", FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(KernelFiles, CopyFileKeepsAReadOnlyTargetAndCopiesAttributes) {
  std::string source = ModelFile("src.ico", {1, 2, 3});
  ASSERT_TRUE(SetFileAttributes(source.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(CopyFile(source.c_str(), "C:\\copy.ico", FALSE));
  EXPECT_EQ(qvtest::ReadFileBytes(Root() + "/copy.ico"), (Bytes{1, 2, 3}));
  EXPECT_EQ(GetFileAttributes("C:\\copy.ico"), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(CopyFileA(source.c_str(), "C:\\copy.ico", TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

  std::string locked = ModelFile("locked.ico", {9});
  ASSERT_TRUE(SetFileAttributes(locked.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(CopyFile(source.c_str(), locked.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(qvtest::ReadFileBytes(Root() + "/locked.ico"), Bytes{9});
  EXPECT_FALSE(CopyFile("C:\\missing.ico", "C:\\x.ico", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // The temporary copy never stays behind.
  for (const auto& entry : std::filesystem::directory_iterator(Root()))
    EXPECT_EQ(entry.path().filename().string().find(".copy-"), std::string::npos);
}
