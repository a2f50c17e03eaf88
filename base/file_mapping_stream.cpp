#include "base/file_mapping_stream.h"

#include "platform/rtl/exceptions.h"

TFileMappingStream::TFileMappingStream(const std::string& fileName) {
  try {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    const int64_t size = file.Size();
    if (size <= 0) return;
    FData.resize(static_cast<size_t>(size));
    if (file.Read(FData.data(), size) != size) {
      Release();
      return;
    }
    SetPointer(FData.data(), size);
  } catch (const Exception&) {
    Release();
  }
}

TFileMappingStream::~TFileMappingStream() { Release(); }

void TFileMappingStream::Release() {
  SetPointer(nullptr, 0);
  FData.clear();
  FData.shrink_to_fit();
}

int64_t TFileMappingStream::Write(const void*, int64_t) { return -1; }
