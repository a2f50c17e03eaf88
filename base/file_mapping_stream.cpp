#include "base/file_mapping_stream.h"

#include "platform/win/kernel_files.h"

TFileMappingStream::TFileMappingStream(const std::string& fileName) {
  FFile = CreateFile(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  if (FFile == INVALID_HANDLE_VALUE) return;
  DWORD high = 0;
  const DWORD low = GetFileSize(FFile, &high);
  const int64_t size = (static_cast<int64_t>(high) << 32) | low;
  // Each step can fail on its own (an empty file cannot be mapped at all): the
  // stream then stays empty and gives back what it took.
  if (size > 0) FMapping = CreateFileMapping(FFile, nullptr, PAGE_READONLY | SEC_COMMIT, 0, 0, nullptr);
  if (FMapping) FView = MapViewOfFile(FMapping, FILE_MAP_READ, 0, 0, 0);
  if (!FView) {
    Release();
    return;
  }
  SetPointer(FView, size);
}

TFileMappingStream::~TFileMappingStream() { Release(); }

void TFileMappingStream::Release() {
  SetPointer(nullptr, 0);
  if (FView) UnmapViewOfFile(FView);
  if (FMapping) CloseHandle(FMapping);
  if (FFile != INVALID_HANDLE_VALUE) CloseHandle(FFile);
  FView = nullptr;
  FMapping = nullptr;
  FFile = INVALID_HANDLE_VALUE;
}

int64_t TFileMappingStream::Write(const void*, int64_t) { return -1; }
