// The desktop back end on Qt's offscreen platform: forms shown as Qt windows,
// input driven through Qt's own events, and the loop sleeping in Qt's.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <cstdlib>
#include <map>
#include <thread>

#include "platform/graphics/gdi.h"
#include "platform/graphics/graphics_bitmap.h"
#include "platform/ui/forms.h"
#include "platform/ui/menus.h"
#include "platform/ui/messages.h"
#include "platform/ui/picture_file.h"
#include "platform/ui/qt/qt_backend.h"
#include "platform/ui/std_ctrls.h"
#include "platform/ui/windows.h"
#include "platform/win/clipboard.h"
#include "platform/win/global_memory.h"
#include "platform/win/shell.h"
#include "sample_form.h"
#include "window_shot.h"

namespace {

class QtTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto qt = MakeQtBackend();
    ASSERT_TRUE(qt);
    SetUIBackend(std::move(qt));
    ASSERT_EQ(UIBackend().Name(), "qt");
    InitializeUI();
  }
  void TearDown() override {
    FinalizeUI();
    SetUIBackend(nullptr);
  }
  // Runs the loop until the queue is empty (and the paint that follows).
  static void Settle() {
    for (int i = 0; i < 5; ++i) Application->ProcessMessages();
  }
  static TForm* MakeForm(int width, int height) {
    auto* form = new TForm(Application);
    form->SetBorderStyle(bsDialog);
    form->SetClientWidth(width);
    form->SetClientHeight(height);
    form->Show();
    Settle();
    return form;
  }
  // Every pixel of what the window shows equals the form's own rendering.
  static void ExpectShowsBacking(TCustomForm* form) {
    form->InvalidateRect(form->WindowClientRect());
    form->PaintDirty();
    TBitmap shown;
    ASSERT_TRUE(qtinput::Grab(form->Handle(), &shown));
    TBitmap* own = form->Backing();
    ASSERT_EQ(shown.Width(), own->Width());
    ASSERT_EQ(shown.Height(), own->Height());
    int differing = 0;
    for (int y = 0; y < own->Height(); ++y) {
      auto* a = static_cast<const uint32_t*>(shown.ScanLine(y));
      auto* b = static_cast<const uint32_t*>(own->ScanLine(y));
      for (int x = 0; x < own->Width(); ++x)
        if ((a[x] & 0xFFFFFF) != (b[x] & 0xFFFFFF)) ++differing;
    }
    EXPECT_EQ(differing, 0);
  }
};

template <typename T>
T* FindByCaption(TWinControl* parent, const std::string& caption) {
  for (int i = 0; i < parent->ControlCount(); ++i) {
    if (auto* c = dynamic_cast<T*>(parent->Controls(i)); c && c->Caption() == caption) return c;
    if (auto* w = dynamic_cast<TWinControl*>(parent->Controls(i)))
      if (T* found = FindByCaption<T>(w, caption)) return found;
  }
  return nullptr;
}

TEST_F(QtTest, SampleFormTakesAClickAndAKeyAndTheWindowShowsItsRendering) {
  TForm* form = MakeSampleForm();
  Settle();
  auto* check = FindByCaption<TCheckBox>(form, "Keep aspect");
  ASSERT_TRUE(check);
  ASSERT_TRUE(check->Checked());
  TRect r = check->FormRect();
  qtinput::Click(form->Handle(), r.left + 8, r.top + form->ClientTop() + 8);
  Settle();
  EXPECT_FALSE(check->Checked());
  // The click gave the box the focus; the space bar toggles it back.
  qtinput::Key(form->Handle(), "Space");
  Settle();
  EXPECT_TRUE(check->Checked());
  ExpectShowsBacking(form);
}

TEST_F(QtTest, LargeWindowShowsItsRenderingAfterWholeAndPartialRepaints) {
  // A window this size is copied to the screen image in bands on several
  // threads; each repaint, whole or of one control, must show the same pixels.
  TForm* form = MakeForm(1000, 700);
  form->SetColor(clTeal);
  auto* button = new TButton(form);
  button->SetParent(form);
  button->SetBounds(333, 517, 201, 77);
  button->SetCaption("Banded");
  form->Invalidate();
  Settle();
  ExpectShowsBacking(form);
  button->SetCaption("Partly repainted");
  Settle();
  ExpectShowsBacking(form);
}

