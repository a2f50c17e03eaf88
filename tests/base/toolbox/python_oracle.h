#pragma once
// Runs a short Python program (Pillow, numpy) over bytes written by a test and
// returns the bytes it writes back: the independent results the toolbox is
// compared with. Tests that use it have "Oracle" in their names.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace qvtest {

// The system's Python, where the Debian packages of Pillow and numpy live.
inline const char* kPython = "/usr/bin/python3";

// True when that Python can import every module of the comma-separated list.
inline bool HavePython(const std::string& modules) {
  return RunCommand(std::string(kPython) + " -c 'import " + modules + "' >/dev/null 2>&1") == 0;
}

// The script reads the file named by sys.argv[1] and writes sys.argv[2].
inline std::vector<uint8_t> RunPython(const std::string& script, const std::vector<uint8_t>& input) {
  TempDir dir;
  const std::string scriptFile = dir.File("oracle.py"), in = dir.File("in.bin"), out = dir.File("out.bin");
  std::ofstream(scriptFile) << script;
  WriteFileBytes(in, input);
  std::string log;
  if (RunCommand(std::string(kPython) + " " + scriptFile + " " + in + " " + out + " 2>&1", &log) != 0) return {};
  return ReadFileBytes(out);
}

}  // namespace qvtest
