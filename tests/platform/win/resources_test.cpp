#include <gtest/gtest.h>

#include <filesystem>

#include "model_root.h"
#include "platform/win/resources.h"
#include "platform/win/system_info.h"

// The test program carries this very file as the resource TESTDATA "Self", the
// header model_root.h as bitmap 101, and the support library carries
// test_support.h as RCDATA "SUPPORTDATA" (see tests/CMakeLists.txt).

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ResourceBytes(HMODULE module, const char* name, const char* type) {
  HRSRC res = FindResource(module, name, type);
  if (!res) return Bytes{0xDE, 0xAD};
  DWORD size = SizeofResource(module, res);
  auto* p = static_cast<const uint8_t*>(LockResource(LoadResource(module, res)));
  return p ? Bytes(p, p + size) : Bytes{};
}

Bytes SourceFile(const std::string& relative) {
  return qvtest::ReadFileBytes(std::string(QV_SOURCE_DIR) + "/tests/" + relative);
}

}  // namespace

TEST(Resources, TypeNumbersAreTheDocumentedOnes) {
  const std::pair<const char*, uintptr_t> table[] = {
      {RT_CURSOR, 1},  {RT_BITMAP, 2},        {RT_ICON, 3},        {RT_RCDATA, 10},
      {RT_STRING, 6},  {RT_GROUP_CURSOR, 12}, {RT_GROUP_ICON, 14}, {RT_ANICURSOR, 21},
  };
  for (auto [type, number] : table) EXPECT_EQ(reinterpret_cast<uintptr_t>(type), number);
  EXPECT_NE(HInstance, nullptr);
}

TEST(Resources, LinkedDataIsFoundByNameOrNumberInAnyCase) {
  Bytes self = SourceFile("platform/win/resources_test.cpp");
  EXPECT_EQ(ResourceBytes(HInstance, "SELF", "TESTDATA"), self);
  EXPECT_EQ(ResourceBytes(nullptr, "self", "TestData"), self);
  Bytes header = SourceFile("platform/win/model_root.h");
  EXPECT_EQ(ResourceBytes(HInstance, MAKEINTRESOURCE(101), RT_BITMAP), header);
  EXPECT_EQ(ResourceBytes(HInstance, "#101", MAKEINTRESOURCE(2)), header);
  // Data from a static library reaches the program too.
  EXPECT_EQ(ResourceBytes(HInstance, "SUPPORTDATA", RT_RCDATA), SourceFile("support/test_support.h"));
}

