// What the forms look like: the sample form rendered headless, saved as PNG next
// to the build's other test output, and compared with the committed reference.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "sample_form.h"
#include "ui_test_support.h"

namespace {

std::string OutputPath(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(QV_BINARY_DIR) / "test-output";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

struct Rgb {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// Reads a PNG through libpng's simplified interface, as RGB.
Rgb ReadPng(const std::string& path) {
  Rgb out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGB;
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) return Rgb{};
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  return out;
}

TEST_F(UiTest, SampleFormLooksLikeTheReference) {
  TForm* form = MakeSampleForm();
  headless::ProcessMessages();
  std::string path = OutputPath("sample_form.png");
  form->SaveToPng(path);
  Rgb actual = ReadPng(path);
  Rgb reference = ReadPng(std::string(QV_FIXTURES_DIR) + "/ui/sample_form.png");
  ASSERT_GT(reference.width, 0);
  ASSERT_EQ(actual.width, reference.width);
  ASSERT_EQ(actual.height, reference.height);
  // A small tolerance for glyph edges; a moved or missing control differs by far more.
  size_t differing = 0;
  for (size_t i = 0; i < actual.pixels.size(); i += 3) {
    int d = 0;
    for (int c = 0; c < 3; ++c) d = std::max(d, std::abs(actual.pixels[i + c] - reference.pixels[i + c]));
    if (d > 48) ++differing;
  }
  size_t total = actual.pixels.size() / 3;
  EXPECT_LE(differing, total / 200) << differing << " of " << total << " pixels differ; see " << path;
}

TEST_F(UiTest, PaintingIsClippedToTheInvalidatedControlAndOnlyThatIsPresented) {
  TForm* form = MakeForm(200, 100);
  auto* a = new TPanel(form);
  a->SetParent(form);
  a->SetBounds(0, 0, 100, 100);
  auto* b = new TPaintBox(form);
  b->SetParent(form);
  b->SetBounds(120, 10, 50, 50);
  int paintsB = 0;
  b->OnPaint = [&](TObject*) {
    ++paintsB;
    b->Canvas()->Brush()->SetColor(clRed);
    b->Canvas()->FillRect(Rect(-20, -20, 200, 200));  // clipped to the box
  };
  form->Show();
  headless::ProcessMessages();
  EXPECT_EQ(paintsB, 1);
  b->Invalidate();
  headless::ProcessMessages();
  EXPECT_EQ(paintsB, 2);
  const auto* window = Headless().FindWindow(form->Handle());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->lastPresent.left, 120);
  EXPECT_EQ(window->lastPresent.right, 170);
  TBitmap* backing = form->Backing();
  EXPECT_EQ(backing->Canvas()->Pixels(119, 30), ColorToRGB(clBtnFace));
  EXPECT_EQ(backing->Canvas()->Pixels(120, 30), clRed);
  EXPECT_EQ(backing->Canvas()->Pixels(170, 30), ColorToRGB(clBtnFace));
}

TEST_F(UiTest, AlignAndAnchorsLayOutChildrenWhenTheParentResizes) {
  TForm* form = MakeForm(300, 200);
  auto* top = new TPanel(form);
  top->SetParent(form);
  top->SetHeight(30);
  top->SetAlign(alTop);
  auto* left = new TPanel(form);
  left->SetParent(form);
  left->SetWidth(50);
  left->SetAlign(alLeft);
  auto* client = new TPanel(form);
  client->SetParent(form);
  client->SetAlign(alClient);
  auto* ok = new TButton(form);
  ok->SetParent(client);
  ok->SetBounds(150, 130, 75, 25);
  ok->SetAnchors({akRight, akBottom});
  EXPECT_EQ(client->BoundsRect().left, 50);
  EXPECT_EQ(client->BoundsRect().top, 30);
  EXPECT_EQ(client->Width(), 250);
  form->SetClientWidth(400);
  form->SetClientHeight(300);
  EXPECT_EQ(top->Width(), 400);
  EXPECT_EQ(left->Height(), 270);
  EXPECT_EQ(client->Width(), 350);
  EXPECT_EQ(ok->Left(), 250);
  EXPECT_EQ(ok->Top(), 230);
  TPoint p = ok->ClientToScreen(Point(0, 0));
  EXPECT_EQ(ok->ScreenToClient(p).x, 0);
  EXPECT_EQ(p.x, form->ClientOrigin().x + 50 + 250);
}

}  // namespace
