#include "imaging/io/io_target_file.h"

#include <cstdio>
#include <random>

#include "platform/rtl/exceptions.h"
#include "platform/rtl/paths.h"
#include "platform/rtl/sysutils.h"

namespace {
std::wstring TemporaryNameBeside(const std::wstring& target) {
  static std::mt19937 random{std::random_device{}()};
  wchar_t suffix[32];
  std::swprintf(suffix, 32, L".%08x.qvtmp", unsigned(random()));
  return target + suffix;
}
std::string NativeName(const std::wstring& name) { return NativePath(WideToUTF8(name)); }
}  // namespace

TIETargetFile::TIETargetFile(const std::wstring& fileName) : FTarget(fileName) {
  // A few tries in case another writer picked the same name.
  for (int attempt = 0;; ++attempt) {
    FTemporary = TemporaryNameBeside(fileName);
    if (FileExistsW(FTemporary) && attempt < 8) continue;
    try {
      FStream = std::make_unique<TIEWideFileStream>(FTemporary, 0xFFFF);
      return;
    } catch (const EFCreateError&) {
      // The message names the file the caller asked for, not our working name.
      throw EFCreateError("Cannot create file \"" + WideToUTF8(fileName) + "\".");
    }
  }
}

TIETargetFile::~TIETargetFile() { Discard(); }

bool TIETargetFile::Commit() {
  if (FDone || !FStream) return false;
  const bool flushed = FileFlush(FStream->Handle());
  FStream.reset();
  FDone = true;
  if (!flushed || std::rename(NativeName(FTemporary).c_str(), NativeName(FTarget).c_str()) != 0) {
    std::remove(NativeName(FTemporary).c_str());
    return false;
  }
  return true;
}

void TIETargetFile::Discard() {
  if (FDone) return;
  FStream.reset();
  FDone = true;
  std::remove(NativeName(FTemporary).c_str());
}
