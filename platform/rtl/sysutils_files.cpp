// Files and folders on disk: existence, creation, removal, renaming, sizes and ages, and searching folders.
#include "platform/rtl/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/rounding.h"
#include "platform/rtl/sysutils_internal.h"

// ---- Files ----

namespace {
bool StatOf(const std::string& name, struct stat& st) {
  return !name.empty() && ::stat(NativePath(name).c_str(), &st) == 0;
}
}  // namespace

bool FileExists(const std::string& fileName) {
  struct stat st{};
  return StatOf(fileName, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& directory) {
  struct stat st{};
  return StatOf(directory, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& directory) {
  return !directory.empty() && ::mkdir(NativePath(directory).c_str(), 0777) == 0;
}

bool RemoveDir(const std::string& directory) {
  return !directory.empty() && ::rmdir(NativePath(directory).c_str()) == 0;
}

bool ForceDirectories(const std::string& directory) {
  std::string dir = ExcludeTrailingPathDelimiter(directory);
  if (dir.empty()) return false;
  if (DirectoryExists(dir)) return true;
  std::string parent = ExtractFileDir(dir);
  // Stop at a root ("C:", "/") or when the name has no parent part.
  if (!parent.empty() && parent != dir && !(parent.size() == 2 && parent[1] == ':') && !ForceDirectories(parent))
    return false;
  return CreateDir(dir) || DirectoryExists(dir);
}

bool DeleteFile(const std::string& fileName) {
  if (!FileExists(fileName)) return false;
  return ::unlink(NativePath(fileName).c_str()) == 0;
}

bool RenameFile(const std::string& oldName, const std::string& newName) {
  std::string from = NativePath(oldName);
  std::string to = NativePath(newName);
  if (oldName.empty() || newName.empty()) return false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without the no-replace flag: check, then rename.
  struct stat st{};
  if (::lstat(to.c_str(), &st) == 0) return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

std::string GetCurrentDir() {
  std::error_code ec;
  auto p = std::filesystem::current_path(ec);
  return ec ? std::string() : p.string();
}

bool SetCurrentDir(const std::string& directory) {
  return !directory.empty() && ::chdir(NativePath(directory).c_str()) == 0;
}

int64_t FileGetSize(const std::string& fileName) {
  struct stat st{};
  if (!StatOf(fileName, st) || S_ISDIR(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

int FileOpen(const std::string& fileName, uint32_t mode) {
  const uint32_t access = mode & 3;
  if (access == 3) {
    errno = EINVAL;
    return -1;
  }
  const int flags = access == 0 ? O_RDONLY : (access == 1 ? O_WRONLY : O_RDWR);
  return ::open(NativePath(fileName).c_str(), flags | O_CLOEXEC);
}

int FileCreate(const std::string& fileName, int rights) {
  return ::open(NativePath(fileName).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, rights);
}

int FileCreateNew(const std::string& fileName, int rights) {
  return ::open(NativePath(fileName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, rights);
}

int FileCreateUnnamed(const std::string& fileName) {
  const std::string path = NativePath(fileName);
  const int handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (handle != -1) ::unlink(path.c_str());
  return handle;
}

void FileClose(int handle) {
  if (handle != -1) ::close(handle);
}

bool FileFlush(int handle) { return ::fsync(handle) == 0; }

bool FileReserve(int handle, int64_t size) {
  if (size <= 0) return true;
  const int rc = ::posix_fallocate(handle, 0, size);
  if (rc == 0) return true;
  if (rc != EOPNOTSUPP && rc != EINVAL) return false;
  // A file system that cannot reserve: at least refuse what it has no room for.
  struct statvfs fs {};
  if (::fstatvfs(handle, &fs) != 0) return false;
  return static_cast<int64_t>(fs.f_bavail) * static_cast<int64_t>(fs.f_frsize) >= size;
}

// ---- Searching folders ----

struct TFindState {
  std::vector<TSearchRec> Entries;
  size_t Next = 0;
};

namespace {

// Windows-style wildcard match without regard to ASCII case.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starP = ++pattern;
      starN = name;
    } else if (*pattern == '?' || Up(*pattern) == Up(*name)) {
      ++pattern;
      ++name;
    } else if (starP) {
      pattern = starP;
      name = ++starN;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  // "*.*" and "name.*" also match names without a dot, as on Windows.
  if (pattern[0] == '.' && pattern[1] == '*' && pattern[2] == '\0') return true;
  return *pattern == '\0';
}

int FindFillNext(TSearchRec& rec) {
  TFindState* state = rec.FindHandle.get();
  if (!state || state->Next >= state->Entries.size()) return kErrorNoMoreFiles;
  TSearchRec& e = state->Entries[state->Next++];
  rec.Time = e.Time;
  rec.Size = e.Size;
  rec.Attr = e.Attr;
  rec.Name = e.Name;
  return 0;
}

}  // namespace

int FindFirst(const std::string& path, int attr, TSearchRec& rec) {
  FindClose(rec);
  std::string folder = ExtractFilePath(path);
  std::string pattern = ExtractFileName(path);
  if (pattern.empty()) return kErrorFileNotFound;
  std::string nativeFolder = folder.empty() ? std::string(".") : NativePath(folder);
  if (!DirectoryExists(folder.empty() ? std::string(".") : folder)) return kErrorPathNotFound;
  rec.ExcludeAttr = ~attr & (faHidden | faSysFile | faVolumeID | faDirectory);

  auto state = std::make_shared<TFindState>();
  std::error_code ec;
  std::vector<std::string> names;
  std::string canonical = std::filesystem::weakly_canonical(nativeFolder, ec).string();
  bool driveRoot = (folder.size() == 2 || folder.size() == 3) && folder[1] == ':';
  if (canonical != "/" && !driveRoot) {
    names.push_back(".");
    names.push_back("..");
  }
  for (const auto& entry : std::filesystem::directory_iterator(nativeFolder, ec)) names.push_back(entry.path().filename().string());
  for (const std::string& name : names) {
    if (!WildcardMatch(pattern.c_str(), name.c_str())) continue;
    std::string full = nativeFolder + "/" + name;
    struct stat st{};
    if (::stat(full.c_str(), &st) != 0) continue;
    TSearchRec e;
    e.Name = name;
    bool dir = S_ISDIR(st.st_mode);
    e.Attr = dir ? faDirectory : faArchive;
    if (name[0] == '.' && name != "." && name != "..") e.Attr |= faHidden;
    if (::access(full.c_str(), W_OK) != 0) e.Attr |= faReadOnly;
    if (e.Attr & rec.ExcludeAttr) continue;
    e.Size = dir ? 0 : static_cast<int64_t>(st.st_size);
    int64_t ms = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    e.Time = DateTimeToFileDate(DateTimeFromUnixMillis(ms, true));
    state->Entries.push_back(std::move(e));
  }
  std::stable_sort(state->Entries.begin(), state->Entries.end(), [](const TSearchRec& a, const TSearchRec& b) {
    return CompareText(a.Name, b.Name) < 0;
  });
  rec.FindHandle = state;
  int r = FindFillNext(rec);
  if (r != 0) {
    FindClose(rec);
    return kErrorFileNotFound;
  }
  return 0;
}

int FindNext(TSearchRec& rec) { return FindFillNext(rec); }

void FindClose(TSearchRec& rec) { rec.FindHandle.reset(); }

int32_t FileAge(const std::string& fileName) {
  TDateTime dt;
  return FileAge(fileName, dt) ? DateTimeToFileDate(dt) : -1;
}

bool FileAge(const std::string& fileName, TDateTime& fileDateTime) {
  struct stat st{};
  if (!StatOf(fileName, st) || S_ISDIR(st.st_mode)) return false;
  int64_t ms = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
  fileDateTime = DateTimeFromUnixMillis(ms, true);
  return true;
}
