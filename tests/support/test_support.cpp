#include "test_support.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>

namespace qvtest {

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("qvtest-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      FPath = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary test folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

int RunCommand(const std::string& command, std::string* out) {
  // Tools never read the test's own input (ffmpeg would otherwise take it for
  // commands, or stop when it is a terminal of another process group).
  FILE* pipe = popen(("exec </dev/null; " + command).c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buf{};
  std::string text;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
  int status = pclose(pipe);
  if (out) *out = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunOracleScript(const std::string& script, const std::vector<uint8_t>& input, std::vector<uint8_t>& output,
                    std::string* log) {
  TempDir dir;
  WriteFileBytes(dir.File("in.bin"), input);
  const int status =
      RunCommand("/usr/bin/python3 " + script + " " + dir.File("in.bin") + " " + dir.File("out.bin") + " 2>&1", log);
  output = status == 0 ? ReadFileBytes(dir.File("out.bin")) : std::vector<uint8_t>{};
  return status;
}

bool HaveProgram(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

}  // namespace qvtest
