#pragma once
// The library's own streams: a read-only view of a caller's memory, read-ahead
// and write-behind buffers that the format filters wrap around their streams, a
// file stream with a wide-character name, a chunked copy, a checked write, and
// the naming of temporary files.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/streams.h"

// When not empty, temporary files are made here instead of in the system's
// temporary folder.
extern std::string LibraryTempFolder;

// A stream whose size is not known ahead (the compression streams): CopyStream
// does not hold a count to its size.
class TIEUnsizedStream : public TStream {};

// Reads a block of memory that stays the caller's; writes nothing.
class TIEMemStream : public TCustomMemoryStream {
public:
  TIEMemStream(const void* data, int64_t size) { SetPointer(data, size); }
  void SetSize(int64_t) override {}
  int64_t Write(const void*, int64_t) override { return 0; }
};

// A read-ahead buffer over another stream (not owned). With relative set, the
// source's current position is this stream's position 0. The source's size is
// taken once: the source must not grow meanwhile.
class TIEBufferedReadStream : public TStream {
public:
  TIEBufferedReadStream(TStream* source, int32_t bufferSize, bool relative = false);
  ~TIEBufferedReadStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // raises
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize - FBase; }
  void SetBufferSize(int32_t n);
  void FillBuffer();
  // The last read or seek hit the end of the data.
  bool AtEnd() const { return FEnd; }

  // The single-byte path the filters call most.
  bool ReadByte(uint8_t& b) {
    if (FPosition >= FSize) {
      FEnd = true;
      return false;
    }
    if (FIndex >= FFill) {
      FillBuffer();
      if (FFill == 0) {
        FEnd = true;
        return false;
      }
    }
    b = FBuffer[FIndex++];
    ++FPosition;
    return true;
  }

private:
  TStream* FSource;
  int64_t FBase = 0;
  int64_t FSize = 0;
  int64_t FPosition = 0;
  std::vector<uint8_t> FBuffer;
  int32_t FBufferSize = 0;
  int32_t FIndex = 0;
  int32_t FFill = 0;  // bytes of the buffer really read from the source
  bool FEnd = false;
};

// A write-behind buffer over another stream (not owned). A target that takes
// fewer bytes than offered (a full disk) is an error: Flush raises EWriteError,
// Write returns 0 from then on, and WriteFailed() stays true.
class TIEBufferedWriteStream : public TStream {
public:
  TIEBufferedWriteStream(TStream* target, int32_t bufferSize);
  ~TIEBufferedWriteStream() override;  // flushes; call Flush first to learn of a failure
  int64_t Read(void* buffer, int64_t count) override;  // raises
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void Flush();
  bool WriteFailed() const { return FFailed; }

private:
  bool FlushBuffer();
  TStream* FTarget;
  std::vector<uint8_t> FBuffer;
  int32_t FBufferSize = 0;
  int32_t FCount = 0;
  bool FFailed = false;
};

// A file stream opened by a wide-character name. Mode 0xFFFF creates (or
// empties) the file; any other mode opens an existing one with access mode & 3
// (0 read, 1 write, 2 both; 3 refused) and sharing (mode & 0xF0) >> 4 (0 to 4;
// above 4 refused). Raises EFCreateError / EFOpenError.
class TIEWideFileStream : public THandleStream {
public:
  TIEWideFileStream(const std::wstring& fileName, uint16_t mode);
  ~TIEWideFileStream() override;
};

// UTF-8 text of a wide name, as this platform spells file names.
std::string WideToUTF8(const std::wstring& text);

// Copies count bytes (count 0: the whole source from its start), never more than
// the source still holds, through one buffer of at most 0x2FFFF bytes.
int64_t CopyStream(TStream& destination, TStream& source, int64_t count);
// Writes count bytes; sets error (never clears it) when fewer were written.
void StreamWriteChecked(TStream& stream, bool& error, const void* data, int64_t count);

// A new name folder + prefix + "-" + 8 hex digits + ".tmp" whose file this call
// has created (empty, only for us), so no other process can take the same name.
// False when no file could be created.
bool MakeTempFileName(const std::string& prefix, const std::string& folder, std::string& name);
// MakeTempFileName("ietemp", LibraryTempFolder or the system temporary folder).
bool NewTempFileName(std::string& name);
// The system temporary folder, with a trailing separator.
std::string SystemTempFolder();
// The folder temporary files go to: LibraryTempFolder when set, else the system's.
std::string IETempFolder();
bool FileExistsA(const std::string& name);
bool FileExistsW(const std::wstring& name);