TEST(Resources, MissingResourcesAndStrayHandles) {
  EXPECT_EQ(FindResource(HInstance, "NOPE", "TESTDATA"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResource(HInstance, "SELF", RT_GROUP_ICON), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  EXPECT_EQ(FindResource(HInstance, nullptr, RT_BITMAP), nullptr);
  int local = 0;
  HRSRC stray = reinterpret_cast<HRSRC>(&local);
  EXPECT_EQ(SizeofResource(HInstance, stray), 0u);
  EXPECT_EQ(LoadResource(HInstance, stray), nullptr);
  EXPECT_EQ(FindResource(reinterpret_cast<HMODULE>(uintptr_t{0x12340000}), "SELF", "TESTDATA"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

namespace {
BOOL CollectNames(HMODULE, const char*, char* name, LONG_PTR param) {
  auto* out = reinterpret_cast<std::vector<std::string>*>(param);
  out->push_back(IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name)) : std::string(name));
  return out->size() < 2;  // stops after two
}
BOOL CollectTypes(HMODULE, char* type, LONG_PTR param) {
  reinterpret_cast<std::vector<uintptr_t>*>(param)->push_back(reinterpret_cast<uintptr_t>(type));
  return TRUE;
}
}  // namespace

TEST(Resources, ModulesEnumerateAndGoAwayWithFreeLibrary) {
  auto table = std::make_unique<TResourceTable>();
  table->Add(TResourceId::From(RT_GROUP_ICON), TResourceId::From("MainIcon"), 1033, Bytes{1, 2});
  table->Add(TResourceId::From(RT_GROUP_ICON), TResourceId::FromInteger(7), 1033, Bytes{3});
  table->Add(TResourceId::From(RT_GROUP_ICON), TResourceId::FromInteger(8), 1033, Bytes{4});
  table->Add(TResourceId::From(RT_ICON), TResourceId::FromInteger(1), 1031, Bytes{5, 6, 7});
  HMODULE module = RegisterResourceModule(std::move(table));
  ASSERT_NE(module, nullptr);

  std::vector<std::string> names;
  EXPECT_FALSE(EnumResourceNames(module, RT_GROUP_ICON, CollectNames, reinterpret_cast<LONG_PTR>(&names)));
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_ENUM_USER_STOP);
  // Names come back as the module stores them, and are found in any case.
  EXPECT_EQ(names, (std::vector<std::string>{"MainIcon", "#7"}));
  names.clear();
  EXPECT_TRUE(EnumResourceNames(module, RT_ICON, CollectNames, reinterpret_cast<LONG_PTR>(&names)));
  EXPECT_FALSE(EnumResourceNames(module, RT_CURSOR, CollectNames, reinterpret_cast<LONG_PTR>(&names)));
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);

  std::vector<uintptr_t> types;
  EXPECT_TRUE(EnumResourceTypes(module, CollectTypes, reinterpret_cast<LONG_PTR>(&types)));
  EXPECT_EQ(types, (std::vector<uintptr_t>{14, 3}));
  EXPECT_EQ(ResourceBytes(module, "mainicon", RT_GROUP_ICON), (Bytes{1, 2}));
  EXPECT_EQ(ResourceBytes(module, "MAINICON", RT_GROUP_ICON), (Bytes{1, 2}));
  EXPECT_EQ(FindResource(module, "MAINICONS", RT_GROUP_ICON), nullptr);
  EXPECT_EQ(FindResourceEx(module, RT_ICON, MAKEINTRESOURCE(1), 1033), nullptr);  // other language
  HRSRC icon = FindResourceEx(module, RT_ICON, MAKEINTRESOURCE(1), 1031);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(SizeofResource(module, icon), 3u);
  EXPECT_EQ(SizeofResource(HInstance, icon), 0u);  // not the program's
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(SizeofResource(module, icon), 0u);
  EXPECT_FALSE(FreeLibrary(module));
}

class ResourceFiles : public ModelRootTest {
protected:
  void TearDown() override {
    SetDataFileLoader(nullptr);
    ModelRootTest::TearDown();
  }
};

// Executables are read by a reader the icon layer plugs in; here a stand-in
// that takes any file starting with "MZ" and offers its bytes as one resource.
TEST_F(ResourceFiles, DataFilesLoadThroughThePluggedReader) {
  qvtest::WriteFileBytes(Root() + "/good.dll", {'M', 'Z', 9});
  qvtest::WriteFileBytes(Root() + "/bad.dll", {'X'});
  qvtest::WriteFileBytes(Root() + "/throws.dll", {'T'});
  EXPECT_EQ(LoadLibraryEx("C:\\good.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr);  // no reader yet
  SetDataFileLoader([](const std::string& path) -> std::unique_ptr<TModuleResources> {
    Bytes bytes = qvtest::ReadFileBytes(path);
    if (!bytes.empty() && bytes[0] == 'T') throw std::runtime_error("unreadable");
    if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') return nullptr;
    auto table = std::make_unique<TResourceTable>();
    table->Add(TResourceId::From(RT_RCDATA), TResourceId::FromInteger(1), 0, bytes);
    return table;
  });
  HMODULE good = LoadLibraryExA("C:\\good.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(good, nullptr);
  EXPECT_EQ(ResourceBytes(good, MAKEINTRESOURCE(1), RT_RCDATA), (Bytes{'M', 'Z', 9}));
  EXPECT_TRUE(FreeLibrary(good));
  const std::pair<const char*, DWORD> failures[] = {{"C:\\bad.dll", ERROR_BAD_EXE_FORMAT},
                                                    {"C:\\throws.dll", ERROR_BAD_EXE_FORMAT},
                                                    {"C:\\missing.dll", ERROR_MOD_NOT_FOUND}};
  for (auto [name, error] : failures) {
    EXPECT_EQ(LoadLibraryEx(name, nullptr, LOAD_LIBRARY_AS_DATAFILE), nullptr) << name;
    EXPECT_EQ(GetLastError(), error) << name;
  }
  // Code cannot be loaded to run.
  EXPECT_EQ(LoadLibrary("C:\\good.dll"), nullptr);
}

TEST(Resources, SystemLibraryOffersItsMemoryAndProcessorCalls) {
  HMODULE kernel = LoadLibraryA("Kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(GetModuleHandle("KERNEL32.DLL"), kernel);
  using StatusEx = BOOL (*)(MEMORYSTATUSEX*);
  auto statusEx = reinterpret_cast<StatusEx>(GetProcAddress(kernel, "GlobalMemoryStatusEx"));
  ASSERT_NE(statusEx, nullptr);
  MEMORYSTATUSEX ex{};
  ex.dwLength = 64;
  EXPECT_TRUE(statusEx(&ex));
  EXPECT_GT(ex.ullTotalPhys, 0u);
  EXPECT_NE(GetProcAddress(kernel, "GetLogicalProcessorInformation"), nullptr);
  EXPECT_EQ(GetProcAddress(kernel, "NoSuchCall"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(FreeLibrary(kernel));
  EXPECT_EQ(LoadLibrary("msimg32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleHandle(nullptr), HInstance);
}

TEST(Resources, LoadStringReadsCountedStringsOfTheirBlockAndStopsAtTheBlocksEnd) {
  // Block 2 holds ids 16..31: 16 "Hi", 17 empty, 18 "Größe", then it is cut
  // short: id 19 claims 40 units of which 1 is there.
  Bytes block = {2, 0, 'H', 0, 'i', 0, 0, 0, 5, 0, 'G', 0, 'r', 0, 0xF6, 0, 0xDF, 0, 'e', 0, 40, 0, 'x', 0};
  auto table = std::make_unique<TResourceTable>();
  table->Add(TResourceId::From(RT_STRING), TResourceId::FromInteger(2), 1033, block);
  HMODULE module = RegisterResourceModule(std::move(table));
  char buffer[16];
  EXPECT_EQ(LoadString(module, 16, buffer, sizeof buffer), 2);
  EXPECT_STREQ(buffer, "Hi");
  EXPECT_EQ(LoadString(module, 17, buffer, sizeof buffer), 0);
  EXPECT_EQ(LoadStr(module, 18), "Gr\xC3\xB6\xC3\x9F" "e");
  // Cut to the buffer, never inside a character.
  char small[4];
  EXPECT_EQ(LoadString(module, 18, small, sizeof small), 2);
  EXPECT_STREQ(small, "Gr");
  EXPECT_EQ(LoadString(module, 19, buffer, sizeof buffer), 0);
  EXPECT_EQ(LoadString(module, 20, buffer, sizeof buffer), 0);  // beyond the data
  EXPECT_EQ(LoadString(module, 5, buffer, sizeof buffer), 0);   // no block 1
  EXPECT_EQ(LoadString(module, 16, nullptr, 10), 0);
  EXPECT_TRUE(FreeLibrary(module));
}
