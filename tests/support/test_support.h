#pragma once
// Small helpers shared by every test binary.
#include <filesystem>
#include <string>
#include <vector>
#include <cstdint>

namespace qvtest {

// A fresh folder below the system temporary folder, removed with everything in it
// when the object goes away.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::string File(const std::string& name) const { return (FPath / name).string(); }

private:
  std::filesystem::path FPath;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; returns its exit status and puts its standard output in *out.
int RunCommand(const std::string& command, std::string* out = nullptr);

// Runs a Python oracle script as "python3 script in.bin out.bin" over input,
// in a folder of its own; returns its exit status, its answer in output and
// its messages in *log.
int RunOracleScript(const std::string& script, const std::vector<uint8_t>& input, std::vector<uint8_t>& output,
                    std::string* log);

// True when a program is on PATH (oracle tests skip themselves when it is not).
bool HaveProgram(const std::string& name);

}  // namespace qvtest
