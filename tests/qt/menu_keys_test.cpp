// Menus on the desktop back end by keyboard: the keys reach the form's window
// (a drop-down never takes the activation) and the open drop-down takes them.
// Offscreen the keys are Qt's own events; under Xvfb they are real X input
// (xdotool), and a press outside the menu closes it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/forms.h"
#include "platform/ui/menus.h"
#include "platform/ui/qt/qt_backend.h"
#include "platform/ui/windows.h"
#include "test_support.h"

namespace {

class QtMenuKeys : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto qt = MakeQtBackend();
    ASSERT_TRUE(qt);
    SetUIBackend(std::move(qt));
    InitializeUI();
    form = new TForm(Application);
    form->SetBorderStyle(bsDialog);
    form->SetClientWidth(240);
    form->SetClientHeight(120);
    form->SetLeft(200);
    form->SetTop(150);
    auto* menu = new TMainMenu(form);
    auto add = [&](TMenuItem* parent, const std::string& caption) {
      auto* item = new TMenuItem(form);
      item->SetCaption(caption);
      if (parent != menu->Items()) item->OnClick = [this, caption](TObject*) { clicked.push_back(caption); };
      parent->Add(item);
      return item;
    };
    TMenuItem* file = add(menu->Items(), "&File");
    add(file, "&Open");
    add(file, "E&xit");
    TMenuItem* view = add(menu->Items(), "&View");
    add(view, "Zoom In");
    add(view, "Zoom Out");
    form->SetMenu(menu);
    form->Show();
  }
  void TearDown() override {
    FinalizeUI();
    SetUIBackend(nullptr);
  }

  // Runs the program's loop until done says so or a generous time is over.
  static void RunUntil(const std::function<bool()>& done, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < until) {
      Application->ProcessMessages();
      UIBackend().WaitForEvents(20);
    }
  }

  // The steps run one by one from a timer, inside the menu's own loop once a
  // menu is open. Each step waits for the state it expects (a menu open or
  // not) before it acts, so a slow machine only takes longer; a state that
  // never comes is recorded after a generous wait, and the test sees it.
  struct Step {
    bool menuOpen;  // expected before the step acts
    std::function<void()> act;
  };
  void RunScript(std::vector<Step> steps, int ms) {
    script = std::move(steps);
    next = 0;
    open.clear();
    waited = 0;
    current = this;
    SetTimer(nullptr, 0, 50, &QtMenuKeys::Tick);
    RunUntil([this] { return next >= script.size() && !ActivePopupForm(); }, ms);
    current = nullptr;
  }
  std::vector<bool> Expected() const {
    std::vector<bool> e;
    for (const Step& s : script) e.push_back(s.menuOpen);
    return e;
  }
  static void Tick(HWND, UINT, UINT_PTR id, DWORD) {
    QtMenuKeys* t = current;
    if (!t || t->next >= t->script.size()) {
      KillTimer(nullptr, id);
      return;
    }
    const bool isOpen = ActivePopupForm() != nullptr;
    const Step& step = t->script[t->next];
    if (isOpen != step.menuOpen && ++t->waited < 100) return;
    t->waited = 0;
    t->open.push_back(isOpen);
    ++t->next;
    step.act();
  }

  TForm* form = nullptr;
  std::vector<std::string> clicked;
  std::vector<Step> script;
  size_t next = 0;
  int waited = 0;
  std::vector<bool> open;  // whether a menu was open before each step
  static inline QtMenuKeys* current = nullptr;
};

TEST_F(QtMenuKeys, KeysSentToTheFormRunTheOpenMenu) {
  RunUntil([] { return false; }, 100);
  const HWND w = form->Handle();
  RunScript({{false, [w] { qtinput::Key(w, "Alt+V"); }},
             {true, [w] { qtinput::Key(w, "Down"); }},
             {true, [w] { qtinput::Key(w, "Return"); }},
             {false, [w] { qtinput::Key(w, "F10"); }},
             {true, [w] { qtinput::Key(w, "Escape"); }},
             {false, [] {}}},
            20000);
  EXPECT_EQ(open, Expected());
  EXPECT_EQ(clicked, (std::vector<std::string>{"Zoom Out"}));
  EXPECT_EQ(ActivePopupForm(), nullptr);
}

// Real keys and a real click on an X server.
TEST_F(QtMenuKeys, XvfbAltLetterArrowsReturnEscapeAndAClickOutside) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string(platform) != "xcb") GTEST_SKIP() << "needs an X server";
  if (!qvtest::HaveProgram("xdotool")) {
    if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true") FAIL() << "xdotool missing";
    GTEST_SKIP() << "xdotool missing";
  }
  // Until the window shows and has the keyboard.
  RunUntil([this] { return form->Active(); }, 3000);
  RunUntil([] { return false; }, 300);
  ASSERT_TRUE(form->Active());
  auto xdo = [](const std::string& args) { return [args] { qvtest::RunCommand("xdotool " + args); }; };
  // A point of the screen outside the form and its menus.
  const int outsideX = 20, outsideY = 20;
  RunScript({{false, xdo("key alt+v")},
             {true, xdo("key Down")},
             {true, xdo("key Return")},  // runs Zoom Out
             {false, xdo("key alt+f")},
             {true, xdo("key Escape")},  // closes, runs nothing
             {false, xdo("key alt+f")},
             {true, xdo("key Right")},
             {true, xdo("key Return")},  // File, then View: Zoom In
             {false, xdo("key F10")},
             {true, xdo("mousemove " + std::to_string(outsideX) + " " + std::to_string(outsideY) + " click 1")},
             {false, [] {}}},
            30000);
  EXPECT_EQ(open, Expected());
  EXPECT_EQ(clicked, (std::vector<std::string>{"Zoom Out", "Zoom In"}));
  EXPECT_EQ(ActivePopupForm(), nullptr);
}

}  // namespace
