#include "platform/win/system_info.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>
#include <thread>

namespace {

std::mutex gLock;
TWindowsVersion gVersion;
TVirtualScreen gScreen;
std::map<int, int> gMetricOverrides;

// Windows 7 at 96 DPI with its default theme. The screen-sized metrics follow the
// virtual screen.
int ModelMetric(int index, const TVirtualScreen& screen) {
  constexpr int kTaskbar = 40;
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
    case SM_CXVIRTUALSCREEN: return screen.Width;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN: return screen.Height;
    case SM_CYFULLSCREEN: return screen.Height - kTaskbar - 22;
    case SM_CXMAXIMIZED: return screen.Width + 16;
    case SM_CYMAXIMIZED: return screen.Height - kTaskbar + 16;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL: return 17;
    case SM_CYCAPTION: return 22;
    case SM_CXBORDER:
    case SM_CYBORDER:
    case SM_CXFOCUSBORDER:
    case SM_CYFOCUSBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    case SM_CYMENU:
    case SM_CXMENUSIZE:
    case SM_CYMENUSIZE: return 19;
    case SM_MOUSEPRESENT:
    case SM_CMONITORS:
    case SM_SAMEDISPLAYFORMAT: return 1;
    case SM_CXMIN: return 132;
    case SM_CYMIN: return 38;
    case SM_CXSIZE: return 36;
    case SM_CYSIZE: return 22;
    case SM_CXFRAME:
    case SM_CYFRAME: return 8;
    case SM_CXMINTRACK: return 132;
    case SM_CYMINTRACK: return 38;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
    case SM_CXDRAG:
    case SM_CYDRAG: return 4;
    case SM_CXICONSPACING:
    case SM_CYICONSPACING: return 75;
    case SM_CMOUSEBUTTONS: return 3;
    case SM_CXEDGE:
    case SM_CYEDGE: return 2;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CYSMCAPTION:
    case SM_CXSMSIZE:
    case SM_CYSMSIZE: return 18;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK: return 15;
    default: return 0;  // also SM_DEBUG, SM_SWAPBUTTON, SM_REMOTESESSION, the virtual screen origin
  }
}

// ---- processors ----

struct TCpu {
  int Id;
  int Package;
  int Core;
};

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

int ReadInt(const std::string& path, int fallback) {
  try {
    std::string s = ReadFirstLine(path);
    return s.empty() ? fallback : std::stoi(s);
  } catch (...) {
    return fallback;
  }
}

// The online logical processors with their package and core, from sysfs; each
// on a core of its own when the topology cannot be read.
std::vector<TCpu> OnlineCpus() {
  std::vector<TCpu> cpus;
  const std::string base = "/sys/devices/system/cpu/cpu";
  std::error_code ec;
  for (int id = 0; id < 4096; ++id) {
    std::string dir = base + std::to_string(id);
    if (!std::filesystem::exists(dir, ec)) {
      if (id > 0 && !std::filesystem::exists(base + std::to_string(id + 1), ec)) break;
      continue;
    }
    if (ReadInt(dir + "/online", 1) == 0) continue;
    cpus.push_back({id, ReadInt(dir + "/topology/physical_package_id", 0), ReadInt(dir + "/topology/core_id", id)});
  }
  if (cpus.empty()) {
    unsigned n = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < n; ++i) cpus.push_back({static_cast<int>(i), 0, static_cast<int>(i)});
  }
  return cpus;
}

ULONG_PTR MaskBit(int id) { return id < static_cast<int>(sizeof(ULONG_PTR) * 8) ? ULONG_PTR{1} << id : 0; }

std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> ProcessorRecords() {
  std::map<std::pair<int, int>, ULONG_PTR> cores;
  std::map<std::pair<int, int>, int> threads;
  std::map<int, ULONG_PTR> packages;
  for (const auto& cpu : OnlineCpus()) {
    cores[{cpu.Package, cpu.Core}] |= MaskBit(cpu.Id);
    ++threads[{cpu.Package, cpu.Core}];
    packages[cpu.Package] |= MaskBit(cpu.Id);
  }
  std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> records;
  for (const auto& [key, mask] : cores) {
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION r{};
    r.ProcessorMask = mask;
    r.Relationship = RelationProcessorCore;
    r.ProcessorCore.Flags = threads[key] > 1 ? 1 : 0;
    records.push_back(r);
  }
  for (const auto& [package, mask] : packages) {
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION r{};
    r.ProcessorMask = mask;
    r.Relationship = RelationProcessorPackage;
    records.push_back(r);
  }
  return records;
}

