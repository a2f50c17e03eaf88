#include "imaging/core/ie_file_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/core/ie_memory.h"
#include "imaging/core/ie_streams.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/sysutils.h"

// ---- TIETemporaryFileStream ----

TIETemporaryFileStream::TIETemporaryFileStream(const std::string& fileName) : THandleStream(-1) {
  FHandle = FileCreateUnnamed(fileName);
  if (FHandle == -1) throw EInOutError("Unable to create " + fileName);
}

TIETemporaryFileStream::~TIETemporaryFileStream() { FileClose(FHandle); }

bool TIETemporaryFileStream::Reserve(int64_t size) { return FileReserve(FHandle, size); }

// ---- TIEFileBuffer ----

TIEFileBuffer::~TIEFileBuffer() { Close(); }

bool TIEFileBuffer::AllocateFile(const std::string& prefix, bool asFile, int64_t size) {
  Close();
  if (size < 0 || IEAllocationRefused(size)) return false;
  bool nameTaken = false;  // our empty file exists under FFileName
  try {
    if (asFile) {
      std::string name;
      if (!MakeTempFileName(prefix, IETempFolder(), name)) return false;
      FFileName = name;
      nameTaken = true;
      auto stream = std::make_unique<TIETemporaryFileStream>(name);
      nameTaken = false;  // opened and unlinked
      if (!stream->Reserve(size)) {
        FFileName.clear();
        return false;
      }
      stream->SetSize(size);
      FStream = std::move(stream);
    } else {
      auto stream = std::make_unique<TMemoryStream>();
      stream->SetSize(size);
      FStream = std::move(stream);
    }
    FWriteFailed = false;
    return true;
  } catch (const std::exception&) {
    FStream.reset();
    if (nameTaken) DeleteFile(FFileName);
    FFileName.clear();
    return false;
  }
}

void TIEFileBuffer::SetSize(int64_t size) {
  if (FStream) FStream->SetSize(size);
}

uint8_t* TIEFileBuffer::Map(uint8_t access, int64_t size, int64_t position) {
  if (size < 0) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(std::max<int64_t>(size, 1))));
  if (!block) return nullptr;
  int64_t got = 0;
  if ((access & 1) && FStream) {
    FStream->Seek(position, soBeginning);
    got = std::max<int64_t>(FStream->Read(block, size), 0);
  }
  // Bytes not read from the store are zeroed, never left as stale heap content
  // that a write-back would copy into the file.
  if (got < size) std::memset(block + got, 0, static_cast<size_t>(size - got));
  FWindows.push_back(TWindow{position, size, block, access});
  return block;
}

int TIEFileBuffer::FindWindow(void* address) const {
  for (size_t i = 0; i < FWindows.size(); ++i)
    if (FWindows[i].address == address) return static_cast<int>(i);
  return -1;
}

void TIEFileBuffer::Unmap(void* address) {
  const int i = FindWindow(address);
  if (i < 0) return;
  const TWindow w = FWindows[static_cast<size_t>(i)];
  FWindows.erase(FWindows.begin() + i);
  if ((w.access & 2) && FStream) {
    try {
      FStream->Seek(w.position, soBeginning);
      if (FStream->Write(w.address, w.size) != w.size) FWriteFailed = true;
    } catch (const std::exception&) {
      FWriteFailed = true;
    }
  }
  std::free(w.address);
}

void TIEFileBuffer::UnmapAll() {
  while (!FWindows.empty()) Unmap(FWindows.back().address);
}

void TIEFileBuffer::CopyTo(TIEFileBuffer& destination, int64_t size, int64_t position) {
  if (!FStream || !destination.FStream) return;
  UnmapAll();
  destination.UnmapAll();
  FStream->Seek(position, soBeginning);
  destination.FStream->Seek(position, soBeginning);
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(size, 0), 1048576)));
  while (size > 0) {
    const int64_t n = std::min<int64_t>(size, static_cast<int64_t>(chunk.size()));
    FStream->ReadBuffer(chunk.data(), n);
    destination.FStream->WriteBuffer(chunk.data(), n);
    size -= n;
  }
}

void TIEFileBuffer::Close() {
  if (!FStream) return;
  UnmapAll();
  // The name was removed when the file was opened, and may belong to another
  // file by now: closing the handle is what deletes ours.
  FStream.reset();
  FFileName.clear();
}
