#pragma once
// A read-only stream over a whole file mapped into memory, for walking
// executable headers without reading the file.
#include <string>

#include "platform/rtl/streams.h"
#include "platform/win/win_types.h"

class TFileMappingStream : public TCustomMemoryStream {
public:
  // A file that cannot be opened or mapped, and an empty file, give an empty
  // stream that holds nothing: readers over it see no data instead of failing.
  explicit TFileMappingStream(const std::string& fileName);
  ~TFileMappingStream() override;
  // The view is read-only: writes nothing and returns -1.
  int64_t Write(const void* buffer, int64_t count) override;

private:
  void Release();
  HANDLE FFile = INVALID_HANDLE_VALUE;
  HANDLE FMapping = nullptr;
  LPVOID FView = nullptr;
};
