#pragma once
// Sample icon and cursor files and the mingw-w64 cross tools, for the tests
// that build executables and RES files from resource scripts.
#include <string>
#include <vector>

#include "icon_test_util.h"
#include "test_support.h"

namespace mingwtest {

inline bool HaveTools() {
  return qvtest::HaveProgram("i686-w64-mingw32-windres") && qvtest::HaveProgram("i686-w64-mingw32-gcc");
}

inline void WriteText(const std::string& path, const std::string& text) {
  qvtest::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// a.ico (32 and 16 pixels, 32 bits), b.ico (48 pixels at 8 bits, 32 at 4),
// c.ico (16 pixels, 4 bits), p.cur (32 pixels, 1 bit, hotspot 3, 4) and a
// program m.c to link them into.
inline void WriteSamples(const qvtest::TempDir& dir) {
  using icontest::DibImage;
  using icontest::IcoFile;
  qvtest::WriteFileBytes(dir.File("a.ico"), IcoFile({{DibImage(32, 32, 32)}, {DibImage(16, 16, 32)}}));
  qvtest::WriteFileBytes(dir.File("b.ico"), IcoFile({{DibImage(48, 48, 8)}, {DibImage(32, 32, 4)}}));
  qvtest::WriteFileBytes(dir.File("c.ico"), IcoFile({{DibImage(16, 16, 4)}}));
  qvtest::WriteFileBytes(dir.File("p.cur"), IcoFile({{DibImage(32, 32, 1), 0, 0, 3, 4}}, 2));
  WriteText(dir.File("m.c"), "int main(){return 0;}\n");
}

// Runs the commands in the folder; true when they all succeeded.
inline bool Build(const qvtest::TempDir& dir, const std::string& commands) {
  return qvtest::RunCommand("cd '" + dir.Path().string() + "' && " + commands + " 2>&1") == 0;
}

}  // namespace mingwtest
