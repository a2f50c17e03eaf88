// What the forms look like: the sample form rendered headless, saved as PNG next
// to the build's other test output, and compared with the committed reference.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/ui/ext_ctrls.h"
#include "platform/ui/std_ctrls.h"
#include "platform/win/system_info.h"
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

// A windowed control that notes what its parent left under it: the colour at
// its middle each time its background is about to be erased.
class TUnderProbe : public TCustomControl {
public:
  TUnderProbe(TComponent* owner, TWinControl* parent, const TRect& bounds, bool transparent = false)
      : TCustomControl(owner), FTransparent(transparent) {
    SetParent(parent);
    SetBoundsRect(bounds);
    SetColor(clLime);
  }
  bool Transparent() const override { return FTransparent; }
  std::vector<TColor> under;

protected:
  void EraseBackground(TCanvas* canvas) override {
    under.push_back(canvas->Pixels(Width() / 2, Height() / 2));
    TCustomControl::EraseBackground(canvas);
  }

private:
  bool FTransparent;
};

TEST_F(UiTest, OpaqueWindowedChildrenAreLeftOutOfTheirParentsPainting) {
  TForm* form = MakeForm(240, 120);
  int formPaints = 0;
  form->OnPaint = [&](TObject*) {
    ++formPaints;
    form->Canvas()->Brush()->SetColor(clRed);
    form->Canvas()->FillRect(Rect(0, 0, 240, 120));
  };
  auto* opaque = new TUnderProbe(form, form, Rect(20, 20, 80, 60));
  // A graphic control half under the opaque child, and a transparent windowed one.
  auto* box = new TPaintBox(form);
  box->SetParent(form);
  box->SetBounds(60, 30, 40, 20);
  box->OnPaint = [&](TObject*) {
    box->Canvas()->Brush()->SetColor(clBlue);
    box->Canvas()->FillRect(Rect(0, 0, 40, 20));
  };
  auto* glass = new TUnderProbe(form, form, Rect(140, 20, 200, 60), true);
  form->Show();
  headless::ProcessMessages();
  form->Invalidate();
  headless::ProcessMessages();
  EXPECT_EQ(formPaints, 2);
  // The second frame finds the first one's pixels under the opaque child: the
  // form's red never reached them.
  ASSERT_EQ(opaque->under.size(), 2u);
  EXPECT_EQ(opaque->under.back(), clLime);
  TCanvas* shown = form->Backing()->Canvas();
  const struct {
    int x, y;
    TColor color;
  } expected[] = {
      {10, 10, clRed},    // the form's own painting around the children
      {50, 40, clLime},   // the opaque child
      {70, 40, clLime},   // the graphic control's part under it
      {90, 40, clBlue},   // and its part outside
      {170, 40, clRed},   // the transparent child shows its parent
  };
  for (const auto& e : expected) EXPECT_EQ(shown->Pixels(e.x, e.y), e.color) << e.x << "," << e.y;
  EXPECT_TRUE(glass->under.empty());
  // Hidden, the child gives its area back to the form and the graphic control.
  opaque->SetVisible(false);
  headless::ProcessMessages();
  EXPECT_EQ(shown->Pixels(50, 40), clRed);
  EXPECT_EQ(shown->Pixels(70, 40), clBlue);
}

TEST_F(UiTest, ParentsScrollBarIsDrawnOverAChildReachingUnderIt) {
  TForm* form = MakeForm(200, 120);
  auto* panel = new TPanel(form);
  panel->SetParent(form);
  panel->SetBevelOuter(bvNone);
  panel->SetBounds(10, 10, 120, 90);
  ShowScrollBar(panel->Handle(), SB_VERT, TRUE);
  form->Show();
  headless::ProcessMessages();
  const int bar = GetSystemMetrics(SM_CXVSCROLL);
  ASSERT_EQ(panel->ClientWidth(), 120 - bar);
  TCanvas* shown = form->Backing()->Canvas();
  const TPoint inBar = Point(10 + 120 - bar / 2, 10 + 45);
  const TColor barColor = shown->Pixels(inBar.x, inBar.y);
  // A child covering the panel's whole rectangle, the bar's place included.
  auto* inner = new TUnderProbe(form, panel, Rect(0, 0, 120, 90));
  // Scribbled over, every pixel must be painted again by someone.
  shown->Brush()->SetColor(clFuchsia);
  shown->FillRect(Rect(0, 0, 200, 120));
  form->Invalidate();
  headless::ProcessMessages();
  EXPECT_EQ(shown->Pixels(inBar.x, inBar.y), barColor);
  EXPECT_EQ(shown->Pixels(10 + 20, 10 + 40), clLime);
  EXPECT_EQ(shown->Pixels(5, 5), ColorToRGB(clBtnFace));
  ASSERT_EQ(inner->under.size(), 1u);
  EXPECT_EQ(inner->under.back(), clFuchsia);  // the panel's face was kept out from under the child
}

}  // namespace