TEST_F(QtTest, KeysArriveAsVirtualKeysAndCharacters) {
  TForm* form = MakeForm(100, 60);
  form->SetKeyPreview(true);
  std::vector<WORD> keys;
  std::string chars;
  form->OnKeyDown = [&](TObject*, WORD& key, TShiftState) { keys.push_back(key); };
  form->OnKeyPress = [&](TObject*, char& c) { chars.push_back(c); };
  const std::map<std::string, int> table = {
      {"A", 'A'},           {"7", '7'},           {"Num+7", VK_NUMPAD0 + 7}, {"Num+0", VK_NUMPAD0},
      {"Num+*", VK_MULTIPLY}, {"Num++", VK_ADD},  {"Num+-", VK_SUBTRACT}, {"Num+/", VK_DIVIDE},
      {"Num+.", VK_DECIMAL}, {"Num+Enter", VK_RETURN}, {"Return", VK_RETURN}, {"F5", VK_F5},
      {"PgUp", VK_PRIOR},   {"Left", VK_LEFT},    {"Del", VK_DELETE},     {"Esc", VK_ESCAPE},
      {"Backspace", VK_BACK}, {"Home", VK_HOME},
  };
  for (const auto& [name, vk] : table) {
    keys.clear();
    qtinput::Key(form->Handle(), name);
    Settle();
    ASSERT_FALSE(keys.empty()) << name;
    EXPECT_EQ(keys.front(), vk) << name;
  }
  chars.clear();
  qtinput::Key(form->Handle(), "A");
  qtinput::Key(form->Handle(), "Shift+B");
  Settle();
  EXPECT_EQ(chars, "aB");
}

TEST_F(QtTest, CloseButtonAsksTheForm) {
  TForm* form = MakeForm(100, 60);
  bool allow = false;
  int asked = 0;
  form->OnCloseQuery = [&](TObject*, bool& canClose) {
    ++asked;
    canClose = allow;
  };
  qtinput::RequestClose(form->Handle());
  Settle();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(form->Visible());
  allow = true;
  qtinput::RequestClose(form->Handle());
  Settle();
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(form->Visible());
}

TEST_F(QtTest, IdleLoopWakesForAPostFromAnotherThreadAndForItsTimeout) {
  TForm* form = MakeForm(100, 60);
  // A timer fires while the loop sleeps in Qt's, not before it is due.
  static std::atomic<int> fired{0};
  fired = 0;
  auto start = std::chrono::steady_clock::now();
  SetTimer(form->Handle(), 1, 40, [](HWND, UINT, UINT_PTR, DWORD) { ++fired; });
  while (fired == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) Application->HandleMessage();
  KillTimer(form->Handle(), 1);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(fired, 1);
  EXPECT_GE(waited, std::chrono::milliseconds(35));

  HWND window = form->Handle();
  std::thread poster([window] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PostMessage(window, WM_USER + 7, 0, 0);
  });
  start = std::chrono::steady_clock::now();
  // Without the wake this would sleep for ten seconds.
  UIBackend().WaitForEvents(10000);
  waited = std::chrono::steady_clock::now() - start;
  poster.join();
  EXPECT_LT(waited, std::chrono::seconds(5));

  // A wake before the wait is not lost.
  UIBackend().Wake();
  start = std::chrono::steady_clock::now();
  UIBackend().WaitForEvents(10000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(QtTest, CaptureScreenEitherFillsTheBitmapOrFailsCleanly) {
  TBitmap shot;
  if (UIBackend().CaptureScreen(Rect(0, 0, 40, 30), &shot)) {
    EXPECT_EQ(shot.Width(), 40);
    EXPECT_EQ(shot.Height(), 30);
  }
  EXPECT_FALSE(UIBackend().CaptureScreen(Rect(10, 10, 10, 20), &shot));
}

// Puts one block on our clipboard, as a program's copy does.
void PutOnClipboard(UINT format, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
  GlobalUnlock(block);
  ASSERT_TRUE(SetClipboardData(format, block));
  CloseClipboard();
}

std::vector<uint8_t> TakeFromClipboard(UINT format) {
  std::vector<uint8_t> out;
  if (!OpenClipboard(nullptr)) return out;
  if (HANDLE h = GetClipboardData(format)) {
    auto* p = static_cast<const uint8_t*>(GlobalLock(h));
    out.assign(p, p + GlobalSize(h));
    GlobalUnlock(h);
  }
  CloseClipboard();
  return out;
}

TEST_F(QtTest, ClipboardTextGoesBothWays) {
  std::string ours = "Icon \xC3\xA9" "dit";  // "Icon édit" in UTF-8
  std::vector<uint8_t> bytes(ours.begin(), ours.end());
  bytes.push_back(0);
  PutOnClipboard(CF_TEXT, bytes);
  EXPECT_EQ(qtinput::DesktopClipboardText(), ours);

  qtinput::SetDesktopClipboardText("from another program");
  std::vector<uint8_t> text = TakeFromClipboard(CF_TEXT);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), "from another program");
}

