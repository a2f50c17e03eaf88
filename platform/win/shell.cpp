#include "platform/win/shell.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/rtl/paths.h"
#include "platform/win/global_memory.h"
#include "platform/win/kernel_files.h"
#include "platform/win/system_info.h"
#include "platform/win/utf16_text.h"

namespace {

std::mutex gLock;
std::vector<TShellExecuteRequest> gLog;
std::function<bool(const TShellExecuteRequest&)> gHandler;
TShellIconSource* gIconSource = nullptr;

constexpr intptr_t kLaunched = 42;

HINSTANCE Result(intptr_t code) { return reinterpret_cast<HINSTANCE>(code); }

bool IsAddress(const std::string& file) {
  auto colon = file.find(':');
  if (colon == std::string::npos || colon < 2) return false;  // "C:..." is a drive
  std::string scheme = file.substr(0, colon);
  return std::all_of(scheme.begin(), scheme.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

std::string ResolveFile(const std::string& file, const std::string& directory) {
  bool absolute = (file.size() >= 2 && file[1] == ':') || (!file.empty() && (file[0] == '/' || file[0] == '\\'));
  if (absolute || directory.empty()) return NativePath(file);
  return NativePath(directory + "\\" + file);
}

TShellIconSource* IconSource() {
  std::lock_guard<std::mutex> lock(gLock);
  return gIconSource;
}

void CopyText(char* dest, size_t size, const std::string& text) {
  size_t n = std::min(text.size(), size - 1);
  std::memcpy(dest, text.data(), n);
  dest[n] = 0;
}

}  // namespace

HINSTANCE ShellExecute(HWND window, const char* verb, const char* file, const char* parameters,
                       const char* directory, int showCommand) {
  TShellExecuteRequest request;
  request.Window = window;
  request.Verb = verb ? verb : "";
  request.File = file ? file : "";
  request.Parameters = parameters ? parameters : "";
  request.Directory = directory ? directory : "";
  request.ShowCommand = showCommand;
  if (request.File.empty()) return Result(SE_ERR_FNF);
  if (!IsAddress(request.File)) {
    std::error_code ec;
    std::string path = ResolveFile(request.File, request.Directory);
    if (!std::filesystem::exists(path, ec)) {
      bool folderThere = std::filesystem::is_directory(std::filesystem::path(path).parent_path(), ec);
      return Result(folderThere ? SE_ERR_FNF : SE_ERR_PNF);
    }
  }
  std::function<bool(const TShellExecuteRequest&)> handler;
  {
    std::lock_guard<std::mutex> lock(gLock);
    handler = gHandler;
  }
  if (handler && !handler(request)) return Result(SE_ERR_NOASSOC);
  std::lock_guard<std::mutex> lock(gLock);
  gLog.push_back(request);
  return Result(kLaunched);
}

std::vector<TShellExecuteRequest> ShellExecuteLog() {
  std::lock_guard<std::mutex> lock(gLock);
  return gLog;
}

void ClearShellExecuteLog() {
  std::lock_guard<std::mutex> lock(gLock);
  gLog.clear();
}

void SetShellExecuteHandler(std::function<bool(const TShellExecuteRequest&)> handler) {
  std::lock_guard<std::mutex> lock(gLock);
  gHandler = std::move(handler);
}

void SetShellIconSource(TShellIconSource* source) {
  std::lock_guard<std::mutex> lock(gLock);
  gIconSource = source;
}

HICON ExtractIcon(HINSTANCE instance, const char* exeFileName, UINT iconIndex) {
  TShellIconSource* source = IconSource();
  if (!exeFileName || !source) return nullptr;
  std::string path = NativePath(exeFileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
  int count = source->IconCount(path);
  if (iconIndex == 0xFFFFFFFFu) return reinterpret_cast<HICON>(static_cast<intptr_t>(std::max(count, 0)));
  if (count < 0) return reinterpret_cast<HICON>(intptr_t{1});
  int size = GetSystemMetrics(SM_CXICON);
  return source->Icon(path, static_cast<int>(iconIndex), size);
}

UINT ExtractIconEx(const char* fileName, int iconIndex, HICON* largeIcons, HICON* smallIcons, UINT icons) {
  TShellIconSource* source = IconSource();
  if (!fileName || !source) return 0;
  std::string path = NativePath(fileName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return 0;
  int count = source->IconCount(path);
  if (iconIndex == -1 && !largeIcons && !smallIcons) return static_cast<UINT>(std::max(count, 0));
  if (count <= 0) return 0;
  UINT extracted = 0;
  for (UINT i = 0; i < icons; ++i) {
    // A negative index names one resource; a position runs on through the file.
    int index = iconIndex < 0 ? iconIndex : iconIndex + static_cast<int>(i);
    if (iconIndex < 0 && i > 0) break;
    if (iconIndex >= 0 && index >= count) break;
    HICON large = largeIcons ? source->Icon(path, index, GetSystemMetrics(SM_CXICON)) : nullptr;
    HICON small = smallIcons ? source->Icon(path, index, GetSystemMetrics(SM_CXSMICON)) : nullptr;
    if (largeIcons) largeIcons[i] = large;
    if (smallIcons) smallIcons[i] = small;
    if (!large && !small) break;
    ++extracted;
  }
  return extracted;
}

DWORD_PTR SHGetFileInfo(const char* path, DWORD fileAttributes, SHFILEINFOA* info, UINT infoSize, UINT flags) {
  if (!path) return 0;
  std::string native = NativePath(path);
  std::error_code ec;
  bool exists = std::filesystem::exists(native, ec);
  if (!exists && !(flags & SHGFI_USEFILEATTRIBUTES)) return 0;
  if (!info || infoSize < sizeof(SHFILEINFOA)) return exists ? 1 : 0;
  std::memset(info, 0, sizeof *info);
  bool folder = exists ? std::filesystem::is_directory(native, ec) : (fileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (flags & SHGFI_DISPLAYNAME) CopyText(info->szDisplayName, sizeof info->szDisplayName,
                                          std::filesystem::path(native).filename().string());
  if (flags & SHGFI_TYPENAME) {
    std::string ext = std::filesystem::path(native).extension().string();
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string type = folder ? "File folder" : ext.size() > 1 ? ext.substr(1) + " File" : "File";
    CopyText(info->szTypeName, sizeof info->szTypeName, type);
  }
  if (flags & SHGFI_ATTRIBUTES) info->dwAttributes = folder ? 0x20000000u : 0;  // SFGAO_FOLDER
  if (flags & SHGFI_ICON) {
    if (TShellIconSource* source = IconSource())
      info->hIcon = source->FileIcon(native, GetSystemMetrics((flags & SHGFI_SMALLICON) ? SM_CXSMICON : SM_CXICON));
  }
  return 1;
}

// ---- dropped files ----

namespace {

std::vector<HWND> gDropTargets;

// The names in a drop block, read without going past its end.
std::vector<std::string> DropNames(HDROP drop) {
  std::vector<std::string> names;
  HGLOBAL block = reinterpret_cast<HGLOBAL>(drop);
  SIZE_T size = GlobalSize(block);
  auto* p = static_cast<const uint8_t*>(GlobalLock(block));
  if (!p) return names;
  DROPFILES header{};
  if (size >= sizeof header) {
    std::memcpy(&header, p, sizeof header);
    size_t pos = header.pFiles;
    size_t unit = header.fWide ? 2 : 1;
    auto isZero = [&](size_t at) { return p[at] == 0 && (unit == 1 || p[at + 1] == 0); };
    while (pos >= sizeof header && pos + unit <= size && !isZero(pos)) {
      size_t end = pos;
      while (end + unit <= size && !isZero(end)) end += unit;
      if (end + unit > size) break;  // a name without its terminator
      names.push_back(header.fWide ? Utf16LEToUtf8(p + pos, end - pos)
                                   : std::string(reinterpret_cast<const char*>(p + pos), end - pos));
      pos = end + unit;
    }
  }
  GlobalUnlock(block);
  return names;
}

}  // namespace

void DragAcceptFiles(HWND window, BOOL accept) {
  std::lock_guard<std::mutex> lock(gLock);
  gDropTargets.erase(std::remove(gDropTargets.begin(), gDropTargets.end(), window), gDropTargets.end());
  if (accept) gDropTargets.push_back(window);
}

bool AcceptsDroppedFiles(HWND window) {
  std::lock_guard<std::mutex> lock(gLock);
  return std::find(gDropTargets.begin(), gDropTargets.end(), window) != gDropTargets.end();
}

UINT DragQueryFile(HDROP drop, UINT index, char* file, UINT size) {
  std::vector<std::string> names = DropNames(drop);
  if (index == 0xFFFFFFFFu) return static_cast<UINT>(names.size());
  if (index >= names.size()) return 0;
  const std::string& name = names[index];
  if (!file) return static_cast<UINT>(name.size());
  if (size == 0) return 0;
  size_t n = std::min(name.size(), static_cast<size_t>(size - 1));
  std::memcpy(file, name.data(), n);
  file[n] = 0;
  return static_cast<UINT>(n);
}

BOOL DragQueryPoint(HDROP drop, POINT* point) {
  HGLOBAL block = reinterpret_cast<HGLOBAL>(drop);
  if (!point || GlobalSize(block) < sizeof(DROPFILES)) return FALSE;
  DROPFILES header{};
  std::memcpy(&header, GlobalLock(block), sizeof header);
  GlobalUnlock(block);
  *point = header.pt;
  return header.fNC ? FALSE : TRUE;
}

void DragFinish(HDROP drop) { GlobalFree(reinterpret_cast<HGLOBAL>(drop)); }

HDROP MakeDropFiles(const std::vector<std::string>& files, POINT point, bool inClientArea) {
  std::string list;
  for (const auto& f : files) list += f + '\0';
  list += '\0';
  HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size());
  if (!block) return nullptr;
  auto* p = static_cast<uint8_t*>(GlobalLock(block));
  DROPFILES header{sizeof(DROPFILES), point, inClientArea ? FALSE : TRUE, FALSE};
  std::memcpy(p, &header, sizeof header);
  std::memcpy(p + sizeof header, list.data(), list.size());
  GlobalUnlock(block);
  return reinterpret_cast<HDROP>(block);
}
