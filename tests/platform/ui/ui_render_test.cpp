// What the forms look like: the sample form rendered headless and saved as PNG.
#include <gtest/gtest.h>

#include <filesystem>

#include "sample_form.h"
#include "ui_test_support.h"

namespace {

std::string OutputPath(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

TEST_F(UiTest, SampleFormRendersAndSavesAsPng) {
  TForm* form = MakeSampleForm();
  headless::ProcessMessages();
  std::string path = OutputPath("sample_form.png");
  form->SaveToPng(path);
  EXPECT_TRUE(std::filesystem::exists(path));
}

}  // namespace
