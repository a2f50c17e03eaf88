#pragma once
// Sample icon and cursor files and the mingw-w64 cross tools, for the tests
// that build executables and RES files from resource scripts.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
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

// A suite whose tests share the samples and what one set of commands builds
// from them (Suite names the suite, so that each keeps a folder of its own).
// A test is skipped when the tools are missing or the build failed.
template <class Suite>
class SampleSuite : public ::testing::Test {
protected:
  // Writes the samples and what write adds, then runs the commands.
  static void Make(const std::function<void(const qvtest::TempDir&)>& write, const std::string& commands) {
    built = false;
    if (!HaveTools()) return;
    dir = std::make_unique<qvtest::TempDir>();
    WriteSamples(*dir);
    write(*dir);
    built = Build(*dir, commands);
  }
  static void TearDownTestSuite() { dir.reset(); }
  void SetUp() override {
    if (!built) GTEST_SKIP() << "mingw-w64 cross tools missing";
  }
  static inline std::unique_ptr<qvtest::TempDir> dir;
  static inline bool built = false;
};

// One line of wrestool -l, names unquoted.
struct WrestoolEntry {
  std::string type, name, language, size;
};

// wrestool -l of a file, of one type when one is given.
inline std::vector<WrestoolEntry> WrestoolList(const std::string& file, const std::string& type = "") {
  std::string out;
  qvtest::RunCommand("wrestool -l " + (type.empty() ? "" : "--type=" + type + " ") + "'" + file + "'", &out);
  std::vector<WrestoolEntry> list;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    auto field = [&](const std::string& key) {
      size_t p = line.find(key);
      if (p == std::string::npos) return std::string();
      p += key.size();
      std::string v = line.substr(p, line.find_first_of(" ]", p) - p);
      if (v.size() >= 2 && v.front() == '\'') v = v.substr(1, v.size() - 2);
      return v;
    };
    if (line.find("--type=") == std::string::npos) continue;
    list.push_back({field("--type="), field("--name="), field("--language="), field("size=")});
  }
  return list;
}

// icotool -l of an icon or cursor file, a line per image as "width height
// depth hotspot-x hotspot-y" ("-" for a field icotool does not print).
inline std::vector<std::string> IcotoolImages(const std::string& file) {
  std::string out;
  qvtest::RunCommand("icotool -l '" + file + "'", &out);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    auto field = [&](const std::string& key) {
      size_t p = line.find(key);
      if (p == std::string::npos) return std::string("-");
      p += key.size();
      return line.substr(p, line.find(' ', p) - p);
    };
    lines.push_back(field("--width=") + " " + field("--height=") + " " + field("--bit-depth=") + " " +
                    field("--hotspot-x=") + " " + field("--hotspot-y="));
  }
  return lines;
}

}  // namespace mingwtest
