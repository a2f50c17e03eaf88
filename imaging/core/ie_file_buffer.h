#pragma once
// The paging store of file-backed bitmaps: a temporary file (or, when asked, a
// memory stream) from which windows of bytes are copied into heap blocks and
// written back when released.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/streams.h"

// A temporary file for reading and writing, only ours. Its name is removed as
// soon as it is open, so the file disappears when the handle closes, also when
// the program ends abnormally. Raises EInOutError "Unable to create " + name.
class TIETemporaryFileStream : public THandleStream {
public:
  explicit TIETemporaryFileStream(const std::string& fileName);
  ~TIETemporaryFileStream() override;
  // Takes the disk space for size bytes now, so that later writes cannot run
  // out of room; false when the file system cannot give it.
  bool Reserve(int64_t size);
};

class TIEFileBuffer : public TObject {
public:
  TIEFileBuffer() = default;
  ~TIEFileBuffer() override;

  // A fresh store of size bytes: a temporary file named from prefix in the
  // library's temporary folder, or a memory stream. False on any failure.
  bool AllocateFile(const std::string& prefix, bool asFile, int64_t size);
  bool IsAllocated() const { return FStream != nullptr; }
  void SetSize(int64_t size);
  // Access bit 0: the window is read from the store; bit 1: written back on Unmap.
  // A window that is not read starts zeroed. Nil when no block can be had.
  uint8_t* Map(uint8_t access, int64_t size, int64_t position);
  void Unmap(void* address);
  int FindWindow(void* address) const;
  void UnmapAll();
  // File to file in 1 MB chunks.
  void CopyTo(TIEFileBuffer& destination, int64_t size, int64_t position);
  void Close();
  const std::string& FileName() const { return FFileName; }
  // A write-back that the store did not take in full (the pixels of that row are lost).
  bool WriteFailed() const { return FWriteFailed; }

private:
  struct TWindow {
    int64_t position;
    int64_t size;
    uint8_t* address;
    uint8_t access;
  };
  std::string FFileName;
  std::vector<TWindow> FWindows;
  std::unique_ptr<TStream> FStream;
  bool FWriteFailed = false;
};
