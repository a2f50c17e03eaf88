#include "imaging/core/ie_startup.h"

#include <array>
#include <cmath>
#include <atomic>
#include <mutex>
#include <vector>

#include "imaging/core/ie_canvas.h"
#include "imaging/core/ie_proc_filters.h"
#include "imaging/core/ie_version.h"
#include "imaging/core/ie_view_link.h"
#include "imaging/core/ie_word_table.h"
#include "platform/rtl/rounding.h"
#include "platform/win/system_info.h"

int IEGrayWeightRed = 21;
int IEGrayWeightGreen = 71;
int IEGrayWeightBlue = 8;
uint8_t IEDialogBackground = 0;
uint8_t IEWindowsVersion = 10;
bool IEWideAPI = true;
uint8_t IEPreviewZoomFilter = 9;
int64_t MemoryLimitOverride = -1;
bool AllowFileFallback = true;
bool AllowSegments = true;
bool IEFileTestSwitch = false;
uint8_t InterpolationTable[256] = {};

namespace {

std::atomic<int32_t> gCoreCount{-1};

struct StartupState {
  std::mutex lock;
  std::string lockName;
  int count = 0;
  std::array<std::function<void()>, iessStepCount> init;
  std::array<std::function<void()>, iessStepCount> done;
  std::array<bool, iessStepCount> ran{};
};

StartupState& State() {
  static StartupState state;
  return state;
}

void FillInterpolationTable() {
  for (int i = 0; i < 256; ++i)
    InterpolationTable[i] = static_cast<uint8_t>(Round(64 - std::cos(i * M_PI / 255) * 64));
}

// The one place that asks the system for its processor count.
int32_t QuerySystemCoreCount();

}  // namespace

void InitGrayWeights() {
  IEGrayWeightRed = 21;
  IEGrayWeightGreen = 71;
  IEGrayWeightBlue = 8;
  IEDialogBackground = 0;
}

void InitUtilityGlobals() {
  gCoreCount = -1;
  IEWindowsVersion = GetWindowsVersionCode();
  IEWideAPI = IEWindowsVersion > 2;
  IEPreviewZoomFilter = 9;
  MemoryLimitOverride = -1;
  AllowFileFallback = true;
  AllowSegments = true;
  IEFileTestSwitch = false;
  // Pictures whose files tell no resolution get 300 DPI, with or without a view.
  gDefaultDPIX = 300;
  gDefaultDPIY = 300;
  FillInterpolationTable();
  FillWordTables();
}

void DoneUtilityGlobals() { ClearWordTables(); }

bool IsVistaOrLater() { return IEWindowsVersion >= 7; }

int32_t GetProcessorCoreCount() {
  int32_t n = gCoreCount.load();
  if (n != -1) return n;
  n = QuerySystemCoreCount();
  if (n < 1) n = 1;
  gCoreCount = n;
  return n;
}

namespace {
// Cores, not logical processors: a hyper-threaded core runs one worker.
int32_t QuerySystemCoreCount() {
  DWORD length = 0;
  if (GetLogicalProcessorInformation(nullptr, &length) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      length == 0 || length > (1u << 24))
    return 1;
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records(length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) + 1);
  length = static_cast<DWORD>(records.size() * sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  if (!GetLogicalProcessorInformation(records.data(), &length)) return 1;
  int32_t cores = 0;
  for (size_t i = 0; i < length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION); ++i)
    if (records[i].Relationship == RelationProcessorCore) ++cores;
  return cores;
}
}  // namespace

void SetLibraryStartupStep(TIEStartupStep step, std::function<void()> init, std::function<void()> done) {
  StartupState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.init[step] = std::move(init);
  s.done[step] = std::move(done);
}

void LibraryStaticInit() {
  StartupState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.lockName != "STATICINIT") {
    s.lockName = "STATICINIT";
    s.count = 0;
  }
  if (s.count == 0) {
    if (!s.init[iessGdiPlus]) s.init[iessGdiPlus] = ResetGdiPlusState;
    if (!s.init[iessGrayWeights]) s.init[iessGrayWeights] = InitGrayWeights;
    if (!s.init[iessUtilityGlobals]) {
      s.init[iessUtilityGlobals] = InitUtilityGlobals;
      s.done[iessUtilityGlobals] = DoneUtilityGlobals;
    }
    if (!s.init[iessImageProcUnit]) {
      s.init[iessImageProcUnit] = InitImageProcUnit;
      s.done[iessImageProcUnit] = DoneImageProcUnit;
    }
    for (int i = 0; i < iessStepCount; ++i) {
      if (s.ran[i]) continue;
      if (s.init[i]) s.init[i]();  // an exception leaves here, the count unchanged
      s.ran[i] = true;
    }
  }
  ++s.count;
}

void LibraryStaticDone() {
  StartupState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.lockName != "STATICINIT" || s.count <= 0) return;
  if (--s.count > 0) return;
  // Reverse order of start-up; the codec's release sits between the vector
  // unit and the utility globals because it has no start-up step of its own.
  static constexpr TIEStartupStep kOrder[] = {
      iessPresetImages, iessTextMemoFormat, iessCCITTTrees, iessViewGlobals, iessImageProcUnit,
      iessImageIO,      iessVectUnit,       iessJ2000Codec, iessUtilityGlobals, iessGrayWeights,
      iessGdiPlus};
  for (TIEStartupStep step : kOrder) {
    if (!s.ran[step]) continue;
    s.ran[step] = false;
    if (s.done[step]) s.done[step]();
  }
  s.lockName.clear();
}

int LibraryStartupCount() {
  StartupState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.count;
}
