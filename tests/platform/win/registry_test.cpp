#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model_root.h"
#include "platform/win/reg_file.h"
#include "platform/win/registry.h"
#include "platform/win/registry_object.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s, bool terminate = true) {
  Bytes b(s.begin(), s.end());
  if (terminate) b.push_back(0);
  return b;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

HKEY Create(HKEY root, const char* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyEx(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  return key;
}

LONG Set(HKEY key, const char* name, DWORD type, const Bytes& data) {
  return RegSetValueEx(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

bool Query(HKEY key, const char* name, DWORD& type, Bytes& data) {
  DWORD size = 0;
  if (RegQueryValueEx(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  data.assign(size, 0xCC);
  return RegQueryValueEx(key, name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS && size == data.size();
}

std::vector<std::string> SubKeyNames(HKEY key) {
  std::vector<std::string> names;
  char buf[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof buf;
    if (RegEnumKeyEx(key, i, buf, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(buf, size);
  }
  return names;
}

std::vector<std::string> ValueNames(HKEY key) {
  std::vector<std::string> names;
  char buf[256];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof buf;
    if (RegEnumValue(key, i, buf, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(buf, size);
  }
  return names;
}

class Registry : public ModelRootTest {};

}  // namespace

TEST(RegistryRoots, HaveTheDocumentedValuesInTheirLow32Bits) {
  auto low = [](HKEY k) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(k)); };
  EXPECT_EQ(low(HKEY_CLASSES_ROOT), 0x80000000u);
  EXPECT_EQ(low(HKEY_CURRENT_USER), 0x80000001u);
  EXPECT_EQ(low(HKEY_LOCAL_MACHINE), 0x80000002u);
  EXPECT_EQ(low(HKEY_USERS), 0x80000003u);
  EXPECT_EQ(low(HKEY_PERFORMANCE_DATA), 0x80000004u);
  EXPECT_EQ(low(HKEY_CURRENT_CONFIG), 0x80000005u);
  EXPECT_EQ(low(HKEY_DYN_DATA), 0x80000006u);
}

struct ValueCase {
  const char* label;
  const char* name;
  DWORD type;
  Bytes data;
};
// How the case reads in the test list and in a failure.
void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.label; }

class RegistryValueTypes : public ModelRootTest, public ::testing::WithParamInterface<ValueCase> {};

// Every kind of value must come back byte for byte after the store is read again
// from its file, including the awkward ones the quoted form cannot hold.
TEST_P(RegistryValueTypes, SurviveAReloadOfTheStore) {
  const ValueCase& c = GetParam();
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Quorvane Test");
  ASSERT_EQ(Set(key, c.name, c.type, c.data), ERROR_SUCCESS);
  RegCloseKey(key);
  ReloadRegistryStore();

  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\QUORVANE TEST", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0xFFFF;
  Bytes data;
  ASSERT_TRUE(Query(key, c.name, type, data));
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(data, c.data);
  RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, RegistryValueTypes,
    ::testing::Values(
        ValueCase{"String", "Path", REG_SZ, Text("C:\\Program Files\\\"Q\"")},
        ValueCase{"StringUtf8", "Gruss", REG_SZ, Text("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80")},
        ValueCase{"StringWithLineBreak", "Multi line", REG_SZ, Text("one\r\ntwo")},
        ValueCase{"StringWithoutTerminator", "Bare", REG_SZ, Text("abc", false)},
        // Bytes that are no UTF-8 beside a line break: neither form held them
        // as they were, and the hex form changed them on the way to UTF-16.
        ValueCase{"StringNotUtf8WithLineBreak", "Raw", REG_SZ, Text("a\xC3(\xFF\r\n\xED\xA0\x80" "b")},
        ValueCase{"ExpandStringNotUtf8", "RawPath", REG_EXPAND_SZ, Text("%Q%\\\xE9t\xE9")},
        ValueCase{"MultiStringNotUtf8", "RawList", REG_MULTI_SZ, Bytes{0xFE, 0, 0xC0, 0x80, 0, 0}},
        ValueCase{"EmptyString", "Empty", REG_SZ, Text("")},
        ValueCase{"DefaultValue", "", REG_SZ, Text("the default")},
        ValueCase{"QuoteInName", "a \"quoted\" \\ name", REG_SZ, Text("x")},
        ValueCase{"ExpandString", "Icon", REG_EXPAND_SZ, Text("%SystemRoot%\\System32\\shell32.dll,-137")},
        ValueCase{"MultiString", "List", REG_MULTI_SZ, Bytes{'a', 0, 'b', 'c', 0, 0}},
        ValueCase{"Dword", "Count", REG_DWORD, Bytes{0x78, 0x56, 0x34, 0x12}},
        ValueCase{"DwordOddSize", "Short", REG_DWORD, Bytes{1, 2, 3}},
        ValueCase{"DwordBigEndian", "Big", REG_DWORD_BIG_ENDIAN, Bytes{0, 0, 1, 2}},
        ValueCase{"Qword", "Q", REG_QWORD, Bytes{1, 2, 3, 4, 5, 6, 7, 0x88}},
        ValueCase{"Binary", "Bin", REG_BINARY, Bytes{0, 0xFF, 0x10}},
        ValueCase{"LongBinary", "Blob", REG_BINARY,
                  [] {
                    Bytes b(300);
                    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7);
                    return b;
                  }()},
        ValueCase{"EmptyBinary", "Nothing", REG_BINARY, Bytes{}},
        ValueCase{"None", "None", REG_NONE, Bytes{9}},
        ValueCase{"OtherType", "Res", REG_RESOURCE_LIST, Bytes{1, 2}}),
    [](const auto& p) { return std::string(p.param.label); });

// The file must read as Windows' own export of the same values.
TEST_F(Registry, StoreFileIsTheEditorsExportFormat) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Q");
  Set(key, "", REG_SZ, Text("def"));
  Set(key, "Path", REG_SZ, Text("C:\\Temp \"x\""));
  Set(key, "Expand", REG_EXPAND_SZ, Text("%A%"));
  Set(key, "Count", REG_DWORD, Bytes{10, 0, 0, 0});
  Set(key, "Bin", REG_BINARY, Bytes{1, 0xFF});
  Set(key, "Q", REG_QWORD, Bytes{1, 0, 0, 0, 0, 0, 0, 0});
  Set(key, "List", REG_MULTI_SZ, Bytes{'a', 0, 'b', 0, 0});
  Set(key, "N", REG_NONE, Bytes{});
  RegCloseKey(key);

  std::string text = ReadText(RegistryStoreFileName());
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
  const char* expected =
      "[HKEY_LOCAL_MACHINE\\Software\\Q]\r\n"
      "@=\"def\"\r\n"
      "\"Path\"=\"C:\\\\Temp \\\"x\\\"\"\r\n"
      "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Count\"=dword:0000000a\r\n"
      "\"Bin\"=hex:01,ff\r\n"
      "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"N\"=hex(0):\r\n"
      "\r\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(Registry, LongDataIsWrappedWithinEightyColumns) {
  HKEY key = Create(HKEY_CURRENT_USER, "W");
  Set(key, "Blob", REG_BINARY, Bytes(200, 0xAB));
  RegCloseKey(key);
  std::istringstream lines(ReadText(RegistryStoreFileName()));
  std::string line;
  int continued = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] != '[') {
      EXPECT_LE(line.size(), 81u) << line;
    }
    if (line.size() >= 2 && line[line.size() - 2] == '\\') ++continued;
  }
  EXPECT_GT(continued, 0);
}

