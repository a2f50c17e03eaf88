#include "imaging/core/ie_io_log.h"

#include <cstdio>
#include <mutex>

#include "platform/rtl/sysutils.h"

namespace {

struct TIOLog {
  std::mutex lock;
  std::string name;
  std::FILE* file = nullptr;
  std::string openName;  // the name file was opened under

  void Close() {
    if (file != nullptr) std::fclose(file);
    file = nullptr;
    openName.clear();
  }
  ~TIOLog() { Close(); }
};

TIOLog& Log() {
  static TIOLog log;
  return log;
}

}  // namespace

void SetIOLogFileName(const std::string& fileName) {
  TIOLog& log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  log.name = fileName;
  if (log.openName != fileName) log.Close();
}

std::string IOLogFileName() {
  TIOLog& log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  return log.name;
}

void WriteIOLog(const std::string& message) {
  TIOLog& log = Log();
  std::lock_guard<std::mutex> guard(log.lock);
  if (log.name.empty()) return;
  if (log.file == nullptr || log.openName != log.name) {
    log.Close();
    log.file = std::fopen(log.name.c_str(), "ab");
    if (log.file == nullptr) return;
    log.openName = log.name;
  }
  const TDateTime now = Now();
  // One write per line, under the lock: lines of two threads never interleave.
  const std::string line = DateToStr(now) + " " + TimeToStr(now) + " : " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), log.file);
  std::fflush(log.file);
}