// ---- memory ----

struct TMemory {
  uint64_t TotalPhys = 0;
  uint64_t AvailPhys = 0;
  uint64_t TotalSwap = 0;
  uint64_t FreeSwap = 0;
};

TMemory ReadMemory() {
  TMemory m;
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) m.TotalPhys = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
  long avail = sysconf(_SC_AVPHYS_PAGES);
  if (avail > 0 && pageSize > 0) m.AvailPhys = static_cast<uint64_t>(avail) * static_cast<uint64_t>(pageSize);
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t kb = 0;
  std::string unit;
  while (in >> key >> kb) {
    std::getline(in, unit);
    if (key == "MemAvailable:") m.AvailPhys = kb * 1024;
    if (key == "SwapTotal:") m.TotalSwap = kb * 1024;
    if (key == "SwapFree:") m.FreeSwap = kb * 1024;
  }
  m.AvailPhys = std::min(m.AvailPhys, m.TotalPhys);
  return m;
}

// The address space of a 32-bit process: the program was written for one, and
// callers size their work by what such a process can hold.
constexpr uint64_t kTotalVirtual = 0x7FFE0000ull;

DWORD Clamp32(uint64_t v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(v); }

void FillEx(MEMORYSTATUSEX& s) {
  TMemory m = ReadMemory();
  s.dwMemoryLoad = m.TotalPhys ? static_cast<DWORD>((m.TotalPhys - m.AvailPhys) * 100 / m.TotalPhys) : 0;
  s.ullTotalPhys = m.TotalPhys;
  s.ullAvailPhys = m.AvailPhys;
  s.ullTotalPageFile = m.TotalPhys + m.TotalSwap;
  s.ullAvailPageFile = m.AvailPhys + m.FreeSwap;
  s.ullTotalVirtual = kTotalVirtual;
  s.ullAvailVirtual = kTotalVirtual;
  s.ullAvailExtendedVirtual = 0;
}

}  // namespace

// ---- version ----

TWindowsVersion WindowsVersion() {
  std::lock_guard<std::mutex> lock(gLock);
  return gVersion;
}

void SetWindowsVersion(const TWindowsVersion& version) {
  std::lock_guard<std::mutex> lock(gLock);
  gVersion = version;
}

BOOL GetVersionEx(OSVERSIONINFOA* info) {
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  TWindowsVersion v = WindowsVersion();
  info->dwMajorVersion = v.Major;
  info->dwMinorVersion = v.Minor;
  info->dwBuildNumber = v.PlatformId == VER_PLATFORM_WIN32_NT ? v.Build : (v.Build & 0xFFFF);
  info->dwPlatformId = v.PlatformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::memcpy(info->szCSDVersion, v.CSDVersion.data(), std::min(v.CSDVersion.size(), sizeof info->szCSDVersion - 1));
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
    auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    ex->wServicePackMajor = v.ServicePackMajor;
    ex->wServicePackMinor = v.ServicePackMinor;
    ex->wSuiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS, as a desktop Windows reports
    ex->wProductType = VER_NT_WORKSTATION;
    ex->wReserved = 0;
  }
  return TRUE;
}

DWORD GetVersion() {
  TWindowsVersion v = WindowsVersion();
  DWORD result = (v.Major & 0xFF) | ((v.Minor & 0xFF) << 8) | ((v.Build & 0x7FFF) << 16);
  if (v.PlatformId != VER_PLATFORM_WIN32_NT) result |= 0x80000000u;
  return result;
}

// ---- screen ----

TVirtualScreen VirtualScreen() {
  std::lock_guard<std::mutex> lock(gLock);
  return gScreen;
}

void SetVirtualScreen(const TVirtualScreen& screen) {
  std::lock_guard<std::mutex> lock(gLock);
  gScreen = screen;
}

