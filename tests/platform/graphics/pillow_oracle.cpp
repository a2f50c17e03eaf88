#include "pillow_oracle.h"

#include <filesystem>

#include "test_support.h"

namespace qvtest {

bool HavePillow() {
  static const bool have = std::filesystem::exists("/usr/bin/python3") &&
                           RunCommand("/usr/bin/python3 -c 'import PIL.Image' 2>/dev/null") == 0;
  return have;
}

int RunPython(const std::string& script, std::string* out) {
  TempDir dir;
  const std::string path = dir.File("oracle.py");
  WriteFileBytes(path, std::vector<uint8_t>(script.begin(), script.end()));
  return RunCommand("/usr/bin/python3 " + path, out);
}

}  // namespace qvtest
