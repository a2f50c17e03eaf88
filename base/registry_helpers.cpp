#include "base/registry_helpers.h"

#include "base/path_utils.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/registry_object.h"

namespace {

struct TRootName {
  const char* Name;
  HKEY Key;
};

// In the order they are tried.
const TRootName kRootNames[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},         {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},       {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA}, {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA}};

// The registry object for one call, its root set from root or from the path.
// False when no root is known: nothing is then read or written.
bool PrepareRegistry(TRegistry& registry, HKEY root, const std::string& path, std::string& key, std::string& value) {
  std::string rest = path;
  if (!root) ParseRegistryRoot(rest, root);
  if (!root) return false;
  registry.SetRootKey(root);
  SplitRegistryPath(rest, key, value);
  return true;
}

}  // namespace

void SplitRegistryPath(const std::string& path, std::string& key, std::string& value) {
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) {
    key.clear();
    value = path;
    return;
  }
  key = path.substr(0, slash + 1);
  value = path.substr(slash + 1);
}

void ParseRegistryRoot(std::string& path, HKEY& root) {
  const std::string upper = UpperCase(path);
  for (const auto& r : kRootNames) {
    const std::string name = r.Name;
    if (upper.compare(0, name.size(), name) == 0) {
      root = r.Key;
      path.erase(0, std::min(path.size(), name.size() + 1));
      return;
    }
  }
}

std::string ReadRegistryString(HKEY root, const std::string& path) {
  TRegistry registry(KEY_READ);
  std::string key, value;
  if (!PrepareRegistry(registry, root, path, key, value)) return {};
  if (!registry.OpenKey(key, false)) return {};
  return registry.ReadString(value);
}

void WriteRegistryString(HKEY root, const std::string& path, const std::string& text) {
  TRegistry registry(KEY_ALL_ACCESS);
  std::string key, value;
  if (!PrepareRegistry(registry, root, path, key, value) || !registry.OpenKey(key, true))
    throw ERegistryException("Failed to set data for '" + value + "'");
  registry.WriteString(value, text);
}

void DeleteRegistryValue(HKEY root, const std::string& path) {
  TRegistry registry(KEY_ALL_ACCESS);
  std::string key, value;
  // Opening without creating: deleting from a key that is not there must not
  // leave an empty key behind.
  if (!PrepareRegistry(registry, root, path, key, value) || !registry.OpenKey(key, false)) return;
  registry.DeleteValue(value);
}

std::string GetAppDataDir() {
  const std::string dir =
      ReadRegistryString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\AppData");
  return EnsureTrailingBackslash(dir);
}
