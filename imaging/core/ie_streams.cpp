#include "imaging/core/ie_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "imaging/core/ie_startup.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"
#include "platform/win/system_folders.h"

std::string LibraryTempFolder;

// ---- TIEBufferedReadStream ----

TIEBufferedReadStream::TIEBufferedReadStream(TStream* source, int32_t bufferSize, bool relative)
    : FSource(source) {
  FPosition = source->Position();
  FBase = relative ? FPosition : 0;
  FSize = source->Size();
  SetBufferSize(bufferSize);
  FillBuffer();
}

TIEBufferedReadStream::~TIEBufferedReadStream() = default;

void TIEBufferedReadStream::SetBufferSize(int32_t n) {
  if (n < 1) n = 1;
  FBuffer.assign(static_cast<size_t>(n), 0);
  FBufferSize = n;
  FIndex = 0;
  FFill = 0;
}

void TIEBufferedReadStream::FillBuffer() {
  FIndex = 0;
  FFill = 0;
  const int64_t want = std::min<int64_t>(FBufferSize, FSize - FPosition);
  if (want <= 0) return;
  FSource->Seek(FPosition, soBeginning);
  const int64_t got = FSource->Read(FBuffer.data(), want);
  // A source that delivers less than it claimed to hold ends the data here.
  FFill = static_cast<int32_t>(std::max<int64_t>(got, 0));
  if (FFill < want) FSize = FPosition + FFill;
}

int64_t TIEBufferedReadStream::Read(void* buffer, int64_t count) {
  FEnd = false;
  if (FSize - FPosition < count) {
    FEnd = true;
    count = FSize - FPosition;
  }
  if (count < 1) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    if (FIndex >= FFill) {
      FillBuffer();
      if (FFill == 0) {
        FEnd = true;
        break;
      }
    }
    const int64_t n = std::min<int64_t>(count - done, FFill - FIndex);
    std::memcpy(out + done, FBuffer.data() + FIndex, static_cast<size_t>(n));
    FIndex += static_cast<int32_t>(n);
    FPosition += n;
    done += n;
  }
  return done;
}

int64_t TIEBufferedReadStream::Write(const void*, int64_t) {
  throw Exception("TIEBufferedReadStream cannot write!");
}

int64_t TIEBufferedReadStream::Seek(int64_t offset, TSeekOrigin origin) {
  FEnd = false;
  int64_t target = FPosition;
  switch (origin) {
    case soBeginning: target = FBase + offset; break;
    case soCurrent: target = FPosition + offset; break;
    case soEnd: target = FSize + offset; break;  // as every TStream: offset added to the size
  }
  if (target < 0) target = 0;
  if (target >= FSize) {
    target = FSize;
    FEnd = true;
  }
  const int64_t inBuffer = FIndex + target - FPosition;
  if (inBuffer >= 0 && inBuffer < FFill) {
    FIndex = static_cast<int32_t>(inBuffer);
    FPosition = target;
  } else if (target != FPosition || FIndex >= FFill) {
    FPosition = target;
    FillBuffer();
  }
  return FPosition - FBase;
}

// ---- TIEBufferedWriteStream ----

TIEBufferedWriteStream::TIEBufferedWriteStream(TStream* target, int32_t bufferSize) : FTarget(target) {
  FBufferSize = std::max<int32_t>(bufferSize, 1);
  FBuffer.assign(static_cast<size_t>(FBufferSize), 0);
}

TIEBufferedWriteStream::~TIEBufferedWriteStream() { FlushBuffer(); }

bool TIEBufferedWriteStream::FlushBuffer() {
  if (FFailed) return false;
  if (FCount == 0) return true;
  const int64_t written = FTarget->Write(FBuffer.data(), FCount);
  const bool complete = written == FCount;
  FCount = 0;
  if (!complete) FFailed = true;
  return complete;
}

void TIEBufferedWriteStream::Flush() {
  if (!FlushBuffer()) throw EWriteError("Stream write error");
}

