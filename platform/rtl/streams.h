#pragma once
// The framework's stream family. Sizes and positions are 64-bit throughout.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/object.h"

enum TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };
// The framework's older origin words, same values.
constexpr uint16_t soFromBeginning = 0;
constexpr uint16_t soFromCurrent = 1;
constexpr uint16_t soFromEnd = 2;

// File open modes and share modes, with the framework's values.
constexpr uint16_t fmCreate = 0xFF00;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

class TStream : public TObject {
public:
  // Reads or writes at most count bytes and returns how many were moved; a
  // short count is not an error here.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Seeking from the end adds offset to the size: Seek(-4, soEnd) is four bytes
  // before the end. Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t newSize);
  int64_t Remaining() { return Size() - Position(); }

  // All or nothing: EReadError "Stream read error" / EWriteError "Stream write error".
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source (its whole content from the start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);

  // Typed little-endian helpers for on-disk structures.
  template <class T> T ReadValue() {
    T v{};
    ReadBuffer(&v, sizeof(T));
    return v;
  }
  template <class T> void WriteValue(const T& v) { WriteBuffer(&v, sizeof(T)); }
  std::vector<uint8_t> ReadBytes(int64_t count);
};

// A stream over a block of memory. This class reads memory it does not own
// (SetPointer); TMemoryStream below owns and grows its block.
class TCustomMemoryStream : public TStream {
public:
  TCustomMemoryStream() = default;
  TCustomMemoryStream(const void* data, int64_t size) { SetPointer(data, size); }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::string& fileName);
  uint8_t* Memory() const { return FMemory; }

protected:
  void SetPointer(const void* data, int64_t size);
  uint8_t* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t newSize) override;
  void Clear();
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  int64_t Capacity() const { return FCapacity; }

private:
  void SetCapacity(int64_t newCapacity);
  // Makes room for needed bytes without touching the size or the bytes.
  void GrowCapacity(int64_t needed);
  int64_t FCapacity = 0;
};

// A stream over an open file descriptor that it does not own.
class THandleStream : public TStream {
public:
  explicit THandleStream(int handle) : FHandle(handle) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  int Handle() const { return FHandle; }

protected:
  int FHandle = -1;
};

// Opens a file by name (Windows-style names are mapped, see platform/rtl/paths.h).
// mode is fmCreate or an open mode, or-ed with a share mode. Raises EFCreateError
// or EFOpenError with the file name when it cannot.
class TFileStream : public THandleStream {
public:
  TFileStream(const std::string& fileName, uint16_t mode);
  ~TFileStream() override;
  const std::string& FileName() const { return FFileName; }

private:
  std::string FFileName;
};

// Writes a whole file by writing a temporary file beside it and renaming that over
// the old one, so a failed write never loses what was there. Raises EFCreateError
// when the file cannot be made and EWriteError when the data cannot be written.
void SaveBytesToFile(const std::string& fileName, const void* data, int64_t size);

// A stream over a string's bytes.
class TStringStream : public TStream {
public:
  explicit TStringStream(std::string data = {}) : FData(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  std::string ReadString(int64_t count);
  void WriteString(const std::string& s) { WriteBuffer(s.data(), static_cast<int64_t>(s.size())); }
  const std::string& DataString() const { return FData; }

private:
  std::string FData;
  int64_t FPosition = 0;
};
