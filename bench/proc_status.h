#pragma once
// Reading this process's memory figures for the peak-memory benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Kilobytes of a /proc/self/status line ("VmRSS", "VmHWM"); -1 when absent.
inline long StatusKb(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  long kb = -1;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, key, n) == 0 && line[n] == ':') kb = std::atol(line + n + 1);
  std::fclose(f);
  return kb;
}