int ScreenDeviceCaps(int index) {
  TVirtualScreen s = VirtualScreen();
  // Millimetres of a screen at its logical resolution, rounded to the nearest.
  auto mm = [](int pixels, int dpi) { return dpi > 0 ? (pixels * 254 + dpi * 5) / (dpi * 10) : 0; };
  switch (index) {
    case 2: return 1;  // TECHNOLOGY: DT_RASDISPLAY
    case 4: return mm(s.Width, s.DpiX);   // HORZSIZE
    case 6: return mm(s.Height, s.DpiY);  // VERTSIZE
    case 8: return s.Width;               // HORZRES
    case 10: return s.Height;             // VERTRES
    case 12: return s.BitsPerPixel;       // BITSPIXEL
    case 14: return 1;                    // PLANES
    case 24: return s.BitsPerPixel <= 8 ? (1 << s.BitsPerPixel) : -1;  // NUMCOLORS
    case 38:  // RASTERCAPS: blits, DIBs, stretching; a palette only at 8 bits
      return 0x0001 | 0x0080 | 0x0800 | 0x2000 | (s.BitsPerPixel <= 8 ? 0x0100 : 0);
    case 88: return s.DpiX;  // LOGPIXELSX
    case 90: return s.DpiY;  // LOGPIXELSY
    case 104: return s.BitsPerPixel <= 8 ? (1 << s.BitsPerPixel) : 0;  // SIZEPALETTE
    case 106: return s.BitsPerPixel <= 8 ? 20 : 0;                     // NUMRESERVED
    case 108: return s.BitsPerPixel <= 8 ? 18 : 24;                    // COLORRES
    case 116: return 60;        // VREFRESH
    case 117: return s.Height;  // DESKTOPVERTRES
    case 118: return s.Width;   // DESKTOPHORZRES
    default: return 0;
  }
}

int GetSystemMetrics(int index) {
  std::lock_guard<std::mutex> lock(gLock);
  auto it = gMetricOverrides.find(index);
  if (it != gMetricOverrides.end()) return it->second;
  return ModelMetric(index, gScreen);
}

void SetSystemMetric(int index, int value) {
  std::lock_guard<std::mutex> lock(gLock);
  gMetricOverrides[index] = value;
}

void ResetSystemMetrics() {
  std::lock_guard<std::mutex> lock(gLock);
  gMetricOverrides.clear();
}

// ---- processors and memory ----

void GetSystemInfo(SYSTEM_INFO* info) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  auto cpus = OnlineCpus();
  info->wProcessorArchitecture = sizeof(void*) == 8 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
  long pageSize = sysconf(_SC_PAGESIZE);
  info->dwPageSize = pageSize > 0 ? static_cast<DWORD>(pageSize) : 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(uintptr_t{0x10000});
  info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(uintptr_t{0x7FFEFFFF});
  for (const auto& cpu : cpus) info->dwActiveProcessorMask |= MaskBit(cpu.Id);
  info->dwNumberOfProcessors = static_cast<DWORD>(cpus.size());
  info->dwProcessorType = 586;  // PROCESSOR_INTEL_PENTIUM
  info->dwAllocationGranularity = 0x10000;
  info->wProcessorLevel = 6;
}

BOOL GetLogicalProcessorInformation(SYSTEM_LOGICAL_PROCESSOR_INFORMATION* buffer, DWORD* returnedLength) {
  if (!returnedLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto records = ProcessorRecords();
  DWORD needed = static_cast<DWORD>(records.size() * sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
  if (!buffer || *returnedLength < needed) {
    *returnedLength = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, records.data(), needed);
  *returnedLength = needed;
  return TRUE;
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
  if (!status) return;
  MEMORYSTATUSEX ex{};
  FillEx(ex);
  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwMemoryLoad = ex.dwMemoryLoad;
  status->dwTotalPhys = Clamp32(ex.ullTotalPhys);
  status->dwAvailPhys = Clamp32(ex.ullAvailPhys);
  status->dwTotalPageFile = Clamp32(ex.ullTotalPageFile);
  status->dwAvailPageFile = Clamp32(ex.ullAvailPageFile);
  status->dwTotalVirtual = Clamp32(ex.ullTotalVirtual);
  status->dwAvailVirtual = Clamp32(ex.ullAvailVirtual);
}

BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
  if (!status || status->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  FillEx(*status);
  return TRUE;
}

// ---- time ----

ULONGLONG GetTickCount64() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000;
}

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

DWORD timeGetTime() { return GetTickCount(); }

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t divisor = c;
  // Round half away from zero on the magnitudes, then give back the sign.
  const bool negative = (product < 0) != (divisor < 0);
  const uint64_t n = product < 0 ? uint64_t(-(product + 1)) + 1 : uint64_t(product);
  const uint64_t d = divisor < 0 ? uint64_t(-(divisor + 1)) + 1 : uint64_t(divisor);
  const uint64_t q = (n + d / 2) / d;
  if (q > (negative ? uint64_t(1) << 31 : uint64_t(INT32_MAX))) return -1;
  return negative ? static_cast<int>(-static_cast<int64_t>(q)) : static_cast<int>(q);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
