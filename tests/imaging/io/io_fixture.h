#pragma once
// A component with stub filters, a scratch folder and a record of its events.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/io/format_detect.h"
#include "imaging/io/image_lib_io.h"
#include "io_stubs.h"
#include "io_test_support.h"
#include "test_support.h"

namespace qvtest {

// Records the component's progress and finish notifications in order.
struct Events {
  std::vector<std::string> list;
  void Attach(TImageLibIO& io) {
    io.OnProgress = [this](TObject*, int per) { list.push_back("p" + std::to_string(per)); };
    io.OnFinishWork = [this](TObject*) { list.push_back("finish"); };
  }
  bool Finished() const { return !list.empty() && list.back() == "finish"; }
  int Finishes() const { return int(std::count(list.begin(), list.end(), "finish")); }
  // Every finish follows a progress of 100.
  bool HundredBeforeFinish() const {
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i] == "finish" && (i == 0 || list[i - 1] != "p100")) return false;
    return true;
  }
};

class ImageLibIOTest : public ::testing::Test {
protected:
  void SetUp() override {
    qvtest::EnsureImageIO();
    stub.Install();
    events.Attach(io);
  }
  std::wstring File(const std::string& name) { return UTF8ToWide(dir.File(name)); }
  void Touch(const std::string& name, const std::string& content = "old content") {
    qvtest::WriteFileBytes(dir.File(name), std::vector<uint8_t>(content.begin(), content.end()));
  }
  std::string Content(const std::string& name) {
    const auto b = qvtest::ReadFileBytes(dir.File(name));
    return std::string(b.begin(), b.end());
  }
  // Files in the folder: a failed save leaves no working file behind.
  size_t FileCount() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path())) ++n;
    return n;
  }

  qvtest::FilterSlotsScope slots;
  StubFilters stub;
  qvtest::TempDir dir;
  TImageLibIO io{nullptr};
  Events events;
};

}  // namespace qvtest
