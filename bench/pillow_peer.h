#pragma once
// Pillow as the peer of a benchmark: a Python script run once by the system's
// python3 in the same run prints lines "name seconds"; the map holds them.
// Empty when python3 or Pillow is missing (the ratios are then not printed).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pillowpeer {

// Writes bytes to a file for the script to read.
inline void WriteFile(const std::filesystem::path& path, const void* data, size_t size) {
  std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), std::streamsize(size));
}

// Runs the script; each output line is a name (which may hold spaces) and, last
// on the line, a time in seconds.
inline std::map<std::string, double> RunTimes(const std::filesystem::path& dir, const std::string& script) {
  std::map<std::string, double> times;
  const std::filesystem::path scriptPath = dir / "peer.py";
  std::ofstream(scriptPath) << script;
  FILE* pipe = popen(("/usr/bin/python3 " + scriptPath.string() + " 2>/dev/null").c_str(), "r");
  if (!pipe) return times;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t space = text.rfind(' ');
    if (space == std::string::npos) continue;
    std::istringstream value(text.substr(space + 1));
    double seconds = 0;
    if (value >> seconds) times[text.substr(0, space)] = seconds;
  }
  pclose(pipe);
  return times;
}

}  // namespace pillowpeer
