#pragma once
// The file a save by name writes: a new file beside the target, which takes the
// target's name only when the whole picture was written. A failed save leaves
// the old file as it was and no stray file behind.
#include <memory>
#include <string>

#include "imaging/core/ie_streams.h"

class TIETargetFile {
public:
  // Raises EFCreateError when the folder takes no new file.
  explicit TIETargetFile(const std::wstring& fileName);
  ~TIETargetFile();  // discards the new file unless committed
  TIETargetFile(const TIETargetFile&) = delete;
  TIETargetFile& operator=(const TIETargetFile&) = delete;
  TStream& Stream() { return *FStream; }
  // Flushes, closes and renames over the target; false (nothing replaced) on failure.
  bool Commit();
  void Discard();

private:
  std::wstring FTarget;
  std::wstring FTemporary;
  std::unique_ptr<TIEWideFileStream> FStream;
  bool FDone = false;
};
