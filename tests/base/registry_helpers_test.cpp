#include "base/registry_helpers.h"

#include <gtest/gtest.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/win/registry_object.h"
#include "test_support.h"

namespace {

// Every test works on a registry of its own below a temporary model root.
class RegistryHelpers : public ::testing::Test {
protected:
  void SetUp() override { SetWindowsModelRoot(FDir.Path().string()); }

  static bool KeyExists(HKEY root, const std::string& key) {
    TRegistry registry(KEY_READ);
    registry.SetRootKey(root);
    return registry.KeyExists(key);
  }

  qvtest::TempDir FDir;
};

TEST(RegistryPath, SplitAtTheLastBackslash) {
  std::string key, value;
  SplitRegistryPath("Software\\A\\B", key, value);
  EXPECT_EQ(key, "Software\\A\\");
  EXPECT_EQ(value, "B");
  SplitRegistryPath("Alone", key, value);
  EXPECT_EQ(key, "");
  EXPECT_EQ(value, "Alone");
  SplitRegistryPath("Key\\", key, value);
  EXPECT_EQ(key, "Key\\");
  EXPECT_EQ(value, "");
}

TEST(RegistryPath, RootNamesInAnyCase) {
  struct {
    const char* in;
    HKEY root;
    const char* rest;
  } cases[] = {
      {"HKEY_CURRENT_USER\\Software\\A\\B", HKEY_CURRENT_USER, "Software\\A\\B"},
      {"hkey_local_machine\\X\\Y", HKEY_LOCAL_MACHINE, "X\\Y"},
      {"HKEY_CLASSES_ROOT\\.ico\\", HKEY_CLASSES_ROOT, ".ico\\"},
      {"HKEY_DYN_DATA\\v", HKEY_DYN_DATA, "v"},
      {"Software\\A", nullptr, "Software\\A"},
      {"HKEY_NOWHERE\\A", nullptr, "HKEY_NOWHERE\\A"},
  };
  for (const auto& c : cases) {
    std::string path = c.in;
    HKEY root = nullptr;
    ParseRegistryRoot(path, root);
    EXPECT_EQ(root, c.root) << c.in;
    EXPECT_EQ(path, c.rest) << c.in;
  }
}

TEST_F(RegistryHelpers, WriteReadAndDeleteByPathText) {
  WriteRegistryString(nullptr, "HKEY_CURRENT_USER\\Software\\A\\B", "first");
  EXPECT_EQ(ReadRegistryString(nullptr, "HKEY_CURRENT_USER\\Software\\A\\B"), "first");
  EXPECT_EQ(ReadRegistryString(nullptr, "hkey_current_user\\software\\a\\b"), "first");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\A\\B"), "first");
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, "Software\\A\\B"), "") << "another root";
  WriteRegistryString(HKEY_CURRENT_USER, "Software\\A\\B", "second");
  EXPECT_EQ(ReadRegistryString(nullptr, "HKEY_CURRENT_USER\\Software\\A\\B"), "second");
  DeleteRegistryValue(nullptr, "HKEY_CURRENT_USER\\Software\\A\\B");
  EXPECT_EQ(ReadRegistryString(nullptr, "HKEY_CURRENT_USER\\Software\\A\\B"), "");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\A")) << "deleting a value keeps its key";
  EXPECT_NO_THROW(DeleteRegistryValue(nullptr, "HKEY_CURRENT_USER\\Software\\A\\B")) << "a missing value is no error";
}

TEST_F(RegistryHelpers, MissingKeysAreNeitherReadNorCreated) {
  EXPECT_EQ(ReadRegistryString(nullptr, "HKEY_CURRENT_USER\\Software\\Gone\\V"), "");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Gone"));
  DeleteRegistryValue(nullptr, "HKEY_CURRENT_USER\\Software\\Gone\\V");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Gone")) << "deleting from a missing key creates nothing";
}

TEST_F(RegistryHelpers, PathWithoutARootTouchesNothing) {
  EXPECT_EQ(ReadRegistryString(nullptr, "Software\\A\\B"), "");
  EXPECT_THROW(WriteRegistryString(nullptr, "Software\\A\\B", "x"), ERegistryException);
  EXPECT_NO_THROW(DeleteRegistryValue(nullptr, "Software\\A\\B"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\A"));
}

TEST_F(RegistryHelpers, AppDataDirFromTheShellFolders) {
  const std::string value = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\AppData";
  WriteRegistryString(HKEY_CURRENT_USER, value, "C:\\Users\\me\\AppData\\Roaming");
  EXPECT_EQ(GetAppDataDir(), "C:\\Users\\me\\AppData\\Roaming\\");
  DeleteRegistryValue(HKEY_CURRENT_USER, value);
  EXPECT_EQ(GetAppDataDir(), "");
}

}  // namespace