// A file written by Windows itself: UTF-16LE with its mark, CRLF lines, a value
// continued over lines, comments and a key deletion.
TEST_F(Registry, ReadsAnExportSavedByWindows) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; saved by hand\r\n"
      "[HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics]\r\n"
      "\"Shell Icon Size\"=\"32\"\r\n"
      "\"Data\"=hex:01,02,\\\r\n"
      "  03,04\r\n"
      "\"Exp\"=hex(2):25,00,31,00,00,00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Gone]\r\n\r\n"
      "[-HKEY_CURRENT_USER\\Gone]\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    utf16 += c;
    utf16 += '\0';
  }
  WriteText(RegistryStoreFileName(), utf16);
  ReloadRegistryStore();

  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("Control Panel\\Desktop\\WindowMetrics"));
  EXPECT_EQ(reg.ReadString("Shell Icon Size"), "32");
  EXPECT_EQ(reg.ReadString("Exp"), "%1");
  EXPECT_EQ(reg.GetDataType("Exp"), rdExpandString);
  uint8_t buf[8] = {};
  EXPECT_EQ(reg.ReadBinaryData("Data", buf, sizeof buf), 4);
  EXPECT_EQ(buf[3], 4);
  EXPECT_FALSE(reg.KeyExists("\\Gone"));
}

