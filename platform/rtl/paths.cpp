#include "platform/rtl/paths.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex gRootLock;
std::string gRoot;

std::string DefaultRoot() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/quorvane/windows";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/quorvane/windows";
}

std::string Slashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

}  // namespace

std::string WindowsModelRoot() {
  std::lock_guard<std::mutex> lock(gRootLock);
  if (gRoot.empty()) gRoot = DefaultRoot();
  return gRoot;
}

void SetWindowsModelRoot(const std::string& root) {
  std::lock_guard<std::mutex> lock(gRootLock);
  gRoot = root;
  while (gRoot.size() > 1 && gRoot.back() == '/') gRoot.pop_back();
}

std::string NativePath(const std::string& path) {
  bool hasDrive = path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
  if (!hasDrive) return Slashes(path);
  char drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  std::string rest = Slashes(path.substr(2));
  if (!rest.empty() && rest.front() != '/') rest.insert(rest.begin(), '/');
  std::string root = WindowsModelRoot();
  if (drive != 'C') root += std::string("/drives/") + drive;
  return rest.empty() ? root : root + rest;
}
