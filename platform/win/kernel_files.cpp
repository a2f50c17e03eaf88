#include "platform/win/kernel_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/rtl/paths.h"

namespace {

constexpr uint64_t kAllocationGranularity = 0x10000;

enum class TKind { File, Mapping, Placeholder };

struct TKernelObject {
  TKind Kind = TKind::File;
  int Fd = -1;
  DWORD Access = 0;            // files: GENERIC_READ / GENERIC_WRITE
  std::string DeleteOnClose;   // files: the native path to remove at close
  uint64_t Size = 0;           // mappings
  DWORD Protect = 0;           // mappings
};

std::mutex gLock;
std::map<uintptr_t, TKernelObject> gObjects;
std::map<uintptr_t, size_t> gViews;  // base address -> length
uintptr_t gNextHandle = 0x2000;

HANDLE AddObject(TKernelObject obj) {
  uintptr_t id = gNextHandle;
  gNextHandle += 4;
  gObjects[id] = std::move(obj);
  return reinterpret_cast<HANDLE>(id);
}

TKernelObject* FindObject(HANDLE h, TKind kind) {
  auto it = gObjects.find(reinterpret_cast<uintptr_t>(h));
  if (it == gObjects.end() || it->second.Kind != kind) return nullptr;
  return &it->second;
}

DWORD ErrorFromErrno(int err, const std::string& path) {
  switch (err) {
    case ENOENT: {
      std::error_code ec;
      auto parent = std::filesystem::path(path).parent_path();
      return parent.empty() || std::filesystem::is_directory(parent, ec) ? ERROR_FILE_NOT_FOUND
                                                                          : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_ACCESS_DENIED;
  }
}

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

constexpr const char* kAttributeName = "user.quorvane.attributes";
constexpr DWORD kStoredAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;
// Where the file system keeps no extended attributes, for this run only.
std::mutex gAttributeLock;
std::map<std::string, DWORD> gAttributeFallback;

bool ReadStoredAttributes(const std::string& path, DWORD& attributes) {
  char buf[16] = {};
  ssize_t n = ::getxattr(path.c_str(), kAttributeName, buf, sizeof buf - 1);
  if (n > 0) {
    attributes = static_cast<DWORD>(std::strtoul(buf, nullptr, 10)) & kStoredAttributes;
    return true;
  }
  std::lock_guard<std::mutex> lock(gAttributeLock);
  auto it = gAttributeFallback.find(path);
  if (it == gAttributeFallback.end()) return false;
  attributes = it->second;
  return true;
}

bool WriteStoredAttributes(const std::string& path, DWORD attributes) {
  std::string text = std::to_string(attributes & kStoredAttributes);
  if (::setxattr(path.c_str(), kAttributeName, text.data(), text.size(), 0) == 0) return true;
  if (errno != ENOTSUP) return false;
  std::lock_guard<std::mutex> lock(gAttributeLock);
  gAttributeFallback[path] = attributes & kStoredAttributes;
  return true;
}

DWORD AttributesOf(const std::string& path, const struct stat& st) {
  DWORD stored = FILE_ATTRIBUTE_ARCHIVE;
  bool known = ReadStoredAttributes(path, stored);
  if (S_ISDIR(st.st_mode)) {
    if (!known) stored = 0;
    stored |= FILE_ATTRIBUTE_DIRECTORY;
  } else if (!(st.st_mode & S_IWUSR)) {
    stored |= FILE_ATTRIBUTE_READONLY;
  } else {
    stored &= ~FILE_ATTRIBUTE_READONLY;
  }
  return stored ? stored : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

HANDLE CreateFile(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* security,
                  DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (desiredAccess & GENERIC_ALL) desiredAccess |= GENERIC_READ | GENERIC_WRITE;
  bool read = desiredAccess & GENERIC_READ;
  bool write = desiredAccess & GENERIC_WRITE;
  int flags = O_CLOEXEC | (write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY);
  switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!write) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_TRUNC;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  std::string path = NativePath(fileName);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool existed = std::filesystem::exists(path, ec);
  struct stat st {};
  if (existed && write && ::stat(path.c_str(), &st) == 0 && (AttributesOf(path, st) & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
  int fd = ::open(path.c_str(), flags, mode);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno, path));
    return INVALID_HANDLE_VALUE;
  }
  TKernelObject obj;
  obj.Kind = TKind::File;
  obj.Fd = fd;
  obj.Access = desiredAccess & (GENERIC_READ | GENERIC_WRITE);
  if (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) obj.DeleteOnClose = path;
  std::lock_guard<std::mutex> lock(gLock);
  HANDLE h = AddObject(std::move(obj));
  bool reportsExisting = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
  SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
  if (bytesRead) *bytesRead = 0;
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(gLock);
    TKernelObject* obj = FindObject(file, TKind::File);
    if (!obj) return Fail(ERROR_INVALID_HANDLE);
    if (!(obj->Access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    fd = obj->Fd;
  }
  if (!buffer && bytesToRead > 0) return Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  while (done < bytesToRead) {
    ssize_t n = ::read(fd, static_cast<uint8_t*>(buffer) + done, bytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(ERROR_READ_FAULT);
    if (n == 0) break;  // end of file: success with a short count
    done += static_cast<DWORD>(n);
  }
  if (bytesRead) *bytesRead = done;
  return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped) {
  if (bytesWritten) *bytesWritten = 0;
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(gLock);
    TKernelObject* obj = FindObject(file, TKind::File);
    if (!obj) return Fail(ERROR_INVALID_HANDLE);
    if (!(obj->Access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    fd = obj->Fd;
  }
  if (!buffer && bytesToWrite > 0) return Fail(ERROR_INVALID_PARAMETER);
  DWORD done = 0;
  while (done < bytesToWrite) {
    ssize_t n = ::write(fd, static_cast<const uint8_t*>(buffer) + done, bytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (bytesWritten) *bytesWritten = done;
      return Fail(ERROR_WRITE_FAULT);
    }
    done += static_cast<DWORD>(n);
  }
  if (bytesWritten) *bytesWritten = done;
  return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  std::lock_guard<std::mutex> lock(gLock);
  TKernelObject* obj = FindObject(file, TKind::File);
  struct stat st {};
  if (!obj || ::fstat(obj->Fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
  std::lock_guard<std::mutex> lock(gLock);
  TKernelObject* obj = FindObject(file, TKind::File);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the distance is a signed 32-bit value; with one, the two
  // make a signed 64-bit distance.
  int64_t offset = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                                : distance;
  int whence = moveMethod == FILE_CURRENT ? SEEK_CUR : moveMethod == FILE_END ? SEEK_END : SEEK_SET;
  if (moveMethod > FILE_END) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t pos = ::lseek(obj->Fd, offset, whence);
  if (pos < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);  // a position before the start
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(pos);
}

BOOL SetEndOfFile(HANDLE file) {
  std::lock_guard<std::mutex> lock(gLock);
  TKernelObject* obj = FindObject(file, TKind::File);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  if (!(obj->Access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
  off_t pos = ::lseek(obj->Fd, 0, SEEK_CUR);
  if (pos < 0 || ::ftruncate(obj->Fd, pos) != 0) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  std::lock_guard<std::mutex> lock(gLock);
  TKernelObject* obj = FindObject(file, TKind::File);
  if (!obj) return Fail(ERROR_INVALID_HANDLE);
  return ::fsync(obj->Fd) == 0 ? TRUE : Fail(ERROR_WRITE_FAULT);
}

HANDLE CreateFileMapping(HANDLE file, void* security, DWORD protect, DWORD maximumSizeHigh, DWORD maximumSizeLow,
                         const char* name) {
  DWORD page = protect & 0xFF;
  if (page != PAGE_READONLY && page != PAGE_READWRITE && page != PAGE_WRITECOPY) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  uint64_t wanted = (static_cast<uint64_t>(maximumSizeHigh) << 32) | maximumSizeLow;
  std::lock_guard<std::mutex> lock(gLock);
  int fd = -1;
  uint64_t size = 0;
  if (file == INVALID_HANDLE_VALUE) {
    // Memory backed by the paging file: a fresh zeroed region of the given size.
    if (wanted == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    fd = ::memfd_create("quorvane-mapping", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(wanted)) != 0) {
      if (fd >= 0) ::close(fd);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    size = wanted;
  } else {
    TKernelObject* obj = FindObject(file, TKind::File);
    if (!obj) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    bool writable = page == PAGE_READWRITE;
    if (!(obj->Access & GENERIC_READ) || (writable && !(obj->Access & GENERIC_WRITE))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    struct stat st {};
    if (::fstat(obj->Fd, &st) != 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    size = wanted ? wanted : fileSize;
    if (size == 0) {
      SetLastError(ERROR_FILE_INVALID);
      return nullptr;
    }
    if (size > fileSize) {
      // Only a writable mapping may grow its file.
      if (!writable || ::ftruncate(obj->Fd, static_cast<off_t>(size)) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
    }
    fd = ::dup(obj->Fd);
    if (fd < 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  TKernelObject mapping;
  mapping.Kind = TKind::Mapping;
  mapping.Fd = fd;
  mapping.Size = size;
  mapping.Protect = page;
  SetLastError(ERROR_SUCCESS);
  return AddObject(std::move(mapping));
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes) {
  std::lock_guard<std::mutex> lock(gLock);
  TKernelObject* obj = FindObject(mapping, TKind::Mapping);
  if (!obj) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  if (offset % kAllocationGranularity != 0) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  if (offset >= obj->Size || bytes > obj->Size - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  size_t length = bytes ? bytes : static_cast<size_t>(obj->Size - offset);
  bool write = desiredAccess & FILE_MAP_WRITE;
  bool copy = (desiredAccess & FILE_MAP_COPY) && !(desiredAccess & FILE_MAP_WRITE);
  if (write && obj->Protect != PAGE_READWRITE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int prot = PROT_READ | ((write || copy) ? PROT_WRITE : 0);
  void* view = ::mmap(nullptr, length, prot, copy ? MAP_PRIVATE : MAP_SHARED, obj->Fd, static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  gViews[reinterpret_cast<uintptr_t>(view)] = length;
  return view;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gViews.find(reinterpret_cast<uintptr_t>(baseAddress));
  if (it == gViews.end()) return Fail(ERROR_INVALID_ADDRESS);
  ::munmap(const_cast<void*>(baseAddress), it->second);
  gViews.erase(it);
  return TRUE;
}

namespace {
std::map<uintptr_t, size_t> gVirtualBlocks;  // address to length, under gLock
}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
  if (address || size == 0 || allocationType != (MEM_COMMIT | MEM_RESERVE) || protect != PAGE_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
#ifdef MADV_HUGEPAGE
  // Blocks of pictures are asked to live in huge pages: a block of tens of
  // megabytes otherwise takes a page fault every 4 KB on its first write, which
  // on a virtual machine costs more than the work done with the pixels.
  constexpr SIZE_T kHugePageThreshold = SIZE_T(8) << 20;
  if (size >= kHugePageThreshold) ::madvise(p, size, MADV_HUGEPAGE);
#endif
  std::lock_guard<std::mutex> lock(gLock);
  gVirtualBlocks[reinterpret_cast<uintptr_t>(p)] = size;
  return p;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
  if (size != 0 || freeType != MEM_RELEASE) return Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gVirtualBlocks.find(reinterpret_cast<uintptr_t>(address));
  if (it == gVirtualBlocks.end()) return Fail(ERROR_INVALID_ADDRESS);
  ::munmap(address, it->second);
  gVirtualBlocks.erase(it);
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gObjects.find(reinterpret_cast<uintptr_t>(object));
  if (it == gObjects.end()) return Fail(ERROR_INVALID_HANDLE);
  if (it->second.Fd >= 0) ::close(it->second.Fd);
  if (!it->second.DeleteOnClose.empty()) ::unlink(it->second.DeleteOnClose.c_str());
  gObjects.erase(it);
  return TRUE;
}

HANDLE NewPlaceholderHandle() {
  std::lock_guard<std::mutex> lock(gLock);
  TKernelObject obj;
  obj.Kind = TKind::Placeholder;
  return AddObject(std::move(obj));
}

bool IsPlaceholderHandle(HANDLE object) {
  std::lock_guard<std::mutex> lock(gLock);
  return FindObject(object, TKind::Placeholder) != nullptr;
}

DWORD GetFileAttributes(const char* fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string path = NativePath(fileName);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    SetLastError(ErrorFromErrno(errno, path));
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(path, st);
}

BOOL SetFileAttributes(const char* fileName, DWORD attributes) {
  if (!fileName || !*fileName) return Fail(ERROR_PATH_NOT_FOUND);
  std::string path = NativePath(fileName);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, path));
  // Folders keep read-only as a mark only: on Windows it does not stop files
  // being made inside, and the shell reads it as "this folder is customised".
  if (!S_ISDIR(st.st_mode)) {
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    if (::chmod(path.c_str(), mode) != 0) return Fail(ERROR_ACCESS_DENIED);
  }
  if (!WriteStoredAttributes(path, attributes)) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

BOOL CopyFile(const char* existingFileName, const char* newFileName, BOOL failIfExists) {
  if (!existingFileName || !newFileName) return Fail(ERROR_INVALID_PARAMETER);
  DWORD sourceAttributes = GetFileAttributes(existingFileName);
  if (sourceAttributes == INVALID_FILE_ATTRIBUTES) return FALSE;
  if (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
  DWORD targetAttributes = GetFileAttributes(newFileName);
  if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS);
    if (targetAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_ACCESS_DENIED);
  }
  std::string source = NativePath(existingFileName);
  std::string target = NativePath(newFileName);
  // Written beside the target and renamed over it, so a failed copy leaves the
  // old target as it was.
  std::string temp = target + ".copy-" + std::to_string(::getpid());
  std::error_code ec;
  std::filesystem::copy_file(source, temp, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec || std::rename(temp.c_str(), target.c_str()) != 0) {
    int err = ec ? ec.value() : errno;
    std::filesystem::remove(temp, ec);
    return Fail(ErrorFromErrno(err, target));
  }
  return SetFileAttributes(newFileName, sourceAttributes);
}