TEST_F(QtTest, ClipboardBitmapGoesBothWays) {
  // A 2 x 2 bottom-up 32-bit DIB: blue, green / red, white (bottom row first).
  std::vector<uint8_t> dib(40 + 16, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40);
  put(4, 2);
  put(8, 2);
  dib[12] = 1;
  dib[14] = 32;
  const uint32_t pixels[4] = {0xFFFF0000, 0xFFFFFFFF, 0xFF0000FF, 0xFF00FF00};
  for (int i = 0; i < 4; ++i) put(40 + 4 * static_cast<size_t>(i), pixels[i]);
  PutOnClipboard(CF_DIB, dib);
  TBitmap shown;
  ASSERT_TRUE(qtinput::DesktopClipboardImage(&shown));
  ASSERT_EQ(shown.Width(), 2);
  ASSERT_EQ(shown.Height(), 2);
  auto at = [](TBitmap& b, int x, int y) { return static_cast<const uint32_t*>(b.ScanLine(y))[x] & 0xFFFFFF; };
  EXPECT_EQ(at(shown, 0, 0), 0x0000FFu);  // top left: blue
  EXPECT_EQ(at(shown, 1, 0), 0x00FF00u);
  EXPECT_EQ(at(shown, 0, 1), 0xFF0000u);  // bottom left: red

  TBitmap theirs;
  theirs.SetPixelFormat(pf32bit);
  theirs.SetSize(3, 1);
  auto* row = static_cast<uint32_t*>(theirs.ScanLine(0));
  row[0] = 0xFF112233;
  row[1] = 0xFF445566;
  row[2] = 0xFF778899;
  qtinput::SetDesktopClipboardImage(&theirs);
  std::vector<uint8_t> got = TakeFromClipboard(CF_DIB);
  ASSERT_GE(got.size(), 40u);
  int32_t width, height;
  std::memcpy(&width, &got[4], 4);
  std::memcpy(&height, &got[8], 4);
  EXPECT_EQ(width, 3);
  EXPECT_EQ(std::abs(height), 1);
  uint32_t header;
  std::memcpy(&header, &got[0], 4);
  // 24 or 32 bits a pixel, uncompressed: the second pixel's blue, green, red.
  int bytesPerPixel = got[14] / 8;
  ASSERT_TRUE(bytesPerPixel == 3 || bytesPerPixel == 4) << int(got[14]);
  size_t second = header + static_cast<size_t>(bytesPerPixel);
  ASSERT_GE(got.size(), second + 3);
  EXPECT_EQ(got[second], 0x66);
  EXPECT_EQ(got[second + 1], 0x55);
  EXPECT_EQ(got[second + 2], 0x44);
  // Programs that paste PNG find it too.
  EXPECT_FALSE(TakeFromClipboard(RegisterClipboardFormat("PNG")).empty());
}

