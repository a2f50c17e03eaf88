// In CI every outside tool is installed by scripts/setup, so an oracle case that
// skips there has lost its check without anyone noticing. With CI=true such a
// skip is turned into a failure; on a developer's machine it stays a skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && std::strcmp(ci, "true") == 0;
}

bool IsOracle(const testing::TestInfo& info) {
  const std::string name = std::string(info.test_suite_name()) + "." + info.name();
  return name.find("Oracle") != std::string::npos || name.find("oracle") != std::string::npos;
}

class CiOracleListener : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& info) override {
    if (info.result()->Skipped() && IsOracle(info))
      ADD_FAILURE() << "an oracle case skipped in CI: scripts/setup installs every tool it needs";
  }
};

const bool kRegistered = [] {
  if (InCi()) testing::UnitTest::GetInstance()->listeners().Append(new CiOracleListener);
  return true;
}();

}  // namespace
