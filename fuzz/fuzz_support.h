#pragma once
// Helpers shared by the fuzz targets: readers that take a file name get the
// input through one temporary file per process.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qvfuzz {

// Writes the input to a file of this process named by the suffix (which gives
// the extension readers go by) and returns its path.
inline std::string InputFile(const uint8_t* data, size_t size, const std::string& suffix) {
  const std::string path = "/tmp/qv_fuzz_" + std::to_string(getpid()) + suffix;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

// Ends the run as a crash: a fuzzer finding, such as a load and save that is
// no fixed point.
[[noreturn]] inline void Finding(const char* what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what);
  __builtin_trap();
}

}  // namespace qvfuzz