TEST_F(Registry, KeyNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  HKEY a = Create(HKEY_CURRENT_USER, "Software\\Test\\MixedCase");
  HKEY b = Create(HKEY_CURRENT_USER, "SOFTWARE\\TEST\\mixedcase");
  Set(a, "Value", REG_SZ, Text("1"));
  Set(b, "VALUE", REG_SZ, Text("2"));
  HKEY soft = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\test", 0, KEY_READ, &soft), ERROR_SUCCESS);
  EXPECT_EQ(SubKeyNames(soft), std::vector<std::string>{"MixedCase"});
  EXPECT_EQ(ValueNames(a), std::vector<std::string>{"Value"});
  DWORD type = 0;
  Bytes data;
  ASSERT_TRUE(Query(a, "value", type, data));
  EXPECT_EQ(data, Text("2"));
  for (HKEY k : {a, b, soft}) RegCloseKey(k);
}

// Subkeys come out sorted as Windows sorts them (ignoring case); values in the
// order they were first set, also when one is overwritten later.
TEST_F(Registry, EnumerationOrderSurvivesReload) {
  HKEY key = Create(HKEY_CURRENT_USER, "Order");
  for (const char* name : {"zeta", "Alpha", "beta", "_under", "Beta2", "10"}) RegCloseKey(Create(key, name));
  for (const char* name : {"z", "a", "M"}) Set(key, name, REG_SZ, Text(name));
  Set(key, "z", REG_DWORD, Bytes{1, 0, 0, 0});
  RegCloseKey(key);
  ReloadRegistryStore();
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Order", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SubKeyNames(key), (std::vector<std::string>{"10", "Alpha", "beta", "Beta2", "zeta", "_under"}));
  EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"z", "a", "M"}));
  RegCloseKey(key);
}

TEST_F(Registry, DeletingAKeyWithSubkeys) {
  HKEY key = Create(HKEY_CURRENT_USER, "Top\\Mid\\Leaf");
  Set(key, "v", REG_SZ, Text("x"));
  RegCloseKey(key);
  // The plain call refuses a key that still has subkeys, as on Windows.
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Top\\Mid\\..\\Mid"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "Top"), ERROR_ACCESS_DENIED);

  TRegistry reg;
  EXPECT_TRUE(reg.DeleteKey("Top"));
  EXPECT_FALSE(reg.DeleteKey("Top"));
  ReloadRegistryStore();
  EXPECT_FALSE(reg.KeyExists("Top"));
  EXPECT_FALSE(reg.KeyExists("Top\\Mid\\Leaf"));
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);  // a root stays
}

