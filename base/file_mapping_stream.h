#pragma once
// A read-only stream over a whole file mapped into memory, for walking
// executable headers without reading the file.
#include <string>

#include "platform/rtl/streams.h"

class TFileMappingStream : public TCustomMemoryStream {
public:
  // A file that cannot be opened or mapped, and an empty file, give an empty
  // stream: readers over it see no data instead of failing.
  explicit TFileMappingStream(const std::string& fileName);
  ~TFileMappingStream() override;
  // The view is read-only: writes nothing and returns -1.
  int64_t Write(const void* buffer, int64_t count) override;

private:
  void Release();
  std::string FData;  // stand-in for the mapped view until the platform maps files
};