TEST_F(QtTest, DroppedFileReachesTheFormsHandler) {
  TForm* form = MakeForm(100, 60);
  std::vector<std::string> names;
  POINT where{};
  form->SetMessageHandler(WM_DROPFILES, [&](TMessage& m) {
    auto drop = reinterpret_cast<HDROP>(m.WParam);
    UINT n = DragQueryFile(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < n; ++i) {
      char name[260];
      DragQueryFile(drop, i, name, sizeof name);
      names.push_back(name);
    }
    DragQueryPoint(drop, &where);
    DragFinish(drop);
  });
  qtinput::DropFiles(form->Handle(), {"/tmp/a.ico", "/tmp/b c.cur"}, 20, 30);
  Settle();
  EXPECT_EQ(names, (std::vector<std::string>{"/tmp/a.ico", "/tmp/b c.cur"}));
  EXPECT_EQ(where.x, 20);
  EXPECT_EQ(where.y, 30);
}

// Run by the xvfb-run entry of the test list, on a real X server: the form is a
// window there, and a screenshot of its place on the screen is kept.
TEST_F(QtTest, XvfbShowsTheSampleFormAsARealWindow) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) != "xcb") GTEST_SKIP() << "needs an X server";
  TForm* form = MakeSampleForm();
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
  while (std::chrono::steady_clock::now() < until) {
    Application->ProcessMessages();
    UIBackend().WaitForEvents(20);
  }
  Settle();
  std::string png;
  EXPECT_EQ(SettledScreenDiff(form, "sample_form_xvfb.png", png), 0) << "see " << png;
}

TEST_F(QtTest, FormIconBecomesTheWindowIconWithItsTransparency) {
  TForm* form = MakeForm(100, 60);
  // 16 x 16: the left half opaque red, the right half transparent.
  std::vector<uint32_t> colour(16 * 16, 0);
  std::vector<uint8_t> mask(2 * 16, 0);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 8; ++x) colour[static_cast<size_t>(y * 16 + x)] = 0xFFFF0000;
    mask[static_cast<size_t>(y * 2 + 1)] = 0xFF;
  }
  ICONINFO info;
  info.hbmColor = CreateBitmap(16, 16, 1, 32, colour.data());
  info.hbmMask = CreateBitmap(16, 16, 1, 1, mask.data());
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  ASSERT_TRUE(icon);
  form->Icon()->SetHandle(icon);
  Settle();
  TBitmap shown;
  ASSERT_TRUE(qtinput::WindowIconImage(form->Handle(), &shown));
  ASSERT_EQ(shown.Width(), 16);
  auto at = [&](int x, int y) { return static_cast<const uint32_t*>(shown.ScanLine(y))[x]; };
  EXPECT_EQ(at(3, 8), 0xFFFF0000u);
  EXPECT_EQ(at(12, 8) >> 24, 0u);
}

TEST_F(QtTest, OwnedFormsStayAboveTheirOwnerUnlessTheyAskForATaskbarButton) {
  TForm* main = MakeForm(200, 100);
  auto* dialog = new TForm(main);
  dialog->SetClientWidth(80);
  dialog->SetClientHeight(40);
  dialog->Show();
  auto* test = new TForm(main);
  SetWindowLong(test->Handle(), GWL_EXSTYLE, WS_EX_APPWINDOW);
  test->Show();
  Settle();
  EXPECT_EQ(qtinput::TransientOwner(main->Handle()), nullptr);
  EXPECT_EQ(qtinput::TransientOwner(dialog->Handle()), main->Handle());
  EXPECT_EQ(qtinput::TransientOwner(test->Handle()), nullptr);
  // Changed while shown: the window moves under its owner and stays shown.
  SetWindowLong(test->Handle(), GWL_EXSTYLE, 0);
  Settle();
  EXPECT_EQ(qtinput::TransientOwner(test->Handle()), main->Handle());
  EXPECT_TRUE(IsWindowVisible(test->Handle()));
  // The owner goes first: its owned windows are not deleted with it by Qt.
  delete main;
  Settle();
}

HWND gDeactivated = nullptr;
bool gMenuWasOpen = false;
void DeactivateOnce(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  gMenuWasOpen = ActivePopupForm() != nullptr;
  qtinput::DeactivateProgram(gDeactivated);
}