int64_t TIEBufferedWriteStream::Read(void*, int64_t) { throw Exception("TIEBufferedWriteStream cannot read!"); }

int64_t TIEBufferedWriteStream::Write(const void* buffer, int64_t count) {
  if (FFailed) return 0;
  if (count < 1) return 0;
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    const int64_t n = std::min<int64_t>(count - done, FBufferSize - FCount);
    std::memcpy(FBuffer.data() + FCount, in + done, static_cast<size_t>(n));
    FCount += static_cast<int32_t>(n);
    done += n;
    if (FCount == FBufferSize && !FlushBuffer()) return 0;
  }
  return count;
}

int64_t TIEBufferedWriteStream::Seek(int64_t offset, TSeekOrigin origin) {
  Flush();
  return FTarget->Seek(offset, origin);
}

// ---- TIEWideFileStream ----

std::string WideToUTF8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    auto c = static_cast<uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

std::string ExpandedName(const std::string& name) {
  std::error_code ec;
  auto p = std::filesystem::absolute(NativePath(name), ec);
  return ec ? name : p.string();
}

int OpenWideFile(const std::string& name, uint16_t mode) {
  const int share = (mode & 0xF0) >> 4;
  if (share > 4) {
    errno = EINVAL;
    return -1;
  }
  return FileOpen(name, mode & 3);
}

}  // namespace

TIEWideFileStream::TIEWideFileStream(const std::wstring& fileName, uint16_t mode) : THandleStream(-1) {
  const std::string name = WideToUTF8(fileName);
  if (mode == 0xFFFF) {
    FHandle = FileCreate(name, 0644);
    if (FHandle == -1)
      throw EFCreateError("Cannot create file \"" + ExpandedName(name) + "\". " + std::strerror(errno));
  } else {
    FHandle = OpenWideFile(name, mode);
    if (FHandle == -1)
      throw EFOpenError("Cannot open file \"" + ExpandedName(name) + "\". " + std::strerror(errno));
  }
}

TIEWideFileStream::~TIEWideFileStream() { FileClose(FHandle); }

// ---- stream routines ----

int64_t CopyStream(TStream& destination, TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  // Compression streams do not know their size ahead; everything else is held
  // to what it still has, so a bad count never allocates or reads past the end.
  if (!dynamic_cast<TIEUnsizedStream*>(&source)) count = std::max<int64_t>(0, std::min(count, source.Size() - source.Position()));
  if (count <= 0) return 0;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 0x2FFFF)));
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    destination.WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return count;
}

void StreamWriteChecked(TStream& stream, bool& error, const void* data, int64_t count) {
  if (stream.Write(data, count) < count) error = true;
}

// ---- temporary files ----

std::string SystemTempFolder() {
  char buffer[250];
  const DWORD n = GetTempPath(sizeof buffer, buffer);
  // A folder that does not fit the buffer is no folder to the library.
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

std::string IETempFolder() { return LibraryTempFolder.empty() ? SystemTempFolder() : LibraryTempFolder; }

bool MakeTempFileName(const std::string& prefix, const std::string& folder, std::string& name) {
  static thread_local std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<uint32_t> below(0, 2147483646);
  // Creating with O_EXCL both tests and takes the name in one step: another
  // process cannot slip in between.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", below(random));
    std::string candidate = folder + prefix + "-" + hex + ".tmp";
    const int fd = FileCreateNew(candidate);
    if (fd != -1) {
      FileClose(fd);
      name = std::move(candidate);
      return true;
    }
    if (errno != EEXIST) return false;  // no folder, no rights: retrying will not help
  }
  return false;
}

bool NewTempFileName(std::string& name) { return MakeTempFileName("ietemp", IETempFolder(), name); }

bool FileExistsA(const std::string& name) {
  if (IEFileTestSwitch) return FileExists(name);
  return FileGetSize(name) >= 0;
}

bool FileExistsW(const std::wstring& name) { return FileExistsA(WideToUTF8(name)); }