TEST_F(Registry, HandlesOfDeletedKeysAndReadOnlyKeysFail) {
  HKEY writable = Create(HKEY_CURRENT_USER, "K");
  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "K", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  EXPECT_EQ(Set(readOnly, "v", REG_SZ, Text("x")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(readOnly, "v"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyEx(readOnly, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "K"), ERROR_SUCCESS);
  EXPECT_EQ(Set(writable, "v", REG_SZ, Text("x")), ERROR_KEY_DELETED);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueEx(readOnly, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(writable), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(writable), ERROR_INVALID_HANDLE);
  RegCloseKey(readOnly);
}

TEST_F(Registry, QueryReportsSizesAndShortBuffers) {
  HKEY key = Create(HKEY_CURRENT_USER, "Q");
  Set(key, "s", REG_SZ, Text("hello"));
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueEx(key, "s", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  char small[3] = {'x', 'x', 'x'};
  size = sizeof small;
  EXPECT_EQ(RegQueryValueEx(key, "s", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(small[0], 'x');  // nothing half-copied
  EXPECT_EQ(RegQueryValueEx(key, "missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  char name[3];
  DWORD nameSize = sizeof name;
  EXPECT_EQ(RegEnumValue(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  nameSize = 1;
  EXPECT_EQ(RegEnumValue(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumValue(key, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  DWORD values = 0, maxLen = 0, subKeys = 9;
  EXPECT_EQ(RegQueryInfoKey(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, &maxLen,
                            nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxLen, 6u);
  RegCloseKey(key);
}

TEST_F(Registry, BadPathsAreRefused) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyEx(reinterpret_cast<HKEY>(uintptr_t{0x1234567}), "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCreateKeyEx(HKEY_DYN_DATA, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  // A trailing backslash is fine, as callers pass key paths that end in one.
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Trail\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(key);
}

TEST_F(Registry, AStoreWithoutHeaderIsRefusedAndLeftUntouched) {
  const std::string junk = "this is not a registry file\n[HKEY_CURRENT_USER\\X]\n";
  WriteText(RegistryStoreFileName(), junk);
  ReloadRegistryStore();
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegSetValueEx(HKEY_CURRENT_USER, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("a"), 2),
            ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(ReadText(RegistryStoreFileName()), junk);
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey("X", true));
  EXPECT_THROW(reg.WriteString("v", "a"), ERegistryException);
}

TEST(RegFile, BadLinesAreSkippedAndGoodOnesKept) {
  std::string text =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_NOWHERE\\A]\n"
      "\"lost\"=\"x\"\n"
      "[HKEY_CURRENT_USER\\Good]\n"
      "\"ok\"=dword:00000001\n"
      "\"bad dword\"=dword:123456789\n"
      "\"bad hex\"=hex:1,zz\n"
      "\"no equals\" \"x\"\n"
      "\"open=\"x\n"
      "garbage\n"
      "[HKEY_CURRENT_USER\\Unterminated\n"
      "\"also ok\"=\"y\"\n"
      "\"trailing\"=hex:01,\\\n";
  TRegStoreTree tree;
  std::vector<std::string> problems;
  ASSERT_TRUE(ParseRegExport(text, tree, &problems));
  const TRegStoreKey* good = tree.Roots[RegStoreRootIndex("HKCU")].FindSubKey("good");
  ASSERT_NE(good, nullptr);
  ASSERT_EQ(good->Values.size(), 1u);
  EXPECT_EQ(good->Values[0].Name, "ok");
  EXPECT_GE(problems.size(), 8u);
  EXPECT_FALSE(ParseRegExport("", tree));
  EXPECT_FALSE(ParseRegExport(std::string("\xFF\xFE", 2), tree));
}

TEST_F(Registry, AFailedWriteLeavesStoreAndFileAsTheyWere) {
  HKEY key = Create(HKEY_CURRENT_USER, "Keep");
  Set(key, "v", REG_SZ, Text("old"));
  std::string before = ReadText(RegistryStoreFileName());
  // A folder where the temporary file would go makes the write fail, even for root.
  std::filesystem::create_directory(RegistryStoreFileName() + ".tmp-" + std::to_string(::getpid()));
  EXPECT_EQ(Set(key, "v", REG_SZ, Text("new")), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(ReadText(RegistryStoreFileName()), before);
  DWORD type = 0;
  Bytes data;
  ASSERT_TRUE(Query(key, "v", type, data));
  EXPECT_EQ(data, Text("old"));
  RegCloseKey(key);
}

TEST_F(Registry, AFreshStoreKnowsTheApplicationDataFolder) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\"));
  EXPECT_FALSE(reg.ReadString("AppData").empty());
}

TEST_F(Registry, TRegistryPathsAndTypedValues) {
  TRegistry reg;
  EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKey("Software\\A", false));  // opening without create makes nothing
  EXPECT_FALSE(reg.KeyExists("Software\\A"));
  ASSERT_TRUE(reg.OpenKey("Software\\A", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\A");
  ASSERT_TRUE(reg.OpenKey("B", true));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\A\\B");
  reg.WriteString("s", "text");
  reg.WriteExpandString("e", "%WinDir%");
  reg.WriteInteger("i", -5);
  reg.WriteBool("b", true);
  const uint8_t bin[3] = {1, 2, 3};
  reg.WriteBinaryData("bin", bin, 3);
  ASSERT_TRUE(reg.OpenKey("\\Software\\A\\B", false));  // absolute
  EXPECT_EQ(reg.CurrentPath(), "Software\\A\\B");
  EXPECT_EQ(reg.ReadString("s"), "text");
  EXPECT_EQ(reg.ReadString("e"), "%WinDir%");
  EXPECT_EQ(reg.ReadInteger("i"), -5);
  EXPECT_TRUE(reg.ReadBool("b"));
  EXPECT_EQ(reg.ReadString("missing"), "");
  EXPECT_EQ(reg.GetDataSize("missing"), -1);
  EXPECT_EQ(reg.GetDataType("i"), rdInteger);
  EXPECT_THROW(reg.ReadInteger("missing"), ERegistryException);
  EXPECT_THROW(reg.ReadString("i"), ERegistryException);
  EXPECT_THROW(reg.ReadInteger("s"), ERegistryException);
  uint8_t buf[2];
  EXPECT_THROW(reg.ReadBinaryData("bin", buf, 2), ERegistryException);
  EXPECT_THROW(reg.ReadBinaryData("s", buf, 2), ERegistryException);
  std::vector<std::string> names;
  reg.GetValueNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"s", "e", "i", "b", "bin"}));
  EXPECT_TRUE(reg.DeleteValue("s"));
  EXPECT_FALSE(reg.DeleteValue("s"));
  EXPECT_FALSE(reg.ValueExists("s"));
  reg.CloseKey();
  EXPECT_EQ(reg.CurrentPath(), "");

  ASSERT_TRUE(reg.OpenKey("Software", false));
  EXPECT_TRUE(reg.HasSubKeys());
  reg.GetKeyNames(names);
  EXPECT_NE(std::find(names.begin(), names.end(), "A"), names.end());
  TStringList list;
  list.Add("stale");
  reg.GetKeyNames(&list);
  EXPECT_EQ(list.Count(), static_cast<int>(names.size()));
  EXPECT_NE(list.IndexOf("A"), -1);
  EXPECT_EQ(list.IndexOf("stale"), -1);
  ASSERT_TRUE(reg.OpenKey("A\\B", false));
  reg.GetValueNames(&list);
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list[0], "e");
  EXPECT_EQ(list[3], "bin");
}

TEST_F(Registry, TRegistryReadOnlyAccessRefusesWrites) {
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(reg.CreateKey("Software\\RO"));
  ASSERT_TRUE(reg.OpenKeyReadOnly("Software\\RO"));
  EXPECT_EQ(reg.Access(), KEY_READ);
  EXPECT_THROW(reg.WriteString("v", "x"), ERegistryException);
  EXPECT_THROW(reg.CreateKey("Sub"), ERegistryException);
}

// Whatever the file holds, reading it ends without a crash and what it returns
// can be written out and read back to the same tree.
TEST(RegFile, HostileStoresNeverCrash) {
  std::vector<std::string> inputs = {
      "Windows Registry Editor Version 5.00\n[HKCU\\a\n\"x\"=hex(ffffffff):01\n",
      "Windows Registry Editor Version 5.00\n[HKCU]\n@=hex(2):41\n\"\"=\"\"\n[]\n[-]\n[-HKCU]\n",
      "Windows Registry Editor Version 5.00\n[HKCU\\k]\n\"v\"=hex:\\\n",
      "REGEDIT4\n[HKEY_USERS\\.DEFAULT]\n\"a\"=hex(7):61,00,00\n\"b\"=dword:\n",
      std::string("\xFF\xFE", 2) + std::string(7, '\0'),
      // Text that is no UTF-8, quoted and as hex from an ANSI export; a lone
      // surrogate in UTF-16 data; such names.
      "Windows Registry Editor Version 5.00\n[HKCU\\k]\n\"v\"=\"a\xC3(\xFF" "b\"\n\"\xFE\"=\"n\"\n",
      "REGEDIT4\n[HKCU\\k]\n\"v\"=hex(1):ff,fe,41,00\n\"w\"=hex(7):c3,28,00,00\n\"q\"=\"\xE9t\xE9\"\n",
      "Windows Registry Editor Version 5.00\n[HKCU\\k]\n\"v\"=hex(1):00,d8,41,00,00,00\n\"o\"=hex(2):41\n",
  };
  uint32_t seed = 12345;
  for (int n = 0; n < 200; ++n) {
    std::string text = "Windows Registry Editor Version 5.00\n";
    const char alphabet[] = "[]\\\"=@-:,hexdword()0123456789abKCU \n";
    for (int i = 0; i < 120; ++i) {
      seed = seed * 1103515245u + 12345u;
      text += alphabet[(seed >> 16) % (sizeof alphabet - 1)];
    }
    inputs.push_back(text);
  }
  for (const auto& input : inputs) {
    TRegStoreTree tree;
    ParseRegExport(input, tree);
    std::string out = FormatRegExport(tree);
    TRegStoreTree again;
    ASSERT_TRUE(ParseRegExport(out, again));
    EXPECT_EQ(FormatRegExport(again), out);
  }
}

TEST_F(Registry, ARootWithoutWriteRightsRefusesChangesButReads) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Drive");
  Set(key, "v", REG_SZ, Text("x"));
  SetRegistryRootWritable(HKEY_LOCAL_MACHINE, false);
  EXPECT_EQ(Set(key, "v", REG_SZ, Text("y")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValue(key, "v"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Drive"), ERROR_ACCESS_DENIED);
  HKEY sub = nullptr;
  EXPECT_EQ(RegCreateKeyEx(key, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_ACCESS_DENIED);
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(reg.OpenKey("Software\\Drive", false));
  EXPECT_EQ(reg.ReadString("v"), "x");
  EXPECT_THROW(reg.WriteString("v", "z"), ERegistryException);
  EXPECT_TRUE(Create(HKEY_CURRENT_USER, "Still\\Writable") != nullptr);
  SetRegistryRootWritable(HKEY_LOCAL_MACHINE, true);
  EXPECT_EQ(Set(key, "v", REG_SZ, Text("y")), ERROR_SUCCESS);
  RegCloseKey(key);
}