TEST_F(QtTest, AnOpenMenuClosesWhenAnotherProgramTakesTheFocus) {
  TForm* form = MakeForm(200, 100);
  auto* popup = new TPopupMenu(form);
  auto* item = new TMenuItem(form);
  item->SetCaption("Item");
  bool clicked = false;
  item->OnClick = [&](TObject*) { clicked = true; };
  popup->Items()->Add(item);
  gDeactivated = form->Handle();
  gMenuWasOpen = false;
  SetTimer(nullptr, 0, 20, DeactivateOnce);
  popup->Popup(30, 30);  // returns once the menu closed
  EXPECT_TRUE(gMenuWasOpen);
  EXPECT_EQ(ActivePopupForm(), nullptr);
  EXPECT_FALSE(clicked);
}

void ClickFormOnce(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  gMenuWasOpen = ActivePopupForm() != nullptr;
  qtinput::Click(gDeactivated, 150, 80);
}

// A click anywhere in the program but the menu closes the menu, and the
// click does nothing else.
TEST_F(QtTest, AnOpenMenuClosesOnAClickOutsideIt) {
  TForm* form = MakeForm(200, 100);
  auto* button = new TButton(form);
  button->SetParent(form);
  button->SetBounds(120, 60, 70, 30);
  bool pressed = false;
  button->OnClick = [&](TObject*) { pressed = true; };
  auto* popup = new TPopupMenu(form);
  auto* item = new TMenuItem(form);
  item->SetCaption("Item");
  bool clicked = false;
  item->OnClick = [&](TObject*) { clicked = true; };
  popup->Items()->Add(item);
  Settle();
  gDeactivated = form->Handle();
  gMenuWasOpen = false;
  SetTimer(nullptr, 0, 20, ClickFormOnce);
  popup->Popup(30, 30);  // returns once the menu closed
  Settle();
  EXPECT_TRUE(gMenuWasOpen);
  EXPECT_EQ(ActivePopupForm(), nullptr);
  EXPECT_FALSE(clicked);
  EXPECT_FALSE(pressed);
}

// Maximised, minimised and restored from the title bar: the form knows its
// state, as the main window's placement saving needs.
TEST_F(QtTest, TheDesktopsMaximiseAndRestoreReachTheForm) {
  TForm* form = MakeForm(200, 100);
  form->SetBorderStyle(bsSizeable);
  Settle();
  const int width = form->Width();
  qtinput::SetDesktopWindowState(form->Handle(), SW_SHOWMAXIMIZED);
  Settle();
  EXPECT_EQ(form->WindowState(), wsMaximized);
  qtinput::SetDesktopWindowState(form->Handle(), SW_RESTORE);
  Settle();
  EXPECT_EQ(form->WindowState(), wsNormal);
  EXPECT_EQ(form->Width(), width);
  qtinput::SetDesktopWindowState(form->Handle(), SW_SHOWMINIMIZED);
  Settle();
  EXPECT_EQ(form->WindowState(), wsMinimized);
  EXPECT_EQ(form->Width(), width);
  // Asked for by the form itself, the state stays as asked.
  form->SetWindowState(wsMaximized);
  Settle();
  EXPECT_EQ(form->WindowState(), wsMaximized);
}

// Under an X server the screen DC reads the real screen: the eyedropper of
// the colour picker sees the form's colour where the form is.
TEST_F(QtTest, XvfbScreenDcReadsTheDesktop) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) != "xcb") GTEST_SKIP() << "needs an X server";
  TForm* form = MakeForm(60, 40);
  form->SetColor(RGB(0, 128, 255));
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
  while (std::chrono::steady_clock::now() < until) {
    Application->ProcessMessages();
    UIBackend().WaitForEvents(20);
  }
  POINT p{10, 10};
  ClientToScreen(form->Handle(), &p);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, p.x, p.y), RGB(0, 128, 255));
  ReleaseDC(nullptr, screen);
}

TEST(QtBackendChoice, FollowsTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* expected;
  } cases[] = {
      {{}, "headless"},
      {{{"DISPLAY", ":0"}}, "qt"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, "qt"},
      {{{"DISPLAY", ""}}, "headless"},
      {{{"DISPLAY", ":0"}, {"QUORVANE_UI", "headless"}}, "headless"},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, "qt"},
      {{{"QT_QPA_PLATFORM", "offscreen"}, {"QUORVANE_UI", "headless"}}, "headless"},
  };
  for (const Case& c : cases) {
    std::string got = ChooseUIBackendName([&](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(got, c.expected) << c.env.size();
  }
}

}  // namespace
