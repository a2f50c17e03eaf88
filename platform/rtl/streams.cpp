#include "platform/rtl/streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"

namespace {

int64_t ClampedTarget(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size) {
  switch (origin) {
    case soBeginning: return offset;
    case soCurrent: return position + offset;
    case soEnd: return size + offset;
  }
  return position;
}

}  // namespace

// ---- TStream ----

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count)) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t total = count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  while (count > 0) {
    int64_t n = std::min<int64_t>(count, static_cast<int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return total;
}

std::vector<uint8_t> TStream::ReadBytes(int64_t count) {
  // Never allocate more than the stream can still deliver.
  if (count < 0 || count > std::max<int64_t>(Remaining(), 0)) throw EReadError("Stream read error");
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  ReadBuffer(bytes.data(), count);
  return bytes;
}

// ---- TCustomMemoryStream ----

void TCustomMemoryStream::SetPointer(const void* data, int64_t size) {
  FMemory = static_cast<uint8_t*>(const_cast<void*>(data));
  FSize = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition >= FSize || FPosition < 0) return 0;
  int64_t n = std::min(count, FSize - FPosition);
  std::memcpy(buffer, FMemory + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TCustomMemoryStream::Write(const void*, int64_t) {
  // Memory borrowed through SetPointer is read-only.
  return 0;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = ClampedTarget(offset, origin, FPosition, FSize);
  if (FPosition < 0) FPosition = 0;
  return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) { stream.WriteBuffer(FMemory, FSize); }

void TCustomMemoryStream::SaveToFile(const std::string& fileName) { SaveBytesToFile(fileName, FMemory, FSize); }

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::SetCapacity(int64_t newCapacity) {
  if (newCapacity == FCapacity) return;
  if (newCapacity == 0) {
    std::free(FMemory);
    FMemory = nullptr;
    FCapacity = 0;
    return;
  }
  if (newCapacity < 0 || static_cast<uint64_t>(newCapacity) > SIZE_MAX) OutOfMemoryError();
  void* p = std::realloc(FMemory, static_cast<size_t>(newCapacity));
  if (!p) OutOfMemoryError();
  FMemory = static_cast<uint8_t*>(p);
  FCapacity = newCapacity;
}

void TMemoryStream::GrowCapacity(int64_t needed) {
  if (needed <= FCapacity) return;
  // Grow in 8 KB steps, and by at least a quarter, so byte-wise writers stay linear.
  int64_t want = std::max(needed, FCapacity + FCapacity / 4);
  SetCapacity((want + 0x1FFF) & ~int64_t(0x1FFF));
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Stream size cannot be negative");
  int64_t oldPos = FPosition;
  GrowCapacity(newSize);
  // Grown bytes read as zeros, never as whatever the allocator left there.
  if (newSize > FSize) std::memset(FMemory + FSize, 0, static_cast<size_t>(newSize - FSize));
  FSize = newSize;
  if (oldPos > newSize) FPosition = newSize;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || FPosition < 0 || count > INT64_MAX - FPosition) return 0;
  int64_t end = FPosition + count;
  if (end > FSize) {
    GrowCapacity(end);
    // Only a gap left by a seek past the end is zeroed; the rest is written next.
    if (FPosition > FSize) std::memset(FMemory + FSize, 0, static_cast<size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(FMemory + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t count = stream.Size();
  if (count < 0) throw EStreamError("Stream size cannot be negative");
  // The bytes are read over straight away: no zeroing first. The size is set
  // once they are in, so a failed read never shows unwritten memory.
  GrowCapacity(count);
  if (count != 0) stream.ReadBuffer(FMemory, count);
  FSize = count;
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

// ---- THandleStream ----

int64_t THandleStream::Read(void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
  int64_t done = 0;
  auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

void THandleStream::SetSize(int64_t newSize) {
  int64_t pos = Position();
  if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0) throw EStreamError("Stream size cannot be changed");
  if (pos > newSize) Seek(newSize, soBeginning);
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : THandleStream(-1), FFileName(fileName) {
  std::string native = NativePath(fileName);
  if ((mode & 0xFF00) == fmCreate) {
    FHandle = ::open(native.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
    return;
  }
  int access = mode & 3;
  int flags = access == fmOpenWrite ? O_WRONLY : access == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  FHandle = ::open(native.c_str(), flags | O_CLOEXEC);
  if (FHandle < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
  struct stat st{};
  if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError("Cannot open file \"" + fileName + "\". Is a directory");
  }
  // Share modes become advisory locks: exclusive writers against each other.
  int share = mode & 0xF0;
  if (share == fmShareExclusive || share == fmShareDenyWrite || share == fmShareDenyRead) {
    int op = (share == fmShareExclusive || access != fmOpenRead) ? LOCK_EX : LOCK_SH;
    if (::flock(FHandle, op | LOCK_NB) != 0) {
      ::close(FHandle);
      FHandle = -1;
      throw EFOpenError("Cannot open file \"" + fileName + "\". The file is in use by another process");
    }
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

// ---- SaveBytesToFile ----

void SaveBytesToFile(const std::string& fileName, const void* data, int64_t size) {
  std::string native = NativePath(fileName);
  std::string temp = native + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
  // mkstemp makes the file private; give it the mode a new file would have had.
  mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat old{};
  ::fchmod(fd, ::stat(native.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~mask));
  THandleStream out(fd);
  bool written = out.Write(data, size) == size && ::fsync(fd) == 0;
  bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    ::unlink(temp.c_str());
    throw EWriteError("Stream write error");
  }
  if (::rename(temp.c_str(), native.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(err));
  }
}

// ---- TStringStream ----

int64_t TStringStream::Read(void* buffer, int64_t count) {
  int64_t size = static_cast<int64_t>(FData.size());
  if (count <= 0 || FPosition >= size) return 0;
  int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
  if (count <= 0 || count > INT64_MAX - FPosition) return 0;
  size_t end = static_cast<size_t>(FPosition + count);
  if (end > FData.size()) FData.resize(end);
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = ClampedTarget(offset, origin, FPosition, static_cast<int64_t>(FData.size()));
  if (FPosition < 0) FPosition = 0;
  return FPosition;
}

void TStringStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Stream size cannot be negative");
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize) FPosition = newSize;
}

std::string TStringStream::ReadString(int64_t count) {
  int64_t n = std::min<int64_t>(count, static_cast<int64_t>(FData.size()) - FPosition);
  if (n <= 0) return {};
  std::string s = FData.substr(static_cast<size_t>(FPosition), static_cast<size_t>(n));
  FPosition += n;
  return s;
}
